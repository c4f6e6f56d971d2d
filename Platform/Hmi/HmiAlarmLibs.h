// The HMI maker's node-name library "karsel.dll" and alarm library
// "dromin.dll", as the I/O server calls them. The server loads both at run
// time and binds these exports by name.
#pragma once

// Bytes the node-name buffer must hold, terminator included.
#define KARSEL_NODE_NAME_SIZE 32

#ifdef __cplusplus
extern "C" {
#endif

// "karsel_get_myname": fills nodeName with this node's name; 0 on success.
typedef int(__cdecl *KarselGetMyNameFn)(char *nodeName);

// "dromin_send_text": sends one alarm line. time is eight 16-bit words:
// hundredths of a second, second, minute, hour, day, month, year, day of
// week. The server passes kind 1 and the flags 1, 0, 0.
typedef int(__cdecl *DrominSendTextFn)(const char *line, int kind, const char *nodeName,
                                       const unsigned short *time, int flag1, int flag2, int flag3);

#ifdef __cplusplus
}
#endif

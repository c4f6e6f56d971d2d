#include "ServerMsg.h"
#include <cstdarg>
#include <cstdio>

// Placeholder until the message log lands: lines go nowhere.
CServerMsg *GetServerMsg() { return nullptr; }

void PostServerMessage(const ServerMessage &) {}

void LogMessage(LONG severity, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    ServerMessage message;
    message.severity = severity;
    message.text = text;
    PostServerMessage(message);
}

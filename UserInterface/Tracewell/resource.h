// Resource and command identifiers of the data monitor.
#pragma once

#define IDR_SCOPEFRAME          129
#define IDR_SCOPETOOLBAR        130
#define IDD_SCOPEOPTIONS        132
// The options' fields have ids of their own: their help topics (id + 100000)
// share the context-help file with the configuration tool's controls.
#define IDC_COLUMN_WIDTH        1321
#define IDC_MAXIMUM_LINES       1322
#define IDC_DISPLAY_BUFFER      1323

#define ID_CONFIGURE_OPTIONS    32771
#define ID_COLOR_SEND_FORE      32772
#define ID_COLOR_SEND_BACK      32773
#define ID_COLOR_RECV_FORE      32774
#define ID_COLOR_RECV_BACK      32775
#define ID_VIEW_TOOLBAR         59392
#define ID_VIEW_HEX             32776
#define ID_VIEW_ASCII           32777
#define ID_VIEW_TOPMOST         32778
#define ID_VIEW_CLEAR           32779
#define ID_RUN_PAUSE            32780
// The toolbar's Hexadecimal / ASCII toggle.
#define ID_VIEW_FONT_TOGGLE     32781
#define ID_SCOPE_VIEW           59648

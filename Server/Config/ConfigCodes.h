// Result codes of the configuration objects (HRESULT-style values).
#pragma once
#include <windows.h>

enum : LONG {
    CFG_E_NAME_USED = LONG(0xC1030301),        // name used elsewhere in the tree, or by a sibling
    CFG_E_NO_THREADS = LONG(0xC1030302),       // channel enabled without its worker threads
    CFG_E_NOT_FOUND = LONG(0xC1030305),        // object to remove is not in the parent's list
    CFG_E_EMPTY_ENTRY = LONG(0xC1030306),      // a list entry is empty
    CFG_E_NO_CHANNELS = LONG(0xC1030308),
    CFG_E_NO_DEVICES = LONG(0xC1030309),
    CFG_E_NO_DATABLOCKS = LONG(0xC103030A),
    CFG_E_BLOCK_COLLIDES = LONG(0xC103030D),   // name or address range of another block of the device
    CFG_E_UNKNOWN_PROPERTY = LONG(0xC103030E),
    CFG_E_READ_ONLY = LONG(0xC103030F),
    CFG_E_WRONG_TYPE = LONG(0xC1030310),       // wrong VARIANT type, or a text too long
    CFG_E_INVALID_VALUE = LONG(0xC1030311),    // name characters, range, duration text
    CFG_E_ARRAY_PUT = LONG(0xC1030312),        // an element could not be put into the caller's array
    CFG_E_CP_VFD_LOCKED = LONG(0xC1030313),    // channel enabled and driver running
    CFG_E_VFD_USED = LONG(0xC1030314),
    CFG_E_CONN_USED = LONG(0xC1030315),
    CFG_E_CONN_LOCKED = LONG(0xC1030316),      // device enabled and driver running
    CFG_E_BAD_DATATYPE = LONG(0xC1030317),
    CFG_E_TYPE_NOT_IN_AREA = LONG(0xC1030318),
    CFG_E_BAD_ADDRESS = LONG(0xC1030319),
    CFG_E_END_OTHER_AREA = LONG(0xC103031A),
    CFG_E_READ_LIMIT = LONG(0xC103031B),
    CFG_E_NO_LENGTH = LONG(0xC103031C),
    CFG_E_START_TOO_SOON = LONG(0xC1030320),
    CFG_E_LENGTH_ENABLED = LONG(0xC1030321),
    CFG_E_WRITE_LIMIT = LONG(0xC1030322),
};

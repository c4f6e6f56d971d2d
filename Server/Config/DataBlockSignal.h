// The signal-conditioning library as the data blocks use it: loaded on
// first use from the file named by the driver's "SignalDll" value (empty or
// absent: "Parvel.Dll"); a failed load is tried again on the next call.
#pragma once
#include "../../Signal/Parvel.h"

// Null when the library or the export cannot be had.
PFN_InputSigCond32 SignalInputFunction();
PFN_OutputSigCond32 SignalOutputFunction();

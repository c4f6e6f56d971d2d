#include "DataBlockSignal.h"
#include "Registry.h"
#include <mutex>
#include <windows.h>

namespace {

std::mutex g_lock;
HMODULE g_module = nullptr;

FARPROC Bind(const char *name)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_module) {
        char file[129] = "";
        unsigned long length = sizeof file;
        CRegistry key;
        if (key.OpenKey(QOR_DRIVER_KEY) != ERROR_SUCCESS || key.ReadValue("SignalDll", file, &length) != ERROR_SUCCESS)
            file[0] = '\0';
        g_module = LoadLibraryA(file[0] ? file : "Parvel.Dll");
        if (!g_module)
            return nullptr;
    }
    return GetProcAddress(g_module, name);
}

} // namespace

PFN_InputSigCond32 SignalInputFunction()
{
    return reinterpret_cast<PFN_InputSigCond32>(reinterpret_cast<void *>(Bind("InputSigCond32")));
}

PFN_OutputSigCond32 SignalOutputFunction()
{
    return reinterpret_cast<PFN_OutputSigCond32>(reinterpret_cast<void *>(Bind("OutputSigCond32")));
}

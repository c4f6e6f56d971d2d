// Text between the tool's narrow strings and the server's BSTRs (ANSI code
// page, as the rest of the tool).
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

// A new BSTR (null when out of memory); the caller frees it.
inline BSTR ToBstr(const std::string &text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), int(text.size()), NULL, 0);
    BSTR result = SysAllocStringLen(NULL, UINT(length));
    if (result && length)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), int(text.size()), result, length);
    return result;
}

inline std::string FromBstr(BSTR text)
{
    int length = text ? int(SysStringLen(text)) : 0;
    if (!length)
        return std::string();
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, NULL, 0, NULL, NULL);
    std::string result(size_t(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &result[0], bytes, NULL, NULL);
    return result;
}

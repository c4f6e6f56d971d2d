// Shared by the automation object's source files: the catch-all that every
// member runs in, and the string helpers of the members' arguments.
#pragma once
#include "DriverApp.h"
#include <new>
#include <string>

namespace automation {

// Thrown when a string argument cannot be copied; the catch-all answers
// E_OUTOFMEMORY for it.
struct StringCopyFailed {};

// The text of a BSTR argument (null is empty).
std::string ArgText(BSTR text);
// A new copy of text in *out, after freeing what *out held.
HRESULT PutString(BSTR *out, const std::string &text);
// Logs "<member>():  Exception generated" as an error.
void LogMemberException(const char *member);

} // namespace automation

template <class F>
HRESULT CDriverApp::Guarded(const char *member, F &&body)
{
    HRESULT hr;
    try {
        hr = body();
    } catch (const automation::StringCopyFailed &) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        automation::LogMemberException(member);
        hr = HRESULT(0xC1050400);
    }
    return FAILED(hr) ? SetDriverErrorInfo(hr) : hr;
}

// Where the tests find the server's type library, and small COM helpers.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

inline std::wstring ProgramPath()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, n);
}

// The type library sits beside the programs in the bin folder.
inline std::wstring ProgramFolder()
{
    std::wstring s = ProgramPath();
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

inline std::wstring TypeLibPath() { return ProgramFolder() + L"Hadrel.tlb"; }

// Releases an interface pointer at the end of a scope.
template <class T> class Ref {
public:
    Ref() = default;
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    ~Ref() { if (p_) p_->Release(); }
    T **out() { return &p_; }
    void **outv() { return reinterpret_cast<void **>(&p_); }
    T *operator->() const { return p_; }
    T *get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
private:
    T *p_ = nullptr;
};

inline std::string Narrow(const wchar_t *w)
{
    std::string s;
    for (; w && *w; ++w) s += static_cast<char>(*w);
    return s;
}

inline std::string GuidText(REFGUID g)
{
    wchar_t buf[40];
    StringFromGUID2(g, buf, 40);
    return Narrow(buf);
}

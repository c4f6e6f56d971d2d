// Reads a compiled HTML help file through the platform's compiled-help
// storage component: the file's storage, its internal streams, and strings of
// its "#STRINGS" table by byte offset.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <string>

// The storage component's interface, as the platform declares it (no SDK
// header here carries it).
struct IITStorage : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE StgCreateDocfile(const WCHAR *name, DWORD mode, DWORD reserved, IStorage **out) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgCreateDocfileOnILockBytes(ILockBytes *bytes, DWORD mode, DWORD reserved,
                                                                   IStorage **out) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgIsStorageFile(const WCHAR *name) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgIsStorageILockBytes(ILockBytes *bytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgOpenStorage(const WCHAR *name, IStorage *priority, DWORD mode, SNB exclude,
                                                     DWORD reserved, IStorage **out) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgOpenStorageOnILockBytes(ILockBytes *bytes, IStorage *priority, DWORD mode,
                                                                 SNB exclude, DWORD reserved, IStorage **out) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgSetTimes(const WCHAR *name, const FILETIME *created, const FILETIME *accessed,
                                                  const FILETIME *modified) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetControlData(void *data) = 0;
    virtual HRESULT STDMETHODCALLTYPE DefaultControlData(void **data) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compact(const WCHAR *name, int level) = 0;
};
extern const CLSID CLSID_ITStorage;  // {5D02926A-212E-11D0-9DF9-00A0C922E6EC}
extern const IID IID_IITStorage;     // {88CC31DE-27AB-11D0-9DF9-00A0C922E6EC}

class ChmStorageReader {
public:
    enum { MaxPath = 259, ChunkSize = 64 };

    ChmStorageReader() = default;
    ~ChmStorageReader() { Close(); }
    ChmStorageReader(const ChmStorageReader &) = delete;
    ChmStorageReader &operator=(const ChmStorageReader &) = delete;

    // Opens the help file's storage, deny-write; the component's result code.
    // A path longer than MaxPath characters is refused (STG_E_PATHNOTFOUND).
    HRESULT Open(const char *path);
    bool IsOpen() const { return m_storage != nullptr; }

    // The string at offset of "#STRINGS" into buffer; false with an empty
    // buffer when it cannot be read or does not fit (terminator included).
    bool ReadString(DWORD offset, char *buffer, DWORD size);

    // A whole internal stream ("#IVB", "/topic.htm"); the storage's code.
    HRESULT ReadStream(const char *name, std::string &bytes, DWORD limit = 1 << 20);

    // Whether the help file holds the internal file.
    bool Contains(const char *name);

    // Releases the stream, the storage and the component.
    void Close();

private:
    bool Widen(const char *text, const WCHAR *&wide);

    IITStorage *m_component = nullptr;
    IStorage *m_storage = nullptr;
    IStream *m_strings = nullptr;
    WCHAR *m_wide = nullptr;  // the conversion buffer, MaxPath + 1 characters
};

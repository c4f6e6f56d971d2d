#include "ChmStorageReader.h"
#include <cstring>

const CLSID CLSID_ITStorage = {0x5D02926A, 0x212E, 0x11D0, {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
const IID IID_IITStorage = {0x88CC31DE, 0x27AB, 0x11D0, {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};

bool ChmStorageReader::Widen(const char *text, const WCHAR *&wide)
{
    if (!text || strlen(text) > MaxPath)
        return false;
    if (!m_wide)
        m_wide = new WCHAR[MaxPath + 1];
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, m_wide, MaxPath + 1))
        return false;
    wide = m_wide;
    return true;
}

HRESULT ChmStorageReader::Open(const char *path)
{
    Close();
    const WCHAR *wide = nullptr;
    if (!Widen(path, wide))
        return STG_E_PATHNOTFOUND;
    HRESULT hr = CoCreateInstance(CLSID_ITStorage, NULL, CLSCTX_INPROC_SERVER, IID_IITStorage,
                                  reinterpret_cast<void **>(&m_component));
    if (FAILED(hr)) {
        m_component = nullptr;
        return hr;
    }
    hr = m_component->StgOpenStorage(wide, NULL, STGM_SHARE_DENY_WRITE, NULL, 0, &m_storage);
    if (FAILED(hr)) {
        m_storage = nullptr;
        Close();
    }
    return hr;
}

bool ChmStorageReader::ReadString(DWORD offset, char *buffer, DWORD size)
{
    if (!buffer || size == 0)
        return false;
    buffer[0] = 0;
    if (size <= ChunkSize || !m_storage)
        return false;
    if (!m_strings) {
        const WCHAR *wide = nullptr;
        if (!Widen("#STRINGS", wide) ||
            FAILED(m_storage->OpenStream(wide, NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &m_strings))) {
            m_strings = nullptr;
            return false;
        }
    }
    LARGE_INTEGER at;
    at.QuadPart = offset;
    if (FAILED(m_strings->Seek(at, STREAM_SEEK_SET, NULL)))
        return false;
    // Chunk by chunk until a terminator comes; never past the caller's buffer.
    for (DWORD filled = 0; filled < size;) {
        const DWORD want = size - filled < DWORD(ChunkSize) ? size - filled : DWORD(ChunkSize);
        ULONG got = 0;
        if (FAILED(m_strings->Read(buffer + filled, want, &got)) || got == 0)
            break;
        if (memchr(buffer + filled, 0, got))
            return true;
        filled += got;
    }
    buffer[0] = 0;
    return false;
}

HRESULT ChmStorageReader::ReadStream(const char *name, std::string &bytes, DWORD limit)
{
    bytes.clear();
    if (!m_storage)
        return STG_E_PATHNOTFOUND;
    const WCHAR *wide = nullptr;
    if (!Widen(name, wide))
        return STG_E_FILENOTFOUND;
    IStream *stream = nullptr;
    HRESULT hr = m_storage->OpenStream(wide, NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr))
        return hr;
    char chunk[4096];
    for (;;) {
        ULONG got = 0;
        hr = stream->Read(chunk, sizeof(chunk), &got);
        if (FAILED(hr) || got == 0)
            break;
        if (bytes.size() + got > limit) {
            hr = E_OUTOFMEMORY;
            break;
        }
        bytes.append(chunk, got);
    }
    stream->Release();
    return FAILED(hr) ? hr : S_OK;
}

bool ChmStorageReader::Contains(const char *name)
{
    const WCHAR *wide = nullptr;
    IStream *stream = nullptr;
    if (!m_storage || !Widen(name, wide) ||
        FAILED(m_storage->OpenStream(wide, NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream)))
        return false;
    stream->Release();
    return true;
}

void ChmStorageReader::Close()
{
    if (m_strings)
        m_strings->Release();
    if (m_storage)
        m_storage->Release();
    if (m_component)
        m_component->Release();
    m_strings = nullptr;
    m_storage = nullptr;
    m_component = nullptr;
    delete[] m_wide;
    m_wide = nullptr;
}

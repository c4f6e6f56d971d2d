// FakeDriver: what Oxley asks of the server, answered from tables the test
// fills: address texts resolve to blocks, statistics come from a list, and
// every call Oxley makes is recorded as one line ("Switch 7",
// "SetPropertyData 5 Length=12", "RegisterException 1 5 ...").
#pragma once
#include <stdio.h>
#include <strings.h>
#include "FakeDriverBase.h"

struct FakeResolution {
    long handle;
    short index;
    long addressWord;
    long internalAddress;
    long deviceReference;
    std::string canonical;
};

inline std::string Narrow(BSTR text)
{
    if (!text)
        return "";
    char buffer[512];
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer), NULL, NULL);
    return n > 0 ? std::string(buffer, n - 1) : "";
}

inline std::string VariantText(const VARIANT &v)
{
    VARIANT copy;
    VariantInit(&copy);
    if (V_VT(&v) == VT_BOOL)
        return V_BOOL(&v) ? "true" : "false";
    if (FAILED(VariantChangeType(&copy, const_cast<VARIANT *>(&v), 0, VT_BSTR)))
        return "?";
    std::string text = Narrow(V_BSTR(&copy));
    VariantClear(&copy);
    return text;
}

class FakeDriver : public FakeDriverBase {
public:
    std::map<std::string, FakeResolution> resolutions;   // upper-cased text -> block
    std::vector<std::string> calls;
    std::vector<long> kivRefPuts;
    int kivRefGets = 0;
    HRESULT failAll = S_OK;            // every recorded call answers this when set
    long statistics[6] = {11, 22, 33, 44, 55, 0x10066};
    int failingStatistic = -1;         // its error element is not 0

    FakeDriver() : m_refs(1), m_marshaller(nullptr)
    {
        CoCreateFreeThreadedMarshaler(this, &m_marshaller);
    }
    ~FakeDriver() override
    {
        if (m_marshaller)
            m_marshaller->Release();
    }

    void Resolve(const std::string &text, const FakeResolution &resolution) { resolutions[Upper(text)] = resolution; }
    LONG Refs() const { return m_refs; }
    std::vector<std::string> Calls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return calls;
    }
    size_t CountOf(const std::string &prefix)
    {
        size_t n = 0;
        for (const std::string &call : Calls())
            n += call.compare(0, prefix.size(), prefix) == 0;
        return n;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IDriver) ||
            IsEqualIID(iid, IID_IQORDriver)) {
            *object = static_cast<IQORDriver *>(this);
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(iid, IID_IMarshal) && m_marshaller)
            return m_marshaller->QueryInterface(iid, object);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return ULONG(refs);
    }

    HRESULT STDMETHODCALLTYPE put_KivRef(LONG clientKind) override
    {
        kivRefPuts.push_back(clientKind);
        return Record("put_KivRef " + std::to_string(clientKind));
    }
    HRESULT STDMETHODCALLTYPE get_KivRef(LONG *remaining) override
    {
        ++kivRefGets;
        *remaining = 0;
        return Record("get_KivRef");
    }
    HRESULT STDMETHODCALLTYPE Poll(LONG handle) override { return Record("Poll " + std::to_string(handle)); }
    HRESULT STDMETHODCALLTYPE Switch(LONG handle) override { return Record("Switch " + std::to_string(handle)); }

    HRESULT STDMETHODCALLTYPE SetPropertyData(LONG handle, VARIANT names, VARIANT values, VARIANT *errors) override
    {
        std::string line = "SetPropertyData " + std::to_string(handle);
        long count = 1;
        if (V_VT(&names) == (VT_ARRAY | VT_VARIANT)) {
            LONG lower = 0, upper = -1;
            SafeArrayGetLBound(V_ARRAY(&names), 1, &lower);
            SafeArrayGetUBound(V_ARRAY(&names), 1, &upper);
            count = upper - lower + 1;
            for (LONG i = lower; i <= upper; ++i) {
                VARIANT name, value;
                VariantInit(&name);
                VariantInit(&value);
                SafeArrayGetElement(V_ARRAY(&names), &i, &name);
                SafeArrayGetElement(V_ARRAY(&values), &i, &value);
                line += " " + VariantText(name) + "=" + VariantText(value);
                VariantClear(&name);
                VariantClear(&value);
            }
        } else {
            line += " " + VariantText(names) + "=" + VariantText(values);
        }
        FillErrors(errors, count);
        return Record(line);
    }

    HRESULT STDMETHODCALLTYPE GetPropertyData(LONG handle, VARIANT names, VARIANT *values, VARIANT *errors) override
    {
        SAFEARRAY *out = SafeArrayCreateVector(VT_VARIANT, 0, 6);
        for (LONG i = 0; i < 6; ++i) {
            VARIANT v;
            VariantInit(&v);
            V_VT(&v) = VT_I4;
            V_I4(&v) = statistics[i];
            SafeArrayPutElement(out, &i, &v);
        }
        VariantClear(values);
        V_VT(values) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(values) = out;
        FillErrors(errors, 6);
        return Record("GetPropertyData " + std::to_string(handle));
    }

    HRESULT STDMETHODCALLTYPE SetDataAddress(BSTR address, short itemWord, LONG *deviceReference, LONG *addressWord,
                                             LONG *internalAddress, LONG *dataBlockHandle,
                                             short *dataBlockIndex) override
    {
        const std::string text = Narrow(address);
        Record("SetDataAddress " + text + " " + std::to_string(itemWord) + " " + std::to_string(*deviceReference));
        if (failAll != S_OK)
            return failAll;
        auto found = resolutions.find(Upper(text));
        if (found == resolutions.end())
            return E_FAIL;
        const FakeResolution &r = found->second;
        *deviceReference = r.deviceReference;
        *addressWord = r.addressWord;
        *internalAddress = r.internalAddress;
        *dataBlockHandle = r.handle;
        *dataBlockIndex = r.index;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetDataAddress(LONG addressWord, LONG internalAddress, LONG dataBlockHandle,
                                             LONG itemWord, BSTR *address) override
    {
        Record("GetDataAddress");
        if (failAll != S_OK)
            return failAll;
        for (const auto &entry : resolutions) {
            const FakeResolution &r = entry.second;
            if (r.handle == dataBlockHandle && r.addressWord == addressWord && r.internalAddress == internalAddress) {
                SysFreeString(*address);
                wchar_t wide[256];
                MultiByteToWideChar(CP_ACP, 0, r.canonical.c_str(), -1, wide, 256);
                *address = SysAllocString(wide);
                return S_OK;
            }
        }
        return E_FAIL;
    }

    HRESULT STDMETHODCALLTYPE RegisterException(LONG on, LONG dataBlockHandle, LONG addressWord,
                                                LONG internalAddress, unsigned char tag, short tagId,
                                                unsigned char itemKind, short hmiValue) override
    {
        char line[160];
        snprintf(line, sizeof(line), "RegisterException %ld %ld 0x%lx 0x%lx %u %d %u %d", long(on),
                 long(dataBlockHandle), (unsigned long)addressWord, (unsigned long)internalAddress, unsigned(tag),
                 int(tagId), unsigned(itemKind), int(hmiValue));
        return Record(line);
    }

private:
    static std::string Upper(std::string text)
    {
        for (char &c : text)
            c = char(toupper(static_cast<unsigned char>(c)));
        return text;
    }
    HRESULT Record(const std::string &line)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        calls.push_back(line);
        return failAll;
    }
    void FillErrors(VARIANT *errors, long count)
    {
        SAFEARRAY *out = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(count));
        for (LONG i = 0; i < count; ++i) {
            VARIANT v;
            VariantInit(&v);
            V_VT(&v) = VT_ERROR;
            V_ERROR(&v) = (i == failingStatistic) ? E_INVALIDARG : S_OK;
            SafeArrayPutElement(out, &i, &v);
        }
        VariantClear(errors);
        V_VT(errors) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(errors) = out;
    }

    LONG m_refs;
    IUnknown *m_marshaller;
    std::mutex m_lock;
};

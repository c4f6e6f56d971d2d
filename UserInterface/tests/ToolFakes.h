// Test doubles for the tool's presenters:
//  FakeToolDriver  the server's automation object in process: properties by
//                  name as text, refusals by name, and a record of every
//                  GetPropertyData / SetPropertyData call (other members are
//                  unexpected, see FakeDriverBase);
//  FakeProfile     the profile in memory, with a record of writes;
//  FakeScreen      message boxes (answers queued by the test) and the status
//                  box's texts and pauses, in the order they came;
//  FakeActivator   the activation: results and pointers chosen by the test,
//                  the machine asked for recorded.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include "BstrText.h"
#include "FakeDriverBase.h"
#include "Profile.h"
#include "ServerConnection.h"
#include "UiSinks.h"

inline std::string Narrow(BSTR text) { return FromBstr(text); }
inline BSTR Bstr(const std::string &text) { return ToBstr(text); }

// The element i of a VT_VARIANT array (VT_EMPTY when there is none); the
// caller clears it.
inline VARIANT Element(const VARIANT &array, LONG i)
{
    VARIANT element;
    VariantInit(&element);
    SafeArrayGetElement(V_ARRAY(&array), &i, &element);
    return element;
}

inline VARIANT ErrorVariant(LONG code)
{
    VARIANT error;
    VariantInit(&error);
    V_VT(&error) = VT_ERROR;
    V_ERROR(&error) = code;
    return error;
}

class FakeToolDriver : public FakeDriverBase {
public:
    struct SetCall {
        LONG handle;
        std::vector<std::string> names, values;
        bool allText;  // every value came as VT_BSTR
    };
    // Values the server holds, as text, by property name.
    std::map<std::string, std::string> values;
    // Per-property refusals of reads and writes.
    std::map<std::string, LONG> refuseGet, refuseSet;
    HRESULT getResult = S_OK, setResult = S_OK;
    std::vector<LONG> getCalls;
    std::vector<SetCall> setCalls;
    std::string fileName;
    // Not S_OK: what the running state and the file name answer (a dead
    // server's RPC code, say).
    HRESULT statusResult = S_OK;
    LONG refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IDriver || iid == IID_IQORDriver) {
            *out = static_cast<IQORDriver *>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(InterlockedDecrement(&refs)); }
    HRESULT STDMETHODCALLTYPE put_KivRef(LONG) override { return Unexpected("put_KivRef"); }
    HRESULT STDMETHODCALLTYPE get_KivRef(LONG *) override { return Unexpected("get_KivRef"); }
    HRESULT STDMETHODCALLTYPE Poll(LONG) override { return Unexpected("Poll"); }
    HRESULT STDMETHODCALLTYPE Switch(LONG) override { return Unexpected("Switch"); }
    HRESULT STDMETHODCALLTYPE SetDataAddress(BSTR, short, LONG *, LONG *, LONG *, LONG *, short *) override
    {
        return Unexpected("SetDataAddress");
    }
    HRESULT STDMETHODCALLTYPE GetDataAddress(LONG, LONG, LONG, LONG, BSTR *) override
    {
        return Unexpected("GetDataAddress");
    }
    HRESULT STDMETHODCALLTYPE RegisterException(LONG, LONG, LONG, LONG, unsigned char, short, unsigned char,
                                                short) override
    {
        return Unexpected("RegisterException");
    }

    HRESULT STDMETHODCALLTYPE get_Running(VARIANT_BOOL *running) override
    {
        *running = VARIANT_FALSE;
        return statusResult;
    }
    HRESULT STDMETHODCALLTYPE get_FullConfigFileName(BSTR *name) override
    {
        if (statusResult != S_OK)
            return statusResult;
        *name = Bstr(fileName);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetPropertyData(LONG handle, VARIANT names, VARIANT *out, VARIANT *errors) override
    {
        getCalls.push_back(handle);
        if (FAILED(getResult))
            return getResult;
        if (V_VT(&names) != (VT_ARRAY | VT_VARIANT) || V_VT(out) != (VT_ARRAY | VT_VARIANT) ||
            V_VT(errors) != (VT_ARRAY | VT_VARIANT))
            return Unexpected("GetPropertyData shape");
        LONG upper = -1;
        SafeArrayGetUBound(V_ARRAY(&names), 1, &upper);
        bool partial = false;
        for (LONG i = 0; i <= upper; ++i) {
            VARIANT name = Element(names, i);
            std::string key = Narrow(V_BSTR(&name));
            VariantClear(&name);
            VARIANT error = ErrorVariant(refuseGet.count(key) ? refuseGet[key] : 0);
            partial |= V_ERROR(&error) != 0;
            if (!V_ERROR(&error)) {
                VARIANT value;
                V_VT(&value) = VT_BSTR;
                V_BSTR(&value) = Bstr(values[key]);
                SafeArrayPutElement(V_ARRAY(out), &i, &value);
                VariantClear(&value);
            }
            SafeArrayPutElement(V_ARRAY(errors), &i, &error);
        }
        return partial ? S_FALSE : S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetPropertyData(LONG handle, VARIANT names, VARIANT in, VARIANT *errors) override
    {
        SetCall call{handle, {}, {}, true};
        LONG upper = -1;
        if (V_VT(&names) != (VT_ARRAY | VT_VARIANT) || V_VT(&in) != (VT_ARRAY | VT_VARIANT))
            return Unexpected("SetPropertyData shape");
        SafeArrayGetUBound(V_ARRAY(&names), 1, &upper);
        bool partial = false;
        for (LONG i = 0; i <= upper; ++i) {
            VARIANT name = Element(names, i), value = Element(in, i);
            std::string key = Narrow(V_BSTR(&name));
            call.allText &= V_VT(&value) == VT_BSTR;
            call.names.push_back(key);
            call.values.push_back(V_VT(&value) == VT_BSTR ? Narrow(V_BSTR(&value)) : "?");
            VARIANT error = ErrorVariant(refuseSet.count(key) ? refuseSet[key] : 0);
            if (V_ERROR(&error))
                partial = true;
            else if (V_VT(&value) == VT_BSTR)
                values[key] = Narrow(V_BSTR(&value));
            if (V_VT(errors) == (VT_ARRAY | VT_VARIANT))
                SafeArrayPutElement(V_ARRAY(errors), &i, &error);
            VariantClear(&name);
            VariantClear(&value);
        }
        setCalls.push_back(call);
        if (FAILED(setResult))
            return setResult;
        return partial ? S_FALSE : S_OK;
    }
};

class FakeProfile : public IProfile {
public:
    std::map<std::string, std::string> values;  // "section\entry" -> text
    std::vector<std::string> writes;            // "entry=value" in order
    std::string GetString(const std::string &section, const std::string &entry, const std::string &fallback) override
    {
        auto found = values.find(section + "\\" + entry);
        return found == values.end() ? fallback : found->second;
    }
    bool WriteString(const std::string &section, const std::string &entry, const std::string &value) override
    {
        values[section + "\\" + entry] = value;
        writes.push_back(entry + "=" + value);
        return true;
    }
    std::string Get(const std::string &entry) { return GetString("OLEServerInfo", entry, "<none>"); }
};

class FakeScreen : public IMessageSink, public IStatusSink {
public:
    std::vector<std::string> events;  // "box:text", "status:text", "pause:ms", "hide"
    std::deque<int> answers;           // the buttons the user presses, in order
    // Runs while a box is up, as the box's message loop runs timers.
    std::function<void()> whileShown;
    int Box(const std::string &text, const std::string &caption, UINT flags) override
    {
        events.push_back("box:" + text);
        captions.push_back(caption);
        if (whileShown)
            whileShown();
        if (answers.empty())
            return IDOK;
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowStatus(const std::string &text) override { events.push_back("status:" + text); }
    void HideStatus() override { events.push_back("hide"); }
    void Pause(DWORD ms) override { events.push_back("pause:" + std::to_string(ms)); }
    std::vector<std::string> Boxes() const
    {
        std::vector<std::string> boxes;
        for (const std::string &e : events)
            if (e.compare(0, 4, "box:") == 0)
                boxes.push_back(e.substr(4));
        return boxes;
    }
    std::vector<std::string> captions;
};

// A data-monitor connection that only counts its references.
class FakeMonitor : public ITracewellConnect {
public:
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(InterlockedDecrement(&refs)); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Connect(IUnknown *, LONG, LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(LONG) override { return E_NOTIMPL; }
};

class FakeActivator : public IServerActivator {
public:
    struct Answer {
        HRESULT activation = S_OK;
        FakeToolDriver *driver = nullptr;  // null: the IQORDriver part fails
        FakeMonitor *monitor = nullptr;    // null: the data-monitor part fails
    };
    std::deque<Answer> answers;
    std::vector<std::string> asked;  // "local" or the machine's name
    HRESULT Activate(const std::string *machine, IQORDriver **driver, HRESULT *driverResult,
                     ITracewellConnect **monitor, HRESULT *monitorResult) override
    {
        asked.push_back(machine ? *machine : "local");
        Answer answer = answers.empty() ? Answer{REGDB_E_CLASSNOTREG} : answers.front();
        if (!answers.empty())
            answers.pop_front();
        *driver = nullptr;
        *monitor = nullptr;
        *driverResult = *monitorResult = answer.activation;
        if (FAILED(answer.activation))
            return answer.activation;
        *driverResult = answer.driver ? S_OK : E_NOINTERFACE;
        *monitorResult = answer.monitor ? S_OK : E_NOINTERFACE;
        if (answer.driver) {
            answer.driver->AddRef();
            *driver = answer.driver;
        }
        if (answer.monitor) {
            answer.monitor->AddRef();
            *monitor = answer.monitor;
        }
        return S_OK;
    }
};

// Configuration access through the automation object: add, remove and copy
// objects, properties in arrays of VARIANTs with one result per property,
// property names, child lists and the search by name.
#include "DriverApp.h"
#include "DriverAppGuard.h"
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "ConfigCodes.h"
#include "Driver.h"
#include "ServerMsg.h"

using automation::ArgText;

namespace {

const HRESULT kArrayNotCreated = HRESULT(0xC1050401);
const HRESULT kBoundNotRead = HRESULT(0xC1050402);
const HRESULT kElementNotRead = HRESULT(0xC1050403);
const HRESULT kResultNotStored = HRESULT(0xC1050404);
const HRESULT kValueNotStored = HRESULT(0xC1050405);

const VARTYPE kVariantArray = VT_ARRAY | VT_VARIANT;

// A VARIANT that clears itself.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
};

// A copy of an input argument with its indirection resolved.
HRESULT Resolve(const VARIANT &in, Variant *out)
{
    return VariantCopyInd(&out->v, const_cast<VARIANT *>(&in));
}

// The caller's own VARIANT behind an out argument that refers to it.
VARIANT *Target(VARIANT *arg)
{
    while (arg && V_VT(arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(arg))
        arg = V_VARIANTREF(arg);
    return arg;
}

// The array an errors or values argument holds, directly or by reference.
SAFEARRAY **HeldArray(VARIANT *arg)
{
    if (V_VT(arg) == kVariantArray)
        return &V_ARRAY(arg);
    if (V_VT(arg) == (VT_BYREF | kVariantArray) && V_ARRAYREF(arg))
        return V_ARRAYREF(arg);
    if (V_VT(arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(arg))
        return HeldArray(V_VARIANTREF(arg));
    return nullptr;
}

bool IsErrorShape(const VARIANT &arg)
{
    return V_VT(&arg) == VT_EMPTY || V_VT(&arg) == VT_ERROR || V_VT(&arg) == (VT_BYREF | VT_ERROR);
}

// The array that receives one element per name: the caller's own, or, for
// VT_EMPTY, a new one as long as the names array.
HRESULT PrepareArray(VARIANT *arg, SAFEARRAY *names, SAFEARRAY **array)
{
    if (V_VT(arg) != VT_EMPTY) {
        SAFEARRAY **held = HeldArray(arg);
        if (!held)
            return E_INVALIDARG;
        *array = *held;
        return S_OK;
    }
    LONG upper = -1;
    if (FAILED(SafeArrayGetUBound(names, 1, &upper)))
        return kBoundNotRead;
    SAFEARRAY *created = nullptr;
    if (FAILED(CreateVariantSafeArray(upper + 1, &created)))
        return kArrayNotCreated;
    V_VT(arg) = kVariantArray;
    V_ARRAY(arg) = created;
    *array = created;
    return S_OK;
}

// Name i of the names array as a BSTR VARIANT; S_FALSE past its end. A
// name must be a string: a number or an empty element names no property.
HRESULT ReadName(SAFEARRAY *names, LONG i, Variant *name)
{
    HRESULT hr = SafeArrayGetElement(names, &i, &name->v);
    if (hr == DISP_E_BADINDEX)
        return S_FALSE;
    if (FAILED(hr))
        return kElementNotRead;
    if (V_VT(&name->v) == (VT_BYREF | VT_BSTR) && FAILED(VariantCopyInd(&name->v, &name->v)))
        return kElementNotRead;
    if (V_VT(&name->v) != VT_BSTR)
        return kElementNotRead;
    return S_OK;
}

LONG ElementCount(SAFEARRAY *array)
{
    LONG lower = 0, upper = -1;
    if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return -1;
    return upper - lower + 1;
}

// A names array checked before anything is changed: at least one name, each
// a string, and, when values are given, one value for each name (fewer are a
// failed read, as the loop would meet it; more say the arrays do not belong
// together). A request that fails here changes nothing.
HRESULT CheckNameArray(SAFEARRAY *names, const VARIANT *values)
{
    LONG count = ElementCount(names);
    if (count < 0)
        return kBoundNotRead;
    if (count == 0)
        return E_INVALIDARG;
    for (LONG i = 0; i < count; ++i) {
        Variant name;
        if (ReadName(names, i, &name) != S_OK)
            return kElementNotRead;
    }
    if (values) {
        LONG valueCount = V_VT(values) == kVariantArray ? ElementCount(V_ARRAY(values)) : -1;
        if (valueCount < count)
            return kElementNotRead;
        if (valueCount > count)
            return E_INVALIDARG;
    }
    return S_OK;
}

// The per-property calls, except that an empty name is an unknown property
// here: the objects skip it silently, which a client would read as success.
bool UnknownWhenEmpty(BSTR name, VARIANT *result)
{
    if (name && *name)
        return false;
    V_VT(result) = VT_ERROR;
    V_ERROR(result) = CFG_E_UNKNOWN_PROPERTY;
    return true;
}

LONG SetNamedProperty(CConfigObject &object, BSTR name, const VARIANT &value, VARIANT *result)
{
    return UnknownWhenEmpty(name, result) ? 1 : object.SetProperty(name, value, result);
}

LONG GetNamedProperty(CConfigObject &object, BSTR name, VARIANT *value, VARIANT *result)
{
    return UnknownWhenEmpty(name, result) ? 1 : object.GetProperty(name, value, result);
}

HRESULT PutPropertyResult(SAFEARRAY *errors, LONG i, LONG code)
{
    VARIANT element;
    VariantInit(&element);
    V_VT(&element) = VT_ERROR;
    V_ERROR(&element) = code;
    return FAILED(SafeArrayPutElement(errors, &i, &element)) ? kResultNotStored : S_OK;
}

// The code of one property call: the out error, else a non-zero result.
LONG PropertyCode(LONG answer, const VARIANT &result)
{
    LONG code = V_VT(&result) == VT_ERROR ? V_ERROR(&result) : 0;
    return code != 0 ? code : answer;
}

// Applies names[i] = values[i] to object until the names end. A negative
// answer of the setter stops at once; applied tells whether any property
// was taken, partial whether any failed.
HRESULT ApplyProperties(CConfigObject &object, SAFEARRAY *names, const VARIANT &values, SAFEARRAY *errors,
                        bool *applied, bool *partial)
{
    for (LONG i = 0;; ++i) {
        Variant name, value, result;
        HRESULT hr = ReadName(names, i, &name);
        if (hr == S_FALSE)
            return S_OK;
        if (FAILED(hr))
            return hr;
        if (V_VT(&values) != kVariantArray || FAILED(SafeArrayGetElement(V_ARRAY(&values), &i, &value.v)))
            return kElementNotRead;
        LONG answer = SetNamedProperty(object, V_BSTR(&name.v), value.v, &result.v);
        if (answer < 0)
            return answer;
        LONG code = PropertyCode(answer, result.v);
        if (code != 0)
            *partial = true;
        else
            *applied = true;
        hr = PutPropertyResult(errors, i, code);
        if (FAILED(hr))
            return hr;
    }
}

// The errors array prepared, then the properties applied.
HRESULT ApplyArray(CConfigObject &object, SAFEARRAY *names, const VARIANT &values, VARIANT *errors, bool *applied,
                   bool *partial)
{
    HRESULT hr = CheckNameArray(names, &values);
    if (FAILED(hr))
        return hr;
    SAFEARRAY *errorArray = nullptr;
    hr = PrepareArray(errors, names, &errorArray);
    return FAILED(hr) ? hr : ApplyProperties(object, names, values, errorArray, applied, partial);
}

const char *KindText(CDriverApp::HandleKind kind)
{
    switch (kind) {
    case CDriverApp::KindChannel: return "Channel";
    case CDriverApp::KindDevice: return "Device";
    default: return "Data Block";
    }
}

} // namespace

// --- add and remove -------------------------------------------------------------

HRESULT CDriverApp::AddObject(HandleKind parentKind, LONG parentHandle, VARIANT &names, VARIANT &values,
                              VARIANT *errors, LONG *handle)
{
    errors = Target(errors);
    if (!handle || !errors || !m_driver)
        return E_INVALIDARG;
    CConfigObject *parent = nullptr;
    if (Classify(parentHandle, &parent) != parentKind || (parentKind != KindDriver && parentHandle == 0))
        return E_INVALIDARG;
    auto inputShape = [](const VARIANT &v) {
        return V_VT(&v) == VT_EMPTY || V_VT(&v) == kVariantArray || V_VT(&v) == (VT_BYREF | VT_VARIANT);
    };
    if (!inputShape(names) || !inputShape(values))
        return E_INVALIDARG;
    if (V_VT(errors) != VT_EMPTY && V_VT(errors) != kVariantArray && V_VT(errors) != (VT_BYREF | kVariantArray))
        return E_INVALIDARG;

    HandleKind kind = parentKind == KindDriver ? KindChannel : parentKind == KindChannel ? KindDevice : KindDataBlock;
    std::unique_ptr<CConfigObject> object;
    if (kind == KindChannel)
        object.reset(new (std::nothrow) CChannel(true));
    else if (kind == KindDevice)
        object.reset(new (std::nothrow) CDevice(true));
    else
        object.reset(new (std::nothrow) CDataBlock(true, true));
    if (!object)
        return E_OUTOFMEMORY;
    if (kind == KindDataBlock && !static_cast<CDataBlock *>(object.get())->IsValid())
        return E_OUTOFMEMORY;

    Variant nameList, valueList;
    if (FAILED(Resolve(names, &nameList)) || FAILED(Resolve(values, &valueList)))
        return E_INVALIDARG;
    // An empty names array, like VT_EMPTY, applies no property.
    if (V_VT(&nameList.v) != VT_EMPTY &&
        !(V_VT(&nameList.v) == kVariantArray && ElementCount(V_ARRAY(&nameList.v)) == 0)) {
        if (V_VT(&nameList.v) != kVariantArray || V_VT(&valueList.v) == VT_EMPTY)
            return E_INVALIDARG;
        bool applied = false, partial = false;
        HRESULT hr = ApplyArray(*object, V_ARRAY(&nameList.v), valueList.v, errors, &applied, &partial);
        if (FAILED(hr))
            return hr;
        // All or nothing: a client gets no half-configured object.
        if (partial)
            return S_FALSE;
    }

    LONG code;
    if (kind == KindChannel)
        code = m_driver->AddChannel(static_cast<CChannel *>(object.get()));
    else if (kind == KindDevice)
        code = static_cast<CChannel *>(parent)->AddDevice(static_cast<CDevice *>(object.get()));
    else
        code = static_cast<CDevice *>(parent)->AddDataBlock(static_cast<CDataBlock *>(object.get()));
    if (code != 0)
        return code;
    CConfigObject *added = object.release();
    *handle = LONG(added->Handle());
    if (m_host)
        m_host->SetDocumentModified();
    LogMessage(SeverityDebug1, "%s added - Handle:  %ld", KindText(kind), long(*handle));
    return S_OK;
}

HRESULT CDriverApp::RemoveChild(HandleKind parentKind, LONG parentHandle, LONG childHandle)
{
    if (!m_driver || childHandle == 0 || (parentKind != KindDriver && parentHandle == 0))
        return E_INVALIDARG;
    CConfigObject *parent = nullptr;
    if (Classify(parentHandle, &parent) != parentKind)
        return E_INVALIDARG;
    // The parent checks the child's class and that it is its own.
    CObject *child = LiveObjectFromHandle(uint32_t(childHandle), CObject::StaticClass());
    if (!child)
        return E_INVALIDARG;
    LONG code;
    if (parentKind == KindDriver)
        code = m_driver->RemoveChannel(child);
    else if (parentKind == KindChannel)
        code = static_cast<CChannel *>(parent)->RemoveDevice(child);
    else
        code = static_cast<CDevice *>(parent)->RemoveDataBlock(child);
    if (code != 0)
        return code;
    if (m_host)
        m_host->SetDocumentModified();
    HandleKind kind = parentKind == KindDriver ? KindChannel : parentKind == KindChannel ? KindDevice : KindDataBlock;
    LogMessage(SeverityDebug1, "%s removed - Handle:  %ld", KindText(kind), long(childHandle));
    return S_OK;
}

STDMETHODIMP CDriverApp::AddChannel(VARIANT names, VARIANT values, VARIANT *errors, LONG *channelHandle)
{
    return Guarded("IDriver::AddChannel",
                   [&] { return AddObject(KindDriver, 0, names, values, errors, channelHandle); });
}

STDMETHODIMP CDriverApp::RemoveChannel(LONG channelHandle)
{
    return Guarded("IDriver::RemoveChannel", [&] { return RemoveChild(KindDriver, 0, channelHandle); });
}

STDMETHODIMP CDriverApp::AddDevice(LONG channelHandle, VARIANT names, VARIANT values, VARIANT *errors,
                                   LONG *deviceHandle)
{
    return Guarded("IDriver::AddDevice",
                   [&] { return AddObject(KindChannel, channelHandle, names, values, errors, deviceHandle); });
}

STDMETHODIMP CDriverApp::RemoveDevice(LONG channelHandle, LONG deviceHandle)
{
    return Guarded("IDriver::RemoveDevice", [&] { return RemoveChild(KindChannel, channelHandle, deviceHandle); });
}

STDMETHODIMP CDriverApp::AddDataBlock(LONG deviceHandle, VARIANT names, VARIANT values, VARIANT *errors,
                                      LONG *dataBlockHandle)
{
    return Guarded("IDriver::AddDataBlock",
                   [&] { return AddObject(KindDevice, deviceHandle, names, values, errors, dataBlockHandle); });
}

STDMETHODIMP CDriverApp::RemoveDataBlock(LONG deviceHandle, LONG dataBlockHandle)
{
    return Guarded("IDriver::RemoveDataBlock",
                   [&] { return RemoveChild(KindDevice, deviceHandle, dataBlockHandle); });
}

STDMETHODIMP CDriverApp::CopyDevice(LONG deviceHandle, BSTR newName, LONG channelHandle, VARIANT_BOOL move)
{
    return Guarded("IDriver::CopyDevice", [&]() -> HRESULT {
        if (deviceHandle == 0 || !newName || channelHandle == 0)
            return E_INVALIDARG;
        CConfigObject *device = nullptr, *channel = nullptr;
        if (Classify(channelHandle, &channel) != KindChannel || Classify(deviceHandle, &device) != KindDevice)
            return E_INVALIDARG;
        std::string name = ArgText(newName);
        // The copy (or the moved device) needs a name to go by.
        if (name.find_first_not_of(" \t") == std::string::npos)
            return E_INVALIDARG;
        LONG code = m_driver->CopyDevice(static_cast<CDevice *>(device), name, static_cast<CChannel *>(channel),
                                         move != 0);
        if (code != 0)
            return code;
        if (m_host)
            m_host->SetDocumentModified();
        LogMessage(SeverityDebug1, move ? "Device %ld moved to channel %ld" : "Device %ld copied to channel %ld",
                   long(deviceHandle), long(channelHandle));
        return S_OK;
    });
}

// --- properties -------------------------------------------------------------------

HRESULT CDriverApp::SetPropertyArray(LONG handle, VARIANT &names, VARIANT &values, VARIANT *errors)
{
    CConfigObject *object = nullptr;
    errors = Target(errors);
    if (Classify(handle, &object) == KindNone || !errors)
        return E_INVALIDARG;
    Variant nameList, valueList;
    if (FAILED(Resolve(names, &nameList)) || FAILED(Resolve(values, &valueList)))
        return E_INVALIDARG;
    VARTYPE namesType = V_VT(&nameList.v);
    if ((namesType != VT_BSTR && namesType != kVariantArray) || V_VT(&valueList.v) == VT_EMPTY)
        return E_INVALIDARG;

    if (namesType == VT_BSTR) {
        if ((V_VT(&valueList.v) & VT_ARRAY) || !IsErrorShape(*errors))
            return E_INVALIDARG;
        Variant result;
        LONG code = PropertyCode(SetNamedProperty(*object, V_BSTR(&nameList.v), valueList.v, &result.v), result.v);
        if (code != 0)
            return code;
        if (m_host)
            m_host->SetDocumentModified();
        return S_OK;
    }

    bool applied = false, partial = false;
    HRESULT hr = ApplyArray(*object, V_ARRAY(&nameList.v), valueList.v, errors, &applied, &partial);
    // Properties already taken stay taken, so the document has changed even
    // when a later one stopped the request.
    if ((SUCCEEDED(hr) || applied) && m_host)
        m_host->SetDocumentModified();
    if (FAILED(hr))
        return hr;
    return partial ? S_FALSE : S_OK;
}

HRESULT CDriverApp::GetPropertyArray(LONG handle, VARIANT &names, VARIANT *values, VARIANT *errors)
{
    CConfigObject *object = nullptr;
    values = Target(values);
    errors = Target(errors);
    if (Classify(handle, &object) == KindNone || !values || !errors)
        return E_INVALIDARG;
    Variant nameList;
    if (FAILED(Resolve(names, &nameList)))
        return E_INVALIDARG;
    VARTYPE namesType = V_VT(&nameList.v);
    if (namesType != VT_BSTR && namesType != kVariantArray)
        return E_INVALIDARG;

    if (namesType == VT_BSTR) {
        VARIANT *target = values;
        if ((V_VT(target) & (VT_ARRAY | VT_BYREF)) || !IsErrorShape(*errors))
            return E_INVALIDARG;
        Variant value, result;
        LONG code = PropertyCode(GetNamedProperty(*object, V_BSTR(&nameList.v), &value.v, &result.v), result.v);
        if (code != 0)
            return code;
        VariantClear(target);
        *target = value.v;
        VariantInit(&value.v);
        return S_OK;
    }

    SAFEARRAY *valueArray = nullptr, *errorArray = nullptr;
    if ((V_VT(values) != VT_EMPTY && !HeldArray(values)) || (V_VT(errors) != VT_EMPTY && !HeldArray(errors)))
        return E_INVALIDARG;
    HRESULT hr = CheckNameArray(V_ARRAY(&nameList.v), nullptr);
    if (FAILED(hr))
        return hr;
    hr = PrepareArray(values, V_ARRAY(&nameList.v), &valueArray);
    if (SUCCEEDED(hr))
        hr = PrepareArray(errors, V_ARRAY(&nameList.v), &errorArray);
    if (FAILED(hr))
        return hr;
    bool partial = false;
    for (LONG i = 0;; ++i) {
        Variant name, value, result;
        hr = ReadName(V_ARRAY(&nameList.v), i, &name);
        if (hr == S_FALSE)
            break;
        if (FAILED(hr))
            return hr;
        LONG answer = GetNamedProperty(*object, V_BSTR(&name.v), &value.v, &result.v);
        if (answer < 0)
            return answer;
        LONG code = PropertyCode(answer, result.v);
        if (code != 0)
            partial = true;
        else if (FAILED(SafeArrayPutElement(valueArray, &i, &value.v)))
            return kValueNotStored;
        hr = PutPropertyResult(errorArray, i, code);
        if (FAILED(hr))
            return hr;
    }
    return partial ? S_FALSE : S_OK;
}

STDMETHODIMP CDriverApp::SetPropertyData(LONG handle, VARIANT names, VARIANT values, VARIANT *errors)
{
    return Guarded("IDriver::SetPropertyData", [&] { return SetPropertyArray(handle, names, values, errors); });
}

STDMETHODIMP CDriverApp::GetPropertyData(LONG handle, VARIANT names, VARIANT *values, VARIANT *errors)
{
    return Guarded("IDriver::GetPropertyData", [&] { return GetPropertyArray(handle, names, values, errors); });
}

STDMETHODIMP CDriverApp::SetPropertyData2(BSTR objectName, VARIANT names, VARIANT values, VARIANT *errors)
{
    return Guarded("SetPropertyData2", [&]() -> HRESULT {
        if (!objectName || !errors)
            return E_POINTER;
        LONG handle = 0;
        bool found = false;
        FindObject(ArgText(objectName), &handle, &found);
        if (!found)
            return E_INVALIDARG;
        return SetPropertyArray(handle, names, values, errors);
    });
}

STDMETHODIMP CDriverApp::GetPropertyData2(BSTR objectName, VARIANT names, VARIANT *values, VARIANT *errors)
{
    return Guarded("GetPropertyData2", [&]() -> HRESULT {
        if (!objectName || !values || !errors)
            return E_POINTER;
        LONG handle = 0;
        bool found = false;
        FindObject(ArgText(objectName), &handle, &found);
        if (!found)
            return E_INVALIDARG;
        return GetPropertyArray(handle, names, values, errors);
    });
}

CConfigObject *CDriverApp::Prototype(HandleKind kind)
{
    // Prototypes only answer their class's names: no defaults, no threads.
    switch (kind) {
    case KindChannel:
        if (!m_protoChannel)
            m_protoChannel.reset(new (std::nothrow) CChannel(false, false));
        return m_protoChannel.get();
    case KindDevice:
        if (!m_protoDevice)
            m_protoDevice.reset(new (std::nothrow) CDevice(false));
        return m_protoDevice.get();
    case KindDataBlock:
        if (!m_protoBlock)
            m_protoBlock.reset(new (std::nothrow) CDataBlock(false, false));
        return m_protoBlock.get();
    default:
        return nullptr;
    }
}

STDMETHODIMP CDriverApp::GetProperties(short objectKind, VARIANT *names, LONG *count)
{
    return Guarded("IDriver::GetProperties", [&]() -> HRESULT {
        names = Target(names);
        if (!count || !names || objectKind == KindNone)
            return E_INVALIDARG;
        CConfigObject *object = nullptr;
        if (objectKind == KindDriver)
            object = m_driver.get();
        else if (objectKind >= KindChannel && objectKind <= KindDataBlock) {
            object = Prototype(HandleKind(objectKind));
            if (!object)
                return E_OUTOFMEMORY;
        }
        if (!object)
            return E_FAIL;
        if (V_VT(names) != VT_EMPTY && !HeldArray(names))
            return E_INVALIDARG;
        const CPropertyTable &table = object->Properties();
        // The class's list names what it lists: the configurable names, or all.
        LONG n = LONG(table.Configurable().empty() ? table.Sorted().size() : table.Configurable().size());
        SAFEARRAY *texts = SafeArrayCreateVector(VT_BSTR, 0, ULONG(n));
        if (!texts)
            return kArrayNotCreated;
        LONG code = object->GetPropertyNames(texts, TRUE);
        SAFEARRAY *target = nullptr;
        if (code == 0) {
            if (V_VT(names) == VT_EMPTY) {
                if (FAILED(CreateVariantSafeArray(n, &target))) {
                    SafeArrayDestroy(texts);
                    return kArrayNotCreated;
                }
                V_VT(names) = kVariantArray;
                V_ARRAY(names) = target;
            } else {
                target = *HeldArray(names);
            }
            for (LONG i = 0; i < n && code == 0; ++i) {
                BSTR text = nullptr;
                Variant element;
                if (FAILED(SafeArrayGetElement(texts, &i, &text)))
                    code = CFG_E_ARRAY_PUT;
                V_VT(&element.v) = VT_BSTR;
                V_BSTR(&element.v) = text;
                if (code == 0 && FAILED(SafeArrayPutElement(target, &i, &element.v)))
                    code = CFG_E_ARRAY_PUT;
            }
        }
        SafeArrayDestroy(texts);
        if (code != 0)
            return code;
        *count = n;
        return S_OK;
    });
}

// --- child lists and names ------------------------------------------------------

HRESULT CDriverApp::ListChildren(HandleKind parentKind, LONG parentHandle, VARIANT *handles, VARIANT *names,
                                 LONG *count)
{
    if (!count || !handles || !names)
        return E_INVALIDARG;
    CConfigObject *parent = nullptr;
    if (Classify(parentHandle, &parent) != parentKind || (parentKind != KindDriver && parentHandle == 0))
        return E_INVALIDARG;
    VariantClear(handles);
    VariantClear(names);
    *count = 0;
    size_t n = parentKind == KindDriver    ? m_driver->Channels().size()
               : parentKind == KindChannel ? static_cast<CChannel *>(parent)->Devices().size()
                                           : static_cast<CDevice *>(parent)->DataBlocks().size();
    if (n == 0)
        return S_OK;
    SAFEARRAY *handleArray = nullptr, *nameArray = nullptr;
    if (FAILED(CreateVariantSafeArray(LONG(n), &handleArray)) || FAILED(CreateVariantSafeArray(LONG(n), &nameArray))) {
        if (handleArray)
            SafeArrayDestroy(handleArray);
        return kArrayNotCreated;
    }
    LONG code = parentKind == KindDriver    ? m_driver->GetChannels(handleArray, nameArray)
                : parentKind == KindChannel ? static_cast<CChannel *>(parent)->GetDevices(handleArray, nameArray)
                                            : static_cast<CDevice *>(parent)->GetDataBlocks(handleArray, nameArray);
    if (code != 0) {
        SafeArrayDestroy(handleArray);
        SafeArrayDestroy(nameArray);
        return code;
    }
    V_VT(handles) = kVariantArray;
    V_ARRAY(handles) = handleArray;
    V_VT(names) = kVariantArray;
    V_ARRAY(names) = nameArray;
    *count = LONG(n);
    return S_OK;
}

STDMETHODIMP CDriverApp::GetChannels(VARIANT *handles, VARIANT *names, LONG *count)
{
    return Guarded("IDriver::GetChannels", [&] { return ListChildren(KindDriver, 0, handles, names, count); });
}

STDMETHODIMP CDriverApp::GetDevices(LONG channelHandle, VARIANT *handles, VARIANT *names, LONG *count)
{
    return Guarded("IDriver::GetDevices",
                   [&] { return ListChildren(KindChannel, channelHandle, handles, names, count); });
}

STDMETHODIMP CDriverApp::GetDataBlocks(LONG deviceHandle, VARIANT *handles, VARIANT *names, LONG *count)
{
    return Guarded("IDriver::GetDataBlocks",
                   [&] { return ListChildren(KindDevice, deviceHandle, handles, names, count); });
}

void CDriverApp::FindObject(const std::string &name, LONG *handle, bool *found) const
{
    *handle = 0;
    *found = false;
    if (name.empty()) {
        *found = true;
        return;
    }
    if (CConfigObject *object = m_driver ? m_driver->FindByName(name.c_str()) : nullptr) {
        *handle = LONG(object->Handle());
        *found = true;
    }
}

STDMETHODIMP CDriverApp::ObjectName2Handle(BSTR name, LONG *handle, VARIANT_BOOL *found)
{
    return Guarded("IQorDriver::ObjectName2Handle", [&]() -> HRESULT {
        if (!name || !handle || !found)
            return E_POINTER;
        *found = VARIANT_FALSE;
        *handle = 0;
        bool match = false;
        FindObject(ArgText(name), handle, &match);
        *found = match ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

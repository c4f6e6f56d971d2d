// The common part of the four configuration classes (driver, channel,
// device, data block): the named-property protocol with its result
// conventions, the property tables, object names and their rules, and the
// enable/disable lines.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>
#include "ConfigCodes.h"
#include "Object.h"

class CDriver;

enum PropertyAccess { PropRead, PropWrite, PropReset };

// Every property name of every class has one id; a class uses a subset.
enum PropertyId {
    PID_Name, PID_Description, PID_Enabled, PID_SendEvents,
    PID_MsgErrorCount, PID_MsgReceiveCount, PID_MsgRetryCount, PID_MsgTimeoutCount,
    PID_MsgTransmitCount, PID_PollOverrunCount,
    PID_ChannelCount, PID_DeviceCount, PID_DataBlockCount,
    PID_LastLoadTime, PID_LastStartTime, PID_LastStopTime, PID_SapiTimeout,
    PID_ActiveQueueCount, PID_ParseQueueCount,
    PID_PrimaryCPName, PID_PrimaryVFDName, PID_BackupCPName, PID_BackupVFDName,
    PID_PrimaryActiveResources, PID_BackupActiveResources,
    PID_PrimaryConnName, PID_PrimaryReplyTimeout, PID_PrimaryRetries, PID_PrimaryDelay,
    PID_BackupConnName, PID_BackupReplyTimeout, PID_BackupRetries, PID_BackupDelay,
    PID_ConnNameInUse, PID_CPNameInUse, PID_VFDNameInUse, PID_IsUsingPrimary,
    PID_ReadCountMax, PID_ReadQueueCount, PID_WriteCountMax, PID_WriteQueueCount,
    PID_AccessTime, PID_BlockWritesEnabled, PID_BlockWritesPending, PID_TracewellOn,
    PID_DataType, PID_DeadBand, PID_EndAddress, PID_ErrorTime, PID_LastError,
    PID_LatchData, PID_Length, PID_OPCDataType, PID_OutputDisabled, PID_Phase,
    PID_PrimaryPollTime, PID_Quality, PID_QualityString, PID_ReadTime, PID_SapiAddress,
    PID_SapiDetailedErrorMsg, PID_SapiDetailedErrorNo, PID_SapiIecErrorMsg, PID_SapiIecErrorNo,
    PID_SapiReturnCode, PID_SecondaryPollTime, PID_SendBlockWrites, PID_StartAddress,
    PID_WriteTime,
};

// The VARIANT type GetProperty answers; durations are VT_BSTR texts.
struct PropertyInfo {
    const char *name;
    VARTYPE type;
    PropertyAccess access;
    PropertyId id;
    bool duration;
};

// One class's names: kept sorted (ignoring case) for the binary search,
// plus the configurable names in their fixed (CSV column) order.
class CPropertyTable {
public:
    CPropertyTable(std::initializer_list<PropertyInfo> entries,
                   std::initializer_list<const char *> configurable);

    const PropertyInfo *Find(const char *name) const;
    const std::vector<PropertyInfo> &Sorted() const { return m_sorted; }
    const std::vector<const char *> &Configurable() const { return m_configurable; }

private:
    std::vector<PropertyInfo> m_sorted;
    std::vector<const char *> m_configurable;
};

// The HMI alarm line takes the objects' state changes (SendHmiAlarm of
// the server's alarm line); a test may watch them instead (null restores it).
using HmiAlarmLineFn = void (*)(const char *text, const char *source);
void SetConfigHmiAlarmLine(HmiAlarmLineFn send);
void SendConfigHmiAlarmLine(const char *text, const char *source);

// While the document imports a CSV file, objects post no enable or disable lines.
void SetConfigImporting(bool importing);
bool IsConfigImporting();

class CConfigObject : public CObject {
    QOR_DECLARE_DYNAMIC(CConfigObject)
public:
    ~CConfigObject() override;

    // Puts the names as BSTR into the caller's one-dimensional array from
    // index 0: the sorted names, or with configurableOnly the configurable
    // names in order. CFG_E_ARRAY_PUT at the first element that cannot be put.
    LONG GetPropertyNames(SAFEARRAY *names, BOOL configurableOnly);
    // result becomes VT_ERROR 0 first. 0: value filled (or empty name);
    // 1: refused, the code is in result.
    LONG GetProperty(BSTR name, VARIANT *value, VARIANT *result);
    // 0: taken; 1: refused (code in result); E_FAIL when the VARIANT could
    // not be handled internally (also in result).
    LONG SetProperty(BSTR name, const VARIANT &value, VARIANT *result);
    // Narrow-text conveniences over the two above (tests, registry defaults).
    LONG SetProperty(const char *name, const VARIANT &value, LONG *code = nullptr);
    LONG SetProperty(const char *name, const char *text, LONG *code = nullptr);
    LONG SetProperty(const char *name, LONG value, LONG *code = nullptr);
    LONG GetProperty(const char *name, VARIANT *value, LONG *code = nullptr);

    virtual const CPropertyTable &Properties() const = 0;

    const std::string &Name() const { return m_name; }
    const std::string &Description() const { return m_description; }
    // Name comparison ignoring case (multibyte-aware).
    bool NameEquals(const char *text) const;
    bool SendEvents() const { return m_sendEvents; }

    // Resets a statistics counter here and in every child.
    virtual void ResetCounter(PropertyId id) = 0;

    // Forms default names "%s%ld" from base and counter until one is taken.
    void AssignDefaultName(const std::string &registryBase, const char *builtIn, long &counter);

protected:
    CConfigObject() = default;

    virtual LONG GetValue(const PropertyInfo &info, VARIANT *value) = 0;
    virtual LONG SetValue(const PropertyInfo &info, const VARIANT &value) = 0;
    // Brings sums over the children up to date before a property is read.
    virtual void RecomputeTotals() {}

    // Name rules: leading white space trimmed, no ":;,./\" or blank, cut to
    // 12 characters, unique in the whole tree (this object skipped).
    LONG SetNameValue(const VARIANT &value);
    // Posts "<kind> <name> Enabled/Disabled" and its event, unless importing.
    void PostStateLine(const char *kind, bool enabled);

    std::string m_name;
    std::string m_description;
    bool m_sendEvents = false;
};

// Value conversions shared by the classes' SetValue/GetValue.
namespace ConfigValue {
std::string Narrow(const wchar_t *text);
std::wstring Widen(const std::string &text);
LONG Text(const VARIANT &value, std::string *text, size_t maxChars = SIZE_MAX);
LONG Int16(const VARIANT &value, SHORT *result);
LONG Int32(const VARIANT &value, LONG *result);
LONG Real(const VARIANT &value, float *result);
// A duration text (leading white space trimmed); empty gives -1 when none
// is allowed. Values outside [minMs, maxMs] are CFG_E_INVALID_VALUE.
LONG Duration(const VARIANT &value, bool allowNone, uint32_t minMs, uint32_t maxMs, uint32_t *ms);
void PutText(VARIANT *value, const std::string &text);
void PutI2(VARIANT *value, SHORT v);
void PutI4(VARIANT *value, LONG v);
void PutBool(VARIANT *value, bool v);
void PutR4(VARIANT *value, float v);
void PutDuration(VARIANT *value, uint32_t ms);  // -1 gives an empty text
void PutTime(VARIANT *value, const FILETIME &time);  // zero time gives VT_EMPTY
FILETIME Now();
} // namespace ConfigValue

// A parent's ordered list of children under the parent's lock. The parent
// owns them: removing one disables it silently, unlinks and deletes it.
template <class T>
class CChildList {
public:
    ~CChildList() { Clear(); }

    std::vector<T *> Items() const
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        return m_items;
    }
    bool Empty() const { return Items().empty(); }
    std::recursive_mutex &Lock() const { return m_lock; }
    // Called with each removed child after it is unlinked and disabled,
    // before it is deleted (outside the list's lock).
    void SetBeforeDelete(std::function<void(T *)> hook) { m_beforeDelete = std::move(hook); }

    // The child itself, or a sibling of the same name (ignoring case).
    bool NameTaken(const T *child) const
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        for (const T *item : m_items)
            if (item == child || item->NameEquals(child->Name().c_str()))
                return true;
        return false;
    }
    void Append(T *child)
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_items.push_back(child);
    }
    // object null: the first child. E_INVALIDARG for another class,
    // emptyCode without children, CFG_E_NOT_FOUND when not a child.
    LONG Remove(CObject *object, LONG emptyCode)
    {
        if (object && !object->IsKindOf(T::StaticClass()))
            return E_INVALIDARG;
        T *child;
        {
            std::lock_guard<std::recursive_mutex> guard(m_lock);
            if (m_items.empty())
                return emptyCode;
            auto it = m_items.begin();
            if (object)
                while (it != m_items.end() && *it != object)
                    ++it;
            if (it == m_items.end())
                return CFG_E_NOT_FOUND;
            if (!*it)
                return CFG_E_EMPTY_ENTRY;
            child = *it;
            child->Disable(false);
            m_items.erase(it);
        }
        if (m_beforeDelete)
            m_beforeDelete(child);
        delete child;
        return 0;
    }
    void Clear()
    {
        while (Remove(nullptr, 1) == 0) {
        }
    }
    // Element i of handles is the child's handle (VT_I4), of names its
    // name (VT_BSTR).
    LONG PutHandlesAndNames(SAFEARRAY *handles, SAFEARRAY *names) const
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (!m_items[i])
                return CFG_E_EMPTY_ENTRY;
            LONG index = LONG(i);
            VARIANT handle, name;
            ConfigValue::PutI4(&handle, LONG(m_items[i]->Handle()));
            ConfigValue::PutText(&name, m_items[i]->Name());
            HRESULT hr = handles ? SafeArrayPutElement(handles, &index, &handle) : E_POINTER;
            if (SUCCEEDED(hr))
                hr = names ? SafeArrayPutElement(names, &index, &name) : E_POINTER;
            VariantClear(&name);
            if (FAILED(hr))
                return CFG_E_ARRAY_PUT;
        }
        return 0;
    }

private:
    mutable std::recursive_mutex m_lock;
    std::vector<T *> m_items;
    std::function<void(T *)> m_beforeDelete;
};

// Registry defaults of new client-made objects.
class CRegistry;
class CDefaultsReader {
public:
    explicit CDefaultsReader(const char *subKey);
    ~CDefaultsReader();
    // The text value, or empty when missing.
    std::string Text(const char *name);
    bool Dword(const char *name, unsigned long *value);
    // Applies a text value (VT_BSTR) or DWORD value (VT_I4) through SetProperty.
    void ApplyText(CConfigObject &object, const char *value, const char *property);
    void ApplyDword(CConfigObject &object, const char *value, const char *property);

private:
    CRegistry *m_key;
    bool m_open;
};

#include "ObjectItems.h"
#include "BstrText.h"
#include "VariantArray.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char CObjectItem::ArrayFailedText[] = "SafeArrayCreate() failed";

const char *const CChannelItem::Properties[7] = {
    "Name", "Description", "Enabled", "PrimaryCPName", "PrimaryVFDName", "BackupCPName", "BackupVFDName"};

const char *const CDeviceItem::Properties[11] = {
    "Name", "Description", "PrimaryConnName", "PrimaryReplyTimeout", "PrimaryRetries", "PrimaryDelay",
    "BackupConnName", "BackupReplyTimeout", "BackupRetries", "BackupDelay", "Enabled"};

const char *const CDataBlockItem::Properties[15] = {
    "Name", "Description", "StartAddress", "EndAddress", "Length", "PrimaryPollTime", "Phase",
    "SecondaryPollTime", "AccessTime", "LatchData", "OutputDisabled", "Enabled", "DeadBand",
    "BlockWritesEnabled", "DataType"};

namespace {

HRESULT PutText(Var &holder, LONG index, const std::string &text)
{
    Var element;
    V_VT(&element.v) = VT_BSTR;
    V_BSTR(&element.v) = ToBstr(text);
    if (!V_BSTR(&element.v))
        return E_OUTOFMEMORY;
    return SafeArrayPutElement(V_ARRAY(&holder.v), &index, &element.v);
}

// The per-property result at index: a VT_ERROR code or a number; 0 when the
// element cannot be read.
LONG ResultAt(SAFEARRAY *results, LONG index)
{
    Var element;
    if (!results || FAILED(SafeArrayGetElement(results, &index, &element.v)))
        return 0;
    if (V_VT(&element.v) == VT_ERROR)
        return V_ERROR(&element.v);
    if (V_VT(&element.v) == VT_EMPTY)
        return 0;
    Var number;
    if (FAILED(VariantChangeType(&number.v, &element.v, 0, VT_I4)))
        return 0;
    return V_I4(&number.v);
}

} // namespace

CObjectItem::CObjectItem(IItemDocument *document, const char *const *names, size_t count)
    : m_document(document), m_names(names, names + count), m_current(count), m_lastRead(count)
{
}

int CObjectItem::Index(const char *name) const
{
    for (size_t i = 0; i < m_names.size(); ++i)
        if (strcmp(m_names[i], name) == 0)
            return int(i);
    return -1;
}

std::string CObjectItem::Current(const char *name) const
{
    int i = Index(name);
    return i < 0 ? std::string() : m_current[size_t(i)];
}

std::string CObjectItem::LastRead(const char *name) const
{
    int i = Index(name);
    return i < 0 ? std::string() : m_lastRead[size_t(i)];
}

void CObjectItem::SetCurrent(const char *name, const std::string &text)
{
    int i = Index(name);
    if (i >= 0)
        m_current[size_t(i)] = text;
}

std::string CObjectItem::Shown(const char *name, const char *shown) const
{
    std::string text = Current(name);
    return text.empty() ? shown : text;
}

bool CObjectItem::Read()
{
    IQORDriver *server = m_document->Server();
    if (!server)
        return false;
    Var names, values, results;
    if (!MakeArray(names, m_names.size()) || !MakeArray(values, m_names.size()) ||
        !MakeArray(results, m_names.size())) {
        m_document->ShowText(ArrayFailedText);
        return false;
    }
    for (size_t i = 0; i < m_names.size(); ++i) {
        HRESULT hr = PutText(names, LONG(i), m_names[i]);
        if (FAILED(hr)) {
            m_document->ShowError(hr);
            return false;
        }
    }
    HRESULT hr = server->GetPropertyData(m_handle, names.v, &values.v, &results.v);
    if (FAILED(hr)) {
        m_document->ShowError(hr);
        return false;
    }
    m_document->RefreshServerStatus();

    // A refused property must not keep the previous object's text, and one
    // refusal must not stop the properties after it: the first refusal is
    // shown once, every refused entry is emptied.
    SAFEARRAY *valueArray = HeldArray(values.v), *resultArray = HeldArray(results.v);
    bool shown = false;
    for (size_t i = 0; i < m_names.size(); ++i) {
        LONG code = ResultAt(resultArray, LONG(i));
        if (code != 0) {
            if (!shown)
                m_document->ShowError(code);
            shown = true;
            m_current[i].clear();
            m_lastRead[i].clear();
            continue;
        }
        Var value, text;
        LONG index = LONG(i);
        HRESULT got = valueArray ? SafeArrayGetElement(valueArray, &index, &value.v) : E_INVALIDARG;
        if (SUCCEEDED(got))
            got = VariantChangeType(&text.v, &value.v, 0, VT_BSTR);
        if (FAILED(got)) {
            m_document->ShowError(got);
            continue;
        }
        m_current[i] = m_lastRead[i] = FromBstr(V_BSTR(&text.v));
    }
    return true;
}

int CObjectItem::Modify()
{
    std::vector<size_t> changed;
    for (size_t i = 0; i < m_names.size(); ++i)
        if (m_current[i] != m_lastRead[i])
            changed.push_back(i);
    if (changed.empty())
        return 1;
    IQORDriver *server = m_document->Server();
    if (!server)
        return 0;

    int namePosition = -1;
    Var names, values, results;
    if (!MakeArray(names, changed.size()) || !MakeArray(values, changed.size()) ||
        !MakeArray(results, changed.size())) {
        m_document->ShowText(ArrayFailedText);
        return 0;
    }
    for (size_t k = 0; k < changed.size(); ++k) {
        size_t i = changed[k];
        if (strcmp(m_names[i], "Name") == 0)
            namePosition = int(k);
        HRESULT hr = PutText(names, LONG(k), m_names[i]);
        if (SUCCEEDED(hr))
            hr = PutText(values, LONG(k), m_current[i]);
        if (FAILED(hr)) {
            m_document->ShowError(hr);
            return 0;
        }
    }
    HRESULT hr = server->SetPropertyData(m_handle, names.v, values.v, &results.v);
    if (FAILED(hr)) {
        m_document->ShowError(hr);
        return 0;
    }
    if (hr == S_FALSE) {
        SAFEARRAY *resultArray = HeldArray(results.v);
        for (size_t k = 0; k < changed.size(); ++k)
            if (LONG code = ResultAt(resultArray, LONG(k)))
                m_document->ShowError(code);
        if (namePosition >= 0)
            m_document->RelabelItem(*this, GetName());
        return 0;
    }
    if (namePosition >= 0)
        m_document->RelabelItem(*this, GetName());
    return 1;
}

void CDataBlockItem::SetDataType(int code)
{
    char text[16];
    snprintf(text, sizeof text, "%d", code);
    SetCurrent("DataType", text);
}

int CDataBlockItem::GetDataType() const
{
    long code = strtol(Current("DataType").c_str(), nullptr, 10);
    return code < 0 || code >= 14 ? 2 : int(code);
}

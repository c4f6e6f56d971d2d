// What a configuration pane does with its fields, without the window: each
// field mirrors one configurable property of the selected channel, device
// or data block, and is committed to the server on its own as soon as the
// user leaves it. In template mode nothing goes to the server and names and
// retries are checked here; in local mode (a device copy being made) the
// values stay in the pane.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "UserInterfaceDoc.h"

enum FieldType {
    FieldText,      // taken as typed
    FieldName,      // trimmed; the tree label follows it
    FieldTrimmed,   // trimmed (the channel's CP and VFD names)
    FieldCheck,     // "1" or "0", sent as a 16-bit integer
    FieldDataType,  // the S7 type code as decimal text, sent as a 16-bit integer
    FieldRate,      // "disabled" or "d" mean none, shown "Disabled"
    FieldConn,      // "none", "n" or "-" mean none, shown "None"
    FieldRetries,   // 0 to 9, by its spin control
};

struct FormField {
    int control;
    const char *property;
    FieldType type;
    int limit;          // characters, 0 for no limit
    const char *words;  // for "Error creating bstring for "
};

// The Data Type list in its order: shown text and type code.
struct DataTypeEntry {
    const char *text;
    int code;
};
extern const DataTypeEntry DataTypeList[11];

class CObjectForm {
public:
    static const HRESULT LocalRefusal = HRESULT(0xC1030311);
    static const char BstrFailedText[];  // "Error creating bstring for "

    // kind: KindChannel, KindDevice or KindDataBlock.
    CObjectForm(CUserInterfaceDoc &document, int kind);

    int Kind() const { return m_kind; }
    CUserInterfaceDoc &Document() { return m_doc; }
    // The pane's fields in the order of its controls.
    const std::vector<FormField> &Fields() const { return m_fields; }
    // The field of a control, or -1.
    int IndexOf(int control) const;
    const std::string &Value(size_t index) const { return m_values[index]; }
    std::string Value(const char *property) const;

    // Copy mode: the values stay in the pane until the dialog's OK.
    void SetLocal(bool local) { m_local = local; }
    bool Local() const { return m_local; }

    // The proxy of the pane's kind.
    CObjectItem &Proxy();
    // Configuration mode: the proxy reads its object again and the fields
    // take its values; else only the display defaults are applied.
    void Refresh();
    // The fields take the proxy's values with the display defaults.
    void Load();

    enum Result { Unchanged, Committed, Refused };
    // The user left field index with text typed (a check box "1"/"0", the
    // data type its code). Refused: the field keeps its old value and the
    // control should get the focus back.
    Result Commit(size_t index, const std::string &typed);

    // The combo boxes' lists from the server.
    std::vector<std::string> CpList();
    std::vector<std::string> VfdList(const std::string &cp);
    // The connections for the device's primary or backup connection: the
    // channel's CP and VFD of that side, the primary ones when a backup name
    // is empty.
    std::vector<std::string> ConnList(bool primary);

    // The fields the user changed into proxy (the dialog's OK); what shows
    // only a display default stays as the proxy has it.
    void CopyTo(CObjectItem &proxy) const;
    // The property values of the pane: "None" and "Disabled" as empty.
    std::vector<std::string> PropertyValues() const;

    // The help pop-up's topic for the pane.
    std::string HelpTopic(const std::string &helpFile) const;

private:
    bool TemplateMode() const { return m_doc.TemplateMode(); }
    std::string Shown(const FormField &field, const std::string &value) const;
    bool LocallyRefused(const FormField &field, const std::string &value) const;
    HRESULT Send(const FormField &field, const std::string &value);
    std::vector<std::string> ReadList(HRESULT hr, VARIANT &names, LONG count, bool quiet);

    CUserInterfaceDoc &m_doc;
    int m_kind;
    std::vector<FormField> m_fields;
    std::vector<std::string> m_values;
    bool m_local = false;
};

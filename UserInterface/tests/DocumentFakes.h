// Test doubles for the document and the tree browser:
//  FakeConfigDriver  a server holding a configuration tree in memory, with
//                    the file commands, run control and the scalar
//                    "TracewellOn" property, recording every call;
//  FakeTree          the tree control in memory;
//  FakeFiles         the file dialog's answers; FakeDefaults the driver's
//                    defaults key.
#pragma once
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "ToolFakes.h"
#include "TreeAccess.h"
#include "UserInterfaceDoc.h"

class FakeConfigDriver : public FakeToolDriver {
public:
    struct Object {
        int kind;  // 1 channel, 2 device, 3 block
        std::string name;
        LONG parent;
        std::vector<LONG> children;
        std::map<std::string, std::string> props;  // the values it was added with
    };
    // The lists behind the panes' combo boxes.
    std::vector<std::string> cpList;
    std::map<std::string, std::vector<std::string>> vfdLists;   // by CP
    std::map<std::string, std::vector<std::string>> connLists;  // by "CP/VFD"
    HRESULT connResult = S_OK;
    // The lists come as the server sends them (BSTRs), or as VARIANTs with
    // one entry that is no text.
    bool listsAsVariants = false;
    // AddDevice / AddDataBlock refuse the n-th call with values (1-based).
    int refuseAddWithValues = 0;
    int addsWithValues = 0;
    std::map<LONG, Object> objects;
    std::vector<LONG> channels;
    std::vector<std::string> calls;  // "AddChannel", "RemoveDevice 2 5", ...
    LONG next = 1;
    bool running = false, keepsRunning = false;
    bool saved = true;
    HRESULT removeResult = S_OK, saveResult = S_OK, listResult = S_OK;
    std::deque<HRESULT> openResults;   // FileOpenEx answers in turn (else S_OK)
    std::map<LONG, bool> tracewell;    // block handle -> "TracewellOn"
    std::vector<LONG> refuseTracewell;

    LONG Add(int kind, const std::string &name, LONG parent)
    {
        LONG handle = next++;
        objects[handle] = {kind, name, parent, {}};
        (kind == 1 ? channels : objects[parent].children).push_back(handle);
        return handle;
    }
    // Channels "Ch<i>" with devices "Dev<i><j>" with blocks "Blk<i><j><k>".
    void Fill(int nChannels, int nDevices, int nBlocks)
    {
        for (int i = 1; i <= nChannels; ++i) {
            LONG c = Add(1, "Ch" + std::to_string(i), 0);
            for (int j = 1; j <= nDevices; ++j) {
                LONG d = Add(2, "Dev" + std::to_string(i) + std::to_string(j), c);
                for (int k = 1; k <= nBlocks; ++k)
                    Add(3, "Blk" + std::to_string(i) + std::to_string(j) + std::to_string(k), d);
            }
        }
    }
    LONG Find(const std::string &name) const
    {
        for (const auto &o : objects)
            if (o.second.name == name)
                return o.first;
        return 0;
    }
    void Clear() { objects.clear(), channels.clear(); }

    HRESULT STDMETHODCALLTYPE get_Running(VARIANT_BOOL *out) override
    {
        *out = running ? VARIANT_TRUE : VARIANT_FALSE;
        return statusResult;
    }
    HRESULT STDMETHODCALLTYPE get_FileSaved(VARIANT_BOOL *out) override
    {
        *out = saved ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start(VARIANT_BOOL wait) override
    {
        calls.push_back(wait ? "Start wait" : "Start");
        running = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        calls.push_back("Stop");
        running = keepsRunning;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FileNew() override
    {
        calls.push_back("FileNew");
        Clear();
        fileName.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FileSave() override
    {
        calls.push_back("FileSave");
        if (SUCCEEDED(saveResult))
            saved = true;
        return saveResult;
    }
    HRESULT STDMETHODCALLTYPE FileSaveAs(BSTR name) override
    {
        calls.push_back("FileSaveAs " + Narrow(name));
        if (FAILED(saveResult))
            return saveResult;
        fileName = Narrow(name);
        saved = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FileOpenEx(BSTR name, LONG flags) override
    {
        calls.push_back("FileOpenEx " + Narrow(name) + " " + std::to_string(flags));
        HRESULT hr = S_OK;
        if (!openResults.empty()) {
            hr = openResults.front();
            openResults.pop_front();
        }
        if (hr == S_OK) {
            fileName = Narrow(name);
            Clear();
            Fill(1, 1, 1);
        }
        return hr;
    }
    HRESULT AddObject(int kind, LONG parent, VARIANT names, VARIANT values, VARIANT *errors, LONG *handle)
    {
        bool empty = V_VT(&names) == VT_EMPTY && V_VT(&values) == VT_EMPTY;
        calls.push_back(std::string(kind == 1 ? "AddChannel" : kind == 2 ? "AddDevice " : "AddDataBlock ") +
                        (kind == 1 ? "" : std::to_string(parent)) + (empty ? "" : " with values"));
        if (kind != 1 && (!objects.count(parent) || objects[parent].kind != kind - 1))
            return E_INVALIDARG;
        std::map<std::string, std::string> props;
        if (!empty) {
            LONG upper = -1;
            SafeArrayGetUBound(V_ARRAY(&names), 1, &upper);
            for (LONG i = 0; i <= upper; ++i) {
                VARIANT n = Element(names, i), v = Element(values, i);
                props[Narrow(V_BSTR(&n))] = V_VT(&v) == VT_BSTR ? Narrow(V_BSTR(&v)) : "?";
                VariantClear(&n);
                VariantClear(&v);
            }
            if (++addsWithValues == refuseAddWithValues) {
                SAFEARRAY *e = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(upper + 1));
                LONG at = 0;
                VARIANT code = ErrorVariant(LONG(0xC1030311));
                SafeArrayPutElement(e, &at, &code);
                VariantClear(errors);
                V_VT(errors) = VT_ARRAY | VT_VARIANT;
                V_ARRAY(errors) = e;
                return S_FALSE;
            }
        }
        std::string name = props.count("Name") ? props["Name"]
                                               : std::string(kind == 1 ? "Channel" : kind == 2 ? "Device" : "DataBlock") +
                                                     std::to_string(next);
        *handle = Add(kind, name, parent);
        objects[*handle].props = props;
        saved = false;
        return S_OK;
    }
    HRESULT ListOf(const std::vector<std::string> &list, VARIANT *names, LONG *count)
    {
        VariantClear(names);
        if (!listsAsVariants) {
            // As the server answers: one BSTR per name.
            SAFEARRAY *a = SafeArrayCreateVector(VT_BSTR, 0, ULONG(list.size()));
            for (LONG i = 0; i < LONG(list.size()); ++i) {
                BSTR text = Bstr(list[i]);
                SafeArrayPutElement(a, &i, text);
                SysFreeString(text);
            }
            V_VT(names) = VT_ARRAY | VT_BSTR;
            V_ARRAY(names) = a;
            *count = LONG(list.size());
            return S_OK;
        }
        SAFEARRAY *a = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(list.size() + 1));
        for (LONG i = 0; i < LONG(list.size()); ++i) {
            VARIANT v;
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = Bstr(list[i]);
            SafeArrayPutElement(a, &i, &v);
            VariantClear(&v);
        }
        // A last entry that is no text is left out.
        LONG last = LONG(list.size());
        VARIANT number;
        V_VT(&number) = VT_I4;
        V_I4(&number) = 7;
        SafeArrayPutElement(a, &last, &number);
        V_VT(names) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(names) = a;
        *count = LONG(list.size() + 1);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConfiguredCPList(VARIANT *names, LONG *count) override
    {
        calls.push_back("CPList");
        return ListOf(cpList, names, count);
    }
    HRESULT STDMETHODCALLTYPE GetConfiguredVFDList(BSTR cp, VARIANT *names, LONG *count) override
    {
        calls.push_back("VFDList " + Narrow(cp));
        return ListOf(vfdLists[Narrow(cp)], names, count);
    }
    HRESULT STDMETHODCALLTYPE GetConfiguredCONNList(BSTR cp, BSTR vfd, VARIANT *names, LONG *count) override
    {
        calls.push_back("CONNList " + Narrow(cp) + "/" + Narrow(vfd));
        if (FAILED(connResult))
            return connResult;
        return ListOf(connLists[Narrow(cp) + "/" + Narrow(vfd)], names, count);
    }
    HRESULT STDMETHODCALLTYPE AddChannel(VARIANT n, VARIANT v, VARIANT *e, LONG *h) override { return AddObject(1, 0, n, v, e, h); }
    HRESULT STDMETHODCALLTYPE AddDevice(LONG c, VARIANT n, VARIANT v, VARIANT *e, LONG *h) override { return AddObject(2, c, n, v, e, h); }
    HRESULT STDMETHODCALLTYPE AddDataBlock(LONG d, VARIANT n, VARIANT v, VARIANT *e, LONG *h) override { return AddObject(3, d, n, v, e, h); }
    HRESULT Remove(const std::string &call, LONG parent, LONG child)
    {
        calls.push_back(call + " " + std::to_string(parent) + " " + std::to_string(child));
        if (FAILED(removeResult))
            return removeResult;
        std::vector<LONG> &list = parent ? objects[parent].children : channels;
        list.erase(std::remove(list.begin(), list.end(), child), list.end());
        objects.erase(child);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveChannel(LONG c) override { return Remove("RemoveChannel", 0, c); }
    HRESULT STDMETHODCALLTYPE RemoveDevice(LONG c, LONG d) override { return Remove("RemoveDevice", c, d); }
    HRESULT STDMETHODCALLTYPE RemoveDataBlock(LONG d, LONG b) override { return Remove("RemoveDataBlock", d, b); }

    HRESULT List(const std::vector<LONG> &list, VARIANT *handles, VARIANT *names, LONG *count)
    {
        VariantClear(handles);
        VariantClear(names);
        *count = LONG(list.size());
        if (list.empty())
            return S_OK;
        SAFEARRAY *h = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(list.size()));
        SAFEARRAY *n = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(list.size()));
        for (LONG i = 0; i < LONG(list.size()); ++i) {
            VARIANT v;
            V_VT(&v) = VT_I4;
            V_I4(&v) = list[i];
            SafeArrayPutElement(h, &i, &v);
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = Bstr(objects[list[i]].name);
            SafeArrayPutElement(n, &i, &v);
            VariantClear(&v);
        }
        V_VT(handles) = V_VT(names) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(handles) = h;
        V_ARRAY(names) = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetChannels(VARIANT *h, VARIANT *n, LONG *count) override
    {
        calls.push_back("GetChannels");
        return FAILED(listResult) ? listResult : List(channels, h, n, count);
    }
    HRESULT STDMETHODCALLTYPE GetDevices(LONG c, VARIANT *h, VARIANT *n, LONG *count) override
    {
        calls.push_back("GetDevices " + std::to_string(c));
        if (FAILED(listResult))
            return listResult;
        if (!objects.count(c) || objects[c].kind != 1)
            return E_INVALIDARG;
        return List(objects[c].children, h, n, count);
    }
    HRESULT STDMETHODCALLTYPE GetDataBlocks(LONG d, VARIANT *h, VARIANT *n, LONG *count) override
    {
        calls.push_back("GetDataBlocks " + std::to_string(d));
        if (!objects.count(d) || objects[d].kind != 2)
            return E_INVALIDARG;
        return List(objects[d].children, h, n, count);
    }
    // The single-name form that the tree's popup uses.
    HRESULT STDMETHODCALLTYPE GetPropertyData(LONG handle, VARIANT names, VARIANT *out, VARIANT *errors) override
    {
        if (V_VT(&names) != VT_BSTR)
            return FakeToolDriver::GetPropertyData(handle, names, out, errors);
        calls.push_back("Get " + Narrow(V_BSTR(&names)) + " " + std::to_string(handle));
        V_VT(out) = VT_I2;
        V_I2(out) = tracewell[handle] ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPropertyData(LONG handle, VARIANT names, VARIANT in, VARIANT *errors) override
    {
        if (V_VT(&names) != VT_BSTR)
            return FakeToolDriver::SetPropertyData(handle, names, in, errors);
        std::string name = Narrow(V_BSTR(&names));
        std::string value = V_VT(&in) == VT_I2 ? std::to_string(V_I2(&in)) : V_VT(&in) == VT_BSTR ? Narrow(V_BSTR(&in)) : "?";
        calls.push_back("Set " + name + " " + std::to_string(handle) +
                        (V_VT(&in) == VT_I2 ? " I2 " : V_VT(&in) == VT_BSTR ? " BSTR " : " ? ") + value);
        if (name == "TracewellOn") {
            if (std::find(refuseTracewell.begin(), refuseTracewell.end(), handle) != refuseTracewell.end())
                return E_FAIL;
            tracewell[handle] = V_I2(&in) != 0;
            return S_OK;
        }
        if (refuseSet.count(name))
            return refuseSet[name];
        values[name] = value;
        return S_OK;
    }
    std::vector<std::string> Calls(const std::string &prefix) const
    {
        std::vector<std::string> found;
        for (const std::string &c : calls)
            if (c.compare(0, prefix.size(), prefix) == 0)
                found.push_back(c);
        return found;
    }
};

class FakeTree : public CTreeAccess {
public:
    struct Node {
        std::string text;
        int image;
        LONG handle;
        Node *parent;
        std::vector<Node *> children;
        bool expanded;
    };
    std::vector<std::unique_ptr<Node>> store;
    std::vector<Node *> roots;
    Node *selected = nullptr;
    bool focus = false;
    std::function<void(TreeItem)> onSelect;  // the control's notification

    static Node *N(TreeItem item) { return static_cast<Node *>(item); }
    TreeItem Insert(TreeItem parent, const std::string &text, int image, LONG handle, int position) override
    {
        store.emplace_back(new Node{text, image, handle, N(parent), {}, false});
        Node *node = store.back().get();
        std::vector<Node *> &list = parent ? N(parent)->children : roots;
        list.insert(position == InsertFirst ? list.begin() : list.end(), node);
        return node;
    }
    void Delete(TreeItem item) override
    {
        Node *node = N(item);
        while (!node->children.empty())
            Delete(node->children.back());
        std::vector<Node *> &list = node->parent ? node->parent->children : roots;
        list.erase(std::find(list.begin(), list.end(), node));
        if (selected == node) {
            // The control picks the parent (or nothing) and says so.
            selected = node->parent;
            if (onSelect)
                onSelect(selected);
        }
        node->parent = nullptr;
        node->text = "<deleted>";
    }
    void SetText(TreeItem item, const std::string &text) override { N(item)->text = text; }
    std::string Text(TreeItem item) override { return N(item)->text; }
    int Image(TreeItem item) override { return N(item)->image; }
    LONG Handle(TreeItem item) override { return N(item)->handle; }
    TreeItem Root() override { return roots.empty() ? nullptr : roots.front(); }
    TreeItem Parent(TreeItem item) override { return N(item)->parent; }
    std::vector<TreeItem> Children(TreeItem item) override
    {
        return std::vector<TreeItem>(N(item)->children.begin(), N(item)->children.end());
    }
    TreeItem Selected() override { return selected; }
    void Select(TreeItem item) override
    {
        if (selected == N(item))
            return;
        selected = N(item);
        if (onSelect)
            onSelect(item);
    }
    void EnsureVisible(TreeItem) override {}
    void Expand(TreeItem item, bool expand) override { N(item)->expanded = expand; }
    void Focus() override { focus = true; }
    bool HasFocus() override { return focus; }
    void SetStyle(DWORD, bool) override {}
    size_t Count() override
    {
        size_t n = 0;
        std::function<void(Node *)> count = [&](Node *node) {
            ++n;
            for (Node *c : node->children)
                count(c);
        };
        for (Node *r : roots)
            count(r);
        return n;
    }
    // "QOR(Ch1(Dev11(Blk111)))" with the texts.
    std::string Shape()
    {
        std::function<std::string(Node *)> shape = [&](Node *node) {
            std::string text = node->text;
            if (!node->children.empty()) {
                text += "(";
                for (size_t i = 0; i < node->children.size(); ++i)
                    text += (i ? "," : "") + shape(node->children[i]);
                text += ")";
            }
            return text;
        };
        std::string all;
        for (Node *r : roots)
            all += shape(r);
        return all;
    }
    TreeItem ByText(const std::string &text)
    {
        for (auto &n : store)
            if (n->text == text)
                return n.get();
        return nullptr;
    }
};

class FakeFiles : public IFileChooser {
public:
    std::deque<std::string> answers;  // "" cancels
    std::vector<std::string> asked;   // "open name folder" / "save name folder"
    bool Choose(bool open, const std::string &name, const std::string &folder, std::string &path) override
    {
        asked.push_back(std::string(open ? "open " : "save ") + name + " " + folder);
        if (answers.empty() || answers.front().empty()) {
            if (!answers.empty())
                answers.pop_front();
            return false;
        }
        path = answers.front();
        answers.pop_front();
        return true;
    }
};

class FakeDefaults : public IDriverDefaults {
public:
    std::map<std::string, std::string> values;
    std::vector<std::string> opened;
    bool opens = true, writes = true;
    bool Open(const std::string &machine) override
    {
        opened.push_back(machine.empty() ? "local" : machine);
        return opens;
    }
    bool Get(const std::string &name, std::string &value) override
    {
        auto found = values.find(name);
        if (found == values.end())
            return false;
        value = found->second;
        return true;
    }
    bool Put(const std::string &name, const std::string &value) override
    {
        if (!writes)
            return false;
        values[name] = value;
        return true;
    }
};

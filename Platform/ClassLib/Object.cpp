#include "Object.h"
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// Never destroyed: objects may outlive static destruction at process exit.
struct ClassList {
    std::mutex lock;
    std::vector<const CRuntimeClass *> records;
};

ClassList &Classes()
{
    static ClassList *list = new ClassList;
    return *list;
}

// Handles are 32 bits wide on every build. On a 32-bit build the object's
// address serves; on a 64-bit build an address does not fit, so each object
// draws the next free number instead.
struct LiveSet {
    std::mutex lock;
    std::unordered_map<uint32_t, const CObject *> byHandle;
    std::unordered_map<const CObject *, uint32_t> byObject;
    uint32_t next = 0;

    uint32_t Add(const CObject *object)
    {
        std::lock_guard<std::mutex> guard(lock);
        uint32_t handle;
        if (sizeof(void *) == sizeof(uint32_t)) {
            handle = uint32_t(reinterpret_cast<uintptr_t>(object));
        } else {
            do {
                handle = ++next;
            } while (handle == 0 || byHandle.count(handle));
        }
        byHandle[handle] = object;
        byObject[object] = handle;
        return handle;
    }

    void Remove(const CObject *object)
    {
        std::lock_guard<std::mutex> guard(lock);
        auto it = byObject.find(object);
        if (it == byObject.end())
            return;
        byHandle.erase(it->second);
        byObject.erase(it);
    }
};

LiveSet &Live()
{
    static LiveSet *set = new LiveSet;
    return *set;
}

const CRuntimeClass kObjectRecord = {"CObject", 0xFFFF, nullptr, nullptr};
const CClassRegistrar kObjectRegistrar(&kObjectRecord);

} // namespace

CObject *CRuntimeClass::CreateObject() const
{
    return createObject ? createObject() : nullptr;
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass *base) const
{
    for (const CRuntimeClass *c = this; c; c = c->baseClass)
        if (c == base)
            return true;
    return false;
}

const CRuntimeClass *CRuntimeClass::FromName(const char *name)
{
    if (!name)
        return nullptr;
    ClassList &list = Classes();
    std::lock_guard<std::mutex> guard(list.lock);
    for (const CRuntimeClass *record : list.records)
        if (std::strcmp(record->className, name) == 0)
            return record;
    return nullptr;
}

CObject *CRuntimeClass::CreateObject(const char *name)
{
    const CRuntimeClass *record = FromName(name);
    return record ? record->CreateObject() : nullptr;
}

CClassRegistrar::CClassRegistrar(const CRuntimeClass *record)
{
    ClassList &list = Classes();
    std::lock_guard<std::mutex> guard(list.lock);
    list.records.push_back(record);
}

CObject::CObject() { Live().Add(this); }
CObject::CObject(const CObject &) { Live().Add(this); }
CObject::~CObject() { Live().Remove(this); }

const CRuntimeClass *CObject::StaticClass() { return &kObjectRecord; }
const CRuntimeClass *CObject::GetRuntimeClass() const { return &kObjectRecord; }

bool CObject::IsKindOf(const CRuntimeClass *kind) const
{
    return GetRuntimeClass()->IsDerivedFrom(kind);
}

void CObject::Serialize(CArchive &) {}

uint32_t CObject::Handle() const
{
    LiveSet &set = Live();
    std::lock_guard<std::mutex> guard(set.lock);
    auto it = set.byObject.find(this);
    return it == set.byObject.end() ? 0 : it->second;
}

CObject *LiveObjectFromHandle(uint32_t handle, const CRuntimeClass *kind)
{
    LiveSet &set = Live();
    std::lock_guard<std::mutex> guard(set.lock);
    auto it = set.byHandle.find(handle);
    if (it == set.byHandle.end())
        return nullptr;
    CObject *object = const_cast<CObject *>(it->second);
    if (kind && !object->IsKindOf(kind))
        return nullptr;
    return object;
}

bool IsLiveObject(const CObject *object)
{
    LiveSet &set = Live();
    std::lock_guard<std::mutex> guard(set.lock);
    return set.byObject.count(object) != 0;
}

unsigned LiveObjectCount()
{
    LiveSet &set = Live();
    std::lock_guard<std::mutex> guard(set.lock);
    return unsigned(set.byObject.size());
}

// Our class layer's object base: runtime class records (name, schema,
// create-by-name, kind tests), a serialisable object base, and the
// process-wide set of live objects through which 32-bit handles handed to
// clients are checked (kind and liveness) before use.
#pragma once
#include <cstdint>

class CObject;
class CArchive;  // the storage archive; objects stream themselves through it

// One record per class: what a handle's kind is tested against and what a
// stored object is re-created from.
struct CRuntimeClass {
    const char *className;
    unsigned schema;                  // version number written with the object
    CObject *(*createObject)();       // null for classes that cannot be created by name
    const CRuntimeClass *baseClass;   // null for CObject

    // A new object of this class, or null when it cannot be created.
    CObject *CreateObject() const;
    // True when this class is base or derives from it.
    bool IsDerivedFrom(const CRuntimeClass *base) const;

    // The registered class of that exact name, or null.
    static const CRuntimeClass *FromName(const char *name);
    // A new object of the named class, or null when unknown or not creatable.
    static CObject *CreateObject(const char *name);
};

// Adds a class record to the process's list (done by the macros below).
struct CClassRegistrar {
    explicit CClassRegistrar(const CRuntimeClass *record);
};

class CObject {
public:
    virtual ~CObject();

    static const CRuntimeClass *StaticClass();
    virtual const CRuntimeClass *GetRuntimeClass() const;
    bool IsKindOf(const CRuntimeClass *kind) const;

    // Writes or reads the object's state; the base has none.
    virtual void Serialize(CArchive &archive);

    // The object's 32-bit handle in the live set (never 0 while it lives).
    uint32_t Handle() const;

protected:
    CObject();
    CObject(const CObject &);
    CObject &operator=(const CObject &) { return *this; }  // the handle stays with the object
};

// The live object that handle names, when it is of kind (or derived from
// it); null otherwise. Handles are never resolved by reading memory.
CObject *LiveObjectFromHandle(uint32_t handle, const CRuntimeClass *kind);
// True while the object exists (constructed and not yet destroyed).
bool IsLiveObject(const CObject *object);
// The number of live objects (for leak tests).
unsigned LiveObjectCount();

template <class T>
T *LiveObjectAs(uint32_t handle)
{
    return static_cast<T *>(LiveObjectFromHandle(handle, T::StaticClass()));
}

// In the class body: QOR_DECLARE_DYNAMIC(CThing) for a kind that can be
// tested, QOR_DECLARE_SERIAL(CThing) for one that is also created by name.
#define QOR_DECLARE_DYNAMIC(cls)                                        \
public:                                                                 \
    static const CRuntimeClass *StaticClass();                          \
    const CRuntimeClass *GetRuntimeClass() const override;

#define QOR_DECLARE_SERIAL(cls)                                         \
    QOR_DECLARE_DYNAMIC(cls)                                            \
    static CObject *CreateInstance();

// In one source file.
#define QOR_IMPLEMENT_RUNTIME(cls, base, schema, factory)               \
    namespace {                                                         \
    const CRuntimeClass cls##_record = {#cls, schema, factory, base::StaticClass()}; \
    const CClassRegistrar cls##_registrar(&cls##_record);               \
    }                                                                   \
    const CRuntimeClass *cls::StaticClass() { return &cls##_record; }   \
    const CRuntimeClass *cls::GetRuntimeClass() const { return &cls##_record; }

#define QOR_IMPLEMENT_DYNAMIC(cls, base)                                \
    QOR_IMPLEMENT_RUNTIME(cls, base, 0xFFFF, nullptr)

#define QOR_IMPLEMENT_SERIAL(cls, base, schema)                         \
    CObject *cls::CreateInstance() { return new cls; }                  \
    QOR_IMPLEMENT_RUNTIME(cls, base, schema, &cls::CreateInstance)

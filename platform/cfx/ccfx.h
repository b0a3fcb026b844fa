// The in-process component framework: the controlling unknown and the class-factory table.
#pragma once

#include <cstdint>
#include <vector>

#include "cfx/cfx.h"

// Base of every component: the controlling unknown and the one reference count.
class CCfxUnknown {
public:
    CCfxUnknown();
    CCfxUnknown(const CCfxUnknown&) = delete;
    CCfxUnknown& operator=(const CCfxUnknown&) = delete;

    // Serves IUnknown; anything else is E_NOINTERFACE with the slot cleared.
    virtual HRESULT DelegatedQueryInterface(REFIID iid, void** out);
    virtual ULONG DelegatedAddRef();
    // On the last release: FinalRelease, then delete.
    virtual ULONG DelegatedRelease();
    virtual HRESULT FinalConstruct();
    virtual void FinalRelease();
    virtual ~CCfxUnknown();

    IUnknown* ControllingUnknown() { return &inner_; }
    // Adds a reference, stores part in out, S_OK.
    HRESULT FinishQI(IUnknown* part, void** out);
    ULONG RefCount() const { return refs_; }

    // Components alive in this process; the unload query counts them.
    static long LiveObjects();

private:
    struct Inner final : IUnknown {
        explicit Inner(CCfxUnknown& o) : owner(o) {}
        HRESULT QueryInterface(REFIID iid, void** out) override;
        ULONG AddRef() override { return owner.DelegatedAddRef(); }
        ULONG Release() override { return owner.DelegatedRelease(); }
        CCfxUnknown& owner;
    } inner_{*this};
    ULONG refs_ = 1;  // created holding the creator's caller's reference
};

using CfxCreator = HRESULT (*)(CCfxUnknown** out);

// One row of a module's component table, and the framework that serves the tables.
struct CCfxFactoryData {
    const CLSID* clsid;
    CfxCreator creator;
    const char* description;
    const char* versionedProgId;
    const char* progId;
    const GUID* typeLib;
    void* reserved1;
    void* reserved2;

    // Takes a module's table. A null module handle is accepted.
    static void EnableFactoryComponents(void* module, const CCfxFactoryData* table, std::int32_t count);
    static HRESULT CanUnloadNow();  // S_OK when no component and no lock is alive, else S_FALSE
    // A class object (IClassFactory) for a row; CLASS_E_CLASSNOTAVAILABLE for other CLSIDs.
    static HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
    static HRESULT RegisterAll();    // every row into the process's ProgID registry
    static HRESULT UnregisterAll();  // and out again

    struct EnableCall {
        void* module;
        const CCfxFactoryData* table;
        std::int32_t count;
    };
    static const std::vector<EnableCall>& EnableCalls();
    static long ServerLocks();
};

#include "cfx/ccfx.h"

#include "com/object.h"

namespace {
long liveObjects = 0;
long serverLocks = 0;

std::vector<CCfxFactoryData::EnableCall>& Enabled() {
    static std::vector<CCfxFactoryData::EnableCall> calls;
    return calls;
}

const CCfxFactoryData* FindRow(REFCLSID clsid) {
    // The latest table wins, as a re-enabled module replaces its rows.
    for (auto call = Enabled().rbegin(); call != Enabled().rend(); ++call)
        for (std::int32_t i = 0; i < call->count; ++i)
            if (call->table[i].clsid && *call->table[i].clsid == clsid) return &call->table[i];
    return nullptr;
}

class ClassFactory final : public com::ComObject<IClassFactory> {
public:
    explicit ClassFactory(const CCfxFactoryData& row) : row_(row) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return Cfx::Guarded(GUID_NULL, GUID_NULL, [&]() -> HRESULT {
            CCfxUnknown* object = nullptr;
            HRESULT hr = row_.creator(&object);
            if (FAILED(hr)) return hr;
            if (!object) return E_UNEXPECTED;
            hr = object->FinalConstruct();
            if (SUCCEEDED(hr)) hr = object->DelegatedQueryInterface(iid, out);
            object->DelegatedRelease();
            return hr;
        });
    }
    HRESULT LockServer(BOOL lock) override {
        serverLocks += lock ? 1 : -1;
        return S_OK;
    }

private:
    const CCfxFactoryData& row_;
};
}  // namespace

CCfxUnknown::CCfxUnknown() { ++liveObjects; }
CCfxUnknown::~CCfxUnknown() { --liveObjects; }

long CCfxUnknown::LiveObjects() { return liveObjects; }

HRESULT CCfxUnknown::Inner::QueryInterface(REFIID iid, void** out) {
    return owner.DelegatedQueryInterface(iid, out);
}

HRESULT CCfxUnknown::DelegatedQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown) return FinishQI(&inner_, out);
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG CCfxUnknown::DelegatedAddRef() { return ++refs_; }

ULONG CCfxUnknown::DelegatedRelease() {
    ULONG n = --refs_;
    if (n == 0) {
        FinalRelease();
        delete this;
    }
    return n;
}

HRESULT CCfxUnknown::FinalConstruct() { return S_OK; }
void CCfxUnknown::FinalRelease() {}

HRESULT CCfxUnknown::FinishQI(IUnknown* part, void** out) {
    part->AddRef();
    *out = part;
    return S_OK;
}

void CCfxFactoryData::EnableFactoryComponents(void* module, const CCfxFactoryData* table,
                                              std::int32_t count) {
    Enabled().push_back({module, table, table ? count : 0});
}

const std::vector<CCfxFactoryData::EnableCall>& CCfxFactoryData::EnableCalls() { return Enabled(); }
long CCfxFactoryData::ServerLocks() { return serverLocks; }

HRESULT CCfxFactoryData::CanUnloadNow() {
    return (liveObjects == 0 && serverLocks == 0) ? S_OK : S_FALSE;
}

HRESULT CCfxFactoryData::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const CCfxFactoryData* row = FindRow(clsid);
    if (!row || !row->creator) return CLASS_E_CLASSNOTAVAILABLE;
    return Cfx::Guarded(GUID_NULL, GUID_NULL, [&]() -> HRESULT {
        auto* factory = new ClassFactory(*row);
        HRESULT hr = factory->QueryInterface(iid, out);
        factory->Release();
        return hr;
    });
}

HRESULT CCfxFactoryData::RegisterAll() {
    return Cfx::Guarded(GUID_NULL, GUID_NULL, []() -> HRESULT {
        for (const EnableCall& call : Enabled()) {
            for (std::int32_t i = 0; i < call.count; ++i) {
                const CCfxFactoryData& row = call.table[i];
                if (!row.clsid) continue;
                com::RegisterClass({*row.clsid, row.progId ? row.progId : "",
                                    row.versionedProgId ? row.versionedProgId : "",
                                    row.description ? row.description : "",
                                    row.typeLib ? *row.typeLib : GUID_NULL,
                                    [](REFCLSID id, REFIID iid, void** out) {
                                        return CCfxFactoryData::GetClassObject(id, iid, out);
                                    }});
            }
        }
        return S_OK;
    });
}

HRESULT CCfxFactoryData::UnregisterAll() {
    for (const EnableCall& call : Enabled())
        for (std::int32_t i = 0; i < call.count; ++i)
            if (call.table[i].clsid) com::UnregisterClass(*call.table[i].clsid);
    return S_OK;
}

#include "host/documents.h"

namespace host {

// ---- Arguments --------------------------------------------------------------

CfxComPtr<Arguments> Arguments::Create() { return CfxComPtr<Arguments>::Adopt(new Arguments()); }

HRESULT Arguments::GetValue(BSTR name, VARIANT* value) {
    if (!value) return E_POINTER;
    auto it = values_.find(com::BstrToUtf8(name));
    if (it == values_.end()) return E_INVALIDARG;
    VariantInit(value);
    return VariantCopy(value, &it->second.Get());
}

CfxVariant Arguments::AsImportArgument() {
    VARIANT v;
    v.vt = VT_UNKNOWN;
    v.punkVal = static_cast<ISBIOArguments*>(this);
    return CfxVariant(v);  // the copy takes its own reference
}

CfxVariant Arguments::AsExportArgument() {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (!array) throw Cfx::BadAlloc();
    CfxVariant element = AsImportArgument();
    std::int32_t index = 0;
    HRESULT hr = SafeArrayPutElement(array, &index, &element.Get());
    if (FAILED(hr)) {
        SafeArrayDestroy(array);
        throw Cfx::CfxResult::WithStandardDescription(hr);
    }
    CfxVariant out;
    VARIANT* v = out.Out();
    v->vt = VT_ARRAY | VT_VARIANT;
    v->parray = array;
    return out;
}

// ---- ContainerRoot ----------------------------------------------------------

ContainerRoot::ContainerRoot() : diagnostics_(DiagnosticsManager::Create()) {}

CfxComPtr<ContainerRoot> ContainerRoot::Create() { return CfxComPtr<ContainerRoot>::Adopt(new ContainerRoot()); }

HRESULT ContainerRoot::GetDiagnosticsManager(ISBDiagnosticsManager** manager) {
    if (!manager) return E_POINTER;
    diagnostics_->AddRef();
    *manager = diagnostics_.Get();
    return S_OK;
}

HRESULT ContainerRoot::GetContainerRoot(ISBContainerRoot** root) {
    if (!root) return E_POINTER;
    AddRef();
    *root = static_cast<ISBContainerRoot*>(this);
    return S_OK;
}

HRESULT ContainerRoot::Connect(IUnknown* component) {
    if (!component) return E_POINTER;
    CfxComPtr<ISBContainerRootConsumer> consumer;
    if (FAILED(component->QueryInterface(IID_ISBContainerRootConsumer, consumer.OutVoid()))) return S_FALSE;
    return consumer->OnConnect(static_cast<ISBContainerRootConsumed*>(this));
}

// ---- Model3dDocument --------------------------------------------------------

namespace {
std::unique_ptr<xxTreeRoot> NewTreeRoot(const std::string& progId) {
    const char* rootClass = progId == kMeso3dDocumentProgID ? "MesoTreeRoot" : "AtomisticTreeRoot";
    if (const xxClass* cls = xxClass::FindClassIfExists(rootClass)) {
        std::unique_ptr<xxClassInstance> instance = cls->CreateNew();
        if (auto* root = dynamic_cast<xxTreeRoot*>(instance.get())) {
            instance.release();
            return std::unique_ptr<xxTreeRoot>(root);
        }
    }
    return std::make_unique<xxTreeRoot>();
}
}  // namespace

Model3dDocument::Model3dDocument(std::string progId, std::unique_ptr<xxTreeRoot> tree)
    : progId_(std::move(progId)), tree_(std::move(tree)) {}

CfxComPtr<Model3dDocument> Model3dDocument::Create(const std::string& progId) {
    if (progId != kAtomistic3dDocumentProgID && progId != kMeso3dDocumentProgID)
        throw Cfx::CfxResult(E_INVALIDARG, "Unknown document class \"" + progId + "\"");
    return CfxComPtr<Model3dDocument>::Adopt(new Model3dDocument(progId, NewTreeRoot(progId)));
}

HRESULT Model3dDocument::GetProgID(BSTR* progId) {
    if (!progId) return E_POINTER;
    *progId = com::AllocBstrFromUtf8(progId_);
    return S_OK;
}

HRESULT Model3dDocument::GetScopeOwner(IUnknown** owner) {
    if (!owner) return E_POINTER;
    AddRef();
    *owner = static_cast<ISBDocumentRoot*>(this);
    return S_OK;
}

HRESULT Model3dDocument::CopyInto(ISBDocumentRoot*) { return E_NOTIMPL; }

HRESULT Model3dDocument::GetTreeRoot(xxTreeRoot** root) {
    if (!root) return E_POINTER;
    *root = tree_.get();
    return S_OK;
}

// ---- registration -------------------------------------------------------------

namespace {
class DocumentFactory final : public com::ComObject<IClassFactory> {
public:
    explicit DocumentFactory(std::string progId) : progId_(std::move(progId)) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return Cfx::Guarded(GUID_NULL, GUID_NULL, [&]() -> HRESULT {
            CfxComPtr<Model3dDocument> document = Model3dDocument::Create(progId_);
            return document->QueryInterface(iid, out);
        });
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    std::string progId_;
};

void RegisterDocumentClass(const CLSID& clsid, const char* progId, const char* description) {
    std::string name = progId;
    com::RegisterClass({clsid, name, name + ".1", description, GUID_NULL,
                        [name](REFCLSID, REFIID iid, void** out) -> HRESULT {
                            auto* factory = new DocumentFactory(name);
                            HRESULT hr = factory->QueryInterface(iid, out);
                            factory->Release();
                            return hr;
                        }});
}
}  // namespace

void RegisterHostClasses() {
    RegisterDocumentClass(CLSID_Atomistic3dDocument, kAtomistic3dDocumentProgID, "Atomistic 3D document");
    RegisterDocumentClass(CLSID_Meso3dDocument, kMeso3dDocumentProgID, "Mesoscale 3D document");
}

}  // namespace host

#include "host/documents.h"

#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "base/file_names.h"
#include "host/document_copy.h"

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

ContainerRoot::ContainerRoot()
    : diagnostics_(DiagnosticsManager::Create()),
      documents_(DocumentManager::Create(this)),
      scopes_(ScopeManager::Create()) {}

CfxComPtr<ContainerRoot> ContainerRoot::Create() { return CfxComPtr<ContainerRoot>::Adopt(new ContainerRoot()); }

HRESULT ContainerRoot::GetDiagnosticsManager(ISBDiagnosticsManager** manager) {
    if (!manager) return E_POINTER;
    diagnostics_->AddRef();
    *manager = diagnostics_.Get();
    return S_OK;
}

HRESULT ContainerRoot::GetDocumentManager(ISBDocumentManager** manager) {
    if (!manager) return E_POINTER;
    documents_->AddRef();
    *manager = documents_.Get();
    return S_OK;
}

HRESULT ContainerRoot::GetScopeManager(ISBScopeManager** manager) {
    if (!manager) return E_POINTER;
    scopes_->AddRef();
    *manager = scopes_.Get();
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

std::unordered_map<const xxTreeRoot*, IUnknown*>& DocumentsByTree() {
    static std::unordered_map<const xxTreeRoot*, IUnknown*> documents;
    return documents;
}

// The host document behind a document root; null for anyone else's.
Model3dDocument* HostDocument(ISBDocumentRoot* root) { return root ? dynamic_cast<Model3dDocument*>(root) : nullptr; }

// Every object of the registered class className below tree, depth first.
std::vector<xxObject*> DescendentsOfClass(const xxTreeRoot& tree, const char* className) {
    std::vector<xxObject*> out;
    const xxClass* cls = xxClass::FindClassIfExists(className);
    if (!cls) return out;
    const unsigned type = cls->TypeId();
    tree.ForEachDescendent([&](xxObject& object) {
        if (object.IsA(type)) out.push_back(&object);
        return true;
    });
    return out;
}

std::string PropertyText(const xxObject& object, std::string_view name) {
    for (const xxPropertyBase* p : object.PropertyTemplates())
        if (p->Name() == name) return p->IsAssigned(object) ? p->GetFromDifferentType(object) : std::string();
    return {};
}

HRESULT Failed(HRESULT hr, std::string text) {
    Cfx::SetLastError(hr, std::move(text));
    return hr;
}
}  // namespace

Model3dDocument::Model3dDocument(std::string progId, std::unique_ptr<xxTreeRoot> tree)
    : progId_(std::move(progId)), tree_(std::move(tree)) {
    DocumentsByTree()[tree_.get()] = static_cast<ISBDocumentRoot*>(this);
}

Model3dDocument::~Model3dDocument() { DocumentsByTree().erase(tree_.get()); }

xxTreeRoot& TreeRootOf(ISBDocumentRoot* document, const Cfx::CfxResult& noTree) {
    Cfx::CheckNullDereference(document);
    CfxComPtr<IModel3dDocumentDirect> direct;
    HRESULT hr = document->QueryInterface(IID_IModel3dDocumentDirect, direct.OutVoid());
    if (FAILED(hr)) Cfx::QueryInterfaceFailure(hr, IID_IModel3dDocumentDirect);
    xxTreeRoot* tree = nullptr;
    hr = direct->GetTreeRoot(&tree);
    if (FAILED(hr) || !tree) throw noTree;
    return *tree;
}

xxTreeRoot& TreeRootOf(ISBDocumentRoot* document) {
    return TreeRootOf(document, Cfx::CfxResult(E_UNEXPECTED, "Cannot access underlying document."));
}

IUnknown* GetDocumentInterface(const xxTreeRoot& tree) {
    auto it = DocumentsByTree().find(&tree);
    return it == DocumentsByTree().end() ? nullptr : it->second;
}

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

HRESULT Model3dDocument::CopyInto(ISBDocumentRoot* target) {
    return Cfx::Guarded(GUID_NULL, GUID_NULL, [&]() -> HRESULT {
        if (!target) throw Cfx::CfxResult(E_INVALIDARG, "CopyInto needs a document to copy into");
        CfxBSTR targetProgId;
        HRESULT hr = target->GetProgID(targetProgId.Out());
        if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
        if (targetProgId.ToString() != progId_)
            throw Cfx::CfxResult(E_INVALIDARG, "Cannot copy a " + progId_ + " into a " + targetProgId.ToString());
        CopyTree(*tree_, TreeRootOf(target, Cfx::CfxResult(E_UNEXPECTED, "The target document has no tree")));
        return S_OK;
    });
}

HRESULT Model3dDocument::ExportToStream(ISBStream* stream, const VARIANT& exporter, const VARIANT& args) {
    return Cfx::Guarded(GUID_NULL, IID_ISBDocumentExport, [&]() -> HRESULT {
        if (exporter.vt != VT_BSTR || !exporter.bstrVal)
            throw Cfx::CfxResult(E_INVALIDARG, "ExportToStream needs the exporter's ProgID");
        CfxComPtr<ISBExporter> component;
        Cfx::CfxCreateImpl(com::BstrToUtf8(exporter.bstrVal), nullptr, CLSCTX_INPROC_SERVER, IID_ISBExporter,
                           component.OutVoid(), true);
        if (root_) {
            CfxComPtr<ISBContainerRootConsumer> consumer;
            CfxComPtr<ISBContainerRootConsumed> consumed;
            if (SUCCEEDED(component->QueryInterface(IID_ISBContainerRootConsumer, consumer.OutVoid())) &&
                SUCCEEDED(root_->QueryInterface(IID_ISBContainerRootConsumed, consumed.OutVoid())))
                consumer->OnConnect(consumed.Get());
        }
        return component->Export(stream, static_cast<ISBDocumentRoot*>(this), args);
    });
}

HRESULT Model3dDocument::GetTreeRoot(xxTreeRoot** root) {
    if (!root) return E_POINTER;
    *root = tree_.get();
    return S_OK;
}

// ---- DocumentInfo -------------------------------------------------------------

HRESULT DocumentInfo::GetURL(BSTR* url) {
    if (!url) return E_POINTER;
    *url = com::AllocBstrFromUtf8(document_->URL());
    return S_OK;
}

HRESULT DocumentInfo::GetName(BSTR* name) {
    if (!name) return E_POINTER;
    const std::string& url = document_->URL();
    *name = com::AllocBstrFromUtf8(url.empty() ? document_->Name() : cartovane::FileStem(url));
    return S_OK;
}

CfxComPtr<ISBDocumentInfo> GetDocumentInfo(ISBDocumentRoot* document) {
    Model3dDocument* host = HostDocument(document);
    if (!host || (host->URL().empty() && host->Name().empty())) return {};
    return CfxComPtr<ISBDocumentInfo>::Adopt(new DocumentInfo(*host));
}

std::string DocumentFilePath(const xxTreeRoot& tree) {
    CfxComPtr<ISBDocumentRoot> document;
    if (IUnknown* owner = GetDocumentInterface(tree)) owner->QueryInterface(IID_ISBDocumentRoot, document.OutVoid());
    CfxComPtr<ISBDocumentInfo> info = GetDocumentInfo(document.Get());
    if (!info) return {};
    CfxBSTR url;
    if (FAILED(info->GetURL(url.Out()))) return {};
    return url.ToString();
}

// ---- DocumentManager ----------------------------------------------------------

CfxComPtr<DocumentManager> DocumentManager::Create(ISBContainerRoot* root) {
    return CfxComPtr<DocumentManager>::Adopt(new DocumentManager(root));
}

HRESULT DocumentManager::CreateDocument(BSTR progId, const VARIANT&, ISBDocumentRoot** document) {
    if (!document) return E_POINTER;
    *document = nullptr;
    const std::string name = com::BstrToUtf8(progId);
    CfxComPtr<ISBDocumentRoot> created;
    HRESULT hr = Cfx::CfxCreateImpl(name, nullptr, CLSCTX_INPROC_SERVER, IID_ISBDocumentRoot, created.OutVoid(), false);
    if (FAILED(hr)) return Failed(hr, "Cannot create a document of class \"" + name + "\"");
    if (Model3dDocument* host = HostDocument(created.Get())) host->SetContainerRoot(root_);
    *document = created.Detach();
    return S_OK;
}

HRESULT DocumentManager::CopyDependentFiles(ISBDocumentInfo* info, BSTR targetPath, LONG flags) {
    auto* documentInfo = info ? dynamic_cast<DocumentInfo*>(info) : nullptr;
    if (!documentInfo) return Failed(E_INVALIDARG, "No information on the document to copy from");
    namespace fs = std::filesystem;
    const fs::path source = documentInfo->Document().URL();
    const fs::path target = com::BstrToUtf8(targetPath);
    if (target.empty()) return Failed(E_INVALIDARG, "No target path for the dependent files");
    const auto options = (flags & SB_COPY_OVERWRITE) ? fs::copy_options::overwrite_existing
                                                     : fs::copy_options::skip_existing;
    for (xxObject* trajectory : DescendentsOfClass(documentInfo->Document().Tree(), "Trajectory")) {
        const std::string type = PropertyText(*trajectory, "TrajectoryType");
        if (type.empty()) continue;
        fs::path from = source;
        from.replace_extension(type);
        fs::path to = target;
        to.replace_extension(type);
        std::error_code error;
        if (!fs::is_regular_file(from, error)) continue;
        if (fs::equivalent(from, to, error)) continue;
        fs::copy_file(from, to, options, error);
        if (error) return Failed(STG_E_WRITEFAULT, "Cannot copy " + from.string() + " to " + to.string() + ": " + error.message());
    }
    return S_OK;
}

// ---- scopes -------------------------------------------------------------------

namespace {
class TrajectoryItem final : public com::ComObject<IModel3dScopeItem> {
public:
    TrajectoryItem(Model3dDocument& document, xxObject& trajectory) : document_(&document), trajectory_(&trajectory) {}
    HRESULT Remove() override {
        // The object may have gone since the item was handed out.
        for (xxObject* object : DescendentsOfClass(document_->Tree(), "Trajectory"))
            if (object == trajectory_) {
                object->Delete();
                trajectory_ = nullptr;
                return S_OK;
            }
        return Failed(E_UNEXPECTED, "The trajectory is no longer in the document");
    }

private:
    CfxComPtr<Model3dDocument> document_;
    xxObject* trajectory_;
};

// The document's trajectories as they stand at each call.
class TrajectoryItems final : public com::ComObject<ISBScopeItems> {
public:
    explicit TrajectoryItems(Model3dDocument& document) : document_(&document) {}
    HRESULT GetCount(LONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<LONG>(DescendentsOfClass(document_->Tree(), "Trajectory").size());
        return S_OK;
    }
    HRESULT GetItem(LONG index, IUnknown** item) override {
        if (!item) return E_POINTER;
        *item = nullptr;
        std::vector<xxObject*> trajectories = DescendentsOfClass(document_->Tree(), "Trajectory");
        if (index < 1 || static_cast<std::size_t>(index) > trajectories.size())
            return Failed(E_INVALIDARG, "No scope item " + std::to_string(index));
        *item = static_cast<IModel3dScopeItem*>(new TrajectoryItem(*document_.Get(), *trajectories[static_cast<std::size_t>(index - 1)]));
        return S_OK;
    }

private:
    CfxComPtr<Model3dDocument> document_;
};

class TrajectoryScope final : public com::ComObject<ISBScope> {
public:
    explicit TrajectoryScope(Model3dDocument& document) : document_(&document) {}
    HRESULT GetItems(ISBScopeItems** items) override {
        if (!items) return E_POINTER;
        *items = new TrajectoryItems(*document_.Get());
        return S_OK;
    }

private:
    CfxComPtr<Model3dDocument> document_;
};
}  // namespace

CfxComPtr<ScopeManager> ScopeManager::Create() { return CfxComPtr<ScopeManager>::Adopt(new ScopeManager()); }

HRESULT ScopeManager::CreateScope(IUnknown* owner, BSTR filter, ISBScope** scope) {
    if (!scope) return E_POINTER;
    *scope = nullptr;
    if (!owner) return Failed(E_INVALIDARG, "No owner for the scope");
    if (com::BstrToUtf8(filter) != kTrajectoryScopeFilter) return S_OK;
    CfxComPtr<ISBDocumentRoot> root;
    if (FAILED(owner->QueryInterface(IID_ISBDocumentRoot, root.OutVoid()))) return S_OK;
    Model3dDocument* document = HostDocument(root.Get());
    if (!document) return S_OK;
    *scope = new TrajectoryScope(*document);
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

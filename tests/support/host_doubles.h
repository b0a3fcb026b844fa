// Host doubles for the document components: a container root whose managers can be swapped or
// watched, a document that forwards to a real one with faults, a file stream without a path, a scope that never empties, and
// a stand-in for the host's own import component that counts its lives.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "com/object.h"
#include "host/documents.h"

namespace cvtest {

// Forwards to a real host document; can refuse ISBDocumentExport, give a null tree or claim
// another ProgID. Records every ExportToStream.
class ForwardingDocument final : public com::ComObject<ISBDocumentRoot, IModel3dDocumentDirect, ISBDocumentExport> {
public:
    static CfxComPtr<ForwardingDocument> Over(CfxComPtr<host::Model3dDocument> real) {
        return CfxComPtr<ForwardingDocument>::Adopt(new ForwardingDocument(std::move(real)));
    }
    bool refuseExport = false;
    bool nullTree = false;
    std::string progId;  // empty: the real document's
    struct ExportCall {
        std::string exporter;
        VARTYPE argsType;
    };
    std::vector<ExportCall> exports;
    std::function<void()> onExport;  // runs inside each ExportToStream, before forwarding

    host::Model3dDocument& Real() { return *real_.Get(); }

    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (refuseExport && iid == IID_ISBDocumentExport) {
            if (out) *out = nullptr;
            return E_NOINTERFACE;
        }
        return ComObject::QueryInterface(iid, out);
    }
    HRESULT GetProgID(BSTR* out) override {
        if (progId.empty()) return real_->GetProgID(out);
        *out = com::AllocBstrFromUtf8(progId);
        return S_OK;
    }
    HRESULT GetScopeOwner(IUnknown** owner) override { return real_->GetScopeOwner(owner); }
    HRESULT CopyInto(ISBDocumentRoot* target) override { return real_->CopyInto(target); }
    HRESULT GetTreeRoot(xxTreeRoot** root) override {
        if (nullTree) {
            *root = nullptr;
            return S_OK;
        }
        return real_->GetTreeRoot(root);
    }
    HRESULT ExportToStream(ISBStream* stream, const VARIANT& exporter, const VARIANT& args) override {
        exports.push_back({exporter.vt == VT_BSTR ? com::BstrToUtf8(exporter.bstrVal) : std::string(), args.vt});
        if (onExport) onExport();
        return real_->ExportToStream(stream, exporter, args);
    }

private:
    explicit ForwardingDocument(CfxComPtr<host::Model3dDocument> real) : real_(std::move(real)) {}
    CfxComPtr<host::Model3dDocument> real_;
};

// A file stream that cannot tell its path: GetFilePath fails; it holds no bytes.
class PathlessFileStream final : public com::ComObject<ISBStream, ISBFileStream> {
public:
    static CfxComPtr<PathlessFileStream> Create() { return CfxComPtr<PathlessFileStream>::Adopt(new PathlessFileStream); }
    HRESULT GetFilePath(BSTR*) override { return E_FAIL; }
    HRESULT Read(void*, ULONG, ULONG* done) override {
        if (done) *done = 0;
        return S_OK;
    }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_FAIL; }
    HRESULT Seek(LONG, DWORD, ULONG*) override { return E_FAIL; }
    HRESULT GetBinaryMode(VARIANT_BOOL* binary) override {
        *binary = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT SetBinaryMode(VARIANT_BOOL) override { return S_OK; }
    HRESULT GetSize(ULONG* size) override {
        *size = 0;
        return S_OK;
    }

private:
    PathlessFileStream() = default;
};

// Forwards to the host's document manager and records what it is asked; the documents it
// creates can be wrapped in ForwardingDocuments (the last one is kept for inspection).
class RecordingDocumentManager final : public com::ComObject<ISBDocumentManager> {
public:
    explicit RecordingDocumentManager(ISBDocumentManager* real) : real_(real) {}
    std::vector<std::string> created;
    int copyCalls = 0;
    std::string copyTarget;
    LONG copyFlags = 0;
    bool wrapCreated = false;
    bool refuseExportOfCopies = false;
    std::function<void()> onCopyExport;  // given to each wrapped copy
    CfxComPtr<ForwardingDocument> lastCopy;

    HRESULT CreateDocument(BSTR progId, const VARIANT& argument, ISBDocumentRoot** document) override {
        created.push_back(com::BstrToUtf8(progId));
        HRESULT hr = real_->CreateDocument(progId, argument, document);
        if (FAILED(hr) || !wrapCreated) return hr;
        auto* real = dynamic_cast<host::Model3dDocument*>(*document);
        lastCopy = ForwardingDocument::Over(CfxComPtr<host::Model3dDocument>::Adopt(real));
        lastCopy->refuseExport = refuseExportOfCopies;
        lastCopy->onExport = onCopyExport;
        lastCopy->AddRef();
        *document = static_cast<ISBDocumentRoot*>(lastCopy.Get());
        return hr;
    }
    HRESULT CopyDependentFiles(ISBDocumentInfo* info, BSTR targetPath, LONG flags) override {
        ++copyCalls;
        copyTarget = com::BstrToUtf8(targetPath);
        copyFlags = flags;
        return real_->CopyDependentFiles(info, targetPath, flags);
    }

private:
    CfxComPtr<ISBDocumentManager> real_;
};

// A scope whose one item never leaves: Remove succeeds and the count stays at 1.
class StuckScopeManager final : public com::ComObject<ISBScopeManager, ISBScope, ISBScopeItems, IModel3dScopeItem> {
public:
    int removals = 0;
    HRESULT CreateScope(IUnknown*, BSTR, ISBScope** scope) override { return Hand(static_cast<ISBScope*>(this), scope); }
    HRESULT GetItems(ISBScopeItems** items) override { return Hand(static_cast<ISBScopeItems*>(this), items); }
    HRESULT GetCount(LONG* count) override {
        *count = 1;
        return S_OK;
    }
    HRESULT GetItem(LONG, IUnknown** item) override {
        return Hand(static_cast<IUnknown*>(static_cast<IModel3dScopeItem*>(this)), item);
    }
    HRESULT Remove() override {
        ++removals;
        return S_OK;
    }

private:
    template <class T>
    HRESULT Hand(T* part, T** out) {
        AddRef();
        *out = part;
        return S_OK;
    }
};

// A diagnostics manager whose connections record what is posted and fail every post from the
// failFrom-th on (counted from 1 over the manager's life; 0 never fails).
class FailingDiagnostics final : public com::ComObject<ISBDiagnosticsManager> {
public:
    static CfxComPtr<FailingDiagnostics> Create(int failFrom) {
        return CfxComPtr<FailingDiagnostics>::Adopt(new FailingDiagnostics(failFrom));
    }
    std::vector<std::string> posted;  // the texts that were taken
    int attempts = 0;

    HRESULT GetConnection(BSTR, ISBDiagnosticsConnection** connection) override {
        *connection = new Connection(*this);
        return S_OK;
    }

private:
    class Connection final : public com::ComObject<ISBDiagnosticsConnection> {
    public:
        explicit Connection(FailingDiagnostics& owner) : owner_(&owner) {}
        HRESULT PostMessage(LONG, BSTR text) override {
            ++owner_->attempts;
            if (owner_->failFrom_ > 0 && owner_->attempts >= owner_->failFrom_) return E_FAIL;
            owner_->posted.push_back(com::BstrToUtf8(text));
            return S_OK;
        }
        HRESULT GetSource(BSTR* source) override {
            *source = com::AllocBstrFromUtf8("failing");
            return S_OK;
        }

    private:
        CfxComPtr<FailingDiagnostics> owner_;
    };
    explicit FailingDiagnostics(int failFrom) : failFrom_(failFrom) {}
    int failFrom_;
};

// The host's container root with its document manager recorded and its scope and diagnostics
// managers replaceable.
class TestContainerRoot final : public com::ComObject<ISBContainerRoot, ISBContainerRootConsumed> {
public:
    static CfxComPtr<TestContainerRoot> Create() { return CfxComPtr<TestContainerRoot>::Adopt(new TestContainerRoot()); }

    host::ContainerRoot& Real() { return *real_.Get(); }
    RecordingDocumentManager& Documents() { return *documents_.Get(); }
    void SetScopeManager(ISBScopeManager* scopes) { scopes_ = CfxComPtr<ISBScopeManager>(scopes); }
    void SetDiagnosticsManager(ISBDiagnosticsManager* diagnostics) {
        diagnostics_ = CfxComPtr<ISBDiagnosticsManager>(diagnostics);
    }

    HRESULT Connect(IUnknown* component) {
        CfxComPtr<ISBContainerRootConsumer> consumer;
        if (FAILED(component->QueryInterface(IID_ISBContainerRootConsumer, consumer.OutVoid()))) return S_FALSE;
        return consumer->OnConnect(static_cast<ISBContainerRootConsumed*>(this));
    }

    HRESULT GetDiagnosticsManager(ISBDiagnosticsManager** manager) override {
        if (!diagnostics_) return real_->GetDiagnosticsManager(manager);
        diagnostics_->AddRef();
        *manager = diagnostics_.Get();
        return S_OK;
    }
    HRESULT GetDocumentManager(ISBDocumentManager** manager) override {
        documents_->AddRef();
        *manager = documents_.Get();
        return S_OK;
    }
    HRESULT GetScopeManager(ISBScopeManager** manager) override {
        if (!scopes_) return real_->GetScopeManager(manager);
        scopes_->AddRef();
        *manager = scopes_.Get();
        return S_OK;
    }
    HRESULT GetContainerRoot(ISBContainerRoot** root) override {
        AddRef();
        *root = static_cast<ISBContainerRoot*>(this);
        return S_OK;
    }

private:
    TestContainerRoot() : real_(host::ContainerRoot::Create()) {
        CfxComPtr<ISBDocumentManager> documents;
        real_->GetDocumentManager(documents.Out());
        documents_ = CfxComPtr<RecordingDocumentManager>::Adopt(new RecordingDocumentManager(documents.Get()));
    }
    CfxComPtr<host::ContainerRoot> real_;
    CfxComPtr<RecordingDocumentManager> documents_;
    CfxComPtr<ISBScopeManager> scopes_;
    CfxComPtr<ISBDiagnosticsManager> diagnostics_;
};

// "SDCartovane.SDImport": registered on demand; counts creations and live objects, or fails
// every creation.
struct HostImporterStandIn {
    static inline int created = 0;
    static inline int alive = 0;
    static inline bool failCreation = false;
    static constexpr CLSID clsid = com::MakeGuid("{5D1A0000-0000-4000-8000-0000000000A1}");

    class Importer final : public com::ComObject<ISBImporter> {
    public:
        Importer() { ++alive; }
        ~Importer() override { --alive; }
        HRESULT Import(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return E_NOTIMPL; }
    };
    class Factory final : public com::ComObject<IClassFactory> {
    public:
        HRESULT CreateInstance(IUnknown*, REFIID iid, void** out) override {
            if (failCreation) return E_OUTOFMEMORY;
            ++created;
            auto* importer = new Importer();
            HRESULT hr = importer->QueryInterface(iid, out);
            importer->Release();
            return hr;
        }
        HRESULT LockServer(BOOL) override { return S_OK; }
    };

    static void Register() {
        com::RegisterClass({clsid, "SDCartovane.SDImport", "SDCartovane.SDImport.1", "host importer", GUID_NULL,
                            [](REFCLSID, REFIID iid, void** out) -> HRESULT {
                                auto* factory = new Factory();
                                HRESULT hr = factory->QueryInterface(iid, out);
                                factory->Release();
                                return hr;
                            }});
    }
    static void Unregister() { com::UnregisterClass(clsid); }
};

}  // namespace cvtest

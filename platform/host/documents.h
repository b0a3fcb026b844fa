// The host application's side: container root, documents, argument collections.
#pragma once

#include <map>
#include <string>

#include "cfx/cfx.h"
#include "com/object.h"
#include "datamodel/object.h"
#include "host/diagnostics.h"
#include "host/interfaces.h"

inline constexpr IID IID_IModel3dDocumentDirect = com::MakeGuid("{A4DB5111-9492-C6F8-BEEF-22FDDEA0CCF8}");
inline constexpr IID IID_IModel3dScopeItem = com::MakeGuid("{A4DB50FE-9492-C6F8-BEEF-22FDDEA0CCF8}");
inline constexpr IID IID_ISBIOArguments = com::MakeGuid("{16307EA7-AED8-62C0-8085-E227F363E8DF}");
inline constexpr CLSID CLSID_Atomistic3dDocument = com::MakeGuid("{A4DB512E-9492-C6F8-BEEF-22FDDEA0CCF8}");
inline constexpr CLSID CLSID_Meso3dDocument = com::MakeGuid("{E17C5D11-7107-428F-AF86-324CC61C9F85}");
inline constexpr char kAtomistic3dDocumentProgID[] = "Pendrake.Atomistic3dDocument";
inline constexpr char kMeso3dDocumentProgID[] = "Pendrake.Meso3dDocument";
// The scope filter that selects a 3-D document's trajectories.
inline constexpr char kTrajectoryScopeFilter[] = "Filter:Model3d!Trajectory";
// CopyDependentFiles: replace files that already stand beside the target.
inline constexpr LONG SB_COPY_OVERWRITE = 128;

// Direct access to a 3-D document's data-model tree.
struct IModel3dDocumentDirect : IUnknown {
    virtual HRESULT GetTreeRoot(xxTreeRoot** root) = 0;  // no reference counting: the document owns it

protected:
    ~IModel3dDocumentDirect() = default;
};
CV_DECLARE_IID(IModel3dDocumentDirect, IID_IModel3dDocumentDirect);

// An item of a 3-D document's scope.
struct IModel3dScopeItem : IUnknown {
    // Takes the item's object out of the document (and so out of every scope).
    virtual HRESULT Remove() = 0;

protected:
    ~IModel3dScopeItem() = default;
};
CV_DECLARE_IID(IModel3dScopeItem, IID_IModel3dScopeItem);

// Named import and export options.
struct ISBIOArguments : IUnknown {
    // Copies the value into *value; a failure when no value has that name.
    virtual HRESULT GetValue(BSTR name, VARIANT* value) = 0;

protected:
    ~ISBIOArguments() = default;
};
CV_DECLARE_IID(ISBIOArguments, IID_ISBIOArguments);

namespace host {

// The data-model tree of a 3-D document (no reference: the document owns it). A null document
// is a null dereference; a document without IModel3dDocumentDirect fails with the query's
// failure (Cfx::QueryInterfaceFailure); a failed GetTreeRoot or a null tree throws noTree,
// by default E_UNEXPECTED "Cannot access underlying document.".
xxTreeRoot& TreeRootOf(ISBDocumentRoot* document, const Cfx::CfxResult& noTree);
xxTreeRoot& TreeRootOf(ISBDocumentRoot* document);

class Arguments final : public com::ComObject<ISBIOArguments> {
public:
    static CfxComPtr<Arguments> Create();
    HRESULT GetValue(BSTR name, VARIANT* value) override;

    void SetValue(const std::string& name, CfxVariant value) { values_.insert_or_assign(name, std::move(value)); }
    // The collection as an import receives it (VT_UNKNOWN) and as an export receives it (an
    // array of variants whose element 0 holds it).
    CfxVariant AsImportArgument();
    CfxVariant AsExportArgument();

private:
    Arguments() = default;
    std::map<std::string, CfxVariant> values_;
};

// Creates documents by ProgID and copies the files documents depend on.
class DocumentManager final : public com::ComObject<ISBDocumentManager> {
public:
    // Documents it creates are connected to root (not held: the root holds the manager).
    static CfxComPtr<DocumentManager> Create(ISBContainerRoot* root);
    HRESULT CreateDocument(BSTR progId, const VARIANT& argument, ISBDocumentRoot** document) override;
    // Copies each trajectory's file (the document's file with the trajectory type as
    // extension) to the target path with that extension; a missing trajectory file is skipped,
    // an existing target is replaced only with SB_COPY_OVERWRITE.
    HRESULT CopyDependentFiles(ISBDocumentInfo* info, BSTR targetPath, LONG flags) override;

private:
    explicit DocumentManager(ISBContainerRoot* root) : root_(root) {}
    ISBContainerRoot* root_;
};

// Scopes of 3-D documents; the trajectory filter selects the document's trajectories, any
// other filter gives no scope (null, S_OK).
class ScopeManager final : public com::ComObject<ISBScopeManager> {
public:
    static CfxComPtr<ScopeManager> Create();
    HRESULT CreateScope(IUnknown* owner, BSTR filter, ISBScope** scope) override;

private:
    ScopeManager() = default;
};

class ContainerRoot final : public com::ComObject<ISBContainerRoot, ISBContainerRootConsumed> {
public:
    static CfxComPtr<ContainerRoot> Create();
    HRESULT GetDiagnosticsManager(ISBDiagnosticsManager** manager) override;
    HRESULT GetDocumentManager(ISBDocumentManager** manager) override;
    HRESULT GetScopeManager(ISBScopeManager** manager) override;
    HRESULT GetContainerRoot(ISBContainerRoot** root) override;

    DiagnosticsManager& Diagnostics() { return *diagnostics_.Get(); }
    // Connects a component to this root (its ISBContainerRootConsumer, when it has one).
    HRESULT Connect(IUnknown* component);

private:
    ContainerRoot();
    CfxComPtr<DiagnosticsManager> diagnostics_;
    CfxComPtr<DocumentManager> documents_;
    CfxComPtr<ScopeManager> scopes_;
};

// A 3-D document: its ProgID, its data-model tree and the file it was read from or saved to.
class Model3dDocument final : public com::ComObject<ISBDocumentRoot, IModel3dDocumentDirect, ISBDocumentExport> {
public:
    // progId names the class: kAtomistic3dDocumentProgID or kMeso3dDocumentProgID.
    static CfxComPtr<Model3dDocument> Create(const std::string& progId);
    ~Model3dDocument() override;
    HRESULT GetProgID(BSTR* progId) override;
    HRESULT GetScopeOwner(IUnknown** owner) override;
    // Replaces the target's tree with a deep copy of this one; the target must be a host
    // 3-D document of the same class.
    HRESULT CopyInto(ISBDocumentRoot* target) override;
    HRESULT GetTreeRoot(xxTreeRoot** root) override;
    // Creates the exporter the ProgID names, connects it to the document's container root
    // (when it has one) and returns its Export of this document.
    HRESULT ExportToStream(ISBStream* stream, const VARIANT& exporter, const VARIANT& args) override;

    xxTreeRoot& Tree() { return *tree_; }
    const std::string& ProgId() const { return progId_; }
    const std::string& URL() const { return url_; }
    void SetURL(std::string url) { url_ = std::move(url); }
    // The name of a document that has no file (a scratch document named after its target).
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    void SetContainerRoot(ISBContainerRoot* root) { root_ = CfxComPtr<ISBContainerRoot>(root); }

private:
    Model3dDocument(std::string progId, std::unique_ptr<xxTreeRoot> tree);
    std::string progId_;
    std::unique_ptr<xxTreeRoot> tree_;
    std::string url_;
    std::string name_;
    CfxComPtr<ISBContainerRoot> root_;
};

// The document whose tree this is (no reference added); null for a tree no document holds.
IUnknown* GetDocumentInterface(const xxTreeRoot& tree);

// The file a document lives in; GetURL gives the plain path, GetName its file name without
// directory and extension, or for a document without a file the name it was given.
class DocumentInfo final : public com::ComObject<ISBDocumentInfo> {
public:
    explicit DocumentInfo(Model3dDocument& document) : document_(&document) {}
    HRESULT GetURL(BSTR* url) override;
    HRESULT GetName(BSTR* name) override;
    Model3dDocument& Document() const { return *document_.Get(); }

private:
    CfxComPtr<Model3dDocument> document_;
};

// The information of a host document that has a file or a name; null for other documents and
// for a document never read, saved or named.
CfxComPtr<ISBDocumentInfo> GetDocumentInfo(ISBDocumentRoot* document);

// The path of the file of the document whose tree this is; empty for a tree no document with
// a file holds.
std::string DocumentFilePath(const xxTreeRoot& tree);

// Puts the host's document classes into the process's registry, creatable by ProgID.
void RegisterHostClasses();

}  // namespace host

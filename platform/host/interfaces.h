// The host interfaces a component implements or is handed.
#pragma once

#include "cfx/cfx.h"
#include "com/oleauto.h"
#include "com/unknown.h"
#include "host/stream.h"

inline constexpr IID IID_ISBImporter = com::MakeGuid("{D4620F89-E556-93B1-20F6-5CE115B0DC0A}");
inline constexpr IID IID_ISBExporter = com::MakeGuid("{D4620F8A-E556-93B1-20F6-5CE115B0DC0A}");
inline constexpr IID IID_ISBDocumentRoot = com::MakeGuid("{D4620F85-E556-93B1-20F6-5CE115B0DC0A}");
inline constexpr IID IID_ISBContainerRootConsumer = com::MakeGuid("{887E4C85-D840-4056-A01D-1E616FE0D673}");
inline constexpr IID IID_ISBContainerRoot = com::MakeGuid("{887E4C86-D840-4056-A01D-1E616FE0D673}");
inline constexpr IID IID_ISBContainerRootConsumed = com::MakeGuid("{887E4C87-D840-4056-A01D-1E616FE0D673}");
inline constexpr IID IID_ISBDocumentExport = com::MakeGuid("{16307EAB-AED8-62C0-8085-E227F363E8DF}");
inline constexpr IID IID_ISBDocumentInfo = com::MakeGuid("{16307EAC-AED8-62C0-8085-E227F363E8DF}");
inline constexpr IID IID_ISBDocumentManager = com::MakeGuid("{887E4C8A-D840-4056-A01D-1E616FE0D673}");
inline constexpr IID IID_ISBScopeManager = com::MakeGuid("{887E4C8B-D840-4056-A01D-1E616FE0D673}");
inline constexpr IID IID_ISBScope = com::MakeGuid("{887E4C8C-D840-4056-A01D-1E616FE0D673}");
inline constexpr IID IID_ISBScopeItems = com::MakeGuid("{887E4C8D-D840-4056-A01D-1E616FE0D673}");

// A host document; its operations arrive with the document issues.
struct ISBDocumentRoot : IUnknown {
    virtual HRESULT GetProgID(BSTR* progId) = 0;
    virtual HRESULT GetScopeOwner(IUnknown** owner) = 0;
    virtual HRESULT CopyInto(ISBDocumentRoot* target) = 0;

protected:
    ~ISBDocumentRoot() = default;
};
CV_DECLARE_IID(ISBDocumentRoot, IID_ISBDocumentRoot);

struct ISBImporter : IUnknown {
    virtual HRESULT Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) = 0;

protected:
    ~ISBImporter() = default;
};
CV_DECLARE_IID(ISBImporter, IID_ISBImporter);

struct ISBExporter : IUnknown {
    virtual HRESULT Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) = 0;

protected:
    ~ISBExporter() = default;
};
CV_DECLARE_IID(ISBExporter, IID_ISBExporter);

struct ISBDiagnosticsManager;

// Exports a document through a named exporter component.
struct ISBDocumentExport : IUnknown {
    // exporter: the exporter's ProgID (VT_BSTR); args go to its Export unchanged.
    virtual HRESULT ExportToStream(ISBStream* stream, const VARIANT& exporter, const VARIANT& args) = 0;

protected:
    ~ISBDocumentExport() = default;
};
CV_DECLARE_IID(ISBDocumentExport, IID_ISBDocumentExport);

// Where a document lives.
struct ISBDocumentInfo : IUnknown {
    virtual HRESULT GetURL(BSTR* url) = 0;  // the plain file path; empty for a document without a file
    // The file name without directory and extension; for a document without a file, the name
    // it was given.
    virtual HRESULT GetName(BSTR* name) = 0;

protected:
    ~ISBDocumentInfo() = default;
};
CV_DECLARE_IID(ISBDocumentInfo, IID_ISBDocumentInfo);

struct ISBDocumentManager : IUnknown {
    // A new, empty document of the class progId names.
    virtual HRESULT CreateDocument(BSTR progId, const VARIANT& argument, ISBDocumentRoot** document) = 0;
    // Copies the files the document depends on (its trajectory files) beside targetPath.
    virtual HRESULT CopyDependentFiles(ISBDocumentInfo* info, BSTR targetPath, LONG flags) = 0;

protected:
    ~ISBDocumentManager() = default;
};
CV_DECLARE_IID(ISBDocumentManager, IID_ISBDocumentManager);

// The items of a scope, counted and fetched from 1.
struct ISBScopeItems : IUnknown {
    virtual HRESULT GetCount(LONG* count) = 0;
    virtual HRESULT GetItem(LONG index, IUnknown** item) = 0;

protected:
    ~ISBScopeItems() = default;
};
CV_DECLARE_IID(ISBScopeItems, IID_ISBScopeItems);

// The objects of an owner that a filter selects.
struct ISBScope : IUnknown {
    virtual HRESULT GetItems(ISBScopeItems** items) = 0;

protected:
    ~ISBScope() = default;
};
CV_DECLARE_IID(ISBScope, IID_ISBScope);

struct ISBScopeManager : IUnknown {
    // *scope may come back null when nothing serves the filter.
    virtual HRESULT CreateScope(IUnknown* owner, BSTR filter, ISBScope** scope) = 0;

protected:
    ~ISBScopeManager() = default;
};
CV_DECLARE_IID(ISBScopeManager, IID_ISBScopeManager);

// The host's container root: the managers of one running application.
struct ISBContainerRoot : IUnknown {
    virtual HRESULT GetDiagnosticsManager(ISBDiagnosticsManager** manager) = 0;
    virtual HRESULT GetDocumentManager(ISBDocumentManager** manager) = 0;
    virtual HRESULT GetScopeManager(ISBScopeManager** manager) = 0;

protected:
    ~ISBContainerRoot() = default;
};
CV_DECLARE_IID(ISBContainerRoot, IID_ISBContainerRoot);

// The container root as handed to a consumer.
struct ISBContainerRootConsumed : IUnknown {
    virtual HRESULT GetContainerRoot(ISBContainerRoot** root) = 0;

protected:
    ~ISBContainerRootConsumed() = default;
};
CV_DECLARE_IID(ISBContainerRootConsumed, IID_ISBContainerRootConsumed);

struct ISBContainerRootConsumer : IUnknown {
    virtual HRESULT OnConnect(ISBContainerRootConsumed* root) = 0;
    virtual HRESULT OnDisconnect(ISBContainerRootConsumed* root) = 0;

protected:
    ~ISBContainerRootConsumer() = default;
};
CV_DECLARE_IID(ISBContainerRootConsumer, IID_ISBContainerRootConsumer);

// Keeps the container root the host connects between calls.
class CSBContainerRootConsumerImpl : public ISBContainerRootConsumer {
public:
    HRESULT OnConnect(ISBContainerRootConsumed* root) override;
    HRESULT OnDisconnect(ISBContainerRootConsumed* root) override;
    HRESULT OnConnect(ISBContainerRoot* root);
    HRESULT OnDisconnect(ISBContainerRoot* root);

    // The connected root; with required, a missing root throws E_UNEXPECTED.
    ISBContainerRoot* ContainerRoot(bool required) const;
    bool HasContainerRoot() const { return static_cast<bool>(root_); }
    // The connected root's diagnostics manager; throws E_UNEXPECTED without a root.
    CfxComPtr<ISBDiagnosticsManager> ObtainDiagnosticsManager() const;
    // The connected root's document and scope managers; a missing root or a failed call throws.
    CfxComPtr<ISBDocumentManager> ObtainDocumentManager() const;
    CfxComPtr<ISBScopeManager> ObtainScopeManager() const;

protected:
    CSBContainerRootConsumerImpl() = default;
    ~CSBContainerRootConsumerImpl() = default;

private:
    CfxComPtr<ISBContainerRoot> root_;
};

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
inline constexpr IID IID_ISBIOArguments = com::MakeGuid("{16307EA7-AED8-62C0-8085-E227F363E8DF}");
inline constexpr CLSID CLSID_Atomistic3dDocument = com::MakeGuid("{A4DB512E-9492-C6F8-BEEF-22FDDEA0CCF8}");
inline constexpr CLSID CLSID_Meso3dDocument = com::MakeGuid("{E17C5D11-7107-428F-AF86-324CC61C9F85}");
inline constexpr char kAtomistic3dDocumentProgID[] = "Pendrake.Atomistic3dDocument";
inline constexpr char kMeso3dDocumentProgID[] = "Pendrake.Meso3dDocument";

// Direct access to a 3-D document's data-model tree.
struct IModel3dDocumentDirect : IUnknown {
    virtual HRESULT GetTreeRoot(xxTreeRoot** root) = 0;  // no reference counting: the document owns it

protected:
    ~IModel3dDocumentDirect() = default;
};
CV_DECLARE_IID(IModel3dDocumentDirect, IID_IModel3dDocumentDirect);

// Named import and export options.
struct ISBIOArguments : IUnknown {
    // Copies the value into *value; a failure when no value has that name.
    virtual HRESULT GetValue(BSTR name, VARIANT* value) = 0;

protected:
    ~ISBIOArguments() = default;
};
CV_DECLARE_IID(ISBIOArguments, IID_ISBIOArguments);

namespace host {

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

class ContainerRoot final : public com::ComObject<ISBContainerRoot, ISBContainerRootConsumed> {
public:
    static CfxComPtr<ContainerRoot> Create();
    HRESULT GetDiagnosticsManager(ISBDiagnosticsManager** manager) override;
    HRESULT GetContainerRoot(ISBContainerRoot** root) override;

    DiagnosticsManager& Diagnostics() { return *diagnostics_.Get(); }
    // Connects a component to this root (its ISBContainerRootConsumer, when it has one).
    HRESULT Connect(IUnknown* component);

private:
    ContainerRoot();
    CfxComPtr<DiagnosticsManager> diagnostics_;
};

// A 3-D document: its ProgID and its data-model tree.
class Model3dDocument final : public com::ComObject<ISBDocumentRoot, IModel3dDocumentDirect> {
public:
    // progId names the class: kAtomistic3dDocumentProgID or kMeso3dDocumentProgID.
    static CfxComPtr<Model3dDocument> Create(const std::string& progId);
    HRESULT GetProgID(BSTR* progId) override;
    HRESULT GetScopeOwner(IUnknown** owner) override;
    HRESULT CopyInto(ISBDocumentRoot* target) override;
    HRESULT GetTreeRoot(xxTreeRoot** root) override;

    xxTreeRoot& Tree() { return *tree_; }

private:
    Model3dDocument(std::string progId, std::unique_ptr<xxTreeRoot> tree);
    std::string progId_;
    std::unique_ptr<xxTreeRoot> tree_;
};

// Puts the host's document classes into the process's registry, creatable by ProgID.
void RegisterHostClasses();

}  // namespace host

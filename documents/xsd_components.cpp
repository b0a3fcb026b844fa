#include "documents/xsd_components.h"

#include <istream>

#include "datamodel/atomistic.h"
#include "datamodel/symmetry/system.h"
#include "documents/xsd_file.h"
#include "frame/component_io.h"
#include "host/documents.h"
#include "utilities/import_utilities.h"
#include "utilities/trajectory.h"

namespace cartovane {

namespace {

// Library-wide: set while a document copy exports itself, so that export writes directly.
bool handOffInProgress = false;

class HandOffScope {
public:
    HandOffScope() { handOffInProgress = true; }
    ~HandOffScope() { handOffInProgress = false; }
    HandOffScope(const HandOffScope&) = delete;
    HandOffScope& operator=(const HandOffScope&) = delete;
};

xxTrajectory* FirstTrajectoryBelow(const xxTreeNode& node) {
    xxTrajectory* found = nullptr;
    node.ForEachDescendent([&](xxObject& object) {
        found = object.As<xxTrajectory>();
        return found == nullptr;
    });
    return found;
}

}  // namespace

bool XSDBaseImportExport::HandOffInProgress() { return handOffInProgress; }

xxSymmetrySystem* XSDBaseImportExport::FindMatterSymmetrySystem(const xxTreeRoot& tree) {
    std::vector<xxMatterSymmetrySystem*> systems = tree.ChildrenOf<xxMatterSymmetrySystem>();
    return systems.empty() ? nullptr : systems.front();
}

xxTrajectory* XSDBaseImportExport::FindTrajectory(const xxTreeRoot& tree) {
    std::vector<xxTrajectory*> children = tree.ChildrenOf<xxTrajectory>();
    if (!children.empty()) return children.front();
    if (xxSymmetrySystem* system = FindMatterSymmetrySystem(tree)) return FirstTrajectoryBelow(*system);
    return FirstTrajectoryBelow(tree);
}

bool XSDBaseImportExport::HasValidTrajectory(const xxTreeRoot& tree) {
    xxTrajectory* trajectory = FindTrajectory(tree);
    if (!trajectory) return false;
    (void)trajectory->IsTrajectoryValid();  // asked, but any trajectory counts
    return true;
}

HRESULT XSDBaseImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_XSDImportExport, IID_ISBImporter, [&]() -> HRESULT {
        if (!root) throw E_INVALIDARG;
        xxTreeRoot& tree = TreeRootOf(root);
        if (!stream) throw Cfx::CfxResult(E_INVALIDARG, "No stream to read the document from");

        ULONG size = 0;
        if (FAILED(stream->GetSize(&size))) throw Cfx::CfxResult(E_UNEXPECTED, "Cannot determine document size");
        if (size == 0) throw Cfx::CfxResult(E_UNEXPECTED, "Empty Document");
        HRESULT hr = S_OK;
        {
            CSBStreamBuf buffer(stream);
            std::istream in(&buffer);
            xxLoadXSD loader;
            hr = loader.LoadObjectFromStreamHR(in, &tree, "");
        }
        if (hr != S_OK) Cfx::SetLastError(hr);
        if (FAILED(hr)) Cfx::CfxResult::LastErrorCheckNotS_OK(hr);

        if (trajectoryDocument_) EnsureDefaultTrajectory(tree);
        else ScopeTrajectoryFiles(root);
        return S_OK;
    });
}

void XSDBaseImportExport::EnsureDefaultTrajectory(xxTreeRoot& tree) {
    if (xxTrajectory* trajectory = FindTrajectory(tree)) {
        (void)trajectory->IsTrajectoryValid();
        return;
    }
    // A default trajectory of the first type whose frame loader can serve it, or none at all.
    xxTrajectory* created = nullptr;
    try {
        created = ImportUtilities::CreateDefaultedTrajectory(ContainerRoot(true), tree, "his", xxBondable::classType);
        if (created->IsTrajectoryValid()) return;
        for (const char* type : {"trj", "arc"}) {
            created->SetTrajectoryType(type);
            if (created->IsTrajectoryValid()) return;
        }
    } catch (...) {
        // The search never fails the import.
    }
    if (created) {
        try {
            created->Delete();
        } catch (...) {
        }
    }
}

void XSDBaseImportExport::ScopeTrajectoryFiles(ISBDocumentRoot* document) {
    CfxComPtr<ISBScopeManager> scopes = ObtainScopeManager();
    Cfx::CheckNullDereference(document);
    CfxComPtr<IUnknown> owner;
    CheckHost(document->GetScopeOwner(owner.Out()));
    CfxBSTR filter{std::string_view(kTrajectoryScopeFilter)};
    CfxComPtr<ISBScope> scope;
    CheckHost(scopes->CreateScope(owner.Get(), filter.Get(), scope.Out()));
    if (!scope) return;
    CfxComPtr<ISBScopeItems> items;
    CheckHost(scope->GetItems(items.Out()));
    LONG count = 0;
    CheckHost(items->GetCount(&count));
    while (count > 0) {
        CfxComPtr<IUnknown> item;
        CheckHost(items->GetItem(1, item.Out()));
        CfxComPtr<IModel3dScopeItem> scopeItem;
        if (item) {
            HRESULT hr = item->QueryInterface(IID_IModel3dScopeItem, scopeItem.OutVoid());
            if (FAILED(hr)) Cfx::QueryInterfaceFailure(hr, IID_IModel3dScopeItem);
        }
        CheckHost(scopeItem->Remove());
        LONG remaining = 0;
        CheckHost(items->GetCount(&remaining));
        // A removal that takes nothing out of the scope would repeat for ever.
        if (remaining >= count)
            throw Cfx::CfxResult(E_UNEXPECTED, "Cannot take the trajectories out of the document's scope");
        count = remaining;
    }
}

HRESULT XSDBaseImportExport::Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) {
    return Cfx::Guarded(CLSID_XSDImportExport, IID_ISBExporter, [&]() -> HRESULT {
        if (!root) throw E_INVALIDARG;
        if (!trajectoryDocument_ && !handOffInProgress) {
            CfxBSTR progId;
            HRESULT hr = root->GetProgID(progId.Out());
            CLSID documentClass{};
            if (SUCCEEDED(hr)) hr = CLSIDFromProgID(progId.Get(), &documentClass);
            if (FAILED(hr)) {
                Cfx::SetLastError(hr);
                throw Cfx::CfxResult::ThrowFlag{};
            }
            if (documentClass == CLSID_Atomistic3dDocument || documentClass == CLSID_Meso3dDocument)
                return HandOff(documentClass, stream, root, args);
        }

        // A document without its tree is the bare HRESULT here.
        xxTreeRoot& tree = TreeRootOf(root, Cfx::CfxResult::WithStandardDescription(E_UNEXPECTED));

        xxSaveXSD saver;
        switch (WriteThrough(stream, [&](std::ostream& out) { return saver.SaveObjectToStream(out, &tree, ""); })) {
        case WriteOutcome::Written: break;
        case WriteOutcome::WriterFailed: throw Cfx::CfxResult(E_FAIL, "XSD save failed.");
        case WriteOutcome::StreamFailed:
            throw Cfx::CfxResult(E_FAIL, Cfx::CfxFormat("%1 save failed. ", {trajectoryDocument_ ? "XTD" : "XSD"}));
        }

        std::string path;
        if (stream && SUCCEEDED(FilePathOf(stream, path)) && trajectoryDocument_)
            CopyDependentTrajectoryFiles(tree, path);
        return S_OK;
    });
}

HRESULT XSDBaseImportExport::HandOff(REFCLSID documentClass, ISBStream* stream, ISBDocumentRoot* root,
                                     const VARIANT& args) {
    CfxComPtr<ISBDocumentRoot> copy = CreateTargetDocument(documentClass, root);
    ScopeTrajectoryFiles(copy.Get());
    HandOffScope handOff;
    CfxComPtr<ISBDocumentExport> exporter;
    HRESULT hr = copy->QueryInterface(IID_ISBDocumentExport, exporter.OutVoid());
    if (FAILED(hr)) return hr;

    LPOLESTR name = nullptr;
    hr = ProgIDFromCLSID(CLSID_XSDImportExport, &name);
    if (FAILED(hr) || !name) {
        CoTaskMemFree(name);
        throw Cfx::CfxResult(FAILED(hr) ? hr : E_UNEXPECTED, "Cannot name the XSD component for the document copy");
    }
    std::string progId = com::Utf16ToUtf8(name);
    CoTaskMemFree(name);
    CfxVariant exporterName{std::string_view(progId)};
    return exporter->ExportToStream(stream, exporterName.Get(), args);
}

CfxComPtr<ISBDocumentRoot> XSDBaseImportExport::CreateTargetDocument(REFCLSID documentClass, ISBDocumentRoot* source) {
    CfxComPtr<ISBDocumentManager> manager = ObtainDocumentManager();
    CfxBSTR progId{std::string_view(documentClass == CLSID_Meso3dDocument ? kMeso3dDocumentProgID
                                                                          : kAtomistic3dDocumentProgID)};
    CfxVariant none;
    CfxComPtr<ISBDocumentRoot> copy;
    CheckHost(manager->CreateDocument(progId.Get(), none.Get(), copy.Out()));
    if (!copy) throw Cfx::CfxResult(E_UNEXPECTED, "The host created no document");
    CheckHost(source->CopyInto(copy.Get()));
    return copy;
}

void XSDBaseImportExport::CopyDependentTrajectoryFiles(const xxTreeRoot& tree, const std::string& targetPath) {
    if (!FindTrajectory(tree)) return;
    CfxComPtr<ISBDocumentRoot> document;
    if (IUnknown* owner = host::GetDocumentInterface(tree))
        owner->QueryInterface(IID_ISBDocumentRoot, document.OutVoid());
    CfxComPtr<ISBDocumentInfo> info = host::GetDocumentInfo(document.Get());
    if (!info) return;
    CfxBSTR source;
    info->GetURL(source.Out());
    // A document with a name but no file has no files beside it; one saved over its own file
    // has them in place.
    const std::string sourcePath = source.ToString();
    if (sourcePath.empty() || sourcePath == targetPath) return;
    CfxComPtr<ISBDocumentManager> manager = ObtainDocumentManager();
    CfxBSTR target{std::string_view(targetPath)};
    HRESULT hr = manager->CopyDependentFiles(info.Get(), target.Get(), SB_COPY_OVERWRITE);
    if (hr != S_OK) Cfx::SetLastError(hr);
    if (FAILED(hr)) throw Cfx::CfxResult(E_UNEXPECTED, "Cannot copy dependent trajectory files");
}

void PreCreateSDImport() {
    CLSID importClass{};
    Cfx::CfxResult found = Cfx::MakeResultFromHresult(CLSIDFromProgID(u"SDCartovane.SDImport", &importClass));
    if (!Cfx::CfxResult::Succeeded(found)) return;
    try {
        CfxComPtr<ISBImporter> importer;
        Cfx::CfxCreateImpl(importClass, nullptr, 21, IID_ISBImporter, importer.OutVoid(), true);
    } catch (...) {
        // The host's importer is only woken up; its failure is not the import's.
    }
}

}  // namespace cartovane

#include "documents/binary_component.h"

#include "datamodel/object.h"
#include "datamodel/tree_size.h"
#include "documents/binary_serializer.h"
#include "documents/xsd_components.h"
#include "frame/component_io.h"
#include "host/documents.h"
#include "utilities/trajectory.h"

namespace cartovane {

HRESULT CBinaryImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_BinaryImportExport, IID_ISBImporter, [&]() -> HRESULT {
        Cfx::WithinPrefixedLevels(kBinaryImportPrefix, [&] {
            if (!root) throw E_INVALIDARG;
            xxTreeRoot& tree = TreeRootOf(root);
            Cfx::CheckNullDereference(stream);
            ULONG size = 0;
            if (FAILED(stream->GetSize(&size))) throw Cfx::CfxResult(E_UNEXPECTED, "Cannot determine document size");
            if (size == 0) throw Cfx::CfxResult(E_UNEXPECTED, "Empty Document");
            CheckHost(stream->SetBinaryMode(VARIANT_TRUE));
            // Trajectories are made by importers or from a document's class table, never by the
            // objects' Load: a tree that was empty has one only when the stream names the class,
            // and the search for it walks the whole model.
            bool mayHoldTrajectory = tree.NumChildren() != 0;
            try {
                CBinaryDMImporter reader(*stream);
                reader.ReadHeaderAndTrailer(tree);
                reader.ReadContainedObject(tree, nullptr, xxSaveKind::WithId);
                reader.CheckEverythingRead();
                reader.NotifyAllObjectsLoaded();
                mayHoldTrajectory = mayHoldTrajectory || reader.TableHasClassOf(xxTrajectory::classType);
            } catch (...) {
                tree.RemoveDescendents();  // never half a document
                throw;
            }
            CfxBSTR progId;
            HRESULT hr = root->GetProgID(progId.Out());
            CLSID documentClass{};
            if (SUCCEEDED(hr)) hr = CLSIDFromProgID(progId.Get(), &documentClass);
            if (FAILED(hr)) Cfx::CfxResult::LastErrorCheckNotS_OK(hr);
            if (mayHoldTrajectory && (documentClass == CLSID_Atomistic3dDocument || documentClass == CLSID_Meso3dDocument))
                (void)XSDBaseImportExport::HasValidTrajectory(tree);
        });
        return S_OK;
    });
}

HRESULT CBinaryImportExport::Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_BinaryImportExport, IID_ISBExporter, [&]() -> HRESULT {
        if (!root) throw E_INVALIDARG;
        // A document without its tree is the bare HRESULT here.
        xxTreeRoot& tree = TreeRootOf(root, Cfx::CfxResult::WithStandardDescription(E_UNEXPECTED));
        Cfx::CheckNullDereference(stream);
        CheckHost(stream->SetBinaryMode(VARIANT_TRUE));
        CBinaryDMExporter writer(*stream);
        writer.Reserve(EstimatedObjectsBelow(tree));
        writer.WriteHeaderPlaceholder();
        writer.SaveObject(tree, xxSaveKind::WithId);
        writer.WriteTrailer();
        return S_OK;
    });
}

}  // namespace cartovane

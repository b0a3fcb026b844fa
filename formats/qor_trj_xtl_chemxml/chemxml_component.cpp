#include "formats/qor_trj_xtl_chemxml/chemxml_component.h"

#include <istream>

#include "formats/qor_trj_xtl_chemxml/chemxml_reader.h"
#include "formats/qor_trj_xtl_chemxml/chemxml_writer.h"
#include "frame/clsids.h"
#include "frame/component_io.h"

namespace cartovane {

namespace {
// The saver's type values for this format: UTF-8, and no declaration before the root.
constexpr int kEncodingUtf8 = 1;
constexpr int kNoHeader = kXmlHeaderNone;
}  // namespace

HRESULT ChemistryXMLImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_ChemistryXMLImportExport, IID_ISBImporter, [&]() -> HRESULT {
        Cfx::WithinPrefixedLevels("Unable to parse ChemistryXML as valid XML", [&] {
            if (!root || !stream) throw Cfx::CfxResult(E_POINTER, "invalid input parameter");
            xxTreeRoot& tree = TreeRootOf(root, Cfx::CfxResult(E_ABORT, "Cannot access underlying document."));
            ULONG size = 0;
            if (FAILED(stream->GetSize(&size))) throw Cfx::CfxResult(E_ABORT, "Cannot determine document size");
            if (size == 0) throw Cfx::CfxResult(E_ABORT, "Empty Document");
            CSBStreamBuf buffer(stream);
            std::istream in(&buffer);
            xmlTree xml;
            xmlTreeAndLeafTextLoader(in, xml).LoadWithoutDTDValidation();
            chemxml::ChemistryXMLToDM(tree).Build(&xml);
        });
        return S_OK;
    });
}

HRESULT ChemistryXMLImportExport::Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_ChemistryXMLImportExport, IID_ISBExporter, [&]() -> HRESULT {
        if (!root || !stream) throw Cfx::CfxResult(E_POINTER, "invalid input parameter");
        const xxTreeRoot& tree = TreeRootOf(root, Cfx::CfxResult::WithStandardDescription(E_ABORT));
        // The writer refuses a document before anything reaches the stream.
        chemxml::DMToChemistryXML writer(&tree);
        const WriteOutcome written =
            WriteThrough(stream, [&](std::ostream& out) { return writer.Write(out, kEncodingUtf8, kNoHeader); });
        if (written != WriteOutcome::Written)
            throw Cfx::CfxResult(STG_E_WRITEFAULT, "The ChemistryXML text could not be written whole");
        return S_OK;
    });
}

ChemistryXMLToXODImport::ChemistryXMLToXODImport() : InsertPhysicalSystemImport(CLSID_ChemistryXMLImportExport) {}

}  // namespace cartovane

#include "formats/qor_trj_xtl_chemxml/xtl_component.h"

#include <istream>

#include "formats/qor_trj_xtl_chemxml/xtl_reader.h"
#include "frame/clsids.h"
#include "frame/component_io.h"

namespace cartovane {

HRESULT CXTLImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_XTLImportExport, IID_ISBImporter, [&]() -> HRESULT {
        if (!root) throw Cfx::CfxResult(E_INVALIDARG, "Cannot access document root.");
        xxTreeRoot& tree = TreeRootOf(root);

        Cfx::CheckNullDereference(stream);
        CSBStreamBuf buffer(stream);
        std::istream in(&buffer);
        ULONG size = 0;
        const HRESULT hr = stream->GetSize(&size);
        if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
        if (size == 0) throw Cfx::CfxResult(E_ABORT, "The file appears to be empty.");

        // The name the warnings give the document.
        CfxComPtr<ISBDocumentInfo> info = host::GetDocumentInfo(root);
        CfxBSTR name;
        if (!info || FAILED(info->GetName(name.Out())))
            throw Cfx::CfxResult(E_ABORT, "Cannot extract name of document.");

        CfxComPtr<ISBDiagnosticsConnection> connection = DiagnosticsFor(*this, "XTL importer", DiagnosticsNeed::Required);
        xtl::XTLReader reader(name.ToString());
        reader.ExpectBytes(size);
        if (!reader.ReadXtlFile(in, &tree, connection.Get()))
            throw Cfx::CfxResult(E_UNEXPECTED, "Unable to import XTL file.");
        return S_OK;
    });
}

XTLToXODImport::XTLToXODImport() : InsertPhysicalSystemImport(CLSID_XTLImportExport) {}

}  // namespace cartovane

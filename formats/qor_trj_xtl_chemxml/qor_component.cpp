#include "formats/qor_trj_xtl_chemxml/qor_component.h"

#include <istream>

#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "formats/qor_trj_xtl_chemxml/qor_writer.h"
#include "frame/clsids.h"
#include "frame/component_io.h"
#include "frame/component_options.h"

namespace cartovane {

namespace {

// The document's file name; empty when the document gives no information.
std::string DocumentName(ISBDocumentRoot* root) {
    CfxComPtr<ISBDocumentInfo> info = host::GetDocumentInfo(root);
    if (!info) return {};
    CfxBSTR name;
    if (FAILED(info->GetName(name.Out()))) return {};
    return name.ToString();
}

}  // namespace

HRESULT CQORImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_QORImportExport, IID_ISBImporter, [&]() -> HRESULT {
        xxTreeRoot& tree = TreeRootOf(root);
        const std::string name = DocumentName(root);
        ULONG size = 0;
        HRESULT hr = stream->GetSize(&size);
        if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
        if (size == 0) throw Cfx::CfxResult(E_UNEXPECTED, "The file is empty");
        CSBStreamBuf buffer(stream);
        std::istream in(&buffer);
        xxLoadQOR reader;
        hr = reader.LoadObjectFromStreamHR(in, &tree, name);
        // The reader reported why (a message identifier) before it gave up.
        if (FAILED(hr)) throw Cfx::CfxResult::Reported(hr);
        return hr;
    });
}

HRESULT CQORImportExport::Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) {
    return Cfx::Guarded(CLSID_QORImportExport, IID_ISBExporter, [&]() -> HRESULT {
        xxTreeRoot& tree = TreeRootOf(root);
        CfxComPtr<ISBIOArguments> options = ExportArguments(args);
        if (BoolOption(options.Get(), "UnixFormat", false)) {
            const HRESULT hr = stream->SetBinaryMode(VARIANT_TRUE);
            if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
        }
        xxSaveQOR writer;
        switch (WriteThrough(stream, [&](std::ostream& out) { return writer.SaveObjectToStream(out, &tree, "qor"); })) {
            case WriteOutcome::Written: return S_OK;
            case WriteOutcome::WriterFailed: throw Cfx::CfxResult(E_FAIL, writer.GetErrorMessage());
            case WriteOutcome::StreamFailed: break;
        }
        throw Cfx::CfxResult(E_FAIL, "The QOR file could not be written");
    });
}

QORToXODImport::QORToXODImport() : InsertPhysicalSystemImport(CLSID_QORImportExport) {}

}  // namespace cartovane

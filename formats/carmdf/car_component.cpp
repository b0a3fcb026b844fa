#include "formats/carmdf/car_component.h"

#include <istream>
#include <ostream>

#include "formats/carmdf/car_reader.h"
#include "formats/carmdf/car_writer.h"
#include "frame/clsids.h"
#include "frame/component_options.h"
#include "frame/messages.h"
#include "frame/stream_buf.h"
#include "utilities/diagnostics_utilities.h"

namespace cartovane {

namespace {
// The document's data-model tree; failures come back as the host's HRESULT.
HRESULT TreeRootOf(ISBDocumentRoot* root, xxTreeRoot*& tree) {
    tree = nullptr;
    Cfx::CheckNullDereference(root);
    CfxComPtr<IModel3dDocumentDirect> direct;
    HRESULT hr = root->QueryInterface(IID_IModel3dDocumentDirect, direct.OutVoid());
    if (FAILED(hr)) return hr;
    hr = direct->GetTreeRoot(&tree);
    if (FAILED(hr)) return hr;
    return tree ? S_OK : E_UNEXPECTED;
}

// The path behind a file stream; null when the stream has no file behind it.
HRESULT FilePathOf(ISBStream* stream, std::string& path) {
    Cfx::CheckNullDereference(stream);
    CfxComPtr<ISBFileStream> file;
    HRESULT hr = stream->QueryInterface(IID_ISBFileStream, file.OutVoid());
    if (FAILED(hr)) return hr;
    CfxBSTR text;
    file->GetFilePath(text.Out());
    path = text.ToString();
    return S_OK;
}

constexpr HRESULT kInformationLost = 0x00040001;
}  // namespace

HRESULT CCARImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) {
    return Cfx::Guarded(CLSID_CARImportExport, IID_ISBImporter, [&]() -> HRESULT {
        xxTreeRoot* tree = nullptr;
        HRESULT hr = TreeRootOf(root, tree);
        if (FAILED(hr)) return hr;

        CfxComPtr<ISBIOArguments> options = ImportArguments(args);
        bool calculateBonds = BoolOption(options.Get(), "CalculateBondsIfNoMDF", true);
        bool suppressWarnings = BoolOption(options.Get(), "SuppressWarningMessages", false);

        CfxComPtr<ISBDiagnosticsConnection> connection;
        if (!suppressWarnings)
            connection = DiagnosticsUtilities::GetDiagnosticsConnection(ContainerRoot(true), "CAR/MDF importer");

        xxLoadCAR reader;
        std::string path;
        hr = FilePathOf(stream, path);
        if (FAILED(hr)) {
            CfxReportError(E_UNEXPECTED, CLSID_CARImportExport, msg::CARLOAD_FILE_STREAM);
            return hr;
        }
        CSBStreamBuf buffer(stream);
        std::istream in(&buffer);
        ULONG size = 0;
        hr = stream->GetSize(&size);
        if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
        if (size == 0) throw Cfx::CfxResult(E_UNEXPECTED, "The file is empty");
        return reader.LoadCarMdfFile(in, *tree, path, connection.Get(), calculateBonds);
    });
}

HRESULT CCARImportExport::Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) {
    return Cfx::Guarded(CLSID_CARImportExport, IID_ISBExporter, [&]() -> HRESULT {
        // Nothing to write is a failure, as it is for the import: never S_OK with no file.
        xxTreeRoot* tree = nullptr;
        HRESULT hr = TreeRootOf(root, tree);
        if (FAILED(hr)) return hr;

        xxSaveCAR writer;
        std::string path;
        hr = FilePathOf(stream, path);
        if (FAILED(hr)) return hr;

        CfxComPtr<ISBDiagnosticsConnection> connection;
        if (HasContainerRoot()) {
            CfxComPtr<ISBDiagnosticsManager> manager = ObtainDiagnosticsManager();
            CfxBSTR name(std::string_view("Car/Mdf Export"));
            manager->GetConnection(name.Get(), connection.Out());
        }

        CfxComPtr<ISBIOArguments> options = ExportArguments(args);
        bool unixFormat = BoolOption(options.Get(), "UnixFormat", false);
        if (unixFormat) {
            hr = stream->SetBinaryMode(VARIANT_TRUE);
            if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
        }

        bool noAtomSetWarnings = true;
        bool written = false;
        {
            CSBStreamBuf buffer(stream);
            std::ostream out(&buffer);
            written = writer.WriteCarAndMdf(out, *tree, path, connection.Get(), noAtomSetWarnings, unixFormat);
            // The adapter holds the last bytes: a failed final write must fail the export.
            out.flush();
            if (!out) written = false;
        }
        if (!noAtomSetWarnings && connection) {
            CfxBSTR text("Saving file " + path +
                         " - As a result of the preceding warnings, some information will be lost "
                         "from the atomset portion of the mdf file");
            connection->PostMessage(SB_DIAG_WARNING, text.Get());
        }
        if (!written) return E_FAIL;
        return noAtomSetWarnings ? S_OK : kInformationLost;
    });
}

CARToXODImport::CARToXODImport() : InsertPhysicalSystemImport(CLSID_CARImportExport) {}

}  // namespace cartovane

#include "formats/carmdf/car_component.h"

#include <istream>

#include "formats/carmdf/car_reader.h"
#include "formats/carmdf/car_writer.h"
#include "frame/clsids.h"
#include "frame/component_io.h"
#include "frame/component_options.h"
#include "frame/messages.h"
#include "host/streams.h"

namespace cartovane {

namespace {
constexpr HRESULT kInformationLost = 0x00040001;
}  // namespace

HRESULT CCARImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) {
    return Cfx::Guarded(CLSID_CARImportExport, IID_ISBImporter, [&]() -> HRESULT {
        xxTreeRoot& tree = TreeRootOf(root);

        CfxComPtr<ISBIOArguments> options = ImportArguments(args);
        bool calculateBonds = BoolOption(options.Get(), "CalculateBondsIfNoMDF", true);
        bool suppressWarnings = BoolOption(options.Get(), "SuppressWarningMessages", false);

        CfxComPtr<ISBDiagnosticsConnection> connection;
        if (!suppressWarnings) connection = DiagnosticsFor(*this, "CAR/MDF importer", DiagnosticsNeed::Required);

        xxLoadCAR reader;
        std::string path;
        HRESULT hr = FilePathOf(stream, path);
        if (FAILED(hr)) {
            CfxReportError(E_UNEXPECTED, CLSID_CARImportExport, msg::CARLOAD_FILE_STREAM);
            throw Cfx::CfxResult::Reported(hr);
        }
        CSBStreamBuf buffer(stream);
        std::istream in(&buffer);
        ULONG size = 0;
        hr = stream->GetSize(&size);
        if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
        if (size == 0) throw Cfx::CfxResult(E_UNEXPECTED, "The file is empty");
        return reader.LoadCarMdfFile(in, tree, path, connection.Get(), calculateBonds);
    });
}

HRESULT CCARImportExport::Export(ISBStream* stream, ISBDocumentRoot* root, const VARIANT& args) {
    return Cfx::Guarded(CLSID_CARImportExport, IID_ISBExporter, [&]() -> HRESULT {
        // Nothing to write is a failure, as it is for the import: never S_OK with no file.
        xxTreeRoot& tree = TreeRootOf(root);

        xxSaveCAR writer;
        std::string path;
        HRESULT hr = FilePathOf(stream, path);
        if (FAILED(hr)) return hr;

        CfxComPtr<ISBDiagnosticsConnection> connection =
            DiagnosticsFor(*this, "Car/Mdf Export", DiagnosticsNeed::IfConnected);

        CfxComPtr<ISBIOArguments> options = ExportArguments(args);
        bool unixFormat = BoolOption(options.Get(), "UnixFormat", false);
        if (unixFormat) {
            hr = stream->SetBinaryMode(VARIANT_TRUE);
            if (FAILED(hr)) throw Cfx::CfxResult::WithStandardDescription(hr);
        }

        // The CAR takes its file's place together with the MDF, once both are complete.
        writer.SetCarStream(stream);
        bool noAtomSetWarnings = true;
        const bool written = WriteThrough(stream, [&](std::ostream& out) {
            return writer.WriteCarAndMdf(out, tree, path, connection.Get(), noAtomSetWarnings, unixFormat);
        }) == WriteOutcome::Written;
        if (!noAtomSetWarnings && connection) {
            CfxBSTR text("Saving file " + path +
                         " - As a result of the preceding warnings, some information will be lost "
                         "from the atomset portion of the mdf file");
            connection->PostMessage(SB_DIAG_WARNING, text.Get());
        }
        // The writer reported why (a message identifier) before it gave up.
        if (!written) throw Cfx::CfxResult::Reported(E_FAIL);
        return noAtomSetWarnings ? S_OK : kInformationLost;
    });
}

CARToXODImport::CARToXODImport() : InsertPhysicalSystemImport(CLSID_CARImportExport) {}

}  // namespace cartovane

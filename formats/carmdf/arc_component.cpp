#include "formats/carmdf/arc_component.h"

#include <sys/stat.h>

#include <fstream>
#include <optional>
#include <string>

#include "base/file_names.h"
#include "datamodel/atomistic.h"
#include "formats/carmdf/car_reader.h"
#include "formats/carmdf/car_scan.h"
#include "frame/clsids.h"
#include "frame/component_io.h"
#include "host/documents.h"
#include "utilities/import_utilities.h"
#include "utilities/load.h"

namespace cartovane {

namespace {
constexpr HRESULT kOpenFailed = static_cast<HRESULT>(0x8007006E);
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);

// The file the model is read from: the CAR file beside the ARC file when there is one (its
// extension in any case), else the ARC file itself, whose first frame has the CAR layout.
std::string ModelPath(const std::string& arcPath) {
    if (arcPath.empty()) return arcPath;
    std::optional<std::string> car = FindFileIgnoringCase(carscan::CompanionPath(arcPath, ".car").path);
    return car ? *car : arcPath;
}

// Why the trajectory does not play: what its loader said, if anything.
std::string LoaderError(xxTrajectory& trajectory) {
    if (!trajectory.GetLoaderError().empty()) return trajectory.GetLoaderError();
    const auto* load = dynamic_cast<const xxLoad*>(trajectory.GetFrameLoader());
    return load ? load->GetErrorMessage() : std::string();
}
}  // namespace

HRESULT CARCImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_ARCImportExport, IID_ISBImporter, [&]() -> HRESULT {
        if (!stream || !root) throw Cfx::CfxResult::WithStandardDescription(E_INVALIDARG);
        xxTreeRoot& tree = TreeRootOf(root, Cfx::CfxResult(E_UNEXPECTED, "Failed To Import Into Document:\n"));

        CfxComPtr<ISBFileStream> file;
        HRESULT hr = stream->QueryInterface(IID_ISBFileStream, file.OutVoid());
        if (FAILED(hr)) Cfx::QueryInterfaceFailure(hr, IID_ISBFileStream);
        CfxBSTR pathText;
        if (FAILED(file->GetFilePath(pathText.Out()))) throw Cfx::CfxResult(E_UNEXPECTED, "Failed To Determine ARC File\n");
        const std::string arcPath = pathText.ToString();

        CfxComPtr<ISBDiagnosticsConnection> connection =
            DiagnosticsFor(*this, "ARC file importer", DiagnosticsNeed::Required);

        const std::string modelPath = ModelPath(arcPath);
        std::ifstream model(modelPath, std::ios::in | std::ios::binary);
        if (!model.is_open())
            throw Cfx::CfxResult(kOpenFailed, Cfx::CfxFormat("Cannot open file %1 during import of ARC File", {modelPath}));
        struct stat status {};
        if (::stat(modelPath.c_str(), &status) != 0) {
            Cfx::SetLastError(kFileNotFound);
            throw Cfx::CfxResult(kFileNotFound, Cfx::CfxFormat("The file %1 doesn't exist", {modelPath}));
        }
        if (status.st_size == 0) throw Cfx::CfxResult(kOpenFailed, "The file is empty");

        // A failure of the reader stays the last error, as the reader recorded it.
        xxLoadCAR reader;
        hr = reader.LoadCarMdfFile(model, tree, modelPath, connection.Get(), true);
        if (FAILED(hr)) return hr;

        xxTrajectory* trajectory =
            ImportUtilities::CreateDefaultedTrajectory(ContainerRoot(true), tree, "arc", xxBondable::classType);
        if (trajectory && !(trajectory->IsTrajectoryValid() && trajectory->SetCurrentFrame(1)) && connection) {
            std::string text =
                Cfx::CfxFormat("The trajectory file %1 cannot be played; only the model was imported.", {arcPath});
            if (const std::string why = LoaderError(*trajectory); !why.empty()) text += "\n" + why;
            connection->PostMessage(SB_DIAG_WARNING, CfxBSTR(text).Get());
        }
        return S_OK;
    });
}

}  // namespace cartovane

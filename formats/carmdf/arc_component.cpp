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
#include "frame/trajectory_import.h"

namespace cartovane {

namespace {
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);

// The file the model is read from: the CAR file beside the ARC file when there is one (its
// extension in any case), else the ARC file itself, whose first frame has the CAR layout.
std::string ModelPath(const std::string& arcPath) {
    if (arcPath.empty()) return arcPath;
    std::optional<std::string> car = FindFileIgnoringCase(carscan::CompanionPath(arcPath, ".car").path);
    return car ? *car : arcPath;
}
}  // namespace

HRESULT CARCImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_ARCImportExport, IID_ISBImporter, [&]() -> HRESULT {
        const TrajectoryImportTarget target = TrajectoryFileOf(stream, root, "ARC");
        xxTreeRoot& tree = target.tree;
        const std::string& arcPath = target.path;

        CfxComPtr<ISBDiagnosticsConnection> connection =
            DiagnosticsFor(*this, "ARC file importer", DiagnosticsNeed::Required);

        const std::string modelPath = ModelPath(arcPath);
        std::ifstream model = OpenModelFile(modelPath, "Cannot open file %1 during import of ARC File");
        struct stat status {};
        if (::stat(modelPath.c_str(), &status) != 0) {
            Cfx::SetLastError(kFileNotFound);
            throw Cfx::CfxResult(kFileNotFound, Cfx::CfxFormat("The file %1 doesn't exist", {modelPath}));
        }
        if (status.st_size == 0) throw Cfx::CfxResult(kModelOpenFailed, "The file is empty");

        // A failure of the reader stays the last error, as the reader recorded it.
        xxLoadCAR reader;
        const HRESULT hr = reader.LoadCarMdfFile(model, tree, modelPath, connection.Get(), true);
        if (FAILED(hr)) return hr;

        StartTrajectory(ContainerRoot(true), tree, "arc", xxBondable::classType, arcPath, connection.Get());
        return S_OK;
    });
}

}  // namespace cartovane

#include "frame/trajectory_import.h"

#include <stdexcept>

#include "base/file_names.h"
#include "cfx/cfx.h"
#include "base/text.h"
#include "frame/component_io.h"
#include "utilities/import_utilities.h"
#include "utilities/load.h"
#include "utilities/trajectory.h"

namespace cartovane {

namespace {
// Why the trajectory does not play: the refusal the trajectory kept, else what its loader says
// of the frame it could not load.
std::string LoaderReason(xxTrajectory& trajectory) {
    if (!trajectory.GetLoaderError().empty()) return trajectory.GetLoaderError();
    const auto* load = dynamic_cast<const xxLoad*>(trajectory.GetFrameLoader());
    return load ? load->GetErrorMessage() : std::string();
}
}  // namespace

TrajectoryImportTarget TrajectoryFileOf(ISBStream* stream, ISBDocumentRoot* root, std::string_view kind) {
    if (!stream || !root) throw Cfx::CfxResult::WithStandardDescription(E_INVALIDARG);
    xxTreeRoot& tree = TreeRootOf(root, Cfx::CfxResult(E_UNEXPECTED, "Failed To Import Into Document:\n"));
    std::string path;
    const HRESULT hr =
        FilePathOf(stream, path, Cfx::CfxResult(E_UNEXPECTED, "Failed To Determine " + std::string(kind) + " File\n"));
    if (FAILED(hr)) Cfx::QueryInterfaceFailure(hr, IID_ISBFileStream);
    return {tree, std::move(path)};
}

std::string CompanionModelPath(const std::string& trajectoryPath, std::string_view extension) {
    if (trajectoryPath.size() < 3)
        throw std::out_of_range("The path " + trajectoryPath + " is too short to name a " +
                                text::ToUpper(extension) + " file");
    const std::string model = trajectoryPath.substr(0, trajectoryPath.size() - 3) + std::string(extension);
    return FindFileIgnoringCase(model).value_or(model);
}

std::ifstream OpenModelFile(const std::string& path, const char* message) {
    std::ifstream model(path, std::ios::in | std::ios::binary);
    if (!model.is_open()) throw Cfx::CfxResult(kModelOpenFailed, Cfx::CfxFormat(message, {path}));
    return model;
}

xxTrajectory* StartTrajectory(ISBContainerRoot* containerRoot, xxTreeRoot& tree, const std::string& type,
                              unsigned classType, const std::string& trajectoryPath,
                              ISBDiagnosticsConnection* connection) {
    xxTrajectory* trajectory = ImportUtilities::CreateDefaultedTrajectory(containerRoot, tree, type, classType);
    if (!trajectory) return nullptr;
    if (trajectory->IsTrajectoryValid() && trajectory->SetCurrentFrame(1)) return trajectory;
    if (connection) {
        std::string text = Cfx::CfxFormat("The trajectory file %1 cannot be played; only the model was imported.",
                                          {trajectoryPath});
        if (const std::string reason = LoaderReason(*trajectory); !reason.empty()) text += "\n" + reason;
        connection->PostMessage(SB_DIAG_WARNING, CfxBSTR(text).Get());
    }
    return trajectory;
}

}  // namespace cartovane

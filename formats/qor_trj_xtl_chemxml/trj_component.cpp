#include "formats/qor_trj_xtl_chemxml/trj_component.h"

#include <fstream>
#include <string>

#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "frame/clsids.h"
#include "frame/component_io.h"
#include "frame/trajectory_import.h"
#include "utilities/import_utilities.h"

namespace cartovane {

HRESULT CTRJImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_TRJImportExport, IID_ISBImporter, [&]() -> HRESULT {
        const TrajectoryImportTarget target = TrajectoryFileOf(stream, root, "TRJ");
        xxTreeRoot& tree = target.tree;
        const std::string& trjPath = target.path;

        const std::string qorPath = CompanionModelPath(trjPath, "qor");
        std::ifstream qor = OpenModelFile(qorPath, "Cannot open QOR file %1 during import of TRJ File");
        xxLoadQOR reader;
        if (reader.LoadObjectFromStreamHR(qor, &tree, qorPath) < 0) Cfx::CfxResult::LastError();

        CfxComPtr<ISBDiagnosticsConnection> connection =
            DiagnosticsFor(*this, "TRJ file importer", DiagnosticsNeed::IfConnected);
        StartTrajectory(ContainerRoot(true), tree, "trj", ImportUtilities::Mattertype(&tree), trjPath, connection.Get());
        return S_OK;
    });
}

}  // namespace cartovane

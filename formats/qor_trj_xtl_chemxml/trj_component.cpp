#include "formats/qor_trj_xtl_chemxml/trj_component.h"

#include <fstream>
#include <string>

#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "frame/clsids.h"
#include "frame/component_io.h"
#include "frame/trajectory_import.h"
#include "utilities/import_utilities.h"

namespace cartovane {

namespace {
constexpr HRESULT kOpenFailed = static_cast<HRESULT>(0x8007006E);
}  // namespace

HRESULT CTRJImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_TRJImportExport, IID_ISBImporter, [&]() -> HRESULT {
        if (!stream || !root) throw Cfx::CfxResult::WithStandardDescription(E_INVALIDARG);
        xxTreeRoot& tree = TreeRootOf(root, Cfx::CfxResult(E_UNEXPECTED, "Failed To Import Into Document:\n"));

        std::string trjPath;
        HRESULT hr = FilePathOf(stream, trjPath, Cfx::CfxResult(E_UNEXPECTED, "Failed To Determine TRJ File\n"));
        if (FAILED(hr)) Cfx::QueryInterfaceFailure(hr, IID_ISBFileStream);

        const std::string qorPath = CompanionModelPath(trjPath, "qor");
        std::ifstream qor(qorPath, std::ios::in | std::ios::binary);
        if (!qor.is_open())
            throw Cfx::CfxResult(kOpenFailed, Cfx::CfxFormat("Cannot open QOR file %1 during import of TRJ File", {qorPath}));
        xxLoadQOR reader;
        if (reader.LoadObjectFromStreamHR(qor, &tree, qorPath) < 0) Cfx::CfxResult::LastError();

        CfxComPtr<ISBDiagnosticsConnection> connection =
            DiagnosticsFor(*this, "TRJ file importer", DiagnosticsNeed::IfConnected);
        StartTrajectory(ContainerRoot(true), tree, "trj", ImportUtilities::Mattertype(&tree), trjPath, connection.Get());
        return S_OK;
    });
}

}  // namespace cartovane

#include "formats/carmdf/his_component.h"

#include <fstream>
#include <stdexcept>
#include <string>

#include "base/file_names.h"
#include "datamodel/atomistic.h"
#include "formats/carmdf/car_reader.h"
#include "frame/clsids.h"
#include "frame/component_io.h"
#include "frame/trajectory_import.h"

namespace cartovane {

HRESULT CMHistImportExport::Import(ISBStream* stream, ISBDocumentRoot* root, const VARIANT&) {
    return Cfx::Guarded(CLSID_HistImportExport, IID_ISBImporter, [&]() -> HRESULT {
        const TrajectoryImportTarget target = TrajectoryFileOf(stream, root, "HIS");
        xxTreeRoot& tree = target.tree;
        const std::string& hisPath = target.path;

        CfxComPtr<ISBDiagnosticsConnection> connection = DiagnosticsFor(*this, "HIS file importer", DiagnosticsNeed::Required);

        const std::string carPath = CompanionModelPath(hisPath, "car");
        std::ifstream car = OpenModelFile(carPath, "Cannot open CAR file %1 during import of HIS File");
        // A failure of the reader stays the last error, as the reader recorded it.
        xxLoadCAR reader;
        const HRESULT hr = reader.LoadCarMdfFile(car, tree, carPath, connection.Get(), true);
        if (FAILED(hr)) return hr;

        StartTrajectory(ContainerRoot(true), tree, "his", xxBondable::classType, hisPath, connection.Get());
        return S_OK;
    });
}

}  // namespace cartovane

#include "library/component_table.h"

#include <string_view>

#include "documents/binary_component.h"
#include "documents/singleton_components.h"
#include "documents/xsd_components.h"
#include "formats/carmdf/arc_component.h"
#include "formats/carmdf/car_component.h"
#include "formats/carmdf/his_component.h"
#include "formats/qor_trj_xtl_chemxml/chemxml_component.h"
#include "formats/qor_trj_xtl_chemxml/qor_component.h"
#include "formats/qor_trj_xtl_chemxml/trj_component.h"
#include "formats/qor_trj_xtl_chemxml/xtl_component.h"
#include "frame/clsids.h"
#include "frame/component_frame.h"
#include "library/formats.h"

namespace cartovane {
namespace {

#define CARTOVANE_ROW(clsid, creator, text, name)                                            \
    {&clsid, creator, "Kelvarin: " text, "SDCartovane." name ".1", "SDCartovane." name,     \
     &LIBID_SDCartovane, nullptr, nullptr}

constexpr CfxCreator kNotBuilt = &CreateNotBuilt;
constexpr CfxCreator kNotBuiltNoPointer = &CreateNotBuiltChecked<kNoPointerSupplied>;

}  // namespace

constexpr CCfxFactoryData ComponentFactoryTable[kComponentCount] = {
    CARTOVANE_ROW(CLSID_QORImportExport, &CQORImportExport::CreateInstance, "QORImportExport component",
                  "QORImportExport"),
    CARTOVANE_ROW(CLSID_HistImportExport, &CMHistImportExport::CreateInstance, "HistImportExport component",
                  "HistImportExport"),
    CARTOVANE_ROW(CLSID_ARCImportExport, &CARCImportExport::CreateInstance, "ARCImportExport component", "ARCImportExport"),
    CARTOVANE_ROW(CLSID_CARImportExport, &CCARImportExport::CreateInstance, "CARImportExport component", "CARImportExport"),
    CARTOVANE_ROW(CLSID_XTLImportExport, &CXTLImportExport::CreateInstance, "XTLImportExport component", "XTLImportExport"),
    CARTOVANE_ROW(CLSID_TRJImportExport, &CTRJImportExport::CreateInstance, "TRJImportExport component",
                  "TRJImportExport"),
    CARTOVANE_ROW(CLSID_XSDImportExport, &XSDImportExport::CreateInstance,
                  "eXtensible Structure Document ImportExport component", "XSDImportExport"),
    CARTOVANE_ROW(CLSID_XTDImportExport, &XTDImportExport::CreateInstance,
                  "eXtensible Trajectory Document ImportExport component", "XTDImportExport"),
    CARTOVANE_ROW(CLSID_XODImportExport, &XODImportExport::CreateInstance,
                  "eXtensible Collection Document ImportExport component", "XODImportExport"),
    CARTOVANE_ROW(CLSID_MSDImportExport, &MSDImportExport::CreateInstance,
                  "Mesoscale Structure Document ImportExport component", "MSDImportExport"),
    CARTOVANE_ROW(CLSID_MTDImportExport, &MTDImportExport::CreateInstance,
                  "Mesoscale Trajectory Document ImportExport component", "MTDImportExport"),
    CARTOVANE_ROW(CLSID_GSDImportExport, &GSDImportExport::CreateInstance,
                  "Growth Structure Document ImportExport component", "GSDImportExport"),
    CARTOVANE_ROW(CLSID_PeriodicTableImportExport, &PeriodicTableImportExport::CreateInstance,
                  "Periodic Table ImportExport component",
                  "PeriodicTableImportExport"),
    CARTOVANE_ROW(CLSID_BeadTypesImportExport, &BeadTypesImportExport::CreateInstance, "Bead Types ImportExport component",
                  "BeadTypesImportExport"),
    CARTOVANE_ROW(CLSID_BinaryImportExport, &CBinaryImportExport::CreateInstance,
                  "Undo/Redo Binary Document ImportExport component", "BinaryImportExport"),
    CARTOVANE_ROW(CLSID_ChemistryXMLImportExport, &ChemistryXMLImportExport::CreateInstance,
                  "Vintrell Chemistry XML ImportExport component", "ChemistryXMLImportExport"),
    CARTOVANE_ROW(CLSID_XSDToXODImport, &XSDToXODImport::CreateInstance, "XSD insertion component", "XSDToXODImport"),
    CARTOVANE_ROW(CLSID_QORToXODImport, &QORToXODImport::CreateInstance, "QOR insertion component", "QORToXODImport"),
    CARTOVANE_ROW(CLSID_CARToXODImport, &CARToXODImport::CreateInstance, "CAR insertion component", "CARToXODImport"),
    CARTOVANE_ROW(CLSID_XTLToXODImport, &XTLToXODImport::CreateInstance, "XTL insertion component", "XTLToXODImport"),
    CARTOVANE_ROW(CLSID_ChemistryXMLToXODImport, &ChemistryXMLToXODImport::CreateInstance,
                  "Vintrel Chemistry XML insertion component", "ChemistryXMLToXODImport"),
    CARTOVANE_ROW(CLSID_PlurionCollImpExp, kNotBuilt, "3dModel Plurion_Coll Import component",
                  "PlurionCollImpExp"),
    CARTOVANE_ROW(CLSID_DPDDenImpExp, kNotBuilt, "3dModel DPD_Den Import component", "DPDDenImpExp"),
    CARTOVANE_ROW(CLSID_DPDXyzImpExp, kNotBuilt, "3dModel DPD_XYZ Import component", "DPDXyzImpExp"),
    CARTOVANE_ROW(CLSID_DPDParImpExp, kNotBuilt, "3dModel DPD_PAR Import component", "DPDParImpExp"),
    CARTOVANE_ROW(CLSID_PlurionParImpExp, kNotBuilt, "3dModel Plurion_PAR Import component",
                  "PlurionParImpExp"),
    CARTOVANE_ROW(CLSID_PlurionMaskImpExp, kNotBuilt, "3dModel .mask.Plurion_ascii Import component",
                  "PlurionMaskImpExp"),
    CARTOVANE_ROW(CLSID_GranvexImpExp, kNotBuilt, "Granvex Import component", "GranvexImpExp"),
    CARTOVANE_ROW(CLSID_MSDToXSDExport, kNotBuiltNoPointer, "Mesoscale to coarse-grained export",
                  "MSDToXSDExport"),
    CARTOVANE_ROW(CLSID_MTDToXTDExport, kNotBuiltNoPointer,
                  "Mesoscale to coarse-grained trajectory export", "MTDToXTDExport"),
    CARTOVANE_ROW(CLSID_XSDToMSDExport, kNotBuiltNoPointer, "Coarse-grained to mesoscale export",
                  "XSDToMSDExport"),
};

#undef CARTOVANE_ROW

namespace {

// Every format names a component of the table, opens into one of the host's 3-D document
// classes, and has an extension of its own. (That the component is built, a test checks: the
// addresses of functions are no constants to compare in every build.)
constexpr bool FormatsMatchTheTable() {
    for (std::size_t i = 0; i < std::size(kFormats); ++i) {
        const FormatRow& format = kFormats[i];
        bool found = false;
        for (const CCfxFactoryData& row : ComponentFactoryTable) found = found || format.component == row.progId;
        if (!found) return false;
        if (format.document != kAtomisticDocument && format.document != kMesoDocument) return false;
        if (format.extension.empty()) return false;
        for (std::size_t j = 0; j < i; ++j)
            if (kFormats[j].extension == format.extension) return false;
    }
    return true;
}
static_assert(FormatsMatchTheTable(), "a row of library/formats.h names no component of the table");
static_assert(kAtomisticDocument == kAtomistic3dDocumentProgID && kMesoDocument == kMeso3dDocumentProgID);

}  // namespace

}  // namespace cartovane

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "com/registry.h"
#include "frame/clsids.h"
#include "library/component_table.h"
#include "library/formats.h"

namespace {

using cartovane::ComponentFactoryTable;
using cartovane::kComponentCount;

struct Row {
    const char* clsid;
    const char* text;  // after "Kelvarin: "
    const char* name;  // after "SDCartovane."
};

// Written out independently of the table's source.
const Row kRows[kComponentCount] = {
    {"{9245E388-3F5E-67B0-7741-95B15E6E14E4}", "QORImportExport component", "QORImportExport"},
    {"{9245E38B-3F5E-67B0-7741-95B15E6E14E4}", "HistImportExport component", "HistImportExport"},
    {"{9245E38A-3F5E-67B0-7741-95B15E6E14E4}", "ARCImportExport component", "ARCImportExport"},
    {"{9245E389-3F5E-67B0-7741-95B15E6E14E4}", "CARImportExport component", "CARImportExport"},
    {"{C95EDC22-7269-4F39-A932-6258839AF8A5}", "XTLImportExport component", "XTLImportExport"},
    {"{9245E390-3F5E-67B0-7741-95B15E6E14E4}", "TRJImportExport component", "TRJImportExport"},
    {"{9245E38D-3F5E-67B0-7741-95B15E6E14E4}", "eXtensible Structure Document ImportExport component", "XSDImportExport"},
    {"{9245E38E-3F5E-67B0-7741-95B15E6E14E4}", "eXtensible Trajectory Document ImportExport component", "XTDImportExport"},
    {"{65EB42D1-EC6E-489B-9C2F-D8D256A91511}", "eXtensible Collection Document ImportExport component", "XODImportExport"},
    {"{2D8D3B51-B717-11D5-A05A-009027425E6B}", "Mesoscale Structure Document ImportExport component", "MSDImportExport"},
    {"{E17C5D12-7107-428F-AF86-324CC61C9F85}", "Mesoscale Trajectory Document ImportExport component", "MTDImportExport"},
    {"{E4DC0D46-0FC5-4942-9CB8-4CCCAD1412A8}", "Growth Structure Document ImportExport component", "GSDImportExport"},
    {"{9245E38F-3F5E-67B0-7741-95B15E6E14E4}", "Periodic Table ImportExport component", "PeriodicTableImportExport"},
    {"{A6325379-6911-4543-9FC7-9951263EB9BC}", "Bead Types ImportExport component", "BeadTypesImportExport"},
    {"{77E7CDB0-0371-11D5-814E-0050048794DE}", "Undo/Redo Binary Document ImportExport component", "BinaryImportExport"},
    {"{79921210-6978-11D6-9603-00D0B72E0719}", "Vintrell Chemistry XML ImportExport component", "ChemistryXMLImportExport"},
    {"{5CE3F03A-1A3B-4150-AEDC-56F133113D03}", "XSD insertion component", "XSDToXODImport"},
    {"{9240B04C-612D-434C-80D0-B97C2DC4F0BB}", "QOR insertion component", "QORToXODImport"},
    {"{7093786A-C822-4DE3-AA2B-CD4B60BCCFCF}", "CAR insertion component", "CARToXODImport"},
    {"{D5CDDC9E-16DA-4981-83C0-91528C40B8EF}", "XTL insertion component", "XTLToXODImport"},
    {"{EB67CBE0-B484-4FF3-A77E-1BEF0A60BF60}", "Vintrel Chemistry XML insertion component", "ChemistryXMLToXODImport"},
    {"{B9A29DE2-0F14-4864-B951-88A0FAE7B38E}", "3dModel Plurion_Coll Import component", "PlurionCollImpExp"},
    {"{E2419AEA-FE86-4C06-8920-F6EF6EB30262}", "3dModel DPD_Den Import component", "DPDDenImpExp"},
    {"{A55B160A-0D96-4861-BDB0-FCD6BB8B0CE2}", "3dModel DPD_XYZ Import component", "DPDXyzImpExp"},
    {"{C5470C32-A23D-45B8-817D-A814F926969B}", "3dModel DPD_PAR Import component", "DPDParImpExp"},
    {"{9F4DD8B7-C28D-4E3B-AD41-BEF1CD02D68D}", "3dModel Plurion_PAR Import component", "PlurionParImpExp"},
    {"{1A64C2B9-3129-4580-B76D-EF906E47E07B}", "3dModel .mask.Plurion_ascii Import component", "PlurionMaskImpExp"},
    {"{63C8BCC8-6047-4390-BE45-BC4A58D515E7}", "Granvex Import component", "GranvexImpExp"},
    {"{26A7AC28-50DB-4027-BF7E-EDF2945237BB}", "Mesoscale to coarse-grained export", "MSDToXSDExport"},
    {"{7D307D58-B87D-4D65-B83A-0BB7D9695D2D}", "Mesoscale to coarse-grained trajectory export", "MTDToXTDExport"},
    {"{DAB0898A-A76D-4155-BF34-828C46FD8174}", "Coarse-grained to mesoscale export", "XSDToMSDExport"},
};

TEST(ComponentTable, EveryRowInOrderWithItsIdentifiersAndTexts) {
    for (int i = 0; i < kComponentCount; ++i) {
        SCOPED_TRACE(i);
        const CCfxFactoryData& row = ComponentFactoryTable[i];
        ASSERT_NE(row.clsid, nullptr);
        EXPECT_EQ(com::FormatGuid(*row.clsid), kRows[i].clsid);
        EXPECT_EQ(std::string(row.description), std::string("Kelvarin: ") + kRows[i].text);
        EXPECT_EQ(std::string(row.progId), std::string("SDCartovane.") + kRows[i].name);
        EXPECT_EQ(std::string(row.versionedProgId), std::string("SDCartovane.") + kRows[i].name + ".1");
        ASSERT_NE(row.typeLib, nullptr);
        EXPECT_EQ(com::FormatGuid(*row.typeLib), "{9245E386-3F5E-67B0-7741-95B15E6E14E4}");
        EXPECT_NE(row.creator, nullptr);
        EXPECT_EQ(row.reserved1, nullptr);
        EXPECT_EQ(row.reserved2, nullptr);
    }
}

TEST(ComponentTable, IdentifiersAndProgIdsAreUnique) {
    std::set<CLSID> ids;
    std::set<std::string> names;
    for (const CCfxFactoryData& row : ComponentFactoryTable) {
        EXPECT_TRUE(ids.insert(*row.clsid).second) << row.progId;
        EXPECT_TRUE(names.insert(row.progId).second) << row.progId;
    }
    // The mesoscale trajectory component differs in one digit from the host's mesoscale document class.
    EXPECT_FALSE(ids.count(com::MakeGuid("{E17C5D11-7107-428F-AF86-324CC61C9F85}")));
}

TEST(ComponentTable, OnlyTheConversionRowsAreExports) {
    for (int i = 0; i < kComponentCount; ++i) {
        std::string text = ComponentFactoryTable[i].description;
        std::string ending = i >= 28 ? " export" : " component";
        EXPECT_EQ(text.substr(text.size() - ending.size()), ending) << i;
    }
}

// The tool offers every file type of the list of formats: each needs a component that is built.
TEST(ComponentTable, EveryFormatsComponentIsBuilt) {
    for (const cartovane::FormatRow& format : cartovane::kFormats) {
        SCOPED_TRACE(format.extension);
        const CCfxFactoryData* found = nullptr;
        for (const CCfxFactoryData& row : ComponentFactoryTable)
            if (format.component == row.progId) found = &row;
        ASSERT_NE(found, nullptr);
        CCfxUnknown* component = nullptr;
        ASSERT_EQ(found->creator(&component), S_OK);
        ASSERT_NE(component, nullptr);
        component->DelegatedRelease();
    }
}

}  // namespace

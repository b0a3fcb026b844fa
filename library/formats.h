// The file formats the library reads and writes, beside the component table: for each file
// extension the component that handles it and the class of document a file of it opens into.
// Constant data that includes nothing of ours, so that a host that loads the library at run
// time (tools/cartovane) includes it without linking or seeing the library's code. When the
// library is built, component_table.cpp checks that every component named here is a row of
// the table; tests/frame/component_table_test.cpp that it is built.
#pragma once

#include <string_view>

namespace cartovane {

// The host's two classes of 3-D document (the same as host/documents.h has; the component
// table checks that).
inline constexpr std::string_view kAtomisticDocument = "Pendrake.Atomistic3dDocument";
inline constexpr std::string_view kMesoDocument = "Pendrake.Meso3dDocument";

struct FormatRow {
    std::string_view extension;  // lower case, without the dot
    std::string_view companion;  // the extension of a file read and written beside it, or empty
    std::string_view component;  // ProgID of the component that imports and exports it
    std::string_view document;   // ProgID of the document class it opens into
};

inline constexpr FormatRow kFormats[] = {
    {"car", "mdf", "SDCartovane.CARImportExport", kAtomisticDocument},
    {"qor", "", "SDCartovane.QORImportExport", kAtomisticDocument},
    {"arc", "car", "SDCartovane.ARCImportExport", kAtomisticDocument},
    {"his", "car", "SDCartovane.HistImportExport", kAtomisticDocument},
    {"trj", "qor", "SDCartovane.TRJImportExport", kAtomisticDocument},
    {"xtl", "", "SDCartovane.XTLImportExport", kAtomisticDocument},
    {"chemxml", "", "SDCartovane.ChemistryXMLImportExport", kAtomisticDocument},
    {"xsd", "", "SDCartovane.XSDImportExport", kAtomisticDocument},
    {"xtd", "", "SDCartovane.XTDImportExport", kAtomisticDocument},
    {"xod", "", "SDCartovane.XODImportExport", kAtomisticDocument},
    {"msd", "", "SDCartovane.MSDImportExport", kMesoDocument},
    {"mtd", "", "SDCartovane.MTDImportExport", kMesoDocument},
    {"gsd", "", "SDCartovane.GSDImportExport", kMesoDocument},
};

// The row of an extension (lower case, without the dot); null when no component handles it.
constexpr const FormatRow* FindFormat(std::string_view extension) {
    for (const FormatRow& row : kFormats)
        if (row.extension == extension) return &row;
    return nullptr;
}

}  // namespace cartovane

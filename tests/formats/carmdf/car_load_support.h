// Loading CAR/MDF texts for the reader tests: line builders in the writer's layout, a load into
// a fresh tree with a diagnostics manager, and every message the load reported, in order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/system.h"
#include "formats/carmdf/car_reader.h"
#include "host/diagnostics.h"
#include "support/car_lines.h"
#include "support/temp_dir.h"

namespace cvtest::carmdf {

// The message identifiers of every CfxReportError since the last ClearReports (report_recorder.cpp).
const std::vector<std::int32_t>& Reports();
void ClearReports();

struct RecordFields {
    std::string element = "O", type = "o*", chargeGroup = "1", isotope = "0", formal = "0";
    double charge = 0;
    int switching = 0, oop = 0;
    double occupancy = 1.0, tf = 0;
};

// An MDF atom record as the writer lays it out, twelve columns declared.
inline std::string MdfRecord(std::string_view name, const RecordFields& f, std::string_view connections = {}) {
    char line[400];
    std::snprintf(line, sizeof line, "%-19s %-2s %-7s %-5s %-1s  %-4s %7.4f %d %d 8 %6.4f %7.4f",
                  std::string(name).c_str(), f.element.c_str(), f.type.c_str(), f.chargeGroup.c_str(),
                  f.isotope.c_str(), f.formal.c_str(), f.charge, f.switching, f.oop, f.occupancy, f.tf);
    std::string out = line;
    std::size_t start = 0;
    while (start < connections.size()) {
        std::size_t end = connections.find(' ', start);
        if (end == std::string_view::npos) end = connections.size();
        if (end > start) out += " " + std::string(connections.substr(start, end - start));
        start = end + 1;
    }
    return out + " ";
}

inline std::string MdfHeader(char format = '4') {
    return std::string("!KORVEN molecular_data ") + format + "\n \n!Date: Thu Dec 10 08:28:00 2026   Orbanite Generated MDF file\n \n";
}

inline std::string ColumnDeclarations() {
    return "@column 1 element\n@column 2 atom_type\n@column 3 charge_group\n@column 4 isotope\n"
           "@column 5 formal_charge\n@column 6 charge\n@column 7 switching_atom\n@column 8 oop_flag\n"
           "@column 9 chirality_flag\n@column 10 occupancy\n@column 11 xray_temp_factor\n@column 12 connections\n";
}

struct Loaded {
    HRESULT hr = S_OK;
    std::unique_ptr<xxAtomisticTreeRoot> root = std::make_unique<xxAtomisticTreeRoot>();
    std::vector<std::string> posted;
    std::vector<std::int32_t> reports;
    std::int32_t lastMessage = 0;
    CLSID lastClsid{};
    std::string lastDescription;

    xxMultiScaleSymmetrySystem* System() const {
        auto systems = root->ChildrenOf<xxMultiScaleSymmetrySystem>();
        return systems.empty() ? nullptr : systems.front();
    }
    xxTreeNode& Top() const {
        xxMultiScaleSymmetrySystem* s = System();
        return s ? static_cast<xxTreeNode&>(*s) : *root;
    }
    std::vector<xxMultiScaleMolecule*> Molecules() const { return Top().ChildrenOf<xxMultiScaleMolecule>(); }
    std::vector<xxBondable*> Atoms() const { return root->DescendentsOf<xxBondable>(); }
    // The atom (or dummy) with that ID, k counting atom lines from 1.
    xxBondable* Atom(int id) const {
        for (xxBondable* b : Atoms())
            if (b->GetID() == id && !b->IsA(xxPiSystem::classType)) return b;
        return nullptr;
    }
    xxAtom3d* Atom3d(int id) const {
        xxBondable* b = Atom(id);
        return b ? b->As<xxAtom3d>() : nullptr;
    }
    bool Reported(std::int32_t id) const {
        for (std::int32_t r : reports)
            if (r == id) return true;
        return false;
    }
};

struct LoadOptions {
    std::string carName = "model.car";
    std::string mdfName = "model.mdf";
    bool calculateBonds = true;
    bool diagnostics = true;
};

// Writes the CAR (and the MDF, when given) into dir and loads the CAR through xxLoadCAR.
inline Loaded Load(const TempDir& dir, std::string_view car, std::optional<std::string_view> mdf,
                   const LoadOptions& options = {}) {
    Loaded out;
    const std::string carPath = dir.Put(options.carName, car);
    if (mdf) dir.Put(options.mdfName, *mdf);
    CfxComPtr<host::DiagnosticsManager> manager = host::DiagnosticsManager::Create();
    CfxComPtr<ISBDiagnosticsConnection> connection;
    CfxBSTR source("CAR/MDF importer");
    manager->GetConnection(source.Get(), connection.Out());
    std::istringstream in{std::string(car)};
    ClearReports();
    Cfx::ClearLastError();
    xxLoadCAR reader;
    out.hr = reader.LoadCarMdfFile(in, *out.root, carPath, options.diagnostics ? connection.Get() : nullptr,
                                   options.calculateBonds);
    out.reports = Reports();
    out.lastMessage = Cfx::GetLastError().messageId;
    out.lastClsid = Cfx::GetLastError().clsid;
    out.lastDescription = Cfx::GetLastError().description;
    for (const host::DiagnosticMessage& m : manager->Messages()) {
        EXPECT_EQ(m.severity, SB_DIAG_WARNING);
        out.posted.push_back(m.text);
    }
    return out;
}

// The text posted for a failed MDF step, as the load words it.
inline std::string MdfProblem(const std::string& mdfPath, std::string_view sentence, bool bonds) {
    std::string text = "Problems were encountered reading the Mdf file " + mdfPath + ".  " + std::string(sentence) +
                       "  Loading has proceeded omitting the relevant Mdf file information.";
    if (bonds) text += "  Bonds have been automatically calculated for the structure.";
    return text;
}

}  // namespace cvtest::carmdf

// A HIS trajectory with its model for the tests, benchmarks and fuzz targets: the CAR file of the
// model a HIS file moves, read into a host document whose file is the HIS file, and the values a
// frame should leave on the model.
#pragma once

#include <array>
#include <cmath>
#include <sstream>
#include <string>

#include "support/car_lines.h"
#include "datamodel/atomistic.h"
#include "formats/carmdf/car_reader.h"
#include "host/documents.h"
#include "support/his_file.h"
#include "utilities/import_utilities.h"
#include "utilities/trajectory.h"

namespace cvtest::carmdf {

// The CAR text of the model of a HIS file: its N atoms in one molecule on a grid, in a cell that
// holds the grid when the file is periodic (so that no atom is another's lattice image). Where
// the atoms stand does not matter otherwise: the frames move them.
inline std::string HisModelCar(const HisParameters& params) {
    const int side = static_cast<int>(std::cbrt(static_cast<double>(params.atoms))) + 1;
    constexpr double spacing = 1.5;
    std::string car = CarHeader(params.periodic ? "PBC=ON" : "PBC=OFF");
    if (params.periodic) {
        const std::string edge = std::to_string(spacing * (side + 1));
        car += "PBC " + edge + " " + edge + " " + edge + " 90.0 90.0 90.0 (P1)\n";
    }
    for (int k = 0; k < params.atoms; ++k)
        car += AtomLine("C" + std::to_string(k + 1), spacing * (k % side + 0.5), spacing * (k / side % side + 0.5),
                        spacing * (k / side / side + 0.5), "MOL", "1", "c", "C", 0) +
               "\n";
    return car + "end\nend\n";
}

// What frame i (from 0) of such a file leaves on atom k (from 0): the frame's own values for
// the atoms it stores, the values of frame 0 for the others.
struct HisAtomValues {
    xxPoint3d position, velocity;
};
inline HisAtomValues ExpectedAtom(const HisParameters& params, int frame, int atom) {
    bool stored = frame == 0 || !params.AtLeast(2.6) || params.movable.empty();
    for (int number : params.movable) stored = stored || number == atom + 1;
    const int from = stored ? frame : 0;
    auto at = [&](float sign) {
        return xxPoint3d{sign * HisParameters::Position(from, atom, 0), sign * HisParameters::Position(from, atom, 1),
                         sign * HisParameters::Position(from, atom, 2)};
    };
    return {at(1.0f), 1000.0 * at(-1.0f)};
}

// A host document whose file is dir/<stem>.his, holding the model read from its CAR file.
struct HisDocument {
    CfxComPtr<host::ContainerRoot> root = host::ContainerRoot::Create();
    CfxComPtr<host::Model3dDocument> document;

    HisDocument(const std::string& hisPath, const std::string& car,
                const std::string& documentClass = kAtomistic3dDocumentProgID)
        : document(host::Model3dDocument::Create(documentClass)) {
        document->SetURL(hisPath);
        std::istringstream in(car);
        xxLoadCAR reader;
        reader.LoadCarMdfFile(in, Tree(), hisPath.substr(0, hisPath.size() - 3) + "car", nullptr, false);
    }
    xxTreeRoot& Tree() { return document->Tree(); }
    // A new trajectory of the document's HIS file.
    xxTrajectory& Trajectory() {
        return *ImportUtilities::CreateDefaultedTrajectory(root.Get(), Tree(), "his", xxBondable::classType);
    }
};

}  // namespace cvtest::carmdf

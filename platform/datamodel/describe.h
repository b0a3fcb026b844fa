// The main values of an object as a viewer shows them, whatever its class.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "datamodel/object.h"

struct xxCellParameters {
    double a, b, c, alpha, beta, gamma;  // lengths in the model's unit, angles in degrees
};

struct xxDescription {
    std::optional<std::string> element;  // atoms and dummies: the element symbol
    xxPoint3d xyz;                        // with element: Cartesian position
    double charge = 0;                    // with element: partial charge
    std::optional<std::pair<int, int>> bondAtoms;  // bonds: the IDs of the two ends
    double bondOrder = 0;
    std::optional<xxCellParameters> cell;  // symmetry systems with a cell
    std::string group;                     // with cell: the group name
    std::string qualifier;                 // with cell: the setting's words ("Origin-2"), often empty
};

xxDescription DescribeObject(const xxObject& object);

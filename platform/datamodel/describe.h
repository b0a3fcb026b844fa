// The main values of an object as a viewer shows them, whatever its class.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "datamodel/graphics.h"

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
    struct Mesh {
        std::size_t vertices = 0, triangles = 0;
        xxColor color;
    };
    std::optional<Mesh> mesh;  // surfaces that have a mesh
    bool repeatUnit = false;
    std::optional<int> head, tail;  // repeat units: the IDs of their head and tail atoms
    bool chargeGroup = false;
    std::vector<int> members;  // charge groups: the IDs of the members, in order
    std::optional<int> center;  // charge groups: the ID of the switching centre
};

xxDescription DescribeObject(const xxObject& object);

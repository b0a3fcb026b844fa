// The XTL crystal reader: sections, cell, symmetry keywords and the atom table of a text file,
// built into a symmetry system whose group completes the crystal.
#pragma once

#include <array>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "datamodel/elements.h"
#include "datamodel/symmetry/builder.h"
#include "host/diagnostics.h"

class xxTreeRoot;
class CTextParser;

namespace cartovane::xtl {

// What a header token says a column holds.
enum class Column {
    Name = 0,
    X = 1,
    Y = 2,
    Z = 3,
    Scattering = 4,
    Occupancy = 5,
    Potential = 6,
    Charge = 7,
    Temperature = 8,
    Skip = 9,
    CartesianX = 10,
    CartesianY = 11,
    CartesianZ = 12,
    BIso = 13,
    UIso = 14,
    Continued = 15,  // "&": the row goes on on the next line
};
// The code of a header token (any case, by prefix).
Column ColumnOf(std::string_view token);

// The setting word of a QUALIFIER value (any case, by prefix); empty for anything else.
std::string_view QualifierOf(std::string_view value);

// The element an atom row's name stands for: the name is cut before its first digit or
// parenthesis (unless it starts with one), then tried as a symbol and by its first letter
// alone; null when neither names an element (the row is then an unknown atom).
const xxElement* ElementOfName(std::string_view name);

// The "b" of bar notation: "R3b" -> "R-3", the first b that follows a digit; the label as it
// was when it has none.
std::string BarNotation(std::string_view label);

// Whether two values agree within a relative tolerance in the strong sense: the difference is
// at most tolerance times each of them.
bool CloseStrong(double a, double b, double tolerance);

class XTLReader {
public:
    explicit XTLReader(std::string documentName);

    // Reads the file into a symmetry system under the tree root and posts the warnings on the
    // connection. False for a null tree root; throws CfxResult for a file it cannot take (no
    // structural data, an invalid dimension or group number, a warning that cannot be posted).
    // On a throw the tree is left as it was.
    bool ReadXtlFile(std::istream& in, xxTreeRoot* root, ISBDiagnosticsConnection* connection);

    // The size of the file, when known: the row table is then made once, as large as the file
    // can fill, rather than grown (untouched room costs no memory).
    void ExpectBytes(std::size_t bytes) { expectedBytes_ = bytes; }

    // The warnings of the last read, in the order collected (all of them posted).
    const std::vector<std::string>& GetWarnings() const { return warnings_; }

private:
    // Rows are plain values, their names in one text, so that a large table costs no
    // allocation per row and moves cheaply as it grows.
    struct Row {
        std::size_t nameOffset = 0, nameSize = 0;  // in names_
        std::array<double, 3> fractional{};
        std::array<double, 3> cartesian{};
        float occupancy = 1;
        float charge = 0;
        float temperature = 0;
    };

    void ReadSections(CTextParser& parser);
    void ReadDimension(const std::vector<std::string_view>& tokens);
    // True when it read the line after the cell line and found a section of its own there
    // (its tokens are then in pending).
    bool ReadCell(CTextParser& parser, const std::vector<std::string_view>& tokens,
                  std::vector<std::string_view>& pending);
    void ReadSymmetry(const std::vector<std::string_view>& tokens);
    bool ReadHeader(CTextParser& parser);
    void ReadRows(CTextParser& parser);
    void TakeRow(std::vector<std::string_view>& tokens);
    void CheckCell();
    void Warn(std::string text);
    std::string WithName(std::string_view before, std::string_view after) const;

    std::unique_ptr<xxSymmetryDefinition> ResolveSpaceGroup(xxSymmetrySystem& system);
    std::unique_ptr<xxSymmetryDefinition> ResolvePlaneGroup(xxSymmetrySystem& system);
    const xxSpaceGroupDescription* FindByName(std::string_view label, std::string_view qualifier) const;
    const xxSpaceGroupDescription* FindByNumber(int number, std::string_view qualifier) const;
    bool IsRhombohedralCell(const xxSpaceGroupDescription& found) const;
    // Whether the operators can make a group of their own; warns why not.
    bool OperatorsFormACrystallographicGroup();
    void SetCell(xxSymmetryDefinition& definition);

    std::string documentName_;
    std::size_t expectedBytes_ = 0;
    std::vector<std::string> warnings_;

    int dimension_ = 3;
    bool dimensionGiven_ = false;
    int sections_ = 0;
    int number_ = 0;
    std::string label_, qualifier_;
    bool operatorsKeyword_ = false;
    std::vector<xxSymmetryOperator> operators_;
    std::vector<double> cell_;
    bool cellGiven_ = false;
    bool cellFaulty_ = false;
    bool cellWarned_ = false;

    std::vector<Column> columns_;
    bool fractional_ = false, cartesian_ = false, occupancy_ = false, charge_ = false, temperature_ = false;
    bool continued_ = false;
    std::size_t continuedColumn_ = 0;
    bool scattering_ = false;
    std::size_t scatteringColumn_ = 0;
    std::vector<Row> rows_;
    std::string names_;
    std::size_t skippedRows_ = 0;
    std::string joined_;  // the scattering token of the current row, joined with the next one
};

}  // namespace cartovane::xtl

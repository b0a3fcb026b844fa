// Text rules of CAR and MDF files that need no data model: fixed-column atom lines, cell and
// group lines, MDF keywords, fraction and connection tokens, companion paths. Fields are read
// with the scans of base/text.h; everything works on views of the line and allocates nothing.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"
#include "datamodel/geometry.h"

namespace cartovane::carscan {

// CAR and MDF lines are read up to this many characters; the rest of a longer line is skipped.
inline constexpr std::size_t kLineLimit = 511;

// Blank (only blanks, tabs and line feeds) or a comment ("!" first).
constexpr bool IsCommentLine(std::string_view line) noexcept { return !line.empty() && line[0] == '!'; }
constexpr bool IsBlankOrComment(std::string_view line) noexcept {
    return IsCommentLine(line) || text::IsBlankLine(line);
}

// ---- CAR ----

enum class CarArchive { None, Archive2, Archive3 };
CarArchive ArchiveOf(std::string_view headerLine) noexcept;

enum class CarPeriodicity { None, ThreeD, TwoD };
CarPeriodicity PeriodicityOf(std::string_view line) noexcept;
// "PBC=ON", "PBC=2D" or "PBC=OFF" in any case as the first characters: a periodicity line the
// format knows (any other text also means no cell, but says nothing the reader understands).
bool IsKnownPeriodicity(std::string_view line) noexcept;

// "PBC" in any case as the first three characters.
constexpr bool IsCellLine(std::string_view line) noexcept {
    return line.size() >= 3 && (line[0] == 'P' || line[0] == 'p') && (line[1] == 'B' || line[1] == 'b') &&
           (line[2] == 'C' || line[2] == 'c');
}
// The numbers after the first token, up to count of them ("%*s%lf%lf..."); how many were read.
std::size_t ScanCellNumbers(std::string_view line, double* values, std::size_t count) noexcept;
// The text between the last "(" and the last ")" when both stand at positions of at least 1,
// the "(" first; otherwise nullopt.
std::optional<std::string_view> ParenthesisedName(std::string_view line) noexcept;

struct CarColumns {
    std::size_t x, y, z, residueName, residueNumber, type, element, charge;
    std::size_t shortLine;  // lines of at most this many characters carry no type, element, charge
};
const CarColumns& ColumnsOf(CarArchive archive) noexcept;

// One atom line. The views point into the line; the element text, its second character
// lower-cased, is held here. A field the line does not reach, or that does not convert, is
// empty or 0; a coordinate with text that does not read as a finite number ("%lf": "nan",
// "1e999", "abc") is also named in badAxis and badText.
struct CarAtomFields {
    std::string_view name, residueName, residueNumber, type;
    std::array<char, 3> elementBuffer{};
    std::size_t elementLength = 0;
    bool elementUnknown = false;  // the short-line element "unknown"
    double x = 0, y = 0, z = 0;
    float charge = 0;
    int badAxis = -1;          // 0, 1, 2 for the first of x, y, z that did not read; -1 when all did
    std::string_view badText;  // its text, up to the next white space

    std::string_view Element() const noexcept {
        return elementUnknown ? std::string_view("unknown") : std::string_view(elementBuffer.data(), elementLength);
    }
};
void ParseAtomLine(std::string_view line, const CarColumns& columns, CarAtomFields& fields) noexcept;

// What the element text makes: a dummy ("Du..."), deuterium ("D"), or an element.
enum class CarAtomKind { Element, Dummy, Deuterium };
CarAtomKind AtomKindOf(std::string_view elementText) noexcept;

// ---- paths ----

// After the last "/" or "\", without a final ".car" (else ".arc"), compared exactly.
std::string_view BaseName(std::string_view path) noexcept;
// A companion file's path, for the reader and the writer alike: the path with the extension of
// its last component (from the component's last ".", unless that is its first character)
// replaced by extension, or extension appended when the component has none; replaced tells
// which. Only the last component changes, so a dot in a directory name is left alone.
struct CompanionName {
    std::string path;
    bool replaced = false;
};
CompanionName CompanionPath(std::string_view path, std::string_view extension);
// The MDF the reader looks for beside a CAR path; empty when the path names no file (empty, or
// ending in a separator), as then nothing can stand beside it.
std::string CompanionMdfPath(std::string_view path);

// ---- MDF ----

// 4 or 3 for "!KORVEN molecular_data 4"/"3" (first 24 characters), else 0.
int MdfFormatOf(std::string_view headerLine) noexcept;
// Where the connection list starts: 71 when the 24th character is "4", else 67.
constexpr std::size_t ConnectionColumnOf(std::string_view headerLine) noexcept {
    return headerLine.size() > 23 && headerLine[23] == '4' ? 71 : 67;
}

// The one-letter code of a declared column name; 'U' for a name not in the list.
char ColumnCodeOf(std::string_view name) noexcept;

// A formal-charge text as a reduced fraction with a positive denominator; nullopt for a text
// that does not read or has a zero denominator.
using Fraction = xxRational;
std::optional<Fraction> ParseFraction(std::string_view text) noexcept;

// Bond types as the data model numbers them (xxBondType; car_scan.cpp pins the two together).
enum : int { kBondSingle = 1, kBondPartial = 2, kBondDouble = 4, kBondTriple = 6 };

// One token of a connection list.
struct ConnectionToken {
    std::optional<std::string_view> subUnit;  // the text before the first ":", when there is one
    std::string_view partner;                 // the atom name, up to the first of "#%/,"
    bool hasOffsets = false;                  // a "%" part
    bool hasOperator = false;                 // a "#" part
    bool operatorValid = true;                // the "#" number read within range (or was empty)
    int operatorNumber = 0;                   // 0 when absent
    std::array<int, 3> offsets{0, 0, 0};
    int bondType = kBondSingle;
    bool IsSymmetryConnection() const noexcept { return hasOffsets || hasOperator; }
};
ConnectionToken ParseConnectionToken(std::string_view token) noexcept;

// "xyz" -> 3, ..., "zy" -> 28 (already lower-cased text); nullopt for any other text.
std::optional<int> OrientationFromAxisOrder(std::string_view axes) noexcept;
// "B_UNIQUE" -> "B-Unique", ... (upper-cased text); empty for any other text.
std::string_view QualifierFromMdf(std::string_view upperText) noexcept;

// "@group" line, named form: the name (default "P1") and the qualifier, mapped (empty when
// absent or not one of the seven).
struct NamedGroup {
    std::string_view name;
    std::string_view qualifier;
};
NamedGroup ParseNamedGroupLine(std::string_view line) noexcept;

}  // namespace cartovane::carscan

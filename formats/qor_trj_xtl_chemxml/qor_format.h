// The QOR model file: its constant tables and text rules, one place for the reader and the
// writer alike.
//
// A file is a header line, then records: "(<n> <Kind>" opens a record, a line whose first
// token is ")" closes it, and between them stand attribute lines "(A <T> <Name> <value>)" and
// nested records. An attribute line that ends in a blank and a backslash goes on in the next
// line. Text values are quoted, with a backslash before a quote or a backslash.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cartovane::qor {

inline constexpr std::string_view kHeaderPrefix = "# QOR DRAVIK4";
inline constexpr std::string_view kHeaderVersionText = "# QOR DRAVIK4 DataModel File Version";
inline constexpr int kWrittenMajorVersion = 4;
inline constexpr int kWrittenMinorVersion = 0;
inline constexpr int kOldestMajorVersion = 2;  // older files are refused
// Significant digits of every real the writer writes.
inline constexpr int kPrecision = 13;

// ---- records ---------------------------------------------------------------------------

enum class RecordKind { Model, Atom, Bond, Linkage, Surface, Subunit, Symmetry, Unknown };

struct RecordKindRow {
    RecordKind kind;
    std::string_view name;
    std::size_t prefix;  // a kind text matches when its first `prefix` characters do ("Atomic")
};
// In the order kinds are tried.
inline constexpr std::array<RecordKindRow, 7> kRecordKinds{{
    {RecordKind::Model, "Model", 5},
    {RecordKind::Atom, "Atom", 4},
    {RecordKind::Bond, "Bond", 4},
    {RecordKind::Linkage, "Linkage", 7},
    {RecordKind::Surface, "Surface", 7},
    {RecordKind::Subunit, "Subunit", 7},
    {RecordKind::Symmetry, "Symmetry", 8},
}};
RecordKind KindOf(std::string_view text);

// ---- attribute names -------------------------------------------------------------------

enum class AtomAttribute {
    ACL, Charge, FChg, FFType, Id, XYZ, Label, BackboneData, SymChildren, SymType, PerParent,
    PerTrans, Cell0Offset, faceFlags, COLOR, Hybridization, Occupancy, IsoTempFactor,
    AnisoTempFactor, TempFactorType, Mass, Moveable, Switch, Tacticity,
};
inline constexpr std::array<std::string_view, 24> kAtomAttributeNames{
    "ACL",         "Charge",      "FChg",      "FFType",        "Id",        "XYZ",
    "Label",       "BackboneData", "SymChildren", "SymType",     "PerParent", "PerTrans",
    "Cell0Offset", "faceFlags",   "COLOR",     "Hybridization", "Occupancy", "IsoTempFactor",
    "AnisoTempFactor", "TempFactorType", "Mass", "Moveable",    "Switch",    "Tacticity",
};
std::optional<AtomAttribute> FindAtomAttribute(std::string_view name);

enum class BondAttribute {
    Atom1, Atom2, Id, Order, Type, XYZ, Label, SymChildren, SymType, PerParent, PerTrans,
    Cell0Offset, FaceFlag,
};
inline constexpr std::array<std::string_view, 13> kBondAttributeNames{
    "Atom1",       "Atom2",   "Id",        "Order",    "Type",        "XYZ",     "Label",
    "SymChildren", "SymType", "PerParent", "PerTrans", "Cell0Offset", "FaceFlag",
};
std::optional<BondAttribute> FindBondAttribute(std::string_view name);

// Bond kinds of the file.
inline constexpr int kBondKindSingle = 1;
inline constexpr int kBondKindDouble = 2;
inline constexpr int kBondKindTriple = 4;
inline constexpr int kBondKindAromatic = 8;

// ---- ACL codes -------------------------------------------------------------------------

enum class AclKind {
    Element,    // element from the symbol
    Deuterium,  // hydrogen, isotope 2
    Mixture,    // a mixed site
    Dummy,      // a dummy atom of the row's dummy kind
    PiCentre,   // a pi-system centre
};

struct AclCode {
    int code;
    std::string_view symbol;    // as the writer writes it
    AclKind kind;
    std::string_view dummyKind;  // "Dummy Atom", "Geometry Aid", "Point Charge"
    std::string_view warning;    // kept in the loader's warning text when read
};

inline constexpr std::string_view kDummyAtom = "Dummy Atom";
inline constexpr std::string_view kGeometryAid = "Geometry Aid";
inline constexpr std::string_view kPointCharge = "Point Charge";
inline constexpr std::string_view kPiCentreSymbol = "Cp";
inline constexpr int kUnlistedDummyCode = 113;  // "X": a dummy whose symbol the table lacks

// Every code that is not an element, by code.
inline constexpr std::array<AclCode, 27> kAclCodes{{
    {1, "H", AclKind::Deuterium, {}, {}},
    {106, "T", AclKind::Mixture, {}, {}},
    {107, "TT", AclKind::Mixture, {}, {}},
    {108, "Cu", AclKind::Mixture, {}, {}},
    {109, "Cu", AclKind::Mixture, {}, {}},
    {110, "J1", AclKind::Dummy, kDummyAtom, "\nLinkage atom was treated as simple Dummy atom\n"},
    {111, "J2", AclKind::Dummy, kDummyAtom, "\nLinkage atom was treated as simple Dummy atom\n"},
    {112, "JJ", AclKind::Dummy, kDummyAtom, "\nLinkage atom was treated as simple Dummy atom\n"},
    {113, "X", AclKind::Dummy, kDummyAtom, {}},
    {114, "Tv", AclKind::Dummy, kDummyAtom, "\nMOPAC translation vector was treated as simple Dummy atom\n"},
    {115, "XX", AclKind::Dummy, kGeometryAid, {}},
    {116, "**", AclKind::Dummy, kDummyAtom, "\nWildcard FF type was treated as simple Dummy atom\n"},
    {117, "LP", AclKind::Dummy, kDummyAtom, "\nLone Pair was treated as simple Dummy atom\n"},
    {118, "VH", AclKind::Dummy, kDummyAtom, "\nVirtual Hydrogen was treated as simple Dummy atom\n"},
    {119, "Cp", AclKind::PiCentre, {}, {}},
    {120, "Qe", AclKind::Dummy, kPointCharge, {}},
    {121, "Bq", AclKind::Dummy, kGeometryAid, {}},
    {122, "Cb", AclKind::Dummy, kDummyAtom, {}},
    {123, "++", AclKind::Dummy, kDummyAtom, "\nMOPAC sparkle was treated as simple Dummy atom\n"},
    {124, "+", AclKind::Dummy, kDummyAtom, "\nMOPAC sparkle was treated as simple Dummy atom\n"},
    {125, "--", AclKind::Dummy, kDummyAtom, "\nMOPAC sparkle was treated as simple Dummy atom\n"},
    {126, "-", AclKind::Dummy, kDummyAtom, "\nMOPAC sparkle was treated as simple Dummy atom\n"},
    // Written for dummies of these symbols, so they are read as dummies too.
    {127, "Mx", AclKind::Dummy, kDummyAtom, {}},
    {128, "Du", AclKind::Dummy, kDummyAtom, {}},
    {129, "Zz", AclKind::Dummy, kDummyAtom, {}},
    {130, "Z", AclKind::Dummy, kDummyAtom, {}},
    {131, "XC", AclKind::Dummy, kDummyAtom, {}},
}};

// The row of a code that is not an element; null for element codes (0 and 2-105 included).
const AclCode* FindAclCode(int code);
// The code the writer writes for a dummy symbol (113 for one the table lacks) or a pi centre.
int PseudoElementCode(std::string_view symbol);

// ---- named values ----------------------------------------------------------------------

struct NamedValue {
    std::string_view name;
    int value;
};
inline constexpr std::array<NamedValue, 8> kHybridizations{{
    {"None", 0}, {"Linear", 1}, {"Trigonal", 2}, {"Tetrahedral", 3},
    {"SquarePlanar", 4}, {"TrigonalBipyramid", 5}, {"Octahedral", 9}, {"Auto", 13},
}};
inline constexpr int kUnknownHybridization = 12;

inline constexpr std::array<std::string_view, 8> kCenteringNames{
    "Primitive",     "BodyCentered",  "FaceCentered", "AFaceCentered",
    "BFaceCentered", "CFaceCentered", "Rhombohedral", "UnknownCentering",
};
inline constexpr int kUnknownCentering = 7;
inline constexpr std::array<std::string_view, 16> kLatticeNames{
    "Triclinic",    "MonoclinicA", "MonoclinicB", "MonoclinicC", "Orthorhombic", "Tetragonal",
    "Hexagonal",    "Rhombohedral", "Cubic",      "mCPrimitive", "oCPrimitive",  "oIPrimitive",
    "oFPrimitive",  "tIPrimitive", "cIPrimitive", "cFPrimitive",
};
// The centering code of a name; 7 for any other text.
int CenteringCode(std::string_view name);
// The hybridisation of a name; 12 for any other text.
int HybridizationValue(std::string_view name);
// The name the writer writes for a hybridisation; nullopt for values it does not write.
std::optional<std::string_view> HybridizationName(int value);

// The colours of the legacy colour indices 1 to 16, as R, G, B.
inline constexpr std::array<std::array<unsigned char, 3>, 16> kLegacyColors{{
    {127, 127, 127}, {255, 255, 255}, {255, 0, 0},   {0, 255, 0},    {0, 0, 255},   {255, 255, 0},
    {255, 0, 255},   {130, 40, 0},    {200, 140, 90}, {255, 50, 150}, {130, 0, 30},  {80, 255, 80},
    {0, 255, 255},   {255, 140, 0},   {180, 0, 255},  {0, 0, 0},
}};

// ---- text rules ------------------------------------------------------------------------

// A delimiter is escaped when an odd number of backslashes stand right before it.
bool IsEscaped(std::string_view text, std::size_t pos);
// Blank the last (or first, or every) occurrence of c that is not escaped; false when there
// is none. The text is a line the reader owns (a std::string converts).
bool BlankLastUnescaped(std::span<char> text, char c);
bool BlankFirstUnescaped(std::span<char> text, char c);
// Every unescaped occurrence of any of chars, in one pass: the same as one call per character,
// as blanking never changes which characters are escaped.
void BlankAllUnescaped(std::span<char> text, std::string_view chars);
// Removes each backslash that stands before a double quote, a backslash or a parenthesis.
std::string UnescapeBackslashes(std::string_view text);
// A backslash before every double quote, backslash and parenthesis; a line end becomes a blank,
// as it would end the record's line. The readers blank unescaped parentheses of attribute lines,
// so a name written with bare ones would lose them.
std::string EscapeQuotes(std::string_view text);
// True for a physical line that goes on in the next one (it ends in a blank and a backslash).
constexpr bool IsContinued(std::string_view line) {
    return line.size() >= 2 && line[line.size() - 1] == '\\' && (line[line.size() - 2] == ' ' || line[line.size() - 2] == '\t');
}

}  // namespace cartovane::qor

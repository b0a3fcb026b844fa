#include "formats/qor_trj_xtl_chemxml/xtl_reader.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

#include "base/text.h"
#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/elements.h"
#include "sdk/text_parser.h"

namespace cartovane::xtl {

namespace tx = cartovane::text;

namespace {

// A crystallographic group has at most 192 operators in its conventional cell (Fm-3m); a longer
// list forms no group, and is not searched (the closure test is quadratic).
constexpr std::size_t kMaxOperators = 192;
constexpr double kMinCellValue = 0.0001;
constexpr double kRhombohedralTolerance = 0.1;
constexpr float kUToB = 78.95683f;  // 8 pi^2
constexpr int kLawrencium = 103;
constexpr std::size_t kCellValuesKept = 7;  // enough to tell "more than 6"

bool Number(std::string_view token, double& value) {
    double v = 0;
    if (tx::ParseExact(token, v) != std::errc{} || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool Number(std::string_view token, float& value) {
    float v = 0;
    if (tx::ParseExact(token, v) != std::errc{} || !std::isfinite(v)) return false;
    value = v;
    return true;
}

void Tokenize(std::string_view line, std::vector<std::string_view>& tokens) {
    tokens.clear();
    tx::Tokens split(line, tx::Tokens::kWhiteSpace);
    while (std::optional<std::string_view> token = split.Next()) tokens.push_back(*token);
}

std::optional<std::string_view> NextLine(CTextParser& parser) {
    const char* line = parser.ReadStringAlloc();
    if (!line) return std::nullopt;
    return std::string_view(line, parser.GetLineLength());
}

bool Keyword(std::string_view token, std::string_view prefix) { return tx::StartsWithNoCase(token, prefix); }

enum class Section { None, Title, Dimension, Cell, Symmetry, Atoms, Skip, End };

Section SectionOf(std::string_view token) {
    if (Keyword(token, "TIT")) return Section::Title;
    if (Keyword(token, "DIM")) return Section::Dimension;
    if (Keyword(token, "CEL") || Keyword(token, "PBC")) return Section::Cell;
    if (Keyword(token, "SYM")) return Section::Symmetry;
    if (Keyword(token, "ATO")) return Section::Atoms;
    if (Keyword(token, "SKI")) return Section::Skip;
    if (Keyword(token, "EOF") || Keyword(token, "END")) return Section::End;
    return Section::None;
}

// Lines inside the atom table that are not rows: every section keyword but ATO.
bool IsNoRow(std::string_view token) {
    const Section section = SectionOf(token);
    return section != Section::None && section != Section::Atoms;
}

std::string Format(std::string_view text, std::string_view value) {
    std::string out(text);
    const std::size_t at = out.find("%1");
    if (at != std::string::npos) out.replace(at, 2, value);
    return out;
}

std::vector<xxTransformMatrix> Transforms(const std::vector<xxSymmetryOperator>& operators) {
    std::vector<xxTransformMatrix> transforms;
    transforms.reserve(operators.size());
    for (const xxSymmetryOperator& op : operators) transforms.push_back(xxSymmetryConvert::ToTransform(op));
    return transforms;
}

[[noreturn]] void Abort(std::string text) { throw Cfx::CfxResult(E_ABORT, std::move(text)); }

}  // namespace

Column ColumnOf(std::string_view token) {
    struct Code {
        std::string_view prefix;
        Column column;
    };
    // In this order, so that a token starting with X, Y or Z is always a coordinate.
    static constexpr Code kCodes[] = {
        {"NAM", Column::Name},         {"X", Column::X},
        {"Y", Column::Y},              {"Z", Column::Z},
        {"SCA", Column::Scattering},   {"OCC", Column::Occupancy},
        {"POT", Column::Potential},    {"CHA", Column::Charge},
        {"TEM", Column::Temperature},  {"SKI", Column::Skip},
        {"CARX", Column::CartesianX},  {"CARY", Column::CartesianY},
        {"CARZ", Column::CartesianZ},  {"BISO", Column::BIso},
        {"UISO", Column::UIso},        {"&", Column::Continued},
    };
    for (const Code& code : kCodes)
        if (Keyword(token, code.prefix)) return code.column;
    return Column::Skip;
}

std::string_view QualifierOf(std::string_view value) {
    struct Word {
        std::string_view prefix, qualifier;
    };
    static constexpr Word kWords[] = {
        {"A_UNIQUE", "A-Unique"}, {"B_UNIQUE", "B-Unique"},   {"C_UNIQUE", "C-Unique"},
        {"ORIGIN_1", "Origin-1"}, {"ORIGIN_2", "Origin-2"},   {"HEXAGONAL", "Hexagonal"},
        {"RHOMBOHEDRAL", "Rhombohedral"},
    };
    for (const Word& word : kWords)
        if (Keyword(value, word.prefix)) return word.qualifier;
    return {};
}

namespace {

// The part of an atom row's name that tells its element.
std::string_view ElementPart(std::string_view name) {
    const std::size_t cut = name.find_first_of("0123456789()");
    return cut != 0 && cut != std::string_view::npos ? name.substr(0, cut) : name;
}

}  // namespace

const xxElement* ElementOfName(std::string_view name) {
    name = ElementPart(name);
    std::string label(name);
    if (!label.empty()) label[0] = tx::ToUpper(label[0]);
    if (label.size() > 1) label[1] = tx::ToLower(label[1]);
    auto known = [](const xxElement* element) { return element && element->number != 0 ? element : nullptr; };
    if (const xxElement* element = known(xxElementFactory::FindElement(label))) return element;
    if (label.empty()) return nullptr;
    return known(xxElementFactory::FindElement(std::string_view(label).substr(0, 1)));
}

std::string BarNotation(std::string_view label) {
    std::string out(label);
    for (std::size_t i = 1; i < out.size(); ++i) {
        if (out[i] == 'b' && tx::IsDigit(out[i - 1])) {
            const char digit = out[i - 1];
            out[i - 1] = '-';
            out[i] = digit;
            break;
        }
    }
    return out;
}

bool CloseStrong(double a, double b, double tolerance) {
    const double difference = std::fabs(a - b);
    return difference <= tolerance * std::fabs(a) && difference <= tolerance * std::fabs(b);
}

XTLReader::XTLReader(std::string documentName) : documentName_(std::move(documentName)) {}

std::string XTLReader::WithName(std::string_view before, std::string_view after) const {
    std::string text(before);
    text += documentName_;
    text += after;
    return text;
}

void XTLReader::Warn(std::string text) { warnings_.push_back(std::move(text)); }

// ---- reading ------------------------------------------------------------------------------

void XTLReader::ReadSections(CTextParser& parser) {
    std::vector<std::string_view> tokens;
    std::optional<std::string_view> line = NextLine(parser);
    if (!line) Abort("The file appears to contain no structural data.");
    bool pending = false;  // tokens hold a line already read
    for (;;) {
        if (!pending) {
            if (!line) return;
            Tokenize(*line, tokens);
        }
        pending = false;
        if (!tokens.empty()) {
            switch (SectionOf(tokens[0])) {
                case Section::Dimension:
                    ReadDimension(tokens);
                    ++sections_;
                    break;
                case Section::Cell:
                    pending = ReadCell(parser, tokens, tokens);
                    ++sections_;
                    break;
                case Section::Symmetry:
                    ReadSymmetry(tokens);
                    ++sections_;
                    break;
                case Section::Atoms:
                    // The table runs to the end of the file.
                    if (ReadHeader(parser)) {
                        ++sections_;
                        ReadRows(parser);
                    }
                    return;
                case Section::End:
                    return;
                case Section::Title:
                case Section::Skip:
                case Section::None:
                    break;
            }
        }
        if (!pending) line = NextLine(parser);
    }
}

void XTLReader::ReadDimension(const std::vector<std::string_view>& tokens) {
    const std::string_view value = tokens.size() > 1 ? tokens[1] : std::string_view();
    int dimension = 0;
    if (tx::ParseExact(value, dimension) != std::errc{} || (dimension != 2 && dimension != 3))
        Abort(Format("Invalid dimension (%1).", value));
    dimension_ = dimension;
    dimensionGiven_ = true;
}

bool XTLReader::ReadCell(CTextParser& parser, const std::vector<std::string_view>& keywordLine,
                         std::vector<std::string_view>& pending) {
    cellGiven_ = true;
    auto take = [&](const std::vector<std::string_view>& tokens, std::size_t first) {
        std::size_t taken = 0;
        cellFaulty_ = false;
        for (std::size_t i = first; i < tokens.size(); ++i) {
            double value = 0;
            if (!Number(tokens[i], value) || value <= kMinCellValue) {
                cellFaulty_ = true;
                continue;
            }
            if (cell_.size() < kCellValuesKept) cell_.push_back(value);
            ++taken;
        }
        return taken;
    };
    if (take(keywordLine, 1) > 0) return false;
    // The values may stand on the next line, unless that line opens a section of its own.
    const std::optional<std::string_view> next = NextLine(parser);
    if (!next) return false;
    std::vector<std::string_view> tokens;
    Tokenize(*next, tokens);
    if (!tokens.empty() && SectionOf(tokens[0]) != Section::None) {
        pending = std::move(tokens);
        return true;
    }
    take(tokens, 0);
    return false;
}

void XTLReader::ReadSymmetry(const std::vector<std::string_view>& tokens) {
    const std::size_t n = tokens.size();
    for (std::size_t i = 1; i < n; ++i) {
        const std::string_view token = tokens[i];
        if (Keyword(token, "MA")) {
            // The rest of the line: nine rotation values row by row, then the translation.
            std::array<double, 12> values{};
            double previous = 0;
            for (std::size_t j = i + 1, k = 0; j < n && k < values.size(); ++j, ++k) {
                double value = 0;
                if (Number(tokens[j], value)) previous = value;
                values[k] = previous;
            }
            std::array<double, 9> rotation{};
            std::array<double, 3> translation{};
            std::copy_n(values.begin(), 9, rotation.begin());
            std::copy_n(values.begin() + 9, 3, translation.begin());
            operators_.emplace_back(rotation, translation);
        } else if (Keyword(token, "OP")) {
            operatorsKeyword_ = true;
        } else if (i + 1 < n) {
            if (Keyword(token, "NUM")) {
                const std::string_view value = tokens[++i];
                int number = 0;
                if (tx::ParseExact(value, number) != std::errc{} || number < 0 || number > 230)
                    Abort(Format("Invalid symmetry number (%1).", value));
                number_ = number;
            } else if (Keyword(token, "LAB")) {
                const std::string_view value = tokens[++i];
                label_ = Keyword(value, "(unknown)") ? std::string() : std::string(value);
            } else if (Keyword(token, "QU")) {
                qualifier_ = std::string(QualifierOf(tokens[++i]));
            }
        }
    }
}

bool XTLReader::ReadHeader(CTextParser& parser) {
    std::vector<std::string_view> tokens;
    std::optional<std::string_view> line = NextLine(parser);
    if (!line) return false;
    auto add = [&](std::string_view text) {
        Tokenize(text, tokens);
        for (std::string_view token : tokens) {
            const Column column = ColumnOf(token);
            const std::size_t index = columns_.size();
            switch (column) {
                case Column::X:
                case Column::Y:
                case Column::Z:
                    fractional_ = true;
                    break;
                case Column::CartesianX:
                case Column::CartesianY:
                case Column::CartesianZ:
                    cartesian_ = true;
                    break;
                case Column::Occupancy:
                    occupancy_ = true;
                    break;
                case Column::Charge:
                    charge_ = true;
                    break;
                case Column::Temperature:
                case Column::BIso:
                case Column::UIso:
                    temperature_ = true;
                    break;
                case Column::Scattering:
                    if (!scattering_) scatteringColumn_ = index;
                    scattering_ = true;
                    break;
                case Column::Continued:
                    if (!continued_) continuedColumn_ = index;
                    continued_ = true;
                    break;
                case Column::Name:
                case Column::Potential:
                case Column::Skip:
                    break;
            }
            columns_.push_back(column);
        }
    };
    add(*line);
    if (continued_) {
        line = NextLine(parser);
        if (line) add(*line);
    }
    return true;
}

void XTLReader::ReadRows(CTextParser& parser) {
    std::vector<std::string_view> tokens;
    std::string joined;
    // A row holds a token of at least one character and a separator per column; beyond a
    // million rows the table grows as it fills.
    constexpr std::size_t kMostRowsReserved = std::size_t{1} << 20;
    if (!columns_.empty()) rows_.reserve(std::min(expectedBytes_ / (2 * columns_.size()), kMostRowsReserved));
    for (std::optional<std::string_view> line = NextLine(parser); line; line = NextLine(parser)) {
        Tokenize(*line, tokens);
        if (tokens.empty() || IsNoRow(tokens[0])) continue;
        if (continued_) {
            // The first line up to its "&", then the next line.
            if (tokens.size() < continuedColumn_ + 1) continue;
            joined.assign(*line);
            const std::optional<std::string_view> next = NextLine(parser);
            if (!next) return;
            joined += ' ';
            joined += *next;
            Tokenize(joined, tokens);
        }
        TakeRow(tokens);
    }
}

void XTLReader::TakeRow(std::vector<std::string_view>& tokens) {
    const std::size_t n = columns_.size();
    if (tokens.size() < n) return;
    if (scattering_ && tokens.size() > n && scatteringColumn_ + 1 < tokens.size()) {
        // A scattering factor written as two tokens ("Na 1+").
        const std::string_view first = tokens[scatteringColumn_];
        const std::string_view second = tokens[scatteringColumn_ + 1];
        joined_.assign(first);
        joined_ += ' ';
        joined_ += second;
        tokens[scatteringColumn_] = joined_;
        tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(scatteringColumn_ + 1));
        tokens.emplace_back();
    }
    Row row;
    const std::size_t namesBefore = names_.size();
    bool readable = true;
    for (std::size_t j = 0; j < n && readable; ++j) {
        const std::string_view token = tokens[j];
        switch (columns_[j]) {
            case Column::Name:
                names_.resize(namesBefore);  // a later name column wins
                names_.append(token);
                row.nameOffset = namesBefore;
                row.nameSize = token.size();
                break;
            case Column::X:
            case Column::Y:
            case Column::Z:
                readable = Number(token, row.fractional[static_cast<std::size_t>(columns_[j]) - 1]);
                break;
            case Column::CartesianX:
            case Column::CartesianY:
            case Column::CartesianZ:
                readable = Number(token, row.cartesian[static_cast<std::size_t>(columns_[j]) -
                                                      static_cast<std::size_t>(Column::CartesianX)]);
                break;
            case Column::Occupancy:
                readable = Number(token, row.occupancy) && row.occupancy >= 0 && row.occupancy <= 1;
                break;
            case Column::Charge:
                readable = Number(token, row.charge);
                break;
            case Column::Temperature:
            case Column::BIso:
                readable = Number(token, row.temperature);
                break;
            case Column::UIso: {
                float u = 0;
                readable = Number(token, u);
                row.temperature = u * kUToB;
                readable = readable && std::isfinite(row.temperature);
                break;
            }
            case Column::Scattering:
            case Column::Potential:
            case Column::Skip:
            case Column::Continued:
                break;
        }
    }
    if (readable) {
        rows_.push_back(row);
    } else {
        names_.resize(namesBefore);
        ++skippedRows_;
    }
}

void XTLReader::CheckCell() {
    if (!cellGiven_) return;
    const std::size_t n = cell_.size();
    const std::string warning =
        WithName("Unable to parse the cell information in the XTL file ", ".  Default cell parameters will be used.");
    if (dimensionGiven_ && dimension_ == 2) {
        if (n != 3) {
            Warn(warning);
            cellWarned_ = true;
            cell_.clear();
        }
        return;
    }
    if (!dimensionGiven_ && n == 3 && !cellFaulty_) {
        dimension_ = 2;
        return;
    }
    if (n > 6) {
        cell_.resize(6);
        return;
    }
    if (n == 6 || (n == 3 && !dimensionGiven_)) return;
    Warn(warning);
    cellWarned_ = true;
    if (n >= 3) cell_.resize(6, 90.0);  // the missing angles
}

// ---- symmetry -----------------------------------------------------------------------------

const xxSpaceGroupDescription* XTLReader::FindByName(std::string_view label, std::string_view qualifier) const {
    const xxSpaceGroupFactory& factory = xxSpaceGroupFactory::Instantiate();
    const xxSpaceGroupDescription* found = factory.FindSpaceGroupByName(label, qualifier);
    // A qualifier the group cannot carry (an origin choice of a group that has none) is ignored.
    if (!found && !qualifier.empty()) found = factory.FindSpaceGroupByName(label);
    return found;
}

const xxSpaceGroupDescription* XTLReader::FindByNumber(int number, std::string_view qualifier) const {
    const xxSpaceGroupFactory& factory = xxSpaceGroupFactory::Instantiate();
    const xxSpaceGroupDescription* found = factory.FindSpaceGroupByNumber(number, qualifier);
    if (!found && !qualifier.empty()) found = factory.FindSpaceGroupByNumber(number);
    return found;
}

bool XTLReader::IsRhombohedralCell(const xxSpaceGroupDescription& found) const {
    if (!found.GetQualifier().starts_with("Hexagonal") || cell_.size() < 6) return false;
    const double alpha = cell_[3], beta = cell_[4], gamma = cell_[5];
    return CloseStrong(alpha, beta, kRhombohedralTolerance) && CloseStrong(alpha, gamma, kRhombohedralTolerance);
}

bool XTLReader::OperatorsFormACrystallographicGroup() {
    if (operators_.size() > kMaxOperators || !xxSymmetryUtility::IsGroupComplete(operators_)) {
        Warn(WithName("The symmetry matrices in the XTL file ", " do not appear to form a closed group."));
        return false;
    }
    if (!xxPointGroupFactory::Instantiate().FindPointGroupByOperatorClassification(operators_)) {
        Warn(WithName("The symmetry matrices in the XTL file ", " do not appear to form a crystallographic group."));
        return false;
    }
    return true;
}

std::unique_ptr<xxSymmetryDefinition> XTLReader::ResolveSpaceGroup(xxSymmetrySystem& system) {
    const xxSpaceGroupFactory& factory = xxSpaceGroupFactory::Instantiate();
    const xxSpaceGroupDescription* found = nullptr;
    if (!operators_.empty() && operators_.size() <= kMaxOperators) found = factory.FindSpaceGroupByOperators(operators_);
    if (!found && !label_.empty()) {
        std::string label = label_;
        found = FindByName(label, qualifier_);
        if (!found && label.find('b') != std::string::npos) {
            label = BarNotation(label);
            found = FindByName(label, qualifier_);
        }
        // The re-search takes the label that matched; when it finds nothing, the group stands.
        if (found && qualifier_.empty() && IsRhombohedralCell(*found))
            if (const xxSpaceGroupDescription* rhombohedral = factory.FindSpaceGroupByName(label, "Rhombohedral"))
                found = rhombohedral;
    }
    if (!found && number_ > 0) {
        found = FindByNumber(number_, qualifier_);
        if (found && qualifier_.empty() && IsRhombohedralCell(*found))
            if (const xxSpaceGroupDescription* rhombohedral = factory.FindSpaceGroupByNumber(number_, "Rhombohedral"))
                found = rhombohedral;
    }
    if (found) return xxSymmetryCreator::CreateSymmetryDefinition(*found, system);
    if (!operators_.empty() && OperatorsFormACrystallographicGroup())
        return std::make_unique<xxSpaceGroup>(system, Transforms(operators_), 0);
    return nullptr;
}

std::unique_ptr<xxSymmetryDefinition> XTLReader::ResolvePlaneGroup(xxSymmetrySystem& system) {
    const xxPlaneGroupFactory& factory = xxPlaneGroupFactory::Instantiate();
    const xxPlaneGroupDescription* found = nullptr;
    if (!operators_.empty() && operators_.size() <= kMaxOperators) found = factory.FindPlaneGroupByOperators(operators_);
    if (!found && !label_.empty()) found = factory.FindPlaneGroupByName(label_);
    if (!found && number_ > 0) found = factory.FindPlaneGroupByNumber(number_);
    if (found) return xxSymmetryCreator::CreateSymmetryDefinition(*found, system);
    if (!operators_.empty() && OperatorsFormACrystallographicGroup()) {
        try {
            return std::make_unique<xxPlaneGroup>(system, Transforms(operators_), 8);
        } catch (const Cfx::CfxResult&) {
            // Operators that move z make no plane group.
            Warn(WithName("The symmetry matrices in the XTL file ", " do not appear to form a crystallographic group."));
        }
    }
    return nullptr;
}

void XTLReader::SetCell(xxSymmetryDefinition& definition) {
    constexpr double kRadiansPerDegree = 0.017453292519943295;  // atan(1) / 45
    try {
        if (auto* space = dynamic_cast<xxSpaceGroup*>(&definition); space && cell_.size() == 6) {
            space->SetCellParameters(cell_[0], cell_[1], cell_[2], cell_[3] * kRadiansPerDegree,
                                     cell_[4] * kRadiansPerDegree, cell_[5] * kRadiansPerDegree, true);
        } else if (auto* plane = dynamic_cast<xxPlaneGroup*>(&definition); plane && cell_.size() == 3) {
            plane->SetCellParameters(cell_[0], cell_[1], cell_[2] * kRadiansPerDegree, true);
        }
    } catch (const Cfx::CfxResult&) {
        // Angles that close no cell: the group's own cell stays.
        if (!cellWarned_)
            Warn(WithName("Unable to parse the cell information in the XTL file ",
                          ".  Default cell parameters will be used."));
        cellWarned_ = true;
    }
}

bool XTLReader::ReadXtlFile(std::istream& in, xxTreeRoot* root, ISBDiagnosticsConnection* connection) {
    if (!root) return false;
    CTextIOStreamParser parser(in);
    ReadSections(parser);
    if (sections_ == 0) Abort("The file appears to contain no structural data.");
    CheckCell();
    if (operatorsKeyword_)
        Warn(WithName("The secondary SYMMETRY keyword OPERATORS is present in the XTL file ",
                      ".  Use of this keyword is not currently supported.  You are advised to use the MATRIX "
                      "secondary keyword instead."));

    // Built apart and put into the tree whole, so a failure leaves the tree as it was.
    auto system = std::make_unique<xxMultiScaleSymmetrySystem>();
    const std::string p1Warning = WithName("Unable to parse the symmetry information in the XTL file ", ".  Setting to P1.");
    auto p1 = [&]() -> std::unique_ptr<xxSymmetryDefinition> {
        if (dimension_ == 2)
            return xxSymmetryCreator::CreateSymmetryDefinition(xxPlaneGroupFactory::Instantiate().GetPlaneGroupByName("p 1"),
                                                               *system);
        return xxSymmetryCreator::CreateSymmetryDefinition(xxSpaceGroupFactory::Instantiate().GetSpaceGroupByName("P1"),
                                                           *system);
    };
    auto finish = [&](xxSymmetryDefinition& definition) {
        if (cartesian_)
            definition.SetOrientationConvention(dimension_ == 2 ? xxLatticeOrientation::kXY : xxLatticeOrientation::kXYZ);
        SetCell(definition);
    };
    std::unique_ptr<xxSymmetryDefinition> definition =
        dimension_ == 2 ? ResolvePlaneGroup(*system) : ResolveSpaceGroup(*system);
    if (!definition) {
        definition = p1();
        Warn(p1Warning);
    }
    finish(*definition);
    try {
        definition->CheckCellFitsGroup();
    } catch (const Cfx::CfxResult&) {
        // A cell the group's operators do not keep.
        definition = p1();
        Warn(p1Warning);
        finish(*definition);
    }

    if (skippedRows_ > 0) {
        const std::string count = std::to_string(skippedRows_);
        Warn(skippedRows_ == 1 ? WithName("1 atom row of the XTL file ", " could not be read and was skipped.")
                               : count + WithName(" atom rows of the XTL file ", " could not be read and were skipped."));
    }

    const xxTransformMatrix toCartesian = definition->GetFractionalToCartesianTransform();
    std::size_t unknown = 0;
    // Rows of one element mostly come together: the last name's element is looked up once.
    std::optional<std::string_view> lastPart;
    const xxElement* lastElement = nullptr;
    for (const Row& row : rows_) {
        const std::string_view name = std::string_view(names_).substr(row.nameOffset, row.nameSize);
        const std::string_view part = ElementPart(name);
        if (!lastPart || part != *lastPart) {
            lastElement = ElementOfName(part);
            lastPart = part;
        }
        const xxElement* element = lastElement;
        if (!element) {
            ++unknown;
            element = xxElementFactory::FindElementByType(kLawrencium);
        }
        xxAtom3d& atom = system->CreateChild<xxAtom3d>();
        atom.SetElementNumber(element->number);
        if (fractional_)
            atom.SetXYZ(toCartesian.Apply({row.fractional[0], row.fractional[1], row.fractional[2]}));
        else if (cartesian_)
            atom.SetXYZ({row.cartesian[0], row.cartesian[1], row.cartesian[2]});
        atom.SetName(std::string(name));
        if (occupancy_) atom.SetOccupancy(row.occupancy);
        if (charge_) atom.SetCharge(static_cast<double>(row.charge));
        if (temperature_) {
            atom.SetIsotropicTF(static_cast<double>(row.temperature), xxAtom3d::kTFFormatB);
            atom.SetAppliedTF(xxAtom3d::kIsotropicTF);
        }
    }

    constexpr double kTolerance = 0.05;
    try {
        xxSymmetryChanger::Build(*system, std::move(definition), true, kTolerance, true);
    } catch (const Cfx::CfxResult&) {
        // The group cannot be built over these atoms (a cell too thin for the tolerance): P1, or
        // the build's own failure when even that cannot stand.
        std::unique_ptr<xxSymmetryDefinition> fallback = p1();
        Warn(p1Warning);
        finish(*fallback);
        xxSymmetryChanger::Build(*system, std::move(fallback), true, kTolerance, true);
    }
    try {
        system->GetSymmetryDisplay().GenerateDisplay();
    } catch (const Cfx::CfxResult&) {
        // What a view shows is not part of the model; a display too large to list stays empty.
    }

    if (unknown == 1)
        Warn(WithName("1 unknown atom was detected in the XTL file ",
                      ".  It has been classified as element type Lr.  You are advised to change this atom to a "
                      "more appropriate type before proceeding."));
    else if (unknown > 1)
        Warn(std::to_string(unknown) +
             WithName(" unknown atoms were detected in the XTL file ",
                      ".  They have been classified as element type Lr.  You are advised to change these atoms to "
                      "a more appropriate type before proceeding."));
    if (!fractional_ && !cartesian_)
        Warn(WithName("The XTL file ", " appears to have no coordinate information."));

    if (!warnings_.empty()) Cfx::CheckNullDereference(connection);
    for (const std::string& warning : warnings_) {
        CfxBSTR text(warning);
        if (FAILED(connection->PostMessage(SB_DIAG_WARNING, text.Get()))) Abort("Unable to log error message.");
    }
    root->AdoptChild(std::move(system));
    return true;
}

}  // namespace cartovane::xtl

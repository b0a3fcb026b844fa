#include "formats/carmdf/car_scan.h"

#include <algorithm>

#include "datamodel/atomistic.h"

namespace cartovane::carscan {

static_assert(kBondSingle == static_cast<int>(xxBondType::Single) &&
              kBondPartial == static_cast<int>(xxBondType::Partial) &&
              kBondDouble == static_cast<int>(xxBondType::Double) &&
              kBondTriple == static_cast<int>(xxBondType::Triple));

using text::EqualsNoCase;
using text::IsDigit;
using text::ScanDouble;
using text::ScanFloat;
using text::ScanInt;
using text::ScanString;
using text::StartsWithNoCase;

// ---- CAR ----

CarArchive ArchiveOf(std::string_view headerLine) noexcept {
    if (headerLine.starts_with("!KORVEN archive 3")) return CarArchive::Archive3;
    if (headerLine.starts_with("!KORVEN archive 2")) return CarArchive::Archive2;
    return CarArchive::None;
}

CarPeriodicity PeriodicityOf(std::string_view line) noexcept {
    if (StartsWithNoCase(line, "PBC=ON")) return CarPeriodicity::ThreeD;
    if (StartsWithNoCase(line, "PBC=2D")) return CarPeriodicity::TwoD;
    return CarPeriodicity::None;
}

bool IsKnownPeriodicity(std::string_view line) noexcept {
    return PeriodicityOf(line) != CarPeriodicity::None || StartsWithNoCase(line, "PBC=OFF");
}

std::size_t ScanCellNumbers(std::string_view line, double* values, std::size_t count) noexcept {
    std::size_t pos = 0;
    if (!ScanString(line, pos)) return 0;
    std::size_t n = 0;
    while (n < count && ScanDouble(line, pos, values[n])) ++n;
    return n;
}

std::optional<std::string_view> ParenthesisedName(std::string_view line) noexcept {
    const std::size_t open = line.rfind('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || open < 1 || close < 1 || close < open)
        return std::nullopt;
    return line.substr(open + 1, close - open - 1);
}

const CarColumns& ColumnsOf(CarArchive archive) noexcept {
    static constexpr CarColumns archive3{6, 21, 36, 51, 56, 63, 71, 74, 63};
    static constexpr CarColumns archive2{5, 20, 35, 51, 55, 61, 64, 66, 61};
    return archive == CarArchive::Archive2 ? archive2 : archive3;
}

void ParseAtomLine(std::string_view line, const CarColumns& columns, CarAtomFields& f) noexcept {
    f = CarAtomFields{};
    // Each field is scanned from its own column; one the line does not reach is absent.
    auto stringAt = [&](std::size_t column, std::size_t width) -> std::string_view {
        if (column >= line.size()) return {};
        std::size_t pos = column;
        return ScanString(line, pos, width).value_or(std::string_view{});
    };
    auto coordinateAt = [&](std::size_t column, int axis, double& v) {
        std::size_t pos = column;
        if (column < line.size() && text::ScanReal(line, pos, v) == text::Conversion::Finite) return;
        v = 0;
        const std::string_view token = stringAt(column, std::string_view::npos);
        if (f.badAxis < 0 && !token.empty()) {
            f.badAxis = axis;
            f.badText = token;
        }
    };
    f.name = stringAt(0, 5);
    coordinateAt(columns.x, 0, f.x);
    coordinateAt(columns.y, 1, f.y);
    coordinateAt(columns.z, 2, f.z);
    f.residueName = stringAt(columns.residueName, 4);
    f.residueNumber = stringAt(columns.residueNumber, 7);
    if (line.size() <= columns.shortLine) {
        f.type = "?";
        f.elementUnknown = true;
        return;
    }
    f.type = stringAt(columns.type, 7);
    const std::string_view element = stringAt(columns.element, 2);
    f.elementLength = element.size();
    for (std::size_t i = 0; i < element.size(); ++i) f.elementBuffer[i] = element[i];
    if (f.elementLength == 2) f.elementBuffer[1] = text::ToLower(f.elementBuffer[1]);
    std::size_t pos = columns.charge;
    if (columns.charge >= line.size() || !ScanFloat(line, pos, f.charge)) f.charge = 0;
}

CarAtomKind AtomKindOf(std::string_view elementText) noexcept {
    if (elementText.starts_with("Du")) return CarAtomKind::Dummy;
    if (elementText == "D") return CarAtomKind::Deuterium;
    return CarAtomKind::Element;
}

// ---- paths ----

namespace {
std::size_t LastComponentStart(std::string_view path) noexcept {
    const std::size_t sep = path.find_last_of("/\\");
    return sep == std::string_view::npos ? 0 : sep + 1;
}
}  // namespace

std::string_view BaseName(std::string_view path) noexcept {
    std::string_view name = path.substr(LastComponentStart(path));
    if (name.ends_with(".car"))
        name.remove_suffix(4);
    else if (name.ends_with(".arc"))
        name.remove_suffix(4);
    return name;
}

CompanionName CompanionPath(std::string_view path, std::string_view extension) {
    const std::size_t start = LastComponentStart(path);
    const std::size_t dot = path.rfind('.');
    const bool replaced = dot != std::string_view::npos && dot > start;
    CompanionName out{std::string(path.substr(0, replaced ? dot : path.size())), replaced};
    out.path += extension;
    return out;
}

std::string CompanionMdfPath(std::string_view path) {
    if (LastComponentStart(path) == path.size()) return {};
    return CompanionPath(path, ".mdf").path;
}

// ---- MDF ----

int MdfFormatOf(std::string_view headerLine) noexcept {
    if (headerLine.starts_with("!KORVEN molecular_data 4")) return 4;
    if (headerLine.starts_with("!KORVEN molecular_data 3")) return 3;
    return 0;
}

char ColumnCodeOf(std::string_view name) noexcept {
    static constexpr std::pair<std::string_view, char> codes[] = {
        {"element", 'e'},   {"atom_type", 'a'},      {"charge_group", 'g'}, {"isotope", 'i'},
        {"formal_charge", 'f'}, {"charge", 'c'},     {"switching_atom", 's'}, {"oop_flag", 'p'},
        {"chirality_flag", 'y'}, {"occupancy", 'o'}, {"xray_temp_factor", 't'}, {"connections", 'x'},
    };
    for (const auto& [n, code] : codes)
        if (n == name) return code;
    return 'U';
}

namespace {
// Digits from pos as a non-negative int; nullopt when there are none or they overflow.
std::optional<int> LeadingInt(std::string_view text, std::size_t pos) noexcept {
    int v = 0;
    if (pos >= text.size() || !IsDigit(text[pos]) || !ScanInt(text, pos, v)) return std::nullopt;
    return v;
}
int Gcd(int a, int b) noexcept {
    while (b != 0) {
        const int t = a % b;
        a = b;
        b = t;
    }
    return a;
}
}  // namespace

std::optional<Fraction> ParseFraction(std::string_view text) noexcept {
    if (text.empty()) return Fraction{0, 1};
    if (text.size() == 1) {
        if (!IsDigit(text[0])) return std::nullopt;
        return Fraction{text[0] - '0', 1};
    }
    const bool negative = text.front() == '-' || text.back() == '-';
    std::size_t pos = text.front() == '+' || text.front() == '-' ? 1 : 0;
    const std::optional<int> numerator = LeadingInt(text, pos);
    if (!numerator) return std::nullopt;
    int denominator = 1;
    if (const std::size_t slash = text.find('/'); slash != std::string_view::npos) {
        const std::optional<int> d = LeadingInt(text, slash + 1);
        if (!d || *d == 0) return std::nullopt;
        denominator = *d;
    }
    const int g = Gcd(*numerator, denominator);  // both non-negative, denominator positive
    const int n = *numerator / g;
    return Fraction{negative ? -n : n, denominator / g};
}

ConnectionToken ParseConnectionToken(std::string_view token) noexcept {
    ConnectionToken t;
    std::string_view rest = token;
    if (const std::size_t colon = token.find(':'); colon != std::string_view::npos) {
        t.subUnit = token.substr(0, colon);
        rest = token.substr(colon + 1);
    }
    auto nextDelimiter = [&](std::size_t from) {
        while (from < rest.size() && rest[from] != '#' && rest[from] != '%' && rest[from] != '/' && rest[from] != ',')
            ++from;
        return from;
    };
    std::size_t at = nextDelimiter(0);
    t.partner = rest.substr(0, at);
    while (at < rest.size()) {
        const char kind = rest[at];
        const std::size_t next = nextDelimiter(at + 1);
        const std::string_view part = rest.substr(at + 1, next - at - 1);
        switch (kind) {
            case '%': {
                t.hasOffsets = true;
                std::size_t p = 0;
                for (int& offset : t.offsets) {
                    int sign = 1;
                    if (p < part.size() && (part[p] == '+' || part[p] == '-')) sign = part[p++] == '-' ? -1 : 1;
                    if (p >= part.size() || !IsDigit(part[p])) break;
                    offset = sign * (part[p++] - '0');
                }
                break;
            }
            case '#': {
                t.hasOperator = true;
                std::size_t p = 0;
                int number = 0;
                if (!part.empty()) {
                    if (ScanInt(part, p, number))
                        t.operatorNumber = number;
                    else
                        t.operatorValid = false;
                }
                break;
            }
            case '/': {
                const std::string_view order = part.substr(0, 3);
                t.bondType = order == "2.0" ? kBondDouble : order == "1.5" ? kBondPartial : order == "3.0" ? kBondTriple
                                                                                                         : kBondSingle;
                break;
            }
            default:  // "," parts carry nothing the reader uses
                break;
        }
        at = next;
    }
    return t;
}

std::optional<int> OrientationFromAxisOrder(std::string_view axes) noexcept {
    static constexpr std::pair<std::string_view, int> table[] = {
        {"xyz", 3}, {"yzx", 15}, {"zxy", 9},  {"yxz", 6},  {"zyx", 0},  {"xzy", 12},
        {"xy", 19}, {"yx", 20},  {"xz", 22},  {"zx", 24},  {"yz", 26},  {"zy", 28},
    };
    for (const auto& [text, value] : table)
        if (text == axes) return value;
    return std::nullopt;
}

std::string_view QualifierFromMdf(std::string_view text) noexcept {
    static constexpr std::pair<std::string_view, std::string_view> table[] = {
        {"A_UNIQUE", "A-Unique"}, {"B_UNIQUE", "B-Unique"},   {"C_UNIQUE", "C-Unique"},
        {"ORIGIN_1", "Origin-1"}, {"ORIGIN_2", "Origin-2"},   {"HEXAGONAL", "Hexagonal"},
        {"RHOMBOHEDRAL", "Rhombohedral"},
    };
    for (const auto& [mdf, name] : table)
        if (EqualsNoCase(mdf, text)) return name;
    return {};
}

NamedGroup ParseNamedGroupLine(std::string_view line) noexcept {
    NamedGroup g{"P1", {}};
    const std::optional<std::string_view> name = ParenthesisedName(line);
    if (!name) return g;
    g.name = *name;
    const std::size_t close = line.rfind(')');
    const std::size_t open = line.find('[', close);
    if (open == std::string_view::npos) return g;
    const std::size_t shut = line.find(']', open);
    if (shut == std::string_view::npos) return g;
    g.qualifier = QualifierFromMdf(line.substr(open + 1, shut - open - 1));
    return g;
}

}  // namespace cartovane::carscan

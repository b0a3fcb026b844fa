#include "formats/qor_trj_xtl_chemxml/qor_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/text.h"
#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/elements.h"
#include "datamodel/legacy_surface.h"
#include "datamodel/polymer.h"
#include "datamodel/reference.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/builder.h"
#include "formats/qor_trj_xtl_chemxml/qor_format.h"
#include "frame/clsids.h"
#include "frame/messages.h"
#include "sdk/text_parser.h"

namespace {

namespace tx = cartovane::text;
namespace q = cartovane::qor;
using cartovane::CLSID_QORImportExport;

constexpr std::string_view kSeparators = " \t\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A record number as the file gives it ("(12", "12"); none when it does not parse or fit.
std::optional<int> RecordNumber(std::string_view token) {
    if (!token.empty() && token.front() == '(') token.remove_prefix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec != std::errc{} || end == token.data()) return std::nullopt;
    return value;
}

// An attribute line after its record's delimiters were blanked: the first three tokens and the
// text after the third.
struct Attribute {
    std::string_view first, type, name, value;
};
Attribute SplitAttribute(std::string_view text) {
    tx::Tokens tokens(text, kSeparators);
    Attribute a;
    a.first = tokens.Next().value_or("");
    a.type = tokens.Next().value_or("");
    a.name = tokens.Next().value_or("");
    a.value = tokens.Rest();
    return a;
}

// The first word of a value, its escapes removed ("%s" then the unescape).
std::string FirstWord(std::string_view value) {
    tx::Tokens tokens(value, kSeparators);
    const auto word = tokens.Next();
    return word ? q::UnescapeBackslashes(*word) : std::string();
}

// The quoted text of a value whose quotes were not blanked yet: the last two unescaped quotes
// blanked, then the first word.
std::string QuotedWord(std::string_view value) {
    std::string text(value);
    q::BlankLastUnescaped(text, '"');
    q::BlankLastUnescaped(text, '"');
    return FirstWord(text);
}

// "F" values: the file writes them from single precision.
std::optional<double> SingleReal(std::string_view value) {
    std::size_t pos = 0;
    float v = 0;
    if (!tx::ScanFloat(value, pos, v)) return std::nullopt;
    return static_cast<double>(v);
}
std::optional<int> Integer(std::string_view value) {
    std::size_t pos = 0;
    int v = 0;
    if (!tx::ScanInt(value, pos, v)) return std::nullopt;
    return v;
}
template <std::size_t N>
std::optional<std::array<double, N>> Reals(std::string_view value) {
    std::array<double, N> out{};
    std::size_t pos = 0;
    for (double& v : out)
        if (!tx::ScanDouble(value, pos, v)) return std::nullopt;
    return out;
}
template <std::size_t N>
std::optional<std::array<int, N>> Integers(std::string_view value) {
    std::array<int, N> out{};
    std::size_t pos = 0;
    for (int& v : out)
        if (!tx::ScanInt(value, pos, v)) return std::nullopt;
    return out;
}

// The atoms (and pseudo-atoms) by record number. Writers count records from 1, so the numbers
// of a file lie close together and index a vector; it grows only up to a bound set by the
// records read so far, so a hostile number cannot make it huge: such numbers go to a side table.
class RecordObjects {
public:
    // Files object under number unless the number has one already; true when filed.
    bool Add(int number, xxBondable* object, std::size_t recordsRead) {
        if (Find(number)) return false;
        if (number >= 0 && static_cast<std::size_t>(number) < 2 * recordsRead + kSlack) {
            const auto i = static_cast<std::size_t>(number);
            if (i >= dense_.size()) dense_.resize(i + 1);
            dense_[i] = object;
        } else {
            sparse_.emplace(number, object);
        }
        return true;
    }
    xxBondable* Find(int number) const {
        if (number >= 0 && static_cast<std::size_t>(number) < dense_.size())
            if (xxBondable* object = dense_[static_cast<std::size_t>(number)]) return object;
        if (sparse_.empty()) return nullptr;
        const auto it = sparse_.find(number);
        return it == sparse_.end() ? nullptr : it->second;
    }

private:
    static constexpr std::size_t kSlack = 4096;
    std::vector<xxBondable*> dense_;
    std::unordered_map<int, xxBondable*> sparse_;
};

// The scratch state of one Atom record.
struct AtomScratch {
    std::optional<int> number;
    int fileId = 0;
    std::optional<int> switchValue;
    q::AclKind kind = q::AclKind::Element;
    std::string symbol;
    std::string_view dummyKind;
    bool elementSet = false;
    bool deuterium = false;
    std::optional<double> mass;
    bool drop = false;
    int imageKind = 0;  // 1 periodic, 2 symmetry
    bool fixed = false;
    // Image and display data of periodic models.
    int perParent = 0;
    xxPeriodicTranslation perTrans;
    std::optional<xxPeriodicTranslation> cellOffset, faceFlags;
    std::vector<int> symChildren;
};

// An atom record that describes an image of another atom, resolved once the symmetry is built.
struct ImageRecord {
    int number = 0;
    int fileId = 0;
    int imageKind = 0;  // 1 periodic, 2 symmetry
    int perParent = 0;
    xxPeriodicTranslation perTrans;
};

// The cells a periodic atom is shown in (from its "Cell0Offset" and "faceFlags").
struct CellSpan {
    xxPeriodicTranslation offset, faces;
};

// What the model record says of the cell and its symmetry.
struct Lattice {
    int periodicity = 0;  // 0 none, 1, 2 or 3 dimensions
    int periodicType = 0;
    std::array<double, 3> a3{10, 0, 0}, b3{0, 10, 0}, c3{0, 0, 10};
    std::array<double, 3> a2{10, 0, 0}, b2{0, 10, 0};
    int itNumber = 0, option = 0;
    bool generalPositions = false;
    std::array<int, 3> ranges{1, 1, 1};
    double tolerance = 0.05;
    int displayType = 0;
    bool periodicImages = false;  // some atom gives the cells it is shown in
    // General-position operators: the identity first, whether or not a "Symmetry" record comes.
    std::vector<xxTransformMatrix> operators{xxTransformMatrix()};
    int centering = 0;
};

struct BondScratch {
    std::optional<int> atom1, atom2;
    int id = 0;
    int kind = q::kBondKindSingle;
    std::string label;
    int imageKind = 0;
    bool symChildren = false;
    bool drop = false;
};

// A bond to make once every atom is read: plain numbers (labels, which few bonds have, lie
// apart), so that millions of them move as bytes when the list grows.
struct BondRecord {
    static constexpr std::uint32_t kNoLabel = 0xFFFFFFFFu;
    int atom1 = 0, atom2 = 0;
    int id = 0;
    int kind = q::kBondKindSingle;
    std::uint32_t label = kNoLabel;  // index into the reader's labels
};

class Reader {
public:
    Reader(std::istream& in, xxObject& target, std::string name)
        : parser_(in), target_(target), documentName_(name.empty() ? "xxx" : std::move(name)) {}

    // Repeat units without a name of their own are named after the document.
    const std::string& DocumentName() const { return documentName_; }

    HRESULT Load() {
        if (!FindHeader()) return Report(cartovane::msg::QORLOAD_NOHEADER);
        while (NextLine(false)) {
            if (tx::IsBlankLine(line_) || line_.front() == '#') continue;
            tx::Tokens tokens(line_, kSeparators);
            const auto first = tokens.Next();
            if (!first || first->size() < 2 || !tx::IsDigit((*first)[1])) continue;
            const auto kind = tokens.Next();
            auto* parent = target_.As<xxTreeNode>();
            if (!parent) throw Cfx::CfxResult(E_INVALIDARG, "A QOR model is read into a tree node");
            const std::string number(*first);
            if (HRESULT hr = Dispatch(*parent, number, kind.value_or(""), true); hr != S_OK) return hr;
        }
        return PostProcess();
    }

    const std::string& Warnings() const { return warnings_; }

private:
    // ---- lines ---------------------------------------------------------------------------

    // The next line into line_; false at the end of the text. Inside a record a line that ends
    // in a blank and a backslash is joined with the next (the backslash dropped, the blank
    // kept); a stray CR reads as a blank.
    //
    // A line lies in the parser's buffer, where it is blanked in place, and is copied only when
    // it is joined with the next.
    bool NextLine(bool inRecord) {
        if (!ReadPhysical()) return false;
        if (inRecord && !line_.empty() && line_.front() != '#' && q::IsContinued(line_)) {
            joined_.assign(line_.data(), line_.size() - 1);
            while (ReadPhysical()) {
                if (joined_.size() + line_.size() > parser_.GetMaxLineLength())
                    throw Cfx::CfxResult(E_FAIL, "A continued line of the QOR file is too long (line " +
                                                     std::to_string(parser_.GetLineNumber()) + ")");
                joined_ += line_;
                if (!q::IsContinued(joined_)) break;
                joined_.pop_back();
            }
            SetLine(joined_.data(), joined_.size());
        }
        return true;
    }

    bool ReadPhysical() {
        char* text = parser_.ReadStringAlloc();
        if (!text) return false;
        std::size_t size = parser_.GetLineLength();
        if (first_) {
            first_ = false;
            if (std::string_view(text, size).starts_with(kByteOrderMark)) {
                text += kByteOrderMark.size();
                size -= kByteOrderMark.size();
            }
        }
        for (char& c : std::span<char>(text, size))
            if (c == '\r' || c == '\0') c = ' ';  // a stray CR or NUL separates like a blank
        SetLine(text, size);
        return true;
    }

    void SetLine(char* text, std::size_t size) {
        lineText_ = text;
        line_ = std::string_view(text, size);
    }

    bool FindHeader() {
        while (NextLine(false)) {
            if (!line_.starts_with(q::kHeaderPrefix)) continue;
            // "# QOR DRAVIK4 DataModel File Version %d %d": an unreadable version is too old.
            int major = 0;
            bool readable = false;
            if (line_.starts_with(q::kHeaderVersionText)) {
                std::size_t pos = q::kHeaderVersionText.size();
                readable = tx::ScanInt(line_, pos, major);
            }
            if (!readable || major < q::kOldestMajorVersion) {
                badVersion_ = true;
                return true;
            }
            return true;
        }
        return false;
    }

    HRESULT Report(std::int32_t id) { return CfxReportError(E_UNEXPECTED, CLSID_QORImportExport, id); }

    // A data-model refusal with the line it came from.
    template <class F>
    void Apply(F&& f) {
        try {
            std::forward<F>(f)();
        } catch (const Cfx::CfxResult& e) {
            throw Cfx::CfxResult(e.Hr(), e.Description() + " (QOR line " + std::to_string(parser_.GetLineNumber()) + ")");
        }
    }

    void Warn(std::string_view text) {
        if (warnings_.find(text) == std::string::npos) warnings_ += text;
    }

    // Reads the next line of a record; nullopt at the end of the text, "" for the closing line,
    // else the line, comments and blank lines skipped.
    enum class LineKind { End, Close, Content };
    LineKind NextRecordLine() {
        while (NextLine(true)) {
            if (tx::IsBlankLine(line_) || line_.front() == '#') continue;
            tx::Tokens tokens(line_, kSeparators);
            if (tokens.Next() == std::optional<std::string_view>(")")) return LineKind::Close;
            return LineKind::Content;
        }
        return LineKind::End;
    }

    // After blanking: a nested record when the first token begins with a digit.
    static bool IsNested(const Attribute& a) { return !a.first.empty() && tx::IsDigit(a.first.front()); }

    // ---- records -------------------------------------------------------------------------

    HRESULT Dispatch(xxTreeNode& parent, std::string_view numberToken, std::string_view kindText, bool topLevel) {
        if (badVersion_) return Report(cartovane::msg::QORLOAD_BADVERS);
        ++records_;
        const std::optional<int> number = RecordNumber(numberToken);
        q::RecordKind kind = q::KindOf(kindText);
        if (kind == q::RecordKind::Model && !topLevel) kind = q::RecordKind::Unknown;
        switch (kind) {
            case q::RecordKind::Model: return ReadModel(parent);
            case q::RecordKind::Atom: return ReadAtom(parent, number);
            case q::RecordKind::Bond: return ReadBond();
            case q::RecordKind::Linkage: return ReadLinkage();
            case q::RecordKind::Subunit: return ReadSubunit(parent, number);
            case q::RecordKind::Symmetry: return ReadSymmetry();
            case q::RecordKind::Surface: return ReadSurface(parent.CreateChild<xxLegacySurfaceObject>());
            case q::RecordKind::Unknown: return SkipUnknown(parent);
        }
        return SkipUnknown(parent);
    }

    // Blanks the record's delimiters in work; dispatches a nested record. Answers the nested
    // record's result through hr and true when the line was one.
    bool Nested(xxTreeNode& parent, const Attribute& a, HRESULT& hr) {
        if (!IsNested(a)) return false;
        // Dispatch takes what it needs of the tokens before it reads a line.
        hr = Dispatch(parent, a.first, a.type, false);
        return true;
    }

    HRESULT ReadModel(xxTreeNode& model) {
        lattice_.periodicity = 0;
        bool monomer = false;
        const HRESULT hr = WithMonomerFlag(monomer, [&] { return ReadModelAttributes(model); });
        // A linkage typed directly in the model makes the model's content one repeat unit.
        if (hr == S_OK && monomer) MakeRepeatUnit(model, model);
        return hr;
    }

    HRESULT ReadModelAttributes(xxTreeNode& model) {
        for (;;) {
            const LineKind lk = NextRecordLine();
            if (lk == LineKind::End) return Report(cartovane::msg::QORLOAD_MODELAT);
            if (lk == LineKind::Close) {
                if (lattice_.periodicity > 0) {
                    if (lattice_.itNumber == 0) lattice_.itNumber = 1;
                    if (lattice_.option == 0) lattice_.option = 1;
                }
                return S_OK;
            }
            const WorkLine work = Work();
            q::BlankLastUnescaped(work, ')');
            q::BlankLastUnescaped(work, ')');
            q::BlankLastUnescaped(work, '(');
            const Attribute a = SplitAttribute(work);
            HRESULT hr = S_OK;
            if (Nested(model, a, hr)) {
                if (hr != S_OK) return hr;
                continue;
            }
            if (a.name == "Label") {
                const std::string word = QuotedWord(a.value);
                if (!word.empty()) model.SetName(word);
            } else if (a.name == "Id") {
                if (auto id = Integer(a.value); id && *id != 0) model.SetID(*id);
            } else {
                ReadLatticeAttribute(a.name, a.value);
            }
        }
    }

    // The model's cell and symmetry attributes.
    void ReadLatticeAttribute(std::string_view name, std::string_view value) {
        Lattice& l = lattice_;
        auto range = [&](int axis) {
            // The second integer of "(0 n)".
            tx::Tokens tokens(value, kSeparators);
            tokens.Next();
            if (auto n = Integer(tokens.Rest())) l.ranges[static_cast<std::size_t>(axis)] = *n;
        };
        if (name == "PeriodicType") {
            if (auto type = Integer(value)) {
                l.periodicType = *type;
                if (*type == 100) l.periodicity = 3;
                else if (*type == 101) l.periodicity = 2;
                else if (*type == 102) l.periodicity = 1;
            }
        } else if (name == "A3" || name == "B3" || name == "C3" || name == "A2" || name == "B2") {
            auto v = Reals<3>(value);
            if (!v) return;
            if (name == "A3") l.a3 = *v;
            else if (name == "B3") l.b3 = *v;
            else if (name == "C3") l.c3 = *v;
            else if (name == "A2") l.a2 = *v;
            else l.b2 = *v;
        } else if (name == "SpaceGroup") {
            std::string text(value);
            q::BlankLastUnescaped(text, '"');
            q::BlankLastUnescaped(text, '"');
            std::size_t pos = 0;
            int number = 0;
            if (!tx::ScanInt(text, pos, number) || number < 0) return;
            l.itNumber = number;
            if (int option = 0; tx::ScanInt(text, pos, option) && option >= 0) l.option = option;
        } else if (name == "SymmetryMode") {
            if (value.find("GeneralPositions") != std::string_view::npos) l.generalPositions = true;
        } else if (name == "ARange3" || name == "ARange2") {
            range(0);
        } else if (name == "BRange3" || name == "BRange2") {
            range(1);
        } else if (name == "CRange3") {
            range(2);
        } else if (name == "CRY/DISPLAY") {
            if (auto first = Integer(value)) l.displayType = *first == 32 ? 2 : *first == 64 ? 1 : 0;
        } else if (name == "CRY/TOLERANCE") {
            if (auto t = Reals<1>(value)) l.tolerance = (*t)[0];
        }
        // "CRY/BONDING" and "GP" have no effect.
    }

    HRESULT SkipUnknown(xxTreeNode& parent) {
        for (;;) {
            const LineKind lk = NextRecordLine();
            if (lk == LineKind::End) return Report(cartovane::msg::QORLOAD_UNKEOF);
            if (lk == LineKind::Close) return S_OK;
            const WorkLine work = Work();
            q::BlankLastUnescaped(work, ')');
            q::BlankLastUnescaped(work, '(');
            HRESULT hr = S_OK;
            if (Nested(parent, SplitAttribute(work), hr) && hr != S_OK) return hr;
        }
    }

    HRESULT ReadSubunit(xxTreeNode& parent, std::optional<int> number) {
        (void)number;
        auto& subunit = parent.CreateChild<xxMultiScaleSubUnit>();
        // The record's own flag: a nested Subunit neither sets nor clears it, a nested Linkage
        // "Type" sets it.
        bool monomer = false;
        const HRESULT hr = WithMonomerFlag(monomer, [&] { return ReadSubunitAttributes(subunit); });
        if (hr != S_OK || !monomer) return hr;
        MakeRepeatUnit(subunit, parent);
        subunit.Delete();
        // A sub-unit that holds a repeat unit becomes a block once everything is read; held
        // weakly, as it may become a repeat unit itself (and go) before then.
        if (auto* enclosing = parent.As<xxSubUnit>()) blockCandidates_.emplace_back(enclosing);
        return S_OK;
    }

    HRESULT ReadSubunitAttributes(xxMultiScaleSubUnit& subunit) {
        for (;;) {
            const LineKind lk = NextRecordLine();
            if (lk == LineKind::End) return Report(cartovane::msg::QORLOAD_SUBUAT);
            if (lk == LineKind::Close) return S_OK;
            const WorkLine work = Work();
            q::BlankLastUnescaped(work, ')');
            q::BlankLastUnescaped(work, '(');
            const Attribute a = SplitAttribute(work);
            HRESULT hr = S_OK;
            if (Nested(subunit, a, hr)) {
                if (hr != S_OK) return hr;  // the innermost record's identifier ends the load
                continue;
            }
            if (a.name == "Id" || a.name == "SubId") {
                std::string value(a.value);
                q::BlankLastUnescaped(value, '"');
                q::BlankLastUnescaped(value, '"');
                if (auto id = Integer(value)) subunit.SetID(*id);
            } else if (a.name == "Label") {
                const std::string word = QuotedWord(a.value);
                if (!word.empty()) subunit.SetName(word);
            } else if (a.name == "Monomer") {
                *monomer_ = true;  // whatever the value
            }
        }
    }

    // Runs a record's reader with flag as the monomer flag that its linkages set.
    template <class F>
    HRESULT WithMonomerFlag(bool& flag, F&& read) {
        bool* const outer = monomer_;
        monomer_ = &flag;
        try {
            const HRESULT hr = read();
            monomer_ = outer;
            return hr;
        } catch (...) {
            monomer_ = outer;
            throw;
        }
    }

    // A repeat unit under parent in place of the sub-unit (or of the model's content, when
    // sub-unit and parent are the model): its identifier, its name (else the model's, else the
    // document's), and everything the sub-unit holds.
    void MakeRepeatUnit(xxTreeNode& subunit, xxTreeNode& parent) {
        auto unit = std::make_unique<xxMultiScaleRepeatUnit>();
        if (subunit.GetID() != 0) unit->SetID(subunit.GetID());
        if (!subunit.GetName().empty()) unit->SetName(subunit.GetName());
        else if (!target_.GetName().empty()) unit->SetName(target_.GetName());
        else unit->SetName(documentName_);
        subunit.MoveChildrenTo(*unit);
        parent.AdoptChild(std::move(unit));
    }

    // Link atoms are filed as "LinkAtoms" gives them; the head or tail kind only when the record
    // has a "Type".
    HRESULT ReadLinkage() {
        std::optional<int> atom;
        std::optional<int> headTail;
        for (;;) {
            const LineKind lk = NextRecordLine();
            if (lk == LineKind::End) return Report(cartovane::msg::QORLOAD_LINKAT);
            if (lk == LineKind::Close) break;
            const WorkLine work = Work();
            for (int i = 0; i < 2; ++i) {
                q::BlankLastUnescaped(work, ')');
                q::BlankLastUnescaped(work, '(');
            }
            const Attribute a = SplitAttribute(work);
            if (a.name == "LinkAtoms") {
                // The first number of the list only.
                tx::Tokens values(a.value, kSeparators);
                if (auto first = values.Next()) atom = RecordNumber(*first);
            } else if (a.name == "Type") {
                if (monomer_) *monomer_ = true;
                const std::string type = QuotedWord(a.value);
                headTail = type.starts_with("Tail") ? kTailValue : type.starts_with("Head") ? kHeadValue : 0;
            }
        }
        if (atom && headTail) linkages_.emplace_back(*atom, *headTail);
        return S_OK;
    }

    // The general-position operators: the identity, then one per "SymOp" record.
    HRESULT ReadSymmetry() {
        lattice_.operators.assign(1, xxTransformMatrix());
        HRESULT result = S_OK;
        for (;;) {
            const LineKind lk = NextRecordLine();
            if (lk == LineKind::End) return Report(cartovane::msg::QORLOAD_SYMMAT);
            if (lk == LineKind::Close) return result;
            tx::Tokens tokens(line_, kSeparators);
            tokens.Next();
            const auto second = tokens.Next();
            const auto third = tokens.Next();
            if (second == std::optional<std::string_view>("SymOp")) {
                xxTransformMatrix op;
                result = ReadSymOp(op);
                if (result != S_OK) return result;
                lattice_.operators.push_back(op);
            } else if (third == std::optional<std::string_view>("CenteringType")) {
                std::string value(tokens.Rest());
                q::BlankLastUnescaped(value, ')');
                lattice_.centering = q::CenteringCode(QuotedWord(value));
            }
            // "LatticeType", "ITNumber" and "OptionID" have no effect.
        }
    }

    HRESULT ReadSymOp(xxTransformMatrix& op) {
        std::array<double, 9> rotation{1, 0, 0, 0, 1, 0, 0, 0, 1};
        std::array<double, 3> translation{};
        for (;;) {
            const LineKind lk = NextRecordLine();
            if (lk == LineKind::End) return Report(cartovane::msg::QORLOAD_SYMOPAT);
            if (lk == LineKind::Close) break;
            const WorkLine work = Work();
            q::BlankLastUnescaped(work, ')');
            q::BlankLastUnescaped(work, ')');
            q::BlankLastUnescaped(work, '(');
            const Attribute a = SplitAttribute(work);
            // Written from doubles, so read as doubles.
            if (a.name == "Matrix") {
                if (auto m = Reals<9>(a.value)) rotation = *m;
            } else if (a.name == "Translation") {
                if (auto t = Reals<3>(a.value)) translation = *t;
            }
        }
        op = xxTransformMatrix(rotation, translation);
        return S_OK;
    }

    // ---- legacy surfaces -----------------------------------------------------------------

    // A "Surface" record: its mesh is built at the closing line; a failure leaves the surface
    // without one.
    HRESULT ReadSurface(xxLegacySurfaceObject& surface) {
        SurfaceScratch m;
        for (;;) {
            const LineKind lk = NextRecordLine();
            if (lk == LineKind::End) return Report(cartovane::msg::QORLOAD_SURFAT);
            if (lk == LineKind::Close) break;
            const WorkLine work = Work();
            q::BlankFirstUnescaped(work, '(');
            tx::Tokens tokens(work, kSeparators);
            const std::string_view first = tokens.Next().value_or("");
            if (!first.empty() && tx::IsDigit(first.front())) return Report(cartovane::msg::QORLOAD_SURFOBJ);
            tokens.Next();
            const std::string_view name = tokens.Next().value_or("");
            if (HRESULT hr = ReadSurfaceAttribute(surface, m, name, tokens.Rest()); hr != S_OK) return hr;
        }
        xxTriangleMesh mesh;
        mesh.Vertices() = std::move(m.vertices);
        mesh.Triangles() = std::move(m.triangles);
        mesh.SetOwnerOID(surface.GetOID());
        mesh.SetPlanar(m.surfaceType == 2);
        mesh.SetMappedColors(m.colorListType == 1);
        mesh.SetColor(m.color);
        surface.SetTriangleMesh(std::move(mesh));
        return S_OK;
    }

    struct SurfaceScratch {
        std::vector<xxVertN> vertices;
        std::vector<xxTriangleIndex> triangles;
        xxColor color = xxColor::White;
        int surfaceType = 0;
        int colorListType = -1;
    };

    // The "("-delimited pieces of a list after its name, pieces of blanks only skipped.
    static std::vector<std::string_view> Triples(std::string_view value) {
        std::vector<std::string_view> pieces;
        tx::Tokens split(value, "(");
        while (auto piece = split.Next())
            if (!tx::IsBlankLine(*piece)) pieces.push_back(*piece);
        return pieces;
    }
    static std::optional<xxPoint3df> Triple(std::string_view piece) {
        xxPoint3df p;
        std::size_t pos = 0;
        if (!tx::ScanFloat(piece, pos, p.x) || !tx::ScanFloat(piece, pos, p.y) || !tx::ScanFloat(piece, pos, p.z))
            return std::nullopt;
        return p;
    }

    HRESULT ReadSurfaceAttribute(xxLegacySurfaceObject& surface, SurfaceScratch& m, std::string_view name,
                                 std::string_view value) {
        namespace msg = cartovane::msg;
        constexpr std::string_view kListSeparators = " \t\n()";
        tx::Tokens words(value, kSeparators);
        const std::string_view fourth = words.Next().value_or("");
        if (name == "Id") {
            if (auto id = tx::LeadingInteger(fourth); id && *id != 0) surface.SetID(static_cast<int>(*id));
        } else if (name == "Vertices") {
            // Room from the line's own length, never from the file's word; the list grows beyond it.
            m.vertices.reserve(m.vertices.size() + value.size() / 64);
            for (std::string_view piece : Triples(value)) {
                const auto p = Triple(piece);
                if (!p) return Report(msg::QORLOAD_SURFVRT);
                m.vertices.push_back({*p, xxColor::White, {}});
            }
        } else if (name == "Normals") {
            const auto pieces = Triples(value);
            for (std::size_t i = 0; i < m.vertices.size(); ++i) {
                if (i >= pieces.size()) return Report(msg::QORLOAD_SURFNRM);
                const auto n = Triple(pieces[i]);
                if (!n) return Report(msg::QORLOAD_SURFNRM2);
                m.vertices[i].normal = *n;
            }
        } else if (name == "Triangles") {
            tx::Tokens indices(value, kListSeparators);
            for (;;) {
                const auto a = indices.Next();
                if (!a) break;
                std::uint32_t t[3];
                std::optional<std::string_view> token = a;
                for (std::uint32_t& index : t) {
                    if (!token) return Report(msg::QORLOAD_SURFTRI);
                    int v = -1;
                    if (tx::ParseExact(*token, v) != std::errc{} || v < 0 ||
                        static_cast<std::size_t>(v) >= m.vertices.size())
                        return Report(msg::QORLOAD_SURFTRI);
                    index = static_cast<std::uint32_t>(v);
                    if (&index != &t[2]) token = indices.Next();
                }
                m.triangles.push_back({t[0], t[1], t[2]});
            }
        } else if (name == "ColorList") {
            tx::Tokens colours(value, kListSeparators);
            for (xxVertN& v : m.vertices) {
                const auto token = colours.Next();
                if (!token) return Report(msg::QORLOAD_SURFTRI3);
                std::int64_t rgb = 0;
                if (tx::ParseExact(*token, rgb) != std::errc{}) return Report(msg::QORLOAD_SURFTRI4);
                v.color.SetRGB(static_cast<std::uint32_t>(rgb));
            }
        } else if (name == "ColorListType") {
            if (auto t = Integer(fourth)) m.colorListType = *t;
        } else if (name == "XYZ") {
            std::string text(value);
            q::BlankFirstUnescaped(text, '(');
            q::BlankLastUnescaped(text, ')');
            if (auto p = Reals<3>(text)) surface.SetXYZ({(*p)[0], (*p)[1], (*p)[2]});
        } else if (name == "Label") {
            std::string text(value);
            q::BlankFirstUnescaped(text, '"');
            q::BlankLastUnescaped(text, '"');
            if (std::string word = FirstWord(text); !word.empty()) surface.SetName(std::move(word));
        } else if (name == "Visibility") {
            if (auto v = Integer(fourth)) surface.SetVisibility(*v != 0);
        } else if (name == "COLOR") {
            xxLoadQOR::LegacyColorIndex(fourth, m.color);
        } else if (name == "transparency") {
            if (auto t = SingleReal(fourth)) {
                for (xxVertN& v : m.vertices) v.color.SetA(*t);
                m.color.SetA(*t);
            }
        } else if (name == "SurfaceType") {
            if (auto t = Integer(fourth)) m.surfaceType = *t;
        } else if (name == "PlaneNormal") {
            const auto pieces = Triples(value);
            const auto n = pieces.empty() ? std::nullopt : Triple(pieces.front());
            if (!n) return Report(msg::QORLOAD_SURFPLN);
            for (xxVertN& v : m.vertices) v.normal = *n;
        }
        // "Moveable", "LabelType", "DisplayStyle", "transparencyMode" and unknown names: no effect.
        return S_OK;
    }

    // ---- atoms ---------------------------------------------------------------------------

    HRESULT ReadAtom(xxTreeNode& parent, std::optional<int> number) {
        auto& atom = parent.CreateChild<xxAtom3d>();
        if (number) atom.SetID(*number);
        AtomScratch s;
        s.number = number;
        for (;;) {
            const LineKind lk = NextRecordLine();
            if (lk == LineKind::End) return Report(cartovane::msg::QORLOAD_ATOMAT);
            if (lk == LineKind::Close) break;
            const WorkLine work = Work();
            q::BlankAllUnescaped(work, ")(\"");
            const Attribute a = SplitAttribute(work);
            HRESULT hr = S_OK;
            // Atoms hold no children: a record nested in an atom is read under the atom's parent.
            if (Nested(parent, a, hr)) {
                if (hr != S_OK) return hr;
                continue;
            }
            if (const auto row = q::FindAtomAttribute(a.name)) ReadAtomAttribute(atom, s, *row, a.value);
        }
        return CloseAtom(parent, atom, s);
    }

    void ReadAtomAttribute(xxAtom3d& atom, AtomScratch& s, q::AtomAttribute row, std::string_view v) {
        using A = q::AtomAttribute;
        switch (row) {
            case A::ACL: {
                std::size_t pos = 0;
                int code = 0;
                if (!tx::ScanInt(v, pos, code)) break;
                const std::string symbol(tx::ScanString(v, pos).value_or(""));
                s.elementSet = true;
                s.kind = q::AclKind::Element;
                s.deuterium = false;
                const q::AclCode* special = q::FindAclCode(code);
                if (!special) {
                    Apply([&] { atom.SetElement(symbol); });
                    break;
                }
                s.kind = special->kind;
                s.symbol = symbol;
                switch (special->kind) {
                    case q::AclKind::Deuterium:
                        Apply([&] { atom.SetElement("H"); });
                        s.deuterium = true;
                        break;
                    case q::AclKind::Mixture:
                        if (code == 106) SetAtomComposition(atom, 14, 0.75, 13, 0.25);
                        else if (code == 107) SetAtomComposition(atom, 13, 0.75, 14, 0.25);
                        else SetAtomComposition(atom, 29, 1.0, 0, 0);
                        s.kind = q::AclKind::Element;
                        break;
                    case q::AclKind::Dummy:
                        s.dummyKind = special->dummyKind;
                        if (!special->warning.empty()) Warn(special->warning);
                        break;
                    case q::AclKind::PiCentre:
                    case q::AclKind::Element: break;
                }
                break;
            }
            case A::Charge:
                if (auto c = SingleReal(v)) Apply([&] { atom.SetCharge(*c); });
                break;
            case A::FChg:
                if (auto f = Integers<2>(v)) Apply([&] { atom.SetFormalCharge((*f)[0], (*f)[1]); });
                break;
            case A::FFType: atom.SetForcefieldType(FirstWord(v)); break;
            case A::Id:
                if (auto id = tx::LeadingInteger(v)) s.fileId = static_cast<int>(*id);
                break;
            case A::XYZ:
                if (auto p = Reals<3>(v)) Apply([&] { atom.SetXYZ({(*p)[0], (*p)[1], (*p)[2]}); });
                break;
            case A::Label: atom.SetName(FirstWord(v)); break;
            case A::BackboneData: atom.SetIsBackboneAtom(true); break;
            case A::SymType: {
                const std::string type = FirstWord(v);
                if (type == "Periodic") s.imageKind = 1;
                else if (type == "Symmetry") s.imageKind = 2;
                else s.drop = true;
                break;
            }
            case A::SymChildren:
            case A::PerParent:
            case A::PerTrans:
            case A::Cell0Offset:
            case A::faceFlags: ReadAtomImageAttribute(s, row, v); break;
            case A::Occupancy:
                if (auto o = SingleReal(v)) Apply([&] { atom.SetOccupancy(*o); });
                break;
            case A::IsoTempFactor:
                if (auto t = SingleReal(v)) Apply([&] { atom.SetIsotropicTF(*t, xxAtom3d::kTFFormatU); });
                break;
            case A::TempFactorType:
                if (auto t = Integer(v)) Apply([&] { atom.SetAppliedTF(*t); });
                break;
            case A::Mass: s.mass = SingleReal(v); break;
            case A::Moveable:
                if (Integer(v) == std::optional<int>(0)) s.fixed = true;
                break;
            case A::Switch:
                if (auto sw = Integer(v)) s.switchValue = *sw;
                break;
            case A::Hybridization: {
                const std::string name = FirstWord(v);
                Apply([&] { atom.SetHybridization(q::HybridizationValue(name)); });
                break;
            }
            case A::AnisoTempFactor:
                if (auto u = Reals<6>(v)) {
                    // U11 U22 U33 U12 U23 U13, as the symmetric matrix.
                    const auto& t = *u;
                    const double m[9] = {t[0], t[3], t[5], t[3], t[1], t[4], t[5], t[4], t[2]};
                    xxMatrix3x3 matrix;
                    matrix.Set(m);
                    Apply([&] { atom.SetAnisotropicTF(matrix, xxAtom3d::kTFFormatUMatrix); });
                }
                break;
            case A::Tacticity:
                if (auto t = Integer(v); t && *t != 0) atom.SetIsChiralCenter(true);
                break;
            // Colours are accepted; the data model keeps no atom colour.
            case A::COLOR: break;
        }
    }

    // The image attributes of an atom record: the children it has under the group's operators,
    // the atom it is a translate of, the cells it is shown in.
    void ReadAtomImageAttribute(AtomScratch& s, q::AtomAttribute row, std::string_view v) {
        using A = q::AtomAttribute;
        switch (row) {
            case A::SymChildren: {
                // The positive numbers of the list; others name no record.
                tx::Tokens tokens(v, kSeparators);
                while (auto token = tokens.Next())
                    if (auto n = RecordNumber(*token); n && *n > 0) s.symChildren.push_back(*n);
                break;
            }
            case A::PerParent:
                if (auto n = Integer(v)) s.perParent = *n;
                break;
            case A::PerTrans:
                if (auto t = Integers<3>(v)) s.perTrans = {*t};
                break;
            case A::Cell0Offset:
            case A::faceFlags:
                if (auto t = Integers<3>(v)) (row == A::Cell0Offset ? s.cellOffset : s.faceFlags) = xxPeriodicTranslation{*t};
                lattice_.periodicImages = true;
                break;
            default: break;
        }
    }

    // Files the image data of an atom record; true for a record that describes an image (the
    // symmetry rebuilds it from its parent).
    bool StoreAtomImageData(const AtomScratch& s) {
        if (s.imageKind != 0) {
            if (!s.number) return true;
            ImageRecord r{*s.number, s.fileId, s.imageKind, s.perParent, s.perTrans};
            if (images_.emplace(r.number, r).second) imageOrder_.push_back(r.number);
            return true;
        }
        if (!s.number) return false;
        if (!s.symChildren.empty()) symChildren_.emplace_back(*s.number, s.symChildren);
        if (s.cellOffset || s.faceFlags)
            cellSpans_.emplace(*s.number, CellSpan{s.cellOffset.value_or(xxPeriodicTranslation{}),
                                                   s.faceFlags.value_or(xxPeriodicTranslation{})});
        return false;
    }

    // A mixed site of one or two elements (an atomic number of 0 names none); the atom takes the
    // major one's element.
    static void SetAtomComposition(xxAtom3d& atom, int z1, double w1, int z2, double w2) {
        std::vector<xxAtomComponent> components;
        for (const auto& [z, w] : {std::pair{z1, w1}, std::pair{z2, w2}})
            if (z > 0) components.emplace_back(xxElementFactory::GetElementByType(z), w);
        atom.SetMixtureProperties(std::move(components));
    }

    HRESULT CloseAtom(xxTreeNode& parent, xxAtom3d& atom, AtomScratch& s) {
        if (s.drop || StoreAtomImageData(s)) {
            atom.Delete();
            return S_OK;
        }
        if (!s.elementSet) Apply([&] { atom.SetElement("H"); });
        // Applied once the element is final, so the order of the lines does not matter.
        if (s.deuterium) Apply([&] { atom.SetIsotope(2); });
        if (s.mass) {
            const xxElement& element = atom.GetElement();
            const int massNumber = tx::RoundHalfAwayFromZero(*s.mass);
            if (*s.mass != element.GetAtomicWeight() && element.HasIsotope(massNumber))
                Apply([&] { atom.SetIsotope(massNumber); });
        }
        xxBondable* filed = &atom;
        if (s.kind == q::AclKind::Dummy || s.kind == q::AclKind::PiCentre) {
            xxBondable* pseudo = nullptr;
            if (s.kind == q::AclKind::Dummy) {
                auto& dummy = parent.CreateChild<xxDummy>();
                dummy.SetDummySymbol(s.symbol);
                dummy.SetDummyKind(std::string(s.dummyKind));
                pseudo = &dummy;
            } else {
                pseudo = &parent.CreateChild<xxPiSystem>();
            }
            pseudo->SetID(atom.GetID());
            pseudo->SetName(atom.GetName());
            pseudo->SetXYZ(atom.GetXYZ());
            pseudo->SetCharge(atom.GetCharge());
            pseudo->SetForcefieldType(atom.GetForcefieldType());
            atom.Delete();
            filed = pseudo;
        }
        if (s.number) {
            // The first object filed under a number keeps it.
            if (objects_.Add(*s.number, filed, records_)) atomOrder_.push_back(*s.number);
            if (s.fileId != 0) ids_.emplace_back(filed, s.fileId);
        }
        if (s.switchValue && *s.switchValue >= 0) switches_.emplace_back(*s.switchValue, filed);
        if (s.fixed) fixed_.push_back(filed);
        return S_OK;
    }

    // ---- bonds ---------------------------------------------------------------------------

    HRESULT ReadBond() {
        BondScratch b;  // reset whole for every record
        for (;;) {
            const LineKind lk = NextRecordLine();
            if (lk == LineKind::End) return Report(cartovane::msg::QORLOAD_BONDAT);
            if (lk == LineKind::Close) break;
            const WorkLine work = Work();
            q::BlankLastUnescaped(work, ')');
            q::BlankLastUnescaped(work, '(');
            const Attribute a = SplitAttribute(work);
            const auto row = q::FindBondAttribute(a.name);
            if (!row) continue;
            using B = q::BondAttribute;
            switch (*row) {
                case B::Atom1: b.atom1 = RecordNumber(tx::TrimBlanks(a.value)); break;
                case B::Atom2: b.atom2 = RecordNumber(tx::TrimBlanks(a.value)); break;
                case B::Id:
                    if (auto id = tx::LeadingInteger(a.value)) b.id = static_cast<int>(*id);
                    break;
                case B::Type:
                    if (auto t = tx::LeadingInteger(a.value)) b.kind = static_cast<int>(*t);
                    break;
                case B::Label: b.label = QuotedWord(a.value); break;
                case B::SymChildren: b.symChildren = true; break;
                case B::SymType: {
                    const std::string type = QuotedWord(a.value);
                    if (type == "Periodic") b.imageKind = 1;
                    else if (type == "Symmetry") b.imageKind = 2;
                    else b.drop = true;
                    break;
                }
                case B::Order:
                case B::XYZ:
                case B::PerParent:
                case B::PerTrans:
                case B::Cell0Offset:
                case B::FaceFlag: break;
            }
        }
        // An image bond is rebuilt by the symmetry, never made from its record; a bond without
        // both ends has nothing to join.
        if (b.drop || b.imageKind != 0 || !b.atom1 || !b.atom2) return S_OK;
        BondRecord& r = bonds_.emplace_back();
        r.atom1 = *b.atom1;
        r.atom2 = *b.atom2;
        r.id = b.id;
        r.kind = b.kind;
        if (!b.label.empty()) {
            r.label = static_cast<std::uint32_t>(bondLabels_.size());
            bondLabels_.push_back(std::move(b.label));
        }
        return S_OK;
    }

    // ---- after the last line -------------------------------------------------------------

    xxBondable* Object(std::optional<int> number) const {
        return number ? objects_.Find(*number) : nullptr;
    }

    HRESULT PostProcess() {
        for (const auto& [object, id] : ids_) object->SetID(id);
        MakeChargeGroups();
        MakeBlocks();
        if (HRESULT hr = BuildSymmetry(); hr != S_OK) return hr;
        if (!fixed_.empty()) {
            auto& restriction = Target().CreateChild<xxCompleteRestriction>();
            for (xxBondable* object : fixed_) restriction.AddRestrictable(object->GetXYZRestrictable());
        }
        MakeSymmetryImages();
        if (HRESULT hr = MakeTranslationImages(); hr != S_OK) return hr;
        SetHeadsAndTails();
        MakeBonds();
        MakePeriodicDisplay();
        return S_OK;
    }

    // The node the model is read into: the target, or the symmetry system built in it.
    xxTreeNode& Target() {
        if (system_) return *system_;
        return *target_.As<xxTreeNode>();
    }

    // ---- periodic models -----------------------------------------------------------------

    // A 3-D system from the IT number and option or the general-position operators, a 2-D one
    // on p1; the target's content moves into it. 504 (505 for 2-D) when the group is unknown or
    // the data model refuses the group, cell, ranges or tolerance.
    HRESULT BuildSymmetry() {
        Lattice& l = lattice_;
        if (l.periodicity == 2 && l.generalPositions) {
            Warn("At present the program cannot handle\nGeneral Positions symmetry descriptions\nfor 2D space groups.");
            l.periodicity = 0;
        }
        if (l.periodicity != 2 && l.periodicity != 3) return S_OK;
        const bool threeD = l.periodicity == 3;
        const std::int32_t failure = threeD ? cartovane::msg::QORLOAD_BAD3D : cartovane::msg::QORLOAD_BAD2D;
        auto system = std::make_unique<xxMultiScaleSymmetrySystem>();
        system->SetID(target_.GetID());
        system->SetName(target_.GetName());
        std::unique_ptr<xxSymmetryDefinition> definition;
        auto vector = [](const std::array<double, 3>& v) { return xxPoint3d{v[0], v[1], v[2]}; };
        try {
            if (threeD) {
                std::unique_ptr<xxSpaceGroup> group;
                if (l.generalPositions) {
                    group = std::make_unique<xxSpaceGroup>(*system, l.operators, l.centering);
                } else {
                    description_ = xxSpaceGroupFactory::Instantiate().FindSpaceGroupByNumber(l.itNumber, l.option);
                    if (!description_) return Report(failure);
                    group = xxSymmetryCreator::CreateSymmetryDefinition(*description_, *system);
                }
                group->SetCellVectors(vector(l.a3), vector(l.b3), vector(l.c3), true);
                group->SetDisplayRanges(0, l.ranges[0], 0, l.ranges[1], 0, l.ranges[2]);
                definition = std::move(group);
            } else {
                const xxPlaneGroupDescription* p1 = xxPlaneGroupFactory::Instantiate().FindPlaneGroupByName("p1");
                if (!p1) return Report(failure);
                std::unique_ptr<xxPlaneGroup> group = xxSymmetryCreator::CreateSymmetryDefinition(*p1, *system);
                group->SetCellVectors(vector(l.a2), vector(l.b2), true);
                group->SetDisplayRanges(0, l.ranges[0], 0, l.ranges[1]);
                definition = std::move(group);
            }
        } catch (const Cfx::CfxResult&) {
            return Report(failure);
        }
        // The model moves into the system, which takes the target's place.
        xxTreeNode& target = *target_.As<xxTreeNode>();
        std::vector<std::unique_ptr<xxObject>> content;
        while (target.NumChildren() > 0) content.push_back(target.DetachChild(target.GetChild(target.NumChildren() - 1)));
        for (auto it = content.rbegin(); it != content.rend(); ++it) system->AdoptChild(std::move(*it));
        system_ = &static_cast<xxMultiScaleSymmetrySystem&>(target.AdoptChild(std::move(system)));
        try {
            xxSymmetryChanger::Build(*system_, std::move(definition), true, l.tolerance, false);
        } catch (const Cfx::CfxResult&) {
            return Report(failure);
        }
        return S_OK;
    }

    // The operator index of the k-th symmetry child (the parent counts as 1); 0 for none.
    int ChildOperator(int k) const {
        if (lattice_.generalPositions) return k;
        if (lattice_.periodicType == 100 && description_) return description_->GetOperatorFromDravik4(k);
        return 0;
    }

    // The images named in "SymChildren" lists, under the operators in list order.
    void MakeSymmetryImages() {
        if (symChildren_.empty()) return;
        if (!system_) {
            Warn("\nSymmetry children of a model without a periodic cell were skipped\n");
            return;
        }
        const xxSymmetryDefinition& d = system_->GetSymmetryDefinition();
        for (const auto& [number, children] : symChildren_) {
            xxBondable* parent = Object(number);
            if (!parent) continue;
            for (std::size_t i = 0; i < children.size(); ++i) {
                const int child = children[i];
                if (Object(child)) continue;
                const auto record = images_.find(child);
                if (record == images_.end()) continue;
                const xxSymmetryElement* element = d.GetOperatorElement(ChildOperator(static_cast<int>(i) + 2));
                xxObject* image = element ? system_->FindSymmetryImage(*parent, element) : nullptr;
                auto* bondable = image ? image->As<xxBondable>() : nullptr;
                if (!bondable) {
                    Warn("\nA symmetry child that names no operator of the group was skipped\n");
                    continue;
                }
                FileImage(child, *bondable, record->second.fileId);
            }
        }
    }

    // An image takes the record's identifier when it has none and is filed under its number.
    void FileImage(int number, xxBondable& image, int fileId) {
        if (image.GetID() == 0 && fileId != 0) image.SetID(fileId);
        objects_.Add(number, &image, records_);
    }

    // Periodic images by their parents and cell translations, in passes until one resolves
    // nothing: a parent may itself be an image listed later. 507 when some stay unresolved.
    HRESULT MakeTranslationImages() {
        if (!system_) return S_OK;
        std::vector<const ImageRecord*> open;
        for (int number : imageOrder_) {
            const ImageRecord& r = images_.at(number);
            if (r.imageKind == 1) open.push_back(&r);
        }
        for (bool progress = true; progress && !open.empty();) {
            progress = false;
            std::vector<const ImageRecord*> still;
            for (const ImageRecord* r : open) {
                if (Object(r->number)) {
                    progress = true;
                    continue;
                }
                xxBondable* parent = Object(r->perParent);
                xxObject* image = parent ? system_->FindSymmetryImage(*parent, r->perTrans) : nullptr;
                auto* bondable = image ? image->As<xxBondable>() : nullptr;
                if (!bondable) {
                    still.push_back(r);
                    continue;
                }
                FileImage(r->number, *bondable, r->fileId);
                progress = true;
            }
            open = std::move(still);
        }
        return open.empty() ? S_OK : Report(cartovane::msg::QORLOAD_REPTRNAT);
    }

    // What a view of the system shows: with cell data in the file, exactly the cells each atom
    // asks for (every image else hidden); otherwise the display ranges.
    void MakePeriodicDisplay() {
        if (!system_) return;
        system_->SetPeriodicDisplayType(lattice_.displayType);
        xxSymmetryDisplay& display = system_->GetSymmetryDisplay();
        try {
            if (!lattice_.periodicImages) {
                display.GenerateDisplay();
                return;
            }
            for (xxObject* image : system_->Iterator(0, xxSymmetrySystem::kImages)) system_->SetImageVisibility(*image, false);
            const xxSymmetryDefinition& d = system_->GetSymmetryDefinition();
            const int identity = d.GetIdentityElement().GetOperatorNumber();
            const int axes = lattice_.periodicity;
            for (int number : atomOrder_) {
                xxBondable* object = Object(number);
                if (!object || !xxSymmetrySystem::HasSymmetryImages(*object)) continue;
                const auto span = cellSpans_.find(number);
                const CellSpan cells = span == cellSpans_.end() ? CellSpan{} : span->second;
                // o <= i < range + o + f per axis, clipped to what a display can show.
                std::array<std::array<int, 2>, 3> bounds{};
                for (int axis = 0; axis < 3; ++axis) {
                    const auto ax = static_cast<std::size_t>(axis);
                    if (axis >= axes) {
                        bounds[ax] = {0, 1};
                        continue;
                    }
                    const long long low = std::clamp<long long>(cells.offset[axis], -xxSymmetryDefinition::kMaxTranslation,
                                                                xxSymmetryDefinition::kMaxTranslation);
                    const long long high = std::clamp<long long>(
                        static_cast<long long>(lattice_.ranges[ax]) + cells.offset[axis] + cells.faces[axis], low,
                        low + static_cast<long long>(xxSymmetryDefinition::kMaxDisplaySpan));
                    bounds[ax] = {static_cast<int>(low), static_cast<int>(std::min<long long>(high, xxSymmetryDefinition::kMaxTranslation))};
                }
                xxObject& parent = *system_->GetSymmetryParent(*object);
                const xxSymmetryElement& own = system_->GetSymmetryElement(*object);
                for (int i = bounds[0][0]; i < bounds[0][1]; ++i)
                    for (int j = bounds[1][0]; j < bounds[1][1]; ++j)
                        for (int k = bounds[2][0]; k < bounds[2][1]; ++k) {
                            const xxSymmetryElement* shift = d.FindSymmetryElement(identity, {{i, j, k}});
                            const xxSymmetryElement* e = shift ? d.Compose(*shift, own) : nullptr;
                            if (e) display.MakeVisible(parent, *e);
                        }
            }
            display.ReGenerateDisplay();
        } catch (const Cfx::CfxResult& e) {
            // What a view shows is not part of the model: a display too large to list stays empty.
            display.Clear();
            Warn("\nThe periodic display was left empty: " + e.Description() + "\n");
        }
    }

    // Each sub-unit that holds a repeat unit becomes a block of the same name and identifier.
    void MakeBlocks() {
        for (const xxReference<xxSubUnit>& candidate : blockCandidates_) {
            xxSubUnit* subunit = candidate.Get();
            if (!subunit || !subunit->GetParent()) continue;  // gone, or met twice
            auto& block = subunit->GetParent()->CreateChild<xxMultiScaleBlock>();
            block.SetName(subunit->GetName());
            if (subunit->GetID() != 0) block.SetID(subunit->GetID());
            subunit->MoveChildrenTo(block);
            subunit->Delete();
        }
    }

    // A link atom sets the head or tail of the repeat unit it lies in directly.
    void SetHeadsAndTails() {
        for (const auto& [number, headTail] : linkages_) {
            xxBondable* atom = Object(number);
            if (!atom || !atom->GetParent()) continue;
            auto* unit = atom->GetParent()->As<xxMultipleBondingAtomsRepeatUnitBase>();
            if (!unit) continue;
            if (headTail == kTailValue) unit->SetTailAtom(atom);
            else unit->SetHeadAtom(atom);
        }
    }

    void MakeChargeGroups() {
        // One group per distinct switch value, in increasing order; members in reading order.
        std::stable_sort(switches_.begin(), switches_.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (std::size_t i = 0; i < switches_.size();) {
            std::size_t end = i;
            std::vector<xxBondable*> members;
            std::vector<xxObject*> placed;
            while (end < switches_.size() && switches_[end].first == switches_[i].first) {
                members.push_back(switches_[end].second);
                placed.push_back(switches_[end].second);
                ++end;
            }
            xxBondable* centre = Object(switches_[i].first);
            if (centre) placed.push_back(centre);
            i = end;
            if (members.empty() && !centre) continue;
            xxTreeNode* home = xxObject::FindCommonRoot(placed);
            if (!home) home = target_.As<xxTreeNode>();
            auto& group = home->CreateChild<xxChargeGroup>();
            group.SetMembers(members);
            group.SetSwitchingCenter(centre);
        }
    }

    void MakeBonds() {
        for (const BondRecord& b : bonds_) {
            xxBondable* first = Object(b.atom1);
            xxBondable* second = Object(b.atom2);
            if (!first || !second) continue;  // an end that names no atom
            if (first == second) {
                Warn("\nA bond that joins an atom to itself was not made\n");
                continue;
            }
            try {
                auto* pi = first->As<xxPiSystem>();
                xxBondable* other = second;
                if (!pi) {
                    pi = second->As<xxPiSystem>();
                    other = first;
                }
                const auto* carbon = other->As<xxAtom3d>();
                if (pi && carbon && carbon->GetElementNumber() == 6) {
                    pi->MakePiSystemBond(*other);
                    continue;
                }
                xxBond& bond = xxBondable::MakeBond(*first, *second, BondTypeOf(b.kind));
                if (b.id != 0) bond.SetID(b.id);
                if (b.label != BondRecord::kNoLabel) bond.SetName(bondLabels_[b.label]);
            } catch (const Cfx::CfxResult& e) {
                Warn("\nA bond was not made: " + e.Description() + "\n");
            }
        }
    }

    static xxBondType BondTypeOf(int kind) {
        switch (kind) {
            case q::kBondKindDouble: return xxBondType::Double;
            case q::kBondKindTriple: return xxBondType::Triple;
            case q::kBondKindAromatic: return xxBondType::Aromatic;
            default: return xxBondType::Single;
        }
    }

    // The current line, for blanking its delimiters in place. A nested record overwrites it, so
    // a reader uses it only until it dispatches one.
    struct WorkLine {
        std::span<char> text;
        operator std::span<char>() const { return text; }
        operator std::string_view() const { return {text.data(), text.size()}; }
    };
    WorkLine Work() { return {{lineText_, line_.size()}}; }

    CTextIOStreamParser parser_;
    xxObject& target_;
    std::string documentName_;
    // The current line: in the parser's buffer, or in joined_ when continued.
    std::string_view line_;
    char* lineText_ = nullptr;
    std::string joined_;
    std::size_t records_ = 0;  // records met so far
    bool first_ = true;
    bool badVersion_ = false;
    std::string warnings_;
    // Periodic models: the lattice, the image records and "SymChildren" lists, the cells
    // atoms are shown in, the non-image atom records in reading order, the system built.
    Lattice lattice_;
    std::unordered_map<int, ImageRecord> images_;
    std::vector<int> imageOrder_;
    std::vector<std::pair<int, std::vector<int>>> symChildren_;
    std::unordered_map<int, CellSpan> cellSpans_;
    std::vector<int> atomOrder_;
    xxMultiScaleSymmetrySystem* system_ = nullptr;
    const xxSpaceGroupDescription* description_ = nullptr;
    RecordObjects objects_;
    std::vector<std::pair<xxBondable*, int>> ids_;
    std::vector<std::pair<int, xxBondable*>> switches_;
    std::vector<xxBondable*> fixed_;
    std::vector<BondRecord> bonds_;
    std::vector<std::string> bondLabels_;
    // Polymers: the flag of the record being read, the sub-units that hold repeat units, and the
    // link atoms by record number with their head or tail value.
    static constexpr int kHeadValue = 1;
    static constexpr int kTailValue = -1;
    bool* monomer_ = nullptr;
    std::vector<xxReference<xxSubUnit>> blockCandidates_;
    std::vector<std::pair<int, int>> linkages_;
};

}  // namespace

int xxLoadQOR::LegacyColorIndex(std::string_view text, xxColor& color) {
    const auto index = tx::LeadingInteger(text);
    if (!index || *index < 1 || *index > static_cast<std::int64_t>(q::kLegacyColors.size())) return 1;
    const auto& rgb = q::kLegacyColors[static_cast<std::size_t>(*index - 1)];
    color = xxColor(rgb[0], rgb[1], rgb[2]);
    return 0;
}

xxBool xxLoadQOR::IsLoadable(std::istream& in) const {
    const auto start = in.tellg();
    bool loadable = false;
    {
        CTextIOStreamParser parser(in);
        if (const char* text = parser.ReadStringAlloc()) {
            std::string_view first(text, parser.GetLineLength());
            if (first.starts_with(kByteOrderMark)) first.remove_prefix(kByteOrderMark.size());
            loadable = first.starts_with(q::kHeaderPrefix);
        }
    }
    in.clear();
    if (start != std::istream::pos_type(-1)) in.seekg(start);
    return loadable;
}

HRESULT xxLoadQOR::LoadObjectFromStreamHR(std::istream& in, xxObject* target, std::string name) {
    if (!target) return E_POINTER;
    SetWarningMessage({});
    Reader reader(in, *target, std::move(name));
    const HRESULT hr = [&] {
        try {
            return reader.Load();
        } catch (...) {
            SetWarningMessage(reader.Warnings());
            throw;
        }
    }();
    SetWarningMessage(reader.Warnings());
    return hr;
}

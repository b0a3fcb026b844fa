#include "formats/carmdf/car_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <set>
#include <tuple>
#include <utility>

#include "base/text.h"
#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/system.h"
#include "formats/carmdf/car_scan.h"
#include "frame/clsids.h"
#include "frame/messages.h"
#include "host/streams.h"

using cartovane::carmdf::TextBuffer;
namespace msg = cartovane::msg;

namespace {

// Text is handed to the streams in pieces of about this size.
constexpr std::size_t kFlushSize = std::size_t{1} << 16;

constexpr std::string_view kChargeGroupWarning =
    "Charge Group information in the data model is incomplete or ambiguous, and incompatible with the mdf structure.";

void Report(std::int32_t messageId) { CfxReportError(E_UNEXPECTED, cartovane::CLSID_CARImportExport, messageId); }

using cartovane::text::IsScanSpace;

bool HasNonBlank(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c != ' '; });
}

// The force-field type as both files carry it: white space removed (the readers take one token)
// and at most 7 characters (the CAR column). A type of visible ASCII characters only (no
// locale counts one of them as white space) that fits is used as it stands.
std::string_view TypeText(const xxMatter& matter, std::string& scratch) {
    std::string_view type = matter.GetForcefieldType();
    if (type.size() <= 7 && std::all_of(type.begin(), type.end(), [](char c) { return c > ' ' && c < '\x7f'; }))
        return type;
    scratch.clear();
    for (char c : type) {
        if (IsScanSpace(c)) continue;
        scratch.push_back(c);
        if (scratch.size() == 7) break;
    }
    return scratch;
}

// The residue name and number of a sub-unit name "RES_NUM".
std::pair<std::string_view, std::string_view> SplitSubunitName(std::string_view name) {
    std::size_t cut = name.rfind('_');
    if (cut == std::string_view::npos) return {name, {}};
    return {name.substr(0, cut), name.substr(cut + 1)};
}

double Degrees(double radians) { return radians * 45.0 / std::atan(1.0); }

std::string_view QualifierHead(const std::string& qualifier) {
    std::string_view q = qualifier;
    return q.substr(0, q.find(','));
}

}  // namespace

// ---- clock ------------------------------------------------------------------------

void xxSaveCAR::SetClock(Clock clock) { clock_ = clock ? std::move(clock) : Clock(&LocalTime); }

void xxSaveCAR::SetCarStream(ISBStream* stream) { carStream_ = stream; }

std::tm xxSaveCAR::LocalTime() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

xxSaveCAR::xxSaveCAR() = default;
xxSaveCAR::~xxSaveCAR() = default;

// ---- paths ------------------------------------------------------------------------

bool xxSaveCAR::DeriveMdfPath(std::string_view carPath, std::string& mdfPath) {
    cartovane::carscan::CompanionName mdf = cartovane::carscan::CompanionPath(carPath, ".mdf");
    mdfPath = std::move(mdf.path);
    return mdf.replaced;
}

// ---- the export -------------------------------------------------------------------------

xxBool xxSaveCAR::WriteCarAndMdf(std::ostream& car, xxObject& object, const std::string& fileName,
                                 ISBDiagnosticsConnection* diagnostics, xxBool& allSetsWritten, xxBool unixFormat) {
    allSetsWritten = true;
    state_ = {};
    // However the export ends, its MDF stream goes with it: uncommitted, its temporary file.
    struct ReleaseMdf {
        CfxComPtr<ISBStream>& mdf;
        ~ReleaseMdf() { mdf.Reset(); }
    } releaseMdf{state_.mdf};
    state_.diagnostics = diagnostics;
    state_.crlf = !unixFormat;
    // The MDF goes beside the CAR file: without a path there is nowhere to put it.
    if (fileName.empty()) {
        Report(msg::CARSAVE_MDF_FILE);
        return false;
    }
    if (!PrepareModel(object)) return false;

    state_.now = clock_();
    WriteCarHeader(car);
    if ((state_.threeD || state_.twoD) && !WriteCarCellLine(car)) {
        Report(msg::CARSAVE_CAR_PBC);
        return false;
    }
    if (!WriteCarAtoms(car)) return false;
    car.flush();
    if (!car || (carStream_ && FAILED(host::FlushFileStream(carStream_)))) {
        Report(msg::CARSAVE);
        return false;
    }

    bool result = true;
    std::string mdfPath;
    if (!DeriveMdfPath(fileName, mdfPath)) {
        Report(msg::CARSAVE_MDF_FILE);
        result = false;
    }
    if (!WriteMdf(mdfPath)) return false;
    // Both files are complete: the CAR first, then the MDF take their files' places.
    if (carStream_ && FAILED(host::CommitFileStream(carStream_))) {
        Report(msg::CARSAVE);
        return false;
    }
    if (FAILED(host::CommitFileStream(state_.mdf.Get()))) {
        Report(msg::CARSAVE_MDF_FILE);
        return false;
    }
    allSetsWritten = allSetsWritten && !state_.setFailed;
    return result;
}

bool xxSaveCAR::PrepareModel(xxObject& object) {
    order_.SetCollectedTypes({xxSet::classType, xxCompleteRestriction::classType, xxPiSystem::classType});
    if (!order_.DefineAtomOrder(object, xxBondable::classType)) {
        Report(msg::CARSAVE_WRONG_CELL_INFO);
        return false;
    }
    state_.symmetry = order_.GetSymmetrySystem();
    if (!order_.GenerateObjectNames()) {
        Report(msg::CARSAVE_CAR_ATOM);
        return false;
    }

    if (state_.symmetry) {
        state_.definition = &state_.symmetry->GetSymmetryDefinition();
        state_.dimension = state_.definition->GetDimension();
        if (state_.dimension == 3) {
            state_.threeD = true;
            state_.toCarOrientation = state_.definition->GetTransformationToOrientation(3);
        } else if (state_.dimension == 2) {
            state_.twoD = true;
            state_.toCarOrientation = state_.definition->GetTransformationToOrientation(19);
        } else {
            Report(msg::CARSAVE_WRONG_CELL_DIM);
            return false;
        }
        state_.transform = !state_.toCarOrientation.IsTranslation();
    }

    if (!order_.GetChargeGroupStatus() && order_.GetNumberOfChargeGroups() >= 1) Warn(std::string(kChargeGroupWarning));
    return true;
}

void xxSaveCAR::WriteCarHeader(std::ostream& car) {
    TextBuffer text;
    text.Text("!KORVEN archive 3").EndLine(false);
    text.Text(state_.threeD ? "PBC=ON" : state_.twoD ? "PBC=2D" : "PBC=OFF").EndLine(false);
    text.Text("Orbanite Generated CAR File").EndLine(false);
    text.Text("!DATE ").Text(cartovane::carmdf::DateText(state_.now)).EndLine(false);
    car.write(text.View().data(), static_cast<std::streamsize>(text.Size()));
}

bool xxSaveCAR::WriteCarCellLine(std::ostream& car) {
    std::string line;
    if (state_.threeD) {
        const auto* group = state_.definition->As<xxSpaceGroup>();
        if (!group) return false;
        static constexpr std::string_view kQualifiers[] = {"A-Unique",  "B-Unique",     "C-Unique", "Hexagonal",
                                                           "Rhombohedral", "Origin-1", "Origin-2"};
        std::string_view qualifier = QualifierHead(group->GetQualifier());
        bool known = std::find(std::begin(kQualifiers), std::end(kQualifiers), qualifier) != std::end(kQualifiers);
        const std::string& name = group->GetGroupName();
        state_.namedGroup = known && group->GetLatticeRepresentation() != 1 && group->GetITNumber() > 0 && HasNonBlank(name);
        line = cartovane::carmdf::CellLine3d(group->GetA(), group->GetB(), group->GetC(), Degrees(group->GetAlpha()),
                                             Degrees(group->GetBeta()), Degrees(group->GetGamma()),
                                             state_.namedGroup ? std::string_view(name) : std::string_view("unknown"));
    } else {
        const auto* group = state_.definition->As<xxPlaneGroup>();
        if (!group) return false;
        const std::string& name = group->GetGroupName();
        state_.namedGroup = HasNonBlank(name);
        line = cartovane::carmdf::CellLine2d(group->GetA(), group->GetB(), Degrees(group->GetGamma()),
                                             state_.namedGroup ? std::string_view(name) : std::string_view("UNKNOWN"));
    }
    line.push_back('\n');
    car.write(line.data(), static_cast<std::streamsize>(line.size()));
    return true;
}

bool xxSaveCAR::WriteCarAtoms(std::ostream& car) {
    // PrepareModel made the names, so every name below is there.
    const auto& atoms = order_.GetAtomOrderArray();
    TextBuffer text;
    std::string type;
    auto flush = [&](bool force) {
        if (text.Size() >= kFlushSize || (force && text.Size() > 0)) {
            car.write(text.View().data(), static_cast<std::streamsize>(text.Size()));
            text.Clear();
        }
    };
    std::string_view residue, number;
    for (std::size_t p = 0; p < atoms.size(); ++p) {
        const xxCARAtomSubunitDef& entry = atoms[p];
        bool newMolecule = p == 0 || entry.molecule != atoms[p - 1].molecule;
        if (newMolecule || entry.subunit != atoms[p - 1].subunit)
            std::tie(residue, number) = SplitSubunitName(order_.SubunitName(static_cast<std::size_t>(entry.subunit)));
        if (newMolecule && p != 0) text.Text("end").EndLine(false);

        const xxBondable& object = *entry.atom;
        xxPoint3d xyz = object.GetXYZ();
        if (state_.transform) xyz = state_.toCarOrientation.Apply(xyz);
        std::string_view typeText = TypeText(object, type);
        if (typeText.empty()) typeText = "xx    ";
        std::string_view element =
            order_.IsAtom(p) ? static_cast<const xxAtom&>(object).GetElement().symbol : std::string_view("Du");

        text.Left(order_.AtomName(p), 5).Char(' ');
        text.FixedCut(xyz.x, 9, 14).Char(' ');
        text.FixedCut(xyz.y, 9, 14).Char(' ');
        text.FixedCut(xyz.z, 9, 14).Char(' ');
        text.Left(residue, 4).Char(' ').Left(number, 7);
        text.Left(typeText, 7).Char(' ');
        text.Left(element, 2).Char(' ');
        text.Fixed(object.GetCharge(), 3, 6).EndLine(false);
        flush(false);
    }
    text.Text("end").EndLine(false);
    text.Text("end").EndLine(false);
    flush(true);
    return true;
}

// ---- MDF ---------------------------------------------------------------------------

void xxSaveCAR::Line() {
    state_.mdfText.EndLine(state_.crlf);
    FlushMdf(false);
}

void xxSaveCAR::FlushMdf(bool force) {
    if (state_.mdfText.Size() >= kFlushSize || (force && state_.mdfText.Size() > 0)) {
        if (!state_.mdfFailed) {
            // A piece is at most kFlushSize and a line: it fits the stream's count.
            const auto size = static_cast<ULONG>(state_.mdfText.Size());
            ULONG written = 0;
            state_.mdfFailed = FAILED(state_.mdf->Write(state_.mdfText.View().data(), size, &written)) || written != size;
        }
        state_.mdfText.Clear();
    }
}

bool xxSaveCAR::WriteMdf(const std::string& mdfPath) {
    // The writer puts in the CR of CR LF itself: the stream passes bytes as they are.
    if (FAILED(host::CreateFileStream(mdfPath, host::FileMode::Write, state_.mdf.Out())) ||
        FAILED(state_.mdf->SetBinaryMode(VARIANT_TRUE))) {
        Report(msg::CARSAVE_MDF_FILE);
        return false;
    }
    WriteMdfHeader();
    WriteMdfColumns();
    if (!WriteMdfRecords()) Report(msg::CARSAVE_MDF_ATOM);
    if (state_.threeD || state_.twoD) {
        state_.mdfText.Char('!');
        Line();
        WriteMdfSymmetry();
    }
    WriteSetSection();
    const auto& atoms = order_.GetAtomOrderArray();
    if (!atoms.empty()) {
        std::size_t first = 0;
        for (std::size_t p = 1; p <= atoms.size(); ++p) {
            if (p == atoms.size() || atoms[p].molecule != atoms[first].molecule) {
                WriteBackboneList(first, p, order_.MoleculeName(static_cast<std::size_t>(atoms[first].molecule)));
                first = p;
            }
        }
    }
    WriteFixedAtomsSubset();
    WritePseudoAtomLists();
    state_.mdfText.Text("#end");
    Line();
    FlushMdf(true);
    if (state_.mdfFailed || FAILED(host::FlushFileStream(state_.mdf.Get()))) {
        Report(msg::CARSAVE_MDF_FILE);
        return false;
    }
    return true;
}

void xxSaveCAR::WriteMdfHeader() {
    state_.mdfText.Text("!KORVEN molecular_data 4");
    Line();
    state_.mdfText.Char(' ');
    Line();
    state_.mdfText.Text("!Date: ").Text(cartovane::carmdf::DateText(state_.now).substr(0, 24)).Text("   Orbanite Generated MDF file");
    Line();
    state_.mdfText.Char(' ');
    Line();
}

void xxSaveCAR::WriteMdfColumns() {
    static constexpr std::string_view kColumns[] = {"element",        "atom_type",     "charge_group",   "isotope",
                                                    "formal_charge",  "charge",        "switching_atom", "oop_flag",
                                                    "chirality_flag", "occupancy",     "xray_temp_factor", "connections"};
    state_.mdfText.Text("#topology");
    Line();
    Line();
    int n = 1;
    for (std::string_view column : kColumns) {
        state_.mdfText.Text("@column ").Int(n++).Char(' ').Text(column);
        Line();
    }
}

bool xxSaveCAR::WriteMdfRecords() {
    // PrepareModel made the names, so every name below is there.
    const auto& atoms = order_.GetAtomOrderArray();
    bool allWritten = true;
    for (std::size_t p = 0; p < atoms.size(); ++p) {
        const xxCARAtomSubunitDef& entry = atoms[p];
        if (p == 0 || entry.molecule != atoms[p - 1].molecule) {
            state_.mdfText.Char(' ');
            Line();
            state_.mdfText.Text("@molecule ").Text(order_.MoleculeName(static_cast<std::size_t>(entry.molecule)));
            Line();
            state_.mdfText.Char(' ');
            Line();
        }
        if (!WriteMdfAtoms(p)) allWritten = false;
    }
    state_.mdfText.Char(' ');
    Line();
    return allWritten;
}

bool xxSaveCAR::WriteMdfAtoms(std::size_t position) {
    const xxCARAtomSubunitDef& entry = order_.GetAtomOrderArray()[position];
    const xxBondable& object = *entry.atom;
    const auto* atom = order_.IsAtom(position) ? static_cast<const xxAtom*>(&object) : nullptr;
    const auto* atom3d = order_.IsAtom3d(position) ? static_cast<const xxAtom3d*>(&object) : nullptr;

    // The qualified name, left-justified in 19 (the order's names hold no white space).
    std::string_view subunitName = order_.SubunitName(static_cast<std::size_t>(entry.subunit));
    std::string_view atomName = order_.AtomName(position);
    const std::size_t nameLength = subunitName.size() + 1 + atomName.size();
    state_.mdfText.Text(subunitName).Char(':').Text(atomName);
    if (nameLength < 19) state_.mdfText.Char(' ', 19 - nameLength);
    state_.mdfText.Char(' ');

    std::string_view typeText = "?";
    if (atom) {
        typeText = TypeText(object, typeScratch_);
        if (typeText.empty()) typeText = "x";
    }
    if (atom && atom->IsBackboneAtom()) state_.backbonePositions.push_back(position);
    int switching = 0;
    std::string_view chargeGroup = order_.ChargeGroupName(position, switching);
    state_.mdfText.Left(atom ? atom->GetElement().symbol : std::string_view("Du"), 2).Char(' ');
    state_.mdfText.Left(typeText, 7).Char(' ');
    state_.mdfText.Left(chargeGroup, 5).Char(' ');
    state_.mdfText.Int(atom3d && atom3d->IsIsotope() ? atom3d->GetIsotope() : 0).Text("  ");
    std::size_t fraction = state_.mdfText.Size();
    state_.mdfText.Fraction(atom3d ? atom3d->GetFormalCharge() : xxRational{});
    if (state_.mdfText.Size() - fraction < 4) state_.mdfText.Char(' ', 4 - (state_.mdfText.Size() - fraction));
    state_.mdfText.Char(' ');
    state_.mdfText.Fixed(object.GetCharge(), 4, 7).Char(' ');
    state_.mdfText.Int(switching).Char(' ');
    state_.mdfText.Int(atom && atom->IsOutOfPlane() ? 1 : 0).Char(' ');
    state_.mdfText.Char('8').Char(' ');
    state_.mdfText.Fixed(atom3d ? atom3d->GetOccupancy() : 1.0, 4, 6).Char(' ');
    double tf = 0;
    if (atom3d) {
        int applied = atom3d->GetAppliedTF();
        if (applied == 1)
            tf = atom3d->GetIsotropicTF(0);
        else if (applied == 2)
            tf = atom3d->GetUeqTF();
    }
    state_.mdfText.Fixed(tf, 4, 7);

    bool written = true;
    CollectBonds(object);
    for (const Connection& connection : bonds_)
        if (!WriteConnection(connection, position)) written = false;
    state_.mdfText.Char(' ');
    Line();
    return written;
}

void xxSaveCAR::CollectBonds(const xxBondable& object) {
    // Asked once: each Class() call passes the guards of its function-local records.
    static const xxClass* const atom3dClass = &xxAtom3d::Class();
    static const xxClass* const bondClass = &xxBond::Class();
    // Each partner once, in the order first met; a short list is scanned, a long one indexed.
    constexpr std::size_t kScanned = 8;
    bonds_.clear();
    bondIndex_.Clear();
    auto add = [&](const xxBondable* partner, double order) {
        if (bonds_.size() < kScanned) {
            for (const Connection& c : bonds_)
                if (c.partner == partner) return;
        } else {
            if (bonds_.size() == kScanned)
                for (std::uint32_t i = 0; i < kScanned; ++i) bondIndex_.Insert(bonds_[i].partner, i);
            if (!bondIndex_.Insert(partner, static_cast<std::uint32_t>(bonds_.size()))) return;
        }
        bonds_.push_back({partner, order});
    };
    for (const xxBondableInteraction* interaction : object.GetBonds()) {
        const xxBondable* partner = interaction->GetPartner(object);
        if (!partner) continue;
        const auto* pi = &partner->GetClass() == atom3dClass ? nullptr : partner->As<xxPiSystem>();
        if (pi && pi->HasDynamicPosition()) {
            // A pseudo-atom whose place follows its members is no record of its own: what is
            // bonded to it is written as bonded to each member, and each member as bonded to
            // what is bonded to it.
            bool kind = interaction->IsPiSystemBond();
            for (const xxBondableInteraction* other : pi->GetBonds()) {
                if (other->IsPiSystemBond() == kind) continue;
                const xxBondable* far = other->GetPartner(*pi);
                if (far && far != &object) add(far, 1.0);
            }
            continue;
        }
        const auto* bond = &interaction->GetClass() == bondClass ? static_cast<const xxBond*>(interaction)
                                                                 : interaction->As<xxBond>();
        add(partner, bond ? bond->GetOrder() : 1.0);
    }
}

bool xxSaveCAR::WriteConnection(const Connection& connection, std::size_t position) {
    const xxObject* partner = connection.partner;
    int operatorNumber = 1;
    xxPeriodicTranslation offsets;
    if (state_.symmetry) {
        const xxSymmetryElement& element = state_.symmetry->GetSymmetryElement(*partner);
        partner = state_.symmetry->GetSymmetryParent(*partner);
        operatorNumber = element.GetOperatorNumber();
        offsets = element.GetPeriodicTranslation();
        // Operators whose translation reaches a whole cell move that cell into the offsets, as
        // the reader expects.
        xxTransformMatrix op = element.GetOperator();
        for (int axis = 0; axis < 3; ++axis) {
            double t = op.T(axis);
            if (t > 0.9999) {
                double cells = std::ceil(t - 0.9999);
                if (cells > 9) return false;
                offsets[axis] += static_cast<int>(cells);
            }
        }
        for (int axis = 0; axis < 3; ++axis)
            if (offsets[axis] < -9 || offsets[axis] > 9) return false;
    }
    std::size_t partnerPosition = order_.FindPositionNear(*partner, position);
    if (partnerPosition == xxCarMdfAtomOrder::npos) return true;
    const auto& atoms = order_.GetAtomOrderArray();
    // The reader finds partners only within the record's molecule: a bond into another
    // molecule cannot be written.
    if (atoms[partnerPosition].molecule != atoms[position].molecule) return false;

    state_.mdfText.Char(' ');
    if (atoms[partnerPosition].subunit != atoms[position].subunit)
        state_.mdfText.Text(order_.SubunitName(static_cast<std::size_t>(atoms[partnerPosition].subunit))).Char(':');
    state_.mdfText.Text(order_.AtomName(partnerPosition));
    if (state_.symmetry) {
        bool shifted = offsets[0] != 0 || offsets[1] != 0 || offsets[2] != 0;
        if (shifted) state_.mdfText.Char('%').Int(offsets[0]).Int(offsets[1]).Int(offsets[2]);
        if (operatorNumber > 1 || shifted) state_.mdfText.Char('#').Int(operatorNumber);
    }
    if (connection.order >= 1.01 || connection.order <= 0.99) state_.mdfText.Char('/').Fixed(connection.order, 1, 0);
    return true;
}

void xxSaveCAR::WriteMdfSymmetry() {
    state_.mdfText.Text("#symmetry");
    Line();
    state_.mdfText.Text(state_.threeD ? "@periodicity 3 xyz" : "@periodicity 2 xy");
    Line();
    if (!state_.namedGroup) {
        int count = state_.definition->GetNumOperators();
        state_.mdfText.Text("@group matrix ").Int(count);
        Line();
        for (int n = 1; n <= count; ++n) {
            const xxSymmetryElement* element = state_.definition->GetOperatorElement(n);
            state_.mdfText.Text("@matrix ").Int(n).Char(' ').Text(element ? element->GetOperatorSymbol() : std::string());
            Line();
            xxTransformMatrix op = element ? element->GetOperator() : xxTransformMatrix{};
            for (int row = 0; row < 3; ++row) {
                for (int col = 0; col < 3; ++col) state_.mdfText.Fixed(op.R(row, col), 3, 6).Char(' ');
                state_.mdfText.Fixed(op.T(row), 3, 6).Char(' ');
                Line();
            }
            state_.mdfText.Text(" 0.000  0.000  0.000  1.000");
            Line();
        }
        Line();
        return;
    }
    state_.mdfText.Text("@group (").Text(state_.definition->GetGroupName()).Char(')');
    if (state_.threeD) {
        static constexpr std::pair<std::string_view, std::string_view> kQualifiers[] = {
            {"A-Unique", "A_UNIQUE"},   {"B-Unique", "B_UNIQUE"},         {"C-Unique", "C_UNIQUE"},
            {"Hexagonal", "HEXAGONAL"}, {"Rhombohedral", "RHOMBOHEDRAL"}, {"Origin-2", "ORIGIN_2"}};
        std::string_view qualifier = QualifierHead(state_.definition->GetQualifier());
        for (const auto& [from, to] : kQualifiers)
            if (qualifier == from) state_.mdfText.Text(" [").Text(to).Char(']');
    }
    Line();
    Line();
}

void xxSaveCAR::Warn(const std::string& text) const {
    if (!state_.diagnostics) return;
    CfxBSTR message(text);
    state_.diagnostics->PostMessage(SB_DIAG_WARNING, message.Get());
}

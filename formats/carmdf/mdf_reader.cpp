// The MDF topology and symmetry sections and the bonds to symmetry images.
#include <algorithm>
#include <cmath>

#include "datamodel/atomistic.h"
#include "datamodel/symmetry/builder.h"
#include "datamodel/symmetry/system.h"
#include "formats/carmdf/car_reader.h"
#include "formats/carmdf/car_scan.h"
#include "frame/messages.h"

namespace cs = cartovane::carscan;
namespace tx = cartovane::text;
namespace msg = cartovane::msg;

namespace {

// A whole token converted as the file's C conversion reads it (a token may carry more than the
// conversion takes, as "%d" takes "1" of "1.0").
bool TokenInt(std::string_view token, int& value) {
    std::size_t pos = 0;
    return tx::ScanInt(token, pos, value);
}
bool TokenDouble(std::string_view token, double& value) {
    std::size_t pos = 0;
    return tx::ScanDouble(token, pos, value);
}

// The declared column codes; each takes one token of a record.
constexpr bool TakesToken(char code) {
    switch (code) {
        case 'e': case 'a': case 'g': case 'i': case 'f': case 'c': case 's':
        case 'p': case 'y': case 'o': case 't': case 'x': case 'U':
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---- topology -----------------------------------------------------------------------------

bool xxLoadCAR::ReadMdfTopology(MdfLines& lines, std::size_t connectionColumn) {
    if (!lines.NextStatement()) return false;
    bool ok = true;
    for (;;) {
        const std::string_view line = lines.Line();
        if (lines.AtEnd() || line.starts_with('#') || line.starts_with(' ') || cs::IsBlankOrComment(line)) break;
        if (line.starts_with("@column")) {
            const ColumnsResult result = ReadMdfColumns(lines);
            if (result == ColumnsResult::EndOfText) {
                ok = false;  // declarations and nothing after them
                break;
            }
            if (result == ColumnsResult::Failed) ok = false;
        } else if (line.starts_with("@assembly")) {
            if (!lines.NextStatement()) {
                ok = false;
                break;
            }
        } else if (line.starts_with("@molecule")) {
            bool read = false;
            // A block beyond the CAR file's molecules has nothing to describe.
            if (nextMolecule_ < molecules_.size()) {
                xxMultiScaleMolecule& molecule = *molecules_[nextMolecule_++];
                std::size_t pos = 0;
                tx::ScanString(line, pos);
                if (const auto name = tx::ScanString(line, pos)) molecule.SetName(std::string(*name));
                read = ReadMdfAtomRecords(lines, molecule, connectionColumn);
            }
            if (!read) {
                ReportError(msg::CARLOAD_MDF_ATOMREC);
                ok = false;
                break;
            }
        } else {
            ok = false;  // no statement of this section: it cannot be read past
            break;
        }
    }
    subUnits_.Clear();
    children_.Clear();
    return ok;
}

xxLoadCAR::ColumnsResult xxLoadCAR::ReadMdfColumns(MdfLines& lines) {
    columnCodes_.assign(80, ' ');
    std::size_t highest = 0;
    bool failed = false;
    for (;;) {
        const std::string_view line = lines.Line();
        std::size_t pos = 0;
        int number = 0;
        tx::ScanString(line, pos);
        const bool haveNumber = tx::ScanInt(line, pos, number);
        const std::optional<std::string_view> name = tx::ScanString(line, pos);
        if (!haveNumber || !name || number < 1 || number > 80) {
            failed = true;
        } else {
            const char code = cs::ColumnCodeOf(*name);
            columnCodes_[static_cast<std::size_t>(number - 1)] = code;
            highest = std::max(highest, static_cast<std::size_t>(number));
            if (code == 'U') failed = true;
        }
        if (!lines.NextStatement()) {
            columnCodes_.resize(highest);
            if (failed) ReportError(msg::CARLOAD_MDF_COLUMN);
            return ColumnsResult::EndOfText;
        }
        if (!lines.Line().starts_with("@column")) break;
    }
    columnCodes_.resize(highest);
    if (failed) {
        ReportError(msg::CARLOAD_MDF_COLUMN);
        return ColumnsResult::Failed;
    }
    return ColumnsResult::Read;
}

bool xxLoadCAR::ReadMdfAtomRecords(MdfLines& lines, xxMultiScaleMolecule& molecule, std::size_t connectionColumn) {
    // The molecule's sub-units by name, and their bondable children by (sub-unit, name): one
    // table for the whole molecule, so moving between sub-units costs nothing.
    subUnits_.Clear();
    children_.Clear();
    for (const auto& child : molecule.Children()) {
        xxSubUnit* subUnit = child->As<xxSubUnit>();
        if (!subUnit) continue;
        subUnits_.Insert(subUnit->GetName(), subUnit);
        for (const auto& grandChild : subUnit->Children())
            if (xxBondable* bondable = grandChild->As<xxBondable>())
                children_.Insert(cs::ChildKey{subUnit, bondable->GetName()}, bondable);
    }
    chargeGroupCount_ = 0;
    chargeGroupIndex_.Clear();

    const std::size_t matterCount = static_cast<std::size_t>(std::max(0, molecule.CalculateNumMatterObjects()));
    std::size_t lineCount = 0, blankCount = 0;
    bool ok = true;
    xxSubUnit* subUnit = nullptr;
    std::string subUnitName;
    while (lines.Next()) {
        const std::string_view line = lines.Line();
        if (line.starts_with('@') || line.starts_with('#')) break;
        ++lineCount;
        if (cs::IsBlankOrComment(line)) {
            ++blankCount;
            if (lineCount > 1 && lineCount <= matterCount) {
                ReportError(msg::CARLOAD_MDF_ATOM_ECLINE);
                BuildChargeGroups(subUnit);
                return false;
            }
            continue;
        }
        if (lineCount == 1) ReportError(msg::CARLOAD_MDF_ATOM_NOLINE);  // a warning: the record is read

        tx::Tokens tokens(line, tx::Tokens::kBlanks);
        const std::string_view name = tokens.Next().value_or(std::string_view{});
        const std::size_t colon = name.rfind(':');
        const std::string_view recordSubUnit = colon == std::string_view::npos ? std::string_view{} : name.substr(0, colon);
        const std::string_view atomName = colon == std::string_view::npos ? name : name.substr(colon + 1);
        if (!subUnit || recordSubUnit != subUnitName) {
            xxObject* const* found = subUnits_.Find(recordSubUnit);
            BuildChargeGroups(subUnit);
            if (!found) {
                ReportError(msg::CARLOAD_MDF_SUBUNIT_NAMES);
                return false;
            }
            subUnit = (*found)->As<xxSubUnit>();
            subUnitName.assign(recordSubUnit);
        }
        xxBondable* const* atom = children_.Find(cs::ChildKey{subUnit, atomName});
        if (!atom) {
            ReportError(msg::CARLOAD_MDF_SUBUNIT_NAMES);
            BuildChargeGroups(subUnit);
            return false;
        }
        recordObjects_.push_back(*atom);  // its qualified name: molecule, sub-unit and atom names

        if (!ReadMdfAtomColumns(tokens.Rest(), **atom)) {
            ReportError(msg::CARLOAD_MDF_ATOM_ENTRY);
            ok = false;
        }
        // A record that stops short of the connection column lists no connections.
        if (line.size() > connectionColumn) {
            tx::Tokens connections(line.substr(connectionColumn), tx::Tokens::kWhiteSpace);
            while (const auto token = connections.Next()) ReadConnection(*token, **atom, *subUnit);
        }
    }
    BuildChargeGroups(subUnit);
    if (lineCount - blankCount != matterCount) {
        ReportError(msg::CARLOAD_NUMBER_ATOMS);
        return false;
    }
    return ok;
}

bool xxLoadCAR::ReadMdfAtomColumns(std::string_view fields, xxBondable& object) {
    if (columnCodes_.empty()) return false;  // no declarations: no record can match them
    xxAtom* atom = object.As<xxAtom>();
    xxAtom3d* atom3d = object.As<xxAtom3d>();
    tx::Tokens tokens(fields, tx::Tokens::kBlanks);
    std::array<char, 6> groupName{'?'};
    std::size_t groupLength = 1;
    int switching = 0;
    std::size_t blanks = 0, handled = 0;
    const std::size_t positions = columnCodes_.size() - 1;  // the last one is the connection list
    for (std::size_t i = 0; i < positions; ++i) {
        const char code = columnCodes_[i];
        if (code == ' ') {
            ++blanks;
            continue;
        }
        if (!TakesToken(code)) continue;
        const std::optional<std::string_view> token = tokens.Next();
        if (!token) continue;
        bool read = true;
        switch (code) {
            case 'e': {
                std::size_t pos = 0;
                read = tx::ScanString(*token, pos, 2).has_value();
                break;
            }
            case 'g': {
                std::size_t pos = 0;
                const std::optional<std::string_view> name = tx::ScanString(*token, pos, 5);
                read = name.has_value();
                if (read) {
                    groupLength = name->size();
                    std::copy(name->begin(), name->end(), groupName.begin());
                }
                break;
            }
            case 'i': {
                std::size_t pos = 0;
                unsigned isotope = 0;
                read = tx::ScanUnsigned(*token, pos, 2, isotope);
                if (read && isotope != 0 && atom3d) atom3d->SetIsotope(static_cast<int>(isotope));
                break;
            }
            case 'f': {
                const std::optional<cs::Fraction> charge = cs::ParseFraction(*token);
                read = charge.has_value();  // "n/0" has no value
                if (read && atom3d) atom3d->SetFormalCharge(charge->numerator, charge->denominator);
                break;
            }
            case 'c': {
                std::size_t pos = 0;
                float charge = 0;
                read = tx::ScanFloat(*token, pos, charge);
                if (read && atom) atom->SetCharge(static_cast<double>(charge));
                break;
            }
            case 's':
                read = TokenInt(*token, switching);
                break;
            case 'p': {
                int flag = 0;
                read = TokenInt(*token, flag);
                if (read && atom) atom->SetIsOutOfPlane(flag == 1 || flag == 2);
                break;
            }
            case 'y': {
                int flag = 0;
                read = TokenInt(*token, flag);
                break;
            }
            case 'o': {
                double occupancy = 0;
                read = TokenDouble(*token, occupancy);
                if (read && atom3d && occupancy >= 0 && occupancy <= 1) atom3d->SetOccupancy(occupancy);
                break;
            }
            case 't': {
                double factor = 0;
                read = TokenDouble(*token, factor);
                if (read && atom3d) {
                    if (factor == 0) {
                        atom3d->SetAppliedTF(xxAtom3d::kNoTF);
                    } else {
                        atom3d->SetIsotropicTF(factor, xxAtom3d::kTFFormatU);
                        atom3d->SetAppliedTF(xxAtom3d::kIsotropicTF);
                    }
                }
                break;
            }
            default:  // 'a', 'x', 'U': the token is passed over
                break;
        }
        if (read) ++handled;
    }
    const std::string_view group(groupName.data(), groupLength);
    if (atom && group != "?") AddToChargeGroup(group, *atom, switching);
    return blanks + handled == positions;
}

void xxLoadCAR::ReadConnection(std::string_view text, xxBondable& atom, const xxSubUnit& subUnit) {
    const cs::ConnectionToken token = cs::ParseConnectionToken(text);
    const xxObject* partnerUnit = &subUnit;
    if (token.subUnit) {
        xxObject* const* found = subUnits_.Find(*token.subUnit);
        if (!found) return;
        partnerUnit = *found;
    }
    // The partner's name in that sub-unit; tokens that name no atom (the tail of a number that
    // the connection column cuts into, say) are passed over.
    xxBondable* const* partner = children_.Find(cs::ChildKey{partnerUnit, token.partner});
    if (!partner) return;
    if (token.IsSymmetryConnection()) {
        if (token.operatorValid)
            symmetryConnections_.push_back({&atom, *partner, token.bondType, token.operatorNumber, token.offsets});
        return;
    }
    if (*partner == &atom) return;
    try {
        xxBondable::MakeBond(atom, **partner, static_cast<xxBondType>(token.bondType));
    } catch (const Cfx::CfxResult&) {
        // A pair the data model cannot bond (a pi system and its member) stays unbonded.
    }
}

void xxLoadCAR::AddToChargeGroup(std::string_view name, xxAtom& atom, int switching) {
    ChargeGroup* group = nullptr;
    if (ChargeGroup* const* found = chargeGroupIndex_.Find(name)) {
        group = *found;
    } else {
        if (chargeGroupCount_ == chargeGroups_.size()) chargeGroups_.emplace_back();
        group = &chargeGroups_[chargeGroupCount_++];
        group->nameLength = std::min(name.size(), group->name.size() - 1);
        std::copy_n(name.begin(), group->nameLength, group->name.begin());
        group->centre = nullptr;
        group->members.clear();
        chargeGroupIndex_.Insert(group->Name(), group);
    }
    group->members.push_back(&atom);
    if (switching != 0) group->centre = &atom;
}

void xxLoadCAR::BuildChargeGroups(xxSubUnit* subUnit) {
    if (subUnit && chargeGroupCount_ > 0) {
        std::vector<const ChargeGroup*> order;
        for (std::size_t i = 0; i < chargeGroupCount_; ++i)
            if (chargeGroups_[i].centre) order.push_back(&chargeGroups_[i]);
        std::sort(order.begin(), order.end(), [](const ChargeGroup* x, const ChargeGroup* y) { return x->Name() < y->Name(); });
        for (const ChargeGroup* group : order) {
            xxChargeGroup& made = subUnit->CreateChild<xxChargeGroup>();
            made.InitialiseObjectToDefault();
            made.SetName(std::string(group->Name()));
            made.SetAtoms(group->members);
            made.SetSwitchingCenter(group->centre);
        }
    }
    chargeGroupCount_ = 0;
    chargeGroupIndex_.Clear();
}

// ---- symmetry section ---------------------------------------------------------------------

bool xxLoadCAR::ReadMdfSymmetry(MdfLines& lines) {
    bool unknownAxes = false;
    while (lines.Next()) {
        const std::string_view line = lines.Line();
        if (line.starts_with('#')) break;
        if (line.starts_with("@periodicity")) {
            std::size_t pos = 0;
            int periodicity = 0;
            tx::ScanString(line, pos);
            if (!tx::ScanInt(line, pos, periodicity) || periodicity > 3) return false;
            if (const auto axes = tx::ScanString(line, pos)) {
                std::array<char, 4> lower{};
                std::optional<int> convention;
                if (axes->size() < lower.size()) {
                    std::transform(axes->begin(), axes->end(), lower.begin(),
                                   [](char c) { return tx::ToLower(c); });
                    convention = cs::OrientationFromAxisOrder(std::string_view(lower.data(), axes->size()));
                }
                if (convention) orientation_ = *convention;
                unknownAxes = !convention;
            }
        } else if (line.starts_with("@group")) {
            std::size_t pos = 0;
            tx::ScanString(line, pos);
            const std::optional<std::string_view> second = tx::ScanString(line, pos);
            if (second && second->starts_with("matrix")) {
                groupSource_ = GroupSource::Operators;
                int count = 0;
                if (!tx::ScanInt(line, pos, count)) count = 0;
                if (count > 0 && !ReadMdfMatrices(lines, count)) return false;
            } else {
                const cs::NamedGroup group = cs::ParseNamedGroupLine(line);
                groupName_.assign(group.name);
                qualifier_.assign(group.qualifier);
                groupSource_ = GroupSource::Named;
            }
        }
    }
    return !unknownAxes;
}

bool xxLoadCAR::ReadMdfMatrices(MdfLines& lines, long long count) {
    operators_.clear();
    // The count comes from the file: the blocks themselves bound the loop.
    for (long long k = 0; k < count; ++k) {
        if (!lines.Next() || !lines.Line().starts_with("@matrix")) return false;
        double rotation[9], translation[3];
        for (int row = 0; row < 3; ++row) {
            if (!lines.Next()) return false;
            const std::string_view line = lines.Line();
            std::size_t pos = 0;
            for (int col = 0; col < 3; ++col)
                if (!tx::ScanDouble(line, pos, rotation[row * 3 + col])) return false;
            if (!tx::ScanDouble(line, pos, translation[row])) return false;
        }
        if (!lines.Next()) return false;  // the constant last row
        xxTransformMatrix matrix;
        matrix.Set(rotation, translation);
        // Numbers no cell's operator has (a translation of 1e57 cells) fail the section here,
        // before any symmetry is built from them.
        if (!xxSymmetryGroup::IsInRange(xxSymmetryConvert::ToOperator(matrix))) return false;
        operators_.push_back(matrix);
    }
    return true;
}

// ---- bonds to images ----------------------------------------------------------------------

bool xxLoadCAR::MakeSymmetryConnections(xxMultiScaleSymmetrySystem& system) {
    const xxSymmetryDefinition& definition = system.GetSymmetryDefinition();
    for (const SymmetryConnection& connection : symmetryConnections_) {
        try {
            int op = connection.operatorNumber == 0 ? 1 : connection.operatorNumber;
            xxPeriodicTranslation offsets{connection.offsets};
            if (threeD_ && groupSource_ == GroupSource::Named) {
                if (dravik4_ && spaceGroup_) op = spaceGroup_->GetOperatorFromDravik4(op);
                // Operators whose translation reaches a whole cell were written with the cell
                // folded into the offsets.
                if (const xxSymmetryElement* element = definition.GetOperatorElement(op)) {
                    const xxTransformMatrix m = element->GetOperator();
                    for (int axis = 0; axis < 3; ++axis) {
                        const double t = m.T(axis);
                        if (!(t > 0.9999) || t > 1e6) continue;
                        offsets[axis] -= static_cast<int>(std::ceil(t - 0.9999));
                    }
                }
            } else if (twoD_ && dravik4_) {
                std::swap(offsets[0], offsets[1]);
            }
            const xxSymmetryElement* element = definition.FindSymmetryElement(op, offsets);
            if (!element) continue;
            xxObject* image = system.FindSymmetryImage(*connection.partner, element);
            xxBondable* partner = image ? image->As<xxBondable>() : nullptr;
            if (!partner || partner == connection.atom) continue;
            xxBondable::MakeBond(*connection.atom, *partner, static_cast<xxBondType>(connection.bondType));
        } catch (const Cfx::CfxResult&) {
            // An operator or image the model does not hold: nothing to bond to.
        }
    }
    return true;
}

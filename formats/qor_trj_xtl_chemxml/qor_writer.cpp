#include "formats/qor_trj_xtl_chemxml/qor_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <type_traits>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/address_table.h"
#include "base/text.h"
#include "datamodel/atomistic.h"
#include "datamodel/elements.h"
#include "datamodel/polymer.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/space_groups.h"
#include "datamodel/symmetry/system.h"
#include "datamodel/tree_size.h"
#include "datamodel_extras/qor_atom_data.h"
#include "formats/qor_trj_xtl_chemxml/qor_format.h"

namespace {

namespace tx = cartovane::text;
namespace q = cartovane::qor;

// Lines are put together in one buffer and handed to the stream in large pieces.
class Writer {
public:
    // system: the periodic symmetry system written as the model; null for a model without one.
    Writer(std::ostream& out, xxObject& root, xxSymmetrySystem* system) : out_(out), system_(system) {
        atomData_.Initialize(&root, xxBondable::Class());
        if (system_) {
            definition_ = &system_->GetSymmetryDefinition();
            dimension_ = definition_->GetDimension();
            // 3-D writes the symmetry images through "SymChildren"; 2-D lists them as atoms.
            mode_ = dimension_ == 2 ? xxSymmetrySystem::kParentsAndSymmetryImages : xxSymmetrySystem::kParents;
            // Without images every object is its own parent and stands once in the tree; the
            // images writing makes lie directly below the system, after the walk's snapshot.
            hadImages_ = system_->GetNumSymmetryImages() > 0;
        }
    }
    ~Writer() { Flush(); }

    void Write(xxObject& model) {
        Text(q::kHeaderVersionText);
        Text(" ");
        Integer(q::kWrittenMajorVersion);
        Text(" ");
        Integer(q::kWrittenMinorVersion);
        Text("\n");
        WriteTree(model, 0);
        Flush();
    }

    // Numbers the model and its bondable objects and notes charge groups.
    void Prepare(xxObject& model) {
        Number(model);
        // One walk numbers the bondable objects (without a system) and finds the charge groups,
        // whose members take their centres' numbers once every object has one.
        std::vector<const xxChargeGroup*> groups;
        if (system_) {
            table_.Reserve(EstimatedObjectsBelow(*system_));
            for (xxObject* o : system_->Iterator(xxBondable::classType, mode_)) Number(*o);
        } else {
            table_.Reserve(EstimatedObjectsBelow(*model.As<xxTreeNode>()));
        }
        model.As<xxTreeNode>()->ForEachDescendent([&](xxObject& o) {
            // Atoms and bonds by their exact class first: an atom is bondable, a bond is not, and
            // neither is a charge group.
            const xxClass& kind = o.GetClass();
            if (&kind == &xxAtom3d::Class()) {
                if (!system_) Number(o);
                return true;
            }
            if (&kind == &xxBond::Class()) return true;
            if (!system_ && o.As<xxBondable>()) Number(o);
            if (auto* group = o.As<xxChargeGroup>()) groups.push_back(group);
            return true;
        });
        for (const xxChargeGroup* group : groups) {
            const int centre = NumberOf(group->GetSwitchingCenter());
            for (xxAtom* atom : group->GetAtoms())
                if (Numbered* record = table_.Find(atom)) record->switchCentre = centre;
        }
    }

private:
    // ---- numbering -----------------------------------------------------------------------

    void Number(const xxObject& o) {
        bool added = false;
        Numbered& record = table_.At(table_.FindOrAdd(&o, added));
        if (added) record.number = counter_++;
    }
    int NextNumber() { return counter_++; }
    int NumberOf(const xxObject* o) const {
        const Numbered* record = o ? table_.Find(o) : nullptr;
        return record ? record->number : 0;
    }

    // ---- text ----------------------------------------------------------------------------

    // The buffer is a fixed block filled through a cursor: a line is a dozen small pieces, and
    // each piece costs a copy, no more. It goes out once kFlushSize bytes are in it.
    std::size_t Room() const { return static_cast<std::size_t>(buffer_.get() + kBufferSize - cursor_); }
    void Text(std::string_view text) {
        if (text.size() > Room()) {
            Flush();
            if (text.size() > kBufferSize) {
                out_.write(text.data(), static_cast<std::streamsize>(text.size()));
                return;
            }
        }
        std::memcpy(cursor_, text.data(), text.size());
        cursor_ += text.size();
        if (static_cast<std::size_t>(cursor_ - buffer_.get()) >= kFlushSize) Flush();
    }
    void Flush() {
        if (cursor_ == buffer_.get()) return;
        out_.write(buffer_.get(), static_cast<std::streamsize>(cursor_ - buffer_.get()));
        cursor_ = buffer_.get();
    }
    void Indent(int depth) {
        for (auto blanks = static_cast<std::size_t>(std::max(depth, 0)); blanks > 0;) {
            if (Room() == 0) Flush();
            const std::size_t n = std::min(blanks, Room());
            std::memset(cursor_, ' ', n);
            cursor_ += n;
            blanks -= n;
        }
    }
    void Integer(long long value) {
        if (Room() < tx::kNumberTextSize) Flush();
        cursor_ = tx::WriteNumber(cursor_, cursor_ + tx::kNumberTextSize, value);
    }
    void Real(double value) {
        if (Room() < tx::kNumberTextSize) Flush();
        cursor_ = tx::WriteGeneral(cursor_, cursor_ + tx::kNumberTextSize, value, q::kPrecision);
    }
    // "F" values are the value at single precision.
    void Single(double value) { Real(static_cast<double>(static_cast<float>(value))); }
    void Quoted(std::string_view text) {
        Text("\"");
        Text(q::EscapeQuotes(text));
        Text("\"");
    }

    // The indentation of the record and "  (A <type> <name> ".
    void Open(int depth, std::string_view type, std::string_view name) {
        Indent(depth);
        Text("  (A ");
        Text(type);
        Text(" ");
        Text(name);
        Text(" ");
    }
    void Record(int depth, int number, std::string_view kind) {
        Indent(depth);
        Text("(");
        Integer(number);
        Text(" ");
        Text(kind);
        Text("\n");
    }
    void Label(int depth, const xxObject& o) {
        if (!o.GetName().empty()) TextLine(depth, "Label", o.GetName());
    }
    void Id(int depth, int id) { IntegerLine(depth, "I", "Id", id); }
    void Position(int depth, const xxPoint3d& p) {
        if (p.x == 0 && p.y == 0 && p.z == 0) return;
        ListLine(depth, "D", "XYZ", std::array{p.x, p.y, p.z});
    }
    // "  (A <type> <name> (v1 v2 ...))": reals as "D" values, integers in decimal.
    template <class T, std::size_t N>
    void ListLine(int depth, std::string_view type, std::string_view name, const std::array<T, N>& values) {
        Open(depth, type, name);
        Text("(");
        for (std::size_t i = 0; i < N; ++i) {
            if (i > 0) Text(" ");
            if constexpr (std::is_floating_point_v<T>) Real(values[i]);
            else Integer(values[i]);
        }
        Text("))\n");
    }
    // "  (A F <name> <value>)", "  (A <type> <name> <integer>)" and "  (A C <name> "<text>")".
    void SingleLine(int depth, std::string_view name, double value) {
        Open(depth, "F", name);
        Single(value);
        Text(")\n");
    }
    void IntegerLine(int depth, std::string_view type, std::string_view name, long long value) {
        Open(depth, type, name);
        Integer(value);
        Text(")\n");
    }
    void TextLine(int depth, std::string_view name, std::string_view text) {
        Open(depth, "C", name);
        Quoted(text);
        Text(")\n");
    }

    void Acl(int depth, int code, std::string_view symbol) {
        Open(depth, "C", "ACL");
        Text("\"");
        Integer(code);
        Text(" ");
        Text(q::EscapeQuotes(symbol));
        Text("\")\n");
    }

    // ---- the walk ------------------------------------------------------------------------

    void WriteTree(xxObject& o, int depth) {
        const bool record = WriteObject(o, depth);
        const int inner = depth + (record ? 2 : 0);
        if (system_) {
            WritePeriodicChildren(o, inner);
        } else if (auto* node = o.As<xxTreeNode>()) {
            for (const auto& child : node->Children()) WriteTree(*child, inner);
        }
        if (record) {
            Indent(depth);
            Text(")\n");
        }
    }

    // Below a symmetry system images are written through their parents: the system's own
    // children but its images, and below them each child's symmetry parent, once.
    void WritePeriodicChildren(xxObject& o, int depth) {
        auto* node = o.As<xxTreeNode>();
        if (!node) return;
        // The system's children as they are now: writing makes images, which join them.
        std::vector<xxObject*> children;
        children.reserve(node->NumChildren());
        for (const auto& child : node->Children()) children.push_back(child.get());
        for (xxObject* object : children) {
            if (hadImages_) {
                if (&o == system_) {
                    if (IsSkippedImage(*object)) continue;
                } else {
                    object = system_->GetSymmetryParent(*object);
                }
                if (!written_.insert(object).second) continue;
            }
            WriteTree(*object, depth);
        }
    }

    // The images the walk leaves out: every image in 3-D, the pure translates in 2-D.
    bool IsSkippedImage(const xxObject& o) const {
        if (!system_->IsSymmetryImage(o)) return false;
        return mode_ == xxSymmetrySystem::kParents || system_->GetSymmetryElement(o).GetOperator().IsIdentity(1e-9);
    }

    bool WriteObject(xxObject& o, int depth) {
        // Atoms and bonds, most of a model, by their exact class first: none of the kinds below
        // is one.
        const xxClass& kind = o.GetClass();
        if (&kind == &xxAtom3d::Class()) {
            WriteAtom(static_cast<xxAtom3d&>(o), depth);
            return true;
        }
        if (&kind == &xxBond::Class()) {
            WriteBond(static_cast<xxBond&>(o), depth);
            return true;
        }
        if (system_ && &o == system_) {
            WriteModel(o);
            WriteLattice();
            return true;
        }
        if (o.As<xxTreeRoot>()) {
            WriteModel(o);
            return true;
        }
        if (o.As<xxMolecule>() || o.As<xxSymmetrySystem>()) return false;
        if ((o.As<xxSubUnit>() && !o.As<xxRepeatUnit>()) || o.As<xxBlock>()) {
            WriteSubunit(o, depth);
            return true;
        }
        if (auto* atom = o.As<xxAtom3d>()) {
            WriteAtom(*atom, depth);
            return true;
        }
        if (auto* bond = o.As<xxBond>()) {
            WriteBond(*bond, depth);
            return true;
        }
        if (o.As<xxDummy>() || o.As<xxPiSystem>()) {
            WritePseudoAtom(static_cast<xxBondable&>(o), depth);
            return true;
        }
        if (auto* unit = o.As<xxRepeatUnit>()) {
            WriteRepeatUnit(*unit, depth);
            return true;
        }
        return false;
    }

    void WriteSubunit(const xxObject& o, int depth) {
        Record(depth, NextNumber(), "Subunit");
        Label(depth, o);
        if (o.GetID() != 0) Id(depth, o.GetID());
    }

    // A sub-unit record marked as a monomer, with one record per head or tail linkage.
    void WriteRepeatUnit(const xxRepeatUnit& unit, int depth) {
        Record(depth, NextNumber(), "Subunit");
        Indent(depth);
        Text("  (A I Monomer 1)\n");
        Label(depth, unit);
        if (unit.GetID() != 0) Id(depth, unit.GetID());
        unit.ForEachDescendent([&](xxObject& o) {
            const auto* linkage = o.As<xxLinkage>();
            if (!linkage) return true;
            const int kind = linkage->GetHeadTail();
            const auto atoms = linkage->GetLinkAtoms();
            // A linkage without a link atom joins nothing.
            if ((kind != xxLinkage::kHead && kind != xxLinkage::kTail) || atoms.empty()) return true;
            Record(depth + 2, NextNumber(), "Linkage");
            Indent(depth);
            Text(kind == xxLinkage::kTail ? "    (A C Type \"Tail\")\n" : "    (A C Type \"Head\")\n");
            Indent(depth);
            Text("    (A O LinkAtoms (");
            Integer(NumberOf(atoms.front()));
            Text("))\n");
            Indent(depth);
            Text("  )\n");
            return true;
        });
    }


    void WriteModel(const xxObject& o) {
        Record(0, NumberOf(&o), "Model");
        Label(0, o);
        if (o.GetID() != 0) {
            Text("  (A I Id ");
            Integer(o.GetID());
            Text(" )\n");
        }
    }

    // ---- periodic models -----------------------------------------------------------------

    void WriteLattice() {
        const int display = system_->GetPeriodicDisplayType();
        Text(display == 1 ? "  (A I CRY/DISPLAY (64 512))\n"
             : display == 2 ? "  (A I CRY/DISPLAY (32 512))\n"
                            : "  (A I CRY/DISPLAY (192 256))\n");
        const xxSymmetryDefinition& d = *definition_;
        if (dimension_ == 3) {
            Text("  (A I PeriodicType 100)\n");
            const int itNumber = d.GetITNumber();
            if (itNumber > 0) description_ = SettingOf(d);
            if (description_) {
                Text("  (A C SpaceGroup \"");
                Integer(itNumber);
                Text(" ");
                Integer(description_->GetOptionNumber());
                Text("\")\n");
            } else {
                // A group no setting of the tables names: its operators say what it is.
                WriteSymmetry();
            }
            VectorLine("A3", d.GetAVector());
            VectorLine("B3", d.GetBVector());
            VectorLine("C3", d.GetCVector());
            RangeLine("ARange3", d.GetRangeMaxA());
            RangeLine("BRange3", d.GetRangeMaxB());
            RangeLine("CRange3", d.GetRangeMaxC());
            Text("  (A D CRY/TOLERANCE ");
            Real(system_->GetToleranceRadius());
            Text(")\n");
        } else if (dimension_ == 2) {
            Text("  (A I PeriodicType 101)\n");
            VectorLine("A2", d.GetAVector());
            VectorLine("B2", d.GetBVector());
            RangeLine("ARange2", d.GetRangeMaxA());
            RangeLine("BRange2", d.GetRangeMaxB());
        }
    }

    // The table's setting of a definition: the one it was made from (same symbol and
    // qualifier, as settings of one group may share a qualifier), else the one its qualifier
    // selects; null when the tables have none.
    static const xxSpaceGroupDescription* SettingOf(const xxSymmetryDefinition& d) {
        const xxSpaceGroupFactory& factory = xxSpaceGroupFactory::Instantiate();
        for (const xxSpaceGroupDescription& s : factory.GetDescriptions())
            if (s.GetITNumber() == d.GetITNumber() && s.GetName() == d.GetGroupName() && s.GetQualifier() == d.GetQualifier())
                return &s;
        return factory.FindSpaceGroupByNumber(d.GetITNumber(), d.GetQualifier());
    }

    void VectorLine(std::string_view name, const xxPoint3d& v) {
        auto clean = [](double x) { return std::fabs(x) < 1e-10 ? 0.0 : x; };
        ListLine(0, "D", name, std::array{clean(v.x), clean(v.y), clean(v.z)});
    }

    // "(0 n)" with n the range rounded, at least 1; nothing for 1.
    void RangeLine(std::string_view name, double range) {
        const int n = std::max(1, tx::RoundHalfAwayFromZero(range));
        if (n == 1) return;
        Open(0, "I", name);
        Text("(0 ");
        Integer(n);
        Text("))\n");
    }

    // The general-position operators, but the identity (always the first).
    void WriteSymmetry() {
        const xxSymmetryDefinition& d = *definition_;
        const int g = NextNumber();
        IntegerLine(0, "O", "GP", g);
        TextLine(0, "SymmetryMode", "GeneralPositions");
        Record(2, g, "Symmetry");
        Text("    (A I ITNumber 0)\n");
        Text("    (A I OptionID 0)\n");
        const int centering = d.GetCenteringType();
        const int lattice = d.GetLatticeRepresentation();
        TextLine(2, "CenteringType", q::kCenteringNames[static_cast<std::size_t>(
                                         centering >= 0 && centering < q::kUnknownCentering ? centering : q::kUnknownCentering)]);
        TextLine(2, "LatticeType", q::kLatticeNames[static_cast<std::size_t>(
                                       lattice >= 0 && lattice < static_cast<int>(q::kLatticeNames.size()) ? lattice : 0)]);
        for (int k = 2; k <= d.GetNumOperators(); ++k) {
            const xxTransformMatrix op = d.GetOperator(k);
            Record(4, NextNumber(), "SymOp");
            ListLine(4, "D", "Matrix", op.Rotation());
            const auto& t = op.Translation();
            if (t[0] != 0 || t[1] != 0 || t[2] != 0) ListLine(4, "D", "Translation", t);
            Text("    )\n");
        }
        Text("  )\n");
    }

    // The periodic parent of an object and the cell translation from it.
    std::pair<xxObject*, xxPeriodicTranslation> PeriodicRelation(xxObject& o) {
        if (!system_->IsSymmetryImage(o)) return {&o, {}};  // a parent lies in its home cell
        xxObject* parent = system_->GetPeriodicParent(o);
        const xxSymmetryElement* e = parent ? system_->FindSymmetryRelationship(*parent, o) : nullptr;
        return {parent ? parent : &o, e ? e->GetPeriodicTranslation() : xxPeriodicTranslation{}};
    }
    static bool IsZero(const xxPeriodicTranslation& t) { return t[0] == 0 && t[1] == 0 && t[2] == 0; }

    struct ImageNote {
        const xxObject* image;
        int number;
        int parentNumber;
        xxPeriodicTranslation t;
    };

    // The record number of a bond end; an end that has none yet gets one and is noted, to be
    // written after the bond as an image record.
    int FindImageRelation(xxObject* end) {
        if (!end) return 0;
        if (int n = NumberOf(end)) return n;
        const int number = NextNumber();
        SetNumber(*end, number);
        if (!system_) {
            notes_.push_back({end, number, 0, {}});
            return number;
        }
        const auto [parent, t] = PeriodicRelation(*end);
        const int parentNumber = parent == end ? 0 : FindImageRelation(parent);
        notes_.push_back({end, number, parentNumber, t});
        return number;
    }

    void SetNumber(const xxObject& o, int number) {
        bool added = false;
        table_.At(table_.FindOrAdd(&o, added)).number = number;
    }

    // The image records noted while a record was written, each closing the one before.
    void WriteImageNotes(int depth) {
        for (std::size_t i = 0; i < notes_.size(); ++i) {
            const ImageNote note = notes_[i];
            Indent(depth);
            Text(")\n");
            Record(depth, note.number, "Atom");
            if (IsZero(note.t)) {
                TextLine(depth, "SymType", "Symmetry");
                if (const int id = atomData_.GetNonSymmetricID(*note.image); id > 0) Id(depth, id);
            } else {
                if (note.parentNumber > 0) IntegerLine(depth, "O", "PerParent", note.parentNumber);
                Translation(depth, note.t);
                TextLine(depth, "SymType", "Periodic");
            }
        }
        notes_.clear();
    }

    void Translation(int depth, const xxPeriodicTranslation& t) { ListLine(depth, "I", "PerTrans", t.t); }

    // The bond's translate that has its end in the home cell, for an end outside it.
    void WritePeriodicImageBond(const xxBond& bond, int bondNumber, int end, int depth) {
        const auto ends = bond.GetAtoms();
        const auto [parent, t] = PeriodicRelation(*ends[static_cast<std::size_t>(end)]);
        if (IsZero(t)) return;
        if (!imageBonds_.insert({&bond, t.t}).second) return;
        const xxPeriodicTranslation back{{-t[0], -t[1], -t[2]}};
        xxObject* first = system_->FindSymmetryImage(*ends[0], back);
        xxObject* second = system_->FindSymmetryImage(*ends[1], back);
        if (!first || !second) return;  // beyond the range of cells
        const int number = NextNumber();
        const int atom1 = FindImageRelation(first);
        const int atom2 = FindImageRelation(second);
        Indent(depth);
        Text(")\n");
        Record(depth, number, "Bond");
        IntegerLine(depth, "O", "Atom1", atom1);
        IntegerLine(depth, "O", "Atom2", atom2);
        TextLine(depth, "SymType", "Periodic");
        Translation(depth, t);
        IntegerLine(depth, "O", "PerParent", bondNumber);
    }

    // "SymChildren": the atom's images under the group's operators 2, 3, ..., then a record for
    // each image that had no number yet.
    void WriteSymmetryImages(xxAtom3d& atom, int depth) {
        const xxSymmetryDefinition& d = *definition_;
        const int count = dimension_ == 3 ? d.GetNumOperators() : 1;
        std::vector<int> numbers;
        std::vector<xxObject*> queued;
        for (int k = 2; k <= count; ++k) {
            const int index = description_ ? description_->GetOperatorFromDravik4(k) : k;
            xxObject* image = system_->FindSymmetryImage(atom, d.FindSymmetryElement(index, {}));
            int number = image ? NumberOf(image) : 0;
            if (image && number == 0) {
                number = NextNumber();
                SetNumber(*image, number);
                queued.push_back(image);
            }
            numbers.push_back(number);
        }
        if (dimension_ == 3 && count > 1) {
            Open(depth, "O", "SymChildren");
            Text("(");
            for (std::size_t i = 0; i < numbers.size(); ++i) {
                Text(" ");
                Integer(numbers[i]);
                const std::size_t written = i + 1;
                if (written == 16 || (written > 16 && (written - 16) % 15 == 0)) {
                    Text("  \\\n");
                    Indent(depth);
                    Text("   ");
                }
            }
            Text("))\n");
        }
        const xxRational charge = atom.GetFormalCharge();
        for (xxObject* image : queued) {
            Indent(depth);
            Text(")\n");
            Record(depth, NumberOf(image), "Atom");
            if (charge != xxRational{}) FormalCharge(depth, charge);
            if (const auto* m = image->As<xxMatter>(); m && !m->IsMoveable()) {
                Indent(depth);
                Text("  (A I Moveable 0)\n");
            }
            const auto [parent, t] = PeriodicRelation(*image);
            if (!IsZero(t)) {
                TextLine(depth, "SymType", "Periodic");
                Translation(depth, t);
                if (const int n = NumberOf(parent); n > 0) IntegerLine(depth, "O", "PerParent", n);
            } else {
                TextLine(depth, "SymType", "Symmetry");
                Id(depth, atomData_.GetNonSymmetricID(*image));
            }
        }
    }

    void FormalCharge(int depth, const xxRational& charge) {
        ListLine(depth, "I", "FChg", std::array<long long, 2>{charge.numerator, charge.denominator});
    }

    void WriteAtom(xxAtom3d& atom, int depth) {
        const xxElement& element = atom.GetElement();
        const Numbered* numbered = table_.Find(&atom);
        Record(depth, numbered ? numbered->number : 0, "Atom");
        if (const auto site = MixedSite(atom)) Acl(depth, site->code, site->symbol);
        else Acl(depth, element.number == 1 ? 0 : element.number, element.symbol);
        Label(depth, atom);
        Position(depth, atom.GetXYZ());
        if (const int id = atomData_.GetNonSymmetricID(atom); id != 0) Id(depth, id);
        if (atom.GetCharge() != 0) {
            SingleLine(depth, "Charge", atom.GetCharge());
        }
        const xxRational charge = atom.GetFormalCharge();
        if (charge != xxRational{}) FormalCharge(depth, charge);
        if (atom.IsBackboneAtom()) {
            Indent(depth);
            Text("  (A I BackboneData 1)\n");
        }
        if (atom.IsChiralCenter()) {
            Indent(depth);
            Text("  (A I Tacticity 1)\n");
        }
        if (!atom.GetForcefieldType().empty()) {
            TextLine(depth, "FFType", atom.GetForcefieldType());
        }
        if (atom.GetOccupancy() != 1) {
            SingleLine(depth, "Occupancy", atom.GetOccupancy());
        }
        if (!atom.IsHybridizationDefault()) {
            if (const auto name = q::HybridizationName(atom.GetHybridization())) TextLine(depth, "Hybridization", *name);
        }
        if (atom.GetMass() != element.GetAtomicWeight()) {
            SingleLine(depth, "Mass", atom.GetMass());
        }
        if (atom.GetAppliedTF() > 0) {
            IntegerLine(depth, "I", "TempFactorType", atom.GetAppliedTF());
        }
        if (atom.GetIsotropicTF() != 0) {
            SingleLine(depth, "IsoTempFactor", atom.GetIsotropicTF());
        }
        WriteAnisotropicTF(atom, depth);
        if (!atom.IsMoveable()) {
            Indent(depth);
            Text("  (A I Moveable 0)\n");
        }
        if (numbered && numbered->switchCentre > 0) IntegerLine(depth, "O", "Switch", numbered->switchCentre);
        if (system_) WriteSymmetryImages(atom, depth);
    }

    // Six terms U11 U22 U33, then on a continued line U12 U23 U13; written when they are not
    // all (nearly) zero, terms below 1e-10 as 0.
    void WriteAnisotropicTF(const xxAtom3d& atom, int depth) {
        const xxMatrix3x3 u = atom.GetAnisotropicTF(xxAtom3d::kTFFormatUMatrix);
        const double terms[6] = {u(0, 0), u(1, 1), u(2, 2), u(0, 1), u(1, 2), u(0, 2)};
        double sum = 0;
        for (double t : terms) sum += std::fabs(t);
        if (!(sum > 5e-10)) return;
        Open(depth, "F", "AnisoTempFactor");
        for (int i = 0; i < 6; ++i) {
            if (i == 0) Text("(");
            else if (i == 3) {
                Text(" \\\n");
                Indent(depth);
            } else Text(" ");
            Single(std::fabs(terms[i]) < 1e-10 ? 0.0 : terms[i]);
        }
        Text("))\n");
    }

    // The code of a mixed site the file knows: Si 0.75 with Al 0.25 ("T"), the reverse ("TT"),
    // copper alone; compositions within 1e-6.
    struct Site {
        int code;
        std::string_view symbol;
    };
    static std::optional<Site> MixedSite(const xxAtom3d& atom) {
        if (!atom.IsMixture()) return std::nullopt;
        const auto c = atom.GetMixtureProperties();
        const auto near = [](double a, double b) { return std::fabs(a - b) <= 1e-6; };
        const auto share = [&](int z) {
            double total = 0;
            for (const xxAtomComponent& component : c)
                if (component.GetAtomicNumber() == z) total += component.GetComposition();
            return total;
        };
        if (c.size() == 2 && near(share(14), 0.75) && near(share(13), 0.25)) return Site{106, "T"};
        if (c.size() == 2 && near(share(14), 0.25) && near(share(13), 0.75)) return Site{107, "TT"};
        if (c.size() == 1 && c[0].GetAtomicNumber() == 29 && near(c[0].GetComposition(), 1)) return Site{108, "Cu"};
        return std::nullopt;
    }

    void WritePseudoAtom(const xxBondable& o, int depth) {
        const auto* dummy = o.As<xxDummyBase>();
        const std::string_view symbol = dummy ? std::string_view(dummy->GetDummySymbol()) : q::kPiCentreSymbol;
        const int code = q::PseudoElementCode(symbol);
        Record(depth, NumberOf(&o), "Atom");
        Acl(depth, code, code == q::kUnlistedDummyCode ? std::string_view("X") : symbol);
        Position(depth, o.GetXYZ());
        if (const int id = atomData_.GetNonSymmetricID(o); id > 0) Id(depth, id);
        if (o.GetCharge() != 0) {
            SingleLine(depth, "Charge", o.GetCharge());
        }
        Label(depth, o);
        if (!o.GetForcefieldType().empty()) {
            TextLine(depth, "FFType", o.GetForcefieldType());
        }
    }

    void WriteBond(const xxBond& bond, int depth) {
        int kind = q::kBondKindSingle;
        switch (bond.GetBondType()) {
            case xxBondType::Partial:
            case xxBondType::Aromatic: kind = q::kBondKindAromatic; break;
            case xxBondType::Double: kind = q::kBondKindDouble; break;
            case xxBondType::Triple: kind = q::kBondKindTriple; break;
            default: break;
        }
        const auto ends = bond.GetAtoms();
        const int number = NextNumber();
        Record(depth, number, "Bond");
        IntegerLine(depth, "O", "Atom1", FindImageRelation(ends[0]));
        IntegerLine(depth, "O", "Atom2", FindImageRelation(ends[1]));
        Label(depth, bond);
        if (bond.GetID() != 0) Id(depth, bond.GetID());
        if (kind > q::kBondKindSingle) {
            IntegerLine(depth, "I", "Type", kind);
        }
        if (system_) {
            // Bonds have no symmetry images of their own in this data model: their ends do.
            for (int end = 0; end < 2; ++end) WritePeriodicImageBond(bond, number, end, depth);
        }
        WriteImageNotes(depth);
    }


private:
    static constexpr std::size_t kFlushSize = 1 << 16;
    static constexpr std::size_t kBufferSize = kFlushSize + 4096;
    std::ostream& out_;
    std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
    char* cursor_ = buffer_.get();
    int counter_ = 1;
    // The model and its bondable objects: record number, the number of the switching centre of
    // the charge group an atom is in.
    struct Numbered {
        int number = 0;
        int switchCentre = 0;
    };
    AddressTable<xxObject, Numbered> table_;
    xxQorAtomData atomData_;
    // Periodic models: the system written, its definition and dimension, the walk's mode, the
    // space-group setting named, the objects written, images noted during a bond, and the
    // periodic image bonds written (bond, translation).
    xxSymmetrySystem* system_ = nullptr;
    const xxSymmetryDefinition* definition_ = nullptr;
    int dimension_ = 0;
    int mode_ = xxSymmetrySystem::kParents;
    const xxSpaceGroupDescription* description_ = nullptr;
    bool hadImages_ = false;
    std::unordered_set<const xxObject*> written_;
    std::vector<ImageNote> notes_;
    std::set<std::pair<const xxBond*, std::array<int, 3>>> imageBonds_;
};

}  // namespace

xxBool xxSaveQOR::SaveObjectToStream(std::ostream& out, xxObject* source, std::string) {
    error_.clear();
    if (!source || !source->As<xxTreeRoot>()) {
        error_ = "Only a document's tree can be written as a QOR file";
        return false;
    }
    // A periodic model is written from its (first) periodic symmetry system; the file holds
    // one model, so matter beside that system cannot be written with it.
    xxSymmetrySystem* periodic = nullptr;
    for (const auto& child : source->As<xxTreeNode>()->Children())
        if (auto* system = child->As<xxMatterSymmetrySystem>(); system && system->GetPeriodicDimension() > 0) {
            periodic = system;
            break;
        }
    if (periodic) {
        bool outside = false;
        source->As<xxTreeNode>()->ForEachDescendent([&](xxObject& o) {
            if (o.As<xxBondable>() && !o.IsDescendentOf(*periodic)) outside = true;
            return !outside;
        });
        if (outside) {
            error_ = "A QOR file holds one periodic model: matter beside the periodic cell cannot be written with it";
            return false;
        }
    }
    Writer writer(out, *source, periodic);
    xxObject& model = periodic ? static_cast<xxObject&>(*periodic) : *source;
    writer.Prepare(model);
    writer.Write(model);
    return true;
}

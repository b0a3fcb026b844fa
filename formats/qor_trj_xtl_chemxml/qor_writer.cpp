#include "formats/qor_trj_xtl_chemxml/qor_writer.h"

#include <cmath>
#include <optional>
#include <string_view>

#include "base/address_table.h"
#include "base/text.h"
#include "datamodel/atomistic.h"
#include "datamodel/elements.h"
#include "datamodel/polymer.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/system.h"
#include "formats/qor_trj_xtl_chemxml/qor_format.h"

namespace {

namespace tx = cartovane::text;
namespace q = cartovane::qor;

// Lines are put together in one buffer and handed to the stream in large pieces.
class Writer {
public:
    explicit Writer(std::ostream& out) : out_(out) {}
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
        model.As<xxTreeNode>()->ForEachDescendent([&](xxObject& o) {
            if (o.As<xxBondable>()) Number(o);
            return true;
        });
        model.As<xxTreeNode>()->ForEachDescendent([&](xxObject& o) {
            if (auto* group = o.As<xxChargeGroup>()) {
                const int centre = NumberOf(group->GetSwitchingCenter());
                for (xxAtom* atom : group->GetAtoms())
                    if (Numbered* record = table_.Find(atom)) record->switchCentre = centre;
            }
            return true;
        });
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

    void Text(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= kFlushSize) Flush();
    }
    void Flush() {
        if (buffer_.empty()) return;
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }
    void Indent(int depth) { buffer_.append(static_cast<std::size_t>(depth), ' '); }
    void Integer(long long value) {
        char text[tx::kNumberTextSize];
        buffer_.append(text, tx::WriteNumber(text, text + sizeof text, value));
    }
    void Real(double value) {
        char text[tx::kNumberTextSize];
        buffer_.append(text, tx::WriteGeneral(text, text + sizeof text, value, q::kPrecision));
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
        Open(depth, "D", "XYZ");
        Text("(");
        Real(p.x);
        Text(" ");
        Real(p.y);
        Text(" ");
        Real(p.z);
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
        if (auto* node = o.As<xxTreeNode>())
            for (const auto& child : node->Children()) WriteTree(*child, depth + (record ? 2 : 0));
        if (record) {
            Indent(depth);
            Text(")\n");
        }
    }

    bool WriteObject(xxObject& o, int depth) {
        if (o.As<xxTreeRoot>()) {
            Record(0, NumberOf(&o), "Model");
            Label(0, o);
            if (o.GetID() != 0) {
                Text("  (A I Id ");
                Integer(o.GetID());
                Text(" )\n");
            }
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

    void WriteAtom(const xxAtom3d& atom, int depth) {
        const xxElement& element = atom.GetElement();
        Record(depth, NumberOf(&atom), "Atom");
        if (const auto site = MixedSite(atom)) Acl(depth, site->code, site->symbol);
        else Acl(depth, element.number == 1 ? 0 : element.number, element.symbol);
        Label(depth, atom);
        Position(depth, atom.GetXYZ());
        if (atom.GetID() != 0) Id(depth, atom.GetID());
        if (atom.GetCharge() != 0) {
            SingleLine(depth, "Charge", atom.GetCharge());
        }
        const xxRational charge = atom.GetFormalCharge();
        if (charge != xxRational{}) {
            Open(depth, "I", "FChg");
            Text("(");
            Integer(charge.numerator);
            Text(" ");
            Integer(charge.denominator);
            Text("))\n");
        }
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
        WriteSwitch(atom, depth);
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

    void WriteSwitch(const xxObject& o, int depth) {
        const Numbered* record = table_.Find(&o);
        if (!record || record->switchCentre <= 0) return;
        IntegerLine(depth, "O", "Switch", record->switchCentre);
    }

    void WritePseudoAtom(const xxBondable& o, int depth) {
        const auto* dummy = o.As<xxDummyBase>();
        const std::string_view symbol = dummy ? std::string_view(dummy->GetDummySymbol()) : q::kPiCentreSymbol;
        const int code = q::PseudoElementCode(symbol);
        Record(depth, NumberOf(&o), "Atom");
        Acl(depth, code, code == q::kUnlistedDummyCode ? std::string_view("X") : symbol);
        Position(depth, o.GetXYZ());
        if (o.GetID() > 0) Id(depth, o.GetID());
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
        Record(depth, NextNumber(), "Bond");
        IntegerLine(depth, "O", "Atom1", NumberOf(ends[0]));
        IntegerLine(depth, "O", "Atom2", NumberOf(ends[1]));
        Label(depth, bond);
        if (bond.GetID() != 0) Id(depth, bond.GetID());
        if (kind > q::kBondKindSingle) {
            IntegerLine(depth, "I", "Type", kind);
        }
    }


private:
    static constexpr std::size_t kFlushSize = 1 << 16;
    std::ostream& out_;
    std::string buffer_;
    int counter_ = 1;
    // The model and its bondable objects: record number, the number of the switching centre of
    // the charge group an atom is in.
    struct Numbered {
        int number = 0;
        int switchCentre = 0;
    };
    AddressTable<xxObject, Numbered> table_;
};

}  // namespace

xxBool xxSaveQOR::SaveObjectToStream(std::ostream& out, xxObject* source, std::string) {
    error_.clear();
    if (!source || !source->As<xxTreeRoot>()) {
        error_ = "Only a document's tree can be written as a QOR file";
        return false;
    }
    for (const auto& child : source->As<xxTreeNode>()->Children())
        if (auto* system = child->As<xxMatterSymmetrySystem>(); system && system->GetPeriodicDimension() > 0) {
            error_ = "Periodic models cannot be written as QOR files yet";
            return false;
        }
    Writer writer(out);
    writer.Prepare(*source);
    writer.Write(*source);
    return true;
}

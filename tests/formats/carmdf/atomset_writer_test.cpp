// The "#atomset" section: sets of atoms, of monitors and of substructures, backbone lists,
// fixed atoms and pseudo-atoms, and the warnings of sets that cannot be written whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/messages.h"
#include "writer_support.h"

namespace {

namespace msg = cartovane::msg;
using cvtest::TempDir;
using cvtest::carmdf::Model;
using cvtest::carmdf::WriteModel;
using cvtest::carmdf::Written;

// A molecule of n carbon atoms named C1..Cn in one sub-unit, bonded in a chain.
struct Chain {
    Model m;
    xxMultiScaleMolecule& mol = m.Molecule("MOL");
    xxMultiScaleSubUnit& sub = Model::SubUnit(mol, "RES_1");
    std::vector<xxAtom3d*> atoms;
    explicit Chain(int n) {
        for (int i = 1; i <= n; ++i) {
            atoms.push_back(&Model::Atom(sub, "C" + std::to_string(i), "C", {1.5 * i, 0, 0}));
            if (i > 1) xxBondable::MakeBond(*atoms[atoms.size() - 2], *atoms.back());
        }
    }
    xxSet& Set(std::string name) {
        auto& s = m.root->CreateChild<xxSet>();
        s.SetName(std::move(name));
        return s;
    }
};

// The section from "#atomset" to "#end", lines joined with "|".
std::string Section(const Written& w) {
    std::size_t start = w.mdf.find("#atomset");
    if (start == std::string::npos) return {};
    std::string out;
    for (char c : w.mdf.substr(start, w.mdf.find("#end") - start)) out.push_back(c == '\n' ? '|' : c);
    return out;
}

TEST(AtomSetWriter, SubsetsAndMonitorSets) {
    struct Case {
        const char* what;
        std::function<void(Chain&)> make;
        const char* section;  // "" for no section at all
        const char* warning;  // null for none
    };
    const Case cases[] = {
        {"atoms",
         [](Chain& c) {
             auto& s = c.Set("Heavy");
             s.Add(*c.atoms[2]);
             s.Add(*c.atoms[0]);
             s.Add(*c.atoms[0]);  // once in the list
         },
         "#atomset||@list subset Heavy||MOL:RES_1:C3 C1 ||", nullptr},
        {"distance monitors, one of them twice and once backwards",
         [](Chain& c) {
             auto& s = c.Set("Dist");
             s.Add(c.mol.CreateChild<xxDistanceStretcher>(*c.atoms[0], *c.atoms[1]));
             s.Add(c.mol.CreateChild<xxDistanceStretcher>(*c.atoms[1], *c.atoms[0]));
             s.Add(c.mol.CreateChild<xxDistanceStretcher>(*c.atoms[0], *c.atoms[1]));
             s.Add(c.mol.CreateChild<xxDistanceStretcher>(*c.atoms[0], *c.atoms[2]));
         },
         "#atomset||@degree 2 subset Dist||MOL:RES_1:C1 C2 |||MOL:RES_1:C1 C3 ||", nullptr},
        {"angles and torsions",
         [](Chain& c) {
             c.Set("Ang").Add(c.mol.CreateChild<xxPlanarAngleBender>(*c.atoms[0], *c.atoms[1], *c.atoms[2]));
             c.Set("Tor").Add(
                 c.mol.CreateChild<xxTorsionTwister>(*c.atoms[0], *c.atoms[1], *c.atoms[2], *c.atoms[3]));
         },
         "#atomset||@degree 3 subset Ang||MOL:RES_1:C1 C2 C3 ||@degree 4 subset Tor||MOL:RES_1:C1 C2 C3 C4 ||",
         nullptr},
        {"an empty set", [](Chain& c) { c.Set("Empty"); }, "#atomset||", nullptr},
        {"atoms and a monitor",
         [](Chain& c) {
             auto& s = c.Set("Mixed");
             s.Add(*c.atoms[0]);
             s.Add(c.mol.CreateChild<xxDistanceStretcher>(*c.atoms[0], *c.atoms[1]));
         },
         "#atomset||",
         "Set Mixed contains multiple data types - only a single type of data may be saved in a single set."},
        {"substructures of two sizes",
         [](Chain& c) {
             auto& s = c.Set("Sub");
             auto& a = c.mol.CreateChild<xxSubstructure>();
             a.AddAtom(*c.atoms[0]);
             a.AddAtom(*c.atoms[1]);
             auto& b = c.mol.CreateChild<xxSubstructure>();
             b.AddAtom(*c.atoms[2]);
             s.Add(a);
             s.Add(b);
         },
         "#atomset||",
         "Set Sub contains substructures with different sizes. These cannot be output in this file format."},
        {"single-atom substructures",
         [](Chain& c) {
             auto& s = c.Set("Ones");
             for (int i : {1, 3}) {
                 auto& part = c.mol.CreateChild<xxSubstructure>();
                 part.AddAtom(*c.atoms[static_cast<std::size_t>(i)]);
                 s.Add(part);
             }
         },
         "#atomset||@list subset Ones||MOL:RES_1:C2 C4 ||", nullptr},
        {"two sets of one name",
         [](Chain& c) {
             c.Set("S").Add(*c.atoms[0]);
             c.Set("S").Add(*c.atoms[1]);
             c.Set("").Add(*c.atoms[2]);
             c.Set("MDF_FIXED_ATOMS_SUBSET").Add(*c.atoms[3]);
         },
         "#atomset||@list subset S||MOL:RES_1:C1 ||@list subset S_2||MOL:RES_1:C2 ||@list subset Set||MOL:RES_1:C3 "
         "||@list subset MDF_FIXED_ATOMS_SUBSET_2||MOL:RES_1:C4 ||",
         nullptr},
        {"no sets", [](Chain&) {}, "", nullptr},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Chain chain(4);
        c.make(chain);
        Written out = WriteModel(*chain.m.root, dir);
        EXPECT_TRUE(out.ok) << c.what;
        EXPECT_EQ(Section(out), c.section) << c.what;
        EXPECT_EQ(out.allSets, c.warning == nullptr) << c.what;
        if (c.warning) {
            ASSERT_EQ(out.warnings.size(), 1u) << c.what;
            EXPECT_EQ(out.warnings[0], c.warning);
            EXPECT_EQ(out.messageId, msg::CARSAVE_MDF_ATOMSET);
        } else {
            EXPECT_TRUE(out.warnings.empty()) << c.what;
        }
    }
}

TEST(AtomSetWriter, SubstructureSizes) {
    for (int size : {24, 30}) {
        TempDir dir;
        Chain chain(30);
        auto& part = chain.mol.CreateChild<xxSubstructure>();
        for (int i = 0; i < size; ++i) part.AddAtom(*chain.atoms[static_cast<std::size_t>(i)]);
        chain.Set("Big").Add(part);
        Written out = WriteModel(*chain.m.root, dir);
        if (size == 24) {
            EXPECT_TRUE(out.allSets);
            EXPECT_NE(Section(out).find("@degree 24 subset Big||MOL:RES_1:C1 C2 "), std::string::npos);
        } else {
            EXPECT_FALSE(out.allSets);
            ASSERT_EQ(out.warnings.size(), 1u);
            EXPECT_EQ(out.warnings[0],
                      "Set Big contains subStructures too large for the Mdf format. This data will not be output to "
                      "the file.");
            EXPECT_EQ(Section(out), "#atomset||");
        }
    }
}

TEST(AtomSetWriter, ListsKeepToEightyColumnsAndChangeContextOnNewLines) {
    TempDir dir;
    Chain chain(40);
    auto& other = Model::SubUnit(chain.mol, "OTH_2");
    auto& x = Model::Atom(other, "X", "O", {});
    auto& s = chain.Set("All");
    for (xxAtom3d* a : chain.atoms) s.Add(*a);
    s.Add(x);
    Written out = WriteModel(*chain.m.root, dir);
    std::vector<std::string> body;
    bool in = false;
    for (const std::string& line : cvtest::carmdf::Lines(out.mdf)) {
        if (line == "@list subset All") {
            in = true;
            continue;
        }
        if (in && line.starts_with("#")) break;
        if (in) body.push_back(line);
    }
    ASSERT_GE(body.size(), 4u);
    EXPECT_EQ(body.front(), "");
    EXPECT_TRUE(body[1].starts_with("MOL:RES_1:C1 C2 C3 "));
    for (const std::string& line : body) EXPECT_LE(line.size(), 80u) << line;
    EXPECT_EQ(body[body.size() - 2], "OTH_2:X ");
    EXPECT_EQ(body.back(), "");
}

TEST(AtomSetWriter, BackboneLists) {
    struct Case {
        const char* what;
        std::vector<int> backbone;               // 1-based atoms of a chain of 8
        std::vector<std::pair<int, int>> bonds;  // extra bonds
        const char* section;
    };
    const Case cases[] = {
        {"linear, from one end", {3, 1, 2, 4, 5, 6, 7, 8}, {},
         "#atomset||@list backbone MOL||MOL:RES_1:C1 C2 C3 C4 C5 C6 |C7 C8 ||"},
        {"branched: atom order", {1, 2, 3, 4}, {{2, 4}}, "#atomset||@list backbone MOL||MOL:RES_1:C1 C2 C3 C4 ||"},
        {"a ring: atom order", {1, 2, 3}, {{1, 3}}, "#atomset||@list backbone MOL||MOL:RES_1:C1 C2 C3 ||"},
        {"walked from the first end", {4, 5, 6}, {}, "#atomset||@list backbone MOL||MOL:RES_1:C4 C5 C6 ||"},
        {"none", {}, {}, ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Chain chain(8);
        for (int i : c.backbone) chain.atoms[static_cast<std::size_t>(i - 1)]->SetIsBackboneAtom(true);
        for (auto [a, b] : c.bonds)
            xxBondable::MakeBond(*chain.atoms[static_cast<std::size_t>(a - 1)], *chain.atoms[static_cast<std::size_t>(b - 1)]);
        Written out = WriteModel(*chain.m.root, dir);
        EXPECT_EQ(Section(out), c.section) << c.what;
    }
}

TEST(AtomSetWriter, FixedAtomsAndPseudoAtoms) {
    TempDir dir;
    Chain chain(4);
    auto& fixed = chain.m.root->CreateChild<xxCompleteRestriction>();
    fixed.AddRestrictable(chain.atoms[3]->GetXYZRestrictable());
    fixed.AddRestrictable(chain.atoms[1]->GetXYZRestrictable());
    fixed.AddRestrictable(chain.atoms[3]->GetXYZRestrictable());
    // Pseudo-atoms whose names clash with an atom and with each other.
    auto pseudo = [&](std::string name, std::vector<int> members) {
        auto& pi = chain.sub.CreateChild<xxPiSystem>();
        pi.SetName(std::move(name));
        for (int i : members) pi.MakePiSystemBond(*chain.atoms[static_cast<std::size_t>(i - 1)]);
        pi.SetHasDynamicPosition(true);
    };
    pseudo("C1", {1, 2});
    pseudo("C1", {3, 4});
    pseudo("Benzene ring", {1, 2});
    pseudo("", {2, 3});
    auto& still = chain.sub.CreateChild<xxPiSystem>();  // listed as a dummy atom, not here
    still.SetName("Still");
    Written out = WriteModel(*chain.m.root, dir);
    EXPECT_EQ(Section(out),
              "#atomset||@list subset MDF_FIXED_ATOMS_SUBSET||MOL:RES_1:C4 C2 ||"
              "@list pseudoatom MOL:RES_1:C11 A||MOL:RES_1:C1 C2 ||"
              "@list pseudoatom MOL:RES_1:C12 A||MOL:RES_1:C3 C4 ||"
              "@list pseudoatom MOL:RES_1:Benze A||MOL:RES_1:C1 C2 ||"
              "@list pseudoatom MOL:RES_1:PI A||MOL:RES_1:C2 C3 ||");
}

}  // namespace

namespace {

TEST(AtomSetWriter, TuplesAcrossImages) {
    TempDir dir;
    Model m;
    m.SpaceGroup("P1", 10, 10, 10, 90, 90, 90);
    auto& sub = Model::SubUnit(m.Molecule("MOL"), "RES_1");
    auto& a = Model::Atom(sub, "A", "C", {1, 1, 1});
    auto& b = Model::Atom(sub, "B", "C", {2, 1, 1});
    m.Build();
    const auto& d = m.system->GetSymmetryDefinition();
    const xxSymmetryElement* next = d.FindSymmetryElement(1, {{1, 0, 0}});
    auto& a2 = *m.system->FindSymmetryImage(a, next)->As<xxMatter>();
    auto& b2 = *m.system->FindSymmetryImage(b, next)->As<xxMatter>();
    auto& set = m.system->CreateChild<xxSet>();
    set.SetName("D");
    set.Add(m.system->CreateChild<xxDistanceStretcher>(a, b2));   // across the cell boundary: left out
    set.Add(m.system->CreateChild<xxDistanceStretcher>(a2, b2));  // whole in the next cell: as its parents
    set.Add(m.system->CreateChild<xxDistanceStretcher>(b, a));    // the same pair again
    Written out = WriteModel(*m.root, dir);
    EXPECT_TRUE(out.ok);
    EXPECT_FALSE(out.allSets);
    EXPECT_EQ(out.messageId, msg::CARSAVE_MDF_ATOMSET);
    ASSERT_EQ(out.warnings.size(), 1u);
    EXPECT_EQ(out.warnings[0],
              "Set D contains a distance, angle, torsion or substructure whose defining members lie in different "
              "symmetry or periodic images. This data cannot be output in the mdf format, and has been omitted.");
    EXPECT_EQ(Section(out), "#atomset||@degree 2 subset D||MOL:RES_1:A B ||");
}

}  // namespace

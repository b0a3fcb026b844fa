// The MDF "#atomset" section: name resolution, subsets, fixed atoms, backbone, pseudo-atoms and
// N-tuple sets, and the headers that fail the section.
#include <gtest/gtest.h>

#include "car_load_support.h"
#include "frame/messages.h"

namespace msg = cartovane::msg;
using namespace cvtest::carmdf;

namespace {

// Molecule W: residue WAT_1 with O1, H1, H2. Molecule R: residue RNG_1 with a triangle C1, C2,
// C3 and a metal M1 bonded to all three, and residue SID_2 with S1 bonded to C1.
std::string Car(std::string_view periodicity = "PBC=OFF", std::string_view cell = {}) {
    return CarHeader(periodicity) + std::string(cell) + AtomLine("O1", 0, 0, 0, "WAT", "1", "o", "O", 0) + "\n" +
           AtomLine("H1", 0.96, 0, 0, "WAT", "1", "h", "H", 0) + "\n" +
           AtomLine("H2", -0.24, 0.93, 0, "WAT", "1", "h", "H", 0) + "\nend\n" +
           AtomLine("C1", 5, 0, 0, "RNG", "1", "c", "C", 0) + "\n" +
           AtomLine("C2", 6.4, 0, 0, "RNG", "1", "c", "C", 0) + "\n" +
           AtomLine("C3", 5.7, 1.2, 0, "RNG", "1", "c", "C", 0) + "\n" +
           AtomLine("M1", 5.7, 0.4, 2, "RNG", "1", "fe", "Fe", 0) + "\n" +
           AtomLine("S1", 4, -1, 0, "SID", "2", "c", "C", 0) + "\nend\nend\n";
}

std::string Topology() {
    const RecordFields h{.element = "H"};
    const RecordFields c{.element = "C"};
    return "#topology\n\n" + ColumnDeclarations() + "\n@molecule W\n\n" + MdfRecord("WAT_1:O1", {}, "H1 H2") + "\n" +
           MdfRecord("WAT_1:H1", h, "O1") + "\n" + MdfRecord("WAT_1:H2", h, "O1") + "\n\n@molecule R\n\n" +
           MdfRecord("RNG_1:C1", c, "C2 C3 M1 SID_2:S1") + "\n" + MdfRecord("RNG_1:C2", c, "C1 C3 M1") + "\n" +
           MdfRecord("RNG_1:C3", c, "C1 C2 M1") + "\n" + MdfRecord("RNG_1:M1", {.element = "Fe"}, "C1 C2 C3") +
           "\n" + MdfRecord("SID_2:S1", c, "RNG_1:C1") + "\n\n";
}

Loaded LoadSets(const cvtest::TempDir& dir, std::string_view atomsets, std::string_view periodicity = "PBC=OFF",
                std::string_view cell = {}) {
    return Load(dir, Car(periodicity, cell), MdfHeader() + Topology() + "#atomset\n\n" + std::string(atomsets) + "#end\n");
}

xxSet* SetNamed(const Loaded& l, std::string_view name) {
    for (xxSet* s : l.root->DescendentsOf<xxSet>())
        if (s->GetName() == name) return s;
    return nullptr;
}

std::vector<xxObject*> Atoms(const Loaded& l, std::initializer_list<int> ids) {
    std::vector<xxObject*> out;
    for (int id : ids) out.push_back(l.Atom(id));
    return out;
}

TEST(MdfAtomSets, SubsetsResolveNamesWithTheirContext) {
    cvtest::TempDir dir;
    const Loaded l = LoadSets(dir,
                              "@list subset BARE\n\nO1 H1\n\n"
                              "@list subset FULL\n\nW:WAT_1:O1 H1\nH2\n\n"
                              "@list subset MIXED\n\nW:WAT_1:H2 R:RNG_1:C1 SID_2:S1\n\n"
                              "@list subset MIXED\n\nW:WAT_1:O1\n\n");
    EXPECT_TRUE(l.posted.empty()) << testing::PrintToString(l.posted);

    // Bare names against the empty context find nothing; the set stays with the owner.
    const xxSet* bare = SetNamed(l, "BARE");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->GetSize(), 0u);
    EXPECT_EQ(bare->GetParent(), l.root.get());

    // A full name sets the context of the bare names after it, across lines.
    const xxSet* full = SetNamed(l, "FULL");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->GetMembers(), Atoms(l, {1, 2, 3}));
    EXPECT_EQ(full->GetParent()->GetName(), "WAT_1");  // the members' common ancestor

    // Lists of one name fill one set.
    EXPECT_EQ(l.root->DescendentsOf<xxSet>().size(), 3u);
    const xxSet* mixed = SetNamed(l, "MIXED");
    ASSERT_NE(mixed, nullptr);
    EXPECT_EQ(mixed->GetMembers(), Atoms(l, {3, 4, 8, 1}));
    EXPECT_EQ(mixed->GetParent(), l.root.get());
}

TEST(MdfAtomSets, FixedAtomsBackboneAndTorsions) {
    cvtest::TempDir dir;
    const Loaded l = LoadSets(dir,
                              "@list subset MDF_FIXED_ATOMS_SUBSET\n\nW:WAT_1:O1 H1\n\n"
                              "@list subset DRAVIK4_FIXED_ATOMS\n\nR:RNG_1:M1\n\n"
                              "@list backbone R\n\nR:RNG_1:C1 C2\n\n"
                              "@list torsion T\n\nW:WAT_1:O1 H1\nH2\n\n");
    EXPECT_TRUE(l.posted.empty()) << testing::PrintToString(l.posted);
    const auto restrictions = l.root->ChildrenOf<xxCompleteRestriction>();
    ASSERT_EQ(restrictions.size(), 2u);
    std::vector<xxObject*> fixed;
    for (const xxRestrictable* r : restrictions[0]->GetRestrictables()) {
        EXPECT_EQ(&r->GetProperty(), &xxMatter::m_pptXYZ);
        fixed.push_back(r->GetAssociatedObject());
    }
    EXPECT_EQ(fixed, Atoms(l, {1, 2}));
    EXPECT_EQ(restrictions[1]->NumRestrictables(), 1u);

    EXPECT_TRUE(l.Atom(4)->As<xxAtom>()->IsBackboneAtom());
    EXPECT_TRUE(l.Atom(5)->As<xxAtom>()->IsBackboneAtom());
    EXPECT_FALSE(l.Atom(6)->As<xxAtom>()->IsBackboneAtom());
    // Fixed-atom and backbone lists make no sets, and the torsion list makes nothing.
    EXPECT_TRUE(l.root->DescendentsOf<xxSet>().empty());
    EXPECT_TRUE(l.root->DescendentsOf<xxMonitor>().empty());
}

TEST(MdfAtomSets, PseudoAtomTakesOverTheCoordinatedBonds) {
    cvtest::TempDir dir;
    const Loaded l = LoadSets(dir, "@list pseudoatom R:RNG_1:Ring\n\nC1 C2 C3\n\n"
                                   "@list pseudoatom R:RNG_1:None\n\nC1 SID_2:S1\n\n");
    EXPECT_TRUE(l.posted.empty()) << testing::PrintToString(l.posted);
    const auto pis = l.root->DescendentsOf<xxPiSystem>();
    ASSERT_EQ(pis.size(), 1u);  // C1 and S1 share no bonded atom
    const xxPiSystem& ring = *pis[0];
    EXPECT_EQ(ring.GetName(), "Ring");
    EXPECT_EQ(ring.GetParent()->GetName(), "RNG_1");
    EXPECT_TRUE(ring.HasDynamicPosition());
    std::vector<xxObject*> members;
    for (xxBondable* b : ring.GetPiSystemAtoms()) members.push_back(b);
    EXPECT_EQ(members, Atoms(l, {4, 5, 6}));

    xxBondable* metal = l.Atom(7);
    EXPECT_EQ(metal->GetAttached(), (std::vector<xxBondable*>{const_cast<xxPiSystem*>(&ring)}));
    EXPECT_TRUE(l.Atom(4)->IsBondedTo(*l.Atom(5)));  // the ring's own bonds stay
    EXPECT_TRUE(l.Atom(4)->IsBondedTo(*l.Atom(8)));
}

TEST(MdfAtomSets, TupleSets) {
    cvtest::TempDir dir;
    const Loaded l = LoadSets(dir,
                              "@degree 2 subset D\n\nW:WAT_1:O1 H1 XX H2\n\n"
                              "@degree 2 subset D2\n\nW:WAT_1:H1 O1\n\n"
                              "@degree 3 subset A\n\nW:WAT_1:H1 O1 H2\n\n"
                              "@degree 4 subset T\n\nR:RNG_1:M1 C1 C2 C3\n\n"
                              "@degree 5 subset S\n\nR:RNG_1:C1 C2 C3 M1 SID_2:S1\n\n"
                              "@degree 2 subset EMPTY\n\nQ1 Q2\n\n");
    EXPECT_TRUE(l.posted.empty()) << testing::PrintToString(l.posted);

    // A tuple with a name that resolves to nothing is skipped.
    const xxSet* d = SetNamed(l, "D");
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->GetSize(), 1u);
    const auto* distance = d->GetMembersOf<xxDistanceStretcher>().at(0);
    EXPECT_EQ(distance->GetMonitoredObjects(), Atoms(l, {1, 2}));
    EXPECT_FALSE(distance->IsLabeledMeasurement());
    // The same pair in the other order is the same monitor.
    const xxSet* d2 = SetNamed(l, "D2");
    ASSERT_NE(d2, nullptr);
    EXPECT_EQ(&d2->GetAt(0), distance);
    EXPECT_EQ(l.root->DescendentsOf<xxDistanceStretcher>().size(), 1u);

    EXPECT_EQ(SetNamed(l, "A")->GetMembersOf<xxPlanarAngleBender>().size(), 1u);
    EXPECT_EQ(SetNamed(l, "T")->GetMembersOf<xxTorsionTwister>().size(), 1u);

    const xxSet* s = SetNamed(l, "S");
    ASSERT_NE(s, nullptr);
    const auto subs = s->GetMembersOf<xxSubstructure>();
    ASSERT_EQ(subs.size(), 1u);
    EXPECT_EQ(subs[0]->GetName(), "S_Tuple1");
    EXPECT_EQ(subs[0]->GetID(), 1);
    EXPECT_EQ(subs[0]->NumAtoms(), 5u);
    EXPECT_EQ(subs[0]->GetParent()->GetName(), "R");  // common ancestor of its atoms

    EXPECT_EQ(SetNamed(l, "EMPTY"), nullptr);  // nothing to hold
}

TEST(MdfAtomSets, OwnerOfAPeriodicModelIsItsSymmetrySystem) {
    cvtest::TempDir dir;
    const Loaded l = LoadSets(dir, "@list subset MDF_FIXED_ATOMS_SUBSET\n\nW:WAT_1:O1\n\n@list subset E\n\n",
                              "PBC=ON", "PBC   20.0000   20.0000   20.0000   90.0000   90.0000   90.0000 (P1)\n");
    EXPECT_TRUE(l.posted.empty()) << testing::PrintToString(l.posted);
    ASSERT_NE(l.System(), nullptr);
    EXPECT_EQ(l.System()->ChildrenOf<xxCompleteRestriction>().size(), 1u);
    ASSERT_NE(SetNamed(l, "E"), nullptr);
    EXPECT_EQ(SetNamed(l, "E")->GetParent(), l.System());
}

TEST(MdfAtomSets, HeadersThatFailTheSection) {
    const std::string_view sentence = "An error was encountered while reading the #atomset section of the file.";
    struct Case {
        const char* label;
        std::string atomsets;
    };
    const Case cases[] = {
        {"degree_2_with_three_names", "@degree 2 subset D\n\nW:WAT_1:O1 H1 H2\n\n"},
        {"degree_0", "@degree 0 subset D\n\nW:WAT_1:O1 H1\n\n"},
        {"subset_without_name", "@list subset\n\nW:WAT_1:O1\n\n"},
        {"degree_of_no_subset", "@degree 2 torsion D\n\nW:WAT_1:O1 H1\n\n"},
        {"backbone_without_name", "@list backbone\n\nW:WAT_1:O1\n\n"},
        {"pseudoatom_without_name", "@list pseudoatom\n\nR:RNG_1:C1\n\n"},
        {"unknown_list", "@list bogus X\n\nW:WAT_1:O1\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        cvtest::TempDir dir;
        const Loaded l = Load(dir, Car(),
                              MdfHeader() + Topology() + "#atomset\n\n@list subset KEPT\n\nW:WAT_1:O1\n\n" +
                                  c.atomsets + "#end\n");
        EXPECT_EQ(l.lastMessage, msg::CARLOAD_MDF_ATOMSET);
        ASSERT_EQ(l.posted.size(), 1u);
        EXPECT_EQ(l.posted[0], MdfProblem(dir.File("model.mdf"), sentence, false));
        EXPECT_EQ(SetNamed(l, "D"), nullptr);     // a tuple set made for a list that fails goes again
        EXPECT_NE(SetNamed(l, "KEPT"), nullptr);  // made before the failure
        EXPECT_TRUE(l.Atom(1)->IsBondedTo(*l.Atom(2)));  // the topology stands
    }
    // The section's first line must be a list header, and there must be one.
    for (std::string_view atomsets : {std::string_view("#atomset\n\nW:WAT_1:O1\n#end\n"), std::string_view("#atomset\n")}) {
        SCOPED_TRACE(atomsets);
        cvtest::TempDir dir;
        const Loaded l = Load(dir, Car(), MdfHeader() + Topology() + std::string(atomsets));
        EXPECT_EQ(l.lastMessage, msg::CARLOAD_MDF_ATOMSET);
        EXPECT_EQ(l.posted, (std::vector<std::string>{MdfProblem(dir.File("model.mdf"), sentence, false)}));
    }
}

}  // namespace

// The QOR reader on small hand-written files.
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/sets.h"
#include "frame/clsids.h"
#include "frame/messages.h"
#include "tests/formats/qor_trj_xtl_chemxml/qor_test_support.h"

namespace {

using namespace cartovane;

using qortest::kHeader;
using qortest::Load;
using qortest::Loaded;

// A model holding the given lines.
std::string Model(const std::string& body) { return kHeader + "(1 Model\n" + body + ")\n"; }

std::vector<xxAtom3d*> Atoms(const xxTreeRoot& root) { return root.DescendentsOf<xxAtom3d>(); }

TEST(QorReader, ExtensionFilterAndContentTest) {
    xxLoadQOR reader;
    EXPECT_TRUE(reader.IsFileExtension("qor"));
    EXPECT_FALSE(reader.IsFileExtension("QOR"));
    EXPECT_EQ(reader.GetFileExtension(), "qor");
    EXPECT_EQ(reader.GetFileFilter(), "Dravik4 Files (*.qor) |*.qor|");
    struct Case {
        const char* text;
        bool loadable;
    } cases[] = {
        {"# QOR DRAVIK4 DataModel File Version 4 0\n", true},
        {"\xEF\xBB\xBF# QOR DRAVIK4 DataModel File Version 4 0\r\n", true},
        {"# QOR DRAVIK4", true},
        {"text first\n# QOR DRAVIK4 DataModel File Version 4 0\n", false},
        {"# QOR DRAVIK", false},
        {"", false},
    };
    for (const Case& c : cases) {
        std::istringstream in(std::string("xx") + c.text);
        in.seekg(2);
        EXPECT_EQ(reader.IsLoadable(in), c.loadable) << c.text;
        EXPECT_EQ(in.tellg(), std::streampos(2)) << "the stream is left where it was";
    }
}

TEST(QorReader, HeaderVersionAndLines) {
    const std::string atom = "(1 Model\n  (2 Atom\n    (A C ACL \"6 C\")\n  )\n)\n";
    struct Case {
        const char* what;
        std::string text;
        HRESULT hr;
        std::int32_t messageId;
        std::size_t atoms;
    } cases[] = {
        {"text before the header", "junk\n" + kHeader + atom, S_OK, 0, 1},
        {"no header", atom, E_UNEXPECTED, msg::QORLOAD_NOHEADER, 0},
        {"empty", "", E_UNEXPECTED, msg::QORLOAD_NOHEADER, 0},
        {"too old", "# QOR DRAVIK4 DataModel File Version 1 9\n" + atom, E_UNEXPECTED, msg::QORLOAD_BADVERS, 0},
        {"oldest read", "# QOR DRAVIK4 DataModel File Version 2 0\n" + atom, S_OK, 0, 1},
        {"unreadable version", "# QOR DRAVIK4 DataModel File Version x 0\n" + atom, E_UNEXPECTED, msg::QORLOAD_BADVERS, 0},
        {"CR LF", "# QOR DRAVIK4 DataModel File Version 4 0\r\n(1 Model\r\n  (2 Atom\r\n    (A C ACL \"6 C\")\r\n  )\r\n)\r\n",
         S_OK, 0, 1},
        {"byte-order mark", "\xEF\xBB\xBF" + kHeader + atom, S_OK, 0, 1},
        {"comments and blank lines in records",
         kHeader + "(1 Model\n# note\n\n  (2 Atom\n# (A C ACL \"8 O\")\n    (A C ACL \"6 C\")\n  )\n)\n", S_OK, 0, 1},
        {"CR alone", "# QOR DRAVIK4 DataModel File Version 4 0\r(1 Model\r  (2 Atom\r    (A C ACL \"6 C\")\r  )\r)\r", S_OK, 0,
         1},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(c.text, l);
        EXPECT_EQ(l.hr, c.hr) << c.what;
        if (c.hr != S_OK) {
            EXPECT_EQ(l.messageId, c.messageId) << c.what;
        }
        EXPECT_EQ(Atoms(l.root).size(), c.atoms) << c.what;
        if (c.atoms) {
            EXPECT_EQ(Atoms(l.root)[0]->GetElementSymbol(), "C") << c.what;
        }
    }
    // "#" after blanks is no comment: inside an atom it is an attribute line of no known name.
    Loaded l;
    Load(Model("  (2 Atom\n  # (A C ACL \"8 O\")\n  )\n"), l);
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(Atoms(l.root)[0]->GetElementSymbol(), "H");
}

TEST(QorReader, ContinuedLinesAreJoined) {
    Loaded l;
    Load(Model("  (2 Atom\n    (A C ACL \"6 C\")\n    (A D XYZ (1 \\\n      2 \\\n 3))\n  )\n"), l);
    ASSERT_EQ(l.hr, S_OK) << Cfx::GetLastError().description;
    EXPECT_EQ(Atoms(l.root)[0]->GetXYZ(), (xxPoint3d{1, 2, 3}));
}

// Continued lines are joined only up to the line reader's limit: an endless continuation fails
// the load instead of growing the line without bound.
TEST(QorReader, AJoinedLineLongerThanTheLimitFails) {
    std::string text = Model("  (2 Atom\n    (A D XYZ (1 \\\n");
    text.resize(text.size() - 2);  // inside the atom: without the model's closing line
    const std::string piece = std::string(4096, '7') + " \\\n";
    text.reserve(text.size() + 72 * 1024 * 1024);
    while (text.size() < 72u * 1024 * 1024) text += piece;
    Loaded l;
    try {
        Load(text, l);
        FAIL() << "the load went on";
    } catch (const Cfx::CfxResult& e) {
        EXPECT_EQ(e.Hr(), E_FAIL);
    }
}

TEST(QorReader, EndOfTextInsideEachKind) {
    struct Case {
        const char* body;
        std::int32_t id;
    } cases[] = {
        {"(1 Model\n", msg::QORLOAD_MODELAT},
        {"(1 Model\n  (2 Atom\n", msg::QORLOAD_ATOMAT},
        {"(1 Model\n  (2 Bond\n", msg::QORLOAD_BONDAT},
        {"(1 Model\n  (2 Subunit\n    (3 Linkage\n", msg::QORLOAD_LINKAT},
        {"(1 Model\n  (2 Subunit\n", msg::QORLOAD_SUBUAT},
        {"(1 Model\n  (2 Symmetry\n", msg::QORLOAD_SYMMAT},
        {"(1 Model\n  (2 Symmetry\n    (3 SymOp\n", msg::QORLOAD_SYMOPAT},
        {"(1 Model\n  (2 Thing\n", msg::QORLOAD_UNKEOF},
        // The innermost record's identifier ends the load.
        {"(1 Model\n  (2 Subunit\n    (3 Atom\n", msg::QORLOAD_ATOMAT},
        {"(1 Model\n  (2 Thing\n    (3 Bond\n", msg::QORLOAD_BONDAT},
        {"(1 Thing\n", msg::QORLOAD_UNKEOF},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(kHeader + c.body, l);
        EXPECT_EQ(l.hr, E_UNEXPECTED) << c.body;
        EXPECT_EQ(l.messageId, c.id) << c.body;
        EXPECT_EQ(Cfx::GetLastError().clsid, CLSID_QORImportExport);
    }
}

TEST(QorReader, KindsAndNesting) {
    Loaded l;
    Load(Model("  (A C Label \"box\")\n  (A I Id 7 )\n"
               "  (2 Atomic\n    (A C ACL \"6 C\")\n  )\n"
               "  (3 Thing\n    (A C Colour \"red\")\n    (4 Atom\n      (A C ACL \"8 O\")\n    )\n  )\n"
               "  (5 Subunit\n    (A C Label \"ALA two\")\n    (A I Id 12)\n    (6 Atom\n      (A C ACL \"7 N\")\n    )\n  )\n"
               "  (7 Subunit\n    (A I SubId 13)\n    (8 Model\n      (9 Atom\n      )\n    )\n  )\n"),
         l);
    ASSERT_EQ(l.hr, S_OK) << Cfx::GetLastError().description;
    EXPECT_EQ(l.root.GetName(), "box");
    EXPECT_EQ(l.root.GetID(), 7);
    ASSERT_EQ(l.root.NumChildren(), 4u);
    EXPECT_EQ(l.root.GetChild(0).As<xxAtom3d>()->GetElementSymbol(), "C");  // "Atomic" is an atom
    EXPECT_EQ(l.root.GetChild(1).As<xxAtom3d>()->GetElementSymbol(), "O");  // under the unknown record's parent
    auto* sub = l.root.GetChild(2).As<xxMultiScaleSubUnit>();
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->GetName(), "ALA");
    EXPECT_EQ(sub->GetID(), 12);
    ASSERT_EQ(sub->NumChildren(), 1u);
    EXPECT_EQ(sub->GetChild(0).As<xxAtom3d>()->GetElementSymbol(), "N");
    auto* other = l.root.GetChild(3).As<xxMultiScaleSubUnit>();
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->GetID(), 13);
    ASSERT_EQ(other->NumChildren(), 1u);  // a Model below the top is an unknown kind
    EXPECT_NE(other->GetChild(0).As<xxAtom3d>(), nullptr);
}

TEST(QorReader, TextsAndEscapes) {
    struct Case {
        const char* label;  // as written in the file
        const char* name;
    } cases[] = {
        {"\"two words\"", "two"},
        {"\"a\\\"b\"", "a\"b"},
        {"\"a\\\\\"", "a\\"},
        {"\"ring(6)\"", "ring"},  // parentheses in an atom's text are lost with what follows
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(Model(std::string("  (2 Atom\n    (A C ACL \"6 C\")\n    (A C Label ") + c.label + ")\n  )\n"), l);
        ASSERT_EQ(l.hr, S_OK) << c.label;
        EXPECT_EQ(Atoms(l.root)[0]->GetName(), c.name) << c.label;
    }
    Loaded l;
    Load(Model("  (A C Label \"a\\\"b c\")\n"), l);
    EXPECT_EQ(l.root.GetName(), "a\"b");
}

TEST(QorReader, AclCodes) {
    struct Case {
        const char* acl;
        unsigned type;       // the class of the object made
        const char* symbol;  // element or dummy symbol
        int isotope;
        const char* warning;
    } cases[] = {
        {"0 H", xxAtom3d::classType, "H", 0, ""},
        {"1 H", xxAtom3d::classType, "H", 2, ""},
        {"8 O", xxAtom3d::classType, "O", 0, ""},
        {"200 Fe", xxAtom3d::classType, "Fe", 0, ""},  // any code not listed: the symbol
        {"106 T", xxAtom3d::classType, "Si", 0, ""},  // mixed sites: the major component
        {"107 TT", xxAtom3d::classType, "Al", 0, ""},
        {"108 Cu", xxAtom3d::classType, "Cu", 0, ""},
        {"110 J1", xxDummy::classType, "J1", 0, "\nLinkage atom was treated as simple Dummy atom\n"},
        {"113 X", xxDummy::classType, "X", 0, ""},
        {"114 Tv", xxDummy::classType, "Tv", 0, "\nMOPAC translation vector was treated as simple Dummy atom\n"},
        {"115 XX", xxDummy::classType, "XX", 0, ""},
        {"116 **", xxDummy::classType, "**", 0, "\nWildcard FF type was treated as simple Dummy atom\n"},
        {"117 LP", xxDummy::classType, "LP", 0, "\nLone Pair was treated as simple Dummy atom\n"},
        {"118 VH", xxDummy::classType, "VH", 0, "\nVirtual Hydrogen was treated as simple Dummy atom\n"},
        {"119 Cp", xxPiSystem::classType, "", 0, ""},
        {"120 Qe", xxDummy::classType, "Qe", 0, ""},
        {"124 +", xxDummy::classType, "+", 0, "\nMOPAC sparkle was treated as simple Dummy atom\n"},
        {"127 Mx", xxDummy::classType, "Mx", 0, ""},
        {"128 Du", xxDummy::classType, "Du", 0, ""},
        {"131 XC", xxDummy::classType, "XC", 0, ""},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(Model(std::string("  (2 Atom\n    (A C ACL \"") + c.acl +
                   "\")\n    (A C Label \"n1\")\n    (A D XYZ (1 2 3))\n    (A F Charge 0.5)\n    (A C FFType \"t1\")\n  )\n"),
             l);
        ASSERT_EQ(l.hr, S_OK) << c.acl << ": " << Cfx::GetLastError().description;
        ASSERT_EQ(l.root.NumChildren(), 1u) << c.acl;
        auto* made = l.root.GetChild(0).As<xxBondable>();
        ASSERT_NE(made, nullptr);
        EXPECT_TRUE(made->IsA(c.type)) << c.acl;
        EXPECT_EQ(made->GetName(), "n1") << c.acl;
        EXPECT_EQ(made->GetXYZ(), (xxPoint3d{1, 2, 3})) << c.acl;
        EXPECT_EQ(made->GetCharge(), 0.5) << c.acl;
        EXPECT_EQ(made->GetForcefieldType(), "t1") << c.acl;
        EXPECT_EQ(made->GetID(), 2) << c.acl;
        if (auto* atom = made->As<xxAtom3d>()) {
            EXPECT_EQ(atom->GetElementSymbol(), c.symbol) << c.acl;
            EXPECT_EQ(atom->GetIsotope(), c.isotope) << c.acl;
        }
        if (auto* dummy = made->As<xxDummy>()) {
            EXPECT_EQ(dummy->GetDummySymbol(), c.symbol) << c.acl;
        }
        EXPECT_EQ(l.warnings, c.warning) << c.acl;
    }
    // A symbol that names no element fails the load with the data model's refusal and the line.
    Loaded l;
    EXPECT_THROW(
        {
            try {
                Load(Model("  (2 Atom\n    (A C ACL \"50 Qq\")\n  )\n"), l);
            } catch (const Cfx::CfxResult& e) {
                EXPECT_EQ(e.Hr(), E_INVALIDARG);
                EXPECT_NE(e.Description().find("(QOR line 4)"), std::string::npos) << e.Description();
                throw;
            }
        },
        Cfx::CfxResult);
}

TEST(QorReader, AtomAttributes) {
    Loaded refused;  // an occupancy above 1
    EXPECT_THROW(Load(Model("  (6 Atom\n    (A C ACL \"6 C\")\n    (A F Occupancy 1.5)\n  )\n"), refused), Cfx::CfxResult);

    Loaded m;
    Load(Model("  (2 Atom\n    (A C ACL \"6 C\")\n    (A I Id 0)\n    (A I FChg (-1 2))\n    (A I BackboneData 7)\n"
               "    (A F Occupancy 0.5)\n    (A I TempFactorType 1)\n    (A F IsoTempFactor 0.25)\n    (A I Moveable 0)\n  )\n"
               "  (3 Atom\n    (A F Mass 2.014)\n    (A C ACL \"0 H\")\n    (A I Id 30)\n    (A I Moveable 1)\n  )\n"
               "  (4 Atom\n    (A C ACL \"6 C\")\n    (A F Mass 20)\n    (A I Moveable 0)\n  )\n"
               "  (5 Atom\n    (A C ACL \"6 C\")\n    (A C SymType \"Bogus\")\n  )\n"
               "  (6 Atom\n    (A C ACL \"6 C\")\n    (A I FChg (1 x))\n    (A F Charge nope)\n  )\n"),
         m);
    ASSERT_EQ(m.hr, S_OK) << Cfx::GetLastError().description;
    auto atoms = Atoms(m.root);
    ASSERT_EQ(atoms.size(), 4u);  // the bogus image is dropped
    EXPECT_EQ(atoms[0]->GetID(), 2);  // Id 0 keeps the record number
    EXPECT_EQ(atoms[0]->GetFormalCharge(), (xxRational{-1, 2}));
    EXPECT_TRUE(atoms[0]->IsBackboneAtom());
    EXPECT_EQ(atoms[0]->GetOccupancy(), 0.5);
    EXPECT_EQ(atoms[0]->GetAppliedTF(), 1);
    EXPECT_EQ(atoms[0]->GetIsotropicTF(), 0.25);
    EXPECT_EQ(atoms[1]->GetIsotope(), 2);  // Mass before ACL selects the isotope all the same
    EXPECT_EQ(atoms[1]->GetID(), 30);
    EXPECT_EQ(atoms[2]->GetIsotope(), 0);  // C-20 is no isotope of the table
    EXPECT_EQ(atoms[3]->GetFormalCharge(), xxRational{});  // values that do not parse do nothing
    EXPECT_EQ(atoms[3]->GetCharge(), 0.0);
    auto fixed = m.root.ChildrenOf<xxCompleteRestriction>();
    ASSERT_EQ(fixed.size(), 1u);
    EXPECT_EQ(fixed[0]->GetRestrictables(),
              (std::vector<xxRestrictable*>{&atoms[0]->GetXYZRestrictable(), &atoms[2]->GetXYZRestrictable()}));
}

TEST(QorReader, ChargeGroups) {
    struct Case {
        const char* what;
        std::string body;
        std::size_t groups;
        std::vector<int> members;  // IDs of the first group's members
        int centre;                // its centre's ID, 0 for none
    } cases[] = {
        {"two atoms, the centre a member",
         "  (2 Atom\n    (A I Switch 3)\n  )\n  (3 Atom\n    (A I Switch 3)\n  )\n  (4 Atom\n  )\n", 1, {2, 3}, 3},
        {"the centre outside the group", "  (2 Atom\n    (A I Switch 4)\n  )\n  (3 Atom\n    (A I Switch 4)\n  )\n  (4 Atom\n  )\n",
         1, {2, 3}, 4},
        {"a switch naming no record", "  (2 Atom\n    (A I Switch 9)\n  )\n", 1, {2}, 0},
        {"a huge switch at once", "  (2 Atom\n    (A I Switch 2000000000)\n  )\n  (3 Atom\n    (A I Switch 2147483647)\n  )\n", 2,
         {2}, 0},
        {"groups in increasing order", "  (2 Atom\n    (A I Switch 7)\n  )\n  (3 Atom\n    (A I Switch 3)\n  )\n", 2, {3}, 3},
        {"a dummy is a member and the centre",
         "  (2 Atom\n    (A C ACL \"113 X\")\n    (A I Switch 2)\n  )\n  (3 Atom\n    (A I Switch 2)\n  )\n", 1, {2, 3}, 2},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(Model(c.body), l);
        ASSERT_EQ(l.hr, S_OK) << c.what;
        auto groups = l.root.DescendentsOf<xxChargeGroup>();
        ASSERT_EQ(groups.size(), c.groups) << c.what;
        std::vector<int> ids;
        for (xxBondable* a : groups[0]->GetMembers()) ids.push_back(a->GetID());
        EXPECT_EQ(ids, c.members) << c.what;
        xxBondable* centre = groups[0]->GetSwitchingCenter();
        EXPECT_EQ(centre ? centre->GetID() : 0, c.centre) << c.what;
    }
}

TEST(QorReader, Bonds) {
    const std::string atoms =
        "  (2 Atom\n    (A C ACL \"6 C\")\n  )\n  (3 Atom\n    (A C ACL \"6 C\")\n  )\n"
        "  (4 Atom\n    (A C ACL \"119 Cp\")\n  )\n";
    struct Case {
        const char* what;
        std::string bond;
        std::size_t bonds;
        xxBondType type;
        std::size_t piBonds;
    } cases[] = {
        {"single", "(A O Atom1 2)\n(A O Atom2 3)\n", 1, xxBondType::Single, 0},
        {"double", "(A O Atom1 2)\n(A O Atom2 3)\n(A I Type 2)\n", 1, xxBondType::Double, 0},
        {"triple", "(A O Atom1 2)\n(A O Atom2 3)\n(A I Type 4)\n", 1, xxBondType::Triple, 0},
        {"aromatic", "(A O Atom1 2)\n(A O Atom2 3)\n(A I Type 8)\n", 1, xxBondType::Aromatic, 0},
        {"other kinds are single", "(A O Atom1 2)\n(A O Atom2 3)\n(A I Type 3)\n", 1, xxBondType::Single, 0},
        {"an unknown end", "(A O Atom1 2)\n(A O Atom2 99)\n", 0, xxBondType::Single, 0},
        {"both ends one atom", "(A O Atom1 2)\n(A O Atom2 2)\n", 0, xxBondType::Single, 0},
        {"a periodic image without children", "(A O Atom1 2)\n(A O Atom2 3)\n(A C SymType \"Periodic\")\n", 0,
         xxBondType::Single, 0},
        {"a pi centre and a carbon", "(A O Atom1 4)\n(A O Atom2 3)\n(A I Type 2)\n", 0, xxBondType::Single, 1},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(Model(atoms + "  (5 Bond\n" + c.bond + "  )\n"), l);
        ASSERT_EQ(l.hr, S_OK) << c.what;
        auto bonds = l.root.DescendentsOf<xxBond>();
        ASSERT_EQ(bonds.size(), c.bonds) << c.what;
        if (!bonds.empty()) {
            EXPECT_EQ(bonds[0]->GetBondType(), c.type) << c.what;
        }
        EXPECT_EQ(l.root.DescendentsOf<xxPiSystemBond>().size(), c.piBonds) << c.what;
    }
    Loaded same;
    Load(Model(atoms + "  (5 Bond\n(A O Atom1 2)\n(A O Atom2 2)\n  )\n"), same);
    EXPECT_EQ(same.warnings, "\nA bond that joins an atom to itself was not made\n");

    // The scratch record is reset for every bond; the label and identifier are kept.
    Loaded l;
    Load(Model(atoms + "  (5 Bond\n(A O Atom1 2)\n(A O Atom2 3)\n(A C Label \"b1 x\")\n(A I Id 40)\n  )\n"
                       "  (6 Bond\n(A O Atom1 3)\n  )\n"),
         l);
    ASSERT_EQ(l.hr, S_OK);
    auto bonds = l.root.DescendentsOf<xxBond>();
    ASSERT_EQ(bonds.size(), 1u);
    EXPECT_EQ(bonds[0]->GetName(), "b1");
    EXPECT_EQ(bonds[0]->GetID(), 40);
}

TEST(QorReader, RecordNumbersThatDoNotFitAreAbsent) {
    Loaded l;
    Load(Model("  (99999999999 Atom\n    (A C ACL \"6 C\")\n  )\n  (2 Atom\n  )\n  (2 Atom\n  )\n"
               "  (5 Bond\n    (A O Atom1 2)\n    (A O Atom2 99999999999)\n  )\n"),
         l);
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(Atoms(l.root).size(), 3u);
    EXPECT_TRUE(l.root.DescendentsOf<xxBond>().empty());
}

// Record numbers far apart file their atoms as well as close ones, and the first
// atom filed under a number keeps it.
TEST(QorReader, BondsFindAtomsByAnyRecordNumber) {
    struct Case {
        const char* what;
        std::string first, second;  // the atoms' record numbers
        std::string end1, end2;     // the bond's ends
        const char* joined;         // the names of the atoms bonded; "" for no bond
    } cases[] = {
        {"close", "2", "3", "2", "3", "a b"},
        {"the largest number", "2147483647", "2", "2", "2147483647", "b a"},
        {"zero", "5", "0", "0", "5", "b a"},
        {"far beyond the records read", "1000000", "3", "1000000", "3", "a b"},
        {"one number twice", "4", "4", "4", "4", ""},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(Model("  (" + c.first + " Atom\n    (A C Label \"a\")\n  )\n  (" + c.second +
                   " Atom\n    (A C Label \"b\")\n  )\n  (8 Bond\n    (A O Atom1 " + c.end1 + ")\n    (A O Atom2 " +
                   c.end2 + ")\n  )\n"),
             l);
        ASSERT_EQ(l.hr, S_OK) << c.what;
        const auto bonds = l.root.DescendentsOf<xxBond>();
        std::string joined;
        if (!bonds.empty()) {
            const auto ends = bonds[0]->GetAtoms();
            joined = ends[0]->GetName() + " " + ends[1]->GetName();
        }
        EXPECT_EQ(joined, c.joined) << c.what;
    }
}

}  // namespace

// The CAR/MDF writer: layout of every line, the messages it reports, the MDF's place on disk
// and the failures of its streams.
#include "formats/carmdf/car_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "frame/messages.h"
#include "support/recording_stream.h"
#include "writer_support.h"

namespace {

namespace msg = cartovane::msg;
using cvtest::TempDir;
using cvtest::carmdf::HasLine;
using cvtest::carmdf::Lines;
using cvtest::carmdf::Model;
using cvtest::carmdf::WriteModel;
using cvtest::carmdf::Written;

// One water molecule.
struct Water {
    Model m;
    xxMultiScaleMolecule& mol = m.Molecule("WAT");
    xxMultiScaleSubUnit& sub = Model::SubUnit(mol, "WAT_1");
    xxAtom3d& o = Model::Atom(sub, "O1", "O", {1.0, -2.5, 10.25}, -0.82, "o*");
    xxAtom3d& h1 = Model::Atom(sub, "H1", "H", {1.5, -2.0, 10.25}, 0.41, "h*");
    xxAtom3d& h2 = Model::Atom(sub, "H2", "H", {0.5, -2.0, 10.25}, 0.41, "h*");
    Water() {
        xxBondable::MakeBond(o, h1);
        xxBondable::MakeBond(o, h2);
    }
};

TEST(CarWriter, NonPeriodicFilesLineByLine) {
    TempDir dir;
    Water w;
    Written out = WriteModel(*w.m.root, dir);
    ASSERT_TRUE(out.ok);
    EXPECT_TRUE(out.allSets);
    EXPECT_EQ(out.car,
              "!KORVEN archive 3\n"
              "PBC=OFF\n"
              "Orbanite Generated CAR File\n"
              "!DATE Thu Dec 10 08:28:00 2026\n"
              "O1       1.000000000   -2.500000000   10.250000000 WAT  1      o*      O  -0.820\n"
              "H1       1.500000000   -2.000000000   10.250000000 WAT  1      h*      H   0.410\n"
              "H2       0.500000000   -2.000000000   10.250000000 WAT  1      h*      H   0.410\n"
              "end\n"
              "end\n");
    for (const std::string& line : Lines(out.car))
        if (line.starts_with("O1") || line.starts_with("H")) {
            EXPECT_EQ(line.size(), 80u);
        }
    EXPECT_EQ(out.mdf,
              "!KORVEN molecular_data 4\n"
              " \n"
              "!Date: Thu Dec 10 08:28:00 2026   Orbanite Generated MDF file\n"
              " \n"
              "#topology\n"
              "\n"
              "@column 1 element\n"
              "@column 2 atom_type\n"
              "@column 3 charge_group\n"
              "@column 4 isotope\n"
              "@column 5 formal_charge\n"
              "@column 6 charge\n"
              "@column 7 switching_atom\n"
              "@column 8 oop_flag\n"
              "@column 9 chirality_flag\n"
              "@column 10 occupancy\n"
              "@column 11 xray_temp_factor\n"
              "@column 12 connections\n"
              " \n"
              "@molecule WAT\n"
              " \n"
              "WAT_1:O1            O  o*      ?     0  0    -0.8200 0 0 8 1.0000  0.0000 H1 H2 \n"
              "WAT_1:H1            H  h*      ?     0  0     0.4100 0 0 8 1.0000  0.0000 O1 \n"
              "WAT_1:H2            H  h*      ?     0  0     0.4100 0 0 8 1.0000  0.0000 O1 \n"
              " \n"
              "#end\n");
}

TEST(CarWriter, RecordFieldsOfAtomsAndOtherObjects) {
    TempDir dir;
    Model m;
    auto& mol = m.Molecule("M");
    auto& sub = Model::SubUnit(mol, "RES_12");
    auto& c = Model::Atom(sub, "C1", "C", {10000.5, -12345.25, 0.0000000004}, 0.1234, "c3");
    c.SetIsotope(13);
    c.SetFormalCharge(1, 3);
    c.SetOccupancy(0.5);
    c.SetIsotropicTF(0.05, xxAtom3d::kTFFormatU);
    c.SetAppliedTF(xxAtom3d::kIsotropicTF);
    c.SetIsOutOfPlane(true);
    auto& n = Model::Atom(sub, "N1", "N", {}, -1.5, "  ");  // a blank type
    Model::Atom(sub, "O1", "O", {}, 0, "o long type");     // white space goes, then cut to 7
    n.SetFormalCharge(-2);
    auto& dummy = sub.CreateChild<xxDummy>();
    dummy.SetName("X1");
    dummy.SetForcefieldType("lp");
    dummy.SetCharge(-0.25);
    auto& g = mol.CreateChild<xxChargeGroup>();
    g.SetName("G7");
    std::vector<xxAtom*> members{&c, &n};
    g.SetAtoms(members);
    g.SetSwitchingCenter(&n);

    Written out = WriteModel(*m.root, dir);
    ASSERT_TRUE(out.ok);
    const auto car = Lines(out.car);
    ASSERT_GE(car.size(), 8u);
    // A coordinate of 10000 or more is cut to its 14 columns.
    EXPECT_EQ(car[4], "C1    10000.50000000 -12345.2500000    0.000000000 RES  12     c3      C   0.123");
    EXPECT_EQ(car[5], "N1       0.000000000    0.000000000    0.000000000 RES  12     xx      N  -1.500");
    EXPECT_EQ(car[6], "O1       0.000000000    0.000000000    0.000000000 RES  12     olongty O   0.000");
    EXPECT_EQ(car[7], "X1       0.000000000    0.000000000    0.000000000 RES  12     lp      Du -0.250");
    EXPECT_TRUE(HasLine(out.mdf, "RES_12:C1           C  c3      G7    13  1/3+  0.1234 0 1 8 0.5000  0.0500 "));
    EXPECT_TRUE(HasLine(out.mdf, "RES_12:N1           N  x       G7    0  2-   -1.5000 1 0 8 1.0000  0.0000 "));
    EXPECT_TRUE(HasLine(out.mdf, "RES_12:O1           O  olongty ?     0  0     0.0000 0 0 8 1.0000  0.0000 "));
    EXPECT_TRUE(HasLine(out.mdf, "RES_12:X1           Du ?       ?     0  0    -0.2500 0 0 8 1.0000  0.0000 "));
}

TEST(CarWriter, ConnectionTokens) {
    struct Case {
        double order;
        const char* token;
    };
    const Case cases[] = {{1.0, "B1"}, {0.995, "B1"}, {1.005, "B1"}, {0.99, "B1/1.0"}, {1.01, "B1/1.0"},
                          {1.5, "B1/1.5"}, {2.0, "B1/2.0"}, {3.0, "B1/3.0"}};
    for (const auto& c : cases) {
        TempDir dir;
        Model m;
        auto& sub = Model::SubUnit(m.Molecule("M"), "R_1");
        auto& a = Model::Atom(sub, "A1", "C", {});
        auto& b = Model::Atom(sub, "B1", "C", {1.5, 0, 0});
        xxBondable::MakeBond(a, b).SetOrder(c.order);
        Written out = WriteModel(*m.root, dir);
        ASSERT_TRUE(out.ok);
        EXPECT_TRUE(HasLine(out.mdf, std::string("R_1:A1              C  x       ?     0  0     0.0000 0 0 8 1.0000  0.0000 ") +
                                         c.token + " "))
            << c.order << "\n" << out.mdf;
    }
}

TEST(CarWriter, PartnersInOtherSubunitsAndPseudoAtoms) {
    TempDir dir;
    Model m;
    auto& mol = m.Molecule("M");
    auto& ring = Model::SubUnit(mol, "RNG_1");
    auto& c1 = Model::Atom(ring, "C1", "C", {0, 0, 0});
    auto& c2 = Model::Atom(ring, "C2", "C", {1.4, 0, 0});
    xxBondable::MakeBond(c1, c2);
    auto& metal = Model::Atom(Model::SubUnit(mol, "FE_2"), "Fe", "Fe", {0.7, 0, 2});
    auto& pi = ring.CreateChild<xxPiSystem>();
    pi.SetName("Ring");
    pi.MakePiSystemBond(c1);
    pi.MakePiSystemBond(c2);
    pi.SetHasDynamicPosition(true);
    xxBondable::MakeBond(metal, pi).SetOrder(2.0);

    Written out = WriteModel(*m.root, dir);
    ASSERT_TRUE(out.ok);
    // The pseudo-atom is no record: the metal is bonded to its members, each member to the metal.
    EXPECT_TRUE(HasLine(out.mdf, "RNG_1:C1            C  x       ?     0  0     0.0000 0 0 8 1.0000  0.0000 C2 FE_2:Fe "));
    EXPECT_TRUE(HasLine(out.mdf, "RNG_1:C2            C  x       ?     0  0     0.0000 0 0 8 1.0000  0.0000 C1 FE_2:Fe "));
    EXPECT_TRUE(HasLine(out.mdf, "FE_2:Fe             Fe x       ?     0  0     0.0000 0 0 8 1.0000  0.0000 RNG_1:C1 RNG_1:C2 "));
    EXPECT_EQ(Lines(out.car).size(), 4u + 3u + 2u);
    EXPECT_TRUE(HasLine(out.mdf, "@list pseudoatom M:RNG_1:Ring A"));
}

// A centre bonded to its ligands directly and through a pseudo-atom over some of them: each
// partner once, in the order first met, however many there are.
TEST(CarWriter, ManyPartnersAreListedOnceInTheirOrder) {
    for (int ligands : {3, 7, 8, 9, 40}) {
        SCOPED_TRACE(ligands);
        TempDir dir;
        Model m;
        auto& sub = Model::SubUnit(m.Molecule("M"), "R_1");
        auto& centre = Model::Atom(sub, "Fe", "Fe", {});
        std::vector<xxAtom3d*> ligand;
        std::string expected = "R_1:Fe              Fe x       ?     0  0     0.0000 0 0 8 1.0000  0.0000";
        for (int k = 1; k <= ligands; ++k) {
            ligand.push_back(&Model::Atom(sub, "H" + std::to_string(k), "H", {1.0 * k, 0, 0}));
            xxBondable::MakeBond(centre, *ligand.back());
            expected += " H" + std::to_string(k);
        }
        auto& extra = Model::Atom(sub, "C1", "C", {0, 2, 0});
        auto& pi = sub.CreateChild<xxPiSystem>();
        pi.SetName("Pi");
        for (xxBondable* member : {static_cast<xxBondable*>(ligand[1]), static_cast<xxBondable*>(&extra),
                                   static_cast<xxBondable*>(ligand[0])})
            pi.MakePiSystemBond(*member);
        pi.SetHasDynamicPosition(true);
        xxBondable::MakeBond(centre, pi).SetOrder(2.0);
        expected += " C1 ";

        Written out = WriteModel(*m.root, dir);
        ASSERT_TRUE(out.ok);
        EXPECT_TRUE(HasLine(out.mdf, expected)) << out.mdf;
    }
}

TEST(CarWriter, BondsIntoAnotherMoleculeAreLeftOutAndReported) {
    TempDir dir;
    Model m;
    auto& a = Model::Atom(Model::SubUnit(m.Molecule("M1"), "R_1"), "A", "C", {});
    auto& b = Model::Atom(Model::SubUnit(m.Molecule("M2"), "R_1"), "A", "C", {1.5, 0, 0});
    xxBondable::MakeBond(a, b);
    Written out = WriteModel(*m.root, dir);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.messageId, msg::CARSAVE_MDF_ATOM);
    EXPECT_TRUE(HasLine(out.mdf, "R_1:A               C  x       ?     0  0     0.0000 0 0 8 1.0000  0.0000 "));
}

TEST(CarWriter, MdfPathBesideTheCarFile) {
    struct Case {
        const char* car;
        const char* mdf;
        bool extension;
    };
    const Case cases[] = {
        {"model.car", "model.mdf", true},
        {"a.c", "a.mdf", true},
        {"/data/run.1/model.CAR", "/data/run.1/model.mdf", true},
        {"/data/v1.2/model", "/data/v1.2/model.mdf", false},  // never into another directory
        {"C:\\x.y\\model", "C:\\x.y\\model.mdf", false},
        {"model", "model.mdf", false},
        {".car", ".car.mdf", false},
    };
    for (const auto& c : cases) {
        std::string mdf;
        EXPECT_EQ(xxSaveCAR::DeriveMdfPath(c.car, mdf), c.extension) << c.car;
        EXPECT_EQ(mdf, c.mdf);
    }
}

TEST(CarWriter, NameWithoutExtensionGetsMdfAppendedAndFails) {
    TempDir dir;
    Water w;
    Written out = WriteModel(*w.m.root, dir, "model");
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.messageId, msg::CARSAVE_MDF_FILE);
    EXPECT_FALSE(out.car.empty());
    EXPECT_TRUE(std::filesystem::exists(dir.File("model.mdf")));
}

TEST(CarWriter, WithoutAPathNothingIsWritten) {
    TempDir dir;
    Water w;
    Written out = WriteModel(*w.m.root, dir, "");
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.messageId, msg::CARSAVE_MDF_FILE);
    EXPECT_TRUE(out.car.empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(CarWriter, RefusedModelsWriteNothing) {
    struct Case {
        const char* what;
        std::function<void(Model&)> make;
        std::int32_t message;
    };
    const Case cases[] = {
        {"two symmetry systems",
         [](Model& m) {
             m.root->CreateChild<xxMultiScaleSymmetrySystem>();
             m.root->CreateChild<xxMultiScaleSymmetrySystem>();
         },
         msg::CARSAVE_WRONG_CELL_INFO},
        {"a system without periodicity",
         [](Model& m) {
             auto& system = m.root->CreateChild<xxMultiScaleSymmetrySystem>();
             Model::Atom(Model::SubUnit(system.CreateChild<xxMultiScaleMolecule>(), "R_1"), "A", "C", {});
         },
         msg::CARSAVE_WRONG_CELL_DIM},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Model m;
        c.make(m);
        Written out = WriteModel(*m.root, dir);
        EXPECT_FALSE(out.ok) << c.what;
        EXPECT_EQ(out.messageId, c.message) << c.what;
        EXPECT_TRUE(out.car.empty()) << c.what;
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << c.what;
    }
}

TEST(CarWriter, IncompleteChargeGroupsAreWarnedAboutOnce) {
    TempDir dir;
    Water w;
    auto& g = w.mol.CreateChild<xxChargeGroup>();
    std::vector<xxAtom*> members{&w.o, &w.h1};
    g.SetAtoms(members);  // no switching centre
    Written out = WriteModel(*w.m.root, dir);
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(out.warnings.size(), 1u);
    EXPECT_EQ(out.warnings[0],
              "Charge Group information in the data model is incomplete or ambiguous, and incompatible with the mdf "
              "structure.");
}

TEST(CarWriter, LineEnds) {
    TempDir dir;
    Water w;
    Written unix = WriteModel(*w.m.root, dir, "unix.car", true);
    Written dos = WriteModel(*w.m.root, dir, "dos.car", false);
    EXPECT_EQ(unix.mdf.find('\r'), std::string::npos);
    // The MDF carries its own CR LF; the CAR stream is the host's to translate.
    std::string expected;
    for (char c : unix.mdf) {
        if (c == '\n') expected.push_back('\r');
        expected.push_back(c);
    }
    EXPECT_EQ(dos.mdf, expected);
    EXPECT_EQ(dos.car, unix.car);
}

TEST(CarWriter, FailedWritesFailTheExport) {
    {
        // The CAR stream refuses every write.
        TempDir dir;
        Water w;
        cvtest::RecordingStream stream;
        stream.FailFrom(cvtest::RecordingStream::Op::Write, 1);
        cartovane::CSBStreamBuf buffer(&stream);
        std::ostream car(&buffer);
        xxSaveCAR writer;
        xxBool allSets = true;
        Cfx::ClearLastError();
        EXPECT_FALSE(writer.WriteCarAndMdf(car, *w.m.root, dir.File("model.car"), nullptr, allSets, true));
        EXPECT_EQ(Cfx::GetLastError().messageId, msg::CARSAVE);
        EXPECT_FALSE(std::filesystem::exists(dir.File("model.mdf")));
    }
    {
        // The MDF cannot be created.
        TempDir dir;
        Water w;
        Written out = WriteModel(*w.m.root, dir, "missing/model.car");
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.messageId, msg::CARSAVE_MDF_FILE);
    }
    {
        // The disk fills up while the MDF is written.
        TempDir dir;
        Water w;
        std::filesystem::create_symlink("/dev/full", dir.File("model.mdf"));
        std::ofstream probe(dir.File("model.mdf"));
        if (!probe) GTEST_SKIP() << "no /dev/full";
        probe.close();
        std::ostringstream car;
        xxSaveCAR writer;
        xxBool allSets = true;
        Cfx::ClearLastError();
        EXPECT_FALSE(writer.WriteCarAndMdf(car, *w.m.root, dir.File("model.car"), nullptr, allSets, true));
        EXPECT_EQ(Cfx::GetLastError().messageId, msg::CARSAVE_MDF_FILE);
    }
}

}  // namespace

namespace {

// Two atoms in a cell of the group, built.
struct Crystal {
    Model m;
    xxMultiScaleSubUnit* sub = nullptr;
    xxAtom3d* a = nullptr;
    xxAtom3d* b = nullptr;
    explicit Crystal(std::string_view group, double gamma = 90) {
        m.SpaceGroup(group, 10, 11, 12, 90, 90, gamma);
        sub = &Model::SubUnit(m.Molecule("X"), "RES_1");
        a = &Model::Atom(*sub, "A", "C", {1, 1, 1});
        b = &Model::Atom(*sub, "B", "C", {9.5, 1.2, 1.3});
        m.Build();
    }
    xxObject& Image(xxBondable& of, int op, xxPeriodicTranslation t) {
        const xxSymmetryElement* e = m.system->GetSymmetryDefinition().FindSymmetryElement(op, t);
        return *m.system->FindSymmetryImage(of, e);
    }
};

// One writer for several exports: each writes what a fresh writer would.
TEST(CarWriter, AWriterUsedAgainWritesAsAFreshOne) {
    Crystal crystal("P-1");
    auto& set = crystal.m.system->CreateChild<xxSet>();
    set.SetName("Pair");
    set.Add(*crystal.a);
    set.Add(*crystal.b);
    crystal.b->SetIsBackboneAtom(true);
    Water water;
    xxObject* models[] = {crystal.m.root.get(), water.m.root.get()};
    for (int first = 0; first < 2; ++first) {
        SCOPED_TRACE(first);
        TempDir dir;
        xxSaveCAR writer;
        writer.SetClock(cvtest::carmdf::FixedTime);
        WriteModel(*models[first], dir, "first.car", true, &writer);
        const Written again = WriteModel(*models[1 - first], dir, "second.car", true, &writer);
        const Written fresh = WriteModel(*models[1 - first], dir, "fresh.car");
        ASSERT_TRUE(again.ok);
        EXPECT_EQ(again.car, fresh.car);
        EXPECT_EQ(again.mdf, fresh.mdf);
    }
}

// The date lines come from the writer's own clock; another writer keeps the system's time.
TEST(CarWriter, EachWriterHasItsOwnClock) {
    TempDir dir;
    Water w;
    xxSaveCAR fixed, system;
    fixed.SetClock(cvtest::carmdf::FixedTime);
    const Written a = WriteModel(*w.m.root, dir, "a.car", true, &fixed);
    const Written b = WriteModel(*w.m.root, dir, "b.car", true, &system);
    EXPECT_TRUE(HasLine(a.car, "!DATE " + std::string(cvtest::carmdf::kDateText)));
    const std::string year = std::to_string(1900 + xxSaveCAR::LocalTime().tm_year);
    ASSERT_GE(Lines(b.car).size(), 4u);
    EXPECT_NE(Lines(b.car)[3].find(year), std::string::npos) << Lines(b.car)[3];
    EXPECT_EQ(b.car.find(cvtest::carmdf::kDateText), std::string::npos);
}

std::string Record(const Written& w, std::string_view name) {
    for (const std::string& line : Lines(w.mdf))
        if (line.starts_with(name)) return line;
    return {};
}

std::string SymmetrySection(const Written& w) {
    std::size_t start = w.mdf.find("!\n#symmetry");
    if (start == std::string::npos) return {};
    std::size_t end = w.mdf.find('#', start + 3);
    return w.mdf.substr(start, end - start);
}

TEST(CarWriterPeriodic, CellLineAndSymmetrySectionByGroup) {
    struct Case {
        const char* group;
        const char* cellName;
        const char* groupLine;
        double angle = 90, gamma = 90;
    };
    const Case cases[] = {
        {"P1", "unknown", "@group matrix 1"},  // no qualifier: the operators are listed
        {"Pnma", "unknown", "@group matrix 8"},
        {"P21/c", "P21/c", "@group (P21/c) [B_UNIQUE]"},
        {"R-3:H", "R-3", "@group (R-3) [HEXAGONAL]", 90, 120},
        {"R-3:R", "R-3", "@group (R-3) [RHOMBOHEDRAL]", 80, 80},
        {"Fd-3m", "Fd-3m", "@group (Fd-3m)"},  // Origin-1 is the default setting: no bracket
    };
    for (const auto& c : cases) {
        TempDir dir;
        Model m;
        m.SpaceGroup(c.group, 10, 10, 10, c.angle, c.angle, c.gamma);
        m.Build();
        Written out = WriteModel(*m.root, dir);
        ASSERT_TRUE(out.ok) << c.group;
        const auto car = Lines(out.car);
        ASSERT_GE(car.size(), 5u);
        EXPECT_EQ(car[1], "PBC=ON");
        const auto& d = m.system->GetSymmetryDefinition();
        EXPECT_EQ(car[4], cartovane::carmdf::CellLine3d(d.GetA(), d.GetB(), d.GetC(), d.GetAlpha() * 45 / std::atan(1.0),
                                                        d.GetBeta() * 45 / std::atan(1.0),
                                                        d.GetGamma() * 45 / std::atan(1.0), c.cellName))
            << c.group;
        EXPECT_TRUE(HasLine(out.mdf, "@periodicity 3 xyz")) << c.group;
        EXPECT_TRUE(HasLine(out.mdf, c.groupLine)) << c.group << "\n" << out.mdf;
    }
}

TEST(CarWriterPeriodic, OperatorListing) {
    TempDir dir;
    Model m;
    m.SpaceGroup("P-1", 10, 10, 10, 90, 90, 90);
    m.Build();
    Written out = WriteModel(*m.root, dir);
    EXPECT_EQ(SymmetrySection(out),
              "!\n"
              "#symmetry\n"
              "@periodicity 3 xyz\n"
              "@group matrix 2\n"
              "@matrix 1 x,y,z\n"
              " 1.000  0.000  0.000  0.000 \n"
              " 0.000  1.000  0.000  0.000 \n"
              " 0.000  0.000  1.000  0.000 \n"
              " 0.000  0.000  0.000  1.000\n"
              "@matrix 2 -x,-y,-z\n"
              "-1.000  0.000  0.000  0.000 \n"
              " 0.000 -1.000  0.000  0.000 \n"
              " 0.000  0.000 -1.000  0.000 \n"
              " 0.000  0.000  0.000  1.000\n"
              "\n");
}

TEST(CarWriterPeriodic, PlaneGroups) {
    TempDir dir;
    Model m;
    m.PlaneGroup("p2mg", 4.2, 5, 90);
    Model::Atom(Model::SubUnit(m.Molecule("S"), "S_1"), "A", "C", {1, 1, 0});
    m.Build();
    Written out = WriteModel(*m.root, dir);
    ASSERT_TRUE(out.ok);
    const auto car = Lines(out.car);
    EXPECT_EQ(car[1], "PBC=2D");
    EXPECT_EQ(car[4], "PBC     4.2000    5.0000   90.0000(p2mg)");
    EXPECT_TRUE(HasLine(out.mdf, "@periodicity 2 xy"));
    EXPECT_TRUE(HasLine(out.mdf, "@group (p2mg)"));
}

TEST(CarWriterPeriodic, ConnectionsToImages) {
    struct Case {
        const char* what;
        int op;
        xxPeriodicTranslation t;
        const char* token;  // null: not written
    };
    const Case cases[] = {
        {"the next cell along a", 1, {{1, 0, 0}}, " B%100#1 "},
        {"the cell before along a and after along b", 1, {{-1, 1, 0}}, " B%-110#1 "},
        {"another operator in the same cell", 3, {{0, 0, 0}}, " B#3 "},
        {"another operator and cell", 2, {{0, 0, 1}}, " B%001#2 "},
        {"nine cells away", 1, {{0, 0, -9}}, " B%00-9#1 "},
        {"ten cells away", 1, {{10, 0, 0}}, nullptr},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Crystal x("P21/c");
        xxObject& image = x.Image(*x.b, c.op, c.t);
        xxBondable::MakeBond(*x.a, *image.As<xxBondable>()).SetOrder(1.0);
        Written out = WriteModel(*x.m.root, dir);
        EXPECT_TRUE(out.ok) << c.what;
        std::string record = Record(out, "RES_1:A ");
        if (c.token) {
            EXPECT_TRUE(record.ends_with(std::string("0.0000") + c.token)) << c.what << ": " << record;
            EXPECT_EQ(out.messageId, 0) << c.what;
        } else {
            EXPECT_TRUE(record.ends_with("0.0000 ")) << c.what << ": " << record;
            EXPECT_EQ(out.messageId, msg::CARSAVE_MDF_ATOM) << c.what;
        }
        // The image is no record of its own.
        EXPECT_EQ(Lines(out.car).size(), 5u + 2u + 2u) << c.what;
    }
}

TEST(CarWriterPeriodic, CoordinatesInTheCarOrientation) {
    TempDir dir;
    Model m;
    m.SpaceGroup("P1", 10, 11, 12, 90, 90, 90);
    m.pending3d->SetOrientationConvention(xxLatticeOrientation::kYZX);
    m.pending3d->ResetOrientation();
    // Half way along a, which this convention lays along y.
    const xxPoint3d half = 0.5 * m.pending3d->GetAVector();
    ASSERT_NEAR(half.y, 5, 1e-9);
    Model::Atom(Model::SubUnit(m.Molecule("M"), "R_1"), "A", "C", half);
    m.Build();
    Written out = WriteModel(*m.root, dir);
    ASSERT_TRUE(out.ok);
    EXPECT_TRUE(Lines(out.car)[5].starts_with("A        5.000000000    0.000000000    0.000000000 R    1 "))
        << Lines(out.car)[5];
}

}  // namespace

// Files written by the writer read back by the reader: the same model, and written again the
// same bytes.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <istream>
#include <map>
#include <ostream>

#include "datamodel/symmetry/system.h"
#include "formats/carmdf/car_reader.h"
#include "writer_support.h"

namespace {

using cvtest::TempDir;
using cvtest::carmdf::FixedTime;

const std::string kGolden = std::string(CARTOVANE_TEST_DATA) + "/carmdf/";

std::unique_ptr<xxAtomisticTreeRoot> Read(const std::string& carPath) {
    auto root = std::make_unique<xxAtomisticTreeRoot>();
    CfxComPtr<ISBStream> stream;
    EXPECT_EQ(host::CreateFileStream(carPath, host::FileMode::Read, stream.Out()), S_OK);
    cartovane::CSBStreamBuf buffer(stream.Get());
    std::istream in(&buffer);
    xxLoadCAR reader;
    auto manager = host::DiagnosticsManager::Create();
    CfxComPtr<ISBDiagnosticsConnection> connection;
    CfxBSTR source(std::string_view("CAR/MDF importer"));
    manager->GetConnection(source.Get(), connection.Out());
    EXPECT_EQ(reader.LoadCarMdfFile(in, *root, carPath, connection.Get(), false), S_OK);
    for (const auto& m : manager->Messages()) ADD_FAILURE() << "reading " << carPath << ": " << m.text;
    return root;
}

// Writes as the component does by default: CR LF through the host's text-mode file stream.
void Write(xxObject& model, const std::string& carPath, bool unixFormat = false) {
    CfxComPtr<ISBStream> stream;
    ASSERT_EQ(host::CreateFileStream(carPath, host::FileMode::Write, stream.Out()), S_OK);
    if (unixFormat) stream->SetBinaryMode(VARIANT_TRUE);
    cartovane::CSBStreamBuf buffer(stream.Get());
    std::ostream car(&buffer);
    xxSaveCAR writer;
    writer.SetClock(FixedTime);
    xxBool allSets = false;
    ASSERT_TRUE(writer.WriteCarAndMdf(car, model, carPath, nullptr, allSets, unixFormat));
    EXPECT_TRUE(allSets);
    car.flush();
    ASSERT_EQ(host::CommitFileStream(stream.Get()), S_OK);
}

std::string Number(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text == std::string("-0.") + std::string(static_cast<std::size_t>(decimals), '0')
               ? text + 1
               : std::string(text);
}

// What a CAR/MDF pair carries of a model, as text: every object below the root in tree order
// with the values the files hold (positions to the CAR's nine decimals, charges to the MDF's
// four), the bonds with their orders and, for bonds to images, the element, the members of
// sets, monitors, restrictions and pseudo-atoms, and the cell and group.
std::string Fingerprint(const xxTreeRoot& root) {
    const xxSymmetrySystem* system = nullptr;
    root.ForEachDescendent([&](xxObject& o) {
        if (!system) system = o.As<xxSymmetrySystem>();
        return true;
    });
    std::map<const xxObject*, std::string> names;
    std::string out;
    auto nameOf = [&](const xxObject* o) -> std::string {
        if (!o) return "null";
        auto it = names.find(o);
        if (it != names.end()) return it->second;
        if (system && system->IsSymmetryImage(*o)) {
            const xxSymmetryElement& e = system->GetSymmetryElement(*o);
            const auto& t = e.GetPeriodicTranslation();
            return names[system->GetSymmetryParent(*o)] + "@" + std::to_string(e.GetOperatorNumber()) + "(" +
                   std::to_string(t[0]) + "," + std::to_string(t[1]) + "," + std::to_string(t[2]) + ")";
        }
        return "?" + o->GetName();
    };
    root.ForEachDescendent([&](xxObject& o) {
        if (o.IsA(xxBondable::classType) && !(system && system->IsSymmetryImage(o))) {
            std::string path = o.GetName();
            for (const xxObject* p = o.GetParent(); p && p != &root && !p->IsA(xxSymmetrySystem::classType); p = p->GetParent())
                path = p->GetName() + ":" + path;
            names[&o] = path;
        }
        return true;
    });
    if (system) {
        const auto& d = system->GetSymmetryDefinition();
        out += "cell " + Number(d.GetA(), 4) + " " + Number(d.GetB(), 4) + " " + Number(d.GetC(), 4) + " " +
               Number(d.GetAlpha(), 6) + " " + Number(d.GetBeta(), 6) + " " + Number(d.GetGamma(), 6) + " group " +
               d.GetGroupName() + " ops " + std::to_string(d.GetNumOperators()) + "\n";
    }
    root.ForEachDescendent([&](xxObject& o) {
        if (system && system->IsSymmetryImage(o)) return true;
        std::string line = o.GetClass().GetName() + " " + nameOf(&o);
        if (const auto* m = o.As<xxMatter>(); m && !o.IsA(xxPiSystem::classType)) {
            const xxPoint3d p = m->GetXYZ();
            line += " xyz " + Number(p.x, 9) + " " + Number(p.y, 9) + " " + Number(p.z, 9) + " q " +
                    Number(m->GetCharge(), 4) + " type " + m->GetForcefieldType();
        }
        if (const auto* a = o.As<xxAtom3d>()) {
            line += " el " + std::string(a->GetElementSymbol()) + " iso " + std::to_string(a->GetIsotope()) +
                    " fc " + std::to_string(a->GetFormalCharge().numerator) + "/" +
                    std::to_string(a->GetFormalCharge().denominator) + " occ " + Number(a->GetOccupancy(), 4) +
                    " tf " + std::to_string(a->GetAppliedTF()) + " " + Number(a->GetIsotropicTF(), 4) + " oop " +
                    std::to_string(a->IsOutOfPlane()) + " bb " + std::to_string(a->IsBackboneAtom());
        }
        if (const auto* b = o.As<xxBond>()) {
            auto ends = b->GetAtoms();
            std::string first = nameOf(ends[0]), second = nameOf(ends[1]);
            if (second < first) std::swap(first, second);
            line = "bond " + first + " " + second + " " + Number(b->GetOrder(), 2);
        }
        if (const auto* g = o.As<xxChargeGroup>()) {
            line = "chargegroup " + g->GetName() + " centre " + nameOf(g->GetSwitchingCenter());
            for (const xxAtom* a : g->GetAtoms()) line += " " + nameOf(a);
        }
        if (const auto* s = o.As<xxOrdCollection>()) {
            for (const xxObject* member : s->GetMembers()) {
                line += " [";
                if (const auto* monitor = member->As<xxGeometryMonitor>())
                    for (const xxObject* x : monitor->GetMonitoredObjects()) line += nameOf(x) + " ";
                else
                    line += nameOf(member);
                line += "]";
            }
        }
        if (const auto* r = o.As<xxRestriction>())
            for (const xxRestrictable* x : r->GetRestrictables()) line += " " + nameOf(x->GetAssociatedObject());
        if (const auto* pi = o.As<xxPiSystem>()) {
            line += " dynamic " + std::to_string(pi->HasDynamicPosition());
            for (const xxBondable* member : pi->GetPiSystemAtoms()) line += " " + nameOf(member);
        }
        out += line + "\n";
        return true;
    });
    return out;
}

class CarMdfRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(CarMdfRoundTrip, ReadWriteReadKeepsTheModelAndTheBytes) {
    const std::string name = GetParam();
    // One file name in three folders: the reader names the model after its file.
    TempDir dir;
    for (const char* sub : {"1", "2", "3"}) std::filesystem::create_directory(dir.Path() / sub);
    const std::string first = dir.File("1/" + name), second = dir.File("2/" + name), third = dir.File("3/" + name);
    std::filesystem::copy_file(kGolden + name + ".car", first + ".car");
    std::filesystem::copy_file(kGolden + name + ".mdf", first + ".mdf");
    auto model = Read(first + ".car");
    Write(*model, second + ".car");
    EXPECT_EQ(TempDir::Slurp(second + ".car"), TempDir::Slurp(first + ".car"));
    EXPECT_EQ(TempDir::Slurp(second + ".mdf"), TempDir::Slurp(first + ".mdf"));
    auto again = Read(second + ".car");
    EXPECT_EQ(Fingerprint(*again), Fingerprint(*model));

    // Unix line ends read the same.
    Write(*again, third + ".car", true);
    EXPECT_EQ(TempDir::Slurp(third + ".mdf").find('\r'), std::string::npos);
    EXPECT_EQ(Fingerprint(*Read(third + ".car")), Fingerprint(*model));
}

INSTANTIATE_TEST_SUITE_P(Golden, CarMdfRoundTrip, ::testing::Values("ethanol_water", "chain_crystal"));

TEST(CarMdfRoundTripModel, AtomLinesMatchThePrintfLayout) {
    // An independent layout of the same line: printf in the C locale, cut to the columns.
    struct Case {
        double x, y, z, charge;
    };
    const Case cases[] = {{0, 0, 0, 0},       {-1.2345678905, 2.0000000005, 99.9999999995, -0.0005},
                          {1234.5, -999.999999999, 0.1, 9.9995}, {-0.0000000001, 1e-12, -5e-10, -1.25}};
    for (const auto& c : cases) {
        TempDir dir;
        cvtest::carmdf::Model m;
        cvtest::carmdf::Model::Atom(cvtest::carmdf::Model::SubUnit(m.Molecule("M"), "ABC_123"), "Xy1", "C",
                                    {c.x, c.y, c.z}, c.charge, "c3");
        auto out = cvtest::carmdf::WriteModel(*m.root, dir);
        char expected[128];
        std::snprintf(expected, sizeof expected, "%-5s %14.9f %14.9f %14.9f %-4s %-7s%-7s %-2s %6.3f", "Xy1", c.x, c.y,
                      c.z, "ABC", "123", "c3", "C", c.charge);
        EXPECT_EQ(cvtest::carmdf::Lines(out.car)[4], expected);
    }
}

TEST(CarMdfRoundTripModel, GeneratedNamesReadBackToTheSameObjects) {
    // Names that do not fit the columns are replaced on writing; the file then reads back to
    // a model that writes the same file again.
    TempDir dir;
    cvtest::carmdf::Model m;
    auto& mol = m.Molecule("two words");
    auto& s1 = cvtest::carmdf::Model::SubUnit(mol, "LONGRESIDUE_1");
    auto& s2 = cvtest::carmdf::Model::SubUnit(mol, "GLY_1");
    auto& a = cvtest::carmdf::Model::Atom(s1, "Carbon", "C", {0, 0, 0}, 0, "c3");
    auto& b = cvtest::carmdf::Model::Atom(s1, "Carbon", "C", {1.5, 0, 0}, 0, "c3");
    auto& c = cvtest::carmdf::Model::Atom(s2, "end", "O", {2.5, 0, 0}, 0, "o");
    xxBondable::MakeBond(a, b);
    xxBondable::MakeBond(b, c).SetOrder(2);
    std::filesystem::create_directory(dir.Path() / "again");
    Write(*m.root, dir.File("model.car"));
    auto read = Read(dir.File("model.car"));
    Write(*read, dir.File("again/model.car"));
    EXPECT_EQ(TempDir::Slurp(dir.File("again/model.car")), TempDir::Slurp(dir.File("model.car")));
    EXPECT_EQ(TempDir::Slurp(dir.File("again/model.mdf")), TempDir::Slurp(dir.File("model.mdf")));
    const std::string fingerprint = Fingerprint(*read);
    EXPECT_NE(fingerprint.find("bond MOL_1:XXXX_1:C1 MOL_1:XXXX_1:C2 1.00"), std::string::npos) << fingerprint;
    EXPECT_NE(fingerprint.find("bond MOL_1:GLY_2:O1 MOL_1:XXXX_1:C2 2.00"), std::string::npos) << fingerprint;
}

}  // namespace

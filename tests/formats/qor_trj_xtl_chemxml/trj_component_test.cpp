// The TRJ component through the host stand-in: the model from the QOR file beside the TRJ file,
// the trajectory showing frame 1, and what a missing or bad companion or TRJ file gets.
#include "formats/qor_trj_xtl_chemxml/trj_component.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/energy_holder.h"
#include "datamodel/symmetry/system.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/library_components.h"
#include "support/recording_stream.h"
#include "support/temp_dir.h"
#include "support/trajectory_warnings.h"
#include "support/trj_file.h"
#include "utilities/trajectory.h"

namespace {

using cvtest::TrjParameters;

using cvtest::kCannotPlay;

// Two atoms whose IDs (2 and 3) the TRJ file's moving list names.
std::string PairQor() { return cvtest::TempDir::Slurp(std::string(CARTOVANE_TEST_DATA) + "/qor_trj_xtl_chemxml/pair.qor"); }

class TrjComponent : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = host::ContainerRoot::Create();
        Cfx::ClearLastError();
        params.movingIds = {3, 2};
        params.totalAtoms = 2;
    }
    HRESULT Import(const std::string& path) {
        return cvtest::ImportAsTheHostOpens("SDCartovane.TRJImportExport", *root.Get(), path, document);
    }
    CfxComPtr<ISBImporter> Importer() {
        return cvtest::CreateConnected<ISBImporter>("SDCartovane.TRJImportExport", *root.Get());
    }
    std::vector<xxTrajectory*> Trajectories() { return document->Tree().ChildrenOf<xxTrajectory>(); }
    std::vector<xxAtom3d*> Atoms() { return document->Tree().DescendentsOf<xxAtom3d>(); }
    std::vector<std::string> PlayWarnings() { return cvtest::PlayWarnings(*root.Get(), "TRJ file importer"); }
    static xxPoint3d Frame(int i, int k) {
        return {TrjParameters::Position(i, k, 0), TrjParameters::Position(i, k, 1), TrjParameters::Position(i, k, 2)};
    }

    cvtest::TempDir dir;
    TrjParameters params;
    CfxComPtr<host::ContainerRoot> root;
    CfxComPtr<host::Model3dDocument> document;
};

TEST_F(TrjComponent, ImportsTheModelBesideTheFileAndShowsFrameOne) {
    struct Case {
        const char* trj;
        const char* qor;
    } cases[] = {
        {"run.trj", "run.qor"},
        {"RUN.TRJ", "RUN.qor"},  // the last three characters give way to "qor"
        {"run.trj", "RUN.QOR"},  // found whatever its letter case
        {"v1.2/run.trj", "v1.2/run.qor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trj + std::string(" beside ") + c.qor);
        std::filesystem::create_directories(dir.Path() / "v1.2");
        const std::string trj = dir.Put(c.trj, cvtest::MakeTrj(params).Bytes());
        dir.Put(c.qor, PairQor());
        root->Diagnostics().Clear();
        ASSERT_EQ(Import(trj), S_OK) << Cfx::GetLastError().description;
        ASSERT_EQ(Atoms().size(), 2u);
        ASSERT_EQ(Trajectories().size(), 1u);
        xxTrajectory& t = *Trajectories().front();
        EXPECT_EQ(t.GetTrajectoryType(), "trj");
        EXPECT_EQ(t.GetCurrentFrame(), 1);
        EXPECT_EQ(t.GetNumFrames(), 3);
        EXPECT_EQ(Atoms()[0]->GetXYZ(), Frame(0, 1));  // ID 2 is the second moving atom
        EXPECT_EQ(Atoms()[1]->GetXYZ(), Frame(0, 0));
        EXPECT_EQ(xxClassicalEnergyHolder::m_pptTotalEnergy.GetValue(document->Tree()), TrjParameters::Total(0));
        EXPECT_TRUE(PlayWarnings().empty());
        ASSERT_TRUE(t.SetCurrentFrame(3));
        EXPECT_EQ(Atoms()[1]->GetXYZ(), Frame(2, 0));
        std::filesystem::remove(dir.File(c.qor));
        std::filesystem::remove(trj);
    }
}

// A periodic run beside a periodic QOR model: the companion's reader gives the model its cell,
// which each frame then lays out from the file's.
TEST_F(TrjComponent, APeriodicRunPlaysOnThePeriodicModelBesideIt) {
    std::string qor = PairQor();
    qor.insert(qor.find("  (2 Atom"), "  (A I PeriodicType 100)\n  (A C SpaceGroup \"1 1\")\n  (A D A3 (10 0 0))\n"
                                     "  (A D B3 (0 10 0))\n  (A D C3 (0 0 10))\n");
    params.periodicity = 3;
    const std::string trj = dir.Put("run.trj", cvtest::MakeTrj(params).Bytes());
    dir.Put("run.qor", qor);
    ASSERT_EQ(Import(trj), S_OK) << Cfx::GetLastError().description;
    ASSERT_EQ(Atoms().size(), 2u);
    const auto systems = document->Tree().DescendentsOf<xxSymmetrySystem>();
    ASSERT_EQ(systems.size(), 1u);
    ASSERT_EQ(Trajectories().size(), 1u);
    xxTrajectory& t = *Trajectories().front();
    EXPECT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
    EXPECT_TRUE(PlayWarnings().empty());
    for (int frame : {1, 3}) {
        SCOPED_TRACE(frame);
        ASSERT_TRUE(t.SetCurrentFrame(frame));
        // The file's cell vectors a = (c0, c5, c4), b = (0, c1, c3), c = (0, 0, c2).
        const auto c = TrjParameters::Cell(frame - 1);
        const xxSymmetryDefinition& d = systems.front()->GetSymmetryDefinition();
        EXPECT_NEAR(d.GetA(), std::hypot(c[0], c[5], c[4]), 1e-9);
        EXPECT_NEAR(d.GetC(), c[2], 1e-9);
    }
}

TEST_F(TrjComponent, AnUnplayableTrajectoryKeepsTheModelAndSaysWhy) {
    struct Case {
        const char* name;
        std::function<void(cvtest::TrjFile&)> damage;
        const char* reason;
    } cases[] = {
        {"no TRJ version", [](cvtest::TrjFile& f) { f.writer.PatchInt32(f.versionAt, 0); }, "is no TRJ file"},
        {"NMOL 0", [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.nmolAt, 0); }, "lists no molecule"},
        {"more atoms than the model", [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.nmolAt + 8, 5); },
         "The TRJ file has 5 atoms and the model 2."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cvtest::TrjFile file = cvtest::MakeTrj(params);
        c.damage(file);
        const std::string path = dir.Put("run.trj", file.Bytes());
        dir.Put("run.qor", PairQor());
        root->Diagnostics().Clear();
        ASSERT_EQ(Import(path), S_OK) << Cfx::GetLastError().description;
        EXPECT_EQ(Atoms().size(), 2u);
        EXPECT_EQ(Trajectories().size(), 1u) << "the trajectory stays";
        const std::vector<std::string> warnings = PlayWarnings();
        ASSERT_EQ(warnings.size(), 1u);
        const std::string first = "The trajectory file " + path + kCannotPlay + "\n";
        EXPECT_EQ(warnings[0].substr(0, first.size()), first);
        EXPECT_NE(warnings[0].find(c.reason, first.size()), std::string::npos) << warnings[0];
    }
}

TEST_F(TrjComponent, AMissingOrBadQorFileFailsTheImport) {
    const std::string trj = dir.Put("run.trj", cvtest::MakeTrj(params).Bytes());
    EXPECT_EQ(Import(trj), static_cast<HRESULT>(0x8007006E));
    EXPECT_EQ(Cfx::GetLastError().description,
              "Cannot open QOR file " + dir.File("run.qor") + " during import of TRJ File");
    EXPECT_TRUE(Trajectories().empty());

    // The reader's own failure, recorded by it, is the import's; what it built stays.
    dir.Put("run.qor", PairQor().substr(0, 120));
    const HRESULT hr = Import(trj);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(Cfx::GetLastError().hr, hr);
    EXPECT_FALSE(Cfx::GetLastError().description.empty());
    EXPECT_TRUE(Trajectories().empty());
}

TEST_F(TrjComponent, WithoutStreamDocumentOrFilePathThereIsNothingToImport) {
    CfxComPtr<host::Model3dDocument> doc = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    cvtest::RecordingStream noFile(PairQor());
    EXPECT_EQ(Importer()->Import(nullptr, static_cast<ISBDocumentRoot*>(doc.Get()), VARIANT{}), E_INVALIDARG);
    EXPECT_EQ(Importer()->Import(&noFile, nullptr, VARIANT{}), E_INVALIDARG);
    EXPECT_TRUE(FAILED(Importer()->Import(&noFile, static_cast<ISBDocumentRoot*>(doc.Get()), VARIANT{})));
    EXPECT_EQ(doc->Tree().NumChildren(), 0u);
}

TEST_F(TrjComponent, HasNoExporter) {
    CfxComPtr<ISBImporter> importer = Importer();
    CfxComPtr<ISBExporter> exporter;
    EXPECT_EQ(importer->QueryInterface(IID_ISBExporter, exporter.OutVoid()), E_NOINTERFACE);
}

}  // namespace

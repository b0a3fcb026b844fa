// The HIS component through the host stand-in: the model from the companion CAR file, the
// trajectory showing frame 1, and what an import that cannot play or cannot read gets.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/energy_holder.h"
#include "frame/clsids.h"
#include "frame/messages.h"
#include "his_support.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/host_doubles.h"
#include "support/library_components.h"
#include "support/temp_dir.h"
#include "support/trajectory_warnings.h"

namespace {

using cvtest::HisParameters;

constexpr HRESULT kOpenFailed = static_cast<HRESULT>(0x8007006E);
using cvtest::kCannotPlay;

class HisComponent : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = host::ContainerRoot::Create();
        Cfx::ClearLastError();
        params.frames = 3;
        params.atoms = 3;
    }

    // Imports path into a new document whose file it is, as the host opens a file.
    HRESULT Import(const std::string& path, const char* documentClass = kAtomistic3dDocumentProgID) {
        return cvtest::ImportAsTheHostOpens("SDCartovane.HistImportExport", *root.Get(), path, document, documentClass);
    }
    CfxComPtr<ISBImporter> Importer() {
        return cvtest::CreateConnected<ISBImporter>("SDCartovane.HistImportExport", *root.Get());
    }
    std::string PutHis(const std::string& name = "run.his") {
        return dir.Put(name, cvtest::MakeHis(params).writer.Bytes());
    }
    void PutCar(const std::string& name = "run.car") { dir.Put(name, cvtest::carmdf::HisModelCar(params)); }

    std::vector<xxTrajectory*> Trajectories() { return document->Tree().ChildrenOf<xxTrajectory>(); }
    std::vector<xxAtom3d*> Atoms() { return document->Tree().DescendentsOf<xxAtom3d>(); }
    // The warnings about the trajectory that were posted.
    std::vector<std::string> PlayWarnings() { return cvtest::PlayWarnings(*root.Get(), "HIS file importer"); }

    cvtest::TempDir dir;
    HisParameters params;
    CfxComPtr<host::ContainerRoot> root;
    CfxComPtr<host::Model3dDocument> document;
};

TEST_F(HisComponent, ImportsTheModelBesideTheFileAndShowsFrameOne) {
    struct Case {
        const char* his;
        const char* car;
    } cases[] = {
        {"run.his", "run.car"},
        {"RUN.HIS", "RUN.car"},  // the last three characters give way to "car"
        {"run.his", "RUN.CAR"},  // found whatever its letter case
        {"v1.2/run.his", "v1.2/run.car"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.his + std::string(" beside ") + c.car);
        std::filesystem::create_directories(dir.Path() / "v1.2");
        const std::string his = PutHis(c.his);
        PutCar(c.car);
        root->Diagnostics().Clear();
        ASSERT_EQ(Import(his), S_OK) << Cfx::GetLastError().description;
        ASSERT_EQ(Atoms().size(), 3u);
        ASSERT_EQ(Trajectories().size(), 1u);
        xxTrajectory& t = *Trajectories().front();
        EXPECT_EQ(t.GetTrajectoryType(), "his");
        EXPECT_EQ(t.GetCurrentFrame(), 1);
        EXPECT_EQ(t.GetNumFrames(), 3);
        EXPECT_EQ(Atoms()[2]->GetXYZ(), cvtest::carmdf::ExpectedAtom(params, 0, 2).position);
        EXPECT_EQ(xxClassicalEnergyHolder::m_pptTotalEnergy.GetValue(document->Tree()), HisParameters::Energies(0)[0]);
        EXPECT_TRUE(PlayWarnings().empty());
        ASSERT_TRUE(t.SetCurrentFrame(3));
        EXPECT_EQ(Atoms()[2]->GetXYZ(), cvtest::carmdf::ExpectedAtom(params, 2, 2).position);
        std::filesystem::remove(dir.File(c.car));
        std::filesystem::remove(his);
    }
}

TEST_F(HisComponent, AnUnplayableTrajectoryKeepsTheModelAndSaysWhy) {
    struct Case {
        const char* name;
        bool cellless;       // a file without a cell for the periodic model
        bool unknownOrder;   // a version no byte order makes plausible
        bool badFirstFlag;
        const char* reason;  // what follows the line end; empty: no line end
    } cases[] = {
        {"unknown byte order", false, true, false, "is in no byte order known."},
        {"the file does not fit the model", true, false, false, "The HIS file has no cell and the model has one."},
        {"the first frame cannot be loaded", false, false, true, "Frame 0 of the HIS file "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cvtest::HisFile his = cvtest::MakeHis(params);
        if (c.cellless) {
            HisParameters file = params;
            file.periodic = false;
            his = cvtest::MakeHis(file);
        }
        if (c.unknownOrder) his.writer.PatchDouble(96, 0);
        if (c.badFirstFlag) his.writer.PatchInt32(4, 7);
        const std::string path = dir.Put("run.his", his.writer.Bytes());
        PutCar();
        root->Diagnostics().Clear();
        ASSERT_EQ(Import(path), S_OK) << Cfx::GetLastError().description;
        EXPECT_EQ(Atoms().size(), 3u);
        EXPECT_EQ(Trajectories().size(), 1u) << "the trajectory stays";
        const std::vector<std::string> warnings = PlayWarnings();
        ASSERT_EQ(warnings.size(), 1u);
        const std::string first = "The trajectory file " + path + kCannotPlay + "\n";
        EXPECT_EQ(warnings[0].substr(0, first.size()), first);
        EXPECT_NE(warnings[0].find(c.reason, first.size()), std::string::npos) << warnings[0];
    }
}

TEST_F(HisComponent, ImportFailures) {
    const std::string his = PutHis();

    // No companion CAR file.
    EXPECT_EQ(Import(his), kOpenFailed);
    EXPECT_EQ(Cfx::GetLastError().description, "Cannot open CAR file " + dir.File("run.car") + " during import of HIS File");
    EXPECT_EQ(Cfx::GetLastError().clsid, cartovane::CLSID_HistImportExport);
    EXPECT_EQ(document->Tree().NumChildren(), 0u);

    // A companion that is no CAR file: the reader's failure, with its message, stays the last error.
    dir.Put("run.car", "not a CAR file\n");
    EXPECT_EQ(Import(his), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().messageId, cartovane::msg::CARLOAD_CAR_FORMAT);
    EXPECT_TRUE(Trajectories().empty());

    PutCar();
    CfxComPtr<ISBImporter> importer = Importer();
    CfxComPtr<host::Model3dDocument> target = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    CfxComPtr<ISBStream> file;
    ASSERT_EQ(host::CreateFileStream(his, host::FileMode::Read, file.Out()), S_OK);

    // A stream with no file behind it, a document without the direct interface: the queries' failures.
    CfxComPtr<ISBStream> memory = host::CreateMemoryStream(std::vector<char>(16, '\0'));
    EXPECT_EQ(importer->Import(memory.Get(), static_cast<ISBDocumentRoot*>(target.Get()), VARIANT{}), E_NOINTERFACE);
    CfxComPtr<host::Arguments> notADocument = host::Arguments::Create();
    EXPECT_EQ(importer->Import(file.Get(), reinterpret_cast<ISBDocumentRoot*>(notADocument.Get()), VARIANT{}),
              E_NOINTERFACE);
    // A document that gives no tree, a file stream that gives no path: the import's own texts.
    CfxComPtr<cvtest::ForwardingDocument> noTree = cvtest::ForwardingDocument::Over(target);
    noTree->nullTree = true;
    EXPECT_EQ(importer->Import(file.Get(), static_cast<ISBDocumentRoot*>(noTree.Get()), VARIANT{}), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, "Failed To Import Into Document:\n");
    CfxComPtr<cvtest::PathlessFileStream> pathless = cvtest::PathlessFileStream::Create();
    EXPECT_EQ(importer->Import(pathless.Get(), static_cast<ISBDocumentRoot*>(target.Get()), VARIANT{}), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, "Failed To Determine HIS File\n");
    // Nothing at all.
    EXPECT_EQ(importer->Import(nullptr, static_cast<ISBDocumentRoot*>(target.Get()), VARIANT{}), E_INVALIDARG);
    EXPECT_EQ(importer->Import(file.Get(), nullptr, VARIANT{}), E_INVALIDARG);
    EXPECT_EQ(target->Tree().NumChildren(), 0u);
}

TEST_F(HisComponent, ADocumentWhoseRootHoldsNoEnergiesFailsTheImportBeforeAFrameMoves) {
    const std::string his = PutHis();
    PutCar();
    EXPECT_EQ(Import(his, kMeso3dDocumentProgID), E_ABORT);
    EXPECT_EQ(Cfx::GetLastError().description, "Trajectory reader is operating on an unexpected kind of document.");
    ASSERT_EQ(Atoms().size(), 3u);
    EXPECT_EQ(Atoms()[0]->GetVelocity(), xxPoint3d{}) << "a frame moved the model";
}

}  // namespace

// The ARC component through the host stand-in: where the model comes from, the trajectory it
// leaves playing at frame 1, the warning for one that cannot play, and what bad input gets.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"
#include "frame/clsids.h"
#include "frame/messages.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/car_lines.h"
#include "support/host_doubles.h"
#include "support/library_components.h"
#include "support/temp_dir.h"
#include "utilities/trajectory.h"

namespace {

using namespace cvtest::carmdf;

// A stream that says it has a file behind it but cannot name it.
class NamelessFileStream final : public com::ComObject<ISBStream, ISBFileStream> {
public:
    HRESULT Read(void*, ULONG, ULONG* read) override {
        if (read) *read = 0;
        return S_OK;
    }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Seek(LONG, DWORD, ULONG*) override { return E_NOTIMPL; }
    HRESULT GetBinaryMode(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT SetBinaryMode(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT GetSize(ULONG* size) override {
        *size = 0;
        return S_OK;
    }
    HRESULT GetFilePath(BSTR*) override { return E_FAIL; }
};

// A document without the direct interface to its tree.
class OpaqueDocument final : public com::ComObject<ISBDocumentRoot> {
public:
    HRESULT GetProgID(BSTR*) override { return E_NOTIMPL; }
    HRESULT GetScopeOwner(IUnknown**) override { return E_NOTIMPL; }
    HRESULT CopyInto(ISBDocumentRoot*) override { return E_NOTIMPL; }
};

const ArcLayout kLayout;

std::vector<ArcFrame> Moving(int frames) {
    std::vector<ArcFrame> out;
    for (int f = 0; f < frames; ++f) out.push_back(MovingFrame(f, {2, 1}, -10.0 - f));
    return out;
}

// The model as a CAR file of the same atoms whose force-field types tell where it came from.
std::string CompanionCar() {
    std::string car = CarHeader("PBC=OFF");
    car += AtomLine("C1", 0, 0, 0, "MOL", "1", "cx", "C", 0) + "\n" + AtomLine("C2", 1, 2, -1, "MOL", "1", "cx", "C", 0) +
           "\nend\n" + AtomLine("C1", 2, 4, -2, "MOL", "2", "cx", "C", 0) + "\nend\nend\n";
    return car;
}

class ArcComponent : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = host::ContainerRoot::Create();
        document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    }
    CfxComPtr<ISBImporter> Importer() { return cvtest::CreateConnected<ISBImporter>("SDCartovane.ARCImportExport", *root.Get()); }
    // Imports the file at path into the document, whose file it becomes.
    HRESULT Import(const std::string& path) {
        document->SetURL(path);
        CfxComPtr<ISBStream> stream;
        EXPECT_EQ(host::CreateFileStream(path, host::FileMode::Read, stream.Out()), S_OK);
        return Importer()->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get());
    }
    xxTrajectory* Trajectory() {
        std::vector<xxTrajectory*> all = document->Tree().ChildrenOf<xxTrajectory>();
        return all.size() == 1 ? all.front() : nullptr;
    }
    std::vector<std::string> Warnings() {
        std::vector<std::string> out;
        for (const host::DiagnosticMessage& m : root->Diagnostics().Messages()) {
            EXPECT_EQ(m.source, "ARC file importer");
            EXPECT_EQ(m.severity, SB_DIAG_WARNING);
            out.push_back(m.text);
        }
        return out;
    }
    std::string FirstType() {
        std::vector<xxAtom3d*> atoms = document->Tree().DescendentsOf<xxAtom3d>();
        return atoms.empty() ? std::string() : atoms.front()->GetForcefieldType();
    }

    cvtest::TempDir dir;
    CfxComPtr<host::ContainerRoot> root;
    CfxComPtr<host::Model3dDocument> document;
};

TEST_F(ArcComponent, TheModelComesFromTheCompanionCarOrTheArcFileAndFrameOneIsShown) {
    struct Case {
        const char* what;
        std::string arc;       // relative to the test directory
        std::string car;       // the companion written, if any
        const char* type;      // of the model's first atom: "cx" from the companion, "c3" from the ARC file
        const char* rootName;  // the tree root is named after the file read
        bool plays;
    };
    const Case cases[] = {
        {"a companion", "run.arc", "run.car", "cx", "run", true},
        {"no companion", "run.arc", "", "c3", "run", true},
        {"an upper-case trajectory extension", "RUN.ARC", "RUN.car", "cx", "RUN", true},
        {"a dot in a directory name", "v1.2/run", "v1.2/run.car", "cx", "run", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directories(dir.Path() / "v1.2");
        dir.Put("v1.car", "not the model\n");  // what the text after the path's last "." would name
        if (!c.car.empty()) dir.Put(c.car, CompanionCar());
        const std::string arc = dir.Put(c.arc, ArcText(kLayout, Moving(3)));
        ASSERT_EQ(Import(arc), S_OK) << Cfx::GetLastError().description;
        EXPECT_EQ(FirstType(), c.type);
        EXPECT_EQ(document->Tree().GetName(), c.rootName);
        xxTrajectory* t = Trajectory();
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->GetTrajectoryType(), "arc");
        if (c.plays) {
            EXPECT_TRUE(Warnings().size() <= 1) << "at most the MDF's";
            EXPECT_EQ(t->GetCurrentFrame(), 1);
            EXPECT_EQ(t->GetNumFrames(), 3);
            EXPECT_EQ(t->GetFrameResults().energy, -10);
            EXPECT_NEAR(document->Tree().DescendentsOf<xxAtom3d>()[1]->GetXYZ().y, 2, 1e-9) << "frame 1's positions";
        } else {
            EXPECT_EQ(t->GetCurrentFrame(), 0);
            EXPECT_EQ(Warnings().back().rfind("The trajectory file " + arc +
                                                  " cannot be played; only the model was imported.\n",
                                              0),
                      0u)
                << Warnings().back();
        }
    }
}

TEST_F(ArcComponent, ATrajectoryThatCannotPlayIsReportedAndTheModelStays) {
    struct Case {
        const char* what;
        std::string arc;
        std::string reason;  // the loader's, after the line end
    };
    const std::string frames = ArcText(kLayout, Moving(2)).substr(ArcHeader(kLayout).size());
    const Case cases[] = {
        {"not an archive", "!KORVEN archive 9\nPBC=OFF\n" + frames, "Arc file is not in Archive format 2 or 3."},
        {"unknown periodicity", "!KORVEN archive 3\nPBC=YES\n" + frames, "Arc file has unrecognized PBC info"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        dir.Put("run.car", CompanionCar());
        const std::string arc = dir.Put("run.arc", c.arc);
        ASSERT_EQ(Import(arc), S_OK);
        EXPECT_EQ(document->Tree().DescendentsOf<xxAtom3d>().size(), 3u);
        ASSERT_NE(Trajectory(), nullptr);
        EXPECT_FALSE(Trajectory()->IsTrajectoryValid());
        ASSERT_FALSE(Warnings().empty());
        EXPECT_EQ(Warnings().back(),
                  "The trajectory file " + arc + " cannot be played; only the model was imported.\n" + c.reason);
    }
}

TEST_F(ArcComponent, BadInputFailsWithTheResultAndTextOfItsKind) {
    const std::string arc = dir.Put("run.arc", ArcText(kLayout, Moving(2)));
    struct Case {
        const char* what;
        std::function<HRESULT()> import;
        HRESULT hr;
        std::string description;  // empty: not checked
    };
    auto importStream = [&](CfxComPtr<ISBStream> stream) {
        return Importer()->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get());
    };
    auto fileStream = [&](const std::string& path) {
        CfxComPtr<ISBStream> stream;
        EXPECT_EQ(host::CreateFileStream(path, host::FileMode::Read, stream.Out()), S_OK);
        return stream;
    };
    const Case cases[] = {
        {"no document", [&] { return Importer()->Import(fileStream(arc).Get(), nullptr, CfxVariant().Get()); },
         E_INVALIDARG, ""},
        {"no stream", [&] { return Importer()->Import(nullptr, static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()); },
         E_INVALIDARG, ""},
        {"a document without the direct interface",
         [&] {
             auto opaque = CfxComPtr<OpaqueDocument>::Adopt(new OpaqueDocument);
             return Importer()->Import(fileStream(arc).Get(), opaque.Get(), CfxVariant().Get());
         },
         E_NOINTERFACE, ""},
        {"a document without a tree",
         [&] {
             auto forwarding = cvtest::ForwardingDocument::Over(document);
             forwarding->nullTree = true;
             return Importer()->Import(fileStream(arc).Get(), forwarding.Get(), CfxVariant().Get());
         },
         E_UNEXPECTED, "Failed To Import Into Document:\n"},
        {"a stream without a file", [&] { return importStream(host::CreateMemoryStream({'x'})); }, E_NOINTERFACE, ""},
        {"a file stream that cannot name its file",
         [&] { return importStream(CfxComPtr<ISBStream>::Adopt(new NamelessFileStream)); }, E_UNEXPECTED,
         "Failed To Determine ARC File\n"},
        {"a file gone before the import",
         [&] {
             const std::string gone = dir.Put("gone.arc", "x");
             CfxComPtr<ISBStream> stream = fileStream(gone);
             std::filesystem::remove(gone);
             return importStream(stream);
         },
         static_cast<HRESULT>(0x8007006E), "Cannot open file " + dir.File("gone.arc") + " during import of ARC File"},
        {"an empty file", [&] { return importStream(fileStream(dir.Put("empty.arc", ""))); },
         static_cast<HRESULT>(0x8007006E), "The file is empty"},
        {"an empty companion",
         [&] {
             dir.Put("hollow.car", "");
             return importStream(fileStream(dir.Put("hollow.arc", ArcText(kLayout, Moving(1)))));
         },
         static_cast<HRESULT>(0x8007006E), "The file is empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Cfx::ClearLastError();
        EXPECT_EQ(c.import(), c.hr);
        EXPECT_EQ(Cfx::GetLastError().hr, c.hr);
        if (!c.description.empty()) {
            EXPECT_EQ(Cfx::GetLastError().description, c.description);
        }
        EXPECT_TRUE(document->Tree().ChildrenOf<xxTrajectory>().empty());
    }
}

// The model's reader fails the import with its own report: a file that is no CAR text.
TEST_F(ArcComponent, AModelTheCarReaderRefusesFailsTheImportWithItsReport) {
    const std::string arc = dir.Put("run.arc", "!KORVEN archive 7\nPBC=OFF\n");
    Cfx::ClearLastError();
    EXPECT_EQ(Import(arc), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().messageId, cartovane::msg::CARLOAD_CAR_FORMAT);
    EXPECT_TRUE(document->Tree().ChildrenOf<xxTrajectory>().empty());
}

// The bundled example: its model from water_ethanol.car beside it, four frames whose cell grows.
TEST_F(ArcComponent, TheBundledExamplePlays) {
    const std::string example = std::string(CARTOVANE_TEST_DATA) + "/../../examples/water_ethanol.arc";
    ASSERT_EQ(Import(example), S_OK) << Cfx::GetLastError().description;
    EXPECT_TRUE(Warnings().empty()) << Warnings().front();
    EXPECT_EQ(document->Tree().GetName(), "water_ethanol");
    xxTrajectory* t = Trajectory();
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->GetNumFrames(), 4);
    EXPECT_EQ(t->GetFrameResults().energy, -152.3817);
    ASSERT_TRUE(t->SetCurrentFrame(3));
    EXPECT_EQ(t->GetFrameResults().energy, -152.6675);
    const xxSymmetrySystem* system = xxMatterSymmetrySystem::FirstOf(document->Tree());
    ASSERT_NE(system, nullptr);
    EXPECT_NEAR(system->GetSymmetryDefinition().GetA(), 12.2, 1e-9);
}

TEST_F(ArcComponent, ImportsOnly) {
    CfxComPtr<ISBImporter> importer = Importer();
    CfxComPtr<ISBExporter> exporter;
    EXPECT_EQ(importer->QueryInterface(IID_ISBExporter, exporter.OutVoid()), E_NOINTERFACE);
    CfxComPtr<ISBContainerRootConsumer> consumer;
    EXPECT_EQ(importer->QueryInterface(IID_ISBContainerRootConsumer, consumer.OutVoid()), S_OK);
}

}  // namespace

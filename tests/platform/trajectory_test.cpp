// Trajectories that play: the kept frame loader, the frame numbering from 1, the results of a
// frame, refusals, and what a trajectory read from a document moves. The loader is the test's
// "PLAYLoader", bound to a host document with a file.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"
#include "host/document_copy.h"
#include "host/documents.h"
#include "support/play_loader.h"
#include "support/temp_dir.h"
#include "utilities/import_utilities.h"
#include "utilities/trajectory.h"

namespace {

using cvtest::PlayLoader;

// Two atoms and a dummy in a document saved as "run.xtd", and "run.play" beside it.
class Playing : public ::testing::Test {
protected:
    void SetUp() override { PlayLoader::Controls() = {}; }

    xxTreeRoot& Tree() { return document->Tree(); }
    xxTrajectory& Trajectory(const std::string& type = "play") {
        return *ImportUtilities::CreateDefaultedTrajectory(root.Get(), Tree(), type, xxBondable::classType);
    }
    void Frames(const std::string& lines) { dir.Put("run.play", lines); }
    static xxPoint3d At(const xxObject& o) { return o.GetXYZ(); }

    cvtest::TempDir dir;
    CfxComPtr<host::ContainerRoot> root = host::ContainerRoot::Create();
    CfxComPtr<host::Model3dDocument> document = [&] {
        auto d = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        d->SetURL(dir.File("run.xtd"));
        return d;
    }();
    xxMolecule& molecule = Tree().CreateChild<xxMolecule>();
    xxAtom3d& a = molecule.CreateChild<xxAtom3d>("C");
    xxDummy& dummy = molecule.CreateChild<xxDummy>();
    xxAtom3d& b = Tree().CreateChild<xxAtom3d>("O");
};

// Three frames; each result of frame 2 is missing, and frame 3 gives only its energy.
constexpr char kThreeFrames[] =
    "-1.5 0.1 7 0.05 1 0 0 2 0 0 3 0 0\n"
    "- - - - 1.1 0 0 2.1 0 0 3.1 0 0\n"
    "-3.5 - - - 1.2 0 0 2.2 0 0 3.2 0 0\n";

TEST_F(Playing, FramesAreNumberedFromOneAndCarryWhatTheLoaderGave) {
    Frames(kThreeFrames);
    xxTrajectory& t = Trajectory();
    ASSERT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
    EXPECT_EQ(t.GetNumFrames(), 3);
    EXPECT_EQ(t.GetCurrentFrame(), 0);

    ASSERT_TRUE(t.SetCurrentFrame(1));
    EXPECT_EQ(PlayLoader::Controls().framesLoaded, std::vector<int>{0}) << "frame 1 is the loader's frame 0";
    EXPECT_EQ(t.GetCurrentFrame(), 1);
    EXPECT_EQ(At(a), (xxPoint3d{1, 0, 0}));
    EXPECT_EQ(At(dummy), (xxPoint3d{2, 0, 0}));
    EXPECT_EQ(At(b), (xxPoint3d{3, 0, 0}));
    const xxTrajectory::FrameResults& r = t.GetFrameResults();
    EXPECT_EQ(r.energy, -1.5);
    EXPECT_EQ(r.time, 0.1);
    EXPECT_EQ(r.third, 7);
    EXPECT_EQ(r.timeStep, 0.05);

    ASSERT_TRUE(t.SetCurrentFrame(2));
    EXPECT_EQ(At(b), (xxPoint3d{3.1, 0, 0}));
    EXPECT_FALSE(t.GetFrameResults().energy) << "what a frame does not give is unset, not the last frame's";
    EXPECT_FALSE(t.GetFrameResults().time);
    EXPECT_FALSE(t.GetFrameResults().third);
    EXPECT_FALSE(t.GetFrameResults().timeStep);

    ASSERT_TRUE(t.SetCurrentFrame(3));  // the last
    EXPECT_EQ(t.GetFrameResults().energy, -3.5);
    EXPECT_FALSE(t.GetFrameResults().time);
    EXPECT_EQ(PlayLoader::Controls().framesLoaded, (std::vector<int>{0, 1, 2}));
}

TEST_F(Playing, FramesOutsideOneToTheCountAreRefusedWithoutReading) {
    Frames(kThreeFrames);
    xxTrajectory& t = Trajectory();
    ASSERT_TRUE(t.SetCurrentFrame(2));
    PlayLoader::Controls().framesLoaded.clear();
    for (int frame : {0, -1, 4, 5, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(frame);
        EXPECT_FALSE(t.SetCurrentFrame(frame));
        EXPECT_TRUE(PlayLoader::Controls().framesLoaded.empty()) << "the loader was asked";
        EXPECT_EQ(t.GetCurrentFrame(), 2);
        EXPECT_EQ(At(a), (xxPoint3d{1.1, 0, 0}));
    }
}

TEST_F(Playing, TheLoaderIsMadeOnceAndKeptUntilTheTypeChanges) {
    Frames(kThreeFrames);
    xxTrajectory& t = Trajectory();
    EXPECT_EQ(PlayLoader::Controls().instances, 0) << "made before it was needed";
    ASSERT_TRUE(t.IsTrajectoryValid());
    xxFrameProvider* first = t.GetFrameLoader();
    EXPECT_TRUE(t.SetCurrentFrame(1));
    EXPECT_EQ(t.GetNumFrames(), 3);
    EXPECT_EQ(t.GetFrameLoader(), first);
    EXPECT_EQ(PlayLoader::Controls().instances, 1);
    EXPECT_EQ(PlayLoader::Controls().initFileNames, std::vector<std::string>{dir.File("run.play")});

    // Another type tries afresh: none of that name, then this one again.
    t.SetTrajectoryType("none");
    EXPECT_EQ(PlayLoader::Controls().instances, 0);
    EXPECT_EQ(t.GetCurrentFrame(), 0);
    EXPECT_FALSE(t.IsTrajectoryValid());
    EXPECT_EQ(t.GetNumFrames(), 0);
    EXPECT_FALSE(t.SetCurrentFrame(1));
    t.SetTrajectoryType("play");
    EXPECT_TRUE(t.IsTrajectoryValid());
    EXPECT_EQ(PlayLoader::Controls().initFileNames.size(), 2u);
}

TEST_F(Playing, ALoaderIsUsedOnlyWhenInitAndTheCompatibilityTestBothAccept) {
    struct Case {
        const char* name;
        std::string frames;
        bool refuseInit;
        bool incompatible;
        const char* error;  // the loader's error text the trajectory keeps
    } cases[] = {
        {"no file beside the document", "", false, false, "Cannot open "},
        {"Init refuses", kThreeFrames, true, false, "Arc file has unrecognized PBC info"},
        {"the file does not fit the model", kThreeFrames, false, true, ""},
        {"fewer positions than objects", "0 0 0 0 1 2 3\n", false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlayLoader::Controls() = {};
        std::filesystem::remove(dir.File("run.play"));
        if (!c.frames.empty()) Frames(c.frames);
        if (c.refuseInit) PlayLoader::Controls().refuseInit = "Arc file has unrecognized PBC info";
        PlayLoader::Controls().incompatible = c.incompatible;
        xxTrajectory& t = Trajectory();
        EXPECT_FALSE(t.IsTrajectoryValid());
        EXPECT_EQ(t.GetLoaderError().rfind(c.error, 0), 0u) << t.GetLoaderError();
        EXPECT_EQ(t.GetNumFrames(), 0);
        EXPECT_FALSE(t.SetCurrentFrame(1));
        EXPECT_EQ(PlayLoader::Controls().instances, 0) << "a refused loader is kept";
        EXPECT_EQ(PlayLoader::Controls().initFileNames.size(), 1u) << "a refusal is asked again before anything changed";
        t.Delete();
    }
}

TEST_F(Playing, TheCountIsAskedOfTheLoaderEachTime) {
    Frames(kThreeFrames);
    PlayLoader::Controls().cutToAfterLoad = 1;  // as a loader cuts its count at a damaged frame
    xxTrajectory& t = Trajectory();
    EXPECT_EQ(t.GetNumFrames(), 3);
    ASSERT_TRUE(t.SetCurrentFrame(1));
    EXPECT_EQ(t.GetNumFrames(), 1);
    EXPECT_FALSE(t.SetCurrentFrame(2));
    EXPECT_EQ(PlayLoader::Controls().framesLoaded, std::vector<int>{0});
}

TEST_F(Playing, AFrameTheLoaderCannotLoadLeavesTheFrameShownAndWhatALoaderThrowsReachesTheCaller) {
    Frames(kThreeFrames);
    PlayLoader::Controls().failFrame = 1;
    PlayLoader::Controls().throwAtFrame = 2;
    xxTrajectory& t = Trajectory();
    ASSERT_TRUE(t.SetCurrentFrame(1));
    EXPECT_FALSE(t.SetCurrentFrame(2));
    EXPECT_EQ(t.GetCurrentFrame(), 1);
    EXPECT_EQ(t.GetFrameResults().energy, -1.5);
    try {
        t.SetCurrentFrame(3);
        ADD_FAILURE() << "nothing thrown";
    } catch (const Cfx::CfxResult& r) {
        EXPECT_EQ(r.Hr(), E_ABORT);
        EXPECT_EQ(r.Description(), "Trajectory reader is operating on an unexpected kind of document.");
    }
    EXPECT_EQ(t.GetCurrentFrame(), 1);
    EXPECT_TRUE(t.SetCurrentFrame(1)) << "the loader is still there";
}

TEST_F(Playing, CreateDefaultedTrajectoryReturnsTheTrajectoryWhetherOrNotItPlays) {
    xxTrajectory& t = Trajectory();  // no file beside the document
    EXPECT_EQ(t.GetParent(), &Tree());
    EXPECT_EQ(t.GetTrajectoryType(), "play");
    EXPECT_EQ(t.ClassTypes(), std::vector<unsigned>{xxBondable::classType});
    EXPECT_FALSE(t.IsTrajectoryValid());
    try {
        ImportUtilities::CreateDefaultedTrajectory(nullptr, Tree(), "play", xxBondable::classType);
        ADD_FAILURE() << "no container root accepted";
    } catch (const Cfx::CfxResult& r) {
        EXPECT_EQ(r.Hr(), E_INVALIDARG);
    }
}

// Images a symmetry system made on demand are display copies: the loader never sees them (the
// play file has positions for the model's own atoms only), and they follow their parents.
TEST_F(Playing, ImagesMadeOnDemandFollowTheirParentsAfterEachFrame) {
    auto definition = std::make_unique<xxSpaceGroup>();
    definition->SetCellParameters(10, 10, 10, std::numbers::pi / 2, std::numbers::pi / 2, std::numbers::pi / 2, true);
    auto& system = Tree().CreateChild<xxMatterSymmetrySystem>(std::move(definition));
    b.SetParent(system);
    xxObject* image = system.FindSymmetryImage(b, xxPeriodicTranslation{{1, 0, 0}});
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(system.IsImageMadeOnDemand(*image));

    Frames(kThreeFrames);
    xxTrajectory& t = Trajectory();
    ASSERT_TRUE(t.SetCurrentFrame(3)) << t.GetLoaderError();
    EXPECT_EQ(At(b), (xxPoint3d{3.2, 0, 0}));
    EXPECT_NEAR(At(*image).x, 13.2, 1e-12);
}

// Class types are run-time type ids: a trajectory read from a document moves bondable objects,
// so a saved trajectory plays again in the copy.
TEST_F(Playing, ATrajectoryReadBackMovesBondablesAndPlaysInItsNewDocument) {
    Frames(kThreeFrames);
    xxTrajectory& t = Trajectory();
    t.SetClassTypes({xxAtom::classType});  // whatever it had is not what comes back
    auto copy = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    copy->SetURL(dir.File("run.xtd"));
    host::CopyTree(Tree(), copy->Tree());

    auto trajectories = copy->Tree().ChildrenOf<xxTrajectory>();
    ASSERT_EQ(trajectories.size(), 1u);
    xxTrajectory& back = *trajectories[0];
    EXPECT_EQ(back.GetTrajectoryType(), "play");
    EXPECT_EQ(back.ClassTypes(), std::vector<unsigned>{xxBondable::classType});
    ASSERT_TRUE(back.SetCurrentFrame(2)) << back.GetLoaderError();
    EXPECT_EQ(copy->Tree().DescendentsOf<xxAtom3d>().back()->GetXYZ(), (xxPoint3d{3.1, 0, 0}));
    EXPECT_EQ(At(b), (xxPoint3d{})) << "the source model moved";
}

}  // namespace

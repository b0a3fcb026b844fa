// The ARC frame loader bound to a host document with a file: the frame count and where frames
// start, damaged frames, titles, fixed columns, the cell, compatibility and clones. The model is
// read from the ARC file's first frame, as the import does without a companion CAR file.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/iterator.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"
#include "formats/carmdf/arc_loader.h"
#include "formats/carmdf/car_reader.h"
#include "host/documents.h"
#include "support/car_lines.h"
#include "support/temp_dir.h"
#include "utilities/import_utilities.h"
#include "utilities/trajectory.h"

namespace {

using namespace cvtest::carmdf;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class ArcLoader : public ::testing::Test {
protected:
    // Writes arc as name beside a document of that path whose model is read from model (the
    // ARC text itself by default), and gives the document an "arc" trajectory.
    xxTrajectory& Play(const std::string& arc, std::string model = {}, const std::string& name = "run.arc") {
        const std::string path = dir.Put(name, arc);
        document->SetURL(path);
        std::istringstream in(model.empty() ? arc : model);
        xxLoadCAR reader;
        EXPECT_EQ(reader.LoadCarMdfFile(in, Tree(), path, nullptr, true), S_OK);
        trajectory = ImportUtilities::CreateDefaultedTrajectory(root.Get(), Tree(), "arc", xxBondable::classType);
        return *trajectory;
    }
    xxTreeRoot& Tree() { return document->Tree(); }
    xxLoadArc& Loader() {
        auto* loader = dynamic_cast<xxLoadArc*>(trajectory->GetFrameLoader());
        if (!loader) throw std::runtime_error("no ARC loader: " + trajectory->GetLoaderError());
        return *loader;
    }
    std::vector<xxObject*> Objects() {
        xxModelIterator it(Tree(), {xxBondable::classType});
        std::vector<xxObject*> out;
        while (xxObject* o = it.GetNext()) out.push_back(o);
        return out;
    }
    std::vector<xxPoint3d> Positions() {
        std::vector<xxPoint3d> out;
        for (xxObject* o : Objects()) out.push_back(o->GetXYZ());
        return out;
    }
    // The loader's frame (from 0) with its energy result.
    bool Load(int frame, double* energy = nullptr, const xxTransformMatrix* transform = nullptr) {
        xxModelIterator it(Tree(), {xxBondable::classType});
        double e = kNaN, time = kNaN, third = kNaN, step = kNaN;
        const bool loaded = Loader().LoadFrame(frame, it, &e, &time, &third, &step, transform);
        if (loaded) {
            EXPECT_TRUE(std::isnan(time)) << "the time is left alone";
            EXPECT_EQ(third, 0);
            EXPECT_EQ(step, 0);
        }
        if (energy) *energy = e;
        return loaded;
    }
    // Atom i of frame f as MovingFrame places it, as the file's 9 decimals give it back.
    static xxPoint3d Expected(int i, int f) {
        return {i + f / 10.0, 2 * i + f / 100.0, -i - f / 10.0};
    }
    void ExpectFrame(int f, int atoms) {
        const std::vector<xxPoint3d> at = Positions();
        ASSERT_EQ(at.size(), static_cast<std::size_t>(atoms));
        for (int i = 0; i < atoms; ++i) {
            const xxPoint3d e = Expected(i, f);
            const xxPoint3d& a = at[static_cast<std::size_t>(i)];
            EXPECT_NEAR(a.x, e.x, 1e-9) << "atom " << i << " frame " << f;
            EXPECT_NEAR(a.y, e.y, 1e-9) << "atom " << i << " frame " << f;
            EXPECT_NEAR(a.z, e.z, 1e-9) << "atom " << i << " frame " << f;
        }
    }

    cvtest::TempDir dir;
    CfxComPtr<host::ContainerRoot> root = host::ContainerRoot::Create();
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    xxTrajectory* trajectory = nullptr;
};

std::vector<ArcFrame> Moving(int frames, const std::vector<int>& molecules = {2, 1}) {
    std::vector<ArcFrame> out;
    for (int f = 0; f < frames; ++f) out.push_back(MovingFrame(f, molecules, -100.0 - f));
    return out;
}

// The count comes from frame 0's length when the frames fill the file exactly (perhaps but for
// the last line end), and otherwise from one pass over the file that finds every frame, so
// frames of unequal length are neither lost nor promised.
TEST_F(ArcLoader, CountsEveryWholeFrameAndReachesEachOfThem) {
    struct Case {
        const char* what;
        std::string text;
        int frames;
        bool skimmed;  // the frames had to be found one by one
    };
    const ArcLayout lf, crlf{.lineEnd = "\r\n"}, periodic{.periodicity = "PBC=ON"};
    const std::string four = ArcText(lf, Moving(4));
    std::vector<ArcFrame> longFirst = Moving(4);
    longFirst[0].comments = {"a comment the frames after it do not have"};
    std::vector<ArcFrame> longLater = Moving(4);
    longLater[2].comments = longLater[3].comments = {"later frames have comments"};
    const Case cases[] = {
        {"exactly four frames of one length", four, 4, false},
        {"the last line end missing", four.substr(0, four.size() - 1), 4, false},
        {"CR LF, the last line end missing", ArcText(crlf, Moving(3)).substr(0, ArcText(crlf, Moving(3)).size() - 2), 3,
         false},
        {"periodic", ArcText(periodic, Moving(3)), 3, false},
        {"one frame", ArcText(lf, Moving(1)), 1, false},
        {"frame 0 longer than the rest", ArcText(lf, longFirst), 4, true},
        {"later frames longer", ArcText(lf, longLater), 4, true},
        {"a frame cut short at the end", four + ArcFrameText(lf, MovingFrame(4, {2, 1}, 1)).substr(0, 80), 4, true},
        {"blank lines after the last frame", four + "\n\n", 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        xxTrajectory& t = Play(c.text);
        ASSERT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
        EXPECT_EQ(t.GetNumFrames(), c.frames);
        EXPECT_EQ(Loader().GetAtomCount(), 3);
        EXPECT_EQ(Loader().FrameIndexBytes() > 0, c.skimmed) << Loader().FrameIndexBytes();
        for (int f = c.frames; f >= 1; --f) {  // the last first: nothing before it was read
            ASSERT_TRUE(t.SetCurrentFrame(f)) << "frame " << f;
            ExpectFrame(f - 1, 3);
            EXPECT_EQ(t.GetFrameResults().energy, -100.0 - (f - 1));
        }
        EXPECT_EQ(t.GetNumFrames(), c.frames) << "no frame turned out damaged";
    }
}

// A damaged frame n fails and cuts the count to n: frames 0 .. n - 1 still play. The damage
// keeps the frame's length, so the count promised the frame and only reading it finds out.
TEST_F(ArcLoader, ADamagedFrameFailsAndCutsTheCountToTheFramesBeforeIt) {
    struct Case {
        const char* what;
        std::string from, to;  // replaced in frame 2 (of 0 .. 3)
    };
    const Case cases[] = {
        {"more atom lines than frame 0", "end\nC1 ", "xnd\nC1 "},
        {"no !DATE line", "!DATE", "!DATX"},
        {"the end of the file before the second end", "", ""},
    };
    const ArcLayout lf;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        std::string text = ArcHeader(lf);
        std::string damaged;
        for (int f = 0; f < 4; ++f) {
            std::string frame = ArcFrameText(lf, MovingFrame(f, {2, 1}, -100.0 - f));
            if (f == 2 && !c.from.empty()) frame.replace(frame.find(c.from), c.from.size(), c.to);
            text += frame;
        }
        if (c.from.empty()) {  // the last frame's second "end" becomes an atom line
            text.replace(text.size() - 4, 4, "enx\n");
        }
        xxTrajectory& t = Play(text);
        ASSERT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
        const int n = c.from.empty() ? 3 : 2;
        ASSERT_EQ(t.GetNumFrames(), 4);
        ASSERT_TRUE(t.SetCurrentFrame(1));
        Cfx::ClearLastError();
        EXPECT_FALSE(t.SetCurrentFrame(n + 1));
        EXPECT_EQ(Cfx::GetLastError().hr, E_UNEXPECTED);
        EXPECT_EQ(Cfx::GetLastError().description, "Unexpected error reading frame " + std::to_string(n) +
                                                       ".\nWill attempt to display frames read in so far.");
        EXPECT_EQ(t.GetNumFrames(), n) << "cut to the frames before the damaged one";
        EXPECT_EQ(t.GetCurrentFrame(), 1);
        ExpectFrame(0, 3);
        ASSERT_TRUE(t.SetCurrentFrame(n)) << "the last good frame plays";
        ExpectFrame(n - 1, 3);
    }
}

TEST_F(ArcLoader, SkimmingStopsAtADamagedFrame) {
    const ArcLayout lf;
    std::vector<ArcFrame> frames = Moving(4);
    frames[0].comments = {"frame 0 is longer, so the frames are found one by one"};
    frames[2].molecules[1].push_back({"C9", 1, 2, 3});
    xxTrajectory& t = Play(ArcText(lf, frames));
    ASSERT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
    EXPECT_EQ(t.GetNumFrames(), 2);
}

// The first line of a frame is its title unless it is the "!DATE" line; a frame without one
// keeps the value of the frame read before. Frame 0 without a title still counts every atom.
TEST_F(ArcLoader, TitlesAreOptionalAndTheValueCarriesOver) {
    const ArcLayout lf;
    std::vector<ArcFrame> frames = Moving(4);
    frames[0].value.reset();
    frames[2].value.reset();
    xxTrajectory& t = Play(ArcText(lf, frames));
    ASSERT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
    EXPECT_EQ(Loader().GetAtomCount(), 3);
    EXPECT_EQ(t.GetNumFrames(), 4);
    const double energies[] = {0, -101, -101, -103};
    for (int f = 1; f <= 4; ++f) {
        ASSERT_TRUE(t.SetCurrentFrame(f));
        ExpectFrame(f - 1, 3);
        EXPECT_EQ(t.GetFrameResults().energy, energies[f - 1]) << "frame " << f;
    }
}

// x, y and z are read as "%lf" from columns 5, 20 and 35 in both archive versions; a field the
// line does not reach, or that holds no number, keeps the value of the frame before. Lines may
// end in LF or CR LF.
TEST_F(ArcLoader, CoordinatesComeFromFixedColumnsAndAbsentFieldsKeepTheirValue) {
    for (const ArcLayout& layout : {ArcLayout{.archive = 2}, ArcLayout{.archive = 3}, ArcLayout{.lineEnd = "\r\n"}}) {
        SCOPED_TRACE("archive " + std::to_string(layout.archive) + (layout.lineEnd.size() == 2 ? ", CR LF" : ""));
        document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        std::string text = ArcText(layout, Moving(2));
        // Frame 1: the first atom's line ends before z, the second holds text for y.
        std::string second = ArcFrameText(layout, MovingFrame(2, {2, 1}, 0));
        const std::size_t first = second.find("C1 ");
        const std::size_t eol = second.find(layout.lineEnd, first);
        second.replace(first, eol - first, second.substr(first, 30));
        const std::size_t other = second.find("C2 ");
        second.replace(other + 22, 3, "abc");
        xxTrajectory& t = Play(text + second);
        ASSERT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
        ASSERT_EQ(t.GetNumFrames(), 3);
        ASSERT_TRUE(t.SetCurrentFrame(2));
        ASSERT_TRUE(t.SetCurrentFrame(3));
        const std::vector<xxPoint3d> at = Positions();
        EXPECT_NEAR(at[0].x, Expected(0, 2).x, 1e-9);
        EXPECT_NEAR(at[0].y, Expected(0, 2).y, 1e-9);
        EXPECT_NEAR(at[0].z, Expected(0, 1).z, 1e-9) << "beyond the line: frame 1's value";
        EXPECT_NEAR(at[1].y, Expected(1, 1).y, 1e-9) << "no number: frame 1's value";
        EXPECT_NEAR(at[2].x, Expected(2, 2).x, 1e-9);
    }
}

TEST_F(ArcLoader, FramesOutsideZeroToTheCountAreRefusedWithoutReading) {
    xxTrajectory& t = Play(ArcText({}, Moving(3)));
    ASSERT_TRUE(t.IsTrajectoryValid());
    const std::vector<xxPoint3d> before = Positions();
    for (int frame : {-99, -1, 3, 4, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(frame);
        EXPECT_FALSE(Load(frame));
        EXPECT_EQ(Positions(), before);
    }
}

// The frame shown again without a transform is not read: its results come back all the same.
// With a transform it is read again, and the transform always applies.
TEST_F(ArcLoader, TheCurrentFrameIsReadAgainOnlyForATransform) {
    xxTrajectory& t = Play(ArcText({}, Moving(3)));
    ASSERT_TRUE(t.SetCurrentFrame(2));
    std::filesystem::rename(dir.File("run.arc"), dir.File("gone.arc"));
    double energy = kNaN;
    EXPECT_TRUE(Load(1, &energy));
    EXPECT_EQ(energy, -101);
    xxTransformMatrix shift;
    shift.T(0) = 5;
    EXPECT_FALSE(Load(1, nullptr, &shift)) << "the file is gone";
    std::filesystem::rename(dir.File("gone.arc"), dir.File("run.arc"));
    ASSERT_TRUE(Load(1, &energy, &shift));
    EXPECT_NEAR(Positions()[1].x, Expected(1, 1).x + 5, 1e-9) << "a pure translation given by the caller applies";
}

TEST_F(ArcLoader, InitRefusesFilesItCannotPlay) {
    const std::string frame = ArcFrameText({}, MovingFrame(0, {2, 1}, 1));
    const std::string model = ArcText({}, Moving(1));
    struct Case {
        const char* what;
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {"not an archive", "!KORVEN archive 4\nPBC=OFF\n" + frame, "Arc file is not in Archive format 2 or 3."},
        {"unknown periodicity", "!KORVEN archive 3\nPBC=1D\n" + frame, "Arc file has unrecognized PBC info"},
        {"no periodicity line", "!KORVEN archive 3\n", "Arc file has unrecognized PBC info"},
        {"no whole frame", "!KORVEN archive 3\nPBC=OFF\n" + frame.substr(0, frame.size() - 4), "holds no complete frame"},
        {"no atoms", "!KORVEN archive 3\nPbc=off\ntitle\n!DATE\nend\nend\n", "has no atoms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        xxTrajectory& t = Play(c.text, model);
        EXPECT_FALSE(t.IsTrajectoryValid());
        EXPECT_NE(t.GetLoaderError().find(c.error), std::string::npos) << t.GetLoaderError();
        EXPECT_EQ(t.GetNumFrames(), 0);
    }
}

TEST_F(ArcLoader, TheFileMustFitTheModel) {
    const ArcLayout none, threeD{.periodicity = "PBC=ON"}, twoD{.periodicity = "PBC=2D"};
    struct Case {
        const char* what;
        std::string arc, model;
        bool compatible;
    };
    const Case cases[] = {
        {"the same atoms", ArcText(none, Moving(2)), ArcText(none, Moving(1)), true},
        {"3-D file and model", ArcText(threeD, Moving(2)), ArcText(threeD, Moving(1)), true},
        {"2-D file and model", ArcText(twoD, Moving(2)), ArcText(twoD, Moving(1)), true},
        {"periodic file, model without cell", ArcText(threeD, Moving(2)), ArcText(none, Moving(1)), false},
        {"file without cell, periodic model", ArcText(none, Moving(2)), ArcText(threeD, Moving(1)), false},
        {"2-D file, 3-D model", ArcText(twoD, Moving(2)), ArcText(threeD, Moving(1)), false},
        {"3-D file, 2-D model", ArcText(threeD, Moving(2)), ArcText(twoD, Moving(1)), false},
        {"one atom more in the model", ArcText(none, Moving(2)), ArcText(none, Moving(1, {2, 2})), false},
        {"one atom fewer in the model", ArcText(none, Moving(2)), ArcText(none, Moving(1, {2})), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        xxTrajectory& t = Play(c.arc, c.model);
        EXPECT_EQ(t.IsTrajectoryValid(), c.compatible) << t.GetLoaderError();
    }
}

// The cell of each frame goes to the model's definition; the positions move by the
// orientation transform when the definition follows another orientation than the file's.
TEST_F(ArcLoader, PeriodicFramesSetTheCellAndOrientThePositions) {
    struct Case {
        const char* what;
        ArcLayout layout;
        std::array<double, 6> cell;  // of frame 1
        int orientation;             // given to the definition after the model was read
    };
    const Case cases[] = {
        {"3-D", {.periodicity = "PBC=ON"}, {9, 10, 11, 80, 95, 100}, 3},
        {"3-D, another orientation", {.periodicity = "PBC=ON"}, {9, 10, 11, 80, 95, 100}, 6},
        {"2-D", {.periodicity = "PBC=2D"}, {9, 10, 75, 0, 0, 0}, 19},
        {"2-D, another orientation", {.periodicity = "PBC=2D"}, {9, 10, 75, 0, 0, 0}, 20},
    };
    constexpr double deg = std::numbers::pi / 180;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        std::vector<ArcFrame> frames = Moving(2);
        frames[0].cell = c.layout.periodicity == "PBC=2D" ? std::array<double, 6>{12, 13, 90, 0, 0, 0}
                                                          : std::array<double, 6>{12, 13, 14, 90, 90, 90};
        frames[1].cell = c.cell;
        xxTrajectory& t = Play(ArcText(c.layout, frames));
        xxSymmetrySystem* system = xxMatterSymmetrySystem::FirstOf(Tree());
        ASSERT_NE(system, nullptr);
        xxSymmetryDefinition& definition = system->GetSymmetryDefinition();
        definition.SetOrientationConvention(c.orientation);
        ASSERT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
        ASSERT_TRUE(t.SetCurrentFrame(2));
        EXPECT_NEAR(definition.GetA(), c.cell[0], 1e-9);
        EXPECT_NEAR(definition.GetB(), c.cell[1], 1e-9);
        if (c.layout.periodicity == "PBC=2D") {
            EXPECT_NEAR(definition.GetGamma(), c.cell[2] * deg, 1e-12);
        } else {
            EXPECT_NEAR(definition.GetC(), c.cell[2], 1e-9);
            EXPECT_NEAR(definition.GetAlpha(), c.cell[3] * deg, 1e-12);
            EXPECT_NEAR(definition.GetBeta(), c.cell[4] * deg, 1e-12);
            EXPECT_NEAR(definition.GetGamma(), c.cell[5] * deg, 1e-12);
        }
        const xxTransformMatrix orient =
            definition.GetTransformationFromOrientation(c.layout.periodicity == "PBC=2D" ? 19 : 3);
        EXPECT_EQ(orient.IsTranslation(true), c.orientation == 3 || c.orientation == 19);
        const std::vector<xxPoint3d> at = Positions();
        for (int i = 0; i < 3; ++i) {
            const xxPoint3d e = orient.Apply(Expected(i, 1));
            const xxPoint3d& a = at[static_cast<std::size_t>(i)];
            EXPECT_NEAR(a.x, e.x, 1e-9);
            EXPECT_NEAR(a.y, e.y, 1e-9);
            EXPECT_NEAR(a.z, e.z, 1e-9);
        }
    }
}

// A cell the definition refuses (too few numbers, a degenerate cell) fails the frame and
// leaves the model, its cell included, as it was.
TEST_F(ArcLoader, ACellTheDefinitionRefusesLeavesTheModelAsItWas) {
    for (const char* cellLine : {"PBC   10.0000   11.0000", "PBC    0.0000   11.0000   12.0000   90.0000   90.0000   90.0000"}) {
        SCOPED_TRACE(cellLine);
        document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        const ArcLayout threeD{.periodicity = "PBC=ON"};
        std::vector<ArcFrame> frames = Moving(2);
        std::string text = ArcText(threeD, {frames[0]});
        std::string second = ArcFrameText(threeD, frames[1]);
        const std::size_t at = second.find("PBC");
        second.replace(at, second.find('\n', at) - at, cellLine);
        xxTrajectory& t = Play(text + second);
        ASSERT_TRUE(t.SetCurrentFrame(1));
        xxSymmetryDefinition& definition = xxMatterSymmetrySystem::FirstOf(Tree())->GetSymmetryDefinition();
        const double a = definition.GetA();
        const std::vector<xxPoint3d> before = Positions();
        EXPECT_FALSE(t.SetCurrentFrame(2));
        EXPECT_EQ(definition.GetA(), a);
        EXPECT_EQ(Positions(), before);
        EXPECT_EQ(t.GetCurrentFrame(), 1);
        EXPECT_EQ(t.GetNumFrames(), 2) << "the frame is whole; only its cell is refused";
    }
}

// A clone keeps the whole state (the symmetry system among it, so it still sets cells) but
// builds its own atom map, and plays the same frames.
TEST_F(ArcLoader, AClonePlaysTheSameFrames) {
    const ArcLayout threeD{.periodicity = "PBC=ON"};
    xxTrajectory& t = Play(ArcText(threeD, Moving(3)));
    ASSERT_TRUE(t.SetCurrentFrame(2));
    std::unique_ptr<xxFrameProvider> clone = Loader().Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetNumFrames(), 3);
    EXPECT_EQ(clone->GetTrajectoryType(), "arc");
    xxModelIterator it(Tree(), {xxBondable::classType});
    EXPECT_TRUE(clone->IsCompatibleWith(&it));
    double energy = kNaN;
    ASSERT_TRUE(clone->LoadFrame(2, it, &energy, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(energy, -102);
    ExpectFrame(2, 3);
    EXPECT_NEAR(xxMatterSymmetrySystem::FirstOf(Tree())->GetSymmetryDefinition().GetA(), 10.2, 1e-9);
    ASSERT_TRUE(clone->LoadFrame(1, it, &energy, nullptr, nullptr, nullptr, nullptr)) << "frame 1 is the clone's too";
    EXPECT_EQ(energy, -101);
}

}  // namespace

// The TRJ frame loader, bound to a host document whose file is the TRJ file and whose model is
// built here: the version and layout table in both byte orders, the frame count, random access,
// the moving atoms, cell and stress, compatibility, clones, and what bad files get.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "datamodel/energy_holder.h"
#include "datamodel/iterator.h"
#include "datamodel/self_loading.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"
#include "formats/qor_trj_xtl_chemxml/trj_loader.h"
#include "support/temp_dir.h"
#include "support/trj_file.h"
#include "support/trj_model.h"

namespace {

using cvtest::MakeTrj;
using cvtest::TrjModel;
using cvtest::TrjParameters;
using H = xxClassicalEnergyHolder;

// A TRJ file and its model in a fresh directory, the trajectory over them.
struct Played {
    cvtest::TempDir dir;
    TrjModel model;
    xxTrajectory& trajectory;

    Played(const std::string& bytes, const std::vector<int>& ids, int dimension = 0)
        : model(dir.Put("run.trj", bytes), ids, dimension), trajectory(model.Trajectory()) {}
    Played(const TrjParameters& p, const std::vector<int>& ids, int dimension = 0)
        : Played(MakeTrj(p).Bytes(), ids, dimension) {}

    xxLoadTRJ& Loader() { return dynamic_cast<xxLoadTRJ&>(*trajectory.GetFrameLoader()); }
    xxAtom3d& Atom(std::size_t k) { return *model.atoms.at(k); }
    xxTreeRoot& Tree() { return model.Tree(); }
    // The loader the trajectory would make, bound but not tested for compatibility.
    std::unique_ptr<xxLoadTRJ> Bound() {
        auto loader = std::make_unique<xxLoadTRJ>();
        loader->Init(&trajectory, trajectory.ClassTypes());
        return loader;
    }
};

void ExpectNear(const xxPoint3d& actual, const xxPoint3d& expected, double tolerance = 1e-9) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// The file's value as the reader sees it: f32 below version 2001.
// (Through memory: g++ 12 at -O2 drops the narrowing of an inlined sum otherwise.)
double AsStored(const TrjParameters& p, double v) {
    if (p.Wide()) return v;
    volatile float narrow = static_cast<float>(v);
    return narrow;
}
xxPoint3d FilePosition(const TrjParameters& p, int frame, int k) {
    xxPoint3d out;
    out.x = AsStored(p, TrjParameters::Position(frame, k, 0));
    out.y = AsStored(p, TrjParameters::Position(frame, k, 1));
    out.z = AsStored(p, TrjParameters::Position(frame, k, 2));
    return out;
}

// The file's cell vectors a = (c0, c5, c4), b = (0, c1, c3), c = (0, 0, c2) as columns.
xxMatrix3 FileCell(const TrjParameters& p, int frame) {
    std::array<double, 6> c = TrjParameters::Cell(frame);
    for (double& v : c) v = p.version >= 2010 ? v : static_cast<double>(static_cast<float>(v));
    return xxMatrix3::FromColumns({c[0], c[5], c[4]}, {0, c[1], c[3]}, {0, 0, c[2]});
}

xxVector3 Fractional(const xxMatrix3& cell, const xxPoint3d& p) { return cell.Inverse() * xxVector3{p.x, p.y, p.z}; }

void ExpectFractional(const xxVector3& actual, const xxVector3& expected, int axes = 3) {
    for (int i = 0; i < axes; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-9) << "axis " << i;
}

// ---- the hand-checked file -------------------------------------------------------------------

// Version 2010, periodic, no flags, one molecule, two moving atoms, one title line per list and
// empty texts: header end 384, frame payloads at 392, 1376, ..., 388 + 984 n bytes.
TEST(TrjLoader, TheWorkedExampleHasTheOffsetsCheckedByHand) {
    TrjParameters p;
    p.version = 2010;
    p.periodicity = 3;
    p.titles1 = {"first"};
    p.titles2 = {"second"};
    p.frames = 3;
    const cvtest::TrjFile file = MakeTrj(p);
    EXPECT_EQ(cvtest::ValidateTrj(file, p), std::nullopt);
    ASSERT_EQ(file.Bytes().size(), 388u + 984u * 3);
    EXPECT_EQ(file.headerEnd, 384u);
    EXPECT_EQ(file.frames[0], 392u);
    EXPECT_EQ(file.frames[1], 1376u);

    Played played(file.Bytes(), {1, 2}, 3);
    ASSERT_TRUE(played.trajectory.IsTrajectoryValid()) << played.trajectory.GetLoaderError();
    xxLoadTRJ& loader = played.Loader();
    EXPECT_EQ(loader.GetHeaderEnd(), 384);
    EXPECT_EQ(loader.GetFrameSize(), 984);
    EXPECT_EQ(loader.GetNumFrames(), 3);
    EXPECT_EQ(loader.GetTimeStep(), 10);
    ASSERT_EQ(loader.GetTitles(1).size(), 1u);
    EXPECT_EQ(loader.GetTitles(1)[0], std::string("first").append(75, ' '));
    EXPECT_EQ(loader.GetTitles(2)[0].substr(0, 6), "second");
}

// ---- versions, layouts and byte orders ---------------------------------------------------------

struct VersionCase {
    int version;
    bool periodic;
    std::array<int, 8> flags;
};

// Frame 3 (from 1) of a three-frame file leaves its time, third value, energies, cell, stress and
// coordinates on the model, whichever version, layout and byte order the file has.
TEST(TrjLoader, EveryVersionAndLayoutPlaysItsFramesInBothByteOrders) {
    const int versions[] = {150, 151, 155, 199, 200, 210, 219, 220, 300, 311, 1999,
                            2000, 2001, 2002, 2009, 2010, 2999, 3000};
    const std::array<int, 8> flagSets[] = {
        {},
        {0, 1, 1, 1, 1, 0, 1, 1},  // F2 without F5: record 4; F3, F4, F6, F7
        {0, 0, 1, 0, 0, 1, 0, 0},  // F2 with F5: record 3
    };
    for (int version : versions)
        for (bool periodic : {false, true})
            for (const auto& flags : flagSets)
                for (bool reversed : {false, true}) {
                    if (periodic && version <= 150) continue;
                    SCOPED_TRACE("version " + std::to_string(version) + (periodic ? " periodic" : "") + " flags " +
                                 std::to_string(flags[2] + 2 * flags[5] + 4 * flags[4]) + (reversed ? " reversed" : ""));
                    TrjParameters p;
                    p.version = version;
                    p.reversed = reversed;
                    p.periodicity = periodic ? 3 : 0;
                    p.flags = flags;
                    p.totalAtoms = 3;
                    p.moveCount = 3;
                    p.movingIds = {1, 2, 3};
                    p.titles1 = {"run"};
                    p.text1 = "text one";
                    p.velocities = [](int i) { return i == 2; };
                    p.forces = [](int i) { return i >= 1; };
                    const cvtest::TrjFile file = MakeTrj(p);
                    ASSERT_EQ(cvtest::ValidateTrj(file, p), std::nullopt);
                    Played played(file.Bytes(), {1, 2, 3}, periodic ? 3 : 0);
                    ASSERT_TRUE(played.trajectory.IsTrajectoryValid()) << played.trajectory.GetLoaderError();
                    xxLoadTRJ& loader = played.Loader();
                    EXPECT_EQ(loader.SwapsBytes(), reversed);
                    ASSERT_EQ(loader.GetNumFrames(), 3);
                    EXPECT_EQ(loader.GetTimeStep(), 10);
                    ASSERT_TRUE(played.trajectory.SetCurrentFrame(3));

                    const xxTrajectory::FrameResults& r = played.trajectory.GetFrameResults();
                    EXPECT_EQ(r.time, TrjParameters::Time(2));
                    EXPECT_EQ(r.third, TrjParameters::Third(2));
                    EXPECT_EQ(r.energy, TrjParameters::Total(2));
                    EXPECT_EQ(r.timeStep, 10);
                    xxTreeRoot& tree = played.Tree();
                    EXPECT_EQ(H::m_pptKineticEnergy.GetValue(tree), TrjParameters::Kinetic(2));
                    const bool wide = version >= 2002;
                    EXPECT_EQ(H::m_pptTemperature.IsAssigned(tree), wide);
                    EXPECT_EQ(H::m_pptBondEnergy.IsAssigned(tree), wide);
                    if (wide) {
                        EXPECT_EQ(H::m_pptTemperature.GetValue(tree), TrjParameters::Temperature(2));
                        EXPECT_EQ(H::m_pptPotentialEnergy.GetValue(tree), TrjParameters::Term(2, 0));
                        EXPECT_EQ(H::m_pptValenceDiagonalEnergy.GetValue(tree), TrjParameters::Term(2, 22));
                        EXPECT_EQ(H::m_pptNonBondEnergy.GetValue(tree), TrjParameters::Term(2, 23));
                        EXPECT_EQ(H::m_pptThreeBodyNonBondEnergy.GetValue(tree), TrjParameters::Term(2, 10));
                    }

                    const bool cellRead = periodic && version >= 220;
                    if (periodic) {
                        const xxSymmetryDefinition& d = played.model.Definition();
                        const xxMatrix3 modelCell = d.GetCell().GetFractionalToCartesian();
                        const xxMatrix3 fileCell = cellRead ? FileCell(p, 2) : modelCell;
                        for (int k = 0; k < 3; ++k)
                            ExpectFractional(Fractional(modelCell, played.Atom(static_cast<std::size_t>(k)).GetXYZ()),
                                             Fractional(fileCell, FilePosition(p, 2, k)));
                        const auto* system = played.model.system;
                        EXPECT_EQ(xxMatterSymmetrySystem::m_ppt_TrajectoryStress.IsAssigned(*system), cellRead);
                        if (cellRead) {
                            const xxMatrix3x3 s = xxMatterSymmetrySystem::m_ppt_TrajectoryStress.GetValue(*system);
                            for (int i = 0; i < 3; ++i)
                                for (int j = 0; j < 3; ++j) EXPECT_NEAR(s(i, j), s(j, i), 1e-12);
                        } else {
                            EXPECT_NEAR(d.GetA(), 20, 1e-12);  // the model keeps its cell
                        }
                    } else {
                        for (int k = 0; k < 3; ++k)
                            EXPECT_EQ(played.Atom(static_cast<std::size_t>(k)).GetXYZ(), FilePosition(p, 2, k));
                    }
                    // Frame 3 has velocities; forces only from 2002.
                    xxAtom3d& atom = played.Atom(1);
                    ASSERT_TRUE(xxMatter::m_pptRelativeVelocity.IsAssigned(atom));
                    EXPECT_EQ(xxMatter::m_pptForce.IsAssigned(atom), wide);
                    if (!cellRead) {
                        const xxPoint3d v = xxMatter::m_pptRelativeVelocity.GetValue(atom);
                        EXPECT_NEAR(v.x, AsStored(p, TrjParameters::Velocity(2, 1, 0)), 1e-9);
                        if (wide) {
                            EXPECT_NEAR(xxMatter::m_pptForce.GetValue(atom).z, TrjParameters::Force(2, 1, 2), 1e-9);
                        }
                    }
                    if (reversed) {
                        EXPECT_EQ(loader.GetTitles(1).empty(), version < 311);
                        if (version >= 311) {
                            EXPECT_EQ(loader.GetTitles(1)[0].substr(0, 3), "run");
                        }
                    }
                }
}

TEST(TrjLoader, VersionsOutsideOneToThreeThousandInBothByteOrdersAreNoTrjFile) {
    for (std::int32_t version : {0, 3001, 5000, -1, 0x7fffffff}) {
        SCOPED_TRACE(version);
        TrjParameters p;
        cvtest::TrjFile file = MakeTrj(p);
        file.writer.PatchInt32(file.versionAt, version);
        Played played(file.Bytes(), {1, 2});
        EXPECT_FALSE(played.trajectory.IsTrajectoryValid());
        EXPECT_NE(played.trajectory.GetLoaderError().find("no TRJ file"), std::string::npos)
            << played.trajectory.GetLoaderError();
    }
    // The version bytes of the other order, 1 ... 3000 either way.
    for (std::int32_t version : {1, 3000}) {
        TrjParameters p;
        p.version = version;
        p.reversed = true;
        Played played(p, {1, 2});
        EXPECT_TRUE(played.trajectory.IsTrajectoryValid()) << version << played.trajectory.GetLoaderError();
    }
}

// ---- bad headers ------------------------------------------------------------------------------

TEST(TrjLoader, DamagedHeadersFailInitWithoutCrashHangOrGiantAllocation) {
    struct Case {
        const char* name;
        int version;
        std::function<void(cvtest::TrjFile&)> damage;
    };
    const Case cases[] = {
        {"NMOL 0", 3000, [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.nmolAt, 0); }},
        {"NMOL negative", 3000, [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.nmolAt, -3); }},
        {"NMOL beyond the file", 3000, [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.nmolAt, 0x7fffffff); }},
        {"NMOVE negative", 3000, [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.nmoveAt, -30); }},
        {"NMOVE beyond the file", 3000, [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.nmoveAt, 0x10000000); }},
        {"title count negative", 3000, [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.titleCountAt, -1); }},
        {"title count beyond the file", 3000,
         [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.titleCountAt, 0x1000000); }},
        {"title length shorter than its lines", 3000,
         [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.titleLengthAt, 8); }},
        {"title length beyond the file", 3000,
         [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.titleLengthAt, 0x7fffffff); }},
        {"T1 negative", 3000, [](cvtest::TrjFile& f) { f.writer.PatchInt32(f.text1At, -5); }},
        {"T2 beyond the file", 3000, [](cvtest::TrjFile& f) { f.writer.PatchInt32(f.text2At, 0x7ffffff0); }},
        {"version 160, NMOVE -30", 160, [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.countsAt + 4, -30); }},
        {"version 160, total negative", 160, [](cvtest::TrjFile& f) { f.writer.PatchInt32(*f.countsAt, -1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrjParameters p;
        p.version = c.version;
        p.titles1 = {"a"};
        cvtest::TrjFile file = MakeTrj(p);
        c.damage(file);
        Played played(file.Bytes(), {1, 2});
        EXPECT_FALSE(played.trajectory.IsTrajectoryValid());
        EXPECT_FALSE(played.trajectory.GetLoaderError().empty());
    }
}

TEST(TrjLoader, AHeaderCutShortAnywhereFailsInit) {
    for (int version : {150, 199, 311, 3000}) {
        TrjParameters p;
        p.version = version;
        p.titles1 = {"a", "b"};
        p.titles2 = {"c"};
        p.text1 = "abc";
        p.frames = 0;
        const cvtest::TrjFile file = MakeTrj(p);
        for (std::size_t cut = 0; cut < file.headerEnd + 4; ++cut) {
            SCOPED_TRACE("version " + std::to_string(version) + " cut at " + std::to_string(cut));
            Played played(file.writer.Truncated(cut), {1, 2});
            EXPECT_FALSE(played.trajectory.IsTrajectoryValid());
        }
        // Whole, without frames: the header is sound and there is nothing to play.
        Played whole(file.Bytes(), {1, 2});
        ASSERT_TRUE(whole.trajectory.IsTrajectoryValid()) << whole.trajectory.GetLoaderError();
        EXPECT_EQ(whole.trajectory.GetNumFrames(), 0);
    }
}

TEST(TrjLoader, AMissingFileFailsInit) {
    cvtest::TempDir dir;
    TrjModel model(dir.File("run.trj"), {1, 2});
    xxTrajectory& trajectory = model.Trajectory();
    EXPECT_FALSE(trajectory.IsTrajectoryValid());
    EXPECT_NE(trajectory.GetLoaderError().find("Cannot open"), std::string::npos);
}

// ---- counting frames ---------------------------------------------------------------------------

TEST(TrjLoader, FramesAreCountedByDivisionOrByReadingThem) {
    struct Case {
        const char* name;
        int frames;
        std::size_t cut;  // bytes taken off the end
        int moving;       // 30 at version 2000 makes the frame 6 c and one with velocities 9 c
        int count;
        double timeStep;
    };
    const Case cases[] = {
        {"exact fit", 4, 0, 2, 4, 10},
        {"a length both sizes divide", 3, 0, 30, 3, 10},
        {"last frame cut short", 3, 10, 2, 2, 10},
        {"no frames", 0, 0, 2, 0, 0},
        {"one frame", 1, 0, 2, 1, 0},
        {"two frames", 2, 0, 2, 2, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrjParameters p;
        p.version = 2000;
        p.frames = c.frames;
        p.totalAtoms = c.moving;
        p.movingIds = TrjModel::Ids(c.moving);
        const std::string bytes = MakeTrj(p).Bytes();
        Played played(bytes.substr(0, bytes.size() - c.cut), TrjModel::Ids(c.moving));
        ASSERT_TRUE(played.trajectory.IsTrajectoryValid()) << played.trajectory.GetLoaderError();
        EXPECT_EQ(played.trajectory.GetNumFrames(), c.count);
        EXPECT_EQ(played.Loader().GetTimeStep(), c.timeStep);
        if (c.moving == 30) {
            EXPECT_EQ(3 * played.Loader().GetCoordinateRecordSize() * 2, played.Loader().GetFrameSize());
        }
        EXPECT_FALSE(played.trajectory.SetCurrentFrame(c.count + 1));
        xxModelIterator objects(played.Tree(), {xxMatter::classType});
        EXPECT_FALSE(played.Loader().LoadFrame(c.count, objects, nullptr, nullptr, nullptr, nullptr, nullptr));
        for (int frame = 1; frame <= c.count; ++frame) EXPECT_TRUE(played.trajectory.SetCurrentFrame(frame)) << frame;
    }
}

// ---- random access -----------------------------------------------------------------------------

TEST(TrjLoader, FramesAreReachedInAnyOrderAndOffsetsLearnedAsTheyAreMet) {
    TrjParameters p;
    p.frames = 8;
    Played played(p, {1, 2});
    ASSERT_TRUE(played.trajectory.IsTrajectoryValid());
    xxLoadTRJ& loader = played.Loader();
    const std::size_t known = loader.KnownFrameOffsets();
    EXPECT_LE(known, 3u);  // frames 0 and 1 for the time step
    for (int frame : {5, 2, 7, 0, 6}) {
        SCOPED_TRACE(frame);
        ASSERT_TRUE(played.trajectory.SetCurrentFrame(frame + 1));
        EXPECT_EQ(played.Atom(1).GetXYZ(), FilePosition(p, frame, 1));
        EXPECT_EQ(played.trajectory.GetFrameResults().time, TrjParameters::Time(frame));
    }
    EXPECT_EQ(loader.KnownFrameOffsets(), 9u);
    xxModelIterator objects(played.Tree(), {xxMatter::classType});
    EXPECT_FALSE(loader.LoadFrame(8, objects, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(loader.LoadFrame(-1, objects, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(loader.LoadFrame(-99, objects, nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(played.trajectory.SetCurrentFrame(4));
    EXPECT_EQ(played.Atom(0).GetXYZ(), FilePosition(p, 3, 0));
}

TEST(TrjLoader, TheHeldFrameIsAppliedAgainOnlyThroughATransform) {
    TrjParameters p;
    Played played(p, {1, 2});
    ASSERT_TRUE(played.trajectory.SetCurrentFrame(2));
    xxLoadTRJ& loader = played.Loader();
    played.Atom(0).SetXYZ({7, 7, 7});
    xxModelIterator objects(played.Tree(), {xxMatter::classType});
    double time = 0;
    ASSERT_TRUE(loader.LoadFrame(1, objects, nullptr, &time, nullptr, nullptr, nullptr));
    EXPECT_EQ(played.Atom(0).GetXYZ(), (xxPoint3d{7, 7, 7}));  // nothing read, nothing moved
    EXPECT_EQ(time, TrjParameters::Time(1));                  // yet the results are given

    const xxTransformMatrix shift({1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 2, 3});
    ASSERT_TRUE(loader.LoadFrame(1, objects, nullptr, nullptr, nullptr, nullptr, &shift));
    EXPECT_EQ(played.Atom(0).GetXYZ(), shift.Apply(FilePosition(p, 1, 0)));
}

// A frame that fails half-way leaves no stale data: the frame held before is read again.
TEST(TrjLoader, AFailedReadLeavesTheModelAndNoStaleFrameBehind) {
    TrjParameters p;
    p.frames = 3;
    cvtest::TempDir dir;
    const cvtest::TrjFile file = MakeTrj(p);
    TrjModel model(dir.Put("run.trj", file.Bytes()), {1, 2});
    xxTrajectory& trajectory = model.Trajectory();
    ASSERT_TRUE(trajectory.SetCurrentFrame(2));
    xxLoadTRJ& loader = dynamic_cast<xxLoadTRJ&>(*trajectory.GetFrameLoader());
    // The file loses the middle of frame 2 (from 0) after the loader counted it.
    dir.Put("run.trj", file.writer.Truncated(file.frames[2] + 600));
    xxModelIterator objects(model.Tree(), {xxMatter::classType});
    const xxPoint3d before = model.atoms[0]->GetXYZ();
    EXPECT_FALSE(loader.LoadFrame(2, objects, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(model.atoms[0]->GetXYZ(), before);
    const xxTransformMatrix shift({1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 0, 0});
    ASSERT_TRUE(loader.LoadFrame(1, objects, nullptr, nullptr, nullptr, nullptr, &shift));
    EXPECT_EQ(model.atoms[0]->GetXYZ(), shift.Apply(FilePosition(p, 1, 0)));
    EXPECT_EQ(model.atoms[1]->GetXYZ(), shift.Apply(FilePosition(p, 1, 1)));
}

// ---- moving atoms --------------------------------------------------------------------------------

TEST(TrjLoader, TheMovingListPicksTheAtomsByIdAndTheOthersStay) {
    struct Case {
        const char* name;
        std::vector<int> modelIds;
        std::vector<int> movingIds;
        // For each model atom, the moving-list entry it takes (-1: stays where it is).
        std::vector<int> takes;
    };
    const Case cases[] = {
        {"a subset out of order", {1, 2, 3, 4}, {3, 1}, {1, -1, 0, -1}},
        {"an ID the model does not have", {1, 2}, {1, 99}, {0, -1}},
        {"a repeated ID keeps its first entry", {1, 2}, {2, 2}, {-1, 0}},
        {"IDs 0 and below are skipped", {1, 0, -5, 2}, {1, 2}, {0, -1, -1, 1}},
        {"a repeated model ID moves the first", {1, 1}, {1}, {0, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrjParameters p;
        p.movingIds = c.movingIds;
        p.totalAtoms = static_cast<int>(c.modelIds.size());
        Played played(p, c.modelIds);
        ASSERT_TRUE(played.trajectory.IsTrajectoryValid()) << played.trajectory.GetLoaderError();
        for (int frame : {2, 3}) {
            ASSERT_TRUE(played.trajectory.SetCurrentFrame(frame));
            for (std::size_t k = 0; k < c.modelIds.size(); ++k) {
                const int entry = c.takes[k];
                EXPECT_EQ(played.Atom(k).GetXYZ(),
                          entry < 0 ? TrjModel::Start(static_cast<int>(k)) : FilePosition(p, frame - 1, entry))
                    << "atom " << k;
            }
        }
    }
}

// Below version 200 every atom moves, in matter order.
TEST(TrjLoader, BeforeVersion200EveryAtomMovesInMatterOrder) {
    TrjParameters p;
    p.version = 199;
    p.totalAtoms = 3;
    p.moveCount = 3;
    Played played(p, {5, 9, 7});
    ASSERT_TRUE(played.trajectory.SetCurrentFrame(2));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(played.Atom(static_cast<std::size_t>(k)).GetXYZ(), FilePosition(p, 1, k));
}

TEST(TrjLoader, VelocitiesAndForcesAbsentFromAFrameAreUnassigned) {
    TrjParameters p;
    p.velocities = [](int i) { return i == 0; };
    p.forces = [](int i) { return i == 0; };
    Played played(p, {1, 2});
    ASSERT_TRUE(played.trajectory.SetCurrentFrame(1));
    EXPECT_EQ(xxMatter::m_pptRelativeVelocity.GetValue(played.Atom(1)),
              (xxPoint3d{TrjParameters::Velocity(0, 1, 0), TrjParameters::Velocity(0, 1, 1), TrjParameters::Velocity(0, 1, 2)}));
    EXPECT_EQ(xxMatter::m_pptForce.GetValue(played.Atom(0)).y, TrjParameters::Force(0, 0, 1));
    ASSERT_TRUE(played.trajectory.SetCurrentFrame(2));
    EXPECT_FALSE(xxMatter::m_pptRelativeVelocity.IsAssigned(played.Atom(1)));
    EXPECT_FALSE(xxMatter::m_pptForce.IsAssigned(played.Atom(0)));
    EXPECT_EQ(xxMatter::m_pptRelativeVelocity.GetValue(played.Atom(1)), xxPoint3d{});
}

TEST(TrjLoader, VelocitiesOfFilesTheirTitleNamesAsOursAreScaledByAThousand) {
    const std::string ours = "Trajectory created by Kelvarin Vormane";
    struct Case {
        const char* name;
        int version;
        std::vector<std::string> titles;
        double scale;
    };
    const Case cases[] = {
        {"our title", 3000, {ours + " 4.2"}, 1000},
        {"our title exactly", 311, {ours}, 1000},
        {"another title", 3000, {"Trajectory created by someone else"}, 1},
        {"ours as the second line only", 3000, {"run", ours}, 1},
        {"no title lines", 3000, {}, 1},
        {"before titles", 310, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrjParameters p;
        p.version = c.version;
        p.titles1 = c.titles;
        p.velocities = [](int) { return true; };
        Played played(p, {1, 2});
        for (int frame : {1, 2, 1}) {
            ASSERT_TRUE(played.trajectory.SetCurrentFrame(frame));
            const double want = AsStored(p, TrjParameters::Velocity(frame - 1, 0, 2)) * c.scale;
            EXPECT_NEAR(xxMatter::m_pptRelativeVelocity.GetValue(played.Atom(0)).z, want, 1e-9);
        }
    }
}

// ---- cell and stress ------------------------------------------------------------------------------

// Every moving atom's fractional coordinates in the model's cell are those of its file
// coordinates in the file's cell; the fixed ones keep their place in the file's frame.
TEST(TrjLoader, TheFrameCellTakesTheAtomsWithIt) {
    for (bool transformGiven : {false, true}) {
        SCOPED_TRACE(transformGiven ? "through a transform" : "through the cell parameters");
        TrjParameters p;
        p.version = 3000;
        p.periodicity = 3;
        p.totalAtoms = 3;
        p.movingIds = {1, 3};
        p.velocities = [](int) { return true; };
        Played played(p, {1, 2, 3}, 3);
        ASSERT_TRUE(played.trajectory.IsTrajectoryValid()) << played.trajectory.GetLoaderError();
        xxSymmetryDefinition& d = played.model.Definition();
        const xxPoint3d fixedInFile = d.GetTransformationToOrientation(0).Apply(played.Atom(1).GetXYZ());
        xxLoadTRJ& loader = played.Loader();
        xxModelIterator objects(played.Tree(), {xxMatter::classType});
        const xxTransformMatrix turn({0, -1, 0, 1, 0, 0, 0, 0, 1}, {0, 0, 0});
        for (int frame : {1, 2, 0}) {
            SCOPED_TRACE(frame);
            ASSERT_TRUE(loader.LoadFrame(frame, objects, nullptr, nullptr, nullptr, nullptr, transformGiven ? &turn : nullptr));
            const xxMatrix3 modelCell = d.GetCell().GetFractionalToCartesian();
            ExpectFractional(Fractional(modelCell, played.Atom(0).GetXYZ()), Fractional(FileCell(p, frame), FilePosition(p, frame, 0)));
            ExpectFractional(Fractional(modelCell, played.Atom(2).GetXYZ()), Fractional(FileCell(p, frame), FilePosition(p, frame, 1)));
            const xxTransformMatrix m = transformGiven ? turn : d.GetTransformationFromOrientation(0);
            ExpectNear(played.Atom(1).GetXYZ(), m.Apply(fixedInFile));
            // The cell's velocities and the stress come through the same turn.
            const auto w = TrjParameters::CellVelocity(frame);
            ExpectNear(d.GetVector1Velocity(), m.TransformCartesianVector({w[0], w[5], w[4]}));
            ExpectNear(d.GetVector3Velocity(), m.TransformCartesianVector({0, 0, w[2]}));
            const auto s = TrjParameters::Stress(frame);
            const xxMatrix3x3 want =
                m.TransformCartesianTensor(xxMatrix3x3({s[0], s[5], s[4], s[5], s[1], s[3], s[4], s[3], s[2]}));
            const xxMatrix3x3 stress = xxMatterSymmetrySystem::m_ppt_TrajectoryStress.GetValue(*played.model.system);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) EXPECT_NEAR(stress(i, j), want(i, j), 1e-9);
            const xxPoint3d v = xxMatter::m_pptRelativeVelocity.GetValue(played.Atom(2));
            ExpectNear(v, m.TransformCartesianVector({TrjParameters::Velocity(frame, 1, 0), TrjParameters::Velocity(frame, 1, 1),
                                                      TrjParameters::Velocity(frame, 1, 2)}));
        }
    }
}

TEST(TrjLoader, ATwoDimensionalRunLaysItsPlaneCellFromBAndC) {
    TrjParameters p;
    p.version = 3000;
    p.periodicity = 2;
    Played played(p, {1, 2}, 2);
    ASSERT_TRUE(played.trajectory.IsTrajectoryValid()) << played.trajectory.GetLoaderError();
    ASSERT_TRUE(played.trajectory.SetCurrentFrame(3));
    const xxSymmetryDefinition& d = played.model.Definition();
    const auto c = TrjParameters::Cell(2);
    const xxVector3 b{0, c[1], c[3]}, cc{0, 0, c[2]};
    EXPECT_NEAR(d.GetA(), b.Length(), 1e-9);
    EXPECT_NEAR(d.GetB(), cc.Length(), 1e-9);
    EXPECT_NEAR(d.GetGamma(), std::acos(b.Dot(cc) / (b.Length() * cc.Length())), 1e-9);
    const xxVector3 normal = (1 / b.Cross(cc).Length()) * b.Cross(cc);
    const xxMatrix3 fileCell = xxMatrix3::FromColumns(b, cc, normal);
    ExpectFractional(Fractional(d.GetCell().GetFractionalToCartesian(), played.Atom(1).GetXYZ()),
                     Fractional(fileCell, FilePosition(p, 2, 1)));
    // Its vector velocities are the file's first two.
    const auto w = TrjParameters::CellVelocity(2);
    const xxTransformMatrix m = d.GetTransformationFromOrientation(29);
    ExpectNear(d.GetVector1Velocity(), m.TransformCartesianVector({w[0], w[5], w[4]}));
    ExpectNear(d.GetVector2Velocity(), m.TransformCartesianVector({0, w[1], w[3]}));
}

// ---- compatibility --------------------------------------------------------------------------------

TEST(TrjLoader, AModelMustHaveTheRunsPeriodicityAndAtomCount) {
    struct Case {
        const char* name;
        int periodicity;
        int dimension;
        int totalAtoms;
        bool compatible;
    };
    const Case cases[] = {
        {"no cell either", 0, 0, 2, true},
        {"a 3-D cell for a 3-D run", 3, 3, 2, true},
        {"a 2-D cell for a 2-D run", 2, 2, 2, true},
        {"a model cell for a run without", 0, 3, 2, false},
        {"a run cell for a model without", 3, 0, 2, false},
        {"a 2-D run on a 3-D model", 2, 3, 2, false},
        {"a 3-D run on a 2-D model", 3, 2, 2, false},
        {"periodicity 1 from 2000", 1, 3, 2, false},
        {"more atoms in the file", 0, 0, 3, false},
        {"fewer atoms in the file", 0, 0, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrjParameters p;
        p.periodicity = c.periodicity;
        p.totalAtoms = c.totalAtoms;
        Played played(p, {1, 2}, c.dimension);
        EXPECT_EQ(played.trajectory.IsTrajectoryValid(), c.compatible) << played.trajectory.GetLoaderError();
        std::unique_ptr<xxLoadTRJ> loader = played.Bound();
        EXPECT_FALSE(loader->IsCompatibleWith(nullptr));
        // A loader that was not told it is incompatible still refuses such a frame's cell.
        if (!c.compatible && c.dimension != 0 && c.periodicity != 0) {
            xxModelIterator objects(played.Tree(), {xxMatter::classType});
            const xxPoint3d before = played.Atom(0).GetXYZ();
            EXPECT_FALSE(loader->LoadFrame(1, objects, nullptr, nullptr, nullptr, nullptr, nullptr));
            EXPECT_EQ(played.Atom(0).GetXYZ(), before);
        }
    }
}

// ---- clones and a second Init ------------------------------------------------------------------------

TEST(TrjLoader, AClonePlaysWithEverythingTheSourceKnew) {
    TrjParameters p;
    p.version = 3000;
    p.periodicity = 3;
    p.titles1 = {"Trajectory created by Kelvarin Vormane"};
    p.velocities = [](int) { return true; };
    Played played(p, {1, 2}, 3);
    ASSERT_TRUE(played.trajectory.SetCurrentFrame(1));
    std::unique_ptr<xxFrameProvider> clone = played.Loader().Clone();
    ASSERT_NE(clone, nullptr);
    xxModelIterator objects(played.Tree(), {xxMatter::classType});
    EXPECT_TRUE(clone->IsCompatibleWith(&objects));
    EXPECT_EQ(clone->GetNumFrames(), 3);
    ASSERT_TRUE(clone->LoadFrame(2, objects, nullptr, nullptr, nullptr, nullptr, nullptr));
    const xxMatrix3 modelCell = played.model.Definition().GetCell().GetFractionalToCartesian();
    ExpectFractional(Fractional(modelCell, played.Atom(1).GetXYZ()), Fractional(FileCell(p, 2), FilePosition(p, 2, 1)));
    const double scaled = 1000 * TrjParameters::Velocity(2, 0, 2);
    const xxPoint3d v = xxMatter::m_pptRelativeVelocity.GetValue(played.Atom(0));
    const xxPoint3d inFile = played.model.Definition().GetTransformationToOrientation(0).TransformCartesianVector(v);
    EXPECT_NEAR(inFile.z, scaled, 1e-6);
}

TEST(TrjLoader, ASecondInitStartsAfresh) {
    TrjParameters p;
    p.frames = 4;
    Played played(p, {1, 2});
    std::unique_ptr<xxLoadTRJ> loader = played.Bound();
    xxModelIterator objects(played.Tree(), {xxMatter::classType});
    ASSERT_TRUE(loader->LoadFrame(3, objects, nullptr, nullptr, nullptr, nullptr, nullptr));
    TrjParameters other;
    other.frames = 2;
    other.version = 2002;
    played.dir.Put("run.trj", MakeTrj(other).Bytes());
    ASSERT_TRUE(loader->Init(&played.trajectory, played.trajectory.ClassTypes()));
    EXPECT_EQ(loader->GetNumFrames(), 2);
    EXPECT_EQ(loader->GetVersion(), 2002);
    ASSERT_TRUE(loader->LoadFrame(1, objects, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(played.Atom(0).GetXYZ(), FilePosition(other, 1, 0));
}

// Self-loading class types ask for the field loader's companion; none is registered here.
TEST(TrjLoader, WithoutAFieldLoaderThereIsNoCompanion) {
    TrjParameters p;
    Played played(p, {1, 2});
    played.trajectory.SetClassTypes({xxMatter::classType, xxSelfLoadingObject::classType});
    ASSERT_TRUE(played.trajectory.IsTrajectoryValid()) << played.trajectory.GetLoaderError();
    EXPECT_EQ(played.Loader().Companion(), nullptr);
    EXPECT_TRUE(played.trajectory.SetCurrentFrame(1));
}

// ---- a file beyond 4 GiB ----------------------------------------------------------------------------

TEST(TrjLoader, AFrameBeyondFourGibibytesIsReached) {
    TrjParameters p;
    p.version = 3000;
    p.totalAtoms = 2;
    p.movingIds = TrjModel::Ids(1 << 20);
    p.frames = 1;
    const cvtest::TrjFile one = MakeTrj(p);
    const std::string bytes = one.Bytes();
    const std::size_t frameStart = one.headerEnd + 4;
    const std::uint64_t frameSize = bytes.size() - frameStart;
    const std::uint64_t frames = (std::uint64_t{5} << 30) / frameSize + 1;
    cvtest::TempDir dir;
    const std::string path = dir.File("run.trj");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(frameStart));
        // All-zero frames (no velocities, no forces) of the same size, then the last one.
        out.seekp(static_cast<std::streamoff>(frameStart + (frames - 1) * frameSize));
        out.write(bytes.data() + frameStart, static_cast<std::streamsize>(frameSize));
        ASSERT_TRUE(out.good());
    }
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    if (static_cast<std::uint64_t>(status.st_blocks) * 512 > (std::uint64_t{1} << 30))
        GTEST_SKIP() << "the file system made no sparse file";
    TrjModel model(path, {1, 2});
    xxTrajectory& trajectory = model.Trajectory();
    ASSERT_TRUE(trajectory.IsTrajectoryValid()) << trajectory.GetLoaderError();
    ASSERT_EQ(static_cast<std::uint64_t>(trajectory.GetNumFrames()), frames);
    ASSERT_TRUE(trajectory.SetCurrentFrame(static_cast<int>(frames)));
    EXPECT_EQ(trajectory.GetFrameResults().energy, TrjParameters::Total(0));
    EXPECT_EQ(model.atoms[1]->GetXYZ(), FilePosition(p, 0, 1));
    ASSERT_TRUE(trajectory.SetCurrentFrame(2));
    EXPECT_EQ(model.atoms[1]->GetXYZ(), xxPoint3d{});
    std::filesystem::remove(path);
}

}  // namespace

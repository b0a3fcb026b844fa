// The HIS frame loader, bound to a host document whose file is the HIS file: byte orders,
// versions, the frame count, the values a frame leaves on the model, and what bad files get.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "datamodel/energy_holder.h"
#include "datamodel/iterator.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"
#include "formats/carmdf/his_loader.h"
#include "his_support.h"
#include "support/temp_dir.h"

namespace {

using cvtest::HisFile;
using cvtest::HisParameters;
using cvtest::carmdf::ExpectedAtom;
using cvtest::carmdf::HisDocument;
using cvtest::carmdf::HisModelCar;

// A HIS file and its model in a fresh directory, the trajectory over them.
struct Played {
    cvtest::TempDir dir;
    HisDocument doc;
    xxTrajectory& trajectory;

    Played(const HisParameters& params, const std::string& bytes,
           const std::string& documentClass = kAtomistic3dDocumentProgID)
        : doc(Put(dir, bytes), HisModelCar(params), documentClass), trajectory(doc.Trajectory()) {}
    static std::string Put(const cvtest::TempDir& dir, const std::string& bytes) { return dir.Put("run.his", bytes); }

    std::vector<xxAtom3d*> Atoms() { return doc.Tree().DescendentsOf<xxAtom3d>(); }
    xxMatterSymmetrySystem* System() { return xxMatterSymmetrySystem::FirstOf(doc.Tree()); }
    xxLoadHIS& Loader() { return dynamic_cast<xxLoadHIS&>(*trajectory.GetFrameLoader()); }
    double Root(const xxPropertyTemplate<double>& energy) { return energy.GetValue(doc.Tree()); }
    bool Assigned(const xxPropertyTemplate<double>& energy) { return energy.IsAssigned(doc.Tree()); }
};

// Positions and velocities of every atom as frame i (from 0) leaves them.
void ExpectFrame(Played& p, const HisParameters& params, int frame) {
    std::vector<xxAtom3d*> atoms = p.Atoms();
    ASSERT_EQ(atoms.size(), static_cast<std::size_t>(params.atoms));
    for (int k = 0; k < params.atoms; ++k) {
        SCOPED_TRACE("atom " + std::to_string(k + 1));
        const cvtest::carmdf::HisAtomValues want = ExpectedAtom(params, frame, k);
        EXPECT_EQ(atoms[static_cast<std::size_t>(k)]->GetXYZ(), want.position);
        EXPECT_EQ(atoms[static_cast<std::size_t>(k)]->GetVelocity(), want.velocity);
    }
}

xxMatrix3x3 Scaled(const std::array<double, 9>& block) {
    std::array<double, 9> v{};
    for (std::size_t k = 0; k < 9; ++k) v[k] = block[k] * -0.0001;
    return xxMatrix3x3(v);
}

// Offsets of the counts in the header the maker writes (record numbers from 0).
std::size_t CountAt(const HisFile& his, std::size_t record, std::size_t word = 0) {
    return his.writer.DataStart(record) + 4 * word;
}

// ---- what every version and byte order plays ----------------------------------------------

TEST(HisLoader, EveryVersionAndByteOrderPlaysEachFrameOntoTheModel) {
    struct Case {
        const char* name;
        HisParameters params;
    };
    auto make = [](double version, std::vector<int> movable, int k = 0) {
        HisParameters p;
        p.version = version;
        p.atoms = 4;
        p.movable = std::move(movable);
        p.frames = 4;
        p.k1 = 2 * k, p.k2 = 3 * k, p.g = 2 * k, p.k5 = k, p.k6 = 2 * k, p.e = 3 * k;
        return p;
    };
    const Case cases[] = {
        {"2.55: every atom in every frame, no movable list", make(2.55, {})},
        {"2.59: still before 2.6", make(2.59, {4, 2})},
        {"2.6: the movable atoms, out of order", make(2.6, {4, 2})},
        {"2.6 + 5e-5 counts as 2.6", make(2.6 + 5e-5, {3})},
        {"2.6 - 5e-5 counts as 2.6", make(2.6 - 5e-5, {1, 3})},
        {"2.9: five-character names", make(2.9, {2, 3})},
        {"2.9, every atom movable", make(2.9, {})},
        {"every count above 0, K6 > 0", make(2.9, {4, 1}, 1)},
        {"2.55 with every count above 0", make(2.55, {}, 2)},
    };
    for (const Case& c : cases) {
        for (bool reversed : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (reversed ? ", reversed" : ", native"));
            HisParameters params = c.params;
            params.reversed = reversed;
            Played p(params, cvtest::MakeHis(params).writer.Bytes());
            ASSERT_TRUE(p.trajectory.IsTrajectoryValid()) << p.trajectory.GetLoaderError();
            ASSERT_EQ(p.trajectory.GetNumFrames(), 4);
            EXPECT_EQ(p.Loader().SwapsBytes(), reversed);
            // Forwards, backwards, and back to frame 0 from a later one.
            for (int frame : {3, 2, 4, 1, 3}) {
                SCOPED_TRACE("frame " + std::to_string(frame));
                ASSERT_TRUE(p.trajectory.SetCurrentFrame(frame));
                const int i = frame - 1;
                ExpectFrame(p, params, i);
                const auto e = HisParameters::Energies(i);
                EXPECT_EQ(p.Root(xxClassicalEnergyHolder::m_pptTotalEnergy), e[0]);
                EXPECT_EQ(p.Root(xxClassicalEnergyHolder::m_pptPotentialEnergy), e[1]);
                EXPECT_EQ(p.Root(xxClassicalEnergyHolder::m_pptKineticEnergy), e[2]);
                const xxSpaceGroup* group = p.System()->GetSymmetryDefinition().As<xxSpaceGroup>();
                ASSERT_TRUE(group);
                EXPECT_NEAR(group->GetA(), params.Cell(i)[0], 1e-12);
                EXPECT_NEAR(group->GetC(), params.Cell(i)[2], 1e-12);
                EXPECT_NEAR(group->GetGamma(), params.Cell(i)[5], 1e-12) << "angles as stored: radians";
                EXPECT_EQ(xxMatterSymmetrySystem::m_pptPotentialStress.GetValue(*p.System()),
                          Scaled(HisParameters::Stress(i, 4)));
            }
        }
    }
}

TEST(HisLoader, AFrameSetsThreeEnergiesAndUnassignsTheOthers) {
    HisParameters params;
    params.frames = 2;
    Played p(params, cvtest::MakeHis(params).writer.Bytes());
    for (const xxPropertyTemplate<double>* energy : xxClassicalEnergyHolder::EnergyTemplates())
        energy->SetValue(p.doc.Tree(), 5);
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(2));
    for (const xxPropertyTemplate<double>* energy : xxClassicalEnergyHolder::EnergyTemplates()) {
        SCOPED_TRACE(energy->Name());
        const bool set = energy == &xxClassicalEnergyHolder::m_pptTotalEnergy ||
                         energy == &xxClassicalEnergyHolder::m_pptKineticEnergy ||
                         energy == &xxClassicalEnergyHolder::m_pptPotentialEnergy;
        EXPECT_EQ(p.Assigned(*energy), set);
    }
}

TEST(HisLoader, ResultsGiveTheTimeOfTheStepInSixtyFourBits) {
    struct Case {
        int steps, first, frame;  // I, S, frame from 0
        double timeStep;          // as stored (x 1000)
        double time;              // ((frame + 1) I + S' - 1) dt
    } cases[] = {
        {10, 0, 0, 1000, 10},      // S = 0 counts as 1
        {10, 1, 0, 1000, 10},
        {10, 0, 2, 1000, 30},
        {10, 1, 2, 1000, 30},
        {10, 5, 1, 2500, 2.5 * 24},
        {100000, 1, 2, 1, 300000 * 0.001},
        // Past any 32-bit step number.
        {INT_MAX, INT_MAX, 2, 1000, 3.0 * INT_MAX + INT_MAX - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("I " + std::to_string(c.steps) + ", S " + std::to_string(c.first) + ", frame " +
                     std::to_string(c.frame));
        HisParameters params;
        params.frames = 3;
        params.stepsBetweenFrames = c.steps;
        params.firstStep = c.first;
        params.timeStep = c.timeStep;
        Played p(params, cvtest::MakeHis(params).writer.Bytes());
        ASSERT_TRUE(p.trajectory.SetCurrentFrame(c.frame + 1));
        const xxTrajectory::FrameResults& r = p.trajectory.GetFrameResults();
        EXPECT_EQ(r.energy, HisParameters::Energies(c.frame)[0]);
        EXPECT_EQ(r.time, c.time);
        EXPECT_EQ(r.third, c.timeStep / 1000);
        EXPECT_EQ(r.timeStep, c.steps * (c.timeStep / 1000));
    }
}

// ---- the frame count and damaged frames -------------------------------------------------------

TEST(HisLoader, TheCountIsTheWholeFramesAfterFrameZero) {
    HisParameters params;
    params.frames = 3;
    const HisFile his = cvtest::MakeHis(params);
    const std::size_t frame = his.frameFlags[2] - his.frameFlags[1];
    struct Case {
        const char* name;
        std::size_t size;
        int count;
    } cases[] = {
        {"whole", his.writer.Size(), 3},
        {"the last closing length word missing", his.writer.Size() - 1, 2},
        {"one byte of the last frame left", his.writer.Size() - frame + 1, 2},
        {"frame 1 alone", his.writer.Size() - frame, 2},
        {"frame 0 alone", his.velocityEnd + 4, 1},
        {"more than frame 0, less than frame 1", his.velocityEnd + 4 + frame - 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Played p(params, his.writer.Truncated(c.size));
        ASSERT_TRUE(p.trajectory.IsTrajectoryValid()) << p.trajectory.GetLoaderError();
        EXPECT_EQ(p.trajectory.GetNumFrames(), c.count);
        EXPECT_TRUE(p.trajectory.SetCurrentFrame(c.count));
        ExpectFrame(p, params, c.count - 1);
    }
    // More bytes than whole frames: rounded down; they make no frame.
    std::string longer = his.writer.Bytes() + std::string(frame - 1, '\1');
    Played p(params, longer);
    EXPECT_EQ(p.trajectory.GetNumFrames(), 3);
}

TEST(HisLoader, AFrameThatCannotBeReadFailsAloneAndLeavesTheModelAsItWas) {
    HisParameters params;
    params.frames = 4;
    params.movable = {2};
    params.atoms = 3;
    struct Case {
        const char* name;
        int frame;    // from 0
        bool shrink;  // the file loses its last 20 bytes after it was counted; else a wrong flag
    } cases[] = {
        {"frame 0's flag says 1", 0, false},
        {"frame 2's flag says 0", 2, false},
        {"the last frame cut short after the count", 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HisFile his = cvtest::MakeHis(params);
        if (!c.shrink) his.writer.PatchInt32(his.frameFlags[static_cast<std::size_t>(c.frame)], c.frame == 0 ? 1 : 0);
        Played p(params, his.writer.Bytes());
        ASSERT_TRUE(p.trajectory.IsTrajectoryValid()) << p.trajectory.GetLoaderError();
        ASSERT_EQ(p.trajectory.GetNumFrames(), 4);
        if (c.shrink) std::filesystem::resize_file(p.dir.File("run.his"), his.writer.Size() - 20);
        const int shown = c.frame == 1 ? 3 : 2;  // a good frame, other than the damaged one
        ASSERT_TRUE(p.trajectory.SetCurrentFrame(shown));
        const xxPoint3d before = p.Atoms()[1]->GetXYZ();
        EXPECT_FALSE(p.trajectory.SetCurrentFrame(c.frame + 1));
        EXPECT_EQ(p.trajectory.GetCurrentFrame(), shown);
        EXPECT_EQ(p.Atoms()[1]->GetXYZ(), before);
        EXPECT_EQ(p.Root(xxClassicalEnergyHolder::m_pptTotalEnergy), HisParameters::Energies(shown - 1)[0]);
        EXPECT_NE(p.Loader().GetErrorMessage(), "");
        for (int other = 1; other <= 4; ++other) {
            if (other == c.frame + 1) continue;
            SCOPED_TRACE("frame " + std::to_string(other));
            ASSERT_TRUE(p.trajectory.SetCurrentFrame(other));
            ExpectFrame(p, params, other - 1);
        }
    }
}

TEST(HisLoader, FramesOutsideTheFileAreRefusedWithoutReading) {
    HisParameters params;
    params.frames = 3;
    Played p(params, cvtest::MakeHis(params).writer.Bytes());
    xxLoadHIS& loader = p.Loader();
    xxModelIterator objects(p.doc.Tree(), {xxBondable::classType});
    const xxPoint3d before = p.Atoms()[0]->GetXYZ();
    for (int frame : {-99, -1, 3, 4, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(frame);
        double energy = 7;
        EXPECT_FALSE(loader.LoadFrame(frame, objects, &energy, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(energy, 7);
        EXPECT_EQ(p.Atoms()[0]->GetXYZ(), before);
        EXPECT_FALSE(p.Assigned(xxClassicalEnergyHolder::m_pptTotalEnergy));
    }
}

// The atoms a frame moves are found again once the model changed shape: never an object that
// is gone, and the file's atoms go to the model's by its CAR/MDF order as it now stands.
TEST(HisLoader, AModelThatChangesShapeBetweenFramesIsMappedAfresh) {
    HisParameters params;
    params.frames = 3;
    params.atoms = 3;
    Played p(params, cvtest::MakeHis(params).writer.Bytes());
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(1));
    std::vector<xxAtom3d*> atoms = p.Atoms();
    atoms[1]->Delete();
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(2));
    atoms = p.Atoms();
    ASSERT_EQ(atoms.size(), 2u);
    EXPECT_EQ(atoms[0]->GetXYZ(), ExpectedAtom(params, 1, 0).position);
    EXPECT_EQ(atoms[1]->GetXYZ(), ExpectedAtom(params, 1, 1).position);
    // An atom added at the end takes the file's third atom.
    xxAtom3d& added = atoms[1]->GetParent()->CreateChild<xxAtom3d>("O");
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(3));
    EXPECT_EQ(added.GetXYZ(), ExpectedAtom(params, 2, 2).position);
}

// ---- files that cannot be played ----------------------------------------------------------

TEST(HisLoader, AHeaderThatDoesNotFitRefusesTheFile) {
    HisParameters params;
    params.version = 2.9;
    params.atoms = 3;
    params.movable = {1, 3};
    params.k6 = 1;
    params.frames = 2;
    const std::size_t h8 = 7, h11 = 10, h14 = 13;
    struct Case {
        const char* name;
        std::size_t offset;  // of a 4-byte value; 0 for a version patch or a cut
        std::int32_t value;
        double version = 0;    // patched at byte 96 when not 0
        std::size_t cut = 0;   // the file's size when not 0
    };
    const HisFile his = cvtest::MakeHis(params);
    const Case cases[] = {
        {"version 0", 0, 0, -1},
        {"version 1000", 0, 0, 1000},
        {"version 0.1", 0, 0, 0.1},
        {"version not a number", 0, 0, std::numeric_limits<double>::quiet_NaN()},
        {"version 5000", 0, 0, 5000},
        {"K1 negative", CountAt(his, 4), -1},
        {"K1 beyond the file", CountAt(his, 4), INT_MAX},
        {"K2 negative", CountAt(his, 5), -2},
        {"K2 beyond the file", CountAt(his, 5), INT_MAX / 2},
        {"N negative", CountAt(his, 6), -3},
        {"N beyond the file", CountAt(his, 6), 100000000},
        {"M negative", CountAt(his, h8, 1), -1},
        {"M above N", CountAt(his, h8, 1), 4},
        {"movable atom 0", CountAt(his, h8, 2), 0},
        {"movable atom N + 1", CountAt(his, h8, 3), 4},
        {"movable atom negative", CountAt(his, h8, 2), INT_MIN},
        {"G negative", CountAt(his, 8), -1},
        {"G beyond the file", CountAt(his, 8), INT_MAX},
        {"K5 negative", CountAt(his, 9), -1},
        {"K5 beyond the file", CountAt(his, 9), 1 << 30},
        {"K6 negative", CountAt(his, h11), -1},
        {"K6 beyond the file", CountAt(his, h11), INT_MAX},
        {"E negative", CountAt(his, h14), -1},
        {"E beyond the file", CountAt(his, h14), INT_MAX},
        {"cut before the version", 0, 0, 0, 100},
        {"cut inside H13", 0, 0, 0, 20000},
        {"cut inside frame 0's positions", 0, 0, 0, his.velocityEnd - 40},
        {"cut inside frame 0's closing length word", 0, 0, 0, his.velocityEnd + 2},
        {"empty", 0, 0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HisFile bad = cvtest::MakeHis(params);
        if (c.offset) bad.writer.PatchInt32(c.offset, c.value);
        if (c.version != 0) bad.writer.PatchDouble(96, c.version == -1 ? 0 : c.version);
        std::string bytes = c.cut ? bad.writer.Truncated(c.cut == 1 ? 0 : c.cut) : bad.writer.Bytes();
        Played p(params, bytes);
        const xxPoint3d before = p.Atoms()[0]->GetXYZ();
        EXPECT_FALSE(p.trajectory.IsTrajectoryValid());
        EXPECT_EQ(p.trajectory.GetNumFrames(), 0);
        EXPECT_FALSE(p.trajectory.SetCurrentFrame(1));
        EXPECT_NE(p.trajectory.GetLoaderError(), "") << "no reason given";
        EXPECT_EQ(p.Atoms()[0]->GetXYZ(), before);
    }
}

TEST(HisLoader, OnlyOneClassOfMatterMoves) {
    HisParameters params;
    const std::string bytes = cvtest::MakeHis(params).writer.Bytes();
    struct Case {
        std::vector<unsigned> classTypes;
        bool valid;
    } cases[] = {
        {{xxBondable::classType}, true},
        {{xxAtom::classType}, true},
        {{xxMatter::classType}, true},
        {{}, false},
        {{xxAtom3d::classType}, false},
        {{xxMolecule::classType}, false},
        {{xxBondable::classType, xxBondable::classType}, false},
        {{xxBondable::classType, xxAtom::classType}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.classTypes.size());
        Played p(params, bytes);
        p.trajectory.SetClassTypes(c.classTypes);
        EXPECT_EQ(p.trajectory.IsTrajectoryValid(), c.valid) << p.trajectory.GetLoaderError();
    }
}

TEST(HisLoader, TheFileMustFitTheModel) {
    struct Case {
        const char* name;
        bool filePeriodic, modelPeriodic;
        int fileAtoms, modelAtoms;
        bool valid;
    } cases[] = {
        {"both periodic", true, true, 3, 3, true},
        {"neither periodic", false, false, 3, 3, true},
        {"a periodic file on a model without a cell", true, false, 3, 3, false},
        {"a file without a cell on a periodic model", false, true, 3, 3, false},
        {"fewer atoms in the file", true, true, 2, 3, false},
        {"more atoms in the file", true, true, 4, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HisParameters file, model;
        file.periodic = c.filePeriodic;
        file.atoms = c.fileAtoms;
        model.periodic = c.modelPeriodic;
        model.atoms = c.modelAtoms;
        cvtest::TempDir dir;
        HisDocument doc(dir.Put("run.his", cvtest::MakeHis(file).writer.Bytes()), HisModelCar(model));
        xxTrajectory& t = doc.Trajectory();
        EXPECT_EQ(t.IsTrajectoryValid(), c.valid);
        if (c.valid) {
            ASSERT_TRUE(t.SetCurrentFrame(1));
            EXPECT_EQ(xxMatterSymmetrySystem::FirstOf(doc.Tree()) != nullptr, c.modelPeriodic);
        }
    }
}

TEST(HisLoader, ATreeRootThatHoldsNoEnergiesAbortsBeforeAnythingMoves) {
    HisParameters params;
    params.frames = 2;
    Played p(params, cvtest::MakeHis(params).writer.Bytes(), kMeso3dDocumentProgID);
    ASSERT_FALSE(p.doc.Tree().IsA(xxClassicalEnergyHolder::classType));
    ASSERT_TRUE(p.trajectory.IsTrajectoryValid()) << p.trajectory.GetLoaderError();
    const xxPoint3d before = p.Atoms()[0]->GetXYZ();
    const double a = p.System()->GetSymmetryDefinition().GetA();
    try {
        p.trajectory.SetCurrentFrame(2);
        ADD_FAILURE() << "nothing thrown";
    } catch (const Cfx::CfxResult& r) {
        EXPECT_EQ(r.Hr(), E_ABORT);
        EXPECT_EQ(r.Description(), "Trajectory reader is operating on an unexpected kind of document.");
    }
    EXPECT_EQ(p.Atoms()[0]->GetXYZ(), before);
    EXPECT_EQ(p.Atoms()[0]->GetVelocity(), xxPoint3d{});
    EXPECT_EQ(p.System()->GetSymmetryDefinition().GetA(), a);
    EXPECT_FALSE(xxMatterSymmetrySystem::m_pptPotentialStress.IsAssigned(*p.System()));
}

// ---- transforms, stresses, clones ---------------------------------------------------------

TEST(HisLoader, StressesAreScaledCopiesSoACallerTransformNeverCompounds) {
    HisParameters params;
    params.frames = 2;
    Played p(params, cvtest::MakeHis(params).writer.Bytes());
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(2));
    xxMatterSymmetrySystem& system = *p.System();
    EXPECT_EQ(xxMatterSymmetrySystem::m_pptPotentialStress.GetValue(system), Scaled(HisParameters::Stress(1, 4)));
    EXPECT_EQ(xxMatterSymmetrySystem::m_ppt_TrajectoryStress.GetValue(system), Scaled(HisParameters::Stress(1, 0)));

    // A quarter turn about z with a shift, twice on the frame shown.
    const xxTransformMatrix turn({0, -1, 0, 1, 0, 0, 0, 0, 1}, {5, 6, 7});
    xxModelIterator objects(p.doc.Tree(), {xxBondable::classType});
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        double energy = 0;
        ASSERT_TRUE(p.Loader().LoadFrame(1, objects, &energy, nullptr, nullptr, nullptr, &turn));
        EXPECT_EQ(energy, HisParameters::Energies(1)[0]);
        EXPECT_EQ(xxMatterSymmetrySystem::m_pptPotentialStress.GetValue(system),
                  turn.TransformCartesianTensor(Scaled(HisParameters::Stress(1, 4))));
        EXPECT_EQ(xxMatterSymmetrySystem::m_ppt_TrajectoryStress.GetValue(system),
                  turn.TransformCartesianTensor(Scaled(HisParameters::Stress(1, 0))));
        const cvtest::carmdf::HisAtomValues want = ExpectedAtom(params, 1, 0);
        EXPECT_EQ(p.Atoms()[0]->GetXYZ(), turn.Apply(want.position));
        EXPECT_EQ(p.Atoms()[0]->GetVelocity(), 1000.0 * turn.TransformCartesianVector(0.001 * want.velocity));
    }
}

TEST(HisLoader, TheOrientationOfTheCellMovesPositionsAndVelocitiesWhenItTurns) {
    HisParameters params;
    params.frames = 2;
    Played p(params, cvtest::MakeHis(params).writer.Bytes());
    // A cell laid out "yzx": the file's "xyz" coordinates must be turned into it.
    p.System()->GetSymmetryDefinition().SetOrientationConvention(xxLatticeOrientation::kYZX);
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(2));
    const xxTransformMatrix orientation = p.System()->GetSymmetryDefinition().GetTransformationFromOrientation(3);
    ASSERT_FALSE(orientation.IsTranslation(true));
    const cvtest::carmdf::HisAtomValues want = ExpectedAtom(params, 1, 1);
    const xxPoint3d at = p.Atoms()[1]->GetXYZ(), expected = orientation.Apply(want.position);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(at[c], expected[c], 1e-12);
    const xxPoint3d velocity = p.Atoms()[1]->GetVelocity();
    const xxPoint3d turned = 1000.0 * orientation.TransformCartesianVector(0.001 * want.velocity);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(velocity[c], turned[c], 1e-9);
}

TEST(HisLoader, ACellTheDefinitionRefusesFailsTheFrameWithTheModelAsItWas) {
    HisParameters params;
    params.frames = 3;
    HisFile his = cvtest::MakeHis(params);
    // Frame 2's cell: a = 0.
    his.writer.PatchDouble(his.writer.DataStart(his.writer.NumRecords() - 3), 0);
    Played p(params, his.writer.Bytes());
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(2));
    EXPECT_FALSE(p.trajectory.SetCurrentFrame(3));
    ExpectFrame(p, params, 1);
    EXPECT_EQ(p.Root(xxClassicalEnergyHolder::m_pptTotalEnergy), HisParameters::Energies(1)[0]);
    EXPECT_EQ(p.trajectory.GetCurrentFrame(), 2);
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(1));
    ExpectFrame(p, params, 0);
}

TEST(HisLoader, AClonePlaysTheSameFramesInTheSameByteOrder) {
    HisParameters params;
    params.frames = 3;
    params.reversed = true;
    params.atoms = 3;
    params.movable = {3, 1};
    Played p(params, cvtest::MakeHis(params).writer.Bytes());
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(2));
    std::unique_ptr<xxFrameProvider> clone = p.Loader().Clone();
    auto& copy = dynamic_cast<xxLoadHIS&>(*clone);
    EXPECT_TRUE(copy.SwapsBytes());
    EXPECT_EQ(copy.GetNumFrames(), 3);
    xxModelIterator objects(p.doc.Tree(), {xxBondable::classType});
    EXPECT_TRUE(copy.IsCompatibleWith(&objects)) << "the clone lost the model or its symmetry system";
    for (int frame : {2, 0, 1}) {
        SCOPED_TRACE(frame);
        double time = 0;
        ASSERT_TRUE(copy.LoadFrame(frame, objects, nullptr, &time, nullptr, nullptr, nullptr));
        ExpectFrame(p, params, frame);
        EXPECT_EQ(time, 10.0 * (frame + 1));
        EXPECT_NEAR(p.System()->GetSymmetryDefinition().GetA(), params.Cell(frame)[0], 1e-12);
    }
}

// ---- a file beyond 4 GiB ------------------------------------------------------------------

// Whether the directory's file system keeps a file with a hole of 64 MiB small.
bool MakesSparseFiles(const cvtest::TempDir& dir) {
    const std::string probe = dir.File("probe");
    {
        std::ofstream out(probe, std::ios::binary);
        out.seekp(64 << 20);
        out.put('\1');
    }
    struct stat status {};
    const bool sparse = ::stat(probe.c_str(), &status) == 0 && status.st_blocks * 512 < (1 << 20);
    std::filesystem::remove(probe);
    return sparse;
}

TEST(HisLoader, ALastFrameBeyondFourGibibytesLoads) {
    cvtest::TempDir dir;
    if (!MakesSparseFiles(dir)) GTEST_SKIP() << "the file system makes no sparse files";
    HisParameters params;
    params.atoms = 500;
    params.frames = 2;
    const HisFile his = cvtest::MakeHis(params);
    const std::uint64_t frameSize = his.writer.Size() - (his.velocityEnd + 4);
    const std::uint64_t flag1 = his.frameFlags[1];
    // The first frame whose flag lies beyond 4 GiB; the frames between are holes (their flags
    // read 0, so they do not load).
    const std::uint64_t last = ((std::uint64_t{1} << 32) - flag1) / frameSize + 2;
    const std::uint64_t lastFlag = flag1 + (last - 1) * frameSize;
    ASSERT_GT(lastFlag, std::uint64_t{1} << 32);
    const std::string path = dir.File("run.his");
    {
        std::ofstream out(path, std::ios::binary);
        const std::string& bytes = his.writer.Bytes();
        out.write(bytes.data(), static_cast<std::streamsize>(his.velocityEnd + 4));
        out.seekp(static_cast<std::streamoff>(lastFlag - 4));
        out.write(bytes.data() + (flag1 - 4), static_cast<std::streamsize>(frameSize));
        ASSERT_TRUE(out.good());
    }
    HisDocument doc(path, HisModelCar(params));
    xxTrajectory& t = doc.Trajectory();
    ASSERT_TRUE(t.IsTrajectoryValid()) << t.GetLoaderError();
    ASSERT_EQ(static_cast<std::uint64_t>(t.GetNumFrames()), last + 1);
    ASSERT_TRUE(t.SetCurrentFrame(t.GetNumFrames()));
    const std::vector<xxAtom3d*> atoms = doc.Tree().DescendentsOf<xxAtom3d>();
    EXPECT_EQ(atoms.back()->GetXYZ(), ExpectedAtom(params, 1, params.atoms - 1).position);
    EXPECT_EQ(t.GetFrameResults().time, 10.0 * static_cast<double>(last + 1));
    EXPECT_FALSE(t.SetCurrentFrame(t.GetNumFrames() - 1)) << "a hole loaded";
    std::filesystem::remove(path);
}

}  // namespace

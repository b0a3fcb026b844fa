// The TRJ loader's companion: the frame loader registered as "FLDLoader", made when the
// trajectory also animates self-loading objects and handed every frame before the TRJ part.
// A fake stands in for the field loader here (its own executable: the name is registered for
// the whole process).
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datamodel/self_loading.h"
#include "formats/qor_trj_xtl_chemxml/trj_loader.h"
#include "frame/loader_registration.h"
#include "support/temp_dir.h"
#include "support/trj_file.h"
#include "support/trj_model.h"

namespace {

class FakeFieldLoader : public cartovane::RegisteredLoader<FakeFieldLoader, xxFrameLoader> {
public:
    static const cartovane::LoaderRegistration<FakeFieldLoader> registration;

    struct Call {
        int frame;
        const xxTransformMatrix* transform;
        xxPoint3d firstAtom;  // where the first object stood when the companion was called
    };
    struct Record {
        int inits = 0;
        bool refuseInit = false;
        std::vector<Call> calls;
        int alive = 0;
    };
    static Record& Log() {
        static Record record;
        return record;
    }

    FakeFieldLoader() : RegisteredLoader(kTextFile) { ++Log().alive; }
    FakeFieldLoader(const FakeFieldLoader& other) : RegisteredLoader(other) { ++Log().alive; }
    ~FakeFieldLoader() override { --Log().alive; }

    std::unique_ptr<xxFrameProvider> Clone() override { return std::unique_ptr<xxFrameProvider>(new FakeFieldLoader(*this)); }
    bool Init(const xxTrajectory*, const std::vector<unsigned>&) override {
        ++Log().inits;
        return !Log().refuseInit;
    }
    std::string GetTrajectoryType() const override { return "fld"; }
    int GetNumFrames() const override { return 0; }
    xxBool LoadFrame(int frame, xxIterator& objects, double*, double*, double*, double*,
                     const xxTransformMatrix* transform) override {
        xxObject* first = objects.GetNext();
        Log().calls.push_back({frame, transform, first ? first->GetXYZ() : xxPoint3d{}});
        return false;  // not used
    }
    xxBool IsCompatibleWith(xxIterator*) override { return true; }
    xxBool IsFileExtension(std::string extension) const override { return extension == "fld"; }
    std::string GetFileExtension() const override { return "fld"; }
    std::string GetFileFilter() const override { return "FLD Files (*.fld) |*.fld|"; }
};

const cartovane::LoaderRegistration<FakeFieldLoader> FakeFieldLoader::registration{"FLDLoader"};

struct Played {
    cvtest::TempDir dir;
    cvtest::TrjParameters params;
    cvtest::TrjModel model;
    xxTrajectory& trajectory;

    explicit Played(bool selfLoading)
        : model(dir.Put("run.trj", cvtest::MakeTrj(params).Bytes()), {1, 2}), trajectory(model.Trajectory()) {
        FakeFieldLoader::Log() = {};
        if (selfLoading) trajectory.SetClassTypes({xxMatter::classType, xxSelfLoadingObject::classType});
    }
    xxLoadTRJ& Loader() { return dynamic_cast<xxLoadTRJ&>(*trajectory.GetFrameLoader()); }
};

TEST(TrjCompanion, IsMadeOnlyForSelfLoadingClassTypes) {
    for (bool selfLoading : {false, true}) {
        Played p(selfLoading);
        ASSERT_TRUE(p.trajectory.IsTrajectoryValid()) << p.trajectory.GetLoaderError();
        EXPECT_EQ(p.Loader().Companion() != nullptr, selfLoading);
        EXPECT_EQ(FakeFieldLoader::Log().inits, selfLoading ? 1 : 0);
    }
}

TEST(TrjCompanion, ARefusedInitLeavesNone) {
    Played p(true);
    FakeFieldLoader::Log().refuseInit = true;
    ASSERT_TRUE(p.trajectory.IsTrajectoryValid());
    EXPECT_EQ(p.Loader().Companion(), nullptr);
    EXPECT_EQ(FakeFieldLoader::Log().alive, 0);
}

// Before the TRJ part moves anything, with the same frame and transform.
TEST(TrjCompanion, LoadsEachFrameFirst) {
    Played p(true);
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(2));
    const xxPoint3d atFrame2 = p.model.atoms[0]->GetXYZ();
    ASSERT_TRUE(p.trajectory.SetCurrentFrame(3));
    xxModelIterator objects(p.model.Tree(), {xxMatter::classType});
    const xxTransformMatrix shift({1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 1, 1});
    ASSERT_TRUE(p.Loader().LoadFrame(0, objects, nullptr, nullptr, nullptr, nullptr, &shift));
    const std::vector<FakeFieldLoader::Call>& calls = FakeFieldLoader::Log().calls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].frame, 1);
    EXPECT_EQ(calls[1].frame, 2);
    EXPECT_EQ(calls[1].firstAtom, atFrame2);
    EXPECT_EQ(calls[1].transform, nullptr);
    EXPECT_EQ(calls[2].frame, 0);
    EXPECT_EQ(calls[2].transform, &shift);
}

TEST(TrjCompanion, AClonesGetsItsOwnAndTheSourceKeepsIts) {
    Played p(true);
    ASSERT_TRUE(p.trajectory.IsTrajectoryValid());
    const xxFrameProvider* own = p.Loader().Companion();
    std::unique_ptr<xxFrameProvider> clone = p.Loader().Clone();
    const auto& copy = dynamic_cast<const xxLoadTRJ&>(*clone);
    ASSERT_NE(copy.Companion(), nullptr);
    EXPECT_NE(copy.Companion(), own);
    EXPECT_EQ(p.Loader().Companion(), own);
    EXPECT_EQ(FakeFieldLoader::Log().alive, 2);
    clone.reset();
    EXPECT_EQ(FakeFieldLoader::Log().alive, 1);
}

}  // namespace

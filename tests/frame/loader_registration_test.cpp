#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "cfx/cfx.h"
#include "frame/loader_registration.h"
#include "utilities/frame_loader.h"
#include "utilities/object_loader.h"

namespace {

// Test-only loaders registered the way the library's loaders are.
class TestTrajectoryLoader : public cartovane::RegisteredLoader<TestTrajectoryLoader, xxFrameLoader> {
public:
    static const cartovane::LoaderRegistration<TestTrajectoryLoader> registration;
    static inline bool failNextConstruction = false;

    TestTrajectoryLoader() : RegisteredLoader(kBinaryFile) {
        if (std::exchange(failNextConstruction, false)) throw std::runtime_error("construction failed");
    }
    TestTrajectoryLoader(const TestTrajectoryLoader&) = default;

    std::unique_ptr<xxFrameProvider> Clone() override { return std::make_unique<TestTrajectoryLoader>(*this); }
    std::string GetTrajectoryType() const override { return "test"; }
    int GetNumFrames() const override { return 0; }
    xxBool LoadFrame(int, xxIterator&, double*, double*, double*, double*, const xxTransformMatrix*) override {
        return false;
    }
    xxBool IsCompatibleWith(xxIterator*) override { return false; }
    xxBool IsFileExtension(std::string extension) const override { return extension == "test"; }
    std::string GetFileExtension() const override { return "test"; }
    std::string GetFileFilter() const override { return "Test Files (*.test) |*.test|"; }
};

class TestGridLoader : public cartovane::RegisteredLoader<TestGridLoader, xxObjectLoader> {
public:
    static const cartovane::LoaderRegistration<TestGridLoader> registration;
    void Load(IUnknown*, xxObject*) override {}
};

const cartovane::LoaderRegistration<TestTrajectoryLoader> TestTrajectoryLoader::registration{"TestTrajectoryLoader"};
const cartovane::LoaderRegistration<TestGridLoader> TestGridLoader::registration{"TestGridLoader"};

template <class T>
qor::MemoryPool& PoolOf() {
    return qor::MemoryPool::GetPool(sizeof(T));
}

struct PoolCounts {
    std::size_t allocations, giveBacks, inUse;
    explicit PoolCounts(const qor::MemoryPool& pool)
        : allocations(pool.Allocations()), giveBacks(pool.GiveBacks()), inUse(pool.BlocksInUse()) {}
};

class LoaderRegistrationTest : public ::testing::Test {
protected:
    void TearDown() override {
        PoolOf<TestTrajectoryLoader>().SetCapacity(qor::MemoryPool::kUnlimited);
        PoolOf<TestGridLoader>().SetCapacity(qor::MemoryPool::kUnlimited);
        TestTrajectoryLoader::failNextConstruction = false;
    }
};

TEST_F(LoaderRegistrationTest, EachLoaderIsRegisteredUnderItsNameWithItsLoaderBase) {
    struct Case {
        const char* name;
        const xxClass* registered;
        const xxClass* base;
        unsigned classType;
        const std::string* className;
    } cases[] = {
        {"TestTrajectoryLoader", &TestTrajectoryLoader::registration.GetClass(), &xxFrameProvider::Class,
         TestTrajectoryLoader::ClassType(), &TestTrajectoryLoader::ClassName()},
        {"TestGridLoader", &TestGridLoader::registration.GetClass(), &xxObjectLoader::Class,
         TestGridLoader::ClassType(), &TestGridLoader::ClassName()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const xxClass& cls = xxClass::FindClass(c.name);
        EXPECT_EQ(&cls, c.registered);
        EXPECT_EQ(cls.GetSecondName(), "");
        EXPECT_FALSE(cls.IsAbstract());
        ASSERT_EQ(cls.Bases().size(), 1u);
        EXPECT_EQ(cls.Bases()[0], c.base);
        EXPECT_EQ(c.classType, cls.TypeId());
        EXPECT_EQ(*c.className, c.name);
    }
}

TEST_F(LoaderRegistrationTest, CreatedLoaderAnswersForItsClassAndItsBaseOnly) {
    const unsigned trajectory = TestTrajectoryLoader::ClassType(), grid = TestGridLoader::ClassType(),
                   provider = xxFrameProvider::Class.TypeId(), objectLoader = xxObjectLoader::Class.TypeId();
    struct Case {
        const char* name;
        unsigned typeId;
        bool isA;
    } cases[] = {
        {"TestTrajectoryLoader", trajectory, true},   {"TestTrajectoryLoader", provider, true},
        {"TestTrajectoryLoader", objectLoader, false}, {"TestTrajectoryLoader", grid, false},
        {"TestTrajectoryLoader", xxClass::kRootTypeId, true},
        {"TestTrajectoryLoader", xxClass::kExcludedTypeId, false},
        {"TestGridLoader", grid, true},                {"TestGridLoader", objectLoader, true},
        {"TestGridLoader", provider, false},           {"TestGridLoader", trajectory, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + std::to_string(c.typeId));
        std::unique_ptr<xxClassInstance> loader = xxClass::FindClass(c.name).CreateNew();
        EXPECT_EQ(&loader->GetClass(), &xxClass::FindClass(c.name));
        EXPECT_EQ(loader->IsA(c.typeId), c.isA);
    }
    std::unique_ptr<xxClassInstance> loader = xxClass::FindClass("TestTrajectoryLoader").CreateNew();
    EXPECT_NE(dynamic_cast<TestTrajectoryLoader*>(loader.get()), nullptr);
    EXPECT_NE(dynamic_cast<xxFrameProvider*>(loader->CastToClassInstance()), nullptr);
}

TEST_F(LoaderRegistrationTest, LoadersComeFromTheirPoolAndGoBackToIt) {
    qor::MemoryPool& pool = PoolOf<TestTrajectoryLoader>();
    const PoolCounts before(pool);
    std::unique_ptr<xxClassInstance> loader = TestTrajectoryLoader::registration.GetClass().CreateNew();
    EXPECT_TRUE(pool.owns(dynamic_cast<void*>(loader.get())));
    EXPECT_EQ(pool.Allocations(), before.allocations + 1);
    EXPECT_EQ(pool.BlocksInUse(), before.inUse + 1);

    // Copies made by Clone live there too.
    std::unique_ptr<xxFrameProvider> copy = dynamic_cast<xxFrameProvider&>(*loader).Clone();
    EXPECT_TRUE(pool.owns(dynamic_cast<void*>(copy.get())));
    copy.reset();
    loader.reset();
    EXPECT_EQ(pool.GiveBacks(), before.giveBacks + 2);
    EXPECT_EQ(pool.BlocksInUse(), before.inUse);
}

TEST_F(LoaderRegistrationTest, HeapBlockGoesBackToTheHeap) {
    qor::MemoryPool& pool = PoolOf<TestGridLoader>();
    const PoolCounts before(pool);
    std::unique_ptr<xxClassInstance> loader(::new TestGridLoader());
    EXPECT_FALSE(pool.owns(loader.get()));
    loader.reset();  // the sanitizer run checks that it reached the heap
    EXPECT_EQ(pool.GiveBacks(), before.giveBacks);
    EXPECT_EQ(pool.BlocksInUse(), before.inUse);
}

TEST_F(LoaderRegistrationTest, FullPoolIsBadAllocation) {
    struct Case {
        const xxClass* cls;
        qor::MemoryPool* pool;
    } cases[] = {
        {&TestTrajectoryLoader::registration.GetClass(), &PoolOf<TestTrajectoryLoader>()},
        {&TestGridLoader::registration.GetClass(), &PoolOf<TestGridLoader>()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cls->GetName());
        c.pool->SetCapacity(c.pool->BlocksInUse());
        const PoolCounts before(*c.pool);
        try {
            c.cls->CreateNew();
            ADD_FAILURE() << "created beyond the pool's capacity";
        } catch (const std::bad_alloc& e) {
            EXPECT_STREQ(e.what(), "bad allocation");
        }
        EXPECT_EQ(c.pool->Allocations(), before.allocations);
        c.pool->SetCapacity(qor::MemoryPool::kUnlimited);
        EXPECT_TRUE(c.cls->CreateNew());
    }
}

TEST_F(LoaderRegistrationTest, FailedConstructionGivesTheBlockBack) {
    qor::MemoryPool& pool = PoolOf<TestTrajectoryLoader>();
    const PoolCounts before(pool);
    TestTrajectoryLoader::failNextConstruction = true;
    EXPECT_THROW(TestTrajectoryLoader::registration.GetClass().CreateNew(), std::runtime_error);
    EXPECT_EQ(pool.Allocations(), before.allocations + 1);
    EXPECT_EQ(pool.GiveBacks(), before.giveBacks + 1);
    EXPECT_EQ(pool.BlocksInUse(), before.inUse);
}

}  // namespace

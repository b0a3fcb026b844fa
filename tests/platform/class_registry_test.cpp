#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cfx/cfx.h"
#include "class_registry_peer.h"
#include "datamodel/class.h"

// Built twice, with the files linked in opposite orders (and the registry's own file first or
// last), so that each order of the static initialisers runs; the suite name tells them apart.
#ifndef REGISTRY_SUITE
#define REGISTRY_SUITE ClassRegistry
#endif

namespace registry_test {
namespace {
xxClassInstance* CreateCircle() { return new Circle; }
xxClassInstance* CreateLabel() { return new Label; }
xxClassInstance* CreateNothing() { return nullptr; }
const xxClass* const circleBases[] = {&Shape::Class};
}  // namespace

const xxClass Circle::Class{"RegistryTestCircle", nullptr, &CreateCircle, circleBases, 1};
const xxClass Label::Class{"RegistryTestLabel", "RegistryTestCaption", &CreateLabel, nullptr, 0};

namespace {

template <class Body>
Cfx::CfxResult ThrownResult(Body body) {
    try {
        body();
    } catch (const Cfx::CfxResult& r) {
        return r;
    }
    ADD_FAILURE() << "no CfxResult thrown";
    return {};
}

TEST(REGISTRY_SUITE, StaticRegistrationsOfBothFilesResolveEachOthersBases) {
    const xxClass& disc = xxClass::FindClass("RegistryTestDisc");
    ASSERT_EQ(&disc, &Disc::Class);
    ASSERT_EQ(disc.Bases().size(), 1u);
    EXPECT_EQ(disc.Bases()[0], &Circle::Class);
    EXPECT_EQ(xxClass::FindClass("RegistryTestCircle").Bases()[0], &Shape::Class);
    EXPECT_TRUE(disc.IsA(Shape::Class.TypeId()));

    std::vector<unsigned> ids{Shape::Class.TypeId(), Circle::Class.TypeId(), Disc::Class.TypeId(),
                              Label::Class.TypeId()};
    for (unsigned id : ids) {
        EXPECT_NE(id, xxClass::kExcludedTypeId);
        EXPECT_NE(id, xxClass::kRootTypeId);
        EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 1) << id;
    }
}

TEST(REGISTRY_SUITE, LookupByNameSecondNameAndType) {
    EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestCircle"), &Circle::Class);
    EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestCaption"), &Label::Class);
    EXPECT_EQ(xxClass::FindClass("RegistryTestCaption").GetName(), "RegistryTestLabel");
    EXPECT_EQ(Label::Class.GetSecondName(), "RegistryTestCaption");
    EXPECT_EQ(Circle::Class.GetSecondName(), "");
    EXPECT_EQ(&xxClass::FindClassByType(Disc::Class.TypeId()), &Disc::Class);

    for (const char* absent : {"", "registrytestcircle", "RegistryTestCircle ", "Nope"})
        EXPECT_EQ(xxClass::FindClassIfExists(absent), nullptr) << absent;
    EXPECT_EQ(xxClass::FindClassByTypeIfExists(xxClass::kExcludedTypeId), nullptr);
    EXPECT_EQ(xxClass::FindClassByTypeIfExists(xxClass::kRootTypeId), nullptr);

    Cfx::CfxResult unknown = ThrownResult([] { xxClass::FindClass("Nope"); });
    EXPECT_EQ(unknown.Hr(), E_INVALIDARG);
    EXPECT_EQ(unknown.Description(), "Unknown class \"Nope\"");
    EXPECT_EQ(ThrownResult([] { xxClass::FindClassByType(0xFFFFFFF0u); }).Hr(), E_INVALIDARG);
}

TEST(REGISTRY_SUITE, TakenNameIsAnErrorAndTheFirstClassStays) {
    struct Case {
        const char* name;
        const char* secondName;
        const char* taken;
    } cases[] = {
        {"RegistryTestCircle", nullptr, "RegistryTestCircle"},
        {"RegistryTestFresh", "RegistryTestCircle", "RegistryTestCircle"},  // second name hits a name
        {"RegistryTestCaption", nullptr, "RegistryTestCaption"},             // name hits a second name
        {"RegistryTestFresh", "RegistryTestCaption", "RegistryTestCaption"},
    };
    const std::size_t count = xxClass::Count();
    for (const Case& c : cases) {
        try {
            xxClass duplicate(c.name, c.secondName, &CreateCircle, nullptr, 0);
            ADD_FAILURE() << c.name << " registered twice";
        } catch (const xxClassRegistrationError& e) {
            EXPECT_EQ(std::string(e.what()), "Class \"" + std::string(c.taken) + "\" is already registered");
        }
        EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestFresh"), nullptr) << "half-registered " << c.name;
    }
    EXPECT_EQ(xxClass::Count(), count);
    EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestCircle"), &Circle::Class);
    EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestCaption"), &Label::Class);
}

TEST(REGISTRY_SUITE, MalformedRecordsAreRejected) {
    EXPECT_THROW(xxClass(nullptr, nullptr, nullptr, nullptr, 0), xxClassRegistrationError);
    EXPECT_THROW(xxClass("", nullptr, nullptr, nullptr, 0), xxClassRegistrationError);
    EXPECT_THROW(xxClass("RegistryTestNoArray", nullptr, nullptr, nullptr, 2), xxClassRegistrationError);
    EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestNoArray"), nullptr);
}

TEST(REGISTRY_SUITE, DestroyedRecordLeavesTheRegistryAndItsNameComesBackUnderTheSameId) {
    unsigned firstId;
    {
        xxClass scoped("RegistryTestScoped", "RegistryTestScopedAlias", nullptr, nullptr, 0);
        firstId = scoped.TypeId();
        EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestScopedAlias"), &scoped);
        EXPECT_EQ(xxClass::FindClassByTypeIfExists(firstId), &scoped);
    }
    EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestScoped"), nullptr);
    EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestScopedAlias"), nullptr);
    EXPECT_EQ(xxClass::FindClassByTypeIfExists(firstId), nullptr);

    // The id is the name's: a stream that stored it reads back whatever else was registered.
    xxClass again("RegistryTestScoped", nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(again.TypeId(), firstId);
}

TEST(REGISTRY_SUITE, TypeIdsComeFromTheNameAlone) {
    // 32-bit FNV-1a of the name, worked out by hand for these.
    struct Case {
        const char* name;
        unsigned id;
    };
    const Case cases[] = {{"TestRoot", 0x1284b6a5u}, {"a", 0xe40c292cu}};
    for (const Case& c : cases) {
        xxClass cls(c.name, nullptr, nullptr, nullptr, 0);
        EXPECT_EQ(cls.TypeId(), c.id) << c.name;
    }
}

TEST(REGISTRY_SUITE, TwoNamesWithOneTypeIdAreAnErrorAndTheFirstStays) {
    // Two names whose hashes meet.
    xxClass first("RegistryTestHash7431", nullptr, nullptr, nullptr, 0);
    const std::size_t count = xxClass::Count();
    EXPECT_THROW(xxClass("RegistryTestHash403000", nullptr, nullptr, nullptr, 0), xxClassRegistrationError);
    EXPECT_EQ(xxClass::Count(), count);
    EXPECT_EQ(xxClass::FindClassByTypeIfExists(first.TypeId()), &first);
    EXPECT_EQ(xxClass::FindClassIfExists("RegistryTestHash403000"), nullptr);
}

TEST(REGISTRY_SUITE, CreateNewMakesAnInstanceOfTheClass) {
    std::unique_ptr<xxClassInstance> disc = xxClass::FindClass("RegistryTestDisc").CreateNew();
    ASSERT_TRUE(disc);
    EXPECT_EQ(&disc->GetClass(), &Disc::Class);
    EXPECT_NE(dynamic_cast<Disc*>(disc.get()), nullptr);
    EXPECT_EQ(disc->CastToClassInstance(), disc.get());
    EXPECT_EQ(std::as_const(*disc).CastToClassInstance(), disc.get());

    EXPECT_TRUE(Shape::Class.IsAbstract());
    Cfx::CfxResult abstract = ThrownResult([] { Shape::Class.CreateNew(); });
    EXPECT_EQ(abstract.Hr(), E_NOTIMPL);
    EXPECT_EQ(abstract.Description(), "Class \"RegistryTestShape\" is abstract");

    xxClass empty("RegistryTestEmptyCreator", nullptr, &CreateNothing, nullptr, 0);
    EXPECT_EQ(ThrownResult([&] { empty.CreateNew(); }).Hr(), E_FAIL);
}

TEST(REGISTRY_SUITE, IsATable) {
    const unsigned shape = Shape::Class.TypeId(), circle = Circle::Class.TypeId(), disc = Disc::Class.TypeId(),
                   label = Label::Class.TypeId();
    struct Case {
        const xxClass* cls;
        unsigned typeId;
        bool isA;
        bool basesIsA;
    } cases[] = {
        {&Disc::Class, disc, true, false},  // own id: the class itself, not its bases
        {&Disc::Class, circle, true, true},
        {&Disc::Class, shape, true, true},  // two levels down
        {&Disc::Class, label, false, false},
        {&Disc::Class, xxClass::kRootTypeId, true, true},
        {&Disc::Class, xxClass::kExcludedTypeId, false, false},
        {&Shape::Class, disc, false, false},  // never upwards
        {&Shape::Class, xxClass::kRootTypeId, true, false},
        {&Label::Class, xxClass::kRootTypeId, true, false},
        {&Label::Class, shape, false, false},
        {&Label::Class, 0xFFFFFFF0u, false, false},
    };
    // The second pass reads the answers the first one kept.
    for (int pass = 0; pass < 2; ++pass)
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cls->GetName() + " / " + std::to_string(c.typeId) + " pass " + std::to_string(pass));
        EXPECT_EQ(c.cls->IsA(c.typeId), c.isA);
        EXPECT_EQ(c.cls->BasesIsA(c.typeId), c.basesIsA);
        if (!c.cls->IsAbstract()) {
            EXPECT_EQ(c.cls->CreateNew()->IsA(c.typeId), c.isA);
        }
    }
}

TEST(REGISTRY_SUITE, BaseEntryStoredAfterConstructionIsSeen) {
    const xxClass* bases[1] = {nullptr};
    xxClass late("RegistryTestLateBase", nullptr, nullptr, bases, 1);
    EXPECT_FALSE(late.IsA(Circle::Class.TypeId()));
    bases[0] = &Circle::Class;
    EXPECT_TRUE(late.IsA(Circle::Class.TypeId()));
    EXPECT_TRUE(late.IsA(Shape::Class.TypeId()));

    // A "no" asked while a base further up is still missing is not kept either.
    const xxClass* upper[1] = {nullptr};
    xxClass middle("RegistryTestLateMiddle", nullptr, nullptr, upper, 1);
    const xxClass* lower[1] = {&middle};
    xxClass bottom("RegistryTestLateBottom", nullptr, nullptr, lower, 1);
    EXPECT_FALSE(bottom.IsA(Shape::Class.TypeId()));
    EXPECT_FALSE(bottom.IsA(Shape::Class.TypeId()));
    upper[0] = &Circle::Class;
    EXPECT_TRUE(bottom.IsA(Shape::Class.TypeId()));
}

TEST(REGISTRY_SUITE, ForEachVisitsEveryClassOnce) {
    std::map<std::string, int> seen;
    xxClass::ForEach([&](const xxClass& cls) { ++seen[cls.GetName()]; });
    EXPECT_EQ(seen.size(), xxClass::Count());
    for (const char* name : {"RegistryTestShape", "RegistryTestCircle", "RegistryTestDisc", "RegistryTestLabel"})
        EXPECT_EQ(seen[name], 1) << name;
    EXPECT_FALSE(seen.contains("RegistryTestCaption"));  // second names are not classes of their own

    // A class registered during the walk neither breaks it nor is visited in it.
    std::unique_ptr<xxClass> added;
    std::size_t visits = 0;
    xxClass::ForEach([&](const xxClass&) {
        ++visits;
        if (!added) added = std::make_unique<xxClass>("RegistryTestAddedDuringWalk", nullptr, nullptr, nullptr, 0);
    });
    EXPECT_EQ(visits, seen.size());
    EXPECT_EQ(xxClass::Count(), seen.size() + 1);
}

TEST(REGISTRY_SUITE, ClearDocumentVersionsResetsEveryClass) {
    Circle::Class.SetCachedDocumentVersion(3);
    Label::Class.SetCachedDocumentVersion(7);
    EXPECT_EQ(xxClass::FindClass("RegistryTestCaption").CachedDocumentVersion(), 7u);
    xxClass::ClearDocumentVersions();
    xxClass::ForEach([](const xxClass& cls) { EXPECT_EQ(cls.CachedDocumentVersion(), 0u) << cls.GetName(); });
}

}  // namespace
}  // namespace registry_test

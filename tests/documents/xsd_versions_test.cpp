#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "datamodel/object.h"
#include "documents/xsd_versions.h"
#include "xml/xml.h"

namespace {

std::size_t TableSize(const XSDFormatVersion& v) {
    std::size_t n = 0;
    while (v.classes[n].name) ++n;
    return n;
}

const XSDClassVersion* Entry(const char* version, const char* name) {
    for (const XSDClassVersion* c = FindFormatVersion(version)->classes; c->name; ++c)
        if (std::strcmp(c->name, name) == 0) return c;
    return nullptr;
}

TEST(XsdVersions, EighteenVersionsWithTheirTableSizes) {
    const std::pair<const char*, std::size_t> expected[] = {
        {"5.5", 324}, {"5.0", 311}, {"4.4", 310}, {"4.3", 305}, {"4.2", 273}, {"4.1", 267},
        {"4.0", 244}, {"3.2", 230}, {"3.1", 227}, {"3.0", 208}, {"2.2", 207}, {"2.1", 203},
        {"2.0", 191}, {"1.3", 188}, {"1.2", 149}, {"1.1", 149}, {"1", 130},   {"0", 0},
    };
    const XSDFormatVersion* v = &NewestFormatVersion();
    for (const auto& [name, size] : expected) {
        ASSERT_NE(v, nullptr) << name;
        EXPECT_STREQ(v->name, name);
        EXPECT_EQ(TableSize(*v), size) << name;
        EXPECT_EQ(FindFormatVersion(name), v);
        // Byte order of the names, no name twice.
        for (std::size_t i = 1; i < TableSize(*v); ++i) EXPECT_LT(std::strcmp(v->classes[i - 1].name, v->classes[i].name), 0);
        v = v->older;
    }
    EXPECT_EQ(v, nullptr);
    EXPECT_STREQ(CurrentFormatVersionName(), "5.5");
    EXPECT_EQ(FindFormatVersion("6.0"), nullptr);
    EXPECT_EQ(FindFormatVersion("5.50"), nullptr);
}

TEST(XsdVersions, ClassVersionsOfTheirTime) {
    struct Case {
        const char* version;
        const char* name;
        int expected;  // 0: absent from that table
    };
    const Case cases[] = {
        {"5.5", "TreeRoot", 5},         {"4.3", "TreeRoot", 4},        {"2.1", "TreeRoot", 3},
        {"1.1", "TreeRoot", 2},         {"1", "TreeRoot", 1},          {"4.3", "Matter", 1},
        {"5.5", "Matter", 2},           {"4.3", "SubUnit", 0},         {"4.2", "SubUnit", 2},
        {"3.2", "SubUnit", 1},          {"1", "Atom3d::Heavy", 1},     {"1.1", "Atom3d::Heavy", 2},
        {"3.2", "Atom3d::Heavy", 3},    {"4.4", "Atom3d::Heavy", 4},   {"5.0", "Vector", 0},
        {"5.5", "Vector", 1},           {"1.2", "PrincipalAxesMonitor::Heavy", 1},
        {"4.0", "PrincipalAxesMonitor::Heavy", 0},                     {"3.0", "Slice", 1},
        {"3.1", "Slice", 0},            {"1", "Conformation", 1},      {"1.1", "Conformation", 0},
        {"5.5", "2ndDerivative", 1},    {"1.2", "2ndDerivative", 0},   {"4.3", "Molecule", 3},
        {"4.2", "Molecule", 2},         {"3.2", "Molecule", 1},
    };
    for (const Case& c : cases) {
        const XSDClassVersion* e = Entry(c.version, c.name);
        EXPECT_EQ(e ? static_cast<int>(e->version) : 0, c.expected) << c.version << " " << c.name;
    }
}

TEST(XsdVersions, DocumentVersionSelectsWhatClassesAnswer) {
    XSDVersionHolder holder = InitVersionHolder();
    EXPECT_THROW(ClassVersionAt(holder, xxTreeRoot::Class(), true), xmlException);
    try {
        SetDocumentVersion(holder, "6.0");
        ADD_FAILURE();
    } catch (const xmlException& e) {
        EXPECT_STREQ(e.what(), "Version '6.0' is an unknown format");
    }
    EXPECT_EQ(holder.version, nullptr);

    // "TreeRoot" is version 1 here but 5 in the newest table: a newest document answers the
    // class's own version, never the table's.
    SetDocumentVersion(holder, "5.5");
    EXPECT_EQ(ClassVersionAt(holder, xxTreeRoot::Class(), false), xxTreeRoot::Class().Version());
    SetDocumentVersion(holder, "4.3");
    EXPECT_EQ(ClassVersionAt(holder, xxTreeRoot::Class(), false), 4u);
    SetDocumentVersion(holder, "0");
    EXPECT_EQ(ClassVersionAt(holder, xxTreeRoot::Class(), true), 0u);
    try {
        ClassVersionAt(holder, xxTreeRoot::Class(), false);
        ADD_FAILURE();
    } catch (const xmlException& e) {
        EXPECT_STREQ(e.what(), "Class 'TreeRoot' is unknown at version 0");
    }

    xxTreeRoot::Class().SetCachedDocumentVersion(7);
    SetDocumentVersion(holder, "1");
    EXPECT_EQ(xxTreeRoot::Class().CachedDocumentVersion(), 0u);  // every read starts afresh
}

}  // namespace

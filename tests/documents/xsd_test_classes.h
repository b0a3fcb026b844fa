// Data-model test classes for the XML document writer and reader. Save and Load of each mirror
// each other call for call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "datamodel/object.h"
#include "datamodel/reference.h"
#include "datamodel/serialise.h"

// Objects saved as owned children, in order; null slots are kept.
class TestRoot : public xxObject {
    XX_DECLARE_CLASS(TestRoot)
public:
    TestRoot() = default;
    std::vector<std::unique_ptr<xxObject>> slots;

    template <class T>
    T& Add() {
        slots.push_back(std::make_unique<T>());
        return static_cast<T&>(*slots.back());
    }
    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;
};

// A leaf with a value and an optional reference; logs its notification.
class TestLeaf : public xxObject {
    XX_DECLARE_CLASS(TestLeaf)
public:
    TestLeaf() = default;
    int value = 0;
    xxReference<xxObject> ref;
    bool withRef = false;  // whether the reference attribute is written

    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;
    void OnAllObjectsLoaded(xxInput& in) override;

    static std::vector<std::string>& NotifiedLog();
};

// Saved inline into its owner's element.
class TestPart : public xxObject {
    XX_DECLARE_CLASS(TestPart)
public:
    TestPart() = default;
    double weight = 0;
    std::unique_ptr<xxObject> child;  // an owned child written from within the part (may be null)
    bool withChild = false;

    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;
};

// Every typed operation, references and collections, an inline part, contained objects of the
// three kinds, an optional value and a version-dependent layout.
class TestSink : public xxObject {
    XX_DECLARE_CLASS(TestSink)
public:
    TestSink() = default;

    float f = 0, fd = 0;
    qor::deque<float> fq;
    std::vector<float> fv;
    double d = 0, dd = 0;
    std::vector<double> dv;
    std::string s, sd;
    std::vector<std::string> sv;
    bool b = false, bd = false;
    qor::deque<bool> bq;
    std::vector<bool> bv;
    xxBool xb = false, xbd = false;
    std::vector<xxBool> xbv;
    unsigned char uc = 0, ucd = 0;
    std::vector<unsigned char> ucv;
    std::uint32_t ul = 0, uld = 0;
    std::vector<std::uint32_t> ulv;
    std::int32_t l = 0, ld = 0;
    std::vector<std::int32_t> lv;
    unsigned short us = 0, usd = 0;
    std::vector<unsigned short> usv;
    short sh = 0, shd = 0;
    std::vector<short> shv;
    unsigned ui = 0, uid = 0;
    std::vector<unsigned> uiv;
    int i = 0, id = 0;
    qor::deque<int> iq;
    std::vector<int> iv;

    xxReference<xxObject> ref;
    std::vector<xxObject*> refs;
    std::vector<const xxPropertyBase*> templates;
    TestPart part;
    bool withContained = false;
    std::unique_ptr<TestLeaf> contained[3];  // saved with ID, without ID, unregistered
    bool hasOptional = false;
    int optional = 0;
    int newer = 0;  // only in the layout of class version 2
    std::vector<std::unique_ptr<xxObject>> children;

    unsigned loadedVersion = 0;

    // Fills every value with something that is not its default.
    void Fill(int seed);
    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;
};

// Deletes the object it refers to while loading.
class TestDeleter : public xxObject {
    XX_DECLARE_CLASS(TestDeleter)
public:
    TestDeleter() = default;
    xxReference<xxObject> victim;
    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;
};

// Writes a mark when its target is referenced more than once.
class TestShared : public xxObject {
    XX_DECLARE_CLASS(TestShared)
public:
    TestShared() = default;
    xxReference<xxObject> target;
    bool shared = false;
    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;
};

// A graph with every kind of content: forward and backward references, collections below and
// above ten entries with nulls and repeats, inline parts with a child, contained objects of the
// three kinds, null children at several levels.
std::unique_ptr<TestRoot> BuildGraph();

// Compares two graphs of test objects by value, by structure and by the positions of reference
// targets; empty when equal, else the first difference.
std::string CompareGraphs(const xxObject& a, const xxObject& b);

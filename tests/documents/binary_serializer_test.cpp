#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/stable_numbers.h"
#include "datamodel/value_types.h"
#include "documents/binary_serializer.h"
#include "documents/xsd_test_classes.h"
#include "documents/xsd_writer.h"
#include "host/streams.h"
#include "support/recording_stream.h"
#include "support/thrown_result.h"
#include "xml/xml.h"

using cartovane::CBinaryDMExporter;
using cartovane::CBinaryDMImporter;

// Objects whose Save and Load run what the test hands them; two classes, so that a stream holds
// two class types.
#define BINARY_PROBE(Cls)                                                \
    class Cls : public xxObject {                                        \
        XX_DECLARE_CLASS(Cls)                                            \
    public:                                                              \
        Cls() = default;                                                 \
        static inline std::function<void(const Cls&, xxOutput&)> onSave; \
        static inline std::function<void(Cls&, xxInput&)> onLoad;        \
        std::vector<std::unique_ptr<xxObject>> kids;                     \
        xxObject* seen = nullptr;                                        \
        void Save(xxOutput& out) const override {                        \
            if (onSave) onSave(*this, out);                              \
        }                                                                \
        void Load(xxInput& in) override {                                \
            if (onLoad) onLoad(*this, in);                               \
        }                                                                \
    };
BINARY_PROBE(ProbeA)
BINARY_PROBE(ProbeB)
#undef BINARY_PROBE
XX_IMPLEMENT_CLASS(ProbeA, "BinaryProbeA", xxObject, 1)
XX_IMPLEMENT_CLASS(ProbeB, "BinaryProbeB", xxObject, 1)

namespace {

using Bytes = std::vector<unsigned char>;

struct ProbeReset {
    ~ProbeReset() {
        ProbeA::onSave = nullptr;
        ProbeA::onLoad = nullptr;
        ProbeB::onSave = nullptr;
        ProbeB::onLoad = nullptr;
    }
};

CfxComPtr<ISBStream> StreamOver(const Bytes& bytes, std::size_t at) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>(bytes.begin(), bytes.end()));
    stream->SetBinaryMode(VARIANT_TRUE);
    stream->Seek(static_cast<LONG>(at), SB_SEEK_SET, nullptr);
    return stream;
}

// The stream of root, written after `before` bytes of other data.
Bytes SaveBinary(const xxSerializable& root, std::size_t before = 0) {
    CfxComPtr<ISBStream> stream = StreamOver(Bytes(before, 0xEE), before);
    CBinaryDMExporter writer(*stream.Get());
    writer.WriteHeaderPlaceholder();
    writer.SaveObject(root, xxSaveKind::WithId);
    writer.WriteTrailer();
    std::vector<char> raw = host::MemoryStreamBytes(stream.Get());
    return Bytes(raw.begin(), raw.end());
}

void LoadBinary(const Bytes& bytes, xxSerializable& root, std::size_t at = 0) {
    CfxComPtr<ISBStream> stream = StreamOver(bytes, at);
    CBinaryDMImporter reader(*stream.Get());
    reader.ReadHeaderAndTrailer(root);
    reader.ReadContainedObject(root, nullptr, xxSaveKind::WithId);
    reader.CheckEverythingRead();
    reader.NotifyAllObjectsLoaded();
}

using cvtest::Thrown;

void PutU32(Bytes& out, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<unsigned char>(v >> (8 * k)));
}

std::string Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char b : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// The stream's data part, its bits and its class table.
struct Parts {
    Bytes data;
    std::vector<bool> bits;
    std::vector<std::uint32_t> classes;
};
Parts Split(const Bytes& s) {
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(s[at]) | std::uint32_t(s[at + 1]) << 8 | std::uint32_t(s[at + 2]) << 16 |
               std::uint32_t(s[at + 3]) << 24;
    };
    Parts p;
    const std::uint32_t t = u32(0);
    p.data.assign(s.begin() + 8, s.begin() + t);
    const std::uint32_t b = u32(t);
    for (std::uint32_t k = 0; k < b; ++k) p.bits.push_back((s[t + 4 + k / 8] >> (k % 8)) & 1);
    std::size_t at = t + 4 + (b + 7) / 8;
    const std::uint32_t n = u32(at);
    at += 8;
    for (std::uint32_t k = 0; k < n; ++k) p.classes.push_back(u32(at + 4 * k));
    return p;
}

TEST(BinaryStream, SmallestDocumentIsTwentyFourBytes) {
    ProbeReset reset;
    ProbeA root;
    Bytes expected = {0x08, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0};
    PutU32(expected, ProbeA::Class().TypeId());
    const Bytes saved = SaveBinary(root);
    EXPECT_EQ(Hex(saved), Hex(expected));
    ProbeA back;
    LoadBinary(saved, back);
}

TEST(BinaryStream, WorkedExampleBothWays) {
    ProbeReset reset;
    ProbeA root;
    root.kids.push_back(std::make_unique<ProbeB>());
    ProbeA::onSave = [](const ProbeA& self, xxOutput& out) {
        out.WriteValue("I", 42);
        out.WriteValue("D", 1.5, 0.0);
        out.WriteValue("B", true);
        out.WriteValue("S", std::string("hi"));
        out.SaveChildObject(self.kids[0].get());
    };
    ProbeB::onSave = [&](const ProbeB&, xxOutput& out) {
        out.WriteReference("R", &root);
        out.WriteValue("F", 0.25f, 0.25f);
    };
    Bytes expected = {0x26, 0, 0, 0, 0x01, 0, 0, 0, 0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F, 0x02, 0, 0, 0,
                      0, 0, 0, 0, 0x68, 0x69, 0x02, 0, 0, 0, 0x01, 0, 0, 0, 0x03, 0, 0, 0, 0x03, 0x02, 0, 0,
                      0, 0, 0, 0, 0};
    PutU32(expected, ProbeA::Class().TypeId());
    PutU32(expected, ProbeB::Class().TypeId());
    const Bytes saved = SaveBinary(root);
    ASSERT_EQ(saved.size(), 59u);
    EXPECT_EQ(Hex(saved), Hex(expected));

    struct Read {
        int i = 0;
        double d = 0;
        bool b = false;
        std::string s;
        float f = 0;
    } read;
    ProbeA::onLoad = [&](ProbeA& self, xxInput& in) {
        in.ReadValue("I", read.i);
        in.ReadValue("D", read.d, 0.0);
        in.ReadValue("B", read.b);
        in.ReadValue("S", read.s);
        self.kids.push_back(in.ReadChild<xxObject>());
    };
    ProbeB::onLoad = [&](ProbeB& self, xxInput& in) {
        self.seen = in.ReadReferenceTo<xxObject>("R");
        in.ReadValue("F", read.f, 0.25f);
    };
    ProbeA back;
    LoadBinary(saved, back);
    EXPECT_EQ(read.i, 42);
    EXPECT_EQ(read.d, 1.5);
    EXPECT_TRUE(read.b);
    EXPECT_EQ(read.s, "hi");
    EXPECT_EQ(read.f, 0.25f);
    ASSERT_EQ(back.kids.size(), 1u);
    ASSERT_NE(dynamic_cast<ProbeB*>(back.kids[0].get()), nullptr);
    EXPECT_EQ(static_cast<ProbeB&>(*back.kids[0]).seen, &back);
}

// One call written, what it leaves in the data and the bits, and that it reads back.
struct ValueCase {
    const char* what;
    std::function<void(xxOutput&)> write;
    Bytes data;
    std::vector<bool> bits;
    std::function<bool(xxInput&)> readsBack;
};

TEST(BinaryStream, EachValueHasItsEncoding) {
    ProbeReset reset;
    const std::string text = "same";
    const ValueCase cases[] = {
        {"float -0.0 against 0.0", [](xxOutput& o) { o.WriteValue("V", -0.0f, 0.0f); }, {}, {false},
         [](xxInput& i) { float v = 1; i.ReadValue("V", v, 0.0f); return v == 0.0f && !std::signbit(v); }},
        {"float NaN against NaN", [](xxOutput& o) { o.WriteValue("V", std::nanf(""), std::nanf("")); },
         {0x00, 0x00, 0xC0, 0x7F}, {true}, [](xxInput& i) { float v = 0; i.ReadValue("V", v, 0.0f); return std::isnan(v); }},
        {"double equal to its default", [](xxOutput& o) { o.WriteValue("V", 2.5, 2.5); }, {}, {false},
         [](xxInput& i) { double v = 0; i.ReadValue("V", v, 2.5); return v == 2.5; }},
        {"xxBool differing", [](xxOutput& o) { o.WriteXxBoolValue("V", true, false); }, {0x01}, {true},
         [](xxInput& i) { xxBool v = false; i.ReadXxBoolValue("V", v, false); return v; }},
        {"xxBool plain", [](xxOutput& o) { o.WriteXxBoolValue("V", true); }, {0x01}, {},
         [](xxInput& i) { xxBool v = false; i.ReadXxBoolValue("V", v); return v; }},
        {"bool with its default", [](xxOutput& o) { o.WriteValue("V", true, true); }, {}, {true},
         [](xxInput& i) { bool v = false; i.ReadValue("V", v, false); return v; }},
        {"bool plain", [](xxOutput& o) { o.WriteValue("V", false); }, {}, {false},
         [](xxInput& i) { bool v = true; i.ReadValue("V", v); return !v; }},
        {"string equal in another buffer", [&](xxOutput& o) { o.WriteValue("V", std::string("sa") + "me", text); }, {},
         {false}, [](xxInput& i) { std::string v; i.ReadValue("V", v, "same"); return v == "same"; }},
        {"empty string", [](xxOutput& o) { o.WriteValue("V", std::string()); }, {0, 0, 0, 0, 0, 0, 0, 0}, {},
         [](xxInput& i) { std::string v = "x"; i.ReadValue("V", v); return v.empty(); }},
        {"unsigned short", [](xxOutput& o) { o.WriteValue("V", static_cast<unsigned short>(0xBEEF)); }, {0xEF, 0xBE}, {},
         [](xxInput& i) { unsigned short v = 0; i.ReadValue("V", v); return v == 0xBEEF; }},
        {"long", [](xxOutput& o) { o.WriteLong32Value("V", -2); }, {0xFE, 0xFF, 0xFF, 0xFF}, {},
         [](xxInput& i) { std::int32_t v = 0; i.ReadLong32Value("V", v); return v == -2; }},
        {"unsigned long differing", [](xxOutput& o) { o.WriteULong32Value("V", 7u, 0u); }, {7, 0, 0, 0}, {true},
         [](xxInput& i) { std::uint32_t v = 0; i.ReadULong32Value("V", v, 0u); return v == 7u; }},
        {"empty vector", [](xxOutput& o) { o.WriteArray("V", std::vector<int>{}); }, {0, 0, 0, 0, 0, 0, 0, 0}, {},
         [](xxInput& i) { std::vector<int> v{1}; i.ReadArray("V", v); return v.empty(); }},
        {"short vector", [](xxOutput& o) { o.WriteArray("V", std::vector<short>{-1, 2}); },
         {2, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x02, 0x00}, {},
         [](xxInput& i) { std::vector<short> v; i.ReadArray("V", v); return v == std::vector<short>{-1, 2}; }},
        {"string vector", [](xxOutput& o) { o.WriteArray("V", std::vector<std::string>{"a", ""}); },
         {2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0, 0, 0}, {},
         [](xxInput& i) {
             std::vector<std::string> v{"old"};
             i.ReadArray("V", v);
             return v == std::vector<std::string>{"a", ""};
         }},
        {"xxBool vector", [](xxOutput& o) { o.WriteXxBoolArray("V", std::vector<xxBool>{true, false}); },
         {2, 0, 0, 0, 0, 0, 0, 0, 1, 0}, {},
         [](xxInput& i) { std::vector<xxBool> v; i.ReadXxBoolArray("V", v); return v == std::vector<xxBool>{true, false}; }},
        {"deque of bool", [](xxOutput& o) { o.WriteArray("V", qor::deque<bool>{false, true}); },
         {2, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {},
         [](xxInput& i) { qor::deque<bool> v; i.ReadArray("V", v); return v == qor::deque<bool>{false, true}; }},
        {"deque of float", [](xxOutput& o) { o.WriteArray("V", qor::deque<float>{1.0f}); },
         {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3F}, {},
         [](xxInput& i) { qor::deque<float> v; i.ReadArray("V", v); return v == qor::deque<float>{1.0f}; }},
        {"bytes", [](xxOutput& o) { o.WriteBytes("V", "ab", 2); }, {'a', 'b'}, {},
         [](xxInput& i) { char v[2] = {}; i.ReadBytes("V", v, 2); return v[0] == 'a' && v[1] == 'b'; }},
        {"presence", [](xxOutput& o) { o.WriteAttributePresence("V", true); }, {}, {true},
         [](xxInput& i) { return i.HasAttribute("V"); }},
        {"text of a property", [](xxOutput& o) {
             o.WriteAttributePresence("V", true);
             o.WriteValue("V", std::string("t"));
         }, {1, 0, 0, 0, 0, 0, 0, 0, 't'}, {true},
         [](xxInput& i) { std::string v; return i.ReadTextIfPresent("V", v) && v == "t"; }},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.what);
        ProbeA root;
        ProbeA::onSave = [&](const ProbeA&, xxOutput& out) { c.write(out); };
        const Bytes saved = SaveBinary(root);
        const Parts parts = Split(saved);
        EXPECT_EQ(Hex(parts.data), Hex(c.data));
        EXPECT_EQ(parts.bits, c.bits);
        bool ok = false;
        ProbeA::onLoad = [&](ProbeA&, xxInput& in) { ok = c.readsBack(in); };
        ProbeA back;
        LoadBinary(saved, back);
        EXPECT_TRUE(ok);
    }
}

TEST(BinaryStream, BitVectorsTakeWholeWordsWithTheHighBitsZero) {
    ProbeReset reset;
    const struct {
        std::size_t bits;
        std::size_t words;
    } cases[] = {{0, 0}, {1, 1}, {31, 1}, {32, 1}, {33, 2}, {64, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        std::vector<bool> v(c.bits, true);
        ProbeA root;
        ProbeA::onSave = [&](const ProbeA&, xxOutput& out) { out.WriteArray("V", v); };
        const Parts parts = Split(SaveBinary(root));
        ASSERT_EQ(parts.data.size(), 8 + 4 * c.words);
        EXPECT_EQ(parts.data[0], c.bits);
        for (std::size_t j = 0; j < 32 * c.words; ++j)
            EXPECT_EQ((parts.data[8 + j / 8] >> (j % 8)) & 1, j < c.bits ? 1 : 0) << j;
        std::vector<bool> back;
        ProbeA::onLoad = [&](ProbeA&, xxInput& in) { in.ReadArray("V", back); };
        ProbeA target;
        LoadBinary(SaveBinary(root), target);
        EXPECT_EQ(back, v);
    }
    // The 33-bit vector with bits 0 and 32 set.
    std::vector<bool> v(33, false);
    v[0] = v[32] = true;
    ProbeA root;
    ProbeA::onSave = [&](const ProbeA&, xxOutput& out) { out.WriteArray("V", v); };
    EXPECT_EQ(Hex(Split(SaveBinary(root)).data), "21 00 00 00 00 00 00 00 01 00 00 00 01 00 00 00");
}

TEST(BinaryStream, LongBitTableKeepsItsFalseBitsZero) {
    ProbeReset reset;
    std::vector<bool> flags(9001);
    for (std::size_t k = 0; k < flags.size(); ++k) flags[k] = k % 97 == 3;
    ProbeA root;
    ProbeA::onSave = [&](const ProbeA&, xxOutput& out) {
        for (bool f : flags) out.WriteAttributePresence("P", f);
    };
    const Bytes saved = SaveBinary(root);
    const Parts parts = Split(saved);
    EXPECT_EQ(parts.bits, flags);
    const std::size_t t = 8, bytes = (flags.size() + 7) / 8;
    ASSERT_EQ(saved.size(), t + 4 + bytes + 8 + 4);
    EXPECT_EQ(saved[t + 4 + bytes - 1] >> (flags.size() % 8), 0);  // beyond the last bit
    std::vector<bool> back;
    ProbeA::onLoad = [&](ProbeA&, xxInput& in) {
        for (std::size_t k = 0; k < flags.size(); ++k) back.push_back(in.HasAttribute("P"));
    };
    ProbeA target;
    LoadBinary(saved, target);
    EXPECT_EQ(back, flags);
}

TEST(BinaryStream, IdentifiersFollowTheOrderObjectsAreMet) {
    ProbeReset reset;
    ProbeA root;
    auto& first = *root.kids.emplace_back(std::make_unique<ProbeB>());   // referenced, then a child
    auto& inlined = *root.kids.emplace_back(std::make_unique<ProbeB>()); // saved without identifier
    auto& loose = *root.kids.emplace_back(std::make_unique<ProbeA>());   // only referenced
    auto& unregistered = *root.kids.emplace_back(std::make_unique<ProbeB>());
    std::vector<std::string> log;
    ProbeA::onSave = [&](const ProbeA& self, xxOutput& out) {
        if (&self != &root) return;
        log.push_back(out.GetParentObject() ? "parent" : "no parent");
        out.WriteReference("R", &first);
        out.SaveObject(inlined, xxSaveKind::WithoutId);
        out.WriteReference("R", &inlined);
        std::vector<xxObject*> items = {&loose, nullptr, &first};
        out.WriteReferenceCollection("C", xxPointerCollection<xxObject>(items));
        out.SaveChildObject(&first);
        out.SaveObject(unregistered, xxSaveKind::Unregistered);
        log.push_back(out.GetSavedParent(first) == &root ? "first under root" : "first elsewhere");
        log.push_back(out.GetSavedParent(unregistered) ? "recorded" : "not recorded");
    };
    ProbeB::onSave = [&](const ProbeB& self, xxOutput& out) {
        if (&self == &first) log.push_back(out.GetParentObject() == &root ? "parent is root" : "wrong parent");
    };
    const Parts parts = Split(SaveBinary(root));
    Bytes data;
    PutU32(data, 1);  // the root
    PutU32(data, 2);  // first
    PutU32(data, 0);  // inlined has none
    data.insert(data.end(), {3, 0, 0, 0, 0, 0, 0, 0});
    PutU32(data, 3);  // loose
    PutU32(data, 0);
    PutU32(data, 2);
    PutU32(data, 2);  // first as a child keeps its identifier
    EXPECT_EQ(Hex(parts.data), Hex(Bytes(data.begin() + 4, data.end())));
    const std::vector<std::uint32_t> classes = {ProbeA::Class().TypeId(), ProbeB::Class().TypeId(),
                                                ProbeA::Class().TypeId()};
    EXPECT_EQ(parts.classes, classes);
    EXPECT_EQ(log, (std::vector<std::string>{"no parent", "parent is root", "first under root", "not recorded"}));
}

TEST(BinaryStream, NullChildrenAndObjectsSavedTwice) {
    ProbeReset reset;
    ProbeA root;
    auto& leaf = *root.kids.emplace_back(std::make_unique<ProbeB>());
    int mode = 0;
    ProbeA::onSave = [&](const ProbeA&, xxOutput& out) {
        if (mode == 0) {
            out.SaveChildObject(nullptr);
        } else if (mode == 1) {
            out.SaveChildObject(&leaf);
            out.SaveChildObject(&leaf);
        } else {
            out.SaveObject(leaf, xxSaveKind::WithoutId);  // saved without, then as a child
            out.SaveChildObject(&leaf);
        }
    };
    EXPECT_EQ(Hex(Split(SaveBinary(root)).data), "00 00 00 00");
    std::unique_ptr<xxObject> child = std::make_unique<ProbeA>();
    ProbeA::onLoad = [&](ProbeA&, xxInput& in) { child = in.ReadChild<xxObject>(); };
    ProbeA back;
    LoadBinary(SaveBinary(root), back);
    EXPECT_EQ(child, nullptr);

    mode = 1;
    Cfx::CfxResult twice = Thrown([&] { SaveBinary(root); });
    EXPECT_EQ(twice.Hr(), E_UNEXPECTED);
    EXPECT_EQ(twice.Description(), "Object saved twice");

    mode = 2;
    const Parts parts = Split(SaveBinary(root));
    EXPECT_EQ(Hex(parts.data), "02 00 00 00");  // the child save gives it identifier 2
    ProbeA::onLoad = [&](ProbeA& self, xxInput& in) {
        ProbeB inlined;
        in.ReadContainedObject(inlined, &self, xxSaveKind::WithoutId);
        child = in.ReadChild<xxObject>();
    };
    ProbeA again;
    LoadBinary(SaveBinary(root), again);
    EXPECT_NE(dynamic_cast<ProbeB*>(child.get()), nullptr);
}

TEST(BinaryStream, LongReferenceCollectionsBothWays) {
    ProbeReset reset;
    ProbeA root;
    for (int k = 0; k < 3; ++k) root.kids.push_back(std::make_unique<ProbeB>());
    std::vector<xxObject*> items;
    for (int k = 0; k < 2500; ++k) items.push_back(k % 7 == 0 ? nullptr : root.kids[static_cast<std::size_t>(k % 3)].get());
    ProbeA::onSave = [&](const ProbeA& self, xxOutput& out) {
        out.WriteValue("N", static_cast<unsigned>(self.kids.size()));
        for (const auto& kid : self.kids) out.SaveChildObject(kid.get());
        out.WriteReferenceCollection("C", xxPointerCollection<xxObject>(items));
        out.WriteReferenceCollection("C", xxPointerCollection<xxObject>(items));
    };
    std::vector<xxObject*> first, second;
    ProbeA::onLoad = [&](ProbeA& self, xxInput& in) {
        unsigned n = 0;
        in.ReadValue("N", n);
        for (unsigned k = 0; k < n; ++k) self.kids.push_back(in.ReadChild<xxObject>());
        xxPointerCollection<xxObject> a(first), b(second);
        in.ReadReferenceCollection("C", a);
        in.ReadReferenceCollection("C", b);
    };
    ProbeA back;
    LoadBinary(SaveBinary(root), back);
    ASSERT_EQ(first.size(), items.size());
    EXPECT_EQ(first, second);
    for (std::size_t k = 0; k < items.size(); ++k)
        EXPECT_EQ(first[k], k % 7 == 0 ? nullptr : back.kids[k % 3].get()) << k;
}

TEST(BinaryStream, TestGraphRoundTripsToTheSameXmlAndTheSameStream) {
    std::unique_ptr<TestRoot> graph = BuildGraph();
    const Bytes saved = SaveBinary(*graph);
    TestRoot back;
    TestLeaf::NotifiedLog().clear();
    LoadBinary(saved, back);
    EXPECT_EQ(CompareGraphs(*graph, back), "");
    EXPECT_EQ(SaveBinary(back), saved);
    auto xml = [](const xxSerializable& root) {
        xmlTree tree;
        DMToXSD(tree, nullptr).WriteObjectTree(root, "XSD");
        std::ostringstream out;
        xmlTreeSaver(out, tree, true).Save(0, 0);
        return out.str();
    };
    EXPECT_EQ(xml(back), xml(*graph));
    // Inline parts and the object saved without identifier are notified with the rest.
    EXPECT_FALSE(TestLeaf::NotifiedLog().empty());
}

TEST(BinaryStream, StreamThatStartsLaterUsesAbsolutePositions) {
    std::unique_ptr<TestRoot> graph = BuildGraph();
    const Bytes atZero = SaveBinary(*graph);
    const Bytes later = SaveBinary(*graph, 100);
    ASSERT_EQ(later.size(), atZero.size() + 100);
    const std::uint32_t t = std::uint32_t(later[100]) | std::uint32_t(later[101]) << 8 | std::uint32_t(later[102]) << 16;
    EXPECT_EQ(t, std::uint32_t(atZero[0]) + (std::uint32_t(atZero[1]) << 8) + (std::uint32_t(atZero[2]) << 16) + 100u);
    TestRoot back;
    LoadBinary(later, back, 100);
    EXPECT_EQ(CompareGraphs(*graph, back), "");
}

TEST(BinaryStream, PropertyTemplatesGoByTheirStableNumbers) {
    ProbeReset reset;
    const std::vector<const xxPropertyBase*> templates = {&xxMatter::m_pptCharge, nullptr, &xxAtom3d::m_pptElement};
    ProbeA root;
    ProbeA::onSave = [&](const ProbeA&, xxOutput& out) { out.WritePropertyTemplates("T", templates); };
    const Parts parts = Split(SaveBinary(root));
    Bytes data = {3, 0, 0, 0, 0, 0, 0, 0};
    PutU32(data, xxStableNumberOf("Matter.Charge"));
    PutU32(data, 0);
    PutU32(data, xxPropertyTemplateNumber(xxAtom3d::m_pptElement));
    EXPECT_EQ(Hex(parts.data), Hex(data));
    std::vector<const xxPropertyBase*> back;
    ProbeA::onLoad = [&](ProbeA&, xxInput& in) { in.ReadPropertyTemplates("T", back); };
    ProbeA target;
    LoadBinary(SaveBinary(root), target);
    EXPECT_EQ(back, templates);
}

// Property values go as numbers, never as text: a position is its three doubles bit for bit,
// and a value read back is checked as its text would be.
TEST(BinaryStream, PropertyValuesGoAsNumbersAndAreCheckedOnTheWayBack) {
    auto bytesOf = [](double v) {
        Bytes b(sizeof v);
        std::memcpy(b.data(), &v, sizeof v);
        return b;
    };
    auto find = [](const Bytes& in, const Bytes& what) { return std::search(in.begin(), in.end(), what.begin(), what.end()); };
    xxAtom3d atom;
    const xxPoint3d at{0.1 + 0.2, -1e-300, 1.0 / 3};
    atom.SetXYZ(at);
    atom.SetElement("C");
    atom.SetOccupancy(0.625);
    Bytes saved = SaveBinary(atom);
    const Parts parts = Split(saved);
    Bytes xyz = bytesOf(at.x);
    for (double d : {at.y, at.z}) {
        const Bytes b = bytesOf(d);
        xyz.insert(xyz.end(), b.begin(), b.end());
    }
    EXPECT_NE(find(parts.data, xyz), parts.data.end());
    EXPECT_EQ(find(parts.data, {'0', '.', '3'}), parts.data.end());

    xxAtom3d back;
    LoadBinary(saved, back);
    const xxPoint3d read = back.GetXYZ();
    EXPECT_EQ(bytesOf(read.x), bytesOf(at.x));
    EXPECT_EQ(bytesOf(read.y), bytesOf(at.y));
    EXPECT_EQ(bytesOf(read.z), bytesOf(at.z));
    EXPECT_EQ(back.GetElement().number, 6);
    EXPECT_EQ(back.GetOccupancy(), 0.625);

    const auto occupancy = find(saved, bytesOf(0.625));
    ASSERT_NE(occupancy, saved.cend());
    const Bytes refused = bytesOf(1.5);
    std::copy(refused.begin(), refused.end(), saved.begin() + (occupancy - saved.cbegin()));
    xxAtom3d target;
    try {
        LoadBinary(saved, target);
        ADD_FAILURE() << "an occupancy of 1.5 was taken";
    } catch (const FromStringException& e) {
        EXPECT_EQ(e.InvalidText(), "1.5");
        EXPECT_EQ(e.Conversion(), "Occupancy");
    }
}

TEST(BinaryStream, ReferencesReachObjectsMadeFromTheClassTableAndReadNullOnceTheyAreGone) {
    // A tree whose children are: a leaf, a deleter that deletes it while loading, a leaf that
    // references it, and two leaves that reference a leaf the tree never saves.
    xxTreeRoot tree;
    TestLeaf loose;
    loose.SetName("loose");
    auto& victim = tree.CreateChild<TestLeaf>();
    victim.SetName("victim");
    tree.CreateChild<TestDeleter>().victim.Reset(&victim);
    for (xxObject* target : {static_cast<xxObject*>(&victim), static_cast<xxObject*>(&loose), static_cast<xxObject*>(&loose)}) {
        auto& leaf = tree.CreateChild<TestLeaf>();
        leaf.withRef = true;
        leaf.ref.Reset(target);
    }
    const Bytes saved = SaveBinary(tree);
    EXPECT_EQ(Split(saved).classes.size(), 7u);  // the unsaved leaf has an identifier of its own

    xxTreeRoot back;
    TestLeaf::NotifiedLog().clear();
    LoadBinary(saved, back);
    ASSERT_EQ(back.NumChildren(), 4u);  // the victim has gone
    auto ref = [&](std::size_t k) { return static_cast<TestLeaf&>(back.GetChild(k)).ref.Get(); };
    EXPECT_EQ(ref(1), nullptr);  // read after the victim was deleted
    // The unsaved leaf was one object for both while the reader lived, and went with it.
    EXPECT_EQ(ref(2), nullptr);
    EXPECT_EQ(ref(3), nullptr);
    const std::vector<std::string>& log = TestLeaf::NotifiedLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "victim"), 0);  // deleted: not told
    EXPECT_EQ(std::count(log.begin(), log.end(), ""), 4);         // three leaves and the unsaved one
}

TEST(BinaryStream, ObjectsNestNoDeeperThanTheXmlLoaderAllows) {
    ProbeReset reset;
    ProbeA top;
    ProbeA* at = &top;
    for (int k = 0; k < 300; ++k) at = static_cast<ProbeA*>(at->kids.emplace_back(std::make_unique<ProbeA>()).get());
    ProbeA::onSave = [](const ProbeA& self, xxOutput& out) {
        out.SaveChildObject(self.kids.empty() ? nullptr : self.kids[0].get());
    };
    const Bytes saved = SaveBinary(top);
    ProbeA::onLoad = [](ProbeA& self, xxInput& in) { self.kids.push_back(in.ReadChild<xxObject>()); };
    ProbeA back;
    Cfx::CfxResult r = Thrown([&] { LoadBinary(saved, back); });
    EXPECT_EQ(r.Hr(), E_UNEXPECTED);
    EXPECT_EQ(r.Description(), "The document's objects nest deeper than 256 levels");
}

TEST(BinaryStream, WriteFailuresAreReported) {
    std::unique_ptr<TestRoot> graph = BuildGraph();
    struct Case {
        const char* what;
        cvtest::RecordingStream::Op op;
        int nth;
        ULONG limit;
        HRESULT hr;
    } cases[] = {
        {"first write", cvtest::RecordingStream::Op::Write, 1, 0, STG_E_WRITEFAULT},
        {"patch of the header", cvtest::RecordingStream::Op::Write, 2, 0, STG_E_WRITEFAULT},
        {"seek back", cvtest::RecordingStream::Op::Seek, 2, 0, E_INVALIDARG},
        {"short write", cvtest::RecordingStream::Op::Write, 0, 10, E_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cvtest::RecordingStream stream({}, true);
        stream.RecordLastError(true);
        if (c.nth) stream.FailNth(c.op, c.nth, c.hr);
        if (c.limit) stream.SetWriteLimit(c.limit);
        Cfx::CfxResult r = Thrown([&] {
            CBinaryDMExporter writer(stream);
            writer.WriteHeaderPlaceholder();
            writer.SaveObject(*graph, xxSaveKind::WithId);
            writer.WriteTrailer();
        });
        EXPECT_EQ(r.Hr(), c.hr);
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "cfx/cfx.h"
#include "documents/xsd_reader.h"
#include "documents/xsd_test_classes.h"
#include "documents/xsd_writer.h"
#include "xml/xml.h"

// An object whose Save and Load run whatever the test hands them.
class TestProbe : public xxObject {
    XX_DECLARE_CLASS(TestProbe)
public:
    TestProbe() = default;
    static inline std::function<void(xxOutput&)> onSave;
    static inline std::function<void(xxInput&)> onLoad;
    void Save(xxOutput& out) const override {
        if (onSave) onSave(out);
    }
    void Load(xxInput& in) override {
        if (onLoad) onLoad(in);
    }
};
XX_IMPLEMENT_CLASS(TestProbe, "TestProbe", xxObject, 1)

// Saves a reference to its leaf, then the leaf as a contained object.
class TestContainer : public xxObject {
    XX_DECLARE_CLASS(TestContainer)
public:
    TestContainer() = default;
    std::unique_ptr<TestLeaf> leaf = std::make_unique<TestLeaf>();
    void Save(xxOutput& out) const override {
        out.WriteReference("R", leaf.get());
        out.SaveObject(*leaf, xxSaveKind::WithId);
    }
    void Load(xxInput& in) override {
        in.ReadReferenceTo<xxObject>("R");
        in.ReadContainedObject(*leaf, this);
    }
};
XX_IMPLEMENT_CLASS(TestContainer, "TestContainer", xxObject, 1)

// Writes another value at every Save call (or, with onlyAtCall, one value at that call only), and
// has a child so that a streaming save calls it twice in the output pass.
class TestFlaky : public xxObject {
    XX_DECLARE_CLASS(TestFlaky)
public:
    TestFlaky() = default;
    int onlyAtCall = 0;
    mutable int calls = 0;
    void Save(xxOutput& out) const override {
        ++calls;
        if (!onlyAtCall) out.WriteValue("Count", calls);
        else if (calls == onlyAtCall) out.WriteValue("Count", 1);
        out.SaveChildObject(nullptr);
    }
    void Load(xxInput&) override {}
};
XX_IMPLEMENT_CLASS(TestFlaky, "TestFlaky", xxObject, 1)

namespace {

struct Saved {
    std::string text;
    std::size_t saveCalls;
};

Saved SaveDocument(const xxSerializable& root, bool streaming, bool indent = true) {
    xmlTree tree;
    std::ostringstream out;
    if (streaming) {
        xmlTreeSaver saver(out, tree, indent);
        DMToXSD writer(tree, &saver);
        writer.WriteObjectTree(root, "XSD");
        return {out.str(), writer.SaveCalls()};
    }
    DMToXSD writer(tree, nullptr);
    writer.WriteObjectTree(root, "XSD");
    xmlTreeSaver(out, tree, indent).Save(kXmlEncodingUtf8, kXmlHeaderDeclaration);
    return {out.str(), writer.SaveCalls()};
}

// From the stream, parsed as it is read; or parsed whole first.
void LoadDocument(const std::string& text, xxSerializable& target, bool parsedFirst = false) {
    std::istringstream in(text);
    XSDToDM reader(target);
    if (!parsedFirst) return reader.Load(in);
    xmlTree tree;
    xmlTreeLoader(in, tree).Load();
    reader.Load(tree);
}

template <class T>
std::unique_ptr<T> Load(const std::string& text, bool parsedFirst = false) {
    auto target = std::make_unique<T>();
    LoadDocument(text, *target, parsedFirst);
    return target;
}

// The failure text of a load, "" when it succeeds; a CfxResult as "HRESULT: text".
template <class T = TestRoot>
std::string LoadFailure(const std::string& text, bool parsedFirst = false) {
    try {
        Load<T>(text, parsedFirst);
    } catch (const xmlException& e) {
        return e.what();
    } catch (const Cfx::CfxResult& r) {
        return (r.Hr() == E_FAIL ? "E_FAIL: " : "other: ") + r.Description();
    }
    return "";
}

template <class F>
std::string SaveFailure(const xxSerializable& root, bool streaming, F&& check) {
    try {
        SaveDocument(root, streaming);
    } catch (const xmlException& e) {
        return e.what();
    } catch (const Cfx::CfxResult& r) {
        check(r.Hr());
        return r.Description();
    }
    return "";
}

std::string Doc(const std::string& body) { return "<XSD Version=\"5.5\">" + body + "</XSD>"; }

TEST(XsdDocument, GraphsReadBackEqualStreamingOrNot) {
    auto graph = BuildGraph();
    for (bool streaming : {false, true}) {
        Saved saved = SaveDocument(*graph, streaming);
        auto back = Load<TestRoot>(saved.text);
        EXPECT_EQ(CompareGraphs(*graph, *back), "") << (streaming ? "streaming" : "in memory");
        // Read and saved again: the same bytes.
        EXPECT_EQ(SaveDocument(*back, streaming).text, saved.text);
    }
    // The two saves of one tree read back equal to each other too.
    auto a = Load<TestRoot>(SaveDocument(*graph, false).text);
    auto b = Load<TestRoot>(SaveDocument(*graph, true).text);
    EXPECT_EQ(CompareGraphs(*a, *b), "");
    EXPECT_NE(SaveDocument(*graph, true).text.find("<Null/>"), std::string::npos);
}

TEST(XsdDocument, DocumentLayoutIdentifiersAndValueTexts) {
    TestRoot root;
    TestLeaf& a = root.Add<TestLeaf>();
    root.slots.push_back(nullptr);
    TestLeaf& b = root.Add<TestLeaf>();
    a.withRef = true;
    a.ref.Reset(&b);  // met before its own save: takes the next number
    a.value = 5;
    b.value = 6;
    b.withRef = true;
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<XSD Version=\"5.5\"><TestRoot ID=\"1\" Slots=\"3\"><TestLeaf "
        "ID=\"2\" Value=\"5\" Ref=\"3\"/><Null/><TestLeaf ID=\"3\" Value=\"6\" Ref=\"0\"/></TestRoot></XSD>\n";
    EXPECT_EQ(SaveDocument(root, false, false).text, expected);
    EXPECT_EQ(SaveDocument(root, true, false).text, expected);

    TestProbe probe;
    TestProbe::onSave = [](xxOutput& out) {
        out.WriteArray("Empty", std::vector<int>{});
        out.WriteArray("Ints", std::vector<int>{5, 5, 5, 5, 7});
        out.WriteArray("Deque", qor::deque<bool>{true, false});
        out.WriteArray("Bits", std::vector<bool>{true, false, true});
        out.WriteXxBoolArray("XxBools", std::vector<xxBool>{true, true, true});
        out.WriteArray("Strings", std::vector<std::string>{"a,b", "c"});
        out.WriteValue("Zero", -0.0, 0.0);  // equal to the default: absent
        out.WriteValue("NaN", std::nan(""), std::nan(""));  // never equal: written
        out.WriteValue("Same", std::string("x"), std::string("x"));
        out.WriteValue("Small", static_cast<unsigned char>(65));
        std::vector<xxObject*> none;
        out.WriteReferenceCollection("NoRefs", xxPointerCollection<xxObject>(none));
        out.WritePropertyTemplates("NoTemplates", {});
        out.WriteBytes("Bytes", "abc", 3);
        out.WriteAttributePresence("Flag", true);
    };
    EXPECT_EQ(SaveDocument(probe, false, false).text,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<XSD Version=\"5.5\"><TestProbe ID=\"1\" Empty=\"\" "
              "Ints=\"5,x3,7\" Deque=\"1,0\" Bits=\"101\" XxBools=\"1,x2\" Strings=\"a\\,b,c\" NaN=\"nan\" "
              "Small=\"65\"/></XSD>\n");
    TestProbe::onSave = nullptr;
}

TEST(XsdDocument, SavesWalkTwiceOrFourTimes) {
    TestRoot root;
    root.Add<TestLeaf>();
    root.Add<TestLeaf>();
    EXPECT_EQ(SaveDocument(root, false).saveCalls, 2u * 3);
    // Streaming: the root has children, so its Save runs once more in the output pass.
    EXPECT_EQ(SaveDocument(root, true).saveCalls, 2u * 3 + 1);

    TestShared& shared = root.Add<TestShared>();
    shared.target.Reset(root.slots[0].get());
    EXPECT_EQ(SaveDocument(root, false).saveCalls, 4u * 4);
    auto back = Load<TestRoot>(SaveDocument(root, false).text);
    EXPECT_FALSE(static_cast<TestShared&>(*back->slots[2]).shared);  // referenced once only
    TestLeaf& other = static_cast<TestLeaf&>(*root.slots[1]);
    other.withRef = true;
    other.ref.Reset(root.slots[0].get());
    back = Load<TestRoot>(SaveDocument(root, true).text);
    EXPECT_TRUE(static_cast<TestShared&>(*back->slots[2]).shared);
    EXPECT_EQ(CompareGraphs(root, *back), "");
}

TEST(XsdDocument, WriterRefusesWhatCouldNotBeReadBack) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<xxObject>()> build;
        const char* message;
    };
    const Case cases[] = {
        {"owned child saved twice",
         [] {
             auto r = std::make_unique<TestProbe>();
             static TestLeaf leaf;
             TestProbe::onSave = [](xxOutput& out) {
                 out.SaveChildObject(&leaf);
                 out.SaveChildObject(&leaf);
             };
             return r;
         },
         "Object saved twice"},
        {"referenced but not saved",
         [] {
             auto r = std::make_unique<TestRoot>();
             TestLeaf& l = r->Add<TestLeaf>();
             static TestLeaf outside;
             l.withRef = true;
             l.ref.Reset(&outside);
             return r;
         },
         "The objects with the following IDs were not saved: 3, "},
        {"reference after a save without ID",
         [] {
             static TestLeaf leaf;
             TestProbe::onSave = [](xxOutput& out) {
                 out.SaveObject(leaf, xxSaveKind::WithoutId);
                 out.WriteReference("R", &leaf);
             };
             return std::make_unique<TestProbe>();
         },
         "A reference to an object of class 'TestLeaf' that is saved without an ID cannot be written"},
        {"reference before a save without ID",
         [] {
             static TestLeaf leaf;
             TestProbe::onSave = [](xxOutput& out) {
                 out.WriteReference("R", &leaf);
                 out.SaveObject(leaf, xxSaveKind::WithoutId);
             };
             return std::make_unique<TestProbe>();
         },
         "An object of class 'TestLeaf' that is referenced cannot be saved without an ID"},
        {"reference to an inline part",
         [] {
             static TestPart part;
             TestProbe::onSave = [](xxOutput& out) {
                 out.SaveObjectInline(&part);
                 out.WriteReference("R", &part);
             };
             return std::make_unique<TestProbe>();
         },
         "A reference to an object of class 'TestPart' that is saved without an ID cannot be written"},
        {"empty string in a list",
         [] {
             TestProbe::onSave = [](xxOutput& out) { out.WriteArray("S", std::vector<std::string>{"a", ""}); };
             return std::make_unique<TestProbe>();
         },
         "An empty string cannot be written in the string list 'S'"},
        {"control character in a value",
         [] {
             TestProbe::onSave = nullptr;
             auto r = std::make_unique<TestRoot>();
             r->SetName("bad\x01name");
             return r;
         },
         "Character 0x01 cannot be written in XML"},
    };
    for (const Case& c : cases) {
        for (bool streaming : {false, true}) {
            auto root = c.build();
            EXPECT_EQ(SaveFailure(*root, streaming, [](HRESULT) {}), c.message) << c.name;
        }
    }
    TestProbe::onSave = nullptr;
}

TEST(XsdDocument, StreamingSecondCallMustRepeatTheFirst) {
    // Calls: the counting pass, then the attributes-only and the children-only call.
    TestFlaky flaky;
    HRESULT hr = S_OK;
    EXPECT_EQ(SaveFailure(flaky, true, [&](HRESULT h) { hr = h; }),
              "Different XML attribute value on 2nd Save() pass - see 09015i1eq01: Count='2' vs '3'");
    EXPECT_EQ(hr, E_UNEXPECTED);
    TestFlaky missing;
    missing.onlyAtCall = 3;
    hr = S_OK;
    EXPECT_EQ(SaveFailure(missing, true, [&](HRESULT h) { hr = h; }),
              "Missing XML attribute 'Count' on 2nd Save() pass - see 09015i1eq01");
    EXPECT_EQ(hr, E_UNEXPECTED);
    TestFlaky inMemory;
    EXPECT_EQ(SaveFailure(inMemory, false, [](HRESULT) {}), "");  // one call per pass: nothing to compare
}

TEST(XsdDocument, ReaderRefusesBadDocuments) {
    struct Case {
        const char* name;
        std::string document;
        const char* message;
    };
    const Case cases[] = {
        {"no version", "<XSD><TestRoot ID=\"1\" Slots=\"0\"/></XSD>", "No version found"},
        {"unknown version", "<XSD Version=\"6.0\"><TestRoot ID=\"1\" Slots=\"0\"/></XSD>",
         "Version '6.0' is an unknown format"},
        {"no object", Doc(""), "No children available"},
        {"null object", Doc("<Null/>"), "Contained objects cannot be NULL"},
        {"duplicate ID",
         Doc("<TestRoot ID=\"1\" Slots=\"2\"><TestLeaf ID=\"7\" Value=\"1\"/><TestLeaf ID=\"7\" Value=\"2\"/></TestRoot>"),
         "More than one object has the ID 7. IDs must be unique."},
        {"ID 0", Doc("<TestRoot ID=\"0\" Slots=\"0\"/>"), "More than one object has the ID 0. IDs must be unique."},
        {"ID without digits", Doc("<TestRoot ID=\"abc\" Slots=\"0\"/>"), "The ID 'abc' is not a number"},
        // Read up to the first other character these would be 1 and 7, and clash with the root.
        {"ID with an exponent", Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestLeaf ID=\"1e99\" Value=\"1\"/></TestRoot>"),
         "The ID '1e99' is not a number"},
        {"ID with a tail", Doc("<TestRoot ID=\"7abc\" Slots=\"0\"/>"), "The ID '7abc' is not a number"},
        {"empty ID", Doc("<TestRoot ID=\"\" Slots=\"0\"/>"), "More than one object has the ID . IDs must be unique."},
        {"negative ID", Doc("<TestRoot ID=\"-5\" Slots=\"0\"/>"), "The ID '-5' is out of range"},
        {"33-bit ID", Doc("<TestRoot ID=\"4294967297\" Slots=\"0\"/>"), "The ID '4294967297' is out of range"},
        {"huge ID", Doc("<TestRoot ID=\"2000000000\" Slots=\"0\"/>"), ""},
        {"second top-level element",
         Doc("<TestRoot ID=\"1\" Slots=\"0\"/><TestLeaf ID=\"2\" Value=\"1\"/><TestLeaf Value=\"1\"/>"),
         "The objects with the following ID(s) did not get loaded: 2, <No ID>"},
        {"unknown class", Doc("<TestRoot ID=\"1\" Slots=\"1\"><Nope ID=\"2\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - 'Nope' is an unknown object type"},
        {"abstract class", Doc("<TestRoot ID=\"1\" Slots=\"1\"><TreeNode ID=\"2\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - Unable to create object of type 'TreeNode'"},
        {"too few children", Doc("<TestRoot ID=\"1\" Slots=\"2\"><Null/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - None, or too few, child Elements provided"},
        {"child without ID", Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestLeaf Value=\"1\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - Missing ID attribute on the Element 'TestLeaf'"},
        {"bad value, deep",
         Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestRoot ID=\"4\" Slots=\"1\"><TestLeaf ID=\"5\" Value=\"abc\"/></TestRoot></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestRoot' (ID=4) - \nElement 'TestLeaf' (ID=5) - Attribute='Value' - "
         "Unable to convert the value 'abc' for type int: Error: not a number"},
        {"attribute missing here", Doc("<TestRoot ID=\"1\" Slots=\"2\"><TestLeaf ID=\"5\" Value=\"1\"/><TestLeaf ID=\"6\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=6) - Attribute='Value' - Attribute missing"},
        {"bad value",
         Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestLeaf ID=\"5\" Value=\"abc\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=5) - Attribute='Value' - Unable to convert the value "
         "'abc' for type int: Error: not a number"},
        {"attribute nobody has", Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestLeaf ID=\"5\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=5) - Attribute='Value' - Unknown attribute class"},
        {"reference beyond the IDs",
         Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestLeaf ID=\"2\" Value=\"1\" Ref=\"99\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=2) - reference Attribute='Ref' - Invalid ID reference: '99'"},
        {"reference into a gap",
         Doc("<TestRoot ID=\"1\" Slots=\"2\"><TestLeaf ID=\"2\" Value=\"1\" Ref=\"3\"/><TestLeaf ID=\"4\" Value=\"1\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=2) - reference Attribute='Ref' - Missing object with ID '3'"},
        {"reference with a tail",
         Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestLeaf ID=\"2\" Value=\"1\" Ref=\"2abc\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=2) - reference Attribute='Ref' - Invalid ID reference: '2abc'"},
        {"33-bit reference",
         Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestLeaf ID=\"2\" Value=\"1\" Ref=\"4294967297\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=2) - reference Attribute='Ref' - Invalid ID reference: "
         "'4294967297'"},
        {"reference to a child its parent never read",
         Doc("<TestRoot ID=\"1\" Slots=\"2\"><TestRoot ID=\"2\" Slots=\"0\"><TestLeaf ID=\"3\" Value=\"1\"/></TestRoot>"
             "<TestLeaf ID=\"4\" Value=\"2\" Ref=\"3\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=4) - reference Attribute='Ref' - The element of Element "
         "'TestLeaf' (ID=3) was released before it was read"},
        {"unread child", Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestRoot ID=\"2\" Slots=\"0\"><TestLeaf ID=\"3\" Value=\"1\"/></TestRoot></TestRoot>"),
         "The objects with the following ID(s) did not get loaded: 3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadFailure(c.document), c.message) << c.name;
        EXPECT_EQ(LoadFailure(c.document, true), c.message) << c.name << ", parsed first";
    }
    xmlTree empty;
    TestRoot target;
    try {
        XSDToDM(target).Load(empty);
        ADD_FAILURE();
    } catch (const xmlException& e) {
        EXPECT_STREQ(e.what(), "No root node found");
    }
}

// Identifiers far beyond the element count live apart from the dense ones until the document
// has grown enough to cover them; either way they resolve and stay unique.
TEST(XsdDocument, IdentifiersFarApartResolveAndStayUnique) {
    auto document = [](int lastId) {
        const int filler = 1300;
        std::string body = "<TestLeaf ID=\"70001\" Value=\"7\"/>";
        for (int id = 2; id < 2 + filler; ++id) body += "<TestLeaf ID=\"" + std::to_string(id) + "\" Value=\"0\"/>";
        body += "<TestLeaf ID=\"" + std::to_string(lastId) + "\" Value=\"9\" Ref=\"70001\"/>";
        return Doc("<TestRoot ID=\"1\" Slots=\"" + std::to_string(filler + 2) + "\">" + body + "</TestRoot>");
    };
    auto root = Load<TestRoot>(document(70500));
    ASSERT_EQ(root->slots.size(), 1302u);
    EXPECT_EQ(static_cast<TestLeaf&>(*root->slots.back()).ref.Get(), root->slots.front().get());
    EXPECT_EQ(LoadFailure(document(70001)), "More than one object has the ID 70001. IDs must be unique.");
}

// Leaves with identifiers first, first + 1, ..., some 30 bytes each: a few thousand lie beyond
// the first pieces a stream is parsed in.
std::string Leaves(int first, int count, const std::string& attributes = "Value=\"0\"") {
    std::string body;
    for (int id = first; id < first + count; ++id)
        body += "<TestLeaf ID=\"" + std::to_string(id) + "\" " + attributes + "/>";
    return body;
}

// A stream is read while it is parsed, yet a document reads and fails as when it is parsed whole
// first: references to elements the parser has not reached, attributes only later elements have,
// elements released before the parser reached their end, and which failure comes first.
TEST(XsdDocument, StreamsReadAsDocumentsParsedFirst) {
    const int n = 5000;
    const std::string slots = "<TestRoot ID=\"1\" Slots=\"" + std::to_string(n + 2) + "\">";
    // A reference to the last leaf and one back from it; and a name, which only the last leaf
    // has, though the reader asked every leaf before it for one.
    const std::string far = Doc(slots + "<TestLeaf ID=\"2\" Value=\"1\" Ref=\"" + std::to_string(n + 3) + "\"/>" +
                                Leaves(3, n) + "<TestLeaf ID=\"" + std::to_string(n + 3) +
                                "\" Name=\"last\" Value=\"9\" Ref=\"2\"/></TestRoot>");
    for (bool parsedFirst : {false, true}) {
        auto root = Load<TestRoot>(far, parsedFirst);
        ASSERT_EQ(root->slots.size(), static_cast<std::size_t>(n + 2));
        auto& first = static_cast<TestLeaf&>(*root->slots.front());
        auto& last = static_cast<TestLeaf&>(*root->slots.back());
        EXPECT_EQ(first.ref.Get(), &last);
        EXPECT_EQ(last.ref.Get(), &first);
        EXPECT_EQ(last.value, 9);
        EXPECT_EQ(last.GetName(), "last");
    }

    const std::string broken = "</TestRoot></XSD";  // cut before its end, far from where reading failed
    const std::string late = std::to_string(n + 3);
    struct Case {
        const char* name;
        std::string document;
        std::string message;
    };
    const Case cases[] = {
        {"a parse failure after a read failure",
         "<XSD Version=\"5.5\">" + slots + "<TestLeaf ID=\"2\" Value=\"abc\"/>" + Leaves(3, n) + broken,
         "unclosed token at line 1, column "},
        {"a duplicate identifier after a read failure",
         Doc(slots + "<TestLeaf ID=\"2\" Value=\"abc\"/>" + Leaves(3, n) + Leaves(3, 1) + "</TestRoot>"),
         "More than one object has the ID 3. IDs must be unique."},
        {"an identifier that is no number after the read",
         Doc("<TestRoot ID=\"1\" Slots=\"0\"/>" + Leaves(3, n) + "<TestLeaf ID=\"x\"/>"),
         "The ID 'x' is not a number"},
        {"an attribute only a later element has",
         Doc(slots + "<TestLeaf ID=\"2\" Name=\"a\"/>" + Leaves(3, n, "Name=\"b\"") + "<TestLeaf ID=\"" + late +
             "\" Value=\"1\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=2) - Attribute='Value' - Attribute missing"},
        {"unread elements beyond the parser when their parent was read",
         Doc("<TestRoot ID=\"1\" Slots=\"1\"><TestRoot ID=\"2\" Slots=\"0\">" + Leaves(3, n) +
             "<TestLeaf Value=\"0\"/></TestRoot></TestRoot>"),
         ""},
        {"a reference to an element released before the parser reached it",
         Doc("<TestRoot ID=\"1\" Slots=\"2\"><TestRoot ID=\"2\" Slots=\"0\">" + Leaves(3, n) +
             "</TestRoot><TestLeaf ID=\"" + late + "\" Value=\"0\" Ref=\"" + std::to_string(n + 2) +
             "\"/></TestRoot>"),
         "\nElement 'TestRoot' (ID=1) - \nElement 'TestLeaf' (ID=" + late + ") - reference Attribute='Ref' - The element "
         "of Element 'TestLeaf' (ID=" + std::to_string(n + 2) + ") was released before it was read"},
        {"the content of a Null element, which nothing indexes",
         Doc("<TestRoot ID=\"1\" Slots=\"2\"><Null>" + Leaves(2, n) + Leaves(2, n) + "</Null><TestLeaf ID=\"2\" "
             "Value=\"0\"/></TestRoot>"),
         ""},
    };
    for (const Case& c : cases) {
        const std::string streamed = LoadFailure(c.document);
        EXPECT_EQ(streamed, LoadFailure(c.document, true)) << c.name;
        EXPECT_EQ(streamed.substr(0, c.message.size()), c.message) << c.name;
    }
    std::string unread;
    for (int id = 3; id < n + 3; ++id) unread += std::to_string(id) + ", ";
    EXPECT_EQ(LoadFailure(cases[4].document), "The objects with the following ID(s) did not get loaded: " + unread + "<No ID>");
}

TEST(XsdDocument, ForwardReferencesAndContainedObjects) {
    // A forward reference read later as an owned child loads normally.
    auto root = Load<TestRoot>(Doc("<TestRoot ID=\"1\" Slots=\"2\"><TestLeaf ID=\"2\" Value=\"1\" Ref=\"3\"/>"
                                   "<TestLeaf ID=\"3\" Value=\"2\" Ref=\"\"/></TestRoot>"));
    auto& first = static_cast<TestLeaf&>(*root->slots[0]);
    auto& second = static_cast<TestLeaf&>(*root->slots[1]);
    EXPECT_EQ(first.ref.Get(), &second);
    EXPECT_EQ(second.value, 2);
    EXPECT_EQ(second.ref.Get(), root.get());  // an empty reference is the root object
    // As a contained object it cannot be read: the writer writes it, the reader refuses it.
    TestContainer container;
    EXPECT_EQ(LoadFailure<TestContainer>(SaveDocument(container, false).text),
              "\nElement 'TestContainer' (ID=1) - Contained object Element 'TestLeaf' (ID=2) had already been loaded");
}

TEST(XsdDocument, ObjectsDeletedWhileLoadingAreNotReferencedOrNotified) {
    TestLeaf::NotifiedLog().clear();
    // TestDeleter deletes "victim" (a child of a tree root); the later leaf's reference reads null.
    auto doc = Doc("<TestRoot ID=\"1\" Slots=\"3\"><TreeRoot ID=\"2\" Children=\"1\"><TestLeaf ID=\"3\" Name=\"victim\" "
                   "Value=\"1\"/></TreeRoot><TestDeleter ID=\"4\" Victim=\"3\"/><TestLeaf ID=\"5\" Name=\"after\" "
                   "Value=\"2\" Ref=\"3\"/></TestRoot>");
    // TreeRoot reads its children through ReadChild<xxObject>, which the leaf is.
    auto loaded = Load<TestRoot>(doc);
    auto& after = static_cast<TestLeaf&>(*loaded->slots[2]);
    EXPECT_EQ(after.ref.Get(), nullptr);
    EXPECT_EQ(static_cast<xxTreeRoot&>(*loaded->slots[0]).NumChildren(), 0u);
    EXPECT_EQ(TestLeaf::NotifiedLog(), std::vector<std::string>{"after"});  // no attributes then
}

TEST(XsdDocument, NotificationInCreationOrderOnce) {
    TestLeaf::NotifiedLog().clear();
    Load<TestRoot>(Doc("<TestRoot ID=\"1\" Slots=\"3\"><TestLeaf ID=\"2\" Name=\"a\" Value=\"1\" Ref=\"4\"/>"
                       "<TestLeaf ID=\"3\" Name=\"b\" Value=\"1\"/><TestLeaf ID=\"4\" Name=\"c\" Value=\"1\"/></TestRoot>"));
    EXPECT_EQ(TestLeaf::NotifiedLog(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(XsdDocument, ClassVersionsFollowTheDocument) {
    TestSink sink;
    sink.Fill(0);
    std::string text = SaveDocument(sink, false).text;
    EXPECT_EQ(Load<TestSink>(text)->loadedVersion, 2u);
    // In a "5.0" document the class is unknown: its Load reads the old layout without "Newer".
    std::string old = text;
    old.replace(old.find("Version=\"5.5\""), 13, "Version=\"5.0\"");
    auto back = Load<TestSink>(old);
    EXPECT_EQ(back->loadedVersion, 0u);
    EXPECT_EQ(back->newer, 0);
}

// ---- typed and list reads ------------------------------------------------------------------------

std::string Probe(const std::string& attributes, const std::function<void(xxInput&)>& read) {
    TestProbe::onLoad = read;
    std::string failure = LoadFailure<TestProbe>(Doc("<TestProbe ID=\"1\" " + attributes + "/>"));
    TestProbe::onLoad = nullptr;
    return failure;
}

TEST(XsdReads, CompressedValueLists) {
    struct Case {
        const char* text;
        std::vector<int> values;
        const char* failure;
    };
    const Case cases[] = {
        {"5,x3,7", {5, 5, 5, 5, 7}, ""},
        {"2,x2", {2, 2, 2}, ""},
        {"2,x0", {2}, ""},
        {"", {}, ""},
        {",,3,,", {3}, ""},
        {"x3", {}, "array Attribute='A' - Unable to convert the value 'x3' for type Compressed Array: Error: repeat "
                   "instruction found in first item."},
        {",,x3", {}, "array Attribute='A' - Unable to convert the value 'x3' for type Compressed Array: Error: repeat "
                     "instruction found in first item."},
        {"1,xabc", {1}, "array Attribute='A' - Unable to convert the value 'abc' for type unsigned int: Error: not a number"},
        {"1,x4000000000", {1}, "array Attribute='A' - Repeated items exceed what the document can hold"},
        {"1,2.5", {1}, "array Attribute='A' - Unable to convert the value '2.5' for type int: Error: not a number"},
    };
    for (const Case& c : cases) {
        std::vector<int> v{99};
        qor::deque<int> q{99};
        std::string f = Probe(std::string("A=\"") + c.text + "\"", [&](xxInput& in) { in.ReadArray("A", v); });
        std::string prefix = std::string("\nElement 'TestProbe' (ID=1) - ");
        EXPECT_EQ(f, c.failure[0] ? prefix + c.failure : "") << c.text;
        EXPECT_EQ(v, c.values) << c.text;
        Probe(std::string("A=\"") + c.text + "\"", [&](xxInput& in) { in.ReadArray("A", q); });
        EXPECT_EQ(std::vector<int>(q.begin(), q.end()), c.values) << c.text;
    }
}

// What the lists of one load hold is bounded by the document's size: 8 MiB and 16 bytes for each
// byte of its attribute texts. Items cost what they occupy, references 64 bytes each.
TEST(XsdReads, ListsAreBoundedByTheDocumentSize) {
    const std::string exceeds = "Repeated items exceed what the document can hold";
    const std::string padding = " P=\"" + std::string(65536, 'p') + "\"";
    std::vector<int> ints, more;
    std::vector<double> doubles;
    std::vector<xxObject*> objects;
    xxPointerCollection<xxObject> references(objects);
    struct Case {
        const char* name;
        std::string attributes;
        std::function<void(xxInput&)> read;
        std::string failure;
    };
    auto readInts = [&](xxInput& in) { in.ReadArray("A", ints); };
    auto runs = [](int n) {
        std::string text = "R=\"ci(" + std::to_string(2 * n) + "):";
        for (int i = 0; i < n; ++i) text += "2+0,";
        return text + "\"";
    };
    const Case cases[] = {
        {"8 MB of ints", "A=\"1,x1999999\"", readInts, ""},
        {"8.8 MB of ints", "A=\"1,x2199999\"", readInts, "array Attribute='A' - " + exceeds},
        {"8.8 MB of ints in a larger document", "A=\"1,x2199999\"" + padding, readInts, ""},
        {"8.8 MB of doubles", "A=\"1,x1099999\"", [&](xxInput& in) { in.ReadArray("A", doubles); },
         "array Attribute='A' - " + exceeds},
        {"two lists of 6 MB",
         "A=\"1,x1499999\" B=\"1,x1499999\"",
         [&](xxInput& in) {
             in.ReadArray("A", ints);
             in.ReadArray("B", more);
         },
         "array Attribute='B' - " + exceeds},
        {"8.3 MB of references", "R=\"ci(130000):130000x1\"",
         [&](xxInput& in) { in.ReadReferenceCollection("R", references); }, ""},
        {"9 MB of references", "R=\"ci(140000):140000x1\"",
         [&](xxInput& in) { in.ReadReferenceCollection("R", references); },
         "reference array Attribute='R' - " + exceeds},
        // Runs of two (null and the probe), 4 bytes for 128: within 16 per byte of themselves
        // and the floor, or not.
        {"15 MB of runs", runs(120000), [&](xxInput& in) { in.ReadReferenceCollection("R", references); }, ""},
        {"18 MB of runs", runs(140000), [&](xxInput& in) { in.ReadReferenceCollection("R", references); },
         "reference array Attribute='R' - " + exceeds},
    };
    for (const Case& c : cases) {
        const std::string failure = Probe(c.attributes, c.read);
        EXPECT_EQ(failure, c.failure.empty() ? "" : "\nElement 'TestProbe' (ID=1) - " + c.failure) << c.name;
    }

    // A run over elements the parser has not reached yet is charged as it reaches them, so a
    // list before what it lists may hold what the whole document allows (13 MB here).
    const int n = 200000;
    std::vector<std::unique_ptr<TestLeaf>> leaves;
    TestProbe::onLoad = [&](xxInput& in) {
        in.ReadReferenceCollection("R", references);
        leaves.clear();
        for (int k = 0; k < n; ++k) leaves.push_back(in.ReadChild<TestLeaf>());
    };
    const std::string ahead = Doc("<TestProbe ID=\"1\" R=\"ci(" + std::to_string(n) + "):" + std::to_string(n) +
                                  "+2\">" + Leaves(2, n) + "</TestProbe>");
    for (bool parsedFirst : {false, true}) {
        EXPECT_EQ(LoadFailure<TestProbe>(ahead, parsedFirst), "") << parsedFirst;
        EXPECT_EQ(objects.size(), static_cast<std::size_t>(n));
    }
    TestProbe::onLoad = nullptr;
}

TEST(XsdReads, BoolListsAndBitVectors) {
    struct Case {
        const char* text;
        std::vector<bool> values;
        bool fails;
    };
    const Case cases[] = {
        {"1", {true}, false},          {"10", {true, false}, false},        {"101", {true, false, true}, false},
        {"1,0,1", {true, false, true}, false}, {"1,0", {true, false}, false}, {"", {}, false},
        {"1,", {true}, true},  // two characters: one value each, and "," is none
    };
    for (const Case& c : cases) {
        std::vector<bool> v;
        qor::deque<bool> q;
        std::string f = Probe(std::string("A=\"") + c.text + "\"", [&](xxInput& in) {
            in.ReadArray("A", v);
        });
        EXPECT_EQ(!f.empty(), c.fails) << c.text << f;
        EXPECT_EQ(v, c.values) << c.text;
        Probe(std::string("A=\"") + c.text + "\"", [&](xxInput& in) { in.ReadArray("A", q); });
        EXPECT_EQ(std::vector<bool>(q.begin(), q.end()), c.values) << c.text;
    }
    // A missing attribute carries the list context and the plain string read's.
    std::vector<bool> v;
    EXPECT_EQ(Probe("B=\"1\"", [&](xxInput& in) { in.ReadArray("B2", v); }),
              "\nElement 'TestProbe' (ID=1) - array Attribute='B2' - Attribute='B2' - Unknown attribute class");
}

TEST(XsdReads, PlainDefaultAndStringReads) {
    int value = 0;
    EXPECT_EQ(Probe("A=\"3\"", [&](xxInput& in) { in.ReadValue("B", value, 17); }), "");
    EXPECT_EQ(value, 17);
    EXPECT_EQ(Probe("A=\"3\" B=\"x\"", [&](xxInput& in) { in.ReadValue("B", value, 17); }),
              "\nElement 'TestProbe' (ID=1) - optional Attribute='B' - Unable to convert the value 'x' for type int: "
              "Error: not a number");
    EXPECT_EQ(Probe("A=\"3\"", [&](xxInput& in) { in.ReadValue("A", value); }), "");
    EXPECT_EQ(value, 3);
    // Present in the document, missing here.
    EXPECT_EQ(Probe("A=\"3\"", [&](xxInput& in) {
                  in.ReadValue("A", value);
                  in.ReadChild<xxObject>();
              }),
              "\nElement 'TestProbe' (ID=1) - None, or too few, child Elements provided");
    std::vector<std::string> strings{"kept"};
    EXPECT_EQ(Probe("S=\"a\\,b,,c\\\\\"", [&](xxInput& in) { in.ReadArray("S", strings); }), "");
    EXPECT_EQ(strings, (std::vector<std::string>{"kept", "a,b", "c\\"}));  // appends, as specified
    std::string s;
    EXPECT_EQ(Probe("A=\"3\"", [&](xxInput& in) { in.ReadValue("Q", s, "dflt"); }), "");
    EXPECT_EQ(s, "dflt");
    // A null name is no attribute: the default, or a failure naming no attribute.
    int n = 5;
    EXPECT_EQ(Probe("A=\"3\"", [&](xxInput& in) { in.ReadValue(nullptr, n, 7); }), "");
    EXPECT_EQ(n, 7);
    EXPECT_EQ(Probe("A=\"3\"", [&](xxInput& in) { in.ReadValue(nullptr, n); }),
              "\nElement 'TestProbe' (ID=1) - Attribute='' - Unknown attribute class");
    std::vector<const xxPropertyBase*> templates{nullptr, nullptr};
    EXPECT_EQ(Probe("T=\"Charge,Nope,,Charge\"", [&](xxInput& in) { in.ReadPropertyTemplates("T", templates); }), "");
    ASSERT_EQ(templates.size(), 3u);
    EXPECT_NE(templates[0], nullptr);
    EXPECT_EQ(templates[1], nullptr);  // unknown names stay null entries
    EXPECT_EQ(templates[2], templates[0]);
}

TEST(XsdReads, ReferenceCollections) {
    // The probe is object 1 and holds leaves 2 to 5, whose values are their IDs.
    auto read = [](const std::string& refs, std::vector<int>& ids) {
        TestProbe::onLoad = [&](xxInput& in) {
            std::vector<xxObject*> objects{nullptr};
            xxPointerCollection<xxObject> c(objects);
            in.ReadReferenceCollection("R", c);
            std::vector<std::unique_ptr<TestLeaf>> leaves;
            for (int k = 0; k < 4; ++k) leaves.push_back(in.ReadChild<TestLeaf>());
            ids.clear();
            for (xxObject* o : objects) {
                auto* leaf = dynamic_cast<TestLeaf*>(o);
                ids.push_back(!o ? 0 : leaf ? leaf->value : 1);
            }
        };
        std::string doc = Doc("<TestProbe ID=\"1\" R=\"" + refs +
                              "\"><TestLeaf ID=\"2\" Value=\"2\"/><TestLeaf ID=\"3\" Value=\"3\"/>"
                              "<TestLeaf ID=\"4\" Value=\"4\"/><TestLeaf ID=\"5\" Value=\"5\"/></TestProbe>");
        std::string failure = LoadFailure<TestProbe>(doc);
        TestProbe::onLoad = nullptr;
        return failure;
    };
    const std::string context = "\nElement 'TestProbe' (ID=1) - reference array Attribute='R' - ";
    struct Case {
        const char* text;
        std::vector<int> ids;
        std::string failure;
    };
    const Case cases[] = {
        {"2,0,3,2", {2, 0, 3, 2}, ""},
        {",,2,", {2}, ""},
        {"ci(3):2x5,1", {5, 5, 1}, ""},
        {"ci(10):2x2,3+3,0,4x0", {2, 2, 3, 4, 5, 0, 0, 0, 0, 0}, ""},
        {"ci(3):2+0,2", {0, 1, 2}, ""},
        {"ci(2000000000):1", {1}, ""},  // the count only sizes the list
        {"ci(0):1", {}, "E_FAIL: Invalid format - expected element count."},
        {"ci(99999999999):1", {}, "E_FAIL: Invalid format - expected element count."},
        {"ci3):1", {}, "E_FAIL: Invalid format - expected \"(\"."},
        {"ci(3)1", {}, "E_FAIL: Invalid format - expected \":\"."},
        {"ci(3):0x1", {}, "E_FAIL: Invalid format - expected repeat count."},
        {"ci(3):-2+1", {}, "E_FAIL: Invalid format - expected repeat count."},
        {"ci(1):2000000000x1", {}, "E_FAIL: Invalid format - more references than the element count."},
        {"ci(2):2+2147483647", {}, "E_FAIL: Invalid format - identifier run out of range."},
        {"ci(2000000000):2000000000x1", {}, context + "Repeated items exceed what the document can hold"},
        {"2,9", {}, context + "Invalid ID reference: '9'"},
        {"ci(2):2x9", {}, context + "Invalid ID reference: '9'"},
    };
    for (const Case& c : cases) {
        std::vector<int> ids;
        EXPECT_EQ(read(c.text, ids), c.failure) << c.text;
        if (c.failure.empty()) {
            EXPECT_EQ(ids, c.ids) << c.text;
        }
    }
}

}  // namespace

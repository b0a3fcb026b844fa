#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <istream>
#include <random>
#include <sstream>
#include <unordered_map>
#include <string>
#include <vector>

#include "xml/xml.h"

namespace {

std::unique_ptr<xmlTree> Parse(const std::string& text, bool leafText = false) {
    auto tree = std::make_unique<xmlTree>();
    std::istringstream in(text);
    if (leafText) xmlTreeAndLeafTextLoader(in, *tree).Load();
    else xmlTreeLoader(in, *tree).Load();
    return tree;
}

std::string ParseError(const std::string& text) {
    try {
        Parse(text);
    } catch (const xmlException& e) {
        return e.what();
    }
    return "(parsed)";
}

std::string SaveWhole(xmlTree& tree, bool indent = false, int header = kXmlHeaderNone) {
    std::ostringstream out;
    xmlTreeSaver(out, tree, indent).Save(kXmlEncodingUtf8, header);
    return out.str();
}

TEST(XmlLoader, KeepsElementsAndAttributesOnly) {
    auto tree = Parse(
        "<?xml version=\"1.0\"?>\n<!-- c --><XSD Version=\"5.5\">\n  <?pi x?>\n  <Atom3d::Heavy ID=\"1\" "
        "A=\"a&amp;&lt;&#10;b\" B=\"x\ny\"/>\n  text <!-- c --> <Null/>\n</XSD>\n");
    xmlElement* root = tree->GetDocumentElement();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), "XSD");
    ASSERT_EQ(root->ChildCount(), 2u);
    xmlElement& atom = root->ChildElement(0);
    EXPECT_EQ(atom.GetName(), "Atom3d::Heavy");  // no namespace processing
    EXPECT_EQ(*atom.FindAttribute("A"), "a&<\nb");
    EXPECT_EQ(*atom.FindAttribute("B"), "x y");  // a raw line break is normalised
    EXPECT_EQ(root->ChildElement(1).GetName(), "Null");
    EXPECT_EQ(atom.GetParent(), root);
}

TEST(XmlLoader, LeafTextLoaderKeepsTheTextOfLeavesOnly) {
    auto tree = Parse("<a>mixed<b> leaf &amp; text </b>tail<c/></a>", true);
    xmlElement* a = tree->GetDocumentElement();
    ASSERT_EQ(a->ChildCount(), 2u);
    xmlElement& b = a->ChildElement(0);
    ASSERT_EQ(b.ChildCount(), 1u);
    EXPECT_EQ(b.GetLeafText(), " leaf & text ");
    EXPECT_EQ(a->ChildElement(1).ChildCount(), 0u);
}

TEST(XmlLoader, RefusesWhatIsNotASafeWellFormedDocument) {
    struct Case {
        const char* name;
        std::string text;
        const char* expected;  // part of the message
    };
    const std::string laughs =
        "<!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]><l>&b;</l>";
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "<a>";
    const Case cases[] = {
        {"empty", "", "no element found"},
        {"not closed", "<a><b></a>", "mismatched tag"},
        {"name starting with a digit", "<2ndDerivative/>", "not well-formed"},
        {"duplicate attribute", "<a X=\"1\" X=\"2\"/>", "duplicate attribute"},
        {"second document element", "<a/><b/>", "junk after document element"},
        {"entity expansion", laughs, "document type declarations are not allowed at line 1"},
        {"external entity", "<!DOCTYPE a [<!ENTITY e SYSTEM \"/etc/passwd\">]><a>&e;</a>",
         "document type declarations are not allowed"},
        {"parameter entity", "<!DOCTYPE a [<!ENTITY % p SYSTEM \"/etc/passwd\"> %p;]><a/>",
         "document type declarations are not allowed"},
        {"undefined entity", "<a>&nope;</a>", "undefined entity"},
        {"external subset with undefined entity", "<!DOCTYPE a SYSTEM \"/etc/x.dtd\"><a>&nope;</a>",
         "document type declarations are not allowed"},
        // Defaults would give elements attributes the document does not show.
        {"attribute defaults", "<?xml version=\"1.0\"?>\n<!DOCTYPE a [<!ATTLIST a V CDATA \"5.5\">]><a/>",
         "document type declarations are not allowed at line 2"},
        {"bare document type", "<!DOCTYPE a><a/>", "document type declarations are not allowed"},
        {"deep nesting", deep, "nested deeper than 256"},
    };
    for (const Case& c : cases) EXPECT_NE(ParseError(c.text).find(c.expected), std::string::npos) << c.name << ": " << ParseError(c.text);
    EXPECT_NE(ParseError("<a>\n<b x=1/></a>").find("line 2, column"), std::string::npos);
}

TEST(XmlLoader, ReadsDocumentsLargerThanOneChunk) {
    std::string doc = "<r>";
    for (int i = 0; i < 20000; ++i) doc += "<e v=\"" + std::to_string(i) + "\"/>";
    doc += "</r>";
    auto tree = Parse(doc);
    xmlElement* r = tree->GetDocumentElement();
    ASSERT_EQ(r->ChildCount(), 20000u);
    for (std::size_t i : {0u, 4567u, 19999u}) EXPECT_EQ(*r->ChildElement(i).FindAttribute("v"), std::to_string(i));
}

// Counts the reads the loader makes of its stream.
class CountingSource : public std::streambuf {
public:
    explicit CountingSource(const std::string& text) : text_(text) {}
    int reads = 0;

protected:
    std::streamsize xsgetn(char* out, std::streamsize n) override {
        ++reads;
        const auto take = std::min<std::size_t>(static_cast<std::size_t>(n), text_.size() - pos_);
        std::memcpy(out, text_.data() + pos_, take);
        pos_ += take;
        return static_cast<std::streamsize>(take);
    }
    int_type underflow() override { return traits_type::eof(); }

private:
    const std::string& text_;
    std::size_t pos_ = 0;
};

// Tokens far longer than a piece read back whole; the pieces grow while the parser is inside one,
// so that it is not scanned again for each 64 KiB (an 8 MiB token in 128 pieces), and shrink again
// once it has ended.
TEST(XmlLoader, LongTokensAreReadInGrowingPieces) {
    const std::string token(std::size_t{8} << 20, 'a');
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"attribute", "<r v=\"" + token + "\"><e/></r>"},
        {"comment", "<r><!--" + token + "--><e/></r>"},
        {"element name", "<r><" + token + "/><e/></r>"},
    };
    for (const Case& c : cases) {
        CountingSource source(c.text);
        std::istream in(&source);
        xmlTree tree;
        xmlTreeLoader(in, tree).Load();
        xmlElement* r = tree.GetDocumentElement();
        ASSERT_NE(r, nullptr) << c.name;
        EXPECT_EQ(r->ChildElement(r->ChildCount() - 1).GetName(), "e") << c.name;
        if (c.name[0] == 'a') {
            EXPECT_EQ(r->FindAttribute("v")->size(), token.size());
        }
        if (c.name[0] == 'e') {
            EXPECT_EQ(r->ChildElement(0).GetName().size(), token.size());
        }
        EXPECT_LT(source.reads, 16) << c.name;
    }
    // After a long token the pieces are small again: a long document of short elements around one
    // long attribute is read in about as many pieces as its size asks for.
    std::string doc = "<r v=\"" + std::string(std::size_t{1} << 19, 'a') + "\">";
    for (int i = 0; i < 500000; ++i) doc += "<e/>";  // 2 MB, four times the largest piece
    doc += "</r>";
    CountingSource source(doc);
    std::istream in(&source);
    xmlTree tree;
    xmlTreeLoader loader(in, tree);
    int pieces = 0;
    while (loader.ParseSome()) ++pieces;
    EXPECT_TRUE(loader.Finished());
    EXPECT_FALSE(loader.ParseSome());
    EXPECT_EQ(tree.GetDocumentElement()->ChildCount(), 500000u);
    EXPECT_GT(pieces, 20);  // 2 MB in 64 KiB pieces, but for the few large ones
}

// A document fed piece by piece grows its tree as the pieces come; a failure finishes the loader.
TEST(XmlLoader, ParsesPieceByPiece) {
    std::string doc = "<r>";
    for (int i = 0; i < 50000; ++i) doc += "<e v=\"" + std::to_string(i) + "\"/>";
    std::istringstream in(doc + "</r>");
    xmlTree tree;
    xmlTreeLoader loader(in, tree);
    ASSERT_TRUE(loader.ParseSome());
    const std::size_t first = tree.GetDocumentElement()->ChildCount();
    EXPECT_GT(first, 0u);
    EXPECT_LT(first, 50000u);
    while (loader.ParseSome()) {
    }
    EXPECT_EQ(tree.GetDocumentElement()->ChildCount(), 50000u);

    std::istringstream bad(doc + "</q>");
    xmlTree other;
    xmlTreeLoader failing(bad, other);
    EXPECT_THROW(failing.Load(), xmlException);
    EXPECT_TRUE(failing.Finished());
    EXPECT_FALSE(failing.ParseSome());
}

TEST(XmlTree, ClassesAreInternedAndFoundWithoutCreating) {
    auto tree = Parse("<a ID=\"1\"><b ID=\"2\"/></a>");
    EXPECT_EQ(tree->FindAttributeClass("Version"), nullptr);
    EXPECT_EQ(tree->FindElementClass("Null"), nullptr);
    EXPECT_EQ(tree->FindAttributeClass("Version"), nullptr);  // the lookup made none
    const xmlAttributeClass* id = tree->FindAttributeClass("ID");
    ASSERT_NE(id, nullptr);
    xmlElement* a = tree->GetDocumentElement();
    EXPECT_EQ(&a->Attributes()[0].first->GetName(), &id->GetName());
    a->Purge();
    EXPECT_EQ(a->ChildCount(), 0u);
    EXPECT_FALSE(a->HasAttribute(*id));
    EXPECT_EQ(tree->FindAttributeClass("ID"), id);  // classes outlive their elements
    EXPECT_NE(tree->FindElementClass("b"), nullptr);

    // A class of another tree, or one made by hand, is never found, even where its number
    // among its own tree's classes is that of a class here; added, it stands for its name.
    a->AddAttribute(*id, "1");
    xmlTree other;
    const xmlAttributeClass& otherFirst = other.InternAttributeClass("Other");
    const xmlAttributeClass handMade("Made");
    for (const xmlAttributeClass* foreign : {&otherFirst, &handMade, &other.InternAttributeClass("ID")}) {
        const std::string name = foreign->GetName();
        EXPECT_FALSE(a->FindAttribute(*foreign).has_value()) << name;
        if (name == "ID") {
            EXPECT_THROW(a->AddAttribute(*foreign, "2"), xmlException);
            continue;
        }
        a->AddAttribute(*foreign, name + " value");
        const xmlAttributeClass* own = tree->FindAttributeClass(name);
        ASSERT_NE(own, nullptr) << name;
        EXPECT_EQ(a->Attributes()[a->AttributeCount() - 1].first, own) << name;
        EXPECT_EQ(a->FindAttribute(*own), name + " value");
        EXPECT_FALSE(a->FindAttribute(*foreign).has_value()) << name;
    }
    EXPECT_EQ(*a->FindAttribute(*id), "1");
    xmlElement& child = a->ChildElement(a->CreateChildElement(other.InternElementClass("b")));
    EXPECT_EQ(&child.GetClass(), tree->FindElementClass("b"));
    EXPECT_EQ(&child.GetTree(), tree.get());
    // Element classes are numbered in the order they were interned, per tree.
    EXPECT_EQ(tree->FindElementClass("a")->Index(), 0u);
    EXPECT_EQ(tree->FindElementClass("b")->Index(), 1u);
    EXPECT_EQ(tree->InternElementClass("c").Index(), 2u);
    EXPECT_EQ(other.FindElementClass("b")->Index(), 0u);
    EXPECT_EQ(tree->AttributeClassCount(), 3u);  // ID, Other, Made
}

// A reader that frees an element before the parser has reached its end skips it: the rest of it
// is shown, not built, and the loader never touches what was freed.
class RecordingLoader : public xmlTreeLoader {
public:
    using xmlTreeLoader::xmlTreeLoader;
    std::vector<std::string> built, skipped;

protected:
    void OnElementBuilt(xmlElement& e) override { built.push_back(e.GetName()); }
    void OnSkippedElement(const char* name, const char** attributes) override {
        skipped.push_back(std::string(name) + (attributes[0] ? std::string("@") + attributes[0] : ""));
    }
};

TEST(XmlLoader, ElementsFreedBeforeTheirEndAreSkipped) {
    std::string filler;
    for (int i = 0; i < 20000; ++i) filler += "<f/>";  // beyond the first piece
    std::istringstream in("<r><a><b>" + filler + "<c x=\"1\"><e/></c></b></a><d/></r>");
    xmlTree tree;
    RecordingLoader loader(in, tree);
    ASSERT_TRUE(loader.ParseSome());
    xmlElement& r = *tree.GetDocumentElement();
    xmlElement& a = r.ChildElement(0);
    xmlElement& b = a.ChildElement(0);
    EXPECT_TRUE(loader.IsOpen(r));
    EXPECT_TRUE(loader.IsOpen(b));
    EXPECT_FALSE(loader.IsOpen(b.ChildElement(0)));  // an <f/> has ended
    loader.Skip(a);
    EXPECT_FALSE(loader.IsOpen(a));
    EXPECT_FALSE(loader.IsOpen(b));
    loader.Skip(b);  // no longer open: nothing happens
    a.Purge();
    r.PurgeFirstChildren(1);
    while (loader.ParseSome()) {
    }
    // The fillers the first piece did not reach, then the rest of b.
    const auto builtFillers = static_cast<std::size_t>(std::count(loader.built.begin(), loader.built.end(), "f"));
    ASSERT_EQ(loader.skipped.size(), 20000 - builtFillers + 2);
    EXPECT_EQ(std::count(loader.skipped.begin(), loader.skipped.end(), "f"), static_cast<long>(20000 - builtFillers));
    EXPECT_EQ(loader.skipped[loader.skipped.size() - 2], "c@x");
    EXPECT_EQ(loader.skipped.back(), "e");
    ASSERT_EQ(r.ChildCount(), 1u);
    EXPECT_EQ(r.ChildElement(0).GetName(), "d");
    EXPECT_EQ(loader.built.back(), "d");
    EXPECT_EQ(tree.ElementCount(), 2u);  // r and d
}

TEST(XmlTree, ChildIndicesPurgeAndAttributes) {
    xmlTree tree;
    xmlElement& root = tree.CreateDocumentElement("root");
    EXPECT_EQ(root.CreateChildElement("a"), 0u);
    EXPECT_EQ(root.CreateChildElement("b"), 1u);
    EXPECT_EQ(root.AddText("t"), 2u);
    EXPECT_THROW(root.ChildElement(2), xmlException);
    root.ChildElement(0).CreateChildElement("deep");
    root.PurgeChild(0);
    ASSERT_EQ(root.ChildCount(), 2u);
    EXPECT_EQ(root.ChildElement(0).GetName(), "b");
    EXPECT_THROW(root.PurgeChild(5), xmlException);
    root.ChildElement(0).CreateChildElement("deep");
    root.CreateChildElement("c");
    root.PurgeFirstChildren(2);  // b with its child, and the text
    ASSERT_EQ(root.ChildCount(), 1u);
    EXPECT_EQ(root.ChildElement(0).GetName(), "c");
    EXPECT_EQ(tree.ElementCount(), 2u);
    EXPECT_THROW(root.PurgeFirstChildren(2), xmlException);
    root.PurgeFirstChildren(0);
    EXPECT_EQ(root.ChildCount(), 1u);

    root.AddAttribute("X", "1");
    EXPECT_THROW(root.AddAttribute("X", "2"), xmlException);
    EXPECT_EQ(*root.FindAttribute("X"), "1");
    EXPECT_THROW(root.CreateChildElement("2ndDerivative"), xmlException);
    EXPECT_THROW(root.AddAttribute("a b", "1"), xmlException);
    EXPECT_THROW(tree.InternElementClass(""), xmlException);

    // Sizes past what the element can hold throw instead of wrapping; the element stays usable.
    struct Oversized {
        std::size_t attributes, bytes;
    };
    for (const Oversized& o : {Oversized{std::size_t{1} << 61, 0}, Oversized{std::size_t{1} << 29, 0},
                               Oversized{1, std::size_t{1} << 32}, Oversized{1, ~std::size_t{0}}}) {
        EXPECT_THROW(root.ReserveAttributes(o.attributes, o.bytes), xmlException) << o.attributes << " " << o.bytes;
        EXPECT_EQ(root.AttributeCount(), 1u);
    }
    root.AddAttribute("Y", "2");
    EXPECT_EQ(*root.FindAttribute("X"), "1");
    EXPECT_EQ(*root.FindAttribute("Y"), "2");

    const std::size_t largest = 0xFFFFFFFF;
    root.SetUserIndex(largest);
    EXPECT_EQ(root.GetUserIndex(), largest);
    EXPECT_THROW(root.SetUserIndex(largest + 1), xmlException);
    EXPECT_EQ(root.GetUserIndex(), largest);  // not cut to 0
}

TEST(XmlTree, DeepTreesAreSavedAndFreedWithoutRecursion) {
    xmlTree tree;
    xmlElement* e = &tree.CreateDocumentElement("r");
    for (int i = 0; i < 200000; ++i) e = &e->ChildElement(e->CreateChildElement("d"));
    std::string text = SaveWhole(tree);
    EXPECT_EQ(text.size(), 3 + 199999 * 7 + 4 + 4 + 1u);  // <r>, <d>..</d>, <d/>, </r>, line end
    tree.Clear();
}

TEST(XmlSaver, EscapesAttributeValuesAndText) {
    struct Case {
        std::string value;
        const char* attribute;
        const char* text;
    };
    const Case cases[] = {
        {"plain", "plain", "plain"},
        {"a&b<c>d\"e'f", "a&amp;b&lt;c&gt;d&quot;e'f", "a&amp;b&lt;c&gt;d\"e'f"},
        {"tab\tlf\ncr\r", "tab&#9;lf&#10;cr&#13;", "tab\tlf\ncr&#13;"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\x7F", "\x7F", "\x7F"},
    };
    for (const Case& c : cases) {
        std::string a, t;
        xmlAppendEscaped(a, c.value, true);
        xmlAppendEscaped(t, c.value, false);
        EXPECT_EQ(a, c.attribute);
        EXPECT_EQ(t, c.text);
    }
    const char* refused[] = {"\x01", "a\x1F", "\xC0\xAF", "\xED\xA0\x80",
                             "\xEF\xBF\xBE", "\xF4\x90\x80\x80", "\xE2\x82", "\x80", "\xFF"};
    for (const char* r : refused) {
        std::string out;
        EXPECT_THROW(xmlAppendEscaped(out, r, true), xmlException) << r;
    }
    std::string out;
    EXPECT_THROW(xmlAppendEscaped(out, std::string_view("a\0b", 3), true), xmlException);

    // Long texts are scanned several bytes at a time: a character needing care is found at any
    // position, and the bytes around it are kept.
    struct Special {
        char c;
        const char* written;
    };
    for (const Special& sp : {Special{'&', "&amp;"}, Special{'<', "&lt;"}, Special{'>', "&gt;"},
                              Special{'"', "&quot;"}, Special{'\t', "&#9;"}, Special{'\x01', nullptr},
                              Special{'\x7F', "\x7F"}, Special{' ', " "}}) {
        for (std::size_t at = 0; at < 20; ++at) {
            std::string text(20, 'x');
            text[at] = sp.c;
            std::string escaped;
            if (!sp.written) {
                EXPECT_THROW(xmlAppendEscaped(escaped, text, true), xmlException) << at;
                continue;
            }
            xmlAppendEscaped(escaped, text, true);
            EXPECT_EQ(escaped, std::string(at, 'x') + sp.written + std::string(19 - at, 'x')) << int(sp.c) << " at " << at;
        }
    }
}

TEST(XmlSaver, WhatItWritesReadsBack) {
    xmlTree tree;
    xmlElement& root = tree.CreateDocumentElement("XSD");
    root.AddAttribute("Version", "5.5");
    xmlElement& a = root.ChildElement(root.CreateChildElement("Atom3d::Heavy"));
    const std::string tricky = " lead\ttab\nlf\rcr & <tag> \"q\" 'a' \xC3\xA9 trail ";
    a.AddAttribute("V", tricky);
    a.AddAttribute("Empty", "");
    root.CreateChildElement("Null");

    EXPECT_EQ(SaveWhole(tree),
              "<XSD Version=\"5.5\"><Atom3d::Heavy V=\" lead&#9;tab&#10;lf&#13;cr &amp; &lt;tag&gt; &quot;q&quot; 'a' "
              "\xC3\xA9 trail \" Empty=\"\"/><Null/></XSD>\n");
    for (bool indent : {false, true}) {
        auto back = Parse(SaveWhole(tree, indent, kXmlHeaderDeclaration));
        xmlElement* r = back->GetDocumentElement();
        ASSERT_EQ(r->ChildCount(), 2u);
        EXPECT_EQ(*r->ChildElement(0).FindAttribute("V"), tricky);
        EXPECT_EQ(*r->ChildElement(0).FindAttribute("Empty"), "");
    }
    // Encoding type 1 is UTF-8 as 0 is.
    std::ostringstream utf8, alsoUtf8;
    EXPECT_TRUE(xmlTreeSaver(utf8, tree, false).Save(0, kXmlHeaderNone));
    EXPECT_TRUE(xmlTreeSaver(alsoUtf8, tree, false).Save(1, kXmlHeaderNone));
    EXPECT_EQ(alsoUtf8.str(), utf8.str());
    std::ostringstream out;
    EXPECT_THROW(xmlTreeSaver(out, tree, false).Save(2, 0), xmlException);
    EXPECT_THROW(xmlTreeSaver(out, tree, false).Save(0, 7), xmlException);
}

// Attributes added one at a time outgrow their block again and again; purged elements give
// their memory back for the next ones. Empty values sit first, between others and last, and
// the parser's copy, reserved at once, reads the same.
TEST(XmlTree, AttributesSurviveGrowthAndPurgedMemoryIsReused) {
    xmlTree tree;
    xmlElement& root = tree.CreateDocumentElement("root");
    for (int round = 0; round < 3; ++round) {
        xmlElement& e = root.ChildElement(root.CreateChildElement("e"));
        std::vector<std::string> values;
        for (int i = 0; i < 40; ++i) {
            const std::size_t size = i % 7 == 3 || i == 39 ? 0 : static_cast<std::size_t>(i * 997 % 20000);
            values.push_back(std::string(size, static_cast<char>('a' + i % 26)));
            e.AddAttribute("a" + std::to_string(i), values.back());
        }
        ASSERT_EQ(e.AttributeCount(), 40u);
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(e.FindAttribute("a" + std::to_string(i)), values[static_cast<std::size_t>(i)]) << i;
            EXPECT_EQ(e.Attributes()[static_cast<std::size_t>(i)].first->GetName(), "a" + std::to_string(i));
        }
        if (round == 0) {
            auto back = Parse(SaveWhole(tree));
            const xmlElement& read = back->GetDocumentElement()->ChildElement(0);
            ASSERT_EQ(read.AttributeCount(), 40u);
            std::size_t i = 0;
            for (const auto& [cls, value] : read.Attributes()) {
                EXPECT_EQ(cls->GetName(), "a" + std::to_string(i));
                EXPECT_EQ(value, values[i]) << i;
                ++i;
            }
        }
        for (int i = 0; i < 300; ++i) e.CreateChildElement("c");
        EXPECT_EQ(e.ChildCount(), 300u);
        root.PurgeChild(0);
        EXPECT_EQ(root.ChildCount(), 0u);
    }
    EXPECT_FALSE(root.FindAttribute("a1").has_value());
    EXPECT_THROW(root.Child(0), std::out_of_range);
}

TEST(XmlSaver, LeafTextSaverWritesTheTextOfLeaves) {
    auto tree = Parse("<a><b>x &amp; y</b><c/></a>", true);
    std::ostringstream out;
    xmlTreeAndLeafTextSaver(out, *tree, false).Save(kXmlEncodingUtf8, kXmlHeaderNone);
    EXPECT_EQ(out.str(), "<a><b>x &amp; y</b><c/></a>\n");
}

// The writer's pattern: begin an element, add its attributes, save its children, end it, purge.
TEST(XmlSaver, StreamingDefersStartTagsAndNeverLooksBack) {
    xmlTree tree;
    xmlElement& root = tree.CreateDocumentElement("XSD");
    root.AddAttribute("Version", "5.5");
    std::ostringstream out;
    xmlTreeSaver saver(out, tree, false);
    saver.BeginSave(kXmlEncodingUtf8, kXmlHeaderDeclaration);
    for (int i = 0; i < 2; ++i) {
        std::size_t pi = root.CreateChildElement("P");
        xmlElement& p = root.ChildElement(pi);
        p.AddAttribute("ID", std::to_string(i + 1));
        saver.BeginElement(p);
        p.AddAttribute("late", "yes");  // after BeginElement: still written
        if (i == 0) {
            xmlElement& c = p.ChildElement(p.CreateChildElement("C"));
            saver.BeginElement(c);
            c.AddAttribute("v", "1");
            saver.EndElement(c);
            p.PurgeChild(0);
        }
        EXPECT_THROW(saver.EndElement(root), xmlException);
        saver.EndElement(p);
        root.PurgeChild(pi);
        EXPECT_EQ(root.ChildCount(), 0u);
    }
    saver.EndSave();
    EXPECT_EQ(out.str(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<XSD Version=\"5.5\"><P ID=\"1\" late=\"yes\"><C "
              "v=\"1\"/></P><P ID=\"2\" late=\"yes\"/></XSD>\n");

    std::ostringstream indented;
    xmlTree t2;
    t2.CreateDocumentElement("XSD").ChildElement(t2.GetDocumentElement()->CreateChildElement("A")).CreateChildElement("B");
    xmlTreeSaver(indented, t2, true).Save(kXmlEncodingUtf8, kXmlHeaderNone);
    EXPECT_EQ(indented.str(), "<XSD>\n\t<A>\n\t\t<B/>\n\t</A>\n</XSD>\n");
}

// A literal is known by its address alone; a name in memory that can change is not, so a
// buffer that held a literal's text and now holds another name finds the other class.
TEST(XmlNameCache, KnowsLiteralsByAddressOnly) {
    static const char kLiteral[] = "Charge";
    std::string heap = "Charge";
    char stack[8] = "Charge";
    const FixedTexts fixed;
    EXPECT_TRUE(fixed.Holds(kLiteral));
    EXPECT_TRUE(fixed.Holds("Name"));
    EXPECT_FALSE(fixed.Holds(heap.c_str()));
    EXPECT_FALSE(fixed.Holds(stack));

    xmlElementClass charge("Charge"), name("Name");
    auto lookup = [&](const char* n) -> const xmlElementClass* {
        return std::strcmp(n, "Charge") == 0 ? &charge : std::strcmp(n, "Name") == 0 ? &name : nullptr;
    };
    xmlNameCache<xmlElementClass, 4> cache;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(cache.Get(kLiteral, lookup), &charge);
        std::strcpy(stack, "Charge");
        EXPECT_EQ(cache.Get(stack, lookup), &charge);
        std::strcpy(stack, "Name");
        EXPECT_EQ(cache.Get(stack, lookup), &name);
        std::strcpy(stack, "Other");
        EXPECT_EQ(cache.Get(stack, lookup), nullptr);
    }
}

// The cache answers what its lookup answers, whatever the addresses: names rewritten in place,
// one text at several addresses, a name that is the tail of another, names too long to be
// remembered without a class, and more names than it has entries.
TEST(XmlNameCache, AnswersAsItsLookupWouldOnRandomNames) {
    std::unordered_map<std::string, std::unique_ptr<xmlElementClass>> classes;
    std::vector<std::string> names = {"FormalCharge", "Charge", "Name", "Nam", "Na", "N", "XYZ", "ID",
                                      std::string(40, 'L'), std::string(40, 'M'), std::string(31, 'S')};
    for (int i = 0; i < 12; ++i) names.push_back("c" + std::to_string(i));
    for (const std::string& name : names)
        if (name != "FormalCharge" && name != "Nam" && name[0] != 'M' && name[0] != 'S' && name != "c3")
            classes.emplace(name, std::make_unique<xmlElementClass>(name));
    auto lookup = [&](const char* name) -> const xmlElementClass* {
        auto it = classes.find(name);
        return it == classes.end() ? nullptr : it->second.get();
    };
    xmlNameCache<xmlElementClass, 4> cache;
    std::array<std::array<char, 48>, 16> buffers{};
    std::mt19937 random(11);
    for (auto& b : buffers) std::strcpy(b.data(), names[random() % names.size()].c_str());
    for (int op = 0; op < 20000; ++op) {
        auto& buffer = buffers[random() % buffers.size()];
        switch (random() % 6) {
            case 0:
                std::strcpy(buffer.data(), names[random() % names.size()].c_str());
                break;
            case 1:
                if (random() % 50 == 0) cache.Clear();
                break;
            default:
                break;
        }
        // Sometimes from inside the buffer: "Charge" within "FormalCharge", "a" within "Na".
        const std::size_t length = std::strlen(buffer.data());
        const char* name = buffer.data() + (random() % 4 == 0 && length > 1 ? random() % length : 0);
        ASSERT_EQ(cache.Get(name, lookup), lookup(name)) << op << " " << name;
    }
}

}  // namespace

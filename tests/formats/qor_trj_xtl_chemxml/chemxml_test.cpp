// ChemistryXML: the reader's rules and errors, the writer's layouts, and round trips through the
// component and the host stand-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/split_strings.h"
#include "datamodel/symmetry/builder.h"
#include "datamodel/value_types.h"
#include "formats/qor_trj_xtl_chemxml/chemxml_component.h"
#include "formats/qor_trj_xtl_chemxml/chemxml_reader.h"
#include "frame/clsids.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/host_doubles.h"
#include "support/library_components.h"
#include "support/recording_stream.h"

namespace {

using namespace cartovane;

constexpr char kComponent[] = "SDCartovane.ChemistryXMLImportExport";

template <class Interface>
CfxComPtr<Interface> Component(const char* progId = kComponent) {
    cvtest::RegisterLibraryComponents();
    CfxComPtr<Interface> component;
    EXPECT_EQ(Cfx::CfxCreateImpl(progId, nullptr, CLSCTX_INPROC_SERVER, InterfaceId<Interface>::value,
                                 component.OutVoid(), false),
              S_OK);
    return component;
}

CfxComPtr<host::Model3dDocument> NewDocument() {
    cvtest::RegisterLibraryComponents();
    return host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
}

HRESULT ImportInto(host::Model3dDocument& document, std::string_view text) {
    Cfx::SetLastError(S_OK);
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>(text.begin(), text.end()));
    return Component<ISBImporter>()->Import(stream.Get(), static_cast<ISBDocumentRoot*>(&document), CfxVariant().Get());
}

std::string Export(host::Model3dDocument& document, HRESULT& hr) {
    Cfx::SetLastError(S_OK);
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    hr = Component<ISBExporter>()->Export(stream.Get(), static_cast<ISBDocumentRoot*>(&document), CfxVariant().Get());
    const std::vector<char> bytes = host::MemoryStreamBytes(stream.Get());
    return {bytes.begin(), bytes.end()};
}

// One line per object of the tree, depth first: class, name, and for atoms element, position
// and formal charge, for bonds the names of their ends and their type.
std::string Outline(const xxTreeNode& node, int depth = 0) {
    std::string out;
    for (const auto& child : node.Children()) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + child->GetClass().GetName() + " " + child->GetName();
        if (const auto* atom = child->As<xxAtom3d>()) {
            const xxPoint3d p = atom->GetXYZ();
            out += " Z" + std::to_string(atom->GetElementNumber()) + " " + ToString(p.x) + "," + ToString(p.y) + "," +
                   ToString(p.z) + " q" + std::to_string(atom->GetFormalCharge().numerator) + "/" +
                   std::to_string(atom->GetFormalCharge().denominator);
        }
        if (const auto* bond = child->As<xxBond>()) out += " type" + std::to_string(bond->GetHeavy());
        if (const auto* pi = child->As<xxPiSystemBond>()) out += " member " + pi->GetAtoms()[1]->GetName();
        out += "\n";
        if (const auto* inner = child->As<xxTreeNode>()) out += Outline(*inner, depth + 1);
    }
    return out;
}

// ---- rules ---------------------------------------------------------------------------------------

TEST(ChemistryXmlRules, BondTypeKeywordsAreExactAndCaseSensitive) {
    struct Case {
        const char* keyword;
        xxBondType type;
    };
    const Case cases[] = {
        {"single", xxBondType::Single},       {"doublePartial", xxBondType::Partial},
        {"aromatic", xxBondType::Aromatic},   {"double", xxBondType::Double},
        {"triplePartial", xxBondType::TriplePartial}, {"triple", xxBondType::Triple},
        {"quadruple", xxBondType::Quadruple}, {"Aromatic", xxBondType::Single},
        {"DOUBLE", xxBondType::Single},       {"double ", xxBondType::Single},
        {"", xxBondType::Single},             {"4", xxBondType::Single},
    };
    for (const Case& c : cases) EXPECT_EQ(chemxml::BondTypeOf(c.keyword), c.type) << c.keyword;
    for (int code = 1; code <= 7; ++code) {
        const auto type = static_cast<xxBondType>(code);
        EXPECT_EQ(chemxml::BondTypeOf(chemxml::BondTypeKeyword(type)), type) << code;
    }
}

TEST(ChemistryXmlRules, IdListsSplitAtEverySingleBlankAndNamesLoseLeadingIAndD) {
    EXPECT_EQ(SplitStrings("ID1 ID2", ' '), (std::vector<std::string_view>{"ID1", "ID2"}));
    EXPECT_EQ(SplitStrings("ID1  ID2", ' '), (std::vector<std::string_view>{"ID1", "", "ID2"}));
    EXPECT_EQ(SplitStrings("", ' '), (std::vector<std::string_view>{""}));
    EXPECT_EQ(SplitStrings(" a ", ' '), (std::vector<std::string_view>{"", "a", ""}));
    struct Case {
        const char* id;
        const char* suffix;
    };
    const Case cases[] = {{"ID12", "12"}, {"DI7", "7"}, {"X7", "X7"}, {"IDID", ""}, {"a1", "a1"}, {"IDx", "x"}};
    for (const Case& c : cases) EXPECT_EQ(chemxml::NameSuffix(c.id), c.suffix) << c.id;
}

// ---- reading ---------------------------------------------------------------------------------

TEST(ChemistryXmlImport, FailuresCarryThePrefixAndLeaveTheDocumentAsItWas) {
    struct Case {
        const char* what;
        std::string text;
        HRESULT hr;
        std::string description;  // after the prefix
    };
    const std::string a = R"(<atom id="A1"/><atom id="A2"/>)";
    const Case cases[] = {
        {"atom without id", R"(<d><atom/></d>)", E_ABORT, "Required atom attribute \"id\" not present"},
        {"bond without id", "<d>" + a + R"(<bond atoms="A1 A2"/></d>)", E_ABORT, "Required bond attribute \"id\" not present"},
        {"bond without atoms", "<d>" + a + R"(<bond id="B"/></d>)", E_ABORT,
         "Required bond attribute \"atoms\" not present"},
        {"bond to an unknown atom", "<d>" + a + R"(<bond id="B" atoms="A1 A9"/></d>)", E_ABORT,
         "Bond referenced atom not found"},
        {"bond with one end", "<d>" + a + R"(<bond id="B" atoms="A1"/></d>)", E_ABORT, "Bond referenced atom not found"},
        {"bond with a double blank", "<d>" + a + R"(<bond id="B" atoms="A1  A2"/></d>)", E_ABORT,
         "Bond referenced atom not found"},
        {"bond to a molecule", "<d>" + a + R"(<molecule id="M"/><bond id="B" atoms="A1 M"/></d>)", E_ABORT,
         "Bond referenced atom not found"},
        {"charge without numerator", R"(<d><atom id="A1"><formalCharge denominator="2"/></atom></d>)", E_ABORT,
         "Required formalCharge attribute \"numerator\" not present"},
        {"pi system without id", R"(<d><piSystem bonds=""/></d>)", E_ABORT,
         "Required piSystem attribute \"id\" not present"},
        {"pi system without bonds", R"(<d><piSystem id="P"/></d>)", E_ABORT,
         "Required piSystem attribute \"bonds\" not present"},
        {"pi system naming an atom", "<d>" + a + R"(<piSystem id="P" bonds="A1"/></d>)", E_ABORT,
         "piSystem referenced object not found"},
        {"pi bond without id", "<d>" + a + R"(<piSystem id="P" bonds=""/><piBond atom="A1" piSystem="P"/></d>)", E_ABORT,
         "Required piBond attribute \"id\" not present"},
        {"pi bond without pi system", "<d>" + a + R"(<piBond id="Q" atom="A1"/></d>)", E_ABORT,
         "Required piBond attributes \"atom\" and/or \"piSystem\" not present"},
        {"pi bond to an atom", "<d>" + a + R"(<piBond id="Q" atom="A1" piSystem="A2"/></d>)", E_ABORT,
         "Bond referenced atom or piSystem not found"},
        {"a coordinate that is no number", R"(<d><atom id="A1" coord3DX="1,5"/></d>)", E_FAIL, ""},
        {"an atomic number beyond the table", R"(<d><atom id="A1" atomicNumber="119"/></d>)", E_INVALIDARG, ""},
        {"a zero denominator", R"(<d><atom id="A1"><formalCharge numerator="1" denominator="0"/></atom></d>)",
         E_INVALIDARG, ""},
        {"one atom named twice", "<d>" + a + R"(<bond id="B" atoms="A1 A1"/></d>)", E_INVALIDARG, ""},
        {"malformed XML", "<d><atom id=\"A1\"></d>", E_FAIL, ""},
        {"an entity declaration", "<!DOCTYPE d [<!ENTITY e \"x\">]><d><atom id=\"&e;\"/></d>", E_FAIL, ""},
        // Refused before anything it names is read.
        {"a document type declaration", "<!DOCTYPE d SYSTEM \"/nonexistent.dtd\"><d/>", E_FAIL,
         "document type declarations are not allowed at line 1, column 37"},
        {"no root element", "   ", E_FAIL, ""},
        {"empty", "", E_ABORT, "Empty Document"},
    };
    const std::string prefix = "Unable to parse ChemistryXML as valid XML - ";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CfxComPtr<host::Model3dDocument> document = NewDocument();
        document->Tree().CreateChild<xxMultiScaleMolecule>().SetName("already there");
        EXPECT_EQ(ImportInto(*document.Get(), c.text), c.hr);
        const std::string& description = Cfx::GetLastError().description;
        EXPECT_EQ(description.rfind(prefix, 0), 0u) << description;
        if (!c.description.empty()) {
            EXPECT_EQ(description, prefix + c.description);
        }
        EXPECT_EQ(Cfx::GetLastError().clsid, CLSID_ChemistryXMLImportExport);
        EXPECT_EQ(Outline(document->Tree()), "MultiScaleMolecule already there\n");
    }
}

TEST(ChemistryXmlImport, TheComponentsOwnChecksStandBehindThePrefix) {
    CfxComPtr<host::Model3dDocument> document = NewDocument();
    CfxComPtr<ISBImporter> importer = Component<ISBImporter>();
    EXPECT_EQ(importer->Import(nullptr, static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()), E_POINTER);
    EXPECT_EQ(Cfx::GetLastError().description, "Unable to parse ChemistryXML as valid XML - invalid input parameter");
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>{'<', 'd', '/', '>'});
    EXPECT_EQ(importer->Import(stream.Get(), nullptr, CfxVariant().Get()), E_POINTER);

    CfxComPtr<cvtest::ForwardingDocument> noTree = cvtest::ForwardingDocument::Over(NewDocument());
    noTree->nullTree = true;
    EXPECT_EQ(importer->Import(stream.Get(), static_cast<ISBDocumentRoot*>(noTree.Get()), CfxVariant().Get()), E_ABORT);
    EXPECT_EQ(Cfx::GetLastError().description,
              "Unable to parse ChemistryXML as valid XML - Cannot access underlying document.");

    cvtest::RecordingStream failing("<d/>");
    failing.FailNth(cvtest::RecordingStream::Op::GetSize, 1);
    EXPECT_EQ(importer->Import(&failing, static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()), E_ABORT);
    EXPECT_EQ(Cfx::GetLastError().description,
              "Unable to parse ChemistryXML as valid XML - Cannot determine document size");

    // The creator checks its out slot through a ladder of its own.
    Cfx::SetLastError(S_OK);
    EXPECT_EQ(ChemistryXMLImportExport::CreateInstance(nullptr), E_POINTER);
    EXPECT_EQ(Cfx::GetLastError().description, "Invalid pointer passed to CreateInstance()");
    EXPECT_EQ(Cfx::GetLastError().clsid, GUID_NULL);
}

TEST(ChemistryXmlImport, ObjectsAreBuiltNamedAndPlacedAsTheFileSays) {
    const std::string text = R"(<anyRoot id="ignored">
  <bond id="ID20" atoms="ID10 ID2" bondType="double"/>
  <atom id="ID2" coord3DX="1.5" coord3DY="-2" coord3DZ="0.25" atomicNumber="8">
    <formalCharge numerator="-1"/>
  </atom>
  <atom id="ID10"> </atom>
  <atom id="DI7" atomicNumber="7"><charge numerator="1" denominator="2"/></atom>
  <atom id="X7" atomicNumber="1"/>
  <atom id="" atomicNumber="1"/>
  <atom id="ID2" atomicNumber="9"/>
  <bond id="ID21" atoms="X7 DI7" bondType="Aromatic"/>
  <piSystem id="ID30" bonds="ID20"/>
  <piBond id="ID31" atom="X7" piSystem="ID30"/>
  <molecule id="M1" atoms="DI7  ID404 ID30 M1" piSystems="ID30" bonds="ID21"/>
  <other/>
</anyRoot>)";
    CfxComPtr<host::Model3dDocument> document = NewDocument();
    ASSERT_EQ(ImportInto(*document.Get(), text), S_OK) << Cfx::GetLastError().description;
    EXPECT_EQ(Outline(document->Tree()),
              // The molecule with what it lists (the pi system listed as an atom is skipped),
              // then the others by ascending id, then the atom whose id was taken, then the
              // bonds whose ends have different parents.
              "MultiScaleMolecule \n"
              "  Atom3d N7 Z7 0,0,0 q1/2\n"
              "  PiSystem Cp30\n"
              "Atom3d  Z1 0,0,0 q0/1\n"
              "Atom3d C10 Z6 0,0,0 q0/1\n"
              "Atom3d O2 Z8 1.5,-2,0.25 q-1/1\n"
              "Atom3d HX7 Z1 0,0,0 q0/1\n"
              "Atom3d F2 Z9 0,0,0 q0/1\n"
              "Bond C10 - O2 type4\n"
              "Bond HX7 - N7 type1\n"
              "PiSystemBond  member C10\n"
              "PiSystemBond  member O2\n"
              "Bond HX7 - Cp30 type1\n")
        << Outline(document->Tree());
}

// Ids of the writer's form are found by their number, all others by their text: the two must
// never meet, whatever the digits.
TEST(ChemistryXmlImport, IdsLikeTheWritersAndOthersStayApart) {
    const std::string text = R"(<chemistryDoc>
  <atom id="ID1"/><atom id="ID01"/><atom id="ID0"/><atom id="ID99999999"/><atom id="ID4294967296"/>
  <atom id="ID+1"/><atom id="ID1" atomicNumber="7"/>
  <bond id="ID2" atoms="ID1 ID01"/><bond id="ID3" atoms="ID0 ID99999999"/>
  <bond id="ID4" atoms="ID4294967296 ID+1"/><bond id="ID02" atoms="ID01 ID0"/>
</chemistryDoc>)";
    CfxComPtr<host::Model3dDocument> document = NewDocument();
    ASSERT_EQ(ImportInto(*document.Get(), text), S_OK) << Cfx::GetLastError().description;
    EXPECT_EQ(Outline(document->Tree()),
              "Atom3d C+1 Z6 0,0,0 q0/1\n"
              "Atom3d C0 Z6 0,0,0 q0/1\n"
              "Atom3d C01 Z6 0,0,0 q0/1\n"
              "Atom3d C1 Z6 0,0,0 q0/1\n"
              "Atom3d C4294967296 Z6 0,0,0 q0/1\n"
              "Atom3d C99999999 Z6 0,0,0 q0/1\n"
              "Atom3d N1 Z7 0,0,0 q0/1\n"
              "Bond C1 - C01 type1\n"
              "Bond C0 - C99999999 type1\n"
              "Bond C4294967296 - C+1 type1\n"
              "Bond C01 - C0 type1\n")
        << Outline(document->Tree());
}

TEST(ChemistryXmlImport, AllSevenBondTypes) {
    std::string text = "<chemistryDoc>";
    const char* keywords[] = {"single", "doublePartial", "aromatic", "double", "triplePartial", "triple", "quadruple"};
    for (int i = 0; i < 8; ++i) text += "<atom id=\"A" + std::to_string(i) + "\"/>";
    for (int i = 0; i < 7; ++i)
        text += "<bond id=\"B" + std::to_string(i) + "\" atoms=\"A" + std::to_string(i) + " A" + std::to_string(i + 1) +
                "\" bondType=\"" + keywords[i] + "\"/>";
    text += "</chemistryDoc>";
    CfxComPtr<host::Model3dDocument> document = NewDocument();
    ASSERT_EQ(ImportInto(*document.Get(), text), S_OK) << Cfx::GetLastError().description;
    std::vector<int> types;
    for (const xxBond* bond : document->Tree().ChildrenOf<xxBond>()) types.push_back(bond->GetHeavy());
    EXPECT_EQ(types, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
}

// ---- writing ---------------------------------------------------------------------------------

// Ethene by molecule: two carbons, a double bond, a pi system over the bond and a metal bonded
// to it, all inside one molecule.
CfxComPtr<host::Model3dDocument> Complex(bool looseAtom, bool bondBetweenMolecules) {
    CfxComPtr<host::Model3dDocument> document = NewDocument();
    xxTreeRoot& tree = document->Tree();
    auto& molecule = tree.CreateChild<xxMultiScaleMolecule>();
    auto& c1 = molecule.CreateChild<xxAtom3d>("C");
    auto& c2 = molecule.CreateChild<xxAtom3d>("C");
    auto& metal = molecule.CreateChild<xxAtom3d>("Fe");
    c1.SetXYZ({0.1, 0.2, 1.0 / 3});
    c2.SetXYZ({1.4, 0, 0});
    metal.SetXYZ({0.7, 2, 0});
    metal.SetFormalCharge(2, 1);
    xxBondable::MakeBond(c1, c2, xxBondType::Double);
    auto& pi = molecule.CreateChild<xxPiSystem>();
    pi.MakePiSystemBond(c1);
    pi.MakePiSystemBond(c2);
    xxBondable::MakeBond(metal, pi);
    if (looseAtom) tree.CreateChild<xxAtom3d>("H");
    if (bondBetweenMolecules) {
        auto& other = tree.CreateChild<xxMultiScaleMolecule>();
        auto& o = other.CreateChild<xxAtom3d>("O");
        xxBondable::MakeBond(o, metal);
    }
    return document;
}

TEST(ChemistryXmlExport, ByMoleculesWhenEverythingStandsInOneAndFlatOtherwise) {
    HRESULT hr = E_FAIL;
    CfxComPtr<host::Model3dDocument> one = Complex(false, false);
    EXPECT_EQ(Export(*one.Get(), hr),
              "<chemistryDoc>"
              "<molecule id=\"ID1\" atoms=\"ID2 ID3 ID4\" bonds=\"ID5\" piSystems=\"ID6\" piBonds=\"ID7\"/>"
              "<atom id=\"ID2\" coord3DX=\"0.1\" coord3DY=\"0.2\" coord3DZ=\"0.3333333333333333\" atomicNumber=\"6\">"
              "<formalCharge numerator=\"0\" denominator=\"1\"/></atom>"
              "<atom id=\"ID3\" coord3DX=\"1.4\" coord3DY=\"0\" coord3DZ=\"0\" atomicNumber=\"6\">"
              "<formalCharge numerator=\"0\" denominator=\"1\"/></atom>"
              "<atom id=\"ID4\" coord3DX=\"0.7\" coord3DY=\"2\" coord3DZ=\"0\" atomicNumber=\"26\">"
              "<formalCharge numerator=\"2\" denominator=\"1\"/></atom>"
              "<bond id=\"ID5\" atoms=\"ID2 ID3\" bondType=\"double\"/>"
              "<piSystem id=\"ID6\" bonds=\"ID5\"/>"
              "<piBond id=\"ID7\" atom=\"ID4\" piSystem=\"ID6\"/>"
              "</chemistryDoc>\r\n");  // the host stream's text mode ends the line
    EXPECT_EQ(hr, S_OK);
    for (auto [loose, between] : {std::pair{true, false}, std::pair{false, true}}) {
        CfxComPtr<host::Model3dDocument> flat = Complex(loose, between);
        const std::string text = Export(*flat.Get(), hr);
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(text.find("<molecule"), std::string::npos) << text;
        EXPECT_EQ(text.rfind("<chemistryDoc><atom id=\"ID1\"", 0), 0u) << text;
        EXPECT_NE(text.find(between ? "bondType=\"single\"" : "atomicNumber=\"1\""), std::string::npos) << text;
    }
}

TEST(ChemistryXmlExport, EmptyListsAndPiBondsWithTheirEndsEitherWay) {
    CfxComPtr<host::Model3dDocument> document = NewDocument();
    auto& molecule = document->Tree().CreateChild<xxMultiScaleMolecule>();
    auto& a = molecule.CreateChild<xxAtom3d>("C");
    auto& b = molecule.CreateChild<xxAtom3d>("C");
    b.SetXYZ({3, 0, 0});
    auto& pi = molecule.CreateChild<xxPiSystem>();
    pi.MakePiSystemBond(a);
    pi.MakePiSystemBond(b);
    HRESULT hr = E_FAIL;
    const std::string text = Export(*document.Get(), hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_NE(text.find("<molecule id=\"ID1\" atoms=\"ID2 ID3\" piSystems=\"ID4\" piBonds=\"\"/>"), std::string::npos)
        << text;
    EXPECT_NE(text.find("<piSystem id=\"ID4\" bonds=\"\"/>"), std::string::npos) << text;

    // The pi system as the bond's first end.
    auto& metal = molecule.CreateChild<xxAtom3d>("Ni");
    xxBondable::MakeBond(pi, metal);
    const std::string again = Export(*document.Get(), hr);
    EXPECT_NE(again.find("<piBond id=\"ID6\" atom=\"ID4\" piSystem=\"ID5\"/>"), std::string::npos) << again;
}

TEST(ChemistryXmlExport, BondsToObjectsTheFormatCannotHoldAreLeftOut) {
    CfxComPtr<host::Model3dDocument> document = NewDocument();
    auto& molecule = document->Tree().CreateChild<xxMultiScaleMolecule>();
    auto& carbon = molecule.CreateChild<xxAtom3d>("C");
    auto& dummy = molecule.CreateChild<xxDummy>();
    auto& pi = molecule.CreateChild<xxPiSystem>();
    xxBondable::MakeBond(carbon, dummy);
    xxBondable::MakeBond(dummy, pi);
    HRESULT hr = E_FAIL;
    const std::string text = Export(*document.Get(), hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(text,
              "<chemistryDoc><molecule id=\"ID1\" atoms=\"ID2\" bonds=\"\" piSystems=\"ID3\" piBonds=\"\"/>"
              "<atom id=\"ID2\" coord3DX=\"0\" coord3DY=\"0\" coord3DZ=\"0\" atomicNumber=\"6\">"
              "<formalCharge numerator=\"0\" denominator=\"1\"/></atom><piSystem id=\"ID3\" bonds=\"\"/>"
              "</chemistryDoc>\r\n");
    CfxComPtr<host::Model3dDocument> read = NewDocument();
    EXPECT_EQ(ImportInto(*read.Get(), text), S_OK) << Cfx::GetLastError().description;
}

TEST(ChemistryXmlExport, RefusalsAndFailedWrites) {
    HRESULT hr = S_OK;
    CfxComPtr<host::Model3dDocument> crystal = NewDocument();
    auto& system = crystal->Tree().CreateChild<xxMultiScaleSymmetrySystem>();
    xxSymmetryChanger::Build(system,
                             xxSymmetryCreator::CreateSymmetryDefinition(
                                 xxSpaceGroupFactory::Instantiate().GetSpaceGroupByName("P1"), system),
                             true, 0.05, false);
    EXPECT_EQ(Export(*crystal.Get(), hr), "");
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(Cfx::GetLastError().description, "Unable to save periodic systems using this file format.");

    CfxComPtr<cvtest::ForwardingDocument> noTree = cvtest::ForwardingDocument::Over(NewDocument());
    noTree->nullTree = true;
    CfxComPtr<ISBExporter> exporter = Component<ISBExporter>();
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    EXPECT_EQ(exporter->Export(stream.Get(), static_cast<ISBDocumentRoot*>(noTree.Get()), CfxVariant().Get()), E_ABORT);
    EXPECT_EQ(exporter->Export(nullptr, static_cast<ISBDocumentRoot*>(noTree.Get()), CfxVariant().Get()), E_POINTER);
    EXPECT_EQ(Cfx::GetLastError().description, "invalid input parameter");

    CfxComPtr<host::Model3dDocument> document = Complex(false, false);
    for (int failing : {1}) {
        cvtest::RecordingStream refusing;
        refusing.FailFrom(cvtest::RecordingStream::Op::Write, failing, STG_E_WRITEFAULT);
        EXPECT_TRUE(FAILED(exporter->Export(&refusing, static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get())))
            << failing;
    }
}

// ---- round trips ---------------------------------------------------------------------------

TEST(ChemistryXmlRoundTrip, WhatTheFormatCarriesComesBackAndWritesTheSameBytes) {
    HRESULT hr = E_FAIL;
    CfxComPtr<host::Model3dDocument> original = Complex(false, false);
    auto& molecule = *original->Tree().ChildrenOf<xxMultiScaleMolecule>()[0];
    // Every bond type, along a chain.
    std::vector<xxAtom3d*> chain;
    for (int i = 0; i < 8; ++i) {
        chain.push_back(&molecule.CreateChild<xxAtom3d>("N"));
        chain.back()->SetXYZ({i * 1.1 + 0.1, 5.000000000000001, -1e-17});
        chain.back()->SetFormalCharge(i % 3 - 1, 3);  // -1/3, 0, 1/3
    }
    for (std::size_t i = 0; i < 7; ++i)
        xxBondable::MakeBond(*chain[i], *chain[i + 1], static_cast<xxBondType>(i + 1));
    const std::string first = Export(*original.Get(), hr);
    ASSERT_EQ(hr, S_OK) << Cfx::GetLastError().description;

    CfxComPtr<host::Model3dDocument> read = NewDocument();
    ASSERT_EQ(ImportInto(*read.Get(), first), S_OK) << Cfx::GetLastError().description;
    const std::string second = Export(*read.Get(), hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(second, first);

    const auto atoms = read->Tree().DescendentsOf<xxAtom3d>();
    const auto originals = original->Tree().DescendentsOf<xxAtom3d>();
    ASSERT_EQ(atoms.size(), originals.size());
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        EXPECT_EQ(atoms[i]->GetXYZ().x, originals[i]->GetXYZ().x);
        EXPECT_EQ(atoms[i]->GetXYZ().y, originals[i]->GetXYZ().y);
        EXPECT_EQ(atoms[i]->GetXYZ().z, originals[i]->GetXYZ().z);
        EXPECT_EQ(atoms[i]->GetElementNumber(), originals[i]->GetElementNumber());
        EXPECT_EQ(atoms[i]->GetFormalCharge(), originals[i]->GetFormalCharge());
    }
    std::vector<int> types;
    for (const xxBond* bond : read->Tree().DescendentsOf<xxBond>()) types.push_back(bond->GetHeavy());
    // Read back, the bonds stand in the file's order: the bonds, then the pi bond.
    EXPECT_EQ(types, (std::vector<int>{4, 1, 2, 3, 4, 5, 6, 7, 1}));
    EXPECT_EQ(read->Tree().DescendentsOf<xxPiSystem>().size(), 1u);
}

TEST(ChemistryXmlRoundTrip, ABondOutsideEveryMoleculeIsKept) {
    HRESULT hr = E_FAIL;
    CfxComPtr<host::Model3dDocument> original = Complex(false, true);
    const std::string text = Export(*original.Get(), hr);
    ASSERT_EQ(hr, S_OK);
    CfxComPtr<host::Model3dDocument> read = NewDocument();
    ASSERT_EQ(ImportInto(*read.Get(), text), S_OK) << Cfx::GetLastError().description;
    EXPECT_EQ(read->Tree().DescendentsOf<xxBond>().size(), original->Tree().DescendentsOf<xxBond>().size());
    EXPECT_EQ(read->Tree().DescendentsOf<xxAtom3d>().size(), 4u);
}

TEST(ChemistryXmlInsertion, ContentFollowsWhatTheOpenDocumentHolds) {
    CfxComPtr<host::Model3dDocument> open = NewDocument();
    open->SetName("open");
    open->Tree().CreateChild<xxMultiScaleMolecule>().SetName("already there");
    const std::string text = R"(<chemistryDoc><molecule id="ID1" atoms="ID2 ID3"/><atom id="ID2"/>)"
                             R"(<atom id="ID3" coord3DX="1.2"/><bond id="ID4" atoms="ID2 ID3"/></chemistryDoc>)";
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>(text.begin(), text.end()));
    CfxComPtr<host::ContainerRoot> root = host::ContainerRoot::Create();
    CfxComPtr<ISBImporter> inserter =
        cvtest::CreateConnected<ISBImporter>("SDCartovane.ChemistryXMLToXODImport", *root.Get());
    ASSERT_EQ(inserter->Import(stream.Get(), static_cast<ISBDocumentRoot*>(open.Get()), CfxVariant().Get()), S_OK)
        << Cfx::GetLastError().description;
    EXPECT_EQ(Outline(open->Tree()),
              "MultiScaleMolecule already there\n"
              "MultiScaleMolecule \n"
              "  Atom3d C2 Z6 0,0,0 q0/1\n"
              "  Atom3d C3 Z6 1.2,0,0 q0/1\n"
              "  Bond C2 - C3 type1\n");
}

}  // namespace

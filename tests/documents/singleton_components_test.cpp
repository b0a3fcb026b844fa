// The periodic-table and bead-type components: they move the process's table and bead types,
// not a document, and a failed import leaves them as they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/bead_types.h"
#include "datamodel/periodic_table.h"
#include "documents/singleton_components.h"
#include "frame/clsids.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/host_doubles.h"
#include "support/library_components.h"
#include "support/recording_stream.h"

namespace cartovane {
namespace {

constexpr char kTable[] = "SDCartovane.PeriodicTableImportExport";
constexpr char kBeads[] = "SDCartovane.BeadTypesImportExport";

class SingletonComponents : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = cvtest::TestContainerRoot::Create();
        Cfx::ClearLastError();
        xxPeriodicTable::Reset();
        xxBeadTypeManager::Reset();
    }
    void TearDown() override {
        xxPeriodicTable::Reset();
        xxBeadTypeManager::Reset();
    }

    // What the component exports, with a document root or none.
    std::string Export(const char* progId, ISBDocumentRoot* document = nullptr) {
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
        EXPECT_EQ(cvtest::CreateConnected<ISBExporter>(progId, *root.Get())->Export(stream.Get(), document, VARIANT{}), S_OK)
            << Cfx::GetLastError().description;
        std::vector<char> bytes = host::MemoryStreamBytes(stream.Get());
        return {bytes.begin(), bytes.end()};
    }
    HRESULT Import(const char* progId, const std::string& text, ISBDocumentRoot* document = nullptr) {
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>(text.begin(), text.end()));
        return cvtest::CreateConnected<ISBImporter>(progId, *root.Get())->Import(stream.Get(), document, VARIANT{});
    }
    static void AddBeads() {
        auto& a = xxBeadTypeManager::Instance().CreateChild<xxBeadType>();
        a.SetName("W");
        a.SetMass(72.0);
        a.SetColor(xxColor(0, 0, 0xFF));
        xxBeadTypeManager::Instance().CreateChild<xxBeadType>().SetName("C1");
    }
    // The element of that name, with its isotopes.
    static std::string ElementText(const std::string& table, const std::string& name) {
        const auto begin = table.rfind("<Element ", table.find("Name=\"" + name + "\""));
        const auto close = table.find('>', begin);
        const auto end = table[close - 1] == '/' ? close + 1 : table.find("</Element>", begin) + 10;
        return table.substr(begin, end - begin);
    }
    static std::string Replace(std::string text, const std::string& from, const std::string& to) {
        const auto at = text.find(from);
        if (at != std::string::npos) text.replace(at, from.size(), to);
        return text;
    }

    CfxComPtr<cvtest::TestContainerRoot> root;
};

TEST_F(SingletonComponents, ExportsNameTheirDocumentElementsAndRoundTripUnchanged) {
    AddBeads();
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    const struct {
        const char* progId;
        const char* element;
    } cases[] = {{kTable, "PTData"}, {kBeads, "BeadTypeData"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.progId);
        const std::string first = Export(c.progId, static_cast<ISBDocumentRoot*>(document.Get()));
        EXPECT_NE(first.find(std::string("<") + c.element + " Version=\"5.5\""), std::string::npos) << first.substr(0, 200);
        ASSERT_EQ(Import(c.progId, first), S_OK) << Cfx::GetLastError().description;
        EXPECT_EQ(Export(c.progId), first);
    }
    EXPECT_EQ(xxBeadTypeManager::Instance().NumChildren(), 2u);
    EXPECT_EQ(xxElementFactory::Instantiate().NumChildren(), 119u);
}

TEST_F(SingletonComponents, AnImportedTableIsWhatAtomsAndLookupsSee) {
    const std::string table = Export(kTable);
    const std::string carbon = "Name=\"Carbon\"";
    ASSERT_NE(table.find(carbon), std::string::npos);
    // Only carbon, with another mass and radius: the other elements stay.
    std::string element = ElementText(table, "Carbon");
    element = Replace(Replace(element, "Mass=\"12.011\"", "Mass=\"13.5\""), "CovalentRadius=\"0.76\"", "CovalentRadius=\"0.9\"");
    element = Replace(element, "Mass=\"13.0033548378\"", "Mass=\"13.25\"");
    const std::string head = Replace(table.substr(0, table.find("<Element")), "Children=\"119\"", "Children=\"1\"");
    const std::string tail = table.substr(table.rfind("</PeriodicTable>"));
    ASSERT_EQ(Import(kTable, head + element + tail), S_OK) << Cfx::GetLastError().description;

    xxAtom3d atom;
    atom.SetElement("C");
    EXPECT_EQ(atom.GetElement().mass, 13.5);
    EXPECT_EQ(atom.GetElement().covalentRadius, 0.9);
    EXPECT_EQ(xxElementFactory::GetElement("c").mass, 13.5);
    EXPECT_EQ(xxElementFactory::GetElementByType(8).mass, 15.999);
    EXPECT_EQ(xxElementFactory::Instantiate().ElementOf(6).GetMass(), 13.5);
    // Its isotopes too.
    atom.SetIsotope(13);
    EXPECT_EQ(atom.GetMass(), 13.25);
    ASSERT_NE(xxElementFactory::GetElement("C").FindIsotope(14), nullptr);
    EXPECT_EQ(xxElementFactory::GetElement("C").FindIsotope(14)->mass, 14.003241988);
    EXPECT_EQ(xxElementFactory::GetElement("O").FindIsotope(18)->mass, 17.9991604);
}

TEST_F(SingletonComponents, FailedImportsLeaveTheProcessDataAsItWas) {
    AddBeads();
    const std::string table = Export(kTable), beads = Export(kBeads);
    const std::string carbonElement = ElementText(table, "Carbon");
    const std::string tableTail = table.substr(table.rfind("</PeriodicTable>"));
    const std::string tableHead = Replace(table.substr(0, table.find("<Element")), "Children=\"119\"", "Children=\"1\"");
    const std::string twoHead = Replace(tableHead, "Children=\"1\"", "Children=\"2\"");
    auto renumbered = [](std::string text, int id) {
        for (auto at = text.find("ID=\""); at != std::string::npos; at = text.find("ID=\"", at + 1))
            text.replace(at + 4, text.find('"', at + 4) - (at + 4), std::to_string(id++));
        return text;
    };
    // The same element again under an identifier of its own.
    const std::string again = renumbered(carbonElement, 90000);
    // Carbon with its first isotope twice.
    std::string isotopeTwice = carbonElement;
    const auto isotope = isotopeTwice.find("<Isotope ");
    isotopeTwice.insert(isotope, renumbered(isotopeTwice.substr(isotope, isotopeTwice.find("/>", isotope) + 2 - isotope), 95000));
    isotopeTwice = Replace(isotopeTwice, "Children=\"3\"", "Children=\"4\"");
    const std::string parsePrefix = "Unable to parse periodic table data as valid XML - ";
    const struct Case {
        const char* what;
        const char* progId;
        std::string text;
        std::string description;  // a prefix when it ends in " - ", else a part
    } cases[] = {
        {"empty table", kTable, "", parsePrefix},
        {"not XML into the table", kTable, "<PTData", parsePrefix},
        {"not XML into the bead types", kBeads, "<BeadTypeData", "unclosed token"},
        {"bead types into the table", kTable, beads, "not a PeriodicTable"},
        {"the table into the bead types", kBeads, table, "not a BeadTypeManager"},
        {"element 119", kTable,
         tableHead + Replace(carbonElement, "AtomicNumber=\"6\"", "AtomicNumber=\"119\"") + tableTail, "119"},
        {"element 6 twice", kTable, twoHead + carbonElement + again + tableTail, "element 6 twice"},
        {"an isotope twice", kTable, tableHead + isotopeTwice + tableTail, "isotope 12 of the element 6 twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(FAILED(Import(c.progId, c.text)));
        const std::string& d = Cfx::GetLastError().description;
        if (c.description.ends_with(" - ")) {
            EXPECT_EQ(d.rfind(c.description, 0), 0u) << d;
            EXPECT_GT(d.size(), c.description.size());
        } else {
            EXPECT_NE(d.find(c.description), std::string::npos) << d;
            EXPECT_EQ(d.find("Unable to parse periodic table"), std::string::npos) << d;
        }
        EXPECT_EQ(Export(kTable), table);
        EXPECT_EQ(Export(kBeads), beads);
        EXPECT_EQ(xxElementFactory::GetElement("C").mass, 12.011);
        EXPECT_EQ(xxElementFactory::GetElement("C").FindIsotope(12)->mass, 12.0);
    }
    // The document element's name is not looked at.
    EXPECT_EQ(Import(kBeads, Replace(Replace(beads, "<BeadTypeData", "<Anything"), "</BeadTypeData>", "</Anything>")), S_OK)
        << Cfx::GetLastError().description;
}

TEST_F(SingletonComponents, ImportedBeadTypesReplaceTheListWhole) {
    AddBeads();
    const std::string two = Export(kBeads);
    xxBeadTypeManager::Reset();
    xxBeadTypeManager::Instance().CreateChild<xxBeadType>().SetName("Old");
    ASSERT_EQ(Import(kBeads, two), S_OK);
    ASSERT_EQ(xxBeadTypeManager::Instance().NumChildren(), 2u);
    EXPECT_EQ(xxBeadTypeManager::Instance().FindBeadType("Old"), nullptr);
    xxBeadType* w = xxBeadTypeManager::Instance().FindBeadType("W");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->GetMass(), 72.0);
    EXPECT_EQ(w->GetColor(), xxColor(0, 0, 0xFF));
}

TEST_F(SingletonComponents, AFailingStreamFailsTheExport) {
    for (const char* progId : {kTable, kBeads}) {
        SCOPED_TRACE(progId);
        cvtest::RecordingStream stream;
        stream.RecordLastError(true);
        stream.FailFrom(cvtest::RecordingStream::Op::Write, 1, STG_E_WRITEFAULT);
        EXPECT_EQ(cvtest::CreateConnected<ISBExporter>(progId, *root.Get())->Export(&stream, nullptr, VARIANT{}),
                  STG_E_WRITEFAULT)
            << Cfx::GetLastError().description;
    }
}

TEST_F(SingletonComponents, NullOutSlotsAreRefused) {
    EXPECT_EQ(PeriodicTableImportExport::CreateInstance(nullptr), E_POINTER);
    EXPECT_EQ(BeadTypesImportExport::CreateInstance(nullptr), E_POINTER);
    EXPECT_EQ(Cfx::GetLastError().description, "No pointer supplied for output argument.");
}

}  // namespace
}  // namespace cartovane

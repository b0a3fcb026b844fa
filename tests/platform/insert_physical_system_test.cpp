// The insertion base: content read into a scratch document moves into the target document.
#include <gtest/gtest.h>

#include <string>

#include "datamodel/atomistic.h"
#include "host/documents.h"
#include "host/streams.h"
#include "utilities/insert_physical_system.h"

namespace {

const CLSID kReader = com::MakeGuid("{5A5A0001-0000-0000-0000-000000000001}");
const CLSID kInserter = com::MakeGuid("{5A5A0001-0000-0000-0000-000000000002}");

// The name the last import saw for its document ("(none)" for a document without information).
std::string g_seenName;

std::string NameOf(ISBDocumentRoot* root) {
    CfxComPtr<ISBDocumentInfo> info = host::GetDocumentInfo(root);
    if (!info) return "(none)";
    CfxBSTR name;
    if (FAILED(info->GetName(name.Out()))) return "(failed)";
    return name.ToString();
}

// Reads nothing from the stream: puts two bonded atoms straight under the tree root, so their
// bond stands beside them and moves when they do.
class RootBondReader final : public CCfxUnknown, public ISBImporter {
public:
    HRESULT QueryInterface(REFIID iid, void** out) override { return ControllingUnknown()->QueryInterface(iid, out); }
    ULONG AddRef() override { return ControllingUnknown()->AddRef(); }
    ULONG Release() override { return ControllingUnknown()->Release(); }
    HRESULT DelegatedQueryInterface(REFIID iid, void** out) override {
        if (iid == IID_ISBImporter) return FinishQI(static_cast<ISBImporter*>(this), out);
        return CCfxUnknown::DelegatedQueryInterface(iid, out);
    }
    HRESULT Import(ISBStream*, ISBDocumentRoot* root, const VARIANT&) override {
        g_seenName = NameOf(root);
        CfxComPtr<IModel3dDocumentDirect> direct;
        if (FAILED(root->QueryInterface(IID_IModel3dDocumentDirect, direct.OutVoid()))) return E_NOINTERFACE;
        xxTreeRoot* tree = nullptr;
        direct->GetTreeRoot(&tree);
        auto& a = tree->CreateChild<xxAtom3d>("C");
        auto& b = tree->CreateChild<xxAtom3d>("O");
        b.SetXYZ({1.2, 0, 0});
        xxBondable::MakeBond(a, b, xxBondType::Double);
        return S_OK;
    }
};

class Inserter final : public InsertPhysicalSystemImport {
public:
    Inserter() : InsertPhysicalSystemImport(kReader) {}
    std::string GetImporterProgID() const override { return "Test.RootBondReader"; }
};

template <class T>
HRESULT Create(CCfxUnknown** out) {
    *out = new T();
    return S_OK;
}

const CCfxFactoryData kRows[] = {
    {&kReader, &Create<RootBondReader>, "reader", "Test.RootBondReader.1", "Test.RootBondReader", &GUID_NULL, nullptr, nullptr},
    {&kInserter, &Create<Inserter>, "inserter", "Test.Inserter.1", "Test.Inserter", &GUID_NULL, nullptr, nullptr},
};

TEST(InsertPhysicalSystem, ContentWhoseBondsMoveWithTheirAtomsArrivesWhole) {
    host::RegisterHostClasses();
    CCfxFactoryData::EnableFactoryComponents(nullptr, kRows, 2);
    ASSERT_EQ(CCfxFactoryData::RegisterAll(), S_OK);

    CfxComPtr<host::Model3dDocument> target = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    target->Tree().CreateChild<xxMultiScaleMolecule>().SetName("already there");
    CfxComPtr<ISBImporter> inserter;
    ASSERT_EQ(CoCreateInstance(kInserter, nullptr, CLSCTX_INPROC_SERVER, IID_ISBImporter, inserter.OutVoid()), S_OK);
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    ASSERT_EQ(inserter->Import(stream.Get(), static_cast<ISBDocumentRoot*>(target.Get()), CfxVariant().Get()), S_OK);

    const xxTreeRoot& tree = target->Tree();
    EXPECT_EQ(tree.GetChild(0).GetName(), "already there");
    auto atoms = tree.ChildrenOf<xxAtom3d>();
    auto bonds = tree.ChildrenOf<xxBond>();
    ASSERT_EQ(atoms.size(), 2u);
    ASSERT_EQ(bonds.size(), 1u);
    EXPECT_TRUE(bonds[0]->Joins(*atoms[0], *atoms[1]));
    EXPECT_EQ(bonds[0]->GetBondType(), xxBondType::Double);
    CCfxFactoryData::UnregisterAll();
}

// A document without a file answers with the name it was given; one with neither has no
// information.
TEST(DocumentInfo, NameComesFromTheFileOrElseFromTheGivenName) {
    struct Case {
        const char* url;
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {"/data/crystals/rock_salt.xtl", "ignored", "rock_salt"},
        {"", "open model", "open model"},
        {"", "", "(none)"},
    };
    for (const Case& c : cases) {
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        document->SetURL(c.url);
        document->SetName(c.name);
        EXPECT_EQ(NameOf(static_cast<ISBDocumentRoot*>(document.Get())), c.expected) << c.url << " / " << c.name;
        if (CfxComPtr<ISBDocumentInfo> info = host::GetDocumentInfo(static_cast<ISBDocumentRoot*>(document.Get()))) {
            CfxBSTR url;
            ASSERT_EQ(info->GetURL(url.Out()), S_OK);
            EXPECT_EQ(url.ToString(), c.url);
        }
    }
}

// The scratch document the reader fills carries the target's name, so that what the reader
// reports names the document the user sees; a target without information leaves it unnamed.
TEST(InsertPhysicalSystem, TheReaderSeesTheTargetsName) {
    host::RegisterHostClasses();
    CCfxFactoryData::EnableFactoryComponents(nullptr, kRows, 2);
    ASSERT_EQ(CCfxFactoryData::RegisterAll(), S_OK);
    struct Case {
        const char* url;
        const char* name;
        const char* seen;
    };
    const Case cases[] = {
        {"/models/open.xsd", "", "open"},
        {"", "untitled", "untitled"},
        {"", "", "(none)"},
    };
    for (const Case& c : cases) {
        CfxComPtr<host::Model3dDocument> target = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        target->SetURL(c.url);
        target->SetName(c.name);
        CfxComPtr<ISBImporter> inserter;
        ASSERT_EQ(CoCreateInstance(kInserter, nullptr, CLSCTX_INPROC_SERVER, IID_ISBImporter, inserter.OutVoid()), S_OK);
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
        g_seenName.clear();
        ASSERT_EQ(inserter->Import(stream.Get(), static_cast<ISBDocumentRoot*>(target.Get()), CfxVariant().Get()), S_OK);
        EXPECT_EQ(g_seenName, c.seen) << c.url << " / " << c.name;
    }
    CCfxFactoryData::UnregisterAll();
}

}  // namespace

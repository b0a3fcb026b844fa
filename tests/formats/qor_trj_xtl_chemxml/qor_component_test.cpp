// The QOR component and the QOR insertion component through the host stand-in.
#include "formats/qor_trj_xtl_chemxml/qor_component.h"

#include <gtest/gtest.h>

#include <string>

#include "datamodel/atomistic.h"
#include "frame/clsids.h"
#include "frame/messages.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/library_components.h"
#include "support/recording_stream.h"
#include "support/temp_dir.h"

namespace {

using namespace cartovane;

const char kQor[] =
    "# QOR DRAVIK4 DataModel File Version 4 0\n"
    "(1 Model\n"
    "  (A C Label \"water\")\n"
    "  (2 Atom\n"
    "    (A C ACL \"8 O\")\n"
    "    (A D XYZ (0 0 0.125))\n"
    "    (A F Charge -0.75)\n"
    "    (A C FFType \"o*\")\n"
    "  )\n"
    "  (3 Atom\n"
    "    (A C ACL \"0 H\")\n"
    "    (A D XYZ (0 0.75 -0.5))\n"
    "  )\n"
    "  (4 Bond\n"
    "    (A O Atom1 2)\n"
    "    (A O Atom2 3)\n"
    "  )\n"
    ")\n";

class QorComponent : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = host::ContainerRoot::Create();
    }
    template <class Interface>
    CfxComPtr<Interface> Create(const char* progId) {
        return cvtest::CreateConnected<Interface>(progId, *root.Get());
    }
    CfxComPtr<host::Model3dDocument> Imported() {
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        CfxComPtr<ISBStream> stream;
        EXPECT_EQ(host::CreateFileStream(dir.Put("water.qor", kQor), host::FileMode::Read, stream.Out()), S_OK);
        EXPECT_EQ(Create<ISBImporter>("SDCartovane.QORImportExport")
                      ->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()),
                  S_OK)
            << Cfx::GetLastError().description;
        return document;
    }
    cvtest::TempDir dir;
    CfxComPtr<host::ContainerRoot> root;
};

TEST_F(QorComponent, ImportReadsTheModel) {
    CfxComPtr<host::Model3dDocument> document = Imported();
    EXPECT_EQ(document->Tree().GetName(), "water");
    EXPECT_EQ(document->Tree().DescendentsOf<xxAtom3d>().size(), 2u);
    EXPECT_EQ(document->Tree().DescendentsOf<xxBond>().size(), 1u);
}

TEST_F(QorComponent, ImportFailures) {
    auto importer = Create<ISBImporter>("SDCartovane.QORImportExport");
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    ISBDocumentRoot* target = document.Get();

    cvtest::RecordingStream empty;
    EXPECT_EQ(importer->Import(&empty, target, CfxVariant().Get()), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, "The file is empty");
    EXPECT_EQ(document->Tree().NumChildren(), 0u);

    cvtest::RecordingStream noSize(kQor);
    noSize.FailNth(cvtest::RecordingStream::Op::GetSize, 1, E_ACCESSDENIED);
    EXPECT_EQ(importer->Import(&noSize, target, CfxVariant().Get()), E_ACCESSDENIED);

    // A format error: the reader's report, with the component's class and the importer.
    cvtest::RecordingStream headless("(1 Model\n)\n");
    EXPECT_EQ(importer->Import(&headless, target, CfxVariant().Get()), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().messageId, msg::QORLOAD_NOHEADER);
    EXPECT_EQ(Cfx::GetLastError().clsid, CLSID_QORImportExport);
    EXPECT_EQ(Cfx::GetLastError().iid, IID_ISBImporter);

    // A value the data model refuses ends the import with its text, never a crash.
    cvtest::RecordingStream refused("# QOR DRAVIK4 DataModel File Version 4 0\n(1 Model\n  (2 Atom\n    (A C ACL \"6 Qq\")\n  )\n)\n");
    EXPECT_EQ(importer->Import(&refused, target, CfxVariant().Get()), E_INVALIDARG);
}

TEST_F(QorComponent, ExportLineEndsFollowUnixFormat) {
    CfxComPtr<host::Model3dDocument> document = Imported();
    struct Case {
        const char* what;
        CfxVariant value;
        bool lfOnly;
    } cases[] = {
        {"no option", CfxVariant(), false},
        {"true", CfxVariant(true), true},
        {"false", CfxVariant(false), false},
        {"the integer 1", CfxVariant(std::int32_t{1}), true},
        {"a text is ignored", CfxVariant(std::string_view("1")), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = dir.File("out.qor");
        CfxComPtr<ISBStream> stream;
        ASSERT_EQ(host::CreateFileStream(out, host::FileMode::Write, stream.Out()), S_OK);
        CfxComPtr<host::Arguments> args = host::Arguments::Create();
        if (c.value.Get().vt != VT_EMPTY) args->SetValue("UnixFormat", c.value);
        ASSERT_EQ(Create<ISBExporter>("SDCartovane.QORImportExport")
                      ->Export(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), args->AsExportArgument().Get()),
                  S_OK);
        ASSERT_EQ(host::CommitFileStream(stream.Get()), S_OK);  // as the host does after an export
        stream.Reset();
        const std::string text = cvtest::TempDir::Slurp(out);
        ASSERT_EQ(text.rfind("# QOR DRAVIK4 DataModel File Version 4 0", 0), 0u);
        EXPECT_EQ(text.find('\r') == std::string::npos, c.lfOnly);
    }
    // Arguments given as an interface value are not read.
    const std::string out = dir.File("iface.qor");
    CfxComPtr<ISBStream> stream;
    ASSERT_EQ(host::CreateFileStream(out, host::FileMode::Write, stream.Out()), S_OK);
    CfxComPtr<host::Arguments> args = host::Arguments::Create();
    args->SetValue("UnixFormat", CfxVariant(true));
    ASSERT_EQ(Create<ISBExporter>("SDCartovane.QORImportExport")
                  ->Export(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), args->AsImportArgument().Get()),
              S_OK);
    ASSERT_EQ(host::CommitFileStream(stream.Get()), S_OK);
    stream.Reset();
    EXPECT_NE(cvtest::TempDir::Slurp(out).find('\r'), std::string::npos);
}

TEST_F(QorComponent, AFailedOrShortWriteFailsTheExport) {
    CfxComPtr<host::Model3dDocument> document = Imported();
    auto exporter = Create<ISBExporter>("SDCartovane.QORImportExport");
    for (bool shortWrite : {false, true}) {
        SCOPED_TRACE(shortWrite);
        cvtest::RecordingStream stream;
        if (shortWrite) stream.SetWriteLimit(10);
        else stream.FailNth(cvtest::RecordingStream::Op::Write, 1);
        EXPECT_EQ(exporter->Export(&stream, static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()), E_FAIL);
        EXPECT_EQ(Cfx::GetLastError().description, "The QOR file could not be written");
        EXPECT_EQ(Cfx::GetLastError().iid, IID_ISBExporter);
    }
}

TEST_F(QorComponent, InsertionAddsTheFilesContentToAnOpenDocument) {
    CfxComPtr<host::Model3dDocument> document = Imported();
    auto inserter = Create<ISBImporter>("SDCartovane.QORToXODImport");
    CfxComPtr<ISBStream> stream;
    ASSERT_EQ(host::CreateFileStream(dir.File("water.qor"), host::FileMode::Read, stream.Out()), S_OK);
    ASSERT_EQ(inserter->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()), S_OK)
        << Cfx::GetLastError().description;
    EXPECT_EQ(document->Tree().DescendentsOf<xxAtom3d>().size(), 4u);
}

}  // namespace

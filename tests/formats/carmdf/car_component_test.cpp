// The CAR/MDF component and the CAR insertion component through the host stand-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "datamodel/atomistic.h"
#include "formats/carmdf/car_component.h"
#include "frame/clsids.h"
#include "library/component_table.h"
#include "frame/messages.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/library_components.h"
#include "support/temp_dir.h"

namespace {

using namespace cartovane;

const char kCar[] =
    "!KORVEN archive 3\n"
    "PBC=OFF\n"
    "water\n"
    "!DATE Thu Dec 10 12:00:00 2026\n"
    "O1       2.000000000    2.000000000    2.000000000 HOH  1      o*      O  -0.820\n"
    "H1       2.957000000    2.000000000    2.000000000 HOH  1      h*      H   0.410\n"
    "H2       1.760000000    2.927000000    2.000000000 HOH  1      h*      H   0.410\n"
    "end\n"
    "end\n";

class CarComponent : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = host::ContainerRoot::Create();
    }

    template <class Interface>
    CfxComPtr<Interface> Create(const char* progId) {
        return cvtest::CreateConnected<Interface>(progId, *root.Get());
    }

    HRESULT Import(const std::string& path, CfxVariant args, CfxComPtr<host::Model3dDocument>& document) {
        document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        CfxComPtr<ISBStream> stream;
        EXPECT_EQ(host::CreateFileStream(path, host::FileMode::Read, stream.Out()), S_OK);
        return Create<ISBImporter>("SDCartovane.CARImportExport")
            ->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), args.Get());
    }

    static std::size_t Count(const xxTreeRoot& tree, unsigned type) {
        std::size_t n = 0;
        tree.ForEachDescendent([&](xxObject& o) {
            n += o.IsA(type) ? 1 : 0;
            return true;
        });
        return n;
    }

    cvtest::TempDir dir;
    CfxComPtr<host::ContainerRoot> root;
};

TEST_F(CarComponent, MissingMdfWarnsOnceAndCalculatesBondsByDefault) {
    std::string car = dir.Put("water.car", kCar);
    CfxComPtr<host::Model3dDocument> document;
    ASSERT_EQ(Import(car, CfxVariant(), document), S_OK);
    EXPECT_EQ(Count(document->Tree(), xxAtom3d::classType), 3u);
    EXPECT_EQ(Count(document->Tree(), xxBond::classType), 2u);
    ASSERT_EQ(root->Diagnostics().Messages().size(), 1u);
    EXPECT_EQ(root->Diagnostics().Messages()[0].source, "CAR/MDF importer");
    EXPECT_EQ(root->Diagnostics().Messages()[0].severity, 2);
}

TEST_F(CarComponent, ImportOptionsCountOnlyAsBooleansInAnInterfaceValue) {
    std::string car = dir.Put("water.car", kCar);
    struct Case {
        const char* what;
        const char* name;
        CfxVariant value;
        bool asArray;
        std::size_t bonds;
        std::size_t messages;
    } cases[] = {
        {"no bonds", "CalculateBondsIfNoMDF", CfxVariant(false), false, 0, 1},
        {"bond switch as text is ignored", "CalculateBondsIfNoMDF", CfxVariant(std::string_view("false")), false, 2, 1},
        {"suppressed warnings", "SuppressWarningMessages", CfxVariant(true), false, 2, 0},
        {"options in an array are not read", "SuppressWarningMessages", CfxVariant(true), true, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        root->Diagnostics().Clear();
        CfxComPtr<host::Arguments> args = host::Arguments::Create();
        args->SetValue(c.name, c.value);
        CfxComPtr<host::Model3dDocument> document;
        ASSERT_EQ(Import(car, c.asArray ? args->AsExportArgument() : args->AsImportArgument(), document), S_OK);
        EXPECT_EQ(Count(document->Tree(), xxBond::classType), c.bonds);
        EXPECT_EQ(root->Diagnostics().Messages().size(), c.messages);
    }
}

TEST_F(CarComponent, ImportFailures) {
    auto importer = Create<ISBImporter>("SDCartovane.CARImportExport");
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    ISBDocumentRoot* target = document.Get();

    // A stream with no file behind it: the URL message and the query's failure.
    CfxComPtr<ISBStream> memory = host::CreateMemoryStream(std::vector<char>(kCar, kCar + sizeof kCar - 1));
    EXPECT_EQ(importer->Import(memory.Get(), target, CfxVariant().Get()), E_NOINTERFACE);
    // The failure returned is the one recorded, with the message identifier.
    EXPECT_EQ(Cfx::GetLastError().hr, E_NOINTERFACE);
    EXPECT_EQ(Cfx::GetLastError().messageId, msg::CARLOAD_FILE_STREAM);
    EXPECT_EQ(document->Tree().NumChildren(), 0u);

    // An empty file.
    CfxComPtr<ISBStream> empty;
    ASSERT_EQ(host::CreateFileStream(dir.Put("empty.car", ""), host::FileMode::Read, empty.Out()), S_OK);
    EXPECT_EQ(importer->Import(empty.Get(), target, CfxVariant().Get()), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, "The file is empty");

    // A document without the direct interface: the query's failure, unchanged.
    CfxComPtr<host::Arguments> notADocument = host::Arguments::Create();
    CfxComPtr<ISBStream> file;
    ASSERT_EQ(host::CreateFileStream(dir.Put("w.car", kCar), host::FileMode::Read, file.Out()), S_OK);
    EXPECT_EQ(importer->Import(file.Get(), reinterpret_cast<ISBDocumentRoot*>(notADocument.Get()), CfxVariant().Get()),
              E_NOINTERFACE);

    // Not a CAR file at all.
    CfxComPtr<ISBStream> text;
    ASSERT_EQ(host::CreateFileStream(dir.Put("bad.car", "hello\n"), host::FileMode::Read, text.Out()), S_OK);
    EXPECT_EQ(importer->Import(text.Get(), target, CfxVariant().Get()), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().messageId, msg::CARLOAD_CAR_FORMAT);
}

TEST_F(CarComponent, ExportLineEndsFollowUnixFormatInBothFiles) {
    std::string car = dir.Put("water.car", kCar);
    CfxComPtr<host::Model3dDocument> document;
    ASSERT_EQ(Import(car, CfxVariant(), document), S_OK);
    for (bool unix : {false, true}) {
        SCOPED_TRACE(unix);
        std::string out = dir.File(unix ? "unix.car" : "dos.car");
        CfxComPtr<ISBStream> stream;
        ASSERT_EQ(host::CreateFileStream(out, host::FileMode::Write, stream.Out()), S_OK);
        CfxComPtr<host::Arguments> args = host::Arguments::Create();
        args->SetValue("UnixFormat", CfxVariant(unix));
        auto exporter = Create<ISBExporter>("SDCartovane.CARImportExport");
        ASSERT_EQ(exporter->Export(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()),
                                   args->AsExportArgument().Get()),
                  S_OK);
        stream.Reset();
        std::string carText = cvtest::TempDir::Slurp(out);
        std::string mdfText = cvtest::TempDir::Slurp(out.substr(0, out.size() - 4) + ".mdf");
        ASSERT_FALSE(carText.empty());
        ASSERT_FALSE(mdfText.empty());
        for (const std::string* text : {&carText, &mdfText})
            EXPECT_EQ(text->find('\r') == std::string::npos, unix) << text->substr(0, 40);
    }
}

TEST_F(CarComponent, ExportWithNothingToWriteFails) {
    auto exporter = Create<ISBExporter>("SDCartovane.CARImportExport");
    std::string out = dir.File("none.car");
    CfxComPtr<ISBStream> stream;
    ASSERT_EQ(host::CreateFileStream(out, host::FileMode::Write, stream.Out()), S_OK);
    CfxComPtr<host::Arguments> notADocument = host::Arguments::Create();
    EXPECT_TRUE(FAILED(exporter->Export(stream.Get(), reinterpret_cast<ISBDocumentRoot*>(notADocument.Get()),
                                        CfxVariant().Get())));
    // No file path: nothing is written anywhere.
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    CfxComPtr<ISBStream> memory = host::CreateMemoryStream();
    EXPECT_TRUE(FAILED(exporter->Export(memory.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get())));
    EXPECT_TRUE(host::MemoryStreamBytes(memory.Get()).empty());
}

// A writer that gives up has reported why; the export's own failure carries that report, so
// the host finds the message identifier with the HRESULT it was given.
TEST_F(CarComponent, ExportFailureCarriesTheWritersMessage) {
    CfxComPtr<host::Model3dDocument> document;
    ASSERT_EQ(Import(dir.Put("water.car", kCar), CfxVariant(), document), S_OK);
    std::filesystem::create_directory(dir.File("blocked.mdf"));  // no MDF can be written there
    CfxComPtr<ISBStream> stream;
    ASSERT_EQ(host::CreateFileStream(dir.File("blocked.car"), host::FileMode::Write, stream.Out()), S_OK);
    Cfx::ClearLastError();
    auto exporter = Create<ISBExporter>("SDCartovane.CARImportExport");
    EXPECT_EQ(exporter->Export(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()),
              E_FAIL);
    const Cfx::LastErrorRecord& last = Cfx::GetLastError();
    EXPECT_EQ(last.hr, E_FAIL);
    EXPECT_GE(last.messageId, msg::CARSAVE);
    EXPECT_LE(last.messageId, msg::CARSAVE_MDF_ATOMSET);
    EXPECT_EQ(last.clsid, CLSID_CARImportExport);
    EXPECT_EQ(last.iid, IID_ISBExporter);
}

TEST_F(CarComponent, InsertionAddsTheFilesContentToAnOpenDocument) {
    std::string car = dir.Put("water.car", kCar);
    CfxComPtr<host::Model3dDocument> document;
    ASSERT_EQ(Import(car, CfxVariant(), document), S_OK);
    std::size_t before = document->Tree().NumChildren();
    auto inserter = Create<ISBImporter>("SDCartovane.CARToXODImport");
    CfxComPtr<ISBStream> stream;
    ASSERT_EQ(host::CreateFileStream(car, host::FileMode::Read, stream.Out()), S_OK);
    ASSERT_EQ(inserter->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()), S_OK);
    EXPECT_EQ(document->Tree().NumChildren(), 2 * before);
    EXPECT_EQ(Count(document->Tree(), xxAtom3d::classType), 6u);
}

}  // namespace

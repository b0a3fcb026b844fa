// The CAR/MDF component and the CAR insertion component through the host stand-in.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utility>

#include "datamodel/atomistic.h"
#include "formats/carmdf/car_component.h"
#include "frame/clsids.h"
#include "library/component_table.h"
#include "frame/messages.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/library_components.h"
#include "support/recording_stream.h"
#include "support/temp_dir.h"
#include "support/unwritable_file.h"

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

// ---- an export replaces the CAR/MDF pair whole or not at all

// The files of a directory that are no temporary ones, with their contents.
std::map<std::string, std::string> Files(const cvtest::TempDir& dir) {
    std::map<std::string, std::string> out;
    for (const std::string& name : dir.Names())
        if (!name.starts_with(".")) out[name] = cvtest::TempDir::Slurp(dir.File(name));
    return out;
}
std::size_t Temporaries(const cvtest::TempDir& dir) {
    std::size_t n = 0;
    for (const std::string& name : dir.Names()) n += name.starts_with(".") ? 1 : 0;
    return n;
}

class CarExportSafety : public CarComponent {
protected:
    void SetUp() override {
        CarComponent::SetUp();
        ASSERT_EQ(Import(dir.Put("water.car", kCar), CfxVariant(), document), S_OK);
        // The pair a failed export must leave as it is.
        car = dir.Put("out.car", "old car\n");
        mdf = dir.Put("out.mdf", "old mdf\n");
        before = Files(dir);
    }
    // Export as the tool does, committing only what succeeded; the HRESULT and the message.
    std::pair<HRESULT, std::int32_t> ExportTo(ISBStream* stream) {
        auto exporter = Create<ISBExporter>("SDCartovane.CARImportExport");
        CfxComPtr<host::Arguments> args = host::Arguments::Create();
        Cfx::ClearLastError();
        HRESULT hr = exporter->Export(stream, static_cast<ISBDocumentRoot*>(document.Get()), args->AsExportArgument().Get());
        const std::int32_t message = Cfx::GetLastError().messageId;
        if (SUCCEEDED(hr)) hr = host::CommitFileStream(stream);
        return {hr, message};
    }
    std::pair<HRESULT, std::int32_t> ExportToFile() {
        CfxComPtr<ISBStream> stream;
        EXPECT_EQ(host::CreateFileStream(car, host::FileMode::Write, stream.Out()), S_OK);
        return ExportTo(stream.Get());
    }

    CfxComPtr<host::Model3dDocument> document;
    std::string car, mdf;
    std::map<std::string, std::string> before;
};

TEST_F(CarExportSafety, ACompleteExportReplacesBothFilesKeepingTheirPermissions) {
    ASSERT_EQ(::chmod(car.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(mdf.c_str(), 0600), 0);
    EXPECT_EQ(ExportToFile().first, S_OK);
    EXPECT_TRUE(cvtest::TempDir::Slurp(car).starts_with("!KORVEN archive 3"));
    EXPECT_TRUE(cvtest::TempDir::Slurp(mdf).starts_with("!KORVEN molecular_data 4"));
    struct stat st {};
    ASSERT_EQ(::stat(car.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(::stat(mdf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(Temporaries(dir), 0u);
}

// The CAR's stream fails: a write midway, every write from one on (a full disk, the stream
// recording its failure as the host's do: the writer's report must still be what the host gets),
// or the commit that would put it in place.
TEST_F(CarExportSafety, AFailedCarStreamReplacesNothing) {
    using Op = cvtest::RecordingStream::Op;
    struct Case {
        const char* what;
        Op op;
        int nth;
        bool onward;
        std::size_t commits;  // asked of the CAR stream
    } cases[] = {
        {"a write", Op::Write, 1, false, 0},
        {"every write from the first", Op::Write, 1, true, 0},
        {"the commit", Op::Commit, 1, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cvtest::RecordingStream stream;
        stream.SetFilePath(car);
        stream.RecordLastError(true);
        if (c.onward) stream.FailFrom(c.op, c.nth, STG_E_WRITEFAULT);
        else stream.FailNth(c.op, c.nth, STG_E_WRITEFAULT);
        const auto [hr, message] = ExportTo(&stream);
        EXPECT_EQ(hr, E_FAIL);
        EXPECT_EQ(message, msg::CARSAVE);
        EXPECT_EQ(stream.CallsOf(Op::Commit).size(), c.commits);
        EXPECT_EQ(Files(dir), before);
        EXPECT_EQ(Temporaries(dir), 0u) << testing::PrintToString(dir.Names());
    }
}

TEST_F(CarExportSafety, AnUnwritableMdfReplacesNothing) {
    cvtest::UnwritableFile unwritable(mdf);
    if (!unwritable.Possible()) GTEST_SKIP() << "no way to make a file unwritable here";
    const auto [hr, message] = ExportToFile();
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(message, msg::CARSAVE_MDF_FILE);
    EXPECT_EQ(Files(dir), before);
    EXPECT_EQ(Temporaries(dir), 0u) << testing::PrintToString(dir.Names());
}

// A file-size limit stops the export in the CAR or in the MDF (a full disk fails writes alike).
TEST_F(CarExportSafety, AFileSizeLimitReplacesNothing) {
    const std::size_t carSize = [&] {
        cvtest::TempDir probe;
        CfxComPtr<ISBStream> stream;
        EXPECT_EQ(host::CreateFileStream(probe.File("probe.car"), host::FileMode::Write, stream.Out()), S_OK);
        auto exporter = Create<ISBExporter>("SDCartovane.CARImportExport");
        EXPECT_EQ(exporter->Export(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()), S_OK);
        EXPECT_EQ(host::CommitFileStream(stream.Get()), S_OK);
        return cvtest::TempDir::Slurp(probe.File("probe.car")).size();
    }();
    ASSERT_GT(carSize, 100u);
    struct Case {
        const char* what;
        rlim_t limit;
        std::int32_t message;
    } cases[] = {
        {"in the CAR", static_cast<rlim_t>(carSize / 2), msg::CARSAVE},
        {"in the MDF", static_cast<rlim_t>(carSize + 1), msg::CARSAVE_MDF_FILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // In a child process: the limit stays with it.
        auto limited = [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.limit, c.limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const auto [hr, message] = ExportToFile();
            std::_Exit(hr == E_FAIL && message == c.message ? 0 : 1);
        };
        EXPECT_EXIT(limited(), testing::ExitedWithCode(0), "");
        EXPECT_EQ(Files(dir), before);
        EXPECT_EQ(Temporaries(dir), 0u) << testing::PrintToString(dir.Names());
    }
}

// Killed while writing (here by the limit's signal): the old pair stays, the bytes written lie
// under temporary names only.
TEST_F(CarExportSafety, AKilledExportLeavesTheOldFiles) {
    auto killed = [&] {
        const rlimit limit{200, 200};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ExportToFile();
        std::_Exit(0);
    };
    EXPECT_EXIT(killed(), testing::KilledBySignal(SIGXFSZ), "");
    EXPECT_EQ(Files(dir), before);
    EXPECT_EQ(Temporaries(dir), 1u) << testing::PrintToString(dir.Names());
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

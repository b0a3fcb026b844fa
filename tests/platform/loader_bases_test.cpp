#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/symmetry/system.h"
#include "host/documents.h"
#include "utilities/frame_loader.h"
#include "utilities/load.h"
#include "utilities/object_loader.h"
#include "utilities/trajectory.h"

namespace {

// A frame loader with nothing of its own, its base state in reach.
class ProbeLoader : public xxFrameLoader {
public:
    explicit ProbeLoader(int type = kBinaryFile) : xxFrameLoader(type) {}
    ProbeLoader(const ProbeLoader&) = default;

    std::unique_ptr<xxFrameProvider> Clone() override { return std::make_unique<ProbeLoader>(*this); }
    std::string GetTrajectoryType() const override { return "probe"; }
    int GetNumFrames() const override { return 0; }
    xxBool LoadFrame(int, xxIterator&, double*, double*, double*, double*, const xxTransformMatrix*) override {
        return false;
    }
    xxBool IsCompatibleWith(xxIterator*) override { return false; }
    xxBool IsFileExtension(std::string extension) const override { return extension == "probe"; }
    std::string GetFileExtension() const override { return "probe"; }
    std::string GetFileFilter() const override { return "Probe Files (*.probe) |*.probe|"; }

    using xxFrameLoader::classTypes_;
    using xxFrameLoader::fileName_;
    using xxFrameLoader::modelObject_;
    using xxFrameLoader::swapBytes_;
    using xxFrameLoader::symmetrySystem_;
    using xxFrameLoader::targetObject_;
    using xxFrameLoader::trajectory_;
    using xxFrameLoader::treeRoot_;
};

// A reader whose load reports what it was given and answers a chosen result.
class RecordingReader : public xxLoad {
public:
    xxBool IsFileExtension(std::string extension) const override { return extension == "rec"; }
    std::string GetFileExtension() const override { return "rec"; }
    std::string GetFileFilter() const override { return "Recorded Files (*.rec) |*.rec|"; }
    HRESULT LoadObjectFromStreamHR(std::istream& in, xxObject*, std::string name) override {
        ++calls;
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        loadedName = name;
        return result;
    }
    HRESULT result = S_OK;
    int calls = 0;
    std::string content, loadedName;
};

// The shape of a reader that overrides only what every reader must.
class BareReader : public xxLoad {
public:
    xxBool IsFileExtension(std::string) const override { return false; }
    std::string GetFileExtension() const override { return ""; }
    std::string GetFileFilter() const override { return ""; }
};

class TempFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-loader-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

public:
    std::string Put(const std::string& name, const std::string& bytes) {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string Missing() const { return (dir_ / "missing.bin").string(); }
    // A new empty directory in the test's own; its path ends in "/".
    std::string Subdirectory(const std::string& name) const {
        std::filesystem::create_directory(dir_ / name);
        return (dir_ / name).string() + "/";
    }

private:
    std::filesystem::path dir_;
};

template <class T>
std::string BytesOf(const std::vector<T>& values, bool reversed) {
    std::string bytes;
    for (T v : values) {
        std::string one(sizeof(T), '\0');
        std::memcpy(one.data(), &v, sizeof(T));
        if (reversed) std::reverse(one.begin(), one.end());
        bytes += one;
    }
    return bytes;
}

using FrameLoaderTest = TempFiles;

// The flag reverses each element on its own; a file in the other order only reads right with it.
template <class T>
void CheckReadTranslate(FrameLoaderTest& test, const std::vector<T>& values) {
    struct Case {
        bool fileReversed;
        bool swap;
    } cases[] = {{false, false}, {true, true}, {true, false}, {false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(typeid(T).name()) + (c.fileReversed ? " reversed file" : " native file") +
                     (c.swap ? ", flag set" : ", flag clear"));
        ProbeLoader loader;
        loader.fileName_ = test.Put("values.bin", BytesOf(values, c.fileReversed));
        loader.swapBytes_ = c.swap;
        ASSERT_TRUE(loader.OpenFile());
        std::vector<T> read(values.size());
        ASSERT_TRUE(loader.ReadTranslate(read.data(), sizeof(T), read.size(), false));
        EXPECT_EQ(BytesOf(read, false), BytesOf(values, c.fileReversed != c.swap));
        loader.CloseFile();
    }
}

TEST_F(FrameLoaderTest, ReadTranslateReversesEachElementWhileTheFlagIsSet) {
    CheckReadTranslate<int>(*this, {1, -2, 0x01020304, std::numeric_limits<int>::min()});
    CheckReadTranslate<float>(*this, {1.5f, -0.25f, 3.0e38f});
    CheckReadTranslate<double>(*this, {3.25, -1e300, 5e-324});
}

TEST_F(FrameLoaderTest, SkippedReadsAdvanceLikeRealOnes) {
    ProbeLoader loader;
    loader.fileName_ = Put("mixed.bin", BytesOf<int>({11, 22}, false) + BytesOf<double>({3.5, 4.5}, false) + "abcdef");
    loader.swapBytes_ = true;  // skipping must not depend on it
    ASSERT_TRUE(loader.OpenFile());

    int i = -1;
    ASSERT_TRUE(loader.ReadTranslate(&i, 4, 1, true));
    EXPECT_EQ(i, -1) << "a skipped read wrote its destination";
    double d = 0;
    ASSERT_TRUE(loader.ReadTranslate(&i, 4, 1, true));
    ASSERT_TRUE(loader.ReadTranslate(&d, 8, 1, true));
    std::string text = "kept";
    ASSERT_TRUE(loader.Read(text, 0, true));
    loader.swapBytes_ = false;
    ASSERT_TRUE(loader.ReadTranslate(&d, 8, 1, false));
    EXPECT_EQ(d, 4.5);
    ASSERT_TRUE(loader.Read(text, 2, true));
    EXPECT_EQ(text, "kept");
    ASSERT_TRUE(loader.Read(text, 4, false));
    EXPECT_EQ(text, "cdef");
}

TEST_F(FrameLoaderTest, ReadingPastTheEndFailsWhetherOrNotSkipping) {
    for (bool skip : {false, true}) {
        SCOPED_TRACE(skip ? "skipping" : "reading");
        ProbeLoader loader;
        loader.fileName_ = Put("short.bin", BytesOf<int>({7}, false) + "xy");
        ASSERT_TRUE(loader.OpenFile());
        int values[2] = {};
        EXPECT_FALSE(loader.ReadTranslate(values, 4, 2, skip));
        EXPECT_FALSE(loader.ReadTranslate(values, 4, 1, false)) << "a failed stream reads on";
    }

    ProbeLoader closed;
    int value = 0;
    EXPECT_FALSE(closed.ReadTranslate(&value, 4, 1, false));
}

TEST_F(FrameLoaderTest, TextReadsKeepBytesAsTheyStandAndStopAtTheEnd) {
    const std::string bytes("ab\0\r\ncd", 7);
    ProbeLoader loader;
    loader.fileName_ = Put("text.bin", bytes);
    loader.swapBytes_ = true;  // characters are never reversed
    ASSERT_TRUE(loader.OpenFile());
    std::string text;
    ASSERT_TRUE(loader.Read(text, 5, false));
    EXPECT_EQ(text, bytes.substr(0, 5));

    // A length from a damaged file: what is there arrives, nothing near the length is allocated.
    EXPECT_FALSE(loader.Read(text, std::size_t{1} << 40, false));
    EXPECT_EQ(text, "cd");
    EXPECT_LT(text.capacity(), std::size_t{1} << 20);
}

TEST_F(FrameLoaderTest, ImpossibleReadRequestsAreClearErrors) {
    ProbeLoader loader;
    loader.fileName_ = Put("any.bin", std::string(16, 'x'));
    ASSERT_TRUE(loader.OpenFile());
    int i = 0;
    float f = 0;
    double d = 0;
    auto hr = [](auto body) {
        try {
            body();
        } catch (const Cfx::CfxResult& r) {
            return r.Hr();
        }
        return S_OK;
    };
    EXPECT_EQ(hr([&] { loader.ReadTranslate(&d, 4, 1, false); }), E_INVALIDARG);  // width is not the element's
    EXPECT_EQ(hr([&] { loader.ReadTranslate(&i, 8, 1, false); }), E_INVALIDARG);
    EXPECT_EQ(hr([&] { loader.ReadTranslate(&f, 4, std::numeric_limits<std::size_t>::max() / 2, false); }),
              E_INVALIDARG);
    EXPECT_EQ(hr([&] { loader.ReadTranslate(static_cast<int*>(nullptr), 4, 1, false); }), E_POINTER);
}

TEST_F(FrameLoaderTest, NestedOpensKeepTheFileOpenUntilTheOutermostClose) {
    ProbeLoader loader;
    loader.fileName_ = Put("frames.bin", BytesOf<int>({1, 2, 3}, false));
    int value = 0;

    ASSERT_TRUE(loader.OpenFile());
    ASSERT_TRUE(loader.ReadTranslate(&value, 4, 1, false));
    {
        xxFrameLoader::OpenedFile inner(loader);  // an inner routine's open and close
        ASSERT_TRUE(inner);
        EXPECT_EQ(loader.OpenDepth(), 2);
        ASSERT_TRUE(loader.ReadTranslate(&value, 4, 1, false));
        EXPECT_EQ(value, 2) << "the inner open moved the position";
    }
    EXPECT_TRUE(loader.IsFileOpen());
    ASSERT_TRUE(loader.ReadTranslate(&value, 4, 1, false));
    EXPECT_EQ(value, 3);
    loader.CloseFile();
    EXPECT_FALSE(loader.IsFileOpen());
    EXPECT_FALSE(loader.GetIstream64().is_open());

    loader.CloseFile();  // one close too many
    EXPECT_EQ(loader.OpenDepth(), 0);
    ASSERT_TRUE(loader.OpenFile());
    ASSERT_TRUE(loader.ReadTranslate(&value, 4, 1, false));
    EXPECT_EQ(value, 1) << "a reopened file starts at its beginning";
    loader.CloseFile();
}

TEST_F(FrameLoaderTest, FailedOpenLeavesNothingToClose) {
    ProbeLoader loader;
    loader.fileName_ = Missing();
    EXPECT_FALSE(loader.OpenFile());
    EXPECT_EQ(loader.OpenDepth(), 0);
    {
        xxFrameLoader::OpenedFile guard(loader);
        EXPECT_FALSE(guard);
    }
    EXPECT_EQ(loader.OpenDepth(), 0);

    loader.fileName_ = Put("present.bin", BytesOf<int>({5}, false));
    ASSERT_TRUE(loader.OpenFile()) << "the failed open left the stream unusable";
    int value = 0;
    EXPECT_TRUE(loader.ReadTranslate(&value, 4, 1, false));
    EXPECT_EQ(value, 5);
    loader.CloseFile();
}

// A trajectory "RUN.ARC" beside "run.xtd": when no file has the exact name, the one file whose
// name differs only in case is opened, and its path becomes the file name.
TEST_F(FrameLoaderTest, OpenFileFallsBackToTheOneFileNamedAlikeWithoutRegardToCase) {
    struct Case {
        const char* name;
        std::vector<const char*> files;  // what lies in the directory
        const char* opened;              // the file opened; null: none
    } cases[] = {
        {"exact name", {"run.play", "RUN.PLAY"}, "run.play"},
        {"other case", {"RUN.PLAY"}, "RUN.PLAY"},
        {"mixed case", {"Run.Play", "other.play"}, "Run.Play"},
        {"two alike: no guess", {"RUN.PLAY", "Run.play"}, nullptr},
        {"none alike", {"run.play2", "run.pla", "xrun.play"}, nullptr},
        {"an empty directory", {}, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = Subdirectory("case" + std::to_string(n++));
        for (const char* file : c.files) std::ofstream(dir + file) << file;
        ProbeLoader loader;
        loader.fileName_ = dir + "run.play";
        if (!c.opened) {
            EXPECT_FALSE(loader.OpenFile());
            EXPECT_EQ(loader.fileName_, dir + "run.play");
            continue;
        }
        ASSERT_TRUE(loader.OpenFile());
        std::string content;
        std::getline(loader.GetIstream(), content);
        EXPECT_EQ(content, c.opened);
        EXPECT_EQ(loader.fileName_, dir + c.opened);
        loader.CloseFile();
    }

    // A directory of the name is no file to open.
    const std::string dir = Subdirectory("with a directory");
    std::filesystem::create_directory(dir + "RUN.PLAY");
    ProbeLoader loader;
    loader.fileName_ = dir + "run.play";
    EXPECT_FALSE(loader.OpenFile());
}

TEST_F(FrameLoaderTest, TextAndBinaryLoadersReadTheSameFile) {
    const std::string path = Put("lines.txt", "line one\nline two\n");
    for (int type : {xxFrameLoader::kTextFile, xxFrameLoader::kBinaryFile}) {
        ProbeLoader loader(type);
        EXPECT_EQ(loader.FrameLoaderType(), type);
        loader.fileName_ = path;
        xxFrameLoader::OpenedFile file(loader);
        ASSERT_TRUE(file);
        std::string line;
        std::getline(loader.GetIstream(), line);
        EXPECT_EQ(line, "line one");
    }
}

// A model in a host document with a file, and a trajectory in its tree.
struct DocumentModel {
    explicit DocumentModel(const std::string& url, bool periodic = false) {
        if (!url.empty()) document->SetURL(url);
        xxTreeRoot& tree = document->Tree();
        if (periodic) {
            tree.CreateChild<xxMolecule>();  // the system need not be the first child
            system = &tree.CreateChild<xxMatterSymmetrySystem>();
            tree.CreateChild<xxMatterSymmetrySystem>();
        }
        trajectory = &tree.CreateChild<xxTrajectory>();
    }
    xxTreeRoot& Tree() { return document->Tree(); }
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    xxMatterSymmetrySystem* system = nullptr;
    xxTrajectory* trajectory = nullptr;
};

TEST(FrameLoader, InitTakesTheFileAndTheModelFromTheTrajectorysDocument) {
    struct Case {
        const char* url;
        const char* fileName;  // what a loader appends its type text to
    } cases[] = {
        {"/data/run.xtd", "/data/run."},
        {"/data/run.XTD", "/data/run."},
        {"/data/run", "/data/run."},
        {"/data/v1.2/run", "/data/v1.2/run."},        // a "." in a directory is no extension
        {"/data/v1.2/run.two.xtd", "/data/v1.2/run.two."},  // only the last extension goes
        {"relative.mtd", "relative."},
    };
    for (const Case& c : cases) {
        for (bool periodic : {false, true}) {
            SCOPED_TRACE(std::string(c.url) + (periodic ? ", periodic" : ""));
            DocumentModel m(c.url, periodic);
            ProbeLoader loader;
            ASSERT_TRUE(loader.Init(m.trajectory, {3, 4})) << loader.GetErrorMessage();
            EXPECT_EQ(loader.fileName_, c.fileName);
            EXPECT_EQ(loader.modelObject_, &m.Tree());
            EXPECT_EQ(loader.targetObject_, &m.Tree());
            EXPECT_EQ(loader.treeRoot_, &m.Tree());
            EXPECT_EQ(loader.symmetrySystem_, m.system) << "the root's first matter symmetry system, or none";
            EXPECT_EQ(loader.trajectory_, m.trajectory);
            EXPECT_EQ(loader.classTypes_, (std::vector<unsigned>{3, 4}));
        }
    }
}

TEST(DocumentInfo, NameIsTheFileNameWithoutDirectoryAndExtension) {
    struct Case {
        const char* url;
        const char* name;
    } cases[] = {{"/data/run.qor", "run"}, {"/data/v1.2/run.two.xsd", "run.two"}, {"water", "water"}};
    for (const Case& c : cases) {
        DocumentModel model(c.url);
        CfxComPtr<ISBDocumentRoot> root;
        ASSERT_EQ(model.document->QueryInterface(IID_ISBDocumentRoot, root.OutVoid()), S_OK);
        CfxComPtr<ISBDocumentInfo> info = host::GetDocumentInfo(root.Get());
        ASSERT_TRUE(info) << c.url;
        CfxBSTR name;
        ASSERT_EQ(info->GetName(name.Out()), S_OK);
        EXPECT_EQ(name.ToString(), c.name) << c.url;
        EXPECT_EQ(info->GetName(nullptr), E_POINTER);
    }
    // A document without a file gives no information at all.
    DocumentModel unsaved("");
    CfxComPtr<ISBDocumentRoot> root;
    ASSERT_EQ(unsaved.document->QueryInterface(IID_ISBDocumentRoot, root.OutVoid()), S_OK);
    EXPECT_FALSE(host::GetDocumentInfo(root.Get()));
}

TEST(FrameLoader, InitRefusesATrajectoryNoDocumentWithAFileHolds) {
    ProbeLoader loader;
    EXPECT_FALSE(loader.Init(nullptr, {3}));
    EXPECT_FALSE(loader.GetErrorMessage().empty());

    DocumentModel unsaved("");  // a document never read or saved
    EXPECT_FALSE(loader.Init(unsaved.trajectory, {3}));
    EXPECT_EQ(loader.GetErrorMessage(), "The trajectory's document has no file.");

    xxTreeRoot loose;  // a tree no document holds
    EXPECT_FALSE(loader.Init(&loose.CreateChild<xxTrajectory>(), {3}));
    EXPECT_EQ(loader.GetErrorMessage(), "The trajectory's document has no file.");

    xxTrajectory alone;  // under no root at all
    EXPECT_FALSE(loader.Init(&alone, {3}));
    EXPECT_FALSE(loader.GetErrorMessage().empty());
    EXPECT_TRUE(loader.classTypes_.empty()) << "a refused Init kept state";
    EXPECT_EQ(loader.treeRoot_, nullptr);
}

TEST(FrameLoader, ConstructionAndCopy) {
    ProbeLoader loader;
    EXPECT_FALSE(loader.SwapsBytes());
    EXPECT_FALSE(loader.IsFileOpen());
    EXPECT_EQ(loader.CurrentFrame(), -1);
    for (int bad : {0, 3, -1}) {
        try {
            ProbeLoader wrong(bad);
            ADD_FAILURE() << "type " << bad << " accepted";
        } catch (const Cfx::CfxResult& r) {
            EXPECT_EQ(r.Hr(), E_INVALIDARG);
        }
    }

    DocumentModel m("/data/run.xtd", true);
    ASSERT_TRUE(loader.Init(m.trajectory, {3, 4}));
    loader.fileName_ = "/dev/null";
    loader.swapBytes_ = true;
    loader.SetTrajectoryType("probe");
    ASSERT_TRUE(loader.OpenFile());
    // Every loader's Clone builds on the copy of the whole base state.
    std::unique_ptr<xxFrameProvider> copy = loader.Clone();
    auto& probe = dynamic_cast<ProbeLoader&>(*copy);
    EXPECT_FALSE(probe.IsFileOpen()) << "a copy shares no open file";
    EXPECT_EQ(probe.fileName_, "/dev/null");
    EXPECT_TRUE(probe.SwapsBytes());
    EXPECT_EQ(probe.trajectory_, m.trajectory);
    EXPECT_EQ(probe.classTypes_, loader.classTypes_);
    EXPECT_EQ(probe.modelObject_, &m.Tree());
    EXPECT_EQ(probe.targetObject_, &m.Tree());
    EXPECT_EQ(probe.treeRoot_, &m.Tree());
    EXPECT_EQ(probe.symmetrySystem_, m.system);
    EXPECT_EQ(probe.TrajectoryTypeText(), "probe");
    EXPECT_EQ(probe.FrameLoaderType(), loader.FrameLoaderType());
    loader.CloseFile();
}

TEST(FrameLoader, LoaderBaseClassesAreRegisteredAndAbstract) {
    const xxClass& provider = xxClass::FindClass("FrameProvider");
    const xxClass& objectLoader = xxClass::FindClass("ObjectLoader");
    EXPECT_EQ(&provider, &xxFrameProvider::Class);
    EXPECT_EQ(&objectLoader, &xxObjectLoader::Class);
    EXPECT_TRUE(provider.IsAbstract());
    EXPECT_TRUE(objectLoader.IsAbstract());

    ProbeLoader loader;
    EXPECT_TRUE(loader.IsA(provider.TypeId()));
    EXPECT_FALSE(loader.IsA(objectLoader.TypeId()));
}

using ReaderTest = TempFiles;

TEST_F(ReaderTest, LoadObjectOpensTheFileAndSucceedsWithTheStreamLoad) {
    const std::string bytes("one\r\ntwo\0three", 14);  // binary: nothing translated
    const std::string path = Put("model.rec", bytes);
    struct Case {
        HRESULT hr;
        bool loaded;
    } cases[] = {{S_OK, true}, {S_FALSE, true}, {E_FAIL, false}, {E_UNEXPECTED, false}};
    for (const Case& c : cases) {
        RecordingReader reader;
        reader.result = c.hr;
        EXPECT_EQ(reader.LoadObject(nullptr, path), c.loaded) << std::hex << c.hr;
        EXPECT_EQ(reader.content, bytes);
        EXPECT_EQ(reader.loadedName, path);
    }
}

TEST_F(ReaderTest, MissingFileIsFalseWithAMessageAndNoLoad) {
    RecordingReader reader;
    EXPECT_FALSE(reader.LoadObject(nullptr, Missing()));
    EXPECT_EQ(reader.calls, 0);
    EXPECT_NE(reader.GetErrorMessage().find(Missing()), std::string::npos) << reader.GetErrorMessage();
}

TEST(Reader, BaseLoadsNothingAndAcceptsAnyContent) {
    BareReader reader;
    std::istringstream in("anything");
    EXPECT_TRUE(reader.IsLoadable(in));
    EXPECT_EQ(reader.LoadObjectFromStreamHR(in, nullptr, "x"), E_NOTIMPL);
    EXPECT_FALSE(reader.LoadObjectFromStream(in, nullptr, "x"));
}

}  // namespace

// The undo/redo component through the host stand-in: a document saved and restored is the same
// document, and a stream that cannot be one fails cleanly behind the component's prefix.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "documents/binary_format.h"
#include "documents/xsd_file.h"
#include "formats/carmdf/car_reader.h"
#include "frame/clsids.h"
#include "host/documents.h"
#include "host/streams.h"
#include "utilities/trajectory.h"
#include "support/host_doubles.h"
#include "support/library_components.h"
#include "support/recording_stream.h"

namespace cartovane {
namespace {

constexpr char kBinary[] = "SDCartovane.BinaryImportExport";
using Bytes = std::vector<char>;

class BinaryComponent : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = cvtest::TestContainerRoot::Create();
        Cfx::ClearLastError();
    }

    HRESULT Export(ISBStream* stream, ISBDocumentRoot* document) {
        return cvtest::CreateConnected<ISBExporter>(kBinary, *root.Get())->Export(stream, document, VARIANT{});
    }
    HRESULT Import(ISBStream* stream, ISBDocumentRoot* document) {
        return cvtest::CreateConnected<ISBImporter>(kBinary, *root.Get())->Import(stream, document, VARIANT{});
    }
    static ISBDocumentRoot* Root(const CfxComPtr<host::Model3dDocument>& d) { return static_cast<ISBDocumentRoot*>(d.Get()); }

    static CfxComPtr<host::Model3dDocument> FromCar(const std::string& path) {
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(xxLoadCAR().LoadCarMdfFile(in, document->Tree(), path, nullptr, false), S_OK);
        return document;
    }
    Bytes Save(const CfxComPtr<host::Model3dDocument>& document) {
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
        EXPECT_EQ(Export(stream.Get(), Root(document)), S_OK) << Cfx::GetLastError().description;
        return host::MemoryStreamBytes(stream.Get());
    }
    HRESULT Restore(const Bytes& bytes, const CfxComPtr<host::Model3dDocument>& document) {
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream(bytes);
        return Import(stream.Get(), Root(document));
    }
    static std::string Xsd(xxTreeRoot& tree) {
        std::ostringstream out;
        EXPECT_TRUE(xxSaveXSD().SaveObjectToStream(out, &tree, ""));
        return out.str();
    }
    static std::size_t Descendents(const xxTreeRoot& tree) {
        std::size_t n = 0;
        tree.ForEachDescendent([&](xxObject&) {
            ++n;
            return true;
        });
        return n;
    }

    CfxComPtr<cvtest::TestContainerRoot> root;
};

TEST_F(BinaryComponent, SavedAndRestoredDocumentsSaveTheSameXsdAndTheSameStream) {
    for (const std::string name : {"ethanol_water.car", "chain_crystal.car", "chain.car"}) {
        SCOPED_TRACE(name);
        CfxComPtr<host::Model3dDocument> original = FromCar(std::string(CARTOVANE_TEST_DATA) + "/carmdf/" + name);
        const Bytes saved = Save(original);
        CfxComPtr<host::Model3dDocument> back = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        ASSERT_EQ(Restore(saved, back), S_OK) << Cfx::GetLastError().description;
        EXPECT_EQ(Xsd(back->Tree()), Xsd(original->Tree()));
        EXPECT_EQ(Save(back), saved);
    }
}

// A trajectory document's model with its trajectory, and a mesoscale document, each restored
// into a fresh document of its class.
TEST_F(BinaryComponent, TrajectoryAndMesoscaleDocumentsRoundTrip) {
    for (const char* progId : {kAtomistic3dDocumentProgID, kMeso3dDocumentProgID}) {
        SCOPED_TRACE(progId);
        CfxComPtr<host::Model3dDocument> original = host::Model3dDocument::Create(progId);
        xxTreeRoot& tree = original->Tree();
        tree.SetName("model");
        auto& o = tree.CreateChild<xxAtom3d>("O");
        o.SetXYZ({1, 2, 3.25});
        auto& h = tree.CreateChild<xxAtom3d>("H");
        h.SetXYZ({1.5, 2, 3});
        h.SetIsotope(2);
        tree.CreateChild<xxBond>().Connect(o, h);
        tree.CreateChild<xxTrajectory>().SetTrajectoryType("arc");
        const Bytes saved = Save(original);
        CfxComPtr<host::Model3dDocument> back = host::Model3dDocument::Create(progId);
        ASSERT_EQ(Restore(saved, back), S_OK) << Cfx::GetLastError().description;
        EXPECT_EQ(Xsd(back->Tree()), Xsd(tree));
        EXPECT_EQ(Save(back), saved);
    }
}

TEST_F(BinaryComponent, RestoringIntoADocumentThatHoldsObjectsAppendsBelowItsRoot) {
    CfxComPtr<host::Model3dDocument> original = FromCar(std::string(CARTOVANE_TEST_DATA) + "/carmdf/chain.car");
    const Bytes saved = Save(original);
    CfxComPtr<host::Model3dDocument> twice = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    ASSERT_EQ(Restore(saved, twice), S_OK);
    const std::size_t once = Descendents(twice->Tree());
    ASSERT_EQ(Restore(saved, twice), S_OK);
    EXPECT_EQ(Descendents(twice->Tree()), 2 * once);
}

TEST_F(BinaryComponent, FailuresCarryTheirTextsBehindThePrefix) {
    CfxComPtr<host::Model3dDocument> model = FromCar(std::string(CARTOVANE_TEST_DATA) + "/carmdf/chain.car");
    const Bytes saved = Save(model);
    const std::string invalidArg = Cfx::CfxResult::StandardDescription(E_INVALIDARG);
    struct Case {
        const char* what;
        bool nullRoot;
        bool nullTree;
        Bytes stream;
        HRESULT hr;
        std::string description;
    } cases[] = {
        {"null root", true, false, saved, E_INVALIDARG, "Unable to process content - " + invalidArg},
        {"no tree", false, true, saved, E_UNEXPECTED, "Unable to process content - Cannot access underlying document."},
        {"empty", false, false, {}, E_UNEXPECTED, "Unable to process content - Empty Document"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CfxComPtr<cvtest::ForwardingDocument> document =
            cvtest::ForwardingDocument::Over(host::Model3dDocument::Create(kAtomistic3dDocumentProgID));
        document->nullTree = c.nullTree;
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream(c.stream);
        EXPECT_EQ(Import(stream.Get(), c.nullRoot ? nullptr : static_cast<ISBDocumentRoot*>(document.Get())), c.hr);
        EXPECT_EQ(Cfx::GetLastError().description, c.description);
        EXPECT_EQ(Cfx::GetLastError().clsid, CLSID_BinaryImportExport);
        EXPECT_EQ(Cfx::GetLastError().iid, IID_ISBImporter);
        EXPECT_EQ(Descendents(document->Real().Tree()), 0u);
    }

    // Export: a null root, and the bare HRESULT for a document without its tree.
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    EXPECT_EQ(Export(stream.Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(Cfx::GetLastError().iid, IID_ISBExporter);
    CfxComPtr<cvtest::ForwardingDocument> document = cvtest::ForwardingDocument::Over(model);
    document->nullTree = true;
    EXPECT_EQ(Export(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get())), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, Cfx::CfxResult::StandardDescription(E_UNEXPECTED));
}

// After the restore the document's class is looked up by its ProgID; one the registry does not
// know fails the import with the lookup's error, behind the prefix.
TEST_F(BinaryComponent, ADocumentClassTheRegistryDoesNotKnowFailsTheImport) {
    CfxComPtr<host::Model3dDocument> model = FromCar(std::string(CARTOVANE_TEST_DATA) + "/carmdf/chain.car");
    const Bytes saved = Save(model);
    for (const char* progId : {kAtomistic3dDocumentProgID, "Pendrake.NoSuchDocument"}) {
        SCOPED_TRACE(progId);
        CfxComPtr<cvtest::ForwardingDocument> document =
            cvtest::ForwardingDocument::Over(host::Model3dDocument::Create(kAtomistic3dDocumentProgID));
        document->progId = progId;
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream(saved);
        const HRESULT hr = Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()));
        if (progId == std::string(kAtomistic3dDocumentProgID)) {
            EXPECT_EQ(hr, S_OK) << Cfx::GetLastError().description;
        } else {
            EXPECT_TRUE(FAILED(hr));
            EXPECT_EQ(Cfx::GetLastError().description.rfind("Unable to process content - ", 0), 0u);
        }
    }
}

TEST_F(BinaryComponent, AFailingStreamFailsTheExportWithItsError) {
    CfxComPtr<host::Model3dDocument> model = FromCar(std::string(CARTOVANE_TEST_DATA) + "/carmdf/chain.car");
    for (int nth : {1, 2}) {
        SCOPED_TRACE(nth);
        cvtest::RecordingStream stream;
        stream.RecordLastError(true);
        stream.FailNth(cvtest::RecordingStream::Op::Write, nth, STG_E_WRITEFAULT);
        EXPECT_EQ(Export(&stream, Root(model)), STG_E_WRITEFAULT);
    }
}

// Little-endian fields patched into a good stream.
void Patch(Bytes& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int k = 0; k < width; ++k) bytes[at + static_cast<std::size_t>(k)] = static_cast<char>(value >> (8 * k));
}
std::uint32_t U32(const Bytes& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
    return v;
}

TEST_F(BinaryComponent, DamagedStreamsAreRefusedAndLeaveNothingBehind) {
    CfxComPtr<host::Model3dDocument> model = FromCar(std::string(CARTOVANE_TEST_DATA) + "/carmdf/chain.car");
    const Bytes good = Save(model);
    const std::uint32_t t = U32(good, 0);
    const std::uint32_t bits = U32(good, t);
    const std::size_t classAt = t + 4 + (bits + 7) / 8;  // the class count
    const std::uint32_t n = U32(good, classAt);
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        const char* says;
    } cases[] = {
        {"unfinished save", [](Bytes& b) { Patch(b, 0, 0xFFFFFFFFu, 4); }, "never finished"},
        {"trailer beyond the reach", [](Bytes& b) { Patch(b, 0, 0x80000000u, 4); }, "beyond the stream's reach"},
        {"trailer beyond the end", [&](Bytes& b) { Patch(b, 0, b.size(), 4); }, "beyond the stream's"},
        {"trailer in the header", [](Bytes& b) { Patch(b, 0, 7, 4); }, "inside the header"},
        {"negative bit count", [&](Bytes& b) { Patch(b, t, 0x80000000u, 4); }, "is negative"},
        {"bit count beyond the stream", [&](Bytes& b) { Patch(b, t, 0x7FFFFFF0u, 4); }, "more than the stream holds"},
        {"no objects", [&](Bytes& b) { Patch(b, classAt, 0, 8); }, "has no objects"},
        {"class count beyond the stream", [&](Bytes& b) { Patch(b, classAt, n + 1, 8); }, "more than the stream holds"},
        {"unknown class", [&](Bytes& b) { Patch(b, classAt + 8 + 4, 12345, 4); }, "unknown class type 12345"},
        {"root of another class",
         [&](Bytes& b) { Patch(b, classAt + 8, xxTreeRoot::classType, 4); }, "the stream's root is a TreeRoot"},
        {"abstract class", [&](Bytes& b) { Patch(b, classAt + 8 + 4, xxMatter::classType, 4); }, "abstract class Matter"},
        {"root identifier", [](Bytes& b) { Patch(b, 4, 0, 4); }, "identifier 0 is not in the class table"},
        {"truncated data", [&](Bytes& b) { Patch(b, 0, 16, 4); }, ""},
        {"bits left over", [&](Bytes& b) {
             // one more bit in the table than the data uses
             b.insert(b.begin() + static_cast<std::ptrdiff_t>(t + 4 + (bits + 7) / 8), bits % 8 ? 0 : 1, '\0');
             Patch(b, t, bits + 1, 4);
         }, "of its"},
        {"stale bytes after the table are ignored", [](Bytes& b) { b.insert(b.end(), 5, 'x'); }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        c.damage(bytes);
        CfxComPtr<host::Model3dDocument> target = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        HRESULT hr = Restore(bytes, target);
        if (!c.says) {
            EXPECT_EQ(hr, S_OK) << Cfx::GetLastError().description;
            continue;
        }
        EXPECT_EQ(hr, E_UNEXPECTED) << Cfx::GetLastError().description;
        const std::string& d = Cfx::GetLastError().description;
        EXPECT_EQ(d.rfind("Unable to process content - ", 0), 0u) << d;
        EXPECT_NE(d.find(c.says), std::string::npos) << d;
        EXPECT_EQ(Descendents(target->Tree()), 0u);
    }
}

TEST_F(BinaryComponent, ShortReadsAndFailingReadsAreRefused) {
    CfxComPtr<host::Model3dDocument> model = FromCar(std::string(CARTOVANE_TEST_DATA) + "/carmdf/chain.car");
    const Bytes good = Save(model);
    const std::string data(good.begin(), good.end());
    {
        cvtest::RecordingStream stream(data.substr(0, data.size() - 3), true);
        CfxComPtr<host::Model3dDocument> target = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        EXPECT_EQ(Import(&stream, Root(target)), E_UNEXPECTED);
    }
    {
        cvtest::RecordingStream stream(data, true);
        stream.RecordLastError(true);
        stream.FailNth(cvtest::RecordingStream::Op::Read, 3, STG_E_READFAULT);
        CfxComPtr<host::Model3dDocument> target = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        EXPECT_EQ(Import(&stream, Root(target)), STG_E_READFAULT);
        EXPECT_EQ(Descendents(target->Tree()), 0u);
    }
    {
        // Reads that give a few bytes at a time still read the whole document.
        cvtest::RecordingStream stream(data, true);
        stream.SetReadLimit(7);
        CfxComPtr<host::Model3dDocument> target = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        EXPECT_EQ(Import(&stream, Root(target)), S_OK) << Cfx::GetLastError().description;
        EXPECT_EQ(Xsd(target->Tree()), Xsd(model->Tree()));
    }
}

}  // namespace
}  // namespace cartovane

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "frame/component_frame.h"
#include "frame/component_io.h"
#include "host/streams.h"
#include "support/host_doubles.h"
#include "support/recording_stream.h"
#include "support/temp_dir.h"
#include "support/thrown_result.h"

namespace {

using namespace cartovane;
using Op = cvtest::RecordingStream::Op;

using cvtest::Thrown;

TEST(ComponentIo, TreeRootOfADocumentThatGivesNoneFailsByOneRule) {
    CfxComPtr<host::Model3dDocument> real = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    EXPECT_EQ(&TreeRootOf(static_cast<ISBDocumentRoot*>(real.Get())), &real->Tree());

    CfxComPtr<cvtest::ForwardingDocument> noTree = cvtest::ForwardingDocument::Over(real);
    noTree->nullTree = true;
    auto* document = static_cast<ISBDocumentRoot*>(noTree.Get());
    Cfx::CfxResult byDefault = Thrown([&] { TreeRootOf(document); });
    EXPECT_EQ(byDefault.Hr(), E_UNEXPECTED);
    EXPECT_EQ(byDefault.Description(), "Cannot access underlying document.");
    Cfx::CfxResult own = Thrown([&] { TreeRootOf(document, Cfx::CfxResult(E_UNEXPECTED, "own text")); });
    EXPECT_EQ(own.Description(), "own text");

    // Something that is no 3-D document: the query's failure.
    CfxComPtr<host::Arguments> notADocument = host::Arguments::Create();
    EXPECT_EQ(Thrown([&] { TreeRootOf(reinterpret_cast<ISBDocumentRoot*>(notADocument.Get())); }).Hr(), E_NOINTERFACE);
    EXPECT_EQ(Thrown([] { TreeRootOf(nullptr); }).Hr(), E_POINTER);
}

TEST(ComponentIo, FilePathOfAFileStreamOnly) {
    cvtest::TempDir dir;
    const std::string file = dir.Put("model.car", "x");
    CfxComPtr<ISBStream> stream;
    ASSERT_EQ(host::CreateFileStream(file, host::FileMode::Read, stream.Out()), S_OK);
    std::string path;
    EXPECT_EQ(FilePathOf(stream.Get(), path), S_OK);
    EXPECT_EQ(path, file);

    std::string untouched = "before";
    EXPECT_EQ(FilePathOf(host::CreateMemoryStream().Get(), untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, "before");

    // A file stream that cannot say where it is: the default failure or the component's own.
    CfxComPtr<cvtest::PathlessFileStream> pathless = cvtest::PathlessFileStream::Create();
    Cfx::CfxResult byDefault = Thrown([&] { FilePathOf(pathless.Get(), untouched); });
    EXPECT_EQ(byDefault.Hr(), E_UNEXPECTED);
    EXPECT_EQ(byDefault.Description(), "Failed to obtain the stream name");
    Cfx::CfxResult own = Thrown([&] { FilePathOf(pathless.Get(), untouched, Cfx::CfxResult(E_UNEXPECTED, "own text")); });
    EXPECT_EQ(own.Description(), "own text");
    EXPECT_EQ(untouched, "before");
}

class Component final : public ConnectedImporterExporterFrame {
public:
    HRESULT Import(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
    HRESULT Export(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
};

TEST(ComponentIo, DiagnosticsForAComponentConnectedOrNot) {
    CCfxUnknown* made = nullptr;
    ASSERT_EQ(CreateOnHeap<Component>(&made), S_OK);
    auto& component = static_cast<Component&>(*made);

    EXPECT_EQ(Thrown([&] { DiagnosticsFor(component, "importer", DiagnosticsNeed::Required); }).Hr(), E_UNEXPECTED);
    EXPECT_FALSE(DiagnosticsFor(component, "exporter", DiagnosticsNeed::IfConnected));

    CfxComPtr<host::ContainerRoot> root = host::ContainerRoot::Create();
    ASSERT_EQ(root->Connect(component.ControllingUnknown()), S_OK);
    for (DiagnosticsNeed need : {DiagnosticsNeed::Required, DiagnosticsNeed::IfConnected}) {
        CfxComPtr<ISBDiagnosticsConnection> connection = DiagnosticsFor(component, "channel", need);
        ASSERT_TRUE(connection);
        CfxBSTR text(std::string_view("posted"));
        connection->PostMessage(SB_DIAG_WARNING, text.Get());
    }
    ASSERT_EQ(root->Diagnostics().Messages().size(), 2u);
    EXPECT_EQ(root->Diagnostics().Messages()[0].source, "channel");
    made->DelegatedRelease();
}

TEST(ComponentIo, WriteThroughSeesTheLastBytesFail) {
    const std::string text(3000, 'x');  // more than the adapter's buffer, with a tail left in it
    struct Case {
        const char* what;
        void (*arrange)(cvtest::RecordingStream&);
        bool writerSucceeds;
        WriteOutcome outcome;
        std::size_t stored;
    } cases[] = {
        {"written", [](cvtest::RecordingStream&) {}, true, WriteOutcome::Written, 3000},
        {"writer fails, what it wrote still goes out", [](cvtest::RecordingStream&) {}, false,
         WriteOutcome::WriterFailed, 3000},
        {"final write fails", [](cvtest::RecordingStream& s) { s.FailFrom(Op::Write, 3); }, true,
         WriteOutcome::StreamFailed, 2048},
        {"a write is short", [](cvtest::RecordingStream& s) { s.SetWriteLimit(1000); }, true,
         WriteOutcome::StreamFailed, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cvtest::RecordingStream stream;
        c.arrange(stream);
        WriteOutcome outcome = WriteThrough(&stream, [&](std::ostream& out) {
            out << text;
            return c.writerSucceeds;
        });
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(stream.Data().size(), c.stored);
    }
}

// A writer that gives up on a stream that fails as well (a full disk): the host must get the
// writer's report, not the stream's failure of the bytes left in the adapter.
TEST(ComponentIo, WriteThroughKeepsTheReportOfAWriterThatFailed) {
    constexpr std::int32_t kMessage = 400;
    for (bool streamFails : {false, true}) {
        SCOPED_TRACE(streamFails ? "the stream fails too" : "the stream takes the bytes");
        cvtest::RecordingStream stream;
        stream.RecordLastError(true);
        if (streamFails) stream.FailFrom(Op::Write, 1, STG_E_WRITEFAULT);
        Cfx::ClearLastError();
        const WriteOutcome outcome = WriteThrough(&stream, [&](std::ostream& out) {
            out << "partial";
            CfxReportError(E_UNEXPECTED, CLSID{}, kMessage);
            return false;
        });
        EXPECT_EQ(outcome, WriteOutcome::WriterFailed);
        EXPECT_EQ(stream.CallsOf(Op::Write).empty(), false) << "what the writer wrote still goes out";
        EXPECT_EQ(Cfx::GetLastError().hr, E_UNEXPECTED);
        EXPECT_EQ(Cfx::GetLastError().messageId, kMessage);
    }
}

}  // namespace

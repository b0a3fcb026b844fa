// What a component does at the host boundary around its reader or writer: reach the document's
// tree, find the file behind a stream, open its diagnostics connection, and write through the
// host stream so that the last bytes are flushed and checked.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "frame/stream_buf.h"
#include "host/documents.h"
#include "host/streams.h"

namespace cartovane {

// The document's data-model tree, by the host's one rule (host/documents.h): a document
// without the direct interface fails with the query's failure, one that gives no tree with
// E_UNEXPECTED "Cannot access underlying document." or the component's own result.
using host::TreeRootOf;

// A failed host call: its recorded last error when it recorded one, else its own standard
// text (an older last error must not stand in for it).
[[noreturn]] void ThrowHostFailure(HRESULT hr);
inline void CheckHost(HRESULT hr) {
    if (FAILED(hr)) ThrowHostFailure(hr);
}

// The path of the file behind a host stream. A stream with no file behind it returns its
// refusal of ISBFileStream (path untouched); a failed path query throws noPath, by default
// E_UNEXPECTED "Failed to obtain the stream name". A null stream is a null dereference.
HRESULT FilePathOf(ISBStream* stream, std::string& path, const Cfx::CfxResult& noPath);
HRESULT FilePathOf(ISBStream* stream, std::string& path);

// Whether a component cannot work without its diagnostics connection.
enum class DiagnosticsNeed {
    Required,     // a component that is not connected, or a manager that fails, throws
    IfConnected,  // none when not connected; a connection the manager refuses is none as well
};
// The diagnostics connection of that name through the component's container root.
CfxComPtr<ISBDiagnosticsConnection> DiagnosticsFor(const CSBContainerRootConsumerImpl& component,
                                                    std::string_view name, DiagnosticsNeed need);

enum class WriteOutcome {
    Written,       // the writer succeeded and every byte reached the stream
    WriterFailed,  // the writer returned false
    StreamFailed,  // the writer succeeded but the stream took not all of it
};
// Runs write(std::ostream&) -> bool over the host stream, then flushes what the adapter and the
// stream still hold, so that a failed or short final write is seen rather than lost in a
// destructor or a later commit.
// When the writer fails, what it wrote still goes out, but its report (CfxReportError) stays
// the last error: a stream that fails too would otherwise put its own failure in its place.
template <class Write>
WriteOutcome WriteThrough(ISBStream* stream, Write&& write) {
    bool written = false;
    bool flushed = false;
    Cfx::LastErrorRecord report;
    {
        CSBStreamBuf buffer(stream);
        std::ostream out(&buffer);
        written = std::forward<Write>(write)(out);
        if (!written) report = Cfx::GetLastError();
        out.flush();
        flushed = static_cast<bool>(out);
    }  // the adapter's destructor may try the bytes once more
    if (written && flushed) flushed = SUCCEEDED(host::FlushFileStream(stream));
    if (!written) {
        Cfx::SetLastError(Cfx::CfxResult(report.hr, std::move(report.description), report.messageId));
        return WriteOutcome::WriterFailed;
    }
    return flushed ? WriteOutcome::Written : WriteOutcome::StreamFailed;
}

}  // namespace cartovane

// The host's own streams: a file stream (ISBStream + ISBFileStream) and a memory stream.
//
// Both behave like the host's streams as components see them:
// - new streams start in text mode; in text mode Write puts each LF out as CR LF and Read
//   gives each CR LF pair as one LF (a lone CR, and a CR at the end of the data, pass as CR);
//   binary mode passes bytes unchanged; SetBinaryMode/GetBinaryMode switch and ask;
// - positions (Seek's new position, GetSize) are raw byte offsets of the underlying data,
//   whatever the mode; a position or size that does not fit 32 bits fails, it is never cut;
// - Seek takes origin SB_SEEK_SET / SB_SEEK_CUR / SB_SEEK_END; an unknown origin or a target
//   before 0 or past 4294967295 returns E_INVALIDARG and leaves the position unchanged;
//   seeking past the end is allowed (a later write fills the gap with zero bytes);
// - Read with count 0 gives S_OK and 0 bytes; at the end of the data Read gives S_OK and 0;
//   Read needs its bytes-read out value (E_POINTER without it), Write's and Seek's may be null;
// - a failing call returns a failing HRESULT and records it, with a description, as the
//   framework's last error (Cfx::SetLastError), so callers can throw it with
//   Cfx::CfxResult::LastErrorCheckNotS_OK.
// Reference counted: each factory hands out one reference. Not thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "host/stream.h"

namespace host {

enum class FileMode {
    Read,       // existing file, reading only
    // Writing only, into a new file that ISBFileStream::Commit puts in the file's place (with the
    // old file's permissions; a new file gets 0666 under the umask). Until then the bytes lie in
    // a temporary file beside it, ".<name>.<6 characters>", which the stream removes when it is
    // released uncommitted. A path that names no regular file (a device, a pipe) is written in
    // place.
    Write,
    ReadWrite,  // created when missing, never truncated; reading and writing; in place
};

// Size of the file stream's internal read buffer; a CR LF pair that straddles two fills still
// reads as one LF.
inline constexpr std::size_t kFileStreamBufferSize = std::size_t{1} << 16;

// Opens path. A missing file (or directory on the way) gives STG_E_FILENOTFOUND, a path that
// cannot be opened for the mode (permissions, a directory; for writing also a directory that
// takes no temporary file) E_ACCESSDENIED, other failures E_FAIL; a null out gives E_POINTER.
// On success *out holds one reference; the stream also answers QueryInterface for
// ISBFileStream, whose GetFilePath gives path back as a BSTR. Reads fail with STG_E_READFAULT,
// writes and a failed Commit with STG_E_WRITEFAULT (E_ACCESSDENIED when the mode does not
// allow the operation). The file is closed when the last reference goes.
HRESULT CreateFileStream(const std::string& path, FileMode mode, ISBStream** out);

// ISBFileStream::Flush of the stream; S_OK for a stream with no file behind it.
HRESULT FlushFileStream(ISBStream* stream);

// ISBFileStream::Commit of the stream (pending bytes first); S_OK for a stream with no file
// behind it.
HRESULT CommitFileStream(ISBStream* stream);

// A readable and writable stream over a byte vector, positioned at 0, in text mode. It does
// not answer ISBFileStream.
CfxComPtr<ISBStream> CreateMemoryStream(const std::vector<char>& initial = {});

// The raw bytes held by a memory stream; throws Cfx::CfxResult E_INVALIDARG when stream is
// null or not a memory stream of CreateMemoryStream.
std::vector<char> MemoryStreamBytes(ISBStream* stream);

}  // namespace host

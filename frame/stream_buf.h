// CSBStreamBuf: a standard stream buffer over the host's ISBStream.
//
// Readers and writers work on std::istream / std::ostream; a component constructs one of these
// over the host stream on its stack, wraps it in a standard stream and destroys it on every
// exit path. One 1024-byte heap buffer serves as the get area while reading and as the put
// area while writing. Positions are 32-bit, as ISBStream's are: offsets, positions and
// put-area lengths that do not fit throw Cfx::BadCast ("bad cast"). Every stream call is
// preceded by Cfx::CheckNullDereference, so an adapter over a null stream throws the
// framework's null-dereference failure at its first read, write, seek or mode query (and can
// be constructed and destroyed without any call).
//
// Standard streams swallow exceptions from their buffer (and set badbit); call pubsync,
// pubseekoff, sgetc, sputc... directly to see them.
#pragma once

#include <cstddef>
#include <memory>
#include <streambuf>

#include "cfx/cfx.h"
#include "host/stream.h"

namespace cartovane {

class CSBStreamBuf : public std::basic_streambuf<char> {
public:
    static constexpr std::size_t kBufferSize = 1024;

    // Keeps a reference to stream (null accepted); allocates the buffer (Cfx::BadAlloc
    // "bad allocation" when that fails). Both areas start empty.
    explicit CSBStreamBuf(ISBStream* stream);
    // Calls sync and drops its result and anything it throws; never throws.
    ~CSBStreamBuf() override;

    CSBStreamBuf(const CSBStreamBuf&) = delete;
    CSBStreamBuf& operator=(const CSBStreamBuf&) = delete;

protected:
    int_type overflow(int_type c) override;
    int_type underflow() override;
    pos_type seekoff(off_type off, std::ios_base::seekdir way, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
    int sync() override;

private:
    ISBStream* Stream() const;  // the stream, after the framework's null check

    CfxComPtr<ISBStream> stream_;
    std::unique_ptr<char[]> buffer_;
};

}  // namespace cartovane

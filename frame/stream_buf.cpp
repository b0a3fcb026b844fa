#include "frame/stream_buf.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace cartovane {

namespace {

using Traits = std::char_traits<char>;

// A put-area length as the ULONG count of ISBStream::Write.
ULONG PutLength(std::ptrdiff_t n) {
    if (n < 0 || static_cast<std::uint64_t>(n) > std::numeric_limits<ULONG>::max()) throw Cfx::BadCast();
    return static_cast<ULONG>(n);
}

const std::streambuf::pos_type kInvalidPosition = std::streambuf::pos_type(std::streambuf::off_type(-1));

}  // namespace

CSBStreamBuf::CSBStreamBuf(ISBStream* stream) : stream_(stream) {
    // On failure stream_'s destructor releases the reference again.
    buffer_.reset(new (std::nothrow) char[kBufferSize]);
    if (!buffer_) throw Cfx::BadAlloc();
    setg(nullptr, nullptr, nullptr);
    setp(nullptr, nullptr);
}

CSBStreamBuf::~CSBStreamBuf() {
    // The destructor may run during unwinding: a failed or throwing sync (a failing
    // GetBinaryMode, a null stream with pending data) is dropped here.
    try {
        CSBStreamBuf::sync();
    } catch (...) {
    }
}

ISBStream* CSBStreamBuf::Stream() const {
    Cfx::CheckNullDereference(stream_.Get());
    return stream_.Get();
}

CSBStreamBuf::int_type CSBStreamBuf::overflow(int_type c) {
    if (pbase()) {
        const ULONG n = PutLength(pptr() - pbase());
        ULONG written = 0;
        HRESULT hr = Stream()->Write(pbase(), n, &written);
        if (FAILED(hr) || written < n) {
            setp(nullptr, nullptr);
            return Traits::eof();
        }
    }
    setp(buffer_.get(), buffer_.get() + kBufferSize);
    if (Traits::eq_int_type(c, Traits::eof())) return 0;
    return sputc(Traits::to_char_type(c));
}

CSBStreamBuf::int_type CSBStreamBuf::underflow() {
    if (eback() && gptr() < egptr()) return Traits::to_int_type(*gptr());
    ULONG got = 0;
    HRESULT hr = Stream()->Read(buffer_.get(), static_cast<ULONG>(kBufferSize), &got);
    // A stream claiming more than it was asked for is treated as failed, not trusted.
    if (FAILED(hr) || got == 0 || got > kBufferSize) {
        setg(nullptr, nullptr, nullptr);
        return Traits::eof();
    }
    setg(buffer_.get(), buffer_.get(), buffer_.get() + got);
    return Traits::to_int_type(*gptr());
}

int CSBStreamBuf::sync() {
    // 1. Pending output.
    if (pbase()) {
        const ULONG n = PutLength(pptr() - pbase());
        ULONG written = 0;
        HRESULT hr = Stream()->Write(pbase(), n, &written);
        // A failed or short write returns -1 and keeps the bytes that did not reach the stream
        // at the start of the put area, so a later sync or overflow retries them and nothing
        // is silently lost.
        const ULONG done = written < n ? written : n;
        if (FAILED(hr) || done < n) {
            char* base = pbase();
            std::memmove(base, base + done, n - done);
            setp(base, base + kBufferSize);
            pbump(static_cast<int>(n - done));
            return -1;
        }
        setp(nullptr, nullptr);
    }
    // 2. Unread input: move the host stream back to the logical position.
    if (eback()) {
        const char* from = gptr();
        const char* to = egptr();
        std::uint64_t back = static_cast<std::uint64_t>(to - from);
        VARIANT_BOOL binary = VARIANT_FALSE;
        HRESULT hr = Stream()->GetBinaryMode(&binary);
        if (FAILED(hr)) Cfx::CfxResult::LastErrorCheckNotS_OK(hr);
        if (binary == VARIANT_FALSE) {
            // Text mode: a line feed not preceded by a carriage return within the unread bytes
            // stood for CR LF in the data (the first unread byte's predecessor is not examined).
            for (const char* p = from; p < to; ++p)
                if (*p == '\n' && (p == from || p[-1] != '\r')) ++back;
        }
        if (back > static_cast<std::uint64_t>(std::numeric_limits<LONG>::max()) + 1) throw Cfx::BadCast();
        const LONG offset = static_cast<LONG>(-static_cast<std::int64_t>(back));
        hr = Stream()->Seek(offset, SB_SEEK_CUR, nullptr);
        if (FAILED(hr)) return -1;
        setg(nullptr, nullptr, nullptr);
    }
    return 0;
}

CSBStreamBuf::pos_type CSBStreamBuf::seekoff(off_type off, std::ios_base::seekdir way, std::ios_base::openmode) {
    // When sync fails the position of the host stream is not the logical one (or output is
    // still buffered), so nothing is sought.
    if (sync() != 0) return kInvalidPosition;
    DWORD origin;
    if (way == std::ios_base::beg)
        origin = SB_SEEK_SET;
    else if (way == std::ios_base::cur)
        origin = SB_SEEK_CUR;
    else if (way == std::ios_base::end)
        origin = SB_SEEK_END;
    else
        return kInvalidPosition;
    if (off < std::numeric_limits<LONG>::min() || off > std::numeric_limits<LONG>::max()) throw Cfx::BadCast();
    ULONG position = 0;
    HRESULT hr = Stream()->Seek(static_cast<LONG>(off), origin, &position);
    if (FAILED(hr)) return kInvalidPosition;
    return pos_type(off_type(position));
}

CSBStreamBuf::pos_type CSBStreamBuf::seekpos(pos_type pos, std::ios_base::openmode) {
    if (sync() != 0) return kInvalidPosition;  // as in seekoff
    const off_type offset = off_type(pos);
    if (offset < 0 || offset > std::numeric_limits<LONG>::max()) throw Cfx::BadCast();
    ULONG position = 0;
    HRESULT hr = Stream()->Seek(static_cast<LONG>(offset), SB_SEEK_SET, &position);
    if (FAILED(hr)) return kInvalidPosition;
    return pos_type(off_type(position));
}

}  // namespace cartovane

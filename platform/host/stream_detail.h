// Pieces shared by the host's file and memory streams (streams.h); internal to cvhost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "cfx/cfx.h"
#include "com/object.h"
#include "host/stream.h"

namespace host::detail {

inline constexpr char kCR = '\r';
inline constexpr char kLF = '\n';
inline constexpr std::uint64_t kMaxPosition = 0xFFFFFFFFu;

// The line feeds among n bytes: what text mode adds to them when it writes them.
inline std::size_t CountLineFeeds(const char* in, std::size_t n) noexcept {
    std::size_t count = 0;
    for (const char* const end = in + n; in < end; ++count, ++in) {
        in = static_cast<const char*>(std::memchr(in, kLF, static_cast<std::size_t>(end - in)));
        if (!in) break;
    }
    return count;
}

// Copies n bytes into out (room for 2 n) with each LF as CR LF, as text mode writes them; the
// bytes put there. The runs between line feeds go whole, as text is mostly long lines.
inline std::size_t TranslateLineEnds(const char* in, std::size_t n, char* out) noexcept {
    std::size_t t = 0;
    const char* const end = in + n;
    while (in < end) {
        const auto* lf = static_cast<const char*>(std::memchr(in, kLF, static_cast<std::size_t>(end - in)));
        const char* stop = lf ? lf : end;
        std::memcpy(out + t, in, static_cast<std::size_t>(stop - in));
        t += static_cast<std::size_t>(stop - in);
        if (!lf) break;
        out[t++] = kCR;
        out[t++] = kLF;
        in = lf + 1;
    }
    return t;
}

// Records hr with text as the framework's last error and returns hr; never throws.
inline HRESULT Fail(HRESULT hr, std::string text) noexcept {
    try {
        Cfx::SetLastError(hr, std::move(text));
    } catch (...) {
        // Out of memory for the text: the HRESULT still goes back.
    }
    return hr;
}

// The target of Seek(offset, origin) from current in data of size end: E_INVALIDARG (recorded)
// for an unknown origin or a target before 0 or past 4294967295.
inline HRESULT SeekTarget(std::uint64_t current, std::uint64_t end, LONG offset, DWORD origin,
                          std::uint64_t& target) noexcept {
    std::int64_t base = 0;
    switch (origin) {
        case SB_SEEK_SET: base = 0; break;
        case SB_SEEK_CUR: base = static_cast<std::int64_t>(current); break;
        case SB_SEEK_END: base = static_cast<std::int64_t>(end); break;
        default: return Fail(E_INVALIDARG, "Seek: unknown origin " + std::to_string(origin));
    }
    const std::int64_t wanted = base + offset;
    if (wanted < 0) return Fail(E_INVALIDARG, "Seek: position before the start of the stream");
    if (static_cast<std::uint64_t>(wanted) > kMaxPosition)
        return Fail(E_INVALIDARG, "Seek: position does not fit 32 bits");
    target = static_cast<std::uint64_t>(wanted);
    return S_OK;
}

// The text/binary mode both streams keep; new streams start in text mode.
template <class... Interfaces>
class StreamBase : public com::ComObject<Interfaces...> {
public:
    HRESULT GetBinaryMode(VARIANT_BOOL* binary) override {
        if (!binary) return Fail(E_POINTER, "GetBinaryMode: null pointer");
        *binary = binary_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT SetBinaryMode(VARIANT_BOOL binary) override {
        binary_ = binary != VARIANT_FALSE;
        return S_OK;
    }

protected:
    bool binary_ = false;
};

}  // namespace host::detail

// The host's memory stream: ISBStream over a byte vector (see streams.h).
#include <algorithm>
#include <cstring>
#include <new>

#include "base/huge_pages.h"
#include "host/stream_detail.h"
#include "host/streams.h"

namespace host {
namespace {

using detail::Fail;
using detail::kCR;
using detail::kLF;

class MemoryStream final : public detail::StreamBase<ISBStream> {
public:
    explicit MemoryStream(const std::vector<char>& initial) {
        data_.Grow(initial.size(), 0);
        if (!initial.empty()) std::memcpy(data_.data(), initial.data(), initial.size());
    }

    HRESULT Read(void* buffer, ULONG count, ULONG* bytesRead) override {
        if (!bytesRead) return Fail(E_POINTER, "Read: null bytes-read pointer");
        *bytesRead = 0;
        if (count == 0) return S_OK;
        if (!buffer) return Fail(E_POINTER, "Read: null buffer");
        char* out = static_cast<char*>(buffer);
        const std::size_t size = data_.size();
        ULONG n = 0;
        if (binary_) {
            std::size_t available = pos_ < size ? size - pos_ : 0;
            n = static_cast<ULONG>(std::min<std::size_t>(available, count));
            if (n) std::memcpy(out, data_.data() + pos_, n);
            pos_ += n;
        } else {
            while (n < count && pos_ < size) {
                char c = data_[pos_];
                if (c == kCR && pos_ + 1 < size && data_[pos_ + 1] == kLF) {
                    out[n++] = kLF;
                    pos_ += 2;
                } else {
                    out[n++] = c;
                    ++pos_;
                }
            }
        }
        *bytesRead = n;
        return S_OK;
    }

    HRESULT Write(const void* buffer, ULONG count, ULONG* bytesWritten) override {
        if (bytesWritten) *bytesWritten = 0;
        if (count == 0) return S_OK;
        if (!buffer) return Fail(E_POINTER, "Write: null buffer");
        const char* in = static_cast<const char*>(buffer);
        std::size_t raw = count;
        if (!binary_) raw += detail::CountLineFeeds(in, count);
        if (pos_ + raw > detail::kMaxPosition)
            return Fail(STG_E_WRITEFAULT, "Write: the memory stream would exceed 4294967295 bytes");
        try {
            data_.Grow(pos_ + raw, pos_);
        } catch (const std::bad_alloc&) {
            return Fail(E_OUTOFMEMORY, "Write: out of memory");
        }
        char* at = data_.data() + pos_;
        if (binary_) {
            std::memcpy(at, in, count);
        } else {
            detail::TranslateLineEnds(in, count, at);
        }
        pos_ += raw;
        if (bytesWritten) *bytesWritten = count;
        return S_OK;
    }

    HRESULT Seek(LONG offset, DWORD origin, ULONG* newPosition) override {
        std::uint64_t target = 0;
        HRESULT hr = detail::SeekTarget(pos_, data_.size(), offset, origin, target);
        if (FAILED(hr)) return hr;
        pos_ = static_cast<std::size_t>(target);
        if (newPosition) *newPosition = static_cast<ULONG>(target);
        return S_OK;
    }

    HRESULT GetSize(ULONG* size) override {
        if (!size) return Fail(E_POINTER, "GetSize: null pointer");
        if (data_.size() > detail::kMaxPosition)
            return Fail(E_FAIL, "GetSize: the stream is larger than 4294967295 bytes");
        *size = static_cast<ULONG>(data_.size());
        return S_OK;
    }

    std::vector<char> Bytes() const { return {data_.data(), data_.data() + data_.size()}; }

private:
    ~MemoryStream() = default;

    // The bytes, on huge pages once large (a stream of a whole document would otherwise spend
    // most of its time in page faults), with room that grows by doubling.
    class ByteBuffer {
    public:
        char* data() { return reinterpret_cast<char*>(block_.get()); }
        const char* data() const { return reinterpret_cast<const char*>(block_.get()); }
        std::size_t size() const { return size_; }
        char& operator[](std::size_t i) { return data()[i]; }
        // At least n bytes. Those from the old size up to `written` are zero; the caller writes
        // the rest at once, so they are not cleared first.
        void Grow(std::size_t n, std::size_t written) {
            if (n <= size_) return;
            if (n > capacity_) {
                const std::size_t capacity = std::max({n, 2 * capacity_, std::size_t{4096}});
                LargeBlock block = AllocateLargeBlock(capacity);
                if (size_) std::memcpy(block.get(), block_.get(), size_);
                block_ = std::move(block);
                capacity_ = capacity;
            }
            if (written > size_) std::memset(data() + size_, 0, std::min(written, n) - size_);
            size_ = n;
        }

    private:
        LargeBlock block_;
        std::size_t size_ = 0, capacity_ = 0;
    };
    ByteBuffer data_;
    std::size_t pos_ = 0;
};

}  // namespace

CfxComPtr<ISBStream> CreateMemoryStream(const std::vector<char>& initial) {
    return CfxComPtr<ISBStream>::Adopt(new MemoryStream(initial));
}

std::vector<char> MemoryStreamBytes(ISBStream* stream) {
    auto* memory = dynamic_cast<MemoryStream*>(stream);
    if (!memory) throw Cfx::CfxResult(E_INVALIDARG, "Not a host memory stream");
    return memory->Bytes();
}

}  // namespace host

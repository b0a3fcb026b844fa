// The host's memory stream: ISBStream over a byte vector (see streams.h).
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

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
        data_.CopyIn(0, initial.data(), initial.size());
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
            data_.CopyOut(pos_, out, n);
            pos_ += n;
        } else {
            while (n < count && pos_ < size) {
                // The run of the block that holds pos_: the bytes up to its next CR go over in
                // one copy; a CR at the run's end looks into the next block.
                const auto [run, length] = data_.RunAt(pos_);
                const std::size_t room = std::min<std::size_t>(count - n, length);
                const auto* cr = static_cast<const char*>(std::memchr(run, kCR, room));
                const std::size_t plain = cr ? static_cast<std::size_t>(cr - run) : room;
                std::memcpy(out + n, run, plain);
                n += static_cast<ULONG>(plain);
                pos_ += plain;
                if (!cr) continue;
                if (pos_ + 1 < size && (plain + 1 < length ? run[plain + 1] : data_.At(pos_ + 1)) == kLF) {
                    out[n++] = kLF;
                    pos_ += 2;
                } else {
                    out[n++] = kCR;
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
        if (binary_) {
            data_.CopyIn(pos_, in, count);
        } else {
            // Translated a piece at a time, as the bytes may fall into two blocks.
            constexpr std::size_t kPiece = 2048;
            char translated[2 * kPiece];
            std::size_t at = pos_;
            for (std::size_t done = 0; done < count;) {
                const std::size_t take = std::min<std::size_t>(kPiece, count - done);
                const std::size_t t = detail::TranslateLineEnds(in + done, take, translated);
                data_.CopyIn(at, translated, t);
                at += t;
                done += take;
            }
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

    std::vector<char> Bytes() const {
        std::vector<char> bytes(data_.size());
        data_.CopyOut(0, bytes.data(), bytes.size());
        return bytes;
    }

private:
    ~MemoryStream() = default;

    // The bytes, in blocks that are never moved: each new block holds as much as all before it
    // (or what a write needs), on huge pages once large, so a stream that grows to a whole
    // document copies nothing and touches no page it does not fill. A stream made from bytes is
    // one block.
    class ByteBuffer {
    public:
        std::size_t size() const { return size_; }
        char At(std::size_t i) const {
            const Block& b = BlockAt(i);
            return b.bytes()[i - b.start];
        }
        // The bytes from i (< size) to the end of the size or of i's block.
        std::pair<const char*, std::size_t> RunAt(std::size_t i) const {
            const Block& b = BlockAt(i);
            return {b.bytes() + (i - b.start), std::min(size_, b.start + b.capacity) - i};
        }
        // n bytes at i, all within the size.
        void CopyOut(std::size_t i, char* out, std::size_t n) const {
            while (n) {
                const Block& b = BlockAt(i);
                const std::size_t part = std::min(n, b.start + b.capacity - i);
                std::memcpy(out, b.bytes() + (i - b.start), part);
                out += part;
                i += part;
                n -= part;
            }
        }
        void CopyIn(std::size_t i, const char* in, std::size_t n) {
            while (n) {
                Block& b = BlockAt(i);
                const std::size_t part = std::min(n, b.start + b.capacity - i);
                std::memcpy(b.bytes() + (i - b.start), in, part);
                in += part;
                i += part;
                n -= part;
            }
        }
        // At least n bytes. Those from the old size up to `written` are zero; the caller writes
        // the rest at once, so they are not cleared first.
        void Grow(std::size_t n, std::size_t written) {
            if (n <= size_) return;
            if (n > capacity_) {
                const std::size_t capacity = std::max({n - capacity_, capacity_, std::size_t{4096}});
                blocks_.reserve(blocks_.size() + 1);
                blocks_.push_back({AllocateLargeBlock(capacity), capacity_, capacity});
                capacity_ += capacity;
            }
            if (written > size_) {
                std::size_t i = size_;
                const std::size_t end = std::min(written, n);
                while (i < end) {
                    Block& b = BlockAt(i);
                    const std::size_t part = std::min(end - i, b.start + b.capacity - i);
                    std::memset(b.bytes() + (i - b.start), 0, part);
                    i += part;
                }
            }
            size_ = n;
        }

    private:
        struct Block {
            LargeBlock data;
            std::size_t start, capacity;
            char* bytes() const { return reinterpret_cast<char*>(data.get()); }
        };
        // The block holding i (< capacity_): from the last, the largest and most used.
        const Block& BlockAt(std::size_t i) const {
            std::size_t k = blocks_.size() - 1;
            while (blocks_[k].start > i) --k;
            return blocks_[k];
        }
        Block& BlockAt(std::size_t i) { return const_cast<Block&>(std::as_const(*this).BlockAt(i)); }

        std::vector<Block> blocks_;  // each as large as all before it, so few
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

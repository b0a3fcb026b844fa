// The host's file stream: ISBStream and ISBFileStream over a file (see streams.h).
//
// I/O goes through pread/pwrite at the stream's own position, so the descriptor's offset is
// never relied on. Reads are buffered (kFileStreamBufferSize bytes of raw file data). A file opened
// for writing is replaced only by Commit: a rename of the temporary file written instead, so
// a reader never sees the file half written, whatever stops the writer. Writes into such a
// temporary gather up to kGatherSize bytes before they go out (the stream adapter hands over
// 1 KiB at a time): a failure to write them fails the Write, Seek, GetSize, Flush or Commit that
// sends them, and bytes still pending when the last reference goes belong to a file that is
// dropped anyway. Other writes go straight to the file.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "host/stream_detail.h"
#include "host/streams.h"

namespace host {
namespace {

using detail::Fail;
using detail::kCR;
using detail::kLF;
using detail::kMaxPosition;

constexpr std::size_t kGatherSize = std::size_t{1} << 16;

std::string ErrnoText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// Where a stream opened for writing puts its bytes until Commit; no temporary for a file
// written in place.
struct Replacement {
    std::string target;     // the file Commit replaces (a symbolic link's target)
    std::string temporary;  // removed unless committed
};

class FileStream final : public detail::StreamBase<ISBStream, ISBFileStream> {
public:
    FileStream(int fd, std::string path, FileMode mode, Replacement replacement)
        : fd_(fd), path_(std::move(path)), mode_(mode), replacement_(std::move(replacement)) {
        if (!replacement_.temporary.empty()) gather_ = std::make_unique<char[]>(kGatherSize);
    }

    HRESULT Read(void* buffer, ULONG count, ULONG* bytesRead) override {
        if (!bytesRead) return Fail(E_POINTER, "Read: null bytes-read pointer");
        *bytesRead = 0;
        if (mode_ == FileMode::Write) return Fail(E_ACCESSDENIED, "Read: " + path_ + " is open for writing only");
        if (count == 0) return S_OK;
        if (!buffer) return Fail(E_POINTER, "Read: null buffer");
        char* out = static_cast<char*>(buffer);
        ULONG n = 0;
        HRESULT hr = S_OK;
        while (n < count) {
            if (rpos_ == rlen_) {
                hr = Fill();
                if (FAILED(hr) || rlen_ == 0) break;  // failure or end of file
            }
            if (binary_) {
                std::size_t take = std::min<std::size_t>(rlen_ - rpos_, count - n);
                std::memcpy(out + n, buf_ + rpos_, take);
                n += static_cast<ULONG>(take);
                Advance(take);
                continue;
            }
            const char c = buf_[rpos_];
            if (c != kCR) {
                // The run up to the next CR goes whole.
                const std::size_t avail = std::min<std::size_t>(rlen_ - rpos_, count - n);
                const auto* cr = static_cast<const char*>(std::memchr(buf_ + rpos_, kCR, avail));
                const std::size_t take = cr ? static_cast<std::size_t>(cr - (buf_ + rpos_)) : avail;
                std::memcpy(out + n, buf_ + rpos_, take);
                n += static_cast<ULONG>(take);
                Advance(take);
            } else if (rpos_ + 1 < rlen_) {
                const bool pair = buf_[rpos_ + 1] == kLF;
                out[n++] = pair ? kLF : kCR;
                Advance(pair ? 2 : 1);
            } else {
                // The CR is the last byte of the buffer: look at the byte after it in the file.
                char next = 0;
                std::size_t got = 0;
                hr = PreadSome(&next, 1, pos_ + 1, got);
                if (FAILED(hr)) break;
                if (got == 1 && next == kLF) {
                    out[n++] = kLF;
                    pos_ += 2;
                    rpos_ = rlen_ = 0;  // the LF lies beyond the buffer
                } else {
                    out[n++] = kCR;  // a lone CR, or a CR at the end of the file
                    Advance(1);
                }
            }
        }
        *bytesRead = n;
        return hr;
    }

    HRESULT Write(const void* buffer, ULONG count, ULONG* bytesWritten) override {
        if (bytesWritten) *bytesWritten = 0;
        if (mode_ == FileMode::Read) return Fail(E_ACCESSDENIED, "Write: " + path_ + " is open for reading only");
        if (count == 0) return S_OK;
        if (!buffer) return Fail(E_POINTER, "Write: null buffer");
        const char* in = static_cast<const char*>(buffer);
        std::size_t raw = count;
        if (!binary_) raw += detail::CountLineFeeds(in, count);
        if (pos_ + raw > kMaxPosition)
            return Fail(STG_E_WRITEFAULT, "Write: " + path_ + " would grow past 4294967295 bytes");
        rpos_ = rlen_ = 0;  // the read buffer may hold the bytes about to change

        if (gather_) {
            // Pending bytes go first when these do not fit beside them; a failure to write them
            // takes none of this call's bytes.
            if (raw > kGatherSize - wlen_) {
                if (HRESULT hr = FlushPending(); FAILED(hr)) return hr;
            }
            if (raw <= kGatherSize - wlen_) {
                char* at = gather_.get() + wlen_;
                if (binary_)
                    std::memcpy(at, in, count);
                else
                    detail::TranslateLineEnds(in, count, at);
                wlen_ += raw;
                pos_ += raw;
                if (bytesWritten) *bytesWritten = count;
                return S_OK;
            }
        }
        if (binary_) {
            std::size_t done = 0;
            HRESULT hr = PwriteAll(in, count, done);
            if (bytesWritten) *bytesWritten = static_cast<ULONG>(done);
            return hr;
        }
        // Text mode: translate chunk by chunk; on a failure count the source bytes whose whole
        // translation reached the file.
        constexpr std::size_t kChunk = 2048;
        char translated[2 * kChunk];
        ULONG consumed = 0;
        while (consumed < count) {
            const std::size_t take = std::min<std::size_t>(kChunk, count - consumed);
            const std::size_t t = detail::TranslateLineEnds(in + consumed, take, translated);
            std::size_t done = 0;
            HRESULT hr = PwriteAll(translated, t, done);
            if (FAILED(hr)) {
                std::size_t rawSoFar = 0;
                for (std::size_t i = 0; i < take; ++i) {
                    rawSoFar += in[consumed + i] == kLF ? 2 : 1;
                    if (rawSoFar > done) break;
                    ++consumed;
                }
                if (bytesWritten) *bytesWritten = consumed;
                return hr;
            }
            consumed += static_cast<ULONG>(take);
        }
        if (bytesWritten) *bytesWritten = consumed;
        return S_OK;
    }

    HRESULT Seek(LONG offset, DWORD origin, ULONG* newPosition) override {
        if (HRESULT hr = FlushPending(); FAILED(hr)) return hr;
        std::uint64_t end = 0;
        if (origin == SB_SEEK_END) {
            HRESULT hr = FileSize(end);
            if (FAILED(hr)) return hr;
        }
        std::uint64_t target = 0;
        HRESULT hr = detail::SeekTarget(pos_, end, offset, origin, target);
        if (FAILED(hr)) return hr;
        // Keep the read buffer when the target lies inside it (the stream adapter's back-seeks).
        if (rlen_ > 0 && target >= bufStart_ && target <= bufStart_ + rlen_)
            rpos_ = static_cast<std::size_t>(target - bufStart_);
        else
            rpos_ = rlen_ = 0;
        pos_ = target;
        if (newPosition) *newPosition = static_cast<ULONG>(target);
        return S_OK;
    }

    HRESULT GetSize(ULONG* size) override {
        if (!size) return Fail(E_POINTER, "GetSize: null pointer");
        if (HRESULT hr = FlushPending(); FAILED(hr)) return hr;
        std::uint64_t bytes = 0;
        HRESULT hr = FileSize(bytes);
        if (FAILED(hr)) return hr;
        if (bytes > kMaxPosition)
            return Fail(E_FAIL, "GetSize: " + path_ + " is larger than 4294967295 bytes");
        *size = static_cast<ULONG>(bytes);
        return S_OK;
    }

    HRESULT GetFilePath(BSTR* path) override {
        if (!path) return Fail(E_POINTER, "GetFilePath: null pointer");
        *path = com::AllocBstrFromUtf8(path_);
        return *path ? S_OK : Fail(E_OUTOFMEMORY, "GetFilePath: out of memory");
    }

    HRESULT Flush() override { return FlushPending(); }

    HRESULT Commit() override {
        if (HRESULT hr = FlushPending(); FAILED(hr)) return hr;
        if (replacement_.temporary.empty()) return S_OK;
        if (::rename(replacement_.temporary.c_str(), replacement_.target.c_str()) != 0) {
            const int error = errno;
            return Fail(STG_E_WRITEFAULT, ErrnoText("Commit: " + path_ + " cannot be replaced", error));
        }
        replacement_.temporary.clear();
        gather_.reset();  // the file is in place now: later writes go straight to it
        return S_OK;
    }

private:
    ~FileStream() {
        ::close(fd_);
        if (!replacement_.temporary.empty()) ::unlink(replacement_.temporary.c_str());
    }

    void Advance(std::size_t n) {
        rpos_ += n;
        pos_ += n;
    }

    // Refills the buffer from the stream's position; rlen_ == 0 afterwards means end of file.
    HRESULT Fill() {
        rpos_ = rlen_ = 0;
        std::size_t got = 0;
        HRESULT hr = PreadSome(buf_, sizeof buf_, pos_, got);
        if (FAILED(hr)) return hr;
        bufStart_ = pos_;
        rlen_ = got;
        return S_OK;
    }

    HRESULT PreadSome(char* into, std::size_t n, std::uint64_t at, std::size_t& got) {
        got = 0;
        ssize_t r;
        do {
            r = ::pread(fd_, into, n, static_cast<off_t>(at));
        } while (r < 0 && errno == EINTR);
        if (r < 0) {
            const int error = errno;
            return Fail(STG_E_READFAULT, ErrnoText("Read: " + path_, error));
        }
        got = static_cast<std::size_t>(r);
        return S_OK;
    }

    // Writes n bytes at offset at; done counts what reached the file.
    HRESULT PwriteAt(const char* from, std::size_t n, std::uint64_t at, std::size_t& done) {
        done = 0;
        while (done < n) {
            ssize_t r = ::pwrite(fd_, from + done, n - done, static_cast<off_t>(at + done));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                int error = r < 0 ? errno : ENOSPC;
                return Fail(STG_E_WRITEFAULT, ErrnoText("Write: " + path_, error));
            }
            done += static_cast<std::size_t>(r);
        }
        return S_OK;
    }

    // Writes n bytes at the stream's position and advances it by what reached the file.
    HRESULT PwriteAll(const char* from, std::size_t n, std::size_t& done) {
        HRESULT hr = PwriteAt(from, n, pos_, done);
        pos_ += done;
        return hr;
    }

    // Writes the gathered bytes, which end at the stream's position; what did not reach the
    // file stays pending for another try.
    HRESULT FlushPending() {
        if (wlen_ == 0) return S_OK;
        std::size_t done = 0;
        HRESULT hr = PwriteAt(gather_.get(), wlen_, pos_ - wlen_, done);
        if (done > 0) {
            std::memmove(gather_.get(), gather_.get() + done, wlen_ - done);
            wlen_ -= done;
        }
        return hr;
    }

    HRESULT FileSize(std::uint64_t& bytes) {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            const int error = errno;
            return Fail(E_FAIL, ErrnoText("GetSize: " + path_, error));
        }
        bytes = static_cast<std::uint64_t>(st.st_size);
        return S_OK;
    }

    int fd_;
    std::string path_;
    FileMode mode_;
    Replacement replacement_;
    std::uint64_t pos_ = 0;       // raw offset of the next byte read or written
    std::uint64_t bufStart_ = 0;  // file offset of buf_[0]
    std::size_t rpos_ = 0;        // next unread byte of buf_; pos_ == bufStart_ + rpos_ while rlen_ > 0
    std::size_t rlen_ = 0;        // valid bytes in buf_
    char buf_[kFileStreamBufferSize];
    std::unique_ptr<char[]> gather_;  // writes gather here (a stream into a temporary file)
    std::size_t wlen_ = 0;            // bytes gathered, ending at pos_, not yet in the file
};

HRESULT OpenFailure(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return Fail(STG_E_FILENOTFOUND, Cfx::CfxFormat(Cfx::CfxResult::StandardDescription(STG_E_FILENOTFOUND), {path}));
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return Fail(E_ACCESSDENIED, ErrnoText("Cannot open " + path, error));
        default:
            return Fail(E_FAIL, ErrnoText("Cannot open " + path, error));
    }
}

int OpenRetrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A name no other writer picks: ".<name>.<6 characters>" beside the file.
std::string TemporaryName(const std::string& target) {
    // Streams may be opened on several threads at once.
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t v = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                      (static_cast<std::uint64_t>(::getpid()) << 40) ^ ((counter.fetch_add(1) + 1) * 0x9e3779b97f4a7c15ull);
    v ^= v >> 31;
    v *= 0xbf58476d1ce4e5b9ull;
    v ^= v >> 29;
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i, v /= 62) suffix.push_back(kLetters[v % 62]);
    const std::size_t slash = target.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return target.substr(0, start) + "." + target.substr(start) + "." + suffix;
}

// Opens the file a write of path fills: a new temporary file beside the target, which takes the
// target's permissions, or path itself when it names something other than a regular file.
HRESULT OpenForReplacing(const std::string& path, int& fd, Replacement& replacement) {
    replacement.target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // The link stays; the file it names is replaced.
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            replacement.target = resolved;
            std::free(resolved);
        }
    }
    const bool exists = ::stat(replacement.target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return Fail(E_ACCESSDENIED, "Cannot open " + path + ": it is a directory");
    if (exists && !S_ISREG(st.st_mode)) {
        fd = OpenRetrying(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return OpenFailure(path, errno);
        replacement = {};
        return S_OK;
    }
    // A file that may not be written is not replaced either.
    if (exists && ::faccessat(AT_FDCWD, replacement.target.c_str(), W_OK, AT_EACCESS) != 0)
        return OpenFailure(path, errno);
    for (int attempt = 0;; ++attempt) {
        replacement.temporary = TemporaryName(replacement.target);
        fd = OpenRetrying(replacement.temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC);
        if (fd >= 0) break;
        if (errno != EEXIST || attempt == 100) {
            const int error = errno;
            replacement.temporary.clear();
            return OpenFailure(path, error);
        }
    }
    if (exists) ::fchmod(fd, st.st_mode & 07777);  // a file of another owner keeps what it can
    return S_OK;
}

}  // namespace

HRESULT CreateFileStream(const std::string& path, FileMode mode, ISBStream** out) {
    if (!out) return Fail(E_POINTER, "CreateFileStream: null out pointer");
    *out = nullptr;
    int fd = -1;
    Replacement replacement;
    switch (mode) {
        case FileMode::Read: fd = OpenRetrying(path, O_RDONLY | O_CLOEXEC); break;
        case FileMode::ReadWrite: fd = OpenRetrying(path, O_RDWR | O_CREAT | O_CLOEXEC); break;
        case FileMode::Write: {
            if (HRESULT hr = OpenForReplacing(path, fd, replacement); FAILED(hr)) return hr;
            break;
        }
        default: return Fail(E_INVALIDARG, "CreateFileStream: unknown mode");
    }
    if (fd < 0) return OpenFailure(path, errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Fail(E_ACCESSDENIED, "Cannot open " + path + ": it is a directory");
    }
    try {
        *out = static_cast<ISBStream*>(new FileStream(fd, path, mode, replacement));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        if (!replacement.temporary.empty()) ::unlink(replacement.temporary.c_str());
        return Fail(E_OUTOFMEMORY, "CreateFileStream: out of memory");
    }
    return S_OK;
}

HRESULT FlushFileStream(ISBStream* stream) {
    if (!stream) return Fail(E_POINTER, "FlushFileStream: null stream");
    CfxComPtr<ISBFileStream> file;
    if (FAILED(stream->QueryInterface(IID_ISBFileStream, file.OutVoid()))) return S_OK;
    return file->Flush();
}

HRESULT CommitFileStream(ISBStream* stream) {
    if (!stream) return Fail(E_POINTER, "CommitFileStream: null stream");
    CfxComPtr<ISBFileStream> file;
    if (FAILED(stream->QueryInterface(IID_ISBFileStream, file.OutVoid()))) return S_OK;
    return file->Commit();
}

}  // namespace host

// A fault-injecting host stream for tests: an ISBStream over a byte vector that logs every call.
//
// - Bytes pass unchanged whatever the mode: GetBinaryMode only reports the mode chosen, so a
//   test decides exactly which bytes a reader sees (e.g. a CR LF pair in "text mode").
// - Every Read / Write / Seek / GetBinaryMode / SetBinaryMode / GetSize is logged with what it
//   was asked and what it did.
// - FailNth(op, n) makes the n-th call of that kind (counted from 1 over the stream's life) fail
//   with the given HRESULT and do nothing; FailFrom(op, n) fails the n-th and every later call.
//   With RecordLastError(true) a failing call also records its failure as the framework's last
//   error (as the host's streams do); otherwise the last error is left alone.
// - SetWriteLimit(k) makes each Write store at most k bytes and succeed (a short write);
//   SetWriteLimit(0) lifts the limit. SetReadLimit likewise for Read.
// - Made to live on a test's stack: the count starts at 1 (the test's own reference) and
//   Release never deletes; Refs() tells what the code under test left.
// - SetFilePath(path) makes it a file stream too (ISBFileStream): GetFilePath gives path, and
//   Commit is logged (and can be failed) like the other calls, changing nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cfx/cfx.h"
#include "host/stream.h"

namespace cvtest {

class RecordingStream final : public ISBStream, public ISBFileStream {
public:
    enum class Op { Read, Write, Seek, GetBinaryMode, SetBinaryMode, GetSize, Commit };

    struct Call {
        Op op;
        ULONG count = 0;      // Read/Write: bytes asked for
        ULONG done = 0;       // Read/Write: bytes moved; Seek: the new position
        LONG offset = 0;      // Seek
        DWORD origin = 0;     // Seek
        bool outGiven = false;  // Read/Write/Seek: whether an out value was passed
        HRESULT result = S_OK;
    };

    explicit RecordingStream(std::string_view data = {}, bool binary = false)
        : data_(data.begin(), data.end()), binary_(binary) {}
    RecordingStream(const RecordingStream&) = delete;
    RecordingStream& operator=(const RecordingStream&) = delete;
    ~RecordingStream() = default;

    // ---- configuration
    void FailNth(Op op, int n, HRESULT hr = E_FAIL) { faults_[op] = Fault{n, false, hr}; }
    void FailFrom(Op op, int n, HRESULT hr = E_FAIL) { faults_[op] = Fault{n, true, hr}; }
    void ClearFaults() { faults_.clear(); }
    void SetWriteLimit(ULONG bytes) { writeLimit_ = bytes; }
    void SetReadLimit(ULONG bytes) { readLimit_ = bytes; }
    void RecordLastError(bool on) { recordLastError_ = on; }
    void SetBinary(bool binary) { binary_ = binary; }
    void SetPosition(std::size_t pos) { pos_ = pos; }
    void SetFilePath(std::string path) { path_ = std::move(path); }

    // ---- inspection
    const std::vector<Call>& Calls() const { return calls_; }
    std::vector<Call> CallsOf(Op op) const {
        std::vector<Call> r;
        for (const Call& c : calls_)
            if (c.op == op) r.push_back(c);
        return r;
    }
    std::vector<ULONG> Counts(Op op) const {  // bytes asked for, per Read/Write
        std::vector<ULONG> r;
        for (const Call& c : CallsOf(op)) r.push_back(c.count);
        return r;
    }
    std::vector<ULONG> Done(Op op) const {  // bytes moved, per Read/Write
        std::vector<ULONG> r;
        for (const Call& c : CallsOf(op)) r.push_back(c.done);
        return r;
    }
    void ClearCalls() { calls_.clear(); }
    std::string Data() const { return std::string(data_.begin(), data_.end()); }
    std::size_t Position() const { return pos_; }
    ULONG Refs() const { return refs_; }

    // ---- ISBStream
    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ISBStream) {
            *out = static_cast<ISBStream*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == IID_ISBFileStream && !path_.empty()) {
            *out = static_cast<ISBFileStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; }

    HRESULT Read(void* buffer, ULONG count, ULONG* bytesRead) override {
        Call call{Op::Read};
        call.count = count;
        call.outGiven = bytesRead != nullptr;
        if (bytesRead) *bytesRead = 0;
        if (HRESULT hr = Injected(Op::Read); FAILED(hr)) return Log(call, hr);
        if (!bytesRead || (count && !buffer)) return Log(call, E_POINTER);
        std::size_t available = pos_ < data_.size() ? data_.size() - pos_ : 0;
        std::size_t n = std::min<std::size_t>(available, count);
        if (readLimit_) n = std::min<std::size_t>(n, readLimit_);
        if (n) std::memcpy(buffer, data_.data() + pos_, n);
        pos_ += n;
        *bytesRead = static_cast<ULONG>(n);
        call.done = static_cast<ULONG>(n);
        return Log(call, S_OK);
    }

    HRESULT Write(const void* buffer, ULONG count, ULONG* bytesWritten) override {
        Call call{Op::Write};
        call.count = count;
        call.outGiven = bytesWritten != nullptr;
        if (bytesWritten) *bytesWritten = 0;
        if (HRESULT hr = Injected(Op::Write); FAILED(hr)) return Log(call, hr);
        if (count && !buffer) return Log(call, E_POINTER);
        std::size_t n = count;
        if (writeLimit_) n = std::min<std::size_t>(n, writeLimit_);
        if (data_.size() < pos_ + n) data_.resize(pos_ + n);
        if (n) std::memcpy(data_.data() + pos_, buffer, n);
        pos_ += n;
        if (bytesWritten) *bytesWritten = static_cast<ULONG>(n);
        call.done = static_cast<ULONG>(n);
        return Log(call, S_OK);
    }

    HRESULT Seek(LONG offset, DWORD origin, ULONG* newPosition) override {
        Call call{Op::Seek};
        call.offset = offset;
        call.origin = origin;
        call.outGiven = newPosition != nullptr;
        if (HRESULT hr = Injected(Op::Seek); FAILED(hr)) return Log(call, hr);
        std::int64_t base = origin == SB_SEEK_SET   ? 0
                            : origin == SB_SEEK_CUR ? static_cast<std::int64_t>(pos_)
                            : origin == SB_SEEK_END ? static_cast<std::int64_t>(data_.size())
                                                    : -1;
        if (base < 0) return Log(call, E_INVALIDARG);
        std::int64_t target = base + offset;
        if (target < 0 || target > 0xFFFFFFFFll) return Log(call, E_INVALIDARG);
        pos_ = static_cast<std::size_t>(target);
        if (newPosition) *newPosition = static_cast<ULONG>(target);
        call.done = static_cast<ULONG>(target);
        return Log(call, S_OK);
    }

    HRESULT GetBinaryMode(VARIANT_BOOL* binary) override {
        Call call{Op::GetBinaryMode};
        if (HRESULT hr = Injected(Op::GetBinaryMode); FAILED(hr)) return Log(call, hr);
        if (!binary) return Log(call, E_POINTER);
        *binary = binary_ ? VARIANT_TRUE : VARIANT_FALSE;
        return Log(call, S_OK);
    }
    HRESULT SetBinaryMode(VARIANT_BOOL binary) override {
        Call call{Op::SetBinaryMode};
        if (HRESULT hr = Injected(Op::SetBinaryMode); FAILED(hr)) return Log(call, hr);
        binary_ = binary != VARIANT_FALSE;
        return Log(call, S_OK);
    }
    HRESULT GetSize(ULONG* size) override {
        Call call{Op::GetSize};
        if (HRESULT hr = Injected(Op::GetSize); FAILED(hr)) return Log(call, hr);
        if (!size) return Log(call, E_POINTER);
        *size = static_cast<ULONG>(data_.size());
        return Log(call, S_OK);
    }

    // ---- ISBFileStream, once SetFilePath was called
    HRESULT GetFilePath(BSTR* path) override {
        if (!path) return E_POINTER;
        *path = com::AllocBstrFromUtf8(path_);
        return S_OK;
    }
    HRESULT Commit() override { return Log(Call{Op::Commit}, Injected(Op::Commit)); }

    static const char* Name(Op op) {
        switch (op) {
            case Op::Read: return "Read";
            case Op::Write: return "Write";
            case Op::Seek: return "Seek";
            case Op::GetBinaryMode: return "GetBinaryMode";
            case Op::SetBinaryMode: return "SetBinaryMode";
            case Op::GetSize: return "GetSize";
            case Op::Commit: return "Commit";
        }
        return "?";
    }

private:
    struct Fault {
        int n = 0;
        bool andLater = false;
        HRESULT hr = E_FAIL;
    };

    // Counts the call and tells whether it is to fail.
    HRESULT Injected(Op op) {
        const int nth = ++seen_[op];
        auto it = faults_.find(op);
        if (it == faults_.end()) return S_OK;
        const Fault& f = it->second;
        if (nth == f.n || (f.andLater && nth > f.n)) {
            if (recordLastError_)
                Cfx::SetLastError(f.hr, std::string("RecordingStream: injected ") + Name(op) + " failure");
            return f.hr;
        }
        return S_OK;
    }
    HRESULT Log(Call call, HRESULT hr) {
        call.result = hr;
        calls_.push_back(call);
        return hr;
    }

    std::vector<char> data_;
    std::string path_;
    std::size_t pos_ = 0;
    bool binary_ = false;
    ULONG refs_ = 1;
    ULONG writeLimit_ = 0;
    ULONG readLimit_ = 0;
    bool recordLastError_ = false;
    std::map<Op, Fault> faults_;
    std::map<Op, int> seen_;
    std::vector<Call> calls_;
};

}  // namespace cvtest

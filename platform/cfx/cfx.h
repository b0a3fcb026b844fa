// The component framework: results, the process's last error, the catch handlers and helpers.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>

#include "com/errorinfo.h"
#include "com/oleauto.h"
#include "com/registry.h"
#include "com/types.h"
#include "com/unknown.h"

namespace Cfx {

// std::bad_alloc / std::bad_cast whose what() reads as the host's runtime does.
class BadAlloc : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "bad allocation"; }
};
class BadCast : public std::bad_cast {
public:
    const char* what() const noexcept override { return "bad cast"; }
};

// what() with the standard library's own names for its two allocation/cast failures
// replaced by the host runtime's texts.
std::string ExceptionText(const std::exception& e);

// An HRESULT with its description; what every framework call throws. A result that stands for
// a reported format error also carries the message identifier of the report.
class CfxResult {
public:
    CfxResult() = default;
    explicit CfxResult(HRESULT hr) : hr_(hr) {}
    CfxResult(HRESULT hr, std::string description, std::int32_t messageId = 0)
        : hr_(hr), messageId_(messageId), description_(std::move(description)) {}

    HRESULT Hr() const { return hr_; }
    const std::string& Description() const { return description_; }
    std::int32_t MessageId() const { return messageId_; }
    static bool Succeeded(const CfxResult& r) { return SUCCEEDED(r.hr_); }

    // The platform's text for an HRESULT ("Unspecified error", ...; "Error 0x80040200" otherwise).
    static std::string StandardDescription(HRESULT hr);
    static CfxResult WithStandardDescription(HRESULT hr) { return {hr, StandardDescription(hr)}; }

    // Throw the recorded last error.
    [[noreturn]] static void LastError();
    // Throw the recorded last error after a failed call; when nothing was recorded (the last
    // error reads S_OK) the call's own failure is thrown with its standard description, so a
    // failure is never thrown as success.
    [[noreturn]] static void LastErrorCheckNotS_OK(HRESULT failure = E_FAIL);
    // hr with its standard description and the message identifier of the last report: how a
    // caller fails with its own HRESULT after the code it ran reported why (CfxReportError).
    static CfxResult Reported(HRESULT hr);

    // Thrown bare to mean "the last error holds the result".
    struct ThrowFlag {};

private:
    HRESULT hr_ = S_OK;
    std::int32_t messageId_ = 0;
    std::string description_;
};

// The process's last error, with the identifiers it was reported with.
struct LastErrorRecord {
    HRESULT hr = S_OK;
    std::string description;
    CLSID clsid{};
    IID iid{};
    std::int32_t messageId = 0;  // set by CfxReportError, 0 otherwise
};
const LastErrorRecord& GetLastError();
// Records hr; keeps the recorded description and message identifier when hr equals the
// recorded HRESULT, else takes hr's standard description and no identifier.
void SetLastError(HRESULT hr);
// A new failure with its own text: no message identifier.
void SetLastError(HRESULT hr, std::string description);
void SetLastError(const CfxResult& result);
void SetLastErrorWithStandardDescription(HRESULT hr);
void ClearLastError();

// A framework result from an HRESULT: a failure is recorded as the last error.
CfxResult MakeResultFromHresult(HRESULT hr);

// What the exception being handled is and means as a framework result; call it only inside a
// catch block. A CfxResult stays itself; a ThrowFlag gives the recorded last error (E_FAIL
// "Internal Error" when no failure is recorded); a thrown HRESULT takes its standard
// description; std::bad_alloc gives E_OUTOFMEMORY and any other std::exception E_FAIL, each
// with its text (ExceptionText); anything else gives E_FAIL "Internal Error". Without memory
// for a text the result keeps its HRESULT alone.
enum class CaughtKind { Result, ThrowFlag, Hresult, BadAlloc, Exception, Other };
struct CaughtException {
    CaughtKind kind;
    CfxResult result;
};
CaughtException ClassifyCaughtException() noexcept;
// The result of the exception being handled, for a catch block that ends it there: an
// exception of no known kind first passes the generic-catch hook.
CfxResult ResultFromCaughtException() noexcept;

// Records result as the last error and as the process's error info, with the class and
// interface identifiers, and returns its HRESULT.
HRESULT RecordResult(const CfxResult& result, REFCLSID clsid, REFIID iid) noexcept;

// Diagnostic hook of the generic catch; counts its entries.
void DiagnoseEntryToGenericCatch() noexcept;
long GenericCatchEntries() noexcept;

// The component boundary: runs body and turns whatever it throws into a recorded HRESULT.
template <class Body>
HRESULT Guarded(REFCLSID clsid, REFIID iid, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return RecordResult(ResultFromCaughtException(), clsid, iid);
    }
}

// The same result with prefix and " - " before its description.
CfxResult Prefixed(std::string_view prefix, const CfxResult& inner);

// Runs body so that whatever it throws leaves as a CfxResult: the HRESULT and message
// identifier it stands for, and prefix, " - " and its description as description. Nested calls
// chain their prefixes outward.
template <class Body>
void WithinPrefixedLevels(std::string_view prefix, Body&& body) {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        throw Prefixed(prefix, ResultFromCaughtException());
    }
}

// Throws E_POINTER when an interface pointer is null.
void ThrowNullDereference();
inline void CheckNullDereference(const void* p) {
    if (!p) ThrowNullDereference();
}
[[noreturn]] void QueryInterfaceFailure(HRESULT hr, REFIID iid);

// Fills "%1".."%9" with the arguments; other text, "%%" as "%".
std::string CfxFormat(std::string_view format, std::initializer_list<std::string_view> args);

// Creates a component through the process's registry. With throwOnFailure a failure is
// thrown as CfxResult, else returned.
HRESULT CfxCreateImpl(REFCLSID clsid, IUnknown* outer, DWORD classContext, REFIID iid, void** out,
                      bool throwOnFailure);
HRESULT CfxCreateImpl(std::string_view progId, IUnknown* outer, DWORD classContext, REFIID iid,
                      void** out, bool throwOnFailure);

}  // namespace Cfx

// Records a format error (hr, reporting class, message identifier) as the last error and
// returns hr.
HRESULT CfxReportError(HRESULT hr, REFCLSID clsid, std::int32_t messageId);

// A reference-counted interface pointer; use through -> is null-checked.
template <class T>
class CfxComPtr {
public:
    CfxComPtr() = default;
    CfxComPtr(T* p) : p_(p) {  // adds a reference
        if (p_) p_->AddRef();
    }
    CfxComPtr(const CfxComPtr& o) : CfxComPtr(o.p_) {}
    CfxComPtr(CfxComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~CfxComPtr() { Reset(); }
    CfxComPtr& operator=(CfxComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    static CfxComPtr Adopt(T* p) {  // takes over an existing reference
        CfxComPtr r;
        r.p_ = p;
        return r;
    }
    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* Get() const { return p_; }
    T* Detach() { return std::exchange(p_, nullptr); }
    T* operator->() const {
        Cfx::CheckNullDereference(p_);
        return p_;
    }
    explicit operator bool() const { return p_ != nullptr; }
    // For out parameters: releases what is held and gives the slot.
    T** Out() {
        Reset();
        return &p_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }

    template <class U>
    HRESULT QueryInto(CfxComPtr<U>& target) const {
        Cfx::CheckNullDereference(p_);
        return p_->QueryInterface(InterfaceId<U>::value, target.OutVoid());
    }

private:
    T* p_ = nullptr;
};

// An owning BSTR.
class CfxBSTR {
public:
    CfxBSTR() = default;
    explicit CfxBSTR(std::string_view utf8) : b_(com::AllocBstrFromUtf8(utf8)) {}
    explicit CfxBSTR(const OLECHAR* text);
    CfxBSTR(const CfxBSTR& o);
    CfxBSTR(CfxBSTR&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
    CfxBSTR& operator=(CfxBSTR o) noexcept {
        std::swap(b_, o.b_);
        return *this;
    }
    ~CfxBSTR() { SysFreeString(b_); }
    static CfxBSTR Adopt(BSTR b) {
        CfxBSTR r;
        r.b_ = b;
        return r;
    }
    BSTR Get() const { return b_; }
    BSTR Detach() { return std::exchange(b_, nullptr); }
    BSTR* Out() {
        SysFreeString(std::exchange(b_, nullptr));
        return &b_;
    }
    std::uint32_t Length() const { return SysStringLen(b_); }
    std::string ToString() const { return com::BstrToUtf8(b_); }  // 8-bit (UTF-8) text
    bool IsNull() const { return b_ == nullptr; }

private:
    BSTR b_ = nullptr;
};

// An owning VARIANT.
class CfxVariant {
public:
    CfxVariant() = default;
    explicit CfxVariant(std::string_view utf8);  // VT_BSTR
    explicit CfxVariant(bool value);
    explicit CfxVariant(std::int32_t value);
    explicit CfxVariant(double value);
    explicit CfxVariant(const VARIANT& v);  // deep copy
    CfxVariant(const CfxVariant& o) : CfxVariant(o.v_) {}
    CfxVariant(CfxVariant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
    CfxVariant& operator=(CfxVariant o) noexcept {
        std::swap(v_, o.v_);
        return *this;
    }
    ~CfxVariant() { VariantClear(&v_); }
    const VARIANT& Get() const { return v_; }
    VARIANT* Out() {
        VariantClear(&v_);
        return &v_;
    }
    void Clear() { VariantClear(&v_); }
    // The truth value of a VT_BOOL or integer value; other types throw DISP_E_TYPEMISMATCH.
    bool Bool() const;
    // VT_BOOL or any integer type.
    bool IsBoolOrInteger() const;
    VARIANT Detach() {
        VARIANT v = v_;
        VariantInit(&v_);
        return v;
    }

private:
    VARIANT v_;
};

namespace qor {

// Fixed-size block pools, one per block size, for the process's lifetime.
class MemoryPool {
public:
    static MemoryPool& GetPool(std::size_t blockSize);

    void* allocate();                  // null when the pool is at capacity or memory is out
    bool deallocate(void* block);      // false (and nothing done) when the block is not ours
    bool owns(const void* block) const;

    static constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);
    // At most this many blocks in use at once.
    void SetCapacity(std::size_t blocks);
    std::size_t BlockSize() const { return blockSize_; }
    std::size_t BlocksInUse() const { return inUse_; }
    std::size_t Allocations() const { return allocations_; }
    std::size_t GiveBacks() const { return giveBacks_; }

    MemoryPool(const MemoryPool&) = delete;
    MemoryPool& operator=(const MemoryPool&) = delete;
    ~MemoryPool();

private:
    explicit MemoryPool(std::size_t blockSize);
    struct Chunk;
    std::size_t blockSize_;
    Chunk* chunks_ = nullptr;
    void* free_ = nullptr;
    std::size_t capacity_ = kUnlimited, inUse_ = 0, allocations_ = 0, giveBacks_ = 0;
};

}  // namespace qor

#include "cfx/cfx.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace Cfx {

std::string ExceptionText(const std::exception& e) {
    const char* text = e.what();
    if (!text) return {};
    if (std::strcmp(text, "std::bad_alloc") == 0) return "bad allocation";
    if (std::strcmp(text, "std::bad_cast") == 0) return "bad cast";
    return text;
}

std::string CfxResult::StandardDescription(HRESULT hr) {
    struct Entry {
        HRESULT hr;
        const char* text;
    };
    static constexpr Entry kTexts[] = {
        {S_OK, "The operation completed successfully."},
        {S_FALSE, "Incorrect function."},
        {E_NOTIMPL, "Not implemented"},
        {E_NOINTERFACE, "No such interface supported"},
        {E_POINTER, "Invalid pointer"},
        {E_ABORT, "Operation aborted"},
        {E_FAIL, "Unspecified error"},
        {E_UNEXPECTED, "Catastrophic failure"},
        {E_ACCESSDENIED, "General access denied error"},
        {E_HANDLE, "Invalid handle"},
        {E_OUTOFMEMORY, "Ran out of memory"},
        {E_INVALIDARG, "One or more arguments are invalid"},
        {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
        {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
        {REGDB_E_CLASSNOTREG, "Class not registered"},
        {CO_E_CLASSSTRING, "Invalid class string"},
        {DISP_E_TYPEMISMATCH, "Type mismatch."},
        {DISP_E_BADINDEX, "Invalid index."},
        {STG_E_INVALIDFUNCTION, "Unable to perform requested operation."},
        {STG_E_FILENOTFOUND, "%1 could not be found."},
        {STG_E_WRITEFAULT, "A disk error occurred during a write operation."},
        {STG_E_READFAULT, "A disk error occurred during a read operation."},
    };
    for (const Entry& e : kTexts)
        if (e.hr == hr) return e.text;
    char text[32];
    std::snprintf(text, sizeof text, "Error 0x%08X", static_cast<unsigned>(hr));
    return text;
}

namespace {
LastErrorRecord& Last() {
    static LastErrorRecord record;
    return record;
}

std::string SourceText(REFCLSID clsid) {
    if (const com::ClassRegistration* entry = com::FindRegisteredClass(clsid))
        if (!entry->progId.empty()) return entry->progId;
    return com::FormatGuid(clsid);
}

long genericCatchEntries = 0;

// The recorded failure, when one is recorded.
CfxResult RecordedFailure() {
    const LastErrorRecord& last = Last();
    if (!FAILED(last.hr)) return {E_FAIL, "Internal Error"};
    return {last.hr, last.description, last.messageId};
}
}  // namespace

void CfxResult::LastError() {
    throw CfxResult(Last().hr, Last().description, Last().messageId);
}

void CfxResult::LastErrorCheckNotS_OK(HRESULT failure) {
    if (Last().hr == S_OK) throw CfxResult::WithStandardDescription(failure);
    LastError();
}

CfxResult CfxResult::Reported(HRESULT hr) { return {hr, StandardDescription(hr), Last().messageId}; }

const LastErrorRecord& GetLastError() { return Last(); }

void SetLastError(HRESULT hr) {
    LastErrorRecord& last = Last();
    if (last.hr != hr) {
        last.description = CfxResult::StandardDescription(hr);
        last.messageId = 0;
    }
    last.hr = hr;
}

void SetLastError(HRESULT hr, std::string description) {
    Last().hr = hr;
    Last().description = std::move(description);
    Last().messageId = 0;
}

void SetLastError(const CfxResult& result) {
    SetLastError(result.Hr(), result.Description());
    Last().messageId = result.MessageId();
}

void SetLastErrorWithStandardDescription(HRESULT hr) {
    SetLastError(hr, CfxResult::StandardDescription(hr));
}

void ClearLastError() { Last() = LastErrorRecord{}; }

CfxResult MakeResultFromHresult(HRESULT hr) {
    if (hr == S_OK) return CfxResult(S_OK);
    SetLastError(hr);
    return CfxResult(hr, Last().description, Last().messageId);
}

CaughtException ClassifyCaughtException() noexcept {
    CaughtKind kind = CaughtKind::Other;
    HRESULT hr = E_FAIL;
    try {
        try {
            throw;
        } catch (const CfxResult& r) {
            kind = CaughtKind::Result;
            hr = r.Hr();
            return {kind, r};
        } catch (const CfxResult::ThrowFlag&) {
            kind = CaughtKind::ThrowFlag;
            return {kind, RecordedFailure()};
        } catch (HRESULT thrown) {
            kind = CaughtKind::Hresult;
            hr = thrown;
            return {kind, CfxResult::WithStandardDescription(thrown)};
        } catch (const std::bad_alloc& e) {
            kind = CaughtKind::BadAlloc;
            hr = E_OUTOFMEMORY;
            return {kind, {hr, ExceptionText(e)}};
        } catch (const std::exception& e) {
            kind = CaughtKind::Exception;
            return {kind, {hr, ExceptionText(e)}};
        } catch (...) {
            return {kind, {hr, "Internal Error"}};
        }
    } catch (...) {
        // No memory for the text: the HRESULT alone.
        return {kind, CfxResult(hr)};
    }
}

CfxResult ResultFromCaughtException() noexcept {
    CaughtException caught = ClassifyCaughtException();
    if (caught.kind == CaughtKind::Other) DiagnoseEntryToGenericCatch();
    return std::move(caught.result);
}

HRESULT RecordResult(const CfxResult& result, REFCLSID clsid, REFIID iid) noexcept {
    try {
        LastErrorRecord& last = Last();
        last.hr = result.Hr();
        last.clsid = clsid;
        last.iid = iid;
        last.messageId = result.MessageId();
        last.description = result.Description();
        IErrorInfo* info = com::CreateErrorInfo(iid, SourceText(clsid), result.Description());
        SetErrorInfo(0, info);
        info->Release();
    } catch (...) {
        // Out of memory while recording: the HRESULT still goes back.
    }
    return result.Hr();
}

CfxResult Prefixed(std::string_view prefix, const CfxResult& inner) {
    std::string description;
    description.reserve(prefix.size() + 3 + inner.Description().size());
    description.append(prefix).append(" - ").append(inner.Description());
    return {inner.Hr(), std::move(description), inner.MessageId()};
}

void DiagnoseEntryToGenericCatch() noexcept { ++genericCatchEntries; }
long GenericCatchEntries() noexcept { return genericCatchEntries; }

void ThrowNullDereference() {
    throw CfxResult(E_POINTER, "Attempt to use a null interface pointer");
}

void QueryInterfaceFailure(HRESULT hr, REFIID iid) {
    throw CfxResult(FAILED(hr) ? hr : E_NOINTERFACE,
                    "QueryInterface failed for " + com::FormatGuid(iid));
}

std::string CfxFormat(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(format.size());
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c == '%' && i + 1 < format.size()) {
            char n = format[i + 1];
            if (n == '%') {
                out.push_back('%');
                ++i;
                continue;
            }
            if (n >= '1' && n <= '9') {
                auto index = static_cast<std::size_t>(n - '1');
                if (index < args.size()) out.append(*(args.begin() + index));
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

HRESULT CfxCreateImpl(REFCLSID clsid, IUnknown* outer, DWORD classContext, REFIID iid, void** out,
                      bool throwOnFailure) {
    HRESULT hr = CoCreateInstance(clsid, outer, classContext, iid, out);
    if (FAILED(hr) && throwOnFailure) {
        SetLastError(hr);
        CfxResult::LastError();
    }
    return hr;
}

HRESULT CfxCreateImpl(std::string_view progId, IUnknown* outer, DWORD classContext, REFIID iid,
                      void** out, bool throwOnFailure) {
    if (out) *out = nullptr;
    CLSID clsid{};
    std::u16string wide = com::Utf8ToUtf16(progId);
    HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
    if (FAILED(hr)) {
        if (throwOnFailure) throw CfxResult(hr, "Unknown ProgID \"" + std::string(progId) + "\"");
        return hr;
    }
    return CfxCreateImpl(clsid, outer, classContext, iid, out, throwOnFailure);
}

}  // namespace Cfx

HRESULT CfxReportError(HRESULT hr, REFCLSID clsid, std::int32_t messageId) {
    Cfx::LastErrorRecord& last = const_cast<Cfx::LastErrorRecord&>(Cfx::GetLastError());
    try {
        Cfx::SetLastError(hr, Cfx::CfxResult::StandardDescription(hr));
    } catch (...) {
    }
    last.clsid = clsid;
    last.iid = GUID_NULL;
    last.messageId = messageId;
    return hr;
}

// ---- CfxBSTR / CfxVariant ---------------------------------------------------

CfxBSTR::CfxBSTR(const OLECHAR* text) : b_(SysAllocString(text)) {
    if (text && !b_) throw Cfx::BadAlloc();
}

CfxBSTR::CfxBSTR(const CfxBSTR& o) : b_(o.b_ ? SysAllocStringLen(o.b_, SysStringLen(o.b_)) : nullptr) {
    if (o.b_ && !b_) throw Cfx::BadAlloc();
}

CfxVariant::CfxVariant(std::string_view utf8) {
    v_.bstrVal = com::AllocBstrFromUtf8(utf8);
    v_.vt = VT_BSTR;
}
CfxVariant::CfxVariant(bool value) {
    v_.vt = VT_BOOL;
    v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}
CfxVariant::CfxVariant(std::int32_t value) {
    v_.vt = VT_I4;
    v_.lVal = value;
}
CfxVariant::CfxVariant(double value) {
    v_.vt = VT_R8;
    v_.dblVal = value;
}
CfxVariant::CfxVariant(const VARIANT& v) {
    if (FAILED(VariantCopy(&v_, &v))) throw Cfx::BadAlloc();
}

bool CfxVariant::IsBoolOrInteger() const {
    switch (v_.vt) {
    case VT_BOOL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool CfxVariant::Bool() const {
    switch (v_.vt) {
    case VT_BOOL: return v_.boolVal != VARIANT_FALSE;
    case VT_I1: return v_.cVal != 0;
    case VT_UI1: return v_.bVal != 0;
    case VT_I2: return v_.iVal != 0;
    case VT_UI2: return v_.uiVal != 0;
    case VT_I4: case VT_INT: return v_.lVal != 0;
    case VT_UI4: case VT_UINT: return v_.ulVal != 0;
    case VT_I8: return v_.llVal != 0;
    case VT_UI8: return v_.ullVal != 0;
    default: throw Cfx::CfxResult(DISP_E_TYPEMISMATCH, "Type mismatch.");
    }
}

// ---- qor::MemoryPool --------------------------------------------------------

namespace qor {

struct MemoryPool::Chunk {
    Chunk* next;
    std::size_t blocks;
    unsigned char* data;
};

namespace {
constexpr std::size_t kBlocksPerChunk = 64;
std::size_t RoundUp(std::size_t size) {
    constexpr std::size_t a = alignof(std::max_align_t);
    size = size < sizeof(void*) ? sizeof(void*) : size;
    return (size + a - 1) / a * a;
}
}  // namespace

MemoryPool::MemoryPool(std::size_t blockSize) : blockSize_(RoundUp(blockSize)) {}

MemoryPool::~MemoryPool() {
    while (chunks_) {
        Chunk* next = chunks_->next;
        std::free(chunks_->data);
        delete chunks_;
        chunks_ = next;
    }
}

MemoryPool& MemoryPool::GetPool(std::size_t blockSize) {
    static std::map<std::size_t, std::unique_ptr<MemoryPool>> pools;
    std::size_t key = RoundUp(blockSize);
    auto& pool = pools[key];
    if (!pool) pool.reset(new MemoryPool(key));
    return *pool;
}

void* MemoryPool::allocate() {
    if (inUse_ >= capacity_) return nullptr;
    if (!free_) {
        auto* data = static_cast<unsigned char*>(std::malloc(blockSize_ * kBlocksPerChunk));
        if (!data) return nullptr;
        auto* chunk = new (std::nothrow) Chunk{chunks_, kBlocksPerChunk, data};
        if (!chunk) {
            std::free(data);
            return nullptr;
        }
        chunks_ = chunk;
        for (std::size_t i = kBlocksPerChunk; i-- > 0;) {
            void* block = data + i * blockSize_;
            *static_cast<void**>(block) = free_;
            free_ = block;
        }
    }
    void* block = free_;
    free_ = *static_cast<void**>(block);
    ++inUse_;
    ++allocations_;
    return block;
}

bool MemoryPool::owns(const void* block) const {
    auto* p = static_cast<const unsigned char*>(block);
    for (const Chunk* c = chunks_; c; c = c->next) {
        if (p >= c->data && p < c->data + c->blocks * blockSize_)
            return static_cast<std::size_t>(p - c->data) % blockSize_ == 0;
    }
    return false;
}

bool MemoryPool::deallocate(void* block) {
    if (!block || !owns(block)) return false;
    *static_cast<void**>(block) = free_;
    free_ = block;
    --inUse_;
    ++giveBacks_;
    return true;
}

void MemoryPool::SetCapacity(std::size_t blocks) { capacity_ = blocks; }

}  // namespace qor

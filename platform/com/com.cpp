#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "com/errorinfo.h"
#include "com/object.h"
#include "com/oleauto.h"
#include "com/registry.h"

std::string com::FormatGuid(const GUID& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned{g.Data1}, unsigned{g.Data2}, unsigned{g.Data3}, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// ---- strings ----------------------------------------------------------------

BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length) {
    if (length > (0xFFFFFFFFu - 8u) / 2u) return nullptr;
    auto* block = static_cast<std::uint32_t*>(std::malloc(sizeof(std::uint32_t) + (length + 1u) * 2u));
    if (!block) return nullptr;
    block[0] = length * 2u;
    auto* chars = reinterpret_cast<OLECHAR*>(block + 1);
    if (text) std::memcpy(chars, text, length * sizeof(OLECHAR));
    else std::memset(chars, 0, length * sizeof(OLECHAR));
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<std::uint32_t>(com::OleStrLen(text)));
}

void SysFreeString(BSTR text) {
    if (text) std::free(reinterpret_cast<std::uint32_t*>(text) - 1);
}

std::uint32_t SysStringLen(BSTR text) {
    return text ? (reinterpret_cast<std::uint32_t*>(text) - 1)[0] / 2u : 0u;
}

void* CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes ? bytes : 1); }
void CoTaskMemFree(void* block) { std::free(block); }

std::size_t com::OleStrLen(const OLECHAR* text) {
    std::size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

std::u16string com::Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        std::size_t extra = b < 0x80 ? 0 : (b >= 0xC2 && b < 0xE0) ? 1 : (b >= 0xE0 && b < 0xF0) ? 2
                          : (b >= 0xF0 && b <= 0xF4) ? 3 : 4;
        if (extra == 0) {
            cp = b;
        } else if (extra < 4 && i + extra < s.size()) {
            char32_t v = b & (0x3Fu >> extra);
            bool ok = true;
            for (std::size_t k = 1; ok && k <= extra; ++k) {
                auto c = static_cast<unsigned char>(s[i + k]);
                if ((c & 0xC0) != 0x80) ok = false;
                else v = (v << 6) | (c & 0x3Fu);
            }
            bool overlong = (extra == 2 && v < 0x800) || (extra == 3 && v < 0x10000);
            if (ok && !overlong && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                cp = v;
                len = extra + 1;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string com::Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

BSTR com::AllocBstrFromUtf8(std::string_view utf8) {
    std::u16string wide = Utf8ToUtf16(utf8);
    BSTR b = SysAllocStringLen(wide.data(), static_cast<std::uint32_t>(wide.size()));
    if (!b) throw std::bad_alloc();
    return b;
}

std::string com::BstrToUtf8(const OLECHAR* text) {
    return text ? Utf16ToUtf8(std::u16string_view(text, OleStrLen(text))) : std::string();
}

LPOLESTR com::TaskStringFromUtf8(std::string_view utf8) {
    std::u16string wide = Utf8ToUtf16(utf8);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (!out) return nullptr;
    std::memcpy(out, wide.data(), wide.size() * sizeof(OLECHAR));
    out[wide.size()] = 0;
    return out;
}

// ---- VARIANT ----------------------------------------------------------------

void VariantInit(VARIANT* v) {
    if (!v) return;
    v->vt = VT_EMPTY;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (v->vt & VT_ARRAY) {
        if (!(v->vt & VT_BYREF)) SafeArrayDestroy(v->parray);
    } else if (v->vt == VT_BSTR) {
        SysFreeString(v->bstrVal);
    } else if (v->vt == VT_UNKNOWN) {
        if (v->punkVal) v->punkVal->Release();
    }
    VariantInit(v);
    return S_OK;
}

namespace {
SAFEARRAY* CopySafeArray(const SAFEARRAY* src);
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    VARIANT copy = *src;
    if ((src->vt & VT_ARRAY) && !(src->vt & VT_BYREF)) {
        copy.parray = src->parray ? CopySafeArray(src->parray) : nullptr;
        if (src->parray && !copy.parray) return E_OUTOFMEMORY;
    } else if (src->vt == VT_BSTR && src->bstrVal) {
        copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if (src->vt == VT_UNKNOWN && src->punkVal) {
        src->punkVal->AddRef();
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

// ---- SAFEARRAY --------------------------------------------------------------

namespace {
std::uint32_t ElementSize(VARTYPE vt) {
    switch (vt) {
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_BSTR: return sizeof(BSTR);
    case VT_UNKNOWN: return sizeof(IUnknown*);
    case VT_I4: return 4;
    case VT_R8: return 8;
    case VT_BOOL: return 2;
    default: return 0;
    }
}

HRESULT ElementPointer(SAFEARRAY* a, const std::int32_t* index, void** element) {
    if (!a || !index) return E_INVALIDARG;
    std::int64_t offset = std::int64_t{*index} - a->rgsabound[0].lLbound;
    if (offset < 0 || offset >= std::int64_t{a->rgsabound[0].cElements}) return DISP_E_BADINDEX;
    *element = static_cast<char*>(a->pvData) + offset * a->cbElements;
    return S_OK;
}

void ClearElement(VARTYPE vt, void* element) {
    if (vt == VT_VARIANT) VariantClear(static_cast<VARIANT*>(element));
    else if (vt == VT_BSTR) { SysFreeString(*static_cast<BSTR*>(element)); *static_cast<BSTR*>(element) = nullptr; }
    else if (vt == VT_UNKNOWN) {
        auto*& p = *static_cast<IUnknown**>(element);
        if (p) p->Release();
        p = nullptr;
    }
}

HRESULT CopyElement(VARTYPE vt, void* dest, const void* src) {
    if (vt == VT_VARIANT) return VariantCopy(static_cast<VARIANT*>(dest), static_cast<const VARIANT*>(src));
    ClearElement(vt, dest);
    if (vt == VT_BSTR) {
        BSTR s = *static_cast<const BSTR*>(src);
        *static_cast<BSTR*>(dest) = s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr;
        return (s && !*static_cast<BSTR*>(dest)) ? E_OUTOFMEMORY : S_OK;
    }
    if (vt == VT_UNKNOWN) {
        IUnknown* p = *static_cast<IUnknown* const*>(src);
        if (p) p->AddRef();
        *static_cast<IUnknown**>(dest) = p;
        return S_OK;
    }
    std::memcpy(dest, src, ElementSize(vt));
    return S_OK;
}

SAFEARRAY* CopySafeArray(const SAFEARRAY* src) {
    SAFEARRAY* copy = SafeArrayCreateVector(src->vt, src->rgsabound[0].lLbound, src->rgsabound[0].cElements);
    if (!copy) return nullptr;
    for (std::uint32_t i = 0; i < src->rgsabound[0].cElements; ++i) {
        const void* from = static_cast<const char*>(src->pvData) + std::size_t{i} * src->cbElements;
        void* to = static_cast<char*>(copy->pvData) + std::size_t{i} * copy->cbElements;
        if (FAILED(CopyElement(src->vt, to, from))) {
            SafeArrayDestroy(copy);
            return nullptr;
        }
    }
    return copy;
}
}  // namespace

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lowerBound, std::uint32_t count) {
    std::uint32_t size = ElementSize(vt);
    if (size == 0 || count > (1u << 28)) return nullptr;
    auto* a = new (std::nothrow) SAFEARRAY;
    if (!a) return nullptr;
    a->vt = vt;
    a->cbElements = size;
    a->rgsabound[0] = {count, lowerBound};
    a->pvData = std::calloc(count ? count : 1, size);
    if (!a->pvData) {
        delete a;
        return nullptr;
    }
    return a;
}

HRESULT SafeArrayDestroy(SAFEARRAY* a) {
    if (!a) return S_OK;
    if (a->cLocks) return MakeHresult(0x8002000Du);  // DISP_E_ARRAYISLOCKED
    for (std::uint32_t i = 0; i < a->rgsabound[0].cElements; ++i)
        ClearElement(a->vt, static_cast<char*>(a->pvData) + std::size_t{i} * a->cbElements);
    std::free(a->pvData);
    delete a;
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* a, std::uint32_t dim, std::int32_t* bound) {
    if (!a || !bound) return E_INVALIDARG;
    if (dim != 1) return DISP_E_BADINDEX;
    *bound = a->rgsabound[0].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* a, std::uint32_t dim, std::int32_t* bound) {
    if (!a || !bound) return E_INVALIDARG;
    if (dim != 1) return DISP_E_BADINDEX;
    *bound = static_cast<std::int32_t>(std::int64_t{a->rgsabound[0].lLbound} + a->rgsabound[0].cElements - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* a, VARTYPE* vt) {
    if (!a || !vt) return E_INVALIDARG;
    *vt = a->vt;
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* a, const std::int32_t* index, const void* value) {
    void* element = nullptr;
    if (!value) return E_INVALIDARG;
    HRESULT hr = ElementPointer(a, index, &element);
    if (FAILED(hr)) return hr;
    // A BSTR or IUnknown element is passed by value, as in the platform's convention.
    if (a->vt == VT_BSTR || a->vt == VT_UNKNOWN) return CopyElement(a->vt, element, &value);
    return CopyElement(a->vt, element, value);
}

HRESULT SafeArrayGetElement(SAFEARRAY* a, const std::int32_t* index, void* value) {
    void* element = nullptr;
    if (!value) return E_INVALIDARG;
    HRESULT hr = ElementPointer(a, index, &element);
    if (FAILED(hr)) return hr;
    if (a->vt == VT_VARIANT) VariantInit(static_cast<VARIANT*>(value));
    else if (a->vt == VT_BSTR) *static_cast<BSTR*>(value) = nullptr;
    else if (a->vt == VT_UNKNOWN) *static_cast<IUnknown**>(value) = nullptr;
    return CopyElement(a->vt, value, element);
}

HRESULT SafeArrayAccessData(SAFEARRAY* a, void** data) {
    if (!a || !data) return E_INVALIDARG;
    ++a->cLocks;
    *data = a->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* a) {
    if (!a || a->cLocks == 0) return E_UNEXPECTED;
    --a->cLocks;
    return S_OK;
}

// ---- registry ---------------------------------------------------------------

namespace {
// In registration order; a host registry holds tens of entries.
std::vector<com::ClassRegistration>& Classes() {
    static std::vector<com::ClassRegistration> classes;
    return classes;
}
std::vector<com::TypeLibInterfaceRecord>& TypeLibRecords() {
    static std::vector<com::TypeLibInterfaceRecord> records;
    return records;
}
}  // namespace

void com::RegisterClass(ClassRegistration registration) {
    for (ClassRegistration& entry : Classes()) {
        if (entry.clsid == registration.clsid) {
            entry = std::move(registration);
            return;
        }
    }
    Classes().push_back(std::move(registration));
}

bool com::UnregisterClass(REFCLSID clsid) {
    auto& classes = Classes();
    for (auto it = classes.begin(); it != classes.end(); ++it) {
        if (it->clsid == clsid) {
            classes.erase(it);
            return true;
        }
    }
    return false;
}

const com::ClassRegistration* com::FindRegisteredClass(REFCLSID clsid) {
    for (const ClassRegistration& entry : Classes())
        if (entry.clsid == clsid) return &entry;
    return nullptr;
}

std::vector<com::ClassRegistration> com::RegisteredClasses() { return Classes(); }

const std::vector<com::TypeLibInterfaceRecord>& com::TypeLibInterfaceRegistrations() {
    return TypeLibRecords();
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (!progId || !clsid) return E_INVALIDARG;
    *clsid = GUID_NULL;
    std::string name = com::BstrToUtf8(progId);
    for (const com::ClassRegistration& entry : Classes()) {
        if (entry.progId == name || (!entry.versionedProgId.empty() && entry.versionedProgId == name)) {
            *clsid = entry.clsid;
            return S_OK;
        }
    }
    return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
    if (!progId) return E_INVALIDARG;
    *progId = nullptr;
    const com::ClassRegistration* entry = com::FindRegisteredClass(clsid);
    if (!entry || entry->progId.empty()) return REGDB_E_CLASSNOTREG;
    *progId = com::TaskStringFromUtf8(entry->progId);
    return *progId ? S_OK : E_OUTOFMEMORY;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD, void*, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const com::ClassRegistration* entry = com::FindRegisteredClass(clsid);
    if (!entry || !entry->provider) return REGDB_E_CLASSNOTREG;
    return entry->provider(clsid, iid, out);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD classContext, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, classContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    hr = factory->CreateInstance(outer, iid, out);
    factory->Release();
    return hr;
}

HRESULT RegisterTypeLibInterface(REFGUID typeLib, REFIID iid, const char* name) {
    TypeLibRecords().push_back({typeLib, iid, name ? name : ""});
    return S_OK;
}

// ---- error info -------------------------------------------------------------

namespace {
class ErrorInfoObject final : public com::ComObject<IErrorInfo> {
public:
    ErrorInfoObject(REFIID iid, std::string source, std::string description)
        : iid_(iid), source_(std::move(source)), description_(std::move(description)) {}
    HRESULT GetGUID(GUID* iid) override {
        if (!iid) return E_POINTER;
        *iid = iid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return Give(source_, source); }
    HRESULT GetDescription(BSTR* text) override { return Give(description_, text); }

private:
    static HRESULT Give(const std::string& text, BSTR* out) {
        if (!out) return E_POINTER;
        *out = com::AllocBstrFromUtf8(text);
        return S_OK;
    }
    IID iid_;
    std::string source_, description_;
};

IErrorInfo*& ErrorSlot() {
    static IErrorInfo* slot = nullptr;
    return slot;
}
}  // namespace

IErrorInfo* com::CreateErrorInfo(REFIID iid, std::string source, std::string description) {
    return new ErrorInfoObject(iid, std::move(source), std::move(description));
}

HRESULT SetErrorInfo(DWORD, IErrorInfo* info) {
    if (info) info->AddRef();
    IErrorInfo* old = ErrorSlot();
    ErrorSlot() = info;
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(DWORD, IErrorInfo** info) {
    if (!info) return E_POINTER;
    *info = ErrorSlot();
    ErrorSlot() = nullptr;
    return *info ? S_OK : S_FALSE;
}

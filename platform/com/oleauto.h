// BSTR, VARIANT and one-dimensional SAFEARRAY.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "com/types.h"
#include "com/unknown.h"

// A BSTR points just after a 32-bit byte-length prefix and is null-terminated.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length);  // text may be null
void SysFreeString(BSTR text);
std::uint32_t SysStringLen(BSTR text);  // 0 for null

void* CoTaskMemAlloc(std::size_t bytes);
void CoTaskMemFree(void* block);

namespace com {
std::u16string Utf8ToUtf16(std::string_view utf8);  // invalid sequences become U+FFFD
std::string Utf16ToUtf8(std::u16string_view utf16);  // unpaired surrogates become U+FFFD
BSTR AllocBstrFromUtf8(std::string_view utf8);
std::string BstrToUtf8(const OLECHAR* text);  // null reads as empty; stops at the first NUL
std::size_t OleStrLen(const OLECHAR* text);
// A CoTaskMemAlloc'd NUL-terminated copy.
LPOLESTR TaskStringFromUtf8(std::string_view utf8);
}  // namespace com

using VARTYPE = std::uint16_t;
enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

struct SAFEARRAY;

struct VARIANT {
    VARTYPE vt = VT_EMPTY;
    union {
        std::int8_t cVal;
        std::uint8_t bVal;
        std::int16_t iVal;
        std::uint16_t uiVal;
        std::int32_t lVal;
        std::uint32_t ulVal;
        std::int64_t llVal;
        std::uint64_t ullVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        SAFEARRAY* parray;
        VARIANT* pvarVal;
    };
    VARIANT() : llVal(0) {}
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);                      // frees owned content, leaves VT_EMPTY
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);  // deep copy; clears dest first

struct SAFEARRAYBOUND {
    std::uint32_t cElements = 0;
    std::int32_t lLbound = 0;
};

// One-dimensional only: the shape the host's argument arrays take.
struct SAFEARRAY {
    std::uint16_t cDims = 1;
    std::uint16_t fFeatures = 0;
    std::uint32_t cbElements = 0;
    std::uint32_t cLocks = 0;
    void* pvData = nullptr;
    SAFEARRAYBOUND rgsabound[1];
    VARTYPE vt = VT_EMPTY;
};

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lowerBound, std::uint32_t count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
// Element types handled: VT_VARIANT, VT_BSTR, VT_I4, VT_R8, VT_BOOL, VT_UNKNOWN.
HRESULT SafeArrayPutElement(SAFEARRAY* array, const std::int32_t* index, const void* value);
HRESULT SafeArrayGetElement(SAFEARRAY* array, const std::int32_t* index, void* value);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);

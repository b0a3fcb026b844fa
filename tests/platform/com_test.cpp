#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <vector>

#include "cfx/cfx.h"
#include "base/huge_pages.h"
#include "com/oleauto.h"
#include "com/registry.h"

namespace {

TEST(Guid, ParseAndFormatRoundTrip) {
    const char* text = "{9245E386-3F5E-67B0-7741-95B15E6E14E4}";
    auto g = com::ParseGuid(text);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->Data1, 0x9245E386u);
    EXPECT_EQ(g->Data4[7], 0xE4);
    EXPECT_EQ(com::FormatGuid(*g), text);
    EXPECT_EQ(com::ParseGuid("9245e386-3f5e-67b0-7741-95b15e6e14e4"), g);
}

TEST(Guid, RejectsMalformedText) {
    for (const char* bad : {"", "{}", "{9245E386-3F5E-67B0-7741-95B15E6E14E}", "{9245E386-3F5E-67B0-7741-95B15E6E14EG}",
                            "{9245E386+3F5E-67B0-7741-95B15E6E14E4}", "9245E386-3F5E-67B0-7741-95B15E6E14E4}",
                            "{9245E386-3F5E-67B0-7741-95B15E6E14E4"})
        EXPECT_FALSE(com::ParseGuid(bad)) << bad;
}

TEST(Hresult, TypedConstantsAreCaughtAsHresult) {
    for (HRESULT hr : {E_UNEXPECTED, E_POINTER, E_FAIL, E_OUTOFMEMORY, E_INVALIDARG, E_NOTIMPL}) {
        try {
            throw hr;
        } catch (HRESULT caught) {
            EXPECT_EQ(caught, hr);
            EXPECT_TRUE(FAILED(caught));
        }
    }
    EXPECT_EQ(static_cast<std::uint32_t>(E_UNEXPECTED), 0x8000FFFFu);
    EXPECT_EQ(sizeof(HRESULT), 4u);
}

TEST(Bstr, LengthPrefixAndUtf8Conversion) {
    struct Case {
        const char* utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"abc", u"abc"},
        {"\xC3\xA5ngstr\xC3\xB6m", u"\u00E5ngstr\u00F6m"},
        {"\xE2\x82\xAC", u"\u20AC"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
    };
    for (const Case& c : cases) {
        BSTR b = com::AllocBstrFromUtf8(c.utf8);
        EXPECT_EQ(SysStringLen(b), c.utf16.size());
        EXPECT_EQ(std::u16string(b, SysStringLen(b)), c.utf16);
        EXPECT_EQ(b[SysStringLen(b)], 0);
        EXPECT_EQ(com::BstrToUtf8(b), c.utf8);
        SysFreeString(b);
    }
}

TEST(Bstr, InvalidUtf8BecomesReplacementCharacter) {
    for (const char* bad : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF5\x80\x80\x80", "\xE2\x82"}) {
        std::u16string wide = com::Utf8ToUtf16(bad);
        ASSERT_FALSE(wide.empty()) << bad;
        EXPECT_EQ(wide[0], u'\uFFFD') << bad;
    }
    EXPECT_EQ(com::Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(Variant, CopyOwnsItsBstrAndClearEmpties) {
    CfxVariant a(std::string_view("text"));
    CfxVariant b(a);
    ASSERT_EQ(b.Get().vt, VT_BSTR);
    EXPECT_NE(a.Get().bstrVal, b.Get().bstrVal);
    EXPECT_EQ(com::BstrToUtf8(b.Get().bstrVal), "text");
    b.Clear();
    EXPECT_EQ(b.Get().vt, VT_EMPTY);
}

TEST(SafeArray, VariantVectorHoldsCopies) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_NE(a, nullptr);
    CfxVariant value(std::int32_t{7});
    std::int32_t index = 1;
    ASSERT_EQ(SafeArrayPutElement(a, &index, &value.Get()), S_OK);
    VARIANT out;
    ASSERT_EQ(SafeArrayGetElement(a, &index, &out), S_OK);
    EXPECT_EQ(out.vt, VT_I4);
    EXPECT_EQ(out.lVal, 7);
    index = 2;
    EXPECT_EQ(SafeArrayGetElement(a, &index, &out), DISP_E_BADINDEX);
    std::int32_t upper = 0;
    EXPECT_EQ(SafeArrayGetUBound(a, 1, &upper), S_OK);
    EXPECT_EQ(upper, 1);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(Registry, ProgIdAndClsidResolveBothWays) {
    const CLSID id = com::MakeGuid("{11111111-2222-3333-4444-555555555555}");
    com::RegisterClass({id, "Test.Thing", "Test.Thing.1", "a thing", GUID_NULL, {}});
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(u"Test.Thing", &found), S_OK);
    EXPECT_EQ(found, id);
    EXPECT_EQ(CLSIDFromProgID(u"Test.Thing.1", &found), S_OK);
    EXPECT_EQ(found, id);
    EXPECT_TRUE(FAILED(CLSIDFromProgID(u"Test.Other", &found)));
    EXPECT_EQ(found, GUID_NULL);

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(id, &progId), S_OK);
    EXPECT_EQ(com::BstrToUtf8(progId), "Test.Thing");  // version-independent
    CoTaskMemFree(progId);

    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(id, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(com::UnregisterClass(id));
    EXPECT_EQ(ProgIDFromCLSID(id, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
}

// A vector on large blocks keeps its values as it grows from heap blocks into huge-page ones,
// which are aligned to a huge page; a size whose byte count does not fit is refused, not wrapped.
TEST(LargeBlockAllocator, GrowsAcrossTheHugePageSizeAndRefusesOverflow) {
    std::vector<std::uint64_t, LargeBlockAllocator<std::uint64_t>> values;
    const std::size_t n = 3 * kHugePageSize / sizeof(std::uint64_t);
    for (std::size_t i = 0; i < n; ++i) values.push_back(i * 7);
    for (std::size_t i = 0; i < n; i += 4099) ASSERT_EQ(values[i], i * 7);
    EXPECT_EQ(values.back(), (n - 1) * 7);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values.data()) % kHugePageSize, 0u);
    EXPECT_THROW(LargeBlockAllocator<std::uint64_t>{}.allocate(SIZE_MAX / 4), std::bad_alloc);
}

}  // namespace

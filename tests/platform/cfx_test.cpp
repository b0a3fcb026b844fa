#include <gtest/gtest.h>

#include <stdexcept>

#include "cfx/ccfx.h"
#include "cfx/cfx.h"

namespace {

using Cfx::CfxResult;

const CLSID kClass = com::MakeGuid("{AAAAAAAA-0000-0000-0000-000000000001}");
const IID kIface = com::MakeGuid("{BBBBBBBB-0000-0000-0000-000000000002}");

std::string ErrorInfoDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return "<none>";
    CfxBSTR text;
    info->GetDescription(text.Out());
    info->Release();
    return text.ToString();
}

TEST(CatchLadder, EachClauseGivesItsResultAndKeepsTheDescription) {
    struct Case {
        const char* what;
        void (*body)();
        HRESULT hr;
        const char* description;
    } cases[] = {
        {"CfxResult", [] { throw CfxResult(E_UNEXPECTED, "Empty Document"); }, E_UNEXPECTED, "Empty Document"},
        {"HRESULT", [] { throw E_POINTER; }, E_POINTER, "Invalid pointer"},
        {"bad_alloc", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, "bad allocation"},
        {"bad_cast", [] { throw std::bad_cast(); }, E_FAIL, "bad cast"},
        {"exception", [] { throw std::runtime_error("broken"); }, E_FAIL, "broken"},
        {"anything", [] { throw 1.5; }, E_FAIL, "Internal Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HRESULT hr = Cfx::Guarded(kClass, kIface, [&]() -> HRESULT {
            c.body();
            return S_OK;
        });
        EXPECT_EQ(hr, c.hr);
        EXPECT_EQ(Cfx::GetLastError().hr, c.hr);
        EXPECT_EQ(Cfx::GetLastError().description, c.description);
        EXPECT_EQ(Cfx::GetLastError().clsid, kClass);
        EXPECT_EQ(Cfx::GetLastError().iid, kIface);
        EXPECT_EQ(ErrorInfoDescription(), c.description);
    }
}

TEST(CatchLadder, ThrowFlagGivesTheRecordedLastError) {
    Cfx::SetLastError(E_INVALIDARG, "recorded text");
    HRESULT hr = Cfx::Guarded(kClass, kIface, []() -> HRESULT { throw CfxResult::ThrowFlag{}; });
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(Cfx::GetLastError().description, "recorded text");
    Cfx::ClearLastError();
    EXPECT_EQ(Cfx::Guarded(kClass, kIface, []() -> HRESULT { throw CfxResult::ThrowFlag{}; }), E_FAIL);
}

TEST(LastError, SameHresultKeepsTheDescriptionOtherHresultTakesTheStandardOne) {
    Cfx::SetLastError(E_FAIL, "Unable to parse XSD as valid XML - mismatched tag");
    Cfx::SetLastError(E_FAIL);
    EXPECT_EQ(Cfx::GetLastError().description, "Unable to parse XSD as valid XML - mismatched tag");
    Cfx::SetLastError(E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, "Catastrophic failure");
    Cfx::SetLastErrorWithStandardDescription(E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, "Catastrophic failure");
}

TEST(LastError, CheckNotSOkNeverThrowsSuccess) {
    Cfx::ClearLastError();
    try {
        CfxResult::LastErrorCheckNotS_OK(STG_E_READFAULT);
    } catch (const CfxResult& r) {
        EXPECT_EQ(r.Hr(), STG_E_READFAULT);
    }
    Cfx::SetLastError(E_ACCESSDENIED, "locked");
    try {
        CfxResult::LastErrorCheckNotS_OK(STG_E_READFAULT);
    } catch (const CfxResult& r) {
        EXPECT_EQ(r.Hr(), E_ACCESSDENIED);
        EXPECT_EQ(r.Description(), "locked");
    }
}

TEST(Helpers, FormatFillsNumberedPlaceholders) {
    EXPECT_EQ(Cfx::CfxFormat("%1 save failed. ", {"XTD"}), "XTD save failed. ");
    EXPECT_EQ(Cfx::CfxFormat("%2-%1-%1 100%%", {"a", "b"}), "b-a-a 100%");
    EXPECT_EQ(Cfx::CfxFormat("%3 missing", {"a"}), " missing");
    EXPECT_EQ(Cfx::CfxFormat("trailing %", {}), "trailing %");
}

TEST(Helpers, NullDereferenceIsEPointer) {
    CfxComPtr<IUnknown> none;
    try {
        none->AddRef();
        ADD_FAILURE();
    } catch (const CfxResult& r) {
        EXPECT_EQ(r.Hr(), E_POINTER);
    }
}

TEST(Helpers, ReportErrorRecordsTheMessageIdentifier) {
    EXPECT_EQ(CfxReportError(E_UNEXPECTED, kClass, 457), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().messageId, 457);
    EXPECT_EQ(Cfx::GetLastError().clsid, kClass);
    EXPECT_EQ(Cfx::GetLastError().hr, E_UNEXPECTED);
}

// A registered class that the registry creates through the in-process framework.
class Thing final : public CCfxUnknown {};
HRESULT CreateThing(CCfxUnknown** out) {
    *out = new Thing;
    return S_OK;
}
const CLSID kThing = com::MakeGuid("{CCCCCCCC-0000-0000-0000-000000000003}");
const GUID kLib = com::MakeGuid("{DDDDDDDD-0000-0000-0000-000000000004}");
const CCfxFactoryData kTable[] = {
    {&kThing, &CreateThing, "a thing", "Test.Thing.1", "Test.Thing", &kLib, nullptr, nullptr},
};

TEST(CreateImpl, CreatesByClsidOrProgIdThroughTheRegistry) {
    CCfxFactoryData::EnableFactoryComponents(nullptr, kTable, 1);
    ASSERT_EQ(CCfxFactoryData::RegisterAll(), S_OK);
    long live = CCfxUnknown::LiveObjects();
    IUnknown* object = nullptr;
    ASSERT_EQ(Cfx::CfxCreateImpl("Test.Thing", nullptr, 21, IID_IUnknown, reinterpret_cast<void**>(&object), true),
              S_OK);
    EXPECT_EQ(CCfxUnknown::LiveObjects(), live + 1);
    EXPECT_EQ(CCfxFactoryData::CanUnloadNow(), S_FALSE);
    object->Release();
    EXPECT_EQ(CCfxUnknown::LiveObjects(), live);
    ASSERT_EQ(Cfx::CfxCreateImpl(kThing, nullptr, 21, IID_IUnknown, reinterpret_cast<void**>(&object), false), S_OK);
    object->Release();
    // An interface the object does not answer creates nothing that stays alive.
    EXPECT_EQ(Cfx::CfxCreateImpl(kThing, nullptr, 21, kIface, reinterpret_cast<void**>(&object), false), E_NOINTERFACE);
    EXPECT_EQ(CCfxUnknown::LiveObjects(), live);
    EXPECT_TRUE(FAILED(Cfx::CfxCreateImpl("Test.Nothing", nullptr, 21, IID_IUnknown, reinterpret_cast<void**>(&object), false)));
    EXPECT_THROW(Cfx::CfxCreateImpl("Test.Nothing", nullptr, 21, IID_IUnknown, reinterpret_cast<void**>(&object), true),
                 CfxResult);
    CCfxFactoryData::UnregisterAll();
    CLSID id{};
    EXPECT_TRUE(FAILED(CLSIDFromProgID(u"Test.Thing", &id)));
}

}  // namespace

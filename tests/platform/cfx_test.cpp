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

// Both ladders classify what is thrown the same way: the boundary records the result, the
// prefixed levels throw it on with their prefix.
struct ThrownCase {
    const char* what;
    void (*before)();  // what was recorded before the throw
    void (*body)();
    HRESULT hr;
    const char* description;
    std::int32_t messageId;
    long genericCatches;
};

void NothingRecorded() { Cfx::ClearLastError(); }
void FailureRecorded() { Cfx::SetLastError(E_INVALIDARG, "recorded text"); }
void ReportRecorded() { CfxReportError(E_UNEXPECTED, kClass, 452); }
void SuccessRecorded() { Cfx::SetLastError(S_FALSE); }

const ThrownCase kThrown[] = {
    {"CfxResult", NothingRecorded, [] { throw CfxResult(E_UNEXPECTED, "Empty Document"); }, E_UNEXPECTED,
     "Empty Document", 0, 0},
    {"CfxResult of a report", NothingRecorded, [] { throw CfxResult(E_FAIL, "Unspecified error", 400); }, E_FAIL,
     "Unspecified error", 400, 0},
    {"HRESULT", NothingRecorded, [] { throw E_POINTER; }, E_POINTER, "Invalid pointer", 0, 0},
    {"bad_alloc", NothingRecorded, [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, "bad allocation", 0, 0},
    {"host bad_alloc", NothingRecorded, [] { throw Cfx::BadAlloc(); }, E_OUTOFMEMORY, "bad allocation", 0, 0},
    {"bad_cast", NothingRecorded, [] { throw std::bad_cast(); }, E_FAIL, "bad cast", 0, 0},
    {"exception", NothingRecorded, [] { throw std::runtime_error("broken"); }, E_FAIL, "broken", 0, 0},
    {"anything", NothingRecorded, [] { throw 1.5; }, E_FAIL, "Internal Error", 0, 1},
    {"ThrowFlag after a failure", FailureRecorded, [] { throw CfxResult::ThrowFlag{}; }, E_INVALIDARG,
     "recorded text", 0, 0},
    {"ThrowFlag after a report", ReportRecorded, [] { throw CfxResult::ThrowFlag{}; }, E_UNEXPECTED,
     "Catastrophic failure", 452, 0},
    {"ThrowFlag with nothing recorded", NothingRecorded, [] { throw CfxResult::ThrowFlag{}; }, E_FAIL,
     "Internal Error", 0, 0},
    {"ThrowFlag after a success code", SuccessRecorded, [] { throw CfxResult::ThrowFlag{}; }, E_FAIL,
     "Internal Error", 0, 0},
};

TEST(CatchLadder, EachKindGivesItsResultAndKeepsTheDescription) {
    for (const ThrownCase& c : kThrown) {
        SCOPED_TRACE(c.what);
        c.before();
        long entries = Cfx::GenericCatchEntries();
        HRESULT hr = Cfx::Guarded(kClass, kIface, [&]() -> HRESULT {
            c.body();
            return S_OK;
        });
        EXPECT_EQ(hr, c.hr);
        EXPECT_EQ(Cfx::GetLastError().hr, c.hr);
        EXPECT_EQ(Cfx::GetLastError().description, c.description);
        EXPECT_EQ(Cfx::GetLastError().messageId, c.messageId);
        EXPECT_EQ(Cfx::GetLastError().clsid, kClass);
        EXPECT_EQ(Cfx::GetLastError().iid, kIface);
        EXPECT_EQ(ErrorInfoDescription(), c.description);
        EXPECT_EQ(Cfx::GenericCatchEntries() - entries, c.genericCatches);
    }
}

TEST(PrefixedLevels, EachKindLeavesWithThePrefixAndRecordsNothing) {
    for (const ThrownCase& c : kThrown) {
        SCOPED_TRACE(c.what);
        c.before();
        const Cfx::LastErrorRecord before = Cfx::GetLastError();
        long entries = Cfx::GenericCatchEntries();
        try {
            Cfx::WithinPrefixedLevels("Unable to process XSD content", c.body);
            ADD_FAILURE() << "no exception";
        } catch (const CfxResult& r) {
            EXPECT_EQ(r.Hr(), c.hr);
            EXPECT_EQ(r.Description(), std::string("Unable to process XSD content - ") + c.description);
            EXPECT_EQ(r.MessageId(), c.messageId);
        }
        EXPECT_EQ(Cfx::GetLastError().hr, before.hr);
        EXPECT_EQ(Cfx::GetLastError().description, before.description);
        EXPECT_EQ(Cfx::GenericCatchEntries() - entries, c.genericCatches);
    }
}

TEST(PrefixedLevels, NestedPrefixesChainOutward) {
    try {
        Cfx::WithinPrefixedLevels("Unable to process MTD content", [] {
            Cfx::WithinPrefixedLevels("Unable to parse XSD as valid XML", [] { throw std::runtime_error("mismatched tag"); });
        });
        ADD_FAILURE() << "no exception";
    } catch (const CfxResult& r) {
        EXPECT_EQ(r.Hr(), E_FAIL);
        EXPECT_EQ(r.Description(), "Unable to process MTD content - Unable to parse XSD as valid XML - mismatched tag");
    }
}

TEST(CatchLadder, AReturnedResultPassesUnrecorded) {
    FailureRecorded();
    EXPECT_EQ(Cfx::Guarded(kClass, kIface, []() -> HRESULT { return STG_E_READFAULT; }), STG_E_READFAULT);
    EXPECT_EQ(Cfx::GetLastError().hr, E_INVALIDARG);
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

// A reported message identifier stays with its failure until another failure is recorded.
TEST(LastError, MessageIdentifierStaysWithItsFailure) {
    struct Case {
        const char* what;
        void (*after)();
        HRESULT hr;
        std::int32_t messageId;
    } cases[] = {
        {"same HRESULT again", [] { Cfx::SetLastError(E_UNEXPECTED); }, E_UNEXPECTED, 400},
        {"another HRESULT", [] { Cfx::SetLastError(E_FAIL); }, E_FAIL, 0},
        {"a failure with its own text", [] { Cfx::SetLastError(E_UNEXPECTED, "Empty Document"); }, E_UNEXPECTED, 0},
        {"a result of a report", [] { Cfx::SetLastError(CfxResult(E_FAIL, "x", 408)); }, E_FAIL, 408},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CfxReportError(E_UNEXPECTED, kClass, 400);
        c.after();
        EXPECT_EQ(Cfx::GetLastError().hr, c.hr);
        EXPECT_EQ(Cfx::GetLastError().messageId, c.messageId);
    }

    CfxReportError(E_UNEXPECTED, kClass, 409);
    try {
        CfxResult::LastError();
    } catch (const CfxResult& r) {
        EXPECT_EQ(r.Hr(), E_UNEXPECTED);
        EXPECT_EQ(r.MessageId(), 409);
    }
    // The caller's own HRESULT, described by the report.
    CfxResult failed = CfxResult::Reported(E_FAIL);
    EXPECT_EQ(failed.Hr(), E_FAIL);
    EXPECT_EQ(failed.Description(), "Unspecified error");
    EXPECT_EQ(failed.MessageId(), 409);
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
        static_cast<void>(none.operator->());  // the dereference itself throws
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

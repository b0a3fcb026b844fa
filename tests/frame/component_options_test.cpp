#include <gtest/gtest.h>

#include "frame/component_options.h"

namespace {

using cartovane::BoolOption;
using cartovane::ExportArguments;
using cartovane::ImportArguments;

CfxComPtr<host::Arguments> WithFlag(CfxVariant value) {
    CfxComPtr<host::Arguments> args = host::Arguments::Create();
    args->SetValue("Flag", std::move(value));
    return args;
}

TEST(ComponentOptions, OnlyBooleansAndIntegersCount) {
    struct Case {
        const char* what;
        CfxVariant value;
        bool fallback;
        bool expected;
    } cases[] = {
        {"true", CfxVariant(true), false, true},
        {"false", CfxVariant(false), true, false},
        {"integer 0", CfxVariant(std::int32_t{0}), true, false},
        {"integer 5", CfxVariant(std::int32_t{5}), false, true},
        {"string", CfxVariant(std::string_view("true")), false, false},
        {"double", CfxVariant(1.0), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto args = WithFlag(c.value);
        EXPECT_EQ(BoolOption(args.Get(), "Flag", c.fallback), c.expected);
        EXPECT_EQ(BoolOption(args.Get(), "Missing", c.fallback), c.fallback);
    }
    EXPECT_TRUE(BoolOption(nullptr, "Flag", true));
}

TEST(ComponentOptions, ImportTakesAnInterfaceAndExportAnArray) {
    auto args = WithFlag(CfxVariant(true));
    CfxVariant asInterface = args->AsImportArgument();
    CfxVariant asArray = args->AsExportArgument();
    EXPECT_TRUE(ImportArguments(asInterface.Get()));
    EXPECT_FALSE(ImportArguments(asArray.Get()));
    EXPECT_TRUE(ExportArguments(asArray.Get()));
    EXPECT_FALSE(ExportArguments(asInterface.Get()));
    EXPECT_FALSE(ExportArguments(CfxVariant().Get()));
}

TEST(ComponentOptions, EmptyArrayGivesNothingAndARefusingElementLeavesTheArrayUnlocked) {
    SAFEARRAY* empty = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    VARIANT v;
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = empty;
    EXPECT_FALSE(ExportArguments(v));
    EXPECT_EQ(empty->cLocks, 0u);
    SafeArrayDestroy(empty);

    // An element that is an interface but not an argument collection.
    CfxComPtr<host::DiagnosticsManager> notArguments = host::DiagnosticsManager::Create();
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    VARIANT element;
    element.vt = VT_UNKNOWN;
    element.punkVal = static_cast<ISBDiagnosticsManager*>(notArguments.Get());
    std::int32_t index = 0;
    ASSERT_EQ(SafeArrayPutElement(array, &index, &element), S_OK);
    v.parray = array;
    EXPECT_THROW(ExportArguments(v), Cfx::CfxResult);
    EXPECT_EQ(array->cLocks, 0u);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

}  // namespace

#include "datamodel/elements.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cfx/cfx.h"

namespace {

std::string Lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

TEST(ElementTable, NumbersRunInOrderAndSymbolsAreUnique) {
    const auto table = xxElementFactory::Table();
    ASSERT_EQ(table.size(), 119u);
    std::set<std::string> symbols;
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].number, static_cast<int>(i));
        EXPECT_TRUE(symbols.insert(Lowered(table[i].symbol)).second) << table[i].symbol;
    }
}

// A typed-in digit in the wrong place shows up as a mass far from 1..2.7 times Z or a radius
// outside the range covalent radii have.
TEST(ElementTable, EveryRealElementHasPlausibleMassAndRadius) {
    for (const xxElement& e : xxElementFactory::Table().subspan(1)) {
        EXPECT_GE(e.mass, e.number) << e.symbol;
        EXPECT_LE(e.mass, 2.7 * e.number) << e.symbol;
        EXPECT_GT(e.covalentRadius, 0.25) << e.symbol;
        EXPECT_LT(e.covalentRadius, 2.7) << e.symbol;
        EXPECT_FALSE(e.name.empty());
    }
}

TEST(ElementTable, PublishedValues) {
    struct Case {
        std::string_view symbol;
        int number;
        double mass;
        double radius;
    };
    const Case cases[] = {
        {"H", 1, 1.008, 0.31},     {"C", 6, 12.011, 0.76},   {"N", 7, 14.007, 0.71},
        {"O", 8, 15.999, 0.66},    {"Na", 11, 22.990, 1.66}, {"Si", 14, 28.085, 1.11},
        {"Cl", 17, 35.45, 1.02},   {"Fe", 26, 55.845, 1.32}, {"Br", 35, 79.904, 1.20},
        {"I", 53, 126.904, 1.39},  {"Au", 79, 196.967, 1.36}, {"Pb", 82, 207.2, 1.46},
        {"U", 92, 238.029, 1.96},  {"Og", 118, 294.0, 1.57},
    };
    for (const Case& c : cases) {
        const xxElement* e = xxElementFactory::FindElement(c.symbol);
        ASSERT_NE(e, nullptr) << c.symbol;
        EXPECT_EQ(e->number, c.number) << c.symbol;
        EXPECT_NEAR(e->mass, c.mass, 0.001) << c.symbol;
        EXPECT_NEAR(e->covalentRadius, c.radius, 0.005) << c.symbol;
    }
}

TEST(ElementLookup, SymbolsAndNamesMatchWithoutRegardToCase) {
    struct Case {
        std::string_view text;
        int number;  // -1: not found
    };
    const Case bySymbol[] = {{"Cl", 17}, {"CL", 17}, {"cl", 17}, {"CO", 27}, {"c", 6}, {"Xx", 0},
                             {"", -1},   {"Q", -1},  {"Cl ", -1}, {"Chlorine", -1}};
    for (const Case& c : bySymbol) {
        const xxElement* e = xxElementFactory::FindElement(c.text);
        EXPECT_EQ(e ? e->number : -1, c.number) << "symbol \"" << c.text << "\"";
    }
    const Case byName[] = {{"iron", 26}, {"IRON", 26}, {"Aluminium", 13}, {"unknown", 0}, {"Fe", -1}};
    for (const Case& c : byName) {
        const xxElement* e = xxElementFactory::FindElementByName(c.text);
        EXPECT_EQ(e ? e->number : -1, c.number) << "name \"" << c.text << "\"";
    }
    for (int n : {-1, 119, 1000}) EXPECT_EQ(xxElementFactory::FindElementByType(n), nullptr) << n;
    EXPECT_EQ(xxElementFactory::FindElementByType(26)->symbol, "Fe");
    EXPECT_EQ(&xxElementFactory::Unknown(), xxElementFactory::FindElementByType(0));
}

TEST(ElementLookup, GetThrowsNamingTheValue) {
    EXPECT_EQ(xxElementFactory::GetElement("fe").number, 26);
    auto expectThrow = [](auto call, std::string_view needle) {
        try {
            call();
            ADD_FAILURE() << "no exception for " << needle;
        } catch (const Cfx::CfxResult& r) {
            EXPECT_EQ(r.Hr(), E_INVALIDARG);
            EXPECT_NE(r.Description().find(needle), std::string::npos) << r.Description();
        }
    };
    expectThrow([] { xxElementFactory::GetElement("Zz"); }, "\"Zz\"");
    expectThrow([] { xxElementFactory::GetElementByType(200); }, "\"200\"");
    expectThrow([] { xxElementFactory::GetElementByName("Kryptonite"); }, "\"Kryptonite\"");
}

// Masses checked against values taken independently of the table.
TEST(Isotopes, MassesAndLookups) {
    struct Case {
        const char* symbol;
        int massNumber;
        double mass;  // 0: the table has no such isotope
    } cases[] = {
        {"H", 2, 2.014101778},   {"H", 3, 3.01604928},  {"C", 12, 12.0},        {"C", 13, 13.003354835},
        {"C", 14, 14.003241989}, {"U", 235, 235.043928}, {"U", 238, 238.050788}, {"Cl", 37, 36.96590260},
        {"Tc", 99, 98.9062508},  {"C", 20, 0},           {"H", 4, 0},           {"Fe", 0, 0},
        {"Fe", -56, 0},          {"Xx", 1, 0},
    };
    for (const Case& c : cases) {
        const xxElement& e = xxElementFactory::GetElement(c.symbol);
        const xxIsotope* isotope = e.FindIsotope(c.massNumber);
        EXPECT_EQ(e.HasIsotope(c.massNumber), c.mass != 0) << c.symbol << c.massNumber;
        if (!isotope) continue;
        EXPECT_EQ(isotope->element, e.number);
        EXPECT_NEAR(isotope->mass, c.mass, 1e-5) << c.symbol << c.massNumber;
    }
    // Every isotope is found through its element, and an element's list is its own.
    for (const xxIsotope& x : kIsotopeTable) {
        const xxElement& e = *xxElementFactory::FindElementByType(x.element);
        EXPECT_EQ(e.FindIsotope(x.massNumber), &x);
        EXPECT_NEAR(x.mass, x.massNumber, 0.1) << e.symbol << x.massNumber;  // a typo shows here
    }
    EXPECT_EQ(xxElementFactory::GetElement("Sn").Isotopes().size(), 13u);  // ten stable, three long-lived
    EXPECT_TRUE(xxElementFactory::Unknown().Isotopes().empty());
}

}  // namespace

// Numbers as text: what a text column of the destination and a header name receive, and the
// decimal text the readers and the stored values take back.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "core/text.h"
#include "core/value.h"

namespace kordb {
namespace {

TEST(FormatNumber, EveryDoubleAsItsShortestRoundTripText) {
    const struct {
        double d;
        const char* text;
    } cases[] = {
        {0, "0"},
        {-0.0, "0"},
        {1001, "1001"},
        {-7, "-7"},
        {12.5, "12.5"},
        {-0.25, "-0.25"},
        {0.1 + 0.2, "0.30000000000000004"},
        {123456.789, "123456.789"},
        {9007199254740993.0, "9007199254740992"},
        {1e16, "10000000000000000"},
        {1e20, "100000000000000000000"},
        {1e21, "1e+21"},
        {1e308, "1e+308"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        {1e-7, "0.0000001"},
        {1e-8, "1e-08"},
        {1e-70, "1e-70"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"},
        {std::nan(""), "NaN"},
        {-std::numeric_limits<double>::infinity(), "-Infinity"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatNumber(c.d), c.text) << c.text;

    // Any bit pattern that is a number reads back as itself.
    std::mt19937_64 rng(42);
    for (int i = 0; i < 200000; ++i) {
        uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d)) continue;
        std::string s = formatNumber(d);
        double back = 0;
        ASSERT_TRUE(parseDecimal(s, back)) << s;
        ASSERT_EQ(back, d) << s;
    }
}

TEST(ParseDecimal, PlainDecimalsOnly) {
    const struct {
        const char* text;
        bool ok;
        double d = 0;
    } cases[] = {
        {"12.5", true, 12.5}, {" \t\r\n-12.5\n ", true, -12.5},  // XML's white space around it
        {"+7", true, 7},      {"-.5", true, -0.5},
        {"5.", true, 5},      {"00012", true, 12},
        {"1E+05", true, 1e5}, {"2.5e-3", true, 2.5e-3},
        {"", false},          {" ", false},
        {".", false},         {"+", false},
        {"+-5", false},       {"--5", false},
        {"1e", false},        {"1e+", false},
        {"1.2.3", false},     {"5x", false},
        {"1 000", false},     {"0x10", false},
        {"1,5", false},  // not in any locale
        {"\v5", false},  // white space to C, not to XML
        {"inf", false},       {"NaN", false},
        {"1e400", false},
    };
    for (const auto& c : cases) {
        double d = -1;
        EXPECT_EQ(parseDecimal(c.text, d), c.ok) << c.text;
        EXPECT_EQ(d, c.ok ? c.d : -1) << c.text;  // untouched when refused
    }
    // A name keeps a tab or a line break around it; a value in XML does not.
    EXPECT_EQ(trimBlanks(" \tA B\n "), "\tA B\n");
    EXPECT_EQ(trimWhiteSpace(" \tA B\n "), "A B");
}

}  // namespace
}  // namespace kordb

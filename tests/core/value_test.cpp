// Numbers as text: what a text column of the destination and a header name receive.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

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
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), back);
        ASSERT_TRUE(ec == std::errc() && end == s.data() + s.size()) << s;
        ASSERT_EQ(back, d) << s;
    }
}

}  // namespace
}  // namespace kordb

// The value rules every workbook reader shares, row by row: what a number format shows, a
// cell's name, and the _xHHHH_ escapes of the XML formats.

#include <gtest/gtest.h>

#include <string>

#include "source/sheet_values.h"

namespace kordb {
namespace {

TEST(SheetValues, FormatsCellNamesAndEscapes) {
    using F = FormatShows;
    const struct {
        const char* code;
        F shows;
    } codes[] = {
        {"yyyy-mm-dd", F::Date},  {"m/d/yy h:mm", F::Date},
        {"mmm", F::Date},         {"MM", F::Date},
        {"h:mm", F::Time},        {"mm:ss", F::Time},
        {"[h]:mm:ss", F::Time},   {"[MM]", F::Time},
        {"[ss].0", F::Time},      {"[$-409]h:mm AM/PM", F::Time},
        {"0.00", F::Number},      {"General", F::Number},
        {"\"day\" 0", F::Number}, {"0\\d", F::Number},
        {"_d0", F::Number},       {"*d0", F::Number},
        {"[Red]0.00", F::Number}, {"[>=100]0;0", F::Number},
        {"[hm]0", F::Number},     {"\"open", F::Number},
        {"[h", F::Number},        {"", F::Number},
    };
    for (const auto& c : codes)
        EXPECT_EQ(numberFormatShows(c.code), c.shows) << "format code '" << c.code << "'";

    const struct {
        uint64_t id;
        F shows;
    } builtins[] = {{0, F::Number},  {13, F::Number}, {14, F::Date},   {17, F::Date},
                    {18, F::Time},   {21, F::Time},   {22, F::Date},   {23, F::Number},
                    {27, F::Date},   {32, F::Time},   {36, F::Date},   {37, F::Number},
                    {45, F::Time},   {47, F::Time},   {48, F::Number}, {50, F::Date},
                    {55, F::Time},   {56, F::Time},   {58, F::Date},   {59, F::Number},
                    {164, F::Number}};
    for (const auto& b : builtins)
        EXPECT_EQ(builtinFormatShows(b.id), b.shows) << "built-in format " << b.id;

    const struct {
        uint64_t row, col;
        const char* name;
    } cells[] = {{0, 0, "A1"},           {9, 25, "Z10"},   {0, 26, "AA1"},
                 {0, 701, "ZZ1"},        {0, 702, "AAA1"}, {1048575, 16383, "XFD1048576"},
                 {65535, 255, "IV65536"}};
    for (const auto& c : cells) EXPECT_EQ(cellName(c.row, c.col), c.name);

    const struct {
        const char* in;
        const char* out;
    } escapes[] = {
        {"plain", "plain"},
        {"a_x000D_b", "a\rb"},
        {"_x005F_x0041_", "_x0041_"},
        {"_x00e9__x00C9_", "\xC3\xA9\xC3\x89"},
        {"_xD83D__xDE00_", "\xF0\x9F\x98\x80"},
        {"_xD83D_x", "\xEF\xBF\xBDx"},
        {"_xDE00_", "\xEF\xBF\xBD"},
        {"a_x0000_b", "ab"},
        {"_x00G1_ _x12_ _x0041", "_x00G1_ _x12_ _x0041"},
    };
    for (const auto& e : escapes) {
        std::string s = e.in;
        decodeEscapes(s);
        EXPECT_EQ(s, e.out) << "escaped text '" << e.in << "'";
    }
}

}  // namespace
}  // namespace kordb

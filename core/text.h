#pragma once
// Text rules shared by every procedure: VB-style trimming, Unicode upper-casing and
// case-blind comparison of names, and UTF-8/UTF-16 conversion for the ODBC layer.

#include <cstdint>
#include <string>
#include <string_view>

namespace kordb {

// Removes leading and trailing blanks, spaces only, as VB's Trim does: the worksheet rules were
// written with it, and a tab or line break around a sheet, table or setting name stays part of
// that name, as settings files and operators have always had it.
std::string trimBlanks(std::string_view s);
// Removes leading and trailing white space as XML counts it (space, tab, CR, LF): around a
// value in a workbook's XML, and around a number or date text the engines' conversions take.
// Inline, as the readers call it per cell.
inline std::string_view trimWhiteSpace(std::string_view s) {
    auto white = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && white(s.front())) s.remove_prefix(1);
    while (!s.empty() && white(s.back())) s.remove_suffix(1);
    return s;
}
// Upper-cases every letter, not only ASCII ones.
std::string toUpper(std::string_view s);
// Trimmed and upper-cased: how names taken from the worksheet list are used.
inline std::string trimUpper(std::string_view s) {
    return toUpper(trimBlanks(s));
}
// Equality of names without regard to letter case.
bool equalsNoCase(std::string_view a, std::string_view b);
// s with its letter case folded: equal for texts equalsNoCase takes for equal.
std::string foldCase(std::string_view s);
// Three-way comparison without regard to letter case.
int compareNoCase(std::string_view a, std::string_view b);

// The local time now, written by strftime's format.
std::string localTimeText(const char* strftimeFormat);

// Appends code point cp as UTF-8; inline, as the readers call it per character.
inline void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);

}  // namespace kordb

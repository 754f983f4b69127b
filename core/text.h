#pragma once
// Text rules shared by every procedure: VB-style trimming, Unicode upper-casing and
// case-blind comparison of names, and UTF-8/UTF-16 conversion for the ODBC layer.

#include <string>
#include <string_view>

namespace kordb {

// Removes leading and trailing blanks (spaces only, as the operator's tools do).
std::string trimBlanks(std::string_view s);
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

std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);

}  // namespace kordb

#pragma once
// What both workbook readers decide alike about the values a sheet holds: whether a number
// format shows a date, a time of day or a plain number, the "A1" name of a cell, and the
// _xHHHH_ escapes of the XML formats.

#include <cstdint>
#include <string>
#include <string_view>

namespace kordb {

enum class FormatShows : uint8_t { Number, Date, Time };

// Whether a number format code shows a date (or a date and time), only a time of day, or a
// number: a y, m, d, h or s outside quoted text, escapes and bracketed sections ([Red],
// [$-409], [>=100]) makes a date; the elapsed [h], [mm], [ss] count. A code with an h or s
// (or an elapsed part) and no y or d shows a time: its m is minutes.
FormatShows numberFormatShows(std::string_view code);
// The same for the built-in formats, by number, the East Asian ones included.
FormatShows builtinFormatShows(uint64_t id);

// "A1"-style name of a zero-based row and column.
std::string cellName(uint64_t row, uint64_t col);

// Decodes Excel's _xHHHH_ escapes in place: characters XML cannot carry, "_x005F_" for an
// underscore; a surrogate pair in two escapes makes one character, a lone half U+FFFD, and
// U+0000 is dropped. Anything not an escape stays as it is.
void decodeEscapes(std::string& s);

}  // namespace kordb

#pragma once
// What a destination column makes of a value: whether it would take it, and what it gives back
// once the value is stored. Start's error messages, the plan and the undo judge values by these
// rules, so that they agree with one another.

#include <string>

#include "core/value.h"
#include "settings/odbc.h"

namespace kordb {

// Why the column would refuse v ("value too long (41 > 40)", "not a number", ...), or empty
// when it takes it.
std::string refusal(const odbc::ColumnMeta& c, const Value& v);
// The length of a text as column c counts it: characters, UTF-16 units for wide text, bytes
// of the column's code page where its size counts bytes.
size_t lengthIn(const std::string& utf8, const odbc::ColumnMeta& c);

// v as the column gives it back: text in a text column, a number rounded to the column's
// scale, a date in one ISO form. Meant for values the column takes.
Value storedForm(const odbc::ColumnMeta& c, const Value& v);
// Whether storedForm(c, v) is v itself: Null, text in a text column, anything in a column of no
// known kind.
bool storedAsIs(const odbc::ColumnMeta& c, const Value& v);

// v as it is sent to the column: a number rounded to the scale of a decimal or integer column,
// the decimal exactly, so that no driver truncates it or rounds it its own way; anything else
// as it is.
Value boundForm(const odbc::ColumnMeta& c, const Value& v);
// The same, given v's stored form already worked out.
Value boundForm(const odbc::ColumnMeta& c, const Value& v, const Value& stored);

// Whether stored, read back from the column, is what storing v leaves there. Engines that keep
// a number unrounded pass too.
bool sameStored(const odbc::ColumnMeta& c, const Value& stored, const Value& v);

// The column's default when the catalog shows a plain literal; Null otherwise.
Value defaultValue(const odbc::ColumnMeta& c);

// A value on one line of a plan or an undo report: NULL, '' for empty text, line breaks as " / ".
std::string shownValue(const Value& v);

}  // namespace kordb

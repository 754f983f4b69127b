#include "migration/stored_value.h"

#include <cmath>
#include <cstdio>

#include "core/dates.h"
#include "core/text.h"

namespace kordb {

namespace {

enum class Kind { Text, Exact, Integer, Approx, Bit, Date, Other };

Kind kindOf(odbc::ColumnType t) {
    // A GUID column takes text too, but only text of its own form: of kind Other.
    switch (t.kind()) {
        case odbc::ColumnKind::Text:
        case odbc::ColumnKind::WideText:
            return Kind::Text;
        case odbc::ColumnKind::Date:
        case odbc::ColumnKind::Time:
        case odbc::ColumnKind::Timestamp:
            return Kind::Date;
        case odbc::ColumnKind::Decimal:
            return Kind::Exact;
        case odbc::ColumnKind::Integer:
            return t.isBit() ? Kind::Bit : Kind::Integer;
        case odbc::ColumnKind::Float:
            return Kind::Approx;
        default:
            return Kind::Other;
    }
}

struct Stamp {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    std::string fraction;  // digits after the second's point, trailing zeros dropped
    bool hasDate = false, hasTime = false;
};

// A worksheet's date text as servers take it too: "/" between the date's parts, parts of one
// digit ("2024/5/1 9:30"). The fraction's digits are left as they are.
std::string paddedStamp(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        if (s[i] < '0' || s[i] > '9') {
            out += s[i] == '/' ? '-' : s[i];
            ++i;
            continue;
        }
        size_t end = i;
        while (end < s.size() && s[end] >= '0' && s[end] <= '9') ++end;
        if (end - i == 1 && (i == 0 || s[i - 1] != '.')) out += '0';
        out.append(s.substr(i, end - i));
        i = end;
    }
    return out;
}

// ISO dates and times as the data layer and the journal write them: "2024-05-01",
// "2024-05-01 10:00[:00[.fff]]" with a blank or a "T", or a time alone; and a worksheet's
// text in the looser forms paddedStamp() takes.
bool parseStamp(std::string_view s, Stamp& t) {
    IsoStamp st;
    if (!parseIsoStamp(paddedStamp(trimWhiteSpace(s)), st) || !st.plain()) return false;
    t.y = int(st.year), t.mo = int(st.month), t.d = int(st.day);
    t.h = int(st.hour), t.mi = int(st.minute), t.s = int(st.second);
    t.hasDate = st.hasDate, t.hasTime = st.hasTime;
    t.fraction = std::to_string(1000000000 + st.nanos).substr(1);
    while (!t.fraction.empty() && t.fraction.back() == '0') t.fraction.pop_back();
    return true;
}

std::string isoOf(const Stamp& t, odbc::ColumnKind kind) {
    char buf[40];
    const std::string fraction = t.fraction.empty() ? std::string() : "." + t.fraction;
    if (kind == odbc::ColumnKind::Time || !t.hasDate) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.h, t.mi, t.s);
        return buf + fraction;
    }
    if (kind == odbc::ColumnKind::Date || (t.h == 0 && t.mi == 0 && t.s == 0 && fraction.empty())) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.y, t.mo, t.d);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.y, t.mo, t.d, t.h, t.mi, t.s);
    return buf + fraction;
}

// A plain decimal rounded half away from zero to scale digits after the point, as a decimal
// column stores it; other text as it is.
std::string roundedDecimal(const std::string& text, int scale) {
    std::string c = canonicalDecimal(text);
    size_t point = c.find('.');
    if (scale < 0 || point == std::string::npos || c.size() - point - 1 <= size_t(scale) ||
        c.find_first_not_of("-0123456789.") != std::string::npos)
        return c;
    bool negative = c[0] == '-';
    bool up = c[point + 1 + size_t(scale)] >= '5';
    std::string digits = c.substr(negative, point - negative) + c.substr(point + 1, size_t(scale));
    for (size_t i = digits.size(); up && i-- > 0;) {
        if (digits[i] == '9') {
            digits[i] = '0';
        } else {
            ++digits[i];
            up = false;
        }
    }
    if (up) digits.insert(digits.begin(), '1');
    std::string whole = digits.substr(0, digits.size() - size_t(scale));
    std::string out = (negative ? "-" : "") + (whole.empty() ? "0" : whole);
    if (scale > 0) out += "." + digits.substr(digits.size() - size_t(scale));
    return canonicalDecimal(out);
}

// The decimal text of a number as it travels to a decimal column: its own digits where it has
// them, else the shortest text that reads back as the same double.
std::string decimalTextOf(const Value& v, double x) {
    if (!v.storedText().empty()) return v.storedText();
    if (v.isText()) {
        std::string c = canonicalDecimal(trimWhiteSpace(v.rawText()));
        if (c.find_first_not_of("-0123456789.") == std::string::npos) return c;
    }
    return formatNumberExact(x);
}

// The text a value becomes in a text column, as the ODBC layer sends it.
std::string textForm(const Value& v) {
    return v.toText();
}

}  // namespace

size_t lengthIn(const std::string& utf8, const odbc::ColumnMeta& c) {
    if (c.codePage == 65001) return utf8.size();
    // A double-byte code page takes a character beyond ASCII in two bytes.
    const bool doubleByte = c.codePage == 932 || c.codePage == 936 || c.codePage == 949 ||
                            c.codePage == 950 || c.codePage == 1361;
    const bool units16 = c.sqlType.kind() == odbc::ColumnKind::WideText;
    size_t n = 0;
    for (unsigned char b : utf8) {
        if ((b & 0xC0) != 0x80) n += doubleByte && b >= 0x80 ? 2 : 1;
        if (units16 && b >= 0xF0) ++n;  // a surrogate pair
    }
    return n;
}

namespace {

bool numberOf(const Value& v, double& out) {
    if (v.isNumber()) {
        out = v.toNumber();
        return true;
    }
    if (v.isText()) return parseDecimal(v.rawText(), out);
    return false;
}

double roundTo(double x, int digits) {
    if (digits < 0 || digits > 15) return x;
    double scale = std::pow(10.0, digits);
    double r = std::round(x * scale) / scale;
    return std::isfinite(r) ? r : x;
}

std::string typeLabel(const odbc::ColumnMeta& c) {
    std::string name = c.typeName.empty() ? "the column's type" : c.typeName;
    if (kindOf(c.sqlType) == Kind::Exact && c.size > 0)
        name += "(" + std::to_string(c.size) + "," + std::to_string(std::max(c.digits, 0)) + ")";
    return name;
}

bool closeEnough(double a, double b, odbc::ColumnType type) {
    if (a == b) return true;
    double tolerance = type.isSingle() ? 1e-6 : 1e-12;
    return std::fabs(a - b) <= tolerance * std::max(std::fabs(a), std::fabs(b));
}

}  // namespace

std::string refusal(const odbc::ColumnMeta& c, const Value& v) {
    if (v.isNull()) return c.nullable ? std::string() : "empty but NOT NULL";
    Kind kind = kindOf(c.sqlType);
    switch (kind) {
        case Kind::Text: {
            // Long types report sizes that mean "no limit".
            if (c.size == 0 || c.size >= (1u << 30) || c.sqlType.isLong()) return {};
            size_t n = lengthIn(textForm(v), c);
            if (n > c.size)
                return "value too long (" + std::to_string(n) + " > " + std::to_string(c.size) +
                       ")";
            return {};
        }
        case Kind::Exact:
        case Kind::Integer:
        case Kind::Approx:
        case Kind::Bit: {
            double x = 0;
            if (!numberOf(v, x)) return "not a number";
            if (kind == Kind::Exact && c.size > 0 && c.size <= 38) {
                int scale = std::max(c.digits, 0);
                if (int(c.size) < scale) return {};
                double limit = std::pow(10.0, int(c.size) - scale);
                if (std::fabs(roundTo(x, scale)) >= limit)
                    return "out of range for " + typeLabel(c);
            } else if (kind == Kind::Integer) {
                double r = std::round(x);
                if (r < c.sqlType.integerMin() || r > c.sqlType.integerMax())
                    return "out of range for " + typeLabel(c);
            } else if (kind == Kind::Bit && (x < 0 || x >= 2)) {
                return "out of range for " + typeLabel(c);
            }
            return {};
        }
        case Kind::Date: {
            if (v.isNumber()) return "not a date";
            Stamp t;
            if (!parseStamp(v.rawText(), t)) return "not a date";
            return {};
        }
        case Kind::Other:
            return {};
    }
    return {};
}

bool storedAsIs(const odbc::ColumnMeta& c, const Value& v) {
    if (v.isNull()) return true;
    const Kind kind = kindOf(c.sqlType);
    return kind == Kind::Other || (kind == Kind::Text && v.isText() && v.storedText().empty());
}

Value storedForm(const odbc::ColumnMeta& c, const Value& v) {
    if (v.isNull()) return v;
    switch (kindOf(c.sqlType)) {
        case Kind::Text:
            return Value::text(textForm(v));
        case Kind::Exact: {
            double x = 0;
            if (!numberOf(v, x)) return v;
            std::string text = roundedDecimal(decimalTextOf(v, x), c.digits);
            double rounded = 0;
            if (!parseDecimal(text, rounded)) rounded = roundTo(x, c.digits);
            return Value::stored(Value::number(rounded), std::move(text));
        }
        case Kind::Integer: {
            double x = 0;
            return numberOf(v, x) ? Value::number(std::round(x)) : v;
        }
        case Kind::Approx: {
            double x = 0;
            if (!numberOf(v, x)) return v;
            return Value::number(c.sqlType.isSingle() ? double(float(x)) : x);
        }
        case Kind::Bit: {
            double x = 0;
            return numberOf(v, x) ? Value::number(x >= 1 ? 1 : 0) : v;
        }
        case Kind::Date: {
            Stamp t;
            if (v.isNumber() || !parseStamp(v.rawText(), t)) return v;
            return Value::date(isoOf(t, c.sqlType.kind()));
        }
        case Kind::Other:
            return v;
    }
    return v;
}

namespace {

bool boundAsStored(const odbc::ColumnMeta& c, const Value& v) {
    Kind kind = kindOf(c.sqlType);
    return v.isNumber() && (kind == Kind::Exact || kind == Kind::Integer);
}

}  // namespace

Value boundForm(const odbc::ColumnMeta& c, const Value& v) {
    return boundAsStored(c, v) ? storedForm(c, v) : v;
}

Value boundForm(const odbc::ColumnMeta& c, const Value& v, const Value& stored) {
    return boundAsStored(c, v) ? stored : v;
}

bool sameStored(const odbc::ColumnMeta& c, const Value& stored, const Value& v) {
    if (stored.isNull() || v.isNull()) return stored.isNull() && v.isNull();
    Value s = storedForm(c, v);
    // Decimals the destination gave every digit of are the same only digit for digit.
    if (kindOf(c.sqlType) == Kind::Exact && stored.isNumber() && s.isNumber() &&
        !stored.storedText().empty() && !s.storedText().empty())
        return canonicalDecimal(stored.storedText()) == s.storedText();
    if (stored.isNumber() && s.isNumber()) {
        if (closeEnough(stored.toNumber(), s.toNumber(), c.sqlType)) return true;
        double raw = 0;
        return numberOf(v, raw) && closeEnough(stored.toNumber(), raw, c.sqlType);
    }
    std::string a = stored.toText(), b = s.toText();
    if (c.sqlType.isFixedWidth()) {
        // Fixed-width columns give their text back padded with blanks.
        while (!a.empty() && a.back() == ' ') a.pop_back();
        while (!b.empty() && b.back() == ' ') b.pop_back();
    }
    if (a == b) return true;
    // A date that went into a column the engine keeps as text comes back in its own form.
    Stamp ta, tb;
    if ((stored.isDate() || s.isDate()) && parseStamp(a, ta) && parseStamp(b, tb))
        return isoOf(ta, odbc::ColumnKind::Timestamp) == isoOf(tb, odbc::ColumnKind::Timestamp);
    return false;
}

Value defaultValue(const odbc::ColumnMeta& c) {
    std::string_view d = trimWhiteSpace(c.defaultText);
    // SQL Server shows "((0))" and "('ACTIVE')", PostgreSQL "'ACTIVE'::character varying".
    while (d.size() >= 2 && d.front() == '(' && d.back() == ')')
        d = trimWhiteSpace(d.substr(1, d.size() - 2));
    if (d.size() >= 2 && d.front() == '\'') {
        std::string text;
        size_t i = 1;
        for (; i < d.size(); ++i) {
            if (d[i] == '\'') {
                if (i + 1 < d.size() && d[i + 1] == '\'') {
                    text += '\'';
                    ++i;
                    continue;
                }
                break;
            }
            text += d[i];
        }
        if (i >= d.size()) return Value::null();
        std::string_view rest = d.substr(i + 1);
        if (!rest.empty() && rest.substr(0, 2) != "::") return Value::null();
        Value v = Value::text(text);
        return refusal(c, v).empty() ? storedForm(c, v) : Value::null();
    }
    double x = 0;
    if (parseDecimal(d.substr(0, d.find("::")), x)) {
        Value v = Value::number(x);
        return refusal(c, v).empty() ? storedForm(c, v) : Value::null();
    }
    return Value::null();
}

std::string shownValue(const Value& v) {
    if (v.isNull()) return "NULL";
    std::string t = v.toText();
    if (t.empty()) return "''";
    std::string out;
    for (size_t i = 0; i < t.size(); ++i) {
        char ch = t[i];
        if (ch == '\r' || ch == '\n') {
            if (ch == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
            out += " / ";
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace kordb

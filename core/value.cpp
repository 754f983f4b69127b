#include "core/value.h"

#include <charconv>
#include <cmath>

#include "core/text.h"

namespace kordb {

std::string formatNumber(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
    if (d == 0) return "0";
    // The shortest text that reads back as d, however long: a plain decimal where one is
    // readable (as JavaScript writes numbers), an exponent for the very large and very small.
    char buf[400];
    double a = std::fabs(d);
    auto format = a >= 1e-7 && a < 1e21 ? std::chars_format::fixed : std::chars_format::scientific;
    auto r = std::to_chars(buf, buf + sizeof buf, d, format);
    return std::string(buf, r.ptr);
}

std::string formatNumberExact(double d) {
    if (!std::isfinite(d)) return formatNumber(d);
    if (d == 0) return "0";
    char buf[400];
    auto format = std::fabs(d) < 1e21 ? std::chars_format::fixed : std::chars_format::general;
    auto r = std::to_chars(buf, buf + sizeof buf, d, format);
    return std::string(buf, r.ptr);
}

bool parseDecimal(std::string_view s, double& out) {
    s = trimWhiteSpace(s);
    // from_chars takes a "-" but not a "+"; all it takes beyond plain decimals ("inf", "nan")
    // is what no finite double holds.
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && s.front() == '-') return false;
    }
    double d = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), d);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(d)) return false;
    out = d;
    return true;
}

std::string canonicalDecimal(std::string_view s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    size_t intStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    std::string_view whole = s.substr(intStart, i - intStart), fraction;
    if (i < s.size() && s[i] == '.') {
        size_t f = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        fraction = s.substr(f, i - f);
    }
    if (i != s.size() || (whole.empty() && fraction.empty())) return std::string(s);
    while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    std::string out;
    if (negative && !(whole.empty() && fraction.empty())) out += '-';
    out += whole.empty() ? std::string_view("0") : whole;
    if (!fraction.empty()) (out += '.') += fraction;
    return out;
}

std::string Value::toText() const {
    switch (kind_) {
        case Kind::Null:
            return {};
        case Kind::Number:
            return stored_.empty() ? formatNumber(num_) : canonicalDecimal(stored_);
        case Kind::Text:
        case Kind::Date:
            return text_;
    }
    return {};
}

}  // namespace kordb

#include "core/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kordb {

std::string formatNumber(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
    if (d == 0) return "0";
    if (std::fabs(d) < 9.007199254740992e15 && d == std::trunc(d)) {
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(d));
        return std::string(buf, r.ptr);
    }
    char buf[64];
    // As "%.15g" writes it, without printf's cost: error files format every number they hold.
    auto end = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15).ptr;
    std::string s(buf, end);
    if (s.find('e') == std::string::npos) return s;
    // Rounded to 15 significant digits, then written out without an exponent.
    int exp10 = static_cast<int>(std::floor(std::log10(std::fabs(d))));
    int decimals = exp10 >= 14 ? 0 : 14 - exp10;
    std::snprintf(buf, sizeof buf, "%.*f", decimals, d);
    s = buf;
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    return s;
}

std::string formatNumberExact(double d) {
    if (!std::isfinite(d)) return formatNumber(d);
    if (d == 0) return "0";
    char buf[400];
    auto format = std::fabs(d) < 1e21 ? std::chars_format::fixed : std::chars_format::general;
    auto r = std::to_chars(buf, buf + sizeof buf, d, format);
    return std::string(buf, r.ptr);
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

#include "core/value.h"

#include <charconv>
#include <cmath>

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

std::string Value::toText() const {
    switch (kind_) {
        case Kind::Null:
            return {};
        case Kind::Number:
            return formatNumber(num_);
        case Kind::Text:
        case Kind::Date:
            return text_;
    }
    return {};
}

}  // namespace kordb

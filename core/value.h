#pragma once
// A cell or column value as the procedures handle it: Null, a number, text or a date.

#include <string>
#include <string_view>

namespace kordb {

class Value {
  public:
    enum class Kind { Null, Number, Text, Date };

    Value() = default;
    static Value null() { return {}; }
    static Value number(double d) {
        Value v;
        v.kind_ = Kind::Number;
        v.num_ = d;
        return v;
    }
    static Value text(std::string s) {
        Value v;
        v.kind_ = Kind::Text;
        v.text_ = std::move(s);
        return v;
    }
    // iso: "YYYY-MM-DD", "YYYY-MM-DDTHH:MM:SS" or "HH:MM:SS".
    static Value date(std::string iso) {
        Value v;
        v.kind_ = Kind::Date;
        v.text_ = std::move(iso);
        return v;
    }

    // The value as read from a destination column, with the column's own text of it: every
    // digit of a decimal, a date-time's fraction, the text an engine without date types holds.
    // Written back through that text, the column gets exactly what it held.
    static Value stored(Value v, std::string asStored) {
        v.stored_ = std::move(asStored);
        return v;
    }

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool isNumber() const { return kind_ == Kind::Number; }
    bool isText() const { return kind_ == Kind::Text; }
    bool isDate() const { return kind_ == Kind::Date; }
    double toNumber() const { return num_; }
    // The value joined into text: Null gives "", numbers plain decimals, dates ISO 8601.
    std::string toText() const;
    // Raw text of a Text or Date value.
    const std::string& rawText() const { return text_; }
    // The destination's own text of the value; empty when it was not read from one.
    const std::string& storedText() const { return stored_; }

    bool operator==(const Value& o) const {
        return kind_ == o.kind_ && (kind_ == Kind::Number ? num_ == o.num_ : text_ == o.text_);
    }

  private:
    Kind kind_ = Kind::Null;
    double num_ = 0;
    std::string text_;
    std::string stored_;
};

// The shortest text that reads back as exactly d: 1001, 12.5, -0.25, 0.30000000000000004;
// an exponent only below 1e-7 and from 1e21 on (1e-70, 1e+308).
std::string formatNumber(double d);
// A plain decimal number as the workbooks' XML and the engines' text conversions write it:
// white space around it, an optional sign, digits with at most one point, an optional
// exponent ("-12.5", " .5e3 "). Independent of the locale; false for anything else, and for
// what no finite double holds ("inf", "1e400").
bool parseDecimal(std::string_view s, double& out);
// A decimal's text in one form: no sign on zero, no leading zeros, no trailing fractional
// zeros ("-001.2300" -> "-1.23"); text that is not a plain decimal comes back as it is.
std::string canonicalDecimal(std::string_view s);
// The shortest decimal that reads back as exactly d: integral numbers without a decimal point,
// no exponent below 10^21.
std::string formatNumberExact(double d);

}  // namespace kordb

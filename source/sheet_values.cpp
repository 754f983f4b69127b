#include "source/sheet_values.h"

#include "core/text.h"

namespace kordb {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

}  // namespace

FormatShows numberFormatShows(std::string_view code) {
    bool date = false, time = false, month = false;
    for (size_t i = 0; i < code.size(); ++i) {
        char c = lowerAscii(code[i]);
        if (c == '"') {
            size_t end = code.find('"', i + 1);
            if (end == std::string_view::npos) return FormatShows::Number;
            i = end;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i;
        } else if (c == '[') {
            size_t end = code.find(']', i + 1);
            if (end == std::string_view::npos) return FormatShows::Number;
            std::string_view in = code.substr(i + 1, end - i - 1);
            char first = in.empty() ? 0 : lowerAscii(in[0]);
            bool elapsed = first == 'h' || first == 'm' || first == 's';
            for (char k : in) elapsed = elapsed && lowerAscii(k) == first;
            time = time || elapsed;
            i = end;
        } else if (c == 'y' || c == 'd') {
            date = true;
        } else if (c == 'h' || c == 's') {
            time = true;
        } else if (c == 'm') {
            month = true;
        }
    }
    if (date || (month && !time)) return FormatShows::Date;
    return time ? FormatShows::Time : FormatShows::Number;
}

FormatShows builtinFormatShows(uint64_t id) {
    if ((id >= 18 && id <= 21) || (id >= 32 && id <= 35) || (id >= 45 && id <= 47) || id == 55 ||
        id == 56)
        return FormatShows::Time;
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return FormatShows::Date;
    return FormatShows::Number;
}

std::string cellName(uint64_t row, uint64_t col) {
    std::string letters;
    for (uint64_t c = col + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), char('A' + (c - 1) % 26));
    return letters + std::to_string(row + 1);
}

void decodeEscapes(std::string& s) {
    size_t i = s.find("_x");
    if (i == std::string::npos) return;
    auto hex4 = [&](size_t at, uint32_t& v) {
        if (at + 7 > s.size() || s[at] != '_' || s[at + 1] != 'x' || s[at + 6] != '_') return false;
        v = 0;
        for (size_t k = at + 2; k < at + 6; ++k) {
            char c = char(s[k] | 0x20);
            int d = s[k] >= '0' && s[k] <= '9' ? s[k] - '0'
                    : c >= 'a' && c <= 'f'     ? c - 'a' + 10
                                               : -1;
            if (d < 0) return false;
            v = v * 16 + uint32_t(d);
        }
        return true;
    };
    std::string out(s, 0, i);
    while (i < s.size()) {
        uint32_t c;
        if (!hex4(i, c)) {
            out += s[i++];
            continue;
        }
        i += 7;
        uint32_t low;
        if (c >= 0xD800 && c <= 0xDBFF && hex4(i, low) && low >= 0xDC00 && low <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 7;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c != 0) appendUtf8(out, c);
    }
    s.swap(out);
}

}  // namespace kordb

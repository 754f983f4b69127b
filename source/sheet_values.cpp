#include "source/sheet_values.h"

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

}  // namespace kordb

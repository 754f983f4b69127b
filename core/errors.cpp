#include "core/errors.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace kordb {

namespace {

struct ErrorKind {
    long number;
    // SQL Server's native codes; unambiguous on their own.
    std::initializer_list<long> natives;
    // SQLSTATEs; "23" alone stands for its whole class.
    std::initializer_list<std::string_view> states;
    // What SQLite's driver says, which reports most failures as HY000.
    std::initializer_list<std::string_view> messages;
};

// 42000 is both a syntax error and, with 229 or 230, a permission denied: the native codes
// are looked at first for that reason.
const ErrorKind kKinds[] = {
    {errnum::kTableNotFound, {208}, {"42S02", "42P01", "S0002"}, {"no such table"}},
    {errnum::kCommandText,
     {207},
     {"42S22", "42703", "42601", "42000", "37000", "S0022"},
     {"no such column", "has no column named", "syntax error"}},
    {errnum::kPermission, {229, 230}, {"42501"}, {}},
    {errnum::kIntegrity, {2627, 2601, 515, 547}, {"23"}, {"constraint failed"}},
    {errnum::kOverflow, {8152, 2628, 8115}, {"22001", "22003"}, {}},
    {errnum::kConversion,
     {245, 8114},
     {"22018", "22005", "22007", "22008", "22P02", "07006"},
     {"datatype mismatch"}},
};

bool containsNoCase(std::string_view text, std::string_view part) {
    auto it = std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
    return it != text.end();
}

bool stateMatches(std::string_view state, std::string_view pattern) {
    return pattern.size() == 2 ? state.substr(0, 2) == pattern : state == pattern;
}

}  // namespace

long destinationErrorNumber(std::string_view sqlstate, long nativeCode, std::string_view message) {
    // SQL Server's codes are in the hundreds and thousands; other drivers' codes are small.
    if (nativeCode >= 200)
        for (const ErrorKind& k : kKinds)
            if (std::find(k.natives.begin(), k.natives.end(), nativeCode) != k.natives.end())
                return k.number;
    for (const ErrorKind& k : kKinds)
        for (std::string_view s : k.states)
            if (stateMatches(sqlstate, s)) return k.number;
    for (const ErrorKind& k : kKinds)
        for (std::string_view m : k.messages)
            if (containsNoCase(message, m)) return k.number;
    return errnum::kUnspecified;
}

}  // namespace kordb

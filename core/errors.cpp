#include "core/errors.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <iterator>

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

// SQL Server's drivers give SQLSTATE 42000 (FreeTDS to every server error missing from its own
// table) or HY000 to failures of every kind: from them the native code decides, and these
// states say nothing.
const std::string_view kSqlServerCatchAll[] = {"42000", "37000", "HY000"};

// Errors a user raises (RAISERROR, THROW, a trigger's refusal) all stand as this native code.
constexpr long kUserRaised = 50000;

const ErrorKind kKinds[] = {
    {errnum::kTableNotFound, {208}, {"42S02", "42P01", "S0002"}, {"no such table"}},
    {errnum::kCommandText,
     {102, 105, 156, 170, 207, 4104},
     {"42S22", "42703", "42601", "42000", "37000", "S0022"},
     {"no such column", "has no column named", "syntax error"}},
    {errnum::kPermission, {229, 230}, {"42501"}, {}},
    {errnum::kIntegrity, {2627, 2601, 515, 547}, {"23"}, {"constraint failed"}},
    {errnum::kOverflow, {8152, 2628, 8115}, {"22001", "22003"}, {}},
    {errnum::kConversion,
     {245, 8114},
     {"22018", "22005", "22007", "22008", "22P02", "07006"},
     {"datatype mismatch"}},
    // The statement's time ran out, or a lock it waited for was not granted in time.
    {errnum::kTimeout, {1222}, {"HYT00", "HYT01", "57014", "55P03"}, {}},
    // A deadlock victim and what a user raised: the provider's own failure.
    {errnum::kUnspecified, {1205, kUserRaised}, {"40001", "40P01"}, {}},
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

long destinationErrorNumber(std::string_view sqlstate, long nativeCode, std::string_view message,
                            bool sqlServer) {
    // Without word of the driver, SQL Server's codes are told by their size: other drivers'
    // codes are small.
    if (sqlServer || nativeCode >= 200) {
        long native = nativeCode >= kUserRaised ? kUserRaised : nativeCode;
        for (const ErrorKind& k : kKinds)
            if (std::find(k.natives.begin(), k.natives.end(), native) != k.natives.end())
                return k.number;
    }
    bool catchAll =
        sqlServer && std::find(std::begin(kSqlServerCatchAll), std::end(kSqlServerCatchAll),
                               sqlstate) != std::end(kSqlServerCatchAll);
    if (!catchAll)
        for (const ErrorKind& k : kKinds)
            for (std::string_view s : k.states)
                if (stateMatches(sqlstate, s)) return k.number;
    if (!sqlServer)
        for (const ErrorKind& k : kKinds)
            for (std::string_view m : k.messages)
                if (containsNoCase(message, m)) return k.number;
    return errnum::kUnspecified;
}

}  // namespace kordb

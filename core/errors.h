#pragma once
// Run-time errors as the procedures see them: a number and the description shown to the
// operator, and where the destination raised it, the SQLSTATE and native code it gave.

#include <stdexcept>
#include <string>
#include <string_view>

namespace kordb {

// The numbers errors carry, so that error traps can tell them apart the way the operator's
// messages need; the destination's are those its OLE DB provider reported.
namespace errnum {
inline constexpr long kTableNotFound = -2147217865;  // 0x80040E37: object not found
inline constexpr long kCommandText = -2147217900;    // 0x80040E14: error in the command text
inline constexpr long kPermission = -2147217911;     // 0x80040E09: permission denied
inline constexpr long kIntegrity = -2147217873;      // 0x80040E2F: integrity violation
inline constexpr long kOverflow = -2147217833;       // 0x80040E57: data overflow
inline constexpr long kConversion = -2147217913;     // 0x80040E07: cannot convert
inline constexpr long kRowNotLocated = -2147217864;  // 0x80040E38: row changed away
inline constexpr long kColumnMissing = -2147217904;  // 0x80040E10: no value for a column
inline constexpr long kTimeout = -2147217871;        // 0x80040E31: timeout expired
inline constexpr long kUnspecified = -2147467259;    // 0x80004005: anything else
inline constexpr long kNoCurrentRow = 3021;          // BOF or EOF: no current row
inline constexpr long kItemNotFound = 3265;          // a column name the row does not have
inline constexpr long kConnectionClosed = 3709;      // the connection is not open
inline constexpr long kFileNotFound = 53;
inline constexpr long kPathFileAccess = 75;
inline constexpr long kBadFormat = 13;  // not a workbook of the expected kind
}  // namespace errnum

class KorError : public std::runtime_error {
  public:
    KorError(long number, const std::string& description, std::string sqlstate = {},
             long nativeCode = 0)
        : std::runtime_error(description),
          number_(number),
          sqlstate_(std::move(sqlstate)),
          native_(nativeCode) {}
    long number() const { return number_; }
    const char* description() const { return what(); }
    // Empty, and 0, where the error did not come from the destination.
    const std::string& sqlstate() const { return sqlstate_; }
    long nativeCode() const { return native_; }

  private:
    long number_;
    std::string sqlstate_;
    long native_;
};

// The number of a destination failure from its SQLSTATE, native code and message, as SQL
// Server's OLE DB provider reports it, with PostgreSQL's and SQLite's equivalents. sqlServer:
// the diagnostic came through one of SQL Server's drivers, whose native codes are the server's.
long destinationErrorNumber(std::string_view sqlstate, long nativeCode, std::string_view message,
                            bool sqlServer = false);

}  // namespace kordb

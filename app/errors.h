#pragma once
// Run-time errors as the procedures see them: a number and the description shown to the operator.

#include <stdexcept>
#include <string>

namespace kordb {

// Numbers the destination's and the worksheet's errors carry, so that error traps can tell
// them apart the way the operator's messages need.
namespace errnum {
inline constexpr long kTableNotFound = -2147217865;  // 0x80040E37: no such table
inline constexpr long kCommandText = -2147217900;    // 0x80040E14: error in the statement text
inline constexpr long kUnspecified = -2147467259;    // 0x80004005: any other provider failure
inline constexpr long kConversion = -2147217913;     // 0x80040E07: value does not fit its column
inline constexpr long kItemNotFound = 3265;          // a column name the row does not have
inline constexpr long kFileNotFound = 53;
inline constexpr long kPathFileAccess = 75;
inline constexpr long kOverflow = 6;
inline constexpr long kBadFormat = 13;  // not a workbook of the expected kind
}  // namespace errnum

class KorError : public std::runtime_error {
  public:
    KorError(long number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    long number() const { return number_; }
    const char* description() const { return what(); }

  private:
    long number_;
};

}  // namespace kordb

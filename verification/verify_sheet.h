#pragma once
// Verify as a call: the checks of one worksheet, run in their fixed order, and what they found.
// The window's Verify and kordb-cli's verify both call verifySheet and show its findings.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.h"
#include "source/worksheet.h"

namespace kordb {

class WorkbookCache;

// What a verification reads.
struct VerifyRequest {
    WorkbookCache& workbooks;
    std::string workbookPath;
    // The sheet list's entry as picked, blanks and all: it tells the sheet apart from others
    // whose names differ only in blanks.
    std::string pickedSheet;
    std::string table;  // the entry trimmed and upper-cased: the destination table
    std::string keyColumn;
    // The destination compares text keys ignoring trailing blanks (SQL Server): so must the
    // duplicate check.
    bool keysIgnoreTrailingBlanks = false;
};

// The listings: each selects rows by key and sends every row to the file of its mode, or to
// the code error file when its key holds a quote or a blank.
enum class ListingMode { Ok, Duplicate, PluErr };
// "OK", "DUPLICATE", "PLUERR": the check mode in the name of its error file.
std::string_view listingModeName(ListingMode mode);

// A row a check selected: which one it was in the check's order (from 1), and its values.
struct FoundRow {
    uint32_t ordinal = 0;
    std::vector<Value> values;  // the sheet's columns in sheet order
};

// A row whose key holds a quote or a blank.
struct BadKeyRow {
    std::string key;
    FoundRow row;
};

struct ListingFindings {
    uint32_t rows = 0;  // rows listed, whatever their outcome
    std::vector<BadKeyRow> badKeys;
    std::optional<std::string> error;  // why the listing stopped early
};

struct RepeatedPlu {
    std::string pluCode;
    std::string itemCode;
};

struct VerifyFindings {
    // Rows without a key.
    std::vector<FoundRow> rowsWithoutKey;
    std::optional<std::string> nullCheckError;

    // The item sheet's checks; they do not run for other tables.
    bool itemChecks = false;
    std::vector<std::string> duplicatedKeys;  // in the order the grouped rows arrive
    std::optional<std::string> duplicateCheckError;
    ListingFindings duplicateRows;  // runs only when duplicatedKeys is not empty
    std::vector<RepeatedPlu> repeatedPlu;
    std::optional<std::string> pluCheckError;
    ListingFindings pluRows;  // runs only when repeatedPlu is not empty

    // Every other row with a key.
    ListingFindings finalListing;
    // The keys the final listing left out: those of both duplicate checks, in order.
    std::vector<std::string> excludedKeys;

    // A check found an error or could not run to its end: the sheet may not be migrated.
    bool errorFound() const;
};

// The row a check has just read, from one ordinal of its statement on; valid until the check
// reads the next row. Values are read as asked for: a sheet's worth of them is not copied.
class RowValues {
  public:
    RowValues(const SheetRecordset& rs, int first) : rs_(rs), first_(first) {}
    int size() const { return rs_.fieldCount() > first_ ? rs_.fieldCount() - first_ : 0; }
    Value operator[](int i) const { return rs_.field(first_ + i); }
    std::vector<Value> copy(int from = 0) const;

  private:
    const SheetRecordset& rs_;
    int first_;
};

// Receives every row a check selects, as it is read: the final listing takes in nearly every
// row of the sheet, far more than a report should hold. A throw ends the check that sent the
// row, as its own error.
class VerifyRowSink {
  public:
    virtual ~VerifyRowSink() = default;
    // A row without a key: the sheet's columns.
    virtual void rowWithoutKey(const RowValues& columns) = 0;
    // A listed row: its key first, then the sheet's columns.
    virtual void listedRow(ListingMode mode, bool badKey, const RowValues& keyAndColumns) = 0;
    // The check is over: every row it sent must be stored.
    virtual void checkDone() = 0;
    // The check failed: store what can be, throw nothing.
    virtual void checkFailed() noexcept = 0;
};

// Runs the checks of the request's worksheet in order: rows without a key; for the item sheet
// duplicated keys and repeated PLU pairs, each with the listing of its rows; then the listing
// of every other row with a key. An error ends only the check it happened in, as the
// operator has always seen it; it is in the findings.
VerifyFindings verifySheet(const VerifyRequest& request, VerifyRowSink& rows);

// The checks one at a time, for a caller that runs one alone. Each fills its own part of
// findings.
void findRowsWithoutKey(const VerifyRequest& request, VerifyRowSink& rows, VerifyFindings& out);
void findDuplicatedKeys(const VerifyRequest& request, VerifyRowSink& rows, VerifyFindings& out);
void findRepeatedPlu(const VerifyRequest& request, VerifyRowSink& rows, VerifyFindings& out);
// Lists the rows whose key is one of keys (mode Duplicate, PluErr) or, in mode Ok, every row
// with a key except those of keys.
ListingFindings listRows(const VerifyRequest& request, VerifyRowSink& rows, ListingMode mode,
                         const std::vector<std::string>& keys);

// True when text holds a single quote or a blank anywhere.
bool HasQuoteOrSpace(std::string_view text);

}  // namespace kordb

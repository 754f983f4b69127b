#pragma once
// Whether a destination fits a worksheet, found out before the first write and keeping
// nothing: the server and driver, the tables and every column the rules write judged against
// what the sheet holds (as the plan judges values), the key's index, the rights Start and undo
// need proved by a trial write through Start's own statements in a transaction that is always
// rolled back, the round trip and the time Start can be expected to take.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kordb {

namespace odbc {
class Connection;
}

struct CheckInput {
    std::filesystem::path workbook;
    std::string sheet;  // as picked from the sheet list
    // Text and numbers written, read back and compared, and an update's count checked, in
    // the trial's transaction: by default only where the destination is SQL Server, whose
    // drivers convert on their own.
    std::optional<bool> serverProbe;
};

struct CheckFinding {
    enum class Verdict { Info, Fits, DoesNotFit };
    Verdict verdict = Verdict::Info;
    std::string subject;  // "column KINV_MT_ITEM.ItemName varchar(100)"
    std::string detail;   // "fits, longest 41 characters"
};

struct CheckReport {
    std::vector<CheckFinding> findings;
    // The workbook or the sheet could not be read: nothing was checked.
    bool workbookUnreadable = false;
    long sheetRows = 0;
    double roundTripMs = -1;      // median; negative when not measured
    double expectedSeconds = -1;  // of Start; negative when not estimated
    double roundTripsPerRow = 0;  // the model behind it
    bool fits() const;
    int misfits() const;
};

// Checks the sheet of the workbook against the open connection conn. Leaves the connection
// in autocommit, as it found it.
CheckReport checkDestination(odbc::Connection& conn, const CheckInput& in);

// "subject: detail"
std::string checkLine(const CheckFinding& f);
// "check: the destination fits KINV_MT_ITEM" or "check: 3 findings do not fit"
std::string checkSummary(const CheckReport& r, const std::string& sheet);

}  // namespace kordb

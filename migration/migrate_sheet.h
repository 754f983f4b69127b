#pragma once
// Start and its plan as calls: plain inputs, the per-row lines to a sink as rows are taken,
// and a report of what was stored and where the run stopped. The window's Start and
// kordb-cli's migrate and plan call these and show their reports.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/operator.h"
#include "migration/plan.h"

namespace kordb {

namespace odbc {
class Connection;
}
class WorkbookCache;

// What Start and the plan read, and where they write.
struct MigrateRequest {
    std::shared_ptr<WorkbookCache> workbooks;  // shared with the caller: parsed once
    std::string workbookPath;
    std::string workbookTitle;  // names the undo journal
    // The sheet list's entry as picked, blanks and all; trimmed and upper-cased it names the
    // destination table.
    std::string pickedSheet;
    std::string tableName;  // the entry as picked, trimmed and upper-cased
    // The key column of a master table; a sheet of an unknown name keeps that of the last
    // known one, as the window does.
    std::string keyColumn;
    std::filesystem::path errorFolder;  // the undo journal goes there
    std::shared_ptr<odbc::Connection> destination;
    std::string server, database;  // as typed: the journal names them
    bool atomic = false;           // one transaction, rolled back at the first error
    bool rowByRow = false;         // each row looked up on its own
};

// The list's lines as rows are taken (the progress an operator watches).
class MigrateLines {
  public:
    virtual ~MigrateLines() = default;
    virtual void clear() {}
    virtual void line(const std::string& text) = 0;
    virtual void refresh() {}
};

// A message box a run raised, in the order raised: the traps' errors, "Migration
// Successfully".
struct RaisedBox {
    std::string text, title;
    Icon icon = Icon::None;
};

struct MigrateReport {
    std::vector<RaisedBox> boxes;
    int errors = 0;                 // errors among the boxes
    std::string lastError;          // the description of the latest
    long lastRow = 0;               // the worksheet row the run reached (the header is row 1)
    std::filesystem::path journal;  // the undo journal; empty when nothing was written
    bool rolledBack = false;        // an atomic run rolled back: nothing was stored
    std::string rowByRowBecause;    // why rows were looked up one at a time
    std::string writtenOneByOneBecause;
    std::string destSql, pluSql;  // the last look-up statements
};

// The rows of the sheet into its table, as Start takes them.
MigrateReport migrateSheet(const MigrateRequest& request, MigrateLines& lines);

struct PlanReport {
    MigrateReport run;
    PlanCounts counts;
    bool clean = false;  // no error stopped the plan
};
// What Start would do with each row, one line each, writing nothing.
PlanReport planSheet(const MigrateRequest& request, MigrateLines& lines);

}  // namespace kordb

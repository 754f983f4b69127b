#pragma once
// One pass over a worksheet as Start makes it: the look-ups, the decisions and the column
// rules of the item and the master table migrations, in one place. What becomes of each
// destination row the rules fill is up to the handler: Start stores it, a plan compares it
// with what is stored. So the plan cannot tell another story than the run.

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.h"
#include "form/form.h"
#include "migration/row_writer.h"
#include "source/worksheet.h"

namespace kordb {

class RowHandler {
  public:
    virtual ~RowHandler() = default;
    // Whether the window's list shows the rows: Start's run does, a plan does not.
    virtual bool listing() const = 0;
    // A worksheet row begins, after its look-up: its number as the operator sees it (the
    // header is row 1) and its key cell as read.
    virtual void beginRow(long sheetRow, const Value& key) = 0;
    // A destination row whose columns are assigned: to be stored, or compared.
    virtual void write(DestRecordset& rs) = 0;
    // The worksheet row writes nothing: its key exists already (exists) or it has none.
    virtual void skip(bool exists) = 0;
    virtual void endRow() = 0;
    // A line for the window's list as a row is taken, the list refreshed before or after it.
    virtual void list(Form& f, const std::string& line, bool refreshFirst);

    // Rows come a batch at a time. A handler may hold a batch's writes to the tables and store
    // them together at its end (true); abandonBatch() then takes the batch back (true), and its
    // rows come again one by one, so that the row at fault fails as it would have alone.
    virtual bool beginBatch(const std::vector<DestTable*>&) { return false; }
    virtual void endBatch() {}
    virtual bool abandonBatch() { return false; }
    // The batch taken back had no row at fault: its rows went in one by one. why is the
    // destination's reason for refusing it.
    virtual void batchRefused(const std::string& why) { (void)why; }
};

// Worksheet rows whose keys are looked up, and whose writes are sent, together: one statement
// a table for this many rows instead of one a row, which over a network is most of the time a
// row takes.
inline constexpr long kBatchRows = 500;

// The rows of an item worksheet into TableName and KINV_MT_PLU.
void itemPass(Form& f, SheetRecordset& sheet, RowHandler& h);
// The rows of any other worksheet into TableName, new keys only.
void masterPass(Form& f, SheetRecordset& sheet, RowHandler& h);

// The columns the rules may change in a row that exists already, by table name: the item
// columns for the item table, the PLU code for KINV_MT_PLU; none for any other table, whose
// rows are only ever added.
const std::vector<std::string>& columnsUpdated(std::string_view table);
// Every column the rules may assign in tableName, whose key column is keyColumn, in the order
// the rules assign them; a worksheet row assigns these or fewer. tableName is KINV_MT_PLU for
// the item's look-up row.
std::vector<std::string> ruleColumns(const std::string& tableName, const std::string& keyColumn);

// The master table migration's trap: "MSSQL Table Not Found." for a missing table or a
// malformed statement, else the error number and then the description.
void masterTableTrap(Form& f, const std::exception& e);

}  // namespace kordb

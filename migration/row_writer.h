#pragma once
// How a migration writes one destination row: look the key up, add a row or take the first
// one found, assign columns by name, store it. Statements are prepared once per run and run
// once per row; key values and column values only ever travel as parameters.

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/value.h"
#include "settings/odbc.h"

namespace kordb {

// A table name as a statement may carry it: a plain identifier stays as written, so that the
// engine applies its own case rules; anything else is quoted, so that no name can change the
// statement it is put in.
std::string tableReference(std::string_view name, std::string_view quote);
// A column name quoted as an identifier, the quote character doubled inside.
std::string quoteIdentifier(std::string_view name, std::string_view quote);
// Today's date, local time, without time of day.
Value todayDate();

class DestRecordset;

// One destination table for one migration run, looked up by one key column.
class DestTable {
  public:
    // Parameters a request holds at most. SQL Server takes 2,100 a request and 1,000 rows a
    // VALUES list; PostgreSQL takes far more, but psqlODBC loses the connection over statements
    // of some thousands.
    static constexpr size_t kParametersPerRequest = 2000;
    // New rows of columns values each that one statement inserts.
    static size_t rowsPerInsert(size_t columns) {
        return std::clamp<size_t>(kParametersPerRequest / std::max<size_t>(columns, 1), 1, 1000);
    }

    // conn may be null or unopened: the first look-up reports it.
    DestTable(odbc::Connection* conn, std::string_view tableName, std::string keyColumn);
    ~DestTable();
    DestTable(const DestTable&) = delete;
    DestTable& operator=(const DestTable&) = delete;

    // "SELECT * FROM " table " WHERE " key "=?"
    const std::string& lookupSql() const { return lookupSql_; }
    // The rows whose key column equals key (compared as text).
    DestRecordset lookup(const std::string& key);
    // Looks keys up (as lookup() takes them) a few statements for all of them, so that their
    // lookup() is answered from what came back. A key the engine may have compared otherwise
    // than letter for letter (another case, trailing blanks) is left to its own look-up; a
    // row written since is looked up again. Returns why the engine refused the statement of
    // many keys (every key is then looked up on its own), or empty.
    std::string prefetch(const std::vector<std::string>& keys);
    // With on, writes are held: inserts of new rows stored a few statements of many rows at a
    // time, changes of rows found by their primary key sent many statements to a request, by
    // storeHeldWrites(), inserts before changes; a look-up stores them first.
    void holdWrites(bool on);
    void storeHeldWrites();
    void dropHeldWrites();
    // Called before each statement that writes is sent, for the journal to hand its lines over
    // first; none when empty.
    void beforeSending(std::function<void()> f) { beforeSending_ = std::move(f); }
    // Every row whose key column equals key, Null finding Null.
    std::vector<DestRecordset> lookupAll(const Value& key);
    // A recordset without a current row, for addNew; after a look-up.
    DestRecordset newRow();

    const std::string& name() const { return rawTable_; }
    const std::string& keyColumn() const { return keyColumn_; }
    // The columns the look-up returns; known after the first look-up.
    int columnCount() const { return int(columns_.size()); }
    // A column by name, letter case ignored; a name the table lacks is an error.
    int columnIndex(std::string_view name);
    // The column's name as the table has it, and as the procedures spelled it when they did.
    const std::string& columnName(int index) const { return columns_[size_t(index)].name; }
    const std::string& spelledName(int index) const;
    // What the catalog says about each column the look-up returns, in the same order; what
    // the look-up described where the catalog is silent.
    const std::vector<odbc::ColumnMeta>& columnMeta();
    // The primary key's columns, in key order; empty when the table has none.
    const std::vector<int>& primaryKeyColumns() { return keyColumns(); }
    // Whether the key column alone is the table's primary key.
    bool keyIdentifiesRow();

    // For a plan, which writes nothing: later look-ups find the row rs as if it were stored.
    // wanted, when given, tells by the row's key whether a later look-up may ask for it; the
    // rows no look-up asks for are not kept.
    void simulate(const DestRecordset& rs,
                  const std::function<bool(const std::string&)>& wanted = {});

  private:
    friend class DestRecordset;
    enum class Engine { Unknown, SqlServer, Postgres, Sqlite };

    // The prepared statement for cacheKey; sql() builds its text the first time only.
    template <class BuildSql>
    odbc::Statement& statement(const std::string& cacheKey, BuildSql sql);
    std::vector<std::vector<Value>> fetch(const Value& key);
    const std::vector<int>& keyColumns();
    std::string columnRef(int index) const;

    odbc::Connection* conn_;
    std::string table_;     // as it goes into statements
    std::string rawTable_;  // as the operator named it
    std::string keyColumn_;
    std::string quote_ = "\"";
    std::string lookupSql_;
    Engine engine_ = Engine::Unknown;
    std::unique_ptr<odbc::Statement> lookup_;
    std::vector<odbc::ColumnInfo> columns_;
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using NameMap = std::unordered_map<std::string, int, NameHash, std::equal_to<>>;
    NameMap byUpperName_;
    NameMap byName_;  // names as the procedures spell them
    bool keyKnown_ = false;
    std::vector<int> primaryKey_;  // column indexes; empty when the table has none
    std::unordered_map<std::string, std::unique_ptr<odbc::Statement>> writes_;
    std::vector<std::string> spelled_;
    std::vector<odbc::ColumnMeta> meta_;
    // A plan's rows by their key: what its earlier rows would have stored.
    std::unordered_map<std::string, std::vector<Value>> simulated_;
    // Rows found by prefetch(), by the key as asked; and those keys by their loosest form.
    std::unordered_map<std::string, std::vector<std::vector<Value>>> prefetched_;
    std::unordered_multimap<std::string, std::string> prefetchedLoosely_;
    // Forgets what prefetch() found for keys the engine may take for key.
    void forget(const Value& key);
    void hold(std::vector<int> columns, std::vector<Value> row);
    struct Held {
        std::vector<int> columns;
        std::vector<std::vector<Value>> rows;
    };
    bool holding_ = false;
    std::function<void()> beforeSending_;
    void sending() const {
        if (beforeSending_) beforeSending_();
    }
    std::vector<Held> held_;
    // A held change: its UPDATE's text and its parameters, values in their bound form.
    struct HeldChange {
        std::string sql;
        std::vector<std::pair<int, Value>> params;  // column index, value
    };
    std::vector<HeldChange> heldChanges_;
    void storeHeldInserts();
    void storeMixedInserts(const std::vector<Held>& held);
    void storeHeldChanges();
    void prefetchDistinct(const std::vector<std::string>& keys, int keyIndex,
                          odbc::ColumnType type);
    int keyIndex();
    // Asks the engine to plan each execution for its values, where it would otherwise keep one
    // plan for all.
    void planEachExecution();
};

// The look-up's result for one worksheet row: its first row, or a new row after addNew().
class DestRecordset {
  public:
    bool eof() const { return !found_; }
    void addNew();
    // Assigns a column by name, letter case ignored; a name the table lacks is an error.
    void set(std::string_view column, const Value& value);
    // Inserts the new row with the assigned columns only, or changes the assigned columns of
    // the row found, and nothing else.
    void update();
    // Deletes the row found, and only that one.
    void remove();

    DestTable& table() const { return *table_; }
    bool adding() const { return adding_; }
    // The row found, as it was read; empty for a new row.
    const std::vector<Value>& original() const { return original_; }
    // The columns assigned since addNew or the look-up, in column order.
    const std::vector<std::pair<int, Value>>& assigned() const { return assigned_; }
    // The j-th assigned value as its column stores it: worked out once a write, for its
    // journal line and its parameter alike.
    const Value& storedAssigned(size_t j) const;

    // "Column: reason" for each value the destination would refuse, and for a new row each
    // column that would stay empty though it may not.
    std::vector<std::string> refusals();
    // "Column: old -> new" for each assigned column of the row found whose stored value
    // would change.
    std::vector<std::string> changes();
    // The column a failed update most likely failed on: the first value the column would
    // refuse, else a column the driver's text names; empty when none.
    std::string culprit(const std::string& driverText);

  private:
    friend class DestTable;
    explicit DestRecordset(DestTable& table) : table_(&table) {}
    void insert();
    void change();
    // The UPDATE of the assigned columns of the row where finds.
    std::string changeSql(const std::vector<int>& where, bool byKey) const;
    // Holds the change with the table's batch.
    void hold(const std::vector<int>& where, bool byKey);
    // The columns that find the row found again: its primary key, else every comparable one.
    std::vector<int> identifyingColumns(bool& byKey) const;
    std::string identifyingCondition(const std::vector<int>& where) const;
    void bindIdentifying(odbc::Statement& st, int& p, const std::vector<int>& where) const;
    // The assigned values as parameters 1.., each as its column takes it.
    void bindAssigned(odbc::Statement& st) const;
    // The j-th assigned value as it is sent to its column.
    Value boundAssigned(size_t j) const;
    // How many rows hold values in the where columns, compared as the writes compare them.
    long long rowsMatching(const std::vector<int>& where, const std::vector<Value>& values);

    DestTable* table_;
    bool found_ = false;
    bool adding_ = false;
    std::vector<Value> original_;
    std::vector<std::pair<int, Value>> assigned_;  // in column order
    // storedAssigned(), once asked: Null where the value is stored as it is.
    mutable std::vector<Value> stored_;
    mutable std::vector<bool> storedAsIs_;
    mutable bool storedKnown_ = false;
};

}  // namespace kordb

#pragma once
// A thin RAII layer over ODBC: environment, connection and statement handles, diagnostics
// turned into KorError, Unicode text both ways, and results fetched to the client in full.
// The driver's own headers, types and codes stay behind it: what the layers above need of a
// column's type they ask of a ColumnType.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "core/value.h"

namespace kordb::odbc {

// How long one destination statement may take before it is given up: a row locked by another
// connection must not stop a migration for good.
inline constexpr int kStatementTimeoutSeconds = 30;

// A date and a date-time as the driver hands them over; fraction in nanoseconds.
struct Date {
    short year = 0;
    unsigned short month = 0;
    unsigned short day = 0;
};
struct Timestamp {
    short year = 0;
    unsigned short month = 0;
    unsigned short day = 0;
    unsigned short hour = 0;
    unsigned short minute = 0;
    unsigned short second = 0;
    unsigned int fraction = 0;
    Date date() const { return {year, month, day}; }
};

// What a column holds, as far as the layers above tell values apart.
enum class ColumnKind {
    Text,
    WideText,  // counted in UTF-16 units
    Integer,
    Decimal,  // exact, with a scale
    Float,
    Date,
    Time,
    Timestamp,
    Binary,
    Other,
};

// A column's type as the driver reports it. Unknown (the default) lets a bound value keep a
// type of its own.
class ColumnType {
  public:
    ColumnType() = default;
    // From the driver's SQL type code (SQL_VARCHAR, ...): for this layer and its tests.
    static ColumnType fromSqlCode(int code) { return ColumnType(short(code)); }

    ColumnKind kind() const;
    bool known() const { return code_ != 0; }
    // Takes text: text and wide text of any length, and a GUID, which takes text of its own
    // form only and so is of kind Other.
    bool isText() const;
    bool isDateTime() const;
    // Text or binary without a length limit, which SQL Server cannot compare with "=".
    bool isLong() const;
    // Text padded with blanks to its length.
    bool isFixedWidth() const;
    // An integer column of one bit: takes 0 and 1.
    bool isBit() const;
    // A single-precision float.
    bool isSingle() const;
    // The least and the greatest value of an integer column.
    double integerMin() const;
    double integerMax() const;

    bool operator==(const ColumnType&) const = default;

  private:
    friend class Connection;
    friend class Statement;
    explicit ColumnType(short code) : code_(code) {}
    short code_ = 0;  // SQL_UNKNOWN_TYPE
};

// The names the driver manager lists.
struct DataSource {
    std::string name;
    std::string driver;  // the driver's name as the driver manager knows it
};
std::vector<DataSource> dataSources();
// An option of a configured data source as odbc.ini gives it; empty when it sets none.
std::string dataSourceOption(const std::string& dataSource, const std::string& option);
std::vector<std::string> driverNames();

// One result of an execution as the driver hands it over: rows, a count of rows changed (-1
// when the server sent none), or SQL_NO_DATA from the execution itself (a searched write that
// touched no row).
struct ResultInfo {
    enum class Kind { Count, Rows, NoData };
    Kind kind = Kind::Count;
    long long count = -1;
};
// The statement's own count among the results of one execution, in their order: a trigger's
// counts come before the statement's, so its own is the last; -1 when the server sent none.
long long statementCount(const std::vector<ResultInfo>& results);
// INSERT, UPDATE, DELETE or MERGE, whatever its letter case and leading blanks.
bool isWriteStatement(std::string_view sql);

// What the catalog says about a column: enough to tell whether a value would be taken.
struct ColumnMeta {
    std::string name;
    ColumnType sqlType;
    std::string typeName;  // the engine's own name ("varchar", "int identity")
    std::size_t size = 0;  // characters of a text column, precision of a number
    int digits = -1;       // scale of a number; -1 when none
    bool nullable = true;
    bool hasDefault = false;  // a default, or a value the engine makes itself
    std::string defaultText;  // the default as the catalog shows it
    // The code page of a narrow text column whose size counts bytes (SQL Server's char and
    // varchar: 65001 under a UTF-8 collation, 932/936/949/950 double-byte); 0 when unknown.
    int codePage = 0;
};

struct IndexMeta {
    std::string name;
    bool unique = false;
    std::vector<std::string> columns;  // in key order
};

class Connection {
  public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens with a complete ODBC connection string; throws KorError with the driver's text.
    void open(const std::string& connectionString, int loginTimeoutSeconds);
    bool isOpen() const { return open_; }

    // The quote character the driver expects around identifiers ("\"" when it names none).
    const std::string& identifierQuote() const { return quote_; }
    const std::string& driverName() const { return driverName_; }
    // The engine's product name, upper-cased ("MICROSOFT SQL SERVER", "POSTGRESQL", "SQLITE").
    const std::string& dbmsName() const { return dbmsName_; }
    // Whether text travels as UTF-16 (drivers that take it) or UTF-8.
    bool wideText() const { return wide_; }
    // The engine's and the driver's versions as they report them.
    std::string dbmsVersion();
    std::string driverVersion();

    std::vector<std::string> primaryKey(const std::string& table);
    // The catalog's columns of table, in table order; empty when the driver lists none.
    std::vector<ColumnMeta> columnsOf(const std::string& table);
    // The catalog's indexes of table, primary key included where the driver lists it.
    std::vector<IndexMeta> indexesOf(const std::string& table);

    // What tells this database from a copy of it elsewhere, where the engine offers it (the
    // cluster's system identifier and the database's object id, the server's name and the
    // database's broker id, the database file); empty when it offers none.
    std::string databaseIdentity();

    // Whether writes to table may set off triggers; true where the engine does not say.
    bool mayHaveTriggers(const std::string& table);

    // Autocommit off starts a transaction that lasts until commit or rollback.
    void setAutoCommit(bool on);
    void commit();
    void rollback();

    // How long each statement made from now on may run; kStatementTimeoutSeconds unless set.
    void setStatementTimeout(int seconds) { timeout_ = seconds; }
    int statementTimeout() const { return timeout_; }

  private:
    friend class Statement;
    std::string info(unsigned short what);
    void readCodePages(const std::string& schema, const std::string& table,
                       std::vector<ColumnMeta>& cols);

    void* dbc_ = nullptr;  // the driver manager's connection handle
    bool open_ = false;
    bool wide_ = true;
    bool typeless_ = false;  // the engine keeps any value in any column, as it was given
    std::string quote_ = "\"";
    std::string driverName_;
    std::string dbmsName_;
    int timeout_ = kStatementTimeoutSeconds;
};

// A transaction from construction on: rolled back when it ends without commit(), so that no
// way out of a scope leaves half of it stored; autocommit comes back on either way.
class Transaction {
  public:
    explicit Transaction(Connection& conn);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();
    // Rolls back now, reporting a failure the destructor would have to swallow.
    void rollback();
    // Neither committed nor rolled back yet.
    bool pending() const { return open_; }

  private:
    Connection& conn_;
    bool open_ = true;
};

struct ColumnInfo {
    std::string name;
    ColumnType sqlType;
    std::size_t size = 0;
    int digits = 0;
};

class Statement {
  public:
    explicit Statement(Connection& conn);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void prepare(const std::string& sql);
    // Binds parameter 1.. with the value's own type; sqlType/size describe the target column
    // when known, so that the driver converts to it.
    void bind(int index, const Value& value, ColumnType sqlType = {}, std::size_t size = 0,
              int digits = 0);
    // Binds a value read from a destination column back to a column of that type, through the
    // engine's own text of it where it has one, so that the column gets exactly that value.
    void bindStored(int index, const Value& value, ColumnType sqlType, std::size_t size,
                    int digits);
    void execute();
    void execDirect(const std::string& sql);
    // The catalog's primary-key columns of table, in key order.
    void primaryKeys(const std::string& table);
    // The catalog's columns of table (all schemas; the name is a pattern).
    void catalogColumns(const std::string& table);
    // The catalog's index statistics of table.
    void statistics(const std::string& table);

    const std::vector<ColumnInfo>& columns() const { return columns_; }
    // Every row of the current result, fetched at once; closes the cursor.
    std::vector<std::vector<Value>> fetchAll();
    // Rows the last write changed itself (not its triggers); -1 when the server did not say.
    long long rowCount();
    // Every count of the last write's results, in their order (0 for SQL_NO_DATA): one per
    // statement of a text of several.
    const std::vector<long long>& counts() const { return counts_; }
    void closeCursor();
    const std::string& sql() const { return sql_; }

  private:
    // Runs rc's call, naming the timeout when it was the statement timeout that ended it.
    void checkRun(int rc);
    // After a write: reads every result the execution left, keeps the statement's own count
    // and frees the connection for the next statement.
    void finishRun(int rc);
    void describe();
    Value getData(int col);
    // Column n (from 1) as its text, read in pieces for long values.
    Value getText(unsigned short n);

    struct Param;
    struct Binding;
    Param& param(int index);
    void apply(int index, Param& p, const Binding& b);
    void bindText(Param& p, const std::string& s, Binding& b) const;
    void bindNumber(Param& p, double d, Binding& b) const;
    void bindDate(Param& p, const std::string& iso, Binding& b) const;

    Connection& conn_;
    void* stmt_ = nullptr;  // the driver manager's statement handle
    std::string sql_;
    bool write_ = false;
    bool drained_ = false;
    long long count_ = -1;
    std::vector<long long> counts_;
    std::vector<ColumnInfo> columns_;
    std::vector<std::unique_ptr<Param>> params_;
};

// Whether a diagnostic's text, vendor tags and all, comes through one of SQL Server's drivers
// (FreeTDS, Microsoft's), whose native codes are the server's own error numbers.
bool sqlServerDiagnostic(std::string_view message);

// SQLBindParameter calls made by this process so far: a statement run for many rows binds
// its parameters once, not once a row.
std::size_t parameterBindings();

}  // namespace kordb::odbc

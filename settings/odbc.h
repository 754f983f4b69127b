#pragma once
// A thin RAII layer over ODBC: environment, connection and statement handles, diagnostics
// turned into KorError, Unicode text both ways, and results fetched to the client in full.

#ifdef _WIN32
#include <windows.h>  // the ODBC headers need its types
#endif
#include <sql.h>
#include <sqlext.h>

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

// Text columns of any length.
bool isCharType(SQLSMALLINT sqlType);
// Date, time and date-time columns.
bool isDateType(SQLSMALLINT sqlType);

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
    SQLLEN count = -1;
};
// The statement's own count among the results of one execution, in their order: a trigger's
// counts come before the statement's, so its own is the last; -1 when the server sent none.
SQLLEN statementCount(const std::vector<ResultInfo>& results);
// INSERT, UPDATE, DELETE or MERGE, whatever its letter case and leading blanks.
bool isWriteStatement(std::string_view sql);

// What the catalog says about a column: enough to tell whether a value would be taken.
struct ColumnMeta {
    std::string name;
    SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
    std::string typeName;  // the engine's own name ("varchar", "int identity")
    SQLULEN size = 0;      // characters of a text column, precision of a number
    int digits = -1;       // scale of a number; -1 when none
    bool nullable = true;
    bool hasDefault = false;  // a default, or a value the engine makes itself
    std::string defaultText;  // the default as the catalog shows it
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
    std::string info(SQLUSMALLINT what);

    SQLHDBC dbc_ = SQL_NULL_HDBC;
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

  private:
    Connection& conn_;
    bool open_ = true;
};

struct ColumnInfo {
    std::string name;
    SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
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
    void bind(int index, const Value& value, SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE,
              SQLULEN size = 0, SQLSMALLINT digits = 0);
    // Binds a value read from a destination column back to a column of that type, through the
    // engine's own text of it where it has one, so that the column gets exactly that value.
    void bindStored(int index, const Value& value, SQLSMALLINT sqlType, SQLULEN size,
                    SQLSMALLINT digits);
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
    SQLLEN rowCount();
    // Every count of the last write's results, in their order (0 for SQL_NO_DATA): one per
    // statement of a text of several.
    const std::vector<long long>& counts() const { return counts_; }
    void closeCursor();
    const std::string& sql() const { return sql_; }

  private:
    // Runs rc's call, naming the timeout when it was the statement timeout that ended it.
    void checkRun(SQLRETURN rc);
    // After a write: reads every result the execution left, keeps the statement's own count
    // and frees the connection for the next statement.
    void finishRun(SQLRETURN rc);
    void describe();
    Value getData(int col);

    struct Param;
    struct Binding;
    Param& param(int index);
    void apply(int index, Param& p, const Binding& b);
    void bindText(Param& p, const std::string& s, Binding& b) const;
    void bindNumber(Param& p, double d, Binding& b) const;
    void bindDate(Param& p, const std::string& iso, Binding& b) const;

    Connection& conn_;
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
    std::string sql_;
    bool write_ = false;
    bool drained_ = false;
    SQLLEN count_ = -1;
    std::vector<long long> counts_;
    std::vector<ColumnInfo> columns_;
    // How one parameter goes to the driver: its C type and buffer, and the column it is meant for.
    struct Binding {
        SQLSMALLINT cType = SQL_C_CHAR;
        SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLPOINTER data = nullptr;
        SQLLEN bufLen = 0;
        bool operator==(const Binding&) const = default;
    };
    struct Param {
        std::u16string wide;
        std::string narrow;
        double number = 0;
        long long integer = 0;
        SQL_TIMESTAMP_STRUCT stamp{};
        SQLLEN indicator = 0;
        Binding last;  // as the driver was last told
        bool bound = false;
    };
    std::vector<std::unique_ptr<Param>> params_;
};

// Whether a diagnostic's text, vendor tags and all, comes through one of SQL Server's drivers
// (FreeTDS, Microsoft's), whose native codes are the server's own error numbers.
bool sqlServerDiagnostic(std::string_view message);

// SQLBindParameter calls made by this process so far: a statement run for many rows binds
// its parameters once, not once a row.
std::size_t parameterBindings();

// Throws KorError built from the diagnostics of handle when rc is not a success.
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& context = {});

}  // namespace kordb::odbc

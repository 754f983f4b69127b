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
#include <vector>

#include "app/errors.h"
#include "source/value.h"

namespace kordb::odbc {

// Number for the diagnostics of a failed call: missing table and malformed statement get the
// numbers the error traps look for; everything else a number of its own.
long errorNumber(const std::string& sqlstate, const std::string& message);

class Connection {
  public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens with a complete ODBC connection string; throws KorError with the driver's text.
    void open(const std::string& connectionString, int loginTimeoutSeconds);
    bool isOpen() const { return open_; }
    SQLHDBC handle() const { return dbc_; }

    // The quote character the driver expects around identifiers ("\"" when it names none).
    const std::string& identifierQuote() const { return quote_; }
    const std::string& driverName() const { return driverName_; }
    // Whether text travels as UTF-16 (drivers that take it) or UTF-8.
    bool wideText() const { return wide_; }

    std::vector<std::string> primaryKey(const std::string& table);

  private:
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool open_ = false;
    bool wide_ = true;
    std::string quote_ = "\"";
    std::string driverName_;
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
    void execute();
    void execDirect(const std::string& sql);

    const std::vector<ColumnInfo>& columns() const { return columns_; }
    // Every row of the current result, fetched at once; closes the cursor.
    std::vector<std::vector<Value>> fetchAll();
    SQLLEN rowCount();
    void closeCursor();
    const std::string& sql() const { return sql_; }

  private:
    void describe();
    Value getData(int col);

    Connection& conn_;
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
    std::string sql_;
    std::vector<ColumnInfo> columns_;
    struct Param {
        std::u16string wide;
        std::string narrow;
        double number = 0;
        long long integer = 0;
        SQL_TIMESTAMP_STRUCT stamp{};
        SQLLEN indicator = 0;
    };
    std::vector<std::unique_ptr<Param>> params_;
};

// Throws KorError built from the diagnostics of handle when rc is not a success.
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& context = {});

}  // namespace kordb::odbc

#include "settings/odbc.h"

#ifdef _WIN32
#include <windows.h>  // the ODBC headers need its types
#endif
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/dates.h"
#include "core/text.h"

namespace kordb::odbc {

namespace {

SQLHENV environment() {
    static SQLHENV env = [] {
        SQLHENV h = SQL_NULL_HENV;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
            throw KorError(errnum::kUnspecified, "The ODBC driver manager cannot be loaded.");
        SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        return h;
    }();
    return env;
}

std::u16string wide(const std::string& s) {
    return toUtf16(s);
}
SQLWCHAR* wptr(std::u16string& s) {
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

// "[unixODBC][FreeTDS][SQL Server]Invalid object name 'X'." -> "Invalid object name 'X'."
std::string stripVendorTags(std::string m) {
    while (!m.empty() && m.front() == '[') {
        size_t close = m.find(']');
        if (close == std::string::npos) break;
        m.erase(0, close + 1);
    }
    for (char& c : m)
        if (c == '\n' || c == '\r') c = ' ';
    while (!m.empty() && (m.back() == ' ' || m.back() == ';')) m.pop_back();
    return m;
}

bool contains(const std::string& hay, const char* needle) {
    std::string h = hay;
    std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return std::tolower(c); });
    return h.find(needle) != std::string::npos;
}

bool isCharType(SQLSMALLINT t) {
    switch (t) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
        case SQL_WLONGVARCHAR:
        case SQL_GUID:
            return true;
        default:
            return false;
    }
}

bool isDateType(SQLSMALLINT t) {
    switch (t) {
        case SQL_TYPE_DATE:
        case SQL_TYPE_TIME:
        case SQL_TYPE_TIMESTAMP:
        case SQL_DATE:
        case SQL_TIME:
        case SQL_TIMESTAMP:
            return true;
        default:
            return false;
    }
}

bool isNumericType(SQLSMALLINT t) {
    switch (t) {
        case SQL_NUMERIC:
        case SQL_DECIMAL:
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_FLOAT:
        case SQL_REAL:
        case SQL_DOUBLE:
        case SQL_TINYINT:
        case SQL_BIGINT:
        case SQL_BIT:
            return true;
        default:
            return false;
    }
}

// ".678901" for the nanoseconds a stamp carries: as many digits as hold something.
std::string fractionText(SQLUINTEGER nanos) {
    if (nanos == 0 || nanos >= 1000000000) return {};
    char buf[12];
    std::snprintf(buf, sizeof buf, ".%09u", unsigned(nanos));
    std::string f = buf;
    while (f.back() == '0') f.pop_back();
    return f;
}

std::string isoFromDate(const Date& d) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", d.year, d.month, d.day);
    return buf;
}

std::string isoFromStamp(const Timestamp& t, SQLSMALLINT type) {
    if (type == SQL_TYPE_DATE || type == SQL_DATE) return isoFromDate(t.date());
    char buf[40];
    if (type == SQL_TYPE_TIME || type == SQL_TIME) {
        std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", t.hour, t.minute, t.second);
        return buf + fractionText(t.fraction);
    }
    if (t.hour == 0 && t.minute == 0 && t.second == 0 && t.fraction == 0)
        return isoFromDate(t.date());
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02u:%02u:%02u", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf + fractionText(t.fraction);
}

// "YYYY-MM-DD", "YYYY-MM-DD[T ]HH:MM[:SS[.fffffffff]]" or "HH:MM[:SS[.f...]]", nothing after.
bool parseIso(std::string_view s, Timestamp& t, bool& hasDate, bool& hasTime,
              int* fractionDigits = nullptr) {
    t = {};
    IsoStamp st;
    if (!parseIsoStamp(s, st) || !st.plain()) return false;
    hasDate = st.hasDate;
    hasTime = st.hasTime;
    if (fractionDigits && st.fractionDigits) *fractionDigits = st.fractionDigits;
    t.year = short(hasDate ? st.year : 1899);
    t.month = (unsigned short)(hasDate ? st.month : 12);
    t.day = SQLUSMALLINT(hasDate ? st.day : 30);
    t.hour = SQLUSMALLINT(st.hour);
    t.minute = SQLUSMALLINT(st.minute);
    t.second = SQLUSMALLINT(st.second);
    t.fraction = SQLUINTEGER(st.nanos);
    return true;
}

bool isExactType(SQLSMALLINT t) {
    return t == SQL_NUMERIC || t == SQL_DECIMAL;
}

bool isIntegerType(SQLSMALLINT t) {
    return t == SQL_INTEGER || t == SQL_SMALLINT || t == SQL_TINYINT || t == SQL_BIGINT ||
           t == SQL_BIT;
}

// Catalogs keep names as the engine folded them: a name as written, then upper-cased, then
// lower-cased.
std::vector<std::string> catalogNames(const std::string& table) {
    std::vector<std::string> names = {table};
    std::string lower = table;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    for (const std::string& t : {toUpper(table), lower})
        if (std::find(names.begin(), names.end(), t) == names.end()) names.push_back(t);
    return names;
}

// Columns the engine fills itself, which report NOT NULL without a default: identities, row
// versions, computed columns (SQL Server's drivers add SS_IS_COMPUTED and SS_IS_IDENTITY to
// the catalog's columns).
bool madeByServer(const Statement& st, const std::vector<Value>& row, const ColumnMeta& m) {
    if (contains(m.typeName, "identity") || contains(m.typeName, "serial")) return true;
    std::string type = toUpper(m.typeName);
    if ((type == "TIMESTAMP" || type == "ROWVERSION") &&
        (m.sqlType == ColumnType::fromSqlCode(SQL_BINARY) ||
         m.sqlType == ColumnType::fromSqlCode(SQL_VARBINARY)))
        return true;
    const auto& cols = st.columns();
    for (size_t i = 0; i < cols.size() && i < row.size(); ++i)
        if ((equalsNoCase(cols[i].name, "SS_IS_COMPUTED") ||
             equalsNoCase(cols[i].name, "SS_IS_IDENTITY")) &&
            row[i].isNumber() && row[i].toNumber() == 1)
            return true;
    return false;
}

SQL_TIMESTAMP_STRUCT odbcStamp(const Timestamp& t) {
    SQL_TIMESTAMP_STRUCT o{};
    o.year = t.year;
    o.month = t.month;
    o.day = t.day;
    o.hour = t.hour;
    o.minute = t.minute;
    o.second = t.second;
    o.fraction = t.fraction;
    return o;
}

}  // namespace

ColumnKind ColumnType::kind() const {
    switch (code_) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
            return ColumnKind::Text;
        case SQL_WCHAR:
        case SQL_WVARCHAR:
        case SQL_WLONGVARCHAR:
            return ColumnKind::WideText;
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_TINYINT:
        case SQL_BIGINT:
        case SQL_BIT:
            return ColumnKind::Integer;
        case SQL_NUMERIC:
        case SQL_DECIMAL:
            return ColumnKind::Decimal;
        case SQL_FLOAT:
        case SQL_REAL:
        case SQL_DOUBLE:
            return ColumnKind::Float;
        case SQL_TYPE_DATE:
        case SQL_DATE:
            return ColumnKind::Date;
        case SQL_TYPE_TIME:
        case SQL_TIME:
            return ColumnKind::Time;
        case SQL_TYPE_TIMESTAMP:
        case SQL_TIMESTAMP:
            return ColumnKind::Timestamp;
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY:
            return ColumnKind::Binary;
        default:
            return ColumnKind::Other;
    }
}

bool ColumnType::isText() const {
    return isCharType(code_);
}

bool ColumnType::isDateTime() const {
    return isDateType(code_);
}

bool ColumnType::isLong() const {
    return code_ == SQL_LONGVARCHAR || code_ == SQL_WLONGVARCHAR || code_ == SQL_LONGVARBINARY;
}

bool ColumnType::isFixedWidth() const {
    return code_ == SQL_CHAR || code_ == SQL_WCHAR;
}

bool ColumnType::isBit() const {
    return code_ == SQL_BIT;
}

bool ColumnType::isSingle() const {
    return code_ == SQL_REAL;
}

double ColumnType::integerMin() const {
    switch (code_) {
        case SQL_SMALLINT:
            return -32768;
        case SQL_INTEGER:
            return -2147483648.0;
        case SQL_TINYINT:
        case SQL_BIT:
            return 0;
        default:
            return -9223372036854775808.0;
    }
}

double ColumnType::integerMax() const {
    switch (code_) {
        case SQL_SMALLINT:
            return 32767;
        case SQL_INTEGER:
            return 2147483647.0;
        case SQL_TINYINT:
            return 255;
        case SQL_BIT:
            return 1;
        default:
            return 9223372036854775807.0;
    }
}

long long statementCount(const std::vector<ResultInfo>& results) {
    for (auto r = results.rbegin(); r != results.rend(); ++r) {
        if (r->kind == ResultInfo::Kind::Rows) continue;  // a trigger's SELECT
        // Drivers differ on the count after SQL_NO_DATA; no row was touched either way.
        return r->kind == ResultInfo::Kind::NoData ? 0 : r->count;
    }
    return -1;
}

bool isWriteStatement(std::string_view sql) {
    size_t i = 0;
    while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '('))
        ++i;
    size_t end = i;
    while (end < sql.size() && std::isalpha(static_cast<unsigned char>(sql[end]))) ++end;
    std::string word = toUpper(std::string(sql.substr(i, end - i)));
    return word == "INSERT" || word == "UPDATE" || word == "DELETE" || word == "MERGE";
}

bool sqlServerDiagnostic(std::string_view message) {
    size_t end = 0;
    while (end < message.size() && message[end] == '[') {
        size_t close = message.find(']', end);
        if (close == std::string_view::npos) break;
        end = close + 1;
    }
    std::string tags(message.substr(0, end));
    return contains(tags, "sql server") || contains(tags, "freetds");
}

namespace {

// Throws KorError built from the diagnostics of handle when rc is not a success.
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& context = {}) {
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
    std::string firstState, text;
    long firstNative = 0;
    bool sqlServer = false;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR msg[2048];
        SQLSMALLINT len = 0;
        SQLRETURN r = SQLGetDiagRecW(type, handle, i, state, &native, msg,
                                     SQLSMALLINT(sizeof msg / sizeof msg[0]), &len);
        if (!SQL_SUCCEEDED(r)) break;
        std::string st = toUtf8(std::u16string_view(reinterpret_cast<char16_t*>(state), 5));
        len = std::min<SQLSMALLINT>(len, SQLSMALLINT(sizeof msg / sizeof msg[0] - 1));
        std::string raw =
            toUtf8(std::u16string_view(reinterpret_cast<char16_t*>(msg), size_t(len)));
        std::string m = stripVendorTags(raw);
        if (firstState.empty()) {
            firstState = st;
            firstNative = long(native);
            sqlServer = sqlServerDiagnostic(raw);
        }
        if (!m.empty() && text.find(m) == std::string::npos) {
            if (!text.empty()) text += " ";
            text += m;
        }
    }
    if (text.empty()) text = context.empty() ? "The database call failed." : context + " failed.";
    throw KorError(destinationErrorNumber(firstState, firstNative, text, sqlServer), text,
                   firstState, firstNative);
}

}  // namespace

// ---- Connection ------------------------------------------------------------------------------

Connection::Connection() {
    check(SQLAllocHandle(SQL_HANDLE_DBC, environment(), &dbc_), SQL_HANDLE_ENV, environment());
}

Connection::~Connection() {
    if (open_) SQLDisconnect(dbc_);
    if (dbc_) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

void Connection::open(const std::string& connectionString, int loginTimeoutSeconds) {
    SQLSetConnectAttrW(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(loginTimeoutSeconds)), 0);
    std::u16string in = wide(connectionString);
    SQLWCHAR out[1024];
    SQLSMALLINT outLen = 0;
    SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, wptr(in), SQLSMALLINT(in.size()), out, 1024,
                                     &outLen, SQL_DRIVER_NOPROMPT);
    check(rc, SQL_HANDLE_DBC, dbc_, "Connecting");
    open_ = true;

    std::string q = info(SQL_IDENTIFIER_QUOTE_CHAR);
    if (!q.empty() && q != " ") quote_ = q;
    driverName_ = info(SQL_DRIVER_NAME);
    dbmsName_ = toUpper(info(SQL_DBMS_NAME));
    // The SQLite driver keeps text as UTF-8 and has no wide entry points.
    wide_ = !contains(driverName_, "sqlite");
    typeless_ = dbmsName_.find("SQLITE") != std::string::npos;
    // A server configured with NOCOUNT on by default sends no counts, and a changed row could
    // not be told from a missing one.
    if (contains(dbmsName_, "sql server")) Statement(*this).execDirect("SET NOCOUNT OFF");
}

std::string Connection::info(unsigned short what) {
    SQLWCHAR buf[256] = {};
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(dbc_, what, buf, sizeof buf, &len))) return {};
    size_t chars = std::min(size_t(std::max<SQLSMALLINT>(len, 0)) / sizeof(SQLWCHAR),
                            sizeof buf / sizeof buf[0] - 1);
    return toUtf8(std::u16string_view(reinterpret_cast<char16_t*>(buf), chars));
}

std::string Connection::dbmsVersion() {
    return info(SQL_DBMS_VER);
}

std::string Connection::driverVersion() {
    return info(SQL_DRIVER_VER);
}

std::vector<std::string> Connection::primaryKey(const std::string& table) {
    // Catalogs store names as the engine folded them: try the name as written, then folded.
    for (const std::string& name : catalogNames(table)) {
        Statement st(*this);
        try {
            st.primaryKeys(name);
        } catch (const KorError&) {
            continue;  // a driver without the catalog call: no key known
        }
        std::vector<std::pair<double, std::string>> cols;
        for (auto& row : st.fetchAll())
            if (row.size() >= 5 && !row[3].isNull())
                cols.emplace_back(row[4].isNumber() ? row[4].toNumber() : 0, row[3].toText());
        if (!cols.empty()) {
            std::sort(cols.begin(), cols.end());
            std::vector<std::string> names;
            for (auto& c : cols) names.push_back(c.second);
            return names;
        }
    }
    return {};
}

std::vector<ColumnMeta> Connection::columnsOf(const std::string& table) {
    // SQLColumns result columns (1-based): 2 schema, 3 table, 4 column, 5 data type, 6 type
    // name, 7 column size, 9 decimal digits, 11 nullable, 13 default.
    for (const std::string& name : catalogNames(table)) {
        Statement st(*this);
        try {
            st.catalogColumns(name);
        } catch (const KorError&) {
            continue;  // a driver without the catalog call: nothing known
        }
        std::vector<ColumnMeta> cols;
        std::string schema;
        bool first = true;
        for (auto& row : st.fetchAll()) {
            if (row.size() < 13 || !equalsNoCase(row[2].toText(), table)) continue;
            // The name is a pattern and may match in several schemas: the first one found.
            if (first) schema = row[1].toText(), first = false;
            if (row[1].toText() != schema) continue;
            ColumnMeta m;
            m.name = row[3].toText();
            m.sqlType = ColumnType(SQLSMALLINT(row[4].toNumber()));
            m.typeName = row[5].toText();
            m.size = row[6].isNull() ? 0 : std::size_t(std::max(0.0, row[6].toNumber()));
            m.digits = row[8].isNull() ? -1 : int(row[8].toNumber());
            m.nullable = row[10].isNull() || row[10].toNumber() != SQL_NO_NULLS;
            if (!row[12].isNull()) m.defaultText = row[12].toText();
            // A default of NULL, as some drivers show "no default", gives nothing either.
            std::string def = toUpper(m.defaultText);
            def.erase(std::remove_if(def.begin(), def.end(),
                                     [](char c) { return c == ' ' || c == '(' || c == ')'; }),
                      def.end());
            m.hasDefault = (!row[12].isNull() && def != "NULL") || madeByServer(st, row, m);
            cols.push_back(std::move(m));
        }
        if (cols.empty()) continue;
        if (toUpper(dbmsName_).find("SQL SERVER") != std::string::npos)
            readCodePages(schema, table, cols);
        return cols;
    }
    return {};
}

void Connection::readCodePages(const std::string& schema, const std::string& table,
                               std::vector<ColumnMeta>& cols) {
    // A char or varchar column holds its size in bytes of its collation's code page: under a
    // UTF-8 or double-byte collation fewer characters fit than its size says.
    try {
        Statement st(*this);
        st.prepare(
            "SELECT c.name, CONVERT(int, COLLATIONPROPERTY(c.collation_name, 'CodePage')) FROM "
            "sys.columns c WHERE c.object_id = OBJECT_ID(?) AND c.collation_name IS NOT NULL");
        st.bind(1, Value::text(schema.empty() ? table : schema + "." + table));
        st.execute();
        for (auto& row : st.fetchAll()) {
            if (row.size() < 2 || !row[1].isNumber()) continue;
            for (ColumnMeta& m : cols)
                if (m.sqlType.kind() == ColumnKind::Text && equalsNoCase(m.name, row[0].toText()))
                    m.codePage = int(row[1].toNumber());
        }
    } catch (const KorError&) {
        // Without the server's catalog views the sizes are taken as characters, as before.
    }
}

std::vector<IndexMeta> Connection::indexesOf(const std::string& table) {
    // SQLStatistics result columns (1-based): 3 table, 4 non-unique, 6 index name, 7 type,
    // 8 position in the index, 9 column.
    for (const std::string& name : catalogNames(table)) {
        Statement st(*this);
        try {
            st.statistics(name);
        } catch (const KorError&) {
            continue;  // a driver without the catalog call: no index known
        }
        std::vector<IndexMeta> out;
        std::vector<std::vector<std::pair<double, std::string>>> columns;
        for (auto& row : st.fetchAll()) {
            if (row.size() < 9 || row[5].isNull() || row[8].isNull()) continue;
            if (row[6].isNumber() && row[6].toNumber() == SQL_TABLE_STAT) continue;
            const std::string index = row[5].toText();
            auto it = std::find_if(out.begin(), out.end(),
                                   [&](const IndexMeta& m) { return m.name == index; });
            if (it == out.end()) {
                IndexMeta m;
                m.name = index;
                m.unique = row[3].isNumber() && row[3].toNumber() == SQL_FALSE;
                out.push_back(std::move(m));
                columns.emplace_back();
                it = out.end() - 1;
            }
            columns[size_t(it - out.begin())].emplace_back(
                row[7].isNumber() ? row[7].toNumber() : 0, row[8].toText());
        }
        if (out.empty()) continue;
        for (size_t i = 0; i < out.size(); ++i) {
            std::sort(columns[i].begin(), columns[i].end());
            for (auto& c : columns[i]) out[i].columns.push_back(c.second);
        }
        return out;
    }
    return {};
}

void Connection::setAutoCommit(bool on) {
    check(SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT,
                             reinterpret_cast<SQLPOINTER>(
                                 static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                             0),
          SQL_HANDLE_DBC, dbc_, "Setting autocommit");
}

void Connection::commit() {
    check(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_HANDLE_DBC, dbc_, "Commit");
}

void Connection::rollback() {
    check(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_HANDLE_DBC, dbc_, "Rollback");
}

std::string Connection::databaseIdentity() {
    const bool postgres = dbmsName_.find("POSTGRES") != std::string::npos;
    const bool sqlServer = dbmsName_.find("SQL SERVER") != std::string::npos;
    std::vector<std::string> queries;
    if (postgres) {
        queries = {
            "SELECT (SELECT system_identifier::text FROM pg_control_system()) || '/' || "
            "oid::text FROM pg_database WHERE datname = current_database()",
            "SELECT oid::text || '/' || datname FROM pg_database WHERE datname = "
            "current_database()"};
    } else if (sqlServer) {
        queries = {
            "SELECT @@SERVERNAME + '/' + CONVERT(nvarchar(36), service_broker_guid) + "
            "'/' + DB_NAME() FROM sys.databases WHERE database_id = DB_ID()"};
    } else if (typeless_) {
        queries = {"SELECT file FROM pragma_database_list WHERE name = 'main'"};
    }
    for (const std::string& q : queries) {
        try {
            Statement st(*this);
            st.execDirect(q);
            auto rows = st.fetchAll();
            if (!rows.empty() && !rows[0].empty() && !rows[0][0].toText().empty())
                return rows[0][0].toText();
        } catch (const KorError&) {
            // Not offered to this login: the next way, or none.
        }
    }
    return {};
}

bool Connection::mayHaveTriggers(const std::string& table) {
    std::string sql;
    if (dbmsName_.find("POSTGRES") != std::string::npos)
        sql =
            "SELECT COUNT(*) FROM pg_trigger t JOIN pg_class c ON c.oid = t.tgrelid WHERE NOT "
            "t.tgisinternal AND lower(c.relname) = lower(?)";
    else if (dbmsName_.find("SQL SERVER") != std::string::npos)
        sql =
            "SELECT COUNT(*) FROM sys.triggers t JOIN sys.tables c ON c.object_id = t.parent_id "
            "WHERE c.name = ?";
    else if (typeless_)
        sql =
            "SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' AND tbl_name = ? "
            "COLLATE NOCASE";
    else
        return true;
    try {
        Statement st(*this);
        st.prepare(sql);
        st.bind(1, Value::text(table));
        st.execute();
        auto rows = st.fetchAll();
        return rows.empty() || rows[0].empty() || rows[0][0].toNumber() != 0;
    } catch (const KorError&) {
        return true;
    }
}

Transaction::Transaction(Connection& conn) : conn_(conn) {
    conn_.setAutoCommit(false);
}

Transaction::~Transaction() {
    if (!open_) return;
    try {
        rollback();
    } catch (const std::exception&) {
        // The engine drops an unfinished transaction when the connection closes.
    }
}

void Transaction::commit() {
    conn_.commit();
    open_ = false;
    conn_.setAutoCommit(true);
}

void Transaction::rollback() {
    open_ = false;
    conn_.rollback();
    conn_.setAutoCommit(true);
}

// Names listed by the driver manager: data sources or drivers.
// Names listed by the driver manager, each with its description: for a data source, the
// name of its driver.
static std::vector<std::pair<std::string, std::string>> listNames(bool drivers) {
    std::vector<std::pair<std::string, std::string>> names;
    SQLUSMALLINT dir = SQL_FETCH_FIRST;
    for (;;) {
        SQLCHAR name[512] = {}, desc[1024] = {};
        SQLSMALLINT nameLen = 0, descLen = 0;
        SQLRETURN rc = drivers ? SQLDrivers(environment(), dir, name, sizeof name, &nameLen, desc,
                                            sizeof desc, &descLen)
                               : SQLDataSources(environment(), dir, name, sizeof name, &nameLen,
                                                desc, sizeof desc, &descLen);
        if (!SQL_SUCCEEDED(rc)) break;
        names.emplace_back(reinterpret_cast<char*>(name), reinterpret_cast<char*>(desc));
        dir = SQL_FETCH_NEXT;
    }
    return names;
}

std::vector<DataSource> dataSources() {
    std::vector<DataSource> sources;
    for (auto& [name, driver] : listNames(false)) sources.push_back({name, driver});
    return sources;
}

std::string dataSourceOption(const std::string& dataSource, const std::string& option) {
    char value[256] = {};
    int n = SQLGetPrivateProfileString(dataSource.c_str(), option.c_str(), "", value,
                                       int(sizeof value), "odbc.ini");
    return n > 0 ? std::string(value, std::min(size_t(n), sizeof value - 1)) : std::string();
}

std::vector<std::string> driverNames() {
    std::vector<std::string> names;
    for (auto& entry : listNames(true)) names.push_back(entry.first);
    return names;
}

// ---- Statement -------------------------------------------------------------------------------

Statement::Statement(Connection& conn) : conn_(conn) {
    check(SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc_, &stmt_), SQL_HANDLE_DBC, conn.dbc_);
    // Drivers without a timeout of their own say so with a warning that changes nothing.
    SQLSetStmtAttrW(stmt_, SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(conn.timeout_)), 0);
}

void Statement::checkRun(int rc) {
    try {
        check(SQLRETURN(rc), SQL_HANDLE_STMT, stmt_);
    } catch (const KorError& e) {
        // HYT00 from the driver's own timer; 57014 when the server cancelled the statement.
        if (e.sqlstate() != "HYT00" && e.sqlstate() != "57014") throw;
        throw KorError(e.number(),
                       "Timeout expired: the destination did not answer within " +
                           std::to_string(conn_.timeout_) +
                           " seconds (a row may be locked by another connection). " +
                           e.description(),
                       e.sqlstate(), e.nativeCode());
    }
}

void Statement::primaryKeys(const std::string& table) {
    sql_.clear();
    columns_.clear();
    std::u16string w = wide(table);
    checkRun(SQLPrimaryKeysW(stmt_, nullptr, 0, nullptr, 0, wptr(w), SQL_NTS));
    describe();
}

void Statement::catalogColumns(const std::string& table) {
    sql_.clear();
    columns_.clear();
    std::u16string w = wide(table);
    checkRun(SQLColumnsW(stmt_, nullptr, 0, nullptr, 0, wptr(w), SQL_NTS, nullptr, 0));
    describe();
}

void Statement::statistics(const std::string& table) {
    sql_.clear();
    columns_.clear();
    std::u16string w = wide(table);
    checkRun(
        SQLStatisticsW(stmt_, nullptr, 0, nullptr, 0, wptr(w), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK));
    describe();
}

Statement::~Statement() {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

void Statement::prepare(const std::string& sql) {
    sql_ = sql;
    write_ = isWriteStatement(sql);
    columns_.clear();
    // A UTF-8 driver gets the text as it is: the driver manager's conversion would follow the
    // process locale, which need not be UTF-8.
    if (!conn_.wideText()) {
        std::string n = sql;
        check(SQLPrepareA(stmt_, reinterpret_cast<SQLCHAR*>(n.data()), SQLINTEGER(n.size())),
              SQL_HANDLE_STMT, stmt_);
        return;
    }
    std::u16string w = wide(sql);
    check(SQLPrepareW(stmt_, wptr(w), SQLINTEGER(w.size())), SQL_HANDLE_STMT, stmt_);
}

// How one parameter goes to the driver: its C type and buffer, and the column it is meant for.
struct Statement::Binding {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLPOINTER data = nullptr;
    SQLLEN bufLen = 0;
    bool operator==(const Binding&) const = default;
};

struct Statement::Param {
    std::u16string wide;
    std::string narrow;
    double number = 0;
    long long integer = 0;
    SQL_TIMESTAMP_STRUCT stamp{};
    SQLLEN indicator = 0;
    Binding last;  // as the driver was last told
    bool bound = false;
};

namespace {

std::atomic<std::size_t> bindings{0};

// Text declared by a size that does not follow each value's length: one declaration serves a
// statement's every execution, and the server's plan cache keeps one plan. Longer than the
// column, the value keeps its own length, so that the server reports what does not fit
// instead of a driver cutting it.
SQLULEN stableSize(SQLSMALLINT sqlType, SQLULEN columnSize, size_t length) {
    constexpr SQLULEN kPlainText = 4000;  // the longest text SQL Server declares without a LOB
    if (sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR)
        return std::max<SQLULEN>(length, 1);
    SQLULEN size = columnSize > 0 && columnSize < (SQLULEN(1) << 30) ? columnSize : kPlainText;
    return std::max<SQLULEN>(size, length);
}

// A text column's type as a wide parameter: the server, not the driver, then turns the text
// into the column's code page, and says so when it does not fit.
SQLSMALLINT wideType(SQLSMALLINT t) {
    switch (t) {
        case SQL_CHAR:
            return SQL_WCHAR;
        case SQL_VARCHAR:
            return SQL_WVARCHAR;
        case SQL_LONGVARCHAR:
            return SQL_WLONGVARCHAR;
        default:
            return t;
    }
}

}  // namespace

std::size_t parameterBindings() {
    return bindings.load();
}

void Statement::bindText(Param& p, const std::string& s, Binding& b) const {
    if (conn_.wideText()) {
        std::u16string w = toUtf16(s);
        b.sqlType = b.sqlType == SQL_UNKNOWN_TYPE ? SQL_WVARCHAR : wideType(b.sqlType);
        if (isCharType(b.sqlType)) b.size = stableSize(b.sqlType, b.size, w.size());
        // Assigned into a buffer of the declared size, which keeps its place from row to row.
        p.wide.reserve(b.size + 1);
        p.wide.assign(w.begin(), w.end());
        b.cType = SQL_C_WCHAR;
        b.data = p.wide.data();
        b.bufLen = SQLLEN(p.wide.capacity() * sizeof(char16_t));
        p.indicator = SQLLEN(p.wide.size() * sizeof(char16_t));
    } else {
        if (b.sqlType == SQL_UNKNOWN_TYPE) b.sqlType = SQL_VARCHAR;
        if (isCharType(b.sqlType)) b.size = stableSize(b.sqlType, b.size, s.size());
        p.narrow.reserve(b.size + 1);
        p.narrow.assign(s);
        b.cType = SQL_C_CHAR;
        b.data = p.narrow.data();
        b.bufLen = SQLLEN(p.narrow.capacity());
        p.indicator = SQLLEN(p.narrow.size());
    }
    if (b.size == 0) b.size = 1;
}

void Statement::bindNumber(Param& p, double d, Binding& b) const {
    if (isCharType(b.sqlType)) {
        // The driver would write doubles as "1001.0": hand over the plain decimal.
        bindText(p, formatNumber(d), b);
        return;
    }
    // One C type per column whatever the value: whole numbers go as integers only where the
    // column takes nothing else, or where no column is known.
    const bool integral = std::fabs(d) < 9.0e15 && d == std::trunc(d);
    const bool wholeColumn = b.sqlType == SQL_INTEGER || b.sqlType == SQL_SMALLINT ||
                             b.sqlType == SQL_TINYINT || b.sqlType == SQL_BIGINT ||
                             b.sqlType == SQL_BIT;
    if (integral && (wholeColumn || b.sqlType == SQL_UNKNOWN_TYPE)) {
        p.integer = static_cast<long long>(d);
        b.cType = SQL_C_SBIGINT;
        b.data = &p.integer;
        if (b.sqlType == SQL_UNKNOWN_TYPE) b.sqlType = SQL_BIGINT, b.size = 19;
    } else {
        p.number = d;
        b.cType = SQL_C_DOUBLE;
        b.data = &p.number;
        if (b.sqlType == SQL_UNKNOWN_TYPE) b.sqlType = SQL_DOUBLE, b.size = 15;
    }
    if (b.size == 0) b.size = 19;
    p.indicator = 0;
}

void Statement::bindDate(Param& p, const std::string& iso, Binding& b) const {
    bool hasDate = false, hasTime = false;
    int fraction = 0;
    Timestamp t;
    if (isCharType(b.sqlType) || !parseIso(iso, t, hasDate, hasTime, &fraction)) {
        bindText(p, iso, b);
        return;
    }
    p.stamp = odbcStamp(t);
    b.cType = SQL_C_TYPE_TIMESTAMP;
    b.data = &p.stamp;
    p.indicator = sizeof p.stamp;
    if (b.sqlType == SQL_UNKNOWN_TYPE)
        b.sqlType = (hasDate && !hasTime) ? SQL_TYPE_DATE : SQL_TYPE_TIMESTAMP;
    // The digits of a date-time are those of its fraction of a second.
    b.digits = b.sqlType == SQL_TYPE_DATE ? 0 : SQLSMALLINT(fraction);
    b.size = b.sqlType == SQL_TYPE_DATE   ? 10
             : b.sqlType == SQL_TYPE_TIME ? 8
                                          : SQLULEN(19 + (fraction ? fraction + 1 : 0));
}

Statement::Param& Statement::param(int index) {
    if (params_.size() < size_t(index)) params_.resize(size_t(index));
    auto& p = params_[size_t(index - 1)];
    if (!p) p = std::make_unique<Param>();
    return *p;
}

void Statement::apply(int index, Param& p, const Binding& b) {
    // Bound again only when something the driver keeps changed: a statement prepared once runs
    // with one declaration, and FreeTDS prepares anew at every bind.
    if (p.bound && p.last == b) return;
    check(SQLBindParameter(stmt_, SQLUSMALLINT(index), SQL_PARAM_INPUT, b.cType, b.sqlType, b.size,
                           b.digits, b.data, b.bufLen, &p.indicator),
          SQL_HANDLE_STMT, stmt_);
    ++bindings;
    p.last = b;
    p.bound = true;
}

void Statement::bind(int index, const Value& value, ColumnType sqlType, std::size_t size,
                     int digits) {
    Param& p = param(index);
    if (value.isNull() && p.bound) {
        // The driver reads the indicator first: the declaration the parameter has serves.
        p.indicator = SQL_NULL_DATA;
        return;
    }
    Binding b;
    b.sqlType = sqlType.code_;
    b.size = size;
    b.digits = SQLSMALLINT(digits);
    switch (value.kind()) {
        case Value::Kind::Null:
            b.cType = conn_.wideText() ? SQL_C_WCHAR : SQL_C_CHAR;
            p.indicator = SQL_NULL_DATA;
            if (b.sqlType == SQL_UNKNOWN_TYPE)
                b.sqlType = conn_.wideText() ? SQL_WVARCHAR : SQL_VARCHAR;
            else if (conn_.wideText())
                b.sqlType = wideType(b.sqlType);
            if (isCharType(b.sqlType)) b.size = stableSize(b.sqlType, b.size, 0);
            if (b.size == 0) b.size = 1;
            break;
        case Value::Kind::Number:
            bindNumber(p, value.toNumber(), b);
            break;
        case Value::Kind::Text:
            bindText(p, value.rawText(), b);
            break;
        case Value::Kind::Date:
            bindDate(p, value.rawText(), b);
            break;
    }
    apply(index, p, b);
}

void Statement::bindStored(int index, const Value& value, ColumnType sqlType, std::size_t size,
                           int digits) {
    const std::string& text = value.storedText();
    if (text.empty() || sqlType.isText() || !sqlType.known()) {
        bind(index, value, sqlType, size, digits);
        return;
    }
    Param& p = param(index);
    p.narrow.reserve(stableSize(SQL_VARCHAR, size, text.size()) + 1);
    p.narrow.assign(text);
    p.indicator = SQLLEN(p.narrow.size());
    // The engine converts its own text back to the column's type: nothing is lost on the way.
    // An engine without types keeps whatever text it is given, so it gets the text as text.
    Binding b;
    b.cType = SQL_C_CHAR;
    b.sqlType = conn_.typeless_ ? SQLSMALLINT(SQL_VARCHAR) : sqlType.code_;
    b.size = conn_.typeless_ ? stableSize(SQL_VARCHAR, 0, p.narrow.size()) : size;
    b.digits = SQLSMALLINT(digits);
    if (isDateType(b.sqlType)) {
        // A date-time's size counts its characters, fraction included.
        size_t point = text.find('.');
        b.digits = point == std::string::npos ? 0 : SQLSMALLINT(text.size() - point - 1);
        b.size = std::max<SQLULEN>(b.size, text.size());
    }
    b.data = p.narrow.data();
    b.bufLen = SQLLEN(p.narrow.capacity());
    apply(index, p, b);
}

void Statement::execute() {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLRETURN rc = SQLExecute(stmt_);
    try {
        checkRun(rc);
        finishRun(rc);
    } catch (...) {
        closeCursor();  // results left unread would keep the connection busy
        throw;
    }
}

void Statement::execDirect(const std::string& sql) {
    sql_ = sql;
    write_ = isWriteStatement(sql);
    columns_.clear();
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLRETURN rc;
    if (conn_.wideText()) {
        std::u16string w = wide(sql);
        rc = SQLExecDirectW(stmt_, wptr(w), SQLINTEGER(w.size()));
    } else {
        std::string n = sql;
        rc = SQLExecDirectA(stmt_, reinterpret_cast<SQLCHAR*>(n.data()), SQLINTEGER(n.size()));
    }
    try {
        checkRun(rc);
        finishRun(rc);
    } catch (...) {
        closeCursor();
        throw;
    }
}

void Statement::finishRun(int rc) {
    drained_ = false;
    count_ = -1;
    counts_.clear();
    SQLSMALLINT cols = 0;
    if (rc != SQL_NO_DATA) SQLNumResultCols(stmt_, &cols);
    if (cols > 0 && !write_) {
        describe();  // a query: its rows wait for fetchAll
        return;
    }
    // A trigger's counts, rows and errors arrive as results of their own; left unread they
    // would hide the statement's count and keep the connection busy.
    std::vector<ResultInfo> results;
    for (;;) {
        ResultInfo r;
        if (rc == SQL_NO_DATA) {
            r.kind = ResultInfo::Kind::NoData;
        } else if (cols > 0) {
            r.kind = ResultInfo::Kind::Rows;
        } else {
            SQLLEN n = -1;
            SQLRowCount(stmt_, &n);
            r.count = n;
        }
        results.push_back(r);
        rc = SQLMoreResults(stmt_);
        if (rc == SQL_NO_DATA) break;
        try {
            checkRun(rc);
        } catch (const KorError& e) {
            if (e.sqlstate() == "HY010") break;  // a driver that has nothing more to give
            throw;
        }
        cols = 0;
        SQLNumResultCols(stmt_, &cols);
    }
    count_ = statementCount(results);
    for (const ResultInfo& r : results)
        if (r.kind != ResultInfo::Kind::Rows)
            counts_.push_back(r.kind == ResultInfo::Kind::NoData ? 0 : r.count);
    drained_ = true;
    columns_.clear();
    closeCursor();
}

void Statement::describe() {
    SQLSMALLINT n = 0;
    SQLNumResultCols(stmt_, &n);
    if (n == int(columns_.size()) && n > 0) return;  // same statement, same shape
    columns_.clear();
    for (SQLSMALLINT i = 1; i <= n; ++i) {
        SQLWCHAR name[512] = {};
        SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        check(SQLDescribeColW(stmt_, SQLUSMALLINT(i), name, 512, &nameLen, &type, &size, &digits,
                              &nullable),
              SQL_HANDLE_STMT, stmt_);
        ColumnInfo c;
        c.name = toUtf8(std::u16string_view(reinterpret_cast<char16_t*>(name),
                                            size_t(std::min<SQLSMALLINT>(nameLen, 511))));
        c.sqlType = ColumnType(type);
        c.size = size;
        c.digits = digits;
        columns_.push_back(std::move(c));
    }
}

Value Statement::getData(int col) {
    SQLUSMALLINT n = SQLUSMALLINT(col + 1);
    SQLSMALLINT type = columns_[size_t(col)].sqlType.code_;
    SQLLEN ind = 0;
    if (conn_.typeless_ && (isIntegerType(type) || isNumericType(type))) {
        // The engine keeps whatever it was given, a text too, which a number read would turn
        // into NULL or a part of it; its driver holds every value as text anyway.
        Value v = getText(n);
        if (v.isNull()) return v;
        const std::string text = v.toText();
        long long i = 0;
        auto r = std::from_chars(text.data(), text.data() + text.size(), i);
        if (r.ec == std::errc() && r.ptr == text.data() + text.size() && isIntegerType(type)) {
            Value number = Value::number(double(i));
            return (i > (1LL << 53) || i < -(1LL << 53)) ? Value::stored(number, text) : number;
        }
        double d = 0;
        return parseDecimal(text, d) ? Value::number(d) : v;
    }
    if (isIntegerType(type)) {
        long long i = 0;
        check(SQLGetData(stmt_, n, SQL_C_SBIGINT, &i, 0, &ind), SQL_HANDLE_STMT, stmt_);
        if (ind == SQL_NULL_DATA) return Value::null();
        Value v = Value::number(double(i));
        // Beyond 2^53 a double no longer holds every integer.
        return (i > (1LL << 53) || i < -(1LL << 53)) ? Value::stored(v, std::to_string(i)) : v;
    }
    // A decimal as the engine writes it keeps every digit; an engine without decimals holds
    // a double, which its own text would round.
    if (isExactType(type) && !conn_.typeless_) {
        char buf[128];
        check(SQLGetData(stmt_, n, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_HANDLE_STMT, stmt_);
        if (ind == SQL_NULL_DATA) return Value::null();
        std::string text = canonicalDecimal(
            std::string_view(buf, std::min(sizeof buf - 1, size_t(std::max<SQLLEN>(ind, 0)))));
        double d = 0;
        auto r = std::from_chars(text.data(), text.data() + text.size(), d);
        if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return Value::text(text);
        return Value::stored(Value::number(d), std::move(text));
    }
    if (isNumericType(type)) {
        double d = 0;
        check(SQLGetData(stmt_, n, SQL_C_DOUBLE, &d, 0, &ind), SQL_HANDLE_STMT, stmt_);
        return ind == SQL_NULL_DATA ? Value::null() : Value::number(d);
    }
    if (isDateType(type)) {
        // Read as the engine's text: it keeps the fraction of a second, and an engine without
        // date types gives back exactly the text it holds.
        char buf[64];
        check(SQLGetData(stmt_, n, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_HANDLE_STMT, stmt_);
        if (ind == SQL_NULL_DATA) return Value::null();
        std::string raw(buf, std::min(sizeof buf - 1, size_t(std::max<SQLLEN>(ind, 0))));
        Timestamp t;
        bool hasDate = false, hasTime = false;
        if (!parseIso(raw, t, hasDate, hasTime)) return Value::stored(Value::date(raw), raw);
        SQLSMALLINT shown = hasDate ? (hasTime ? type : SQL_TYPE_DATE) : SQL_TYPE_TIME;
        if (type == SQL_TYPE_DATE || type == SQL_DATE) shown = type;
        return Value::stored(Value::date(isoFromStamp(t, shown)), std::move(raw));
    }
    return getText(n);
}

Value Statement::getText(unsigned short n) {
    SQLLEN ind = 0;
    // Text, and anything else as its text form, read in pieces for long values.
    if (conn_.wideText()) {
        std::u16string out;
        char16_t buf[2048];
        for (;;) {
            SQLRETURN rc = SQLGetData(stmt_, n, SQL_C_WCHAR, buf, sizeof buf, &ind);
            if (rc == SQL_NO_DATA) break;
            check(rc, SQL_HANDLE_STMT, stmt_);
            if (ind == SQL_NULL_DATA) return Value::null();
            size_t chars = (ind == SQL_NO_TOTAL || size_t(ind) >= sizeof buf)
                               ? sizeof buf / sizeof(char16_t) - 1
                               : size_t(ind) / sizeof(char16_t);
            out.append(buf, chars);
            if (rc == SQL_SUCCESS) break;
        }
        return Value::text(toUtf8(out));
    }
    std::string out;
    char buf[4096];
    for (;;) {
        SQLRETURN rc = SQLGetData(stmt_, n, SQL_C_CHAR, buf, sizeof buf, &ind);
        if (rc == SQL_NO_DATA) break;
        check(rc, SQL_HANDLE_STMT, stmt_);
        if (ind == SQL_NULL_DATA) return Value::null();
        size_t bytes =
            (ind == SQL_NO_TOTAL || size_t(ind) >= sizeof buf) ? sizeof buf - 1 : size_t(ind);
        out.append(buf, bytes);
        if (rc == SQL_SUCCESS) break;
    }
    return Value::text(std::move(out));
}

std::vector<std::vector<Value>> Statement::fetchAll() {
    std::vector<std::vector<Value>> rows;
    if (drained_) return rows;  // a write's results are already read
    for (;;) {
        SQLRETURN rc = SQLFetch(stmt_);
        if (rc == SQL_NO_DATA) break;
        check(rc, SQL_HANDLE_STMT, stmt_);
        std::vector<Value> row;
        row.reserve(columns_.size());
        for (size_t c = 0; c < columns_.size(); ++c) row.push_back(getData(int(c)));
        rows.push_back(std::move(row));
    }
    closeCursor();
    return rows;
}

long long Statement::rowCount() {
    if (drained_) return count_;
    SQLLEN n = -1;
    SQLRowCount(stmt_, &n);
    return n;
}

void Statement::closeCursor() {
    SQLFreeStmt(stmt_, SQL_CLOSE);
}

}  // namespace kordb::odbc

// The count a write is judged by, from the results each driver hands over for one execution.

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>  // the ODBC headers need its types
#endif
#include <sql.h>
#include <sqlext.h>

#include "settings/odbc.h"

namespace kordb::odbc {
namespace {

using K = ResultInfo::Kind;

struct CountCase {
    const char* what;
    std::vector<ResultInfo> results;
    long long own;
};

const CountCase kCounts[] = {
    {"one row written, any driver", {{K::Count, 1}}, 1},
    {"update of a missing row", {{K::Count, 0}}, 0},
    {"missing row as SQL_NO_DATA with a count", {{K::NoData, 0}}, 0},
    {"missing row as SQL_NO_DATA without a count", {{K::NoData, -1}}, 0},
    {"Microsoft: AFTER trigger without NOCOUNT writes nothing", {{K::Count, 0}, {K::Count, 1}}, 1},
    {"Microsoft: trigger writes three audit rows", {{K::Count, 3}, {K::Count, 1}}, 1},
    {"Microsoft: trigger's own count is SQL_NO_DATA first", {{K::NoData, -1}, {K::Count, 1}}, 1},
    {"nested triggers", {{K::Count, 2}, {K::Count, 5}, {K::Count, 1}}, 1},
    {"trigger that SELECTs", {{K::Rows, -1}, {K::Count, 1}}, 1},
    {"a last result without a count leaves it unknown",
     {{K::Count, 0}, {K::Count, 1}, {K::Count, -1}},
     -1},
    {"server with NOCOUNT on by default", {{K::Count, -1}}, -1},
    {"trigger counts under NOCOUNT", {{K::Count, -1}, {K::Count, -1}}, -1},
    {"only rows", {{K::Rows, -1}}, -1},
    {"nothing at all", {}, -1},
};

TEST(StatementCount, TheStatementsOwnCountWhateverItsTriggersSend) {
    for (const CountCase& c : kCounts) EXPECT_EQ(statementCount(c.results), c.own) << c.what;
}

TEST(StatementCount, WritesAreToldFromQueries) {
    for (const char* sql : {"INSERT INTO T VALUES (?)", "  update T SET a=?", "\nDELETE FROM T",
                            "(MERGE INTO T USING", "Update TOP (1) T SET a=1"})
        EXPECT_TRUE(isWriteStatement(sql)) << sql;
    for (const char* sql : {"SELECT * FROM T", "SET NOCOUNT OFF", "", "  ", "UPDATED", "WITH x"})
        EXPECT_FALSE(isWriteStatement(sql)) << sql;
}

// What the layers above learn of each type code a driver reports.
struct TypeCase {
    int code;
    ColumnKind kind;
    const char* traits;  // t text, d date-time, l long, f fixed width, b bit, s single
};

const TypeCase kTypes[] = {
    {SQL_CHAR, ColumnKind::Text, "tf"},
    {SQL_VARCHAR, ColumnKind::Text, "t"},
    {SQL_LONGVARCHAR, ColumnKind::Text, "tl"},
    {SQL_WCHAR, ColumnKind::WideText, "tf"},
    {SQL_WVARCHAR, ColumnKind::WideText, "t"},
    {SQL_WLONGVARCHAR, ColumnKind::WideText, "tl"},
    {SQL_GUID, ColumnKind::Other, "t"},
    {SQL_BIT, ColumnKind::Integer, "b"},
    {SQL_TINYINT, ColumnKind::Integer, ""},
    {SQL_SMALLINT, ColumnKind::Integer, ""},
    {SQL_INTEGER, ColumnKind::Integer, ""},
    {SQL_BIGINT, ColumnKind::Integer, ""},
    {SQL_NUMERIC, ColumnKind::Decimal, ""},
    {SQL_DECIMAL, ColumnKind::Decimal, ""},
    {SQL_REAL, ColumnKind::Float, "s"},
    {SQL_FLOAT, ColumnKind::Float, ""},
    {SQL_DOUBLE, ColumnKind::Float, ""},
    {SQL_TYPE_DATE, ColumnKind::Date, "d"},
    {SQL_DATE, ColumnKind::Date, "d"},
    {SQL_TYPE_TIME, ColumnKind::Time, "d"},
    {SQL_TIME, ColumnKind::Time, "d"},
    {SQL_TYPE_TIMESTAMP, ColumnKind::Timestamp, "d"},
    {SQL_TIMESTAMP, ColumnKind::Timestamp, "d"},
    {SQL_BINARY, ColumnKind::Binary, ""},
    {SQL_VARBINARY, ColumnKind::Binary, ""},
    {SQL_LONGVARBINARY, ColumnKind::Binary, "l"},
    {-150, ColumnKind::Other, ""},  // SQL Server's sql_variant
};

TEST(ColumnType, DriverCodesToldByWhatTheLayersAboveNeed) {
    for (const TypeCase& c : kTypes) {
        const ColumnType t = ColumnType::fromSqlCode(c.code);
        const std::string traits = c.traits;
        auto has = [&](char trait) { return traits.find(trait) != std::string::npos; };
        SCOPED_TRACE(c.code);
        EXPECT_TRUE(t.known());
        EXPECT_EQ(t.kind(), c.kind);
        EXPECT_EQ(t.isText(), has('t'));
        EXPECT_EQ(t.isDateTime(), has('d'));
        EXPECT_EQ(t.isLong(), has('l'));
        EXPECT_EQ(t.isFixedWidth(), has('f'));
        EXPECT_EQ(t.isBit(), has('b'));
        EXPECT_EQ(t.isSingle(), has('s'));
    }
    EXPECT_FALSE(ColumnType().known());
    EXPECT_EQ(ColumnType(), ColumnType::fromSqlCode(SQL_UNKNOWN_TYPE));
    EXPECT_EQ(ColumnType().kind(), ColumnKind::Other);
}

TEST(ColumnType, IntegerColumnsHoldTheirRange) {
    const struct {
        int code;
        double min, max;
    } ranges[] = {{SQL_BIT, 0, 1},
                  {SQL_TINYINT, 0, 255},
                  {SQL_SMALLINT, -32768, 32767},
                  {SQL_INTEGER, -2147483648.0, 2147483647.0},
                  {SQL_BIGINT, -9223372036854775808.0, 9223372036854775807.0}};
    for (const auto& r : ranges) {
        EXPECT_EQ(ColumnType::fromSqlCode(r.code).integerMin(), r.min) << r.code;
        EXPECT_EQ(ColumnType::fromSqlCode(r.code).integerMax(), r.max) << r.code;
    }
}

TEST(SqlServerDiagnostic, ToldByTheDriversTags) {
    for (const char* m : {"[unixODBC][FreeTDS][SQL Server]Invalid object name 'X'.",
                          "[FreeTDS][SQL Server]Unable to connect to data source",
                          "[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]Deadlock",
                          "[Microsoft][ODBC Driver 17 for SQL Server]Query timeout expired"})
        EXPECT_TRUE(sqlServerDiagnostic(m)) << m;
    for (const char* m : {"ERROR: relation \"x\" does not exist", "[unixODBC]no such table: X",
                          "[unixODBC][SQLite]SQL Server is not here", ""})
        EXPECT_FALSE(sqlServerDiagnostic(m)) << m;
}

}  // namespace
}  // namespace kordb::odbc

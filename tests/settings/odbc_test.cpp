// The count a write is judged by, from the results each driver hands over for one execution.

#include <gtest/gtest.h>

#include "settings/odbc.h"

namespace kordb::odbc {
namespace {

using K = ResultInfo::Kind;

struct CountCase {
    const char* what;
    std::vector<ResultInfo> results;
    SQLLEN own;
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

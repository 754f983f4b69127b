// The destination check: each way a destination may not fit a sheet found and named, and
// nothing kept by the trial that proves the rights.

#include <algorithm>

#include "core/tables.h"
#include "migration/check.h"
#include "settings/destination.h"
#include "settings/odbc.h"
#include "tests/migration/fixture.h"

namespace kordb::test {
namespace {

using Cells = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

std::string replaced(std::string ddl, const std::string& from, const std::string& to) {
    size_t at = ddl.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? ddl : ddl.replace(at, from.size(), to);
}

std::string joined(const Lines& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

class Check : public MigrationTest {
  protected:
    // A connection as user, whose password is the suite's.
    std::unique_ptr<odbc::Connection> connectAs(const std::string& user) {
        auto c = std::make_unique<odbc::Connection>();
        c->open(odbcConnectionString(parseConnectionString(
                    assembleConnectionString(dest.password, user, dest.database, dest.server))),
                5);
        return c;
    }
};

TEST_P(Check, EachMisfitIsFoundAndNamedAndNothingIsKept) {
    const std::vector<std::string> classHeader = {"ClassCode", "ClassName", "ClassTypeCode",
                                                  "AppCode"};
    const std::vector<Cells> classRows = {
        {{"ClassCode", str("C1")}, {"ClassName", str("Drinks and more")}},
        {{"ClassCode", str("C2")}, {"ClassTypeCode", str("T")}}};
    auto same = [](std::string ddl) { return ddl; };
    struct Case {
        std::string name;
        std::function<std::string(std::string)> classTable;
        std::string role;  // PostgreSQL only: a login with these rights on the class table
        // Subjects that do not fit, in report order, without a column's type (its name
        // differs between engines).
        std::vector<std::string> misfits;
        std::string detail;  // of the first of them
    };
    const Case cases[] = {
        {"fits", same, "", {}, ""},
        {"missing column",
         [](std::string ddl) { return replaced(ddl, "ClassTypeCode varchar(20),", ""); },
         "",
         {"column KINV_MT_CLASS.ClassTypeCode"},
         "does not fit: missing"},
        {"column too short",
         [](std::string ddl) {
             return replaced(ddl, "ClassName varchar(100)", "ClassName varchar(10)");
         },
         "",
         {"column KINV_MT_CLASS.ClassName"},
         "does not fit: row 2 value too long (15 > 10)"},
        {"text for a number",
         [](std::string ddl) {
             return replaced(ddl, "ClassTypeCode varchar(20)", "ClassTypeCode integer");
         },
         "",
         {"column KINV_MT_CLASS.ClassTypeCode"},
         "does not fit: row 3 not a number"},
        {"no index on the key",
         [](std::string ddl) {
             return replaced(ddl, "ClassCode varchar(20) NOT NULL PRIMARY KEY",
                             "ClassCode varchar(20) NOT NULL");
         },
         "",
         {"key KINV_MT_CLASS.ClassCode"},
         "does not fit: no primary key and no index; each look-up reads the whole table (1 rows)"},
        {"no INSERT right",
         same,
         "SELECT, UPDATE, DELETE",
         {"right INSERT on KINV_MT_CLASS"},
         "does not fit: refused: "},
        {"no UPDATE right",
         same,
         "SELECT, INSERT, DELETE",
         {"right UPDATE on KINV_MT_CLASS"},
         "does not fit: refused: "},
    };
    workbook({{"KINV_MT_CLASS", classHeader, classRows}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.role.empty() && !isPostgres()) continue;
        recreate("KINV_MT_CLASS", c.classTable);
        exec("INSERT INTO KINV_MT_CLASS (ClassCode, ClassName) VALUES ('OLD', 'Kept')");
        std::unique_ptr<odbc::Connection> role;
        if (!c.role.empty()) {
            exec("DROP ROLE IF EXISTS kordb_checker_" + dest.database +
                 ";CREATE ROLE kordb_checker_" + dest.database + " LOGIN PASSWORD '" +
                 dest.password + "';GRANT " + c.role + " ON KINV_MT_CLASS TO kordb_checker_" +
                 dest.database);
            role = connectAs("kordb_checker_" + dest.database);
        }
        const auto before = dump();
        CheckReport r = checkDestination(role ? *role : *form.st.DestConn,
                                         {ui.fields[4], "KINV_MT_CLASS", false});
        EXPECT_EQ(dump(), before);
        if (role) {
            role.reset();
            exec("DROP OWNED BY kordb_checker_" + dest.database + ";DROP ROLE kordb_checker_" +
                 dest.database);
        }
        Lines all, misfits;
        for (const CheckFinding& f : r.findings) {
            all.push_back(checkLine(f));
            if (f.verdict == CheckFinding::Verdict::DoesNotFit)
                misfits.push_back(f.subject.substr(0, f.subject.find(' ', f.subject.find('.'))));
        }
        EXPECT_EQ(misfits, c.misfits) << joined(all);
        EXPECT_EQ(r.fits(), c.misfits.empty());
        if (!c.misfits.empty()) {
            const std::string first = c.misfits.front();
            EXPECT_TRUE(std::any_of(all.begin(), all.end(),
                                    [&](const std::string& l) {
                                        return l.rfind(first, 0) == 0 &&
                                               l.find(": " + c.detail) != std::string::npos;
                                    }))
                << first << ": " << c.detail << "\n"
                << joined(all);
        } else {
            for (const char* right : {"INSERT", "UPDATE", "DELETE"})
                EXPECT_NE(std::find(all.begin(), all.end(),
                                    std::string("right ") + right +
                                        " on KINV_MT_CLASS: fits, proved at row 2, rolled back"),
                          all.end())
                    << joined(all);
            EXPECT_NE(std::find(all.begin(), all.end(), "rollback: fits, nothing kept"), all.end());
            EXPECT_EQ(r.sheetRows, 2);
            EXPECT_GT(r.roundTripMs, 0);
        }
    }
}

TEST_P(Check, ASheetNamedLikeNoTableHasNoKeyAndTouchesNothing) {
    workbook({{"Sheet3", {"ClassCode"}, {{{"ClassCode", str("C1")}}}}});
    const auto before = dump();
    CheckReport r = checkDestination(*form.st.DestConn, {ui.fields[4], "Sheet3", false});
    EXPECT_EQ(dump(), before);
    EXPECT_FALSE(r.fits());
    ASSERT_FALSE(r.findings.empty());
    EXPECT_EQ(checkLine(r.findings.back()),
              "sheet Sheet3: does not fit: " + table::noKeyColumnText("Sheet3"));
}

// An item sheet proves both tables, its new and its existing row, and the probe of the
// values a driver may convert reads them back as meant.
TEST_P(Check, ItemSheetProvesBothTablesAndTheProbeReadsBack) {
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('B2', 'Bun');"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('B2', 'B2')");
    workbook({{"KINV_MT_ITEM",
               itemHeader(),
               {{{"ItemCode", str("A1")}, {"ItemName", str("Cola")}, {"PluCode", str("P1")}},
                {{"ItemCode", str("B2")}, {"ItemName", str("Bun")}, {"BasedUnitPrice", num(2)}}}}});
    choose("KINV_MT_ITEM");
    const auto before = dump();
    CheckReport r = checkDestination(*form.st.DestConn, {ui.fields[4], "KINV_MT_ITEM", true});
    EXPECT_EQ(dump(), before);
    Lines all;
    for (const CheckFinding& f : r.findings) all.push_back(checkLine(f));
    EXPECT_TRUE(r.fits()) << joined(all);
    for (const char* line :
         {"key KINV_MT_ITEM.ItemCode: fits, primary key",
          "column KINV_MT_ITEM.BasedUnitPrice numeric(18,4): fits, 1 values",
          "right INSERT on KINV_MT_PLU: fits, proved at row 2, rolled back",
          "right UPDATE on KINV_MT_ITEM: fits, proved at row 2, rolled back",
          "read back KINV_MT_ITEM row 3 [B2]: fits, as written",
          "probe KINV_MT_ITEM.ItemName \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80: fits, read back "
          "as meant",
          "probe KINV_MT_ITEM.BasedUnitPrice 0.3: fits, read back as meant",
          "probe KINV_MT_ITEM.BasedUnitPrice 1.23456: fits, read back as meant"})
        EXPECT_NE(std::find(all.begin(), all.end(), line), all.end()) << line << "\n"
                                                                      << joined(all);
    // Batched: a few statements for 500 rows, not five a row.
    EXPECT_GT(r.roundTripsPerRow, 0.005);
    EXPECT_LT(r.roundTripsPerRow, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Engines, Check, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         engineLabel);

}  // namespace
}  // namespace kordb::test

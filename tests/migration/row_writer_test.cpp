// The row writer on its own: what an insert and a change send, how a found row is found again,
// and how table names are kept from changing a statement.

#include "migration/row_writer.h"
#include "core/errors.h"
#include "migration/stored_value.h"
#include "settings/odbc.h"
#include "tests/migration/fixture.h"

namespace kordb::test {
namespace {

TEST(TableReference, OnlyPlainIdentifiersGoUnquoted) {
    EXPECT_EQ(tableReference("KINV_MT_ITEM", "\""), "KINV_MT_ITEM");
    EXPECT_EQ(tableReference("_t9", "\""), "_t9");
    EXPECT_EQ(tableReference("9t", "\""), "\"9t\"");
    EXPECT_EQ(tableReference("", "\""), "\"\"");
    EXPECT_EQ(tableReference("T; DROP TABLE X", "\""), "\"T; DROP TABLE X\"");
    EXPECT_EQ(tableReference("T --", "\""), "\"T --\"");
    EXPECT_EQ(tableReference("T\" OR \"1", "\""), "\"T\"\" OR \"\"1\"");
    EXPECT_EQ(tableReference("DÉBIT", "\""), "\"DÉBIT\"");
    EXPECT_EQ(tableReference("a`b", "`"), "`a``b`");
}

TEST(TextLength, CountsWhatTheColumnCounts) {
    const int varchar = 12, wvarchar = -9;  // the ODBC type codes
    const struct {
        const char* text;
        int type, codePage;
        size_t length;
    } rows[] = {
        {"A-17", varchar, 0, 4},     {"中文", varchar, 0, 2},   {"中文", varchar, 1252, 2},
        {"中文", varchar, 65001, 6}, {"中文", varchar, 936, 4}, {"Aé", varchar, 950, 3},
        {"😀", wvarchar, 0, 2},       {"😀", varchar, 65001, 4},
    };
    for (const auto& r : rows) {
        odbc::ColumnMeta c;
        c.sqlType = odbc::ColumnType::fromSqlCode(r.type);
        c.codePage = r.codePage;
        EXPECT_EQ(lengthIn(r.text, c), r.length) << r.text << " in code page " << r.codePage;
    }
    odbc::ColumnMeta name;
    name.sqlType = odbc::ColumnType::fromSqlCode(varchar);
    name.size = 4;
    name.codePage = 65001;
    EXPECT_EQ(refusal(name, Value::text("中文")), "value too long (6 > 4)");
    EXPECT_EQ(refusal(name, Value::text("ABCD")), "");
}

class RowWriter : public MigrationTest {
  protected:
    odbc::Connection* conn() { return form.st.DestConn.get(); }
};

TEST_P(RowWriter, NewRowSendsOnlyItsAssignedColumnsWithTheirTypes) {
    DestTable t(conn(), "KINV_MT_ITEM", "ItemCode");
    EXPECT_EQ(t.lookupSql(), "SELECT * FROM KINV_MT_ITEM WHERE ItemCode=?");
    DestRecordset rs = t.lookup("N1");
    ASSERT_TRUE(rs.eof());
    rs.addNew();
    rs.set("itemcode", Value::text("N1"));
    rs.set("ITEMNAME", Value::null());
    rs.set("AdvPrice1", Value::number(2.5));
    rs.set("BasedMeasure", Value::number(1001));
    rs.set("DateCreated", Value::date("2024-02-29"));
    rs.set("AppCode", Value::text("first"));
    rs.set("appcode", Value::text("later"));  // the last assignment counts
    rs.update();
    EXPECT_EQ(rows("SELECT ItemName, AdvPrice1, AdvPrice2, BasedMeasure, DateCreated, AppCode, "
                   "ItemStatus, StockOnHand FROM KINV_MT_ITEM WHERE ItemCode='N1'"),
              (Rows{{"<null>", "2.5", "0", "1001", "2024-02-29", "later", "ACTIVE", "0"}}));
}

TEST_P(RowWriter, FoundRowChangesOnlyItsAssignedColumns) {
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, AppCode) VALUES ('A1', 'Same', 'X');"
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, AppCode) VALUES ('A2', 'Same', 'X')");
    DestTable t(conn(), "KINV_MT_ITEM", "ItemCode");
    DestRecordset rs = t.lookup("A1");
    ASSERT_FALSE(rs.eof());
    rs.set("ItemName", Value::text("Changed"));
    rs.update();
    EXPECT_EQ(rows("SELECT ItemCode, ItemName, AppCode FROM KINV_MT_ITEM ORDER BY ItemCode"),
              (Rows{{"A1", "Changed", "X"}, {"A2", "Same", "X"}}));
}

TEST_P(RowWriter, UnknownColumnAndMissingRowAreErrors) {
    DestTable t(conn(), "KINV_MT_CLASS", "ClassCode");
    DestRecordset rs = t.lookup("C1");
    try {
        rs.set("ClassName", Value::text("x"));
        ADD_FAILURE() << "assigned without a current row";
    } catch (const KorError& e) {
        EXPECT_EQ(e.number(), 3021);
    }
    rs.addNew();
    try {
        rs.set("NoSuchColumn", Value::text("x"));
        ADD_FAILURE() << "a column the table lacks was assigned";
    } catch (const KorError& e) {
        EXPECT_EQ(e.number(), errnum::kItemNotFound);
        EXPECT_NE(std::string(e.what()).find("NoSuchColumn"), std::string::npos) << e.what();
    }
}

TEST_P(RowWriter, RowGoneSinceItWasReadIsNotLocated) {
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode) VALUES ('A1');"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('A1', 'P1')");
    DestTable items(conn(), "KINV_MT_ITEM", "ItemCode");
    DestRecordset item = items.lookup("A1");
    DestTable plus(conn(), "KINV_MT_PLU", "ItemCode");
    DestRecordset plu = plus.lookup("A1");
    ASSERT_FALSE(item.eof());
    ASSERT_FALSE(plu.eof());
    exec("DELETE FROM KINV_MT_ITEM; UPDATE KINV_MT_PLU SET PluCode='P9'");

    item.set("ItemName", Value::text("x"));
    plu.set("PluCode", Value::text("P2"));
    for (DestRecordset* rs : {&item, &plu}) {
        try {
            rs->update();
            ADD_FAILURE() << "a vanished row reported as stored";
        } catch (const KorError& e) {
            EXPECT_EQ(e.number(), errnum::kRowNotLocated);
        }
    }
    EXPECT_EQ(one("SELECT PluCode FROM KINV_MT_PLU"), "P9");
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_ITEM"), "0");
}

TEST_P(RowWriter, MissingOrUnsafeTableNameIsTableNotFound) {
    for (const char* name : {"KINV_MT_NOTHING", "KINV_MT_CLASS; DROP TABLE KINV_MT_ITEM",
                             "KINV_MT_CLASS --", "KINV_MT_CLASS\" --"}) {
        SCOPED_TRACE(name);
        DestTable t(conn(), name, "ClassCode");
        try {
            t.lookup("C1");
            ADD_FAILURE() << "looked up in a table that does not exist";
        } catch (const KorError& e) {
            EXPECT_EQ(e.number(), errnum::kTableNotFound) << e.what();
        }
    }
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_ITEM"), "0");
}

TEST_P(RowWriter, WithoutAnOpenConnectionTheLookUpFails) {
    odbc::Connection unopened;
    for (odbc::Connection* c : {static_cast<odbc::Connection*>(nullptr), &unopened}) {
        DestTable t(c, "KINV_MT_CLASS", "ClassCode");
        try {
            t.lookup("C1");
            ADD_FAILURE() << "looked up without a connection";
        } catch (const KorError& e) {
            EXPECT_EQ(e.number(), errnum::kConnectionClosed);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, RowWriter, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         engineLabel);

}  // namespace
}  // namespace kordb::test

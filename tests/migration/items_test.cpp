// Item worksheets: every column rule of KINV_MT_ITEM, the KINV_MT_PLU row, the progress lines
// and the one error box, on both engines.

#include <ctime>

#include "core/text.h"
#include "settings/odbc.h"
#include "tests/migration/fixture.h"

namespace kordb::test {
namespace {

using Cells = std::map<std::string, std::string>;

Sheet itemSheet(std::vector<Cells> rows, std::vector<std::string> header = itemHeader()) {
    return {"KINV_MT_ITEM", std::move(header), std::move(rows)};
}

std::string today() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &local);
    return buf;
}

const std::vector<std::string> kFixedValues = {"HQ", "D1", "DEF", "K1", "T1", "S1", "NON"};
const std::string kFixedColumns =
    "TrsOutlet, RefDiscountCode, RefPosCode, RefPrinterGroupCode, RefTaxCode, RefChargeCode, "
    "RefSeasonCode";

std::string numbered(const std::string& base, int from, int to) {
    std::string r;
    for (int n = from; n <= to; ++n) r += (r.empty() ? "" : ", ") + base + std::to_string(n);
    return r;
}

class Items : public MigrationTest {
  protected:
    void run(std::vector<Cells> rows) {
        workbook({itemSheet(std::move(rows))});
        choose("KINV_MT_ITEM");
        runItems();
    }
    std::vector<std::string> item(const std::string& code, const std::string& columns) {
        Rows r = rows("SELECT " + columns + " FROM KINV_MT_ITEM WHERE ItemCode='" + code + "'");
        if (r.size() != 1) {
            ADD_FAILURE() << "item " << code << ": " << r.size() << " rows";
            return {};
        }
        return r[0];
    }
    Rows plu() {
        return rows("SELECT ItemCode, PluCode FROM KINV_MT_PLU ORDER BY ItemCode, PluCode");
    }
};

TEST_P(Items, NewRowsTakeEveryColumnByItsRule) {
    Cells full = {{"ItemCode", str("A1")},
                  {"ItemName", str("Cola")},
                  {"AppCode", str(" APP ")},
                  {"PosDescription", str("Cola 330")},
                  {"PosDescription1", str("One")},
                  {"PosDescription10", str("Ten")},
                  {"ClassCode1", str("CL1")},
                  {"ClassCode10", str("CL10")},
                  {"BasedMeasure", str("CAN")},
                  {"BasedUnitPrice", num(1.5)},
                  {"BasedUnitCost", num(0.75)},
                  {"MinBasedUnitPrice", num(1)},
                  {"MaxBasedUnitPrice", num(2)},
                  {"WarningQty", num(5)},
                  {"ReorderQty", num(10)},
                  {"MaxQty", num(100)},
                  {"MinQty", num(2)},
                  {"AdvPrice1", num(1.25)},
                  {"AdvPrice15", num(15)},
                  {"AdvPrice30", num(30)},
                  {"DefCreditorCode", str("CR1")},
                  {"PluCode", str("P1")}};
    Cells bare = {{"ItemCode", str("B2")}, {"ItemName", str("Bun")}};
    run({full, bare});

    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[A1] Cola", "[B2] Bun"}));
    EXPECT_GE(ui.refreshes, 3) << "cleared list and each line shown at once";

    EXPECT_EQ(
        item("A1", "ItemCode, ItemName, AppCode, PosDescription, " +
                       numbered("PosDescription", 1, 3) + ", PosDescription10"),
        (std::vector<std::string>{"A1", "Cola", "APP", "Cola 330", "One", "Cola", "Cola", "Ten"}));
    EXPECT_EQ(item("A1", numbered("ClassCode", 1, 2) + ", ClassCode10, BasedMeasure"),
              (std::vector<std::string>{"CL1", "<null>", "CL10", "CAN"}));
    EXPECT_EQ(item("A1",
                   "BasedUnitPrice, BasedUnitCost, MinBasedUnitPrice, MaxBasedUnitPrice, "
                   "WarningQty, ReorderQty, MaxQty, MinQty, AdvPrice1, AdvPrice2, AdvPrice15, "
                   "AdvPrice30"),
              (std::vector<std::string>{"1.5", "0.75", "1", "2", "5", "10", "100", "2", "1.25", "0",
                                        "15", "30"}));
    EXPECT_EQ(item("A1", "DefCreditorCode, DateCreated, ItemStatus, StockOnHand"),
              (std::vector<std::string>{"CR1", today(), "ACTIVE", "0"}));
    EXPECT_EQ(item("A1", kFixedColumns), kFixedValues);

    // Empty cells: "NIL" defaults, descriptions from the name, the rest at the table defaults.
    EXPECT_EQ(item("B2",
                   "AppCode, PosDescription, PosDescription1, PosDescription10, "
                   "DefCreditorCode, DateCreated"),
              (std::vector<std::string>{"NIL", "Bun", "Bun", "Bun", "NIL", today()}));
    EXPECT_EQ(item("B2", "ClassCode1, BasedMeasure, BasedUnitPrice, AdvPrice30, ItemStatus"),
              (std::vector<std::string>{"<null>", "<null>", "0", "0", "ACTIVE"}));
    EXPECT_EQ(item("B2", kFixedColumns), kFixedValues);

    EXPECT_EQ(plu(), (Rows{{"A1", "P1"}, {"B2", "B2"}})) << "an empty PluCode takes the item code";
    EXPECT_EQ(one("SELECT PluStatus FROM KINV_MT_PLU WHERE ItemCode='A1'"), "ACTIVE");
}

TEST_P(Items, ExistingRowKeepsEmptyColumnsAndResetsTheFixedOnes) {
    exec("INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, AppCode, PosDescription, " +
         numbered("PosDescription", 1, 10) +
         ", ClassCode1, ClassCode2, BasedMeasure, BasedUnitPrice, AdvPrice1, AdvPrice2, "
         "DefCreditorCode, DateCreated, " +
         kFixedColumns +
         ", ItemStatus, StockOnHand) VALUES ('A1', 'Old', 'OLDAPP', 'old', 'o1', 'o2', 'o3', "
         "'o4', 'o5', 'o6', 'o7', 'o8', 'o9', 'o10', 'OC1', 'OC2', 'BOX', 9, 7, 8, 'OLDCR', "
         "'2001-02-03 04:05:06', 'X', 'X', 'X', 'X', 'X', 'X', 'X', 'HOLD', 42);"
         "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, AppCode) VALUES ('C3', 'Old C', 'A');"
         "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, TrsOutlet) VALUES ('Z9', 'Other', 'ZZ');"
         "INSERT INTO KINV_MT_PLU (ItemCode, PluCode, PluStatus) VALUES ('A1', 'OLDP', 'HOLD')");
    run({{{"ItemCode", str("A1")},
          {"PosDescription1", str("New1")},
          {"ClassCode2", str("NC2")},
          {"AdvPrice2", num(3.5)},
          {"PluCode", str("NEWP")}},
         {{"ItemCode", str("C3")}, {"ItemName", str("New C")}, {"AppCode", str("B")}}});
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[A1] ", "[C3] New C"}));

    // Kept: no cell and no fall-back. Overwritten: AppCode, descriptions (Null when the name
    // is empty too), DefCreditorCode, DateCreated and the fixed codes.
    EXPECT_EQ(item("A1",
                   "ItemName, AppCode, PosDescription, PosDescription1, PosDescription2, "
                   "PosDescription10, DefCreditorCode, DateCreated"),
              (std::vector<std::string>{"Old", "NIL", "<null>", "New1", "<null>", "<null>", "NIL",
                                        today()}));
    EXPECT_EQ(item("A1",
                   "ClassCode1, ClassCode2, BasedMeasure, BasedUnitPrice, AdvPrice1, "
                   "AdvPrice2, ItemStatus, StockOnHand"),
              (std::vector<std::string>{"OC1", "NC2", "BOX", "9", "7", "3.5", "HOLD", "42"}));
    EXPECT_EQ(item("A1", kFixedColumns), kFixedValues);
    EXPECT_EQ(item("C3", "ItemName, AppCode, PosDescription, PosDescription7"),
              (std::vector<std::string>{"New C", "B", "New C", "New C"}));
    EXPECT_EQ(item("Z9", "ItemName, TrsOutlet, DateCreated"),
              (std::vector<std::string>{"Other", "ZZ", "<null>"}))
        << "a row the sheet does not name is not touched";
    EXPECT_EQ(rows("SELECT ItemCode, PluCode, PluStatus FROM KINV_MT_PLU ORDER BY ItemCode"),
              (Rows{{"A1", "NEWP", "HOLD"}, {"C3", "C3", "ACTIVE"}}));
}

TEST_P(Items, SameCodeTwiceChangesTheRowTheFirstWrote) {
    run({{{"ItemCode", str("A1")},
          {"ItemName", str("First")},
          {"AdvPrice1", num(1)},
          {"ClassCode1", str("K1")},
          {"PluCode", str("P1")}},
         {{"ItemCode", str("A1")}, {"ItemName", str("Second")}, {"PluCode", str("P2")}}});
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[A1] First", "[A1] Second"}));
    EXPECT_EQ(item("A1", "ItemName, PosDescription, AdvPrice1, ClassCode1"),
              (std::vector<std::string>{"Second", "Second", "1", "K1"}));
    EXPECT_EQ(plu(), (Rows{{"A1", "P2"}}));
}

TEST_P(Items, PluCodeFallsBackToTheCodeAsRead) {
    run({{{"ItemCode", str("A1")}},
         {{"ItemCode", str("B2")}, {"PluCode", str("")}},
         {{"ItemCode", num(1001)}, {"ItemName", str("Numbered")}, {"PluCode", num(77)}},
         {{"ItemCode", num(1002)}}});
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    // Numbers go into text columns as plain decimals.
    EXPECT_EQ(rows("SELECT ItemCode, PluCode FROM KINV_MT_PLU ORDER BY ItemCode"),
              (Rows{{"1001", "77"}, {"1002", "1002"}, {"A1", "A1"}, {"B2", "B2"}}));
    EXPECT_EQ(one("SELECT ItemName FROM KINV_MT_ITEM WHERE ItemCode='1001'"), "Numbered");
    EXPECT_EQ(ui.list[2], "[1001] Numbered");
}

TEST_P(Items, OnlyTheFirstOfSeveralPluRowsChanges) {
    exec(
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('A1', 'P1');"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('A1', 'P2');"
        // Alike in every value: still only one of them may change.
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('B2', 'PX');"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('B2', 'PX');"
        // A Null among the values it was read with.
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode, PluStatus) VALUES ('C3', NULL, NULL)");
    run({{{"ItemCode", str("A1")}, {"PluCode", str("PN")}},
         {{"ItemCode", str("B2")}, {"PluCode", str("PY")}},
         {{"ItemCode", str("C3")}, {"PluCode", str("PC")}}});
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();

    Rows a = rows("SELECT PluCode FROM KINV_MT_PLU WHERE ItemCode='A1' ORDER BY PluCode");
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[1][0], "PN");
    EXPECT_TRUE(a[0][0] == "P1" || a[0][0] == "P2") << a[0][0];
    EXPECT_EQ(rows("SELECT PluCode FROM KINV_MT_PLU WHERE ItemCode='B2' ORDER BY PluCode"),
              (Rows{{"PX"}, {"PY"}}));
    EXPECT_EQ(rows("SELECT PluCode, PluStatus FROM KINV_MT_PLU WHERE ItemCode='C3'"),
              (Rows{{"PC", "<null>"}}));
}

TEST_P(Items, PaddedLowerCaseCodeIsTidiedOnlyInTheNewItemRow) {
    exec("INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES (' b2 ', 'OLD')");
    run({{{"ItemCode", str(" a1 ")}, {"ItemName", str("Cola")}},
         {{"ItemCode", str(" b2 ")}, {"PluCode", str("PB")}},
         {{"ItemCode", str("ü1")}}});
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[ a1 ] Cola", "[ b2 ] ", "[ü1] "}));
    EXPECT_EQ(rows("SELECT ItemCode, ItemName FROM KINV_MT_ITEM ORDER BY ItemCode"),
              (Rows{{"A1", "Cola"}, {"B2", "<null>"}, {"Ü1", "<null>"}}));
    // The look-ups and the new look-up row use the code as read.
    EXPECT_EQ(rows("SELECT ItemCode, PluCode FROM KINV_MT_PLU ORDER BY ItemCode"),
              (Rows{{" a1 ", " a1 "}, {" b2 ", "PB"}, {"ü1", "ü1"}}));
}

TEST_P(Items, AppCodeOfBlanksIsEmptyTextNotNil) {
    run({{{"ItemCode", str("A1")}, {"AppCode", str("   ")}},
         {{"ItemCode", str("B2")}, {"AppCode", str("")}},
         {{"ItemCode", str("C3")}, {"AppCode", num(12)}}});
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_EQ(rows("SELECT ItemCode, AppCode FROM KINV_MT_ITEM ORDER BY ItemCode"),
              (Rows{{"A1", ""}, {"B2", "NIL"}, {"C3", "12"}}));
}

TEST_P(Items, DescriptionsFallBackToTheNameAsRead) {
    run({{{"ItemCode", str("A1")}, {"ItemName", str("Name")}, {"PosDescription5", str("Five")}},
         {{"ItemCode", str("B2")}, {"PosDescription", str("Pos")}, {"PosDescription3", str("3")}}});
    EXPECT_EQ(item("A1", "PosDescription, PosDescription1, PosDescription5, PosDescription10"),
              (std::vector<std::string>{"Name", "Name", "Five", "Name"}));
    EXPECT_EQ(item("B2", "PosDescription, PosDescription1, PosDescription3, PosDescription10"),
              (std::vector<std::string>{"Pos", "<null>", "3", "<null>"}));
}

TEST_P(Items, EmptyItemCodeIsLookedUpAsEmptyTextAndStoredAsNull) {
    // A table that takes a Null code shows what the row carries.
    recreate("KINV_MT_ITEM", [](std::string ddl) {
        size_t at = ddl.find(" NOT NULL PRIMARY KEY");
        return ddl.erase(at, std::string(" NOT NULL PRIMARY KEY").size());
    });
    run({{{"ItemName", str("Nameless")}}});
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[] Nameless"}));
    EXPECT_EQ(rows("SELECT ItemCode, ItemName, AppCode FROM KINV_MT_ITEM"),
              (Rows{{"<null>", "Nameless", "NIL"}}));
    EXPECT_EQ(plu(), (Rows{{"<null>", "<null>"}}));
}

TEST_P(Items, ErrorAtARowKeepsTheRowsBeforeAndItsLine) {
    // The demo table refuses a Null code: the third row fails at its insert.
    run({{{"ItemCode", str("A1")}, {"ItemName", str("One")}},
         {{"ItemCode", str("B2")}, {"ItemName", str("Two")}},
         {{"ItemName", str("Three")}},
         {{"ItemCode", str("D4")}, {"ItemName", str("Four")}}});
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_FALSE(ui.boxes[0].text.empty());
    EXPECT_EQ(ui.boxes[0].title, "Message");
    EXPECT_EQ(ui.boxes[0].icon, Icon::Critical);
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[A1] One", "[B2] Two", "[] Three"}));
    EXPECT_EQ(rows("SELECT ItemCode FROM KINV_MT_ITEM ORDER BY ItemCode"), (Rows{{"A1"}, {"B2"}}));
    EXPECT_EQ(plu(), (Rows{{"A1", "A1"}, {"B2", "B2"}}));
}

TEST_P(Items, HeaderOnlySheetClearsTheListAndWritesNothing) {
    ui.list = {"left from verification"};
    run({});
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_TRUE(ui.list.empty());
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_ITEM"), "0");
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_PLU"), "0");
}

TEST_P(Items, MissingDestinationTableFailsBeforeTheFirstLine) {
    exec("DROP TABLE KINV_MT_ITEM");
    ui.list = {"left from verification"};
    workbook({itemSheet({{{"ItemCode", str("A1")}}, {{"ItemCode", str("B2")}}})});
    choose("KINV_MT_ITEM");
    CConvert_Click(form);
    ASSERT_EQ(ui.boxes.size(), 3u) << ui.allBoxes();
    EXPECT_TRUE(isBox(ui.boxes[0], "Confirm to Start Migrate ? ", "Question", Icon::Question,
                      Buttons::YesNo));
    EXPECT_FALSE(ui.boxes[1].text.empty());
    EXPECT_EQ(ui.boxes[1].title, "Message");
    EXPECT_EQ(ui.boxes[1].icon, Icon::Critical);
    EXPECT_TRUE(isBox(ui.boxes[2], "Completed.", "Message", Icon::Exclamation));
    EXPECT_TRUE(ui.list.empty());
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_PLU"), "0");
}

TEST_P(Items, MissingWorksheetColumnIsNamedAndStoresNothing) {
    std::vector<std::string> header = itemHeader();
    header.erase(std::find(header.begin(), header.end(), "AdvPrice30"));
    workbook({itemSheet({{{"ItemCode", str("A1")}, {"ItemName", str("Cola")}}}, header)});
    choose("KINV_MT_ITEM");
    runItems();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("AdvPrice30"), std::string::npos) << ui.allBoxes();
    EXPECT_EQ(ui.boxes[0].icon, Icon::Critical);
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[A1] Cola"}));
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_ITEM"), "0");
}

TEST_P(Items, MissingDestinationColumnIsNamed) {
    recreate("KINV_MT_ITEM", [](std::string ddl) {
        size_t at = ddl.find("  RefSeasonCode varchar(10),\n");
        return ddl.erase(at, std::string("  RefSeasonCode varchar(10),\n").size());
    });
    run({{{"ItemCode", str("A1")}}});
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("RefSeasonCode"), std::string::npos) << ui.allBoxes();
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_ITEM"), "0");
}

TEST_P(Items, QuotesAndNonAsciiTextArriveIntact) {
    exec("INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('Z9', 'Keep')");
    std::vector<Cells> sheet = {{{"ItemCode", str("O'BRIEN")}, {"ItemName", str("Tea 'n' cake")}},
                                {{"ItemCode", str("X' OR '1'='1")}, {"ItemName", str("Probe")}},
                                {{"ItemCode", str("ÄPFEL")},
                                 {"ItemName", str("Café Crème 咖啡 😀")},
                                 {"PluCode", str("Ünï")}}};
    run(sheet);
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_EQ(ui.list[2], "[ÄPFEL] Café Crème 咖啡 😀");
    EXPECT_EQ(rows("SELECT ItemCode, ItemName FROM KINV_MT_ITEM ORDER BY ItemName"),
              (Rows{{"ÄPFEL", "Café Crème 咖啡 😀"},
                    {"Z9", "Keep"},
                    {"X' OR '1'='1", "Probe"},
                    {"O'BRIEN", "Tea 'n' cake"}}));
    EXPECT_EQ(one("SELECT PluCode FROM KINV_MT_PLU WHERE ItemCode='ÄPFEL'"), "Ünï");

    // A second run finds every row again by its code: changed, not added.
    ui.list.clear();
    runItems();
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_ITEM"), "4");
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_PLU"), "3");
}

INSTANTIATE_TEST_SUITE_P(Engines, Items, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         engineLabel);

// Type checks that only an engine with typed columns makes.
class TypedItems : public Items {};

TEST_P(TypedItems, ValueTheColumnCannotTakeEndsTheRun) {
    run({{{"ItemCode", str("A1")}, {"AdvPrice1", num(2)}},
         {{"ItemCode", str("B2")}, {"AdvPrice1", str("abc")}},
         {{"ItemCode", str("C3")}}});
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].icon, Icon::Critical);
    EXPECT_EQ(ui.list.size(), 2u);
    EXPECT_EQ(rows("SELECT ItemCode, AdvPrice1 FROM KINV_MT_ITEM"), (Rows{{"A1", "2"}}));
}

TEST_P(TypedItems, ItemRowStaysWhenItsPluRowFails) {
    run({{{"ItemCode", str("A1")}, {"PluCode", str(std::string(40, 'P'))}}});
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_ITEM"), "1");
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_PLU"), "0");
}

// Audit triggers write other tables on every insert and change: each write is still judged by
// its own count, and a change a trigger silently refuses is a row not located.
TEST_P(TypedItems, TriggersWritingOtherTablesLeaveEachWriteItsOwnCount) {
    exec(
        "CREATE TABLE item_audit (code varchar(40), what varchar(10));"
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('A1', 'Old');"
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('Z9', 'Kept')");
    odbc::Statement(*form.st.DestConn)
        .execDirect(
            "CREATE FUNCTION audit_row() RETURNS trigger AS $$ BEGIN "
            "INSERT INTO item_audit VALUES (NEW.ItemCode, TG_OP); "
            "INSERT INTO item_audit VALUES (NEW.ItemCode, TG_OP); "
            "RETURN NEW; END $$ LANGUAGE plpgsql");
    odbc::Statement(*form.st.DestConn)
        .execDirect(
            "CREATE FUNCTION refuse_row() RETURNS trigger AS $$ BEGIN "
            "RETURN NULL; END $$ LANGUAGE plpgsql");
    exec(
        "CREATE TRIGGER item_audit AFTER INSERT OR UPDATE ON KINV_MT_ITEM FOR EACH ROW "
        "EXECUTE FUNCTION audit_row();"
        "CREATE TRIGGER plu_audit AFTER INSERT OR UPDATE ON KINV_MT_PLU FOR EACH ROW "
        "EXECUTE FUNCTION audit_row();"
        "CREATE TRIGGER item_refuse BEFORE UPDATE ON KINV_MT_ITEM FOR EACH ROW "
        "WHEN (OLD.ItemCode = 'Z9') EXECUTE FUNCTION refuse_row()");
    run({{{"ItemCode", str("A1")}, {"ItemName", str("New")}},
         {{"ItemCode", str("B2")}, {"ItemName", str("Two")}},
         {{"ItemCode", str("A1")}, {"ItemName", str("Again")}},
         {{"ItemCode", str("Z9")}, {"ItemName", str("Refused")}}});
    ASSERT_EQ(ui.boxes.size(), 1u) << ui.allBoxes();
    EXPECT_NE(ui.boxes[0].text.find("Row cannot be located for updating"), std::string::npos)
        << ui.boxes[0].text;
    EXPECT_EQ(ui.list,
              (std::vector<std::string>{"[A1] New", "[B2] Two", "[A1] Again", "[Z9] Refused"}));
    EXPECT_EQ(rows("SELECT ItemCode, ItemName FROM KINV_MT_ITEM ORDER BY ItemCode"),
              (Rows{{"A1", "Again"}, {"B2", "Two"}, {"Z9", "Kept"}}));
    EXPECT_EQ(rows("SELECT what, COUNT(*) FROM item_audit GROUP BY what ORDER BY what"),
              (Rows{{"INSERT", "6"}, {"UPDATE", "6"}}));
}

INSTANTIATE_TEST_SUITE_P(Engines, TypedItems, ::testing::Values(Engine::Postgres), engineLabel);

}  // namespace
}  // namespace kordb::test

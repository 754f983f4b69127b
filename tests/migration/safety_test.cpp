// The net around Start: the plan that writes nothing, the undo journal and the undo, the
// all-or-nothing run, the refused value named by row and column, and the statement timeout.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <regex>
#include <set>

#include "core/errors.h"
#include "core/text.h"
#include "migration/journal.h"
#include "migration/plan.h"
#include "migration/undo.h"
#include "settings/destination.h"
#include "settings/odbc.h"
#include "tests/migration/fixture.h"

namespace kordb::test {
namespace {

namespace fs = std::filesystem;
using Cells = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

const std::vector<std::string> kClassHeader = {"ClassCode", "ClassName", "ClassTypeCode",
                                               "AppCode"};
const char* const kTables[] = {"KINV_MT_ITEM", "KINV_MT_PLU", "KINV_MT_CLASS", "KLED_MT_DEBTOR",
                               "KLED_MT_CREDITOR"};

class Safety : public MigrationTest {
  protected:
    void SetUp() override {
        MigrationTest::SetUp();
        form.st.WorkbookTitle = "book.xls";
    }

    // Every row of every table, every column, in one order.
    std::vector<Rows> dump() {
        std::vector<Rows> all;
        for (const char* t : kTables) {
            Rows r = rows(std::string("SELECT * FROM ") + t);
            std::sort(r.begin(), r.end());
            all.push_back(std::move(r));
        }
        return all;
    }
    std::set<std::string> files() {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            names.insert(e.path().string() + " " +
                         std::to_string(e.is_regular_file() ? e.file_size() : 0));
        return names;
    }
    void sheet(const std::string& name, std::vector<std::string> header, std::vector<Cells> cells) {
        workbook({{name, std::move(header), std::move(cells)}});
        choose(name);
        form.st.SheetName = trimUpper(ui.comboText());
    }
    void start() {
        if (form.st.SheetName == "KINV_MT_ITEM")
            MigrateItems(form);
        else
            MigrateMasterTable(form);
    }
    UndoCounts undo(const fs::path& journal, Lines* lines = nullptr) {
        UndoCounts counts;
        UndoJournal(
            form, readJournal(journal),
            [&](const std::string& l) {
                if (lines) lines->push_back(l);
            },
            counts);
        return counts;
    }
    std::string item(const std::string& code, const std::string& column) {
        return one("SELECT " + column + " FROM KINV_MT_ITEM WHERE ItemCode='" + code + "'");
    }
};

TEST_P(Safety, PlanDescribesEveryRowAndWritesNothing) {
    recreate("KINV_MT_CLASS", [](std::string ddl) {
        std::string col = "ClassTypeCode varchar(20)";
        return ddl.replace(ddl.find(col), col.size(), col + " NOT NULL");
    });
    sheet("KINV_MT_ITEM", itemHeader(),
          {{{"ItemCode", str("A1")}, {"ItemName", str("Cola")}, {"PluCode", str("P1")}},
           {{"ItemCode", str("B2")}, {"ItemName", str("Bun")}}});
    start();
    ASSERT_TRUE(ui.boxes.empty()) << ::testing::PrintToString(ui.boxTexts());
    exec(
        "UPDATE KINV_MT_ITEM SET TrsOutlet='XX' WHERE ItemCode='B2';"
        "INSERT INTO KINV_MT_CLASS (ClassCode, ClassTypeCode) VALUES ('C1', 'T')");

    struct Case {
        std::string sheet;
        std::vector<std::string> header;
        std::vector<Cells> rows;
        Lines lines;
        std::string summary;
    };
    const Case cases[] = {
        {"KINV_MT_ITEM",
         itemHeader(),
         {{{"ItemCode", str("A1")}, {"ItemName", str("Cola")}, {"PluCode", str("P1")}},
          {{"ItemCode", str("B2")},
           {"ItemName", str("Bun")},
           {"BasedUnitPrice", num(2)},
           {"PluCode", str("P9")}},
          {{"ItemCode", str("C3")}, {"ItemName", str("Cat")}},
          {{"ItemCode", str("D4")}, {"BasedUnitPrice", str("abc")}},
          {{"ItemCode", str("E5")}, {"BasedMeasure", str(std::string(21, 'm'))}},
          {{"ItemName", str("Nameless")}},
          {{"ItemCode", str("C3")}, {"ItemName", str("Cat")}, {"BasedUnitPrice", num(3.5)}}},
         {"unchanged [A1]",
          "update [B2] BasedUnitPrice: 0 -> 2; TrsOutlet: XX -> HQ; KINV_MT_PLU.PluCode: B2 -> P9",
          "insert [C3]", "refuse [D4] BasedUnitPrice: not a number",
          "refuse [E5] BasedMeasure: value too long (21 > 20)",
          "refuse [] ItemCode: empty but NOT NULL", "update [C3] BasedUnitPrice: 0 -> 3.5"},
         "plan: 1 insert, 2 update, 1 unchanged, 0 skip, 3 refused"},
        {"KINV_MT_CLASS",
         kClassHeader,
         {{{"ClassCode", str("C1")}},
          {{"ClassName", str("No key")}},
          {{"ClassCode", str(" c2 ")}, {"ClassTypeCode", str("T")}},
          {{"ClassCode", str("C2")}},
          {{"ClassCode", str("C3")},
           {"ClassName", str(std::string(101, 'n'))},
           {"ClassTypeCode", str("T")}},
          {{"ClassCode", str("C4")}}},
         {"skip [C1] exists", "skip row 3: no key", "insert [ c2 ]", "skip [C2] exists",
          "refuse [C3] ClassName: value too long (101 > 100)",
          "refuse [C4] ClassTypeCode: empty but NOT NULL without default"},
         "plan: 1 insert, 0 update, 0 unchanged, 3 skip, 2 refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sheet);
        sheet(c.sheet, c.header, c.rows);
        const auto tables = dump();
        const auto before = files();
        ui.boxes.clear();
        ui.list.clear();
        Lines lines;
        PlanCounts counts;
        EXPECT_TRUE(PlanMigration(
            form, [&](const std::string& l) { lines.push_back(l); }, counts));
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(planSummary(counts), c.summary);
        EXPECT_TRUE(ui.boxes.empty()) << ::testing::PrintToString(ui.boxTexts());
        EXPECT_TRUE(ui.list.empty());
        EXPECT_EQ(dump(), tables);
        EXPECT_EQ(files(), before);
    }
}

TEST_P(Safety, UndoGivesTheTablesBackAlsoAfterAFailureAndCanItselfBeUndone) {
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, AppCode, BasedUnitPrice, DateCreated, "
        "TrsOutlet, StockOnHand) VALUES ('A1', 'Old', 'OLD', 1.25, '2001-02-03 04:05:06', 'X', "
        "42);"
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('Z9', 'Other');"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('A1', 'OLDP');"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('A1', 'OLDP');"
        "INSERT INTO KINV_MT_CLASS (ClassCode, ClassName) VALUES ('C0', 'Kept')");
    struct Case {
        std::string sheet;
        std::vector<std::string> header;
        std::vector<Cells> rows;
        bool fails;
    };
    const Cells a1 = {{"ItemCode", str("A1")}, {"ItemName", str("New")}, {"PluCode", str("P1")}};
    const Cells b2 = {{"ItemCode", str("B2")}, {"ItemName", str("Bun")}, {"AdvPrice3", num(0.5)}};
    const Cells b2again = {{"ItemCode", str("B2")}, {"ItemName", str("Bread")}};
    const Cells nameless = {{"ItemName", str("Nameless")}};
    const Case cases[] = {
        {"KINV_MT_ITEM", itemHeader(), {a1, b2, b2again, {{"ItemCode", str("C3")}}}, false},
        {"KINV_MT_ITEM", itemHeader(), {a1, b2, nameless, b2again}, true},
        {"KINV_MT_CLASS",
         kClassHeader,
         {{{"ClassCode", str("C0")}}, {{"ClassCode", str("C1")}}, {{"ClassCode", str("C2")}}},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sheet + (c.fails ? ", failing at its third row" : ""));
        sheet(c.sheet, c.header, c.rows);
        const auto before = dump();
        ui.boxes.clear();
        start();
        EXPECT_EQ(ui.boxes.empty(), c.sheet == "KINV_MT_ITEM" && !c.fails)
            << ::testing::PrintToString(ui.boxTexts());
        const auto afterRun = dump();
        ASSERT_NE(afterRun, before);

        fs::path journal = form.outcome.journal;
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ(journal.parent_path(), form.errorFolder);
        EXPECT_TRUE(
            std::regex_match(journal.filename().string(),
                             std::regex(R"(book\.xls_Migrate_UNDO_\d{8}-\d{6}(-\d+)?\.jsonl)")))
            << journal;

        UndoCounts counts = undo(journal);
        EXPECT_EQ(counts.changed, 0);
        EXPECT_EQ(counts.nothing, c.fails ? 1 : 0) << "the write that failed";
        EXPECT_EQ(dump(), before);

        fs::path undoJournal = form.outcome.journal;
        ASSERT_FALSE(undoJournal.empty());
        ASSERT_NE(undoJournal, journal);
        counts = undo(undoJournal);
        EXPECT_EQ(counts.changed, 0);
        EXPECT_EQ(dump(), afterRun) << "the undo taken back";
        undo(form.outcome.journal);
        EXPECT_EQ(dump(), before);
    }
}

TEST_P(Safety, UndoLeavesARowChangedSinceAlone) {
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, AppCode) VALUES ('A1', 'Old', 'OLD');"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('A1', 'OLDP')");
    sheet("KINV_MT_ITEM", itemHeader(),
          {{{"ItemCode", str("A1")}, {"PluCode", str("P1")}},
           {{"ItemCode", str("B2")}, {"ItemName", str("Bun")}}});
    start();
    ASSERT_TRUE(ui.boxes.empty()) << ::testing::PrintToString(ui.boxTexts());
    exec(
        "UPDATE KINV_MT_ITEM SET AppCode='HAND' WHERE ItemCode='A1';"
        "UPDATE KINV_MT_ITEM SET ItemName='Edited' WHERE ItemCode='B2'");

    Lines lines;
    UndoCounts counts = undo(form.outcome.journal, &lines);
    EXPECT_EQ(undoSummary(counts),
              "undo: 1 deleted, 1 restored, 0 put back, 0 nothing to undo, 2 changed since "
              "(left alone)");
    EXPECT_EQ(lines, (Lines{"deleted KINV_MT_PLU [B2] (row 3)",
                            "changed since KINV_MT_ITEM [B2] (row 3): ItemName is Edited, the run "
                            "wrote Bun; left alone",
                            "restored KINV_MT_PLU [A1] (row 2)",
                            "changed since KINV_MT_ITEM [A1] (row 2): AppCode is HAND, the run "
                            "wrote NIL; left alone"}));
    EXPECT_EQ(rows("SELECT ItemCode, ItemName, AppCode FROM KINV_MT_ITEM ORDER BY ItemCode"),
              (Rows{{"A1", "Old", "HAND"}, {"B2", "Edited", "NIL"}}));
    EXPECT_EQ(rows("SELECT ItemCode, PluCode FROM KINV_MT_PLU"), (Rows{{"A1", "OLDP"}}));
}

TEST_P(Safety, AtomicRunStoresAllOrNothing) {
    exec("INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('A1', 'Old')");
    form.atomicStart = true;
    const Cells a1 = {{"ItemCode", str("A1")}, {"ItemName", str("New")}};
    const Cells b2 = {{"ItemCode", str("B2")}, {"ItemName", str("Bun")}};
    for (bool fails : {true, false}) {
        SCOPED_TRACE(fails ? "error at the third row" : "no error");
        sheet("KINV_MT_ITEM", itemHeader(),
              {a1, b2,
               fails ? Cells{{"ItemName", str("Nameless")}} : Cells{{"ItemCode", str("C3")}}});
        const auto before = dump();
        ui.boxes.clear();
        start();
        EXPECT_EQ(ui.list, (Lines{"[A1] New", "[B2] Bun", fails ? "[] Nameless" : "[C3] "}));
        EXPECT_EQ(form.outcome.rolledBack, fails);
        if (fails) {
            ASSERT_EQ(ui.boxes.size(), 1u) << ::testing::PrintToString(ui.boxTexts());
            EXPECT_EQ(ui.boxes[0].icon, Icon::Critical);
            EXPECT_EQ(dump(), before);
            EXPECT_TRUE(form.outcome.journal.empty()) << "a journal of nothing stored";
        } else {
            EXPECT_TRUE(ui.boxes.empty()) << ::testing::PrintToString(ui.boxTexts());
            EXPECT_EQ(rows("SELECT ItemCode, ItemName FROM KINV_MT_ITEM ORDER BY ItemCode"),
                      (Rows{{"A1", "New"}, {"B2", "Bun"}, {"C3", "<null>"}}));
            EXPECT_FALSE(form.outcome.journal.empty());
        }
    }
    // The connection is back to storing row by row.
    form.atomicStart = false;
    sheet("KINV_MT_ITEM", itemHeader(), {{{"ItemCode", str("D4")}}, {{"ItemName", str("x")}}});
    start();
    EXPECT_EQ(item("D4", "ItemCode"), "D4");
}

TEST_P(Safety, JournalThatCannotBeWrittenStopsStartBeforeItsFirstWrite) {
    fs::path blocker = dir / "not-a-folder";
    std::ofstream(blocker) << "x";
    form.errorFolder = blocker / "errors";
    for (const char* name : {"KINV_MT_ITEM", "KINV_MT_CLASS"}) {
        SCOPED_TRACE(name);
        sheet(name, name == std::string("KINV_MT_ITEM") ? itemHeader() : kClassHeader,
              {{{name == std::string("KINV_MT_ITEM") ? "ItemCode" : "ClassCode", str("K1")}}});
        const auto before = dump();
        ui.boxes.clear();
        start();
        ASSERT_FALSE(ui.boxes.empty());
        EXPECT_NE(
            ui.boxes.back().text.find((blocker / "errors" / "book.xls_Migrate_UNDO_").string()),
            std::string::npos)
            << ::testing::PrintToString(ui.boxTexts());
        EXPECT_EQ(dump(), before);
    }
}

TEST_P(Safety, RefusedValueNamesItsRowAndColumn) {
    struct Case {
        bool postgresOnly;
        std::string sheet;
        std::vector<std::string> header;
        std::vector<Cells> rows;
        std::string prefix;
    };
    const Case cases[] = {
        {false,
         "KINV_MT_ITEM",
         itemHeader(),
         {{{"ItemCode", str("A1")}}, {{"ItemCode", str("B2")}}, {{"ItemName", str("Nameless")}}},
         "Row 4, column ItemCode: "},
        {true,
         "KINV_MT_ITEM",
         itemHeader(),
         {{{"ItemCode", str("A1")}},
          {{"ItemCode", str("B2")}, {"BasedUnitPrice", "{\"date\":\"2024-01-02\"}"}}},
         "Row 3, column BasedUnitPrice: "},
        {true,
         "KLED_MT_DEBTOR",
         debtorHeader("Debtor"),
         {{{"DebtorCode", str("D1")}}, {{"DebtorCode", str("D2")}, {"PaymentTerm", num(70000)}}},
         "Row 3, column PaymentTerm: "},
    };
    for (const Case& c : cases) {
        if (c.postgresOnly && !isPostgres()) continue;
        SCOPED_TRACE(c.prefix);
        sheet(c.sheet, c.header, c.rows);
        ui.boxes.clear();
        start();
        ASSERT_FALSE(ui.boxes.empty());
        const Box& description = ui.boxes.back();
        EXPECT_EQ(description.text.rfind(c.prefix, 0), 0u)
            << ::testing::PrintToString(ui.boxTexts());
        EXPECT_GT(description.text.size(), c.prefix.size() + 5) << "the driver's own text";
        if (c.sheet != "KINV_MT_ITEM") {
            ASSERT_EQ(ui.boxes.size(), 2u);
            EXPECT_NE(ui.boxes[0].text.find_first_of("0123456789"), std::string::npos)
                << "the number box as before";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, Safety, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         engineLabel);

class Timeout : public Safety {};

TEST_P(Timeout, RowLockedByAnotherConnectionEndsTheRunWithTheTimeout) {
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('A1', 'Old');"
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('B2', 'Old')");
    odbc::Connection holder;
    holder.open(odbcConnectionString(parseConnectionString(assembleConnectionString(
                    dest.password, dest.user, dest.database, dest.server))),
                5);
    holder.setAutoCommit(false);
    {
        odbc::Statement lock(holder);
        lock.execDirect("SELECT ItemCode FROM KINV_MT_ITEM WHERE ItemCode='B2' FOR UPDATE");
        lock.fetchAll();
    }
    form.st.DestConn->setStatementTimeout(2);
    sheet("KINV_MT_ITEM", itemHeader(),
          {{{"ItemCode", str("A1")}, {"ItemName", str("New")}},
           {{"ItemCode", str("B2")}, {"ItemName", str("New")}},
           {{"ItemCode", str("C3")}, {"ItemName", str("New")}}});
    auto started = std::chrono::steady_clock::now();
    start();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    holder.rollback();

    ASSERT_EQ(ui.boxes.size(), 1u) << ::testing::PrintToString(ui.boxTexts());
    EXPECT_NE(ui.boxes[0].text.find("within 2 seconds"), std::string::npos)
        << ::testing::PrintToString(ui.boxTexts());
    EXPECT_EQ(ui.boxes[0].text.rfind("Row 3", 0), 0u) << ::testing::PrintToString(ui.boxTexts());
    EXPECT_LT(seconds, 10);
    EXPECT_EQ(rows("SELECT ItemCode, ItemName FROM KINV_MT_ITEM ORDER BY ItemCode"),
              (Rows{{"A1", "New"}, {"B2", "Old"}}));
    EXPECT_EQ(rows("SELECT ItemCode FROM KINV_MT_PLU"), (Rows{{"A1"}}));
}

INSTANTIATE_TEST_SUITE_P(Engines, Timeout, ::testing::Values(Engine::Postgres), engineLabel);

}  // namespace
}  // namespace kordb::test

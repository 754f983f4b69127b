// The net around Start: the plan that writes nothing, the undo journal and the undo, the
// all-or-nothing run, the refused value named by row and column, and the statement timeout.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <csignal>
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

class Safety : public MigrationTest {
  protected:
    void SetUp() override {
        MigrationTest::SetUp();
        form.st.WorkbookTitle = "book.xls";
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
    UndoReport undo(const fs::path& journal, Lines* lines = nullptr, bool skipChanged = false) {
        JournalReader reader(journal);
        UndoOptions options;
        options.skipChanged = skipChanged;
        UndoReport r = undoJournal(*form.st.DestConn, reader, options, [&](const std::string& l) {
            if (lines) lines->push_back(l);
        });
        EXPECT_EQ(r.error, "");
        return r;
    }
    // Every row of table as the engine itself writes it, in one order: what undo must give
    // back byte for byte.
    Rows exact(const std::string& table) {
        std::string sql = "SELECT CAST(t AS text) FROM " + table + " t";
        if (!isPostgres()) {
            std::string cols;
            for (const auto& r : rows("SELECT name FROM pragma_table_info('" + table + "')"))
                cols +=
                    (cols.empty() ? "" : "||'|'||") + ("typeof(" + r[0] + ")||quote(" + r[0] + ")");
            sql = "SELECT " + cols + " FROM " + table;
        }
        Rows r = rows(sql);
        std::sort(r.begin(), r.end());
        return r;
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
          {{"ItemCode", str("C3")}, {"ItemName", str("Cat")}, {"BasedUnitPrice", num(3.5)}},
          {{"ItemCode", str("a1")}, {"ItemName", str("Cola")}},
          {{"ItemCode", str("C3 ")}, {"ItemName", str("Cat")}},
          {{"ItemCode", str("F6")}, {"BasedUnitPrice", num(1.23456)}},
          {{"ItemCode", str("F6")}, {"BasedUnitPrice", num(1.23464)}}},
         {"unchanged [A1]",
          "update [B2] BasedUnitPrice: 0 -> 2; TrsOutlet: XX -> HQ; KINV_MT_PLU.PluCode: B2 -> P9",
          "insert [C3]", "refuse [D4] BasedUnitPrice: not a number",
          "refuse [E5] BasedMeasure: value too long (21 > 20)",
          "refuse [] ItemCode: empty but NOT NULL", "update [C3] BasedUnitPrice: 0 -> 3.5",
          "refuse [a1] ItemCode: stored as A1, a key that exists already",
          "refuse [C3 ] ItemCode: stored as C3, a key that exists already", "insert [F6]",
          // The SQLite driver gives numeric columns as doubles, whose value is kept whole.
          isPostgres() ? "unchanged [F6]" : "update [F6] BasedUnitPrice: 1.23456 -> 1.23464"},
         isPostgres() ? "plan: 2 insert, 2 update, 2 unchanged, 0 skip, 5 refused"
                      : "plan: 2 insert, 3 update, 1 unchanged, 0 skip, 5 refused"},
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

TEST_P(Safety, PlanShowsOldValuesAsStored) {
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, BasedUnitPrice, DateCreated) VALUES "
        "('G7', 'Old', 12345678.1234, '2020-01-02 03:04:05.678')");
    sheet("KINV_MT_ITEM", itemHeader(),
          {{{"ItemCode", str("G7")}, {"ItemName", str("Old")}, {"BasedUnitPrice", num(1)}}});
    Lines lines;
    PlanCounts counts;
    ASSERT_TRUE(PlanMigration(
        form, [&](const std::string& l) { lines.push_back(l); }, counts));
    ASSERT_EQ(lines.size(), 1u);
    for (const char* shown :
         {"BasedUnitPrice: 12345678.1234 -> 1;", "DateCreated: 2020-01-02T03:04:05.678 -> "})
        EXPECT_NE(lines[0].find(shown), std::string::npos) << lines[0];
}

TEST_P(Safety, UndoGivesTheTablesBackAlsoAfterAFailure) {
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
        ASSERT_NE(dump(), before);

        fs::path journal = form.outcome.journal;
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ(journal.parent_path(), form.errorFolder);
        EXPECT_TRUE(
            std::regex_match(journal.filename().string(),
                             std::regex(R"(book\.xls_Migrate_UNDO_\d{8}-\d{6}(-\d+)?\.jsonl)")))
            << journal;

        Lines lines;
        UndoReport report = undo(journal, &lines);
        EXPECT_TRUE(report.applied);
        EXPECT_EQ(report.changed, 0);
        // The write that failed, and with a batch the writes it held, taken back with it.
        if (c.fails)
            EXPECT_GE(report.nothing, 1);
        else
            EXPECT_EQ(report.nothing, 0);
        if (c.fails) {
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0],
                      "nothing to undo KINV_MT_ITEM [NULL] (row 4): the write was refused");
        }
        EXPECT_EQ(dump(), before);

        // The undo's own record lies beside the journal, named after it, and is no journal of
        // a migration to take back in turn.
        ASSERT_FALSE(report.journal.empty());
        EXPECT_EQ(report.journal.parent_path(), journal.parent_path());
        EXPECT_EQ(report.journal.filename().string().rfind(journal.stem().string() + "_UNDO_", 0),
                  0u);
        EXPECT_THROW(JournalReader{report.journal}, KorError);
    }
}

TEST_P(Safety, UndoRestoresEveryValueExactly) {
    // Values at the edges of what the columns hold, each given back by the undo.
    const std::string stamp = isPostgres() ? "2020-01-02 03:04:05.678901" : "2021-05-05";
    // The SQLite driver hands doubles over as 15 digits: there, values that fit them.
    const std::string big = isPostgres() ? "99999999999999.9999" : "9999999999.9999";
    const std::string odd = isPostgres() ? "12345678901234.5678" : "1234567890.5678";
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, AppCode, BasedUnitPrice, BasedUnitCost, "
        "MinBasedUnitPrice, AdvPrice1, DateCreated, PosDescription) VALUES ('A1', "
        "'Sm\u00f8rrebr\u00f8d \u4e2d\u6587 \U0001F600', 'it''s', " +
        big + ", " + odd + ", -0.0001, NULL, '" + stamp +
        "', 'a\tb\nc');"
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, BasedUnitPrice) VALUES ('A2', NULL, -" +
        big +
        ");"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('A1', 'P''Q')");
    const Rows items = exact("KINV_MT_ITEM"), plus = exact("KINV_MT_PLU");
    sheet("KINV_MT_ITEM", itemHeader(),
          {{{"ItemCode", str("A1")},
            {"ItemName", str("New")},
            {"BasedUnitPrice", num(1)},
            {"BasedUnitCost", num(2)},
            {"MinBasedUnitPrice", num(3)},
            {"AdvPrice1", num(4)},
            {"PluCode", str("P1")}},
           {{"ItemCode", str("A2")}, {"ItemName", str("Two")}, {"BasedUnitPrice", num(0.3)}},
           {{"ItemCode", str("A3")}, {"ItemName", str("Three")}}});
    start();
    ASSERT_TRUE(ui.boxes.empty()) << ::testing::PrintToString(ui.boxTexts());
    ASSERT_NE(exact("KINV_MT_ITEM"), items);

    UndoReport report = undo(form.outcome.journal);
    EXPECT_EQ(undoSummary(report),
              "undo: 3 deleted, 3 restored, 0 nothing to undo, 0 changed since (left alone)");
    EXPECT_EQ(exact("KINV_MT_ITEM"), items);
    EXPECT_EQ(exact("KINV_MT_PLU"), plus);
}

TEST_P(Safety, TextAnEngineKeptInANumberColumnIsUndoneToo) {
    if (isPostgres()) GTEST_SKIP() << "PostgreSQL refuses a text where a number belongs";
    // SQLite keeps a text in a numeric column as it was given; read back as a number it
    // would be NULL or a part of it, and every such row would seem changed since.
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, BasedUnitPrice) VALUES ('A1', 'Old', "
        "'was text')");
    const Rows items = exact("KINV_MT_ITEM");
    sheet("KINV_MT_ITEM", itemHeader(),
          {{{"ItemCode", str("A1")}, {"BasedUnitPrice", str("abc")}},
           {{"ItemCode", str("A2")},
            {"BasedUnitPrice", str("1899-12-31")},
            {"BasedUnitCost", str("06:00:00")}}});
    start();
    ASSERT_TRUE(ui.boxes.empty()) << ::testing::PrintToString(ui.boxTexts());
    UndoReport report = undo(form.outcome.journal);
    EXPECT_EQ(undoSummary(report),
              "undo: 3 deleted, 1 restored, 0 nothing to undo, 0 changed since (left alone)");
    EXPECT_EQ(exact("KINV_MT_ITEM"), items);
    EXPECT_EQ(exact("KINV_MT_PLU"), Rows{});
}

TEST_P(Safety, RowChangedSinceStopsTheUndoOrIsLeftWithItsPluRow) {
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName, AppCode) VALUES ('A1', 'Old', 'OLD');"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('A1', 'OLDP')");
    sheet("KINV_MT_ITEM", itemHeader(),
          {{{"ItemCode", str("A1")}, {"PluCode", str("P1")}},
           {{"ItemCode", str("B2")}, {"ItemName", str("Bun")}},
           {{"ItemCode", str("C3")}, {"ItemName", str("Cat")}}});
    start();
    ASSERT_TRUE(ui.boxes.empty()) << ::testing::PrintToString(ui.boxTexts());
    // A written column edited by hand, and a column the run never wrote moved on (a sale).
    exec(
        "UPDATE KINV_MT_ITEM SET AppCode='HAND' WHERE ItemCode='A1';"
        "UPDATE KINV_MT_ITEM SET StockOnHand=5 WHERE ItemCode='B2'");
    const auto changed = dump();
    // Names the run did not write come as the engine spells them.
    const std::string stock = isPostgres() ? "stockonhand" : "StockOnHand";
    const Lines leftAlone = {
        "changed since KINV_MT_PLU [B2] (row 3): written with a row changed since; left alone",
        "changed since KINV_MT_ITEM [B2] (row 3): " + stock + " is 5, the run wrote 0; left alone",
        "changed since KINV_MT_PLU [A1] (row 2): written with a row changed since; left alone",
        "changed since KINV_MT_ITEM [A1] (row 2): AppCode is HAND, the run wrote NIL; left "
        "alone"};
    Lines withRest = {"deleted KINV_MT_PLU [C3] (row 4)", "deleted KINV_MT_ITEM [C3] (row 4)"};
    withRest.insert(withRest.end(), leftAlone.begin(), leftAlone.end());
    struct Case {
        bool skipChanged;
        Lines lines;
        std::string summary;
    };
    const Case cases[] = {
        {false, leftAlone,
         "undo: 0 deleted, 0 restored, 0 nothing to undo, 4 changed since (left alone)"},
        {true, withRest,
         "undo: 2 deleted, 0 restored, 0 nothing to undo, 4 changed since (left alone)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.skipChanged ? "--skip-changed" : "by default");
        Lines lines;
        UndoReport report = undo(form.outcome.journal, &lines, c.skipChanged);
        EXPECT_EQ(report.applied, c.skipChanged);
        EXPECT_EQ(undoSummary(report), c.summary);
        EXPECT_EQ(lines, c.lines);
        if (!c.skipChanged) {
            EXPECT_EQ(dump(), changed) << "nothing changes";
        }
    }
    EXPECT_EQ(rows("SELECT ItemCode, AppCode, StockOnHand FROM KINV_MT_ITEM ORDER BY ItemCode"),
              (Rows{{"A1", "HAND", "0"}, {"B2", "NIL", "5"}}));
    EXPECT_EQ(rows("SELECT ItemCode, PluCode FROM KINV_MT_PLU ORDER BY ItemCode"),
              (Rows{{"A1", "P1"}, {"B2", "B2"}}));
}

TEST_P(Safety, JournalOfAnythingButThisRunIsRefusedBeforeAnythingRuns) {
    form.rowByRow = true;  // an outcome a write
    exec(
        "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('A1', 'Old');"
        "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('A1', 'OLDP');"
        "INSERT INTO KLED_MT_DEBTOR (DebtorCode) VALUES ('D1')");
    sheet("KINV_MT_ITEM", itemHeader(),
          {{{"ItemCode", str("A1")}, {"ItemName", str("New")}},
           {{"ItemCode", str("B2")}, {"ItemName", str("Bun")}}});
    start();
    ASSERT_TRUE(ui.boxes.empty()) << ::testing::PrintToString(ui.boxTexts());
    const fs::path journal = form.outcome.journal;
    const std::string text = readFile(journal);
    const auto stored = dump();

    std::string wide;
    for (int i = 0; i < 100000; ++i) wide += "\"c" + std::to_string(i) + "\":1,";
    // Each edit, and the refusal it meets (empty: the journal is still taken).
    struct Case {
        std::string pattern, replacement, refusal;
    };
    const Case cases[] = {
        {R"("key":"B2","new":\{.*\}\})", R"("key":"B2","new":{}})", "\"new\" names no column"},
        {R"("table":"KINV_MT_PLU")", R"("table":"KLED_MT_DEBTOR")",
         "table \"KLED_MT_DEBTOR\" is not one a migration of sheet \"KINV_MT_ITEM\" writes"},
        {R"("op":"insert")", R"("op":"delete")", "a deletion, which no migration writes"},
        {R"x(("old":\{)"ItemName")x", R"x($1"StockOnHand")x", "\"old\" and \"new\" name different"},
        {R"x("ItemName":"Old"(.*?)"ItemName":"New")x", R"x("StockOnHand":1$1"StockOnHand":2)x",
         "column \"StockOnHand\" of KINV_MT_ITEM is not one a migration changes"},
        {R"("keyColumn":"ItemCode")", R"("keyColumn":"ItemName")", "\"keyColumn\" of"},
        {R"("sheet":"KINV_MT_ITEM")", R"("sheet":"KINV_MT_ITEM","Sheet":"X")", "given twice"},
        {R"("sheet":"KINV_MT_ITEM")", R"("sheet":"KLED_MT_DEBTOR")", "is not one a migration"},
        {R"("started")", R"("undoes":"x.jsonl","started")", "records an undo"},
        {R"("seq":2)", R"("seq":7)", "\"seq\" is out of order"},
        {R"(\{"done":1\})", R"({"done":5})", "an outcome that follows no write"},
        {R"(\{"done":1\})", R"({"committed":true})", "a commit that no atomic run made"},
        {R"("key":"B2","new":\{)", R"("key":"B2","new":{"Bogus":1,)",
         "names column Bogus of KINV_MT_ITEM, which the destination does not have"},
        {R"("workbook":"book.xls")", R"("workbook":"../../../etc/x")", ""},
        // Less than the whole row: the row would be deleted whatever it holds now.
        {R"("key":"B2","new":\{.*\}\})", R"("key":"B2","new":{"ItemCode":"B2"}})",
         "without its column"},
        {R"("row":3)", R"("row":2)", "row 2 has more writes than a migration makes"},
        // Read in time that grows with the line's length only.
        {R"("key":"B2","new":\{)", R"("key":"B2","new":{)" + wide, "than any table has"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern + " -> " + c.replacement);
        std::string edited = std::regex_replace(text, std::regex(c.pattern), c.replacement,
                                                std::regex_constants::format_first_only);
        ASSERT_NE(edited, text);
        fs::path file = dir / "edited.jsonl";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << edited;
        std::string refusal;
        try {
            JournalReader reader(file);
            checkAgainstCatalogue(reader, *form.st.DestConn);
            if (c.refusal.empty()) {
                UndoReport r = undo(file);
                EXPECT_EQ(r.journal.parent_path(), dir) << "the undo's journal beside its journal";
                start();  // back to what was stored
            }
        } catch (const KorError& e) {
            refusal = e.description();
        }
        if (c.refusal.empty()) {
            EXPECT_EQ(refusal, "");
        } else {
            EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
        }
        EXPECT_EQ(dump(), stored);
    }
}

TEST_P(Safety, UndoPassesOverWritesThatWereNotStored) {
    form.rowByRow = true;  // an outcome a write
    exec("INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('A1', 'Old')");
    sheet("KINV_MT_ITEM", itemHeader(),
          {{{"ItemCode", str("A1")}, {"ItemName", str("New")}},
           {{"ItemCode", str("B2")}, {"ItemName", str("Bun")}}});
    // Writes: 1 the A1 item changed, 2 its PLU row added, 3 and 4 the same for B2.
    struct Case {
        bool atomic;
        std::string pattern, replacement, summary;
    };
    const Case cases[] = {
        {false, "", "",
         "undo: 3 deleted, 1 restored, 0 nothing to undo, 0 changed since (left alone)"},
        // Refused: another run had stored B2's PLU row in between; it stays.
        {false, R"(\{"done":4\})", R"({"failed":4})",
         "undo: 2 deleted, 1 restored, 1 nothing to undo, 0 changed since (left alone)"},
        // Killed after sending the write: the row is looked at before anything is done.
        {false, R"(\{"done":4\}\n)", "",
         "undo: 3 deleted, 1 restored, 0 nothing to undo, 0 changed since (left alone)"},
        // Killed while its line was written: the write was never sent.
        {false, R"(\{"seq":4[\s\S]*)", R"({"seq":4,"row":3,"op":"ins)",
         "undo: 2 deleted, 1 restored, 0 nothing to undo, 0 changed since (left alone)"},
        // An atomic run killed before its commit stored nothing.
        {true, R"(\{"committed":true\}\n)", "",
         "undo: 0 deleted, 0 restored, 4 nothing to undo, 0 changed since (left alone)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        exec(
            "DELETE FROM KINV_MT_PLU; DELETE FROM KINV_MT_ITEM WHERE ItemCode <> 'A1'; "
            "UPDATE KINV_MT_ITEM SET ItemName = 'Old'");
        form.atomicStart = c.atomic;
        start();
        ASSERT_TRUE(ui.boxes.empty()) << ::testing::PrintToString(ui.boxTexts());
        const auto stored = dump();
        const std::string text = readFile(form.outcome.journal);
        std::string edited = c.pattern.empty()
                                 ? text
                                 : std::regex_replace(text, std::regex(c.pattern), c.replacement,
                                                      std::regex_constants::format_first_only);
        ASSERT_TRUE(c.pattern.empty() || edited != text);
        fs::path file = dir / "edited.jsonl";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << edited;
        EXPECT_EQ(undoSummary(undo(file)), c.summary);
        if (c.atomic) {
            EXPECT_EQ(dump(), stored);
        }
    }
    form.atomicStart = false;
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

// The journal's file stops growing (a full disk) within the first batch or part way: nothing
// is stored that the file does not hold, so undo takes back every row stored.
TEST_P(Safety, JournalOutOfRoomLeavesNothingStoredItDoesNotHold) {
    // The limit holds for every file this process writes, an SQLite destination's too.
    if (!isPostgres()) GTEST_SKIP() << "the destination is written by this process";
    std::vector<Cells> cells;
    for (int i = 0; i < 1200; ++i)
        cells.push_back({{"ItemCode", str("K" + std::to_string(i))},
                         {"ItemName", str(std::string(40, 'n'))},
                         {"PluCode", str("P" + std::to_string(i))}});
    sheet("KINV_MT_ITEM", itemHeader(), cells);
    const auto before = dump();
    // About 2 KB of lines a row, 500 rows a batch.
    for (rlim_t limit : {rlim_t(300 * 1024), rlim_t(1500 * 1024)}) {
        SCOPED_TRACE(limit);
        ui.boxes.clear();
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = limit;
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        start();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        ASSERT_FALSE(ui.boxes.empty());
        EXPECT_NE(ui.boxes.back().text.find("cannot be written"), std::string::npos)
            << ::testing::PrintToString(ui.boxTexts());
        const long stored = std::stol(one("SELECT COUNT(*) FROM KINV_MT_ITEM"));
        EXPECT_LT(stored, 1200);
        UndoReport report = undo(form.outcome.journal);
        EXPECT_TRUE(report.applied);
        EXPECT_EQ(report.deleted, 2 * stored);
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

// Start and the plan with the rows' keys looked up a batch at a time give what one look-up a
// row gives: the same tables, list lines, boxes and journal, also where rows repeat a key, differ
// from a stored key only in letter case or blanks, or fail.

#include <algorithm>
#include <fstream>
#include <regex>

#include "core/text.h"
#include "migration/plan.h"
#include "migration/undo.h"
#include "settings/odbc.h"
#include "tests/migration/fixture.h"

namespace kordb::test {
namespace {

using Cells = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

class Batches : public MigrationTest {
  protected:
    struct Result {
        std::vector<Rows> tables;
        Lines list, boxes, journal, plan;
        bool operator==(const Result&) const = default;
    };

    bool undoAfter = true;
    std::string setUp;  // more stored rows, after the usual ones

    Result run(const Sheet& sheet, bool rowByRow) {
        exec(
            "DELETE FROM KINV_MT_PLU; DELETE FROM KINV_MT_ITEM; DELETE FROM KINV_MT_CLASS;"
            "DELETE FROM KLED_MT_DEBTOR;"
            "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('AI03', 'Stored');"
            "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('AI03', 'P0');"
            "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('AI03', 'P0');"
            "INSERT INTO KINV_MT_CLASS (ClassCode) VALUES ('C1');"
            "INSERT INTO KLED_MT_DEBTOR (DebtorCode) VALUES ('D1')");
        if (!setUp.empty()) exec(setUp);
        workbook({sheet});
        choose(sheet.name);
        form.st.SheetName = trimUpper(ui.comboText());
        form.rowByRow = rowByRow;
        const auto before = dump();
        Result r;
        PlanCounts counts;
        PlanMigration(
            form, [&](const std::string& l) { r.plan.push_back(l); }, counts);
        ui.boxes.clear();
        ui.list.clear();
        if (form.st.SheetName == "KINV_MT_ITEM")
            MigrateItems(form);
        else
            MigrateMasterTable(form);
        r.list = ui.list;
        r.boxes = ui.boxTexts();
        for (const char* t : {"KINV_MT_ITEM", "KINV_MT_PLU", "KINV_MT_CLASS", "KLED_MT_DEBTOR"}) {
            Rows rows = this->rows(std::string("SELECT * FROM ") + t);
            std::sort(rows.begin(), rows.end());
            r.tables.push_back(std::move(rows));
        }
        // The writes the journal says were stored, without their numbers: a batch records its
        // outcome once, and a batch taken back and run again row by row writes anew.
        std::ifstream in(form.outcome.journal);
        std::string line;
        std::getline(in, line);
        Lines pending;
        while (std::getline(in, line)) {
            if (line.rfind("{\"done\":", 0) == 0) {
                r.journal.insert(r.journal.end(), pending.begin(), pending.end());
                pending.clear();
            } else if (line.rfind("{\"failed\":", 0) == 0) {
                pending.clear();
            } else {
                pending.push_back(line.substr(line.find(',')));
            }
        }
        r.journal.insert(r.journal.end(), pending.begin(), pending.end());
        // And the journal takes back what it says was stored.
        if (undoAfter && !form.outcome.journal.empty()) {
            JournalReader reader(form.outcome.journal);
            EXPECT_EQ(undoJournal(*form.st.DestConn, reader, {}, [](const std::string&) {}).error,
                      "");
            EXPECT_EQ(dump(), before) << "after the undo";
        }
        EXPECT_TRUE(form.outcome.rowByRowBecause.empty()) << form.outcome.rowByRowBecause;
        return r;
    }
};

TEST_P(Batches, GiveWhatOneLookUpARowGives) {
    const Cells nameless = {{"ItemName", str("Nameless")}};
    // Sheets of several batches: keys repeated across a batch's edge, a stored key in another
    // form at the edge, and a row failing first in its batch.
    auto many = [](const std::string& column, int count, std::map<int, Cells> at) {
        std::vector<Cells> rows;
        for (int i = 0; i < count; ++i)
            rows.push_back(at.count(i) ? at[i] : Cells{{column, str("B" + std::to_string(i))}});
        return rows;
    };
    const Sheet sheets[] = {
        {"KINV_MT_ITEM", itemHeader(),
         many("ItemCode", 1050,
              {{498, {{"ItemCode", str("b10")}}},
               {499, {{"ItemCode", str("AI03 ")}}},
               {500, {{"ItemCode", str("B10")}, {"ItemName", str("Again")}}},
               {501, {{"ItemCode", str("B499")}}},
               {1000, {{"ItemCode", str("ai03")}}}})},
        {"KINV_MT_ITEM", itemHeader(), many("ItemCode", 560, {{500, nameless}})},
        {"KLED_MT_DEBTOR", debtorHeader("Debtor"),
         many("DebtorCode", 1010,
              {{7, {{"DebtorCode", str("Q'1")}}},
               {8, {{"DebtorName", str("No code")}}},
               {9, {{"DebtorCode", str("q'1 ")}}},
               {499, {{"DebtorCode", str(" b3")}}},
               {500, {{"DebtorCode", str("d1")}}}})},
        {"KINV_MT_ITEM",
         itemHeader(),
         {{{"ItemCode", str("N1")}, {"ItemName", str("New")}, {"PluCode", str("P1")}},
          {{"ItemCode", str("N2")}, {"ItemName", str("Newer")}}}},
        {"KINV_MT_ITEM",
         itemHeader(),
         {{{"ItemCode", str("AI03")}, {"ItemName", str("Changed")}, {"BasedUnitPrice", num(2)}}}},
        // Repeated inside the sheet, differing only in case or blanks, and a stored key so.
        {"KINV_MT_ITEM",
         itemHeader(),
         {{{"ItemCode", str("K1")}, {"ItemName", str("First")}},
          {{"ItemCode", str("K1")}, {"ItemName", str("Second")}, {"PluCode", str("PK")}},
          {{"ItemCode", str("k2 ")}, {"ItemName", str("Padded")}},
          {{"ItemCode", str("K2")}, {"ItemName", str("Tidy")}},
          {{"ItemCode", str("ai03")}, {"ItemName", str("Lower")}}}},
        // Rows that each leave other columns empty: their columns' defaults as row by row.
        {"KINV_MT_ITEM",
         itemHeader(),
         {{{"ItemCode", str("S1")}, {"ClassCode1", str("C1")}},
          {{"ItemCode", str("S2")}, {"AdvPrice1", num(1.5)}},
          {{"ItemCode", str("S3")}, {"AdvPrice2", num(2)}, {"ClassCode1", str("C2")}},
          {{"ItemCode", str("S4")}, {"BasedUnitPrice", num(3)}},
          {{"ItemCode", str("S5")}}}},
        // A row that fails first, in the middle, and last.
        {"KINV_MT_ITEM", itemHeader(), {nameless, {{"ItemCode", str("F1")}}}},
        {"KINV_MT_ITEM",
         itemHeader(),
         {{{"ItemCode", str("F1")}}, nameless, {{"ItemCode", str("F2")}}}},
        {"KINV_MT_ITEM", itemHeader(), {{{"ItemCode", str("F1")}}, nameless}},
        {"KINV_MT_CLASS",
         {"ClassCode", "ClassName", "ClassTypeCode", "AppCode"},
         {{{"ClassCode", str("C1")}},
          {{"ClassCode", str(" c2 ")}},
          {{"ClassCode", str("C2")}},
          {{"ClassCode", str("C3")}, {"ClassName", str(std::string(101, 'n'))}}}},
        {"KLED_MT_DEBTOR",
         debtorHeader("Debtor"),
         {{{"DebtorCode", str("D1")}}, {{"DebtorCode", str("d2")}}, {{"DebtorCode", str("D2")}}}},
    };
    for (const Sheet& sheet : sheets) {
        SCOPED_TRACE(sheet.name + " of " + std::to_string(sheet.rows.size()) + " rows, first " +
                     (sheet.rows[0].count("ItemCode") ? sheet.rows[0].at("ItemCode") : "-"));
        Result byRow = run(sheet, true);
        Result batched = run(sheet, false);
        EXPECT_EQ(batched.tables, byRow.tables);
        EXPECT_EQ(batched.list, byRow.list);
        EXPECT_EQ(batched.boxes, byRow.boxes);
        EXPECT_EQ(batched.journal, byRow.journal);
        EXPECT_EQ(batched.plan, byRow.plan);
        EXPECT_FALSE(byRow.journal.empty() && byRow.boxes.empty());
    }
    form.rowByRow = false;
}

TEST_P(Batches, TriggerWritingThePluTableIsSeenByEveryRow) {
    // A back office's own rule: every new item gets a PLU row of its own, which no undo of
    // the tool's takes back.
    undoAfter = false;
    odbc::Statement st(*form.st.DestConn);
    if (isPostgres()) {
        st.execDirect(
            "CREATE FUNCTION mkplu() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN INSERT INTO "
            "KINV_MT_PLU (ItemCode, PluCode) VALUES (NEW.ItemCode, 'T'); RETURN NEW; END $$");
        st.execDirect(
            "CREATE TRIGGER mkplu AFTER INSERT ON KINV_MT_ITEM FOR EACH ROW EXECUTE FUNCTION "
            "mkplu()");
    } else {
        st.execDirect(
            "CREATE TRIGGER mkplu AFTER INSERT ON KINV_MT_ITEM BEGIN INSERT INTO KINV_MT_PLU "
            "(ItemCode, PluCode) VALUES (new.ItemCode, 'T'); END");
    }
    const Sheet sheet = {"KINV_MT_ITEM",
                         itemHeader(),
                         {{{"ItemCode", str("B0")}, {"PluCode", str("P0")}},
                          {{"ItemCode", str("B1")}, {"PluCode", str("P1")}}}};
    Result byRow = run(sheet, true);
    Result batched = run(sheet, false);
    EXPECT_EQ(batched.tables, byRow.tables);
    EXPECT_EQ(batched.journal, byRow.journal);
    EXPECT_EQ(byRow.tables[1], (Rows{{"AI03", "P0", "ACTIVE"},
                                     {"AI03", "P0", "ACTIVE"},
                                     {"AI03", "T", "ACTIVE"},
                                     {"B0", "P0", "ACTIVE"},
                                     {"B1", "P1", "ACTIVE"}}));
    form.rowByRow = false;
}

TEST_P(Batches, BatchRefusedThoughEachRowIsTakenGoesOnRowByRow) {
    // A batch stores its new rows before its changes: here the new item takes a name the
    // changed one gives up only later, which a unique index refuses; alone, each row is fine.
    exec("CREATE UNIQUE INDEX item_name ON KINV_MT_ITEM (ItemName)");
    setUp = "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('E1', 'Old')";
    const Sheet sheet = {"KINV_MT_ITEM",
                         itemHeader(),
                         {{{"ItemCode", str("E1")}, {"ItemName", str("Renamed")}},
                          {{"ItemCode", str("N1")}, {"ItemName", str("Old")}},
                          {{"ItemCode", str("N2")}, {"ItemName", str("Later")}}}};
    Result byRow = run(sheet, true);
    EXPECT_EQ(form.outcome.writtenOneByOneBecause, "");
    Result batched = run(sheet, false);
    EXPECT_NE(form.outcome.writtenOneByOneBecause, "");
    EXPECT_EQ(batched, byRow);
    EXPECT_EQ(byRow.boxes, Lines{});
    form.rowByRow = false;
}

TEST_P(Batches, ParametersAreBoundOnceAStatementWhateverTheRows) {
    // Texts of every length, empty cells among them, numbers and dates: the same
    // declarations serve every row, so a longer sheet binds no more often.
    auto sheet = [](int rows) {
        Sheet s{"KINV_MT_ITEM", itemHeader(), {}};
        for (int i = 0; i < rows; ++i) {
            Cells c = {{"ItemCode", str("R" + std::to_string(i))},
                       {"ItemName", str(std::string(size_t(1 + i * 7 % 60), 'n'))},
                       {"BasedUnitPrice", i % 3 ? num(i * 1.25) : kEmpty},
                       {"PluCode", i % 2 ? str("P" + std::to_string(i)) : kEmpty}};
            s.rows.push_back(std::move(c));
        }
        return s;
    };
    // Each statement of one row; a batch's inserts bind as many parameters as it has rows.
    form.rowByRow = true;
    std::size_t counts[2] = {};
    for (int pass = 0; pass < 2; ++pass) {
        // Every row twice: inserted, then updated.
        for (int again = 0; again < 2; ++again) {
            workbook({sheet(pass ? 40 : 8)});
            choose("KINV_MT_ITEM");
            form.st.SheetName = "KINV_MT_ITEM";
            ui.boxes.clear();
            std::size_t before = odbc::parameterBindings();
            MigrateItems(form);
            ASSERT_TRUE(ui.boxes.empty()) << ui.allBoxes();
            counts[pass] += odbc::parameterBindings() - before;
        }
        exec("DELETE FROM KINV_MT_PLU; DELETE FROM KINV_MT_ITEM");
    }
    EXPECT_GT(counts[0], 0u);
    EXPECT_EQ(counts[1], counts[0]);
}

INSTANTIATE_TEST_SUITE_P(Engines, Batches, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         engineLabel);

}  // namespace
}  // namespace kordb::test

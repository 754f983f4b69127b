// The Start button: the confirmation, the choice of migration by the listed name, and the
// closing "Completed." after every run, a failed one included.

#include "core/errors.h"
#include "migration/row_writer.h"
#include "settings/odbc.h"
#include "tests/migration/fixture.h"

namespace kordb::test {
namespace {

using Cells = std::map<std::string, std::string>;

class Start : public MigrationTest {
  protected:
    void SetUp() override {
        MigrationTest::SetUp();
        workbook({{"KINV_MT_ITEM", itemHeader(), {{{"ItemCode", str("A1")}}}},
                  {"KINV_MT_CLASS",
                   {"ClassCode", "ClassName", "ClassTypeCode", "AppCode"},
                   {{{"ClassCode", str("C1")}}}}});
    }
    void expectLast(const std::string& text, Icon icon) {
        ASSERT_FALSE(ui.boxes.empty());
        EXPECT_TRUE(isBox(ui.boxes.back(), text, "Message", icon));
    }
};

TEST_P(Start, NoChangesNothing) {
    choose("KINV_MT_CLASS");
    form.st.SheetName = "BEFORE";
    ui.list = {"kept"};
    ui.answers = {kAnswerNo};
    CConvert_Click(form);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_TRUE(isBox(ui.boxes[0], "Confirm to Start Migrate ? ", "Question", Icon::Question,
                      Buttons::YesNo));
    EXPECT_EQ(form.st.ConfirmAnswer, "7");
    EXPECT_EQ(form.st.SheetName, "BEFORE");
    EXPECT_EQ(ui.list, (std::vector<std::string>{"kept"}));
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_CLASS"), "0");
}

TEST_P(Start, ItemSheetInAnyCaseRunsTheItemMigration) {
    choose("KINV_MT_ITEM");
    ui.comboItems[size_t(ui.comboIndex)] = "  kinv_Mt_item ";
    ui.list = {"cleared by the item migration"};
    CConvert_Click(form);
    EXPECT_EQ(form.st.ConfirmAnswer, "6");
    EXPECT_EQ(form.st.SheetName, "KINV_MT_ITEM");
    ASSERT_EQ(ui.boxes.size(), 2u) << ui.allBoxes();
    expectLast("Completed.", Icon::Exclamation);
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[A1] "}));
    EXPECT_EQ(one("SELECT PluCode FROM KINV_MT_PLU"), "A1");
    EXPECT_EQ(form.st.DestSQL, "SELECT * FROM KINV_MT_ITEM WHERE ItemCode=?");
    EXPECT_EQ(form.st.PluSQL, "SELECT * FROM KINV_MT_PLU WHERE ItemCode=?");
}

TEST_P(Start, OtherNamesRunTheMasterTableMigration) {
    choose("KINV_MT_CLASS");
    CConvert_Click(form);
    ASSERT_EQ(ui.boxes.size(), 3u);
    EXPECT_TRUE(isBox(ui.boxes[1], "Migration Successfully", "Message", Icon::Exclamation));
    expectLast("Completed.", Icon::Exclamation);
    EXPECT_EQ(one("SELECT ClassCode FROM KINV_MT_CLASS"), "C1");
}

TEST_P(Start, CompletedFollowsTheMigrationsErrorMessage) {
    exec("DROP TABLE KINV_MT_CLASS");
    choose("KINV_MT_CLASS");
    CConvert_Click(form);
    ASSERT_EQ(ui.boxes.size(), 3u);
    EXPECT_TRUE(isBox(ui.boxes[1], "MSSQL Table Not Found.", "Message", Icon::Critical));
    expectLast("Completed.", Icon::Exclamation);
}

TEST_P(Start, NoSelectedEntryReportsTheMissingWorksheet) {
    choose("KINV_MT_CLASS");
    ui.comboIndex = -1;
    CConvert_Click(form);
    EXPECT_EQ(form.st.SheetName, "");
    ASSERT_EQ(ui.boxes.size(), 3u);
    EXPECT_TRUE(isBox(ui.boxes[1], "MSSQL Table Not Found.", "Message", Icon::Critical));
    expectLast("Completed.", Icon::Exclamation);
}

TEST_P(Start, WithoutAnOpenConnectionBothMigrationsReportIt) {
    for (bool opened : {false, true}) {
        SCOPED_TRACE(opened ? "failed Connect" : "never connected");
        // A failed Connect leaves an unopened connection; none at all before the first one.
        form.st.DestConn.reset(opened ? new odbc::Connection : nullptr);

        ui.boxes.clear();
        choose("KINV_MT_CLASS");
        CConvert_Click(form);
        ASSERT_EQ(ui.boxes.size(), 4u);
        EXPECT_TRUE(isBox(ui.boxes[1], std::to_string(errnum::kConnectionClosed), "", Icon::None));
        EXPECT_EQ(ui.boxes[2].icon, Icon::Critical);
        EXPECT_NE(ui.boxes[2].text.find("not open"), std::string::npos) << ui.boxes[2].text;
        expectLast("Completed.", Icon::Exclamation);

        ui.boxes.clear();
        choose("KINV_MT_ITEM");
        CConvert_Click(form);
        ASSERT_EQ(ui.boxes.size(), 3u);
        EXPECT_EQ(ui.boxes[1].icon, Icon::Critical);
        EXPECT_NE(ui.boxes[1].text.find("not open"), std::string::npos) << ui.boxes[1].text;
        expectLast("Completed.", Icon::Exclamation);
    }
}

// The service alone: lines to its sink, boxes and outcome in its report, nothing shown.
TEST_P(Start, MigrateSheetReportsWhatItStoredAndWhereItStopped) {
    workbook({{"KINV_MT_CLASS",
               {"ClassCode", "ClassName", "ClassTypeCode", "AppCode"},
               {{{"ClassCode", str("C1")}}, {{"ClassCode", str("C2")}}}}});
    choose("KINV_MT_CLASS");
    struct Lines : MigrateLines {
        void line(const std::string& text) override { all.push_back(text); }
        std::vector<std::string> all;
    } lines;
    MigrateReport report = migrateSheet(migrateRequest(form), lines);
    EXPECT_EQ(lines.all, (std::vector<std::string>{"[C1]", "[C2]"}));
    ASSERT_EQ(report.boxes.size(), 1u);
    EXPECT_EQ(report.boxes[0].text, "Migration Successfully");
    EXPECT_EQ(report.errors, 0);
    EXPECT_EQ(report.lastRow, 3);
    EXPECT_TRUE(std::filesystem::exists(report.journal)) << report.journal;
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_CLASS"), "2");
    EXPECT_TRUE(ui.boxes.empty() && ui.list.empty()) << ui.allBoxes();

    MigrateRequest missing = migrateRequest(form);
    missing.pickedSheet = missing.tableName = "KLED_MT_DEBTOR";
    report = migrateSheet(missing, lines);
    EXPECT_EQ(report.errors, 1);
    EXPECT_FALSE(report.boxes.empty());
    EXPECT_EQ(lines.all.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Engines, Start, ::testing::Values(Engine::Sqlite), engineLabel);

}  // namespace
}  // namespace kordb::test

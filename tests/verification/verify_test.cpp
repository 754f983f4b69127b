// Whole verification runs as the Verify button starts them: list, result message, Start
// button and the error files a run leaves behind.

#include <gtest/gtest.h>

#include "core/tables.h"
#include "tests/verification/verify_fixture.h"
#include "verification/error_files.h"

namespace kordb::test {
namespace {

using Lines = std::vector<std::string>;
using VerifyRun = VerifyTest;

const Lines kCleanList{"Verifying....", "Verifying Completed.", "No Error Found."};

void expectResult(const Recorder& ui, bool errorFound) {
    ASSERT_FALSE(ui.boxes.empty());
    const Box& last = ui.boxes.back();
    EXPECT_EQ(last.text, errorFound ? "Verifying Completed. Error Found."
                                    : "Verifying Completed. No Error Found.");
    EXPECT_EQ(last.title, "Message");
    EXPECT_EQ(last.icon, Icon::Exclamation);
    EXPECT_EQ(last.buttons, Buttons::Ok);
    EXPECT_EQ(ui.startEnabled, !errorFound);
}

TEST_F(VerifyRun, ACleanItemSheetPassesAndListsEveryRowOnce) {
    choose(itemBook(R"(["A1","Cola","P1",12.5],["A2","Tea",4711,1001],)"
                    R"(["A3",null,"P3",{"date":"2024-01-15"}])"),
           "KINV_MT_ITEM");
    // What an earlier run left behind must not count.
    form->st.ErrFound = true;
    form->st.ErrKeys = {"A1"};
    form->st.ErrCount = 9;
    CVerify_Click(*form);

    EXPECT_EQ(ui.list, kCleanList);
    EXPECT_EQ(ui.boxes.size(), 1u);
    expectResult(ui, false);
    EXPECT_EQ(form->st.SheetName, "KINV_MT_ITEM");
    EXPECT_TRUE(form->st.ErrKeys.empty());
    // Numbers as plain decimals, dates in ISO 8601, Null as nothing.
    EXPECT_EQ(
        lines(modeFileSuffix("OK")),
        (Lines{"A1\tA1\tCola\tP1\t12.5", "A2\tA2\tTea\t4711\t1001", "A3\tA3\t\tP3\t2024-01-15"}));
    for (const char* none : {kNullFileSuffix, kCodeErrFileSuffix})
        EXPECT_FALSE(hasFile(none)) << none;
    EXPECT_FALSE(hasFile(modeFileSuffix("DUPLICATE")));
    EXPECT_FALSE(hasFile(modeFileSuffix("PLUERR")));
}

TEST_F(VerifyRun, EveryFindingOfAnItemSheetInOrder) {
    // A lower-case entry with blanks around it still runs the item checks.
    choose(itemBook(R"(["A1","Cola","P1",1],[null,"No code","P2",2],["A1","Cola","P1",3],)"
                    R"(["B 1","Blank inside","P4",4],["C1","Tea","P5",5],["D1","Milk","P6",6],)"
                    R"(["D1","Milk","P6",7],["D1","Milk","P7",8])"),
           "KINV_MT_ITEM");
    ui.startEnabled = true;
    pickSheet(" kinv_mt_item ");
    CVerify_Click(*form);

    EXPECT_EQ(ui.list, (Lines{"Verifying....", "Error Detected for ItemCode at Row [2]",
                              "Error !!! [1] Null Value Detected", "Duplicated Item Code ... [A1]",
                              "Duplicated Item Code ... [D1]", "Plu Code Duplicate ... [P1]",
                              "Plu Code Duplicate ... [P6]", "Code Error Detected for B 1",
                              "Verifying Completed."}));
    expectResult(ui, true);
    EXPECT_TRUE(criticalBoxes().empty());
    EXPECT_EQ(lines(kNullFileSuffix), (Lines{"\t\tNo code\tP2\t2"}));
    EXPECT_EQ(lines(modeFileSuffix("DUPLICATE")).size(), 5u);
    // A1 and D1 are both duplicated and carry a repeated PLU: listed by both checks.
    EXPECT_EQ(lines(modeFileSuffix("PLUERR")).size(), 5u);
    EXPECT_EQ(lines(kCodeErrFileSuffix), (Lines{"B 1\tB 1\tBlank inside\tP4\t4"}));
    EXPECT_EQ(lines(modeFileSuffix("OK")), (Lines{"C1\tC1\tTea\tP5\t5"}))
        << "rows of flagged codes are not listed again";
    EXPECT_EQ(form->st.ErrKeys, (Lines{"A1", "D1", "A1", "D1"}));
}

TEST_F(VerifyRun, InvalidCodesAloneStillPass) {
    choose(itemBook(R"(["A1 ","Trailing","P1",1],["O'Neil","Quote","P2",2],["C1","Fine","P3",3])"),
           "KINV_MT_ITEM");
    CVerify_Click(*form);
    EXPECT_EQ(ui.list,
              (Lines{"Verifying....", "Code Error Detected for A1 ",
                     "Code Error Detected for O'Neil", "Verifying Completed.", "No Error Found."}));
    expectResult(ui, false);
    EXPECT_EQ(lines(kCodeErrFileSuffix),
              (Lines{"A1 \tA1 \tTrailing\tP1\t1", "O'Neil\tO'Neil\tQuote\tP2\t2"}));
    EXPECT_EQ(lines(modeFileSuffix("OK")), (Lines{"C1\tC1\tFine\tP3\t3"}));
}

TEST_F(VerifyRun, DuplicatedCodesWithQuotesAreListedAndFailTheRun) {
    // Quotes and brackets in codes must neither break the lists nor change the statements.
    choose(
        itemBook(R"(["O'Neil","First","P1",1],["B1","Tea","P2",2],["O'Neil","Second","P3",3],)"
                 R"(["x') Or ('1'='1","Odd","P4",4],["x') Or ('1'='1","Odd","P5",5],)"
                 R"(["[KINV_MT_CLASS$]","Bracket","P6",6],["[KINV_MT_CLASS$]","Bracket","P7",7])"),
        "KINV_MT_ITEM");
    ui.startEnabled = true;
    CVerify_Click(*form);

    EXPECT_TRUE(criticalBoxes().empty()) << criticalBoxes()[0].text;
    // Grouped in ascending case-blind order: punctuation before letters.
    EXPECT_EQ(ui.list,
              (Lines{"Verifying....", "Duplicated Item Code ... [[KINV_MT_CLASS$]]",
                     "Duplicated Item Code ... [O'Neil]",
                     "Duplicated Item Code ... [x') Or ('1'='1]", "Code Error Detected for O'Neil",
                     "Code Error Detected for O'Neil", "Code Error Detected for x') Or ('1'='1",
                     "Code Error Detected for x') Or ('1'='1", "Verifying Completed."}));
    expectResult(ui, true);
    EXPECT_EQ(lines(kCodeErrFileSuffix),
              (Lines{"O'Neil\tO'Neil\tFirst\tP1\t1", "O'Neil\tO'Neil\tSecond\tP3\t3",
                     "x') Or ('1'='1\tx') Or ('1'='1\tOdd\tP4\t4",
                     "x') Or ('1'='1\tx') Or ('1'='1\tOdd\tP5\t5"}));
    EXPECT_EQ(lines(modeFileSuffix("DUPLICATE")),
              (Lines{"[KINV_MT_CLASS$]\t[KINV_MT_CLASS$]\tBracket\tP6\t6",
                     "[KINV_MT_CLASS$]\t[KINV_MT_CLASS$]\tBracket\tP7\t7"}));
    EXPECT_EQ(lines(modeFileSuffix("OK")), (Lines{"B1\tB1\tTea\tP2\t2"}));
    EXPECT_EQ(form->st.ErrKeys, (Lines{"[KINV_MT_CLASS$]", "O'Neil", "x') Or ('1'='1"}));
}

TEST_F(VerifyRun, MasterSheetsRunOnlyTheNullCheckAndTheListing) {
    struct Table {
        const char* sheet;
        const char* key;
    };
    for (Table t : {Table{"KINV_MT_CLASS", "ClassCode"}, Table{"KLED_MT_DEBTOR", "DebtorCode"},
                    Table{"KLED_MT_CREDITOR", "CreditorCode"}}) {
        SCOPED_TRACE(t.sheet);
        ui.list.clear();
        ui.boxes.clear();
        form->st.KeyColumn.clear();
        // Duplicated codes and no PluCode column: neither item check may run.
        std::string json = std::string(R"({"sheets":[{"name":")") + t.sheet + R"(","rows":[[")" +
                           t.key + R"(","Name"],["C1","One"],[null,"None"],["C1","Again"]]}]})";
        choose(json, t.sheet, std::string(t.sheet) + ".xls");
        ui.startEnabled = true;
        CVerify_Click(*form);
        EXPECT_EQ(ui.list, (Lines{"Verifying....",
                                  std::string("Error Detected for ") + t.key + " at Row [2]",
                                  "Error !!! [1] Null Value Detected", "Verifying Completed."}));
        EXPECT_TRUE(criticalBoxes().empty());
        expectResult(ui, true);
        EXPECT_EQ(lines(kNullFileSuffix), (Lines{"\t\tNone"}));
        EXPECT_EQ(lines(modeFileSuffix("OK")), (Lines{"C1\tC1\tOne", "C1\tC1\tAgain"}));
    }
}

TEST_F(VerifyRun, ATypedPathNamesTheFilesBySuffixAlone) {
    type(itemBook(R"(["A1","Cola","P1",1],[null,"No code","P2",2])"), "KINV_MT_ITEM");
    CVerify_Click(*form);
    expectResult(ui, true);
    EXPECT_EQ(readFile(form->errorFolder / "_Migrate_NULL.txt"), "\t\tNo code\tP2\t2\r\n");
    EXPECT_EQ(readFile(form->errorFolder / "_Migrate_OK.txt"), "A1\tA1\tCola\tP1\t1\r\n");
}

TEST_F(VerifyRun, TwoRunsAppendTheirLinesTwice) {
    choose(itemBook(R"(["A1","Cola","P1",1],[null,"No code","P2",2],["B1","Tea","P3",3])"),
           "KINV_MT_ITEM");
    CVerify_Click(*form);
    CVerify_Click(*form);
    EXPECT_EQ(ui.list, (Lines{"Verifying....", "Error Detected for ItemCode at Row [2]",
                              "Error !!! [1] Null Value Detected", "Verifying Completed."}))
        << "each run starts a fresh list";
    EXPECT_EQ(lines(kNullFileSuffix), (Lines{"\t\tNo code\tP2\t2", "\t\tNo code\tP2\t2"}));
    EXPECT_EQ(lines(modeFileSuffix("OK")), (Lines{"A1\tA1\tCola\tP1\t1", "B1\tB1\tTea\tP3\t3",
                                                  "A1\tA1\tCola\tP1\t1", "B1\tB1\tTea\tP3\t3"}));
}

TEST_F(VerifyRun, AMissingWorksheetFailsEveryCheckAndTheRun) {
    choose(R"({"sheets":[{"name":"KINV_MT_ITEM","rows":[["ItemCode"],["A1"]]}]})", "KINV_MT_CLASS");
    ui.startEnabled = true;
    CVerify_Click(*form);
    // The null check and the listing each report, and the run goes on to its end.
    auto errors = criticalBoxes();
    ASSERT_EQ(errors.size(), 2u);
    for (const Box& b : errors) {
        EXPECT_EQ(b.title, "Message");
        EXPECT_NE(b.text.find("KINV_MT_CLASS"), std::string::npos) << b.text;
    }
    EXPECT_EQ(ui.list, (Lines{"Verifying....", "Verifying Completed."}));
    expectResult(ui, true);
}

TEST_F(VerifyRun, ASheetNamedLikeNoTableSaysItHasNoKeyColumn) {
    choose(R"({"sheets":[{"name":"Sheet3","rows":[["ClassCode"],["C1"]]}]})", "Sheet3");
    CVerify_Click(*form);
    auto errors = criticalBoxes();
    ASSERT_EQ(errors.size(), 2u);
    for (const Box& b : errors) EXPECT_EQ(b.text, table::noKeyColumnText("Sheet3"));
    expectResult(ui, true);
}

TEST_F(VerifyRun, AMissingColumnFailsOnlyItsCheck) {
    // No PluCode column: the PLU check reports it, the others still do their work.
    choose(R"({"sheets":[{"name":"KINV_MT_ITEM","rows":[["ItemCode","ItemName"],)"
           R"(["A1","Cola"],["B1","Tea"]]}]})",
           "KINV_MT_ITEM");
    CVerify_Click(*form);
    auto errors = criticalBoxes();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].text.find("PluCode"), std::string::npos) << errors[0].text;
    EXPECT_EQ(ui.list, (Lines{"Verifying....", "Verifying Completed."}));
    expectResult(ui, true);
    EXPECT_EQ(lines(modeFileSuffix("OK")), (Lines{"A1\tA1\tCola", "B1\tB1\tTea"}));
}

TEST_F(VerifyRun, AMissingWorkbookFailsTheRunNamingTheFile) {
    ui.fields[4] = (dir / "in" / "gone.xls").string();
    form->st.WorkbookTitle = "gone.xls";
    pickSheet("KINV_MT_ITEM");
    CVerify_Click(*form);
    auto errors = criticalBoxes();
    ASSERT_EQ(errors.size(), 4u);
    for (const Box& b : errors) EXPECT_NE(b.text.find("gone.xls"), std::string::npos) << b.text;
    expectResult(ui, true);
    EXPECT_TRUE(std::filesystem::is_empty(form->errorFolder));
}

TEST_F(VerifyRun, AnUnwritableListingFileFailsTheRun) {
    choose(itemBook(R"(["A1","Cola","P1",1])"), "KINV_MT_ITEM");
    std::filesystem::create_directories(errorFile(modeFileSuffix("OK")));
    ui.startEnabled = true;
    CVerify_Click(*form);
    auto errors = criticalBoxes();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].text.find(errorFile(modeFileSuffix("OK")).string()), std::string::npos)
        << errors[0].text;
    expectResult(ui, true);
}

TEST_F(VerifyRun, NoSheetChosenFailsTheRun) {
    choose(itemBook(R"(["A1","Cola","P1",1])"), "KINV_MT_ITEM");
    ui.comboIndex = -1;
    ui.startEnabled = true;
    CVerify_Click(*form);
    EXPECT_EQ(form->st.SheetName, "");
    EXPECT_FALSE(criticalBoxes().empty());
    expectResult(ui, true);
}

TEST_F(VerifyRun, UnicodeValuesAndNamesAreWrittenIntact) {
    choose(itemBook(R"(["Café-1","日本語 Ωμέγα","ПЛУ-7",12.5],["Café-1","Ñandú","😀",2],)"
                    R"(["Zürich","Grüße","P3",3])"),
           "KINV_MT_ITEM", "données.xls");
    CVerify_Click(*form);
    EXPECT_EQ(ui.list, (Lines{"Verifying....", "Duplicated Item Code ... [Café-1]",
                              "Verifying Completed."}));
    EXPECT_EQ(readFile(form->errorFolder / "données.xls_Migrate_DUPLICATE.txt"),
              "Café-1\tCafé-1\t日本語 Ωμέγα\tПЛУ-7\t12.5\r\nCafé-1\tCafé-1\tÑandú\t😀\t2\r\n");
    EXPECT_EQ(readFile(form->errorFolder / "données.xls_Migrate_OK.txt"),
              "Zürich\tZürich\tGrüße\tP3\t3\r\n");
}

TEST_F(VerifyRun, AHeaderOnlySheetPasses) {
    choose(itemBook(""), "KINV_MT_ITEM");
    CVerify_Click(*form);
    EXPECT_EQ(ui.list, kCleanList);
    expectResult(ui, false);
    EXPECT_TRUE(std::filesystem::is_empty(form->errorFolder));
}

// SQL Server finds "A-17 " under "A-17": for that destination they are duplicates, which
// Verify must catch; elsewhere the padded code is only a code error, a warning.
TEST_F(VerifyRun, KeysAreComparedAsTheDestinationComparesThem) {
    const struct {
        bool sqlServer;
        Lines list;
        bool errorFound;
        Lines ok;
    } cases[] = {
        {false,
         {"Verifying....", "Code Error Detected for A-17 ", "Verifying Completed.",
          "No Error Found."},
         false,
         {"A-17\tA-17\tCola\tP1\t1", "B1\tB1\tTea\tP3\t3"}},
        {true,
         {"Verifying....", "Duplicated Item Code ... [A-17]", "Code Error Detected for A-17 ",
          "Verifying Completed."},
         true,
         {"B1\tB1\tTea\tP3\t3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sqlServer ? "SQL Server" : "other engines");
        std::filesystem::remove_all(form->errorFolder);
        std::filesystem::create_directories(form->errorFolder);
        ui.list.clear();
        ui.boxes.clear();
        choose(itemBook(R"(["A-17","Cola","P1",1],["A-17 ","Padded","P2",2],["B1","Tea","P3",3])"),
               "KINV_MT_ITEM");
        form->keysIgnoreTrailingBlanks = c.sqlServer;
        CVerify_Click(*form);
        EXPECT_EQ(ui.list, c.list);
        expectResult(ui, c.errorFound);
        EXPECT_EQ(lines(modeFileSuffix("OK")), c.ok);
        EXPECT_EQ(lines(kCodeErrFileSuffix), (Lines{"A-17 \tA-17 \tPadded\tP2\t2"}));
    }
}

}  // namespace
}  // namespace kordb::test

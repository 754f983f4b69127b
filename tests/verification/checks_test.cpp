// The checks one at a time: their statements, list lines, shared state, Start button and
// error files.

#include <gtest/gtest.h>

#include "core/errors.h"
#include "source/workbook.h"
#include "tests/verification/verify_fixture.h"
#include "verification/error_files.h"

namespace kordb::test {
namespace {

using Lines = std::vector<std::string>;

TEST(HasQuoteOrSpace, AnyQuoteOrBlankAnywhere) {
    for (const char* bad : {"'", " ", "O'Neil", "A1 ", " A1", "A 1", "''", "A1'"})
        EXPECT_TRUE(HasQuoteOrSpace(bad)) << '"' << bad << '"';
    for (const char* good : {"", "A1", "A-1/2", "A\t1", "\"A1\"", "Café", "A\u00A01"})
        EXPECT_FALSE(HasQuoteOrSpace(good)) << '"' << good << '"';
}

using Statements = VerifyTest;

TEST_F(Statements, EachCheckComposesItsStatementPieceByPiece) {
    choose(itemBook(R"(["A1","Cola","P1",1],["A1","Cola","P9",1],["B'C","Tea","P2",2])"),
           "KINV_MT_ITEM");
    prepareCheck();
    auto& st = form->st;

    CheckNullValues(*form);
    EXPECT_EQ(st.SheetSQL,
              "Select ItemCode, * From [KINV_MT_ITEM$] Where ItemCode Is Null Or ItemCode=''");

    st.DupKeys = "'A1','B''C',";
    CheckCodeValues(*form, "DUPLICATE");
    EXPECT_EQ(st.SheetSQL,
              "Select ItemCode, * From [KINV_MT_ITEM$] Where ItemCode In ('A1','B''C')");
    EXPECT_EQ(st.DupKeys, "'A1','B''C',") << "the caller still needs the final comma";

    st.ErrKeys.clear();
    CheckCodeValues(*form, "OK");
    EXPECT_EQ(
        st.SheetSQL,
        "Select ItemCode, * From [KINV_MT_ITEM$] Where ItemCode Is Not Null And ItemCode<>'' ");

    st.ErrKeys = "'A1','B''C',";
    CheckCodeValues(*form, "OK");
    EXPECT_EQ(st.SheetSQL,
              "Select ItemCode, * From [KINV_MT_ITEM$] Where ItemCode Is Not Null And ItemCode<>'' "
              "And ItemCode Not In ('A1','B''C')");
    EXPECT_EQ(st.ErrKeys, "'A1','B''C'") << "the listing cuts the final comma off ErrKeys itself";

    CheckDuplicateKeys(*form);
    EXPECT_EQ(st.DupKeys, "'A1',");
    CheckDuplicatePlu(*form);
    EXPECT_EQ(st.SheetSQL,
              "Select Count(PluCode), PluCode, ItemCode From [KINV_MT_ITEM$] Group By PluCode, "
              "ItemCode");
    // The duplicate check's own statement, before its listing replaced SheetSQL.
    st.DupKeys.clear();
    choose(itemBook(R"(["A1","Cola","P1",1])"), "KINV_MT_ITEM", "other.xls");
    CheckDuplicateKeys(*form);
    EXPECT_EQ(st.SheetSQL,
              "Select Count(ItemCode), ItemCode From [KINV_MT_ITEM$] group by ItemCode");
    EXPECT_TRUE(criticalBoxes().empty()) << criticalBoxes()[0].text;
}

using NullCheck = VerifyTest;

TEST_F(NullCheck, EmptyKeysGiveRowNumbersACountAndTabbedLines) {
    choose(itemBook(R"([null,"No code one","P1",1],["A1","Cola","P2",12.5],)"
                    R"([null,"No code two",null,{"date":"2024-01-15"}])"),
           "KINV_MT_ITEM");
    prepareCheck();
    CheckNullValues(*form);

    EXPECT_EQ(ui.list, (Lines{"Error Detected for ItemCode at Row [2]",
                              "Error Detected for ItemCode at Row [3]",
                              "Error !!! [2] Null Value Detected"}));
    EXPECT_EQ(form->st.ErrCount, 2);
    EXPECT_TRUE(form->st.ErrFound);
    // A leading tab, then one tab per worksheet column; the empty key keeps its place.
    EXPECT_EQ(lines(kNullFileSuffix),
              (Lines{"\t\tNo code one\tP1\t1", "\t\tNo code two\t\t2024-01-15"}));
}

TEST_F(NullCheck, AKeyHoldingTheEmptyTextIsReportedLikeAnEmptyCell) {
    choose(itemBook(R"([{"text":""},"Blank text","P1",3],["A1","Cola","P2",4])"), "KINV_MT_ITEM");
    prepareCheck();
    CheckNullValues(*form);
    EXPECT_TRUE(ui.boxes.empty()) << ui.allBoxes();
    EXPECT_EQ(ui.list, (Lines{"Error Detected for ItemCode at Row [2]",
                              "Error !!! [1] Null Value Detected"}));
    EXPECT_EQ(lines(kNullFileSuffix), (Lines{"\t\tBlank text\tP1\t3"}));
    EXPECT_TRUE(form->st.ErrFound);
}

TEST_F(NullCheck, NoEmptyKeyMeansNoLineNoFileAndNoError) {
    choose(itemBook(R"(["A1","Cola","P1",1])"), "KINV_MT_ITEM");
    prepareCheck();
    CheckNullValues(*form);
    EXPECT_TRUE(ui.list.empty());
    EXPECT_FALSE(hasFile(kNullFileSuffix));
    EXPECT_FALSE(form->st.ErrFound);
    EXPECT_EQ(form->st.ErrCount, 0);
}

using DuplicateKeys = VerifyTest;

TEST_F(DuplicateKeys, ACodeInThreeRowsIsOneFindingWithAllItsRowsListed) {
    choose(itemBook(R"(["A1","Cola","P1",1],["B1","Tea","P2",2],["A1","Cola light","P3",3],)"
                    R"(["A1","Cola zero","P4",4],[null,"No code","P5",5],[null,"No code","P6",6])"),
           "KINV_MT_ITEM");
    prepareCheck();
    ui.startEnabled = true;
    CheckDuplicateKeys(*form);

    EXPECT_EQ(ui.list, (Lines{"Duplicated Item Code ... [A1]"})) << "empty keys are not duplicates";
    EXPECT_EQ(form->st.DupKeys, "'A1',");
    EXPECT_EQ(form->st.ErrKeys, "'A1',");
    EXPECT_EQ(form->st.ErrCount, 3) << "the listing's count of rows";
    EXPECT_TRUE(form->st.ErrFound);
    EXPECT_FALSE(ui.startEnabled);
    EXPECT_EQ(
        lines(modeFileSuffix("DUPLICATE")),
        (Lines{"A1\tA1\tCola\tP1\t1", "A1\tA1\tCola light\tP3\t3", "A1\tA1\tCola zero\tP4\t4"}));
    EXPECT_FALSE(hasFile(kCodeErrFileSuffix));
}

TEST_F(DuplicateKeys, TwoCodesComeInGroupOrder) {
    choose(itemBook(R"(["Z9","Last","P1",1],["B2","First","P2",2],["Z9","Last","P3",3],)"
                    R"(["C3","Single","P4",4],["B2","First","P5",5])"),
           "KINV_MT_ITEM");
    prepareCheck();
    form->st.ErrKeys = "'X',";
    CheckDuplicateKeys(*form);
    EXPECT_EQ(ui.list, (Lines{"Duplicated Item Code ... [B2]", "Duplicated Item Code ... [Z9]"}));
    EXPECT_EQ(form->st.DupKeys, "'B2','Z9',");
    EXPECT_EQ(form->st.ErrKeys, "'X','B2','Z9',");
    EXPECT_EQ(form->st.ErrCount, 4);
    // The listing reads the rows in sheet order.
    EXPECT_EQ(lines(modeFileSuffix("DUPLICATE")),
              (Lines{"Z9\tZ9\tLast\tP1\t1", "B2\tB2\tFirst\tP2\t2", "Z9\tZ9\tLast\tP3\t3",
                     "B2\tB2\tFirst\tP5\t5"}));
}

TEST_F(DuplicateKeys, NoDuplicateDisablesStartButChangesNothingElse) {
    choose(itemBook(R"(["A1","Cola","P1",1],["B1","Tea","P1",1])"), "KINV_MT_ITEM");
    prepareCheck();
    ui.startEnabled = true;
    form->st.ErrKeys = "'X',";
    CheckDuplicateKeys(*form);
    EXPECT_TRUE(ui.list.empty());
    EXPECT_FALSE(ui.startEnabled);
    EXPECT_FALSE(form->st.ErrFound);
    EXPECT_EQ(form->st.DupKeys, "");
    EXPECT_EQ(form->st.ErrKeys, "'X',");
    EXPECT_FALSE(hasFile(modeFileSuffix("DUPLICATE")));
}

TEST_F(DuplicateKeys, ANumericCodeColumnStillFailsTheCheck) {
    // Numbers never equal the quoted codes of the listing, which then finds no row; the
    // duplicate is an error all the same.
    choose(itemBook(R"([1001,"Cola","P1",1],[1002,"Tea","P2",2],[1001,"Cola","P3",3])"),
           "KINV_MT_ITEM");
    prepareCheck();
    CheckDuplicateKeys(*form);
    EXPECT_EQ(ui.list, (Lines{"Duplicated Item Code ... [1001]"}));
    EXPECT_EQ(form->st.DupKeys, "'1001',");
    EXPECT_TRUE(form->st.ErrFound);
    EXPECT_TRUE(criticalBoxes().empty());
}

using DuplicatePlu = VerifyTest;

TEST_F(DuplicatePlu, APairRepeatedOnOneItemListsEveryRowOfThatItem) {
    choose(itemBook(R"(["A1","Cola","P1",1],["B1","Tea","P1",2],["A1","Cola","P2",3],)"
                    R"(["A1","Cola","P1",4],["C1","Milk",null,5],["C1","Milk",null,6])"),
           "KINV_MT_ITEM");
    prepareCheck();
    ui.startEnabled = true;
    CheckDuplicatePlu(*form);

    // P1 on B1 is another item: no finding; rows without a PLU code are never reported.
    EXPECT_EQ(ui.list, (Lines{"Plu Code Duplicate ... [P1]"}));
    EXPECT_EQ(form->st.DupKeys, "'A1',");
    EXPECT_EQ(form->st.ErrKeys, "'A1',");
    EXPECT_EQ(form->st.ErrCount, 3);
    EXPECT_TRUE(form->st.ErrFound);
    EXPECT_TRUE(ui.startEnabled) << "this check leaves Start alone";
    EXPECT_EQ(lines(modeFileSuffix("PLUERR")),
              (Lines{"A1\tA1\tCola\tP1\t1", "A1\tA1\tCola\tP2\t3", "A1\tA1\tCola\tP1\t4"}));
}

TEST_F(DuplicatePlu, OnePluOnTwoItemsIsNoFinding) {
    choose(itemBook(R"(["A1","Cola","P1",1],["B1","Tea","P1",2])"), "KINV_MT_ITEM");
    prepareCheck();
    CheckDuplicatePlu(*form);
    EXPECT_TRUE(ui.list.empty());
    EXPECT_FALSE(form->st.ErrFound);
    EXPECT_EQ(form->st.ErrKeys, "");
    EXPECT_FALSE(hasFile(modeFileSuffix("PLUERR")));
}

TEST_F(DuplicatePlu, AnItemWithTwoRepeatedCodesIsGatheredTwiceAndListedOnce) {
    choose(itemBook(R"(["A1","Cola","P2",1],["A1","Cola","P1",2],["A1","Cola","P2",3],)"
                    R"(["A1","Cola","P1",4],["B1","Tea","P3",5])"),
           "KINV_MT_ITEM");
    prepareCheck();
    CheckDuplicatePlu(*form);
    EXPECT_EQ(ui.list, (Lines{"Plu Code Duplicate ... [P1]", "Plu Code Duplicate ... [P2]"}));
    EXPECT_EQ(form->st.DupKeys, "'A1','A1',");
    EXPECT_EQ(form->st.ErrCount, 4);
    EXPECT_EQ(lines(modeFileSuffix("PLUERR")).size(), 4u);
}

using CodeListing = VerifyTest;

TEST_F(CodeListing, BadCodesGoToTheCodeErrorFileOnly) {
    choose(itemBook(R"(["A1 ","Trailing","P1",1],["B'1","Quote","P2",2],["C1","Fine","P3",3],)"
                    R"(["C1","Fine again","P4",4])"),
           "KINV_MT_ITEM");
    prepareCheck();
    form->st.DupKeys = "'A1 ','B''1','C1',";
    CheckCodeValues(*form, "DUPLICATE");
    EXPECT_EQ(ui.list, (Lines{"Code Error Detected for A1 ", "Code Error Detected for B'1"}));
    EXPECT_EQ(form->st.ErrCount, 4) << "every listed row counts, whatever its outcome";
    EXPECT_FALSE(form->st.ErrFound) << "the listing never decides the result";
    EXPECT_EQ(lines(kCodeErrFileSuffix),
              (Lines{"A1 \tA1 \tTrailing\tP1\t1", "B'1\tB'1\tQuote\tP2\t2"}));
    EXPECT_EQ(lines(modeFileSuffix("DUPLICATE")),
              (Lines{"C1\tC1\tFine\tP3\t3", "C1\tC1\tFine again\tP4\t4"}));
}

TEST_F(CodeListing, NoRowWithAKeyListsNothing) {
    choose(itemBook(R"([null,"No code","P1",1],[null,"Neither","P2",2])"), "KINV_MT_ITEM");
    prepareCheck();
    form->st.ErrCount = 7;
    CheckCodeValues(*form, "OK");
    EXPECT_TRUE(criticalBoxes().empty());
    EXPECT_EQ(form->st.ErrCount, 0);
    EXPECT_FALSE(hasFile(modeFileSuffix("OK")));
    EXPECT_TRUE(ui.list.empty());
}

using CheckErrors = VerifyTest;

TEST_F(CheckErrors, EachCheckReportsItsOwnErrorAndMarksTheRunFailed) {
    // The item sheet lacks the key column: every check's statement is rejected.
    choose(R"({"sheets":[{"name":"KINV_MT_ITEM","rows":[["Code","PluCode"],["A1","P1"]]}]})",
           "KINV_MT_ITEM");
    prepareCheck();
    using Check = void (*)(Form&);
    for (Check check : {Check(CheckNullValues), Check(CheckDuplicateKeys), Check(CheckDuplicatePlu),
                        Check([](Form& f) { CheckCodeValues(f, "OK"); })}) {
        ui.boxes.clear();
        form->st.ErrFound = false;
        form->st.ErrKeys = "'Z',";
        check(*form);
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].title, "Message");
        EXPECT_EQ(ui.boxes[0].icon, Icon::Critical);
        EXPECT_EQ(ui.boxes[0].buttons, Buttons::Ok);
        EXPECT_NE(ui.boxes[0].text.find("ItemCode"), std::string::npos) << ui.allBoxes();
        EXPECT_TRUE(form->st.ErrFound) << "a check that could not run has not passed";
    }
    EXPECT_TRUE(ui.list.empty());
}

TEST_F(CheckErrors, AFileThatCannotBeWrittenIsNamedInTheMessage) {
    choose(itemBook(R"([null,"No code","P1",1],["A1","Cola","P2",2])"), "KINV_MT_ITEM");
    prepareCheck();
    // A folder where the file should be: it cannot be opened for appending.
    std::filesystem::create_directories(errorFile(kNullFileSuffix));
    CheckNullValues(*form);
    ASSERT_EQ(criticalBoxes().size(), 1u);
    EXPECT_NE(criticalBoxes()[0].text.find(errorFile(kNullFileSuffix).string()), std::string::npos)
        << criticalBoxes()[0].text;
    EXPECT_TRUE(form->st.ErrFound);
    EXPECT_EQ(ui.list, (Lines{"Error Detected for ItemCode at Row [2]"}))
        << "the check ends at the error, without its closing line";
}

TEST_F(CheckErrors, RowsListedBeforeAFileErrorStayInTheirFiles) {
    choose(itemBook(R"(["A1","Cola","P1",1],["B1","Tea","P2",2],["C 1","Blank","P3",3],)"
                    R"(["D1","Milk","P4",4])"),
           "KINV_MT_ITEM");
    prepareCheck();
    std::filesystem::create_directories(errorFile(kCodeErrFileSuffix));
    CheckCodeValues(*form, "OK");
    ASSERT_EQ(criticalBoxes().size(), 1u);
    EXPECT_NE(criticalBoxes()[0].text.find(errorFile(kCodeErrFileSuffix).string()),
              std::string::npos)
        << criticalBoxes()[0].text;
    EXPECT_EQ(form->st.ErrCount, 3) << "the rows counted up to the error";
    EXPECT_EQ(ui.list, (Lines{"Code Error Detected for C 1"}));
    EXPECT_EQ(lines(modeFileSuffix("OK")), (Lines{"A1\tA1\tCola\tP1\t1", "B1\tB1\tTea\tP2\t2"}));
    EXPECT_TRUE(form->st.ErrFound);
}

}  // namespace
}  // namespace kordb::test

// The checks one at a time: their statements, list lines, shared state, Start button and
// error files.

#include <gtest/gtest.h>

#include <algorithm>

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

TEST(ErrorFiles, TwoRunsAppendingAtOnceNeverSplitALine) {
    // Two writers of the same file, as two runs on workbooks of one name: whatever order their
    // lines land in, each line lands whole.
    const auto dir = scratchDir("error-files-at-once");
    ErrorFileWriter a(dir, "book.xls"), b(dir, "book.xls");
    Lines written;
    for (int i = 0; i < 200; ++i)
        for (ErrorFileWriter* w : {&a, &b}) {
            written.push_back((w == &a ? "a" : "b") + std::to_string(i) + std::string(1000, 'x'));
            w->append(kNullFileSuffix, written.back());
        }
    a.close();
    b.close();
    Lines found;
    std::string text = readFile(dir / (std::string("book.xls") + kNullFileSuffix));
    for (size_t at = 0, end; at < text.size(); at = end + 2) {
        end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        found.push_back(text.substr(at, end - at));
    }
    std::sort(found.begin(), found.end());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(found, written);
}

// The service alone: its findings are data, and the rows it selects reach the sink in order.
class RowLog : public VerifyRowSink {
  public:
    void rowWithoutKey(const RowValues& columns) override { add("NULL", columns); }
    void listedRow(ListingMode mode, bool badKey, const RowValues& values) override {
        add(badKey ? "CODEERR" : std::string(listingModeName(mode)), values);
        if (failAt && rows.size() == failAt) throw std::runtime_error("disk full");
    }
    void checkDone() override { rows.push_back("done"); }
    void checkFailed() noexcept override { rows.push_back("failed"); }

    size_t failAt = 0;  // the row (counted from 1, "done" lines too) whose listing throws
    Lines rows;

  private:
    void add(const std::string& file, const RowValues& values) {
        std::string line = file + ":";
        for (int i = 0; i < values.size(); ++i) line += " " + values[i].toText();
        rows.push_back(line);
    }
};

using VerifySheet = VerifyTest;

TEST_F(VerifySheet, FindingsAndRowsOfAnItemSheet) {
    choose(itemBook(R"(["A1","Cola","P1",1],[null,"No code","P2",2],["A1","Cola","P1",3],)"
                    R"(["B 1","Blank","P4",4],["C1","Tea","P5",5])"),
           "KINV_MT_ITEM");
    RowLog log;
    VerifyRequest request{workbookCache(*form), ui.fields[4], "KINV_MT_ITEM",
                          "KINV_MT_ITEM",       "ItemCode",   false};
    VerifyFindings found = verifySheet(request, log);

    ASSERT_EQ(found.rowsWithoutKey.size(), 1u);
    EXPECT_EQ(found.rowsWithoutKey[0].ordinal, 1u);
    EXPECT_EQ(
        found.rowsWithoutKey[0].values,
        (std::vector<Value>{Value(), Value::text("No code"), Value::text("P2"), Value::number(2)}));
    EXPECT_EQ(found.duplicatedKeys, Lines{"A1"});
    ASSERT_EQ(found.repeatedPlu.size(), 1u);
    EXPECT_EQ(found.repeatedPlu[0].pluCode, "P1");
    EXPECT_EQ(found.repeatedPlu[0].itemCode, "A1");
    EXPECT_EQ(found.duplicateRows.rows, 2u);
    EXPECT_EQ(found.excludedKeys, (Lines{"A1", "A1"}));
    EXPECT_EQ(found.finalListing.rows, 2u);
    ASSERT_EQ(found.finalListing.badKeys.size(), 1u);
    EXPECT_EQ(found.finalListing.badKeys[0].key, "B 1");
    EXPECT_EQ(found.finalListing.badKeys[0].row.ordinal, 1u);
    EXPECT_TRUE(found.errorFound());
    EXPECT_EQ(log.rows, (Lines{"NULL:  No code P2 2", "done", "DUPLICATE: A1 A1 Cola P1 1",
                               "DUPLICATE: A1 A1 Cola P1 3", "done", "PLUERR: A1 A1 Cola P1 1",
                               "PLUERR: A1 A1 Cola P1 3", "done", "CODEERR: B 1 B 1 Blank P4 4",
                               "OK: C1 C1 Tea P5 5", "done"}));
    EXPECT_TRUE(ui.list.empty() && ui.boxes.empty()) << "the service shows nothing";
}

TEST_F(VerifySheet, ARowThatCannotBeStoredEndsOnlyItsCheck) {
    choose(itemBook(R"(["A1","Cola","P1",1],["A1","Cola","P2",2],["B 1","Blank","P3",3],)"
                    R"(["C1","Tea","P4",4])"),
           "KINV_MT_ITEM");
    RowLog log;
    log.failAt = 3;  // the second row of the duplicate listing
    VerifyRequest request{workbookCache(*form), ui.fields[4], "KINV_MT_ITEM",
                          "KINV_MT_ITEM",       "ItemCode",   false};
    VerifyFindings found = verifySheet(request, log);
    EXPECT_EQ(found.duplicateRows.rows, 2u);
    EXPECT_EQ(found.duplicateRows.error, "disk full");
    EXPECT_EQ(found.excludedKeys, Lines{"A1"}) << "its keys are still left out of the rest";
    EXPECT_FALSE(found.pluCheckError);
    EXPECT_EQ(found.finalListing.rows, 2u);
    EXPECT_EQ(log.rows,
              (Lines{"done", "DUPLICATE: A1 A1 Cola P1 1", "DUPLICATE: A1 A1 Cola P2 2", "failed",
                     "CODEERR: B 1 B 1 Blank P3 3", "OK: C1 C1 Tea P4 4", "done"}));
    std::vector<FindingLine> shown = findingLines(found, "ItemCode");
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, "Duplicated Item Code ... [A1]");
    EXPECT_TRUE(shown[1].error);
    EXPECT_EQ(shown[1].text, "disk full");
    EXPECT_EQ(shown[2].text, "Code Error Detected for B 1");
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
    EXPECT_EQ(form->st.ErrKeys, Lines{"A1"});
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
    form->st.ErrKeys = {"X"};
    CheckDuplicateKeys(*form);
    EXPECT_EQ(ui.list, (Lines{"Duplicated Item Code ... [B2]", "Duplicated Item Code ... [Z9]"}));
    EXPECT_EQ(form->st.ErrKeys, (Lines{"X", "B2", "Z9"}));
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
    form->st.ErrKeys = {"X"};
    CheckDuplicateKeys(*form);
    EXPECT_TRUE(ui.list.empty());
    EXPECT_FALSE(ui.startEnabled);
    EXPECT_FALSE(form->st.ErrFound);
    EXPECT_EQ(form->st.ErrKeys, Lines{"X"});
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
    EXPECT_EQ(form->st.ErrKeys, Lines{"1001"});
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
    EXPECT_EQ(form->st.ErrKeys, Lines{"A1"});
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
    EXPECT_TRUE(form->st.ErrKeys.empty());
    EXPECT_FALSE(hasFile(modeFileSuffix("PLUERR")));
}

TEST_F(DuplicatePlu, AnItemWithTwoRepeatedCodesIsGatheredTwiceAndListedOnce) {
    choose(itemBook(R"(["A1","Cola","P2",1],["A1","Cola","P1",2],["A1","Cola","P2",3],)"
                    R"(["A1","Cola","P1",4],["B1","Tea","P3",5])"),
           "KINV_MT_ITEM");
    prepareCheck();
    CheckDuplicatePlu(*form);
    EXPECT_EQ(ui.list, (Lines{"Plu Code Duplicate ... [P1]", "Plu Code Duplicate ... [P2]"}));
    EXPECT_EQ(form->st.ErrKeys, (Lines{"A1", "A1"}));
    EXPECT_EQ(form->st.ErrCount, 4);
    EXPECT_EQ(lines(modeFileSuffix("PLUERR")).size(), 4u);
}

using CodeListing = VerifyTest;

TEST_F(CodeListing, BadCodesGoToTheCodeErrorFileOnly) {
    choose(itemBook(R"(["A1 ","Trailing","P1",1],["B'1","Quote","P2",2],["C1","Fine","P3",3],)"
                    R"(["C1","Fine again","P4",4])"),
           "KINV_MT_ITEM");
    prepareCheck();
    form->st.ErrKeys = {"A1 ", "B'1", "C1"};
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
        form->st.ErrKeys = {"Z"};
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

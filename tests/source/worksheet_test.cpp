// Worksheet statements: the shapes the procedures run, with the workbook driver's
// case-blind names and comparisons, and errors that say what is wrong.

#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/text.h"
#include "source/worksheet.h"
#include "tests/support/test_env.h"

namespace kordb {
namespace {

class Worksheet : public ::testing::Test {
  protected:
    void SetUp() override {
        auto dir = test::scratchDir("worksheet");
        path = test::writeWorkbook(dir / "w.xls", R"({"sheets":[
          {"name":"KINV_MT_ITEM","rows":[
            ["ItemCode","ItemName","PluCode","Price"],
            ["A1","Cola","P1",1.5],
            ["a1","Cola Zero","P2",2],
            [null,"No code","P3",3],
            ["","Empty text","P4",4],
            ["B2","Bun","P5",5],
            ["B2","Bun","P5",5],
            ["C'3","Quote",null,6]]},
          {"name":"Débiteurs","rows":[["DebtorCode"],["D1"]]},
          {"name":"Empty","rows":[["ClassCode","ClassName"]]},
          {"name":"Padded","rows":[[" DebtorCode ","\u00a0Name\t"],["D1","x"]]}]})")
                   .string();
        book = std::make_shared<Workbook>(path);
    }
    std::vector<std::vector<std::string>> rows(const std::string& sql) {
        SheetRecordset rs(book, sql);
        std::vector<std::vector<std::string>> out;
        for (; !rs.eof(); rs.moveNext()) {
            std::vector<std::string> r;
            for (int i = 0; i < rs.fieldCount(); ++i) {
                Value v = rs.field(i);
                r.push_back(v.isNull() ? "<null>" : v.toText());
            }
            out.push_back(r);
        }
        return out;
    }
    std::string path;
    std::shared_ptr<Workbook> book;
};

using Rows = std::vector<std::vector<std::string>>;

TEST_F(Worksheet, SelectStarReadsEveryRowInSheetOrder) {
    SheetRecordset rs(book, "SELECT * FROM [kinv_mt_item$]");
    ASSERT_EQ(rs.fieldCount(), 4);
    EXPECT_EQ(rs.fieldName(0), "ItemCode");
    EXPECT_EQ(rs.field("itemname").toText(), "Cola") << "field names ignore letter case";
    EXPECT_TRUE(rs.field("PRICE").isNumber());
    int n = 0;
    for (; !rs.eof(); rs.moveNext()) ++n;
    EXPECT_EQ(n, 7);
    EXPECT_THROW(rs.moveNext(), KorError);
}

TEST_F(Worksheet, NullKeyStatementFindsEmptyCellsAndEmptyText) {
    // The key comes first and again at its own place among the sheet's columns. A cell
    // holding the empty text reads as Null, like an empty one.
    Rows r = rows("Select ItemCode, * From [KINV_MT_ITEM$] Where ItemCode Is Null Or ItemCode=''");
    EXPECT_EQ(r, (Rows{{"<null>", "<null>", "No code", "P3", "3"},
                       {"<null>", "<null>", "Empty text", "P4", "4"}}));
}

TEST_F(Worksheet, GroupByCountsCaseBlindSkipsNullsAndSortsByKey) {
    Rows r = rows("Select Count(ItemCode), ItemCode From [KINV_MT_ITEM$] group by ItemCode");
    // "A1" and "a1" are one key; the Null group counts 0.
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0], (std::vector<std::string>{"0", "<null>"}));
    EXPECT_EQ(r[1][0], "2");
    EXPECT_TRUE(r[1][1] == "A1" || r[1][1] == "a1");
    EXPECT_EQ(r[2], (std::vector<std::string>{"2", "B2"}));
    EXPECT_EQ(r[3], (std::vector<std::string>{"1", "C'3"}));
}

TEST_F(Worksheet, PluGroupingByPairs) {
    Rows r = rows(
        "Select Count(PluCode), PluCode, ItemCode From [KINV_MT_ITEM$] Group By "
        "PluCode, ItemCode");
    int repeated = 0;
    for (auto& row : r)
        if (row[0] != "0" && row[0] != "1") {
            ++repeated;
            EXPECT_EQ(row, (std::vector<std::string>{"2", "P5", "B2"}));
        }
    EXPECT_EQ(repeated, 1);
}

TEST_F(Worksheet, InAndNotInListsCompareWithoutCase) {
    Rows in = rows("Select ItemCode, * From [KINV_MT_ITEM$] Where ItemCode In ('b2','C''3')");
    EXPECT_EQ(in.size(), 3u);
    Rows ok = rows(
        "Select ItemCode, * From [KINV_MT_ITEM$] Where ItemCode Is Not Null And ItemCode<>'' "
        "And ItemCode Not In ('A1')");
    ASSERT_EQ(ok.size(), 3u);
    EXPECT_EQ(ok[0][0], "B2");
}

TEST_F(Worksheet, QuotedCodesFindNumericCodes) {
    auto dir = test::scratchDir("numeric");
    auto file = test::writeWorkbook(dir / "n.xls", R"({"sheets":[{"name":"S","rows":[
        ["ItemCode","Qty"],[1001,1],[1002,2],[1001,3]]}]})");
    auto numeric = std::make_shared<Workbook>(file.string());
    SheetRecordset rs(numeric, "Select ItemCode, * From [S$] Where ItemCode In ('1001')");
    int n = 0;
    for (; !rs.eof(); rs.moveNext(), ++n) EXPECT_EQ(rs.field(0).toText(), "1001");
    EXPECT_EQ(n, 2);
    SheetRecordset none(numeric, "Select ItemCode From [S$] Where ItemCode Is Null Or ItemCode=''");
    EXPECT_TRUE(none.eof());
}

TEST(CaseBlindOrder, IsOneOrderForAsciiAndOtherLetters) {
    // "_" lies between the upper- and lower-case letters: folding must agree for both paths,
    // or grouping could split a repeated key.
    EXPECT_LT(compareNoCase("_", "a"), 0);
    EXPECT_LT(compareNoCase("_", "_é"), 0);
    EXPECT_LT(compareNoCase("_é", "a"), 0);
    EXPECT_EQ(compareNoCase("Ünï", "üNÏ"), 0);
    EXPECT_EQ(compareNoCase("ab", "AB"), 0);
}

TEST_F(Worksheet, SheetNamesMatchWithoutCaseBeyondAscii) {
    EXPECT_EQ(rows("SELECT * FROM [DÉBITEURS$]"), (Rows{{"D1"}}));
}

TEST_F(Worksheet, HeaderOnlySheetIsAtEofAtOnce) {
    SheetRecordset rs(book, "SELECT * FROM [Empty$]");
    EXPECT_TRUE(rs.eof());
    EXPECT_EQ(rs.fieldCount(), 2);
}

TEST_F(Worksheet, ErrorsNameWhatIsWrong) {
    auto fault = [&](const std::string& sql) -> KorError {
        try {
            SheetRecordset rs(book, sql);
            rs.field("NoSuchColumn");
        } catch (const KorError& e) {
            return e;
        }
        return KorError(0, "no error");
    };
    KorError sheet = fault("SELECT * FROM [KLED_MT_DEBTOR$]");
    EXPECT_EQ(sheet.number(), errnum::kTableNotFound);
    EXPECT_NE(std::string(sheet.what()).find("KLED_MT_DEBTOR"), std::string::npos);
    EXPECT_NE(std::string(sheet.what()).find(path), std::string::npos);

    KorError column = fault("Select DebtorCode, * From [KINV_MT_ITEM$] Where DebtorCode Is Null");
    EXPECT_NE(std::string(column.what()).find("DebtorCode"), std::string::npos);
    EXPECT_NE(std::string(column.what()).find("KINV_MT_ITEM"), std::string::npos);

    KorError syntax = fault("Select * Frm [KINV_MT_ITEM$]");
    EXPECT_EQ(syntax.number(), errnum::kCommandText);

    KorError field = fault("SELECT * FROM [KINV_MT_ITEM$]");
    EXPECT_EQ(field.number(), errnum::kItemNotFound);
    EXPECT_NE(std::string(field.what()).find("NoSuchColumn"), std::string::npos);

    // A header with blanks around the name looks right in the spreadsheet: the text says so.
    const std::string padded =
        "Column 'DebtorCode' not found in the header row of worksheet "
        "'Padded': its header ' DebtorCode ' has blanks around the name.";
    EXPECT_EQ(fault("Select DebtorCode, * From [Padded$] Where DebtorCode Is Null").what(), padded);
    // A no-break space or a tab is a blank too.
    EXPECT_EQ(fault("Select Name From [Padded$]").what(),
              std::string("Column 'Name' not found in the header row of worksheet 'Padded': its "
                          "header '\xC2\xA0Name\t' has blanks around the name."));
    try {
        SheetRecordset(book, "SELECT * FROM [Padded$]").field("DebtorCode");
        ADD_FAILURE() << "no error";
    } catch (const KorError& e) {
        EXPECT_EQ(e.what(), padded);
    }
}

TEST_F(Worksheet, LiteralsHoldingBracketsAreNotSheetNames) {
    Rows r = rows("Select ItemCode From [KINV_MT_ITEM$] Where ItemName = '[x$]'");
    EXPECT_TRUE(r.empty());
}

}  // namespace
}  // namespace kordb

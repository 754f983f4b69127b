// Class, debtor, creditor and other master worksheets: new keys inserted with their column
// rules, existing and empty keys skipped, the closing message and the two error paths.

#include "core/errors.h"
#include "core/tables.h"
#include "tests/migration/fixture.h"

namespace kordb::test {
namespace {

using Cells = std::map<std::string, std::string>;

const std::vector<std::string> kClassHeader = {"ClassCode", "ClassName", "ClassTypeCode",
                                               "AppCode"};

class Master : public MigrationTest {
  protected:
    void run(const std::string& sheet, std::vector<std::string> header, std::vector<Cells> cells) {
        workbook({{sheet, std::move(header), std::move(cells)}});
        choose(sheet);
        runMaster();
    }
    void expectSuccess() {
        ASSERT_EQ(ui.boxes.size(), 1u) << ui.allBoxes();
        EXPECT_TRUE(isBox(ui.boxes[0], "Migration Successfully", "Message", Icon::Exclamation));
    }
    void expectNotFound() {
        ASSERT_EQ(ui.boxes.size(), 1u) << ui.allBoxes();
        EXPECT_TRUE(isBox(ui.boxes[0], "MSSQL Table Not Found.", "Message", Icon::Critical));
    }
    // The number box (no icon, the application's title), then the description box.
    void expectNumberedError(long number, const std::string& inText) {
        ASSERT_EQ(ui.boxes.size(), 2u) << ui.allBoxes();
        EXPECT_TRUE(isBox(ui.boxes[0], std::to_string(number), "", Icon::None));
        EXPECT_EQ(ui.boxes[1].title, "Message");
        EXPECT_EQ(ui.boxes[1].icon, Icon::Critical);
        EXPECT_NE(ui.boxes[1].text.find(inText), std::string::npos) << ui.boxes[1].text;
    }
};

TEST_P(Master, ClassRowsTakeTheKeyRuleAndDefaults) {
    ui.list = {"left from verification"};
    run("KINV_MT_CLASS", kClassHeader,
        {{{"ClassCode", str(" c01 ")},
          {"ClassName", str(" Drinks ")},
          {"ClassTypeCode", str("T1")},
          {"AppCode", str("POS")}},
         {{"ClassCode", str("C02")}},
         {{"ClassCode", num(7)}, {"ClassName", num(12.5)}}});
    expectSuccess();
    EXPECT_EQ(ui.list,
              (std::vector<std::string>{"left from verification", "[ c01 ]", "[C02]", "[7]"}));
    EXPECT_EQ(rows("SELECT ClassCode, ClassName, ClassTypeCode, AppCode, ClassStatus FROM "
                   "KINV_MT_CLASS ORDER BY ClassCode"),
              (Rows{{"7", "12.5", "<null>", "NIL", "ACTIVE"},
                    {"C01", " Drinks ", "T1", "POS", "ACTIVE"},
                    {"C02", "<null>", "<null>", "NIL", "ACTIVE"}}));
    EXPECT_EQ(form.st.DestSQL, "SELECT * FROM KINV_MT_CLASS WHERE ClassCode=?");
}

TEST_P(Master, ExistingAndEmptyKeysAreSkipped) {
    exec("INSERT INTO KINV_MT_CLASS (ClassCode, ClassName, AppCode) VALUES ('C01', 'Old', 'A')");
    run("KINV_MT_CLASS", kClassHeader,
        {{{"ClassCode", str("c01")}, {"ClassName", str("New")}},
         {{"ClassName", str("No key")}},
         {{"ClassCode", str("   ")}, {"ClassName", str("Blank key")}},
         {{"ClassCode", str("C02")}, {"ClassName", str("First")}},
         {{"ClassCode", str("c02 ")}, {"ClassName", str("Again")}}});
    expectSuccess();
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[C02]"}));
    EXPECT_EQ(rows("SELECT ClassCode, ClassName, AppCode FROM KINV_MT_CLASS ORDER BY ClassCode"),
              (Rows{{"C01", "Old", "A"}, {"C02", "First", "NIL"}}));
}

TEST_P(Master, DebtorRowsTakeNilAndZeroDefaults) {
    std::vector<std::string> header = debtorHeader("Debtor");
    run("KLED_MT_DEBTOR", header,
        {{{"DebtorCode", str("D1")}},
         {{"DebtorCode", str("D2")},
          {"DebtorName", str("Dee")},
          {"GLCode", str("   ")},
          {"AreaCode", str("N")},
          {"Address1", str("1 Road")},
          {"Address4", str("Town")},
          {"DeliveryAddress2", str("Dock")},
          {"ContactPerson", str("Ann")},
          {"TelephoneNo", str("012")},
          {"HandphoneNo", str("013")},
          {"EmailAddress", str("a@b.c")},
          {"Website", str("w.example")},
          {"CreditLimit", num(1500.5)},
          {"CreditTerm", num(60)},
          {"CJ5No", str("CJ")},
          {"FaxNo", str("014")},
          {"PaymentTerm", num(30)}},
         {{"DebtorCode", str("D3")}, {"PaymentTerm", str("")}}});
    expectSuccess();
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[D1]", "[D2]", "[D3]"}));
    EXPECT_EQ(rows("SELECT DebtorName, GLCode, AreaCode, Address1, Address4, PaymentTerm, "
                   "CreditLimit, CreditTerm, Currency FROM KLED_MT_DEBTOR WHERE DebtorCode='D1'"),
              (Rows{{"<null>", "NIL", "NIL", "<null>", "<null>", "0", "0", "0", "MYR"}}));
    EXPECT_EQ(rows("SELECT DebtorName, GLCode, AreaCode, Address1, Address2, Address3, Address4, "
                   "DeliveryAddress1, DeliveryAddress2 FROM KLED_MT_DEBTOR WHERE DebtorCode='D2'"),
              (Rows{{"Dee", "   ", "N", "1 Road", "<null>", "<null>", "Town", "<null>", "Dock"}}));
    EXPECT_EQ(
        rows("SELECT ContactPerson, TelephoneNo, HandphoneNo, EmailAddress, Website, "
             "CreditLimit, CreditTerm, CJ5No, FaxNo, PaymentTerm FROM KLED_MT_DEBTOR "
             "WHERE DebtorCode='D2'"),
        (Rows{{"Ann", "012", "013", "a@b.c", "w.example", "1500.5", "60", "CJ", "014", "30"}}));
    EXPECT_EQ(one("SELECT PaymentTerm FROM KLED_MT_DEBTOR WHERE DebtorCode='D3'"), "0");
}

TEST_P(Master, NumbersAreStoredAtTheScaleOfTheirColumns) {
    // CreditLimit numeric(18,2), CreditTerm integer, PaymentTerm smallint: rounded half away
    // from zero by the tool, whatever a driver would do with the fraction. The SQLite driver
    // gives numeric columns as doubles, which keep what they are given.
    const bool exact = isPostgres();
    struct Case {
        double limit, term, payment;
        Rows stored;
    };
    const Case cases[] = {
        {0.3, 2.5, 1.4, {{"0.3", "3", "1"}}},
        {1.235, 3.5, -2.5, {{exact ? "1.24" : "1.235", "4", "-3"}}},
        {2.3, -0.4, 32767.4, {{"2.3", "0", "32767"}}},
        {1500.005, 60, 0.5, {{exact ? "1500.01" : "1500.005", "60", "1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        exec("DELETE FROM KLED_MT_DEBTOR");
        ui.boxes.clear();
        run("KLED_MT_DEBTOR", debtorHeader("Debtor"),
            {{{"DebtorCode", str("D1")},
              {"CreditLimit", num(c.limit)},
              {"CreditTerm", num(c.term)},
              {"PaymentTerm", num(c.payment)}}});
        expectSuccess();
        EXPECT_EQ(rows("SELECT CreditLimit, CreditTerm, PaymentTerm FROM KLED_MT_DEBTOR"),
                  c.stored);
    }
}

TEST_P(Master, CreditorRowsTakeTheSameColumns) {
    run("KLED_MT_CREDITOR", debtorHeader("Creditor"),
        {{{"CreditorCode", str("cr1")},
          {"CreditorName", str("Supplier")},
          {"Address3", str("Port")},
          {"PaymentTerm", num(14)}}});
    expectSuccess();
    EXPECT_EQ(rows("SELECT CreditorCode, CreditorName, GLCode, AreaCode, Address3, PaymentTerm, "
                   "Currency FROM KLED_MT_CREDITOR"),
              (Rows{{"CR1", "Supplier", "NIL", "NIL", "Port", "14", "MYR"}}));
}

TEST_P(Master, UnknownSheetStoresItsKeyColumnAlone) {
    exec(
        "CREATE TABLE KINV_MT_BRAND (ClassCode varchar(20) NOT NULL PRIMARY KEY, "
        "BrandName varchar(50) DEFAULT 'unnamed', AppCode varchar(20))");
    workbook({{"KINV_MT_CLASS", kClassHeader, {}},
              {"kinv_mt_brand",
               {"ClassCode", "BrandName", "AppCode"},
               {{{"ClassCode", str("b1")}, {"BrandName", str("Acme")}, {"AppCode", kEmpty}}}}});
    choose("KINV_MT_CLASS");
    choose("kinv_mt_brand");  // no rules of its own: the key column stays ClassCode
    runMaster();
    expectSuccess();
    EXPECT_EQ(rows("SELECT ClassCode, BrandName, AppCode FROM KINV_MT_BRAND"),
              (Rows{{"B1", "unnamed", "<null>"}}));
}

TEST_P(Master, UnknownSheetWithNoKeyColumnYetSaysWhy) {
    workbook({{"Sheet3", {"ClassCode"}, {{{"ClassCode", str("C1")}}}}});
    choose("Sheet3");  // nothing matched since the window was loaded: no key column
    runMaster();
    expectNumberedError(errnum::kItemNotFound, table::noKeyColumnText("Sheet3"));
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_CLASS"), "0");
}

TEST_P(Master, ErrorAtTheNthNewRowKeepsTheRowsBefore) {
    // Class names are limited by a check the engines both enforce.
    recreate("KINV_MT_CLASS", [](std::string ddl) {
        std::string col = "ClassName varchar(100)";
        return ddl.replace(ddl.find(col), col.size(), col + " CHECK (length(ClassName) < 10)");
    });
    exec("INSERT INTO KINV_MT_CLASS (ClassCode) VALUES ('C2')");
    run("KINV_MT_CLASS", kClassHeader,
        {{{"ClassCode", str("C1")}, {"ClassName", str("ok")}},
         {{"ClassCode", str("C2")}, {"ClassName", str("far too long a name")}},
         {{"ClassCode", str("C3")}, {"ClassName", str("ok")}},
         {{"ClassCode", str("C4")}, {"ClassName", str("far too long a name")}},
         {{"ClassCode", str("C5")}, {"ClassName", str("ok")}}});
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_TRUE(isBox(ui.boxes[0], std::to_string(errnum::kIntegrity), "", Icon::None));
    EXPECT_EQ(ui.boxes[1].icon, Icon::Critical);
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[C1]", "[C3]", "[C4]"}));
    EXPECT_EQ(rows("SELECT ClassCode FROM KINV_MT_CLASS ORDER BY ClassCode"),
              (Rows{{"C1"}, {"C2"}, {"C3"}}));
}

TEST_P(Master, MissingTableEndsWithTableNotFound) {
    exec("DROP TABLE KINV_MT_CLASS");
    ui.list = {"kept"};
    run("KINV_MT_CLASS", kClassHeader, {{{"ClassCode", str("C1")}}});
    expectNotFound();
    EXPECT_EQ(ui.list, (std::vector<std::string>{"kept"}));
}

TEST_P(Master, WorksheetNamesCannotChangeTheStatement) {
    exec("INSERT INTO KINV_MT_CLASS (ClassCode) VALUES ('C0')");
    for (const char* name :
         {"KINV_MT_CLASS; DROP TABLE KINV_MT_ITEM", "KINV_MT_CLASS --",
          "KINV_MT_CLASS\" WHERE 1=1 --", "KINV_MT_CLASS WHERE 1=0 UNION SELECT"}) {
        SCOPED_TRACE(name);
        ui.boxes.clear();
        workbook({{"KINV_MT_CLASS", kClassHeader, {}},
                  {name, kClassHeader, {{{"ClassCode", str("C1")}}}}});
        choose("KINV_MT_CLASS");
        choose(name);
        runMaster();
        expectNotFound();
    }
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_ITEM"), "0") << "the item table is still there";
    EXPECT_EQ(rows("SELECT ClassCode FROM KINV_MT_CLASS"), (Rows{{"C0"}}));
}

TEST_P(Master, TableNameNeedingQuotesReachesItsTable) {
    exec(
        "CREATE TABLE \"KINV MT \"\"SPARE\"\"\" (ClassCode varchar(20) PRIMARY KEY, "
        "AppCode varchar(20))");
    workbook({{"KINV_MT_CLASS", kClassHeader, {}},
              {"kinv mt \"spare\"", {"ClassCode", "AppCode"}, {{{"ClassCode", str("s1")}}}}});
    choose("KINV_MT_CLASS");
    choose("kinv mt \"spare\"");
    runMaster();
    expectSuccess();
    EXPECT_EQ(rows("SELECT ClassCode, AppCode FROM \"KINV MT \"\"SPARE\"\"\""),
              (Rows{{"S1", "<null>"}}));
    EXPECT_EQ(form.st.DestSQL, "SELECT * FROM \"KINV MT \"\"SPARE\"\"\" WHERE ClassCode=?");
}

TEST_P(Master, QuotedAndNonAsciiKeysAreStoredIntact) {
    std::vector<Cells> sheet = {
        {{"ClassCode", str("o'neil")}, {"ClassName", str("It's")}},
        {{"ClassCode", str("école")}, {"ClassName", str("Bücher & Café 書籍")}}};
    run("KINV_MT_CLASS", kClassHeader, sheet);
    expectSuccess();
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[o'neil]", "[école]"}));
    EXPECT_EQ(rows("SELECT ClassCode, ClassName FROM KINV_MT_CLASS ORDER BY ClassName"),
              (Rows{{"ÉCOLE", "Bücher & Café 書籍"}, {"O'NEIL", "It's"}}));

    // Found again by the same keys: nothing added, nothing listed.
    ui.boxes.clear();
    ui.list.clear();
    runMaster();
    expectSuccess();
    EXPECT_TRUE(ui.list.empty());
    EXPECT_EQ(one("SELECT COUNT(*) FROM KINV_MT_CLASS"), "2");
}

TEST_P(Master, MissingWorksheetColumnShowsNumberThenDescription) {
    exec("INSERT INTO KLED_MT_DEBTOR (DebtorCode) VALUES ('D0')");
    std::vector<std::string> header = debtorHeader("Debtor");
    header.erase(std::find(header.begin(), header.end(), "FaxNo"));
    run("KLED_MT_DEBTOR", header, {{{"DebtorCode", str("D0")}}, {{"DebtorCode", str("D1")}}});
    // Noticed at the first new row, after its line.
    expectNumberedError(errnum::kItemNotFound, "FaxNo");
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[D1]"}));
    EXPECT_EQ(one("SELECT COUNT(*) FROM KLED_MT_DEBTOR"), "1");
}

TEST_P(Master, MissingDestinationColumnFailsOnlyWhenAssigned) {
    recreate("KLED_MT_DEBTOR", [](std::string ddl) {
        std::string col = "  CJ5No varchar(30),\n";
        return ddl.erase(ddl.find(col), col.size());
    });
    run("KLED_MT_DEBTOR", debtorHeader("Debtor"),
        {{{"DebtorCode", str("D1")}}, {{"DebtorCode", str("D2")}, {"CJ5No", str("X")}}});
    expectNumberedError(errnum::kItemNotFound, "CJ5No");
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[D1]", "[D2]"}));
    EXPECT_EQ(rows("SELECT DebtorCode FROM KLED_MT_DEBTOR"), (Rows{{"D1"}}));
}

TEST_P(Master, WorksheetMissingFromTheWorkbookIsTableNotFound) {
    workbook({{"KINV_MT_CLASS", kClassHeader, {}}});
    choose("KINV_MT_CLASS");
    form.st.SheetName = "KLED_MT_DEBTOR";
    MigrateMasterTable(form);
    expectNotFound();
}

INSTANTIATE_TEST_SUITE_P(Engines, Master, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         engineLabel);

class TypedMaster : public Master {};

TEST_P(TypedMaster, ValueTheColumnCannotTakeShowsTheConversionNumber) {
    run("KLED_MT_DEBTOR", debtorHeader("Debtor"),
        {{{"DebtorCode", str("D1")}, {"CreditLimit", num(10)}},
         {{"DebtorCode", str("D2")}, {"CreditLimit", str("lots")}}});
    expectNumberedError(errnum::kConversion, "lots");
    EXPECT_EQ(ui.list, (std::vector<std::string>{"[D1]", "[D2]"}));
    EXPECT_EQ(rows("SELECT DebtorCode, CreditLimit FROM KLED_MT_DEBTOR"), (Rows{{"D1", "10"}}));
}

INSTANTIATE_TEST_SUITE_P(Engines, TypedMaster, ::testing::Values(Engine::Postgres), engineLabel);

}  // namespace
}  // namespace kordb::test

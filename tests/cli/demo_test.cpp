// The demo laid out by demo/make_demo.sh and run by demo/run_headless.sh: a destination with
// the five tables, a clean workbook that verifies and migrates, and a faulty one that shows its
// faults. The companion is run from a copy in the scratch folder, so that its error files land
// there, beside the running executable.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "settings/settings_store.h"
#include "source/workbook.h"
#include "tests/cli/cli_support.h"

namespace kordb::test {
namespace {

namespace fs = std::filesystem;

fs::path sourceDir() {
    const char* v = std::getenv("KORDB_SOURCE_DIR");
    return v ? fs::path(v) : fs::path(".");
}

int countPrefix(const std::vector<std::string>& ls, const std::string& prefix) {
    return int(std::count_if(ls.begin(), ls.end(),
                             [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

class DemoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = scratchDir(std::string("demo_") + info->name());
        Outcome made = runProgram(sourceDir() / "demo/make_demo.sh", {(dir / "demo").string()});
        ASSERT_EQ(made.status, 0) << made.out << made.err;
        demo = dir / "demo";
        bin = dir / "bin";
        fs::create_directories(bin);
        fs::copy_file(cliExe(), bin / "kordb-cli");
        fs::permissions(bin / "kordb-cli", fs::perms::owner_all);
        db = {"KordbLite", (demo / "kordb_demo.db").string(), "demo", "demo"};
    }

    Outcome cli(const std::vector<std::string>& args) {
        RunOptions o;
        o.env = {{"KORDB_PASSWORD", std::nullopt},
                 {"XDG_CONFIG_HOME", (demo / "settings").string()}};
        return runProgram(bin / "kordb-cli", args, o);
    }

    long count(const std::string& table) {
        return std::stol(query(db, "SELECT COUNT(*) FROM " + table)[0][0]);
    }

    fs::path dir, demo, bin;
    Destination db;
};

TEST_F(DemoTest, LaysOutAnEmptyDestinationItsDataSourceAndSettings) {
    EXPECT_EQ(query(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"),
              (std::vector<std::vector<std::string>>{{"KINV_MT_CLASS"},
                                                     {"KINV_MT_ITEM"},
                                                     {"KINV_MT_PLU"},
                                                     {"KLED_MT_CREDITOR"},
                                                     {"KLED_MT_DEBTOR"}}));
    for (const char* t :
         {"KINV_MT_ITEM", "KINV_MT_PLU", "KINV_MT_CLASS", "KLED_MT_DEBTOR", "KLED_MT_CREDITOR"})
        EXPECT_EQ(count(t), 0) << t;

    std::string odbcIni = readFile(demo / "odbc.ini");
    EXPECT_NE(odbcIni.find("[KordbDemo]"), std::string::npos) << odbcIni;
    EXPECT_NE(odbcIni.find("Database=" + db.database + "\n"), std::string::npos) << odbcIni;
    std::string odbcinst = readFile(demo / "odbcinst.ini");
    size_t driver = odbcinst.find("Driver=");
    ASSERT_NE(driver, std::string::npos);
    fs::path lib = odbcinst.substr(driver + 7, odbcinst.find('\n', driver) - driver - 7);
    EXPECT_TRUE(fs::exists(lib)) << lib;

    // What the window reads at start, with XDG_CONFIG_HOME pointing at the demo.
    SettingsStore store(demo / "settings");
    EXPECT_EQ(store.fileFor("KORDB"), demo / "settings" / "KORDB.ini");
    EXPECT_EQ(store.get("KORDB", "GeneralSetting", "cserver"), "KordbDemo");
    EXPECT_EQ(store.get("KORDB", "GeneralSetting", "ConnTable"), db.database);
    EXPECT_EQ(store.get("KORDB", "GeneralSetting", "clogin"), "demo");
    EXPECT_EQ(store.get("KORDB", "GeneralSetting", "cpassword"), "demo");
    struct stat st {};
    ASSERT_EQ(::stat((demo / "settings" / "KORDB.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds a password";
}

TEST_F(DemoTest, DemoDataSourceRefusesAMistypedDatabase) {
    RunOptions o;
    o.env = {{"ODBCSYSINI", demo.string()},
             {"ODBCINI", (demo / "odbc.ini").string()},
             {"XDG_CONFIG_HOME", (demo / "settings").string()},
             {"KORDB_PASSWORD", std::nullopt}};
    const std::string wb = (demo / "kordb_demo.xls").string();
    Outcome r = runProgram(bin / "kordb-cli",
                           {"migrate", "--sheet", "KINV_MT_CLASS", "--yes", wb, "--database",
                            (demo / "typo.db").string()},
                           o);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("Message: Error connection !!!"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(demo / "typo.db"));

    // Through the demo's data source and settings alone, the load goes through.
    Outcome ok =
        runProgram(bin / "kordb-cli", {"migrate", "--sheet", "KINV_MT_CLASS", "--yes", wb}, o);
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(count("KINV_MT_CLASS"), 25);
}

TEST_F(DemoTest, CleanWorkbookHasEveryMigratedColumnAndVerifiesClean) {
    fs::path clean = demo / "kordb_demo.xls";
    Outcome sheets = cli({"sheets", clean.string()});
    ASSERT_EQ(sheets.status, 0) << sheets.err;
    EXPECT_EQ(sheets.out, "KINV_MT_ITEM\nKINV_MT_CLASS\nKLED_MT_DEBTOR\nKLED_MT_CREDITOR\n");

    Workbook book(clean.string());
    const auto& items = book.sheet(0);
    for (const std::string& c : itemColumns())
        EXPECT_NE(std::find(items.columns.begin(), items.columns.end(), c), items.columns.end())
            << c;
    EXPECT_GE(items.dataRows, 200u);
    EXPECT_LE(items.dataRows, 999u);
    int accented = 0, nonLatin = 0;
    for (uint32_t r = 0; r < items.dataRows; ++r) {
        std::string name = book.cell(0, r, 1).toText();
        if (std::any_of(name.begin(), name.end(), [](char c) { return (unsigned char)c >= 0xC3; }))
            ++accented;
        // A lead byte of three or more bytes: Chinese, Japanese, Korean, Thai, Tamil...
        if (std::any_of(name.begin(), name.end(), [](char c) { return (unsigned char)c >= 0xE0; }))
            ++nonLatin;
    }
    EXPECT_GT(accented, 10);
    EXPECT_GT(nonLatin, 10);
    const std::vector<std::pair<int, std::vector<std::string>>> party = {
        {2, {"DebtorCode", "DebtorName"}}, {3, {"CreditorCode", "CreditorName"}}};
    for (const auto& [index, keyColumns] : party) {
        std::vector<std::string> want = keyColumns;
        for (const char* c : {"GLCode",
                              "AreaCode",
                              "Address1",
                              "Address2",
                              "Address3",
                              "Address4",
                              "DeliveryAddress1",
                              "DeliveryAddress2",
                              "DeliveryAddress3",
                              "DeliveryAddress4",
                              "ContactPerson",
                              "TelephoneNo",
                              "HandphoneNo",
                              "EmailAddress",
                              "Website",
                              "CreditLimit",
                              "CreditTerm",
                              "CJ5No",
                              "FaxNo",
                              "PaymentTerm"})
            want.push_back(c);
        EXPECT_EQ(book.sheet(index).columns, want) << book.sheetName(index);
        EXPECT_GT(book.sheet(index).dataRows, 5u);
    }

    for (const char* sheet :
         {"KINV_MT_ITEM", "KINV_MT_CLASS", "KLED_MT_DEBTOR", "KLED_MT_CREDITOR"}) {
        Outcome r = cli({"verify", "--sheet", sheet, clean.string()});
        EXPECT_EQ(r.status, 0) << sheet << "\n" << r.out << r.err;
        EXPECT_EQ(lines(r.out), (std::vector<std::string>{"Verifying....", "Verifying Completed.",
                                                          "No Error Found."}))
            << sheet;
        EXPECT_TRUE(fs::equivalent(noteFolder(r.err), bin)) << r.err;
    }
    auto ok = errorFileLines(bin / "kordb_demo.xls_Migrate_OK.txt");
    ASSERT_TRUE(ok);
    uint32_t rows = 0;
    for (int i = 0; i < 4; ++i) rows += book.sheet(i).dataRows;
    EXPECT_EQ(ok->size(), rows) << "every row of every sheet passed";
}

TEST_F(DemoTest, FaultsWorkbookShowsEachDeliberateFault) {
    fs::path faults = demo / "kordb_demo_faults.xls";
    Outcome items = cli({"verify", "--sheet", "KINV_MT_ITEM", faults.string()});
    EXPECT_EQ(items.status, 1) << items.err;
    auto out = lines(items.out);
    EXPECT_EQ(countPrefix(out, "Error Detected for ItemCode at Row ["), 1) << items.out;
    EXPECT_EQ(countPrefix(out, "Error !!! [1] Null Value Detected"), 1);
    EXPECT_EQ(countPrefix(out, "Duplicated Item Code ... ["), 2) << items.out;
    EXPECT_EQ(countPrefix(out, "Plu Code Duplicate ... ["), 1) << items.out;
    ASSERT_EQ(countPrefix(out, "Code Error Detected for "), 1) << items.out;
    auto codeError = std::find_if(out.begin(), out.end(), [](const std::string& l) {
        return l.rfind("Code Error Detected for ", 0) == 0;
    });
    EXPECT_EQ(codeError->back(), ' ') << "the code with a trailing blank";
    EXPECT_TRUE(std::find(out.begin(), out.end(), "No Error Found.") == out.end());
    for (const char* suffix : {"_Migrate_NULL.txt", "_Migrate_DUPLICATE.txt", "_Migrate_PLUERR.txt",
                               "_Migrate_CODEERR.txt", "_Migrate_OK.txt"})
        EXPECT_TRUE(fs::exists(bin / (std::string("kordb_demo_faults.xls") + suffix))) << suffix;

    Outcome classes = cli({"verify", "--sheet", "KINV_MT_CLASS", faults.string()});
    EXPECT_EQ(classes.status, 1) << classes.err;
    auto classOut = lines(classes.out);
    EXPECT_EQ(countPrefix(classOut, "Error Detected for ClassCode at Row ["), 1) << classes.out;
    EXPECT_EQ(countPrefix(classOut, "Code Error Detected for "), 1) << classes.out;
}

TEST_F(DemoTest, HeadlessRunFillsTheDestinationAndCanBeRepeated) {
    const std::string settings = readFile(demo / "settings" / "KORDB.ini");
    // A terminal-less run with none of the test's ODBC configuration: the demo brings its own.
    RunOptions o;
    o.env = {{"ODBCINI", std::nullopt}, {"ODBCSYSINI", std::nullopt}};
    Outcome r = runProgram(sourceDir() / "demo/run_headless.sh", {demo.string(), bin.string()}, o);
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    Workbook book((demo / "kordb_demo.xls").string());
    const long items = book.sheet(0).dataRows;
    auto expect = [&]() {
        EXPECT_EQ(count("KINV_MT_ITEM"), items);
        EXPECT_EQ(count("KINV_MT_PLU"), items);
        EXPECT_EQ(count("KINV_MT_CLASS"), long(book.sheet(1).dataRows));
        EXPECT_EQ(count("KLED_MT_DEBTOR"), long(book.sheet(2).dataRows));
        EXPECT_EQ(count("KLED_MT_CREDITOR"), long(book.sheet(3).dataRows));
    };
    expect();
    auto out = lines(r.out);
    EXPECT_EQ(countPrefix(out, "(exit status 0)"), 4) << r.out;
    EXPECT_EQ(countPrefix(out, "(exit status 1)"), 2) << r.out;
    EXPECT_EQ(countPrefix(out, "KINV_MT_ITEM ") + countPrefix(out, "KINV_MT_PLU "), 2) << r.out;
    EXPECT_EQ(readFile(demo / "settings" / "KORDB.ini"), settings);

    // Items are changed in place and existing master rows left alone: nothing doubles.
    Outcome again =
        runProgram(sourceDir() / "demo/run_headless.sh", {demo.string(), bin.string()}, o);
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    expect();
}

}  // namespace
}  // namespace kordb::test

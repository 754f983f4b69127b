// The headless companion as a black box: the built kordb-cli run on scratch workbooks against
// the SQLite and PostgreSQL destinations, its output streams, exit statuses and files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>

#include "tests/cli/cli_support.h"

namespace kordb::test {
namespace {

namespace fs = std::filesystem;

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

class CliTest : public CompanionTest {
  protected:
    CliTest() : CompanionTest("cli") {}

    // No password variable, unless the extra variables say otherwise.
    Outcome cli(const std::vector<std::string>& args, RunOptions o = {}) {
        return runCli(args, std::move(o), std::nullopt);
    }

    std::vector<std::string> connection(const Destination& d) {
        return {"--server", d.server, "--database", d.database, "--user", d.user};
    }

    RunOptions withPassword(const std::string& pw) {
        RunOptions o;
        o.env.push_back({"KORDB_PASSWORD", pw});
        return o;
    }

    void writeSettings(const std::string& text) {
        std::ofstream(config / "KORDB.ini", std::ios::binary) << text;
    }

    fs::path errorFile(const Outcome& r, const std::string& suffix) {
        return noteFolder(r.err) / (title + suffix);
    }
};

// -- Command line --------------------------------------------------------------------------

TEST_F(CliTest, BadCommandLinesExitTwoWithNotesOnly) {
    fs::path wb = book({classSheet({{T("C1"), T("One"), Null, Null}})});
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate", wb.string()},
        {"sheets"},
        {"sheets", wb.string(), "extra"},
        {"sheets", "--sheet", "KINV_MT_CLASS", wb.string()},
        {"verify", wb.string()},
        {"verify", "--sheet", "", wb.string()},
        {"verify", wb.string(), "--sheet"},
        {"verify", "--no-verify", "--sheet", "KINV_MT_CLASS", wb.string()},
        {"migrate", "--sheet", "KINV_MT_CLASS", wb.string(), "--bogus"},
        {"migrate", "--sheet", "KINV_MT_CLASS", "--yes=no", wb.string()},
        {"migrate", "--sheet", "KINV_MT_CLASS"},
    };
    for (const auto& args : bad) {
        std::string shown;
        for (const auto& a : args) shown += " '" + a + "'";
        Outcome r = cli(args);
        EXPECT_EQ(r.status, 2) << shown << "\n" << r.err;
        EXPECT_EQ(r.out, "") << shown;
        ASSERT_FALSE(r.err.empty()) << shown;
        for (const std::string& l : lines(r.err))
            EXPECT_EQ(l.rfind("# ", 0), 0u) << shown << ": " << l;
    }
}

TEST_F(CliTest, PasswordOnTheCommandLineIsRefused) {
    fs::path wb = book({classSheet({{T("C1"), T("One"), Null, Null}})});
    for (std::string form : {"--password", "--password=secret"}) {
        std::vector<std::string> args = {"migrate", "--sheet", "KINV_MT_CLASS", wb.string(), form};
        if (form == "--password") args.push_back("secret");
        Outcome r = cli(args);
        EXPECT_EQ(r.status, 2) << form;
        EXPECT_NE(r.err.find("KORDB_PASSWORD"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("secret"), std::string::npos) << "the password is not echoed";
    }
}

TEST_F(CliTest, HelpDescribesCommandsOptionsOutputAndStatuses) {
    Outcome r = cli({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* needle :
         {"kordb-cli sheets WORKBOOK", "kordb-cli verify --sheet NAME WORKBOOK",
          "kordb-cli migrate --sheet NAME WORKBOOK", "--yes", "--no-verify", "--server",
          "--database", "--user", "KORDB_PASSWORD", "never writes the settings store",
          "standard output", "standard error", "progress", "Exit status", "  3  no connection",
          "kordb-cli check --sheet NAME WORKBOOK"})
        EXPECT_NE(r.out.find(needle), std::string::npos) << needle;
    EXPECT_EQ(cli({"verify", "--help"}).out, r.out) << "--help wins wherever it stands";
}

TEST_F(CliTest, UnknownSheetIsAUsageErrorNamingTheSheets) {
    fs::path wb = book({classSheet({}), jsonSheet("Sheet2", {})});
    Outcome r = cli({"verify", "--sheet", "KLED_MT_DEBTOR", wb.string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("KINV_MT_CLASS, Sheet2"), std::string::npos) << r.err;
    EXPECT_TRUE(noteFolder(r.err).empty()) << "nothing was verified";
}

// -- sheets --------------------------------------------------------------------------------

TEST_F(CliTest, SheetsListsNamesOneALineInWorkbookOrder) {
    fs::path wb = book({itemSheet({}), classSheet({}), jsonSheet("Sheet3", {}),
                        jsonSheet("Prix été 価格", {{T("x")}})});
    Outcome r = cli({"sheets", wb.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "KINV_MT_ITEM\nKINV_MT_CLASS\nSheet3\nPrix été 価格\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, UnreadableWorkbookExitsThreeWithTheReadersMessage) {
    fs::path missing = dir / "missing.xls";
    fs::path text = dir / "notes.xls";
    std::ofstream(text) << "this is not a workbook\n";
    for (const fs::path& wb : {missing, text}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"sheets", wb.string()},
              std::vector<std::string>{"verify", "--sheet", "KINV_MT_ITEM", wb.string()},
              std::vector<std::string>{"migrate", "--sheet", "KINV_MT_ITEM", "--yes",
                                       wb.string()}}) {
            Outcome r = cli(args);
            EXPECT_EQ(r.status, 3) << args[0] << " " << wb << "\n" << r.err;
            EXPECT_EQ(r.out, "");
            ASSERT_FALSE(lines(r.err).empty());
            EXPECT_EQ(lines(r.err)[0].rfind("Message: ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(wb.filename().string()), std::string::npos) << r.err;
        }
    }
}

// A workbook that opens, whose string table ends inside a string: the damage shows only when
// the sheet is read.
fs::path damagedSheetBook(const fs::path& file) {
    const std::string script = R"(import sys, zipfile
ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="r1" Type="' + rel + '/officeDocument" Target="xl/workbook.xml"/></Relationships>')
    z.writestr('xl/workbook.xml', '<workbook ' + ns + ' xmlns:r="' + rel + '"><sheets><sheet name="KINV_MT_ITEM" sheetId="1" r:id="r1"/></sheets></workbook>')
    z.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="r1" Type="' + rel + '/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="r2" Type="' + rel + '/sharedStrings" Target="sharedStrings.xml"/></Relationships>')
    z.writestr('xl/worksheets/sheet1.xml', '<worksheet ' + ns + '><sheetData><row r="1"><c r="A1" t="s"><v>0</v></c></row><row r="2"><c r="A2" t="s"><v>1</v></c></row></sheetData></worksheet>')
    z.writestr('xl/sharedStrings.xml', '<sst ' + ns + '><si><t>ItemCode</t></si><si><t>A1')
)";
    fs::path py = file.parent_path() / "damaged.py";
    std::ofstream(py) << script;
    std::string cmd = "/usr/bin/python3 '" + py.string() + "' '" + file.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return file;
}

TEST_F(CliTest, SheetDamagedInsideEndsEveryCommandReadingItWithThreeAndOneMessage) {
    Destination d = freshSqlite(name);
    execSql(d, destinationDdl());
    fs::path wb = damagedSheetBook(dir / "damaged.xlsx");
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"sheets"}, 0},  // names only: no sheet is read
        {{"cells", "--sheet", "KINV_MT_ITEM"}, 3},
        {{"verify", "--sheet", "KINV_MT_ITEM"}, 3},
        {{"plan", "--sheet", "KINV_MT_ITEM"}, 3},
        {{"migrate", "--sheet", "KINV_MT_ITEM", "--yes"}, 3},
        {{"migrate", "--sheet", "KINV_MT_ITEM", "--yes", "--no-verify"}, 3},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(wb.string());
        if (c.args[0] != "sheets" && c.args[0] != "cells")
            for (const std::string& a : connection(d)) args.push_back(a);
        Outcome r = cli(args, withPassword(d.password));
        std::string what = ::testing::PrintToString(c.args);
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        if (c.status == 0) {
            EXPECT_EQ(r.out, "KINV_MT_ITEM\n");
            continue;
        }
        EXPECT_EQ(r.out, "") << what;
        std::vector<std::string> boxes;
        for (const std::string& l : lines(r.err))
            if (l.rfind("# ", 0) != 0) boxes.push_back(l);
        ASSERT_EQ(boxes.size(), 1u) << what << "\n" << r.err;
        EXPECT_EQ(boxes[0].rfind("Message: Worksheet 'KINV_MT_ITEM' of workbook '" + wb.string() +
                                     "' cannot be read: it is damaged: ",
                                 0),
                  0u)
            << boxes[0];
        EXPECT_EQ(boxes[0].find("cannot be read", boxes[0].find("cannot be read") + 1),
                  std::string::npos)
            << boxes[0];
    }
    EXPECT_EQ(query(d, "SELECT COUNT(*) FROM KINV_MT_ITEM"),
              (std::vector<std::vector<std::string>>{{"0"}}));
}

// -- verify --------------------------------------------------------------------------------

TEST_F(CliTest, VerifyFindingsGoToStdoutBoxesToStderrRowsToErrorFiles) {
    book({itemSheet({{T("A1"), T("Cola"), T("111")},
                     {Null, T("No code"), T("999")},
                     {T("B2"), T("Tea"), T("222")},
                     {T("B2"), T("Tea again"), T("223")},
                     {T("C3 "), T("Soda"), T("333")}})});
    // A relative path, and connection options that lead nowhere: verify uses neither a
    // connection nor the folder it was started in.
    RunOptions o;
    o.cwd = dir;
    Outcome r = cli({"verify", "--sheet", "KINV_MT_ITEM", title, "--server", "NoSuchServer",
                     "--database", "nowhere", "--user", "nobody"},
                    o);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(r.out),
              (std::vector<std::string>{"Verifying....", "Error Detected for ItemCode at Row [2]",
                                        "Error !!! [1] Null Value Detected",
                                        "Duplicated Item Code ... [B2]",
                                        "Code Error Detected for C3 ", "Verifying Completed."}));
    EXPECT_TRUE(contains(lines(r.err), "Message: Verifying Completed. Error Found.")) << r.err;
    EXPECT_EQ(r.err.find("Error connection"), std::string::npos);
    EXPECT_EQ(countNotes(r.err, "# error files: "), 1);

    // The folder is the executable's own, and the files carry the workbook's file name.
    fs::path folder = noteFolder(r.err);
    ASSERT_FALSE(folder.empty()) << r.err;
    EXPECT_TRUE(fs::equivalent(folder, binFolder())) << folder;
    auto null = errorFileLines(errorFile(r, "_Migrate_NULL.txt"));
    auto dup = errorFileLines(errorFile(r, "_Migrate_DUPLICATE.txt"));
    auto codeErr = errorFileLines(errorFile(r, "_Migrate_CODEERR.txt"));
    auto ok = errorFileLines(errorFile(r, "_Migrate_OK.txt"));
    ASSERT_TRUE(null && dup && codeErr && ok);
    EXPECT_EQ(null->size(), 1u);
    EXPECT_EQ(dup->size(), 2u);
    ASSERT_EQ(codeErr->size(), 1u);
    EXPECT_EQ((*codeErr)[0].rfind("C3 \t", 0), 0u) << (*codeErr)[0];
    ASSERT_EQ(ok->size(), 1u);
    EXPECT_EQ((*ok)[0].rfind("A1\t", 0), 0u) << (*ok)[0];
    EXPECT_FALSE(fs::exists(dir / (title + "_Migrate_NULL.txt")));

    // A second run appends, as the window's would.
    Outcome again = cli({"verify", "--sheet", "kinv_mt_item", (dir / title).string()});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(errorFileLines(errorFile(r, "_Migrate_NULL.txt"))->size(), 2u);
}

TEST_F(CliTest, VerifyCleanSheetExitsZeroEvenWithInvalidCodes) {
    fs::path wb = book({classSheet({{T("C1"), T("One"), T("DEPT"), Null},
                                    {T("C2"), T("Two"), Null, T("POS")},
                                    {T("C 3"), T("Blank inside"), Null, Null}})});
    Outcome r = cli({"verify", "--sheet", "KINV_MT_CLASS", wb.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out),
              (std::vector<std::string>{"Verifying....", "Code Error Detected for C 3",
                                        "Verifying Completed.", "No Error Found."}));
    EXPECT_TRUE(contains(lines(r.err), "Message: Verifying Completed. No Error Found."));
    EXPECT_EQ(errorFileLines(errorFile(r, "_Migrate_OK.txt"))->size(), 2u);
    EXPECT_FALSE(fs::exists(errorFile(r, "_Migrate_NULL.txt")));
}

TEST_F(CliTest, VerifyOfASheetWithoutItsKeyColumnExitsOne) {
    // The checks cannot run: the window would still say "No Error Found.", but the sheet was
    // not verified, so the companion does not report success.
    fs::path wb = book({jsonSheet("KLED_MT_DEBTOR", {{T("Code"), T("Name")}, {T("D1"), T("X")}})});
    Outcome r = cli({"verify", "--sheet", "KLED_MT_DEBTOR", wb.string()});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    int checkErrors = 0;
    for (const std::string& l : lines(r.err))
        if (l.rfind("Message: ", 0) == 0 && l.find("Verifying Completed") == std::string::npos)
            ++checkErrors;
    EXPECT_GE(checkErrors, 1) << r.err;
}

// -- migrate -------------------------------------------------------------------------------

TEST_F(CliTest, MigrateAfterCleanVerifyStoresRowsInSqlite) {
    Destination d = freshSqlite(name);
    execSql(d, destinationDdl());
    fs::path wb = book({itemSheet({{T("A1"), T("Cola"), T("9555000000011")},
                                   {T("B2"), T("Café crème"), Null},
                                   {T("C3"), T("緑茶 Молоко"), T("9555000000035")}})});
    std::vector<std::string> args = {"migrate", "--sheet", "KINV_MT_ITEM", wb.string(), "--yes"};
    for (const std::string& a : connection(d)) args.push_back(a);
    Outcome r = cli(args, withPassword(d.password));
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    EXPECT_EQ(lines(r.out),
              (std::vector<std::string>{"Verifying....", "Verifying Completed.", "No Error Found.",
                                        "[A1] Cola", "[B2] Café crème", "[C3] 緑茶 Молоко"}));
    auto err = lines(r.err);
    EXPECT_TRUE(contains(err, "Message: Verifying Completed. No Error Found."));
    EXPECT_TRUE(contains(err, "Question: Confirm to Start Migrate ? "));
    EXPECT_TRUE(contains(err, "Message: Completed."));
    EXPECT_EQ(countNotes(r.err, "# error files: "), 1);

    EXPECT_EQ(query(d, "SELECT ItemCode, ItemName FROM KINV_MT_ITEM ORDER BY ItemCode"),
              (std::vector<std::vector<std::string>>{
                  {"A1", "Cola"}, {"B2", "Café crème"}, {"C3", "緑茶 Молоко"}}));
    EXPECT_EQ(query(d, "SELECT ItemCode, PluCode FROM KINV_MT_PLU ORDER BY ItemCode"),
              (std::vector<std::vector<std::string>>{
                  {"A1", "9555000000011"}, {"B2", "B2"}, {"C3", "9555000000035"}}));
    EXPECT_FALSE(fs::exists(config / "KORDB.ini")) << "the companion never writes settings";
}

TEST_F(CliTest, MigrateWithoutYesAndWithoutTerminalIsAnsweredNo) {
    Destination d = freshSqlite(name);
    execSql(d, destinationDdl());
    fs::path wb = book({classSheet({{T("C1"), T("One"), Null, Null}})});
    std::vector<std::string> args = {"migrate", "--sheet", "KINV_MT_CLASS", wb.string()};
    for (const std::string& a : connection(d)) args.push_back(a);
    Outcome r = cli(args, withPassword("x"));
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(contains(lines(r.err), "Question: Confirm to Start Migrate ? ")) << r.err;
    EXPECT_NE(r.err.find("# answered No"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Message: Completed."), std::string::npos);
    EXPECT_EQ(query(d, "SELECT COUNT(*) FROM KINV_MT_CLASS")[0][0], "0");
}

TEST_F(CliTest, MigrateStopsWhenVerificationFindsAnError) {
    Destination d = freshSqlite(name);
    execSql(d, destinationDdl());
    fs::path wb =
        book({classSheet({{T("C1"), T("One"), Null, Null}, {Null, T("No key"), Null, Null}})});
    std::vector<std::string> args = {"migrate", "--sheet", "KINV_MT_CLASS", wb.string(), "--yes"};
    for (const std::string& a : connection(d)) args.push_back(a);
    Outcome r = cli(args, withPassword("x"));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(lines(r.err), "Message: Verifying Completed. Error Found."));
    EXPECT_EQ(r.err.find("Question:"), std::string::npos) << "Start stays disabled";
    EXPECT_EQ(query(d, "SELECT COUNT(*) FROM KINV_MT_CLASS")[0][0], "0");

    // --no-verify is for a sheet verified separately: it goes straight to Start.
    args.push_back("--no-verify");
    Outcome skipped = cli(args, withPassword("x"));
    EXPECT_EQ(skipped.status, 0) << skipped.err;
    EXPECT_EQ(lines(skipped.out), (std::vector<std::string>{"[C1]"}));
    EXPECT_TRUE(noteFolder(skipped.err).empty());
    EXPECT_TRUE(contains(lines(skipped.err), "Message: Migration Successfully"));
    EXPECT_EQ(query(d, "SELECT ClassCode, AppCode FROM KINV_MT_CLASS"),
              (std::vector<std::vector<std::string>>{{"C1", "NIL"}}));
}

TEST_F(CliTest, ErrorsReportedByTheMigrationExitOne) {
    // No destination tables at all: the master table migration's table-not-found box.
    Destination bare = freshSqlite(name + "_bare");
    execSql(bare, "CREATE TABLE Unrelated (x integer)");
    fs::path wb = book({classSheet({{T("C1"), T("One"), Null, Null}}),
                        jsonSheet("KLED_MT_DEBTOR", {{T("DebtorCode"), T("DebtorName")},
                                                     {T("D1"), T("Short of columns")}})});
    std::vector<std::string> args = {"migrate", "--sheet", "KINV_MT_CLASS", wb.string(), "--yes"};
    for (const std::string& a : connection(bare)) args.push_back(a);
    Outcome r = cli(args, withPassword("x"));
    EXPECT_EQ(r.status, 1) << r.err;
    auto err = lines(r.err);
    EXPECT_TRUE(contains(err, "Message: MSSQL Table Not Found.")) << r.err;
    EXPECT_TRUE(contains(err, "Message: Completed.")) << "the driver still closes the run";

    // A worksheet short of a migrated column: the bare error-number box shows the caption.
    Destination d = freshSqlite(name);
    execSql(d, destinationDdl());
    args = {"migrate", "--sheet", "KLED_MT_DEBTOR", wb.string(), "--yes"};
    for (const std::string& a : connection(d)) args.push_back(a);
    r = cli(args, withPassword("x"));
    EXPECT_EQ(r.status, 1) << r.err;
    std::regex numberBox("Korvin Database Migration Tools: -?[0-9]+");
    err = lines(r.err);
    EXPECT_TRUE(std::any_of(err.begin(), err.end(), [&](const std::string& l) {
        return std::regex_match(l, numberBox);
    })) << r.err;
}

// -- check ---------------------------------------------------------------------------------

TEST_F(CliTest, CheckPrintsOneLineAFindingAndExitsByWhetherTheDestinationFits) {
    Destination d = freshSqlite(name);
    execSql(d, destinationDdl());
    fs::path wb = book({classSheet({{T("C1"), T("One"), Null, Null}})});
    auto check = [&](const Destination& to) {
        std::vector<std::string> args = {"check", "--sheet", "KINV_MT_CLASS", wb.string()};
        for (const std::string& a : connection(to)) args.push_back(a);
        return cli(args, withPassword(to.password));
    };
    Outcome fits = check(d);
    EXPECT_EQ(fits.status, 0) << fits.out << fits.err;
    auto out = lines(fits.out);
    EXPECT_TRUE(contains(out,
                         "column KINV_MT_CLASS.ClassName varchar(100): fits, longest 3 "
                         "characters"))
        << fits.out;
    EXPECT_TRUE(contains(out, "right INSERT on KINV_MT_CLASS: fits, proved at row 2, rolled back"));
    EXPECT_TRUE(contains(lines(fits.err), "# check: the destination fits KINV_MT_CLASS"))
        << fits.err;
    EXPECT_TRUE(noteFolder(fits.err).empty()) << "no error files";
    EXPECT_EQ(query(d, "SELECT COUNT(*) FROM KINV_MT_CLASS")[0][0], "0");

    execSql(d, "DROP TABLE KINV_MT_CLASS; CREATE TABLE KINV_MT_CLASS (ClassCode varchar(20))");
    Outcome misfit = check(d);
    EXPECT_EQ(misfit.status, 1) << misfit.err;
    EXPECT_TRUE(
        contains(lines(misfit.out), "column KINV_MT_CLASS.ClassName: does not fit: missing"))
        << misfit.out;
    EXPECT_TRUE(contains(lines(misfit.err), "# check: 4 findings do not fit KINV_MT_CLASS"))
        << misfit.err;

    Outcome closed = check({"KordbClosed", "postgres", "kordb", "kordb-pass"});
    EXPECT_EQ(closed.status, 3) << closed.err;
    EXPECT_EQ(closed.out, "");
}

TEST_F(CliTest, EmptyConnectionValueExitsThreeAsTheWindowRefuses) {
    fs::path wb = book({classSheet({{T("C1"), T("One"), Null, Null}})});
    Outcome r = cli({"migrate", "--sheet", "KINV_MT_CLASS", wb.string(), "--yes", "--server",
                     "KordbLite", "--database", (dir / "x.db").string(), "--user", "u"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(lines(r.err).at(0), "Message: Empty Field !!!");
    EXPECT_NE(r.err.find("KORDB_PASSWORD"), std::string::npos) << "says which value is missing";
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(dir / "x.db")) << "no connection was attempted";
}

TEST_F(CliTest, PostgresPasswordFromEnvironmentElseSettingsWhichStayUntouched) {
    if (!postgresAvailable()) GTEST_SKIP() << "no test PostgreSQL server";
    Destination d = freshPostgres("kordb_cli_pg");
    execSql(d, destinationDdl());
    fs::path wb = book({classSheet(
        {{T("c1 "), T("Boissons"), T("DEPT"), Null}, {T("C2"), T("饮料"), Null, T("POS")}})});
    // Stored values fill in what the command line leaves out; the server is overridden.
    const std::string stored = "[GeneralSetting]\ncServer=NoSuchServer\nConnTable=" + d.database +
                               "\ncLogin=" + d.user + "\ncPassword=stored-wrong\n";
    writeSettings(stored);
    const auto storedTime = fs::last_write_time(config / "KORDB.ini");
    std::vector<std::string> args = {"migrate", "--sheet",  "KINV_MT_CLASS", wb.string(),
                                     "--yes",   "--server", d.server};

    Outcome wrong = cli(args);  // the stored password
    EXPECT_EQ(wrong.status, 3) << wrong.err;
    EXPECT_TRUE(contains(lines(wrong.err), "Message: Error connection !!!")) << wrong.err;
    EXPECT_EQ(wrong.out, "");

    Outcome right = cli(args, withPassword(d.password));
    EXPECT_EQ(right.status, 0) << right.out << right.err;
    EXPECT_EQ(
        query(d, "SELECT ClassCode, ClassName, AppCode FROM KINV_MT_CLASS ORDER BY 1"),
        (std::vector<std::vector<std::string>>{{"C1", "Boissons", "NIL"}, {"C2", "饮料", "POS"}}));
    EXPECT_EQ(right.err.find(d.password), std::string::npos) << "the password is never shown";
    EXPECT_EQ(readFile(config / "KORDB.ini"), stored);
    EXPECT_EQ(fs::last_write_time(config / "KORDB.ini"), storedTime);

    // The variable wins over a stored password that would work.
    writeSettings("[GeneralSetting]\ncServer=" + d.server + "\nConnTable=" + d.database +
                  "\ncLogin=" + d.user + "\ncPassword=" + d.password + "\n");
    const auto before = fs::last_write_time(config / "KORDB.ini");
    const std::string good = readFile(config / "KORDB.ini");
    Outcome overridden = cli({"migrate", "--sheet", "KINV_MT_CLASS", wb.string(), "--yes"},
                             withPassword("env-wrong"));
    EXPECT_EQ(overridden.status, 3) << overridden.err;
    Outcome fromSettings = cli({"migrate", "--sheet", "KINV_MT_CLASS", wb.string(), "--yes"});
    EXPECT_EQ(fromSettings.status, 0) << fromSettings.err;
    EXPECT_EQ(readFile(config / "KORDB.ini"), good);
    EXPECT_EQ(fs::last_write_time(config / "KORDB.ini"), before);
}

// -- terminal ------------------------------------------------------------------------------

TEST_F(CliTest, OnATerminalTheQuestionIsAskedAndProgressStaysOffStdout) {
    Destination d = freshSqlite(name);
    execSql(d, destinationDdl());
    std::vector<Item> items;
    for (int i = 1; i <= 150; ++i)
        items.push_back({T("T" + std::to_string(1000 + i)), T("Item " + std::to_string(i)),
                         T(std::to_string(9555000000000LL + i))});
    fs::path wb = book({itemSheet(items)});
    std::vector<std::string> args = {"migrate", "--sheet", "KINV_MT_ITEM", wb.string()};
    for (const std::string& a : connection(d)) args.push_back(a);

    RunOptions no = withPassword("x");
    no.terminalAnswer = "n";
    Outcome declined = cli(args, no);
    EXPECT_EQ(declined.status, 2) << declined.terminal;
    EXPECT_NE(declined.terminal.find("Question: Confirm to Start Migrate ?  [y/N] "),
              std::string::npos)
        << declined.terminal;
    EXPECT_EQ(query(d, "SELECT COUNT(*) FROM KINV_MT_ITEM")[0][0], "0");

    RunOptions yes = withPassword("x");
    yes.terminalAnswer = "y";
    Outcome r = cli(args, yes);
    EXPECT_EQ(r.status, 0) << r.terminal;
    EXPECT_EQ(query(d, "SELECT COUNT(*) FROM KINV_MT_ITEM")[0][0], "150");
    EXPECT_NE(r.terminal.find("/150 rows"), std::string::npos) << r.terminal;
    EXPECT_NE(r.terminal.find("Message: Completed."), std::string::npos);
    // Standard output holds the list lines and nothing of the progress line.
    auto out = lines(r.out);
    EXPECT_EQ(out.size(), 3u + 150u);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(r.out.find("rows"), std::string::npos);
    EXPECT_EQ(out.back(), "[T1150] Item 150");
    // The progress line is gone before the closing notes.
    size_t lastDraw = r.terminal.rfind("/150 rows");
    size_t cleared = r.terminal.find("\r\033[K", lastDraw);
    EXPECT_NE(cleared, std::string::npos);
    EXPECT_LT(cleared, r.terminal.find("Message: Completed."));
}

TEST_F(CliTest, ASheetNameWithBlanksAroundItIsReadAsPicked) {
    Destination d = freshSqlite(name);
    execSql(d, destinationDdl());
    std::string sheet = classSheet({{T("C1"), T("One"), Null, Null}});
    sheet.replace(sheet.find("\"KINV_MT_CLASS\""), 15, "\" KINV_MT_CLASS \"");
    fs::path wb = book({sheet});
    for (const char* picked : {" KINV_MT_CLASS ", "kinv_mt_class"}) {
        Outcome v = cli({"verify", "--sheet", picked, wb.string()});
        EXPECT_EQ(v.status, 0) << picked << v.err;
    }
    std::vector<std::string> args = {"migrate", "--sheet", " KINV_MT_CLASS ", wb.string(), "--yes"};
    for (const std::string& a : connection(d)) args.push_back(a);
    Outcome r = cli(args, withPassword(d.password));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(query(d, "SELECT ClassCode, ClassName FROM KINV_MT_CLASS"),
              (std::vector<std::vector<std::string>>{{"C1", "One"}}));
}

TEST_F(CliTest, CellsPrintsTheSheetAsReadTheSameInEveryFormat) {
    const fs::path fixtures = fs::path(std::getenv("KORDB_SOURCE_DIR")) / "tests/fixtures";
    std::string first;
    for (const char* file : {"items.xls", "items.xlsx", "items.ods"}) {
        Outcome r = cli({"cells", "--sheet", "kinv_mt_item", (fixtures / file).string()});
        ASSERT_EQ(r.status, 0) << file << r.err;
        if (first.empty()) first = r.out;
        EXPECT_EQ(r.out, first) << file << " reads otherwise than items.xls";
    }
    auto rows = lines(first);
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[0].rfind("ItemCode\tItemName\tAppCode\t", 0), 0u);
    // A code column of numbers and text reads as text, the number without a decimal point.
    EXPECT_EQ(rows[2].rfind("10002\tTeh Tarik Premium 1L\tPOS\t", 0), 0u) << rows[2];
}

TEST_F(CliTest, CellsEscapesTextTypesColumnsAndStopsAfterRows) {
    fs::path wb = book({jsonSheet("S", {{T("Code"), T("Text"), T("Price"), T("Day"), T("Blank")},
                                        {"1001", T("tab\there"), "0.30000000000000004",
                                         R"({"date":"2024-01-15"})", Null},
                                        {T("A-2"), T("two\nlines \\ back"), "1e22",
                                         R"({"datetime":"2024-01-15T10:30:00"})", Null},
                                        {T("A-3"), R"({"text":""})", "-0.5", Null, Null}}),
                        jsonSheet("E", {})});
    Outcome r = cli({"cells", "--sheet", "S", "--types", wb.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out),
              (std::vector<std::string>{
                  "Code\tText\tPrice\tDay\tBlank", "text\ttext\tnumber\tdate\tempty",
                  "1001\ttab\\there\t0.30000000000000004\t2024-01-15\t",
                  "A-2\ttwo\\nlines \\\\ back\t1e+22\t2024-01-15T10:30:00\t", "A-3\t\t-0.5\t\t"}));
    // An empty sheet: its one column, typed like any other.
    EXPECT_EQ(lines(cli({"cells", "--sheet", "E", "--types", wb.string()}).out),
              (std::vector<std::string>{"F1", "empty"}));
    Outcome two = cli({"cells", "--sheet", "S", "--rows", "1", wb.string()});
    EXPECT_EQ(lines(two.out).size(), 2u) << two.out;
    for (const char* bad : {"-1", "x", ""})
        EXPECT_EQ(cli({"cells", "--sheet", "S", "--rows", bad, wb.string()}).status, 2) << bad;
    EXPECT_EQ(cli({"cells", "--sheet", "nope", wb.string()}).status, 2);
    EXPECT_EQ(cli({"cells", "--sheet", "S", (dir / "missing.xls").string()}).status, 3);
}

TEST_F(CliTest, OneWorkbookInThreeFormatsGivesTheSameErrorFilesAndRows) {
    const fs::path fixtures = fs::path(std::getenv("KORDB_SOURCE_DIR")) / "tests/fixtures";
    const std::string base = title.substr(0, title.size() - 4);  // without ".xls"
    std::vector<std::vector<std::string>> errorFiles, rows;
    for (const char* ext : {".xls", ".xlsx", ".ods"}) {
        fs::path wb = dir / (base + ext);
        fs::copy_file(fixtures / (std::string("items") + ext), wb,
                      fs::copy_options::overwrite_existing);
        Outcome v = cli({"verify", "--sheet", "KINV_MT_ITEM", wb.string()});
        EXPECT_EQ(v.status, 1) << ext << v.err;  // the fixture carries every kind of finding
        std::vector<std::string> files;
        for (const char* suffix :
             {"_Migrate_NULL.txt", "_Migrate_DUPLICATE.txt", "_Migrate_PLUERR.txt",
              "_Migrate_CODEERR.txt", "_Migrate_OK.txt"}) {
            fs::path f = noteFolder(v.err) / (wb.filename().string() + suffix);
            std::ifstream in(f, std::ios::binary);
            files.push_back(std::string(std::istreambuf_iterator<char>(in), {}));
            fs::remove(f);
        }
        errorFiles.push_back(files);

        Destination d = freshSqlite(name + ext);
        execSql(d, destinationDdl());
        std::vector<std::string> args = {"migrate", "--no-verify",  "--yes",
                                         "--sheet", "KINV_MT_ITEM", wb.string()};
        for (const std::string& a : connection(d)) args.push_back(a);
        cli(args, withPassword(d.password));
        std::vector<std::string> dump;
        for (const char* table : {"KINV_MT_ITEM", "KINV_MT_PLU"})
            for (const auto& row :
                 query(d, std::string("SELECT * FROM ") + table + " ORDER BY ItemCode"))
                for (const auto& cell : row) dump.push_back(cell);
        rows.push_back(dump);
        for (const fs::path& j : fs::directory_iterator(noteFolder(v.err)))
            if (j.filename().string().rfind(wb.filename().string() + "_Migrate_UNDO_", 0) == 0)
                fs::remove(j);
    }
    ASSERT_FALSE(rows[0].empty());
    EXPECT_FALSE(errorFiles[0][0].empty()) << "the fixture has an empty code";
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(errorFiles[i], errorFiles[0]) << "format " << i;
        EXPECT_EQ(rows[i], rows[0]) << "format " << i;
    }
}

}  // namespace
}  // namespace kordb::test

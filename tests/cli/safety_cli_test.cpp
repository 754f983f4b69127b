// The net around Start from the command line: plan, migrate --atomic, the undo journal a
// migration names, and undo with its statuses, against a real destination.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "tests/cli/cli_support.h"

namespace kordb::test {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

class SafetyCli : public CompanionTest {
  protected:
    SafetyCli() : CompanionTest("safety") {}

    void SetUp() override {
        CompanionTest::SetUp();
        // What the files let others do must not depend on the umask.
        oldMask = ::umask(0);
        d = freshSqlite(name);
        execSql(d, destinationDdl());
        execSql(d, "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('A1', 'Old')");
    }
    void TearDown() override {
        ::umask(oldMask);
        CompanionTest::TearDown();
    }

    Outcome cli(std::vector<std::string> args, const Destination& to) {
        args.insert(args.end(),
                    {"--server", to.server, "--database", to.database, "--user", to.user});
        return runCli(args, {}, to.password);
    }
    Rows items() { return query(d, "SELECT ItemCode, ItemName FROM KINV_MT_ITEM ORDER BY 1"); }
    static std::string note(const Outcome& r, const std::string& prefix) {
        for (const std::string& l : lines(r.err))
            if (l.rfind(prefix, 0) == 0) return l.substr(prefix.size());
        return {};
    }

    Destination d;
    mode_t oldMask = 0;
};

TEST_F(SafetyCli, PlanMigrateAtomicAndUndoWithTheirStatuses) {
    const Rows before = items();
    const std::string goodSheet = itemSheet({{T("A1"), T("New"), Null}, {T("B2"), T("Bun"), Null}});
    fs::path good = book({goodSheet});

    Outcome plan = cli({"plan", "--sheet", "KINV_MT_ITEM", good.string()}, d);
    EXPECT_EQ(plan.status, 0) << plan.err;
    ASSERT_EQ(lines(plan.out).size(), 2u) << plan.out;
    EXPECT_EQ(lines(plan.out)[0].rfind("update [A1] ItemName: Old -> New", 0), 0u) << plan.out;
    EXPECT_EQ(lines(plan.out)[1], "insert [B2]");
    EXPECT_EQ(items(), before);

    // An atomic run that fails at its last row stores nothing and names no journal.
    fs::path bad = book({itemSheet(
        {{T("A1"), T("New"), Null}, {T("B2"), T("Bun"), Null}, {Null, T("Nameless"), Null}})});
    Outcome atomic = cli(
        {"migrate", "--sheet", "KINV_MT_ITEM", bad.string(), "--yes", "--atomic", "--no-verify"},
        d);
    EXPECT_EQ(atomic.status, 1) << atomic.err;
    EXPECT_NE(atomic.err.find("# nothing was stored"), std::string::npos) << atomic.err;
    EXPECT_EQ(atomic.err.find("# undo journal"), std::string::npos) << atomic.err;
    EXPECT_EQ(items(), before);

    book({goodSheet});
    Outcome run = cli({"migrate", "--sheet", "KINV_MT_ITEM", good.string(), "--yes"}, d);
    ASSERT_EQ(run.status, 0) << run.err;
    std::smatch m;
    std::string journalNote = note(run, "# undo journal: ");
    ASSERT_TRUE(std::regex_match(journalNote, m, std::regex(R"((.*\.jsonl) \(kordb-cli undo .*)")))
        << run.err;
    const fs::path journal = m[1].str();
    const Rows after = items();
    for (const fs::path& f : {journal, noteFolder(run.err) / (title + "_Migrate_OK.txt")}) {
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0) << f;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }

    // The undo's statuses: another database, no confirmation, a journal that is none, done.
    Destination other = freshSqlite(name + "_other");
    execSql(other, destinationDdl());
    struct Case {
        std::vector<std::string> args;
        const Destination* to;
        int status;
        std::string says;
        Rows rows;
    };
    const Case cases[] = {
        {{"undo", journal.string(), "--yes"},
         &other,
         3,
         "# this destination is not the journal's",
         after},
        {{"undo", journal.string()}, &d, 2, "# not confirmed", after},
        {{"undo", good.string(), "--yes"}, &d, 3, "is not an undo journal (line 1)", after},
        {{"undo", journal.string(), "--yes"},
         &d,
         0,
         "# undo: 3 deleted, 1 restored, 0 nothing",
         before},
        {{"undo", journal.string(), "--yes"},
         &d,
         0,
         "# undo: 0 deleted, 0 restored, 4 nothing",
         before},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args.back());
        Outcome r = cli(c.args, *c.to);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(items(), c.rows);
    }
}

// What the driver manager's trace shows of each parameter a whole Start binds: text as wide
// characters to a wide type, and no more bindings for more rows.
TEST_F(SafetyCli, TheDriverSeesStableWideParameters) {
    if (!postgresAvailable()) GTEST_SKIP() << "no test PostgreSQL server";
    const char* sys = std::getenv("ODBCSYSINI");
    ASSERT_NE(sys, nullptr);
    const fs::path traced = dir / "traced";
    fs::create_directories(traced);
    // The driver manager takes a trace file's name of a hundred characters at most.
    const fs::path log = fs::temp_directory_path() / ("kordb-trace-" + std::to_string(::getpid()));
    std::ofstream(traced / "odbcinst.ini")
        << readFile(fs::path(sys) / "odbcinst.ini")
        << "[ODBC]\nTrace=Yes\nTraceFile=" << log.string() << "\n";
    struct Bindings {
        size_t count = 0;
        size_t narrowTypeForWideText = 0;
    };
    auto migrate = [&](int rows) {
        Destination pg = freshPostgres("kordb_trace_" + std::to_string(rows));
        execSql(pg, destinationDdl());
        std::vector<Item> items;
        for (int i = 0; i < rows; ++i)
            items.push_back({T("R" + std::to_string(i)), T(std::string(size_t(1 + i % 40), 'n')),
                             i % 2 ? T("P" + std::to_string(i)) : Null});
        fs::path wb = book({itemSheet(items)});
        fs::remove(log);
        RunOptions o;
        o.env.push_back({"ODBCSYSINI", traced.string()});
        std::vector<std::string> args = {"migrate", "--sheet",     "KINV_MT_ITEM", wb.string(),
                                         "--yes",   "--no-verify", "--row-by-row", "--server",
                                         pg.server, "--database",  pg.database,    "--user",
                                         pg.user};
        Outcome r = runCli(args, o, pg.password);
        EXPECT_EQ(r.status, 0) << r.err;
        Bindings b;
        std::istringstream trace(readFile(log));
        fs::remove(log);
        bool inBind = false, wideC = false;
        for (std::string line; std::getline(trace, line);) {
            if (line.find("[SQLBindParameter.c]") != std::string::npos) {
                inBind = line.find("][217]") != std::string::npos || !inBind;
                continue;
            }
            if (!inBind) continue;
            if (line.find("Param Number") != std::string::npos) ++b.count;
            if (line.find("C Type = ") != std::string::npos)
                wideC = line.find("SQL_C_WCHAR") != std::string::npos;
            if (wideC && line.find("SQL Type = ") != std::string::npos &&
                line.find("SQL_WCHAR") == std::string::npos &&
                line.find("SQL_WVARCHAR") == std::string::npos &&
                line.find("SQL_WLONGVARCHAR") == std::string::npos)
                ++b.narrowTypeForWideText;
            if (line.find("Exit:") != std::string::npos) inBind = false;
        }
        return b;
    };
    Bindings few = migrate(6), many = migrate(30);
    EXPECT_GT(few.count, 0u);
    EXPECT_EQ(many.count, few.count) << "bindings grow with the rows";
    EXPECT_EQ(few.narrowTypeForWideText + many.narrowTypeForWideText, 0u);
}

}  // namespace
}  // namespace kordb::test

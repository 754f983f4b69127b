// kordb-cli against what a hostile user tries: the destination server stopped in the middle of a
// run, SQL in codes and sheet names, a destination file that cannot be written or is locked.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "settings/odbc.h"
#include "tests/cli/cli_support.h"

namespace kordb::test {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

int shell(const std::string& command) {
    return std::system(command.c_str());
}

// As in tests/support/pg_server.sh: PostgreSQL refuses to run as root.
std::string asPostgresOwner(const std::string& command) {
    return ::getuid() == 0 ? "runuser -u postgres -- " + command : command;
}

std::string pgBin() {
    std::string found;
    for (const auto& e : fs::directory_iterator("/usr/lib/postgresql"))
        if ((e.path() / "bin/pg_ctl").string() > found) found = (e.path() / "bin/pg_ctl").string();
    return found;
}

// A PostgreSQL server of one test's own, made by the suite's script, so that stopping it
// leaves the shared server alone. Its odbc.ini names it "KordbPg".
class PrivatePostgres {
  public:
    explicit PrivatePostgres(fs::path dir) : dir_(std::move(dir)) {
        script_ = fs::path(std::getenv("KORDB_SOURCE_DIR")) / "tests/support/pg_server.sh";
        started_ =
            shell("'" + script_.string() + "' start '" + dir_.string() + "' >/dev/null") == 0;
        std::ifstream in(dir_ / "env");
        for (std::string l; std::getline(in, l);)
            if (l.rfind("PGPORT=", 0) == 0) port_ = l.substr(7);
    }
    ~PrivatePostgres() { shell("'" + script_.string() + "' stop '" + dir_.string() + "'"); }

    bool started() const { return started_ && !port_.empty(); }
    fs::path odbcIni() const { return dir_ / "odbc.ini"; }

    void stopNow() {
        shell(asPostgresOwner("'" + pgBin() + "' -D '" + (dir_ / "data").string() +
                              "' -m immediate stop >/dev/null 2>&1"));
    }
    bool restart() {
        // The suite's script opens the folder to every test; the server wants it private.
        fs::permissions(dir_ / "data", fs::perms::owner_all, fs::perm_options::replace);
        return shell(asPostgresOwner("'" + pgBin() + "' -D '" + (dir_ / "data").string() +
                                     "' -l '" + (dir_ / "server.log").string() +
                                     "' -w -t 30 -o '-p " + port_ + " -k " + dir_.string() +
                                     " -c listen_addresses=127.0.0.1' start >/dev/null")) == 0;
    }

    // Statements or a query on one of its databases, without a data source.
    Rows run(const std::string& database, const std::string& sql) {
        odbc::Connection c;
        c.open("DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=" + port_ +
                   ";DATABASE=" + database + ";UID=kordb;PWD=kordb-pass",
               5);
        odbc::Statement st(c);
        st.execDirect(sql);
        Rows out;
        if (st.columns().empty()) return out;
        for (auto& row : st.fetchAll()) {
            std::vector<std::string> r;
            for (auto& v : row) r.push_back(v.isNull() ? "<null>" : v.toText());
            out.push_back(std::move(r));
        }
        return out;
    }

  private:
    fs::path dir_, script_;
    std::string port_;
    bool started_ = false;
};

// Another connection holding an exclusive lock on a SQLite file until it is destroyed.
class LockHolder {
  public:
    explicit LockHolder(const std::string& file) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execl("/usr/bin/python3", "python3", "-c",
                    "import sqlite3, sys, time\n"
                    "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                    "c.execute('BEGIN EXCLUSIVE')\n"
                    "print('held', flush=True)\n"
                    "time.sleep(120)\n",
                    file.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        char buf[8] = {};
        held_ = pid_ > 0 && ::read(fds[0], buf, 4) == 4 && std::string(buf) == "held";
        // Kept open while the lock is held: a holder writing to a closed pipe would die of it.
        readEnd_ = fds[0];
    }
    ~LockHolder() {
        if (readEnd_ >= 0) ::close(readEnd_);
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool held() const { return held_; }

  private:
    pid_t pid_ = -1;
    int readEnd_ = -1;
    bool held_ = false;
};

class HostileTest : public CompanionTest {
  protected:
    HostileTest() : CompanionTest("hostile") {}

    Outcome cli(const std::vector<std::string>& args, RunOptions o = {}) {
        return runCli(args, std::move(o), "kordb-pass");
    }

    Outcome migrate(const std::string& sheet, const Destination& d,
                    std::vector<std::string> extra = {}, RunOptions o = {}) {
        std::vector<std::string> args = {"migrate",  "--sheet",  sheet,    (dir / title).string(),
                                         "--yes",    "--server", d.server, "--database",
                                         d.database, "--user",   d.user};
        args.insert(args.end(), extra.begin(), extra.end());
        return cli(args, o);
    }

    std::vector<Destination> engines() {
        std::vector<Destination> all = {freshSqlite(name)};
        if (postgresAvailable()) all.push_back(freshPostgres("kordb_hostile"));
        return all;
    }
};

// A row in each table that no payload may touch.
void seedKeptRows(const Destination& d) {
    execSql(d,
            "INSERT INTO KINV_MT_ITEM (ItemCode, ItemName) VALUES ('KEEP', 'Kept');"
            "INSERT INTO KINV_MT_PLU (ItemCode, PluCode) VALUES ('KEEP', 'KEEP');"
            "INSERT INTO KINV_MT_CLASS (ClassCode, ClassName) VALUES ('KEEP', 'Kept')");
}

// The error box of a run that stopped: a "Message: " line other than the closing one.
bool showsErrorBox(const std::string& err) {
    for (const std::string& l : lines(err))
        if (l.rfind("Message: ", 0) == 0 && l != "Message: Completed." &&
            l.find("Verifying Completed") == std::string::npos)
            return true;
    return false;
}

// -- the server gone -----------------------------------------------------------------------

TEST_F(HostileTest, PostgresStoppedDuringItemMigrationKeepsTheRowsBefore) {
    if (pgBin().empty()) GTEST_SKIP() << "no PostgreSQL server binaries";
    // The server's socket path must stay short: not under the scratch folder.
    PrivatePostgres pg(fs::temp_directory_path() /
                       ("kordb-hostile-pg-" + std::to_string(::getpid())));
    ASSERT_TRUE(pg.started());
    pg.run("postgres", "CREATE DATABASE kordb_stopped");
    // The suite's servers commit without waiting for the log; a stop would lose the last rows.
    pg.run("postgres", "ALTER DATABASE kordb_stopped SET synchronous_commit = on");
    std::string ddl;
    std::istringstream in(destinationDdl());
    for (std::string l; std::getline(in, l);)
        if (l.rfind("--", 0) != 0) ddl += l + "\n";
    for (size_t start = 0, end; start < ddl.size(); start = end + 1) {
        end = std::min(ddl.find(';', start), ddl.size());
        std::string statement = ddl.substr(start, end - start);
        if (statement.find_first_not_of(" \n") != std::string::npos)
            pg.run("kordb_stopped", statement);
    }

    const int total = 3000;
    std::vector<Item> items;
    for (int i = 1; i <= total; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "H%05d", i);
        items.push_back({T(code), T("Item " + std::to_string(i)), T(std::to_string(7000 + i))});
    }
    book({itemSheet(items)});

    RunOptions o;
    o.env = {{"ODBCINI", pg.odbcIni().string()}};
    bool stopped = false;
    o.onOutput = [&](const std::string& out) {
        if (!stopped && std::count(out.begin(), out.end(), '\n') >= 300) {
            pg.stopNow();
            stopped = true;
        }
    };
    Outcome r =
        migrate("KINV_MT_ITEM", {"KordbPg", "kordb_stopped", "kordb", ""}, {"--no-verify"}, o);
    ASSERT_TRUE(stopped) << "the run ended before the server could be stopped\n" << r.err;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(showsErrorBox(r.err)) << r.err;
    EXPECT_EQ(r.err.find("Migration Successfully"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("# the migration of KINV_MT_ITEM reported an error"), std::string::npos)
        << r.err;
    const int listed = int(lines(r.out).size());

    ASSERT_TRUE(pg.restart());
    Rows stored = pg.run("kordb_stopped",
                         "SELECT ItemCode, ItemName, PosDescription10, BasedUnitPrice, "
                         "DefCreditorCode, RefSeasonCode FROM KINV_MT_ITEM ORDER BY ItemCode");
    const int n = int(stored.size());
    EXPECT_GT(n, 0);
    EXPECT_LT(n, total);
    // A row is listed just before it is written: the last listed may be missing, no other.
    EXPECT_TRUE(n == listed || n == listed - 1) << n << " stored, " << listed << " listed";
    for (int i = 0; i < n; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "H%05d", i + 1);
        const std::string itemName = "Item " + std::to_string(i + 1);
        ASSERT_EQ(stored[i],
                  (std::vector<std::string>{code, itemName, itemName, stored[0][3], "NIL", "NON"}));
    }
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(std::stod(stored[0][3]), 2.5);
    Rows plu = pg.run("kordb_stopped", "SELECT ItemCode, PluCode FROM KINV_MT_PLU ORDER BY 1");
    // The item row goes in before its look-up row.
    EXPECT_TRUE(int(plu.size()) == n || int(plu.size()) == n - 1) << plu.size();
    for (size_t i = 0; i < plu.size(); ++i)
        EXPECT_EQ(plu[i], (std::vector<std::string>{stored[i][0], std::to_string(7001 + i)}));
}

// -- SQL in values and names ---------------------------------------------------------------

// Each goes in as a code, a name and a look-up code; none may change a statement.
const std::vector<std::string> kPayloads = {
    "X');DROP TABLE KINV_MT_ITEM;--",  "1' OR '1'='1",         "]; DELETE FROM KINV_MT_CLASS--",
    "A\\'; DELETE FROM KINV_MT_PLU--", "\"; DROP TABLE X; --", "Z]);--",
};

TEST_F(HostileTest, InjectionPayloadsInCodesAreStoredAsValuesOnBothEngines) {
    std::vector<Item> items;
    Rows classes;
    for (size_t i = 0; i < kPayloads.size(); ++i) {
        const std::string& p = kPayloads[i];
        items.push_back({T(p), T("'); DELETE FROM KINV_MT_ITEM; -- " + std::to_string(i)), T(p)});
        classes.push_back({T(p.substr(0, 20)), T(p), Null, Null});
    }
    book({itemSheet(items), classSheet(classes)});

    for (const Destination& d : engines()) {
        SCOPED_TRACE(d.server);
        execSql(d, destinationDdl());
        seedKeptRows(d);
        for (const char* sheet : {"KINV_MT_ITEM", "KINV_MT_CLASS"}) {
            Outcome r = migrate(sheet, d);
            ASSERT_EQ(r.status, 0) << sheet << "\n" << r.out << r.err;
        }
        Rows wantItems = {{"KEEP", "Kept"}}, wantPlu = {{"KEEP", "KEEP"}},
             wantClasses = {{"KEEP", "Kept"}};
        for (size_t i = 0; i < kPayloads.size(); ++i) {
            const std::string& p = kPayloads[i];
            wantItems.push_back({p, "'); DELETE FROM KINV_MT_ITEM; -- " + std::to_string(i)});
            wantPlu.push_back({p, p});
            wantClasses.push_back({p.substr(0, 20), p});
        }
        for (Rows* w : {&wantItems, &wantPlu, &wantClasses}) std::sort(w->begin(), w->end());
        auto sorted = [&](const std::string& sql) {
            Rows rows = query(d, sql);
            std::sort(rows.begin(), rows.end());
            return rows;
        };
        EXPECT_EQ(sorted("SELECT ItemCode, ItemName FROM KINV_MT_ITEM"), wantItems);
        EXPECT_EQ(sorted("SELECT ItemCode, PluCode FROM KINV_MT_PLU"), wantPlu);
        EXPECT_EQ(sorted("SELECT ClassCode, ClassName FROM KINV_MT_CLASS"), wantClasses);
    }
}

TEST_F(HostileTest, InjectionPayloadsInDuplicatedCodesAreListedExactly) {
    // Each payload twice, so that it goes through the In and Not In lists of the listing.
    std::vector<Item> items = {{T("CLEAN1"), T("Clean"), T("1")}};
    for (size_t i = 0; i < kPayloads.size(); ++i)
        for (int copy = 0; copy < 2; ++copy)
            items.push_back({T(kPayloads[i]), T("n" + std::to_string(copy)),
                             T(std::to_string(100 + 2 * i + copy))});
    book({itemSheet(items)});
    Outcome r = cli({"verify", "--sheet", "KINV_MT_ITEM", (dir / title).string()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_FALSE(showsErrorBox(r.err)) << "no statement broke\n" << r.err;
    const auto out = lines(r.out);
    std::multiset<std::string> codeErr, dup;
    for (const std::string& p : kPayloads) {
        EXPECT_TRUE(contains(out, "Duplicated Item Code ... [" + p + "]")) << p << "\n" << r.out;
        // A code with a quote or a blank goes to the code error file instead.
        (p.find_first_of("' ") != std::string::npos ? codeErr : dup).insert({p, p});
    }
    auto keys = [&](const std::string& suffix) {
        std::multiset<std::string> k;
        auto l = errorFileLines(noteFolder(r.err) / (title + suffix));
        for (const std::string& line : l.value_or(std::vector<std::string>{}))
            k.insert(line.substr(0, line.find('\t')));
        return k;
    };
    EXPECT_EQ(keys("_Migrate_CODEERR.txt"), codeErr);
    EXPECT_EQ(keys("_Migrate_DUPLICATE.txt"), dup);
    EXPECT_EQ(keys("_Migrate_OK.txt"), (std::multiset<std::string>{"CLEAN1"}));
}

TEST_F(HostileTest, SheetNamesWithSqlChangeNoDestinationTable) {
    // A worksheet name has at most 31 characters.
    const std::vector<std::string> names = {"K';DROP TABLE KINV_MT_ITEM;--",
                                            "K\"; DELETE FROM KINV_MT_CLASS",
                                            "I$ ; DROP TABLE KINV_MT_PLU"};
    std::vector<std::string> sheets;
    for (const std::string& n : names) {
        std::string s = classSheet({{T("C1"), T(n), Null, Null}});
        s.replace(s.find("\"KINV_MT_CLASS\""), 15, T(n));
        sheets.push_back(s);
    }
    fs::path wb = book(sheets);
    EXPECT_EQ(lines(cli({"sheets", wb.string()}).out), names);
    for (const Destination& d : engines()) {
        SCOPED_TRACE(d.server);
        execSql(d, destinationDdl());
        seedKeptRows(d);
        for (const std::string& n : names) {
            Outcome cells = cli({"cells", "--sheet", n, wb.string()});
            EXPECT_EQ(cells.status, 0) << n << cells.err;
            EXPECT_NE(cells.out.find("C1\t" + n), std::string::npos) << n << cells.out;
            Outcome r = migrate(n, d, {"--no-verify"});
            EXPECT_EQ(r.status, 1) << n << "\n" << r.err;
            EXPECT_TRUE(showsErrorBox(r.err)) << r.err;
        }
        EXPECT_EQ(query(d, "SELECT ItemCode FROM KINV_MT_ITEM"), (Rows{{"KEEP"}}));
        EXPECT_EQ(query(d, "SELECT ItemCode FROM KINV_MT_PLU"), (Rows{{"KEEP"}}));
        EXPECT_EQ(query(d, "SELECT ClassCode FROM KINV_MT_CLASS"), (Rows{{"KEEP"}}));
    }
}

TEST_F(HostileTest, ASheetNameWithABracketReadsItsOwnCellsOrNone) {
    // Spreadsheet programs refuse "]" in a sheet name, so the writer does too: the name is
    // patched into the file afterwards, byte for byte.
    const std::string hostile = "x$] ; DROP TABLE y; --", placeholder = "x$( ; DROP TABLE y; --";
    fs::path wb = book({jsonSheet("x", {{T("Code")}, {T("OTHER")}}),
                        jsonSheet(placeholder, {{T("Code")}, {T("OWN")}})});
    std::string bytes = readFile(wb);
    size_t at = bytes.find(placeholder);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, placeholder.size(), hostile);
    std::ofstream(wb, std::ios::binary | std::ios::trunc) << bytes;
    ASSERT_EQ(lines(cli({"sheets", wb.string()}).out), (std::vector<std::string>{"x", hostile}));

    Outcome r = cli({"cells", "--sheet", hostile, wb.string()});
    EXPECT_EQ(r.out.find("OTHER"), std::string::npos) << "read another sheet:\n" << r.out;
    if (r.status == 0)
        EXPECT_EQ(lines(r.out), (std::vector<std::string>{"Code", "OWN"}));
    else
        EXPECT_NE(r.err.find(hostile), std::string::npos) << r.err;
}

TEST_F(HostileTest, ASheetNameWithALineBreakIsListedOnOneLineAndPickedSoWritten) {
    fs::path wb = book({jsonSheet("kinv_mt_class\nx", {{T("Code")}, {T("OWN")}}),
                        jsonSheet("KINV_MT_CLASS", {{T("Code")}, {T("OTHER")}})});
    Outcome listed = cli({"sheets", wb.string()});
    ASSERT_EQ(lines(listed.out), (std::vector<std::string>{"kinv_mt_class\\nx", "KINV_MT_CLASS"}));
    EXPECT_EQ(lines(cli({"cells", "--sheet", "kinv_mt_class\\nx", wb.string()}).out),
              (std::vector<std::string>{"Code", "OWN"}));
    // Two names equal but for blanks around them: only the exact one picks.
    fs::path two =
        book({jsonSheet(" kinv_mt_class", {{T("C")}}), jsonSheet("kinv_mt_class ", {{T("C")}})});
    Outcome several = cli({"cells", "--sheet", "KINV_MT_CLASS", two.string()});
    EXPECT_EQ(several.status, 2);
    EXPECT_NE(several.err.find("more than one sheet fits \"KINV_MT_CLASS\""), std::string::npos)
        << several.err;
}

// -- a destination that cannot be written ---------------------------------------------------

TEST_F(HostileTest, ReadOnlyAndLockedSqliteDestinationsFailAtOnce) {
    fs::path wb =
        book({classSheet({{T("C1"), T("One"), Null, Null}, {T("C2"), T("Two"), Null, Null}})});
    // The driver waits for a lock as long as its own Timeout option says (100 s unless set).
    std::ofstream(dir / "odbc.ini")
        << readFile(std::getenv("ODBCINI")) << "\n[KordbLiteQuick]\nDriver=SQLite3\nTimeout=2000\n";
    RunOptions quick;
    quick.env = {{"ODBCINI", (dir / "odbc.ini").string()}};

    Destination readOnly = freshSqlite(name + "_ro"), locked = freshSqlite(name + "_locked");
    for (const Destination* d : {&readOnly, &locked}) execSql(*d, destinationDdl());
    // As root a mode of 444 stops nothing; the immutable flag stops root too.
    shell("chmod 444 '" + readOnly.database + "'");
    const bool immutable =
        ::getuid() == 0 && shell("chattr +i '" + readOnly.database + "' 2>/dev/null") == 0;
    if (::getuid() == 0 && !immutable) GTEST_SKIP() << "no way to make a file read-only for root";
    struct Unlock {
        std::string file;
        ~Unlock() { shell("chattr -i '" + file + "' 2>/dev/null; chmod 644 '" + file + "'"); }
    } unlock{readOnly.database};

    for (const Destination* d : {&readOnly, &locked}) {
        SCOPED_TRACE(d->database);
        std::optional<LockHolder> hold;
        if (d == &locked) {
            hold.emplace(d->database);
            ASSERT_TRUE(hold->held()) << "the lock was not taken";
        }
        Destination quickD = *d;
        quickD.server = "KordbLiteQuick";
        auto started = std::chrono::steady_clock::now();
        Outcome r = migrate("KINV_MT_CLASS", quickD, {"--no-verify"}, quick);
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        hold.reset();
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(showsErrorBox(r.err)) << r.err;
        EXPECT_EQ(r.err.find("Migration Successfully"), std::string::npos);
        EXPECT_LT(seconds, 15.0);
        EXPECT_EQ(query(*d, "SELECT COUNT(*) FROM KINV_MT_CLASS"), (Rows{{"0"}}));
    }
}

}  // namespace
}  // namespace kordb::test

// Connect: the empty-field checks, the assembled connection string and its parsing, and real
// connections to the SQLite ODBC driver and the test PostgreSQL server.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "settings/connect.h"
#include "settings/destination.h"
#include "settings/odbc.h"
#include "settings/settings_store.h"
#include "tests/support/recorder.h"
#include "tests/support/test_env.h"

namespace kordb {
namespace {

struct Fixture {
    explicit Fixture(const std::string& name)
        : dir(test::scratchDir(name)), store(dir / "config"), form(ui, store, dir) {}
    void fill(const test::Destination& d, const std::string& sheet = "KINV_MT_ITEM") {
        ui.fields[0] = d.server;
        ui.fields[1] = d.database;
        ui.fields[2] = d.user;
        ui.fields[3] = d.password;
        ui.fields[4] = (dir / "book.xls").string();
        if (!sheet.empty()) ui.pick(sheet);
    }
    std::string saved(const char* key) { return store.get("KORDB", "GeneralSetting", key); }
    std::filesystem::path dir;
    test::Recorder ui;
    SettingsStore store;
    Form form;
};

TEST(Connect, EmptyFieldStopsAtTheFirstOneWithItsFocus) {
    Fixture f("empty");
    CCONNECT_Click(f.form);
    ASSERT_EQ(f.ui.boxes.size(), 1u);
    EXPECT_EQ(f.ui.boxes[0].text, "Empty Field !!!");
    EXPECT_EQ(f.ui.boxes[0].title, "Message");
    EXPECT_EQ(f.ui.boxes[0].icon, Icon::Critical);
    EXPECT_EQ(f.ui.focusMoves, (std::vector<Control>{Control::Server}));

    // Server, database and user filled; a password of blanks would not be empty.
    f.ui.fields[0] = "s", f.ui.fields[1] = "d", f.ui.fields[2] = "u";
    f.ui.focusMoves.clear();
    CCONNECT_Click(f.form);
    EXPECT_EQ(f.ui.focusMoves, (std::vector<Control>{Control::Password}));

    f.ui.fields[3] = " ";
    f.ui.fields[4] = "book.xls";
    f.ui.focusMoves.clear();
    CCONNECT_Click(f.form);  // all five filled, no worksheet picked
    EXPECT_EQ(f.ui.focusMoves, (std::vector<Control>{Control::Combo1}));
    EXPECT_EQ(f.ui.boxes.size(), 3u);
    EXPECT_FALSE(f.ui.verifyEnabled);
    EXPECT_EQ(f.saved("cServer"), "") << "nothing saved without a connection attempt";
}

TEST(ConnectionString, AssembledAsThePiecesStandAndSplitAtEverySemicolon) {
    std::string s = assembleConnectionString("pa;Initial Catalog=evil", "sa", "shop", "srv");
    EXPECT_EQ(s,
              "Provider=SQLOLEDB.1;Password=pa;Initial Catalog=evil;Persist Security Info=True;"
              "User ID=sa;Initial Catalog=shop;Data Source=srv");
    auto k = parseConnectionString(s);
    EXPECT_EQ(k["PASSWORD"], "pa") << "a value ends at its first semicolon";
    EXPECT_EQ(k["INITIAL CATALOG"], "shop") << "the later keyword wins";
    EXPECT_EQ(k["DATA SOURCE"], "srv");
    EXPECT_EQ(k["USER ID"], "sa");
    auto blanks = parseConnectionString(assembleConnectionString(" p ", "u", "d", "s"));
    EXPECT_EQ(blanks["PASSWORD"], " p ");
}

TEST(ConnectionString, ValuesCannotAddOdbcKeywords) {
    EXPECT_EQ(braceQuote("plain"), "plain");
    EXPECT_EQ(braceQuote("a;DRIVER=x"), "{a;DRIVER=x}");
    EXPECT_EQ(braceQuote("x}y"), "{x}}y}");
    EXPECT_EQ(braceQuote(" lead"), "{ lead}");
    std::string s = odbcConnectionString(
        parseConnectionString(assembleConnectionString("p}w", "u", "d", "KordbPg")));
    EXPECT_EQ(s, "DSN=KordbPg;DATABASE=d;UID=u;PWD={p}}w}");
    // The SQLite driver waits for a locked file by its own timeout: no longer than a statement.
    s = odbcConnectionString(
        parseConnectionString(assembleConnectionString("p", "u", "/x.db", "KordbLite")));
    EXPECT_EQ(s, "DSN=KordbLite;DATABASE=/x.db;UID=u;PWD=p;Timeout=30000");
    // Not a data source: straight to a SQL Server driver, FreeTDS here.
    s = odbcConnectionString(
        parseConnectionString(assembleConnectionString("pw", "sa", "shop", "db1,1433")));
    EXPECT_EQ(s.rfind("DRIVER=FreeTDS;SERVER=db1;PORT=1433;DATABASE=shop;UID=sa;PWD=pw", 0), 0u)
        << s;
    EXPECT_NE(s.find("TDS_Version=7.4"), std::string::npos);
}

TEST(Connect, GoodConnectionShowsConnectedEnablesVerifyAndSaves) {
    Fixture f("good");
    auto d = test::freshSqlite("good");
    f.fill(d);
    CCONNECT_Click(f.form);
    EXPECT_TRUE(f.ui.boxes.empty()) << f.ui.allBoxes();
    EXPECT_TRUE(f.ui.connectedShown);
    EXPECT_TRUE(f.ui.verifyEnabled);
    ASSERT_TRUE(f.form.st.DestConn && f.form.st.DestConn->isOpen());
    EXPECT_EQ(f.saved("cserver"), "KordbLite");
    EXPECT_EQ(f.saved("ConnTable"), d.database);
    EXPECT_EQ(f.saved("clogin"), d.user);
    EXPECT_EQ(f.saved("cpassword"), d.password);
}

TEST(Connect, PostgresRefusalsAndTheSemicolonEdge) {
    ASSERT_TRUE(test::postgresAvailable());
    Fixture f("pg");
    test::Destination d{"KordbPg", "postgres", "kordb", "kordb-pass"};
    f.fill(d);
    CCONNECT_Click(f.form);
    ASSERT_TRUE(f.ui.boxes.empty()) << f.ui.allBoxes();
    EXPECT_TRUE(f.ui.connectedShown);
    f.ui.startEnabled = true;  // as after a clean verification

    f.ui.fields[3] = "wrong";
    CCONNECT_Click(f.form);
    ASSERT_EQ(f.ui.boxes.size(), 1u);
    EXPECT_EQ(f.ui.boxes[0].text, "Error connection !!!");
    EXPECT_EQ(f.ui.boxes[0].icon, Icon::Critical);
    EXPECT_FALSE(f.ui.verifyEnabled);
    EXPECT_FALSE(f.ui.startEnabled);
    EXPECT_TRUE(f.ui.connectedShown) << "a failure after a success leaves Connected shown";
    EXPECT_EQ(f.saved("cPassword"), "wrong") << "saved whether or not the open succeeded";
    ASSERT_TRUE(f.form.st.DestConn);
    EXPECT_FALSE(f.form.st.DestConn->isOpen());

    // A closed port fails the same way, quickly.
    f.ui.boxes.clear();
    f.ui.fields[0] = "KordbClosed";
    f.ui.fields[3] = "kordb-pass";
    CCONNECT_Click(f.form);
    ASSERT_EQ(f.ui.boxes.size(), 1u);
    EXPECT_EQ(f.ui.boxes[0].text, "Error connection !!!");

    // The password's own ";" ends it: what follows is read as further keywords.
    f.ui.boxes.clear();
    f.ui.fields[0] = "KordbPg";
    f.ui.fields[3] = "kordb-pass;Persist Security Info=False";
    CCONNECT_Click(f.form);
    EXPECT_TRUE(f.ui.boxes.empty());
    EXPECT_TRUE(f.ui.verifyEnabled);
    EXPECT_EQ(f.saved("cPassword"), "kordb-pass;Persist Security Info=False");
}

TEST(Connect, UnreachableSqlServerEndsInTheConnectionErrorWithinTheLoginTimeout) {
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point since) {
        return std::chrono::duration<double>(Clock::now() - since).count();
    };
    Fixture f("tds");
    // Nothing listens on port 1: FreeTDS is refused at once.
    f.fill({"127.0.0.1,1", "shop", "sa", "pw"});
    auto started = Clock::now();
    CCONNECT_Click(f.form);
    EXPECT_LT(seconds(started), 5.0);
    ASSERT_EQ(f.ui.boxes.size(), 1u);
    EXPECT_EQ(f.ui.boxes[0].text, "Error connection !!!");
    EXPECT_EQ(f.saved("cServer"), "127.0.0.1,1");
    EXPECT_FALSE(f.form.outcome.lastError.empty()) << "the driver's reason is kept for scripts";

    // A listener that takes the connection and never answers: given up at the login timeout.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    f.ui.boxes.clear();
    f.ui.fields[0] = "127.0.0.1," + std::to_string(ntohs(addr.sin_port));
    started = Clock::now();
    CCONNECT_Click(f.form);
    double waited = seconds(started);
    ::close(listener);
    ASSERT_EQ(f.ui.boxes.size(), 1u);
    EXPECT_EQ(f.ui.boxes[0].text, "Error connection !!!");
    EXPECT_GE(waited, kLoginTimeoutSeconds - 1);
    EXPECT_LT(waited, kLoginTimeoutSeconds + 10);
}

}  // namespace
}  // namespace kordb

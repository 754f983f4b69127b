// Connect: the empty-field checks, the assembled connection string and its parsing, and real
// connections to the SQLite ODBC driver and the test PostgreSQL server.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <chrono>
#include <optional>
#include <thread>

#include "core/errors.h"
#include "core/text.h"
#include "form/connect.h"
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

TEST(FormLoad, RestoresTheFourFieldsAndLeavesThePathEmpty) {
    Fixture f("load");
    Form_Load(f.form);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(f.ui.fields[i], "") << i;
    f.store.save("KORDB", "GeneralSetting", "cServer", "srv");
    f.store.save("KORDB", "GeneralSetting", "ConnTable", "db");
    f.store.save("KORDB", "GeneralSetting", "cLogin", "sa");
    f.store.save("KORDB", "GeneralSetting", "cPassword", " p;w ");
    f.ui.fields[4] = "";
    Form_Load(f.form);
    EXPECT_EQ(f.ui.fields[0], "srv");
    EXPECT_EQ(f.ui.fields[1], "db");
    EXPECT_EQ(f.ui.fields[2], "sa");
    EXPECT_EQ(f.ui.fields[3], " p;w ");
    EXPECT_EQ(f.ui.fields[4], "");
    EXPECT_TRUE(f.ui.boxes.empty());
}

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

// Stands in for SQL Server far enough to read what FreeTDS sends at login: it answers the
// pre-login without encryption, decodes the user, password and database of the LOGIN7
// packet, and hangs up.
class LoginCatcher {
  public:
    struct Login {
        std::string user, password, database;
    };
    LoginCatcher() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~LoginCatcher() { ::close(listener_); }
    // Serves one connection, waiting at most a few seconds for each step.
    std::optional<Login> serveOne() {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) return std::nullopt;
        int c = ::accept(listener_, nullptr, nullptr);
        std::optional<Login> got;
        std::string pre = packet(c);
        if (!pre.empty()) {
            // VERSION and ENCRYPTION options, then the version and "encryption not supported".
            const unsigned char reply[] = {4, 1, 0,  26, 0, 0,    1,  0, 0, 0,    11, 0, 6,
                                           1, 0, 17, 0,  1, 0xff, 15, 0, 7, 0xd0, 0,  0, 2};
            ::send(c, reply, sizeof reply, MSG_NOSIGNAL);
            std::string login = packet(c);
            if (login.size() > 36 + 9 * 4)
                got = Login{field(login, 1, false), field(login, 2, true), field(login, 8, false)};
        }
        ::close(c);
        return got;
    }
    int port = 0;

  private:
    static std::string packet(int c) {
        std::string data;
        char buf[4096];
        pollfd p{c, POLLIN, 0};
        while (::poll(&p, 1, 5000) == 1) {
            ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            data.append(buf, size_t(n));
            if (data.size() >= 8 &&
                data.size() >= size_t((uint8_t(data[2]) << 8) | uint8_t(data[3])))
                return data.substr(8);
        }
        return {};
    }
    // The i-th offset/length pair after LOGIN7's fixed part: UTF-16LE text, the password's
    // bytes with their halves swapped and XORed with 0xA5.
    static std::string field(const std::string& login, int i, bool scrambled) {
        auto word = [&](size_t at) {
            return size_t(uint8_t(login[at]) | (uint8_t(login[at + 1]) << 8));
        };
        size_t at = word(36 + 4 * size_t(i)), chars = word(38 + 4 * size_t(i));
        std::u16string text;
        for (size_t k = 0; k < chars && at + 2 * k + 1 < login.size(); ++k) {
            uint8_t b[2] = {uint8_t(login[at + 2 * k]), uint8_t(login[at + 2 * k + 1])};
            if (scrambled)
                for (uint8_t& x : b) x = uint8_t(((x ^ 0xA5) << 4) | ((x ^ 0xA5) >> 4));
            text += char16_t(b[0] | (b[1] << 8));
        }
        return toUtf8(text);
    }
    int listener_ = -1;
};

TEST(Connect, FreeTdsGetsEveryValueAsTypedAndTheBoxKeepsTheReasonBehindItsDetails) {
    LoginCatcher server;
    Fixture f("tds-values");
    const struct {
        const char* user;
        const char* password;
        const char* database;
    } cases[] = {
        {"sa", "p}w", "shop"},        {"sa", "{secret}", "shop"},       {"sa", "a}}b=c", "{db}"},
        {" lead", "trail ", "sh}op"}, {"kassierer", "Käse€𝄞}", "shop"},
    };
    for (const auto& c : cases) {
        f.ui.boxes.clear();
        f.fill({"127.0.0.1," + std::to_string(server.port), c.database, c.user, c.password});
        std::optional<LoginCatcher::Login> got;
        std::thread serve([&] { got = server.serveOne(); });
        CCONNECT_Click(f.form);
        serve.join();
        ASSERT_TRUE(got) << c.password << ": no login reached the server";
        EXPECT_EQ(got->password, c.password);
        EXPECT_EQ(got->user, c.user);
        EXPECT_EQ(got->database, c.database);
        ASSERT_EQ(f.ui.boxes.size(), 1u);
        const test::Box& b = f.ui.boxes[0];
        EXPECT_EQ(b.text, "Error connection !!!");
        EXPECT_EQ(b.title, "Message");
        EXPECT_EQ(b.icon, Icon::Critical);
        EXPECT_EQ(b.buttons, Buttons::Ok);
        EXPECT_EQ(b.details, f.form.outcome.lastError);
        EXPECT_NE(b.details.find("connect"), std::string::npos) << b.details;
    }
}

TEST(ConnectionString, FreeTdsQuotingKeepsEveryValueItCanTake) {
    const struct {
        const char* value;
        const char* quoted;
    } cases[] = {
        {"plain", "plain"}, {"p}w", "p}w"},       {"a=b", "a=b"}, {"{x}", "{{x}}"},
        {"a;b", "{a;b}"},   {" lead", "{ lead}"}, {"", "{}"},     {"ends}", "ends}"},
    };
    for (const auto& c : cases) EXPECT_EQ(freetdsQuote(c.value), c.quoted) << c.value;
    EXPECT_THROW(freetdsQuote("a};b"), KorError);
}

}  // namespace
}  // namespace kordb

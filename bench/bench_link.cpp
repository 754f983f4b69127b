// Migration and plan over a link: PostgreSQL behind a relay that delays each direction, at
// round trips of 0, 1, 10 and 20 ms. Items and debtors, batched beside row by row, each run
// on empty tables, each beside its floor: the median "SELECT 1" through the same relay times
// the round trips the row-by-row run of the same sheet took.
//   bench_link [ROWS]   (default 300 rows at 10 and 20 ms, three times as many at 1 ms, ten
//   times as many on loopback; starts and stops a private server)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/procedures.h"
#include "bench/bench_util.h"
#include "bench/relay.h"
#include "migration/plan.h"
#include "settings/destination.h"
#include "settings/odbc.h"
#include "settings/settings_store.h"

using namespace kordb;
namespace fs = std::filesystem;
using bench::BenchOperator;
using bench::Clock;
using bench::count;
using bench::DelayRelay;
using bench::execScript;
using std::chrono::microseconds;

namespace {

void run(const std::string& cmd) {
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", cmd.c_str());
        std::exit(1);
    }
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The median of single "SELECT 1" round trips, and the relay's turns per statement.
double medianTrip(odbc::Connection& c, const DelayRelay& relay, double& turnsEach) {
    odbc::Statement st(c);
    st.prepare("SELECT 1");
    st.execute();
    st.fetchAll();
    std::vector<double> s;
    long turns = relay.turns();
    for (int i = 0; i < 31; ++i) {
        auto t = Clock::now();
        st.execute();
        st.fetchAll();
        s.push_back(bench::secondsSince(t));
    }
    turnsEach = double(relay.turns() - turns) / double(s.size());
    std::sort(s.begin(), s.end());
    return s[s.size() / 2];
}

struct Case {
    const char* what;
    bool items;
    bool plan;
};

const Case kCases[] = {
    {"items, migrate", true, false},
    {"items, plan", true, true},
    {"debtors, migrate", false, false},
    {"debtors, plan", false, true},
};

struct Result {
    double seconds = 0;
    long turns = 0;
};

struct Line {
    double roundTripMs;
    const Case* c;
    long rows;
    Result batched, rowByRow;
    double floor;
};

class Bench {
  public:
    Bench(Form& f, BenchOperator& ui, DelayRelay& relay, std::string ddl)
        : f_(f), ui_(ui), relay_(relay), ddl_(std::move(ddl)) {}

    // One run of c on empty tables at the relay's delay oneWay; the set-up goes undelayed.
    // On empty tables unless over is set: then over the rows the last run stored, which Start
    // changes (a plan is not run so).
    Result once(const Case& c, const fs::path& sheet, long rows, bool rowByRow, microseconds oneWay,
                bool over = false) {
        odbc::Connection& conn = *f_.st.DestConn;
        relay_.setDelay(microseconds(0));
        if (!over) {
            execScript(conn,
                       "DROP TABLE IF EXISTS KINV_MT_ITEM, KINV_MT_PLU, KINV_MT_CLASS, "
                       "KLED_MT_DEBTOR, KLED_MT_CREDITOR");
            execScript(conn, ddl_);
        }
        ui_.fields[4] = sheet.string();
        f_.st.TableName = f_.st.SheetName = c.items ? "KINV_MT_ITEM" : "KLED_MT_DEBTOR";
        f_.st.KeyColumn = c.items ? "ItemCode" : "DebtorCode";
        f_.rowByRow = rowByRow;
        ui_.list.clear();
        ui_.boxes.clear();
        PlanCounts counts;
        bool planned = true;
        relay_.setDelay(oneWay);
        Result r;
        long turns = relay_.turns();
        auto t = Clock::now();
        if (c.plan)
            planned = PlanMigration(
                f_, [](const std::string&) {}, counts);
        else if (c.items)
            MigrateItems(f_);
        else
            MigrateMasterTable(f_);
        r.seconds = bench::secondsSince(t);
        r.turns = relay_.turns() - turns;
        relay_.setDelay(microseconds(0));
        std::string what = std::string(c.what) + (rowByRow ? ", row by row" : ", batched");
        // A master table's Start ends with its box; anything else is an error's.
        if (!c.plan && !c.items && ui_.boxes.size() == 1 &&
            ui_.boxes[0] == "Migration Successfully")
            ui_.boxes.clear();
        if (!planned || !ui_.boxes.empty())
            throw std::runtime_error(what + ": " +
                                     (ui_.boxes.empty() ? "the plan stopped" : ui_.boxes[0]));
        if (c.plan ? counts.insert != rows
                   : count(conn, c.items ? "KINV_MT_ITEM" : "KLED_MT_DEBTOR") != rows)
            throw std::runtime_error(what + ": not every row was " +
                                     (c.plan ? "planned as an insert" : "stored"));
        return r;
    }

    // Empty tables, made undelayed.
    void emptyTables() {
        odbc::Connection& conn = *f_.st.DestConn;
        relay_.setDelay(microseconds(0));
        execScript(conn,
                   "DROP TABLE IF EXISTS KINV_MT_ITEM, KINV_MT_PLU, KINV_MT_CLASS, KLED_MT_DEBTOR, "
                   "KLED_MT_CREDITOR");
        execScript(conn, ddl_);
    }
    long items() { return count(*f_.st.DestConn, "KINV_MT_ITEM"); }
    // A connection of the run's own, as each run of the program has, made undelayed.
    void reconnect() {
        relay_.setDelay(microseconds(0));
        OpenDestination(f_);
        if (!f_.st.DestConn || !f_.st.DestConn->isOpen())
            throw std::runtime_error("no connection through the relay");
    }

  private:
    Form& f_;
    BenchOperator& ui_;
    DelayRelay& relay_;
    std::string ddl_;
};

std::string withCommas(double v) {
    const std::string digits = std::to_string(long(v + 0.5));
    std::string s;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) s += ',';
        s += digits[i];
    }
    return s;
}

std::string rate(double rows, double seconds) {
    double r = rows / seconds;
    if (r >= 100) return withCommas(r);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", r);
    return buf;
}

}  // namespace

// A whole catalogue through a 10 ms round trip, batched only: its plan, its Start on empty
// tables, and its Start again over what the first stored.
void catalogue(Bench& bench, const fs::path& sheet, long rows) {
    const microseconds oneWay(5000);
    std::printf("\n%ld item rows through a 10 ms round trip, batched (peak so far %.0f MB)\n", rows,
                bench::peakMegabytes());
    const Case plan{"items, plan", true, true}, migrate{"items, migrate", true, false};
    const struct {
        const char* what;
        const Case* c;
        bool over;
    } runs[] = {{"plan, empty tables (target at most 30 s)", &plan, false},
                {"Start, empty tables (target at most 60 s)", &migrate, false},
                {"Start again, every row changed", &migrate, true}};
    for (const auto& r : runs) {
        bench.reconnect();
        Result res = bench.once(*r.c, sheet, rows, false, oneWay, r.over);
        std::printf("  %-44s %8.1f s %8s rows/s %6.3f round trips a row, peak %.0f MB\n", r.what,
                    res.seconds, rate(double(rows), res.seconds).c_str(),
                    double(res.turns) / double(rows), bench::peakMegabytes());
        std::fflush(stdout);
    }
    std::printf("  peak memory (ru_maxrss) %.0f MB (target at most 300 MB)\n",
                bench::peakMegabytes());
}

// The same by the program itself, kordb-cli in a process of its own, through the same relay.
void catalogueByProgram(Bench& bench, DelayRelay& relay, const fs::path& sheet, long rows,
                        const fs::path& dir) {
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "kordb-cli";
    std::printf("\nthe same by %s\n", program.c_str());
    const struct {
        const char* what;
        const char* verb;
        bool over;
    } runs[] = {{"plan, empty tables (target at most 30 s)", "plan", false},
                {"Start, empty tables (target at most 60 s)", "migrate --yes --no-verify", false},
                {"Start again, every row changed", "migrate --yes --no-verify", true}};
    for (const auto& r : runs) {
        if (!r.over) bench.emptyTables();
        const fs::path peak = dir / "peak.txt";
        const std::string cmd = "KORDB_PASSWORD=kordb-pass /usr/bin/time -f %M -o '" +
                                peak.string() + "' '" + program.string() + "' " + r.verb +
                                " --sheet KINV_MT_ITEM '" + sheet.string() +
                                "' --server KordbRelay --database kordb_bench --user kordb "
                                ">/dev/null 2>&1";
        relay.setDelay(microseconds(5000));
        const long turns = relay.turns();
        const auto t = Clock::now();
        const int rc = std::system(cmd.c_str());
        const double seconds = bench::secondsSince(t);
        const long trips = relay.turns() - turns;
        relay.setDelay(microseconds(0));
        if (rc != 0 || bench.items() != (std::string(r.verb) == "plan" ? 0 : rows))
            throw std::runtime_error(std::string(r.what) + ": kordb-cli did not do it");
        std::printf("  %-44s %8.1f s %8s rows/s %6.3f round trips a row, peak %.0f MB\n", r.what,
                    seconds, rate(double(rows), seconds).c_str(), double(trips) / double(rows),
                    std::atof(slurp(peak).c_str()) / 1024.0);
        std::fflush(stdout);
    }
}

int main(int argc, char** argv) {
    const bool whole = argc > 1 && std::string(argv[1]) == "--catalogue";
    if (whole) --argc, ++argv;
    long base = argc > 1 ? std::atol(argv[1]) : whole ? 65535 : 300;
    if (base < 10 || (whole && base > 65535)) {
        std::fprintf(stderr,
                     "usage: bench_link [ROWS]   (ROWS at least 10)\n"
                     "       bench_link --catalogue [ROWS]   (ROWS up to 65535, default 65535)\n");
        return 2;
    }
    fs::path src = fs::path(__FILE__).parent_path().parent_path();
    char tmpl[] = "/tmp/kordb-bench-link-XXXXXX";
    fs::path dir = mkdtemp(tmpl);
    fs::permissions(dir, fs::perms::all, fs::perm_options::add);
    fs::path pg = dir / "pg";
    std::string server = (src / "tests/support/pg_server.sh").string();
    run("'" + server + "' start '" + pg.string() + "' >/dev/null");
    int rc = 0;
    try {
        std::string env = slurp(pg / "env");
        auto at = env.find("PGPORT=");
        if (at == std::string::npos)
            throw std::runtime_error("no PGPORT in " + (pg / "env").string());
        int pgPort = std::atoi(env.c_str() + at + 7);
        // Closed after 20 minutes at the latest, whatever happens here.
        DelayRelay relay(std::uint16_t(pgPort), microseconds(0), std::chrono::minutes(20));
        std::ofstream(dir / "odbc.ini")
            << slurp(pg / "odbc.ini") << "[KordbRelay]\nDriver=PostgreSQL Unicode\n"
            << "Servername=127.0.0.1\nPort=" << relay.port()
            << "\nDatabase=postgres\nUseServerSidePrepare=1\n"
            // Rollback on errors by transaction: by default psqlODBC wraps each statement of a
            // transaction in a savepoint, a round trip more a statement that SQL Server's
            // drivers do not make. A failing batch is taken back whole either way.
            << "Protocol=7.4-1\n";
        setenv("ODBCSYSINI", pg.c_str(), 1);
        setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);

        // Rows for each round trip: fewer where each costs more.
        std::vector<double> roundTrips = {0, 1, 10, 20};
        if (whole) roundTrips = {10};
        auto rowsAt = [&](double ms) {
            return whole || ms >= 10 ? base : ms >= 1 ? 3 * base : 10 * base;
        };
        std::map<long, fs::path> items, debtors;
        for (double ms : roundTrips) {
            long rows = rowsAt(ms);
            if (items.count(rows)) continue;
            std::string n = std::to_string(rows);
            items[rows] = dir / ("items" + n + ".xls");
            run("/usr/bin/python3 '" + (src / "bench/make_item_sheet.py").string() + "' '" +
                items[rows].string() + "' --rows " + std::to_string(rows + 1) + " --cols 65");
            if (whole) continue;  // only the item sheet in memory, as in a run of the program
            debtors[rows] = dir / ("debtors" + n + ".xls");
            fs::path json = dir / ("debtors" + n + ".json");
            std::ofstream(json) << bench::debtorSheetJson(rows);
            run("/usr/bin/python3 '" + (src / "tests/support/write_xls.py").string() + "' '" +
                debtors[rows].string() + "' < '" + json.string() + "'");
        }

        odbc::Connection direct;
        direct.open(odbcConnectionString(parseConnectionString(
                        assembleConnectionString("kordb-pass", "kordb", "postgres", "KordbPg"))),
                    10);
        {
            odbc::Statement st(direct);
            st.execDirect("CREATE DATABASE kordb_bench");
        }
        BenchOperator ui;
        SettingsStore store(dir / "config");
        Form f(ui, store, dir);
        ui.fillConnection("KordbRelay", "kordb_bench");
        OpenDestination(f);
        if (!f.st.DestConn || !f.st.DestConn->isOpen())
            throw std::runtime_error("no connection through the relay");
        // Parsed before any clock starts, as a verification run would have done.
        for (auto& [rows, path] : items) workbookCache(f).get(path.string());
        for (auto& [rows, path] : debtors) workbookCache(f).get(path.string());

        Bench bench(f, ui, relay, slurp(src / "demo/destination.sql"));
        if (whole) {
            catalogue(bench, items[base], base);
            catalogueByProgram(bench, relay, items[base], base, dir);
            roundTrips.clear();
        }
        std::vector<Line> lines;
        for (double ms : roundTrips) {
            microseconds oneWay(long(ms * 500));
            long rows = rowsAt(ms);
            relay.setDelay(oneWay);
            double turnsEach = 0;
            double trip = medianTrip(*f.st.DestConn, relay, turnsEach);
            relay.setDelay(microseconds(0));
            if (ms == 0) {
                double unused = 0;
                std::printf("\nSELECT 1 median without the relay: %.3f ms\n",
                            medianTrip(direct, relay, unused) * 1e3);
            }
            std::printf(
                "\nround trip %g ms (one-way %g ms): SELECT 1 median %.3f ms, %.2f round "
                "trips each\n",
                ms, ms / 2, trip * 1e3, turnsEach);
            std::printf("  %-30s %6s %8s %8s %10s %9s %9s\n", "", "rows", "seconds", "rows/s",
                        "trips/row", "floor s", "floor r/s");
            for (const Case& c : kCases) {
                const fs::path& sheet = (c.items ? items : debtors)[rows];
                Line l{ms, &c, rows, {}, {}, 0};
                l.rowByRow = bench.once(c, sheet, rows, true, oneWay);
                l.batched = bench.once(c, sheet, rows, false, oneWay);
                l.floor = trip * double(l.rowByRow.turns);
                for (const Result* r : {&l.rowByRow, &l.batched})
                    std::printf(
                        "  %-30s %6ld %8.3f %8s %10.2f %9.3f %9s\n",
                        (std::string(c.what) + (r == &l.rowByRow ? ", row by row" : ", batched"))
                            .c_str(),
                        rows, r->seconds, rate(double(rows), r->seconds).c_str(),
                        double(r->turns) / double(rows), l.floor,
                        rate(double(rows), l.floor).c_str());
                std::fflush(stdout);
                lines.push_back(l);
            }
        }

        if (!lines.empty())
            std::printf(
                "\n| round trip | sheet | rows | batched rows/s | row by row rows/s | floor "
                "rows/s (row-by-row trips × SELECT 1) | round trips per row, batched / row by "
                "row |\n|---|---|---|---|---|---|---|\n");
        for (const Line& l : lines)
            std::printf("| %s | %s | %s | %s | %s | %s | %.2f / %.2f |\n",
                        l.roundTripMs == 0 ? "loopback"
                                           : (std::to_string(int(l.roundTripMs)) + " ms").c_str(),
                        l.c->what, withCommas(double(l.rows)).c_str(),
                        rate(double(l.rows), l.batched.seconds).c_str(),
                        rate(double(l.rows), l.rowByRow.seconds).c_str(),
                        rate(double(l.rows), l.floor).c_str(),
                        double(l.batched.turns) / double(l.rows),
                        double(l.rowByRow.turns) / double(l.rows));

        // The targets, by rate: the sheets here are far smaller than a catalogue.
        if (!lines.empty()) std::printf("\ntargets (projected from the rates above):\n");
        for (const Line& l : lines) {
            double perRow = l.batched.seconds / double(l.rows);
            if (l.roundTripMs == 10 && l.c->items && !l.c->plan)
                std::printf(
                    "  65,535 item rows through 10 ms: %.0f s batched (target at most "
                    "60 s), %.0f s row by row\n",
                    perRow * 65535, l.rowByRow.seconds / double(l.rows) * 65535);
            if (l.roundTripMs == 10 && l.c->items && l.c->plan)
                std::printf(
                    "  plan of 65,535 item rows through 10 ms: %.0f s batched (target at "
                    "most 30 s)\n",
                    perRow * 65535);
            if (l.roundTripMs == 0 && l.c->items && !l.c->plan)
                std::printf(
                    "  items on loopback: batched %.2f times row by row (target at least "
                    "2)\n",
                    l.rowByRow.seconds / l.batched.seconds);
        }
        if (relay.expired()) throw std::runtime_error("the relay's time limit ran out");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_link: %s\n", e.what());
        rc = 1;
    }
    std::system(("'" + server + "' stop '" + pg.string() + "'").c_str());
    fs::remove_all(dir);
    return rc;
}

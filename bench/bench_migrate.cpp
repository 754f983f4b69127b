// Migration against a local PostgreSQL server: 10,000 item rows twice (all inserts, then all
// updates) and 10,000 debtor rows, each set against its floor, the same number of round
// trips of "SELECT 1" over the same connection.
//   bench_migrate [ROWS [RUNS]]   (default 10000 rows, best of 3 runs; starts and stops a
//   private server), against the demo destination's tables (demo/destination.sql).

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/procedures.h"
#include "bench/bench_util.h"
#include "settings/destination.h"
#include "settings/odbc.h"
#include "settings/settings_store.h"

using namespace kordb;
namespace fs = std::filesystem;
using bench::BenchOperator;
using bench::Clock;
using bench::count;
using bench::cpuSeconds;
using bench::execScript;

namespace {

void run(const std::string& cmd) {
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", cmd.c_str());
        std::exit(1);
    }
}

std::unique_ptr<odbc::Connection> connect(const std::string& database) {
    auto c = std::make_unique<odbc::Connection>();
    c->open(odbcConnectionString(parseConnectionString(
                assembleConnectionString("kordb-pass", "kordb", database, "KordbPg"))),
            10);
    return c;
}

// Round trips of a trivial statement over the connection the migration uses: wall time,
// and the client's CPU time in cpu.
double floorSeconds(odbc::Connection& c, long trips, double& cpu) {
    odbc::Statement st(c);
    st.prepare("SELECT 1");
    double cpu0 = cpuSeconds();
    auto t = Clock::now();
    for (long i = 0; i < trips; ++i) {
        st.execute();
        st.fetchAll();
    }
    double s = bench::secondsSince(t);
    cpu = cpuSeconds() - cpu0;
    return s;
}

// Rows per second over the first and the last tenth of a run, from the lines' arrival.
std::string pace(const BenchOperator& ui, const char* what) {
    size_t n = ui.lineTimes.size(), tenth = n / 10;
    if (tenth < 2) return {};
    auto rate = [&](size_t a) {
        double s =
            std::chrono::duration<double>(ui.lineTimes[a + tenth - 1] - ui.lineTimes[a]).count();
        return double(tenth - 1) / s;
    };
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  "  %-22s pace: first tenth %6.0f rows/s, last tenth %6.0f rows/s, list at %zu "
                  "lines",
                  what, rate(0), rate(n - tenth), ui.list.size());
    return buf;
}

void report(const char* what, long rows, double seconds, double trip, double tripCpu,
            int tripsPerRow, double cpu) {
    double trips = double(tripsPerRow) * double(rows);
    std::printf(
        "  %-22s %6ld rows %7.3f s %7.0f rows/s   floor (%d trips/row) %6.3f s   "
        "ratio %5.2f   client CPU %5.2f s (floor %4.2f s)\n",
        what, rows, seconds, double(rows) / seconds, tripsPerRow, trip * trips,
        seconds / (trip * trips), cpu, tripCpu * trips);
}

struct Figures {
    double trip = 1e9, tripCpu = 0, inserts = 1e9, updates = 1e9, debtors = 1e9;
    double insertCpu = 0, updateCpu = 0, debtorCpu = 0;
    std::vector<std::string> pace;
};

// Runs fn, keeping its best wall time and the CPU time of that run.
template <class Fn>
void timed(double& best, double& bestCpu, Fn fn) {
    double cpu = cpuSeconds();
    auto t = Clock::now();
    fn();
    double s = bench::secondsSince(t);
    if (s < best) best = s, bestCpu = cpuSeconds() - cpu;
}

void expectBoxes(BenchOperator& ui, size_t n, const char* what) {
    if (ui.boxes.size() != n) throw std::runtime_error(std::string(what) + ": " + ui.boxes[0]);
    ui.boxes.clear();
}

Figures measure(Form& f, BenchOperator& ui, const std::string& ddl, const fs::path& items,
                const fs::path& debtors, long rows, int reps) {
    Figures fig;
    odbc::Connection& conn = *f.st.DestConn;
    auto floorTrip = [&](long trips) {
        double cpu = 0, s = floorSeconds(conn, trips, cpu);
        if (s / double(trips) < fig.trip)
            fig.trip = s / double(trips), fig.tripCpu = cpu / double(trips);
    };
    for (int rep = 0; rep < reps; ++rep) {
        execScript(conn,
                   "DROP TABLE IF EXISTS KINV_MT_ITEM, KINV_MT_PLU, KINV_MT_CLASS, KLED_MT_DEBTOR, "
                   "KLED_MT_CREDITOR");
        execScript(conn, ddl);
        bool last = rep == reps - 1;

        ui.fields[4] = items.string();
        f.st.TableName = f.st.SheetName = "KINV_MT_ITEM";
        floorTrip(4 * rows);
        ui.lineTimes.clear();
        timed(fig.inserts, fig.insertCpu, [&] { MigrateItems(f); });
        expectBoxes(ui, 0, "items, first pass");
        if (last) fig.pace.push_back(pace(ui, "items, all inserts"));
        ui.lineTimes.clear();
        timed(fig.updates, fig.updateCpu, [&] { MigrateItems(f); });
        expectBoxes(ui, 0, "items, second pass");
        if (last) fig.pace.push_back(pace(ui, "items, all updates"));
        if (count(conn, "KINV_MT_ITEM") != rows || count(conn, "KINV_MT_PLU") != rows)
            throw std::runtime_error("item or PLU rows missing");
        floorTrip(4 * rows);

        // The list already holds lines, so that it ends at the list box's 65,535.
        ui.fields[4] = debtors.string();
        f.st.TableName = f.st.SheetName = "KLED_MT_DEBTOR";
        f.st.KeyColumn = "DebtorCode";
        ui.list.assign(size_t(std::max(0L, 65535 - rows)), "[earlier line]");
        ui.lineTimes.clear();
        timed(fig.debtors, fig.debtorCpu, [&] { MigrateMasterTable(f); });
        expectBoxes(ui, 1, "debtors");
        if (last) fig.pace.push_back(pace(ui, "debtors, all inserts"));
        if (count(conn, "KLED_MT_DEBTOR") != rows) throw std::runtime_error("debtor rows missing");
        floorTrip(2 * rows);
    }
    return fig;
}

}  // namespace

int main(int argc, char** argv) {
    long rows = argc > 1 ? std::atol(argv[1]) : 10000;
    int reps = argc > 2 ? std::atoi(argv[2]) : 3;
    fs::path src = fs::path(__FILE__).parent_path().parent_path();
    char tmpl[] = "/tmp/kordb-bench-migrate-XXXXXX";
    fs::path dir = mkdtemp(tmpl);
    fs::permissions(dir, fs::perms::all, fs::perm_options::add);
    fs::path pg = dir / "pg";
    std::string server = (src / "tests/support/pg_server.sh").string();
    run("'" + server + "' start '" + pg.string() + "'");
    setenv("ODBCSYSINI", pg.c_str(), 1);
    setenv("ODBCINI", (pg / "odbc.ini").c_str(), 1);
    int rc = 0;
    try {
        std::printf("writing workbooks (%ld rows each) ...\n", rows);
        fs::path items = dir / "items.xls", debtors = dir / "debtors.xls";
        run("/usr/bin/python3 '" + (src / "bench/make_item_sheet.py").string() + "' '" +
            items.string() + "' --rows " + std::to_string(rows + 1) + " --cols 65");
        {
            std::string json = bench::debtorSheetJson(rows);
            fs::path sheetJson = dir / "debtors.json";
            std::ofstream(sheetJson) << json;
            run("/usr/bin/python3 '" + (src / "tests/support/write_xls.py").string() + "' '" +
                debtors.string() + "' < '" + sheetJson.string() + "'");
        }

        {
            auto admin = connect("postgres");
            odbc::Statement st(*admin);
            st.execDirect("CREATE DATABASE kordb_bench");
        }
        std::ifstream ddlFile(src / "demo/destination.sql");
        std::string ddl((std::istreambuf_iterator<char>(ddlFile)), {});

        BenchOperator ui;
        SettingsStore store(dir / "config");
        Form f(ui, store, dir);
        ui.fillConnection("KordbPg", "kordb_bench");
        OpenDestination(f);
        if (!f.st.DestConn || !f.st.DestConn->isOpen()) throw std::runtime_error("no connection");
        // Parsed before any clock starts, as a verification run would have done.
        auto t = Clock::now();
        workbookCache(f).get(items.string());
        std::printf("item workbook parse (not timed below): %.3f s\n", bench::secondsSince(t));

        std::printf("best of %d runs each; floor = best time per SELECT 1 round trip\n", reps);
        {
            std::printf("\ndestination: demo/destination.sql\n");
            Figures fig = measure(f, ui, ddl, items, debtors, rows, reps);
            std::printf("  floor: %.1f us per round trip\n", fig.trip * 1e6);
            report("items, all inserts", rows, fig.inserts, fig.trip, fig.tripCpu, 4,
                   fig.insertCpu);
            report("items, all updates", rows, fig.updates, fig.trip, fig.tripCpu, 4,
                   fig.updateCpu);
            report("debtors, all inserts", rows, fig.debtors, fig.trip, fig.tripCpu, 2,
                   fig.debtorCpu);
            for (const std::string& line : fig.pace) std::printf("%s\n", line.c_str());
        }
        std::printf("\ntarget: item ratio under 1.5\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_migrate: %s\n", e.what());
        rc = 1;
    }
    std::system(("'" + server + "' stop '" + pg.string() + "'").c_str());
    fs::remove_all(dir);
    return rc;
}

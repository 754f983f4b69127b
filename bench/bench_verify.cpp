// Verification of a full item worksheet: 65,535 rows of 80 columns with about 1% duplicated
// codes, 1% repeated PLU pairs and 1% invalid codes. Times the whole Verify run (workbook
// parsed once, inside it) and each check on the parsed workbook, and reports peak memory.
//
// bench_verify [FOLDER [ROWS [DATE_COLUMNS]]]: the workbook is written once into FOLDER
// (default /tmp/kordb-bench-verify) by make_verify_workbook.py and reused while it exists.
// DATE_COLUMNS adds date-formatted columns, which the reader converts only when they are read.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/procedures.h"
#include "bench/bench_util.h"
#include "settings/settings_store.h"

namespace fs = std::filesystem;
using namespace kordb;

namespace {

// An operator that only counts what a run shows.
double seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

uintmax_t linesIn(const fs::path& file) {
    std::error_code ec;
    if (!fs::exists(file, ec)) return 0;
    FILE* f = std::fopen(file.c_str(), "rb");
    uintmax_t n = 0;
    for (int c; (c = std::fgetc(f)) != EOF;)
        if (c == '\n') ++n;
    std::fclose(f);
    return n;
}

// Error files start empty each time, so every run writes the same amount.
void clearErrorFiles(const fs::path& folder) {
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".txt") fs::remove(e.path());
}

}  // namespace

int main(int argc, char** argv) {
    fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::path("/tmp/kordb-bench-verify");
    std::string rows = argc > 2 ? argv[2] : "65535";
    std::string dates = argc > 3 ? argv[3] : "0";
    fs::path workbook = folder / ("items-" + rows + "-" + dates + ".xls");
    fs::path program = folder / "program";
    fs::create_directories(program);

    if (!fs::exists(workbook)) {
        fs::path script = fs::path(__FILE__).parent_path() / "make_verify_workbook.py";
        std::string cmd = "/usr/bin/python3 '" + script.string() + "' '" + workbook.string() +
                          "' " + rows + " " + dates;
        std::printf("writing %s ...\n", workbook.c_str());
        std::fflush(stdout);
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "cannot write the workbook: %s\n", cmd.c_str());
            return 1;
        }
    }

    bench::BenchOperator ui;
    ui.combo = "KINV_MT_ITEM";
    ui.fields[4] = workbook.string();
    SettingsStore store(folder / "config");
    Form form(ui, store, program);
    form.st.KeyColumn = "ItemCode";
    form.st.WorkbookTitle = workbook.filename().string();
    clearErrorFiles(form.errorFolder);

    // The whole run as Verify starts it, the workbook not yet parsed.
    double cold = seconds([&] { CVerify_Click(form); });
    bool failed = std::any_of(ui.boxes.begin(), ui.boxes.end(),
                              [](const std::string& b) { return b.find("Verifying") != 0; });
    std::printf("rows %s, date columns %s, list lines %zu, result \"%s\"%s\n", rows.c_str(),
                dates.c_str(), ui.list.size(), ui.boxes.empty() ? "" : ui.boxes.back().c_str(),
                failed ? " (with error boxes!)" : "");
    for (const char* suffix : {"_Migrate_NULL.txt", "_Migrate_DUPLICATE.txt", "_Migrate_PLUERR.txt",
                               "_Migrate_CODEERR.txt", "_Migrate_OK.txt"})
        std::printf("  %-24s %8ju lines\n", suffix,
                    linesIn(form.errorFolder / (form.st.WorkbookTitle + suffix)));
    std::printf("whole CVerify_Click, first run (parse included): %7.3f s\n", cold);

    // The same run again on the parsed workbook, then each check alone in the run's order.
    const int repeats = 3;
    std::vector<double> warm, nulls, dups, plus, listing;
    for (int r = 0; r < repeats; ++r) {
        clearErrorFiles(form.errorFolder);
        warm.push_back(seconds([&] { CVerify_Click(form); }));
        clearErrorFiles(form.errorFolder);
        form.st.ErrCount = 0;
        form.st.ErrKeys.clear();
        form.st.ErrFound = false;
        nulls.push_back(seconds([&] { CheckNullValues(form); }));
        dups.push_back(seconds([&] { CheckDuplicateKeys(form); }));
        plus.push_back(seconds([&] { CheckDuplicatePlu(form); }));
        listing.push_back(seconds([&] { CheckCodeValues(form, "OK"); }));
    }
    auto best = [](std::vector<double> v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("whole CVerify_Click, workbook parsed:            %7.3f s (best of %d)\n",
                best(warm), repeats);
    std::printf("  CheckNullValues                                %7.3f s\n", best(nulls));
    std::printf("  CheckDuplicateKeys (with DUPLICATE listing)    %7.3f s\n", best(dups));
    std::printf("  CheckDuplicatePlu (with PLUERR listing)        %7.3f s\n", best(plus));
    std::printf("  CheckCodeValues \"OK\"                           %7.3f s\n", best(listing));
    std::printf("peak memory (ru_maxrss): %.1f MB\n", bench::peakMegabytes());
    return failed ? 1 : 0;
}

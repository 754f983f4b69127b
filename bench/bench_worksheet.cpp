// Worksheet access at the format's limit: a 65,535-row by 80-column item sheet.
// Times loading it, reading SELECT * to the end, and the duplicate-key grouping. For a zip
// package (.xlsx, .ods) the floor is inflating its sheet part alone with `unzip -p`.
//   bench_worksheet [WORKBOOK]   (default: writes one with bench/make_verify_workbook.py)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_util.h"
#include "source/worksheet.h"

using namespace kordb;
using bench::Clock;
using bench::secondsSince;

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "/tmp/kordb-bench-items.xls";
    if (argc <= 1 && !std::filesystem::exists(path)) {
        std::string src = std::filesystem::path(__FILE__).parent_path().string();
        std::string cmd = "/usr/bin/python3 '" + src + "/make_verify_workbook.py' '" + path + "'";
        std::printf("writing %s ...\n", path.c_str());
        if (std::system(cmd.c_str()) != 0) return 1;
    }
    auto t0 = Clock::now();
    auto book = std::make_shared<Workbook>(path);
    const auto& sheet = book->sheet(book->findSheet("KINV_MT_ITEM"));
    double load = secondsSince(t0);

    auto t1 = Clock::now();
    size_t cells = 0, bytes = 0;
    {
        SheetRecordset rs(book, "SELECT * FROM [KINV_MT_ITEM$]");
        for (; !rs.eof(); rs.moveNext())
            for (int i = 0; i < rs.fieldCount(); ++i) {
                Value v = rs.field(i);
                ++cells;
                if (v.isText()) bytes += v.rawText().size();
            }
    }
    double selectAll = secondsSince(t1);

    auto t2 = Clock::now();
    size_t groups = 0, dups = 0;
    {
        SheetRecordset rs(
            book, "Select Count(ItemCode), ItemCode From [KINV_MT_ITEM$] group by ItemCode");
        for (; !rs.eof(); rs.moveNext()) {
            ++groups;
            if (rs.field(0).toNumber() > 1) ++dups;
        }
    }
    double groupBy = secondsSince(t2);

    std::printf("sheet: %u rows x %zu columns, %zu cells read (%zu text bytes)\n", sheet.dataRows,
                sheet.columns.size(), cells, bytes);
    std::printf("load (parse + column analysis): %.3f s\n", load);
    std::printf("SELECT * read to the end:        %.3f s\n", selectAll);
    std::printf("load + SELECT *:                 %.3f s   (target < 0.6 s)\n", load + selectAll);
    std::printf("group by ItemCode (%zu groups, %zu repeated): %.3f s   (target < 0.2 s)\n", groups,
                dups, groupBy);
    std::printf("peak memory: %.0f MB   (target < 300 MB)\n", bench::peakMegabytes());

    std::FILE* f = std::fopen(path.c_str(), "rb");
    char magic[2] = {};
    if (f) {
        (void)std::fread(magic, 1, 2, f);
        std::fclose(f);
    }
    if (magic[0] == 'P' && magic[1] == 'K') {
        // The sheet part's name as the writers of both formats give it.
        bool ods =
            std::system(("unzip -l '" + path + "' content.xml >/dev/null 2>&1").c_str()) == 0;
        std::string part = ods ? "content.xml" : "xl/worksheets/sheet1.xml";
        auto t3 = Clock::now();
        if (std::system(("unzip -p '" + path + "' " + part + " >/dev/null").c_str()) != 0) return 1;
        double floor = secondsSince(t3);
        std::printf(
            "floor: unzip -p %s: %.3f s; load + SELECT * is %.2f times it   (target "
            "< 2.5, and < 2.0 s)\n",
            part.c_str(), floor, (load + selectAll) / floor);
    }
    return 0;
}

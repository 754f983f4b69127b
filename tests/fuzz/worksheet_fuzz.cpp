// The worksheet statements of verification and migration over a fuzzed workbook: whatever the
// file holds, each statement either runs to its end or fails with a KorError.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/errors.h"
#include "source/workbook.h"
#include "source/worksheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/kordb-fuzz-" + std::to_string(getpid()) + ".book";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    try {
        auto book = std::make_shared<kordb::Workbook>(path);
        if (book->sheetCount() == 0) return 0;
        const std::string sheet = "[" + book->sheetName(0) + "$]";
        const std::string key = book->sheet(0).columns.empty() ? "F1" : book->sheet(0).columns[0];
        for (const std::string& sql :
             {"SELECT * FROM " + sheet,
              "Select Count(" + key + "), " + key + " From " + sheet + " group by " + key,
              "Select " + key + ", * From " + sheet + " Where " + key + " Is Null Or " + key +
                  "=''"}) {
            try {
                kordb::SheetRecordset rs(book, sql);
                for (; !rs.eof(); rs.moveNext())
                    for (int c = 0; c < rs.fieldCount(); ++c) (void)rs.field(c).toText();
            } catch (const kordb::KorError&) {
            }
        }
    } catch (const kordb::KorError&) {
    }
    return 0;
}

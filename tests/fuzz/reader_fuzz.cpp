// One reader fed arbitrary bytes: it may refuse them, never crash, hang or run out of memory.
// KORDB_FUZZ_READER picks the entry: the compound-file reader or the zip package reader.

#include <cstddef>
#include <cstdint>
#include <string>

#include "source/cells.h"

namespace {

void readAll(kordb::WorkbookReader& reader) {
    for (size_t i = 0; i < reader.sheetNames().size(); ++i) {
        kordb::SheetCells cells;
        try {
            reader.readSheet(i, cells);
        } catch (const kordb::ReadError&) {
            continue;  // a damaged sheet; the others may still read
        }
        for (uint32_t r = 0; r < cells.rowCount(); ++r)
            for (const kordb::Cell& c : cells.row(r))
                if (c.type == kordb::Cell::Type::Text) (void)cells.string(c.text).size();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
#if KORDB_FUZZ_READER == 1
        auto reader = kordb::openXlsReader(std::move(bytes));
#else
        auto reader = kordb::openPackageReader(std::move(bytes));
#endif
        readAll(*reader);
    } catch (const kordb::ReadError&) {
    }
    return 0;
}

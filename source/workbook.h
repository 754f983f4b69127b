#pragma once
// A workbook of any kind the tool reads (.xls, .xlsx, .xlsm, .ods): sheet names, and each sheet
// as a table of typed cells (header row = column names, data from the second row on).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.h"
#include "source/cells.h"
#include "source/sheet_values.h"

namespace kordb {

// The sheet names of a workbook in workbook order, read without loading any cells.
std::vector<std::string> readSheetNames(const std::string& path);

class Workbook {
  public:
    enum class ColumnKind : uint8_t { Empty, Number, Text, Date, Mixed };
    // A cell that held an error value, read as empty.
    struct ErrorCell {
        uint32_t row = 0;  // zero-based sheet row (0 = the header row)
        uint32_t col = 0;
        uint8_t code = 0;
    };
    struct Sheet {
        std::string name;
        std::vector<std::string> columns;  // unique, never empty
        std::vector<ColumnKind> kinds;     // one per column
        uint32_t dataRows = 0;             // rows after the header
        std::vector<ErrorCell> errors;
        bool analysed = false;
    };

    // Opens the file and reads its sheet names; throws KorError naming the file and the reason.
    explicit Workbook(const std::string& path);
    ~Workbook();
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    const std::string& path() const { return path_; }
    int sheetCount() const { return int(sheets_.size()); }
    const std::string& sheetName(int i) const { return sheets_[size_t(i)].name; }
    // The sheet whose whole name equals name without regard to letter case; -1 when none.
    int findSheet(std::string_view name) const;
    // Header, column kinds and row count, worked out on first use; throws KorError.
    const Sheet& sheet(int index);

    // Cell of a data row (0 = the row below the header), typed by its column's kind:
    // a column mixing numbers, dates and text gives text throughout.
    Value cell(int sheet, uint32_t row, uint16_t col);

    // Low-level access for the SQL engine: the cell with the column rule applied.
    struct Raw {
        enum Type : uint8_t { Null, Int, Double, Text, Date } type = Null;
        int64_t i = 0;
        double d = 0;
        const char* s = nullptr;  // Text/Date: valid while the workbook lives, unless owned
        size_t n = 0;             // its length in bytes
        bool owned = false;       // s points into scratch (valid until the next call)
    };
    Raw raw(int sheet, uint32_t row, uint16_t col);

  private:
    struct Loaded;
    Loaded& load(int index);

    std::string path_;
    std::unique_ptr<WorkbookReader> reader_;
    std::vector<Sheet> sheets_;
    std::vector<std::unique_ptr<Loaded>> cells_;
    std::string scratch_;
    // Where the last cell read was found: a row is read left to right.
    const std::vector<Cell>* hintRow_ = nullptr;
    size_t hintPos_ = 0;
};

// cellName under the name the command line's callers know it by.
inline std::string cellAddress(uint32_t row, uint32_t col) {
    return cellName(row, col);
}

// ISO 8601 text of a Date cell's number counted as form (a DateForm) says: a date alone when
// there is no time of day, a time alone for a time on day 0 of the 1900 system or under a
// format that shows only a time; the time to the millisecond, its fraction without trailing
// zeros ("10:30:00.5"); empty when the number is no day between the years 1 and 9999.
std::string serialToIso(double value, bool date1904, uint8_t form = kSerialDate);

// Keeps the last workbook parsed, and parses again only when the file changed.
class WorkbookCache {
  public:
    std::shared_ptr<Workbook> get(const std::string& path);
    void clear() { book_.reset(); }

  private:
    std::shared_ptr<Workbook> book_;
    std::filesystem::file_time_type mtime_{};
    uintmax_t size_ = 0;
};

}  // namespace kordb

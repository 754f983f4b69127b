#pragma once
// An .xls workbook read with FreeXL: sheet names, and each sheet as a table of typed cells
// (header row = column names, data from the second row on).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.h"

struct sqlite3;

namespace kordb {

// The sheet names of a workbook in workbook order, read without loading any cells.
std::vector<std::string> readSheetNames(const std::string& path);

class Workbook {
  public:
    enum class ColumnKind : uint8_t { Empty, Number, Text, Date, Mixed };
    struct Sheet {
        std::string name;
        std::vector<std::string> columns;  // unique, never empty
        std::vector<ColumnKind> kinds;     // one per column
        uint32_t dataRows = 0;             // rows after the header
        bool analysed = false;
    };

    // Parses the whole file once; throws KorError naming the file and the reason.
    explicit Workbook(const std::string& path);
    ~Workbook();
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    const std::string& path() const { return path_; }
    int sheetCount() const { return int(sheets_.size()); }
    const std::string& sheetName(int i) const { return sheets_[size_t(i)].name; }
    // The sheet whose whole name equals name without regard to letter case; -1 when none.
    int findSheet(std::string_view name) const;
    // Header, column kinds and row count, worked out on first use.
    const Sheet& sheet(int index);

    // Cell of a data row (0 = the row below the header), typed by its column's kind:
    // a column mixing numbers, dates and text gives text throughout.
    Value cell(int sheet, uint32_t row, uint16_t col);

    // Low-level access for the SQL engine: the raw cell with the column rule applied.
    struct Raw {
        enum Type : uint8_t { Null, Int, Double, Text, Date } type = Null;
        int64_t i = 0;
        double d = 0;
        const char* s = nullptr;  // Text/Date: valid while the workbook lives, unless owned
        bool owned = false;       // s points into scratch (valid until the next call)
    };
    Raw raw(int sheet, uint32_t row, uint16_t col);

    // The SQL engine attached to this workbook (created on first use).
    sqlite3* database();

  private:
    void select(int sheet);
    Raw rawCell(uint32_t sheetRow, uint16_t col);

    std::string path_;
    std::string copy_;  // a private copy read instead of the file, where reading locks it
    const void* handle_ = nullptr;
    std::vector<Sheet> sheets_;
    int active_ = -1;
    std::string scratch_;
    sqlite3* db_ = nullptr;
};

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

#pragma once
// The seam between the workbook readers (.xls, .xlsx/.xlsm, .ods) and the worksheet layer:
// sheet names, and each sheet's cells by row and column, typed as the file stored them.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kordb {

// A workbook that cannot be read, with the reason in words an operator understands. The
// reason does not name the file: the caller adds that.
class ReadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// How a Date cell's number counts days (Cell::error holds it, to keep a cell 16 bytes).
enum DateForm : uint8_t {
    // A serial day number in the workbook's date system (see SheetCells::date1904), a
    // fraction for the time of day.
    kSerialDate = 0,
    // The same, under a number format that shows a time of day and no date: day 0 of either
    // system is a time alone.
    kSerialTime = 1,
    // Days since 1899-12-30 on the calendar as it is, any year, negative before: a date the
    // file wrote as text, which no serial of Excel's may hold (1899-12-30, 1850-01-01).
    kCalendarDate = 2,
};

struct Cell {
    enum class Type : uint8_t { Empty, Number, Text, Boolean, Date, Error };
    // Number: the value. Boolean: 1 or 0. Date: days and a fraction for the time of day,
    // counted as `error` (a DateForm) says.
    double number = 0;
    uint32_t text = 0;  // Text: index into SheetCells::strings
    uint16_t col = 0;   // zero-based column
    Type type = Type::Empty;
    // Error: the Excel error code (0x00 #NULL!, 0x07 #DIV/0!, 0x0F #VALUE!, 0x17 #REF!,
    // 0x1D #NAME?, 0x24 #NUM!, 0x2A #N/A); 0xFF for an error the file names otherwise.
    // Date: its DateForm.
    uint8_t error = 0;
};

// One worksheet's cells. Readers never store Empty cells.
class SheetCells {
  public:
    // Columns beyond this are refused as damage (Excel's own limit).
    static constexpr uint32_t kMaxColumns = 16384;
    static constexpr uint32_t kMaxRows = 1048576;
    // Memory a sheet's cells, rows and texts may take at most, whatever its file: enough for
    // 65,536 rows of 80 columns and their texts, and within the tool's 300 MB.
    static constexpr size_t kMaxBytes = size_t(192) << 20;
    // What the sheet of a file of fileBytes may take: a file describes more than some dozens
    // of times its size only by repeats or compression, which are believed no further. So no
    // file under 1 MB makes the readers take more than about 70 MB.
    static size_t budgetFor(size_t fileBytes);
    void limitBytes(size_t bytes) { maxBytes_ = bytes; }
    // Counts bytes a reader holds for the sheet outside it (a shared text table) against the
    // same budget; throws ReadError when it is spent.
    void charge(size_t bytes);

    // Adds a cell at (row, col), both zero-based; a later cell at the same place replaces
    // the earlier one. Throws ReadError past the limits above.
    void add(uint32_t row, uint32_t col, Cell cell);
    // Interns a text and gives its index for Cell::text.
    uint32_t addString(std::string s);

    // Rows: one past the last row holding a cell; columns: one past the last column.
    uint32_t rowCount() const { return uint32_t(rows_.size()); }
    uint32_t columnCount() const { return columns_; }
    // The cell at (row, col), or nullptr where the sheet holds nothing.
    const Cell* at(uint32_t row, uint32_t col) const;
    // The cells of a row in column order (after finish()).
    const std::vector<Cell>& row(uint32_t r) const { return rows_[r]; }
    const std::string& string(uint32_t index) const { return strings_[index]; }
    size_t cellCount() const { return cells_; }

    // Puts every row in column order; readers call it once when the sheet is read.
    void finish();

    bool date1904 = false;  // the workbook counts days from 1904-01-01 (else from 1899-12-30)

  private:
    std::vector<std::vector<Cell>> rows_;
    std::vector<std::string> strings_;
    uint32_t columns_ = 0;
    size_t cells_ = 0;
    size_t bytes_ = 0, maxBytes_ = kMaxBytes;
    uint32_t lastRow_ = 0;  // the row a cell was last added to
};

// An open workbook of any kind the tool reads. Reading a sheet costs nothing until asked.
class WorkbookReader {
  public:
    virtual ~WorkbookReader() = default;
    // Every sheet's name as its tab shows it, in workbook order, hidden sheets too.
    virtual const std::vector<std::string>& sheetNames() const = 0;
    // Reads sheet index (0-based) into out, within sheetBudget; throws ReadError.
    virtual void readSheet(size_t index, SheetCells& out) = 0;

    // Memory a sheet may take: SheetCells::budgetFor the file's size, set by the opener.
    size_t sheetBudget = SheetCells::kMaxBytes;
};

// Opens path, choosing the reader by the file's content, not its name. Throws ReadError
// naming what the file is when it is no workbook the tool reads.
std::unique_ptr<WorkbookReader> openWorkbookReader(const std::string& path);

// The readers, for the dispatcher and the fuzz targets: each takes the whole file in memory.
// A compound file (.xls; also tells an Excel 5.0/95 workbook, an encrypted OOXML package and
// other compound documents apart):
std::unique_ptr<WorkbookReader> openXlsReader(std::string bytes);
// A zip package (.xlsx, .xlsm, .ods; tells .xlsb and other zip files apart):
std::unique_ptr<WorkbookReader> openPackageReader(std::string bytes);

// The text Excel shows for an error code ("#N/A").
const char* errorText(uint8_t code);

}  // namespace kordb

#include "source/workbook.h"

#include <QString>

#include <cmath>
#include <cstdio>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "core/dates.h"
#include "core/errors.h"
#include "core/text.h"
#include "source/sheet_values.h"

namespace kordb {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& text) {
    throw KorError(errnum::kUnspecified, text);
}

// Explains why a path cannot be read as a workbook before a reader is asked.
void checkReadable(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::u8path(path);
    if (!fs::exists(p, ec)) fail("Workbook file not found: '" + path + "'.");
    if (fs::is_directory(p, ec)) fail("'" + path + "' is a folder, not a workbook file.");
    // Opening a named pipe waits for a writer that may never come, and the window with it.
    if (fs::is_fifo(p, ec) || fs::is_socket(p, ec))
        fail("'" + path + "' is a named pipe or socket, not a workbook file.");
}

std::unique_ptr<WorkbookReader> openReader(const std::string& path) {
    checkReadable(path);
    try {
        return openWorkbookReader(path);
    } catch (const ReadError& e) {
        fail("Workbook '" + path + "' cannot be read: " + e.what() + ".");
    } catch (const std::bad_alloc&) {
        fail("Workbook '" + path + "' cannot be read: it is too large for the memory available.");
    }
}

bool isValue(const Cell& c) {
    return c.type != Cell::Type::Empty && c.type != Cell::Type::Error;
}

}  // namespace

std::string serialToIso(double value, bool date1904, uint8_t form) {
    const bool calendar = form == kCalendarDate;
    // 0001-01-01 and 9999-12-31 as the cell counts days.
    const double first = calendar ? -693593 : 0;
    const long long last = calendar || !date1904 ? 2958465 : 2957003;
    if (!std::isfinite(value) || value < first || value >= double(last + 1)) return {};
    double whole = std::floor(value);
    long long days = (long long)whole;
    long long ms = std::llround((value - whole) * 86400000.0);
    if (ms >= 86400000) {
        // The last day's last moment stays on that day rather than name a year 10000.
        if (days == last) {
            ms = 86399999;
        } else {
            ++days;
            ms -= 86400000;
        }
    }
    const bool timeOnly = !calendar && days == 0 && (form == kSerialTime || (!date1904 && ms > 0));
    const std::chrono::year_month_day date =
        dateOfCalendarDay(calendar ? days : calendarDayOfSerial(days, date1904));
    const int y = int(date.year());
    const unsigned m = unsigned(date.month()), d = unsigned(date.day());
    char buf[64];
    int n = 0;
    if (!timeOnly) n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", y, m, d);
    if (ms == 0 && !timeOnly) return std::string(buf, size_t(n));
    if (!timeOnly) buf[n++] = 'T';
    long long seconds = ms / 1000;
    n += std::snprintf(buf + n, sizeof buf - size_t(n), "%02d:%02d:%02d", int(seconds / 3600),
                       int(seconds / 60 % 60), int(seconds % 60));
    if (int frac = int(ms % 1000)) {
        n += std::snprintf(buf + n, sizeof buf - size_t(n), ".%03d", frac);
        while (buf[n - 1] == '0') --n;
    }
    return std::string(buf, size_t(n));
}

std::vector<std::string> readSheetNames(const std::string& path) {
    return openReader(path)->sheetNames();
}

struct Workbook::Loaded {
    SheetCells cells;
};

Workbook::Workbook(const std::string& path) : path_(path), reader_(openReader(path)) {
    for (const std::string& name : reader_->sheetNames()) {
        sheets_.emplace_back();
        sheets_.back().name = name;
    }
    cells_.resize(sheets_.size());
}

Workbook::~Workbook() = default;

int Workbook::findSheet(std::string_view name) const {
    for (size_t i = 0; i < sheets_.size(); ++i)
        if (equalsNoCase(sheets_[i].name, name)) return int(i);
    return -1;
}

Workbook::Loaded& Workbook::load(int index) {
    auto& slot = cells_[size_t(index)];
    if (slot) return *slot;
    auto loaded = std::make_unique<Loaded>();
    const std::string& name = sheets_[size_t(index)].name;
    try {
        reader_->readSheet(size_t(index), loaded->cells);
    } catch (const ReadError& e) {
        fail("Worksheet '" + name + "' of workbook '" + path_ + "' cannot be read: " + e.what() +
             ".");
    } catch (const std::bad_alloc&) {
        fail("Worksheet '" + name + "' of workbook '" + path_ +
             "' cannot be read: it is too large for the memory available.");
    }
    slot = std::move(loaded);
    return *slot;
}

namespace {

// A name's key for case-blind equality: equal keys for names equalsNoCase takes as equal.
std::string foldedKey(const std::string& name) {
    for (unsigned char c : name)
        if (c >= 0x80)
            return QString::fromUtf8(name.data(), qsizetype(name.size()))
                .toCaseFolded()
                .toStdString();
    std::string key = name;
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return key;
}

// Column names from the header row: gaps get "F" and the column's number, and a repeated name
// the first free numeric suffix, deterministically. One pass over a hash of the names taken,
// so that a header 16,384 columns wide of one repeated name costs no more than any other.
std::vector<std::string> headerNames(const SheetCells& cells) {
    std::vector<std::string> columns;
    columns.reserve(cells.columnCount());
    std::unordered_set<std::string> taken;
    // Per repeated name, the suffix to try first: suffixes below it are all taken, and names
    // are only ever added, so the search for that name resumes where it stopped.
    std::unordered_map<std::string, uint32_t> nextSuffix;
    for (uint32_t c = 0; c < cells.columnCount(); ++c) {
        std::string name;
        if (const Cell* h = cells.at(0, c)) {
            if (h->type == Cell::Type::Text)
                name = cells.string(h->text);
            else if (h->type == Cell::Type::Date)
                name = serialToIso(h->number, cells.date1904, h->error);
            else if (h->type == Cell::Type::Number || h->type == Cell::Type::Boolean)
                name = formatNumber(h->number);
        }
        if (name.empty()) {
            name = 'F';
            name += std::to_string(c + 1);
        }
        std::string key = foldedKey(name);
        if (taken.count(key)) {
            uint32_t& k = nextSuffix.try_emplace(key, 1).first->second;
            std::string candidate;
            for (;; ++k) {
                candidate = name;
                candidate += std::to_string(k);
                if (taken.insert(foldedKey(candidate)).second) break;
            }
            ++k;
            name = std::move(candidate);
        } else {
            taken.insert(std::move(key));
        }
        columns.push_back(std::move(name));
    }
    return columns;
}

// The mixed-type rule over every data row, so that no value is lost past the first few; and
// the cells that held an error value.
std::vector<Workbook::ColumnKind> columnKinds(const SheetCells& cells,
                                              std::vector<Workbook::ErrorCell>& errors) {
    using Kind = Workbook::ColumnKind;
    std::vector<uint8_t> seen(cells.columnCount(), 0);  // bit 1 number, 2 text, 4 date
    for (uint32_t r = 0; r < cells.rowCount(); ++r) {
        for (const Cell& c : cells.row(r)) {
            if (c.type == Cell::Type::Error) errors.push_back({r, c.col, c.error});
            if (r == 0 || !isValue(c)) continue;
            seen[c.col] |= c.type == Cell::Type::Text ? 2 : c.type == Cell::Type::Date ? 4 : 1;
        }
    }
    std::vector<Kind> kinds(seen.size());
    for (size_t c = 0; c < seen.size(); ++c)
        kinds[c] = seen[c] == 0   ? Kind::Empty
                   : seen[c] == 1 ? Kind::Number
                   : seen[c] == 2 ? Kind::Text
                   : seen[c] == 4 ? Kind::Date
                                  : Kind::Mixed;
    return kinds;
}

}  // namespace

const Workbook::Sheet& Workbook::sheet(int index) {
    Sheet& sh = sheets_[size_t(index)];
    if (sh.analysed) return sh;
    const SheetCells& cells = load(index).cells;
    sh.columns = headerNames(cells);
    sh.errors.clear();
    sh.kinds = columnKinds(cells, sh.errors);
    sh.dataRows = cells.rowCount() > 0 ? cells.rowCount() - 1 : 0;
    sh.analysed = true;
    return sh;
}

Workbook::Raw Workbook::raw(int sheetIndex, uint32_t row, uint16_t col) {
    // Called once per cell read: the sheet's analysis is looked up only when missing.
    Sheet& sh = sheets_[size_t(sheetIndex)];
    if (!sh.analysed) sheet(sheetIndex);
    const SheetCells& cells = cells_[size_t(sheetIndex)]->cells;
    Raw r;
    if (row + 1 >= cells.rowCount()) return r;
    const std::vector<Cell>& cellsOfRow = cells.row(row + 1);
    if (hintRow_ != &cellsOfRow || hintPos_ >= cellsOfRow.size() ||
        cellsOfRow[hintPos_].col > col) {
        hintRow_ = &cellsOfRow;
        hintPos_ = 0;
    }
    while (hintPos_ < cellsOfRow.size() && cellsOfRow[hintPos_].col < col) ++hintPos_;
    if (hintPos_ >= cellsOfRow.size() || cellsOfRow[hintPos_].col != col) return r;
    const Cell* c = &cellsOfRow[hintPos_];
    if (!isValue(*c)) return r;
    const bool mixed = col < sh.kinds.size() && sh.kinds[col] == ColumnKind::Mixed;
    switch (c->type) {
        case Cell::Type::Text: {
            const std::string& s = cells.string(c->text);
            r.type = Raw::Text;
            r.s = s.data();
            r.n = s.size();
            return r;
        }
        case Cell::Type::Date:
            scratch_ = serialToIso(c->number, cells.date1904, c->error);
            if (scratch_.empty()) {
                // No day a calendar has: the number as it stands.
                r.type = Raw::Double;
                r.d = c->number;
                break;
            }
            r.type = mixed ? Raw::Text : Raw::Date;
            r.s = scratch_.data();
            r.n = scratch_.size();
            r.owned = true;
            return r;
        default:
            r.d = c->number;
            if (std::fabs(r.d) < 9.007199254740992e15 && r.d == std::trunc(r.d)) {
                r.type = Raw::Int;
                r.i = int64_t(r.d);
            } else {
                r.type = Raw::Double;
            }
            break;
    }
    if (!mixed) return r;
    scratch_ = r.type == Raw::Int ? std::to_string(r.i) : formatNumber(r.d);
    r.type = Raw::Text;
    r.s = scratch_.data();
    r.n = scratch_.size();
    r.owned = true;
    return r;
}

Value Workbook::cell(int sheetIndex, uint32_t row, uint16_t col) {
    Raw r = raw(sheetIndex, row, col);
    switch (r.type) {
        case Raw::Null:
            return Value::null();
        case Raw::Int:
            return Value::number(double(r.i));
        case Raw::Double:
            return Value::number(r.d);
        case Raw::Text:
            return Value::text(std::string(r.s, r.n));
        case Raw::Date:
            return Value::date(std::string(r.s, r.n));
    }
    return {};
}

std::shared_ptr<Workbook> WorkbookCache::get(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::u8path(path);
    auto mtime = fs::last_write_time(p, ec);
    uintmax_t size = ec ? 0 : fs::file_size(p, ec);
    if (book_ && !ec && book_->path() == path && mtime == mtime_ && size == size_) return book_;
    book_.reset();
    auto fresh = std::make_shared<Workbook>(path);
    book_ = fresh;
    mtime_ = mtime;
    size_ = size;
    return fresh;
}

}  // namespace kordb

#include "source/workbook.h"

#include <freexl.h>
#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "core/errors.h"
#include "core/text.h"
#include "source/worksheet.h"

namespace kordb {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& text) {
    throw KorError(errnum::kUnspecified, text);
}

// Explains why a path cannot be read as a workbook before FreeXL is asked.
void checkReadable(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::u8path(path);
    if (!fs::exists(p, ec)) fail("Workbook file not found: '" + path + "'.");
    if (fs::is_directory(p, ec)) fail("'" + path + "' is a folder, not a workbook file.");
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fail("Workbook file '" + path + "' cannot be opened: " + std::strerror(errno) + ".");
    std::fclose(f);
}

[[noreturn]] void failOpen(const std::string& path, int rc) {
    if (rc == FREEXL_INSUFFICIENT_MEMORY)
        fail("Workbook '" + path + "' is too large to be read: out of memory.");
    fail("'" + path + "' is not an Excel 97-2003 workbook (.xls), or it is damaged (reader code " +
         std::to_string(rc) + ").");
}

std::string isoDateTime(const char* s) {
    std::string r = s ? s : "";
    if (r.size() > 10 && r[10] == ' ') r[10] = 'T';
    return r;
}

}  // namespace

std::vector<std::string> readSheetNames(const std::string& path) {
    checkReadable(path);
    const void* h = nullptr;
    int rc = freexl_open_info(path.c_str(), &h);
    struct Closer {
        const void* h;
        ~Closer() {
            if (h) freexl_close(h);
        }
    } closer{h};
    if (rc != FREEXL_OK) failOpen(path, rc);
    if (!h) fail("Workbook '" + path + "' is beyond what can be read.");
    unsigned int count = 0;
    if (freexl_get_info(h, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) failOpen(path, -1);
    std::vector<std::string> names;
    for (unsigned int i = 0; i < count; ++i) {
        const char* name = nullptr;
        int r = freexl_get_worksheet_name(h, static_cast<unsigned short>(i), &name);
        if (r != FREEXL_OK) failOpen(path, r);
        names.emplace_back(name ? name : "");
    }
    return names;
}

Workbook::Workbook(const std::string& path) : path_(path) {
    checkReadable(path);
    std::string readFrom = path;
#ifdef _WIN32
    // The reader keeps its file open while the workbook is cached; on Windows that would stop
    // the operator saving the workbook in Excel, so it reads a private copy instead.
    {
        std::error_code ec;
        fs::path copy = fs::temp_directory_path(ec) /
                        ("kordb-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + ".xls");
        if (!ec && fs::copy_file(fs::u8path(path), copy, fs::copy_options::overwrite_existing, ec))
            readFrom = copy_ = copy.string();
    }
#endif
    int rc = freexl_open(readFrom.c_str(), &handle_);
    if (rc != FREEXL_OK) {
        if (handle_) freexl_close(handle_);
        handle_ = nullptr;
        failOpen(path, rc);
    }
    // FreeXL reports success with no handle when the workbook holds more distinct texts than
    // it can index.
    if (!handle_)
        fail("Workbook '" + path +
             "' is beyond what can be read: it holds over about a million distinct texts, or a "
             "text cell holding the empty text. Clear such cells, or split the workbook.");
    unsigned int protectedFlag = 0;
    if (freexl_get_info(handle_, FREEXL_BIFF_PASSWORD, &protectedFlag) == FREEXL_OK &&
        protectedFlag == FREEXL_BIFF_OBFUSCATED) {
        freexl_close(handle_);
        handle_ = nullptr;
        fail("Workbook '" + path + "' is protected with a password and cannot be read.");
    }
    unsigned int count = 0;
    freexl_get_info(handle_, FREEXL_BIFF_SHEET_COUNT, &count);
    sheets_.resize(count);
    for (unsigned int i = 0; i < count; ++i) {
        const char* name = nullptr;
        freexl_get_worksheet_name(handle_, static_cast<unsigned short>(i), &name);
        sheets_[i].name = name ? name : "";
    }
}

sqlite3* Workbook::database() {
    if (db_) return db_;
    // One thread uses it: no per-call locking.
    if (sqlite3_open_v2(":memory:", &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        fail("The worksheet query engine cannot be started.");
    }
    registerSheetModule(db_, this);
    return db_;
}

Workbook::~Workbook() {
    if (db_) sqlite3_close(db_);
    if (handle_) freexl_close(handle_);
    if (!copy_.empty()) {
        std::error_code ec;
        fs::remove(copy_, ec);
    }
}

int Workbook::findSheet(std::string_view name) const {
    for (size_t i = 0; i < sheets_.size(); ++i)
        if (equalsNoCase(sheets_[i].name, name)) return int(i);
    return -1;
}

void Workbook::select(int sheet) {
    if (active_ == sheet) return;
    if (freexl_select_active_worksheet(handle_, static_cast<unsigned short>(sheet)) != FREEXL_OK)
        fail("Worksheet '" + sheets_[size_t(sheet)].name + "' of '" + path_ + "' cannot be read.");
    active_ = sheet;
}

Workbook::Raw Workbook::rawCell(uint32_t sheetRow, uint16_t col) {
    FreeXL_CellValue v;
    Raw r;
    if (freexl_get_cell_value(handle_, sheetRow, col, &v) != FREEXL_OK) return r;
    switch (v.type) {
        case FREEXL_CELL_INT:
            r.type = Raw::Int;
            r.i = v.value.int_value;
            break;
        case FREEXL_CELL_DOUBLE:
            r.type = Raw::Double;
            r.d = v.value.double_value;
            break;
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
            r.type = Raw::Text;
            r.s = v.value.text_value;
            break;
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_TIME:
            r.type = Raw::Date;
            r.s = v.value.text_value;
            break;
        case FREEXL_CELL_DATETIME:
            r.type = Raw::Date;
            scratch_ = isoDateTime(v.value.text_value);
            r.s = scratch_.c_str();
            r.owned = true;
            break;
        default:
            break;
    }
    return r;
}

const Workbook::Sheet& Workbook::sheet(int index) {
    Sheet& sh = sheets_[size_t(index)];
    if (sh.analysed) return sh;
    select(index);
    unsigned int rows = 0;
    unsigned short cols = 0;
    if (freexl_worksheet_dimensions(handle_, &rows, &cols) != FREEXL_OK) rows = cols = 0;

    sh.columns.clear();
    for (unsigned short c = 0; c < cols; ++c) {
        std::string name;
        if (rows > 0) {
            Raw h = rawCell(0, c);
            if (h.type == Raw::Int)
                name = std::to_string(h.i);
            else if (h.type == Raw::Double)
                name = formatNumber(h.d);
            else if (h.s)
                name = h.s;
        }
        if (name.empty()) name = "F" + std::to_string(c + 1);
        // A repeated header gets the first free numeric suffix, deterministically.
        auto taken = [&](const std::string& n) {
            for (auto& existing : sh.columns)
                if (equalsNoCase(existing, n)) return true;
            return false;
        };
        if (taken(name)) {
            int k = 1;
            while (taken(name + std::to_string(k))) ++k;
            name += std::to_string(k);
        }
        sh.columns.push_back(std::move(name));
    }

    // The mixed-type rule looks at every row, so no value is lost past the first few.
    std::vector<uint8_t> seen(cols, 0);  // bit 1 number, 2 text, 4 date
    uint32_t lastNonEmpty = 0;
    for (unsigned int r = 1; r < rows; ++r) {
        for (unsigned short c = 0; c < cols; ++c) {
            FreeXL_CellValue v;
            if (freexl_get_cell_value(handle_, r, c, &v) != FREEXL_OK) continue;
            switch (v.type) {
                case FREEXL_CELL_INT:
                case FREEXL_CELL_DOUBLE:
                    seen[c] |= 1;
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                    seen[c] |= 2;
                    break;
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME:
                    seen[c] |= 4;
                    break;
                default:
                    continue;
            }
            lastNonEmpty = r;
        }
    }
    sh.kinds.resize(cols);
    for (unsigned short c = 0; c < cols; ++c) {
        switch (seen[c]) {
            case 0:
                sh.kinds[c] = ColumnKind::Empty;
                break;
            case 1:
                sh.kinds[c] = ColumnKind::Number;
                break;
            case 2:
                sh.kinds[c] = ColumnKind::Text;
                break;
            case 4:
                sh.kinds[c] = ColumnKind::Date;
                break;
            default:
                sh.kinds[c] = ColumnKind::Mixed;
                break;
        }
    }
    // Trailing rows with nothing in them (formatting only) are not data.
    sh.dataRows = lastNonEmpty;
    sh.analysed = true;
    return sh;
}

Workbook::Raw Workbook::raw(int sheetIndex, uint32_t row, uint16_t col) {
    // Called once per cell read: the sheet's analysis is looked up only when missing.
    const Sheet& sh =
        sheets_[size_t(sheetIndex)].analysed ? sheets_[size_t(sheetIndex)] : sheet(sheetIndex);
    select(sheetIndex);
    Raw r = rawCell(row + 1, col);
    if (sh.kinds[col] != ColumnKind::Mixed || r.type == Raw::Null || r.type == Raw::Text) return r;
    if (r.type == Raw::Date) {
        r.type = Raw::Text;
        return r;
    }
    scratch_ = r.type == Raw::Int ? std::to_string(r.i) : formatNumber(r.d);
    r.type = Raw::Text;
    r.s = scratch_.c_str();
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
            return Value::text(r.s ? r.s : "");
        case Raw::Date:
            return Value::date(r.s ? r.s : "");
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

#include "source/worksheet.h"

#include <sqlite3.h>

#include <cstring>
#include <memory>

#include "core/errors.h"
#include "core/tables.h"
#include "core/text.h"

namespace kordb {

namespace {

// ---- virtual table over one worksheet ------------------------------------------------------

struct SheetTable {
    sqlite3_vtab base{};
    Workbook* book = nullptr;
    int sheet = 0;
    int columns = 0;
};

struct SheetCursor {
    sqlite3_vtab_cursor base{};
    uint32_t row = 0;
    uint32_t rows = 0;
};

std::string quoteIdent(const std::string& name) {
    std::string r = "\"";
    for (char c : name) {
        if (c == '"') r += '"';
        r += c;
    }
    return r + "\"";
}

std::string columnLetters(size_t col) {
    std::string a = cellName(0, col);
    return a.substr(0, a.size() - 1);  // without the row number "1"
}

int sheetConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
                 char** err) {
    if (argc < 4) {
        *err = sqlite3_mprintf("worksheet index missing");
        return SQLITE_ERROR;
    }
    auto* book = static_cast<Workbook*>(aux);
    int index = std::atoi(argv[3]);
    const Workbook::Sheet* sh = nullptr;
    try {
        sh = &book->sheet(index);
    } catch (const std::exception& e) {
        *err = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    }
    // The engine's own limit on a table's columns (2000 as built for Debian).
    const size_t maxColumns = size_t(sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1));
    if (sh->columns.size() > maxColumns) {
        *err = sqlite3_mprintf(
            "it has %d columns, more than the %d the tool reads: its last column holding a "
            "cell is %s",
            int(sh->columns.size()), int(maxColumns),
            columnLetters(sh->columns.size() - 1).c_str());
        return SQLITE_ERROR;
    }
    std::string ddl = "CREATE TABLE x(";
    for (size_t c = 0; c < sh->columns.size(); ++c) {
        if (c) ddl += ", ";
        ddl += quoteIdent(sh->columns[c]);
        // Number columns compare with quoted codes as numbers ('1001' finds 1001), as the
        // workbook driver converted criteria to the column's type.
        if (sh->kinds[c] == Workbook::ColumnKind::Date) ddl += " DATE";
        if (sh->kinds[c] == Workbook::ColumnKind::Number) ddl += " NUMERIC";
        ddl += " COLLATE XLCASE";
    }
    if (sh->columns.empty()) ddl += "F1 COLLATE XLCASE";
    ddl += ")";
    int rc = sqlite3_declare_vtab(db, ddl.c_str());
    if (rc != SQLITE_OK) return rc;
    auto* t = new SheetTable;
    t->book = book;
    t->sheet = index;
    t->columns = int(sh->columns.size());
    *out = &t->base;
    return SQLITE_OK;
}

int sheetBestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
    info->estimatedCost = 1e6;
    return SQLITE_OK;
}

int sheetDisconnect(sqlite3_vtab* v) {
    delete reinterpret_cast<SheetTable*>(v);
    return SQLITE_OK;
}

int sheetOpen(sqlite3_vtab* v, sqlite3_vtab_cursor** out) {
    auto* t = reinterpret_cast<SheetTable*>(v);
    auto c = std::make_unique<SheetCursor>();
    try {
        c->rows = t->book->sheet(t->sheet).dataRows;
    } catch (const std::exception& e) {
        sqlite3_free(v->zErrMsg);
        v->zErrMsg = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    }
    *out = &c.release()->base;
    return SQLITE_OK;
}

int sheetClose(sqlite3_vtab_cursor* c) {
    delete reinterpret_cast<SheetCursor*>(c);
    return SQLITE_OK;
}

int sheetFilter(sqlite3_vtab_cursor* c, int, const char*, int, sqlite3_value**) {
    reinterpret_cast<SheetCursor*>(c)->row = 0;
    return SQLITE_OK;
}

int sheetNext(sqlite3_vtab_cursor* c) {
    ++reinterpret_cast<SheetCursor*>(c)->row;
    return SQLITE_OK;
}

int sheetEof(sqlite3_vtab_cursor* c) {
    auto* cur = reinterpret_cast<SheetCursor*>(c);
    return cur->row >= cur->rows;
}

int sheetColumn(sqlite3_vtab_cursor* c, sqlite3_context* ctx, int col) {
    auto* cur = reinterpret_cast<SheetCursor*>(c);
    auto* t = reinterpret_cast<SheetTable*>(c->pVtab);
    if (col >= t->columns) {
        sqlite3_result_null(ctx);
        return SQLITE_OK;
    }
    Workbook::Raw r;
    try {
        r = t->book->raw(t->sheet, cur->row, static_cast<uint16_t>(col));
    } catch (const std::exception& e) {
        // Nothing may unwind through the engine's C frames.
        sqlite3_result_error(ctx, e.what(), -1);
        return SQLITE_OK;
    }
    switch (r.type) {
        case Workbook::Raw::Null:
            sqlite3_result_null(ctx);
            break;
        case Workbook::Raw::Int:
            sqlite3_result_int64(ctx, r.i);
            break;
        case Workbook::Raw::Double:
            sqlite3_result_double(ctx, r.d);
            break;
        case Workbook::Raw::Text:
        case Workbook::Raw::Date:
            // Texts are stored with their terminator; a length of -1 tells the engine so, and
            // spares it a copy of every text it hands on. A text holding a NUL keeps its length.
            sqlite3_result_text(ctx, r.s ? r.s : "",
                                r.s && std::memchr(r.s, 0, r.n) ? int(r.n) : -1,
                                r.owned ? SQLITE_TRANSIENT : SQLITE_STATIC);
            break;
    }
    return SQLITE_OK;
}

int sheetRowid(sqlite3_vtab_cursor* c, sqlite3_int64* out) {
    *out = reinterpret_cast<SheetCursor*>(c)->row;
    return SQLITE_OK;
}

sqlite3_module sheetModule = [] {
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = sheetConnect;
    m.xConnect = sheetConnect;
    m.xBestIndex = sheetBestIndex;
    m.xDisconnect = sheetDisconnect;
    m.xDestroy = sheetDisconnect;
    m.xOpen = sheetOpen;
    m.xClose = sheetClose;
    m.xFilter = sheetFilter;
    m.xNext = sheetNext;
    m.xEof = sheetEof;
    m.xColumn = sheetColumn;
    m.xRowid = sheetRowid;
    return m;
}();

// Text compared and grouped without regard to letter case, as the workbook driver did.
int xlcaseCompare(void*, int n1, const void* a, int n2, const void* b) {
    return compareNoCase(std::string_view(static_cast<const char*>(a), size_t(n1)),
                         std::string_view(static_cast<const char*>(b), size_t(n2)));
}

// Replaces every "[name$]" outside string literals by the virtual table of that worksheet.
}  // namespace

int resolveSheet(const Workbook& book, const std::string& name, const std::string& picked) {
    if (!picked.empty() && equalsNoCase(trimUpper(picked), name)) {
        for (int i = 0; i < book.sheetCount(); ++i)
            if (book.sheetName(i) == picked) return i;
    }
    int index = book.findSheet(name);
    if (index >= 0) return index;
    for (int i = 0; i < book.sheetCount(); ++i) {
        if (!equalsNoCase(trimBlanks(book.sheetName(i)), trimBlanks(name))) continue;
        if (index >= 0) return -1;
        index = i;
    }
    return index;
}

namespace {

// Where "$]" closes a reference opening at from when one of the book's sheet names (as named,
// or trimmed as the procedures use it) stands there; npos when none does.
size_t namedSheetEnd(const Workbook& book, const std::string& picked, const std::string& sql,
                     size_t from) {
    size_t best = std::string::npos, bestLength = 0;
    auto consider = [&](const std::string& name) {
        if (name.empty() || name.size() <= bestLength || from + name.size() + 2 > sql.size())
            return;
        if (sql.compare(from + name.size(), 2, "$]") != 0) return;
        if (!equalsNoCase(std::string_view(sql).substr(from, name.size()), name)) return;
        best = from + name.size() + 1;
        bestLength = name.size();
    };
    for (int s = 0; s < book.sheetCount(); ++s) {
        consider(book.sheetName(s));
        consider(trimBlanks(book.sheetName(s)));
    }
    consider(trimBlanks(picked));
    return best;
}

std::string resolveSheets(sqlite3* db, const Workbook& book, const std::string& sql,
                          const std::string& picked, std::string& label) {
    std::string out;
    out.reserve(sql.size());
    for (size_t i = 0; i < sql.size(); ++i) {
        char ch = sql[i];
        if (ch == '\'') {
            size_t j = i + 1;
            while (j < sql.size()) {
                if (sql[j] == '\'') {
                    if (j + 1 < sql.size() && sql[j + 1] == '\'') {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out.append(sql, i, j - i + 1);
            i = j;
            continue;
        }
        if (ch != '[') {
            out += ch;
            continue;
        }
        // A sheet's name may itself hold "]": the reference ends after the longest sheet name
        // that stands there, else at the first "]".
        size_t close = namedSheetEnd(book, picked, sql, i + 1);
        if (close == std::string::npos) close = sql.find(']', i + 1);
        if (close == std::string::npos) {
            out.append(sql, i, std::string::npos);
            break;
        }
        std::string inner = sql.substr(i + 1, close - i - 1);
        if (inner.empty() || inner.back() != '$') {
            out.append(sql, i, close - i + 1);
            i = close;
            continue;
        }
        std::string name = inner.substr(0, inner.size() - 1);
        int index = resolveSheet(book, name, picked);
        if (index < 0)
            throw KorError(errnum::kTableNotFound,
                           "Worksheet '" + name + "' not found in workbook '" + book.path() + "'.");
        label = book.sheetName(index);
        std::string table = "xl" + std::to_string(index);
        std::string ddl = "CREATE VIRTUAL TABLE IF NOT EXISTS temp." + table + " USING xlsheet(" +
                          std::to_string(index) + ")";
        char* err = nullptr;
        if (sqlite3_exec(db, ddl.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : "unknown fault";
            sqlite3_free(err);
            // The reader's own message names the sheet and the workbook already.
            if (msg.rfind("Worksheet '", 0) == 0) throw KorError(errnum::kUnspecified, msg);
            throw KorError(errnum::kUnspecified, "Worksheet '" + name + "' cannot be read: " + msg);
        }
        out += "temp." + table;
        i = close;
    }
    return out;
}

// s without the blanks of any kind around it: spaces, tabs, line breaks, no-break spaces.
std::string_view withoutBlanksAround(std::string_view s) {
    for (bool cut = true; cut;) {
        cut = false;
        for (std::string_view b : {" ", "\t", "\r", "\n", "\xC2\xA0"}) {
            if (s.starts_with(b)) {
                s.remove_prefix(b.size());
                cut = true;
            }
            if (s.ends_with(b)) {
                s.remove_suffix(b.size());
                cut = true;
            }
        }
    }
    return s;
}

// The message for a column the header row lacks; naming the header that differs from it only
// by blanks around it, which the eye does not see in the spreadsheet.
std::string columnNotFound(std::string_view name, const std::string& sheet,
                           const std::vector<std::string>& header) {
    std::string text = "Column '" + std::string(name) +
                       "' not found in the header row of worksheet '" + sheet + "'";
    for (const std::string& h : header)
        if (h != name && equalsNoCase(withoutBlanksAround(h), name))
            return text + ": its header '" + h + "' has blanks around the name.";
    return text + ".";
}

[[noreturn]] void failStatement(const std::string& msg, const std::string& sql,
                                const std::string& sheet, const std::vector<std::string>& header) {
    const std::string noColumn = "no such column: ";
    if (msg.rfind(noColumn, 0) == 0)
        throw KorError(errnum::kColumnMissing,
                       columnNotFound(msg.substr(noColumn.size()), sheet, header));
    throw KorError(errnum::kCommandText,
                   "Syntax error in worksheet statement (" + msg + "): " + sql);
}

}  // namespace

// The engine of one statement: an in-memory database that sees the workbook's sheets.
sqlite3* openEngine(Workbook* book) {
    sqlite3* db = nullptr;
    // One thread uses it: no per-call locking.
    if (sqlite3_open_v2(":memory:", &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw KorError(errnum::kUnspecified, "The worksheet query engine cannot be started.");
    }
    sqlite3_create_module(db, "xlsheet", &sheetModule, book);
    sqlite3_create_collation(db, "XLCASE", SQLITE_UTF8, nullptr, xlcaseCompare);
    return db;
}

SheetRecordset::SheetRecordset(std::shared_ptr<Workbook> book, const std::string& sql,
                               const std::string& pickedSheet)
    : book_(std::move(book)) {
    try {
        open(sql, pickedSheet);
    } catch (...) {
        close();  // the engine opened before the failure
        throw;
    }
}

void SheetRecordset::open(const std::string& sql, const std::string& pickedSheet) {
    db_ = openEngine(book_.get());
    std::string resolved = resolveSheets(db_, *book_, sql, pickedSheet, sheetLabel_);
    sqlite3* db = db_;
    if (sqlite3_prepare_v2(db, resolved.c_str(), int(resolved.size()), &stmt_, nullptr) !=
        SQLITE_OK) {
        std::string msg = sqlite3_errmsg(db);
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        const int index = book_->findSheet(sheetLabel_);
        failStatement(msg, sql, sheetLabel_,
                      index < 0 ? std::vector<std::string>{} : book_->sheet(index).columns);
    }
    int n = sqlite3_column_count(stmt_);
    for (int i = 0; i < n; ++i) {
        const char* name = sqlite3_column_name(stmt_, i);
        const char* decl = sqlite3_column_decltype(stmt_, i);
        names_.emplace_back(name ? name : "");
        ordinals_.emplace(toUpper(names_.back()), i);
        isDate_.push_back(decl && std::strncmp(decl, "DATE", 4) == 0);
    }
    step();
}

SheetRecordset::~SheetRecordset() {
    close();
}

void SheetRecordset::close() {
    if (stmt_) sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    eof_ = true;
}

void SheetRecordset::step() {
    if (!stmt_) {
        eof_ = true;
        return;
    }
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        eof_ = false;
        return;
    }
    eof_ = true;
    if (rc != SQLITE_DONE) {
        std::string msg = sqlite3_errmsg(db_);
        close();
        throw KorError(errnum::kUnspecified, "Worksheet '" + sheetLabel_ + "': " + msg);
    }
}

void SheetRecordset::moveNext() {
    if (eof_)
        throw KorError(errnum::kNoCurrentRow,
                       "Either BOF or EOF is True: there is no current row.");
    step();
}

Value SheetRecordset::field(int ordinal) const {
    if (eof_ || ordinal < 0 || ordinal >= fieldCount())
        throw KorError(errnum::kItemNotFound,
                       "No field number " + std::to_string(ordinal) + " in the current row.");
    switch (sqlite3_column_type(stmt_, ordinal)) {
        case SQLITE_NULL:
            return Value::null();
        case SQLITE_INTEGER:
            return Value::number(double(sqlite3_column_int64(stmt_, ordinal)));
        case SQLITE_FLOAT:
            return Value::number(sqlite3_column_double(stmt_, ordinal));
        default: {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, ordinal));
            std::string s(t ? t : "", size_t(sqlite3_column_bytes(stmt_, ordinal)));
            return isDate_[size_t(ordinal)] ? Value::date(std::move(s)) : Value::text(std::move(s));
        }
    }
}

int SheetRecordset::ordinalOf(std::string_view name) const {
    auto it = ordinals_.find(toUpper(name));
    return it == ordinals_.end() ? -1 : it->second;
}

Value SheetRecordset::field(std::string_view name) const {
    int i = ordinalOf(name);
    if (i < 0 && name.empty())
        throw KorError(errnum::kItemNotFound, table::noKeyColumnText(sheetLabel_));
    if (i < 0) throw KorError(errnum::kItemNotFound, columnNotFound(name, sheetLabel_, names_));
    return field(i);
}

std::string sheetRef(std::string_view name) {
    return "[" + std::string(name) + "$]";
}

}  // namespace kordb

// OpenDocument spreadsheets (.ods): the sheets of content.xml, their repeated rows and
// columns spread as the file asks.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "source/package_parts.h"
#include "source/sheet_values.h"

namespace kordb::package {

namespace {

// An ODF duration ("PT13H45M00S", "-P1DT2H", "PT0.5S") in days.
bool parseDuration(std::string_view s, double& days) {
    s = trimWhiteSpace(s);
    size_t at = 0;
    bool negative = false;
    if (at < s.size() && s[at] == '-') negative = true, ++at;
    if (at >= s.size() || s[at] != 'P') return false;
    ++at;
    bool inTime = false, any = false;
    double total = 0;  // seconds
    while (at < s.size()) {
        if (s[at] == 'T' && !inTime) {
            inTime = true;
            ++at;
            continue;
        }
        size_t n0 = at;
        while (at < s.size() && ((s[at] >= '0' && s[at] <= '9') || s[at] == '.')) ++at;
        double v = 0;
        if (at >= s.size() || !parseDecimal(s.substr(n0, at - n0), v)) return false;
        char unit = s[at++];
        if (!inTime && unit == 'D') {
            total += v * 86400;
        } else if (inTime && unit == 'H') {
            total += v * 3600;
        } else if (inTime && unit == 'M') {
            total += v * 60;
        } else if (inTime && unit == 'S') {
            total += v;
        } else {
            return false;
        }
        any = true;
    }
    if (!any || !std::isfinite(total)) return false;
    days = (negative ? -total : total) / 86400;
    return true;
}

struct OdsNamesHandler {
    bool wantText = false;
    std::vector<std::string> names;
    std::string body;  // what office:body holds: spreadsheet, text, ...
    bool inBody = false;
    std::string s1;

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        size_t d = sc.depth();
        if (d == 2 && e.ns == Ns::Office && is(e.local, "body")) {
            inBody = true;
        } else if (d == 3 && inBody && e.ns == Ns::Office && body.empty()) {
            body = std::string(e.local);
            if (!is(body, "spreadsheet")) sc.stop();
        } else if (d == 4 && is(body, "spreadsheet") && e.ns == Ns::Table && is(e.local, "table")) {
            countEntry(sc, names.size(), "sheets");
            std::string name(sc.value(e.find(Ns::Table, "name"), s1));
            if (name.empty()) name = "Sheet" + std::to_string(names.size() + 1);
            names.push_back(checkedText(sc, std::move(name)));
        }
    }
    void onEnd(xml::Scanner& sc, Ns, std::string_view) {
        if (sc.depth() == 3 && inBody && is(body, "spreadsheet")) sc.stop();
    }
    void onText(xml::Scanner&, std::string_view) {}
};

bool looksLikeError(std::string_view s) {
    if (errorCode(s) != 0xFF) return true;
    return s.size() == 7 && s.substr(0, 4) == "Err:" && s[4] >= '0' && s[4] <= '9' && s[5] >= '0' &&
           s[5] <= '9' && s[6] >= '0' && s[6] <= '9';
}

class OdsSheetHandler {
  public:
    bool wantText = false;
    // Blanks a sheet's text:s elements may ask for in all: a few bytes of XML can ask for
    // millions.
    static constexpr uint64_t kMaxBlanks = uint64_t(16) << 20;

    OdsSheetHandler(SheetCells& out, size_t target) : out_(out), pool_(out), target_(target) {}

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        size_t d = sc.depth();
        if (skipDepth_) return;
        if (cellDepth_) {
            inCell(sc, e, d);
        } else if (!tableDepth_) {
            if (d == 4 && e.ns == Ns::Table && is(e.local, "table") && tables_++ == target_) {
                tableDepth_ = d;
            } else if (e.ns == Ns::Table && is(e.local, "null-date")) {
                Cell day0;
                if (parseIsoDate(sc.value(e.find(Ns::Table, "date-value"), scratch_), day0) &&
                    day0.error == kCalendarDate)
                    nullDate_ = day0.number;
            }
        } else if (e.ns == Ns::Table) {
            if (is(e.local, "table-row")) {
                startRow(sc, e);
            } else if (inRow_ && (is(e.local, "table-cell") || is(e.local, "covered-table-cell"))) {
                startCell(sc, e, d);
            }
        }
    }

    void onEnd(xml::Scanner& sc, Ns ns, std::string_view local) {
        size_t d = sc.depth();
        if (skipDepth_) {
            if (d == skipDepth_) {
                skipDepth_ = 0;
                wantText = paraDepth_ != 0;
            }
        } else if (cellDepth_) {
            if (d == cellDepth_) {
                endCell(sc);
            } else if (d == paraDepth_) {
                paraDepth_ = 0;
                wantText = false;
            }
        } else if (tableDepth_) {
            if (d == tableDepth_) {
                sc.stop();
            } else if (inRow_ && ns == Ns::Table && is(local, "table-row")) {
                endRow();
            }
        }
    }

    void onText(xml::Scanner& sc, std::string_view t) {
        if (text_.size() + t.size() > kMaxText) tooLong(sc);
        text_.append(t);
    }

  private:
    enum class Type : uint8_t { None, Number, Date, Time, Boolean, String, Unknown };
    struct Stored {
        uint64_t col, repeat;
        Cell cell;
    };

    static uint64_t repeat(xml::Scanner& sc, const xml::Element& e, std::string_view name,
                           std::string& scratch) {
        const xml::Attr* a = e.find(Ns::Table, name);
        if (!a) return 1;
        uint64_t n;
        if (!parseUint(sc.value(a, scratch), n) || n == 0)
            sc.damaged("a repeat count of '" + std::string(sc.value(a, scratch)) + "'");
        // Far past any sheet's end; keeps the sums below from overflowing.
        return std::min<uint64_t>(n, uint64_t(1) << 32);
    }

    [[noreturn]] void tooLong(xml::Scanner& sc) {
        sc.damaged("the cell " + cellName(row_, col_) + " holds more than " +
                   std::to_string(kMaxText >> 20) + " MiB of text");
    }

    void startRow(xml::Scanner& sc, const xml::Element& e) {
        inRow_ = true;
        rowRepeat_ = repeat(sc, e, "number-rows-repeated", scratch_);
        col_ = 0;
        stored_.clear();
    }

    void endRow() {
        inRow_ = false;
        if (!stored_.empty()) {
            // Values repeated past the sheet's edge: refused before millions are spread.
            if (row_ + rowRepeat_ > SheetCells::kMaxRows ||
                stored_.back().col + stored_.back().repeat > SheetCells::kMaxColumns)
                throw ReadError("a cell lies beyond the last row or column a worksheet can have");
            uint64_t last = std::min<uint64_t>(row_ + rowRepeat_, SheetCells::kMaxRows + 1);
            for (uint64_t r = row_; r < last; ++r)
                for (const Stored& s : stored_) {
                    uint64_t end =
                        std::min<uint64_t>(s.col + s.repeat, SheetCells::kMaxColumns + 1);
                    for (uint64_t c = s.col; c < end; ++c)
                        out_.add(uint32_t(r), uint32_t(c), s.cell);
                }
        }
        row_ += rowRepeat_;
    }

    void startCell(xml::Scanner& sc, const xml::Element& e, size_t d) {
        cellDepth_ = d;
        colRepeat_ = repeat(sc, e, "number-columns-repeated", scratch_);
        text_.clear();
        paragraphs_ = 0;
        type_ = Type::None;
        hasValue_ = hasString_ = error_ = formula_ = false;
        std::string_view type = sc.value(e.find(Ns::Office, "value-type"), typeScratch_);
        if (type.empty()) return;
        formula_ = e.find(Ns::Table, "formula") != nullptr;
        error_ = sc.value(e.find(Ns::CalcExt, "value-type"), scratch_) == "error";
        if (const xml::Attr* s = e.find(Ns::Office, "string-value")) {
            hasString_ = true;
            string_ = sc.value(s, scratch_);
        }
        const char* what = nullptr;
        if (is(type, "float") || is(type, "percentage") || is(type, "currency")) {
            type_ = Type::Number;
            if (const xml::Attr* v = e.find(Ns::Office, "value")) {
                hasValue_ = parseDecimal(sc.value(v, scratch_), number_);
                what = "a number";
            }
        } else if (is(type, "date")) {
            type_ = Type::Date;
            Cell date;
            if (const xml::Attr* v = e.find(Ns::Office, "date-value")) {
                hasValue_ = parseIsoDate(sc.value(v, scratch_), date);
                number_ = date.number;
                form_ = date.error;
                what = "a date";
            } else if (const xml::Attr* n = e.find(Ns::Office, "value")) {
                // A date as a number counts days from the document's null date.
                hasValue_ = parseDecimal(sc.value(n, scratch_), number_);
                number_ += nullDate_;
                form_ = kCalendarDate;
                what = "a date";
            }
        } else if (is(type, "time")) {
            type_ = Type::Time;
            form_ = kSerialTime;
            if (const xml::Attr* v = e.find(Ns::Office, "time-value")) {
                hasValue_ = parseDuration(sc.value(v, scratch_), number_);
                what = "a time";
            }
        } else if (is(type, "boolean")) {
            type_ = Type::Boolean;
            if (const xml::Attr* v = e.find(Ns::Office, "boolean-value")) {
                std::string_view b = trimWhiteSpace(sc.value(v, scratch_));
                hasValue_ = b == "true" || b == "false" || b == "1" || b == "0";
                number_ = b == "true" || b == "1";
                what = "true or false";
            }
        } else if (is(type, "string")) {
            type_ = Type::String;
        } else {
            type_ = Type::Unknown;
        }
        if (what && !hasValue_)
            sc.damaged("the cell " + cellName(row_, col_) + " holds a value where " + what +
                       " belongs");
    }

    void inCell(xml::Scanner& sc, const xml::Element& e, size_t d) {
        if (e.ns == Ns::Draw || (e.ns == Ns::Office && is(e.local, "annotation"))) {
            skipDepth_ = d;  // a comment or a drawing: not the cell's text
            wantText = false;
            return;
        }
        if (e.ns != Ns::Text) return;
        if (!paraDepth_) {
            if (d == cellDepth_ + 1 && (is(e.local, "p") || is(e.local, "h"))) {
                if (paragraphs_++) text_ += '\n';
                paraDepth_ = d;
                wantText = true;
            }
            return;
        }
        if (is(e.local, "s")) {
            uint64_t n = 1;
            if (const xml::Attr* c = e.find(Ns::Text, "c"))
                if (!parseUint(sc.value(c, scratch_), n)) n = 1;
            if (n > kMaxText - text_.size()) tooLong(sc);
            blanks_ += n;
            if (blanks_ > kMaxBlanks)
                sc.damaged("the sheet asks for more than " + std::to_string(kMaxBlanks >> 20) +
                           " MiB of repeated blanks");
            text_.append(size_t(n), ' ');
        } else if (is(e.local, "tab")) {
            text_ += '\t';
        } else if (is(e.local, "line-break")) {
            text_ += '\n';
        } else if (is(e.local, "note") || is(e.local, "ruby-text")) {
            skipDepth_ = d;
            wantText = false;
        }
        if (text_.size() > kMaxText) tooLong(sc);
    }

    void endCell(xml::Scanner& sc) {
        cellDepth_ = paraDepth_ = 0;
        wantText = false;
        uint64_t col = col_;
        col_ += colRepeat_;
        Cell cell;
        if (error_) {
            // LibreOffice names the error in the text and leaves the string value empty.
            cell.type = Cell::Type::Error;
            cell.error = errorCode(string_) != 0xFF ? errorCode(string_) : errorCode(text_);
            stored_.push_back({col, colRepeat_, cell});
            return;
        }
        switch (type_) {
            case Type::None:
            case Type::Unknown:
                if (text_.empty()) return;
                [[fallthrough]];
            case Type::String: {
                std::string& s = hasString_ ? string_ : text_;
                if (formula_ && looksLikeError(s)) {
                    cell.type = Cell::Type::Error;
                    cell.error = errorCode(s);
                    break;
                }
                cell.type = Cell::Type::Text;
                cell.text = pool_.intern(sc, s);
                break;
            }
            case Type::Number:
            case Type::Date:
            case Type::Time:
            case Type::Boolean:
                if (!hasValue_) {
                    // No value attribute: the text is all the cell has.
                    if (text_.empty()) return;
                    cell.type = Cell::Type::Text;
                    cell.text = pool_.intern(sc, text_);
                    break;
                }
                cell.type = type_ == Type::Number    ? Cell::Type::Number
                            : type_ == Type::Boolean ? Cell::Type::Boolean
                                                     : Cell::Type::Date;
                cell.number = number_;
                if (cell.type == Cell::Type::Date) cell.error = form_;
                break;
        }
        stored_.push_back({col, colRepeat_, cell});
    }

    SheetCells& out_;
    StringPool pool_;
    size_t target_;
    size_t tables_ = 0;
    size_t tableDepth_ = 0, cellDepth_ = 0, paraDepth_ = 0, skipDepth_ = 0;
    bool inRow_ = false;
    uint64_t row_ = 0, rowRepeat_ = 1, col_ = 0, colRepeat_ = 1;
    std::vector<Stored> stored_;  // the non-empty cells of the row being read
    Type type_ = Type::None;
    bool hasValue_ = false, hasString_ = false, error_ = false, formula_ = false;
    double number_ = 0;
    uint8_t form_ = kCalendarDate;  // a date's or time's DateForm
    double nullDate_ = 0;           // table:null-date as a kCalendarDate day; 1899-12-30 unless set
    int paragraphs_ = 0;
    uint64_t blanks_ = 0;
    std::string text_, string_, scratch_, typeScratch_;
};

class OdsReader : public WorkbookReader {
  public:
    explicit OdsReader(std::unique_ptr<ZipPackage> zip) : zip_(std::move(zip)) {
        int64_t manifest = zip_->find("META-INF/manifest.xml");
        if (manifest >= 0 &&
            zip_->read(manifest, size_t(16) << 20).find("encryption-data") != std::string::npos)
            throw ReadError(
                "it is protected by a password, which is not supported: save it without one");
        content_ = zip_->find("content.xml");
        if (content_ < 0) throw ReadError("it is damaged: its part content.xml is missing");
        OdsNamesHandler h;
        scanPart(*zip_, content_, h);
        if (!is(h.body, "spreadsheet")) {
            if (h.body.empty()) throw ReadError(kNoWorkbook);
            throw ReadError(describeOdf(is(h.body, "drawing") ? "graphics" : h.body));
        }
        names_ = std::move(h.names);
    }

    const std::vector<std::string>& sheetNames() const override { return names_; }

    void readSheet(size_t index, SheetCells& out) override {
        if (index >= names_.size()) throw std::out_of_range("no such sheet");
        out.limitBytes(sheetBudget);
        OdsSheetHandler h(out, index);
        scanPart(*zip_, content_, h);
        out.finish();
    }

  private:
    std::unique_ptr<ZipPackage> zip_;
    int64_t content_ = -1;
    std::vector<std::string> names_;
};

}  // namespace

std::string describeOdf(std::string_view kind) {
    kind = kind.substr(0, kind.find('-'));
    if (is(kind, "graphics")) kind = "drawing";
    if (is(kind, "base")) kind = "database";
    return "it is not a workbook: it looks like " +
           std::string(kind.empty() ||
                               std::string_view("aeiou").find(kind[0]) == std::string_view::npos
                           ? "a "
                           : "an ") +
           std::string(kind) + " document";
}

std::unique_ptr<WorkbookReader> openOds(std::unique_ptr<ZipPackage> zip) {
    return std::make_unique<OdsReader>(std::move(zip));
}

}  // namespace kordb::package

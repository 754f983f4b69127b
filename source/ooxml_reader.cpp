// Office Open XML workbooks (.xlsx, .xlsm): the workbook part, its styles and shared
// strings, and the worksheets, streamed cell by cell.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "source/package_parts.h"
#include "source/sheet_values.h"

namespace kordb::package {

namespace {

// "AB12" -> zero-based column 27, row 11.
bool parseCellRef(std::string_view s, uint32_t& row, uint32_t& col) {
    size_t i = 0;
    uint32_t c = 0;
    while (i < s.size() && i < 4 && ((s[i] | 0x20) >= 'a' && (s[i] | 0x20) <= 'z'))
        c = c * 26 + uint32_t((s[i++] | 0x20) - 'a' + 1);
    if (i == 0 || i == s.size()) return false;
    uint32_t r = 0;
    size_t digits = 0;
    for (; i < s.size(); ++i, ++digits) {
        if (s[i] < '0' || s[i] > '9' || digits == 8) return false;
        r = r * 10 + uint32_t(s[i] - '0');
    }
    if (r == 0) return false;
    row = r - 1;
    col = c - 1;
    return true;
}

struct SharedStrings {
    static constexpr size_t kMax = size_t(1) << 26;
    std::string text;
    std::vector<uint32_t> ends;
    size_t size() const { return ends.size(); }
    std::string_view at(size_t i) const {
        uint32_t begin = i ? ends[i - 1] : 0;
        return std::string_view(text).substr(begin, ends[i] - begin);
    }
};

// <si> holds <t>, or runs <r><t>; the <t> of a phonetic run <rPh> is not part of the text.
// An inline string <is> is built the same way.
struct RichText {
    size_t depth = 0;  // of the <si> or <is>
    bool inRun = false;

    // Whether an element starting at depth d opens text to keep.
    bool start(std::string_view local, size_t d) {
        if (d == depth + 1) {
            inRun = is(local, "r");
            return is(local, "t");
        }
        return d == depth + 2 && inRun && is(local, "t");
    }
};

struct SharedStringsHandler {
    bool wantText = false;
    SharedStrings& out;
    RichText rich;
    bool inItem = false;
    size_t budget;
    std::string cur, scratch;

    SharedStringsHandler(SharedStrings& o, size_t b) : out(o), budget(b) {}

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        size_t d = sc.depth();
        if (d == 1 && e.ns == Ns::Sml && is(e.local, "sst")) {
            uint64_t n;
            if (parseUint(sc.value(e.find(Ns::None, "uniqueCount"), scratch), n))
                out.ends.reserve(size_t(std::min<uint64_t>(n, uint64_t(1) << 20)));
        } else if (d == 2 && e.ns == Ns::Sml && is(e.local, "si")) {
            inItem = true;
            rich = RichText{d};
            cur.clear();
        } else if (inItem && e.ns == Ns::Sml) {
            wantText = rich.start(e.local, d);
        }
    }
    void onEnd(xml::Scanner& sc, Ns, std::string_view) {
        wantText = false;
        if (!inItem || sc.depth() != 2) return;
        inItem = false;
        decodeEscapes(cur);
        if (!xml::validUtf8(cur)) sc.damaged("a shared string that is not valid UTF-8");
        if (out.ends.size() >= SharedStrings::kMax)
            sc.damaged("more than " + std::to_string(SharedStrings::kMax) + " shared strings");
        out.text += cur;
        out.ends.push_back(uint32_t(out.text.size()));
    }
    void onText(xml::Scanner& sc, std::string_view t) {
        if (cur.size() + t.size() > kMaxText)
            sc.damaged("a shared string longer than " + std::to_string(kMaxText >> 20) + " MiB");
        if (out.text.size() + cur.size() + t.size() > budget)
            throw ReadError("its shared texts would take more than " +
                            std::to_string(budget >> 20) +
                            " MB of memory, far more than a file of its size holds");
        cur.append(t);
    }
};

struct StylesHandler {
    bool wantText = false;
    std::unordered_map<uint64_t, FormatShows> custom;  // numFmtId -> what it shows
    std::vector<FormatShows> xfShows;
    int section = 0;  // 1 numFmts, 2 cellXfs
    std::string s1, s2;

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        if (e.ns != Ns::Sml) return;
        size_t d = sc.depth();
        if (d == 2) {
            section = is(e.local, "numFmts") ? 1 : is(e.local, "cellXfs") ? 2 : 0;
        } else if (d == 3 && section == 1 && is(e.local, "numFmt")) {
            uint64_t id;
            countEntry(sc, custom.size(), "number formats");
            if (parseUint(sc.value(e.find(Ns::None, "numFmtId"), s1), id))
                custom[id] = numberFormatShows(sc.value(e.find(Ns::None, "formatCode"), s2));
        } else if (d == 3 && section == 2 && is(e.local, "xf")) {
            uint64_t id = 0;
            parseUint(sc.value(e.find(Ns::None, "numFmtId"), s1), id);
            auto it = custom.find(id);
            xfShows.push_back(it != custom.end() ? it->second : builtinFormatShows(id));
        }
    }
    void onEnd(xml::Scanner& sc, Ns, std::string_view) {
        if (sc.depth() == 2) section = 0;
    }
    void onText(xml::Scanner&, std::string_view) {}
};

struct WorkbookHandler {
    bool wantText = false;
    struct Sheet {
        std::string name, rid;
    };
    std::vector<Sheet> sheets;
    bool date1904 = false;
    bool known = false;  // the root element is a SpreadsheetML workbook
    std::string s1, s2;

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        if (e.ns != Ns::Sml) return;
        size_t d = sc.depth();
        if (d == 1) {
            known = is(e.local, "workbook");
        } else if (d == 2 && is(e.local, "workbookPr")) {
            std::string_view v = sc.value(e.find(Ns::None, "date1904"), s1);
            date1904 = is(v, "1") || is(v, "true");
        } else if (d == 3 && is(e.local, "sheet")) {
            countEntry(sc, sheets.size(), "sheets");
            std::string name(sc.value(e.find(Ns::None, "name"), s1));
            if (name.empty()) name = "Sheet" + std::to_string(sheets.size() + 1);
            sheets.push_back({checkedText(sc, std::move(name)),
                              std::string(sc.value(e.find(Ns::Rel, "id"), s2))});
        }
    }
    void onEnd(xml::Scanner& sc, Ns ns, std::string_view local) {
        if (sc.depth() == 2 && ns == Ns::Sml && is(local, "sheets")) sc.stop();
    }
    void onText(xml::Scanner&, std::string_view) {}
};

class SheetHandler {
  public:
    bool wantText = false;

    SheetHandler(SheetCells& out, const SharedStrings& sst, const std::vector<FormatShows>& xfShows)
        : out_(out), pool_(out), sst_(sst), xfShows_(xfShows) {
        sstIndex_.assign(sst.size(), kUnmapped);
    }

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        if (e.ns != Ns::Sml) return;
        size_t d = sc.depth();
        if (cellDepth_) {
            if (d == cellDepth_ + 1) {
                if (is(e.local, "v")) {
                    hasValue_ = wantText = true;
                    collect_ = &value_;
                    value_.clear();
                } else if (is(e.local, "is")) {
                    hasInline_ = true;
                    rich_ = RichText{d};
                    inline_.clear();
                }
            } else if (hasInline_ && d > cellDepth_ + 1) {
                wantText = rich_.start(e.local, d);
                collect_ = &inline_;
            }
        } else if (rowDepth_) {
            if (is(e.local, "c") && d == rowDepth_ + 1) startCell(sc, e, d);
        } else if (inData_) {
            if (is(e.local, "row") && d == 3) startRow(sc, e, d);
        } else if (d == 2 && is(e.local, "sheetData")) {
            inData_ = true;
        }
    }

    void onEnd(xml::Scanner& sc, Ns ns, std::string_view local) {
        size_t d = sc.depth();
        if (cellDepth_) {
            wantText = false;
            if (d == cellDepth_) endCell(sc);
        } else if (rowDepth_) {
            if (d == rowDepth_) rowDepth_ = 0;
        } else if (inData_ && ns == Ns::Sml && is(local, "sheetData")) {
            sc.stop();  // nothing after the cells is needed
        }
    }

    void onText(xml::Scanner& sc, std::string_view t) {
        if (collect_->size() + t.size() > kMaxText)
            sc.damaged("the cell " + cellName(cellRow_, cellCol_) + " holds more than " +
                       std::to_string(kMaxText >> 20) + " MiB of text");
        collect_->append(t);
    }

  private:
    static constexpr uint32_t kUnmapped = std::numeric_limits<uint32_t>::max();
    enum class Kind : uint8_t { Number, Shared, Boolean, Error, Formula, Inline, Date };

    void startRow(xml::Scanner& sc, const xml::Element& e, size_t d) {
        rowDepth_ = d;
        const xml::Attr* r = e.find(Ns::None, "r");
        uint64_t n;
        if (r) {
            if (!parseUint(sc.value(r, scratch_), n) || n > SheetCells::kMaxRows)
                sc.damaged("a row numbered '" + std::string(sc.value(r, scratch_)) + "'");
            // Some writers number every row 0: each is the row after the one before.
            row_ = n == 0 ? nextRow_ : uint32_t(n - 1);
        } else {
            row_ = nextRow_;
        }
        nextRow_ = row_ + 1;
        nextCol_ = 0;
    }

    void startCell(xml::Scanner& sc, const xml::Element& e, size_t d) {
        cellDepth_ = d;
        kind_ = Kind::Number;
        style_ = 0;
        hasValue_ = hasInline_ = false;
        bool placed = false;
        for (size_t i = 0; i < e.attrCount; ++i) {
            const xml::Attr& a = e.attrs[i];
            if (a.ns != Ns::None || a.local.size() != 1) continue;
            std::string_view v = sc.value(&a, scratch_);
            switch (a.local[0]) {
                case 'r':
                    if (!parseCellRef(v, cellRow_, cellCol_))
                        sc.damaged("the cell reference '" + std::string(v) + "'");
                    placed = true;
                    break;
                case 's': {
                    // Some writers leave the attribute empty: the default style.
                    uint64_t s = 0;
                    if (!trimWhiteSpace(v).empty() && !parseUint(v, s))
                        sc.damaged("the style '" + std::string(v) + "'");
                    style_ = s;
                    break;
                }
                case 't':
                    if (is(v, "s")) {
                        kind_ = Kind::Shared;
                    } else if (is(v, "n")) {
                        kind_ = Kind::Number;
                    } else if (is(v, "str")) {
                        kind_ = Kind::Formula;
                    } else if (is(v, "inlineStr")) {
                        kind_ = Kind::Inline;
                    } else if (is(v, "b")) {
                        kind_ = Kind::Boolean;
                    } else if (is(v, "e")) {
                        kind_ = Kind::Error;
                    } else if (is(v, "d")) {
                        kind_ = Kind::Date;
                    } else {
                        sc.damaged("the cell type '" + std::string(v) + "'");
                    }
                    break;
            }
        }
        if (!placed) {
            cellRow_ = row_;
            cellCol_ = nextCol_;
        }
        nextCol_ = cellCol_ + 1;
    }

    void endCell(xml::Scanner& sc) {
        cellDepth_ = 0;
        Cell cell;
        std::string_view v = value_;
        if (!hasValue_) v = {};
        switch (kind_) {
            case Kind::Number:
                if (trimWhiteSpace(v).empty()) return;
                if (!parseDecimal(v, cell.number)) badValue(sc, "a number");
                if (FormatShows shows =
                        style_ < xfShows_.size() ? xfShows_[style_] : FormatShows::Number;
                    shows != FormatShows::Number) {
                    cell.type = Cell::Type::Date;
                    cell.error = shows == FormatShows::Time ? kSerialTime : kSerialDate;
                } else {
                    cell.type = Cell::Type::Number;
                }
                break;
            case Kind::Shared: {
                if (trimWhiteSpace(v).empty()) return;
                uint64_t i;
                if (!parseUint(v, i) || i >= sst_.size())
                    sc.damaged("the cell " + cellName(cellRow_, cellCol_) +
                               " refers to shared string '" + std::string(v) + "' of " +
                               std::to_string(sst_.size()));
                if (sstIndex_[i] == kUnmapped)
                    sstIndex_[i] = out_.addString(std::string(sst_.at(i)));
                cell.type = Cell::Type::Text;
                cell.text = sstIndex_[i];
                break;
            }
            case Kind::Boolean:
                v = trimWhiteSpace(v);
                if (v.empty()) return;
                if (!is(v, "0") && !is(v, "1") && !is(v, "true") && !is(v, "false"))
                    badValue(sc, "true or false");
                cell.type = Cell::Type::Boolean;
                cell.number = is(v, "1") || is(v, "true");
                break;
            case Kind::Error:
                if (trimWhiteSpace(v).empty()) return;
                cell.type = Cell::Type::Error;
                cell.error = errorCode(v);
                break;
            case Kind::Inline:
                if (hasInline_) v = inline_;
                [[fallthrough]];
            case Kind::Formula:
                if (v.find("_x") != std::string_view::npos) {
                    scratch_.assign(v);
                    decodeEscapes(scratch_);
                    v = scratch_;
                }
                cell.type = Cell::Type::Text;
                cell.text = pool_.intern(sc, v);
                break;
            case Kind::Date:
                if (trimWhiteSpace(v).empty()) return;
                if (!parseIsoDate(v, cell)) badValue(sc, "a date");
                break;
        }
        out_.add(cellRow_, cellCol_, cell);
    }

    [[noreturn]] void badValue(xml::Scanner& sc, const char* what) {
        sc.damaged("the cell " + cellName(cellRow_, cellCol_) + " holds '" +
                   std::string(value_.substr(0, 40)) + "' where " + what + " belongs");
    }

    SheetCells& out_;
    StringPool pool_;
    const SharedStrings& sst_;
    const std::vector<FormatShows>& xfShows_;
    std::vector<uint32_t> sstIndex_;  // shared string -> index in out_, once used
    bool inData_ = false;
    size_t rowDepth_ = 0;  // 0 outside a row
    uint32_t row_ = 0, nextRow_ = 0, nextCol_ = 0;
    size_t cellDepth_ = 0;  // 0 outside a cell
    uint32_t cellRow_ = 0, cellCol_ = 0;
    uint64_t style_ = 0;
    Kind kind_ = Kind::Number;
    bool hasValue_ = false, hasInline_ = false;
    RichText rich_;
    std::string value_, inline_, scratch_;
    std::string* collect_ = &value_;
};

class OoxmlReader : public WorkbookReader {
  public:
    OoxmlReader(std::unique_ptr<ZipPackage> zip, std::string main) : zip_(std::move(zip)) {
        int64_t entry = zip_->find(main);
        if (entry < 0) throw ReadError("it is damaged: its workbook part " + main + " is missing");
        std::vector<Relationship> rels = readRels(*zip_, main);
        WorkbookHandler wb;
        scanPart(*zip_, entry, wb);
        // An empty list would read as a workbook without sheets: say why there is none.
        if (!wb.known)
            throw ReadError("its workbook part " + main +
                            " is in a form of Office Open XML the tool does not read: save it "
                            "as .xlsx");
        if (wb.sheets.empty()) throw ReadError("it is damaged: it lists no sheets");
        date1904_ = wb.date1904;
        auto byType = [&](std::string_view type) -> int64_t {
            for (const auto& r : rels)
                if (lastSegment(r.type) == type) return zip_->find(r.target);
            return -1;
        };
        sharedStrings_ = byType("sharedStrings");
        styles_ = byType("styles");
        for (auto& s : wb.sheets) {
            Sheet sheet{-1, false};
            for (const auto& r : rels) {
                if (r.id != s.rid) continue;
                std::string_view type = lastSegment(r.type);
                sheet.cells = is(type, "worksheet") || is(type, "xlMacrosheet") ||
                              is(type, "xlIntlMacrosheet");
                sheet.entry = zip_->find(r.target);
                break;
            }
            names_.push_back(std::move(s.name));
            sheets_.push_back(sheet);
        }
    }

    const std::vector<std::string>& sheetNames() const override { return names_; }

    void readSheet(size_t index, SheetCells& out) override {
        if (index >= sheets_.size()) throw std::out_of_range("no such sheet");
        const Sheet& sheet = sheets_[index];
        out.date1904 = date1904_;
        out.limitBytes(sheetBudget);
        if (sheet.entry < 0)
            throw ReadError("it is damaged: the part of the sheet '" + names_[index] +
                            "' is missing");
        if (sheet.cells) {
            loadShared();
            // The shared texts are memory this sheet's reading holds too.
            out.charge(strings_.text.size() + strings_.ends.size() * sizeof(uint32_t));
            SheetHandler h(out, strings_, xfShows_);
            scanPart(*zip_, sheet.entry, h);
        }
        out.finish();
    }

  private:
    struct Sheet {
        int64_t entry;
        bool cells;  // a worksheet, not a chart or dialog sheet
    };

    void loadShared() {
        if (loaded_) return;
        if (styles_ >= 0) {
            StylesHandler h;
            scanPart(*zip_, styles_, h);
            xfShows_ = std::move(h.xfShows);
        }
        if (sharedStrings_ >= 0) {
            SharedStrings strings;
            SharedStringsHandler h(strings, sheetBudget);
            scanPart(*zip_, sharedStrings_, h);
            strings_ = std::move(strings);
        }
        loaded_ = true;
    }

    std::unique_ptr<ZipPackage> zip_;
    std::vector<std::string> names_;
    std::vector<Sheet> sheets_;
    bool date1904_ = false;
    int64_t sharedStrings_ = -1, styles_ = -1;
    bool loaded_ = false;
    SharedStrings strings_;
    std::vector<FormatShows> xfShows_;
};

}  // namespace

std::unique_ptr<WorkbookReader> openOoxmlWorkbook(std::unique_ptr<ZipPackage> zip,
                                                  std::string mainPart) {
    return std::make_unique<OoxmlReader>(std::move(zip), std::move(mainPart));
}

}  // namespace kordb::package

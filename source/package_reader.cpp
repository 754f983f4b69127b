// Workbooks in zip packages: Office Open XML (.xlsx, .xlsm) and OpenDocument (.ods). The
// kind is told by the package's content, its parts streamed through xml::Scanner, so a sheet
// of millions of cells never lies in memory as XML.

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "core/dates.h"
#include "source/cells.h"
#include "source/sheet_values.h"
#include "source/xml_scan.h"
#include "source/zip_package.h"

namespace kordb {

namespace {

using xml::Ns;

// ---- Values as the files write them ----

// s == lit, compiled to a compare of known length (names are compared per element).
template <size_t N>
bool is(std::string_view s, const char (&lit)[N]) {
    return s.size() == N - 1 && std::memcmp(s.data(), lit, N - 1) == 0;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

bool parseDouble(std::string_view s, double& out) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(out);
}

bool parseUint(std::string_view s, uint64_t& out) {
    s = trim(s);
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

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

// An ISO 8601 date, date and time, or time ("2024-01-31", "2024-01-31T13:45:00.5Z",
// "13:45:00") as a Date cell: days since 1899-12-30 on the calendar as it is, or a time alone
// as a fraction of a day. A zone is ignored: spreadsheets have none.
bool parseIsoDate(std::string_view s, Cell& cell) {
    IsoStamp t;
    if (!parseIsoStamp(trim(s), t)) return false;
    cell.type = Cell::Type::Date;
    cell.number = t.dayFraction();
    cell.error = kSerialTime;
    if (t.hasDate) {
        cell.number += double(calendarDay(t.year, t.month, t.day));
        cell.error = kCalendarDate;
    }
    return true;
}

// An ODF duration ("PT13H45M00S", "-P1DT2H", "PT0.5S") in days.
bool parseDuration(std::string_view s, double& days) {
    s = trim(s);
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
        double v;
        if (at == n0 || at >= s.size() ||
            std::from_chars(s.data() + n0, s.data() + at, v).ptr != s.data() + at)
            return false;
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

uint8_t errorCode(std::string_view text) {
    static constexpr struct {
        std::string_view text;
        uint8_t code;
    } kErrors[] = {{"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
                   {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A},    {"#GETTING_DATA", 0x2B}};
    text = trim(text);
    for (const auto& e : kErrors)
        if (e.text == text) return e.code;
    return 0xFF;
}

// One cell's text, more than any spreadsheet holds, and what keeps a hostile part's memory in
// bounds.
constexpr size_t kMaxText = size_t(16) << 20;

// Lists a part may hold (sheets, relationships, formats): far more than any workbook has.
constexpr size_t kMaxEntries = 100000;

void countEntry(xml::Scanner& sc, size_t count, const char* what) {
    if (count >= kMaxEntries) sc.damaged("more than " + std::to_string(kMaxEntries) + " " + what);
}

std::string checkedText(xml::Scanner& sc, std::string&& s) {
    if (!xml::validUtf8(s)) sc.damaged("a text that is not valid UTF-8");
    return std::move(s);
}

// Gives equal texts of a sheet one string: a column of a few codes repeated over thousands
// of rows costs a few strings, not thousands.
class StringPool {
  public:
    explicit StringPool(SheetCells& out) : out_(out), slots_(1024, kFree) {}

    uint32_t intern(xml::Scanner& sc, std::string_view s) {
        size_t mask = slots_.size() - 1;
        for (size_t i = std::hash<std::string_view>()(s) & mask;; i = (i + 1) & mask) {
            uint32_t& slot = slots_[i];
            if (slot == kFree) {
                if (!xml::validUtf8(s)) sc.damaged("a text that is not valid UTF-8");
                uint32_t index = out_.addString(std::string(s));
                slot = index;
                if (++used_ * 2 > slots_.size()) grow();
                return index;
            }
            if (out_.string(slot) == s) return slot;
        }
    }

  private:
    static constexpr uint32_t kFree = std::numeric_limits<uint32_t>::max();

    void grow() {
        std::vector<uint32_t> old(slots_.size() * 2, kFree);
        old.swap(slots_);
        size_t mask = slots_.size() - 1;
        for (uint32_t index : old) {
            if (index == kFree) continue;
            size_t i = std::hash<std::string_view>()(out_.string(index)) & mask;
            while (slots_[i] != kFree) i = (i + 1) & mask;
            slots_[i] = index;
        }
    }

    SheetCells& out_;
    std::vector<uint32_t> slots_;  // indexes into out_'s strings
    size_t used_ = 0;
};

template <class Handler>
void scanPart(ZipPackage& zip, int64_t entry, Handler& h) {
    ZipPackage::Stream stream(zip, entry);
    xml::Scanner scanner(stream.part());
    // A big part inflates on a second thread while this one parses.
    std::optional<Prefetch> ahead;
    if (stream.size() >= (uint64_t(8) << 20)) {
        try {
            ahead.emplace(stream);
        } catch (const std::system_error&) {
            // No thread to be had: inflate as we go.
        }
    }
    if (ahead)
        scanner.run(*ahead, h);
    else
        scanner.run(stream, h);
}

// ---- Package structure (OPC) ----

std::string folder(std::string_view part) {
    size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

// A relationship target made a part name: relative to the source's folder, or absolute.
std::string resolveTarget(std::string_view sourceFolder, std::string_view target) {
    target = target.substr(0, target.find_first_of("#?"));
    std::string path;
    if (!target.empty() && (target.front() == '/' || target.front() == '\\'))
        path = std::string(target.substr(1));
    else
        path = std::string(sourceFolder) + std::string(target);
    std::vector<std::string> segments;
    std::string seg;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/' || path[i] == '\\') {
            if (seg == "..") {
                if (!segments.empty()) segments.pop_back();
            } else if (!seg.empty() && seg != ".") {
                segments.push_back(seg);
            }
            seg.clear();
        } else {
            seg += path[i];
        }
    }
    std::string out;
    for (const auto& s : segments) out += (out.empty() ? "" : "/") + s;
    return out;
}

std::string relsPartOf(std::string_view part) {
    size_t slash = part.rfind('/');
    std::string_view base = slash == std::string_view::npos ? part : part.substr(slash + 1);
    return folder(part) + "_rels/" + std::string(base) + ".rels";
}

std::string_view lastSegment(std::string_view uri) {
    size_t slash = uri.rfind('/');
    return slash == std::string_view::npos ? uri : uri.substr(slash + 1);
}

struct Relationship {
    std::string id, type, target;  // target resolved to a part name
};

struct RelsHandler {
    bool wantText = false;
    std::string source;  // folder of the source part
    std::vector<Relationship> rels;
    std::string s1, s2, s3, s4;

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        if (sc.depth() != 2 || e.ns != Ns::PkgRel || !is(e.local, "Relationship")) return;
        if (sc.value(e.find(Ns::None, "TargetMode"), s4) == "External") return;
        countEntry(sc, rels.size(), "relationships");
        rels.push_back({std::string(sc.value(e.find(Ns::None, "Id"), s1)),
                        std::string(sc.value(e.find(Ns::None, "Type"), s2)),
                        resolveTarget(source, sc.value(e.find(Ns::None, "Target"), s3))});
    }
    void onEnd(xml::Scanner&, Ns, std::string_view) {}
    void onText(xml::Scanner&, std::string_view) {}
};

std::vector<Relationship> readRels(ZipPackage& zip, std::string_view sourcePart) {
    int64_t entry = zip.find(sourcePart.empty() ? "_rels/.rels" : relsPartOf(sourcePart));
    RelsHandler h;
    h.source = folder(sourcePart);
    if (entry >= 0) scanPart(zip, entry, h);
    return std::move(h.rels);
}

struct ContentTypesHandler {
    bool wantText = false;
    std::unordered_map<std::string, std::string> defaults, overrides;  // folded keys
    std::string s1, s2;

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        if (sc.depth() != 2 || e.ns != Ns::Types) return;
        countEntry(sc, defaults.size() + overrides.size(), "content types");
        if (is(e.local, "Default"))
            defaults[lower(sc.value(e.find(Ns::None, "Extension"), s1))] =
                std::string(sc.value(e.find(Ns::None, "ContentType"), s2));
        else if (is(e.local, "Override"))
            overrides[lower(resolveTarget("", sc.value(e.find(Ns::None, "PartName"), s1)))] =
                std::string(sc.value(e.find(Ns::None, "ContentType"), s2));
    }
    void onEnd(xml::Scanner&, Ns, std::string_view) {}
    void onText(xml::Scanner&, std::string_view) {}

    std::string typeOf(std::string_view part) const {
        auto it = overrides.find(lower(part));
        if (it != overrides.end()) return it->second;
        size_t dot = part.rfind('.');
        if (dot == std::string_view::npos) return {};
        auto d = defaults.find(lower(part.substr(dot + 1)));
        return d == defaults.end() ? std::string() : d->second;
    }
};

enum class MainKind { Workbook, Binary, Text, Presentation, Drawing, Unknown };

MainKind classify(std::string_view type) {
    auto starts = [&](std::string_view p) { return type.substr(0, p.size()) == p; };
    if (starts("application/vnd.ms-excel.sheet.binary")) return MainKind::Binary;
    if ((starts("application/vnd.openxmlformats-officedocument.spreadsheetml.") ||
         starts("application/vnd.ms-excel.")) &&
        type.size() > 9 && type.substr(type.size() - 9) == ".main+xml")
        return MainKind::Workbook;
    if (starts("application/vnd.openxmlformats-officedocument.wordprocessingml.") ||
        starts("application/vnd.ms-word."))
        return MainKind::Text;
    if (starts("application/vnd.openxmlformats-officedocument.presentationml.") ||
        starts("application/vnd.ms-powerpoint."))
        return MainKind::Presentation;
    if (starts("application/vnd.ms-visio.")) return MainKind::Drawing;
    return MainKind::Unknown;
}

const char* const kBinaryWorkbook =
    "it is an Excel binary workbook (.xlsb), which is not supported: save it as .xlsx";
const char* const kNoWorkbook =
    "it is not a workbook: it is a zip archive without a workbook in it";

// ---- Office Open XML ----

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
                    if (!trim(v).empty() && !parseUint(v, s))
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
                if (trim(v).empty()) return;
                if (!parseDouble(v, cell.number)) badValue(sc, "a number");
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
                if (trim(v).empty()) return;
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
                v = trim(v);
                if (v.empty()) return;
                if (!is(v, "0") && !is(v, "1") && !is(v, "true") && !is(v, "false"))
                    badValue(sc, "true or false");
                cell.type = Cell::Type::Boolean;
                cell.number = is(v, "1") || is(v, "true");
                break;
            case Kind::Error:
                if (trim(v).empty()) return;
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
                if (trim(v).empty()) return;
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

// ---- OpenDocument ----

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
                hasValue_ = parseDouble(sc.value(v, scratch_), number_);
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
                hasValue_ = parseDouble(sc.value(n, scratch_), number_);
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
                std::string_view b = trim(sc.value(v, scratch_));
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

std::unique_ptr<WorkbookReader> openOoxml(std::unique_ptr<ZipPackage> zip) {
    ContentTypesHandler types;
    int64_t typesEntry = zip->find("[Content_Types].xml");
    if (typesEntry >= 0) scanPart(*zip, typesEntry, types);
    std::string main;
    for (const auto& r : readRels(*zip, ""))
        if (lastSegment(r.type) == "officeDocument") {
            main = r.target;
            break;
        }
    if (main.empty()) {
        for (const auto& [part, type] : types.overrides)
            if (classify(type) != MainKind::Unknown) main = part;
    }
    MainKind kind = main.empty() ? MainKind::Unknown : classify(types.typeOf(main));
    if (kind == MainKind::Unknown) {
        // Without a content type, the part's place tells.
        if (zip->has("xl/workbook.bin") || lower(main).ends_with(".bin"))
            throw ReadError(kBinaryWorkbook);
        if (!main.empty() && zip->has(main) && lower(main).starts_with("xl/"))
            kind = MainKind::Workbook;
        else if (zip->has("xl/workbook.xml")) {
            main = "xl/workbook.xml";
            kind = MainKind::Workbook;
        }
    }
    switch (kind) {
        case MainKind::Workbook:
            return std::make_unique<OoxmlReader>(std::move(zip), main);
        case MainKind::Binary:
            throw ReadError(kBinaryWorkbook);
        case MainKind::Text:
            throw ReadError("it is not a workbook: it looks like a text document");
        case MainKind::Presentation:
            throw ReadError("it is not a workbook: it looks like a presentation document");
        case MainKind::Drawing:
            throw ReadError("it is not a workbook: it looks like a drawing document");
        case MainKind::Unknown:
            break;
    }
    throw ReadError(kNoWorkbook);
}

// The reader the package's content asks for.
std::unique_ptr<WorkbookReader> openPackage(std::string bytes) {
    auto zip = std::make_unique<ZipPackage>(std::move(bytes));
    int64_t mimetype = zip->find("mimetype");
    if (mimetype >= 0) {
        std::string type(trim(zip->read(mimetype, 4096)));
        const std::string_view odf = "application/vnd.oasis.opendocument.";
        if (std::string_view(type).substr(0, odf.size()) == odf) {
            std::string kind = type.substr(odf.size());
            if (is(kind, "spreadsheet") || is(kind, "spreadsheet-template"))
                return std::make_unique<OdsReader>(std::move(zip));
            throw ReadError(describeOdf(kind));
        }
    }
    if (zip->has("[Content_Types].xml") || zip->has("_rels/.rels"))
        return openOoxml(std::move(zip));
    if (zip->has("content.xml")) return std::make_unique<OdsReader>(std::move(zip));
    if (zip->has("xl/workbook.bin")) throw ReadError(kBinaryWorkbook);
    if (zip->has("xl/workbook.xml")) return openOoxml(std::move(zip));
    throw ReadError(kNoWorkbook);
}

}  // namespace

std::unique_ptr<WorkbookReader> openPackageReader(std::string bytes) {
    size_t fileBytes = bytes.size();
    auto reader = openPackage(std::move(bytes));
    reader->sheetBudget = SheetCells::budgetFor(fileBytes);
    return reader;
}

}  // namespace kordb

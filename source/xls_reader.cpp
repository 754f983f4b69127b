// Excel 97-2003 workbooks: the BIFF8 record stream inside a compound file. Only what the
// worksheet layer needs is read: sheet names, cell values and which number formats are dates.

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <string_view>

#include "core/text.h"
#include "source/cells.h"
#include "source/sheet_values.h"

namespace kordb {
namespace {

constexpr uint16_t kFormula = 0x0006, kFormula3 = 0x0206, kFormula4 = 0x0406, kEof = 0x000A,
                   kDateMode = 0x0022, kFilePass = 0x002F, kContinue = 0x003C, kBoundSheet = 0x0085,
                   kMulRk = 0x00BD, kRString = 0x00D6, kXf = 0x00E0, kSst = 0x00FC,
                   kLabelSst = 0x00FD, kNumber = 0x0203, kLabel = 0x0204, kBoolErr = 0x0205,
                   kString = 0x0207, kRk = 0x027E, kFormat = 0x041E, kBof = 0x0809;
constexpr uint16_t kBiff8 = 0x0600;
// Cell records of Excel 2.x, whose layout BIFF8 does not share; some converters leave them in
// a BIFF8 sheet.
constexpr uint16_t kInteger2 = 0x0002, kNumber2 = 0x0003, kLabel2 = 0x0004, kBoolErr2 = 0x0005;

const char* const kOlder =
    "it is an Excel 5.0/95 or older workbook: save it as Excel 97-2003 (.xls) or .xlsx";
const char* const kProtected = "it is protected with a password";

inline uint16_t u16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline double f64(const uint8_t* p) {
    uint64_t bits = uint64_t(u32(p)) | uint64_t(u32(p + 4)) << 32;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

double rkValue(uint32_t rk) {
    double v;
    if (rk & 2) {
        v = double(int32_t(rk) >> 2);
    } else {
        uint64_t bits = uint64_t(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    return rk & 1 ? v / 100 : v;
}

std::string hex4(uint16_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", unsigned(v));
    return buf;
}

[[noreturn]] void damaged(const std::string& what, size_t offset) {
    throw ReadError("it is damaged: " + what + " (record at offset " + std::to_string(offset) +
                    " of the Workbook stream)");
}

void appendLatin1(std::string& out, const uint8_t* p, size_t n) {
    size_t ascii = 0;
    while (ascii < n && p[ascii] < 0x80) ++ascii;
    out.append(reinterpret_cast<const char*>(p), ascii);
    for (size_t i = ascii; i < n; ++i) appendUtf8(out, p[i]);
}

// UTF-16LE in pieces: a surrogate pair may be split where a string continues in the next
// record, so the high half waits in `high` until its partner comes.
void appendUtf16(std::string& out, const uint8_t* p, size_t units, uint32_t& high) {
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = u16(p + 2 * i);
        if (high) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
                high = 0;
                continue;
            }
            appendUtf8(out, 0xFFFD);
            high = 0;
        }
        if (u >= 0xD800 && u <= 0xDBFF)
            high = u;
        else if (u >= 0xDC00 && u <= 0xDFFF)
            appendUtf8(out, 0xFFFD);
        else
            appendUtf8(out, u);
    }
}

// A string inside one record: cch (8 or 16 bits), a flag byte, and the characters; rich-text
// runs and phonetic blocks announced by the flags are left unread behind it. partial: the
// characters the record holds when it ends before cch of them.
bool recordString(const uint8_t* p, size_t size, bool shortCount, std::string& out,
                  bool partial = false) {
    size_t pos = shortCount ? 1 : 2;
    if (size < pos) return false;
    size_t cch = shortCount ? p[0] : u16(p);
    if (cch == 0) return true;  // some writers leave the flag byte out of an empty string
    if (size < pos + 1) return false;
    uint8_t flags = p[pos++];
    if (flags & 0x08) pos += 2;
    if (flags & 0x04) pos += 4;
    if (pos > size) return partial;
    if (partial) cch = std::min(cch, flags & 1 ? (size - pos) / 2 : size - pos);
    size_t bytes = flags & 1 ? cch * 2 : cch;
    if (size - pos < bytes) return false;
    if (flags & 1) {
        uint32_t high = 0;
        appendUtf16(out, p + pos, cch, high);
        if (high) appendUtf8(out, 0xFFFD);
    } else {
        appendLatin1(out, p + pos, cch);
    }
    return true;
}

struct Record {
    uint16_t type = 0;
    size_t offset = 0;  // of the header in the stream
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// A record followed by its CONTINUE records, read as one stream of bytes except that character
// data carries its flag byte again at the start of each continuation.
class Continued {
  public:
    explicit Continued(const char* what) : what_(what) {}
    void add(const Record& r) {
        pieces_.push_back(r);
        if (pieces_.size() == 1) load(0);
    }
    size_t totalSize() const {
        size_t n = 0;
        for (const auto& p : pieces_) n += p.size;
        return n;
    }
    bool atEnd() {
        while (p_ == end_ && idx_ + 1 < pieces_.size()) load(idx_ + 1);
        return p_ == end_;
    }
    void raw(uint8_t* dst, size_t n) {
        while (n) {
            if (p_ == end_) next();
            size_t k = std::min(n, size_t(end_ - p_));
            std::memcpy(dst, p_, k);
            dst += k, p_ += k, n -= k;
        }
    }
    uint16_t raw16() {
        uint8_t b[2];
        raw(b, 2);
        return u16(b);
    }
    uint32_t raw32() {
        uint8_t b[4];
        raw(b, 4);
        return u32(b);
    }
    void skip(uint64_t n) {
        while (n) {
            if (p_ == end_) next();
            size_t k = size_t(std::min<uint64_t>(n, uint64_t(end_ - p_)));
            p_ += k, n -= k;
        }
    }
    // cch characters, compressed or not as `wide` says until a continuation's flag byte
    // says otherwise.
    void chars(size_t cch, bool wide, std::string& out) {
        uint32_t high = 0;
        while (cch) {
            if (p_ == end_) {
                next();
                wide = *p_++ & 1;
            }
            size_t avail = size_t(end_ - p_);
            if (wide) {
                size_t k = std::min(cch, avail / 2);
                if (k == 0) fail();  // half a character before the record ends
                appendUtf16(out, p_, k, high);
                p_ += 2 * k, cch -= k;
            } else {
                size_t k = std::min(cch, avail);
                appendLatin1(out, p_, k);
                p_ += k, cch -= k;
            }
        }
        if (high) appendUtf8(out, 0xFFFD);
    }
    // One string as BIFF8 stores it: 16-bit count, flags, run and phonetic sizes, characters,
    // then the runs and the phonetic block, which are skipped.
    void string(std::string& out) {
        size_t cch = raw16();
        if (cch == 0 && atEnd()) return;  // an empty string without its flag byte
        uint8_t flags;
        raw(&flags, 1);
        uint32_t runs = flags & 0x08 ? raw16() : 0;
        uint32_t phonetic = flags & 0x04 ? raw32() : 0;
        chars(cch, flags & 1, out);
        skip(uint64_t(runs) * 4 + phonetic);
    }
    [[noreturn]] void fail() const { damaged(what_, pieces_.empty() ? 0 : pieces_[idx_].offset); }

  private:
    void load(size_t i) {
        idx_ = i;
        p_ = pieces_[i].data;
        end_ = p_ + pieces_[i].size;
    }
    void next() {
        // Empty continuations carry nothing, not even a flag byte.
        do {
            if (idx_ + 1 >= pieces_.size()) fail();
            load(idx_ + 1);
        } while (p_ == end_);
    }

    const char* what_;
    std::vector<Record> pieces_;
    size_t idx_ = 0;
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
};

class Records {
  public:
    explicit Records(const std::string& s)
        : base_(reinterpret_cast<const uint8_t*>(s.data())), size_(s.size()) {}
    size_t size() const { return size_; }
    // The record at pos, moving pos past it; false at the end of the stream.
    bool next(size_t& pos, Record& r) const {
        if (pos >= size_) return false;
        if (size_ - pos < 4) damaged("the Workbook stream ends inside a record header", pos);
        r.type = u16(base_ + pos);
        r.size = u16(base_ + pos + 2);
        r.offset = pos;
        if (size_ - pos - 4 < r.size)
            damaged("a record runs past the end of the Workbook stream", pos);
        r.data = base_ + pos + 4;
        pos += 4 + r.size;
        return true;
    }
    // Adds the CONTINUE records that follow pos to c, moving pos past them.
    void continuations(size_t& pos, Continued& c) const {
        Record r;
        size_t at = pos;
        while (next(at, r) && r.type == kContinue) {
            c.add(r);
            pos = at;
        }
    }

  private:
    const uint8_t* base_;
    size_t size_;
};

struct SheetEntry {
    std::string name;
    uint32_t offset;
    uint8_t kind;  // 0 worksheet or dialog, 1 macro sheet, 2 chart, 6 VB module
};

// The shared strings, all in one buffer.
class StringTable {
  public:
    size_t size() const { return ends_.size(); }
    std::string_view at(size_t i) const {
        size_t begin = i ? ends_[i - 1] : 0;
        return std::string_view(pool_).substr(begin, ends_[i] - begin);
    }
    // c starts after the record's counts of all and of unique strings.
    void read(Continued& c, uint32_t unique) {
        // Every string takes at least three bytes, which bounds what a lying count can reserve.
        ends_.reserve(std::min<size_t>(unique, c.totalSize() / 3));
        for (uint32_t i = 0; i < unique && !c.atEnd(); ++i) {
            c.string(pool_);
            ends_.push_back(pool_.size());
        }
    }

  private:
    std::string pool_;
    std::vector<size_t> ends_;
};

class XlsReader : public WorkbookReader {
  public:
    explicit XlsReader(std::string stream) : stream_(std::move(stream)), records_(stream_) {
        readGlobals();
    }
    const std::vector<std::string>& sheetNames() const override { return names_; }
    void readSheet(size_t index, SheetCells& out) override;

  private:
    // The version is the header's, whatever the stream is called: BIFF8 is 0x0600, and
    // Excel 5.0/95 (0x0500) and the versions before it lay records out otherwise.
    void checkBof(const Record& r) const {
        if (r.size < 4) damaged("a header record is too short", r.offset);
        if (u16(r.data) < kBiff8) throw ReadError(kOlder);
    }
    class SheetScan;

    void readGlobals();
    const StringTable& strings();

    std::string stream_;
    Records records_;
    std::vector<std::string> names_;
    std::vector<SheetEntry> sheets_;
    std::vector<FormatShows> xfShows_;  // per XF: what its number format shows
    bool date1904_ = false;
    size_t sstOffset_ = SIZE_MAX;
    bool sstRead_ = false;
    std::string sstError_;  // a damaged table gives the same error to every sheet
    StringTable sst_;
};

void XlsReader::readGlobals() {
    size_t pos = 0;
    Record r;
    if (!records_.next(pos, r)) throw ReadError("it is damaged: its Workbook stream is empty");
    if (r.type == 0x0009 || r.type == 0x0209 || r.type == 0x0409) throw ReadError(kOlder);
    if (r.type != kBof)
        throw ReadError("it is damaged: the Workbook stream does not start with a workbook header");
    checkBof(r);

    std::vector<uint16_t> xfFormats;
    std::vector<std::pair<uint16_t, FormatShows>> custom;  // the FORMAT records' codes
    bool ended = false;
    while (!ended && records_.next(pos, r)) {
        switch (r.type) {
            case kEof:
                ended = true;
                break;
            case kFilePass:
                throw ReadError(kProtected);
            case kBoundSheet: {
                if (r.size < 8) damaged("a sheet entry is too short", r.offset);
                SheetEntry s{std::string(), u32(r.data), r.data[5]};
                if (!recordString(r.data + 6, r.size - 6, true, s.name))
                    damaged("a sheet name runs past the end of its record", r.offset);
                names_.push_back(s.name);
                sheets_.push_back(std::move(s));
                break;
            }
            case kSst:
                sstOffset_ = r.offset;
                break;
            case kFormat: {
                // A format only tells dates from numbers: a code longer than its record is
                // taken as far as the record holds it.
                std::string code;
                if (r.size >= 2 && recordString(r.data + 2, r.size - 2, false, code, true))
                    custom.emplace_back(u16(r.data), numberFormatShows(code));
                break;
            }
            case kXf:
                if (r.size < 4) damaged("a cell format record is too short", r.offset);
                xfFormats.push_back(u16(r.data + 2));
                break;
            case kDateMode:
                if (r.size < 2) damaged("the date system record is too short", r.offset);
                date1904_ = u16(r.data) == 1;
                break;
            case kBof:
                damaged("a new header begins before the workbook globals end", r.offset);
        }
    }
    if (!ended)
        throw ReadError("it is damaged: the Workbook stream ends before the list of its sheets");
    if (sheets_.empty()) throw ReadError("it is damaged: it lists no sheets");

    xfShows_.resize(xfFormats.size());
    for (size_t i = 0; i < xfFormats.size(); ++i) {
        uint16_t id = xfFormats[i];
        xfShows_[i] = builtinFormatShows(id);
        for (const auto& [customId, shows] : custom)
            if (customId == id) xfShows_[i] = shows;
    }
}

const StringTable& XlsReader::strings() {
    if (!sstError_.empty()) throw ReadError(sstError_);
    if (!sstRead_ && sstOffset_ != SIZE_MAX) {
        try {
            size_t pos = sstOffset_;
            Record r;
            records_.next(pos, r);
            if (r.size < 8) damaged("the string table record is too short", r.offset);
            uint32_t unique = u32(r.data + 4);
            r.data += 8, r.size -= 8;
            Continued c("the string table ends inside a string");
            c.add(r);
            records_.continuations(pos, c);
            sst_.read(c, unique);
        } catch (const ReadError& e) {
            sstError_ = e.what();
            throw;
        }
    }
    sstRead_ = true;
    return sst_;
}

// One sheet's cell records read into out, one function per record kind; what a record
// leaves for the next (a formula's pending text) is kept here between them.
class XlsReader::SheetScan {
  public:
    SheetScan(XlsReader& book, SheetCells& out) : book_(book), out_(out) {}

    void labelSst(const Record& r) {
        need(r, 10);
        if (!sst_) {
            sst_ = &book_.strings();
            local_.assign(sst_->size(), kNone);
        }
        uint32_t i = u32(r.data + 6);
        if (i >= sst_->size())
            damaged("a cell refers to text number " + std::to_string(i + 1) +
                        " but the string table holds " + std::to_string(sst_->size()),
                    r.offset);
        if (local_[i] == kNone) local_[i] = out_.addString(std::string(sst_->at(i)));
        text(r.data, local_[i]);
    }

    void number(const Record& r) {
        need(r, 14);
        number(r.data, f64(r.data + 6));
    }

    void rk(const Record& r) {
        need(r, 10);
        number(r.data, rkValue(u32(r.data + 6)));
    }

    void mulRk(const Record& r) {
        need(r, 6);
        uint16_t first = u16(r.data + 2), last = u16(r.data + r.size - 2);
        if (last < first || r.size != 6 + 6 * (size_t(last) - first + 1))
            damaged("a row of numbers does not match its length", r.offset);
        uint16_t row = u16(r.data);
        for (uint32_t c = first; c <= last; ++c) {
            const uint8_t* e = r.data + 4 + 6 * (c - first);
            out_.add(row, c, typed(u16(e), rkValue(u32(e + 2))));
        }
    }

    void label(const Record& r) {
        need(r, 6);
        std::string s;
        if (!recordString(r.data + 6, r.size - 6, false, s))
            damaged("a text cell runs past the end of its record", r.offset);
        text(r.data, out_.addString(std::move(s)));
    }

    void boolErr(const Record& r) {
        need(r, 8);
        Cell c;
        if (r.data[7]) {
            c.type = Cell::Type::Error;
            c.error = r.data[6];
        } else {
            c.type = Cell::Type::Boolean;
            c.number = r.data[6] ? 1 : 0;
        }
        out_.add(u16(r.data), u16(r.data + 2), c);
    }

    // Excel 3 and 4 formulas put the result where BIFF8 does; the cached result is the cell's
    // value either way.
    void formula(const Record& r) {
        need(r, 14);
        textPending_ = false;
        const uint8_t* v = r.data + 6;
        if (u16(v + 6) != 0xFFFF) {
            number(r.data, f64(v));
            return;
        }
        Cell c;
        switch (v[0]) {
            case 0:
                textPending_ = true;
                pendingRow_ = u16(r.data);
                pendingCol_ = u16(r.data + 2);
                break;
            case 1:
                c.type = Cell::Type::Boolean;
                c.number = v[2] ? 1 : 0;
                out_.add(u16(r.data), u16(r.data + 2), c);
                break;
            case 2:
                c.type = Cell::Type::Error;
                c.error = v[2];
                out_.add(u16(r.data), u16(r.data + 2), c);
                break;
            case 3:
                if (emptyText_ == kNone) emptyText_ = out_.addString(std::string());
                text(r.data, emptyText_);
                break;
        }
    }

    [[noreturn]] static void excel2Cells(const Record& r) {
        throw ReadError("it holds cells in records of Excel 2.x (record 0x" + hex4(r.type) +
                        " at offset " + std::to_string(r.offset) +
                        " of the Workbook stream), which an Excel 97-2003 sheet does "
                        "not have: save it again as Excel 97-2003 (.xls) or .xlsx");
    }

    // A formula with a text result gives the text in the STRING record after it; pos moves
    // past the record's continuations.
    void string(const Record& r, size_t& pos) {
        if (!textPending_) return;
        textPending_ = false;
        Continued c("a formula's text ends before its length");
        c.add(r);
        book_.records_.continuations(pos, c);
        std::string s;
        c.string(s);
        Cell cell;
        cell.type = Cell::Type::Text;
        cell.text = out_.addString(std::move(s));
        out_.add(pendingRow_, pendingCol_, cell);
    }

  private:
    static constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

    static void need(const Record& r, size_t n) {
        if (r.size < n) damaged("a cell record is too short", r.offset);
    }

    // A number as its cell format shows it: a date, a time of day or a number.
    Cell typed(uint16_t xf, double v) const {
        Cell c;
        c.number = v;
        FormatShows shows = xf < book_.xfShows_.size() ? book_.xfShows_[xf] : FormatShows::Number;
        c.type = shows == FormatShows::Number ? Cell::Type::Number : Cell::Type::Date;
        c.error = shows == FormatShows::Time ? kSerialTime : kSerialDate;
        return c;
    }

    void number(const uint8_t* d, double v) { out_.add(u16(d), u16(d + 2), typed(u16(d + 4), v)); }

    void text(const uint8_t* d, uint32_t s) {
        Cell c;
        c.type = Cell::Type::Text;
        c.text = s;
        out_.add(u16(d), u16(d + 2), c);
    }

    XlsReader& book_;
    SheetCells& out_;
    const StringTable* sst_ = nullptr;
    std::vector<uint32_t> local_;  // SST index -> index in out_, or none yet
    uint32_t emptyText_ = kNone;
    bool textPending_ = false;
    uint16_t pendingRow_ = 0, pendingCol_ = 0;
};

void XlsReader::readSheet(size_t index, SheetCells& out) {
    if (index >= sheets_.size())
        throw ReadError("it has no sheet number " + std::to_string(index + 1));
    out.date1904 = date1904_;
    out.limitBytes(sheetBudget);
    const SheetEntry& sheet = sheets_[index];
    if (sheet.kind == 6) {  // a macro module: code, no substream of cells
        out.finish();
        return;
    }
    size_t pos = sheet.offset;
    Record r;
    if (pos >= records_.size() || !records_.next(pos, r) || r.type != kBof)
        throw ReadError("it is damaged: the sheet '" + sheet.name +
                        "' is not where the workbook says (offset " + std::to_string(sheet.offset) +
                        " of the Workbook stream)");
    checkBof(r);
    if (u16(r.data + 2) == 0x0020) {  // a chart sheet: its series caches are no cells
        out.finish();
        return;
    }

    SheetScan scan(*this, out);
    int depth = 1;  // embedded charts bring their own header and end records
    while (depth > 0) {
        if (!records_.next(pos, r))
            throw ReadError("it is damaged: the Workbook stream ends inside the sheet '" +
                            sheet.name + "'");
        if (r.type == kBof) {
            ++depth;
            continue;
        }
        if (r.type == kEof) {
            --depth;
            continue;
        }
        if (depth != 1) continue;
        switch (r.type) {
            case kLabelSst:
                scan.labelSst(r);
                break;
            case kNumber:
                scan.number(r);
                break;
            case kRk:
                scan.rk(r);
                break;
            case kMulRk:
                scan.mulRk(r);
                break;
            case kLabel:
            case kRString:
                scan.label(r);
                break;
            case kBoolErr:
                scan.boolErr(r);
                break;
            case kFormula:
            case kFormula3:
            case kFormula4:
                scan.formula(r);
                break;
            case kInteger2:
            case kNumber2:
            case kLabel2:
            case kBoolErr2:
                SheetScan::excel2Cells(r);
            case kString:
                scan.string(r, pos);
                break;
        }
    }
    out.finish();
}

// The compound file's top-level stream of that name, compared as the format does, without
// regard to case; null when there is none.
GsfInput* childStream(GsfInfile* root, const char* name) {
    int n = gsf_infile_num_children(root);
    for (int i = 0; i < n; ++i) {
        const char* child = gsf_infile_name_by_index(root, i);
        if (!child || g_ascii_strcasecmp(child, name) != 0) continue;
        GsfInput* in = gsf_infile_child_by_index(root, i);
        if (in && GSF_IS_INFILE(in) && gsf_infile_num_children(GSF_INFILE(in)) >= 0) {
            g_object_unref(in);  // a storage, not a stream
            continue;
        }
        if (in) return in;
    }
    return nullptr;
}

struct Unref {
    void operator()(gpointer p) const {
        if (p) g_object_unref(p);
    }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref>;

std::string workbookStream(const std::string& bytes) {
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        // A damaged container is reported as a ReadError; libgsf's own complaints about it
        // would only clutter the terminal.
        g_log_set_handler(
            "libgsf:msole",
            GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_MESSAGE),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });

    GError* err = nullptr;
    GPtr<GsfInput> mem(gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                            gsf_off_t(bytes.size()), FALSE));
    if (!mem) throw ReadError("it is damaged: its compound file cannot be opened");
    GPtr<GsfInfile> root(gsf_infile_msole_new(mem.get(), &err));
    if (err) g_error_free(err);
    if (!root) throw ReadError("it is damaged: its compound file structure is broken");

    // Excel 5.0/95 named its stream Book, but converters write BIFF8 under either name: the
    // stream's header tells the version.
    GPtr<GsfInput> book(childStream(root.get(), "Workbook"));
    if (!book) book.reset(childStream(root.get(), "Book"));
    if (!book) {
        if (GPtr<GsfInput>(childStream(root.get(), "EncryptedPackage")))
            throw ReadError(kProtected);
        throw ReadError(
            "it is not a workbook: it looks like another Office document (such as a Word or "
            "PowerPoint file)");
    }
    gsf_off_t size = gsf_input_size(book.get());
    // A stream cannot hold more than the file does.
    if (size < 0 || uint64_t(size) > bytes.size())
        throw ReadError("it is damaged: its Workbook stream claims to be larger than the file");
    std::string s(size_t(size), '\0');
    size_t done = 0;
    while (done < s.size()) {
        size_t n = std::min<size_t>(s.size() - done, 1 << 16);
        if (!gsf_input_read(book.get(), n, reinterpret_cast<guint8*>(&s[done])))
            throw ReadError("it is damaged: its Workbook stream cannot be read to the end");
        done += n;
    }
    return s;
}

}  // namespace

std::unique_ptr<WorkbookReader> openXlsReader(std::string bytes) {
    std::string stream = workbookStream(bytes);
    size_t fileBytes = bytes.size();
    bytes = std::string();  // the stream is all that is needed from here on
    auto reader = std::make_unique<XlsReader>(std::move(stream));
    reader->sheetBudget = SheetCells::budgetFor(fileBytes);
    return reader;
}

}  // namespace kordb

#include "migration/journal.h"

#include "core/text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "core/errors.h"
#include "core/tables.h"
#include "migration/passes.h"
#include "migration/row_writer.h"
#include "migration/stored_value.h"

namespace kordb {

namespace fs = std::filesystem;

namespace {

// A journal bigger than this is not one this program wrote for one worksheet.
constexpr uintmax_t kMaxJournalBytes = uintmax_t(2) << 30;
constexpr size_t kMaxLineBytes = size_t(64) << 20;
constexpr int kMaxDepth = 8;
// More than any engine lets a table have (SQL Server 1,024, PostgreSQL 1,600).
constexpr size_t kMaxColumns = 4096;

// ---- writing --------------------------------------------------------------------------------

// A line being written, in storage that only grows, so that a run allocates it once; every
// row writes one.
class Out {
  public:
    explicit Out(std::string& storage) : buf_(storage) {}

    // Room for n more characters, to be written at the pointer returned and kept by done().
    char* room(size_t n) {
        if (size_ + n > buf_.size()) buf_.resize(std::max(buf_.size() * 2, size_ + n + 256));
        return buf_.data() + size_;
    }
    void done(const char* end) { size_ = size_t(end - buf_.data()); }
    void put(char c) { *room(1) = c, ++size_; }
    void put(std::string_view s) {
        std::memcpy(room(s.size()), s.data(), s.size());
        size_ += s.size();
    }
    char back() const { return size_ ? buf_[size_ - 1] : '\0'; }
    std::string_view text() const { return {buf_.data(), size_}; }

  private:
    std::string& buf_;
    size_t size_ = 0;
};

// Characters a JSON string cannot hold as they are: controls, the quote, the backslash.
constexpr auto kEscaped = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[size_t(c)] = true;
    t['"'] = t['\\'] = true;
    return t;
}();

void appendString(Out& out, std::string_view s) {
    // An escape takes at most six characters.
    char* p = out.room(2 + 6 * s.size());
    *p++ = '"';
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (!kEscaped[c]) {
            *p++ = ch;
            continue;
        }
        *p++ = '\\';
        switch (c) {
            case '"':
            case '\\':
                *p++ = ch;
                break;
            case '\n':
                *p++ = 'n';
                break;
            case '\r':
                *p++ = 'r';
                break;
            case '\t':
                *p++ = 't';
                break;
            default: {
                static const char hex[] = "0123456789abcdef";
                *p++ = 'u';
                *p++ = '0';
                *p++ = '0';
                *p++ = hex[c >> 4];
                *p++ = hex[c & 15];
            }
        }
    }
    *p++ = '"';
    out.done(p);
}

// A decimal's stored text goes into the line as the JSON number it is, every digit kept.
bool plainDecimal(std::string_view s) {
    // The canonical form is valid JSON: no leading zeros, no bare point, no exponent.
    return s.find_first_of("0123456789") != std::string_view::npos &&
           s.find_first_not_of("-0123456789.") == std::string_view::npos &&
           canonicalDecimal(s) == s;
}

void appendValue(Out& out, const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null:
            out.put("null");
            return;
        case Value::Kind::Number: {
            if (plainDecimal(v.storedText())) {
                out.put(v.storedText());
                return;
            }
            double d = v.toNumber();
            if (!std::isfinite(d)) {
                out.put("null");  // no cell holds one, and JSON has no word for it
                return;
            }
            char* p = out.room(32);
            out.done(std::to_chars(p, p + 32, d).ptr);
            return;
        }
        case Value::Kind::Text:
            appendString(out, v.rawText());
            return;
        case Value::Kind::Date:
            out.put("{\"date\":");
            appendString(out, v.rawText());
            if (!v.storedText().empty()) {
                out.put(",\"stored\":");
                appendString(out, v.storedText());
            }
            out.put('}');
            return;
    }
}

void appendMember(Out& out, std::string_view name) {
    if (out.back() != '{') out.put(',');
    appendString(out, name);
    out.put(':');
}

std::string reasonOf(int err) {
    std::string r = std::strerror(err);
    return r.empty() ? "unknown reason" : r;
}

// ---- reading --------------------------------------------------------------------------------

struct Json {
    enum class Type { Null, Bool, Number, String, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // a string's text, or a number as written
    // An object's members in file order; a vector of an incomplete type, which a pair is not.
    struct Member;
    std::vector<Member> members;

    const Json* find(std::string_view key) const;
};

struct Json::Member {
    std::string first;
    Json second;
};

const Json* Json::find(std::string_view key) const {
    for (const auto& m : members)
        if (m.first == key) return &m.second;
    return nullptr;
}

class Parser {
  public:
    explicit Parser(std::string_view s) : s_(s) {}

    Json document() {
        Json j = value(0);
        space();
        if (i_ != s_.size()) fail("text after the object");
        return j;
    }

  private:
    [[noreturn]] void fail(const std::string& why) { throw std::runtime_error(why); }

    void space() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
    }

    bool take(std::string_view word) {
        if (s_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }

    Json value(int depth) {
        if (depth > kMaxDepth) fail("nested too deeply");
        space();
        if (i_ >= s_.size()) fail("the line ends early");
        Json j;
        char c = s_[i_];
        if (c == '{') {
            j.type = Json::Type::Object;
            ++i_;
            space();
            if (i_ < s_.size() && s_[i_] == '}') {
                ++i_;
                return j;
            }
            // Names as equalsNoCase tells them apart: a line of many members is checked in
            // time that grows with its length only.
            std::unordered_set<std::string> folded;
            for (;;) {
                space();
                if (i_ >= s_.size() || s_[i_] != '"') fail("a member name is missing");
                std::string name = string();
                space();
                if (i_ >= s_.size() || s_[i_++] != ':') fail("\":\" is missing");
                // Two values for one name: which one was meant cannot be told.
                if (!folded.insert(foldCase(name)).second) fail("\"" + name + "\" is given twice");
                j.members.push_back({std::move(name), value(depth + 1)});
                space();
                if (i_ >= s_.size()) fail("the line ends early");
                if (s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (s_[i_++] != '}') fail("\",\" or \"}\" is missing");
                return j;
            }
        }
        if (c == '"') {
            j.type = Json::Type::String;
            j.text = string();
            return j;
        }
        if (take("null")) return j;
        if (take("true")) {
            j.type = Json::Type::Bool;
            j.boolean = true;
            return j;
        }
        if (take("false")) {
            j.type = Json::Type::Bool;
            return j;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            size_t start = i_;
            if (s_[i_] == '-') ++i_;
            while (i_ < s_.size() && std::strchr("0123456789.eE+-", s_[i_])) ++i_;
            double d = 0;
            if (!parseDecimal(std::string_view(s_.data() + start, i_ - start), d))
                fail("a number is malformed");
            j.type = Json::Type::Number;
            j.number = d;
            j.text.assign(s_.data() + start, i_ - start);
            return j;
        }
        fail("an unexpected character");
    }

    uint32_t hex4() {
        if (s_.size() - i_ < 4) fail("a \\u escape is cut short");
        uint32_t v = 0;
        auto r = std::from_chars(s_.data() + i_, s_.data() + i_ + 4, v, 16);
        if (r.ec != std::errc() || r.ptr != s_.data() + i_ + 4) fail("a \\u escape is malformed");
        i_ += 4;
        return v;
    }

    std::string string() {
        ++i_;  // the opening quote
        std::string out;
        for (;;) {
            if (i_ >= s_.size()) fail("a string is not closed");
            char c = s_[i_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("a control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) fail("a string is not closed");
            char e = s_[i_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t cp = hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && s_.substr(i_, 2) == "\\u") {
                        i_ += 2;
                        uint32_t low = hex4();
                        if (low < 0xDC00 || low > 0xDFFF) fail("a \\u escape is malformed");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    fail("an unknown escape");
            }
        }
    }

    std::string_view s_;
    size_t i_ = 0;
};

Value valueOf(const Json& j) {
    switch (j.type) {
        case Json::Type::Null:
            return Value::null();
        case Json::Type::Number:
            return Value::stored(Value::number(j.number), canonicalDecimal(j.text));
        case Json::Type::String:
            return Value::text(j.text);
        case Json::Type::Object: {
            const Json* date = j.find("date");
            const Json* stored = j.find("stored");
            if (!date || date->type != Json::Type::String ||
                j.members.size() != (stored ? 2u : 1u) ||
                (stored && stored->type != Json::Type::String))
                break;
            Value v = Value::date(date->text);
            return stored ? Value::stored(v, stored->text) : v;
        }
        case Json::Type::Bool:
            break;
    }
    throw std::runtime_error("a value is neither null, a number, a text nor a date");
}

const std::string& textMember(const Json& j, std::string_view name, bool required) {
    static const std::string none;
    const Json* m = j.find(name);
    if (!m) {
        if (required) throw std::runtime_error("\"" + std::string(name) + "\" is missing");
        return none;
    }
    if (m->type != Json::Type::String)
        throw std::runtime_error("\"" + std::string(name) + "\" is not a text");
    return m->text;
}

long countMember(const Json& j, std::string_view name, bool required) {
    const Json* m = j.find(name);
    if (!m) {
        if (required) throw std::runtime_error("\"" + std::string(name) + "\" is missing");
        return 0;
    }
    if (m->type != Json::Type::Number || m->number < 0 || m->number > 1e15 ||
        m->number != std::floor(m->number))
        throw std::runtime_error("\"" + std::string(name) + "\" is not a count");
    return long(m->number);
}

std::vector<std::pair<std::string, Value>> columnsMember(const Json& j, std::string_view name) {
    const Json* m = j.find(name);
    if (!m) throw std::runtime_error("\"" + std::string(name) + "\" is missing");
    if (m->type != Json::Type::Object)
        throw std::runtime_error("\"" + std::string(name) + "\" is not an object");
    std::vector<std::pair<std::string, Value>> out;
    for (const auto& c : m->members) {
        if (c.first.empty()) throw std::runtime_error("a column without a name");
        out.emplace_back(c.first, valueOf(c.second));
    }
    return out;
}

// What a journal's sheet lets its lines touch: each table with its own key column.
struct Allowed {
    const char* table;
    const char* key;
};

std::vector<Allowed> tablesOfSheet(const std::string& sheet) {
    if (sheet == table::kItem)
        return {{table::kItem, table::kItemKey}, {table::kPlu, table::kItemKey}};
    for (const char* t : {table::kClass, table::kDebtor, table::kCreditor})
        if (sheet == t) return {{t, nullptr}};
    return {};
}

void checkNames(const std::vector<std::pair<std::string, Value>>& columns, const char* what) {
    if (columns.empty()) throw std::runtime_error("\"" + std::string(what) + "\" names no column");
    for (const auto& c : columns)
        if (c.first.empty() || c.first.size() > 128 ||
            c.first.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos)
            throw std::runtime_error("\"" + std::string(what) +
                                     "\" holds a name that is no column name");
}

const Value* member(const std::vector<std::pair<std::string, Value>>& columns,
                    std::string_view name) {
    for (const auto& c : columns)
        if (equalsNoCase(c.first, name)) return &c.second;
    return nullptr;
}

JournalEntry entryOf(const Json& j, const JournalHeader& h) {
    JournalEntry e;
    e.seq = countMember(j, "seq", true);
    e.row = countMember(j, "row", false);
    const std::string& op = textMember(j, "op", true);
    if (op == "insert")
        e.op = JournalEntry::Op::Insert;
    else if (op == "update")
        e.op = JournalEntry::Op::Update;
    else if (op == "delete")
        throw std::runtime_error("a deletion, which no migration writes");
    else
        throw std::runtime_error("unknown \"op\" " + op);
    e.table = textMember(j, "table", true);
    e.keyColumn = textMember(j, "keyColumn", true);
    const Allowed* allowed = nullptr;
    const std::vector<Allowed> tables = tablesOfSheet(h.sheet);
    for (const Allowed& a : tables)
        if (e.table == a.table) allowed = &a;
    if (!allowed)
        throw std::runtime_error("table \"" + e.table + "\" is not one a migration of sheet \"" +
                                 h.sheet + "\" writes");
    std::string key = allowed->key ? allowed->key : table::keyColumnFor(e.table);
    if (!equalsNoCase(e.keyColumn, key))
        throw std::runtime_error("\"keyColumn\" of " + e.table + " is not " + key);
    const Json* k = j.find("key");
    if (!k) throw std::runtime_error("\"key\" is missing");
    e.key = valueOf(*k);
    e.newValues = columnsMember(j, "new");
    checkNames(e.newValues, "new");
    if (e.op == JournalEntry::Op::Insert) {
        if (j.find("old")) throw std::runtime_error("an insert with \"old\" values");
        const Value* written = member(e.newValues, key);
        if (!written || !(*written == e.key))
            throw std::runtime_error("the new row's " + key + " is not its \"key\"");
        return e;
    }
    e.oldValues = columnsMember(j, "old");
    checkNames(e.oldValues, "old");
    if (e.key.isNull()) throw std::runtime_error("an update without a key");
    const std::vector<std::string>& updatable = columnsUpdated(e.table);
    if (e.oldValues.size() != e.newValues.size())
        throw std::runtime_error("\"old\" and \"new\" name different columns");
    // The columns a migration changes first: they bound the pairing of old and new.
    for (const auto& column : e.newValues) {
        const std::string& name = column.first;
        if (std::none_of(updatable.begin(), updatable.end(),
                         [&](const std::string& u) { return equalsNoCase(u, name); }))
            throw std::runtime_error("column \"" + name + "\" of " + e.table +
                                     " is not one a migration changes");
    }
    for (const auto& column : e.newValues)
        if (!member(e.oldValues, column.first))
            throw std::runtime_error("\"old\" and \"new\" name different columns");
    return e;
}

// A line read by hand, so that it is bounded before it is held. False at the end.
bool readLine(std::istream& in, std::string& text, bool& ended) {
    text.clear();
    ended = false;
    for (int c; (c = in.get()) != EOF;) {
        if (c == '\n') {
            ended = true;
            return true;
        }
        if (text.size() >= kMaxLineBytes) throw std::length_error("a line is too long");
        text += char(c);
    }
    return !text.empty();
}

}  // namespace

std::string localStamp(bool forFileName) {
    return localTimeText(forFileName ? "%Y%m%d-%H%M%S" : "%Y-%m-%dT%H:%M:%S");
}

// ---- Journal --------------------------------------------------------------------------------

Journal::Journal(fs::path folder, std::string nameBase, std::string infix, JournalHeader header)
    : folder_(std::move(folder)),
      base_(std::move(nameBase)),
      infix_(std::move(infix)),
      header_(std::move(header)) {}

Journal::~Journal() {
    if (file_) std::fclose(file_);
}

void Journal::open() {
    std::string stamp = localStamp(true);
    int err = 0;
    fs::path tried;
    for (int n = 1; n <= 100 && !file_; ++n) {
        tried = folder_ /
                pathFromUtf8(fittedFileName(
                    base_, infix_ + stamp + (n == 1 ? "" : "-" + std::to_string(n)) + ".jsonl"));
        // Exclusive: the journal of another run of the same second is never written into.
        file_ = openPrivate(tried, true);
        err = errno;
        if (!file_ && err != EEXIST) break;
    }
    if (!file_)
        throw KorError(errnum::kPathFileAccess, "The undo journal \"" + pathToUtf8(tried) +
                                                    "\" cannot be written: " + reasonOf(err) +
                                                    ". Nothing was stored.");
    path_ = tried;
    // Room for a whole batch's lines, handed over in one piece.
    constexpr std::size_t kBuffer = std::size_t(4) << 20;
    buffer_ = std::make_unique<char[]>(kBuffer);
    std::setvbuf(file_, buffer_.get(), _IOFBF, kBuffer);
    header_.started = localStamp(false);
    Out out(line_);
    out.put("{\"journal\":\"kordb undo\",\"version\":2");
    const std::pair<const char*, const std::string*> fields[] = {
        {"workbook", &header_.workbook}, {"sheet", &header_.sheet},
        {"dbms", &header_.dbms},         {"server", &header_.server},
        {"database", &header_.database}, {"identity", &header_.identity},
        {"started", &header_.started},   {"undoes", &header_.undoes}};
    for (const auto& [name, value] : fields) {
        if (value->empty() && value == &header_.undoes) continue;
        appendMember(out, name);
        appendString(out, *value);
    }
    out.put(header_.atomic ? ",\"atomic\":true}\n" : ",\"atomic\":false}\n");
    append(out.text());
}

namespace {

[[noreturn]] void unwritable(const fs::path& path, int err) {
    throw KorError(errnum::kPathFileAccess, "The undo journal \"" + pathToUtf8(path) +
                                                "\" cannot be written: " + reasonOf(err) +
                                                ". The row was not stored.");
}

}  // namespace

void Journal::append(std::string_view line) {
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) unwritable(path_, errno);
    if (!holdLines_) flush();
}

void Journal::flush() {
    // Handed to the system before the writes they describe are sent: a crash of the program
    // keeps them.
    if (file_ && std::fflush(file_) != 0) unwritable(path_, errno);
}

namespace {

void appendHead(Out& out, long seq, long sheetRow, const char* op, DestTable& t, const Value& key) {
    char* p = out.room(64);
    p = std::to_chars(std::copy_n("{\"seq\":", 7, p), p + 24, seq).ptr;
    if (sheetRow > 0) p = std::to_chars(std::copy_n(",\"row\":", 7, p), p + 24, sheetRow).ptr;
    out.done(p);
    out.put(",\"op\":\"");
    out.put(op);
    out.put('"');
    appendMember(out, "table");
    appendString(out, t.name());
    appendMember(out, "keyColumn");
    appendString(out, t.keyColumn());
    appendMember(out, "key");
    appendValue(out, key);
}

}  // namespace

bool knownWhenLeftOut(const odbc::ColumnMeta& m, bool inKey, Value& value) {
    if (inKey) return false;
    value = defaultValue(m);
    if (!value.isNull()) return true;
    return m.nullable && !m.hasDefault;
}

void Journal::recordWrite(DestRecordset& rs, long sheetRow) {
    if (!file_) open();
    DestTable& t = rs.table();
    const bool inserting = rs.adding();
    int keyIndex = t.columnIndex(t.keyColumn());
    if (!inserting && rs.original().empty()) return;  // no row: the write fails by itself
    const auto& meta = t.columnMeta();
    const auto& assigned = rs.assigned();
    Value key = inserting ? Value::null() : rs.original()[size_t(keyIndex)];
    for (size_t j = 0; j < assigned.size(); ++j)
        if (assigned[j].first == keyIndex) key = rs.storedAssigned(j);

    Out out(line_);
    appendHead(out, seq_ + 1, sheetRow, inserting ? "insert" : "update", t, key);
    if (!inserting) {
        out.put(",\"old\":{");
        for (const auto& a : assigned) {
            appendMember(out, t.spelledName(a.first));
            appendValue(out, rs.original()[size_t(a.first)]);
        }
        out.put('}');
    }
    out.put(",\"new\":{");
    if (inserting) {
        const std::vector<int>& primary = t.primaryKeyColumns();
        size_t j = 0;
        Value v;
        for (int i = 0; i < t.columnCount(); ++i) {
            if (j < assigned.size() && assigned[j].first == i) {
                appendMember(out, t.spelledName(i));
                appendValue(out, rs.storedAssigned(j));
                ++j;
            } else if (knownWhenLeftOut(
                           meta[size_t(i)],
                           std::find(primary.begin(), primary.end(), i) != primary.end(), v)) {
                // As the table names it: a line does not depend on what earlier rows assigned.
                appendMember(out, t.columnName(i));
                appendValue(out, v);
            }
        }
    } else {
        for (size_t j = 0; j < assigned.size(); ++j) {
            appendMember(out, t.spelledName(assigned[j].first));
            appendValue(out, rs.storedAssigned(j));
        }
    }
    out.put("}}\n");
    append(out.text());
    ++seq_;
    ++unsettled_;
}

void Journal::recordOutcome(bool stored) noexcept {
    if (!file_ || unsettled_ == 0) return;
    unsettled_ = 0;
    Out out(line_);
    out.put(stored ? "{\"done\":" : "{\"failed\":");
    char* p = out.room(24);
    out.done(std::to_chars(p, p + 24, seq_).ptr);
    out.put("}\n");
    // Without it undo checks the row before acting; the next write's line stops the run when
    // the file cannot take lines any more.
    if (std::fwrite(out.text().data(), 1, out.text().size(), file_) == out.text().size())
        std::fflush(file_);
}

void Journal::recordCommitted() {
    if (file_) append("{\"committed\":true}\n");
}

void Journal::recordDelete(DestRecordset& rs) {
    if (!file_) open();
    DestTable& t = rs.table();
    int keyIndex = t.columnIndex(t.keyColumn());
    if (rs.original().empty()) return;  // no row: the deletion fails by itself
    Out out(line_);
    appendHead(out, seq_ + 1, 0, "delete", t, rs.original()[size_t(keyIndex)]);
    out.put(",\"old\":{");
    for (int i = 0; i < t.columnCount(); ++i) {
        appendMember(out, t.spelledName(i));
        appendValue(out, rs.original()[size_t(i)]);
    }
    out.put("}}\n");
    append(out.text());
    ++seq_;
    ++unsettled_;
}

void Journal::discard() {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    fs::remove(path_, ec);
    path_.clear();
    seq_ = 0;
    unsettled_ = 0;
}

// ---- reading --------------------------------------------------------------------------------

JournalReader::JournalReader(const fs::path& file) : path_(file) {
    auto bad = [&](long line, const std::string& why) {
        return KorError(errnum::kBadFormat,
                        "\"" + pathToUtf8(file) + "\" is not an undo journal" +
                            (line > 0 ? " (line " + std::to_string(line) + ")" : std::string()) +
                            ": " + why + ".");
    };
    std::error_code ec;
    uintmax_t size = fs::file_size(file, ec);
    if (ec)
        throw KorError(errnum::kFileNotFound, "The undo journal \"" + pathToUtf8(file) +
                                                  "\" cannot be read: " + ec.message() + ".");
    if (size > kMaxJournalBytes) throw bad(0, "it is larger than any journal this program writes");
    in_.open(file, std::ios::binary);
    if (!in_)
        throw KorError(errnum::kPathFileAccess,
                       "The undo journal \"" + pathToUtf8(file) + "\" cannot be read.");

    std::string text;
    long number = 0;
    std::uint64_t offset = 0;
    bool header = false, ended = false;
    size_t settled = 0;  // the writes an outcome has been given to
    long lastSeq = 0, lastRow = 0, writesOfRow = 0;
    // Each table's names as named, for the check against the catalogue.
    std::vector<std::unordered_set<std::string>> named;
    for (;;) {
        std::uint64_t at = offset;
        try {
            if (!readLine(in_, text, ended)) break;
        } catch (const std::length_error& e) {
            throw bad(number + 1, e.what());
        }
        offset += text.size() + (ended ? 1 : 0);
        ++number;
        if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
        try {
            Json doc = Parser(text).document();
            if (doc.type != Json::Type::Object) throw std::runtime_error("not an object");
            if (!header) {
                if (textMember(doc, "journal", true) != "kordb undo")
                    throw std::runtime_error("the first line does not name a kordb undo journal");
                long version = countMember(doc, "version", true);
                if (version != 1 && version != 2)
                    throw std::runtime_error("a journal version this program does not know");
                header_.version = int(version);
                header_.workbook = textMember(doc, "workbook", false);
                header_.sheet = textMember(doc, "sheet", false);
                header_.dbms = textMember(doc, "dbms", false);
                header_.server = textMember(doc, "server", false);
                header_.database = textMember(doc, "database", false);
                header_.identity = textMember(doc, "identity", false);
                header_.started = textMember(doc, "started", false);
                header_.undoes = textMember(doc, "undoes", false);
                if (const Json* atomic = doc.find("atomic")) {
                    if (atomic->type != Json::Type::Bool)
                        throw std::runtime_error("\"atomic\" is neither true nor false");
                    header_.atomic = atomic->boolean;
                }
                if (!header_.undoes.empty())
                    throw std::runtime_error(
                        "it records an undo, whose deletions a journal of a migration never "
                        "holds; undo the migration's own journal instead");
                if (tablesOfSheet(header_.sheet).empty())
                    throw std::runtime_error("sheet \"" + header_.sheet +
                                             "\" is not one a migration reads");
                header = true;
                continue;
            }
            if (const Json* done = doc.find("done"); done || doc.find("failed")) {
                const char* name = done ? "done" : "failed";
                // An outcome settles every write since the one before: a write of its own, or
                // a batch's.
                if (doc.members.size() != 1 || countMember(doc, name, true) != lastSeq ||
                    settled == outcomes_.size() || header_.version < 2)
                    throw std::runtime_error("an outcome that follows no write of its own");
                std::fill(outcomes_.begin() + std::ptrdiff_t(settled), outcomes_.end(),
                          done ? JournalEntry::Outcome::Stored : JournalEntry::Outcome::Failed);
                settled = outcomes_.size();
                if (!done) lastRow = 0;  // a row taken again after its batch failed writes anew
                continue;
            }
            if (doc.find("committed")) {
                const Json* c = doc.find("committed");
                if (doc.members.size() != 1 || c->type != Json::Type::Bool || !c->boolean ||
                    !header_.atomic || committed_)
                    throw std::runtime_error("a commit that no atomic run made");
                committed_ = true;
                continue;
            }
            if (committed_) throw std::runtime_error("a write after the commit");
            JournalEntry e = entryOf(doc, header_);
            if (e.seq != lastSeq + 1) throw std::runtime_error("\"seq\" is out of order");
            lastSeq = e.seq;
            // A worksheet row writes each of its sheet's tables once at most; undo holds a
            // row's writes together.
            writesOfRow = e.row > 0 && e.row == lastRow ? writesOfRow + 1 : 1;
            lastRow = e.row;
            if (writesOfRow > long(tablesOfSheet(header_.sheet).size()))
                throw std::runtime_error("row " + std::to_string(e.row) +
                                         " has more writes than a migration makes");
            offsets_.push_back(at);
            lines_.push_back(std::uint32_t(number));
            outcomes_.push_back(JournalEntry::Outcome::Unknown);
            size_t t = 0;
            while (t < columns_.size() && columns_[t].first != e.table) ++t;
            if (t == columns_.size()) {
                columns_.emplace_back(e.table, std::vector<std::string>());
                named.emplace_back();
            }
            for (const auto* list : {&e.oldValues, &e.newValues})
                for (const auto& [name, value] : *list)
                    if (named[t].insert(name).second) {
                        if (named[t].size() > kMaxColumns)
                            throw std::runtime_error("it names more columns of " + e.table +
                                                     " than any table has");
                        columns_[t].second.push_back(name);
                    }
        } catch (const std::runtime_error& e) {
            // A crash while the last line was written leaves it cut short.
            if (!ended && header) break;
            throw bad(number, e.what());
        }
        if (!ended) break;
    }
    if (!header) throw bad(0, "it is empty");
    in_.clear();
}

JournalEntry JournalReader::entry(size_t index) {
    in_.clear();
    in_.seekg(std::streamoff(offsets_.at(index)));
    std::string text;
    bool ended = false;
    readLine(in_, text, ended);
    JournalEntry e = entryOf(Parser(text).document(), header_);
    e.line = long(lines_[index]);
    e.outcome = outcomes_[index];
    return e;
}

}  // namespace kordb

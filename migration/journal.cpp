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

#include "core/errors.h"
#include "migration/row_writer.h"

namespace kordb {

namespace fs = std::filesystem;

namespace {

// A journal bigger than this is not one this program wrote for one worksheet.
constexpr uintmax_t kMaxJournalBytes = uintmax_t(2) << 30;
constexpr size_t kMaxLineBytes = size_t(64) << 20;
constexpr int kMaxDepth = 8;

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

void appendValue(Out& out, const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null:
            out.put("null");
            return;
        case Value::Kind::Number: {
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
    std::string text;
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
            for (;;) {
                space();
                if (i_ >= s_.size() || s_[i_] != '"') fail("a member name is missing");
                std::string name = string();
                space();
                if (i_ >= s_.size() || s_[i_++] != ':') fail("\":\" is missing");
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
            auto r = std::from_chars(s_.data() + start, s_.data() + i_, d);
            if (r.ec != std::errc() || r.ptr != s_.data() + i_ || !std::isfinite(d))
                fail("a number is malformed");
            j.type = Json::Type::Number;
            j.number = d;
            return j;
        }
        fail("an unexpected character");
    }

    static void appendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
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
            return Value::number(j.number);
        case Json::Type::String:
            return Value::text(j.text);
        case Json::Type::Object:
            if (j.members.size() == 1 && j.members[0].first == "date" &&
                j.members[0].second.type == Json::Type::String)
                return Value::date(j.members[0].second.text);
            break;
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

JournalEntry entryOf(const Json& j) {
    JournalEntry e;
    e.seq = countMember(j, "seq", true);
    e.row = countMember(j, "row", false);
    const std::string& op = textMember(j, "op", true);
    if (op == "insert")
        e.op = JournalEntry::Op::Insert;
    else if (op == "update")
        e.op = JournalEntry::Op::Update;
    else if (op == "delete")
        e.op = JournalEntry::Op::Delete;
    else
        throw std::runtime_error("unknown \"op\" " + op);
    e.table = textMember(j, "table", true);
    e.keyColumn = textMember(j, "keyColumn", true);
    if (e.table.empty()) throw std::runtime_error("\"table\" is empty");
    // The key column goes into the look-up's text as it is: a name and nothing else.
    bool plain = !e.keyColumn.empty() && !(e.keyColumn[0] >= '0' && e.keyColumn[0] <= '9');
    for (char c : e.keyColumn)
        plain = plain && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '_');
    if (!plain) throw std::runtime_error("\"keyColumn\" is not a column name");
    const Json* key = j.find("key");
    if (!key) throw std::runtime_error("\"key\" is missing");
    e.key = valueOf(*key);
    if (e.op != JournalEntry::Op::Delete) e.newValues = columnsMember(j, "new");
    if (e.op != JournalEntry::Op::Insert) e.oldValues = columnsMember(j, "old");
    return e;
}

}  // namespace

fs::path pathFromUtf8(const std::string& s) {
    return fs::path(std::u8string(s.begin(), s.end()));
}

std::string pathToUtf8(const fs::path& p) {
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string localStamp(bool forFileName) {
    return localTimeText(forFileName ? "%Y%m%d-%H%M%S" : "%Y-%m-%dT%H:%M:%S");
}

// ---- Journal --------------------------------------------------------------------------------

Journal::Journal(fs::path folder, JournalHeader header)
    : folder_(std::move(folder)), header_(std::move(header)) {}

Journal::~Journal() {
    if (file_) std::fclose(file_);
}

void Journal::open() {
    std::string stamp = localStamp(true);
    int err = 0;
    for (int n = 1; n <= 100 && !file_; ++n) {
        path_ = folder_ / pathFromUtf8(header_.workbook + kJournalInfix + stamp +
                                       (n == 1 ? "" : "-" + std::to_string(n)) + ".jsonl");
        // "x": the journal of another run of the same second is never written into.
#ifdef _WIN32
        file_ = _wfopen(path_.c_str(), L"wbx");
#else
        file_ = std::fopen(path_.c_str(), "wbx");
#endif
        err = errno;
        if (!file_ && err != EEXIST) break;
    }
    if (!file_)
        throw KorError(errnum::kPathFileAccess, "The undo journal \"" + pathToUtf8(path_) +
                                                    "\" cannot be written: " + reasonOf(err) +
                                                    ". Nothing was stored.");
    header_.started = localStamp(false);
    Out out(line_);
    out.put("{\"journal\":\"kordb undo\",\"version\":1");
    const std::pair<const char*, const std::string*> fields[] = {
        {"workbook", &header_.workbook}, {"sheet", &header_.sheet},
        {"server", &header_.server},     {"database", &header_.database},
        {"started", &header_.started},   {"undoes", &header_.undoes}};
    for (const auto& [name, value] : fields) {
        if (value->empty() && value == &header_.undoes) continue;
        appendMember(out, name);
        appendString(out, *value);
    }
    out.put("}\n");
    append(out.text());
}

void Journal::append(std::string_view line) {
    // Handed to the system before the write it describes is sent: a crash of the program
    // keeps it.
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
        int err = errno;
        throw KorError(errnum::kPathFileAccess, "The undo journal \"" + pathToUtf8(path_) +
                                                    "\" cannot be written: " + reasonOf(err) +
                                                    ". The row was not stored.");
    }
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

void Journal::recordWrite(DestRecordset& rs, long sheetRow) {
    if (!file_) open();
    DestTable& t = rs.table();
    const bool inserting = rs.adding();
    int keyIndex = t.columnIndex(t.keyColumn());
    if (!inserting && rs.original().empty()) return;  // no row: the write fails by itself
    Value key = inserting ? Value::null() : rs.original()[size_t(keyIndex)];
    for (const auto& a : rs.assigned())
        if (a.first == keyIndex) key = a.second;

    Out out(line_);
    appendHead(out, seq_ + 1, sheetRow, inserting ? "insert" : "update", t, key);
    if (!inserting) {
        out.put(",\"old\":{");
        for (const auto& a : rs.assigned()) {
            appendMember(out, t.spelledName(a.first));
            appendValue(out, rs.original()[size_t(a.first)]);
        }
        out.put('}');
    }
    out.put(",\"new\":{");
    for (const auto& a : rs.assigned()) {
        appendMember(out, t.spelledName(a.first));
        appendValue(out, a.second);
    }
    out.put("}}\n");
    append(out.text());
    ++seq_;
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
}

void Journal::discard() {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    fs::remove(path_, ec);
    path_.clear();
    seq_ = 0;
}

// ---- reading --------------------------------------------------------------------------------

JournalFile readJournal(const fs::path& file) {
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
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw KorError(errnum::kPathFileAccess,
                       "The undo journal \"" + pathToUtf8(file) + "\" cannot be read.");

    JournalFile j;
    j.path = file;
    std::string text;
    long number = 0;
    bool header = false;
    for (;;) {
        // Read by hand, so that a line is bounded before it is held.
        text.clear();
        bool ended = false;
        for (int c; (c = in.get()) != EOF;) {
            if (c == '\n') {
                ended = true;
                break;
            }
            if (text.size() >= kMaxLineBytes) throw bad(number + 1, "a line is too long");
            text += char(c);
        }
        if (!ended && text.empty()) break;
        ++number;
        if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
        try {
            Json doc = Parser(text).document();
            if (doc.type != Json::Type::Object) throw std::runtime_error("not an object");
            if (!header) {
                if (textMember(doc, "journal", true) != "kordb undo")
                    throw std::runtime_error("the first line does not name a kordb undo journal");
                if (countMember(doc, "version", true) != 1)
                    throw std::runtime_error("a journal version this program does not know");
                j.header.workbook = textMember(doc, "workbook", false);
                j.header.sheet = textMember(doc, "sheet", false);
                j.header.server = textMember(doc, "server", false);
                j.header.database = textMember(doc, "database", false);
                j.header.started = textMember(doc, "started", false);
                j.header.undoes = textMember(doc, "undoes", false);
                header = true;
            } else {
                JournalEntry e = entryOf(doc);
                e.line = number;
                j.entries.push_back(std::move(e));
            }
        } catch (const std::runtime_error& e) {
            // A crash while the last line was written leaves it cut short.
            if (!ended && header) break;
            throw bad(number, e.what());
        }
        if (!ended) break;
    }
    if (!header) throw bad(0, "it is empty");
    return j;
}

}  // namespace kordb

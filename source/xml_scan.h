#pragma once
// A streaming XML scanner for the parts of a workbook package. A sheet part can be hundreds of
// megabytes: it is read in pieces through a bounded buffer, never whole, and delivered as
// start tags, end tags and text, namespaces resolved. It checks what a reader must not take on
// trust (nesting, quoting, references, namespace prefixes) and turns every fault into a
// ReadError naming the part, line and column; it does not read document type declarations.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "source/cells.h"

namespace kordb::xml {

// The namespaces the readers look at; every other one is Other.
enum class Ns : uint8_t {
    None,
    Other,
    Xml,
    Xmlns,
    Sml,     // SpreadsheetML, transitional and strict
    Rel,     // officeDocument relationships (r:id)
    PkgRel,  // package relationships (.rels)
    Types,   // [Content_Types].xml
    Office,
    Table,
    Text,
    CalcExt,
    Draw,
    Manifest,
};

inline Ns namespaceOf(std::string_view uri) {
    struct Known {
        std::string_view uri;
        Ns ns;
    };
    static constexpr Known kKnown[] = {
        {"http://schemas.openxmlformats.org/spreadsheetml/2006/main", Ns::Sml},
        {"http://purl.oclc.org/ooxml/spreadsheetml/main", Ns::Sml},
        // The Office 2007 betas', laid out as the standard's.
        {"http://schemas.microsoft.com/office/excel/2006/2", Ns::Sml},
        {"http://schemas.openxmlformats.org/spreadsheetml/2006/5/main", Ns::Sml},
        {"http://schemas.microsoft.com/office/2006/relationships", Ns::Rel},
        {"http://schemas.microsoft.com/package/2005/06/relationships", Ns::PkgRel},
        {"http://schemas.microsoft.com/package/2005/06/content-types", Ns::Types},
        {"http://schemas.openxmlformats.org/officeDocument/2006/relationships", Ns::Rel},
        {"http://purl.oclc.org/ooxml/officeDocument/relationships", Ns::Rel},
        {"http://schemas.openxmlformats.org/package/2006/relationships", Ns::PkgRel},
        {"http://schemas.openxmlformats.org/package/2006/content-types", Ns::Types},
        {"urn:oasis:names:tc:opendocument:xmlns:office:1.0", Ns::Office},
        {"urn:oasis:names:tc:opendocument:xmlns:table:1.0", Ns::Table},
        {"urn:oasis:names:tc:opendocument:xmlns:text:1.0", Ns::Text},
        {"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0", Ns::CalcExt},
        {"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0", Ns::Draw},
        {"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0", Ns::Manifest},
        {"http://www.w3.org/XML/1998/namespace", Ns::Xml},
    };
    for (const Known& k : kKnown)
        if (k.uri == uri) return k.ns;
    return uri.empty() ? Ns::None : Ns::Other;
}

inline bool validUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* e = p + s.size();
    while (p < e) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        unsigned c = *p;
        int n;
        uint32_t v;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1, v = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2, v = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3, v = c & 0x07;
        } else {
            return false;
        }
        if (e - p <= n) return false;
        for (int i = 1; i <= n; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            v = (v << 6) | (p[i] & 0x3F);
        }
        if ((n == 2 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) ||
            (n == 3 && (v < 0x10000 || v > 0x10FFFF)))
            return false;
        p += n + 1;
    }
    return true;
}

// Appends [p, e) with references replaced and line ends normalized (in an attribute value,
// white space becomes blanks as XML wants). Gives the first malformed reference, or nullptr.
inline const char* appendDecoded(const char* p, const char* e, std::string& out, bool attribute) {
    while (p < e) {
        const char* r = p;
        while (r < e && *r != '&' && *r != '\r' && !(attribute && (*r == '\t' || *r == '\n'))) ++r;
        out.append(p, size_t(r - p));
        if (r == e) break;
        if (*r == '\r') {
            out += attribute ? ' ' : '\n';
            p = r + 1;
            if (p < e && *p == '\n') ++p;
            continue;
        }
        if (*r != '&') {
            out += ' ';
            p = r + 1;
            continue;
        }
        auto* semi =
            static_cast<const char*>(memchr(r, ';', size_t(std::min<ptrdiff_t>(e - r, 40))));
        if (!semi) return r;
        std::string_view name(r + 1, size_t(semi - r - 1));
        if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "amp") {
            out += '&';
        } else if (name == "quot") {
            out += '"';
        } else if (name == "apos") {
            out += '\'';
        } else if (name.size() >= 2 && name[0] == '#') {
            bool hex = name[1] == 'x';
            std::string_view digits = name.substr(hex ? 2 : 1);
            if (digits.empty()) return r;
            uint32_t c = 0;
            for (char d : digits) {
                int v = d >= '0' && d <= '9'                            ? d - '0'
                        : hex && (d | 0x20) >= 'a' && (d | 0x20) <= 'f' ? (d | 0x20) - 'a' + 10
                                                                        : -1;
                if (v < 0) return r;
                c = c * (hex ? 16 : 10) + uint32_t(v);
                if (c > 0x10FFFF) return r;
            }
            bool ok = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                      (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
            if (!ok) return r;
            appendUtf8(out, c);
        } else {
            return r;
        }
        p = semi + 1;
    }
    return nullptr;
}

struct Attr {
    std::string_view prefix, local;
    std::string_view raw;  // as written, valid during the start-tag call only
    Ns ns = Ns::None;
    bool plain = true;  // raw is the value: nothing to decode
};

struct Element {
    Ns ns;
    std::string_view local;
    const Attr* attrs;
    size_t attrCount;

    const Attr* find(Ns n, std::string_view name) const {
        for (size_t i = 0; i < attrCount; ++i)
            if (attrs[i].local == name && attrs[i].ns == n) return &attrs[i];
        return nullptr;
    }
};

// Handler: bool wantText; onStart(Scanner&, const Element&); onEnd(Scanner&, Ns, local);
// onText(Scanner&, std::string_view) (text may come in several pieces, already decoded).
class Scanner {
  public:
    static constexpr size_t kMaxToken = size_t(64) << 20;
    // Far beyond any real part; they keep a hostile one from growing the stacks unbounded.
    static constexpr size_t kMaxDepth = 10000;
    static constexpr size_t kMaxNames = size_t(1) << 20;  // bytes of open element names
    static constexpr size_t kMaxAttributes = 65536;       // on one element
    static constexpr size_t kMaxBindings = 10000;         // namespace declarations in force

    explicit Scanner(std::string part) : part_(std::move(part)) {}

    template <class Source, class Handler>
    void run(Source& src, Handler& h);

    void stop() { stopped_ = true; }
    // Open elements, the one being started or ended included.
    size_t depth() const { return depth_; }
    const std::string& part() const { return part_; }

    // The decoded value of an attribute ("" when absent); valid until scratch changes.
    std::string_view value(const Attr* a, std::string& scratch) const {
        if (!a) return {};
        if (a->plain) return a->raw;
        scratch.clear();
        if (const char* bad =
                appendDecoded(a->raw.data(), a->raw.data() + a->raw.size(), scratch, true))
            malformedAt(bad, "a malformed reference");
        return scratch;
    }

    // "line 3, column 17" of the token being handled.
    std::string where() const { return whereAt(pos_); }
    [[noreturn]] void damaged(const std::string& what) const {
        throw ReadError("it is damaged: " + what + " (" + part_ + ", " + where() + ")");
    }
    [[noreturn]] void malformed(const std::string& what) const { malformedAt(pos_, what); }

  private:
    struct Frame {
        uint32_t nameOff, nameLen;
        uint32_t bindings;  // bindings_ size before this element
        uint32_t localOff;  // where the local name starts in the qualified one
        Ns ns;
        Ns outerDefault;
    };
    struct Binding {
        std::string prefix;
        Ns ns;
    };
    struct CacheSlot {
        uint64_t gen = 0;
        std::string prefix;
        Ns ns = Ns::None;
    };

    // Character classes. The buffer always ends in a NUL, which is in every class, so the
    // loops below need no bounds check: they stop at the end, or at a NUL XML forbids.
    enum : uint8_t { kEndsName = 1, kColon = 2, kSpace = 4, kInValue = 8, kInText = 16 };
    static constexpr std::array<uint8_t, 256> kClass = [] {
        std::array<uint8_t, 256> t{};
        for (int c = 0; c <= ' '; ++c) t[size_t(c)] |= kEndsName;
        for (char c : {'/', '>', '=', '<', '"', '\'', '&'}) t[uint8_t(c)] |= kEndsName;
        t[':'] |= kColon;
        for (char c : {' ', '\t', '\n', '\r'}) t[uint8_t(c)] |= kSpace;
        for (char c : {'"', '\'', '<', '&', '\t', '\n', '\r', '\0'}) t[uint8_t(c)] |= kInValue;
        for (char c : {'<', '&', '\r', '\0'}) t[uint8_t(c)] |= kInText;
        return t;
    }();
    static uint8_t cls(char c) { return kClass[static_cast<unsigned char>(c)]; }

    std::string whereAt(const char* p) const {
        if (!buf_ || p < buf_.get() || p > end_) p = pos_ ? pos_ : buf_.get();
        uint64_t line = lines_ + 1, column = column_;
        for (const char* q = buf_.get(); q && q < p; ++q) {
            if (*q == '\n') {
                ++line;
                column = 0;
            } else {
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column + 1);
    }
    [[noreturn]] void malformedAt(const char* p, const std::string& what) const {
        throw ReadError("it is damaged: its part " + part_ + " is not well-formed XML at " +
                        whereAt(p) + " (" + what + ")");
    }
    // At a NUL: the end of the data read so far (nullptr: read more), or a fault.
    const char* atNul(const char* p) const {
        if (p == end_) return nullptr;
        malformedAt(p, "a NUL character");
    }

    // Keeps [pos_, end_) and reads more behind it; false at the end of the part.
    template <class Source>
    bool more(Source& src) {
        if (eof_) return false;
        char* b = buf_.get();
        size_t keep = size_t(end_ - pos_);
        if (pos_ != b) {
            const char* nl = nullptr;
            for (const char* q = b;
                 (q = static_cast<const char*>(memchr(q, '\n', size_t(pos_ - q)))); nl = q++)
                ++lines_;
            column_ = nl ? uint64_t(pos_ - nl - 1) : column_ + uint64_t(pos_ - b);
            memmove(b, pos_, keep);
            pos_ = b;
            end_ = b + keep;
        }
        if (cap_ - keep < cap_ / 4) {
            if (cap_ >= kMaxToken)
                malformed("a tag, comment or section longer than " +
                          std::to_string(kMaxToken >> 20) + " MiB");
            auto bigger = std::make_unique<char[]>(cap_ * 2 + 1);
            memcpy(bigger.get(), b, keep);
            buf_ = std::move(bigger);
            cap_ *= 2;
            pos_ = buf_.get();
            end_ = pos_ + keep;
        }
        size_t n = src.read(end_, cap_ - keep);
        if (n == 0) eof_ = true;
        end_ += n;
        *end_ = '\0';
        return n != 0;
    }

    Ns lookup(std::string_view prefix, const char* at) {
        size_t h = (prefix.size() * 7 + static_cast<unsigned char>(prefix.front()) +
                    static_cast<unsigned char>(prefix.back()) * 3) &
                   (cache_.size() - 1);
        CacheSlot& slot = cache_[h];
        if (slot.gen == gen_ && slot.prefix == prefix) return slot.ns;
        for (size_t i = bindings_.size(); i-- > 0;) {
            if (bindings_[i].prefix == prefix) {
                slot.gen = gen_;
                slot.prefix.assign(prefix);
                slot.ns = bindings_[i].ns;
                return slot.ns;
            }
        }
        malformedAt(at, "the namespace prefix '" + std::string(prefix) + "' is not declared");
    }

    template <class Handler>
    void deliver(const char* p, const char* e, bool plain, Handler& h) {
        if (depth_ == 0) {
            for (const char* q = p; q < e; ++q)
                if (!(cls(*q) & kSpace)) malformedAt(q, "text outside the root element");
            return;
        }
        if (plain) {
            if (h.wantText) h.onText(*this, std::string_view(p, size_t(e - p)));
            return;
        }
        text_.clear();
        if (const char* bad = appendDecoded(p, e, text_, false))
            malformedAt(bad, "a malformed reference");
        if (h.wantText) h.onText(*this, text_);
    }

    // Text up to the next '<', or to the end of the buffer when there is none in it.
    template <class Source, class Handler>
    [[gnu::always_inline]] void text(Source& src, Handler& h) {
        char* p = pos_;
        char* q = p;
        bool plain = true;
        for (;;) {
            while (!(cls(*q) & kInText)) ++q;
            if (*q == '<') break;
            if (*q == '\0') {
                if (q != end_) malformedAt(q, "a NUL character");
                break;
            }
            plain = false;
            ++q;
        }
        char* stop = q;
        if (q == end_) {
            // A reference or a CR LF pair may go on in the next piece.
            auto* amp = static_cast<char*>(memrchr(p, '&', size_t(stop - p)));
            if (amp && stop - amp < 40 && !memchr(amp, ';', size_t(stop - amp))) stop = amp;
            if (stop > p && stop[-1] == '\r') --stop;
            if (stop == p) {
                if (more(src)) return;
                p = pos_;  // more() may have moved the buffer
                stop = end_;
            }
        }
        deliver(p, stop, plain, h);
        pos_ = stop;
    }

    static const char* find(const char* p, const char* e, std::string_view what) {
        std::string_view hay(p, size_t(e - p));
        size_t at = hay.find(what);
        return at == std::string_view::npos ? nullptr : p + at;
    }

    // Each returns the end of the token, or nullptr when the buffer ends inside it (then
    // nothing has been done yet and the token is read again with more data).
    template <class Handler>
    [[gnu::always_inline]] const char* tag(Handler& h) {
        const char* p = pos_ + 1;
        const char* e = end_;
        if (*p == '/') return endTag(h);
        if (*p == '?') {
            const char* q = find(p, e, "?>");
            return q ? q + 2 : nullptr;
        }
        if (*p == '!') return special(h);
        return startTag(h);
    }

    template <class Handler>
    const char* special(Handler& h) {
        const char* p = pos_ + 1;
        const char* e = end_;
        if (e - p < 3) return nullptr;
        if (p[1] == '-' && p[2] == '-') {
            const char* q = find(p + 3, e, "-->");
            return q ? q + 3 : nullptr;
        }
        if (e - p < 8) return nullptr;
        if (memcmp(p, "![CDATA[", 8) == 0) {
            const char* q = find(p + 8, e, "]]>");
            if (!q) return nullptr;
            if (depth_ == 0) malformed("a CDATA section outside the root element");
            if (h.wantText) h.onText(*this, std::string_view(p + 8, size_t(q - p - 8)));
            return q + 3;
        }
        if (memcmp(p, "!DOCTYPE", 8) == 0)
            malformed("a document type declaration, which a package part may not hold");
        malformed("'<!' that starts no comment or section");
    }

    // A name from p; colon is set to its first ':', if any. Ends at the first character
    // that cannot be in a name.
    static const char* name(const char* p, const char*& colon) {
        colon = nullptr;
        for (;;) {
            while (!(cls(*p) & (kEndsName | kColon))) ++p;
            if (*p != ':') return p;
            if (!colon) colon = p;
            ++p;
        }
    }

    static void setName(Attr& a, const char* n0, const char* colon, const char* n1) {
        if (colon) {
            a.prefix = std::string_view(n0, size_t(colon - n0));
            a.local = std::string_view(colon + 1, size_t(n1 - colon - 1));
        } else {
            a.prefix = {};
            a.local = std::string_view(n0, size_t(n1 - n0));
        }
    }

    template <class Handler>
    [[gnu::always_inline]] const char* startTag(Handler& h) {
        const char* p = pos_ + 1;
        const char* n0 = p;
        const char* colon;
        p = name(p, colon);
        if (*p == '\0') return atNul(p);
        if (p == n0) malformedAt(p, "'<' that starts no tag");
        const char* n1 = p;
        size_t count = 0;
        bool empty = false;
        for (;;) {
            const char* w = p;
            while (cls(*p) & kSpace) ++p;
            char c = *p;
            if (c == '>') {
                ++p;
                break;
            }
            if (c == '/') {
                if (p[1] == '\0') return atNul(p + 1);
                if (p[1] != '>') malformedAt(p, "'/' inside a tag");
                p += 2;
                empty = true;
                break;
            }
            if (c == '\0') return atNul(p);
            if (w == p) malformedAt(p, "an attribute that does not follow a blank");
            const char* a0 = p;
            const char* acolon;
            p = name(p, acolon);
            if (*p == '\0') return atNul(p);
            if (p == a0) malformedAt(p, "a stray character inside a tag");
            const char* a1 = p;
            while (cls(*p) & kSpace) ++p;
            if (*p != '=') {
                if (*p == '\0') return atNul(p);
                malformedAt(p, "an attribute without '='");
            }
            ++p;
            while (cls(*p) & kSpace) ++p;
            char quote = *p;
            if (quote != '"' && quote != '\'') {
                if (quote == '\0') return atNul(p);
                malformedAt(p, "an attribute value without quotes");
            }
            const char* v0 = ++p;
            bool plain = true;
            for (;;) {
                while (!(cls(*p) & kInValue)) ++p;
                char d = *p;
                if (d == quote) break;
                if (d == '\0') return atNul(p);
                if (d == '<') malformedAt(p, "'<' inside an attribute value");
                if (d != '"' && d != '\'') plain = false;
                ++p;
            }
            if (count == attrs_.size()) {
                if (count >= kMaxAttributes) malformedAt(a0, "too many attributes on one element");
                attrs_.resize(count * 2 + 8);
            }
            Attr& a = attrs_[count++];
            setName(a, a0, acolon, a1);
            a.raw = std::string_view(v0, size_t(p - v0));
            a.plain = plain;
            a.ns = Ns::None;
            ++p;
        }
        open(h, n0, colon, n1, count, empty);
        return p;
    }

    template <class Handler>
    [[gnu::always_inline]] void open(Handler& h, const char* n0, const char* colon, const char* n1,
                                     size_t count, bool empty) {
        if (depth_ == 0 && rootDone_) malformed("a second root element");
        if (depth_ >= kMaxDepth || namesLen_ + size_t(n1 - n0) > kMaxNames)
            malformed("elements nested too deep");
        Frame f{uint32_t(namesLen_),
                uint32_t(n1 - n0),
                uint32_t(bindings_.size()),
                colon ? uint32_t(colon + 1 - n0) : 0,
                Ns::None,
                defaultNs_};
        bool prefixed = false;
        for (size_t i = 0; i < count; ++i) {
            Attr& a = attrs_[i];
            if (a.prefix.empty()) {
                if (a.local.size() != 5 || a.local != "xmlns") continue;
                a.ns = Ns::Xmlns;
                defaultNs_ = namespaceOf(value(&a, scratch_));
            } else if (a.prefix.size() == 5 && a.prefix == "xmlns") {
                a.ns = Ns::Xmlns;
                Ns ns = namespaceOf(value(&a, scratch_));
                if (ns == Ns::None) malformed("an empty namespace name for a prefix");
                if (bindings_.size() >= kMaxBindings) malformed("too many namespace declarations");
                bindings_.push_back({std::string(a.local), ns});
                ++gen_;
            } else {
                prefixed = true;
            }
        }
        if (prefixed)
            for (size_t i = 0; i < count; ++i)
                if (attrs_[i].ns != Ns::Xmlns && !attrs_[i].prefix.empty())
                    attrs_[i].ns = lookup(attrs_[i].prefix, pos_);
        std::string_view local(n0 + f.localOff, size_t(n1 - n0) - f.localOff);
        if (local.empty()) malformed("an element name that ends in ':'");
        f.ns = colon && colon != n0 ? lookup(std::string_view(n0, size_t(colon - n0)), pos_)
                                    : defaultNs_;
        if (namesLen_ + size_t(n1 - n0) > names_.size()) names_.resize(names_.size() * 2 + 256);
        memcpy(names_.data() + namesLen_, n0, size_t(n1 - n0));
        namesLen_ += size_t(n1 - n0);
        if (depth_ == stack_.size()) stack_.resize(depth_ * 2 + 16);
        stack_[depth_++] = f;
        rootSeen_ = true;
        h.onStart(*this, Element{f.ns, local, attrs_.data(), count});
        if (empty) close(h);
    }

    template <class Handler>
    [[gnu::always_inline]] void close(Handler& h) {
        const Frame& f = stack_[depth_ - 1];
        h.onEnd(*this, f.ns,
                std::string_view(names_.data() + f.nameOff + f.localOff, f.nameLen - f.localOff));
        namesLen_ = f.nameOff;
        if (bindings_.size() != f.bindings) {
            bindings_.resize(f.bindings);
            ++gen_;
        }
        defaultNs_ = f.outerDefault;
        if (--depth_ == 0) rootDone_ = true;
    }

    template <class Handler>
    [[gnu::always_inline]] const char* endTag(Handler& h) {
        const char* p = pos_ + 2;
        const char* n0 = p;
        const char* colon;
        p = name(p, colon);
        const char* n1 = p;
        while (cls(*p) & kSpace) ++p;
        if (*p != '>') {
            if (*p == '\0') return atNul(p);
            malformedAt(p, "a stray character in an end tag");
        }
        std::string_view qname(n0, size_t(n1 - n0));
        if (depth_ == 0) malformed("</" + std::string(qname) + "> closes no element");
        const Frame& f = stack_[depth_ - 1];
        std::string_view open(names_.data() + f.nameOff, f.nameLen);
        if (open != qname)
            malformed("</" + std::string(qname) + "> where </" + std::string(open) +
                      "> should close <" + std::string(open) + ">");
        close(h);
        return p + 1;
    }

    std::string part_;
    std::unique_ptr<char[]> buf_;
    size_t cap_ = 0;
    char* pos_ = nullptr;
    char* end_ = nullptr;
    bool eof_ = false;
    bool stopped_ = false;
    bool rootSeen_ = false;
    bool rootDone_ = false;
    uint64_t lines_ = 0;   // line ends before buf_
    uint64_t column_ = 0;  // column of buf_[0]
    // The open elements, and their qualified names back to back; sizes kept by hand so that
    // a push is a store, not a call.
    std::vector<Frame> stack_;
    size_t depth_ = 0;
    std::string names_;
    size_t namesLen_ = 0;
    std::vector<Attr> attrs_;
    std::vector<Binding> bindings_{{"xml", Ns::Xml}};
    Ns defaultNs_ = Ns::None;
    uint64_t gen_ = 1;
    std::array<CacheSlot, 16> cache_;
    std::string text_, scratch_;
};

template <class Source, class Handler>
void Scanner::run(Source& src, Handler& h) {
    cap_ = size_t(256) << 10;
    buf_ = std::make_unique<char[]>(cap_ + 1);
    pos_ = end_ = buf_.get();
    *end_ = '\0';
    while (end_ - pos_ < 4 && more(src)) {
    }
    auto u = [&](int i) { return end_ - pos_ > i ? static_cast<unsigned char>(pos_[i]) : 0x100u; };
    if ((u(0) == 0xFE && u(1) == 0xFF) || (u(0) == 0xFF && u(1) == 0xFE) ||
        (u(0) == '<' && u(1) == 0) || (u(0) == 0 && u(1) == '<'))
        throw ReadError("its part " + part_ + " is in UTF-16, which cannot be read");
    if (u(0) == 0xEF && u(1) == 0xBB && u(2) == 0xBF) pos_ += 3;
    while (!stopped_) {
        if (*pos_ != '<') {
            if (pos_ == end_) {
                if (!more(src)) break;
                continue;
            }
            text(src, h);
            continue;
        }
        const char* next = tag(h);
        if (!next) {
            if (!more(src)) malformed("the part ends inside a tag");
            continue;
        }
        pos_ = const_cast<char*>(next);
    }
    if (stopped_) return;
    if (depth_ != 0) {
        const Frame& f = stack_[depth_ - 1];
        malformed("the part ends before <" + names_.substr(f.nameOff, f.nameLen) + "> is closed");
    }
    if (!rootSeen_) malformed("no element at all");
}

}  // namespace kordb::xml

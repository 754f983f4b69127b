#include "core/text.h"

#include <QString>

#include <algorithm>
#include <ctime>

namespace kordb {

namespace {
bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}
QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}
char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
}  // namespace

std::string trimBlanks(std::string_view s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(' ');
    return std::string(s.substr(b, e - b + 1));
}

std::string toUpper(std::string_view s) {
    if (isAscii(s)) {
        std::string r(s);
        for (char& c : r) c = asciiUpper(c);
        return r;
    }
    return q(s).toUpper().toStdString();
}

int compareNoCase(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) {
        size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            // Folded to lower case, as Qt folds the non-ASCII case: one order for both.
            char x = asciiLower(a[i]), y = asciiLower(b[i]);
            if (x != y) return (unsigned char)x < (unsigned char)y ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
    }
    int c = QString::compare(q(a), q(b), Qt::CaseInsensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return compareNoCase(a, b) == 0;
}

std::string foldCase(std::string_view s) {
    if (isAscii(s)) {
        std::string r(s);
        for (char& c : r) c = asciiLower(c);
        return r;
    }
    return q(s).toCaseFolded().toStdString();
}

std::u16string toUtf16(std::string_view utf8) {
    QString s = q(utf8);
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size()));
}

std::string toUtf8(std::u16string_view utf16) {
    return QString::fromUtf16(utf16.data(), qsizetype(utf16.size())).toStdString();
}

std::string localTimeText(const char* strftimeFormat) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char buf[64];
    size_t n = std::strftime(buf, sizeof buf, strftimeFormat, &local);
    return std::string(buf, n);
}

}  // namespace kordb

// Which reader a file needs, told by its content: a name ending in .xls proves nothing.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "source/cells.h"

namespace kordb {

namespace {

// Larger files are refused before they are read into memory.
constexpr uintmax_t kMaxFileBytes = uintmax_t(1) << 30;

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

// What a file that is no workbook looks like, for the message.
std::string describe(std::string_view head) {
    std::string_view s = head;
    if (startsWith(s, "\xEF\xBB\xBF")) s.remove_prefix(3);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    if (startsWith(s, "%PDF")) return "a PDF document";
    if (startsWith(s, "{\\rtf")) return "an RTF document";
    if (startsWithNoCase(s, "<!doctype html") || startsWithNoCase(s, "<html"))
        return "a web page (HTML): save it from the spreadsheet as .xlsx or .xls";
    if (startsWith(s, "<?xml") || startsWith(s, "<"))
        return "an XML file (such as an Excel 2003 XML spreadsheet): save it as .xlsx or .xls";
    if (startsWith(head, "\x1F\x8B")) return "a gzip archive";
    if (startsWith(head, "Rar!")) return "a RAR archive";
    if (startsWith(head, "7z\xBC\xAF")) return "a 7-Zip archive";
    if (startsWith(head, "\x89PNG") || startsWith(head, "\xFF\xD8\xFF") || startsWith(head, "GIF8"))
        return "a picture";
    if (startsWith(head, "SQLite format 3")) return "an SQLite database";
    bool text = std::all_of(head.begin(), head.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u >= 0x20 || u == '\t' || u == '\n' || u == '\r' || u >= 0x80;
    });
    if (text) return "a text file (such as CSV): save it as .xlsx or .xls";
    return "a file of no kind the tool reads";
}

}  // namespace

std::unique_ptr<WorkbookReader> openWorkbookReader(const std::string& path) {
    std::error_code ec;
    auto size = std::filesystem::file_size(std::filesystem::u8path(path), ec);
    if (!ec && size > kMaxFileBytes)
        throw ReadError("it is larger than " + std::to_string(kMaxFileBytes >> 20) +
                        " MB, more than a workbook the tool reads");
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) throw ReadError(std::string("it cannot be opened: ") + std::strerror(errno));
    std::string bytes;
    if (!ec) bytes.reserve(size_t(size));
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.append(chunk, size_t(in.gcount()));
        if (bytes.size() > kMaxFileBytes)
            throw ReadError("it is larger than " + std::to_string(kMaxFileBytes >> 20) +
                            " MB, more than a workbook the tool reads");
    }
    if (in.bad()) throw ReadError("it cannot be read from the disk");
    if (bytes.empty()) throw ReadError("it is an empty file, not a workbook");

    std::string_view head(bytes.data(), std::min<size_t>(bytes.size(), 512));
    if (startsWith(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return openXlsReader(std::move(bytes));
    if (startsWith(head, "PK\x03\x04") || startsWith(head, "PK\x05\x06"))
        return openPackageReader(std::move(bytes));
    // A bare BIFF stream: the BOF records of Excel 2.1 to 5.0, which saved no compound file.
    if (head.size() >= 4 && head[0] == '\x09' &&
        (head[1] == '\x00' || head[1] == '\x02' || head[1] == '\x04' || head[1] == '\x08'))
        throw ReadError(
            "it is an Excel 5.0/95 or older workbook: save it as Excel 97-2003 (.xls) or .xlsx");
    throw ReadError("it is not a workbook: it looks like " + describe(head));
}

}  // namespace kordb

#include "settings/settings_store.h"

#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/errors.h"
#include "core/text.h"

namespace kordb {

namespace fs = std::filesystem;

namespace {

constexpr long kStoreError = errnum::kPathFileAccess;

std::vector<std::string> readLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::error_code ec;
        if (!fs::exists(file, ec)) return lines;
        throw KorError(kStoreError, "Settings file '" + file.string() +
                                        "' cannot be read: " + std::strerror(errno) + ".");
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool isSection(const std::string& line, std::string* name) {
    std::string t = trimBlanks(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    if (name) *name = t.substr(1, t.size() - 2);
    return true;
}

// Splits "key=value"; the value is kept exactly, blanks included.
bool splitEntry(const std::string& line, std::string* key, std::string* value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    *key = trimBlanks(line.substr(0, eq));
    *value = line.substr(eq + 1);
    return true;
}

void writeOwnerOnly(const fs::path& file, const std::string& content) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    fs::path tmp = file;
    tmp += ".tmp";
#ifndef _WIN32
    // Created 0600 from the first byte: the password never sits in a readable file.
    ::unlink(tmp.c_str());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC, 0600);
    if (fd < 0)
        throw KorError(kStoreError, "Settings file '" + file.string() +
                                        "' cannot be written: " + std::strerror(errno) + ".");
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            throw KorError(kStoreError, "Settings file '" + file.string() +
                                            "' cannot be written: " + std::strerror(e) + ".");
        }
        p += n;
        left -= size_t(n);
    }
    ::fsync(fd);
    ::close(fd);
    if (::rename(tmp.c_str(), file.c_str()) != 0) {
        int e = errno;
        ::unlink(tmp.c_str());
        throw KorError(kStoreError, "Settings file '" + file.string() +
                                        "' cannot be written: " + std::strerror(e) + ".");
    }
#else
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out)
            throw KorError(kStoreError, "Settings file '" + file.string() + "' cannot be written.");
    }
    fs::rename(tmp, file, ec);
    if (ec)
        throw KorError(kStoreError,
                       "Settings file '" + file.string() + "' cannot be written: " + ec.message());
#endif
}

}  // namespace

SettingsStore::SettingsStore(fs::path folder) : folder_(std::move(folder)) {
    if (folder_.empty())
        folder_ = fs::path(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                               .toStdU16String());
}

fs::path SettingsStore::fileFor(const std::string& app) const {
    return folder_ / (app + ".ini");
}

std::string SettingsStore::get(const std::string& app, const std::string& section,
                               const std::string& key) const {
    std::string current, k, v;
    for (const std::string& line : readLines(fileFor(app))) {
        if (isSection(line, &current)) continue;
        if (equalsNoCase(current, section) && splitEntry(line, &k, &v) && equalsNoCase(k, key))
            return v;
    }
    return {};
}

void SettingsStore::save(const std::string& app, const std::string& section, const std::string& key,
                         const std::string& value) {
    fs::path file = fileFor(app);
    std::vector<std::string> lines = readLines(file);
    std::string current, k, v;
    bool done = false;
    long sectionEnd = -1;  // index after the last line of the wanted section
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        if (isSection(lines[i], &current)) continue;
        if (!equalsNoCase(current, section)) continue;
        sectionEnd = long(i) + 1;
        if (splitEntry(lines[i], &k, &v) && equalsNoCase(k, key)) {
            lines[i] = key + "=" + value;
            done = true;
        }
    }
    if (!done) {
        if (sectionEnd < 0) {
            // Section header may exist with no entries yet.
            for (size_t i = 0; i < lines.size(); ++i)
                if (isSection(lines[i], &current) && equalsNoCase(current, section))
                    sectionEnd = long(i) + 1;
        }
        if (sectionEnd < 0) {
            lines.push_back("[" + section + "]");
            lines.push_back(key + "=" + value);
        } else {
            lines.insert(lines.begin() + sectionEnd, key + "=" + value);
        }
    }
    std::ostringstream out;
    for (const std::string& line : lines) out << line << '\n';
    writeOwnerOnly(file, out.str());
}

}  // namespace kordb

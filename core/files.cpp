#include "core/files.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <cstdio>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kordb {

namespace fs = std::filesystem;

std::string fittedFileName(const std::string& head, const std::string& tail) {
    constexpr size_t kNameMax = 255, kMark = 9;  // "~" and eight hexadecimal digits
    if (head.size() + tail.size() <= kNameMax) return head + tail;
    uint32_t hash = 2166136261u;  // FNV-1a: the same on every platform and build
    for (unsigned char c : head) hash = (hash ^ c) * 16777619u;
    size_t keep = kNameMax > tail.size() + kMark ? kNameMax - tail.size() - kMark : 0;
    keep = std::min(keep, head.size());
    while (keep > 0 && (static_cast<unsigned char>(head[keep]) & 0xC0) == 0x80) --keep;
    char mark[kMark + 1];
    std::snprintf(mark, sizeof mark, "~%08x", unsigned(hash));
    return head.substr(0, keep) + mark + tail;
}

std::FILE* openPrivate(const std::filesystem::path& file, bool exclusive) {
#ifdef _WIN32
    // A new file inherits the per-user folder's access list, which is the user's own.
    return _wfopen(file.c_str(), exclusive ? L"wbx" : L"ab");
#else
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_APPEND);
    int fd = ::open(file.c_str(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0) return nullptr;
    // A file an earlier release made may be open to others; it holds the same kind of data.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::fchmod(fd, S_IRUSR | S_IWUSR);
    std::FILE* f = ::fdopen(fd, exclusive ? "wb" : "ab");
    if (!f) ::close(fd);
    return f;
#endif
}

std::filesystem::path pathFromUtf8(const std::string& s) {
    return std::filesystem::path(std::u8string(s.begin(), s.end()));
}

std::string pathToUtf8(const std::filesystem::path& p) {
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

bool isSystemFolder(const fs::path& folder) {
#ifdef _WIN32
    (void)folder;
    return false;
#else
    std::error_code ec;
    fs::path p = fs::weakly_canonical(folder, ec);
    if (ec) p = folder.lexically_normal();
    for (const char* name : {"/usr", "/opt", "/bin", "/sbin", "/lib", "/lib64", "/snap", "/app"}) {
        fs::path prefix(name);
        if (std::mismatch(prefix.begin(), prefix.end(), p.begin(), p.end()).first == prefix.end())
            return true;
    }
    return false;
#endif
}

fs::path errorFileFolder(const fs::path& programFolder) {
    std::error_code ec;
#ifndef _WIN32
    // Root can write anywhere: a writable system folder still is not the program's to fill.
    if (!programFolder.empty() && !isSystemFolder(programFolder) &&
        ::access(programFolder.c_str(), W_OK) == 0)
        return programFolder;
#else
    if (!programFolder.empty()) {
        fs::path probe = programFolder / ".kordb-write-test";
        std::ofstream out(probe);
        if (out) {
            out.close();
            fs::remove(probe, ec);
            return programFolder;
        }
    }
#endif
    fs::path data = fs::path(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                 .toStdU16String()) /
                    "KORDB";
    fs::create_directories(data, ec);
    return data;
}

fs::path executableFolder() {
    std::error_code ec;
#ifdef _WIN32
    wchar_t buf[32768];
    DWORD n = GetModuleFileNameW(nullptr, buf, DWORD(std::size(buf)));
    if (n > 0 && n < std::size(buf)) return fs::path(std::wstring(buf, n)).parent_path();
#else
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.parent_path();
#endif
    if (QCoreApplication::instance())
        return fs::path(QCoreApplication::applicationDirPath().toStdU16String());
    return fs::current_path(ec);
}

}  // namespace kordb

#include "core/files.h"

#ifdef _WIN32
#include <cstdio>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kordb {

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

}  // namespace kordb

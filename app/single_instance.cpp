#include "app/single_instance.h"

#include <QDir>
#include <QLockFile>
#include <QString>

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kordb {

namespace fs = std::filesystem;

namespace {

const char* const kLockName = "kordb.lock";

#ifndef _WIN32
// A folder only this user can write to, so that nobody else can hold or fake the lock.
bool isPrivateFolder(const fs::path& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 022) == 0;
}
#endif

}  // namespace

fs::path instanceLockFile() {
#ifndef _WIN32
    // QStandardPaths would warn on stderr about a missing or loose runtime folder; a second
    // start has to stay silent, so the folder is chosen here.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        fs::path dir = runtime;
        if (isPrivateFolder(dir)) return dir / kLockName;
    }
    fs::path dir =
        fs::path(QDir::tempPath().toStdString()) / ("kordb-runtime-" + std::to_string(::getuid()));
    ::mkdir(dir.c_str(), 0700);
    if (isPrivateFolder(dir)) return dir / kLockName;
    return {};
#else
    return fs::path(QDir::tempPath().toStdWString()) / kLockName;  // %TEMP% is per user
#endif
}

SingleInstance::SingleInstance(const fs::path& lockFile) {
    if (lockFile.empty()) return;
    lock_ = std::make_unique<QLockFile>(QString::fromStdU16String(lockFile.u16string()));
    // Only a dead holder makes the lock stale, never its age: where the file system has no
    // native locks, age alone would hand it to a second start once the first had run a while.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) return;
    another_ = lock_->error() == QLockFile::LockFailedError;
    lock_.reset();
}

SingleInstance::~SingleInstance() = default;

}  // namespace kordb

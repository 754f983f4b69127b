#pragma once
// The single-instance test: a lock file in the user's runtime folder, held while the program
// runs. A holder that died without removing it (a crash, a kill) leaves a file the next start
// recognises as stale, since its process is gone, and takes over.

#include <filesystem>
#include <memory>

class QLockFile;

namespace kordb {

// Where the lock lives for the running user; empty when no private folder can be had.
std::filesystem::path instanceLockFile();

class SingleInstance {
  public:
    explicit SingleInstance(const std::filesystem::path& lockFile = instanceLockFile());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when a live process of this program holds the lock. When the lock cannot be
    // used at all this says false: better a second window than no window.
    bool anotherRunning() const { return another_; }

  private:
    std::unique_ptr<QLockFile> lock_;
    bool another_ = false;
};

}  // namespace kordb

#pragma once
// A zip package held in memory (.xlsx, .xlsm, .ods): its parts by name, each inflated as a
// stream with a bound, so that no part, however it was made, can exhaust memory.

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

struct zip;
struct zip_file;

namespace kordb {

class ZipPackage {
  public:
    // No part may inflate beyond this: a bigger one is a zip bomb, not a workbook.
    static constexpr uint64_t kMaxPartSize = uint64_t(1) << 30;

    // Throws ReadError when bytes are no zip archive or its directory is damaged.
    explicit ZipPackage(std::string bytes);
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    // The entry of a part (a leading '/' and letter case do not matter), or -1.
    int64_t find(std::string_view name) const;
    bool has(std::string_view name) const { return find(name) >= 0; }
    const std::string& name(int64_t entry) const { return names_[size_t(entry)]; }
    // A small part whole (at most limit bytes, else ReadError).
    std::string read(int64_t entry, size_t limit);

    // Inflates one part piece by piece; throws ReadError where the data is damaged.
    class Stream {
      public:
        Stream(ZipPackage& zip, int64_t entry);
        ~Stream();
        Stream(const Stream&) = delete;
        Stream& operator=(const Stream&) = delete;
        // Up to n bytes into dst; 0 at the end of the part.
        size_t read(char* dst, size_t n);
        const std::string& part() const { return part_; }
        uint64_t size() const { return size_; }  // as the directory declares it

      private:
        [[noreturn]] void fail();
        zip_file* file_ = nullptr;
        std::string part_;
        uint64_t size_ = 0;
        uint64_t done_ = 0;
        bool end_ = false;
    };

  private:
    std::string bytes_;
    zip* zip_ = nullptr;
    std::vector<std::string> names_;
    std::unordered_map<std::string, int64_t> index_;  // folded name -> entry
};

// Inflates a part on a second thread, a few blocks ahead of its reader, so that inflating
// and parsing a big part overlap. Damage found ahead is thrown where the reader reaches it.
class Prefetch {
  public:
    explicit Prefetch(ZipPackage::Stream& stream);  // std::system_error: no thread to be had
    ~Prefetch();
    Prefetch(const Prefetch&) = delete;
    Prefetch& operator=(const Prefetch&) = delete;
    size_t read(char* dst, size_t n);

  private:
    static constexpr size_t kBlock = size_t(1) << 20, kBlocks = 4;
    struct Block {
        std::unique_ptr<char[]> data;
        size_t size = 0;
    };
    void produce();

    ZipPackage::Stream& stream_;
    Block blocks_[kBlocks];
    std::mutex mutex_;
    std::condition_variable filledCv_, freedCv_;
    size_t first_ = 0, filled_ = 0;  // the reader's block, and blocks ready from it on
    size_t offset_ = 0;              // read so far in blocks_[first_]
    bool holding_ = false;           // the reader is reading blocks_[first_]
    bool done_ = false, cancel_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

}  // namespace kordb

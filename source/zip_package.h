#pragma once
// A zip package held in memory (.xlsx, .xlsm, .ods): its parts by name, each inflated as a
// stream with a bound, so that no part, however it was made, can exhaust memory.

#include <cstdint>
#include <string>
#include <string_view>
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

      private:
        [[noreturn]] void fail();
        zip_file* file_ = nullptr;
        std::string part_;
        uint64_t size_ = 0;  // as the directory declares it
        uint64_t done_ = 0;
        bool end_ = false;
    };

  private:
    std::string bytes_;
    zip* zip_ = nullptr;
    std::vector<std::string> names_;
    std::unordered_map<std::string, int64_t> index_;  // folded name -> entry
};

}  // namespace kordb

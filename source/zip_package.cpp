#include "source/zip_package.h"

#include <zip.h>

#include <algorithm>
#include <cstring>

#include "source/cells.h"

namespace kordb {

namespace {

// Part names in a package are case-blind URIs; some writers store them with a leading
// slash or with backslashes.
std::string fold(std::string_view name) {
    while (!name.empty() && (name.front() == '/' || name.front() == '\\')) name.remove_prefix(1);
    std::string out(name);
    for (char& c : out) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        int hi, lo;
        if (s[i] == '%' && i + 2 < s.size() && (hi = hexDigit(s[i + 1])) >= 0 &&
            (lo = hexDigit(s[i + 2])) >= 0) {
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

ZipPackage::ZipPackage(std::string bytes) : bytes_(std::move(bytes)) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes_.data(), bytes_.size(), 0, &error);
    if (source) {
        zip_ = zip_open_from_source(source, ZIP_RDONLY, &error);
        if (!zip_) zip_source_free(source);
    }
    if (!zip_) {
        int code = zip_error_code_zip(&error);
        zip_error_fini(&error);
        switch (code) {
            case ZIP_ER_NOZIP:
                if (bytes_.compare(0, 2, "PK") == 0)
                    throw ReadError(
                        "it is damaged: the directory at the end of the zip archive is missing "
                        "(the file may be cut short)");
                throw ReadError("it is not a zip archive");
            case ZIP_ER_MULTIDISK:
                throw ReadError("it is a zip archive split over several files");
            case ZIP_ER_MEMORY:
                throw ReadError("there is not enough memory to read it");
            default:
                throw ReadError("it is damaged: the directory of the zip archive is inconsistent");
        }
    }
    zip_error_fini(&error);
    zip_int64_t n = zip_get_num_entries(zip_, 0);
    names_.reserve(size_t(n > 0 ? n : 0));
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* name = zip_get_name(zip_, zip_uint64_t(i), 0);
        names_.emplace_back(name ? name : "");
        // The first of two entries of one name wins, as other readers do.
        index_.emplace(fold(names_.back()), i);
    }
}

ZipPackage::~ZipPackage() {
    if (zip_) zip_discard(zip_);
}

int64_t ZipPackage::find(std::string_view name) const {
    auto it = index_.find(fold(name));
    if (it != index_.end()) return it->second;
    if (name.find('%') != std::string_view::npos) {
        it = index_.find(fold(percentDecoded(name)));
        if (it != index_.end()) return it->second;
    }
    return -1;
}

std::string ZipPackage::read(int64_t entry, size_t limit) {
    Stream s(*this, entry);
    std::string out;
    char buf[16384];
    while (size_t n = s.read(buf, sizeof buf)) {
        if (out.size() + n > limit)
            throw ReadError("it is damaged: its part " + s.part() +
                            " is far larger than it can be");
        out.append(buf, n);
    }
    return out;
}

ZipPackage::Stream::Stream(ZipPackage& zip, int64_t entry) : part_(zip.name(entry)) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip.zip_, zip_uint64_t(entry), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
        throw ReadError("it is damaged: the zip directory entry of " + part_ + " cannot be read");
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        throw ReadError("it is encrypted: its part " + part_ + " needs a password");
    size_ = st.size;
    if (size_ > kMaxPartSize)
        throw ReadError("its part " + part_ + " would inflate to " + std::to_string(size_ >> 20) +
                        " MiB, more than the " + std::to_string(kMaxPartSize >> 20) +
                        " MiB a workbook part may have (a zip bomb?)");
    file_ = zip_fopen_index(zip.zip_, zip_uint64_t(entry), 0);
    if (!file_) {
        int code = zip_error_code_zip(zip_get_error(zip.zip_));
        if (code == ZIP_ER_COMPNOTSUPP)
            throw ReadError("its part " + part_ +
                            " is compressed with a method that cannot be read");
        if (code == ZIP_ER_ENCRNOTSUPP || code == ZIP_ER_NOPASSWD)
            throw ReadError("it is encrypted: its part " + part_ + " needs a password");
        throw ReadError("it is damaged: its part " + part_ + " cannot be found where the zip " +
                        "directory says it is");
    }
}

ZipPackage::Stream::~Stream() {
    if (file_) zip_fclose(file_);
}

void ZipPackage::Stream::fail() {
    int code = zip_error_code_zip(zip_file_get_error(file_));
    std::string where = "its part " + part_ + " breaks off after " + std::to_string(done_) +
                        " of " + std::to_string(size_) + " bytes";
    switch (code) {
        case ZIP_ER_CRC:
            throw ReadError("it is damaged: its part " + part_ + " fails its checksum");
        case ZIP_ER_MEMORY:
            throw ReadError("there is not enough memory to read it");
        case ZIP_ER_COMPNOTSUPP:
            throw ReadError("its part " + part_ +
                            " is compressed with a method that cannot be read");
        default:
            throw ReadError("it is damaged: " + where + " (the compressed data is invalid)");
    }
}

size_t ZipPackage::Stream::read(char* dst, size_t n) {
    if (end_ || n == 0) return 0;
    // Never more than one byte past the declared size: enough to tell a lying directory.
    uint64_t room = size_ - done_ + 1;
    if (n > room) n = size_t(room);
    zip_int64_t got = zip_fread(file_, dst, n);
    if (got < 0) fail();
    if (got == 0) {
        if (done_ != size_)
            throw ReadError("it is damaged: its part " + part_ + " breaks off after " +
                            std::to_string(done_) + " of " + std::to_string(size_) + " bytes");
        end_ = true;
        return 0;
    }
    done_ += uint64_t(got);
    if (done_ > size_)
        throw ReadError("it is damaged: its part " + part_ +
                        " inflates to more than the zip directory declares");
    return size_t(got);
}

Prefetch::Prefetch(ZipPackage::Stream& stream) : stream_(stream) {
    for (Block& b : blocks_) b.data = std::make_unique<char[]>(kBlock);
    thread_ = std::thread([this] { produce(); });
}

Prefetch::~Prefetch() {
    {
        std::lock_guard lock(mutex_);
        cancel_ = true;
    }
    freedCv_.notify_all();
    thread_.join();
}

void Prefetch::produce() {
    try {
        for (;;) {
            Block* b;
            {
                std::unique_lock lock(mutex_);
                freedCv_.wait(lock, [&] { return cancel_ || filled_ < kBlocks; });
                if (cancel_) return;
                b = &blocks_[(first_ + filled_) % kBlocks];
            }
            // The reader keeps off blocks not yet counted in filled_.
            size_t n = 0;
            while (n < kBlock) {
                size_t got = stream_.read(b->data.get() + n, kBlock - n);
                if (got == 0) break;
                n += got;
            }
            b->size = n;
            {
                std::lock_guard lock(mutex_);
                if (n) ++filled_;
                done_ = n < kBlock;
            }
            filledCv_.notify_one();
            if (n < kBlock) return;
        }
    } catch (...) {
        {
            std::lock_guard lock(mutex_);
            error_ = std::current_exception();
            done_ = true;
        }
        filledCv_.notify_one();
    }
}

size_t Prefetch::read(char* dst, size_t n) {
    for (;;) {
        if (holding_) {
            const Block& b = blocks_[first_];
            if (offset_ < b.size) {
                size_t k = std::min(n, b.size - offset_);
                memcpy(dst, b.data.get() + offset_, k);
                offset_ += k;
                return k;
            }
        }
        std::unique_lock lock(mutex_);
        if (holding_) {
            holding_ = false;
            offset_ = 0;
            first_ = (first_ + 1) % kBlocks;
            --filled_;
            freedCv_.notify_one();
        }
        filledCv_.wait(lock, [&] { return filled_ > 0 || done_; });
        if (filled_ > 0) {
            holding_ = true;
            continue;
        }
        if (error_) std::rethrow_exception(error_);
        return 0;
    }
}

}  // namespace kordb

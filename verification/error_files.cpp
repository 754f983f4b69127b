#include "verification/error_files.h"

#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "core/files.h"

namespace kordb {

namespace fs = std::filesystem;

namespace {

// Large enough that a worksheet's worth of lines costs a handful of writes.
constexpr size_t kBufferSize = 1 << 16;

// The value as error-file text (as Value::toText), without copying text twice.
void appendValue(std::string& line, const Value& v) {
    if (v.isText() || v.isDate())
        line += v.rawText();
    else
        line += v.toText();
}

}  // namespace

std::string modeFileSuffix(std::string_view checkMode) {
    return "_Migrate_" + std::string(checkMode) + ".txt";
}

void appendNullFileLine(std::string& line, const RowValues& columns) {
    for (int i = 0; i < columns.size(); ++i) {
        line += '\t';
        appendValue(line, columns[i]);
    }
}

void appendListingLine(std::string& line, const RowValues& keyAndColumns) {
    for (int i = 0; i < keyAndColumns.size(); ++i) {
        if (!line.empty()) line += '\t';
        appendValue(line, keyAndColumns[i]);
    }
}

void ErrorFileSink::rowWithoutKey(const RowValues& columns) {
    line_.clear();
    appendNullFileLine(line_, columns);
    files_.append(kNullFileSuffix, line_);
}

void ErrorFileSink::listedRow(ListingMode mode, bool badKey, const RowValues& keyAndColumns) {
    line_.clear();
    appendListingLine(line_, keyAndColumns);
    if (badKey) {
        files_.append(kCodeErrFileSuffix, line_);
    } else {
        static const std::string suffixes[] = {
            modeFileSuffix(listingModeName(ListingMode::Ok)),
            modeFileSuffix(listingModeName(ListingMode::Duplicate)),
            modeFileSuffix(listingModeName(ListingMode::PluErr))};
        files_.append(suffixes[int(mode)], line_);
    }
}

fs::path ErrorFileWriter::path(std::string_view suffix) const {
    return folder_ / pathFromUtf8(fittedFileName(title_, std::string(suffix)));
}

ErrorFileWriter::~ErrorFileWriter() {
    closeQuietly();
}

void ErrorFileWriter::fail(const std::string& what, int err) {
    std::string reason = err ? std::strerror(err) : "unknown fault";
    throw KorError(errnum::kPathFileAccess,
                   "Error file '" + pathToUtf8(path_) + "' " + what + ": " + reason + ".");
}

void ErrorFileWriter::append(std::string_view suffix, std::string_view line) {
    if (!file_ || suffix != suffix_) {
        close();
        suffix_ = suffix;
        path_ = path(suffix);
        errno = 0;
        file_ = openPrivate(path_, false);
        if (!file_) fail("cannot be opened for appending", errno);
        // The lines wait in pending_ instead, so that each write holds whole lines only.
        std::setvbuf(file_, nullptr, _IONBF, 0);
    }
    pending_ += line;
    pending_ += "\r\n";
    if (pending_.size() >= kBufferSize) writePending();
}

// One write of whole lines, which the system appends in one piece: another program appending
// to the same file at the same time (a second run, the same workbook title elsewhere) puts its
// lines between these, never inside one.
void ErrorFileWriter::writePending() {
    if (pending_.empty()) return;
    errno = 0;
    const bool written = std::fwrite(pending_.data(), 1, pending_.size(), file_) == pending_.size();
    pending_.clear();
    if (!written) fail("cannot be written", errno);
}

void ErrorFileWriter::close() {
    if (!file_) return;
    try {
        writePending();
    } catch (...) {
        closeQuietly();
        throw;
    }
    std::FILE* f = file_;
    file_ = nullptr;
    errno = 0;
    bool closed = std::fclose(f) == 0;
    if (!closed) fail("cannot be written", errno);
}

void ErrorFileWriter::closeQuietly() noexcept {
    if (!file_) return;
    if (!pending_.empty()) std::fwrite(pending_.data(), 1, pending_.size(), file_);
    pending_.clear();
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace kordb

#pragma once
// The error files of verification: one per check mode, named after the workbook, in the
// program's folder, appended to and never emptied; lines in UTF-8, ended by CR LF.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.h"
#include "verification/verify_sheet.h"

namespace kordb {

inline constexpr const char* kNullFileSuffix = "_Migrate_NULL.txt";
inline constexpr const char* kCodeErrFileSuffix = "_Migrate_CODEERR.txt";
// "_Migrate_" + check mode + ".txt"
std::string modeFileSuffix(std::string_view checkMode);

// The line of a row without a key: a tab before each of the sheet's columns, so it starts
// with one.
void appendNullFileLine(std::string& line, const RowValues& columns);
// The line of a listed row: its key, then the sheet's columns, tab-separated. While the line
// is empty the next value replaces it, so an empty key leaves no leading tab: files already
// written hold such lines.
void appendListingLine(std::string& line, const RowValues& keyAndColumns);

// Appends lines to the error files of one check. The file chosen last stays open while
// further lines go to it, since reopening it per row is far too slow for a full worksheet;
// only one file is open at any moment. Lines go to the file in writes of whole lines. close() puts
// every line on disk, so a check calls it before it returns, also on its error path.
class ErrorFileWriter {
  public:
    // folder, then workbookTitle followed by a file's suffix (the suffix alone when the path
    // was typed by hand and workbookTitle is empty).
    ErrorFileWriter(std::filesystem::path folder, std::string workbookTitle)
        : folder_(std::move(folder)), title_(std::move(workbookTitle)) {}
    ~ErrorFileWriter();
    ErrorFileWriter(const ErrorFileWriter&) = delete;
    ErrorFileWriter& operator=(const ErrorFileWriter&) = delete;

    std::filesystem::path path(std::string_view suffix) const;
    // Appends line and CR LF to the file named by suffix; throws KorError naming the file.
    void append(std::string_view suffix, std::string_view line);
    // Flushes and closes the open file; throws KorError naming it when its lines could not
    // all be written.
    void close();
    // close() for error paths: whatever can still be written is, and nothing is thrown.
    void closeQuietly() noexcept;

  private:
    [[noreturn]] void fail(const std::string& what, int err);
    void writePending();

    std::filesystem::path folder_;
    std::string title_;
    std::string suffix_;
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    std::string pending_;  // whole lines not yet written to file_
};

// The rows of a verification run, each as its line in its error file.
class ErrorFileSink : public VerifyRowSink {
  public:
    ErrorFileSink(std::filesystem::path folder, std::string workbookTitle)
        : files_(std::move(folder), std::move(workbookTitle)) {}

    void rowWithoutKey(const RowValues& columns) override;
    void listedRow(ListingMode mode, bool badKey, const RowValues& keyAndColumns) override;
    void checkDone() override { files_.close(); }
    void checkFailed() noexcept override { files_.closeQuietly(); }

  private:
    ErrorFileWriter files_;
    std::string line_;
};

}  // namespace kordb

#pragma once
// The error files of verification: one per check mode, named after the workbook, in the
// program's folder, appended to and never emptied; lines in UTF-8, ended by CR LF.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/state.h"

namespace kordb {

inline constexpr const char* kNullFileSuffix = "_Migrate_NULL.txt";
inline constexpr const char* kCodeErrFileSuffix = "_Migrate_CODEERR.txt";
// "_Migrate_" + check mode + ".txt"
std::string modeFileSuffix(std::string_view checkMode);

// The folder of error files, then WorkbookTitle followed by suffix (the suffix alone when the
// path was typed by hand and WorkbookTitle is empty).
std::filesystem::path errorFilePath(const Form& f, std::string_view suffix);

// Appends lines to the error files of one check. The file chosen last stays open while
// further lines go to it, since reopening it per row is far too slow for a full worksheet;
// only one file is open at any moment. close() puts every line on disk, so a check calls it
// before it returns, also on its error path.
class ErrorFileWriter {
  public:
    explicit ErrorFileWriter(const Form& f) : form_(f) {}
    ~ErrorFileWriter();
    ErrorFileWriter(const ErrorFileWriter&) = delete;
    ErrorFileWriter& operator=(const ErrorFileWriter&) = delete;

    // Appends line and CR LF to the file named by suffix; throws KorError naming the file.
    void append(std::string_view suffix, std::string_view line);
    // Flushes and closes the open file; throws KorError naming it when its lines could not
    // all be written.
    void close();
    // close() for error paths: whatever can still be written is, and nothing is thrown.
    void closeQuietly() noexcept;

  private:
    [[noreturn]] void fail(const std::string& what, int err);

    const Form& form_;
    std::string suffix_;
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
};

}  // namespace kordb

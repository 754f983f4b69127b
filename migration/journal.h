#pragma once
// The undo journal: before each write of a run, one JSON line saying what the write is about
// to change, handed to the system before the write is sent, so that the run can be taken back
// later, after a crash too. Lines, one object each:
//   {"journal":"kordb undo","version":1,"workbook":..,"sheet":..,"server":..,"database":..,
//    "started":"2024-05-01T10:00:00"[,"undoes":"other journal's file name"]}
//   {"seq":1,"row":2,"op":"insert","table":..,"keyColumn":..,"key":..,"new":{column:value..}}
//   {"seq":2,"row":2,"op":"update",..,"old":{..},"new":{..}}   (old: the assigned columns)
//   {"seq":3,"op":"delete",..,"old":{..}}                      (old: the whole row)
// Values are JSON null, numbers and strings; a date is {"date":"2024-05-01"}. "row" is the
// worksheet row as the operator counts it, absent for writes of an undo.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/value.h"

namespace kordb {

class DestRecordset;

inline constexpr const char* kJournalInfix = "_Migrate_UNDO_";

struct JournalHeader {
    std::string workbook;  // WorkbookTitle, which also begins the file name
    std::string sheet;
    std::string server;
    std::string database;
    std::string started;  // local time, ISO 8601
    std::string undoes;   // for an undo: the file name of the journal it takes back
};

class Journal {
  public:
    // Makes nothing yet: the file is made at the first write, in folder, named
    // workbook + "_Migrate_UNDO_" + local yyyymmdd-hhmmss + ".jsonl" ("-2", "-3", ... before
    // ".jsonl" when a run of the same second has the name already).
    Journal(std::filesystem::path folder, JournalHeader header);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Records the write rs is about to make: the insert of its new row or the change of the row
    // found. Throws KorError naming the file when the line cannot be written; the write must
    // then not be made.
    void recordWrite(DestRecordset& rs, long sheetRow);
    // Records the deletion of the row rs found, with all its values.
    void recordDelete(DestRecordset& rs);

    // The file, once made.
    const std::filesystem::path& path() const { return path_; }
    long entries() const { return seq_; }
    // Removes the file, for a run whose writes were all rolled back.
    void discard();

  private:
    void open();
    void append(std::string_view line);

    std::filesystem::path folder_;
    JournalHeader header_;
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    long seq_ = 0;
    std::string line_;
};

// A journal read back.
struct JournalEntry {
    enum class Op { Insert, Update, Delete };
    long line = 0;  // in the file, from 1
    long seq = 0;
    long row = 0;
    Op op = Op::Insert;
    std::string table;
    std::string keyColumn;
    Value key;
    std::vector<std::pair<std::string, Value>> oldValues;
    std::vector<std::pair<std::string, Value>> newValues;
};

struct JournalFile {
    std::filesystem::path path;
    JournalHeader header;
    std::vector<JournalEntry> entries;  // in the order written
};

// Reads a journal whole; throws KorError naming the file and the line when it is not one.
// A last line cut short by a crash is left out: its write was never sent.
JournalFile readJournal(const std::filesystem::path& file);

// Local date and time now: "yyyymmdd-hhmmss" for file names, ISO 8601 otherwise.
std::string localStamp(bool forFileName);

// Paths from and to UTF-8 text, whatever the platform's own encoding.
std::filesystem::path pathFromUtf8(const std::string& s);
std::string pathToUtf8(const std::filesystem::path& p);

}  // namespace kordb

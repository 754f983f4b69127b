#pragma once
// The undo journal: before each write of a run, one JSON line saying what the write is about
// to change, handed to the system before the write is sent, and after it one line saying
// whether it was stored; so that the run, and only what it stored, can be taken back later,
// after a crash too. Lines, one object each:
//   {"journal":"kordb undo","version":2,"workbook":..,"sheet":..,"dbms":..,"server":..,
//    "database":..,"identity":..,"atomic":false,"started":"2024-05-01T10:00:00"}
//   {"seq":1,"row":2,"op":"insert","table":..,"keyColumn":..,"key":..,"new":{column:value..}}
//   {"done":1}                     (or {"failed":1}: refused, nothing stored; an outcome
//                                  settles every write since the one before, a batch's too)
//   {"seq":2,"row":2,"op":"update",..,"old":{..},"new":{..}}   (the assigned columns)
//   {"committed":true}             (an atomic run's one transaction was committed)
// An insert's "new" holds the whole row as it will be stored (the columns the engine fills
// itself left out), so that undo can tell whether anybody changed it since. Values are JSON
// null, numbers written with every digit the column holds, strings, and dates as
// {"date":"2024-05-01T10:00:00.123"[,"stored":"the engine's own text"]}. "row" is the
// worksheet row as the operator counts it. An undo's own journal records its deletions as
// {"seq":..,"op":"delete",..,"old":{the whole row}}.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/files.h"
#include "core/value.h"
#include "settings/odbc.h"

namespace kordb {

class DestRecordset;

inline constexpr const char* kJournalInfix = "_Migrate_UNDO_";

struct JournalHeader {
    int version = 2;
    std::string workbook;  // WorkbookTitle
    std::string sheet;
    std::string dbms;
    std::string server;
    std::string database;
    std::string identity;  // what tells the database from a copy elsewhere, where known
    bool atomic = false;   // the run was one transaction
    std::string started;   // local time, ISO 8601
    std::string undoes;    // for an undo: the file name of the journal it takes back
};

class Journal {
  public:
    // Makes nothing yet: the file is made at the first write, in folder, named nameBase +
    // infix + local yyyymmdd-hhmmss + ".jsonl" ("-2", "-3", ... before ".jsonl" when a run of
    // the same second has the name already; nameBase shortened where the name would be too
    // long for a file), readable by its owner only: it holds every value written.
    Journal(std::filesystem::path folder, std::string nameBase, std::string infix,
            JournalHeader header);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Records the write rs is about to make: the insert of its new row or the change of the row
    // found. Throws KorError naming the file when the line cannot be written; the write must
    // then not be made.
    void recordWrite(DestRecordset& rs, long sheetRow);
    // Records the deletion of the row rs found, with all its values.
    void recordDelete(DestRecordset& rs);
    // Whether the writes recorded since the last outcome (one, or a batch's) were stored.
    // Never fails: a write whose outcome is missing is checked by undo before it acts.
    void recordOutcome(bool stored) noexcept;
    // The run's one transaction was committed.
    void recordCommitted();

    // While on, recorded lines wait in the program until flush(), for a batch whose writes are
    // sent together: one hand-over to the system a batch instead of one a row.
    void holdLines(bool on) { holdLines_ = on; }
    // Hands the waiting lines to the system; throws KorError naming the file when it cannot
    // take them, and the writes they describe must then not be sent.
    void flush();

    // The file, once made; empty until then.
    const std::filesystem::path& path() const { return path_; }
    long entries() const { return seq_; }
    // Removes the file, for a run whose writes were all rolled back.
    void discard();

  private:
    void open();
    void append(std::string_view line);

    std::filesystem::path folder_;
    std::string base_, infix_;
    JournalHeader header_;
    std::filesystem::path path_;
    std::unique_ptr<char[]> buffer_;  // file_'s, closed with it
    std::FILE* file_ = nullptr;
    long seq_ = 0;
    long unsettled_ = 0;  // writes recorded since the last outcome
    bool holdLines_ = false;
    std::string line_;
};

// One write of a journal read back.
struct JournalEntry {
    enum class Op { Insert, Update, Delete };
    enum class Outcome { Unknown, Stored, Failed };
    long line = 0;  // in the file, from 1
    long seq = 0;
    long row = 0;
    Op op = Op::Insert;
    Outcome outcome = Outcome::Unknown;
    std::string table;
    std::string keyColumn;
    Value key;
    std::vector<std::pair<std::string, Value>> oldValues;
    std::vector<std::pair<std::string, Value>> newValues;
};

// A journal read in bounded memory: the whole file is checked when it is opened, each write
// read again when it is asked for. Only what a migration writes passes: inserts and updates
// of the sheet's own tables, keyed by their own key columns, updates only of the columns the
// migration's rules write. Anything else is refused, naming the line.
class JournalReader {
  public:
    // Throws KorError naming the file and the line when it is not such a journal. A last
    // line cut short by a crash is left out: its write was never sent.
    explicit JournalReader(const std::filesystem::path& file);

    const std::filesystem::path& path() const { return path_; }
    const JournalHeader& header() const { return header_; }
    // Whether an atomic run's transaction was committed.
    bool committed() const { return committed_; }
    // The writes, in the order written.
    size_t size() const { return offsets_.size(); }
    JournalEntry entry(size_t index);
    // Each column a line names, per table: for a check against the destination's catalogue.
    const std::vector<std::pair<std::string, std::vector<std::string>>>& columnsNamed() const {
        return columns_;
    }

  private:
    std::filesystem::path path_;
    std::ifstream in_;
    JournalHeader header_;
    bool committed_ = false;
    std::vector<std::uint64_t> offsets_;
    std::vector<std::uint32_t> lines_;
    std::vector<JournalEntry::Outcome> outcomes_;
    std::vector<std::pair<std::string, std::vector<std::string>>> columns_;
};

// Whether the row an insert leaves behind can be told for column m when the insert does not
// assign it, and so is on the insert's line: its literal default (value), or NULL where it has
// none. The engine fills the others itself (identities, row versions, computed columns,
// defaults made by functions), and so would a key (inKey) the insert leaves out.
bool knownWhenLeftOut(const odbc::ColumnMeta& m, bool inKey, Value& value);

// Local date and time now: "yyyymmdd-hhmmss" for file names, ISO 8601 otherwise.
std::string localStamp(bool forFileName);

}  // namespace kordb

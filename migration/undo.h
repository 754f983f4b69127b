#pragma once
// Taking a run back by its undo journal: all of it in one transaction, only what the run
// stored, and only where nobody changed it since.

#include <filesystem>
#include <functional>
#include <string>

#include "migration/journal.h"
#include "settings/odbc.h"

namespace kordb {

struct UndoOptions {
    // Undo what can be, leaving each row changed since (an item with its PLU row) as it is;
    // otherwise one such row stops the whole undo before anything changes.
    bool skipChanged = false;
};

struct UndoReport {
    long deleted = 0;      // rows the run inserted, deleted
    long restored = 0;     // rows the run changed, given their previous values back
    long nothing = 0;      // writes that left nothing to take back (never stored, or gone since)
    long changed = 0;      // writes whose row was changed since, left alone
    bool applied = false;  // the undo was committed; false when a row changed since stopped it
    std::filesystem::path journal;  // the undo's own journal, when it wrote one
};

// Why the destination conn reaches is not the one the journal was written against (another
// engine, another database, a copy elsewhere), or empty when it is that one as far as can be
// told. server and database are what the operator connected with.
std::string otherDestination(const JournalHeader& header, odbc::Connection& conn,
                             const std::string& server, const std::string& database);

// Throws KorError naming the journal, the table and the column when a line names a table or a
// column the destination does not have.
void checkAgainstCatalogue(JournalReader& journal, odbc::Connection& conn);

// Takes back the journal's stored writes, newest first, in one transaction: an inserted row is
// deleted when every value the run left in it is still there, an updated row gets back its
// previous values in the columns the run wrote when they still hold what it wrote. line
// receives one line per write, once the outcome is known ("deleted ...", "restored ...",
// "nothing to undo ...", "changed since ..."). A destination error is thrown after everything
// was rolled back. The undo's own writes go to a journal of its own, in the journal's folder.
UndoReport undoJournal(odbc::Connection& conn, JournalReader& journal, const UndoOptions& options,
                       const std::function<void(const std::string&)>& line);

// "undo: 3 deleted, 2 restored, 1 nothing to undo, 1 changed since (left alone)"
std::string undoSummary(const UndoReport& r);

}  // namespace kordb

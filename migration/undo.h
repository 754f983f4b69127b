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
    std::string error;  // the destination's error that rolled the whole undo back; else empty
};

// Throws KorError naming the journal, the table and the column when a line names a table or a
// column the destination does not have.
void checkAgainstCatalogue(JournalReader& journal, odbc::Connection& conn);

// What undo finds out before it asks to take anything back.
struct UndoVetting {
    std::string otherDestination;  // why the destination is not the journal's; empty when it is
    bool refused = false;  // it is another and that was not allowed: nothing more was looked at
    std::string error;     // what stops the undo: a table or column the destination lacks, ...
};

// Vets journal against the destination conn reaches, server and database being what the
// operator connected with: whether it is the journal's (another engine, another database, a
// copy elsewhere, as far as can be told), then, unless it is another and otherAllowed is false,
// whether it has what the journal names (checkAgainstCatalogue()). Errors come back in the
// report.
UndoVetting vetJournal(JournalReader& journal, odbc::Connection& conn, const std::string& server,
                       const std::string& database, bool otherAllowed);

// "journal of ITEMS from items.xls, started 2024-05-01 10:00:00: 12 writes"
std::string journalSummary(JournalReader& journal);

// Takes back the journal's stored writes, newest first, in one transaction: an inserted row is
// deleted when every value the run left in it is still there, an updated row gets back its
// previous values in the columns the run wrote when they still hold what it wrote. line
// receives one line per write, once the outcome is known ("deleted ...", "restored ...",
// "nothing to undo ...", "changed since ..."). A destination error comes back in the report's
// error, with everything rolled back and nothing counted. The undo's own writes go to a journal
// of its own, in the journal's folder.
UndoReport undoJournal(odbc::Connection& conn, JournalReader& journal, const UndoOptions& options,
                       const std::function<void(const std::string&)>& line);

// "undo: 3 deleted, 2 restored, 1 nothing to undo, 1 changed since (left alone)"
std::string undoSummary(const UndoReport& r);

}  // namespace kordb

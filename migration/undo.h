#pragma once
// Taking a run back by its undo journal.

#include <functional>
#include <string>

#include "core/state.h"
#include "migration/journal.h"

namespace kordb {

struct UndoCounts {
    long deleted = 0;   // rows the run inserted, deleted
    long restored = 0;  // rows the run changed, given their previous values back
    long putBack = 0;   // rows an undo deleted, inserted again
    long nothing = 0;   // writes that left nothing to take back (never made, or gone since)
    long changed = 0;   // rows changed since the run, left alone
};

// Takes back the journal's writes, newest first, each only where the row still holds what the
// write left there; a row changed since is reported and left alone. line receives one line per
// write. The undo's own writes go to a journal of their own in the error folder
// (outcome.journal), so that it can be taken back in turn. A destination error is thrown; the
// writes taken back before it stay taken back.
void UndoJournal(Form& f, const JournalFile& journal,
                 const std::function<void(const std::string&)>& line, UndoCounts& counts);

// "undo: 3 deleted, 2 restored, 0 put back, 1 nothing to undo, 1 changed since (left alone)"
std::string undoSummary(const UndoCounts& c);

}  // namespace kordb

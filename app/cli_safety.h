#pragma once
// The companion's safety net around Start: the plan before it, the undo after it, and what
// migrate says about its journal and about an all-or-nothing run.

#include <iosfwd>
#include <string>

#include "form/form.h"
#include "migration/journal.h"
#include "migration/migrate_sheet.h"
#include "migration/undo.h"

namespace kordb {

class CliOperator;

// kordb-cli plan: once connected and the sheet picked as for migrate. One line per worksheet
// row on out, the summary as a note. kExitOk when no value would be refused, kExitFindings
// when one would or an error was shown.
int runPlan(Form& form, CliOperator& op, const MigrateRequest& request, std::ostream& out);

// kordb-cli undo JOURNAL: the journal read, then connected as for migrate, with op's
// confirmation set as for migrate. One line per write on out. kExitOk when all was taken
// back; kExitFindings when a row changed since stopped the undo or was left alone, or an error
// rolled it back; kExitUsage when not confirmed; kExitNoSource when the journal names what the
// destination lacks, or the destination is not the journal's and otherDestinationAllowed is
// not given.
int runUndo(Form& form, CliOperator& op, JournalReader& journal, const UndoOptions& options,
            bool otherDestinationAllowed, std::ostream& out);

// After migrate's Start: where its undo journal is, or that an atomic run stored nothing.
void noteStartSafety(const Form& form, CliOperator& op);

}  // namespace kordb

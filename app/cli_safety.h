#pragma once
// The companion's safety net around Start: the plan before it, the undo after it, and what
// migrate says about its journal and about an all-or-nothing run.

#include <iosfwd>
#include <string>

#include "core/state.h"

namespace kordb {

class CliOperator;

// kordb-cli plan: once connected and the sheet picked as for migrate. One line per worksheet
// row on out, the summary as a note. kExitOk when no value would be refused, kExitFindings
// when one would or an error was shown.
int runPlan(Form& form, CliOperator& op, std::ostream& out);

// kordb-cli undo JOURNAL: once connected as for migrate, with op's confirmation set as for
// migrate. One line per write taken back on out. kExitOk when all was taken back,
// kExitFindings when a row changed since was left alone or an error was shown, kExitUsage when
// not confirmed, kExitNoSource when the journal cannot be read.
int runUndo(Form& form, CliOperator& op, const std::string& journal, std::ostream& out);

// After migrate's Start: where its undo journal is, or that an atomic run stored nothing.
void noteStartSafety(const Form& form, CliOperator& op);

}  // namespace kordb

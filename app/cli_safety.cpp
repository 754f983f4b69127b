#include "app/cli_safety.h"

#include <ostream>

#include "app/cli.h"
#include "core/text.h"
#include "migration/journal.h"
#include "migration/plan.h"
#include "migration/undo.h"

namespace kordb {

int runPlan(Form& form, CliOperator& op, std::ostream& out) {
    // The sheet as Start takes it from the list.
    form.st.SheetName = trimUpper(op.comboText());
    PlanCounts counts;
    bool clean = PlanMigration(
        form, [&](const std::string& line) { out << line << '\n'
                                                 << std::flush; }, counts);
    if (!clean) {
        op.note("the plan of " + op.comboText() + " stopped at an error");
        return kExitFindings;
    }
    op.note(planSummary(counts));
    return counts.refused > 0 ? kExitFindings : kExitOk;
}

int runUndo(Form& form, CliOperator& op, const std::string& journal, std::ostream& out) {
    JournalFile j;
    try {
        j = readJournal(pathFromUtf8(journal));
    } catch (const std::exception& e) {
        showError(form, e);
        return kExitNoSource;
    }
    const JournalHeader& h = j.header;
    op.note("journal of " + (h.sheet.empty() ? std::string("a run") : h.sheet) +
            (h.workbook.empty() ? "" : " from " + h.workbook) +
            (h.started.empty() ? "" : ", started " + h.started) + ": " +
            std::to_string(j.entries.size()) + " writes");
    if (!h.database.empty() && (h.database != op.fieldText(1) || h.server != op.fieldText(0)))
        op.note("the journal was written on " + h.server + ", database " + h.database +
                "; only rows that still hold what it wrote are taken back");
    if (j.entries.empty()) {
        op.note("nothing to undo");
        return kExitOk;
    }
    int answer = op.messageBox("Confirm to Undo " + std::to_string(j.entries.size()) +
                                   " writes of " + pathToUtf8(j.path.filename()) + " ? ",
                               "Question", Icon::Question, Buttons::YesNo);
    if (answer != kAnswerYes) {
        op.note("not confirmed: nothing was taken back");
        return kExitUsage;
    }
    const int errors = form.outcome.errors;
    UndoCounts counts;
    try {
        UndoJournal(
            form, j, [&](const std::string& line) { out << line << '\n'
                                                        << std::flush; }, counts);
    } catch (const std::exception& e) {
        showError(form, e);
    }
    if (!form.outcome.journal.empty())
        op.note("undo journal of this undo: " + pathToUtf8(form.outcome.journal));
    op.note(undoSummary(counts));
    if (form.outcome.errors > errors) return kExitFindings;
    return counts.changed > 0 ? kExitFindings : kExitOk;
}

void noteStartSafety(const Form& form, CliOperator& op) {
    if (form.outcome.rolledBack)
        op.note("nothing was stored: the sheet was one transaction, rolled back at the error");
    else if (!form.outcome.journal.empty())
        op.note("undo journal: " + pathToUtf8(form.outcome.journal) +
                " (kordb-cli undo takes this run back)");
}

}  // namespace kordb

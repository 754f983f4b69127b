#include "app/cli_safety.h"

#include <ostream>
#include <stdexcept>

#include "app/cli.h"
#include "core/text.h"
#include "migration/journal.h"
#include "migration/migration.h"
#include "migration/plan.h"
#include "migration/undo.h"
#include "settings/odbc.h"

namespace kordb {

namespace {

void noteRowByRow(const Form& form, CliOperator& op) {
    if (!form.outcome.rowByRowBecause.empty())
        op.note(
            "rows were looked up one at a time: the destination refused a look-up of many "
            "keys at once (" +
            form.outcome.rowByRowBecause + ")");
}

}  // namespace

int runPlan(Form& form, CliOperator& op, const MigrateRequest& request, std::ostream& out) {
    struct Out : MigrateLines {
        explicit Out(std::ostream& o) : out(o) {}
        void line(const std::string& text) override { out << text << '\n' << std::flush; }
        std::ostream& out;
    } lines(out);
    const PlanReport plan = planSheet(request, lines);
    showMigrateReport(form, plan.run);
    noteRowByRow(form, op);
    if (!plan.clean) {
        op.note("the plan of " + request.pickedSheet + " stopped at an error");
        return kExitFindings;
    }
    op.note(planSummary(plan.counts));
    return plan.counts.refused > 0 ? kExitFindings : kExitOk;
}

int runUndo(Form& form, CliOperator& op, JournalReader& journal, const UndoOptions& options,
            bool otherDestinationAllowed, std::ostream& out) {
    op.note(journalSummary(journal));
    odbc::Connection& conn = *form.st.DestConn;
    const UndoVetting vet = vetJournal(journal, conn, op.fieldText(kServer),
                                       op.fieldText(kDatabase), otherDestinationAllowed);
    if (!vet.otherDestination.empty())
        op.note("this destination is not the journal's: " + vet.otherDestination +
                (vet.refused ? "; nothing was taken back (--other-destination undoes it here all "
                               "the same)"
                             : ""));
    if (!vet.error.empty()) showError(form, std::runtime_error(vet.error));
    if (vet.refused || !vet.error.empty()) return kExitNoSource;
    if (journal.size() == 0) {
        op.note("nothing to undo");
        return kExitOk;
    }
    int answer = op.messageBox("Confirm to Undo " + std::to_string(journal.size()) + " writes of " +
                                   pathToUtf8(journal.path().filename()) + " ? ",
                               "Question", Icon::Question, Buttons::YesNo);
    if (answer != kAnswerYes) {
        op.note("not confirmed: nothing was taken back");
        return kExitUsage;
    }
    const UndoReport report = undoJournal(conn, journal, options, [&](const std::string& line) {
        out << line << '\n' << std::flush;
    });
    if (!report.error.empty()) {
        showError(form, std::runtime_error(report.error));
        op.note("nothing was taken back: the undo was rolled back at the error");
        return kExitFindings;
    }
    if (!report.journal.empty())
        op.note("undo journal of this undo: " + pathToUtf8(report.journal));
    if (!report.applied)
        op.note("nothing was taken back: " + std::to_string(report.changed) +
                " writes meet rows changed since (--skip-changed undoes the rest)");
    op.note(undoSummary(report));
    return report.changed > 0 ? kExitFindings : kExitOk;
}

void noteStartSafety(const Form& form, CliOperator& op) {
    noteRowByRow(form, op);
    if (!form.outcome.writtenOneByOneBecause.empty())
        op.note(
            "rows were written one at a time after the destination refused a statement of "
            "many rows that it then took row by row (" +
            form.outcome.writtenOneByOneBecause + ")");
    if (form.outcome.rolledBack)
        op.note("nothing was stored: the sheet was one transaction, rolled back at the error");
    else if (!form.outcome.journal.empty())
        op.note("undo journal: " + pathToUtf8(form.outcome.journal) +
                " (kordb-cli undo takes this run back)");
}

}  // namespace kordb

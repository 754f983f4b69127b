// The services run the window's own procedures over a form of their own, whose operator is
// the caller's line sink and the report: the passes and their traps stay as the operator has
// always seen them, whoever calls.

#include "migration/migrate_sheet.h"

#include "core/tables.h"
#include "core/text.h"
#include "form/form.h"
#include "migration/migration.h"
#include "settings/settings_store.h"

namespace kordb {

namespace {

class ReportingOperator : public WindowlessOperator {
  public:
    ReportingOperator(const MigrateRequest& r, MigrateLines& lines, MigrateReport& report)
        : r_(r), lines_(lines), report_(report) {}

    void listClear() override { lines_.clear(); }
    void listAdd(const std::string& line) override { lines_.line(line); }
    void listRefresh() override { lines_.refresh(); }
    int messageBox(const std::string& text, const std::string& title, Icon icon,
                   Buttons buttons) override {
        report_.boxes.push_back({text, title, icon});
        return WindowlessOperator::messageBox(text, title, icon, buttons);
    }
    std::string fieldText(int index) override {
        switch (index) {
            case kServer:
                return r_.server;
            case kDatabase:
                return r_.database;
            case kPath:
                return r_.workbookPath;
        }
        return {};
    }
    std::string comboText() override { return r_.pickedSheet; }

  private:
    const MigrateRequest& r_;
    MigrateLines& lines_;
    MigrateReport& report_;
};

// A form as the window leaves it once Start has its sheet: the passes read it there.
struct RunForm {
    RunForm(const MigrateRequest& r, MigrateLines& lines, MigrateReport& report)
        : ui(r, lines, report), unused(r.errorFolder), form(ui, unused, r.errorFolder) {
        form.errorFolder = r.errorFolder;
        form.workbooks = r.workbooks;
        form.atomicStart = r.atomic;
        form.rowByRow = r.rowByRow;
        AppState& st = form.st;
        st.DestConn = r.destination;
        st.WorkbookTitle = r.workbookTitle;
        st.SheetName = trimUpper(r.pickedSheet);
        st.TableName = r.tableName;
        st.KeyColumn = r.keyColumn;
    }
    void report(MigrateReport& out) const {
        out.errors = form.outcome.errors;
        out.lastError = form.outcome.lastError;
        out.lastRow = form.outcome.lastRow;
        out.journal = form.outcome.journal;
        out.rolledBack = form.outcome.rolledBack;
        out.rowByRowBecause = form.outcome.rowByRowBecause;
        out.writtenOneByOneBecause = form.outcome.writtenOneByOneBecause;
        out.destSql = form.st.DestSQL;
        out.pluSql = form.st.PluSQL;
    }

    ReportingOperator ui;
    SettingsStore unused;  // the passes never read the settings
    Form form;
};

}  // namespace

MigrateReport migrateSheet(const MigrateRequest& request, MigrateLines& lines) {
    MigrateReport report;
    RunForm run(request, lines, report);
    if (run.form.st.SheetName == table::kItem)
        MigrateItems(run.form);
    else
        MigrateMasterTable(run.form);
    run.report(report);
    return report;
}

PlanReport planSheet(const MigrateRequest& request, MigrateLines& lines) {
    PlanReport plan;
    RunForm run(request, lines, plan.run);
    plan.clean = PlanMigration(
        run.form, [&](const std::string& line) { lines.line(line); }, plan.counts);
    run.report(plan.run);
    return plan;
}

}  // namespace kordb

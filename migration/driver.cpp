// The Start button: confirmation, then the item or the master table migration.

#include <string>

#include "core/text.h"
#include "form/selection.h"
#include "migration/migration.h"

namespace kordb {

void CConvert_Click(Form& f) {
    try {
        int answer = f.ui.messageBox("Confirm to Start Migrate ? ", "Question", Icon::Question,
                                     Buttons::YesNo);
        f.st.ConfirmAnswer = std::to_string(answer);
        if (std::stoi(f.st.ConfirmAnswer) == kAnswerNo) return;
        // No selected entry gives an empty name, which the master table migration reports
        // as a missing worksheet.
        f.st.SheetName = trimUpper(f.ui.comboText());
        ListLines lines(f.ui);
        showMigrateReport(f, migrateSheet(migrateRequest(f), lines));
        showMessage(f, "Completed.", Icon::Exclamation);
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

MigrateRequest destinationRequest(Form& f) {
    workbookCache(f);
    MigrateRequest r;
    r.workbooks = f.workbooks;
    r.errorFolder = f.errorFolder;
    r.destination = f.st.DestConn;
    r.server = f.ui.fieldText(kServer);
    r.database = f.ui.fieldText(kDatabase);
    return r;
}

MigrateRequest migrateRequest(Form& f) {
    MigrateRequest r = destinationRequest(f);
    r.workbookPath = f.ui.fieldText(kPath);
    r.workbookTitle = f.st.WorkbookTitle;
    r.pickedSheet = f.ui.comboText();
    r.tableName = f.st.TableName;
    r.keyColumn = f.st.KeyColumn;
    r.atomic = f.atomicStart;
    r.rowByRow = f.rowByRow;
    return r;
}

void showMigrateReport(Form& f, const MigrateReport& report) {
    f.outcome.journal = report.journal;
    f.outcome.rolledBack = report.rolledBack;
    f.outcome.rowByRowBecause = report.rowByRowBecause;
    f.outcome.writtenOneByOneBecause = report.writtenOneByOneBecause;
    f.outcome.lastRow = report.lastRow;
    if (!report.destSql.empty()) f.st.DestSQL = report.destSql;
    if (!report.pluSql.empty()) f.st.PluSQL = report.pluSql;
    for (const RaisedBox& box : report.boxes)
        f.ui.messageBox(box.text, box.title, box.icon, Buttons::Ok);
    if (report.errors == 0) return;
    f.outcome.errors += report.errors;
    f.outcome.lastError = report.lastError;
}

}  // namespace kordb

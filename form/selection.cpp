// Workbook choice, the worksheet list, and worksheet access.

#include "form/selection.h"

#include "core/tables.h"
#include "core/text.h"
#include "source/workbook.h"

namespace kordb {

void CSearch_Click(Form& f) {
    try {
        // The Excel filter first, as ever; the other formats the readers take after it.
        auto choice = f.ui.openFileDialog("Open Excel (.xls)", f.programFolder.string(),
                                          std::string("Excel Files ") + "(*.xls)|" + "*.xls" +
                                              "|Workbooks (*.xls *.xlsx *.xlsm *.ods)|" +
                                              "*.xls;*.xlsx;*.xlsm;*.ods");
        // A cancelled dialog reports what it reported last time (nothing, at first).
        if (choice) f.st.lastChoice = *choice;
        f.ui.setFieldText(kPath, f.st.lastChoice.fileName);
        f.st.WorkbookTitle = f.st.lastChoice.fileTitle;
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void Combo1_DropDown(Form& f) {
    try {
        if (!f.ui.fieldText(kPath).empty()) LoadSheetNames(f);
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void LoadSheetNames(Form& f) {
    try {
        f.ui.comboClear();
        for (const std::string& name : readSheetNames(f.ui.fieldText(kPath))) f.ui.comboAdd(name);
    } catch (const std::exception& e) {
        showError(f, e);
        f.ui.setFocus(Control::Path);
    }
}

void Combo1_Click(Form& f) {
    try {
        f.st.TableName = trimUpper(f.ui.comboText());
        // An unknown table keeps the key column of the last known one.
        std::string key = table::keyColumnFor(f.st.TableName);
        if (!key.empty()) f.st.KeyColumn = key;
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

WorkbookCache& workbookCache(Form& f) {
    if (!f.workbooks) f.workbooks = std::make_shared<WorkbookCache>();
    return *f.workbooks;
}

std::unique_ptr<SheetRecordset> openSheet(Form& f, const std::string& sql) {
    // The workbook is opened before the statement is composed: one that cannot be read leaves
    // the last statement built in place.
    auto book = workbookCache(f).get(f.ui.fieldText(kPath));
    f.st.SheetSQL = sql;
    return std::make_unique<SheetRecordset>(std::move(book), sql, f.ui.comboText());
}

}  // namespace kordb

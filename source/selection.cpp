// Start-up restore, workbook choice, the worksheet list, and worksheet access.

#include "app/procedures.h"
#include "app/text.h"
#include "source/workbook.h"

namespace kordb {

void showMessage(Form& f, const std::string& text, Icon icon) {
    f.ui.messageBox(text, "Message", icon, Buttons::Ok);
}

void showError(Form& f, const std::exception& e) {
    showMessage(f, e.what(), Icon::Critical);
}

void Form_Load(Form& f) {
    try {
        f.ui.setFieldText(0, f.settings.get(kSettingsApp, kSettingsSection, "cserver"));
        f.ui.setFieldText(1, f.settings.get(kSettingsApp, kSettingsSection, "ConnTable"));
        f.ui.setFieldText(2, f.settings.get(kSettingsApp, kSettingsSection, "clogin"));
        f.ui.setFieldText(3, f.settings.get(kSettingsApp, kSettingsSection, "cpassword"));
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void CSearch_Click(Form& f) {
    try {
        auto choice = f.ui.openFileDialog("Open Excel (.xls)", f.programFolder.string(),
                                          std::string("Excel Files ") + "(*.xls)|" + "*.xls");
        // A cancelled dialog reports what it reported last time (nothing, at first).
        if (choice) f.st.lastChoice = *choice;
        f.ui.setFieldText(4, f.st.lastChoice.fileName);
        f.st.WorkbookTitle = f.st.lastChoice.fileTitle;
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void Combo1_DropDown(Form& f) {
    try {
        if (!f.ui.fieldText(4).empty()) LoadSheetNames(f);
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void LoadSheetNames(Form& f) {
    try {
        f.ui.comboClear();
        for (const std::string& name : readSheetNames(f.ui.fieldText(4))) f.ui.comboAdd(name);
    } catch (const std::exception& e) {
        showError(f, e);
        f.ui.setFocus(Control::Path);
    }
}

std::string keyColumnFor(std::string_view tableName) {
    if (tableName == "KINV_MT_ITEM") return "ItemCode";
    if (tableName == "KINV_MT_CLASS") return "ClassCode";
    if (tableName == "KLED_MT_DEBTOR") return "DebtorCode";
    if (tableName == "KLED_MT_CREDITOR") return "CreditorCode";
    return {};
}

void Combo1_Click(Form& f) {
    try {
        f.st.TableName = trimUpper(f.ui.comboText());
        // An unknown table keeps the key column of the last known one.
        std::string key = keyColumnFor(f.st.TableName);
        if (!key.empty()) f.st.KeyColumn = key;
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

std::string sheetRef(std::string_view name) {
    return "[" + std::string(name) + "$]";
}

std::unique_ptr<SheetRecordset> openSheet(Form& f, const std::string& sql) {
    auto book = f.workbooks.get(f.ui.fieldText(4));
    f.st.SheetSQL = sql;
    return std::make_unique<SheetRecordset>(std::move(book), sql);
}

}  // namespace kordb

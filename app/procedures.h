#pragma once
// The window's procedures. Each event procedure traps its own errors and reports them through
// the operator; none of them throws.

#include <memory>
#include <string>
#include <string_view>

#include "app/state.h"
#include "source/worksheet.h"

namespace kordb {

// Start-up and keyboard-free window events.
void Form_Load(Form& f);

// Connection.
void CCONNECT_Click(Form& f);
void OpenDestination(Form& f);

// Workbook and worksheet selection.
void CSearch_Click(Form& f);
void Combo1_DropDown(Form& f);
void LoadSheetNames(Form& f);
void Combo1_Click(Form& f);
// The key column of a table name (already trimmed and upper-cased); empty when unknown.
std::string keyColumnFor(std::string_view tableName);

// Worksheet access: composes sql into SheetSQL and runs it over the workbook named by the
// path field. Throws KorError.
std::unique_ptr<SheetRecordset> openSheet(Form& f, const std::string& sql);
// "[" name "$]"
std::string sheetRef(std::string_view name);

// Migration.
void CConvert_Click(Form& f);
void MigrateItems(Form& f);
void MigrateMasterTable(Form& f);

// Verification.
void CVerify_Click(Form& f);
void CheckNullValues(Form& f);
void CheckDuplicateKeys(Form& f);
void CheckDuplicatePlu(Form& f);
void CheckCodeValues(Form& f, const std::string& checkMode);
bool HasQuoteOrSpace(std::string_view text);

// The common trap: the error's description, critical icon, OK, title "Message".
void showError(Form& f, const std::exception& e);
void showMessage(Form& f, const std::string& text, Icon icon);

}  // namespace kordb

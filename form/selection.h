#pragma once
// Choosing the workbook and the worksheet, and the one way every procedure reads a worksheet.

#include <memory>
#include <string>

#include "form/form.h"
#include "source/worksheet.h"

namespace kordb {

void CSearch_Click(Form& f);
void Combo1_DropDown(Form& f);
void LoadSheetNames(Form& f);
void Combo1_Click(Form& f);

// The form's workbook cache, made on first use.
WorkbookCache& workbookCache(Form& f);
// Composes sql into SheetSQL and runs it over the workbook named by the path field. Throws
// KorError.
std::unique_ptr<SheetRecordset> openSheet(Form& f, const std::string& sql);

}  // namespace kordb

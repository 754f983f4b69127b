// Class, debtor, creditor and any other master worksheets: new keys are inserted, rows whose
// key exists already are left alone.

#include <new>
#include <string>

#include "core/errors.h"
#include "core/tables.h"
#include "core/text.h"
#include "migration/migration.h"
#include "migration/row_writer.h"
#include "settings/odbc.h"
#include "source/selection.h"

namespace kordb {

namespace {

constexpr long kOutOfMemory = 7;

long errorNumberOf(const std::exception& e) {
    if (auto* k = dynamic_cast<const KorError*>(&e)) return k->number();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return kOutOfMemory;
    return errnum::kUnspecified;
}

void copyWhenPresent(const SheetRecordset& sheet, DestRecordset& rs, const std::string& col) {
    const Value v = sheet.field(col);
    if (!v.isNull()) rs.set(col, v);
}

void nilWhenEmpty(const SheetRecordset& sheet, DestRecordset& rs, const std::string& col) {
    const Value v = sheet.field(col);
    rs.set(col, v.isNull() ? Value::text("NIL") : v);
}

// A number is never empty: it is compared by its text.
void zeroWhenEmpty(const SheetRecordset& sheet, DestRecordset& rs, const std::string& col) {
    const Value v = sheet.field(col);
    rs.set(col, v.toText().empty() ? Value::number(0) : v);
}

void classColumns(const SheetRecordset& sheet, DestRecordset& rs) {
    copyWhenPresent(sheet, rs, "ClassName");
    copyWhenPresent(sheet, rs, "ClassTypeCode");
    nilWhenEmpty(sheet, rs, "AppCode");
}

void partyColumns(Form& f, const SheetRecordset& sheet, DestRecordset& rs,
                  const std::string& nameColumn) {
    copyWhenPresent(sheet, rs, nameColumn);
    nilWhenEmpty(sheet, rs, "GLCode");
    nilWhenEmpty(sheet, rs, "AreaCode");
    for (f.st.LoopIndex = 1; f.st.LoopIndex <= 4; ++f.st.LoopIndex)
        copyWhenPresent(sheet, rs, "Address" + std::to_string(f.st.LoopIndex));
    for (f.st.LoopIndex = 1; f.st.LoopIndex <= 4; ++f.st.LoopIndex)
        copyWhenPresent(sheet, rs, "DeliveryAddress" + std::to_string(f.st.LoopIndex));
    for (const char* col : {"ContactPerson", "TelephoneNo", "HandphoneNo", "EmailAddress",
                            "Website", "CreditLimit", "CreditTerm", "CJ5No", "FaxNo"})
        copyWhenPresent(sheet, rs, col);
    zeroWhenEmpty(sheet, rs, "PaymentTerm");
}

}  // namespace

void MigrateMasterTable(Form& f) {
    try {
        auto sheet = openSheet(f, "SELECT * FROM " + sheetRef(f.st.SheetName));
        const std::string tableName = f.st.TableName;
        const std::string keyColumn = f.st.KeyColumn;
        DestTable dest(f.st.DestConn.get(), tableName, keyColumn);

        for (; !sheet->eof(); sheet->moveNext()) {
            const Value keyCell = sheet->field(keyColumn);
            const std::string k = trimUpper(keyCell.toText());
            f.st.DestSQL = dest.lookupSql();
            DestRecordset rs = dest.lookup(k);
            if (!rs.eof()) continue;
            // A key of blanks alone would store an empty key: skipped like an empty cell.
            if (keyCell.isNull() || k.empty()) continue;

            f.ui.listRefresh();
            f.ui.listAdd("[" + keyCell.toText() + "]");
            rs.addNew();
            rs.set(keyColumn, Value::text(k));
            if (tableName == table::kClass)
                classColumns(*sheet, rs);
            else if (tableName == table::kDebtor)
                partyColumns(f, *sheet, rs, "DebtorName");
            else if (tableName == table::kCreditor)
                partyColumns(f, *sheet, rs, "CreditorName");
            rs.update();
        }
        sheet->close();
        showMessage(f, "Migration Successfully", Icon::Exclamation);
    } catch (const std::exception& e) {
        long number = errorNumberOf(e);
        if (number == errnum::kTableNotFound || number == errnum::kCommandText) {
            recordError(f, e.what());
            showMessage(f, "MSSQL Table Not Found.", Icon::Critical);
        } else {
            // An empty title shows the application's own.
            f.ui.messageBox(std::to_string(number), "", Icon::None, Buttons::Ok);
            showError(f, e);
        }
    }
}

}  // namespace kordb

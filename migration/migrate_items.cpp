// Item worksheets: every row changes or adds its KINV_MT_ITEM row, then its KINV_MT_PLU row.

#include <array>
#include <string>

#include "core/tables.h"
#include "core/text.h"
#include "migration/migration.h"
#include "migration/row_writer.h"
#include "settings/odbc.h"
#include "source/selection.h"

namespace kordb {

namespace {

template <size_t N>
std::array<std::string, N> numbered(const std::string& base) {
    std::array<std::string, N> names;
    for (size_t i = 0; i < N; ++i) names[i] = base + std::to_string(i + 1);
    return names;
}

const char* const kIfPresent[] = {"BasedMeasure",
                                  "BasedUnitPrice",
                                  "BasedUnitCost",
                                  "MinBasedUnitPrice",
                                  "MaxBasedUnitPrice",
                                  "WarningQty",
                                  "ReorderQty",
                                  "MaxQty",
                                  "MinQty"};

const char* const kFixed[][2] = {{"TrsOutlet", "HQ"},     {"RefDiscountCode", "D1"},
                                 {"RefPosCode", "DEF"},   {"RefPrinterGroupCode", "K1"},
                                 {"RefTaxCode", "T1"},    {"RefChargeCode", "S1"},
                                 {"RefSeasonCode", "NON"}};

}  // namespace

void MigrateItems(Form& f) {
    try {
        static const auto descriptions = numbered<10>("PosDescription");
        static const auto classCodes = numbered<10>("ClassCode");
        static const auto prices = numbered<30>("AdvPrice");

        auto sheet = openSheet(f, "SELECT * FROM " + sheetRef(f.st.SheetName));
        f.ui.listClear();
        f.ui.listRefresh();
        DestTable items(f.st.DestConn.get(), f.st.TableName, table::kItemKey);
        DestTable plus(f.st.DestConn.get(), table::kPlu, table::kItemKey);

        for (; !sheet->eof(); sheet->moveNext()) {
            const Value code = sheet->field("ItemCode");
            // The look-ups take the code exactly as read; only a new item row gets it tidied.
            f.st.DestSQL = items.lookupSql();
            DestRecordset item = items.lookup(code.toText());

            const Value name = sheet->field("ItemName");
            f.ui.listAdd("[" + code.toText() + "] " + name.toText());
            f.ui.listRefresh();

            if (item.eof()) {
                item.addNew();
                item.set("ItemCode",
                         code.isNull() ? Value::null() : Value::text(trimUpper(code.toText())));
            }
            if (!name.isNull()) item.set("ItemName", name);

            const Value app = sheet->field("Appcode");
            item.set("AppCode", app.toText().empty() ? Value::text("NIL")
                                                     : Value::text(trimBlanks(app.toText())));

            const Value pos = sheet->field("PosDescription");
            item.set("PosDescription", pos.isNull() ? name : pos);
            for (f.st.LoopIndex = 1; f.st.LoopIndex <= 10; ++f.st.LoopIndex) {
                const std::string& col = descriptions[size_t(f.st.LoopIndex - 1)];
                const Value v = sheet->field(col);
                item.set(col, v.isNull() ? name : v);
            }
            for (f.st.LoopIndex = 1; f.st.LoopIndex <= 10; ++f.st.LoopIndex) {
                const std::string& col = classCodes[size_t(f.st.LoopIndex - 1)];
                const Value v = sheet->field(col);
                if (!v.isNull()) item.set(col, v);
            }
            for (const char* col : kIfPresent) {
                const Value v = sheet->field(col);
                if (!v.isNull()) item.set(col, v);
            }
            for (f.st.LoopIndex = 1; f.st.LoopIndex <= 30; ++f.st.LoopIndex) {
                const std::string& col = prices[size_t(f.st.LoopIndex - 1)];
                const Value v = sheet->field(col);
                if (!v.isNull()) item.set(col, v);
            }
            const Value creditor = sheet->field("DefCreditorCode");
            item.set("DefCreditorCode", creditor.isNull() ? Value::text("NIL") : creditor);
            item.set("DateCreated", todayDate());
            for (const auto& fixed : kFixed) item.set(fixed[0], Value::text(fixed[1]));
            // Stored before its look-up row is touched: a failing look-up row keeps the item.
            item.update();

            f.st.PluSQL = plus.lookupSql();
            DestRecordset plu = plus.lookup(code.toText());
            if (plu.eof()) {
                plu.addNew();
                plu.set("ItemCode", code);
            }
            const Value pluCode = sheet->field("PluCode");
            plu.set("PluCode", pluCode.toText().empty() ? code : pluCode);
            plu.update();
        }
        sheet->close();
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

}  // namespace kordb

#include "migration/passes.h"

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "core/errors.h"
#include "core/tables.h"
#include "core/text.h"
#include "form/selection.h"

namespace kordb {

namespace {

// ---- item columns ---------------------------------------------------------------------------

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

// Columns 2 to 72 of the item row, in their order.
void itemColumns(const SheetRecordset& sheet, const Value& name, DestRecordset& item) {
    static const auto descriptions = numbered<10>("PosDescription");
    static const auto classCodes = numbered<10>("ClassCode");
    static const auto prices = numbered<30>("AdvPrice");

    if (!name.isNull()) item.set("ItemName", name);

    const Value app = sheet.field("Appcode");
    item.set("AppCode",
             app.toText().empty() ? Value::text("NIL") : Value::text(trimBlanks(app.toText())));

    const Value pos = sheet.field("PosDescription");
    item.set("PosDescription", pos.isNull() ? name : pos);
    for (const std::string& col : descriptions) {
        const Value v = sheet.field(col);
        item.set(col, v.isNull() ? name : v);
    }
    for (const std::string& col : classCodes) {
        const Value v = sheet.field(col);
        if (!v.isNull()) item.set(col, v);
    }
    for (const char* col : kIfPresent) {
        const Value v = sheet.field(col);
        if (!v.isNull()) item.set(col, v);
    }
    for (const std::string& col : prices) {
        const Value v = sheet.field(col);
        if (!v.isNull()) item.set(col, v);
    }
    const Value creditor = sheet.field("DefCreditorCode");
    item.set("DefCreditorCode", creditor.isNull() ? Value::text("NIL") : creditor);
    item.set("DateCreated", todayDate());
    for (const auto& fixed : kFixed) item.set(fixed[0], Value::text(fixed[1]));
}

// ---- master columns -------------------------------------------------------------------------

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

void partyColumns(const SheetRecordset& sheet, DestRecordset& rs, const std::string& nameColumn) {
    copyWhenPresent(sheet, rs, nameColumn);
    nilWhenEmpty(sheet, rs, "GLCode");
    nilWhenEmpty(sheet, rs, "AreaCode");
    for (int i = 1; i <= 4; ++i) copyWhenPresent(sheet, rs, "Address" + std::to_string(i));
    for (int i = 1; i <= 4; ++i) copyWhenPresent(sheet, rs, "DeliveryAddress" + std::to_string(i));
    for (const char* col : {"ContactPerson", "TelephoneNo", "HandphoneNo", "EmailAddress",
                            "Website", "CreditLimit", "CreditTerm", "CJ5No", "FaxNo"})
        copyWhenPresent(sheet, rs, col);
    zeroWhenEmpty(sheet, rs, "PaymentTerm");
}

}  // namespace

// The keys of the rows ahead of the pass, read by a cursor of their own, handed to the tables
// a batch at a time.
class KeysAhead {
  public:
    KeysAhead(Form& f, std::string keyColumn, bool tidy)
        : f_(f), keyColumn_(std::move(keyColumn)), tidy_(tidy) {
        if (f.rowByRow) return;
        auto book = workbookCache(f).get(f.ui.fieldText(kPath));
        cursor_ = std::make_unique<SheetRecordset>(
            book, "SELECT * FROM " + sheetRef(f.st.SheetName), f.ui.comboText());
    }

    // Before the pass's row sheetRow: at the start of each batch, the tables look its keys up.
    void before(long sheetRow, std::initializer_list<DestTable*> tables) {
        if (!cursor_ || (sheetRow - 2) % kBatchRows != 0) return;
        std::vector<std::string> keys;
        for (; !cursor_->eof() && long(keys.size()) < kBatchRows; cursor_->moveNext()) {
            std::string key = cursor_->field(keyColumn_).toText();
            keys.push_back(tidy_ ? trimUpper(key) : key);
        }
        for (DestTable* t : tables) {
            std::string refused = t->prefetch(keys);
            if (refused.empty()) continue;
            // A driver or server that refuses a look-up of many keys: one at a time, as before.
            f_.outcome.rowByRowBecause = refused;
            cursor_.reset();
            return;
        }
    }

  private:
    Form& f_;
    std::string keyColumn_;
    bool tidy_;
    std::unique_ptr<SheetRecordset> cursor_;
};

// Worksheet rows are counted as the operator reads them at the sheet's edge: the statement
// gives every row below the header in sheet order, empty ones included, so its n-th record
// is row n + 1, the header being row 1.

void RowHandler::list(Form& f, const std::string& line, bool refreshFirst) {
    if (refreshFirst) f.ui.listRefresh();
    f.ui.listAdd(line);
    if (!refreshFirst) f.ui.listRefresh();
}

namespace {

std::unique_ptr<SheetRecordset> reopen(Form& f) {
    return std::make_unique<SheetRecordset>(workbookCache(f).get(f.ui.fieldText(kPath)),
                                            "SELECT * FROM " + sheetRef(f.st.SheetName),
                                            f.ui.comboText());
}

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an unknown error";
    }
}

// Every worksheet row through row, a batch at a time, with before(first row) ahead of each.
void eachRow(Form& f, SheetRecordset& sheet, RowHandler& h, const std::vector<DestTable*>& tables,
             const std::function<void(long)>& before,
             const std::function<void(SheetRecordset&, long)>& row) {
    long sheetRow = 1;
    while (!sheet.eof()) {
        const long first = sheetRow + 1;
        before(first);
        const bool held = h.beginBatch(tables);
        bool inRows = true;
        try {
            for (; !sheet.eof() && sheetRow + 1 < first + kBatchRows; sheet.moveNext())
                row(sheet, ++sheetRow);
            inRows = false;
            h.endBatch();
        } catch (...) {
            if (!held) throw;
            const std::string why = describe(std::current_exception());
            if (!h.abandonBatch()) throw;  // stored after all
            // The batch again, row by row, from a cursor of its own.
            auto again = reopen(f);
            long r = 1;
            for (; !again->eof() && r + 1 < first; again->moveNext()) ++r;
            for (; !again->eof() && r + 1 < first + kBatchRows; again->moveNext()) row(*again, ++r);
            h.batchRefused(why);
            for (; inRows && !sheet.eof() && sheetRow < r; ++sheetRow) sheet.moveNext();
            if (inRows && !sheet.eof()) sheet.moveNext();
            sheetRow = r;
        }
    }
}

}  // namespace

void itemPass(Form& f, SheetRecordset& sheet, RowHandler& h) {
    DestTable items(f.st.DestConn.get(), f.st.TableName, table::kItemKey);
    DestTable plus(f.st.DestConn.get(), table::kPlu, table::kItemKey);
    KeysAhead ahead(f, "ItemCode", false);
    // A trigger on the item table may write the PLU table: its rows are then looked up after
    // the item is stored, each on its own.
    const bool pluAhead = !f.rowByRow && f.st.DestConn && f.st.DestConn->isOpen() &&
                          !f.st.DestConn->mayHaveTriggers(f.st.TableName);
    auto before = [&](long first) {
        if (pluAhead)
            ahead.before(first, {&items, &plus});
        else
            ahead.before(first, {&items});
    };
    eachRow(f, sheet, h, {&items, &plus}, before, [&](SheetRecordset& sheet, long sheetRow) {
        const Value code = sheet.field("ItemCode");
        // The look-ups take the code exactly as read; only a new item row gets it tidied.
        f.st.DestSQL = items.lookupSql();
        DestRecordset item = items.lookup(code.toText());
        h.beginRow(sheetRow, code);

        const Value name = sheet.field("ItemName");
        if (h.listing()) h.list(f, "[" + code.toText() + "] " + name.toText(), false);
        if (item.eof()) {
            item.addNew();
            item.set("ItemCode",
                     code.isNull() ? Value::null() : Value::text(trimUpper(code.toText())));
        }
        itemColumns(sheet, name, item);
        // Stored before its look-up row is touched: a failing look-up row keeps the item.
        h.write(item);

        f.st.PluSQL = plus.lookupSql();
        DestRecordset plu = plus.lookup(code.toText());
        if (plu.eof()) {
            plu.addNew();
            plu.set("ItemCode", code);
        }
        const Value pluCode = sheet.field("PluCode");
        plu.set("PluCode", pluCode.toText().empty() ? code : pluCode);
        h.write(plu);
        h.endRow();
    });
}

void masterPass(Form& f, SheetRecordset& sheet, RowHandler& h) {
    const std::string tableName = f.st.TableName;
    const std::string keyColumn = f.st.KeyColumn;
    DestTable dest(f.st.DestConn.get(), tableName, keyColumn);
    KeysAhead ahead(f, keyColumn, true);
    auto before = [&](long first) { ahead.before(first, {&dest}); };
    eachRow(f, sheet, h, {&dest}, before, [&](SheetRecordset& sheet, long sheetRow) {
        const Value keyCell = sheet.field(keyColumn);
        const std::string k = trimUpper(keyCell.toText());
        f.st.DestSQL = dest.lookupSql();
        DestRecordset rs = dest.lookup(k);
        h.beginRow(sheetRow, keyCell);
        // A key of blanks alone would store an empty key: skipped like an empty cell.
        if (!rs.eof() || keyCell.isNull() || k.empty()) {
            h.skip(!rs.eof());
            h.endRow();
            return;
        }
        if (h.listing()) h.list(f, "[" + keyCell.toText() + "]", true);
        rs.addNew();
        rs.set(keyColumn, Value::text(k));
        if (tableName == table::kClass)
            classColumns(sheet, rs);
        else if (tableName == table::kDebtor)
            partyColumns(sheet, rs, "DebtorName");
        else if (tableName == table::kCreditor)
            partyColumns(sheet, rs, "CreditorName");
        h.write(rs);
        h.endRow();
    });
}

std::vector<std::string> ruleColumns(const std::string& tableName, const std::string& keyColumn) {
    std::vector<std::string> c = {keyColumn};
    auto add = [&](std::initializer_list<const char*> names) {
        c.insert(c.end(), names.begin(), names.end());
    };
    auto numberedFrom = [&](const std::string& base, int n) {
        for (int i = 1; i <= n; ++i) c.push_back(base + std::to_string(i));
    };
    if (tableName == table::kPlu) {
        c.push_back("PluCode");
    } else if (tableName == table::kItem) {
        add({"ItemName", "AppCode", "PosDescription"});
        numberedFrom("PosDescription", 10);
        numberedFrom("ClassCode", 10);
        c.insert(c.end(), std::begin(kIfPresent), std::end(kIfPresent));
        numberedFrom("AdvPrice", 30);
        add({"DefCreditorCode", "DateCreated"});
        for (const auto& fixed : kFixed) c.push_back(fixed[0]);
    } else if (tableName == table::kClass) {
        add({"ClassName", "ClassTypeCode", "AppCode"});
    } else if (tableName == table::kDebtor || tableName == table::kCreditor) {
        c.push_back(tableName == table::kDebtor ? "DebtorName" : "CreditorName");
        add({"GLCode", "AreaCode"});
        numberedFrom("Address", 4);
        numberedFrom("DeliveryAddress", 4);
        add({"ContactPerson", "TelephoneNo", "HandphoneNo", "EmailAddress", "Website",
             "CreditLimit", "CreditTerm", "CJ5No", "FaxNo", "PaymentTerm"});
    }
    return c;
}

const std::vector<std::string>& columnsUpdated(std::string_view table) {
    static const std::vector<std::string> items = [] {
        std::vector<std::string> c = ruleColumns(table::kItem, table::kItemKey);
        c.erase(c.begin());  // an existing item keeps its code
        return c;
    }();
    static const std::vector<std::string> plu = {"PluCode"}, none;
    if (table == table::kItem) return items;
    if (table == table::kPlu) return plu;
    return none;
}

void masterTableTrap(Form& f, const std::exception& e) {
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

}  // namespace kordb

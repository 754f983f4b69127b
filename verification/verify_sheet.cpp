// The checks of a verification run. Each asks the worksheet engine, whose comparisons ignore
// letter case as the destination's do; the keys a check gathers go to the next one as a list,
// and become SQL text only in the statement that selects by them.

#include "verification/verify_sheet.h"

#include "core/errors.h"
#include "core/tables.h"
#include "source/workbook.h"
#include "source/worksheet.h"

namespace kordb {

namespace {

std::unique_ptr<SheetRecordset> openSheet(const VerifyRequest& r, const std::string& sql) {
    return std::make_unique<SheetRecordset>(r.workbooks.get(r.workbookPath), sql, r.pickedSheet);
}

std::string sheetRef(const VerifyRequest& r) {
    return "[" + r.table + "$]";
}

// The key column as the destination compares it; the engine already ignores letter case, as
// SQL Server does under its usual collations.
std::string comparedKey(const VerifyRequest& r) {
    return r.keysIgnoreTrailingBlanks ? "RTRIM(" + r.keyColumn + ") COLLATE XLCASE" : r.keyColumn;
}

// The keys as quoted SQL literals, comma-separated. Quotes inside a key are doubled, so no
// worksheet value can end its literal and change the statement.
std::string keyList(const std::vector<std::string>& keys) {
    std::string out;
    for (const std::string& key : keys) {
        if (!out.empty()) out += ',';
        out += '\'';
        for (char c : key) {
            if (c == '\'') out += '\'';
            out += c;
        }
        out += '\'';
    }
    return out;
}

// The checks that select by the key cannot be put at all without one.
const std::string& keyColumnOf(const VerifyRequest& r) {
    if (r.keyColumn.empty())
        throw KorError(errnum::kCommandText,
                       table::noKeyColumnText(r.pickedSheet.empty() ? r.table : r.pickedSheet));
    return r.keyColumn;
}

}  // namespace

std::vector<Value> RowValues::copy(int from) const {
    std::vector<Value> out;
    for (int i = from; i < size(); ++i) out.push_back((*this)[i]);
    return out;
}

std::string_view listingModeName(ListingMode mode) {
    switch (mode) {
        case ListingMode::Duplicate:
            return "DUPLICATE";
        case ListingMode::PluErr:
            return "PLUERR";
        case ListingMode::Ok:
            break;
    }
    return "OK";
}

bool VerifyFindings::errorFound() const {
    return !rowsWithoutKey.empty() || nullCheckError || !duplicatedKeys.empty() ||
           duplicateCheckError || duplicateRows.error || !repeatedPlu.empty() || pluCheckError ||
           pluRows.error || finalListing.error;
}

bool HasQuoteOrSpace(std::string_view text) {
    return text.find_first_of("' ") != std::string_view::npos;
}

void findRowsWithoutKey(const VerifyRequest& r, VerifyRowSink& rows, VerifyFindings& out) {
    try {
        const std::string& key = keyColumnOf(r);
        auto rs = openSheet(r, "Select " + key + ", * From " + sheetRef(r) + " Where " + key +
                                   " Is Null Or " + key + "=''");
        // Ordinal 0 is the key put in front of "*": the row holds the sheet's own columns.
        const RowValues columns(*rs, 1);
        while (!rs->eof()) {
            out.rowsWithoutKey.push_back({uint32_t(out.rowsWithoutKey.size() + 1), columns.copy()});
            rows.rowWithoutKey(columns);
            rs->moveNext();
        }
        rs->close();
        rows.checkDone();
    } catch (const std::exception& e) {
        rows.checkFailed();
        out.nullCheckError = e.what();
    }
}

ListingFindings listRows(const VerifyRequest& r, VerifyRowSink& rows, ListingMode mode,
                         const std::vector<std::string>& keys) {
    ListingFindings out;
    try {
        const std::string& key = keyColumnOf(r);
        std::string sql = "Select " + key + ", * From " + sheetRef(r) + " Where ";
        if (mode == ListingMode::Ok) {
            sql += key + " Is Not Null And " + key + "<>'' ";
            if (!keys.empty()) sql += "And " + comparedKey(r) + " Not In (" + keyList(keys) + ")";
        } else {
            sql += comparedKey(r) + " In (" + keyList(keys) + ")";
        }
        auto rs = openSheet(r, sql);
        const RowValues values(*rs, 0);
        while (!rs->eof()) {
            ++out.rows;
            std::string code = rs->field(0).toText();
            const bool bad = HasQuoteOrSpace(code);
            if (bad) out.badKeys.push_back({std::move(code), {out.rows, values.copy(1)}});
            rows.listedRow(mode, bad, values);
            rs->moveNext();
        }
        rs->close();
        rows.checkDone();
    } catch (const std::exception& e) {
        rows.checkFailed();
        out.error = e.what();
    }
    return out;
}

void findDuplicatedKeys(const VerifyRequest& r, VerifyRowSink& rows, VerifyFindings& out) {
    std::vector<std::string> keys;
    try {
        const std::string compared = comparedKey(r);
        auto rs = openSheet(r, "Select Count(" + r.keyColumn + "), " + compared + " From " +
                                   sheetRef(r) + " group by " + compared);
        while (!rs->eof()) {
            // The group of empty key cells counts 0: those rows are the null check's concern.
            if (rs->field(0).toNumber() > 1) out.duplicatedKeys.push_back(rs->field(1).toText());
            rs->moveNext();
        }
        rs->close();
    } catch (const std::exception& e) {
        out.duplicateCheckError = e.what();
        return;
    }
    if (out.duplicatedKeys.empty()) return;
    out.duplicateRows = listRows(r, rows, ListingMode::Duplicate, out.duplicatedKeys);
    out.excludedKeys.insert(out.excludedKeys.end(), out.duplicatedKeys.begin(),
                            out.duplicatedKeys.end());
}

void findRepeatedPlu(const VerifyRequest& r, VerifyRowSink& rows, VerifyFindings& out) {
    std::vector<std::string> items;
    try {
        auto rs = openSheet(r, "Select Count(PluCode), PluCode, ItemCode From " + sheetRef(r) +
                                   " Group By PluCode, ItemCode");
        while (!rs->eof()) {
            if (rs->field(0).toNumber() > 1) {
                out.repeatedPlu.push_back({rs->field(1).toText(), rs->field(2).toText()});
                items.push_back(out.repeatedPlu.back().itemCode);
            }
            rs->moveNext();
        }
        rs->close();
    } catch (const std::exception& e) {
        out.pluCheckError = e.what();
        return;
    }
    if (items.empty()) return;
    // An item with two repeated PLU codes is named twice; its rows are listed once all the same.
    out.pluRows = listRows(r, rows, ListingMode::PluErr, items);
    out.excludedKeys.insert(out.excludedKeys.end(), items.begin(), items.end());
}

VerifyFindings verifySheet(const VerifyRequest& r, VerifyRowSink& rows) {
    VerifyFindings out;
    findRowsWithoutKey(r, rows, out);
    out.itemChecks = r.table == table::kItem;
    if (out.itemChecks) {
        findDuplicatedKeys(r, rows, out);
        findRepeatedPlu(r, rows, out);
    }
    out.finalListing = listRows(r, rows, ListingMode::Ok, out.excludedKeys);
    return out;
}

}  // namespace kordb

// The checks of a verification run: empty keys, duplicated keys, repeated PLU codes, and the
// listing that writes every selected row to its error file.

#include "source/selection.h"
#include "verification/error_files.h"
#include "verification/verification.h"

namespace kordb {

namespace {

// One entry of DupKeys: the code as a quoted SQL literal and a comma. Quotes inside the code
// are doubled, so no worksheet value can end the literal and change the statement.
std::string keyListEntry(std::string_view code) {
    std::string entry = "'";
    for (char c : code) {
        if (c == '\'') entry += '\'';
        entry += c;
    }
    return entry + "',";
}

// The value as error-file text (as Value::toText), without copying text twice.
void appendValue(std::string& line, const Value& v) {
    if (v.isText() || v.isDate())
        line += v.rawText();
    else
        line += v.toText();
}

// The key column as the destination compares it; the worksheet engine already ignores letter
// case, as SQL Server does under its usual collations.
std::string comparedKey(const Form& f) {
    const std::string& key = f.st.KeyColumn;
    return f.keysIgnoreTrailingBlanks ? "RTRIM(" + key + ") COLLATE XLCASE" : key;
}

// A check that ended in an error has checked nothing, so the run must not pass.
void trapCheckError(Form& f, ErrorFileWriter* files, const std::exception& e) {
    // Rows listed before the error stay in their files.
    if (files) files->closeQuietly();
    showError(f, e);
    f.st.ErrFound = true;
}

// Lists every row of the gathered codes in mode's file and adds the codes to the run's
// exclusions. Duplicates fail the run even when the listing finds none of their rows.
void listDuplicates(Form& f, const std::string& mode) {
    AppState& st = f.st;
    const bool found = !st.DupKeys.empty();
    if (found) CheckCodeValues(f, mode);
    if (st.ErrCount != 0 || found) st.ErrFound = true;
    st.ErrKeys += st.DupKeys;
}

}  // namespace

bool HasQuoteOrSpace(std::string_view text) {
    return text.find_first_of("' ") != std::string_view::npos;
}

void CheckNullValues(Form& f) {
    AppState& st = f.st;
    ErrorFileWriter files(f);
    try {
        st.ErrCount = 0;
        const std::string& key = st.KeyColumn;
        auto rs = openSheet(f, "Select " + key + ", * From " + sheetRef(st.SheetName) + " Where " +
                                   key + " Is Null Or " + key + "=''");
        std::string line;
        while (!rs->eof()) {
            ++st.ErrCount;
            f.ui.listRefresh();
            f.ui.listAdd("Error Detected for " + key + " at Row [" +
                         std::to_string(st.ErrCount + 1) + "]");
            // Ordinal 0 is the key put in front of "*": the line holds the sheet's own columns.
            line.clear();
            const int count = rs->fieldCount();
            for (st.LoopIndex = 1; st.LoopIndex <= count - 1; ++st.LoopIndex) {
                line += '\t';
                appendValue(line, rs->field(st.LoopIndex));
            }
            files.append(kNullFileSuffix, line);
            rs->moveNext();
        }
        rs->close();
        files.close();
        if (st.ErrCount < 1) return;
        f.ui.listRefresh();
        f.ui.listAdd("Error !!! [" + std::to_string(st.ErrCount) + "] Null Value Detected");
        st.ErrFound = true;
    } catch (const std::exception& e) {
        trapCheckError(f, &files, e);
    }
}

void CheckDuplicateKeys(Form& f) {
    AppState& st = f.st;
    try {
        st.ErrCount = 0;
        st.DupKeys.clear();
        f.ui.listRefresh();
        f.ui.setStartEnabled(false);
        const std::string& key = st.KeyColumn;
        const std::string compared = comparedKey(f);
        auto rs = openSheet(f, "Select Count(" + key + "), " + compared + " From " +
                                   sheetRef(st.SheetName) + " group by " + compared);
        while (!rs->eof()) {
            // The group of empty key cells counts 0: those rows are the null check's concern.
            if (rs->field(0).toNumber() > 1) {
                ++st.ErrCount;
                std::string code = rs->field(1).toText();
                f.ui.listRefresh();
                f.ui.listAdd("Duplicated Item Code ... [" + code + "]");
                st.DupKeys += keyListEntry(code);
            }
            rs->moveNext();
        }
        rs->close();
        listDuplicates(f, "DUPLICATE");
    } catch (const std::exception& e) {
        trapCheckError(f, nullptr, e);
    }
}

void CheckDuplicatePlu(Form& f) {
    AppState& st = f.st;
    try {
        st.ErrCount = 0;
        st.DupKeys.clear();
        auto rs = openSheet(f, "Select Count(PluCode), PluCode, ItemCode From " +
                                   sheetRef(st.SheetName) + " Group By PluCode, ItemCode");
        while (!rs->eof()) {
            if (rs->field(0).toNumber() > 1) {
                ++st.ErrCount;
                f.ui.listAdd("Plu Code Duplicate ... [" + rs->field(1).toText() + "]");
                f.ui.listRefresh();
                st.DupKeys += keyListEntry(rs->field(2).toText());
            }
            rs->moveNext();
        }
        rs->close();
        listDuplicates(f, "PLUERR");
    } catch (const std::exception& e) {
        trapCheckError(f, nullptr, e);
    }
}

void CheckCodeValues(Form& f, const std::string& checkMode) {
    AppState& st = f.st;
    ErrorFileWriter files(f);
    try {
        st.ErrCount = 0;
        st.SheetSQL.clear();
        const std::string& key = st.KeyColumn;
        std::string sql = "Select " + key + ", * From " + sheetRef(st.SheetName) + " " + "Where ";
        if (checkMode == "OK") {
            sql += key + " Is Not Null And " + key + "<>'' ";
            if (!st.ErrKeys.empty()) {
                if (st.ErrKeys.back() == ',') st.ErrKeys.pop_back();
                sql += "And " + comparedKey(f) + " Not In (" + st.ErrKeys + ")";
            }
        } else {
            // DupKeys keeps its comma: the caller adds it to ErrKeys afterwards.
            std::string_view codes = st.DupKeys;
            if (!codes.empty() && codes.back() == ',') codes.remove_suffix(1);
            sql += comparedKey(f) + " In (" + std::string(codes) + ")";
        }
        auto rs = openSheet(f, sql);
        const std::string modeSuffix = modeFileSuffix(checkMode);
        std::string line;
        while (!rs->eof()) {
            ++st.ErrCount;
            const std::string code = rs->field(0).toText();
            // While the line is empty the next value replaces it; otherwise a tab and the value
            // follow. Ordinal 0 is the key, so the line never starts with a tab.
            line.clear();
            const int count = rs->fieldCount();
            for (st.LoopIndex = 0; st.LoopIndex <= count - 1; ++st.LoopIndex) {
                if (!line.empty()) line += '\t';
                appendValue(line, rs->field(st.LoopIndex));
            }
            if (HasQuoteOrSpace(code)) {
                f.ui.listAdd("Code Error Detected for " + code);
                f.ui.listRefresh();
                files.append(kCodeErrFileSuffix, line);
            } else {
                files.append(modeSuffix, line);
            }
            rs->moveNext();
        }
        rs->close();
        files.close();
    } catch (const std::exception& e) {
        trapCheckError(f, &files, e);
    }
}

}  // namespace kordb

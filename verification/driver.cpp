// The Verify button: runs the checks that apply to the chosen worksheet and lets Start go
// ahead only when none of them found an error.

#include "core/text.h"
#include "form/selection.h"
#include "verification/error_files.h"
#include "verification/verification.h"

namespace kordb {

void CVerify_Click(Form& f) {
    AppState& st = f.st;
    try {
        st.ErrCount = 0;
        st.ErrKeys.clear();
        st.ErrFound = false;
        showVerifyStart(f.ui);
        st.SheetName = trimUpper(f.ui.comboText());
        ErrorFileSink files(f.errorFolder, st.WorkbookTitle);
        VerifyFindings found = verifySheet(verifyRequest(f), files);
        st.ErrKeys = found.excludedKeys;
        st.ErrCount = int32_t(found.finalListing.rows);
        st.ErrFound = showVerifyResult(f, found, st.KeyColumn);
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

VerifyRequest verifyRequest(Form& f) {
    return VerifyRequest{workbookCache(f), f.ui.fieldText(kPath), f.ui.comboText(),
                         f.st.SheetName,   f.st.KeyColumn,        f.keysIgnoreTrailingBlanks};
}

void showVerifyStart(Operator& ui) {
    ui.listClear();
    ui.listRefresh();
    ui.listAdd("Verifying....");
}

void showFindingLines(Form& f, const std::vector<FindingLine>& lines) {
    for (const FindingLine& line : lines) {
        if (line.error) {
            recordError(f, line.text);
            showMessage(f, line.text, Icon::Critical);
        } else {
            f.ui.listAdd(line.text);
            f.ui.listRefresh();
        }
    }
}

bool showVerifyResult(Form& f, const VerifyFindings& found, const std::string& keyColumn) {
    showFindingLines(f, findingLines(found, keyColumn));
    f.ui.listRefresh();
    f.ui.listAdd("Verifying Completed.");
    const bool errorFound = found.errorFound();
    if (errorFound) {
        f.ui.setStartEnabled(false);
        showMessage(f, "Verifying Completed. Error Found.", Icon::Exclamation);
    } else {
        f.ui.listRefresh();
        f.ui.listAdd("No Error Found.");
        f.ui.setStartEnabled(true);
        showMessage(f, "Verifying Completed. No Error Found.", Icon::Exclamation);
    }
    return errorFound;
}

}  // namespace kordb

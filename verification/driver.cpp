// The Verify button: runs the checks that apply to the chosen worksheet and lets Start go
// ahead only when none of them found an error.

#include "core/tables.h"
#include "core/text.h"
#include "source/selection.h"
#include "verification/verification.h"

namespace kordb {

void CVerify_Click(Form& f) {
    AppState& st = f.st;
    try {
        st.ErrCount = 0;
        st.ErrKeys.clear();
        st.ErrFound = false;
        f.ui.listClear();
        f.ui.listRefresh();
        f.ui.listAdd("Verifying....");
        st.SheetName = trimUpper(f.ui.comboText());

        CheckNullValues(f);
        if (st.SheetName == table::kItem) {
            CheckDuplicateKeys(f);
            CheckDuplicatePlu(f);
        }
        CheckCodeValues(f, "OK");

        f.ui.listRefresh();
        f.ui.listAdd("Verifying Completed.");
        if (st.ErrFound) {
            f.ui.setStartEnabled(false);
            showMessage(f, "Verifying Completed. Error Found.", Icon::Exclamation);
        } else {
            f.ui.listRefresh();
            f.ui.listAdd("No Error Found.");
            f.ui.setStartEnabled(true);
            showMessage(f, "Verifying Completed. No Error Found.", Icon::Exclamation);
        }
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

}  // namespace kordb

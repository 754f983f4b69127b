// The Start button: confirmation, then the item or the master table migration.

#include <string>

#include "core/tables.h"
#include "core/text.h"
#include "migration/migration.h"
#include "source/selection.h"

namespace kordb {

void CConvert_Click(Form& f) {
    try {
        int answer = f.ui.messageBox("Confirm to Start Migrate ? ", "Question", Icon::Question,
                                     Buttons::YesNo);
        f.st.ConfirmAnswer = std::to_string(answer);
        if (std::stoi(f.st.ConfirmAnswer) == kAnswerNo) return;
        // No selected entry gives an empty name, which the master table migration reports
        // as a missing worksheet.
        f.st.SheetName = trimUpper(f.ui.comboText());
        if (f.st.SheetName == table::kItem)
            MigrateItems(f);
        else
            MigrateMasterTable(f);
        showMessage(f, "Completed.", Icon::Exclamation);
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

}  // namespace kordb

// Class, debtor, creditor and any other master worksheets: new keys are inserted, rows whose
// key exists already are left alone.

#include "form/selection.h"
#include "migration/migration.h"
#include "migration/passes.h"
#include "migration/start_run.h"

namespace kordb {

void MigrateMasterTable(Form& f) {
    StartRun run(f);
    try {
        run.begin();
        auto sheet = openSheet(f, "SELECT * FROM " + sheetRef(f.st.SheetName));
        masterPass(f, *sheet, run);
        run.finish();
        sheet->close();
        showMessage(f, "Migration Successfully", Icon::Exclamation);
    } catch (const std::exception& e) {
        run.fail();
        masterTableTrap(f, e);
    }
}

}  // namespace kordb

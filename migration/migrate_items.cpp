// Item worksheets: every row changes or adds its KINV_MT_ITEM row, then its KINV_MT_PLU row.

#include "form/selection.h"
#include "migration/migration.h"
#include "migration/passes.h"
#include "migration/start_run.h"

namespace kordb {

void MigrateItems(Form& f) {
    StartRun run(f);
    try {
        run.begin();
        auto sheet = openSheet(f, "SELECT * FROM " + sheetRef(f.st.SheetName));
        f.ui.listClear();
        f.ui.listRefresh();
        itemPass(f, *sheet, run);
        run.finish();
        sheet->close();
    } catch (const std::exception& e) {
        run.fail();
        showError(f, e);
    }
}

}  // namespace kordb

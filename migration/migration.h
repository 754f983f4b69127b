#pragma once
// The Start button and the migrations it runs.

#include "form/form.h"
#include "migration/migrate_sheet.h"

namespace kordb {

void CConvert_Click(Form& f);
void MigrateItems(Form& f);
void MigrateMasterTable(Form& f);

// Start's request for the form's chosen worksheet (SheetName set).
MigrateRequest migrateRequest(Form& f);
// What any request takes from the form alone: its workbooks (made here, so that the run shares
// them), error folder and destination, the server and database as typed.
MigrateRequest destinationRequest(Form& f);
// A run's lines in the window's list, as they come.
class ListLines : public MigrateLines {
  public:
    explicit ListLines(Operator& ui) : ui_(ui) {}
    void clear() override { ui_.listClear(); }
    void line(const std::string& text) override { ui_.listAdd(text); }
    void refresh() override { ui_.listRefresh(); }

  private:
    Operator& ui_;
};
// The boxes the run raised, in order, and what it did kept as the form's outcome.
void showMigrateReport(Form& f, const MigrateReport& report);

}  // namespace kordb

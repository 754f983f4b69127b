#pragma once
// The Start button and the migrations it runs.

#include "core/state.h"

namespace kordb {

void CConvert_Click(Form& f);
void MigrateItems(Form& f);
void MigrateMasterTable(Form& f);

}  // namespace kordb

#pragma once
// Start without writing: the same look-ups and column rules, each worksheet row described by
// what Start would do with it.
//   insert [code]
//   update [code] Column: old -> new; Column: old -> new
//   unchanged [code]
//   skip [key] exists          skip row N: no key
//   refuse [code] Column: reason; Column: reason
// Columns of the item's KINV_MT_PLU row carry the table's name ("KINV_MT_PLU.PluCode").

#include <functional>
#include <string>

#include "form/form.h"

namespace kordb {

struct PlanCounts {
    long insert = 0;
    long update = 0;
    long unchanged = 0;
    long skip = 0;
    long refused = 0;
};

// Plans the worksheet SheetName into TableName (KeyColumn as Start takes them) without
// writing anything: not the destination, not a file, not the settings. Later rows see what
// earlier ones would have stored. Errors are reported as Start's traps report them; returns
// false after one.
bool PlanMigration(Form& f, const std::function<void(const std::string&)>& line,
                   PlanCounts& counts);

// "plan: 120 insert, 37 update, 5 unchanged, 2 skip, 1 refused"
std::string planSummary(const PlanCounts& c);

}  // namespace kordb

#pragma once
// kordb-cli check: whether the destination fits a sheet, proved before the first write.

#include <iosfwd>

#include "form/form.h"

namespace kordb {

class CliOperator;

// Once connected and the sheet picked as for migrate: one line per finding on out, the
// summary as a note. kExitOk when the destination fits, kExitFindings when something does
// not, kExitNoSource when the sheet cannot be read.
int runCheck(Form& form, CliOperator& op, const std::string& workbook, const std::string& sheet,
             std::ostream& out);

}  // namespace kordb

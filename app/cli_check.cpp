#include "app/cli_check.h"

#include <ostream>

#include "app/cli.h"
#include "migration/check.h"
#include "migration/journal.h"

namespace kordb {

int runCheck(Form& form, CliOperator& op, const std::string& workbook, const std::string& sheet,
             std::ostream& out) {
    CheckInput in;
    in.workbook = pathFromUtf8(workbook);
    in.sheet = sheet;
    const CheckReport report = checkDestination(*form.st.DestConn, in);
    for (const CheckFinding& f : report.findings) out << checkLine(f) << '\n';
    out << std::flush;
    op.note(checkSummary(report, in.sheet));
    if (report.workbookUnreadable) return kExitNoSource;
    return report.fits() ? kExitOk : kExitFindings;
}

}  // namespace kordb

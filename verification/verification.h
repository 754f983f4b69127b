#pragma once
// The Verify button and its checks as the window's procedures: each runs the service of
// verify_sheet.h for the form's chosen worksheet and shows what it found.

#include <string>
#include <vector>

#include "form/form.h"
#include "verification/findings_lines.h"
#include "verification/verify_sheet.h"

namespace kordb {

void CVerify_Click(Form& f);

// One check alone, as a run would do it at its place; ErrKeys gathers the keys the duplicate
// checks found, and CheckCodeValues lists the rows of those keys (mode "DUPLICATE", "PLUERR")
// or every other row with a key (mode "OK").
void CheckNullValues(Form& f);
void CheckDuplicateKeys(Form& f);
void CheckDuplicatePlu(Form& f);
void CheckCodeValues(Form& f, const std::string& checkMode);

// The verification of the form's chosen worksheet (SheetName, KeyColumn).
VerifyRequest verifyRequest(Form& f);

// What Verify shows before its checks run.
void showVerifyStart(Operator& ui);
// The findings' lines in the list, each check's error in its box; then the closing lines, the
// Start button and the result box. Returns whether an error was found.
bool showVerifyResult(Form& f, const VerifyFindings& found, const std::string& keyColumn);
// Lines in the list, errors in their boxes, in order.
void showFindingLines(Form& f, const std::vector<FindingLine>& lines);

}  // namespace kordb

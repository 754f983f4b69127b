// The checks one at a time, for a caller that runs one alone (the benchmark times each): each
// runs its part of the service and shows its findings as it would at its place in a run.

#include "verification/error_files.h"
#include "verification/verification.h"

namespace kordb {

namespace {

void markFound(Form& f, bool found) {
    if (found) f.st.ErrFound = true;
}

}  // namespace

void CheckNullValues(Form& f) {
    ErrorFileSink files(f.errorFolder, f.st.WorkbookTitle);
    VerifyFindings found;
    findRowsWithoutKey(verifyRequest(f), files, found);
    std::vector<FindingLine> lines;
    addNullCheckLines(lines, found, f.st.KeyColumn);
    showFindingLines(f, lines);
    f.st.ErrCount = int32_t(found.rowsWithoutKey.size());
    markFound(f, found.errorFound());
}

void CheckDuplicateKeys(Form& f) {
    f.ui.listRefresh();
    f.ui.setStartEnabled(false);
    ErrorFileSink files(f.errorFolder, f.st.WorkbookTitle);
    VerifyFindings found;
    findDuplicatedKeys(verifyRequest(f), files, found);
    std::vector<FindingLine> lines;
    addDuplicateKeyLines(lines, found);
    showFindingLines(f, lines);
    f.st.ErrCount = int32_t(found.duplicateRows.rows);
    f.st.ErrKeys.insert(f.st.ErrKeys.end(), found.excludedKeys.begin(), found.excludedKeys.end());
    markFound(f, found.errorFound());
}

void CheckDuplicatePlu(Form& f) {
    ErrorFileSink files(f.errorFolder, f.st.WorkbookTitle);
    VerifyFindings found;
    findRepeatedPlu(verifyRequest(f), files, found);
    std::vector<FindingLine> lines;
    addRepeatedPluLines(lines, found);
    showFindingLines(f, lines);
    f.st.ErrCount = int32_t(found.pluRows.rows);
    f.st.ErrKeys.insert(f.st.ErrKeys.end(), found.excludedKeys.begin(), found.excludedKeys.end());
    markFound(f, found.errorFound());
}

void CheckCodeValues(Form& f, const std::string& checkMode) {
    ListingMode mode = ListingMode::Ok;
    for (ListingMode m : {ListingMode::Duplicate, ListingMode::PluErr})
        if (checkMode == listingModeName(m)) mode = m;
    ErrorFileSink files(f.errorFolder, f.st.WorkbookTitle);
    ListingFindings listing = listRows(verifyRequest(f), files, mode, f.st.ErrKeys);
    std::vector<FindingLine> lines;
    addListingLines(lines, listing);
    showFindingLines(f, lines);
    f.st.ErrCount = int32_t(listing.rows);
    markFound(f, listing.error.has_value());
}

}  // namespace kordb

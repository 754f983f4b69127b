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

namespace {

// A check of repeated values: its rows listed, its keys kept out of the rest of the run.
template <class Find, class Lines, class Rows>
void checkRepeats(Form& f, Find find, Lines addLines, Rows rowsOf) {
    ErrorFileSink files(f.errorFolder, f.st.WorkbookTitle);
    VerifyFindings found;
    find(verifyRequest(f), files, found);
    std::vector<FindingLine> lines;
    addLines(lines, found);
    showFindingLines(f, lines);
    f.st.ErrCount = int32_t(rowsOf(found).rows);
    f.st.ErrKeys.insert(f.st.ErrKeys.end(), found.excludedKeys.begin(), found.excludedKeys.end());
    markFound(f, found.errorFound());
}

}  // namespace

void CheckDuplicateKeys(Form& f) {
    f.ui.listRefresh();
    f.ui.setStartEnabled(false);
    checkRepeats(f, findDuplicatedKeys, addDuplicateKeyLines,
                 [](const VerifyFindings& v) { return v.duplicateRows; });
}

void CheckDuplicatePlu(Form& f) {
    checkRepeats(f, findRepeatedPlu, addRepeatedPluLines,
                 [](const VerifyFindings& v) { return v.pluRows; });
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

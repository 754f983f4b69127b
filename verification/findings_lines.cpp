#include "verification/findings_lines.h"

namespace kordb {

namespace {

void addError(std::vector<FindingLine>& out, const std::optional<std::string>& error) {
    if (error) out.push_back({*error, true});
}

}  // namespace

void addNullCheckLines(std::vector<FindingLine>& out, const VerifyFindings& found,
                       const std::string& keyColumn) {
    // "Row" is one more than the finding's count, not the row's place in the sheet: operators
    // have read it so since the first release.
    for (const FoundRow& row : found.rowsWithoutKey)
        out.push_back({"Error Detected for " + keyColumn + " at Row [" +
                       std::to_string(row.ordinal + 1) + "]"});
    if (found.nullCheckError)
        addError(out, found.nullCheckError);
    else if (!found.rowsWithoutKey.empty())
        out.push_back({"Error !!! [" + std::to_string(found.rowsWithoutKey.size()) +
                       "] Null Value Detected"});
}

void addDuplicateKeyLines(std::vector<FindingLine>& out, const VerifyFindings& found) {
    for (const std::string& key : found.duplicatedKeys)
        out.push_back({"Duplicated Item Code ... [" + key + "]"});
    addError(out, found.duplicateCheckError);
    if (!found.duplicateCheckError && !found.duplicatedKeys.empty())
        addListingLines(out, found.duplicateRows);
}

void addRepeatedPluLines(std::vector<FindingLine>& out, const VerifyFindings& found) {
    for (const RepeatedPlu& pair : found.repeatedPlu)
        out.push_back({"Plu Code Duplicate ... [" + pair.pluCode + "]"});
    addError(out, found.pluCheckError);
    if (!found.pluCheckError && !found.repeatedPlu.empty()) addListingLines(out, found.pluRows);
}

void addListingLines(std::vector<FindingLine>& out, const ListingFindings& listing) {
    for (const BadKeyRow& bad : listing.badKeys)
        out.push_back({"Code Error Detected for " + bad.key});
    addError(out, listing.error);
}

std::vector<FindingLine> findingLines(const VerifyFindings& found, const std::string& keyColumn) {
    std::vector<FindingLine> out;
    addNullCheckLines(out, found, keyColumn);
    if (found.itemChecks) {
        addDuplicateKeyLines(out, found);
        addRepeatedPluLines(out, found);
    }
    addListingLines(out, found.finalListing);
    return out;
}

}  // namespace kordb

#pragma once
// What the findings of a verification show in the list, in the order the checks found them.

#include <string>
#include <vector>

#include "verification/verify_sheet.h"

namespace kordb {

// A list line, or the description of a check's error, shown in its box where it happened.
struct FindingLine {
    std::string text;
    bool error = false;
};

void addNullCheckLines(std::vector<FindingLine>& out, const VerifyFindings& found,
                       const std::string& keyColumn);
void addDuplicateKeyLines(std::vector<FindingLine>& out, const VerifyFindings& found);
void addRepeatedPluLines(std::vector<FindingLine>& out, const VerifyFindings& found);
void addListingLines(std::vector<FindingLine>& out, const ListingFindings& listing);

// Every check's lines in the order of the run.
std::vector<FindingLine> findingLines(const VerifyFindings& found, const std::string& keyColumn);

}  // namespace kordb

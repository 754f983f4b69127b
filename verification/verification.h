#pragma once
// The Verify button and its checks.

#include <string>
#include <string_view>

#include "core/state.h"

namespace kordb {

void CVerify_Click(Form& f);
void CheckNullValues(Form& f);
void CheckDuplicateKeys(Form& f);
void CheckDuplicatePlu(Form& f);
void CheckCodeValues(Form& f, const std::string& checkMode);
bool HasQuoteOrSpace(std::string_view text);

}  // namespace kordb

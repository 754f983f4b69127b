#pragma once
// Restoring the connection fields at start-up, and Connect.

#include "form/form.h"

namespace kordb {

void Form_Load(Form& f);
void CCONNECT_Click(Form& f);
void OpenDestination(Form& f);

}  // namespace kordb

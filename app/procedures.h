#pragma once
// Every procedure of the window, for the window and the companion. Each event procedure traps
// its own errors and reports them through the operator; none of them throws.

#include "form/connect.h"
#include "form/selection.h"
#include "migration/migration.h"
#include "verification/verification.h"

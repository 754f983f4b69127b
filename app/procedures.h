#pragma once
// Every procedure of the window, for the window and the companion. Each event procedure traps
// its own errors and reports them through the operator; none of them throws.

#include "migration/migration.h"
#include "settings/connect.h"
#include "source/selection.h"
#include "verification/verification.h"

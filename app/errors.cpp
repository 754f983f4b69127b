#include "app/errors.h"

#include "app/procedures.h"

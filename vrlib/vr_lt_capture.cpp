#include "vr_lt_internal.h"

#include "vr.h"

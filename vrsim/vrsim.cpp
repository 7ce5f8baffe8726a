#include "vrsim/vrsim.h"

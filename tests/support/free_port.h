// The tests' name for the free-port helper that the demo shares (tools/common/free_port.h).
#pragma once

#include "../../tools/common/free_port.h"

namespace net_test {

using vrtools::bindable;
using vrtools::free_loopback_port;

}  // namespace net_test

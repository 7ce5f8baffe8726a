// The VRPN device names a context keeps (vr_vrpn_names.cpp, in libvrcore: set-up files name
// devices too). Not exported.
#pragma once

#include <cstddef>

namespace vr::vrpn {

// Copies a device name into the context's room for it; false when it does not fit or does not
// read as "name@host".
bool keep_name(char *dst, const char *src, std::size_t length);

}  // namespace vr::vrpn

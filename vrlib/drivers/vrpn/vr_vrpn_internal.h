// The VRPN modules' shared pieces: the door in use and the pose conversions between VRPN's
// position-and-quaternion reports and the library's row-vector matrices. Not exported.
#pragma once

#include <cstddef>

#include "vr.h"

namespace vr::vrpn {

// Copies a device name into the context's room for it; false when it does not fit or does not
// read as "name@host". (vr_vrpn_names.cpp, in libvrcore: set-up files name devices too.)
bool keep_name(char *dst, const char *src, std::size_t length);

// The door in use (VRPN's own unless one was installed).
const vr_vrpn_door &door();

// A report (position in VRPN units, quaternion x, y, z, w) as a sensor-to-tracker matrix in cm.
void pose_to_matrix(const double position[3], const dquat orientation, double cm_per_unit,
                    dmat out);
// The reverse for a rigid matrix: position in VRPN units and a unit quaternion.
void matrix_to_pose(const dmat m, double cm_per_unit, double position[3], dquat orientation);

// The clock of VRPN's time stamps (seconds since 1970).
double vrpn_clock_now();

}  // namespace vr::vrpn

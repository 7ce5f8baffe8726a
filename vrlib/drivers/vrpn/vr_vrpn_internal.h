// The VRPN modules' shared pieces: the door in use and the pose conversions between VRPN's
// position-and-quaternion reports and the library's row-vector matrices. Not exported.
#pragma once

#include <cstddef>

#include "vr.h"
#include "vr_vrpn_names.h"

namespace vr::vrpn {

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

namespace vr::track {
struct Source;
}  // namespace vr::track
namespace vr::sources {
extern const vr::track::Source vrpn;  // this source's record for the registry (vr_vrpn.cpp)
}  // namespace vr::sources

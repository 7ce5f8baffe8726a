// Internal interface between the files of the Logitech driver module (vr_lt*.cpp) and the
// tracking front-end. Not exported.
#pragma once

#include "vr.h"
#include "vr_capture.h"

namespace vr::lt {

// The Logitech driver's own mapping of the capture area: null until the port set-up has mapped
// it (vr_lt.cpp). It is never unmapped.
const unsigned char *capture_area();

// Maps the Logitech driver's capture area when it is not mapped yet (the pauses around the
// mapping belong to the caller). False when the capture driver cannot be opened or mapped; the
// message has been printed then. (vr_lt.cpp)
bool map_serial();

// The capture ring of a unit's port, in the Logitech driver's mapping.
inline capture::RingView ring(const vr_lt_unit *unit) {
  return capture::RingView(capture_area(), unit->port);
}

// Opens the capture device (each path in turn until one opens), maps its area and, when asked,
// clears both rings. Prints the capture driver's message and returns null on failure.
// (vr_lt_capture.cpp)
unsigned char *map_capture_area(const int *device_ids, int device_count, bool clear_rings);

}  // namespace vr::lt

// Tracking status: whether the head and mouse trackers still deliver fresh poses. Each per-frame
// handler notes once per frame, whatever its source and whether display-time tracking is on,
// what it found for its role; the state and the age live in the context's extension state
// (attributes 131..134). Not exported.
#pragma once

#include "vr.h"

namespace vr::status {

enum Role { head = 0, mouse = 1 };

// What a handler found this frame: a mark that identifies the newest pose it could read (its
// ring position, or a raw record's unit time stamp: each source makes its own), or no_pose. A mark
// that differs from the last fresh one is a fresh pose.
constexpr long long no_pose = -1;
// A handler that had no unit to read: nothing is noted, the status stays as it was.
constexpr long long no_tracker = -2;

// Notes one frame of a tracker at the context's physical world time: updates the age and the
// state, and on a change to stale or lost, or back to tracking from them, writes the message
// (vr_ds_message for the DynaSight, vr_lt_message for every other source). The age counts from
// the frame that first read a fresh pose (0 in that frame), never from a measurement stamp.
// Never allocates.
void note_fresh(vr_ctx *ctx, Role role, bool fresh);
// The same for a handler that identifies its newest pose by a mark (see above); no_tracker notes
// nothing.
void note(vr_ctx *ctx, Role role, long long mark);

}  // namespace vr::status

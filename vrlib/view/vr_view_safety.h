// The last line of defence of the view pipeline: a frame whose matrices come out non-finite keeps
// those of the last good frame. Not exported.
#pragma once

#include "vr.h"

namespace vr::views {

// The clip planes of the frame just computed (plate z, cm), for naming a cause.
struct Planes {
  double hither_left, hither_right, yon;
};

// Called at the start of vr_comp_view: the first frame of a context takes what the context holds
// as its last good frame.
void begin_frame(vr_ctx *ctx);

// Called at the end of vr_comp_view: checks the frame's matrices group by group (views, head,
// mouse); a group with a non-finite entry gets the last good frame's values back and the frame
// is counted; a good group is kept as the new last good frame. Never allocates.
void keep_finite(vr_ctx *ctx, const Planes &planes);

}  // namespace vr::views

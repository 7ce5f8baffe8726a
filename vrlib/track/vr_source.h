// The one interface between the tracking front end and its sources. A source (one folder under
// drivers/) describes itself with a Source record; the registry above the drivers
// (sources/vr_sources.cpp) lists the records, and vr_init_glasses_and_mouse_6d and its siblings
// start and stop the one the context names through it. Adding a source is one folder and one
// line in that list.
//
// Every frame a source hands the front end what it read, as samples:
//   - a whole pose read from a capture ring (RingRecord below): the front end dates it from its
//     place in the ring and feeds it to the display-time predictor (vr_display_time.h);
//   - a pose dated by the source itself (take_dated_pose, take_dated_head in vr_display_time.h);
//   - for a raw ultrasonic unit, each new record's nine distances with their speakers' firing
//     moments (RawRecord below), and the unit's history of records to fit lines through
//     (RawHistory); the front end gates each distance, fits and extrapolates it, or feeds it to
//     the pose filter, and solves the pose through the source's own solver;
//   - for every frame, what it found for the tracking status (vr_status.h: a freshness mark).
// The front end owns, once for all sources, the tracking status, the pose age, display-time
// prediction, the gates and eye placement (vr_track_internal.h). Not exported.
#pragma once

#include "vr.h"
#include "vr_capture.h"
#include "vr_display_state.h"

namespace vr::track {

// One source as the registry lists it.
struct Source {
  const char *name = nullptr;
  // The VR_GLASSES_SOURCE values whose head this source serves (0 pads).
  int glasses_sources[2] = {0, 0};
  // The VR_MOUSE_SOURCE value of a mouse this source can run beside another source's head, or
  // 0: the mouse of a source without one comes with its head (or not at all).
  int own_mouse_source = 0;
  // Whether this source's head may run beside another source's mouse (own_mouse_source there).
  bool takes_other_mouse = false;
  // Starts the source's head and/or its mouse: 1 ready, 0 failed with a message.
  int (*start)(vr_ctx *ctx, int want_glasses, int want_mouse) = nullptr;
  // Starts it again after a pause (null: nothing to do).
  void (*restart)(vr_ctx *ctx, int want_glasses, int want_mouse) = nullptr;
  // Stops it and removes its handlers; harmless when it is not running.
  void (*stop)(vr_ctx *ctx) = nullptr;
};

// A whole pose that a source read from a serial line's capture ring this frame: the newest
// record's place in the ring dates it (its last byte arrived before the write offset, at the
// line's byte rate), less the device's own delay from measuring to sending.
struct RingRecord {
  int start;                    // ring position of the newest record, -1: none
  int write_offset;             // the writer's offset read this frame
  int bytes;                    // the record's length
  double line_bytes_per_s;      // the line's byte rate
  double delay_s;               // the device's time from measuring to sending
  const unsigned char *record;  // the record's bytes (to tell a repeated one)
  vr_lt_unit *unit;             // the unit it came from (for build_mat_6Dm_to_dig)
  vr_lt_6d pose;                // the record decoded (cm, radians)
  bool with_orientation;        // false: a position only (the DynaSight)
  // Bytes of the next record already in the ring after this one (0: none): that record is on
  // its way, and its end arrives within a byte of (bytes - partial_bytes) byte times from now.
  int partial_bytes;
};

// Raw units: how a record's nine distances were measured. Speaker k / 3 fired at the record's
// top-speaker moment plus speaker_offset_s[k / 3] and microphone mic_of_channel[k % 3] heard it.
// Speakers are in the tracker's frame, microphones in the receiver frame of the pose matrix (cm),
// for the pose filter's measurement model.
struct RawLayout {
  double speaker_offset_s[3];
  int mic_of_channel[3];
  double speaker[3][3];
  double mic[3][3];
};

// A raw unit's records as the front end reads them this frame: the source's history (its slots
// hold the newest records, one per slot) with each slot's firing moment on the physical world
// time line, and a solver that turns nine distances into a pose (true: `pose` written; it comes
// in holding the previous pose, which the solver may start from).
struct RawHistory {
  int newest_slot;  // -1: no history
  // Slots among the newest VR_RAW_FIT_SLOTS (the most a line is fitted through) that hold a
  // valid record whose moment is known, and each one's top-speaker moment. The pose filter reads
  // no history: for it the source may leave every slot out.
  unsigned usable;
  double fired_s[vr_display_slots];
  const float
      *distance_cm[vr_display_channels];  // per distance, its value per slot (> 0: measured)
  const RawLayout *layout;
  bool (*solve)(vr_ctx *ctx, void *unit, dmat pose, const double distance_cm[vr_display_channels]);
  void *unit;  // handed to solve
};

// One record the source has just placed on the time line, oldest first.
struct RawRecord {
  int slot;              // its slot in the history
  double fired_s;        // its top speaker's moment
  bool valid;            // the capture found the record plausible
  bool seen;             // the source handed this record over before (a capture pass can)
  bool clock_restarted;  // the source's clock started afresh here: older lines no longer hold
};

}  // namespace vr::track

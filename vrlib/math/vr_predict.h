// Pose prediction to the moment a frame is shown: a double-exponential smoothing predictor
// (Holt's level and trend, for irregular measurement times) on a position and an orientation,
// with a robust gate against measurements that disagree with their recent history and a hold
// against jumps no head can make. It serves every tracker that reports whole poses (the 6D
// reports, the DynaSight, network head trackers).
//
// Plain data and free functions; no allocation, no clock of its own: the caller gives every
// measurement the time it was taken and asks for the pose at the time it wants, both on one time
// line (seconds). Not exported from the shared libraries.
#pragma once

// Settings of a predictor. The defaults suit a head measured 50 to 120 times a second.
struct vr_predictor_settings {
  double level_s = 0.01;   // time constant of the smoothed pose in motion (s); 0 = none
  double trend_s = 0.015;  // time constant of the smoothed velocity (s)
  // A head that barely moves is not extrapolated and is smoothed more, so that holding still
  // shows no more jitter than the measurements have: below ramp_low the velocity is not used
  // and the pose is smoothed with still_level_s; above ramp_high the full velocity and level_s
  // apply; in between, both blend linearly. The same for turns, in rad/s.
  double still_level_s = 0.02;
  double ramp_low_cm_s = 2.0;
  double ramp_high_cm_s = 6.0;
  double ramp_low_rad_s = 0.05;
  double ramp_high_rad_s = 0.15;
  double max_horizon_s = 0.1;       // furthest look ahead of the newest measurement (s)
  double speed_limit_cm_s = 300.0;  // faster moves are jumps: held and counted
  double turn_limit_rad_s = 20.0;   // faster turns are jumps
  double jump_floor_cm = 1.0;       // a move this small is never a jump
  double jump_floor_rad = 0.1;      // a turn this small is never a jump
  double gate_sigmas = 4.0;         // robust gate, in median-absolute-deviation sigmas; 0 = off
  double gate_floor_cm = 0.5;       // the gate is never narrower than this
  double gate_floor_rad = 0.05;     // nor than this for the orientation
  double restart_after_s = 0.25;    // measurements refused this long in a row restart the track
};

// What became of one measurement.
enum vr_predict_result {
  VR_PREDICT_TAKEN = 0,     // used
  VR_PREDICT_REJECTED = 1,  // disagreed with the recent history (robust gate): not used
  VR_PREDICT_HELD = 2,      // a jump faster than a head moves: not used, the pose is held
  VR_PREDICT_REFUSED = 3,   // not a measurement: non-finite, or not later than the last one
  VR_PREDICT_RESTARTED = 4  // used as the start of a new track (first, after a gap or a time jump)
};

constexpr int vr_predictor_history = 9;  // innovations kept for the robust gate

struct vr_pose_predictor {
  vr_predictor_settings settings;
  int tracking;            // 0 until the first measurement is taken
  int has_orientation;     // the measurements carry orientations
  double time_s;           // time of the newest measurement taken
  double pos[3];           // smoothed position at time_s (cm)
  double vel[3];           // smoothed velocity (cm/s)
  double quat[4];          // smoothed orientation at time_s (x, y, z, w; unit)
  double omega[3];         // smoothed angular velocity (rad/s, as a rotation vector per second)
  double move_gain;        // share of the velocity used (0 still .. 1 moving), from the ramp
  double turn_gain;        // the same for the angular velocity
  double last_taken_s;     // time of the newest measurement used
  double seen_s;           // time of the newest measurement judged (used, gated or held)
  double refused_since_s;  // first of the measurements refused in a row; < 0: none
  double move_history[vr_predictor_history];  // |innovation| of the newest positions (cm)
  double turn_history[vr_predictor_history];  // |innovation| of the newest orientations (rad)
  int history_count;
  int history_next;
  long taken, rejected, held, refused, restarts;  // what became of the measurements
};

// Starts over with no measurement; settings null: the defaults.
void vr_predictor_reset(vr_pose_predictor *pred, const vr_predictor_settings *settings);

// Adds a measurement taken at measured_time_s: a position (cm) and, unless null, an orientation
// (quaternion x, y, z, w; normalised here, refused when it has no length).
vr_predict_result vr_predictor_add(vr_pose_predictor *pred, double measured_time_s,
                                   const double pos[3], const double quat[4]);

// The pose at display_time_s: the smoothed pose carried along its velocity, at most
// max_horizon_s ahead of the newest measurement and never back before it. quat_out may be null
// (it gets the identity when the measurements carry no orientation). 0 (outputs untouched) when
// nothing has been measured or display_time_s is not finite; else 1, with finite outputs.
int vr_predictor_predict(const vr_pose_predictor *pred, double display_time_s, double pos_out[3],
                         double quat_out[4]);

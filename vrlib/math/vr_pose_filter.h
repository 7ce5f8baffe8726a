// Pose filter: an error-state Kalman filter that keeps one rigid receiver's pose and velocities
// consistent with every measurement, each applied alone at the moment it was taken.
//
// State. Position p (cm), velocity v (cm/s) and acceleration a (cm/s^2) in the tracker's frame
// (the dig frame), the orientation as a unit quaternion and the angular velocity w (rad/s, a
// rotation vector per second in the dig frame). The covariance is kept on a 15-dim error state:
// dp, dv, a small rotation vector dtheta applied on the dig side of the orientation
// (true = exp(dtheta) * est), dw, da; only its lower triangle is stored (120 numbers). The
// orientation itself never enters the covariance, so it stays a unit quaternion and has no
// singularity.
//
// Model. The position follows a fading acceleration: a decays toward zero with the time constant
// accel_fade_s and is driven by white jerk (jerk_density_cm2_s5, cm^2/s^5), and the velocity
// takes white acceleration noise on top (accel_density_cm2_s3, cm^2/s^3: over dt the velocity's
// variance grows by density * dt and the position's by density * dt^3 / 3). Tracking the
// acceleration is what takes the head's speeding up and slowing down across the 40 to 70 ms from
// a measurement to the display; the fade keeps a coast from carrying a stale acceleration on.
// The orientation follows a constant angular velocity driven by white angular acceleration
// (turn_density_rad2_s3). Larger densities follow quick changes of motion sooner but let more
// measurement noise through; smaller ones smooth more and lag. A receiver that stands still gets
// only still_noise_share of the densities (rising with its speed and turn to all of them), so a
// still head is held steadier without the filter being slower once it moves.
//
// Measurements, each at its own time on the caller's one time line (seconds):
//   - a distance (raw ultrasonic units): d = |p + R m - s| from a speaker at s (dig frame, cm)
//     to a microphone at m (receiver frame, cm), R the orientation. One scalar, with the
//     Jacobian u' on dp and ((R m) x u)' on dtheta (u the unit vector speaker -> microphone).
//     Its noise (distance_sigma_cm) is the effective error of one distance: the count resolution
//     (about 0.0053 cm) is far below what the timing of the speakers' firings and the geometry
//     leave, and the model's own error between measurements adds to it (0.05 cm did better on
//     the simulator's 0.02 cm of noise than 0.02 cm did).
//   - a whole pose (6D reports, DynaSight, network, VRPN): a position (3 scalars) and, unless
//     the source has none, an orientation (3 scalars: the rotation vector from the filter's
//     orientation to the measured one). Noise sigmas per axis, pose_sigma_cm and pose_sigma_rad.
// Each is gated by its innovation's Mahalanobis distance, a chi-square test: 1 degree of
// freedom for a distance (gate_chi2_1, 12.25 = 3.5 sigma), 3 for the position and for the
// orientation of a pose (gate_chi2_3, 17.9: the same tail probability, 4.7e-4). A measurement
// beyond its gate is refused and counted, and leaves the state untouched. A pose is applied as
// scalar updates in turn, which with independent noise per axis is the same as applying it whole.
//
// Time. The state lives at one time (time_s) and only moves forward: a measurement is applied
// after the state is carried to its time. One slightly older than the state (up to
// late_window_s, such as a record whose time estimate moved back by a clock correction) is
// applied at the state's time with its noise widened by how far the measured value moves in
// that time; an older one is refused and counted. The prediction to the display time (which
// leaves the state alone) carries the pose along the velocities at most max_horizon_s past the
// newest measurement taken, so that a source that falls silent leaves the picture still, and
// bends it with the acceleration only over accel_horizon_s past that measurement (the state's
// own steps do the same), so that a silence does not carry the pose off on a parabola.
//
// Life. Off until started from a first solved pose (vr_pose_filter_start; a pose measurement
// starts it by itself). After a long coast the pose may be too uncertain for distances alone
// (distance_max_sigma_*): the filter then asks for a solved pose as a measurement. Converging while
// the position's or orientation's standard deviation is above tracking_sigma_cm /
// tracking_sigma_rad, then tracking; coasting while no measurement was taken for coast_after_s; off
// again, waiting for a new start, after restart_after_s without a measurement taken, or after
// reset_after_refused measurements refused in a row (a state that disagrees with everything has
// diverged). The covariance's diagonal is held below the max_sigma_* bounds (row and column scaled
// together, so it stays positive) and above a small floor; it is symmetric by its storage.
//
// Robustness. Non-finite or meaningless input (times, positions, quaternions without length,
// distances not above zero, noise sigmas) is refused and counted before it touches anything, and
// an update whose gain is not finite is dropped.
//
// When to use it. For raw ultrasonic units it replaces fitting lines through each distance: the
// nine distances of a record are bound to one rigid receiver and each is taken at its speaker's
// firing moment, so turns and curved distance histories no longer bend the pose. For whole-pose
// sources it is a smoother that follows the head's acceleration, coasts through dropouts and
// weighs each pose by its noise; the double-exponential predictor (vr_predict.h) is the cheaper
// alternative there. On the simulator (vrquality, seed 1) the filter is ahead of the
// display-time path for 6D reports at 5 ms (demo session 0.097 against 0.118 cm RMS), through
// dropouts (0.5 s: 1.26 against 4.16 cm worst), for a 30 Hz network sender with 20 ms of latency
// (0.195 against 0.375 cm RMS), and for a still head on a raw unit it jitters no more (0.046
// against 0.045 cm). One frame with two raw units (nine distances each, 50 records a second, each
// speaker's three given together to vr_pose_filter_distances) costs 2.6 to 3 us.
//
// Use for a raw unit (one filter per receiver). Speakers in the dig frame from the transmitting
// unit's transmitter_geom (base b, side s): sll (-b/2, 0, 0), slr (b/2, 0, 0), stop
// (0, sqrt(s^2 - b^2/4), 0): the frame the raw solver builds, origin between sll and slr.
// Microphones in the receiver frame of the pose matrix (the solver's frame with x and z reversed)
// from the receiving unit's receiver_geom (base b, side s, height h, top offset e; h = 0: from
// the side, which the glasses unit reports 0.08 cm short): mll (b/2, 0, 0), mlr (-b/2, 0, 0),
// mtop (-e, h, 0). Channels 1-3 are sll's, 4-6 slr's, 7-9 stop's, each speaker's three heard by
// mlr, mll, mtop in that order. Each distance goes in at its speaker's firing moment, records in
// time order, a speaker's distances together (vr_pose_filter_distances); samples that are no
// measurement (not above zero) are left out, not fed. While
// vr_pose_filter_wants_pose says so, the record's solved pose goes in first: as the start when
// the filter is off, else as a pose measurement (with the solver's noise: a few millimetres and
// a hundredth of a radian).
//
// Frames and conventions. Positions in cm; the orientation as the library's quaternion
// (x, y, z, w) of the receiver's pose matrix, as vr_mat_to_quat gives it for the matrix whose
// rows 0..2 are the receiver's axes in the dig frame and whose row 3 is its origin: a receiver
// point m lands at m * M (row vector), the same as p + R m with R the transpose of
// vr_quat_to_mat(q).
//
// Plain data and free functions: no allocation, no clock of its own, no blocking. Not exported
// from the shared libraries.
#pragma once

// Settings of a filter, with their units. The defaults suit a head measured by a raw ultrasonic
// unit (nine distances 50 times a second) or a whole-pose source at 30 to 120 Hz. They were
// chosen on the simulator's scripted sessions (distance noise 0.02 cm, the left eye predicted
// 40 ms past the frame, records 12.5 ms on the line) and its 30 Hz network sender: larger
// densities follow the turns and the demo session better, smaller ones keep a still head
// stiller.
struct vr_pose_filter_settings {
  // Process noise: white acceleration spectral density per axis (cm^2/s^3) on the velocity,
  // besides the tracked acceleration, and white angular acceleration spectral density per axis
  // (rad^2/s^3).
  double accel_density_cm2_s3 = 30.0;
  double turn_density_rad2_s3 = 2.0;
  // White jerk spectral density per axis (cm^2/s^5): how quickly the acceleration the filter
  // keeps may change. The acceleration fades toward zero with the time constant accel_fade_s
  // (s; 0: it never fades), so that a coast does not carry a stale one on and on. Jerk density 0
  // with start_sigma_cm_s2 0: the plain constant-velocity model.
  double jerk_density_cm2_s5 = 1e5;
  double accel_fade_s = 0.3;
  // A receiver that stands still gets only still_noise_share of these densities (a share of 1:
  // always all of them), rising linearly with its speed to all of them at still_below_cm_s or
  // with its turn at still_below_rad_s: a still head is held steadier without the filter being
  // slower to follow once it moves.
  double still_noise_share = 0.1;
  double still_below_cm_s = 12.0;
  double still_below_rad_s = 0.15;
  // Measurement noise (one sigma): a raw distance (cm); a pose's position per axis (cm) and its
  // orientation per axis (rad). A call may give its own sigma instead. A pose's position is
  // taken as less sure than the reports' own noise (0.02 cm on the simulator): the time it is
  // dated with is a few milliseconds off either way, and 0.1 cm did better there than 0.05.
  double distance_sigma_cm = 0.05;
  double pose_sigma_cm = 0.1;
  double pose_sigma_rad = 0.005;
  // Gates on the squared Mahalanobis distance of the innovation (chi-square): 1 degree of
  // freedom for a distance, 3 for a pose's position and for its orientation. 0 = no gate.
  double gate_chi2_1 = 12.25;
  double gate_chi2_3 = 17.9;
  // This many measurements refused in a row (gated, late or not finite) turn the filter off.
  int reset_after_refused = 27;
  // Coasting after this long without a measurement taken (s); off after restart_after_s
  // (0 = never).
  double coast_after_s = 0.06;
  double restart_after_s = 1.0;
  // How much older than the state a measurement may be and still be taken (s).
  double late_window_s = 0.01;
  // How far the velocities carry the pose past the newest measurement taken (s).
  double max_horizon_s = 0.5;
  // How long past the newest measurement taken the acceleration acts (s), in the prediction and
  // in the state's own steps: past it the velocity it reached carries the pose on in a straight
  // line and the acceleration is taken as gone.
  double accel_horizon_s = 0.1;
  // The prediction to the display time uses the velocities (and the acceleration with the
  // velocity) in full only above ramp_high: below ramp_low a velocity is taken for the noise of a
  // still receiver's estimate and not extrapolated (the state itself keeps it); in between the
  // share rises linearly. Speeds in
  // cm/s, turns in rad/s; 0 and 0: always in full.
  double ramp_low_cm_s = 2.0;
  double ramp_high_cm_s = 6.0;
  double ramp_low_rad_s = 0.05;
  double ramp_high_rad_s = 0.15;
  // Distances are taken only while the position's and the orientation's standard deviations
  // (largest axis) are below these (cm, rad). Beyond them a distance may pull the pose toward a
  // wrong one that explains it as well (a flat receiver's mirror image, a turn for a shift), so
  // the filter asks for a solved pose instead (vr_pose_filter_wants_pose).
  double distance_max_sigma_cm = 2.0;
  double distance_max_sigma_rad = 0.1;
  // Standard deviations at the start: position (cm), velocity (cm/s), acceleration (cm/s^2),
  // orientation (rad), angular velocity (rad/s). The start's velocities and acceleration are
  // zero.
  double start_sigma_cm = 1.0;
  double start_sigma_cm_s = 50.0;
  double start_sigma_cm_s2 = 100.0;
  double start_sigma_rad = 0.05;
  double start_sigma_rad_s = 2.0;
  // Bounds on the standard deviations, same units: the covariance never grows past them.
  double max_sigma_cm = 100.0;
  double max_sigma_cm_s = 500.0;
  double max_sigma_cm_s2 = 5000.0;
  double max_sigma_rad = 3.0;
  double max_sigma_rad_s = 30.0;
  // Converging until the position's and the orientation's standard deviations (the largest
  // axis) are below these (cm, rad); tracking afterwards.
  double tracking_sigma_cm = 0.2;
  double tracking_sigma_rad = 0.02;
};

// What the filter does, for the tracking status.
enum vr_pose_filter_state {
  VR_FILTER_OFF = 0,         // not started, or lost: waits for a start from a solved pose
  VR_FILTER_CONVERGING = 1,  // started, the pose still uncertain
  VR_FILTER_TRACKING = 2,    // measurements taken, the pose certain
  VR_FILTER_COASTING = 3     // no measurement taken for coast_after_s: carried on its velocities
};

// What became of one measurement.
enum vr_pose_filter_result {
  VR_FILTER_TAKEN = 0,      // applied
  VR_FILTER_GATED = 1,      // innovation beyond the gate: refused
  VR_FILTER_INVALID = 2,    // not finite, or meaningless (no length, not positive): refused
  VR_FILTER_LATE = 3,       // older than the state by more than late_window_s: refused
  VR_FILTER_UNSTARTED = 4,  // the filter is off: a distance cannot start it
  VR_FILTER_STARTED = 5,    // a pose that (re)started the filter
  VR_FILTER_NEEDS_POSE = 6  // a distance while the pose is too uncertain: not used
};

constexpr int vr_pose_filter_dim = 15;  // error state: dp, dv, dtheta, dw, da
// The covariance is symmetric: only its lower triangle is kept, row by row.
constexpr int vr_pose_filter_packed = vr_pose_filter_dim * (vr_pose_filter_dim + 1) / 2;

struct vr_pose_filter {
  vr_pose_filter_settings settings;
  vr_pose_filter_state state;
  int has_orientation;  // the orientation is measured (started with one, or distances taken)
  double time_s;        // time of the state
  double last_taken_s;  // time of the newest measurement taken
  double pos[3];        // cm, dig frame
  double vel[3];        // cm/s
  double acc[3];        // cm/s^2
  double quat[4];       // x, y, z, w: the library's quaternion of the receiver's pose matrix
  double omega[3];      // rad/s, rotation vector per second in the dig frame
  // Error covariance: the lower triangle, row by row ((0,0), (1,0), (1,1), (2,0) ..).
  double cov[vr_pose_filter_packed];
  int refused_in_row;
  // What became of the measurements and of the filter, since the last init.
  long taken, gated, invalid, late;
  long unstarted;  // distances that came while off or too uncertain (UNSTARTED, NEEDS_POSE)
  long starts;     // starts, by vr_pose_filter_start or by a pose while off
  long resets;     // turned off by a run of refused measurements
  long gaps;       // turned off by restart_after_s without a measurement taken
};

// Off, counters zero; settings null: the defaults.
void vr_pose_filter_init(vr_pose_filter *f, const vr_pose_filter_settings *settings);

// Starts (or restarts) from a solved pose at time t: position (cm) and the library's quaternion,
// or null for a source without orientation (the orientation is then the identity and never
// judged). Velocities zero, covariance from the start_sigma_* settings. 0 (nothing changed) when
// an input is not finite or the quaternion has no length.
int vr_pose_filter_start(vr_pose_filter *f, double t, const double pos[3], const double quat[4]);

// 1 when the filter needs a solved pose before it can take distances again: it is off (start
// it, or feed the pose to vr_pose_filter_pose), or its pose became too uncertain while coasting
// (feed the pose to vr_pose_filter_pose, which keeps the velocities).
int vr_pose_filter_wants_pose(const vr_pose_filter *f);

// Carries state and covariance forward to time t (never back: an earlier t changes nothing).
// The measurement functions call it themselves.
void vr_pose_filter_advance(vr_pose_filter *f, double t);

// Tells the filter the time now, without moving its state, so that its state turns coasting and
// then off when measurements stop coming. Returns the state.
vr_pose_filter_state vr_pose_filter_tick(vr_pose_filter *f, double now_s);

// One speaker-to-microphone distance (cm) measured at time t: speaker at speaker_dig (dig frame,
// cm), microphone at mic_receiver (receiver frame, cm). sigma_cm <= 0: the settings' sigma.
vr_pose_filter_result vr_pose_filter_distance(vr_pose_filter *f, double t,
                                              const double speaker_dig[3],
                                              const double mic_receiver[3], double distance_cm,
                                              double sigma_cm);

// The most distances vr_pose_filter_distances takes at once: one speaker's firing, heard by the
// three microphones of a receiver.
constexpr int vr_pose_filter_batch_max = 3;

// Distances measured at the same time t from one speaker (speaker_dig) to several microphones
// (mic_receiver[i]): the same as vr_pose_filter_distance for each in turn, in that order (each
// gated by its own innovation after the ones before it), but with the covariance carried and
// read once for all of them and updated in one pass. results[i] gets what became of distance i.
// count is 0 to vr_pose_filter_batch_max; returns how many were taken (0 when results is null or
// count is out of range: nothing changed).
int vr_pose_filter_distances(vr_pose_filter *f, double t, const double speaker_dig[3],
                             const double *const mic_receiver[], const double distance_cm[],
                             int count, double sigma_cm, vr_pose_filter_result results[]);

// A whole pose measured at time t: position (cm) and the library's quaternion, or null for a
// source without orientation. Sigmas <= 0: the settings'. While the filter is off, the pose
// starts it (VR_FILTER_STARTED).
vr_pose_filter_result vr_pose_filter_pose(vr_pose_filter *f, double t, const double pos[3],
                                          const double quat[4], double sigma_cm, double sigma_rad);

// The pose at time t (such as the moment a frame is shown), carried along the velocities at most
// max_horizon_s past the newest measurement taken, without changing the filter. quat_out may be
// null. 0 (outputs untouched) when the filter is off or t is not finite; else 1.
int vr_pose_filter_predict(const vr_pose_filter *f, double t, double pos_out[3],
                           double quat_out[4]);

// Standard deviations of the position and of the orientation (largest axis; cm, rad).
double vr_pose_filter_sigma_cm(const vr_pose_filter *f);
double vr_pose_filter_sigma_rad(const vr_pose_filter *f);

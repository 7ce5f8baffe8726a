// The calibration procedures of vrcalib: where the targets are, how a touch or a held head
// position is taken from the tracker readings, and the fits that place a tracker's frame on the
// plate. They read the trackers through an ordinary context (vr_comp_view each frame) and let
// time pass through a Pacer, so the same code runs against the devices or the simulator.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "vrlib/vr.h"

namespace vrcalib {

using Vec3 = std::array<double, 3>;

// A named position on the plate (cm): a screen target or where the eyes are held.
struct Target {
  std::string name;
  Vec3 plate;
};

// The four corners (each margin_cm in from the edges) and the centre of the screen, z = 0.
std::vector<Target> screen_targets(double width_cm, double height_cm, double margin_cm);
// The eye positions of the head procedure: centred in front of the screen centre at distance_cm,
// then step_cm to the left, to the right, and up (left as the viewer sees it).
std::vector<Target> head_positions(double width_cm, double height_cm, double distance_cm,
                                   double step_cm);

// What a step of a procedure asks of the user.
enum class Ask { touch, hold };

// Lets time pass between tracker readings: real time in front of the devices, virtual time on
// the simulator (where it also tells the simulated user what was asked).
class Pacer {
 public:
  virtual ~Pacer() = default;
  virtual double now() = 0;
  virtual void wait(double seconds) = 0;
  virtual void asked(Ask what, const Target &target) {
    (void)what;
    (void)target;
  }
};

// A head tracker's report as the head procedure needs it: the head frame in the source's own
// frame. Each kind of head source (DynaSight, Logitech glasses, network sources) supplies one;
// place stores the fitted placement of the source's frame on the plate in the context.
class HeadSource {
 public:
  virtual ~HeadSource() = default;
  virtual const char *name() const = 0;
  // After vr_comp_view: the newest head pose in the source frame; false when none yet.
  virtual bool head_to_source(vr_ctx *ctx, dmat out) = 0;
  virtual bool place(vr_ctx *ctx, const dmat source_to_plate) = 0;
  // The placement that carries the measured points (source frame) onto the targets (plate),
  // among the placements this source can keep. Default: any rotation and translation.
  virtual vr_fit_result fit(int n, const dpt *from, const dpt *to, dmat out, double *rms,
                            double *worst) {
    return vr_rigid_fit(n, from, to, out, rms, worst);
  }
  // Printed after the fit: what of the measured placement the source cannot keep (empty: none).
  virtual std::string caveat() const { return {}; }
};

// The sources that report in the tracker (dig) frame, placed by VR_TRACKER_TO_PLATE.
class TrackerFrameHeadSource : public HeadSource {
 public:
  explicit TrackerFrameHeadSource(const char *name) : name_(name) {}
  const char *name() const override { return name_; }
  bool head_to_source(vr_ctx *ctx, dmat out) override;
  bool place(vr_ctx *ctx, const dmat source_to_plate) override;

 private:
  const char *name_;
};

// The network (webcam) source: its frame is the camera's, placed on the plate only by
// VR_NET_CAMERA_OFFSET and VR_NET_CAMERA_TILT (a turn about the plate's x axis, then the offset
// from the middle of the screen's top edge), rebuilt by the source every frame. The fit is
// therefore restricted to such placements; a camera also turned about another axis is reported
// (caveat) with the angle that the set-up cannot keep.
class NetworkHeadSource : public HeadSource {
 public:
  const char *name() const override { return "webcam (opentrack)"; }
  bool head_to_source(vr_ctx *ctx, dmat out) override;
  bool place(vr_ctx *ctx, const dmat source_to_plate) override;
  vr_fit_result fit(int n, const dpt *from, const dpt *to, dmat out, double *rms,
                    double *worst) override;
  std::string caveat() const override;
  // The camera offset and tilt that give a placement of this kind, for a context's screen.
  static void offset_and_tilt(const vr_ctx *ctx, const dmat camera_to_plate, dpt offset,
                              double *tilt_rad);

 private:
  double unkept_turn_deg_ = 0.0;  // angle between the free fit's rotation and the tilt's
};

// The camera's placement that a context's VR_NET_CAMERA_OFFSET and VR_NET_CAMERA_TILT give.
void camera_placement(vr_ctx *ctx, dmat out);
// The best placement turned only about the plate's x axis (rotation Rx(tilt), any translation)
// carrying from onto to, least squares; the same result codes as vr_rigid_fit.
vr_fit_result fit_tilt_and_offset(int n, const dpt *from, const dpt *to, dmat out, double *rms,
                                  double *worst);

struct Settings {
  double margin_cm = 2.0;          // screen targets in from the edges
  double touch_motion_cm = 0.3;    // a touch whose tip moves more while the button is down is
                                   // taken again
  double head_distance_cm = 60.0;  // tape-measured eyes-to-screen distance of the centre pose
  double head_step_cm = 15.0;      // left, right and up from the centre pose
  double head_motion_cm = 0.5;     // a held head position may wander this much
  double settle_s = 3.0;           // time to reach a head position before it is taken
  double hold_s = 1.0;             // how long a head position is held and averaged
  double step_timeout_s = 120.0;   // a step not done by then ends the calibration
  double frame_s = 1.0 / 60.0;     // tracker reading interval
};

// One fitted point: its target and how far the fitted placement puts the measured point from it.
struct Residual {
  std::string name;
  double cm;
};

struct Result {
  bool ok = false;
  std::string error;  // when not ok
  dmat source_to_plate{};
  double rms_cm = 0.0;
  double worst_cm = 0.0;
  int retakes = 0;  // touches or holds taken again because the tracked point moved
  std::vector<Residual> residuals;
};

// Touches of the screen targets with the 3D mouse tip; fits VR_TRACKER_TO_PLATE. The context
// must have the mouse running (vr_init_glasses_and_mouse_6d). Prints each step on out.
Result calibrate_mouse(vr_ctx *ctx, Pacer &pacer, const Settings &s, std::FILE *out);
// Head held at the named positions; fits the head source's placement on the plate.
Result calibrate_head(vr_ctx *ctx, HeadSource &source, Pacer &pacer, const Settings &s,
                      std::FILE *out);

// ---- The pieces, for the tests ----------------------------------------------------------------

// Follows the mouse buttons: while a button is down the tip points are averaged; on release the
// touch is accepted, or refused when the tip wandered more than the limit from where it started.
class TouchRecorder {
 public:
  enum class Event { none, accepted, refused };
  explicit TouchRecorder(double max_motion_cm) : max_motion_cm_(max_motion_cm) {}
  Event feed(const Vec3 &tip, bool button_down);
  const Vec3 &point() const { return point_; }
  double motion_cm() const { return motion_cm_; }

 private:
  double max_motion_cm_;
  bool down_ = false;
  int count_ = 0;
  Vec3 first_{}, sum_{}, point_{};
  double motion_cm_ = 0.0;
};

// Averages the points of one hold window; refuses it when a point is further than the limit
// from the window's mean.
class HoldRecorder {
 public:
  explicit HoldRecorder(double max_motion_cm) : max_motion_cm_(max_motion_cm) {}
  void add(const Vec3 &p) { points_.push_back(p); }
  bool steady() const;  // true with at least one point and none too far from the mean
  Vec3 mean() const;
  double spread_cm() const;
  void clear() { points_.clear(); }

 private:
  double max_motion_cm_;
  std::vector<Vec3> points_;
};

}  // namespace vrcalib

// The Logitech head tracker and 3D mouse in 6D-report mode on the simulator: the set-up's
// command sequence and pauses in virtual time, and frames whose poses, eye points and views
// follow the simulated truth.
#include <cmath>
#include <numbers>

#include "track_fixture.h"

namespace {

using track_test::bytes;
using track_test::TrackTest;
using track_test::Write;

constexpr double inch_cm = 2.54;
constexpr double wire_cm = inch_cm / 1000.0;                  // one position step of a report
constexpr double wire_rad = std::numbers::pi / (180.0 * 40);  // one angle step of a report
// Three angles each off by up to one step move a rotation element by at most their sum.
constexpr double rotation_tol = 3 * wire_rad;

// vr_usleep polls the processor clock, and the simulator moves that clock one step per reading
// except the first after a line call. The 0.1 s settle after the filter length and the 0.1 s
// pause before the first mapping follow each other without a line call between them, so the
// second costs one step more.
constexpr double back_to_back_step_s = 0.001;

const std::string reset = "*R";
const std::string filter_6d = bytes({'*', '$', 2, 7, 3});
const std::string op_info = "*m";
const std::string stream = "*S";
const std::string demand = "*D";

// A pose with all three rotations and a translation, as a sensor-to-dig matrix.
void pose_matrix(double roll, double pitch, double yaw, double x, double y, double z, dmat out) {
  vr_lt_6d p{x, y, z, roll, pitch, yaw, 0};
  build_mat_6Dm_to_dig(nullptr, &p, out);
}

void expect_pose_near(dmat got, dmat want, const char *what) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(got[r][c], want[r][c], rotation_tol) << what << " [" << r << "][" << c << "]";
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[3][c], want[3][c], wire_cm) << what << " t" << c;
}

class Lt6d : public TrackTest {};

TEST_F(Lt6d, SetUpSendsEveryCommandInOrderWithItsPauses) {
  vrsim_plug_standard(sim);
  use_6d();
  ASSERT_EQ(vr::lt::capture_area(), nullptr);
  double t0 = vrsim_now(sim);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  // Two units and a first mapping, 6D-report mode.
  const double m = back_to_back_step_s;
  EXPECT_NEAR(vrsim_now(sim) - t0, 4.4 + m, 1e-9);

  const std::string slave_type_3 = bytes({'*', '$', 2, 1, 3});
  const std::vector<Write> want = {
      {0, reset, 1.1},
      {1, reset, 1.1},
      {0, filter_6d, 2.5},
      {1, filter_6d, 2.5},
      {0, op_info, 2.9 + m},
      {1, op_info, 2.9 + m},
      {1, slave_type_3, 3.5 + m},
      {1, op_info, 3.7 + m},
      {0, stream, 4.3 + m},
      {1, stream, 4.3 + m},
  };
  std::vector<Write> got = writes();
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].port, want[i].port) << i;
    EXPECT_EQ(got[i].bytes, want[i].bytes) << i;
    EXPECT_NEAR(got[i].time - t0, want[i].time, 1e-9) << i;
  }

  // Both lines: Logitech settings, no modem lines touched, non-blocking reads.
  for (int port : {0, 1}) {
    int i = vrsim_event_find(sim, 0, VRSIM_EV_LINE_SET, port);
    ASSERT_GE(i, 0);
    const vr_line_settings &s = vrsim_event_at(sim, i)->settings;
    EXPECT_EQ(s.baud, 19200);
    EXPECT_EQ(s.data_bits, 8);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stop_bits, 1);
    EXPECT_EQ(s.local, 1);
    EXPECT_EQ(s.read_enable, 1);
    EXPECT_EQ(s.hangup_on_close, 0);
    EXPECT_EQ(s.raw, 1);
    EXPECT_EQ(s.min_read, 0);
    EXPECT_EQ(s.read_timeout, 1);
    EXPECT_EQ(count_events(VRSIM_EV_NODELAY, port), 1);
  }
  EXPECT_EQ(count_events(VRSIM_EV_MODEM), 0);
  EXPECT_EQ(count_events(VRSIM_EV_SLEEP), 1);
  EXPECT_EQ(count_events(VRSIM_EV_OPEN), 2);
  EXPECT_EQ(count_events(VRSIM_EV_CAPTURE_OPEN), 1);

  // What the units now hold.
  vrsim_lt_state a, b;
  ASSERT_TRUE(vrsim_lt_get_state(sim, 0, &a));
  ASSERT_TRUE(vrsim_lt_get_state(sim, 1, &b));
  EXPECT_EQ(a.streaming, 1);
  EXPECT_EQ(b.streaming, 1);
  EXPECT_EQ(a.filter_length, 3);
  EXPECT_EQ(b.slave_type, 3);
  EXPECT_EQ(a.mode, VRSIM_MODE_6D);
  EXPECT_EQ(vr_lt_glasses_unit, &unit_6d[0]);
  EXPECT_EQ(vr_lt_mouse_6d_unit, &unit_6d[1]);
  EXPECT_STREQ(unit_6d[0].device_name, "Crystal Eyes(tm)");
  EXPECT_STREQ(unit_6d[1].device_name, "Logitech 3D Mouse");
  EXPECT_EQ(unit_6d[0].op_info.op_byte[6], 2);
  EXPECT_EQ(unit_6d[0].op_info.op_byte[8], 11);
  EXPECT_EQ(unit_6d[0].op_info.op_byte[9], 3);
  // Reported geometry: transmitter 12.000 in base and side, 10.000 in reference distance.
  EXPECT_DOUBLE_EQ(unit_6d[0].op_info.transmitter_geom[0], 12.0 * inch_cm);
  EXPECT_DOUBLE_EQ(unit_6d[0].op_info.transmitter_geom[2], 10.0 * inch_cm);
  EXPECT_DOUBLE_EQ(unit_6d[0].op_info.receiver_geom[0], 2.5 * inch_cm);
  EXPECT_DOUBLE_EQ(unit_6d[1].op_info.receiver_geom[0], 2.0 * inch_cm);

  EXPECT_EQ(ctx->glasses_event_fn, vr_lt_event_glasses);
  EXPECT_EQ(ctx->glasses_remove_fn, vr_lt_remove_glasses_and_mouse_6d);
  EXPECT_EQ(ctx->mouse_event_fn, vr_lt_event_mouse3d);
  EXPECT_EQ(ctx->mouse_remove_fn, vr_lt_remove_glasses_and_mouse_6d);
}

TEST_F(Lt6d, StillPosesAreRecoveredWithinTheReportResolution) {
  vrsim_plug_standard(sim);
  use_6d();
  dmat head, mouse;
  pose_matrix(0.1, -0.2, 0.3, 1.234, -8.765, 52.5, head);
  pose_matrix(-0.5, 0.25, 2.0, 7.5, -24.0, 38.25, mouse);
  vrsim_set_pose(sim, VRSIM_HEAD, head);
  vrsim_set_pose(sim, VRSIM_MOUSE, mouse);
  vrsim_set_buttons(sim, VRSIM_MOUSE, 5);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  frames(10);

  expect_pose_near(ctx->head_to_dig, head, "head_to_dig");
  expect_pose_near(ctx->mouse_to_dig, mouse, "mouse_to_dig");
  EXPECT_EQ(ctx->mouse_buttons, 5);

  // The mouse frames and tip points are the tracked pose carried through the context's frames.
  dmat mouse_to_plate;
  vr_mat_mul_mat(ctx->mouse_to_dig, ctx->dig_to_plate, mouse_to_plate);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_DOUBLE_EQ(ctx->mouse_to_plate[r][c], mouse_to_plate[r][c]);
  dpt tip_plate, tip_coex, tip_world, tip_truth;
  vr_mat_mul_dpt(ctx->mouse_tip_offset, mouse_to_plate, tip_plate);
  vr_mat_mul_dpt(tip_plate, ctx->plate_to_coexistence, tip_coex);
  vr_mat_mul_dpt(tip_coex, ctx->coexistence_to_world, tip_world);
  for (int i = 0; i < 3; ++i) {
    EXPECT_DOUBLE_EQ(ctx->mouse_tip_plate[i], tip_plate[i]);
    EXPECT_DOUBLE_EQ(ctx->mouse_tip_coexistence[i], tip_coex[i]);
    EXPECT_DOUBLE_EQ(ctx->mouse_tip_world[i], tip_world[i]);
  }
  // Against the truth: the tip lies about 10 cm from the receiver, so the angle steps count ten
  // times over.
  dmat truth_to_plate;
  vr_mat_mul_mat(mouse, ctx->dig_to_plate, truth_to_plate);
  vr_mat_mul_dpt(ctx->mouse_tip_offset, truth_to_plate, tip_truth);
  double tip_len = vr_dvector_length(ctx->mouse_tip_offset);
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(ctx->mouse_tip_plate[i], tip_truth[i], tip_len * rotation_tol + wire_cm);

  // Still head: the eye points are the eye offsets through the tracked head, moved 1.1 cm toward
  // the gaze target, without extrapolation.
  const double *eye_offset[2] = {ctx->left_eye_offset, ctx->right_eye_offset};
  const double *screen_eye[2] = {ctx->screen_left_eye, ctx->screen_right_eye};
  for (int e = 0; e < 2; ++e) {
    dpt dig, plate, gaze;
    vr_mat_mul_dpt(eye_offset[e], ctx->head_to_dig, dig);
    vr_mat_mul_dpt(dig, ctx->dig_to_plate, plate);
    const double *target = ctx->gaze_mode == 1 ? ctx->window_center : ctx->mouse_tip_plate;
    vr_dvector_sub(target, plate, gaze);
    vr_dvector_normalize(gaze);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(screen_eye[e][i], plate[i] + 1.1 * gaze[i], 1e-9);
  }
}

TEST_F(Lt6d, ViewsAreBuiltFromTheTrackedEyes) {
  vrsim_plug_standard(sim);
  use_6d();
  ctx->stereo = 1;
  ctx->eye_pos_mode = 2;
  vrsim_set_position(sim, VRSIM_HEAD, 3.0, -6.0, 50.0);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  frames(6);
  dpt before;
  std::memcpy(before, ctx->left_eye, sizeof before);

  // The head moves 2 cm to the right; after a few still frames the eyes have followed.
  vrsim_set_position(sim, VRSIM_HEAD, 5.0, -6.0, 50.0);
  frames(6);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ctx->left_eye[i], ctx->screen_left_eye[i]);
    EXPECT_EQ(ctx->right_eye[i], ctx->screen_right_eye[i]);
  }
  dpt moved;
  vr_dvector_sub(ctx->left_eye, before, moved);
  EXPECT_NEAR(vr_dvector_length(moved), 2.0, 0.1);

  // An untracked context given the same eye points builds the same views.
  vr_ctx *plain = vr_ctx_create();
  ASSERT_NE(plain, nullptr);
  vr_object_set(plain, VR_STEREO, 1, VR_EYE_POS_MODE, 2, VR_TRACKING_MODE, 0, 0);
  std::memcpy(plain->dig_to_plate, ctx->dig_to_plate, sizeof(dmat));
  vr_object_set(plain, VR_SCREEN_LEFT_EYE, ctx->screen_left_eye, VR_SCREEN_RIGHT_EYE,
                ctx->screen_right_eye, 0);
  vr_comp_view(plain);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      EXPECT_NEAR(plain->left_view[r][c], ctx->left_view[r][c], 1e-12) << r << c;
      EXPECT_NEAR(plain->right_view[r][c], ctx->right_view[r][c], 1e-12) << r << c;
    }
  std::free(plain);
}

TEST_F(Lt6d, MovingPosesAreTheTruthAtARecentMeasurement) {
  vrsim_plug_standard(sim);
  use_6d();
  struct Motion {
    static void head(void *, double t, dmat out) {
      pose_matrix(0.2 * t, 0.1, -0.05 * t, -5.0 + 8.0 * t, -10.0, 55.0 - 3.0 * t, out);
    }
  };
  vrsim_set_pose_fn(sim, VRSIM_HEAD, Motion::head, nullptr);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  vrsim_transmitter tx;
  vrsim_get_transmitter(sim, &tx);
  for (int f = 0; f < 30; ++f) {
    frames(1);
    double now = vrsim_now(sim);
    // The newest report is of a measurement on the unit's cycle, at most two cycles and a
    // report's transmission old.
    bool matched = false;
    for (int k = 0; k < 4 && !matched; ++k) {
      double cycle = std::floor((now - tx.phase_s) / tx.cycle_s) - k;
      double t = tx.phase_s + cycle * tx.cycle_s;
      dmat truth;
      Motion::head(nullptr, t, truth);
      bool near = true;
      for (int c = 0; c < 3; ++c)
        near &= std::fabs(ctx->head_to_dig[3][c] - truth[3][c]) <= wire_cm;
      if (near) {
        matched = true;
        expect_pose_near(ctx->head_to_dig, truth, "moving head");
      }
    }
    EXPECT_TRUE(matched) << "frame " << f;
  }
}

TEST_F(Lt6d, TransmitterOnTheMouseUnit) {
  vrsim_plug_standard(sim);
  vrsim_transmitter tx;
  vrsim_get_transmitter(sim, &tx);
  tx.port = 1;
  tx.type = 6;
  vrsim_set_transmitter(sim, &tx);
  use_6d();
  double t0 = vrsim_now(sim);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_NEAR(vrsim_now(sim) - t0, 4.4 + back_to_back_step_s, 1e-9);
  // The glasses unit is slaved to the mouse unit's transmitter and asked for its status again.
  EXPECT_EQ(written_on(0), (std::vector<std::string>{reset, filter_6d, op_info,
                                                     bytes({'*', '$', 2, 1, 6}), op_info, stream}));
  EXPECT_EQ(written_on(1), (std::vector<std::string>{reset, filter_6d, op_info, stream}));
  EXPECT_EQ(unit_6d[1].op_info.op_byte[6], 2);
  EXPECT_EQ(unit_6d[0].op_info.op_byte[8], 11);
  frames(5);
  dmat truth;
  vrsim_get_pose(sim, VRSIM_HEAD, vrsim_now(sim), truth);
  expect_pose_near(ctx->head_to_dig, truth, "head");
}

TEST_F(Lt6d, DemandReportingAsksForEachReport) {
  vrsim_plug_standard(sim);
  use_6d(0);
  vrsim_set_position(sim, VRSIM_HEAD, 2.0, -7.0, 48.0);
  vrsim_set_position(sim, VRSIM_MOUSE, 6.0, -20.0, 35.0);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_EQ(use_demand_reporting, 1);
  EXPECT_EQ(written_on(0).back(), demand);
  EXPECT_EQ(written_on(1).back(), demand);
  vrsim_lt_state a;
  vrsim_lt_get_state(sim, 0, &a);
  EXPECT_EQ(a.streaming, 0);

  vrsim_events_clear(sim);
  frames(8);
  // Each frame asks each unit for one report, without any pause.
  std::vector<Write> w = writes();
  ASSERT_EQ(w.size(), 16u);
  for (const Write &x : w) EXPECT_EQ(x.bytes, "*d");
  EXPECT_NEAR(ctx->head_to_dig[3][0], 2.0, wire_cm);
  EXPECT_NEAR(ctx->head_to_dig[3][2], 48.0, wire_cm);
  EXPECT_NEAR(ctx->mouse_to_dig[3][1], -20.0, wire_cm);
  EXPECT_EQ(unit_6d[0].pending_count, 0);
}

TEST_F(Lt6d, RawModeIsCommandedAfterTheStatus) {
  vrsim_plug_standard(sim);
  ctx->glasses_source = 1;
  ctx->mouse_source = 1;
  double t0 = vrsim_now(sim);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_NEAR(vrsim_now(sim) - t0, 5.1 + back_to_back_step_s, 1e-9);
  const std::string filter_raw = bytes({'*', '$', 2, 7, 1});
  const std::string raw = bytes({'*', 0xF2});
  EXPECT_EQ(written_on(0), (std::vector<std::string>{reset, filter_raw, op_info, raw, stream}));
  EXPECT_EQ(written_on(1),
            (std::vector<std::string>{reset, filter_raw, op_info, bytes({'*', '$', 2, 1, 3}),
                                      op_info, raw, stream}));
  vrsim_lt_state a;
  vrsim_lt_get_state(sim, 0, &a);
  EXPECT_EQ(a.mode, VRSIM_MODE_RAW);
  EXPECT_EQ(a.filter_length, 1);
}

}  // namespace

// The frames in which the front end gives the pose filter its speakers and microphones, checked
// against the raw solver: distances made from a pose through the geometry that the filter's
// header describes (from the units' reported geometry) solve back to that pose, and the filter
// fed them settles on it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "vr_lt_raw.h"
#include "vr_pose_filter.h"

namespace {

constexpr double glasses_side_extra_cm = 0.08;  // the glasses unit reports its sides this short

// Speakers sll, slr, stop in the dig frame, from the transmitter's base and side.
void speakers_from(const vr_lt_op_info &tx, double out[3][3]) {
  const double b = tx.transmitter_geom[0], s = tx.transmitter_geom[1];
  const double h = std::sqrt(s * s - b * b / 4);
  const double p[3][3] = {{-b / 2, 0, 0}, {b / 2, 0, 0}, {0, h, 0}};
  std::memcpy(out, p, sizeof p);
}

// Microphones mll, mlr, mtop in the receiver frame of the pose matrix.
void microphones_from(const vr_lt_op_info &rx, bool glasses, double out[3][3]) {
  const double b = rx.receiver_geom[0], e = rx.receiver_geom[3];
  double h = rx.receiver_geom[2];
  if (h == 0.0) {
    const double s = rx.receiver_geom[1] + (glasses ? glasses_side_extra_cm : 0.0);
    h = std::sqrt(s * s - b * b / 4);
  }
  const double m[3][3] = {{b / 2, 0, 0}, {-b / 2, 0, 0}, {-e, h, 0}};
  std::memcpy(out, m, sizeof m);
}

// Channel k (0..8): speaker k / 3, heard by mlr, mll, mtop in turn.
constexpr int mic_of_channel[3] = {1, 0, 2};

double channel_distance(dmat pose, const double spk[3][3], const double mic[3][3], int k) {
  dpt at;
  vr_mat_mul_dpt(mic[mic_of_channel[k % 3]], pose, at);
  const double *s = spk[k / 3];
  return std::sqrt((at[0] - s[0]) * (at[0] - s[0]) + (at[1] - s[1]) * (at[1] - s[1]) +
                   (at[2] - s[2]) * (at[2] - s[2]));
}

TEST(PoseFilterFrames, RawUnitGeometryAgreesWithTheSolver) {
  for (bool glasses : {true, false}) {
    vr::lt::reset_raw_state();
    vr_lt_unit unit;
    std::memset(&unit, 0, sizeof unit);
    vr_lt_device_struct_init(glasses ? "Crystal Eyes(tm)" : "Logitech 3D Mouse", &unit);
    unit.port = glasses ? 0 : 1;
    unit.op_info.op_byte[6] = 2;
    unit.op_info.receiver_geom[0] = 6.35;
    unit.op_info.receiver_geom[1] = 6.35;
    unit.op_info.receiver_geom[3] = glasses ? 0.0 : 0.4;  // the top microphone off centre
    unit.op_info.transmitter_geom[0] = 30.48;
    unit.op_info.transmitter_geom[1] = 30.48;
    unit.op_info.transmitter_geom[2] = 25.4;
    unit.next_slot = 1;
    vr_lt_glasses_unit = glasses ? &unit : nullptr;
    vr_lt_mouse_6d_unit = glasses ? nullptr : &unit;
    vr_ctx ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ctx.raw_limit = 100.0;
    ctx.predict_lead_limit = 3.0;

    double spk[3][3], mic[3][3];
    speakers_from(unit.op_info, spk);
    microphones_from(unit.op_info, glasses, mic);
    // A receiver 60 cm out, turned and tilted.
    dmat truth, rz, rx, ry, t, a, b;
    vr_mat_rot_z(0.3, rz);
    vr_mat_rot_x(-0.2, rx);
    vr_mat_rot_y(0.4, ry);
    vr_mat_trans(5, -8, 50, t);
    vr_mat_mul_mat(rz, rx, a);
    vr_mat_mul_mat(a, ry, b);
    vr_mat_mul_mat(b, t, truth);
    double given[9];
    for (int k = 0; k < 9; ++k) given[k] = channel_distance(truth, spk, mic, k);

    dmat solved;
    vr_mat_identity(solved);
    ASSERT_EQ(vr::lt::solve_raw_pose(&ctx, &unit, solved, given), 1) << glasses;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(solved[r][c], truth[r][c], 1e-6) << r << c;

    // The filter, started 0.5 cm and a few degrees off, settles on the same pose.
    dquat q_truth, q_start, q_turn = {0.02, -0.015, 0.01, 1.0}, q;
    vr_mat_to_quat(truth, q_truth);
    vr_quat_add(q_turn, q_truth, q_start);
    vr_normalize_quat(q_start);
    const double start_pos[3] = {truth[3][0] + 0.3, truth[3][1] - 0.3, truth[3][2] + 0.2};
    vr_pose_filter f;
    vr_pose_filter_init(&f, nullptr);
    ASSERT_TRUE(vr_pose_filter_start(&f, 0.0, start_pos, q_start));
    for (int r = 1; r <= 50; ++r)
      for (int k = 0; k < 9; ++k)
        EXPECT_EQ(vr_pose_filter_distance(&f, 0.02 * r + (k / 3 - 2) * 0.02 / 3, spk[k / 3],
                                          mic[mic_of_channel[k % 3]], given[k], 0.0),
                  VR_FILTER_TAKEN);
    double pos[3];
    ASSERT_TRUE(vr_pose_filter_predict(&f, f.time_s, pos, q));
    dmat m;
    vr_quat_to_mat(q, m);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pos[c], truth[3][c], 1e-3) << glasses;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(m[r][c], truth[r][c], 1e-4) << r << c;
  }
  vr_lt_glasses_unit = nullptr;
  vr_lt_mouse_6d_unit = nullptr;
}

}  // namespace

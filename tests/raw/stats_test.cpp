// The timing statistics of the raw glasses path: arming through cur_stat, what a capture call and
// the solve after it record, the bound of 16 header entries, and the exact report formats.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "raw_test_util.h"

namespace {

using namespace raw_test;

int count(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

class Stats : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_module();
    std::memset(stats, 0, sizeof stats);
    init_unit(&glasses, 0, true);
    init_unit(&mouse, 1, false);
    vr_lt_glasses_unit = &glasses;
    std::memset(&ctx, 0, sizeof ctx);
    ctx.predict_from_frame_time = 1;
    ctx.predict_lead_limit = 3.0;
    ctx.raw_limit = 100.0;
    ctx.pworld_time_delta = 0.02;
  }
  void TearDown() override { cur_stat = 255; }
  // A frame of the glasses: one new record, followed by one byte so that the pass parses it at
  // once, and the capture pass.
  void frame(std::array<unsigned, 9> tof = {9449, 9449, 9449, 9449, 9449, 9449, 9449, 9449, 9449}) {
    ring.put(record(0, stamp, reference_counts, tof));
    ring.put(0);
    stamp = (stamp + 20) % 60000;
    now += 0.02;
    vr::lt::capture_pass(&glasses, ring.view(), ring.w, now);
  }
  vr_lt_unit glasses, mouse;
  vr_ctx ctx;
  Ring ring;
  unsigned stamp = 1000;
  double now = 10.0;
};

TEST_F(Stats, OffByDefaultNothingWrittenNothingPrinted) {
  EXPECT_EQ(cur_stat, 255);
  testing::internal::CaptureStdout();
  for (int k = 0; k < 300; ++k) {
    frame();
    comp_mouse_6d_raws(&ctx, &glasses, ctx.head_to_dig);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  vr_lt_stat zero;
  std::memset(&zero, 0, sizeof zero);
  for (int r = 0; r < 256; ++r) EXPECT_EQ(std::memcmp(&stats[r], &zero, sizeof zero), 0) << r;
  EXPECT_EQ(cur_stat, 255);
}

TEST_F(Stats, ArmedAtZeroRecords255CallsThenPrintsThemAndStops) {
  cur_stat = 0;
  testing::internal::CaptureStdout();
  for (int k = 0; k < 254; ++k) frame();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(cur_stat, 254);
  testing::internal::CaptureStdout();
  frame();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(cur_stat, 255);
  EXPECT_EQ(count(out, "\ncall ["), 255);
  EXPECT_EQ(out.find("\ncall [0]  bytes "), 0u);
  EXPECT_NE(out.find("\ncall [254]  bytes "), std::string::npos);
  EXPECT_EQ(out.find("call [255]"), std::string::npos);
  // One parsed record per call (each call sees its record and one more byte).
  EXPECT_EQ(count(out, "time "), 255);
  EXPECT_EQ(count(out, "stop_to_mtop\t"), 255);
  // Off again: nothing more is recorded.
  const vr_lt_stat before = stats[0];
  frame();
  EXPECT_EQ(std::memcmp(&before, &stats[0], sizeof before), 0);
}

TEST_F(Stats, ACallRecordsItsBytesRecordsAndTheSolveAfterIt) {
  frame();
  frame();
  cur_stat = 7;
  frame();
  EXPECT_EQ(cur_stat, 8);
  const vr_lt_stat &st = stats[7];
  EXPECT_EQ(st.bytes, 26);  // the byte left over from the last call, the record, one more
  EXPECT_EQ(st.events, 1);
  EXPECT_EQ(st.headers, 1);
  const vr_lt_stat_header &h = st.header[0];
  EXPECT_NEAR(h.time, now - 0.02 / 24, 1e-4);
  EXPECT_NEAR(h.skew, 0.0, 1e-3);
  EXPECT_EQ(h.tdist, 4800.0f);
  EXPECT_FLOAT_EQ(h.time_to_cm, static_cast<float>(cm_per_count));
  for (int k = 0; k < 9; ++k) {
    EXPECT_NEAR(h.dist[k], 50.0, 1e-3);
    // No line yet: the residual is against the channel's last estimate, kept is not written.
    EXPECT_NEAR(h.resid[k], 50.0 - glasses.chan[k + 1].fit_value, 1e-3);
    EXPECT_EQ(h.kept[k], 0.0f);
  }

  // The solve writes the record before: lead and the pose before, fitted distances and so on.
  dmat truth;
  pose(0, 0, 0, 0, -10, 55, truth);
  const auto d = distances(truth, 6.35, 6.35 + 0.08);
  for (int w = 0; w < 9; ++w) glasses.chan[w + 1].value[(glasses.next_slot + 15) % 16] = d[w];
  vr_mat_identity(ctx.head_to_dig);
  ctx.head_to_dig[3][0] = 1.5;
  ASSERT_EQ(comp_mouse_6d_raws(&ctx, &glasses, ctx.head_to_dig), 1);
  EXPECT_FLOAT_EQ(st.dt, static_cast<float>(0.02 + 1 / 112.9));
  EXPECT_NEAR(st.xyz[0], 0.0, 1e-3);
  EXPECT_NEAR(st.xyz[2], 55.0, 1e-3);
  EXPECT_FLOAT_EQ(st.fit_dist[0][0], static_cast<float>(d[1]));  // sll -> mll
  EXPECT_FLOAT_EQ(st.fit_dist[2][2], static_cast<float>(d[8]));  // stop -> mtop
  EXPECT_EQ(st.finite[0], 1);
  EXPECT_EQ(st.finite[1], 1);
  EXPECT_NEAR(st.norm_x[0], 1.0, 1e-6);
  EXPECT_NEAR(st.tri[0], 30.48, 1e-3);
  EXPECT_NEAR(st.tri[1], 30.48, 1e-3);
  EXPECT_NEAR(st.axis_i[0], -1.0, 1e-5);  // the solving frame has x reversed
  EXPECT_GT(st.norm_l[2], 0.087155743f);
  // The mouse unit is never recorded, neither its capture nor its solve.
  const vr_lt_stat snapshot = stats[7];
  const int armed = cur_stat;
  Ring mouse_ring(1);
  mouse_ring.put(record(0, 1000, reference_counts, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
  mouse_ring.put(0);
  vr::lt::capture_pass(&mouse, mouse_ring.view(), mouse_ring.w, now);
  comp_mouse_6d_raws(&ctx, &mouse, ctx.mouse_to_dig);
  EXPECT_EQ(cur_stat, armed);
  EXPECT_EQ(std::memcmp(&snapshot, &stats[7], sizeof snapshot), 0);
  EXPECT_EQ(stats[8].bytes, 0);
}

TEST_F(Stats, ACallWithoutAWholeRecordStillTakesARecord) {
  frame();
  cur_stat = 3;
  ring.put(0xF3);  // 2 new bytes, and the one left after the last record
  ring.put(0xF0);
  vr::lt::capture_pass(&glasses, ring.view(), ring.w, now);
  EXPECT_EQ(cur_stat, 4);
  EXPECT_EQ(stats[3].bytes, 3);
  EXPECT_EQ(stats[3].events, 0);
  EXPECT_EQ(stats[3].headers, 0);
  // A restart expects the newest 16 records.
  now += 5.0;
  frame();
  EXPECT_EQ(stats[4].events, 16);
}

TEST_F(Stats, OutOfTimeRecordsAreRecordedAsSetAside) {
  frame();
  frame();
  cur_stat = 0;
  stamp += 3000;  // the unit clock jumps
  frame();
  const vr_lt_stat &st = stats[0];
  ASSERT_EQ(st.headers, 1);
  EXPECT_EQ(st.header[0].time, -1000.0f);
  EXPECT_NEAR(st.header[0].skew, -3.0, 1e-3);
  EXPECT_NEAR(st.header[0].tdist, 0.02 / 24, 1e-6);  // the transit delay
  EXPECT_EQ(st.finite[0], 9);                        // the lost counter after its increase
  EXPECT_FLOAT_EQ(st.norm_l[0], static_cast<float>(now));
  EXPECT_FLOAT_EQ(st.norm_x[0], (stamp - 20) / 1000.0f);
  EXPECT_FLOAT_EQ(st.norm_x[1], static_cast<float>(glasses.clock_offset));
  EXPECT_EQ(st.norm_x[2], 1.0f);
}

TEST_F(Stats, NeverMoreThanSixteenHeaderEntries) {
  vr_lt_stat rec;
  std::memset(&rec, 0, sizeof rec);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(vr::lt::stats_next_header(&rec), &rec.header[k]);
  EXPECT_EQ(vr::lt::stats_next_header(&rec), nullptr);
  EXPECT_EQ(rec.headers, 16);
  rec.headers = -5;
  EXPECT_EQ(vr::lt::stats_next_header(&rec), nullptr);

  // Records set aside as out of time cost 22 bytes each (the search resumes inside them): a
  // pass over the newest 384 bytes parses 17 records here, and the 17th entry is dropped.
  frame();
  glasses.last_capture_time = -100.0;  // the next pass restarts from the newest 384 bytes
  vr::lt::raw_state().lost_in_time_counts[0] = 0;
  const int start[17] = {0,   22,  44,  66,  88,  112, 134, 156, 178,
                         200, 224, 246, 268, 290, 312, 336, 358};
  std::array<unsigned char, 384> block{};
  for (int i = 0; i < 17; ++i) {
    Values v = record(0, 30000 + 1000 * i, reference_counts,
                      {9449, 9449, 9449, 9449, 9449, 9449, 9449, 9449, 9449});
    v[11] = 0xF0F0;  // its last two bytes are the next record's start
    const auto bytes = encode(v);
    for (int k = 0; k < 24; ++k) block[start[i] + k] = bytes[k];
  }
  for (unsigned char b : block) ring.put(b);
  cur_stat = 0;
  const long parsed_before = vr::lt::raw_counters(0).parsed;
  vr::lt::capture_pass(&glasses, ring.view(), ring.w, now += 0.02);
  EXPECT_EQ(vr::lt::raw_counters(0).parsed - parsed_before, 17);
  EXPECT_EQ(stats[0].headers, 16);

  // Rings full of record starts with random time stamps: every entry stays inside its record.
  std::mt19937 rng(3);
  const unsigned char alphabet[] = {0xF0, 0xF0, 0xF5, 0x00, 0x3C};
  long most_parsed = 0;
  for (int pass = 0; pass < 400; ++pass) {
    if (cur_stat >= 254) cur_stat = 0;
    const int n = static_cast<int>(rng() % 700);
    for (int k = 0; k < n; ++k) ring.put(alphabet[rng() % sizeof alphabet]);
    const long before = vr::lt::raw_counters(0).parsed;
    const int index = cur_stat;
    vr::lt::capture_pass(&glasses, ring.view(), ring.w, now += 0.02);
    most_parsed = std::max(most_parsed, vr::lt::raw_counters(0).parsed - before);
    EXPECT_LE(stats[index].headers, 16);
    EXPECT_GE(stats[index].headers, 0);
  }
  EXPECT_GE(most_parsed, 16);
}

TEST_F(Stats, ReportFormats) {
  stats[0].bytes = 48;
  stats[0].events = 2;
  stats[0].headers = 1;
  stats[0].dt = 0.5f;
  const float xyz[3] = {1.5f, -2.25f, 3.0f};
  std::memcpy(stats[0].xyz, xyz, sizeof xyz);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      stats[0].fit_dist[r][c] = 10.0f * r + c;
      stats[0].speaker_pos[r][c] = -(10.0f * r + c);
    }
  stats[0].axis_i[0] = 1.0f;
  stats[0].axis_j[1] = 1.0f;
  stats[0].axis_k[2] = 1.0f;
  stats[0].origin[0] = 0.125f;
  stats[0].tri[0] = 30.5f;
  stats[0].tri[1] = 30.25f;
  stats[0].finite[0] = 1;
  stats[0].finite[1] = 0;
  stats[0].norm_l[0] = 0.75f;
  stats[0].norm_x[2] = 1.0f;
  vr_lt_stat_header &h = stats[0].header[0];
  h.time = 12.5f;
  h.skew = 0.0625f;
  h.tdist = 4800.0f;
  h.time_to_cm = 0.005f;
  for (int k = 0; k < 9; ++k) {
    h.dist[k] = 50.0f + k;
    h.resid[k] = 0.001f * (k + 1);
    h.kept[k] = k == 4 ? -100.0f : 50.0f + k;
  }
  stats[1].headers = 1000;  // written from outside: at most 16 entries are printed
  stats[2].headers = -3;
  testing::internal::CaptureStdout();
  dump_stats();
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string first =
      "\ncall [0]  bytes 48  events 2  headers 1  dt 0.500000\n"
      "xyz1\t1.500000\t-2.250000\t3.000000\n"
      "ll\t0.000000\t1.000000\t2.000000\n"
      "lr\t10.000000\t11.000000\t12.000000\n"
      "top\t20.000000\t21.000000\t22.000000\n"
      "ll\t-0.000000\t-1.000000\t-2.000000\n"
      "lr\t-10.000000\t-11.000000\t-12.000000\n"
      "top\t-20.000000\t-21.000000\t-22.000000\n"
      "i\t1.000000\t0.000000\t0.000000\n"
      "j\t0.000000\t1.000000\t0.000000\n"
      "k\t0.000000\t0.000000\t1.000000\n"
      "o\t0.125000\t0.000000\t0.000000\n"
      "tri\t30.500000\t30.250000\n"
      "finite\t1\t0\n"
      "norm_l\t0.750000\t0.000000\t0.000000\n"
      "norm_x\t0.000000\t0.000000\t1.000000\n"
      "time 12.500000  skew 0.062500  tdist 4800.000000  time_to_cm 0.005000\n"
      "sll_to_mll\t51.000000\t 0.002000\t51.000000\n"
      "sll_to_mlr\t50.000000\t 0.001000\t50.000000\n"
      "sll_to_mtop\t52.000000\t 0.003000\t52.000000\n"
      "slr_to_mll\t54.000000\t 0.005000\t-100.000000\n"
      "slr_to_mlr\t53.000000\t 0.004000\t53.000000\n"
      "slr_to_mtop\t55.000000\t 0.006000\t55.000000\n"
      "stop_to_mll\t57.000000\t 0.008000\t57.000000\n"
      "stop_to_mlr\t56.000000\t 0.007000\t56.000000\n"
      "stop_to_mtop\t58.000000\t 0.009000\t58.000000\n";
  const std::string empty_tail =
      "xyz0\t0.000000\t0.000000\t0.000000\n"
      "ll\t0.000000\t0.000000\t0.000000\n";
  EXPECT_EQ(out.substr(0, first.size()), first);
  EXPECT_EQ(out.substr(first.size(), 56),
            "\ncall [1]  bytes 0  events 0  headers 1000  dt 0.000000\n");
  EXPECT_NE(out.find("\ncall [2]  bytes 0  events 0  headers -3  dt 0.000000\nxyz1\t"),
            std::string::npos);
  EXPECT_NE(out.find("\ncall [3]  bytes 0  events 0  headers 0  dt 0.000000\n" + empty_tail),
            std::string::npos);
  EXPECT_EQ(count(out, "\ncall ["), 255);
  EXPECT_EQ(count(out, "time "), 1 + 16);
  EXPECT_EQ(count(out, "\nxyz1\t"), 3);
  EXPECT_EQ(out.back(), '\n');
}

}  // namespace

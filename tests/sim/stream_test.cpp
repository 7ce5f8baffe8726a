// What enters the capture rings: layout and wrap, byte timing at each line speed, the CyberMan
// and DynaSight streams, imperfections, determinism, record and replay.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sim_fixture.h"
#include "sim_lines.h"
#include "vr_platform.h"

namespace {

using sim_test::raw_records;
using sim_test::read_recording;
using sim_test::ring_since;
using sim_test::Sim;
namespace os = vr::os;
namespace cap = vr::capture;

using sim_lines::logitech_line;
using sim_lines::ms;
using sim_lines::open_unit;

long long ceil_div(long long a, long long b) {
  return (a + b - 1) / b;
}

// A glasses unit streaming raw records on port A, recorded for `seconds`.
std::vector<unsigned char> stream_raw(vrsim *sim, double seconds) {
  int a = open_unit(0);
  os::line_write(a, "*\xF2", 2);
  os::line_write(a, "*S", 2);
  std::vector<unsigned char> all;
  int pos = vrsim_ring_offset(0);
  for (double t = 0; t < seconds; t += 0.5) {
    vrsim_advance(sim, 0.5);
    auto more = ring_since(0, pos);
    pos = vrsim_ring_offset(0);
    all.insert(all.end(), more.begin(), more.end());
  }
  return all;
}

TEST(SimRings, LayoutWrapAndWriteOffsets) {
  Sim sim;
  vrsim_plug_standard(sim);
  std::string path = sim_test::temp_path("wrap.rec");
  ASSERT_EQ(vrsim_record_start(sim, path.c_str()), 1);
  int a = open_unit(0), b = open_unit(1);
  os::line_write(a, "*S", 2);
  os::line_write(b, "*S", 2);
  vrsim_advance(sim, 3.0);  // 150 reports, 2400 bytes a ring: both have wrapped
  ASSERT_EQ(vrsim_record_stop(sim), 1);
  auto rec = read_recording(path);
  std::remove(path.c_str());
  std::vector<unsigned char> per[2];
  for (const auto &r : rec) per[r.port].push_back(r.byte);
  for (int port = 0; port < 2; ++port) {
    ASSERT_EQ(per[port].size(), 2400u);
    std::int32_t w;
    std::memcpy(&w, vrsim_capture_area() + cap::write_offset_byte[port], sizeof w);
    EXPECT_EQ(w, 2400 - cap::ring_bytes);
    EXPECT_EQ(vrsim_ring_offset(port), w);
    // Every ring position holds the newest byte stored there.
    for (int i = 0; i < cap::ring_bytes; ++i) {
      std::size_t newest = 2400 - cap::ring_bytes + i;
      int at = static_cast<int>(newest % cap::ring_bytes);
      EXPECT_EQ(vrsim_capture_area()[cap::ring_start_byte[port] + at], per[port][newest]);
    }
  }
  // The two rings are distinct: A holds the glasses reports, B the mouse reports.
  EXPECT_NE(std::memcmp(vrsim_capture_area() + cap::ring_start_byte[0],
                        vrsim_capture_area() + cap::ring_start_byte[1], cap::ring_bytes),
            0);
}

TEST(SimRings, ByteTimingAtNineteenThousandTwoHundredBaud) {
  Sim sim;
  vrsim_plug_standard(sim);
  int a = open_unit(0);
  vrsim_advance(sim, 0.0123);
  std::string path = sim_test::temp_path("timing.rec");
  ASSERT_EQ(vrsim_record_start(sim, path.c_str()), 1);
  long long t0 = vrsim_now_ns(sim);
  os::line_write(a, "*m", 2);
  vrsim_advance(sim, 0.1);
  vrsim_record_stop(sim);
  auto rec = read_recording(path);
  std::remove(path.c_str());
  ASSERT_EQ(rec.size(), 30u);
  for (int k = 0; k < 30; ++k)  // answer 10 ms after the command, then one byte per 1/1920 s
    EXPECT_EQ(rec[k].time_ns, t0 + 10 * ms + ceil_div((k + 1) * 10000000000LL, 19200)) << k;
}

// The CyberMan's start-up on its line, as the driver performs it.
int start_cyberman(vrsim *sim) {
  int fd = os::line_open("/dev/ttyb");
  vr_line_settings s{};
  EXPECT_EQ(os::line_get(fd, &s), 0);
  s.baud = 1200;
  s.data_bits = 7;
  s.local = 0;
  s.min_read = 0;
  s.read_timeout = 1;
  EXPECT_EQ(os::line_set(fd, &s), 0);
  os::line_modem(fd, VR_MODEM_DTR | VR_MODEM_RTS, 1);
  vr_usleep(300000);
  os::line_modem(fd, VR_MODEM_RTS, 0);
  vr_usleep(300000);
  os::line_modem(fd, VR_MODEM_RTS, 1);
  os::line_flush(fd);
  os::line_write(fd, "*S", 2);
  vr_usleep(300000);
  s.baud = 4800;
  s.data_bits = 8;
  EXPECT_EQ(os::line_set(fd, &s), 0);
  return fd;
}

TEST(SimCyberMan, StartsOnlyAfterItsWakeUpAndSendsPacketsAtFourThousandEightHundredBaud) {
  Sim sim;
  vrsim_plug_cyberman(sim, VRSIM_PORT_B, 0);
  const int states[4] = {1, -1, 3, 2};  // 2 goes out as -1 too
  vrsim_cyberman_set(sim, -1, 5, 3, states);

  // "*S" without the modem-line wake-up starts nothing.
  int fd = os::line_open("/dev/ttyb");
  vr_line_settings s{1200, 7, 0, 1, 0, 1, 0, 0, 0, 1};
  os::line_set(fd, &s);
  os::line_write(fd, "*S", 2);
  EXPECT_EQ(vrsim_cyberman_started(sim), 0);
  os::line_close(fd);

  fd = start_cyberman(sim);
  EXPECT_EQ(vrsim_cyberman_started(sim), 1);
  vrsim_advance(sim, 0.2);  // packets sent before the speed change arrived garbled
  std::string path = sim_test::temp_path("cyberman.rec");
  ASSERT_EQ(vrsim_record_start(sim, path.c_str()), 1);
  vrsim_advance(sim, 1.0);
  vrsim_record_stop(sim);
  auto rec = read_recording(path);
  std::remove(path.c_str());
  ASSERT_EQ(rec.size(), 40u * 5);  // 40 packets a second
  unsigned char want[5];
  vrsim_encode_cyberman(-1, 5, 3, states, want);
  for (std::size_t i = 0; i < rec.size(); ++i) EXPECT_EQ(rec[i].byte, want[i % 5]) << i;
  for (std::size_t i = 1; i < 5; ++i)  // 2083333.3 ns a byte
    EXPECT_EQ(rec[i].time_ns - rec[0].time_ns,
              ceil_div((static_cast<long long>(i) + 1) * 10000000000LL, 4800) -
                  ceil_div(10000000000LL, 4800));

  // The packet read back by its table.
  const unsigned char *b = want;
  EXPECT_EQ(b[0] >> 5, 4);
  EXPECT_EQ(b[0] & 7, 3);
  auto x = static_cast<signed char>((b[1] & 0x7F) << 1 | ((b[2] >> 6) & 1));
  auto y = static_cast<signed char>((b[2] & 0x3F) << 2 | ((b[3] >> 5) & 3));
  EXPECT_EQ(x, -1);
  EXPECT_EQ(y, 5);
  EXPECT_EQ((b[3] >> 3) & 3, 1);
  EXPECT_EQ((b[3] >> 1) & 3, 2);
  EXPECT_EQ((b[4] >> 4) & 3, 3);
  EXPECT_EQ((b[3] & 1) << 1 | ((b[4] >> 6) & 1), 2);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(b[i] & 0x80, 0);

  const unsigned char tactile[] = {'!', 'T', 1, 1, 7};
  os::line_write(fd, tactile, 5);
  EXPECT_EQ(vrsim_cyberman_tactile_count(sim), 1);
  // Dropping and raising RTS (as on close) puts it back to sleep.
  os::line_modem(fd, VR_MODEM_RTS, 0);
  os::line_modem(fd, VR_MODEM_RTS, 1);
  EXPECT_EQ(vrsim_cyberman_started(sim), 0);
}

TEST(SimDynaSight, RecordsOfTheHeadPositionAtSixtyHertz) {
  Sim sim;
  vrsim_plug_dynasight(sim, VRSIM_PORT_A, 0);
  int fd = open_unit(0);
  (void)fd;
  int start = vrsim_ring_offset(0);
  vrsim_advance(sim, 1.01);  // records every 1/60 s from 1/60 s on; the 60th is in by 1.0042 s
  auto bytes = ring_since(0, start);
  ASSERT_EQ(bytes.size(), 60u * 8);
  // Head at (0, -10, 55) cm: 0, -2000 and 11000 units of 0.005 cm, big-endian.
  const unsigned char want[8] = {0x80, 0x80, 0x00, 0x00, 0xF8, 0x30, 0x2A, 0xF8};
  for (std::size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], want[i % 8]) << i;
  unsigned char r[8];
  vrsim_encode_dynasight(-0.005, 163.835, 1000.0, r);
  EXPECT_EQ(r[2], 0xFF);
  EXPECT_EQ(r[3], 0xFF);
  EXPECT_EQ(r[4], 0x7F);
  EXPECT_EQ(r[5], 0xFF);
  EXPECT_EQ(r[6], 0x7F);  // saturated
  EXPECT_EQ(r[7], 0xFF);
  // It follows the target.
  vrsim_set_position(sim, VRSIM_HEAD, 1.0, 2.0, 3.0);
  vrsim_advance(sim, 0.1);
  auto last = ring_since(0, vrsim_ring_offset(0) - 8);
  vrsim_encode_dynasight(1.0, 2.0, 3.0, r);
  EXPECT_EQ(std::memcmp(last.data(), r, 8), 0);
}

TEST(SimImperfections, NoiseOutliersDropsAndGarbage) {
  Sim sim(7);
  vrsim_plug_standard(sim);
  vrsim_imperfections imp{};
  imp.distance_noise_cm = 0.5;
  vrsim_set_imperfections(sim, 0, &imp);
  auto recs = raw_records(stream_raw(sim, 10.0));
  ASSERT_GE(recs.size(), 490u);
  double truth[9];
  vrsim_true_distances(sim, 0, 1.0, truth);  // a fixed pose: the same at every time
  const double cpc = 25.4 / 4800;
  double sum = 0, sum2 = 0;
  int n = 0;
  for (const auto &u : recs)
    for (int k : {1, 2, 3, 5, 6, 7, 9, 10, 11}) {
      int idx = k - 1 - k / 4;
      double e = u[k] * cpc - truth[idx];
      sum += e, sum2 += e * e, ++n;
    }
  EXPECT_NEAR(sum / n, 0.0, 0.02);
  EXPECT_NEAR(std::sqrt(sum2 / n), 0.5, 0.02);

  imp = vrsim_imperfections{};
  imp.outlier_rate = 0.1;
  imp.outlier_cm = 20.0;
  imp.drop_rate = 0.5;
  vrsim_set_imperfections(sim, 0, &imp);
  recs = raw_records(stream_raw(sim, 10.0));
  EXPECT_NEAR(static_cast<double>(recs.size()), 250.0, 40.0);
  int outliers = 0;
  n = 0;
  for (const auto &u : recs)
    for (int k : {1, 2, 3, 5, 6, 7, 9, 10, 11}) {
      outliers += u[k] * cpc > truth[k - 1 - k / 4] + 10.0;
      ++n;
    }
  EXPECT_NEAR(static_cast<double>(outliers) / n, 0.1, 0.03);

  imp = vrsim_imperfections{};
  imp.garbage_rate = 1.0;
  vrsim_set_imperfections(sim, 0, &imp);
  auto bytes = stream_raw(sim, 1.0);
  EXPECT_GE(bytes.size(), 50u * 25);
  EXPECT_GE(raw_records(bytes).size(), 45u);  // garbage before a record leaves it intact

  imp = vrsim_imperfections{};
  imp.stopped = 1;
  vrsim_set_imperfections(sim, 0, &imp);
  vrsim_advance(sim, 0.1);
  EXPECT_EQ(stream_raw(sim, 1.0).size(), 0u);
}

TEST(SimImperfections, UnitClockWrapsDriftsAndStalls) {
  Sim sim;
  vrsim_lt_config g;
  vrsim_lt_config_init(&g, VRSIM_RX_GLASSES);
  g.clock_offset_s = 59.5;
  g.clock_drift_ppm = 1000.0;
  vrsim_plug_logitech(sim, 0, &g);
  auto recs = raw_records(stream_raw(sim, 2.0));
  ASSERT_EQ(recs.size(), 100u - 1);
  // Stop times 3 + 20 k ms; unit clock 59.5 s + 1.001 t, wrapping after 60 s.
  for (std::size_t k = 0; k < recs.size(); ++k) {
    double t = 0.003 + 0.02 * static_cast<double>(k);
    auto want = static_cast<long long>(std::floor((59.5 + t * 1.001) * 1000.0)) % 60000;
    EXPECT_EQ(recs[k][8], static_cast<unsigned>(want)) << k;
  }
  vrsim_imperfections imp{};
  imp.clock_stalled = 1;
  vrsim_set_imperfections(sim, 0, &imp);
  recs = raw_records(stream_raw(sim, 1.0));
  ASSERT_GE(recs.size(), 10u);
  for (const auto &u : recs) EXPECT_EQ(u[8], recs[0][8]);
}

TEST(SimRings, InjectedBytesEnterTheRingAsTheyAre) {
  Sim sim;  // nothing plugged in, no line open
  const unsigned char junk[] = {0xF0, 0xF0, 0x80, 0x00};
  int start = vrsim_ring_offset(1);
  vrsim_inject(sim, 1, junk, 4);
  vrsim_advance(sim, 0.001);
  EXPECT_EQ(ring_since(1, start).size(), 1u);  // 0.52 ms a byte
  vrsim_advance(sim, 0.01);
  auto got = ring_since(1, start);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(std::memcmp(got.data(), junk, 4), 0);
}

// A run with every source of randomness, recorded.
std::vector<sim_test::Recorded> noisy_run(unsigned long long seed, const char *record_to) {
  Sim sim(seed);
  vrsim_plug_standard(sim);
  vrsim_imperfections imp{};
  imp.distance_noise_cm = 0.3;
  imp.outlier_rate = 0.05;
  imp.outlier_cm = 15;
  imp.drop_rate = 0.1;
  imp.garbage_rate = 0.1;
  vrsim_set_imperfections(sim, 0, &imp);
  vrsim_set_imperfections(sim, 1, &imp);
  std::string path = sim_test::temp_path(record_to);
  vrsim_record_start(sim, path.c_str());
  int a = open_unit(0), b = open_unit(1);
  os::line_write(a, "*\xF2", 2);
  os::line_write(b, "*S", 2);
  os::line_write(a, "*S", 2);
  vr_line_settings slow = logitech_line;
  slow.baud = 9600;  // garbled bytes come from the seed too
  vrsim_advance(sim, 2.0);
  os::line_set(b, &slow);
  vrsim_advance(sim, 1.0);
  vrsim_record_stop(sim);
  return read_recording(path);
}

TEST(SimDeterminism, OneSeedGivesTheSameBytesAtTheSameTimes) {
  auto r1 = noisy_run(42, "det1.rec");
  auto r2 = noisy_run(42, "det2.rec");
  auto r3 = noisy_run(43, "det3.rec");
  std::remove(sim_test::temp_path("det1.rec").c_str());
  std::remove(sim_test::temp_path("det2.rec").c_str());
  std::remove(sim_test::temp_path("det3.rec").c_str());
  ASSERT_GT(r1.size(), 3000u);
  ASSERT_EQ(r1.size(), r2.size());
  for (std::size_t i = 0; i < r1.size(); ++i) {
    ASSERT_EQ(r1[i].time_ns, r2[i].time_ns) << i;
    ASSERT_EQ(r1[i].port, r2[i].port) << i;
    ASSERT_EQ(r1[i].byte, r2[i].byte) << i;
  }
  bool differs = r1.size() != r3.size();
  for (std::size_t i = 0; !differs && i < r1.size(); ++i) differs = r1[i].byte != r3[i].byte;
  EXPECT_TRUE(differs);
}

TEST(SimReplay, ARecordingReproducesTheRingsExactly) {
  std::string path = sim_test::temp_path("replay.rec");
  std::vector<unsigned char> first(cap::area_bytes);
  {
    Sim sim(5);
    vrsim_plug_standard(sim);
    vrsim_imperfections imp{};
    imp.distance_noise_cm = 0.2;
    imp.garbage_rate = 0.2;
    vrsim_set_imperfections(sim, 0, &imp);
    ASSERT_EQ(vrsim_record_start(sim, path.c_str()), 1);
    int a = open_unit(0), b = open_unit(1);
    os::line_write(a, "*\xF2", 2);
    os::line_write(a, "*S", 2);
    os::line_write(b, "*S", 2);
    vrsim_advance(sim, 4.0);
    ASSERT_EQ(vrsim_record_stop(sim), 1);
    std::memcpy(first.data(), vrsim_capture_area(), cap::area_bytes);
  }
  Sim sim(99);  // another seed, and no device at all: the recording speaks alone
  ASSERT_EQ(vrsim_replay_start(sim, path.c_str()), 1);
  EXPECT_GT(vrsim_replay_remaining(sim), 4000);
  vrsim_advance(sim, 2.0);
  EXPECT_GT(vrsim_replay_remaining(sim), 1000);
  vrsim_advance(sim, 2.0);
  EXPECT_EQ(vrsim_replay_remaining(sim), 0);
  EXPECT_EQ(std::memcmp(first.data(), vrsim_capture_area(), cap::area_bytes), 0);

  // A file that is not a recording is refused.
  std::FILE *f = std::fopen(path.c_str(), "wb");
  std::fputs("not a recording", f);
  std::fclose(f);
  Sim other;
  EXPECT_EQ(vrsim_replay_start(other, path.c_str()), 0);
  EXPECT_EQ(vrsim_replay_start(other, "/nonexistent/dir/x.rec"), 0);
  std::remove(path.c_str());
}

}  // namespace

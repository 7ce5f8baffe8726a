// Added latency of the capture daemon's engine: from a byte written at the device end of a
// pseudo-terminal to its visibility in the capture ring (the write offset seen with an acquire
// load, as the library reads it). Each byte is sent after a pause, so the engine is asleep in
// poll() every time, as between a tracker's records. Prints p50, p99 and the worst case.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "capture_engine.h"

namespace {

constexpr int write_offset_a_byte = 4088;
constexpr auto pause_between_bytes = std::chrono::milliseconds(2);

void capture_latency(benchmark::State &state) {
  char dir[] = "/tmp/vrcapd-bench-XXXXXX";
  if (!mkdtemp(dir)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  std::string area_path = std::string(dir) + "/capture";
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  std::string slave = ptsname(master);
  vrcapd::Logger log;
  vrcapd::Area area;
  vrcapd::Engine engine(area, log);
  std::string why;
  if (area.open(area_path, why) != vrcapd::exit_ok ||
      engine.add_line(0, slave, why) != vrcapd::exit_ok) {
    state.SkipWithError(why.c_str());
    return;
  }
  std::thread capture([&] { engine.run(nullptr, nullptr); });
  const auto *offset = reinterpret_cast<const std::int32_t *>(area.base() + write_offset_a_byte);

  std::vector<double> latency_us;
  const unsigned char byte = 0x5A;
  for (auto _ : state) {
    std::this_thread::sleep_for(pause_between_bytes);
    std::int32_t before = __atomic_load_n(offset, __ATOMIC_ACQUIRE);
    auto t0 = std::chrono::steady_clock::now();
    if (write(master, &byte, 1) != 1) break;
    // A reader that never sleeps, so that the figure is the engine's delay and not the
    // reader's own wake-up.
    while (__atomic_load_n(offset, __ATOMIC_ACQUIRE) == before) {
    }
    auto t1 = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(t1 - t0).count();
    state.SetIterationTime(seconds);
    latency_us.push_back(seconds * 1e6);
  }
  engine.stop();
  capture.join();
  close(master);
  unlink(area_path.c_str());
  rmdir(dir);

  std::sort(latency_us.begin(), latency_us.end());
  if (latency_us.empty()) return;
  auto at = [&](double q) {
    return latency_us[std::min(latency_us.size() - 1,
                               static_cast<size_t>(q * static_cast<double>(latency_us.size())))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["worst_us"] = latency_us.back();
}

BENCHMARK(capture_latency)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

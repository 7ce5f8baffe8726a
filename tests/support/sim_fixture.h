// A simulator installed as the library's platform for the life of a test, and readers for the
// capture rings it fills and the recordings it writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "vr_capture.h"
#include "vrsim/vrsim.h"

namespace sim_test {

// Creates and installs a simulator; destroys it (which uninstalls it) at the end of the scope.
class Sim {
 public:
  explicit Sim(unsigned long long seed = 1) : sim_(vrsim_create(seed)) { vrsim_install(sim_); }
  ~Sim() { vrsim_destroy(sim_); }
  Sim(const Sim &) = delete;
  Sim &operator=(const Sim &) = delete;
  operator vrsim *() const { return sim_; }
  vrsim *get() const { return sim_; }

 private:
  vrsim *sim_;
};

// The byte at ring position pos (wrapping) of a port in the simulated capture area.
inline unsigned char ring_byte(int port, int pos) {
  return vrsim_capture_area()[vr::capture::ring_start_byte[port] + vr::capture::wrap(pos)];
}

// The bytes that entered a port's ring from position `from` up to the present write offset.
inline std::vector<unsigned char> ring_since(int port, int from) {
  std::vector<unsigned char> out;
  int w = vrsim_ring_offset(port);
  for (int p = from; vr::capture::wrap(p) != w; ++p) out.push_back(ring_byte(port, p));
  return out;
}

// One byte of a recording: when it entered which ring.
struct Recorded {
  long long time_ns;
  int port;
  unsigned char byte;
};

// Reads a recording written by vrsim_record_start / vrsim_record_stop.
inline std::vector<Recorded> read_recording(const std::string &path) {
  std::vector<Recorded> out;
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  unsigned char head[12];
  if (std::fread(head, 1, sizeof head, f) == sizeof head) {
    unsigned char e[10];
    while (std::fread(e, 1, sizeof e, f) == sizeof e) {
      unsigned long long t = 0;
      for (int i = 0; i < 8; ++i) t |= static_cast<unsigned long long>(e[i]) << (8 * i);
      out.push_back({static_cast<long long>(t), e[8], e[9]});
    }
  }
  std::fclose(f);
  return out;
}

// A file name in the test's temporary directory, unique per name.
inline std::string temp_path(const char *name) {
  const char *dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/vrsim_" + std::to_string(getpid()) + "_" +
         name;
}

// The raw records (24 bytes from a sync mark, each value low byte first) of a byte sequence, as
// twelve 16-bit values each.
inline std::vector<std::vector<unsigned>> raw_records(const std::vector<unsigned char> &bytes) {
  std::vector<std::vector<unsigned>> out;
  for (std::size_t p = 0; p + 24 <= bytes.size();) {
    if ((bytes[p] & 0xF0) == 0xF0 && bytes[p + 1] == 0xF0) {
      std::vector<unsigned> u(12);
      for (int i = 0; i < 12; ++i) u[i] = bytes[p + 2 * i] | bytes[p + 2 * i + 1] << 8;
      out.push_back(u);
      p += 24;
    } else {
      ++p;
    }
  }
  return out;
}

}  // namespace sim_test

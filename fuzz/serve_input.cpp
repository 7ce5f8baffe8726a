// vrsim-serve's untrusted input: the bytes any program writes on a served line reach the
// simulated devices' command parsers, and a truth script is a file from the user. The input is
// split at its first zero byte: before it a script, after it chunks of line bytes, each led by
// a port/pause byte (bit 0: port; the rest: milliseconds to run first).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "serve_script.h"
#include "vrsim/vrsim.h"
#include "vrsim/vrsim_wall.h"

namespace {

void discard(void *, int, unsigned char) {}

void fuzz_script(const std::uint8_t *data, std::size_t size) {
  serve::Track tracks[2];
  std::string why;
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  if (serve::parse_script(text, "script", tracks, why)) {
    double xyz[3];
    for (const auto &track : tracks)
      for (double t : {-1.0, 0.0, 0.5, 1e9}) track.position_at(t, xyz);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const auto *split = static_cast<const std::uint8_t *>(std::memchr(data, 0, size));
  std::size_t script_size = split ? static_cast<std::size_t>(split - data) : size;
  fuzz_script(data, script_size);
  if (!split) return 0;

  vrsim *sim = vrsim_create(1);
  vrsim_plug_standard(sim);
  vrsim_wall::set_sink(sim, discard, nullptr);
  const vr_line_settings line = {19200, 8, 0, 1, 1, 1, 0, 1, 0, 1};
  vrsim_wall::set_line(sim, 0, line, true);
  vrsim_wall::set_line(sim, 1, line, true);
  const std::uint8_t *p = split + 1, *end = data + size;
  while (p < end) {
    int port = *p & 1;
    long long pause_ns = static_cast<long long>(*p >> 1) * 1000000LL;
    ++p;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(end - p), 8);
    vrsim_advance_ns(sim, pause_ns);
    vrsim_wall::host_wrote(sim, port, p, static_cast<int>(n));
    p += n;
  }
  vrsim_advance_ns(sim, 100000000LL);
  vrsim_destroy(sim);
  return 0;
}

// Fuzzes the set-up file reader with arbitrary text. A refused text leaves the context exactly
// as it was, with a message; an accepted one is written out again and that file reads back to
// the same set-up.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "vr_config.h"
#include "vr_platform.h"

namespace {

struct Fresh {
  vr_ctx *ctx = vr_ctx_create();
  ~Fresh() { std::free(ctx); }
};

// Each input starts from the built-in paths: neither an application's nor an earlier file's.
void restore_device_paths() {
  for (int d = VR_DEVICE_TTYA; d <= VR_DEVICE_CAPTURE_ALT; ++d) {
    vr_set_device_path(d, nullptr);
    vr::os::set_file_device_path(d, nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  restore_device_paths();
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  Fresh a;
  if (a.ctx == nullptr) return 0;
  const vr_ctx before = *a.ctx;
  if (!vr::config::load_text(a.ctx, text, "fuzz.toml")) {
    if (std::memcmp(&before, a.ctx, sizeof before) != 0) std::abort();
    if (vr_config_message()[0] == '\0') std::abort();
    return 0;
  }
  const std::string saved = vr::config::save_text(a.ctx);
  Fresh b;
  if (b.ctx == nullptr) return 0;
  if (!vr::config::load_text(b.ctx, saved, "saved.toml")) std::abort();
  if (vr::config::save_text(b.ctx) != saved) std::abort();
  restore_device_paths();
  return 0;
}

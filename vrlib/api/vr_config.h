// Set-up files: the reader and writer behind vr_config_load / vr_config_save, reachable by the
// context's creation (VRLIB_CONFIG), the tests and the fuzz target.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vr.h"

namespace vr::config {

// Applies set-up text to a context as vr_config_load does with a file's contents; source names
// the text in messages. True when applied; false leaves the context and the device paths as
// they were, with the message in vr_config_message. With devices false the [devices] keys are
// checked but the process-wide paths are left alone (a save checking what it wrote).
bool load_text(vr_ctx *ctx, std::string_view text, const char *source, bool devices = true);

// The set-up file text of a context: every key, with the device paths in use; with `only`, just
// the keys (in key order, as key_at counts them) marked in it.
std::string save_text(vr_ctx *ctx, const std::vector<bool> *only = nullptr);

// One documented key, for the README check: its "section.name" and what it reaches.
struct KeyInfo {
  const char *section;
  const char *name;
  int id = 0;              // the attribute (an endpoint's address attribute), or VR_DEVICE_*
  bool attribute = false;  // one attribute's value (else an endpoint, device path or VRPN name)
  bool endpoint = false;   // an address attribute and the port after it, "a.b.c.d:port"
  bool is_switch = false;  // an int attribute also written as true / false
};
// The number of keys and each one in file order.
int key_count();
KeyInfo key_at(int index);

}  // namespace vr::config

// Loads the file named by VRLIB_CONFIG, if any, into a new context (from vr_ctx_create).
void vr_config_load_from_environment(vr_ctx *ctx);

// The keys a set-up file sets, so that vrcalib writes back only those and what it measured.
#pragma once

#include <string>
#include <vector>

namespace vrcalib {

// "section.name" of every key in the TOML file at path (already read by vr_config_load, so
// valid); empty when the file cannot be read or parsed.
std::vector<std::string> setup_keys(const std::string &path);

}  // namespace vrcalib

// The keys a set-up file sets (see setup_keys.h).
#include "setup_keys.h"

#include <toml++/toml.h>

namespace vrcalib {

std::vector<std::string> setup_keys(const std::string &path) {
  std::vector<std::string> out;
  try {
    const toml::table root = toml::parse_file(path);
    for (const auto &[section, node] : root) {
      const auto *table = node.as_table();
      if (table == nullptr) continue;
      for (const auto &[name, value] : *table)
        out.push_back(std::string(section.str()) + "." + std::string(name.str()));
    }
  } catch (const toml::parse_error &) {
    out.clear();
  }
  return out;
}

}  // namespace vrcalib

#include "serve_script.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace serve {

void Track::position_at(double t, double out[3]) const {
  if (keys.empty()) return;
  const Key *prev = &keys.front();
  for (const Key &k : keys) {
    if (k.t > t) {
      double span = k.t - prev->t;
      double f = span > 0.0 ? (t - prev->t) / span : 1.0;
      if (f < 0.0) f = 0.0;
      for (int i = 0; i < 3; ++i) out[i] = prev->xyz[i] + f * (k.xyz[i] - prev->xyz[i]);
      return;
    }
    prev = &k;
  }
  for (int i = 0; i < 3; ++i) out[i] = prev->xyz[i];
}

bool read_script(const std::string &path, Track tracks[2], std::string &why) {
  std::ifstream in(path);
  if (!in) {
    why = "cannot read script " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    auto hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::vector<std::string> w = words(line);
    if (w.empty()) continue;
    std::istringstream nums(w.size() == 5 ? w[0] + " " + w[2] + " " + w[3] + " " + w[4] : "");
    Key k{};
    int which = w.size() == 5 && w[1] == "head" ? 0 : w.size() == 5 && w[1] == "mouse" ? 1 : -1;
    if (which < 0 || !(nums >> k.t >> k.xyz[0] >> k.xyz[1] >> k.xyz[2]) || !std::isfinite(k.t) ||
        !std::isfinite(k.xyz[0]) || !std::isfinite(k.xyz[1]) || !std::isfinite(k.xyz[2])) {
      why = path + ":" + std::to_string(number) + ": expected \"T head|mouse X Y Z\"";
      return false;
    }
    if (!tracks[which].keys.empty() && k.t < tracks[which].keys.back().t) {
      why = path + ":" + std::to_string(number) + ": time goes back";
      return false;
    }
    tracks[which].keys.push_back(k);
  }
  return true;
}

std::vector<std::string> words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

}  // namespace serve

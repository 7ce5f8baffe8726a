#include "serve_script.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>

namespace serve {

namespace {

// A script is a short list of key poses; anything larger is not one.
constexpr std::size_t max_script_bytes = std::size_t{16} << 20;

// The whole file at path, opened without following a symbolic link and without waiting on a
// FIFO (only a regular file is read). False with a one-line reason.
bool read_file(const std::string &path, std::string &text, std::string &why) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    why = "cannot read script " + path + ": " +
          (errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    why = "cannot read script " + path + ": not a regular file";
    return false;
  }
  text.clear();
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || text.size() + static_cast<std::size_t>(got) > max_script_bytes) {
      why = "cannot read script " + path + ": " +
            (got < 0 ? std::strerror(errno) : "larger than a script can be");
      close(fd);
      return false;
    }
    if (got == 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  close(fd);
  return true;
}

}  // namespace

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
  std::string text;
  return read_file(path, text, why) && parse_script(text, path, tracks, why);
}

bool parse_script(std::string_view text, const std::string &path, Track tracks[2],
                  std::string &why) {
  std::istringstream in{std::string(text)};
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

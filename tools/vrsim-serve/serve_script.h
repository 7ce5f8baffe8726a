// The truth a server plays: fixed poses, or a script of key poses in time, and the commands
// that change both while it runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace serve {

// A key position of the head or the mouse at a time (seconds since the start), identity rotation.
struct Key {
  double t;
  double xyz[3];
};

// The positions of one truth between its keys, linearly; before the first and after the last
// key it stays put.
struct Track {
  std::vector<Key> keys;
  void position_at(double t, double out[3]) const;
};

// Reads a script: one key per line, "T head|mouse X Y Z" (seconds, centimetres); '#' starts a
// comment. Keys of one truth must not go back in time. False with a one-line reason. The file
// must be a regular file: a symbolic link is not followed and a FIFO not waited on.
bool read_script(const std::string &path, Track tracks[2], std::string &why);
// The same for a script's text; `path` names it in the reasons.
bool parse_script(std::string_view text, const std::string &path, Track tracks[2],
                  std::string &why);

// One command of the control channel (standard input), split into words.
std::vector<std::string> words(const std::string &line);

}  // namespace serve

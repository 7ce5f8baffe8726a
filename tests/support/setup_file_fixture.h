// A test of set-up files: a temporary folder for the files it writes (removed with everything in
// it afterwards), and the process-wide state a load can change (device paths, VRLIB_CONFIG) put
// back when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "temp_dir.h"
#include "vrlib/vr.h"

namespace vr_test {

class SetupFileTest : public ::testing::Test {
 protected:
  explicit SetupFileTest(const char *prefix) : tmp_(prefix) {}

  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty()) << "no temporary folder";
    dir_ = tmp_.path();
  }
  void TearDown() override {
    for (int d = VR_DEVICE_TTYA; d <= VR_DEVICE_CAPTURE_ALT; ++d) vr_set_device_path(d, nullptr);
    unsetenv("VRLIB_CONFIG");
  }

  std::string path(const std::string &name) const { return (dir_ / name).string(); }
  std::string write(const std::string &name, const std::string &text) {
    std::ofstream(path(name)) << text;
    return path(name);
  }
  static std::string read(const std::string &p) {
    std::stringstream s;
    s << std::ifstream(p).rdbuf();
    return s.str();
  }

  TempDir tmp_;
  std::filesystem::path dir_;
};

}  // namespace vr_test

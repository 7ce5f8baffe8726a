// Which device path counts: the application's vr_set_device_path, then the environment (a
// launcher such as the capture daemon's), then a set-up file's [devices] keys, then the built-in
// names. This program runs with VRLIB_TTYA and VRLIB_CAPTURE set and VRLIB_TTYB empty, set
// before anything of the library runs, since the environment is read once per process.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "temp_dir.h"
#include "vrlib/vr.h"

namespace {

namespace fs = std::filesystem;

const bool environment_ready = [] {
  setenv("VRLIB_TTYA", "/dev/env-a", 1);
  setenv("VRLIB_TTYB", "", 1);
  setenv("VRLIB_CAPTURE", "/dev/shm/env-capture", 1);
  unsetenv("VRLIB_CONFIG");
  return true;
}();

struct CtxFree {
  void operator()(vr_ctx *ctx) const { std::free(ctx); }
};
using Ctx = std::unique_ptr<vr_ctx, CtxFree>;

class DevicePathOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(environment_ready);
    ASSERT_FALSE(tmp_.path().empty()) << "no temporary folder";
    dir_ = tmp_.path();
    file_ = (dir_ / "setup.toml").string();
    std::ofstream(file_) << "[devices]\ntty_a = \"/dev/file-a\"\ntty_b = \"/dev/file-b\"\n"
                            "capture = \"/dev/file-capture\"\ncapture_alt = \"/dev/file-alt\"\n";
  }
  void TearDown() override { unsetenv("VRLIB_CONFIG"); }
  std::string saved(vr_ctx *ctx) {
    const std::string path = (dir_ / "saved.toml").string();
    EXPECT_EQ(vr_config_save(ctx, path.c_str()), 1) << vr_config_message();
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }
  vr_test::TempDir tmp_{"vrdevpaths"};  // removed with everything in it after the test
  fs::path dir_;
  std::string file_;
};

}  // namespace

TEST_F(DevicePathOrder, ApplicationThenEnvironmentThenSetUpFileThenBuiltIn) {
  // Before any file: the environment where it is set, the built-in name where it is empty.
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYA), "/dev/env-a");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/dev/ttyb");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_CAPTURE_ALT), "/dev/shm/env-capture");

  // A set-up file (here through VRLIB_CONFIG, as a launched application meets it) fills only
  // what the environment leaves open.
  setenv("VRLIB_CONFIG", file_.c_str(), 1);
  Ctx ctx(vr_ctx_create());
  ASSERT_NE(ctx, nullptr);
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYA), "/dev/env-a");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/dev/file-b");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_CAPTURE), "/dev/shm/env-capture");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_CAPTURE_ALT), "/dev/shm/env-capture");

  // The application's own call wins over both, and undoing it returns to them.
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_TTYA, "/dev/app-a"), 1);
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_TTYB, "/dev/app-b"), 1);
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYA), "/dev/app-a");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/dev/app-b");
  // A file loaded after the call does not undo it either.
  ASSERT_EQ(vr_config_load(ctx.get(), file_.c_str()), 1) << vr_config_message();
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYA), "/dev/app-a");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/dev/app-b");
  const std::string with_application = saved(ctx.get());
  EXPECT_NE(with_application.find("tty_a = \"/dev/app-a\""), std::string::npos);
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_TTYA, nullptr), 1);
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_TTYB, nullptr), 1);
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYA), "/dev/env-a");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/dev/file-b");

  // A saved set-up keeps the file's paths, not this run's environment: the next run may be
  // started without the launcher.
  const std::string text = saved(ctx.get());
  EXPECT_NE(text.find("tty_a = \"/dev/file-a\""), std::string::npos) << text;
  EXPECT_NE(text.find("tty_b = \"/dev/file-b\""), std::string::npos);
  EXPECT_NE(text.find("capture = \"/dev/file-capture\""), std::string::npos);
  EXPECT_NE(text.find("capture_alt = \"/dev/file-alt\""), std::string::npos);
  EXPECT_EQ(text.find("/dev/env-a"), std::string::npos);
  EXPECT_EQ(text.find("env-capture"), std::string::npos);
}

TEST_F(DevicePathOrder, ARefusedFileLeavesThePathsAsTheyWere) {
  std::ofstream(file_) << "[devices]\ntty_b = \"/dev/half-b\"\n[screen]\nwidth_cm = 0\n";
  Ctx ctx(vr_ctx_create());
  const std::string before = vr_device_path(VR_DEVICE_TTYB);
  testing::internal::CaptureStderr();
  EXPECT_EQ(vr_config_load(ctx.get(), file_.c_str()), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(vr_device_path(VR_DEVICE_TTYB), before);
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYA), "/dev/env-a");
}

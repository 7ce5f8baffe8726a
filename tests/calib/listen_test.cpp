// vrcalib with the webcam source listening where the set-up says: a port other than 4242 from the
// set-up file's [network] listen or from VRLIB_OPENTRACK, to which the simulated face tracker
// must send, and a failure message that names the address listened on and what arrived there.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "run.h"
#include "ctx_compare.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

using vr_test::Ctx;

class CalibListen : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VRLIB_OPENTRACK");
    ASSERT_FALSE(tmp_.path().empty()) << "no temporary folder";
    dir_ = tmp_.path();
    config_ = (dir_ / "setup.toml").string();
  }
  void TearDown() override { unsetenv("VRLIB_OPENTRACK"); }

  void write_setup(const std::string &text) {
    std::FILE *f = std::fopen(config_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }

  // A webcam calibration on the simulator: a camera 4 cm right of the top edge's middle, tilted
  // 8 degrees. Returns the exit status; the printed steps and the errors come back.
  int calibrate(std::string &printed, std::string &errors, double noise_cm = 0.05) {
    vrcalib::Options o;
    o.config_path = config_;
    o.procedure = vrcalib::Procedure::opentrack;
    o.simulate = true;
    o.true_offset_cm = {4.0, 0.0, 0.0};
    o.true_turn_deg = 8.0;
    o.true_axis = {1.0, 0.0, 0.0};
    o.noise_cm = noise_cm;
    o.settings.settle_s = 1.0;
    o.settings.step_timeout_s = 10.0;
    const std::string log = (dir_ / "out.txt").string();
    std::FILE *out = std::fopen(log.c_str(), "w");
    testing::internal::CaptureStderr();
    const int status = vrcalib::run(o, out, stderr);
    errors = testing::internal::GetCapturedStderr();
    std::fclose(out);
    printed.clear();
    std::FILE *in = std::fopen(log.c_str(), "r");
    for (int c; (c = std::fgetc(in)) != EOF;) printed.push_back(static_cast<char>(c));
    std::fclose(in);
    return status;
  }

  // The port the written set-up file keeps for the source.
  int saved_port() {
    Ctx app(static_cast<vr_ctx *>(std::calloc(1, sizeof(vr_ctx))));
    vr_init_attributes(app.get());
    EXPECT_EQ(vr_config_load(app.get(), config_.c_str()), 1) << vr_config_message();
    int port = 0;
    vr_get_int(app.get(), VR_NET_BIND_PORT, &port);
    return port;
  }

  vr_test::TempDir tmp_{"vrcalib-listen"};  // removed with everything in it after the test
  fs::path dir_;
  std::string config_;
};

TEST_F(CalibListen, TheSetUpFilesPortIsWhereTheWebcamIsHeard) {
  write_setup("[network]\nlisten = \"127.0.0.1:5000\"\n");
  std::string printed, errors;
  ASSERT_EQ(calibrate(printed, errors), 0) << printed << errors;
  EXPECT_NE(printed.find("Listening for the webcam's datagrams on 127.0.0.1:5000."),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("network.camera_tilt"), std::string::npos) << printed;
  EXPECT_EQ(saved_port(), 5000);
}

TEST_F(CalibListen, VrlibOpentrackWinsOverTheSetUpAndIsNotSaved) {
  struct Case {
    const char *setup;  // the set-up file, or "" for none
    const char *env;
    const char *heard_on;
    int saved;  // the port the written file keeps: the set-up's, never the variable's
  } cases[] = {
      {"", "127.0.0.1:5001", "127.0.0.1:5001", 4242},
      {"[network]\nlisten = \"127.0.0.1:5000\"\n", ":5002", "127.0.0.1:5002", 5000},
      {"[network]\nlisten = \"127.0.0.1:5003\"\n", "localhost", "127.0.0.1:5003", 5003},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.env);
    std::error_code ec;
    fs::remove(config_, ec);
    if (*c.setup != '\0') write_setup(c.setup);
    setenv("VRLIB_OPENTRACK", c.env, 1);
    std::string printed, errors;
    ASSERT_EQ(calibrate(printed, errors), 0) << printed << errors;
    EXPECT_NE(printed.find(std::string("datagrams on ") + c.heard_on + "."), std::string::npos)
        << printed;
    unsetenv("VRLIB_OPENTRACK");
    EXPECT_EQ(saved_port(), c.saved);
  }
}

TEST_F(CalibListen, AFailureNamesTheAddressAndTheDatagramsReceived) {
  // A face tracker far too noisy for any held position to count as steady: the steps time out
  // while datagrams keep arriving.
  write_setup("[network]\nlisten = \"127.0.0.1:5004\"\n");
  std::string printed, errors;
  EXPECT_EQ(calibrate(printed, errors, 3.0), 1) << printed;
  const std::string said = "the webcam source listened on 127.0.0.1:5004 and received ";
  const auto at = errors.find(said);
  ASSERT_NE(at, std::string::npos) << errors;
  EXPECT_NE(errors.find("no steady head position"), std::string::npos) << errors;
  // About 30 datagrams a second over the 10 s step, every one of them usable.
  const int received = std::atoi(errors.c_str() + at + said.size());
  EXPECT_GT(received, 250) << errors;
  EXPECT_NE(errors.find(std::to_string(received) + " datagram(s), " + std::to_string(received) +
                        " of them usable; nothing written"),
            std::string::npos)
      << errors;
}

}  // namespace

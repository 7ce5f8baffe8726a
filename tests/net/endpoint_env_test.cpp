// VRLIB_OPENTRACK as the network source's set-up reads it: empty counts as unset, a partial
// endpoint keeps the rest of the set-up's, the attributes are never changed by it, and anything
// malformed fails the set-up with one message and nothing bound (no silent fall-back to the
// set-up's address, which would hide the mistake).
#include <stdlib.h>

#include <string>

#include "net_fixture.h"

namespace {

using net_test::datagram;
using net_test::loopback;
using net_test::NetTest;

class EndpointEnv : public NetTest {
 protected:
  void TearDown() override {
    unsetenv("VRLIB_OPENTRACK");
    NetTest::TearDown();
  }
  int init() {
    testing::internal::CaptureStderr();
    const int r = vr_init_glasses_and_mouse_6d(ctx, 1, 0);
    err = testing::internal::GetCapturedStderr();
    return r;
  }
  // Whether a datagram sent to 127.0.0.1:port reaches the source.
  bool heard_on(int port) {
    const double v[6] = {0, 0, 50, 0, 0, 0};
    const auto d = datagram(v);
    const int before = get_int(VR_NET_PACKETS);
    if (vrsim_udp_inject(sim, loopback, port, d.data(), 48, 0.0) != 1) return false;
    frame();
    return get_int(VR_NET_PACKETS) == before + 1;
  }
  std::string err;
};

TEST_F(EndpointEnv, EmptyOrPartialValuesKeepTheSetUpsParts) {
  ASSERT_EQ(vr_set_int(ctx, VR_NET_BIND_PORT, 5600), VR_OK);
  struct Case {
    const char *env;
    int port;
  } cases[] = {
      {"", 5600},           // set but empty: as unset
      {":5601", 5601},      // the port only: the set-up's address
      {"localhost", 5600},  // the address only: the set-up's port
      {"127.0.0.1", 5600}, {"localhost:5602", 5602},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.env);
    setenv("VRLIB_OPENTRACK", c.env, 1);
    ASSERT_EQ(init(), 1) << err;
    EXPECT_EQ(err, "");
    EXPECT_TRUE(heard_on(c.port));
    // The variable belongs to this run: the attributes (and so a saved set-up) keep their own.
    EXPECT_EQ(get_int(VR_NET_BIND_PORT), 5600);
    EXPECT_EQ(get_int(VR_NET_BIND_ADDRESS), static_cast<int>(loopback));
    vr_quit(ctx);
    EXPECT_EQ(vrsim_udp_open_count(sim), 0);
  }
}

TEST_F(EndpointEnv, MalformedValuesFailTheSetUpWithNothingBound) {
  const char *malformed[] = {
      "somewhere:5555",  // host names are not looked up
      "4242",            // a port needs its colon
      ":",
      "127.0.0.1:",
      "127.0.0.1:0",  // no port 0 (any port would be a surprise)
      "127.0.0.1:65536",
      "256.0.0.1:5555",
      "127.0.0.1.5:5555",
      "1.2.3:5555",
      " 127.0.0.1:5555",  // no spaces either side
      "127.0.0.1:5555 ",
      "127.0.0.1:5555x",
      "localhostx",
      "-1",
  };
  for (const char *text : malformed) {
    SCOPED_TRACE(text);
    setenv("VRLIB_OPENTRACK", text, 1);
    EXPECT_EQ(init(), 0);
    const std::string said = std::string("network head tracker: VRLIB_OPENTRACK=\"") + text +
                             "\" is not host:port (IPv4)";
    EXPECT_EQ(err, said + "\n");
    EXPECT_EQ(std::string(vr_net_message), said);
    EXPECT_EQ(vrsim_udp_open_count(sim), 0);
    EXPECT_EQ(get_int(VR_NET_STATE), VR_NET_STATE_OFF);
    EXPECT_EQ(ctx->glasses_event_fn, nullptr);
  }
  // A long value is quoted in part; the message stays whole and terminated.
  const std::string long_value(400, '9');
  setenv("VRLIB_OPENTRACK", long_value.c_str(), 1);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(std::string(vr_net_message), "network head tracker: VRLIB_OPENTRACK=\"" +
                                             long_value.substr(0, 64) +
                                             "\" is not host:port (IPv4)");
  // Mended, the next set-up binds.
  setenv("VRLIB_OPENTRACK", ":5610", 1);
  ASSERT_EQ(init(), 1) << err;
  EXPECT_TRUE(heard_on(5610));
}

}  // namespace

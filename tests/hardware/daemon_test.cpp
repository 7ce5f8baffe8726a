// The capture daemon on its own: a port that is unplugged and replugged while the other streams,
// and bad paths, a second daemon and a missing daemon, each with a clear message and status.
#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>

#include <cstdint>

#include "hw_fixture.h"

namespace {

using hw::HardwarePath;
using hw::Process;

constexpr int ring_bytes = 2044;
constexpr int record_6d_bytes = 16;
constexpr double records_per_s = 50.0;

// Opens a served line as the library does for a Logitech unit and starts its reports. With
// `immediate` reads return at once (minimum 0, no timeout), where an empty line reads 0 bytes.
int start_unit(const std::string &path, bool immediate = false) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  t.c_cflag = CS8 | CREAD | CLOCAL;
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  if (immediate) t.c_cc[VMIN] = t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
  if (write(fd, "*S", 2) != 2) return -1;
  return fd;
}

struct Rings {
  unsigned char *area = nullptr;
  int offset(int port) const {
    return __atomic_load_n(reinterpret_cast<const std::int32_t *>(area + 4088 + 4 * port),
                           __ATOMIC_ACQUIRE);
  }
  unsigned char at(int port, int i) const {
    return area[port * ring_bytes + ((i % ring_bytes) + ring_bytes) % ring_bytes];
  }
};

// The newest `count` 6D records of a port's ring are whole and in step: each starts with the
// only byte that has its top bit set (a lost or garbled byte would break the pattern). The
// newest record may still be arriving, so the count starts before it.
void expect_whole_records(const Rings &rings, int port, int count) {
  int end = rings.offset(port);
  int first_flag = -1;
  for (int i = 1; i <= 2 * record_6d_bytes && first_flag < 0; ++i)
    if (rings.at(port, end - i) & 0x80) first_flag = i;
  ASSERT_GT(first_flag, 0) << "port " << port;
  for (int r = 1; r <= count; ++r)
    for (int k = 0; k < record_6d_bytes; ++k) {
      unsigned char byte = rings.at(port, end - first_flag - r * record_6d_bytes + k);
      EXPECT_EQ((byte & 0x80) != 0, k == 0) << "port " << port << " record " << r << " byte " << k;
    }
}

int progress(int from, int to) {
  return ((to - from) % ring_bytes + ring_bytes) % ring_bytes;
}

TEST_F(HardwarePath, UnpluggedPortReturnsWhileTheOtherLosesNothing) {
  serve();
  Process daemon;
  ASSERT_TRUE(daemon.start(daemon_args()));
  ASSERT_TRUE(hw::wait_for_err(daemon, "ready", 10)) << daemon.err();
  int fd_area = open(area.c_str(), O_RDONLY);
  ASSERT_GE(fd_area, 0);
  void *map = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd_area, 65536);
  ASSERT_NE(map, MAP_FAILED);
  Rings rings{static_cast<unsigned char *>(map)};
  int a = start_unit(tty_a, true), b = start_unit(tty_b);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  hw::sleep_s(0.3);

  // Count port A's bytes over the whole unplug and replug of port B.
  long long a_bytes = 0, b_bytes_after = 0;
  int last[2] = {rings.offset(0), rings.offset(1)};
  auto sample = [&](double seconds, long long *b_count) {
    double end = hw::now_s() + seconds;
    while (hw::now_s() < end) {
      hw::sleep_s(0.02);
      int now[2] = {rings.offset(0), rings.offset(1)};
      a_bytes += progress(last[0], now[0]);
      if (b_count) *b_count += progress(last[1], now[1]);
      last[0] = now[0];
      last[1] = now[1];
    }
  };
  double start = hw::now_s();
  sample(0.3, nullptr);
  server.send("unplug B");
  ASSERT_TRUE(server.wait_for("B unplugged", 5));
  ASSERT_TRUE(hw::wait_for_err(daemon, "vanished", 5)) << daemon.err();
  sample(1.2, nullptr);
  server.send("plug B");
  ASSERT_TRUE(server.wait_for("B /dev/pts/", 5));
  ASSERT_TRUE(hw::wait_for_err(daemon, "is back", 5)) << daemon.err();
  last[1] = rings.offset(1);
  sample(1.0, &b_bytes_after);
  double elapsed = hw::now_s() - start;

  // Port A: every record of the period, whole and in step (a lost byte would shift the records).
  double expected = elapsed * records_per_s * record_6d_bytes;
  // The window's edges and a busy machine's scheduling blur the count by a few records; a loss
  // by the daemon would be a whole read (hundreds of bytes) or break the records' pattern.
  EXPECT_NEAR(static_cast<double>(a_bytes), expected, 6 * record_6d_bytes);
  expect_whole_records(rings, 0, 100);
  // Port B: the unit kept reporting, and its records flow again at the rate of its line.
  EXPECT_GE(b_bytes_after, static_cast<long long>(0.5 * records_per_s * record_6d_bytes));
  // ... readable again: the returned line got back the speed the library had set (a line left
  // at the new adapter's default speed would garble every byte).
  expect_whole_records(rings, 1, 20);
  std::string log = daemon.err();
  EXPECT_EQ(log.find("vanished"), log.rfind("vanished")) << "logged once: " << log;
  EXPECT_EQ(log.find("port A: " + tty_a + " vanished"), std::string::npos) << log;
  daemon.signal(SIGTERM);
  EXPECT_EQ(daemon.wait(5), 0);
  munmap(map, 4096);
  close(fd_area);
  close(a);
  close(b);
}

struct Refusal {
  std::string what;
  int status;
  std::string message;
};

int run(const std::vector<std::string> &argv, std::string &err,
        const std::vector<std::string> &env = {}, std::string *out = nullptr) {
  Process p;
  if (!p.start(argv, env)) return -1;
  // Until the output ends: a set-up on a busy machine can be silent for many seconds.
  std::string line;
  double end = hw::now_s() + 50;
  while (p.read_line(line, end - hw::now_s()))
    if (out) *out += line + "\n";
  int status = p.wait(10);
  err = p.err();
  return status;
}

TEST_F(HardwarePath, BadPathsAndASecondDaemonAreRefusedClearly) {
  ASSERT_EQ(mkdir((dir + "/folder").c_str(), 0755), 0);
  ASSERT_EQ(symlink((dir + "/elsewhere").c_str(), (dir + "/link").c_str()), 0);
  std::string err;
  struct Case {
    std::vector<std::string> argv;
    int status;
    const char *message;
  };
  const std::string d = VRCAPD_PATH;
  const std::vector<Case> cases = {
      {{d, "--foreground", "--area", area, "--port-a", dir + "/missing"}, 2, "does not exist"},
      {{d, "--foreground", "--area", area, "--port-a", dir + "/folder"}, 2, "is a directory"},
      {{d, "--foreground", "--area", area, "--port-b", "/dev/null"}, 2, "not a serial line"},
      {{d, "--foreground", "--area", dir + "/link", "--port-a", "/dev/null"}, 2, "symbolic link"},
      {{d, "--foreground", "--area", dir + "/folder"}, 2, "give --port-a"},
      {{d, "--foreground", "--area", dir + "/folder", "--port-a", "/dev/null"},
       2,
       "not a regular file"},
      {{d, "--no-such-option"}, 2, "no-such-option"},
      {{d, "--foreground", "--area", area, "--port-a", "/dev/tty", "--port-b", "/dev/tty"},
       2,
       "the same line"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(run(c.argv, err), c.status) << c.argv.back();
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(err.find("rror:"), err.rfind("rror:"));  // one message, not a cascade
  }
  struct stat st {};
  EXPECT_NE(lstat((dir + "/elsewhere").c_str(), &st), 0) << "nothing created through the link";
  std::string help;
  EXPECT_EQ(run({d, "--help"}, err, {}, &help), 0);
  EXPECT_NE(help.find("--port-a"), std::string::npos) << help;

  // A folder the daemon's user may not write to (root writes anywhere, so drop to nobody).
  std::string ro = dir + "/read-only";
  ASSERT_EQ(mkdir(ro.c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  std::vector<std::string> argv = {d,          "--foreground", "--area", ro + "/capture",
                                   "--port-a", "/dev/null"};
  if (geteuid() == 0)
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  EXPECT_EQ(run(argv, err), 2);
  EXPECT_NE(err.find("cannot create area"), std::string::npos) << err;

  // A second daemon on the same area.
  serve();
  Process first;
  ASSERT_TRUE(first.start(daemon_args()));
  ASSERT_TRUE(hw::wait_for_err(first, "ready", 10)) << first.err();
  EXPECT_EQ(run(daemon_args(), err), 3);
  EXPECT_NE(err.find("another vrcapd is already capturing"), std::string::npos) << err;
  struct stat area_st {};
  ASSERT_EQ(stat(area.c_str(), &area_st), 0);
  EXPECT_EQ(area_st.st_mode & 0777, 0660u);
  EXPECT_EQ(area_st.st_size, 65536 + 4096);
  first.signal(SIGINT);
  EXPECT_EQ(first.wait(5), 0);
  EXPECT_NE(first.err().find("stopped"), std::string::npos);

  // The launcher: an application that cannot be started, and one whose status comes back.
  std::vector<std::string> launch = daemon_args();
  launch.insert(launch.end(), {"--", dir + "/no-such-app"});
  EXPECT_EQ(run(launch, err), 127);
  EXPECT_NE(err.find("cannot run"), std::string::npos) << err;
  launch = daemon_args();
  launch.insert(launch.end(),
                {"--", "/bin/sh", "-c",
                 "test \"$VRLIB_TTYA\" = '" + tty_a + "' && test \"$VRLIB_TTYB\" = '" + tty_b +
                     "' && test \"$VRLIB_CAPTURE\" = '" + area + "' && exit 7"});
  EXPECT_EQ(run(launch, err), 7) << err;
}

// A file planted at the area path: its bytes, owner and mode, to show the daemon left it alone.
struct Planted {
  std::string bytes;
  uid_t uid;
  gid_t gid;
  mode_t mode;
};

bool plant(const std::string &path, uid_t uid, gid_t gid, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, "planted", 7) == 7 && fchown(fd, uid, gid) == 0 && fchmod(fd, mode) == 0;
  close(fd);
  return ok;
}

Planted planted_state(const std::string &path) {
  Planted p{};
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return p;
  p.uid = st.st_uid;
  p.gid = st.st_gid;
  p.mode = st.st_mode & 07777;
  char buffer[64];
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ssize_t n = fd >= 0 ? read(fd, buffer, sizeof buffer) : -1;
  if (n > 0) p.bytes.assign(buffer, static_cast<std::size_t>(n));
  if (fd >= 0) close(fd);
  return p;
}

// A capture file that another user planted first, or that other users may read or write, would
// let them read the tracker bytes or write fake ones: the daemon refuses it and leaves it as it
// was (no bytes written, not truncated, owner and mode kept). The daemon runs as root here, so
// the owner check must be against its effective user, not "root may do anything".
TEST_F(HardwarePath, AnAreaOfAnotherUserOrOpenToOthersIsRefusedUntouched) {
  if (geteuid() != 0) GTEST_SKIP() << "planting a file of another user needs root";
  const std::string d = VRCAPD_PATH;
  const uid_t nobody = 65534;
  // A sticky folder open to all, as /dev/shm is.
  const std::string shared = dir + "/shm";
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  struct Case {
    std::string path;
    uid_t uid;
    mode_t mode;
    const char *message;
  };
  const std::vector<Case> cases = {
      {shared + "/foreign-open", nobody, 0666, "it belongs to user"},
      {shared + "/foreign-closed", nobody, 0600, "it belongs to user"},
      {dir + "/foreign-group", nobody, 0660, "it belongs to user"},
      {shared + "/own-open", 0, 0666, "other users may read or write it (mode 0666"},
      {dir + "/own-readable", 0, 0644, "other users may read or write it (mode 0644"},
  };
  std::string err;
  for (const Case &c : cases) {
    ASSERT_TRUE(plant(c.path, c.uid, c.uid == 0 ? 0 : nobody, c.mode)) << c.path;
    EXPECT_EQ(run({d, "--foreground", "--area", c.path, "--port-a", "/dev/null"}, err), 2)
        << c.path;
    EXPECT_NE(err.find("refusing area " + c.path + ": " + c.message), std::string::npos) << err;
    if (c.uid != 0) {
      EXPECT_NE(err.find("not to the daemon's user root (0)"), std::string::npos) << err;
    }
    const Planted after = planted_state(c.path);
    EXPECT_EQ(after.bytes, "planted") << c.path;
    EXPECT_EQ(after.uid, c.uid) << c.path;
    EXPECT_EQ(after.mode, c.mode) << c.path;
  }
  // A file of the daemon's own user closed to others is taken, and set to mode 0660 (the failure
  // after it is the port's, which is opened once the area is ready).
  const std::string own = dir + "/own-private";
  ASSERT_TRUE(plant(own, 0, 0, 0600));
  EXPECT_EQ(run({d, "--foreground", "--area", own, "--port-a", "/dev/null"}, err), 2);
  EXPECT_NE(err.find("not a serial line"), std::string::npos) << err;
  EXPECT_EQ(err.find("refusing area"), std::string::npos) << err;
  const Planted taken = planted_state(own);
  EXPECT_EQ(taken.mode, 0660u);
  EXPECT_EQ(taken.bytes.size(), 64u) << "sized to the whole area";
}

// For a group of users: --group gives the area to the group, mode 0660, so that its members'
// programs map it and nobody else reads or writes it. A group the daemon's user is not in, or
// one that does not exist, is refused with a clear message.
TEST_F(HardwarePath, GroupOptionSharesTheAreaWithOneGroupOnly) {
  const std::string d = VRCAPD_PATH;
  const group *other = getgrgid(65534);
  if (geteuid() != 0 || !other) GTEST_SKIP() << "needs root and a group 65534";
  const std::string other_name = other->gr_name;
  serve();
  std::vector<std::string> argv = daemon_args();
  argv.insert(argv.end(), {"--group", other_name});
  {
    Process daemon;
    ASSERT_TRUE(daemon.start(argv));
    ASSERT_TRUE(hw::wait_for_err(daemon, "ready", 10)) << daemon.err();
    struct stat st {};
    ASSERT_EQ(stat(area.c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(5), 0);
  }
  // The check tool explains why the library would refuse an area opened to others.
  ASSERT_EQ(chmod(area.c_str(), 0666), 0);
  std::string err, out;
  EXPECT_EQ(run({VRTRACK_INFO_PATH, "--mode", "6d"}, err, env(), &out), 1);
  EXPECT_NE(out.find("may be written by other users (mode 0666)"), std::string::npos) << out;
  // ... and one reached through a symbolic link, which the library does not follow.
  ASSERT_EQ(chmod(area.c_str(), 0660), 0);
  const std::string link = dir + "/capture-link";
  ASSERT_EQ(symlink(area.c_str(), link.c_str()), 0);
  std::vector<std::string> linked = env();
  linked[2] = "VRLIB_CAPTURE=" + link;
  out.clear();
  EXPECT_EQ(run({VRTRACK_INFO_PATH, "--mode", "6d"}, err, linked, &out), 1);
  EXPECT_NE(out.find(link + " is a symbolic link"), std::string::npos) << out;
  ASSERT_EQ(unlink(area.c_str()), 0);

  EXPECT_EQ(
      run({d, "--foreground", "--area", area, "--group", "no-such-group-here", "--port-a", tty_a},
          err),
      2);
  EXPECT_NE(err.find("--group no-such-group-here: no such group"), std::string::npos) << err;
  // A daemon user outside the group cannot give the file to it.
  const std::string folder = dir + "/nobody";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  EXPECT_EQ(
      run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", d,
           "--foreground", "--area", folder + "/capture", "--group", "0", "--port-a", "/dev/null"},
          err),
      2);
  EXPECT_NE(err.find("cannot give area " + folder + "/capture to group"), std::string::npos) << err;
}

TEST_F(HardwarePath, CheckToolExplainsAMissingDaemonAndAWrongPort) {
  serve();
  std::string err, out;
  const std::vector<std::string> info = {VRTRACK_INFO_PATH, "--mode", "6d"};
  EXPECT_EQ(run(info, err, env(), &out), 1);
  EXPECT_NE(out.find("capture daemon is not running"), std::string::npos) << out;
  // A capture file that no daemon holds.
  {
    Process daemon;
    ASSERT_TRUE(daemon.start(daemon_args()));
    ASSERT_TRUE(hw::wait_for_err(daemon, "ready", 10)) << daemon.err();
    daemon.signal(SIGTERM);
    ASSERT_EQ(daemon.wait(5), 0);
  }
  out.clear();
  EXPECT_EQ(run(info, err, env(), &out), 1);
  EXPECT_NE(out.find("not being filled"), std::string::npos) << out;
  out.clear();
  std::vector<std::string> wrong = env();
  wrong[0] = "VRLIB_TTYA=" + dir + "/ttyQ";
  EXPECT_EQ(run(info, err, wrong, &out), 1);
  EXPECT_NE(out.find("port A: " + dir + "/ttyQ does not exist: wrong port?"), std::string::npos)
      << out;
}

TEST_F(HardwarePath, CheckToolReportsAUnitThatIsOff) {
  serve();
  server.send("power B off");
  Process daemon;
  ASSERT_TRUE(daemon.start(daemon_args()));
  ASSERT_TRUE(hw::wait_for_err(daemon, "ready", 10)) << daemon.err();
  std::string err, out;
  EXPECT_EQ(run({VRTRACK_INFO_PATH, "--mode", "6d", "--seconds", "0.5"}, err, env(), &out), 1);
  EXPECT_NE(out.find("FAILED: the units did not answer"), std::string::npos) << out << err;
  EXPECT_NE(err.find("Cannot read status from ttyb"), std::string::npos) << err;
}

}  // namespace

namespace {

TEST_F(HardwarePath, ServerRefusesBadSetUpsAndNeverReplacesAFile) {
  std::string file = dir + "/notes";
  FILE *f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("keep me\n", f);
  std::fclose(f);
  std::string script = dir + "/script";
  f = std::fopen(script.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("1 head 0 0 50\n0.5 head 0 0 60\n", f);
  std::fclose(f);
  const std::string s = VRSIM_SERVE_PATH;
  std::string err;
  EXPECT_EQ(run({s, "--link-a", file}, err), 1);
  EXPECT_NE(err.find("refusing to replace " + file), std::string::npos) << err;
  struct stat st {};
  ASSERT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_size, 8);
  EXPECT_EQ(run({s, "--port-a", "cyberman"}, err), 2);
  EXPECT_NE(err.find("no device \"cyberman\" for port A"), std::string::npos) << err;
  EXPECT_EQ(run({s, "--script", script}, err), 2);
  EXPECT_NE(err.find(script + ":2: time goes back"), std::string::npos) << err;
  // A script is read only from a regular file: a FIFO is not waited on (no writer would ever
  // come), a symbolic link not followed.
  const std::string fifo = dir + "/script-fifo", link = dir + "/script-link";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink(script.c_str(), link.c_str()), 0);
  const double before_s = hw::now_s();
  EXPECT_EQ(run({s, "--script", fifo}, err), 2);
  EXPECT_LT(hw::now_s() - before_s, 10.0);
  EXPECT_NE(err.find("cannot read script " + fifo + ": not a regular file"), std::string::npos)
      << err;
  EXPECT_EQ(run({s, "--script", link}, err), 2);
  EXPECT_NE(err.find("cannot read script " + link + ": it is a symbolic link"), std::string::npos)
      << err;
  EXPECT_EQ(run({s, "--head", "1,2"}, err), 2);
  EXPECT_NE(err.find("--head wants X,Y,Z"), std::string::npos) << err;
}

}  // namespace

// The demo program itself, run briefly: it finishes, reports its summary and output folder, and
// leaves complete, valid pictures of the expected sizes that actually show something.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "image.h"
#include "png_io.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string output;  // standard output and standard error together
};

std::string quoted(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Result run_demo(const std::string &args, const fs::path &cwd = {}) {
  std::string cmd;
  if (!cwd.empty()) cmd = "cd " + quoted(cwd.string()) + " && ";
  cmd += quoted(VRDEMO_PATH) + " " + args + " 2>&1";
  Result r;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// The number that follows `label` in the demo's summary, or -1.
double number_after(const std::string &text, const std::string &label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return -1.0;
  return std::strtod(text.c_str() + at + label.size(), nullptr);
}

using TempDir = vr_test::TempDir;

// Distinct colours in a picture, up to a limit: a blank or single-colour picture has one.
int colour_count(const vrdemo::Image &img, int limit) {
  std::set<int> seen;
  for (int y = 0; y < img.height; y += 3) {
    for (int x = 0; x < img.width; x += 3) {
      const vrdemo::Rgb c = img.get(x, y);
      seen.insert(c.r << 16 | c.g << 8 | c.b);
      if (static_cast<int>(seen.size()) >= limit) return limit;
    }
  }
  return static_cast<int>(seen.size());
}

void expect_picture(const fs::path &file, int width, int height) {
  SCOPED_TRACE(file.string());
  vrdemo::Image img;
  std::string error;
  ASSERT_TRUE(vrdemo::read_png(file.string(), &img, &error)) << error;
  if (width > 0) {
    EXPECT_EQ(img.width, width);
  }
  if (height > 0) {
    EXPECT_EQ(img.height, height);
  }
  EXPECT_GE(colour_count(img, 50), 50) << "the picture is (nearly) blank";
}

void expect_run_pictures(const fs::path &dir, int frames) {
  const std::vector<int> stereo = {static_cast<int>(0.18 * frames), static_cast<int>(0.40 * frames),
                                   static_cast<int>(0.62 * frames)};
  int pngs = 0;
  for (const auto &entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".png") ++pngs;
  EXPECT_EQ(pngs, 11);
  for (int i : stereo) {
    char base[32];
    std::snprintf(base, sizeof base, "frame_%04d", i);
    for (const char *kind : {"_left.png", "_right.png", "_anaglyph.png"})
      expect_picture(dir / (std::string(base) + kind), 960, 680);
  }
  expect_picture(dir / "contact_sheet.png", 0, 0);
  expect_picture(dir / "eye_tracking.png", 0, 0);
}

TEST(DemoRun, ShortRunWritesValidPicturesAndASummary) {
  TempDir tmp("vrdemo-run");
  ASSERT_FALSE(tmp.path().empty());
  const fs::path out = tmp.path() / "pictures";
  constexpr int frames = 30;
  const Result r =
      run_demo("--frames " + std::to_string(frames) + " --out " + quoted(out.string()));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("left eye   RMS"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("mouse tip  RMS"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("vr_comp_view"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("11 pictures in " + out.string()), std::string::npos) << r.output;
  // The simulator's truth and the library's tracked eyes and mouse tip are the same frames: they
  // differ by the tracker's latency (about a centimetre at these speeds), not by whole
  // centimetres as a frame or unit mix-up would make them.
  for (const char *what : {"left eye   RMS ", "right eye  RMS ", "mouse tip  RMS "}) {
    SCOPED_TRACE(what);
    const double rms = number_after(r.output, what);
    EXPECT_GT(rms, 0.0);
    EXPECT_LT(rms, 2.5);
  }
  expect_run_pictures(out, frames);

  // A second, shorter run into the same folder leaves only its own frames there.
  const Result again = run_demo("-n 12 --6d -s 7 -o " + quoted(out.string()));
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_NE(again.output.find("6D reports"), std::string::npos) << again.output;
  expect_run_pictures(out, 12);
}

TEST(DemoRun, DefaultFolderIsInTheCurrentDirectory) {
  TempDir tmp("vrdemo-run");
  ASSERT_FALSE(tmp.path().empty());
  const Result r = run_demo("-n 3", tmp.path());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(fs::exists(tmp.path() / "vrdemo-out" / "contact_sheet.png")) << r.output;
  EXPECT_TRUE(fs::exists(tmp.path() / "vrdemo-out" / "eye_tracking.png")) << r.output;
}

// --tracker-delay (serial trackers) and --sender-latency (opentrack) go with --track display and
// take 0 to 200 ms.
TEST(DemoRun, TrackerDelayBelongsToDisplayTimeTracking) {
  for (const char *bad :
       {"--tracker-delay 20", "--track display --tracker-delay -1",
        "--track display --tracker-delay nan", "--track display --tracker-delay 201",
        // The opentrack sender's own latency, likewise.
        "--sender-latency 20", "--track display --sender-latency -1",
        "--track display --sender-latency 201"}) {
    SCOPED_TRACE(bad);
    const Result r = run_demo(bad);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("--help"), std::string::npos) << r.output;
  }
  TempDir tmp("vrdemo-run");
  ASSERT_FALSE(tmp.path().empty());
  const Result r = run_demo("-n 3 --track display --tracker-delay 20", tmp.path());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("display time"), std::string::npos) << r.output;
  // The pose filter implies display time: the delay goes with it too, and the raw fit does not.
  const Result filter = run_demo("-n 3 --track filter --tracker-delay 20", tmp.path());
  ASSERT_EQ(filter.status, 0) << filter.output;
  EXPECT_NE(filter.output.find("display time, pose filter"), std::string::npos) << filter.output;
  EXPECT_EQ(run_demo("--track filter --predict").status, 2);
}

TEST(DemoRun, HelpAndBadOptions) {
  const Result help = run_demo("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("Usage: vrdemo"), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("--frames"), std::string::npos);

  for (const char *bad : {"--frames 0", "--frames 12x", "--frames", "--seed -1", "--noise nan",
                          "--bogus", "--6d --predict", "--help=yes"}) {
    SCOPED_TRACE(bad);
    const Result r = run_demo(bad);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("--help"), std::string::npos) << r.output;
  }

  // An output folder that cannot be made is a clear failure, not a crash.
  TempDir tmp("vrdemo-run");
  ASSERT_FALSE(tmp.path().empty());
  const fs::path file = tmp.path() / "plain-file";
  {
    std::FILE *f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  const Result r = run_demo("-n 2 -o " + quoted(file.string()));
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("cannot create the output folder"), std::string::npos) << r.output;
}

}  // namespace

namespace {

// Pixels of a picture that are not the black the scene clears to.
int drawn_pixels(const vrdemo::Image &img) {
  int drawn = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      const vrdemo::Rgb c = img.get(x, y);
      if (c.r || c.g || c.b) ++drawn;
    }
  return drawn;
}

TEST(DemoRun, WallOfThreeScreensFedOneHeadOverVrpn) {
  TempDir tmp("vrdemo-wall");
  ASSERT_FALSE(tmp.path().empty());
  const fs::path out = tmp.path() / "wall";
  const Result r = run_demo("--wall --frames 45 --out " + quoted(out.string()));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("127.0.0.1:"), std::string::npos) << r.output;
  // The latency line: p50 and p99 in milliseconds, positive and below a second on loopback.
  const std::string latency = "vr_comp_view: p50 ";
  const double p50 = number_after(r.output, latency);
  EXPECT_GT(p50, 0.0) << r.output;
  EXPECT_LT(p50, 1000.0) << r.output;
  // The p99 of that same line: each screen's own line before it has a p99 of its own, which
  // may lie below the overall median when the screens run unevenly.
  const std::size_t overall = r.output.find(latency);
  ASSERT_NE(overall, std::string::npos) << r.output;
  EXPECT_GE(number_after(r.output.substr(overall), " ms, p99 "), p50) << r.output;
  for (const char *screen : {"left", "centre", "right"}) {
    SCOPED_TRACE(screen);
    vrdemo::Image img;
    ASSERT_TRUE(vrdemo::read_png((out / (std::string("wall_") + screen + ".png")).string(), &img));
    EXPECT_EQ(img.width, 320);
    EXPECT_EQ(img.height, 240);
    // Every screen shows the room's lines: a good share of the picture, not a blank.
    EXPECT_GT(drawn_pixels(img), 2000);
    EXPECT_GT(colour_count(img, 8), 2);
  }
  vrdemo::Image sheet;
  ASSERT_TRUE(vrdemo::read_png((out / "wall_contact_sheet.png").string(), &sheet));
  EXPECT_GT(sheet.width, 3 * 320);
}

}  // namespace

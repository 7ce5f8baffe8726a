// vrdemo: a head-tracked stereo session on the tracker simulator, rendered with OpenGL.
//
// The program does what an application of the library does: it creates a context with the
// defaults, brings up the glasses and the 3D mouse (here plugged into the simulator instead of
// the serial lines), and once per frame calls vr_comp_view and draws its scene for the left and
// the right eye with the view matrices the library hands out. The simulator's truth follows a
// scripted viewer, so the run can report how far the eye positions the library used were from
// where the eyes really were when each frame was shown.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <vrlib/vr.h>
#include <vrsim/vrsim.h>

#include "demo_options.h"
#include "demo_outputs.h"
#include "gl_context.h"
#ifdef VRDEMO_LIVE
#include "live.h"
#endif
#include "png_io.h"
#include "scene.h"
#include "tools/common/session.h"
#include "wall.h"

namespace {

using vrdemo::DemoOptions;
using vrdemo::FrameSample;
using vrdemo::Image;

constexpr int stereo_frame_count = 3;
constexpr double stereo_frame_fractions[stereo_frame_count] = {0.18, 0.40, 0.62};
constexpr int sheet_tiles = 8;
constexpr int sheet_columns = 4;
constexpr int picture_samples = 4;  // multisampling of the saved pictures

// The simulator asks for the truth at virtual times; the script runs from the moment the
// trackers are up, and holds its first pose before that.
struct Truth {
  const vrsession::Session *session = nullptr;
  bool started = false;
  double start_s = 0;
  double session_time(double t) const { return started ? t - start_s : 0.0; }
};

void head_truth(void *user, double t, dmat out) {
  const auto *truth = static_cast<const Truth *>(user);
  truth->session->head_to_dig(truth->session_time(t), out);
}

void mouse_truth(void *user, double t, dmat out) {
  const auto *truth = static_cast<const Truth *>(user);
  truth->session->mouse_to_dig(truth->session_time(t), out);
}

bool is_zero(const dmat m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (m[r][c] != 0.0) return false;
  return true;
}

struct PoseFnReset {
  vrsim *sim;
  ~PoseFnReset() {
    vrsim_set_pose_fn(sim, VRSIM_HEAD, nullptr, nullptr);
    vrsim_set_pose_fn(sim, VRSIM_MOUSE, nullptr, nullptr);
  }
};

struct SimDeleter {
  void operator()(vrsim *sim) const { vrsim_destroy(sim); }
};
struct CtxDeleter {
  void operator()(vr_ctx *ctx) const {
    vr_quit(ctx);
    std::free(ctx);  // the application owns the context
  }
};

class Progress {
 public:
  Progress(int total, bool live) : total_(total), live_(live) {}
  void update(int done) {
    if (!live_) return;
    const int percent = static_cast<int>(100.0 * done / total_);
    if (percent == last_percent_ && done != total_) return;
    last_percent_ = percent;
    constexpr int bar = 30;
    const int filled = bar * done / total_;
    std::fprintf(stderr, "\r  frame %6d / %d  [%.*s%*s] %3d%%", done, total_, filled,
                 "==============================", bar - filled, "", percent);
    std::fflush(stderr);
  }
  void finish() {
    if (live_) std::fprintf(stderr, "\n");
  }

 private:
  int total_;
  bool live_;
  int last_percent_ = -1;
};

std::string format(const char *fmt, double a, double b, double c) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, a, b, c);
  return buf;
}

// Names of the pictures a run writes; stale ones from an earlier run with more frames are
// removed first, so that the folder holds this run's pictures only.
bool is_frame_picture(const std::string &name) {
  constexpr std::string_view prefix = "frame_";
  if (!name.starts_with(prefix) || !name.ends_with(".png")) return false;
  size_t i = prefix.size();
  while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
  if (i == prefix.size()) return false;
  const std::string rest = name.substr(i);
  return rest == "_left.png" || rest == "_right.png" || rest == "_anaglyph.png";
}

std::optional<std::filesystem::path> prepare_output_folder(const std::string &dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) {
    std::fprintf(stderr, "vrdemo: cannot create the output folder %s: %s\n", dir.c_str(),
                 ec ? ec.message().c_str() : "a file of that name is in the way");
    return std::nullopt;
  }
  const fs::path abs = fs::absolute(dir);
  for (const auto &entry : fs::directory_iterator(abs, ec)) {
    if (entry.is_regular_file() && is_frame_picture(entry.path().filename().string()))
      fs::remove(entry.path(), ec);
  }
  return abs;
}

class PictureWriter {
 public:
  explicit PictureWriter(std::filesystem::path dir) : dir_(std::move(dir)) {}
  bool save(const std::string &name, const Image &img) {
    std::string error;
    if (!vrdemo::write_png((dir_ / name).string(), img, &error)) {
      std::fprintf(stderr, "vrdemo: %s\n", error.c_str());
      return false;
    }
    ++count_;
    return true;
  }
  int count() const { return count_; }
  const std::filesystem::path &dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  int count_ = 0;
};

// Evenly spread frame numbers: `count` of them, each in the middle of its share of the run.
std::vector<int> spread_frames(int frames, int count) {
  std::vector<int> out;
  for (int k = 0; k < count; ++k) out.push_back((2 * k + 1) * frames / (2 * count));
  return out;
}

bool contains(const std::vector<int> &list, int i) {
  return std::find(list.begin(), list.end(), i) != list.end();
}

// The eye's view, drawn with the matrix the library computed for it.
Image draw_eye(vrdemo::GlContext &gl, const vrdemo::SceneFrame &frame, const dmat view, bool keep) {
  gl.begin_frame();
  vrdemo::begin_eye_view(view);
  vrdemo::draw_scene(frame);
  return keep ? gl.read_pixels() : Image();
}

void print_summary(const DemoOptions &opt, const std::vector<FrameSample> &samples,
                   const vrdemo::GlContext &gl, double wall_s, const PictureWriter &pictures) {
  const auto left = vrdemo::left_eye_error(samples);
  const auto right = vrdemo::right_eye_error(samples);
  const auto tip = vrdemo::mouse_tip_error(samples);
  std::vector<double> times;
  double mean = 0;
  for (const auto &s : samples) {
    times.push_back(s.comp_view_us);
    mean += s.comp_view_us;
  }
  std::sort(times.begin(), times.end());
  mean /= static_cast<double>(times.size());
  const double p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];

  std::printf("frames: %d (%.2f s of virtual time at %.0f Hz), rendered with %s, %d x %d per eye\n",
              opt.frames, opt.frames / opt.frame_rate_hz, opt.frame_rate_hz, gl.renderer().c_str(),
              gl.width(), gl.height());
  std::printf("eye positions used for each frame against the true eyes when it is shown:\n");
  if (left.count > 0) {
    std::printf("  left eye   RMS %.3f cm, worst %.3f cm (at %.2f s), over %d frames\n", left.rms,
                left.worst, left.worst_t, left.count);
    std::printf("  right eye  RMS %.3f cm, worst %.3f cm (at %.2f s)\n", right.rms, right.worst,
                right.worst_t);
  } else {
    std::printf("  none: the glasses delivered no pose\n");
  }
  if (tip.count > 0)
    std::printf("  mouse tip  RMS %.3f cm, worst %.3f cm (at %.2f s)\n", tip.rms, tip.worst,
                tip.worst_t);
  else
    std::printf("  mouse tip  none: the 3D mouse delivered no pose\n");
  std::printf(
      "library time per frame (vr_comp_view, wall clock): median %.1f us, mean %.1f us, "
      "99th percentile %.1f us, worst %.1f us\n",
      times[times.size() / 2], mean, p99, times.back());
  std::printf("run time %.1f s; %d pictures in %s\n", wall_s, pictures.count(),
              pictures.dir().string().c_str());
}

// The same session tracked with the library's defaults, without drawing: what the display-time
// run is compared with in its plot.
std::vector<FrameSample> default_tracking_pass(const DemoOptions &opt) {
  std::vector<FrameSample> samples;
  std::unique_ptr<vrsim, SimDeleter> sim(vrsim_create(opt.seed));
  if (!sim) return samples;
  vrsim_install(sim.get());
  vrsim_plug_standard(sim.get());
  vrsim_imperfections imp{};
  imp.distance_noise_cm = opt.noise_cm;
  vrsim_set_imperfections(sim.get(), VRSIM_PORT_A, &imp);
  vrsim_set_imperfections(sim.get(), VRSIM_PORT_B, &imp);
  std::unique_ptr<vr_ctx, CtxDeleter> owned_ctx(vr_ctx_create());
  vr_ctx *ctx = owned_ctx.get();
  if (!ctx) return samples;
  const int source =
      opt.six_d ? VR_GLASSES_SOURCE_LOGITECH_6D : VR_GLASSES_SOURCE_LOGITECH_RAW;
  vr_object_set(ctx, VR_GLASSES_SOURCE, source, VR_MOUSE_SOURCE, source, VR_STEREO, 1,
                VR_MOUSE_TO_WORLD_WANTED, 1, 0);
  vrsession::Session session(ctx, opt.seed);
  Truth truth{&session};
  vrsim_set_pose_fn(sim.get(), VRSIM_HEAD, head_truth, &truth);
  vrsim_set_pose_fn(sim.get(), VRSIM_MOUSE, mouse_truth, &truth);
  const PoseFnReset forget_script{sim.get()};
  if (!vr_init_glasses_and_mouse_6d(ctx, 1, 1)) return samples;
  truth.start_s = vrsim_now(sim.get());
  truth.started = true;
  dmat *head_to_dig = nullptr, *mouse_to_dig = nullptr;
  vr_object_get(ctx, VR_HEAD_TO_DIG, &head_to_dig);
  vr_object_get(ctx, VR_MOUSE_TO_DIG, &mouse_to_dig);
  const double frame_s = 1.0 / opt.frame_rate_hz;
  for (int i = 0; i < opt.frames; ++i) {
    vrsim_advance(sim.get(), frame_s);
    FrameSample s;
    s.t = vrsim_now(sim.get()) - truth.start_s;
    s.t_shown = s.t + frame_s;
    vr_comp_view(ctx);
    s.head_tracked = !is_zero(*head_to_dig);
    s.mouse_tracked = !is_zero(*mouse_to_dig);
    vr_object_get(ctx, VR_LEFT_EYE, s.tracked_left);
    vr_object_get(ctx, VR_RIGHT_EYE, s.tracked_right);
    vr_object_get(ctx, VR_MOUSE_TIP_PLATE, s.tracked_tip);
    session.true_eyes(s.t_shown, s.true_left, s.true_right);
    session.true_mouse_tip(s.t_shown, s.true_tip);
    samples.push_back(s);
  }
  return samples;
}

int run(const DemoOptions &opt) {
  const bool live = isatty(fileno(stderr)) != 0;
  const auto wall_start = std::chrono::steady_clock::now();
  // With --track display, the same session tracked with the library's defaults comes first (as
  // the first tracking of the process, like a run without the option), for the plot's left half.
  const std::string default_mode = opt.six_d ? "6D reports" : "raw times of flight";
  std::vector<FrameSample> baseline;
  if (opt.track_display) {
    baseline = default_tracking_pass(opt);
    const auto e = vrdemo::left_eye_error(baseline);
    std::printf(
        "the same session with the library's defaults: left eye RMS %.3f cm, worst %.3f cm\n",
        e.rms, e.worst);
  }
  const auto out_dir = prepare_output_folder(opt.out_dir);
  if (!out_dir) return 1;
  PictureWriter pictures(*out_dir);

  // The simulator stands in for the serial lines, the capture driver and the devices: the glasses
  // unit with the transmitter on port A, the 3D mouse unit on port B.
  std::unique_ptr<vrsim, SimDeleter> sim(vrsim_create(opt.seed));
  if (!sim) {
    std::fprintf(stderr, "vrdemo: out of memory\n");
    return 1;
  }
  // Installed before the context exists: the context's time zero is read from the simulator's
  // clock.
  vrsim_install(sim.get());
  vrsim_plug_standard(sim.get());
  vrsim_imperfections imp{};
  imp.distance_noise_cm = opt.noise_cm;
  vrsim_set_imperfections(sim.get(), VRSIM_PORT_A, &imp);
  vrsim_set_imperfections(sim.get(), VRSIM_PORT_B, &imp);

  std::unique_ptr<vr_ctx, CtxDeleter> owned_ctx(vr_ctx_create());
  vr_ctx *ctx = owned_ctx.get();
  if (!ctx) {
    std::fprintf(stderr, "vrdemo: out of memory\n");
    return 1;
  }
  const int source =
      opt.six_d ? VR_GLASSES_SOURCE_LOGITECH_6D : VR_GLASSES_SOURCE_LOGITECH_RAW;
  vr_object_set(ctx, VR_GLASSES_SOURCE, source, VR_MOUSE_SOURCE, source, VR_STEREO, 1,
                VR_MOUSE_TO_WORLD_WANTED, 1, 0);
  // The raw distances are used as measured unless asked to fit and extrapolate them.
  if (opt.predict) vr_object_set(ctx, VR_RAW_INTERPOLATE, 1, 0);
  if (opt.track_display) vr_set_int(ctx, VR_TRACK_DISPLAY_TIME, 1);
  if (opt.track_filter) vr_set_int(ctx, VR_TRACK_FILTER, 1);
  if (opt.tracker_delay_ms >= 0.0)
    vr_set_double(ctx, VR_TRACKER_DELAY, opt.tracker_delay_ms / 1000.0);
  std::string mode = opt.six_d     ? "6D reports"
                     : opt.predict ? "raw times of flight, fitted and extrapolated"
                                   : "raw times of flight";
  if (opt.track_display)
    mode += opt.track_filter ? ", display time, pose filter" : ", display time";

  double window_w = 0, window_h = 0;
  vr_object_get(ctx, VR_WINDOW_WIDTH, &window_w);
  vr_object_get(ctx, VR_WINDOW_HEIGHT, &window_h);
  std::string gl_error;
  auto gl = vrdemo::GlContext::create(static_cast<int>(window_w), static_cast<int>(window_h),
                                      picture_samples, &gl_error);
  if (!gl) {
    std::fprintf(stderr, "vrdemo: no OpenGL: %s\n", gl_error.c_str());
    return 1;
  }

  vrsession::Session session(ctx, opt.seed);
  Truth truth{&session};
  vrsim_set_pose_fn(sim.get(), VRSIM_HEAD, head_truth, &truth);
  vrsim_set_pose_fn(sim.get(), VRSIM_MOUSE, mouse_truth, &truth);
  // Shutting the trackers down (vr_quit, when the context goes) still runs the simulator's
  // devices, after the script is gone: they measure the last fixed pose then.
  const PoseFnReset forget_script{sim.get()};

  std::printf("vrdemo: %d frames, tracking from %s, seed %llu\n", opt.frames, mode.c_str(),
              opt.seed);
  std::fflush(stdout);
  if (!vr_init_glasses_and_mouse_6d(ctx, 1, 1)) {
    std::fprintf(stderr, "vrdemo: the trackers did not start%s%s\n", vr_lt_message[0] ? ": " : "",
                 vr_lt_message);
    return 1;
  }
  // Bringing the units up takes a few seconds of (virtual) resets and pauses; the viewer holds
  // still until then.
  truth.start_s = vrsim_now(sim.get());
  truth.started = true;

  dmat *left_view = nullptr, *right_view = nullptr, *head_to_dig = nullptr, *mouse_to_dig = nullptr;
  vr_object_get(ctx, VR_LEFT_VIEW, &left_view);
  vr_object_get(ctx, VR_RIGHT_VIEW, &right_view);
  vr_object_get(ctx, VR_HEAD_TO_DIG, &head_to_dig);
  vr_object_get(ctx, VR_MOUSE_TO_DIG, &mouse_to_dig);

  std::vector<int> stereo_frames;
  for (double f : stereo_frame_fractions) stereo_frames.push_back(static_cast<int>(f * opt.frames));
  const std::vector<int> sheet_frames = spread_frames(opt.frames, sheet_tiles);
  std::vector<FrameSample> samples;
  samples.reserve(opt.frames);
  std::vector<vrdemo::SheetTile> tiles;
  const double frame_s = 1.0 / opt.frame_rate_hz;
  if (!live) std::printf("running %d frames\n", opt.frames);
  Progress progress(opt.frames, live);

  for (int i = 0; i < opt.frames; ++i) {
    vrsim_advance(sim.get(), frame_s);
    FrameSample s;
    s.t = vrsim_now(sim.get()) - truth.start_s;
    s.t_shown = s.t + frame_s;

    const auto t0 = std::chrono::steady_clock::now();
    vr_comp_view(ctx);
    const auto t1 = std::chrono::steady_clock::now();
    s.comp_view_us = std::chrono::duration<double, std::micro>(t1 - t0).count();

    s.head_tracked = !is_zero(*head_to_dig);
    s.mouse_tracked = !is_zero(*mouse_to_dig);
    vr_object_get(ctx, VR_LEFT_EYE, s.tracked_left);
    vr_object_get(ctx, VR_RIGHT_EYE, s.tracked_right);
    vr_object_get(ctx, VR_MOUSE_TIP_PLATE, s.tracked_tip);
    session.true_eyes(s.t_shown, s.true_left, s.true_right);
    session.true_mouse_tip(s.t_shown, s.true_tip);
    samples.push_back(s);

    // Both eyes are drawn every frame, as an application would; a few are kept as pictures.
    const vrdemo::SceneFrame frame = vrdemo::scene_frame_from_context(ctx);
    const bool keep_stereo = contains(stereo_frames, i), keep_tile = contains(sheet_frames, i);
    const Image left = draw_eye(*gl, frame, *left_view, keep_stereo || keep_tile);
    const Image right = draw_eye(*gl, frame, *right_view, keep_stereo);

    if (keep_stereo) {
      char name[32];
      std::snprintf(name, sizeof name, "frame_%04d", i);
      const std::string base = name;
      if (!pictures.save(base + "_left.png", left) || !pictures.save(base + "_right.png", right) ||
          !pictures.save(base + "_anaglyph.png", vrdemo::make_anaglyph(left, right)))
        return 1;
    }
    if (keep_tile) {
      const dpt &l = s.tracked_left, &r = s.tracked_right;
      tiles.push_back({vrdemo::downscale(left, 2),
                       format("t %.2f s  ", s.t, 0, 0) + session.activity(s.t) +
                           format("  eyes at (%.1f, %.1f, %.1f) cm", (l[0] + r[0]) / 2,
                                  (l[1] + r[1]) / 2, (l[2] + r[2]) / 2)});
    }
    progress.update(i + 1);
  }
  progress.finish();

  const std::string sheet_title = "Left-eye views from " + std::to_string(tiles.size()) +
                                  " head positions (tracked, " + mode + ")";
  Image plot = vrdemo::make_tracking_plot(samples, mode);
  if (opt.track_display)
    plot = vrdemo::side_by_side(vrdemo::make_tracking_plot(baseline, default_mode), plot);
  if (!pictures.save("contact_sheet.png",
                     vrdemo::make_contact_sheet(sheet_title, tiles, sheet_columns)) ||
      !pictures.save("eye_tracking.png", plot))
    return 1;

  const double wall_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  print_summary(opt, samples, *gl, wall_s, pictures);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  DemoOptions opt;
  std::string error;
  if (!vrdemo::parse_options(argc, argv, &opt, &error)) {
    std::fprintf(stderr, "vrdemo: %s\nTry '%s --help'.\n", error.c_str(), argv[0]);
    return 2;
  }
  if (opt.help) {
    std::printf("%s", vrdemo::usage_text(argv[0]).c_str());
    return 0;
  }
  if (opt.wall_screen >= 0) return vrdemo::run_wall_screen(opt);
  if (opt.wall) return vrdemo::run_wall(opt, "/proc/self/exe");
  if (opt.live) {
#ifdef VRDEMO_LIVE
    return vrdemo::run_live(opt);
#else
    std::fprintf(stderr, "vrdemo: built without GLFW: no live window\n");
    return 1;
#endif
  }
  return run(opt);
}

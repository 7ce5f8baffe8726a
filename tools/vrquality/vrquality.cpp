// vrquality: how well the library knows where the eyes are when each frame is shown.
//
// Every scenario is a seeded scripted session on the simulator: the head and the 3D mouse follow
// a script, the devices measure them and send every byte at the line's rate, and the library
// tracks them as an application's frame loop (60 frames a second) drives it. The eye positions
// the library hands out for a frame are compared with the true eyes one frame interval later,
// when that frame is on the screen.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <vrlib/vr.h>
#include <vrsim/vrsim.h>

#include "quality.h"
#include "scenarios.h"

namespace {

using vrquality::RunResult;
using vrquality::Scenario;

constexpr double frame_rate_hz = 60.0;
constexpr double raw_unit_delay_s = 0.005;  // the simulated unit's measurement-to-send time
constexpr double jitter_settle_s = 1.0;     // still head: jitter measured after this

enum class Source { raw, six_d };
enum class Mode { defaults, interpolate, display, filter };

struct Config {
  Source source;
  Mode mode;
  double six_d_delay_s;  // the 6D unit's processing delay in the simulator
  std::string name;
};

struct Truth {
  const vrquality::Script *script = nullptr;
  double start_s = 0;
  bool started = false;
  double at(double t) const { return started ? t - start_s : 0.0; }
};

void head_truth(void *user, double t, dmat out) {
  const auto *truth = static_cast<const Truth *>(user);
  truth->script->head_to_dig(truth->at(t), out);
}
void mouse_truth(void *user, double t, dmat out) {
  const auto *truth = static_cast<const Truth *>(user);
  truth->script->mouse_to_dig(truth->at(t), out);
}

double distance(const dpt a, const dpt b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

bool is_zero(const dmat m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (m[r][c] != 0.0) return false;
  return true;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  return v[i];
}

double rms(const std::vector<double> &v) {
  double s = 0;
  for (double x : v) s += x * x;
  return v.empty() ? 0.0 : std::sqrt(s / static_cast<double>(v.size()));
}

struct Tuning {
  double noise_cm = 0.02;                 // the demo's distance noise
  double smoothing_s = -1, trend_s = -1;  // < 0: the library's defaults
  int fit_slots = 0;                      // 0: the library's default
  bool trace = false;                     // every frame's left-eye error on stderr
  // The pose filter's noise settings; <= 0: the library's defaults.
  double filter_accel = 0, filter_turn = 0, filter_sigma = 0;
};

RunResult run(const Scenario &scenario, const Config &config, double seconds,
              unsigned long long seed, const Tuning &tuning) {
  RunResult result;
  result.scenario = scenario.name;
  result.config = config.name;

  vrsim *sim = vrsim_create(seed);
  vrsim_install(sim);
  vrsim_plug_standard(sim);
  vrsim_imperfections imp{};
  imp.distance_noise_cm = tuning.noise_cm;
  imp.outlier_rate = scenario.outlier_rate;
  imp.outlier_cm = scenario.outlier_cm;
  for (int port : {VRSIM_PORT_A, VRSIM_PORT_B}) {
    vrsim_set_imperfections(sim, port, &imp);
    vrsim_set_6d_delay(sim, port, config.six_d_delay_s);
  }

  vr_ctx *ctx = vr_ctx_create();
  const int source = config.source == Source::raw ? VR_GLASSES_SOURCE_LOGITECH_RAW
                                                   : VR_GLASSES_SOURCE_LOGITECH_6D;
  vr_object_set(ctx, VR_GLASSES_SOURCE, source, VR_MOUSE_SOURCE, source, VR_STEREO, 1,
                VR_MOUSE_TO_WORLD_WANTED, 1, 0);
  if (config.mode == Mode::interpolate) vr_object_set(ctx, VR_RAW_INTERPOLATE, 1, 0);
  if (config.mode == Mode::display || config.mode == Mode::filter) {
    vr_set_int(ctx, config.mode == Mode::filter ? int{VR_TRACK_FILTER} : int{VR_TRACK_DISPLAY_TIME},
               1);
    // The application tells the library its unit's delay, as it would after measuring it.
    vr_set_double(ctx, VR_TRACKER_DELAY,
                  config.source == Source::raw ? raw_unit_delay_s : config.six_d_delay_s);
    if (tuning.smoothing_s >= 0) vr_set_double(ctx, VR_PREDICT_SMOOTHING, tuning.smoothing_s);
    if (tuning.trend_s >= 0) vr_set_double(ctx, VR_PREDICT_TREND, tuning.trend_s);
    if (tuning.fit_slots > 0) vr_set_int(ctx, VR_RAW_FIT_SLOTS, tuning.fit_slots);
    if (tuning.filter_accel > 0) vr_set_double(ctx, VR_FILTER_ACCEL_NOISE, tuning.filter_accel);
    if (tuning.filter_turn > 0) vr_set_double(ctx, VR_FILTER_TURN_NOISE, tuning.filter_turn);
    if (tuning.filter_sigma > 0) vr_set_double(ctx, VR_FILTER_DISTANCE_SIGMA, tuning.filter_sigma);
  }

  vrquality::Script script(ctx, scenario, seed);
  Truth truth{&script};
  vrsim_set_pose_fn(sim, VRSIM_HEAD, head_truth, &truth);
  vrsim_set_pose_fn(sim, VRSIM_MOUSE, mouse_truth, &truth);
  if (!vr_init_glasses_and_mouse_6d(ctx, 1, 1)) {
    std::fprintf(stderr, "vrquality: the trackers did not start (%s, %s)\n", scenario.name.c_str(),
                 config.name.c_str());
    std::exit(1);
  }
  truth.start_s = vrsim_now(sim);
  truth.started = true;

  dmat *head_to_dig = nullptr, *mouse_to_dig = nullptr;
  vr_object_get(ctx, VR_HEAD_TO_DIG, &head_to_dig);
  vr_object_get(ctx, VR_MOUSE_TO_DIG, &mouse_to_dig);
  const double frame_s = 1.0 / frame_rate_hz;
  const int frames = static_cast<int>(std::lround(seconds * frame_rate_hz));
  std::vector<double> errors, tips;
  std::vector<std::array<double, 3>> still_eyes;
  bool silent = false;
  for (int i = 0; i < frames; ++i) {
    vrsim_advance(sim, frame_s);
    const double t = vrsim_now(sim) - truth.start_s;
    if (silent_at(scenario, t) != silent) {
      silent = !silent;
      imp.stopped = silent ? 1 : 0;
      vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
      vrsim_set_imperfections(sim, VRSIM_PORT_B, &imp);
    }
    vr_comp_view(ctx);
    if (is_zero(*head_to_dig)) continue;
    dpt left, right, true_left, true_right;
    vr_object_get(ctx, VR_LEFT_EYE, left);
    vr_object_get(ctx, VR_RIGHT_EYE, right);
    script.true_eyes(t + frame_s, true_left, true_right);
    if (tuning.trace)
      std::fprintf(stderr, "frame %s|%s %.3f %.4f %.4f %.4f %.4f\n", scenario.name.c_str(),
                   config.name.c_str(), t, distance(left, true_left), left[0] - true_left[0],
                   left[1] - true_left[1], left[2] - true_left[2]);
    errors.push_back(distance(left, true_left));
    errors.push_back(distance(right, true_right));
    ++result.frames;
    if (scenario.motion == vrquality::Motion::still && t >= jitter_settle_s)
      still_eyes.push_back({left[0], left[1], left[2]});
    if (!is_zero(*mouse_to_dig)) {
      dpt tip, true_tip;
      vr_object_get(ctx, VR_MOUSE_TIP_PLATE, tip);
      script.true_mouse_tip(t + frame_s, true_tip);
      tips.push_back(distance(tip, true_tip));
    }
  }
  result.rms = rms(errors);
  result.p95 = percentile(errors, 0.95);
  result.worst = errors.empty() ? 0.0 : *std::max_element(errors.begin(), errors.end());
  if (!tips.empty()) result.tip_rms = rms(tips);
  if (!still_eyes.empty()) {
    double mean[3] = {0, 0, 0};
    for (const auto &e : still_eyes)
      for (int c = 0; c < 3; ++c) mean[c] += e[c] / static_cast<double>(still_eyes.size());
    double s = 0;
    for (const auto &e : still_eyes)
      for (int c = 0; c < 3; ++c) s += (e[c] - mean[c]) * (e[c] - mean[c]);
    result.jitter = std::sqrt(s / static_cast<double>(still_eyes.size()));
  }
  vr_get_int(ctx, VR_HELD_JUMPS, &result.held);
  vr_get_int(ctx, VR_REJECTED_VALUES, &result.rejected);

  // The trackers shut down on the simulator, which then measures its last fixed poses.
  vrsim_set_pose_fn(sim, VRSIM_HEAD, nullptr, nullptr);
  vrsim_set_pose_fn(sim, VRSIM_MOUSE, nullptr, nullptr);
  vr_quit(ctx);
  std::free(ctx);
  vrsim_destroy(sim);
  return result;
}

std::string figure(double v) {
  if (v < 0) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, v >= 100 ? "%.1f" : "%.3f", v);
  return buf;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{
      "Tracking-quality benchmark: scripted sessions on the tracker simulator, tracked under the\n"
      "library's defaults, VR_RAW_INTERPOLATE 1, display-time tracking and the pose filter; eye\n"
      "errors at the moment each frame is shown."};
  unsigned long long seed = 1;
  double seconds = 10.0;
  std::string plot_path = "vrquality.png";
  std::string only;
  app.add_option("-s,--seed", seed, "seed of the noise, outliers and motion variations")
      ->capture_default_str();
  app.add_option("--seconds", seconds, "length of each session (s)")
      ->check(CLI::Range(1.0, 600.0))
      ->capture_default_str();
  app.add_option("-o,--plot", plot_path, "PNG file for the plot")->capture_default_str();
  app.add_option("--only", only, "run only the scenarios whose name contains this");
  Tuning tuning;
  app.add_option("--noise", tuning.noise_cm, "distance noise of the simulated devices (cm)")
      ->check(CLI::Range(0.0, 5.0))
      ->capture_default_str();
  app.add_option("--smoothing", tuning.smoothing_s,
                 "display-time mode: VR_PREDICT_SMOOTHING (s); default: the library's");
  app.add_option("--trend", tuning.trend_s,
                 "display-time mode: VR_PREDICT_TREND (s); default: the library's");
  app.add_flag("--trace", tuning.trace,
               "print every frame's left-eye error and its x, y, z on the standard error stream");
  app.add_option("--fit-slots", tuning.fit_slots,
                 "display-time mode: VR_RAW_FIT_SLOTS; default: the library's");
  app.add_option("--filter-accel", tuning.filter_accel,
                 "pose filter: VR_FILTER_ACCEL_NOISE (cm^2/s^3); default: the library's");
  app.add_option("--filter-turn", tuning.filter_turn,
                 "pose filter: VR_FILTER_TURN_NOISE (rad^2/s^3); default: the library's");
  app.add_option("--filter-sigma", tuning.filter_sigma,
                 "pose filter: VR_FILTER_DISTANCE_SIGMA (cm); default: the library's");
  CLI11_PARSE(app, argc, argv);

  const std::vector<Scenario> scenarios = {
      {"still", vrquality::Motion::still},
      {"sway 10 cm/s", vrquality::Motion::sway},
      {"turns 120 deg/s", vrquality::Motion::turns},
      {"leaning in", vrquality::Motion::lean},
      {"outliers 0.5% 4 cm", vrquality::Motion::sway, 0.005, 4.0},
      {"dropouts 0.5 s", vrquality::Motion::sway, 0.0, 0.0, true},
      {"demo session", vrquality::Motion::demo},
  };
  const std::vector<Config> configs = {
      {Source::raw, Mode::defaults, 0.005, "raw defaults"},
      {Source::raw, Mode::interpolate, 0.005, "raw interpolate"},
      {Source::raw, Mode::display, 0.005, "raw display-time"},
      {Source::raw, Mode::filter, 0.005, "raw filter"},
      {Source::six_d, Mode::defaults, 0.0, "6D 0ms defaults"},
      {Source::six_d, Mode::display, 0.0, "6D 0ms display-time"},
      {Source::six_d, Mode::defaults, 0.030, "6D 30ms defaults"},
      {Source::six_d, Mode::display, 0.030, "6D 30ms display-time"},
      {Source::six_d, Mode::defaults, 0.005, "6D 5ms defaults"},
      {Source::six_d, Mode::display, 0.005, "6D 5ms display-time"},
      {Source::six_d, Mode::filter, 0.005, "6D 5ms filter"},
  };

  std::printf("vrquality: seed %llu, %.0f s per session at %.0f frames/s, distance noise %.2f cm\n",
              seed, seconds, frame_rate_hz, tuning.noise_cm);
  std::printf(
      "eye error = |eye position used for a frame - true eye when the frame is shown|, both "
      "eyes, cm\n\n");
  std::printf("%-20s %-22s %7s %7s %8s %8s %8s %6s %6s\n", "scenario", "configuration", "RMS",
              "p95", "worst", "jitter", "tip RMS", "held", "gated");
  std::vector<RunResult> results;
  std::vector<std::string> scenario_names, config_names;
  for (const Config &c : configs) config_names.push_back(c.name);
  for (const Scenario &s : scenarios) {
    if (!only.empty() && s.name.find(only) == std::string::npos) continue;
    scenario_names.push_back(s.name);
    for (const Config &c : configs) {
      const RunResult r = run(s, c, seconds, seed, tuning);
      std::printf("%-20s %-22s %7s %7s %8s %8s %8s %6d %6d\n", s.name.c_str(), c.name.c_str(),
                  figure(r.rms).c_str(), figure(r.p95).c_str(), figure(r.worst).c_str(),
                  figure(r.jitter).c_str(), figure(r.tip_rms).c_str(), r.held, r.rejected);
      std::fflush(stdout);
      results.push_back(r);
    }
  }
  std::string error;
  if (!vrquality::write_plot(plot_path, scenario_names, config_names, results, &error)) {
    std::fprintf(stderr, "vrquality: %s\n", error.c_str());
    return 1;
  }
  std::printf("\nplot: %s\n", plot_path.c_str());
  return 0;
}

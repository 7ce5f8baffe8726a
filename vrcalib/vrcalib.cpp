// vrcalib: measures where the tracker sits relative to the screen and keeps the result in a
// set-up file that every vrlib application reads through VRLIB_CONFIG.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "run.h"

int main(int argc, char **argv) {
  vrcalib::Options o;
  CLI::App app{
      "vrcalib: calibrate the tracker's placement relative to the screen and write it to a "
      "vrlib set-up file"};
  app.add_option("config", o.config_path,
                 "set-up file: read first when it exists, then written with the result")
      ->required();
  std::string source = "mouse";
  app.add_option("--source", source,
                 "mouse: touch screen targets with the ultrasonic 3D mouse; dynasight: hold the "
                 "head at named positions; opentrack: the same with a webcam face tracker "
                 "(fits the camera's offset and tilt; its datagrams are awaited on the set-up's "
                 "network.listen, or VRLIB_OPENTRACK=host:port when set)")
      ->check(CLI::IsMember({"mouse", "dynasight", "opentrack"}));
  auto &s = o.settings;
  app.add_option("--margin", s.margin_cm, "screen targets in from the edges, cm")
      ->check(CLI::Range(0.0, 20.0));
  app.add_option("--distance", s.head_distance_cm, "eyes-to-glass distance of the centre pose, cm")
      ->check(CLI::Range(20.0, 200.0));
  app.add_option("--step", s.head_step_cm, "head moves left, right and up, cm")
      ->check(CLI::Range(5.0, 50.0));
  app.add_option("--settle", s.settle_s, "time to reach each head position, s")
      ->check(CLI::Range(0.5, 30.0));
  app.add_option("--touch-motion", s.touch_motion_cm,
                 "largest tip motion while the button is down, cm")
      ->check(CLI::Range(0.01, 5.0));
  app.add_flag("--window", o.window, "show the targets in a full-screen window on the screen");
  app.add_flag("--simulate", o.simulate, "run on the simulator with a simulated user");
  std::vector<double> offset, axis;
  app.add_option("--true-offset", offset, "simulation: tracker moved by x y z on the plate, cm")
      ->expected(3);
  app.add_option("--true-turn", o.true_turn_deg, "simulation: tracker turned by this, degrees");
  app.add_option(
         "--true-axis", axis,
         "simulation: axis of the turn (tracker frame; default 0 1 0, for the webcam 1 0 0)")
      ->expected(3);
  app.add_option("--noise", o.noise_cm, "simulation: tracker noise, cm")
      ->check(CLI::Range(0.0, 5.0));
  app.add_option("--wobble", o.wobble_touch,
                 "simulation: the n-th touch drifts while the button is down");
  app.add_option("--seed", o.seed, "simulation: random seed");
  CLI11_PARSE(app, argc, argv);

  o.procedure = source == "dynasight"   ? vrcalib::Procedure::dynasight
                : source == "opentrack" ? vrcalib::Procedure::opentrack
                                        : vrcalib::Procedure::mouse;
  // A webcam's set-up keeps a tilt about x only: the simulated camera turns about x unless told.
  if (o.procedure == vrcalib::Procedure::opentrack) o.true_axis = {1.0, 0.0, 0.0};
  if (offset.size() == 3) o.true_offset_cm = {offset[0], offset[1], offset[2]};
  if (axis.size() == 3) o.true_axis = {axis[0], axis[1], axis[2]};
  return vrcalib::run(o, stdout, stderr);
}

// The viewing context: its attribute interface and the default settings. Eye placement and the
// coexistence centre are frames (frames/); a context's creation and end are in
// api/vr_lifecycle.cpp.
#include <array>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "vr.h"
#include "vr_attr.h"
#include "vr_ext.h"
#include "vr_mat_internal.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The attribute table: one row per identifier, saying what the value is, where it lives in the
// context, who may touch it, and what setting it sets off.
// ---------------------------------------------------------------------------------------------

enum class Kind : unsigned char {
  none,            // no attribute: 0 and 128
  real,            // a double in the context
  integer,         // an int in the context
  point,           // a dpt, copied both ways
  matrix,          // a dmat: get hands out the address of the context's storage
  block,           // another block: get hands out the address of the context's storage
  callback,        // a vr_fn slot
  geom_override,   // a receiver/transmitter override: set also raises the entry's flag
  interocular,     // derived: the distance between the two eye offsets
  left_offset_x,   // the left eye offset's x, kept on the left of the head
  right_offset_x,  // the right eye offset's x, kept on the right of the head
};

enum Access : unsigned char { get_only = 1, set_only = 2, set_get = 3 };

enum class Effect : unsigned char {
  none,
  cache_eyes,
  consistify,
  window,
  world_inverse,        // coexistence_to_world follows a new world_to_coexistence
  coexistence_inverse,  // world_to_coexistence follows a new coexistence_to_world
};

// Values a row refuses besides the non-finite ones, which no row takes.
enum Refuse : unsigned char {
  refuse_none = 0,
  refuse_zero = 1,               // a size of 0 cannot be geometry; negative sizes stay defined
  refuse_negative = 2,           // extension settings that only make sense from 0 up
  refuse_singular = 4,           // frames the library inverts: a matrix without an inverse is refused
  refuse_not_port = 8,           // a UDP port: 1..65535
  refuse_not_position_axis = 16, // an axis mapping entry for a position: +-1..3
  refuse_not_angle_axis = 32,    // an axis mapping entry for an angle: +-4..6
  refuse_non_rigid = 64,         // a frame placement: rotation and translation only
};

struct Attribute {
  Kind kind = Kind::none;
  unsigned char access = 0;
  Effect effect = Effect::none;
  unsigned char refuse = refuse_none;
  std::size_t offset = 0;
  // Extension rows only: a matrix that only the typed setter may write (the fixed interface
  // hands it out by pointer).
  bool typed_settable = false;
  // Extension int rows only: the values the row takes.
  int low = INT_MIN;
  int high = INT_MAX;

  bool settable() const { return kind != Kind::none && (access & set_only); }
  bool gettable() const { return kind != Kind::none && (access & get_only); }
};

// The fixed interface ends at 129; the extension blocks follow up to 269.
constexpr int last_fixed_id = VR_EYE_HOOK_REMOVE_FN;
constexpr int last_attribute_id = 269;
constexpr std::size_t dpt_x = 0, dpt_z = 2;

constexpr Attribute row(Kind kind, std::size_t offset, Access access = set_get,
                        Effect effect = Effect::none, unsigned char refuse = refuse_none) {
  return Attribute{kind, access, effect, refuse, offset, false};
}

// An int row that takes only low..high.
constexpr Attribute ranged(Attribute a, int low, int high) {
  a.low = low;
  a.high = high;
  return a;
}

// Offset of one coordinate of a dpt field.
constexpr std::size_t coordinate(std::size_t point_offset, std::size_t axis) {
  return point_offset + axis * sizeof(double);
}

#define VR_AT(field) offsetof(vr_ctx, field)

constexpr std::array<Attribute, last_attribute_id + 1> make_attribute_table() {
  using enum Kind;
  constexpr Effect cache = Effect::cache_eyes;
  constexpr Effect consistify = Effect::consistify;
  constexpr Effect none_e = Effect::none;
  std::array<Attribute, last_attribute_id + 1> t{};

  t[VR_SCREEN_WIDTH_PIXELS] = row(real, VR_AT(screen_width_pixels), set_get, none_e, refuse_zero);
  t[VR_SCREEN_HEIGHT_PIXELS] = row(real, VR_AT(screen_height_pixels), set_get, none_e, refuse_zero);
  t[VR_SCREEN_WIDTH_CM] = row(real, VR_AT(screen_width_cm), set_get, none_e, refuse_zero);
  t[VR_SCREEN_HEIGHT_CM] = row(real, VR_AT(screen_height_cm), set_get, none_e, refuse_zero);
  t[VR_GAZE_MODE] = row(integer, VR_AT(gaze_mode));
  t[VR_CRT_CORRECTION] = row(integer, VR_AT(crt_correction));
  t[VR_CRT_CURVATURE] = row(integer, VR_AT(crt_curvature));
  t[VR_CRT_GLASS_THICKNESS] = row(real, VR_AT(crt_glass_thickness));
  t[VR_CRT_REFRACTION_INDEX] = row(real, VR_AT(crt_refraction_index));
  t[VR_CRT_RADIUS] = row(real, VR_AT(crt_radius));
  t[VR_WINDOW_WIDTH] = row(real, VR_AT(window_width_pixels), set_get, none_e, refuse_zero);
  t[VR_WINDOW_HEIGHT] = row(real, VR_AT(window_height_pixels), set_get, none_e, refuse_zero);
  t[VR_WINDOW_X] = row(real, VR_AT(window_x_pixels));
  t[VR_WINDOW_Y] = row(real, VR_AT(window_y_pixels));
  t[VR_WINDOW_CENTER] = row(point, VR_AT(window_center), get_only);
  t[VR_STEREO] = row(integer, VR_AT(stereo), set_get, cache);
  t[VR_HEAD_RELATIVE_VIEWS] = row(integer, VR_AT(head_relative_views));
  t[VR_PREDICT_RAMP_START] = row(real, VR_AT(predict_ramp_start));
  t[VR_PREDICT_RAMP_END] = row(real, VR_AT(predict_ramp_end));

  t[VR_HEAD_TO_DIG] = row(matrix, VR_AT(head_to_dig), get_only);
  t[VR_DIG_TO_PLATE] = row(matrix, VR_AT(dig_to_plate), get_only);
  t[VR_PLATE_TO_GODS_EYE] = row(matrix, VR_AT(plate_to_gods_eye), get_only);
  t[VR_PLATE_TO_COEXISTENCE] = row(matrix, VR_AT(plate_to_coexistence), get_only);
  t[VR_COEXISTENCE_TO_PLATE] = row(matrix, VR_AT(coexistence_to_plate), get_only);
  t[VR_WORLD_TO_COEXISTENCE] = row(matrix, VR_AT(world_to_coexistence), get_only);
  t[VR_COEXISTENCE_TO_WORLD] = row(matrix, VR_AT(coexistence_to_world), get_only);
  t[VR_HEAD_VIEW_BASE] = row(matrix, VR_AT(head_view_base), get_only);
  t[VR_CORNER_DIR_MATRIX] = row(matrix, VR_AT(corner_dir_matrix), get_only);
  t[VR_GODS_EYE_TO_DIG] = row(matrix, VR_AT(gods_eye_to_dig), get_only);
  t[VR_COEXISTENCE_TO_DIG] = row(matrix, VR_AT(coexistence_to_dig), get_only);
  t[VR_MOUSE_TO_DIG] = row(matrix, VR_AT(mouse_to_dig), get_only);

  t[VR_COEXISTENCE_CENTER] = row(integer, VR_AT(coexistence_center), set_get, consistify);
  t[VR_COEXISTENCE_BASE] = row(integer, VR_AT(coexistence_base), set_get, consistify);
  t[VR_HEAD_TO_WORLD_WANTED] = row(integer, VR_AT(head_to_world_wanted));
  t[VR_HEAD_TO_WORLD] = row(matrix, VR_AT(head_to_world), get_only);
  t[VR_MOUSE_TO_WORLD_WANTED] = row(integer, VR_AT(mouse_to_world_wanted));
  t[VR_MOUSE_TO_WORLD] = row(matrix, VR_AT(mouse_to_world), get_only);
  t[VR_TRACKING_MODE] = row(integer, VR_AT(tracking_mode));
  t[VR_TRACKING_AUX] = row(integer, VR_AT(tracking_aux));
  t[VR_GLASSES_SOURCE] = row(integer, VR_AT(glasses_source));
  t[VR_MOUSE_SOURCE] = row(integer, VR_AT(mouse_source));
  t[VR_EVENT_FILTER_LENGTH] = row(integer, VR_AT(event_filter_length));
  t[VR_STREAMING] = row(integer, VR_AT(streaming));
  t[VR_RAW_INTERPOLATE] = row(integer, VR_AT(raw_interpolate));
  t[VR_PREDICT_FROM_FRAME_TIME] = row(integer, VR_AT(predict_from_frame_time));
  t[VR_PREDICT_LEAD] = row(real, VR_AT(predict_lead));
  t[VR_PREDICT_LEAD_LIMIT] = row(real, VR_AT(predict_lead_limit));
  t[VR_RAW_LIMIT] = row(real, VR_AT(raw_limit));

  for (std::size_t k = 0; k < 4; ++k) {
    const std::size_t entry = k * sizeof(vr_geom_override);
    t[VR_GLASSES_RX_GEOM_0 + k] = row(geom_override, VR_AT(glasses_rx_geom) + entry);
    t[VR_MOUSE_RX_GEOM_0 + k] = row(geom_override, VR_AT(mouse_rx_geom) + entry);
    t[VR_TX_GEOM_0 + k] = row(geom_override, VR_AT(tx_geom) + entry);
  }

  t[VR_COEXISTENCE_HEIGHT] = row(real, VR_AT(coexistence_height), set_get, consistify);
  t[VR_COEXISTENCE_DISTANCE] = row(real, VR_AT(coexistence_distance), set_get, consistify);
  t[VR_LEFT_EYE_OFFSET] = row(point, VR_AT(left_eye_offset), set_get, cache);
  t[VR_RIGHT_EYE_OFFSET] = row(point, VR_AT(right_eye_offset), set_get, cache);
  t[VR_INTEROCULAR] = row(interocular, 0, set_get, cache);
  t[VR_LEFT_EYE_OFFSET_X] =
      row(left_offset_x, coordinate(VR_AT(left_eye_offset), dpt_x), set_get, cache);
  t[VR_RIGHT_EYE_OFFSET_X] =
      row(right_offset_x, coordinate(VR_AT(right_eye_offset), dpt_x), set_get, cache);
  t[VR_SCREEN_LEFT_EYE] = row(point, VR_AT(screen_left_eye), set_get, cache);
  t[VR_SCREEN_RIGHT_EYE] = row(point, VR_AT(screen_right_eye), set_get, cache);
  for (std::size_t axis = dpt_x; axis <= dpt_z; ++axis) {
    t[VR_SCREEN_LEFT_EYE_X + axis] =
        row(real, coordinate(VR_AT(screen_left_eye), axis), set_get, cache);
    t[VR_SCREEN_RIGHT_EYE_X + axis] =
        row(real, coordinate(VR_AT(screen_right_eye), axis), set_get, cache);
    t[VR_MOUSE_TIP_OFFSET_X + axis] = row(real, coordinate(VR_AT(mouse_tip_offset), axis));
  }
  t[VR_LEFT_EYE] = row(point, VR_AT(left_eye), get_only);
  t[VR_RIGHT_EYE] = row(point, VR_AT(right_eye), get_only);

  t[VR_QUANTIZE_STEPS] = row(integer, VR_AT(quantize_steps));
  t[VR_QUANTIZE_STEP] = row(real, VR_AT(quantize_step));
  t[VR_QUANTIZE_LEFT_INDEX] = row(integer, VR_AT(quantize_left_index));
  t[VR_QUANTIZE_RIGHT_INDEX] = row(integer, VR_AT(quantize_right_index));
  t[VR_QUANTIZE_DISTANCE] = row(real, VR_AT(quantize_distance));
  t[VR_QUANTIZE_SPACE] = row(integer, VR_AT(quantize_space));
  t[VR_QUANTIZE_FORCE] = row(integer, VR_AT(quantize_force));
  t[VR_MONO_EYE] = row(integer, VR_AT(mono_eye), set_get, cache);
  t[VR_MOUSE_TIP_OFFSET] = row(point, VR_AT(mouse_tip_offset));

  t[VR_GODS_EYE_Z_FACTOR] = row(real, VR_AT(gods_eye_z_factor));
  t[VR_GODS_EYE_SCALE] = row(real, VR_AT(gods_eye_scale));
  t[VR_GODS_EYE_SIZE_MODE] = row(integer, VR_AT(gods_eye_size_mode));
  t[VR_GODS_EYE_CENTER_MODE] = row(integer, VR_AT(gods_eye_center_mode));
  t[VR_EYE_POS_MODE] = row(integer, VR_AT(eye_pos_mode), set_get, cache);
  t[VR_FIELD_OF_VIEW] = row(real, VR_AT(field_of_view));

  t[VR_HITHER_RELATIVE] = row(integer, VR_AT(hither_relative));
  t[VR_HITHER_SCALE_MODE] = row(integer, VR_AT(hither_scale_mode));
  t[VR_HITHER] = row(real, VR_AT(hither));
  t[VR_YON_RELATIVE] = row(integer, VR_AT(yon_relative));
  t[VR_YON_SCALE_MODE] = row(integer, VR_AT(yon_scale_mode));
  t[VR_YON] = row(real, VR_AT(yon));
  t[VR_DEPTH_FRONT_RELATIVE] = row(integer, VR_AT(depth_front_relative));
  t[VR_DEPTH_FRONT_SCALE_MODE] = row(integer, VR_AT(depth_front_scale_mode));
  t[VR_DEPTH_FRONT] = row(real, VR_AT(depth_front));
  t[VR_DEPTH_FRONT_NDC] = row(real, VR_AT(depth_front_ndc));
  t[VR_DEPTH_BACK_RELATIVE] = row(integer, VR_AT(depth_back_relative));
  t[VR_DEPTH_BACK_SCALE_MODE] = row(integer, VR_AT(depth_back_scale_mode));
  t[VR_DEPTH_BACK] = row(real, VR_AT(depth_back));
  t[VR_DEPTH_BACK_NDC] = row(real, VR_AT(depth_back_ndc));

  t[VR_LEFT_VIEW] = row(matrix, VR_AT(left_view), get_only);
  t[VR_RIGHT_VIEW] = row(matrix, VR_AT(right_view), get_only);
  t[VR_LEFT_HEAD_VIEW] = row(matrix, VR_AT(left_head_view), get_only);
  t[VR_RIGHT_HEAD_VIEW] = row(matrix, VR_AT(right_head_view), get_only);
  t[VR_WINDOW_CORNER_DIRS] = row(block, VR_AT(window_corner_dirs), get_only);
  t[VR_WORLD_UP] = row(point, VR_AT(world_up));
  t[VR_MOUSE_TIP_PLATE] = row(point, VR_AT(mouse_tip_plate));
  t[VR_MOUSE_TIP_COEXISTENCE] = row(point, VR_AT(mouse_tip_coexistence));
  t[VR_MOUSE_TIP_WORLD] = row(point, VR_AT(mouse_tip_world));
  t[VR_MOUSE_BUTTONS] = row(integer, VR_AT(mouse_buttons));
  t[VR_MOUSE_TO_PLATE] = row(matrix, VR_AT(mouse_to_plate), get_only);
  t[VR_CYBERMAN_STATE] = row(block, VR_AT(cyberman_state), get_only);
  t[VR_PWORLD_TIME] = row(block, VR_AT(pworld_time_now), get_only);

  t[VR_MOUSE_EVENT_FN] = row(callback, VR_AT(mouse_event_fn), set_only);
  t[VR_MOUSE_REMOVE_FN] = row(callback, VR_AT(mouse_remove_fn), set_only);
  t[VR_GLASSES_EVENT_FN] = row(callback, VR_AT(glasses_event_fn), set_only);
  t[VR_GLASSES_REMOVE_FN] = row(callback, VR_AT(glasses_remove_fn), set_only);
  t[VR_EYE_HOOK_FN] = row(callback, VR_AT(eye_hook_fn), set_only);
  t[VR_EYE_HOOK_REMOVE_FN] = row(callback, VR_AT(eye_hook_remove_fn), set_only);

  // Matrices the fixed interface hands out by pointer only, which vr_set_matrix sets by value:
  // calibration, world placement and tracker inputs. The frames the library derives itself
  // (views, plate_to_coexistence, head_to_world, ...) stay read-only: the next frame would
  // overwrite them.
  const auto typed_matrix = [&t](int id, Effect effect, unsigned char refuse) {
    Attribute &a = t[static_cast<std::size_t>(id)];
    a.typed_settable = true;
    a.effect = effect;
    a.refuse = refuse;
  };
  typed_matrix(VR_DIG_TO_PLATE, none_e, refuse_singular);
  typed_matrix(VR_WORLD_TO_COEXISTENCE, Effect::world_inverse, refuse_singular);
  typed_matrix(VR_COEXISTENCE_TO_WORLD, Effect::coexistence_inverse, refuse_singular);
  typed_matrix(VR_HEAD_VIEW_BASE, none_e, refuse_none);
  typed_matrix(VR_CORNER_DIR_MATRIX, none_e, refuse_none);
  typed_matrix(VR_PLATE_TO_GODS_EYE, consistify, refuse_singular);
  typed_matrix(VR_GODS_EYE_TO_DIG, consistify, refuse_singular);
  typed_matrix(VR_HEAD_TO_DIG, none_e, refuse_singular);
  typed_matrix(VR_MOUSE_TO_DIG, none_e, refuse_singular);

  // Extension: view safety and tracking status.
  t[VR_VIEW_FAULTS] = row(integer, VR_EXT_AT(views.view_faults), get_only);
  t[VR_HEAD_TRACK_STATE] = row(integer, VR_EXT_AT(views.track[0].state), get_only);
  t[VR_HEAD_POSE_AGE] = row(real, VR_EXT_AT(views.track[0].age_s), get_only);
  t[VR_MOUSE_TRACK_STATE] = row(integer, VR_EXT_AT(views.track[1].state), get_only);
  t[VR_MOUSE_POSE_AGE] = row(real, VR_EXT_AT(views.track[1].age_s), get_only);

  // Network head trackers and pose output.
  t[VR_NET_BIND_ADDRESS] = row(integer, VR_EXT_AT(net.bind_address));
  t[VR_NET_BIND_PORT] = row(integer, VR_EXT_AT(net.bind_port), set_get, none_e, refuse_not_port);
  t[VR_NET_CAMERA_OFFSET] = row(point, VR_EXT_AT(net.camera_offset));
  t[VR_NET_CAMERA_TILT] = row(real, VR_EXT_AT(net.camera_tilt));
  for (std::size_t axis = 0; axis < 6; ++axis) {
    const unsigned char refuse = axis < 3 ? refuse_not_position_axis : refuse_not_angle_axis;
    t[VR_NET_MAP_X + axis] =
        row(integer, VR_EXT_AT(net.axis_map) + axis * sizeof(int), set_get, none_e, refuse);
  }
  t[VR_NET_SILENCE_TIMEOUT] =
      row(real, VR_EXT_AT(net.silence_timeout_s), set_get, none_e, refuse_zero | refuse_negative);
  t[VR_NET_SENDER_LATENCY] =
      row(real, VR_EXT_AT(net.sender_latency_s), set_get, none_e, refuse_negative);
  t[VR_NET_STATE] = row(integer, VR_EXT_AT(net.state), get_only);
  t[VR_NET_PACKETS] = row(integer, VR_EXT_AT(net.packets), get_only);
  t[VR_NET_DROPS_LENGTH] = row(integer, VR_EXT_AT(net.drops_length), get_only);
  t[VR_NET_DROPS_NOT_FINITE] = row(integer, VR_EXT_AT(net.drops_not_finite), get_only);
  t[VR_NET_DROPS_ABSURD] = row(integer, VR_EXT_AT(net.drops_absurd), get_only);
  t[VR_NET_LAST_ARRIVAL] = row(real, VR_EXT_AT(net.last_arrival_s), get_only);
  t[VR_NET_POSE_AGE] = row(real, VR_EXT_AT(net.pose_age_s), get_only);
  t[VR_NET_RATE] = row(real, VR_EXT_AT(net.rate_hz), get_only);
  t[VR_NET_OUTPUT] = row(integer, VR_EXT_AT(net.output));
  t[VR_NET_OUTPUT_ADDRESS] = row(integer, VR_EXT_AT(net.output_address));
  t[VR_NET_OUTPUT_PORT] =
      row(integer, VR_EXT_AT(net.output_port), set_get, none_e, refuse_not_port);
  t[VR_NET_OUTPUT_SENT] = row(integer, VR_EXT_AT(net.output_sent), get_only);
  t[VR_NET_OUTPUT_ERRORS] = row(integer, VR_EXT_AT(net.output_errors), get_only);

  // Configuration and calibration: a settable door to the tracker placement.
  t[VR_TRACKER_TO_PLATE] = row(matrix, VR_AT(dig_to_plate), set_get, none_e, refuse_non_rigid);

  // Display-time tracking.
  constexpr unsigned char not_negative = refuse_negative;
  constexpr unsigned char positive = refuse_negative | refuse_zero;
  t[VR_TRACK_DISPLAY_TIME] = ranged(row(integer, VR_EXT_AT(display.enabled)), 0, 1);
  t[VR_DISPLAY_LATENCY] = row(real, VR_EXT_AT(display.latency_s), set_get, none_e, not_negative);
  t[VR_TRACKER_DELAY] =
      row(real, VR_EXT_AT(display.tracker_delay_s), set_get, none_e, not_negative);
  t[VR_OUTLIER_GATE] = row(real, VR_EXT_AT(display.gate_sigmas), set_get, none_e, not_negative);
  t[VR_OUTLIER_FLOOR] = row(real, VR_EXT_AT(display.gate_floor_cm), set_get, none_e, not_negative);
  t[VR_HEAD_SPEED_LIMIT] =
      row(real, VR_EXT_AT(display.speed_limit_cm_s), set_get, none_e, positive);
  t[VR_PREDICT_SMOOTHING] = row(real, VR_EXT_AT(display.level_s), set_get, none_e, not_negative);
  t[VR_PREDICT_TREND] = row(real, VR_EXT_AT(display.trend_s), set_get, none_e, not_negative);
  t[VR_RAW_FIT_SLOTS] = ranged(row(integer, VR_EXT_AT(display.fit_slots)), 3, 16);
  t[VR_HELD_JUMPS] = row(integer, VR_EXT_AT(display.held_jumps), set_get, none_e, not_negative);
  t[VR_REJECTED_VALUES] =
      row(integer, VR_EXT_AT(display.rejected_values), set_get, none_e, not_negative);
  t[VR_DISPLAY_TIME] = row(real, VR_EXT_AT(display.display_time_s), get_only);

  // Extension: lab trackers.
  t[VR_VRPN_HEAD_SENSOR] =
      row(integer, VR_EXT_AT(vrpn.head_sensor), set_get, none_e, refuse_negative);
  t[VR_VRPN_MOUSE_SENSOR] =
      row(integer, VR_EXT_AT(vrpn.mouse_sensor), set_get, none_e, refuse_negative);
  t[VR_VRPN_CM_PER_UNIT] =
      row(real, VR_EXT_AT(vrpn.cm_per_unit), set_get, none_e, refuse_zero | refuse_negative);
  t[VR_VRPN_CONNECTED] = row(integer, VR_EXT_AT(vrpn.connected), get_only);
  t[VR_VRPN_HEAD_POSE_TIME] = row(real, VR_EXT_AT(vrpn.head_pose_s), get_only);
  t[VR_VRPN_MOUSE_POSE_TIME] = row(real, VR_EXT_AT(vrpn.mouse_pose_s), get_only);
  t[VR_VRPN_HEAD_STAMP] = row(real, VR_EXT_AT(vrpn.head_stamp_s), get_only);
  t[VR_VRPN_REPORTS] = row(integer, VR_EXT_AT(vrpn.reports), get_only);
  return t;
}

#undef VR_AT

constexpr auto attribute_table = make_attribute_table();

// The names of the identifiers as the header writes them, for messages.
#define VR_NAMED(id) t[id] = #id
constexpr std::array<const char *, last_attribute_id + 1> make_name_table() {
  std::array<const char *, last_attribute_id + 1> t{};
  VR_NAMED(VR_SCREEN_WIDTH_PIXELS);
  VR_NAMED(VR_SCREEN_HEIGHT_PIXELS);
  VR_NAMED(VR_SCREEN_WIDTH_CM);
  VR_NAMED(VR_SCREEN_HEIGHT_CM);
  VR_NAMED(VR_GAZE_MODE);
  VR_NAMED(VR_CRT_CORRECTION);
  VR_NAMED(VR_CRT_CURVATURE);
  VR_NAMED(VR_CRT_GLASS_THICKNESS);
  VR_NAMED(VR_CRT_REFRACTION_INDEX);
  VR_NAMED(VR_CRT_RADIUS);
  VR_NAMED(VR_WINDOW_WIDTH);
  VR_NAMED(VR_WINDOW_HEIGHT);
  VR_NAMED(VR_WINDOW_X);
  VR_NAMED(VR_WINDOW_Y);
  VR_NAMED(VR_WINDOW_CENTER);
  VR_NAMED(VR_STEREO);
  VR_NAMED(VR_HEAD_RELATIVE_VIEWS);
  VR_NAMED(VR_PREDICT_RAMP_START);
  VR_NAMED(VR_PREDICT_RAMP_END);
  VR_NAMED(VR_HEAD_TO_DIG);
  VR_NAMED(VR_DIG_TO_PLATE);
  VR_NAMED(VR_PLATE_TO_GODS_EYE);
  VR_NAMED(VR_PLATE_TO_COEXISTENCE);
  VR_NAMED(VR_COEXISTENCE_TO_PLATE);
  VR_NAMED(VR_WORLD_TO_COEXISTENCE);
  VR_NAMED(VR_COEXISTENCE_TO_WORLD);
  VR_NAMED(VR_HEAD_VIEW_BASE);
  VR_NAMED(VR_CORNER_DIR_MATRIX);
  VR_NAMED(VR_GODS_EYE_TO_DIG);
  VR_NAMED(VR_COEXISTENCE_TO_DIG);
  VR_NAMED(VR_MOUSE_TO_DIG);
  VR_NAMED(VR_COEXISTENCE_CENTER);
  VR_NAMED(VR_COEXISTENCE_BASE);
  VR_NAMED(VR_HEAD_TO_WORLD_WANTED);
  VR_NAMED(VR_HEAD_TO_WORLD);
  VR_NAMED(VR_MOUSE_TO_WORLD_WANTED);
  VR_NAMED(VR_MOUSE_TO_WORLD);
  VR_NAMED(VR_TRACKING_MODE);
  VR_NAMED(VR_TRACKING_AUX);
  VR_NAMED(VR_GLASSES_SOURCE);
  VR_NAMED(VR_MOUSE_SOURCE);
  VR_NAMED(VR_EVENT_FILTER_LENGTH);
  VR_NAMED(VR_STREAMING);
  VR_NAMED(VR_RAW_INTERPOLATE);
  VR_NAMED(VR_PREDICT_FROM_FRAME_TIME);
  VR_NAMED(VR_PREDICT_LEAD);
  VR_NAMED(VR_PREDICT_LEAD_LIMIT);
  VR_NAMED(VR_RAW_LIMIT);
  VR_NAMED(VR_GLASSES_RX_GEOM_0);
  VR_NAMED(VR_GLASSES_RX_GEOM_1);
  VR_NAMED(VR_GLASSES_RX_GEOM_2);
  VR_NAMED(VR_GLASSES_RX_GEOM_3);
  VR_NAMED(VR_MOUSE_RX_GEOM_0);
  VR_NAMED(VR_MOUSE_RX_GEOM_1);
  VR_NAMED(VR_MOUSE_RX_GEOM_2);
  VR_NAMED(VR_MOUSE_RX_GEOM_3);
  VR_NAMED(VR_TX_GEOM_0);
  VR_NAMED(VR_TX_GEOM_1);
  VR_NAMED(VR_TX_GEOM_2);
  VR_NAMED(VR_TX_GEOM_3);
  VR_NAMED(VR_COEXISTENCE_HEIGHT);
  VR_NAMED(VR_COEXISTENCE_DISTANCE);
  VR_NAMED(VR_LEFT_EYE_OFFSET);
  VR_NAMED(VR_RIGHT_EYE_OFFSET);
  VR_NAMED(VR_INTEROCULAR);
  VR_NAMED(VR_LEFT_EYE_OFFSET_X);
  VR_NAMED(VR_RIGHT_EYE_OFFSET_X);
  VR_NAMED(VR_SCREEN_LEFT_EYE);
  VR_NAMED(VR_SCREEN_LEFT_EYE_X);
  VR_NAMED(VR_SCREEN_LEFT_EYE_Y);
  VR_NAMED(VR_SCREEN_LEFT_EYE_Z);
  VR_NAMED(VR_SCREEN_RIGHT_EYE);
  VR_NAMED(VR_SCREEN_RIGHT_EYE_X);
  VR_NAMED(VR_SCREEN_RIGHT_EYE_Y);
  VR_NAMED(VR_SCREEN_RIGHT_EYE_Z);
  VR_NAMED(VR_LEFT_EYE);
  VR_NAMED(VR_RIGHT_EYE);
  VR_NAMED(VR_QUANTIZE_STEPS);
  VR_NAMED(VR_QUANTIZE_STEP);
  VR_NAMED(VR_QUANTIZE_LEFT_INDEX);
  VR_NAMED(VR_QUANTIZE_RIGHT_INDEX);
  VR_NAMED(VR_QUANTIZE_DISTANCE);
  VR_NAMED(VR_QUANTIZE_SPACE);
  VR_NAMED(VR_QUANTIZE_FORCE);
  VR_NAMED(VR_MONO_EYE);
  VR_NAMED(VR_MOUSE_TIP_OFFSET);
  VR_NAMED(VR_MOUSE_TIP_OFFSET_X);
  VR_NAMED(VR_MOUSE_TIP_OFFSET_Y);
  VR_NAMED(VR_MOUSE_TIP_OFFSET_Z);
  VR_NAMED(VR_GODS_EYE_Z_FACTOR);
  VR_NAMED(VR_GODS_EYE_SCALE);
  VR_NAMED(VR_GODS_EYE_SIZE_MODE);
  VR_NAMED(VR_GODS_EYE_CENTER_MODE);
  VR_NAMED(VR_EYE_POS_MODE);
  VR_NAMED(VR_FIELD_OF_VIEW);
  VR_NAMED(VR_HITHER_RELATIVE);
  VR_NAMED(VR_HITHER_SCALE_MODE);
  VR_NAMED(VR_HITHER);
  VR_NAMED(VR_YON_RELATIVE);
  VR_NAMED(VR_YON_SCALE_MODE);
  VR_NAMED(VR_YON);
  VR_NAMED(VR_DEPTH_FRONT_RELATIVE);
  VR_NAMED(VR_DEPTH_FRONT_SCALE_MODE);
  VR_NAMED(VR_DEPTH_FRONT);
  VR_NAMED(VR_DEPTH_FRONT_NDC);
  VR_NAMED(VR_DEPTH_BACK_RELATIVE);
  VR_NAMED(VR_DEPTH_BACK_SCALE_MODE);
  VR_NAMED(VR_DEPTH_BACK);
  VR_NAMED(VR_DEPTH_BACK_NDC);
  VR_NAMED(VR_LEFT_VIEW);
  VR_NAMED(VR_RIGHT_VIEW);
  VR_NAMED(VR_LEFT_HEAD_VIEW);
  VR_NAMED(VR_RIGHT_HEAD_VIEW);
  VR_NAMED(VR_WINDOW_CORNER_DIRS);
  VR_NAMED(VR_WORLD_UP);
  VR_NAMED(VR_MOUSE_TIP_PLATE);
  VR_NAMED(VR_MOUSE_TIP_COEXISTENCE);
  VR_NAMED(VR_MOUSE_TIP_WORLD);
  VR_NAMED(VR_MOUSE_BUTTONS);
  VR_NAMED(VR_MOUSE_TO_PLATE);
  VR_NAMED(VR_CYBERMAN_STATE);
  VR_NAMED(VR_PWORLD_TIME);
  VR_NAMED(VR_MOUSE_EVENT_FN);
  VR_NAMED(VR_MOUSE_REMOVE_FN);
  VR_NAMED(VR_GLASSES_EVENT_FN);
  VR_NAMED(VR_GLASSES_REMOVE_FN);
  VR_NAMED(VR_EYE_HOOK_FN);
  VR_NAMED(VR_EYE_HOOK_REMOVE_FN);
  // Extension identifiers: add each with its row.
  VR_NAMED(VR_VIEW_FAULTS);
  VR_NAMED(VR_HEAD_TRACK_STATE);
  VR_NAMED(VR_HEAD_POSE_AGE);
  VR_NAMED(VR_MOUSE_TRACK_STATE);
  VR_NAMED(VR_MOUSE_POSE_AGE);

  VR_NAMED(VR_NET_BIND_ADDRESS);
  VR_NAMED(VR_NET_BIND_PORT);
  VR_NAMED(VR_NET_CAMERA_OFFSET);
  VR_NAMED(VR_NET_CAMERA_TILT);
  VR_NAMED(VR_NET_MAP_X);
  VR_NAMED(VR_NET_MAP_Y);
  VR_NAMED(VR_NET_MAP_Z);
  VR_NAMED(VR_NET_MAP_YAW);
  VR_NAMED(VR_NET_MAP_PITCH);
  VR_NAMED(VR_NET_MAP_ROLL);
  VR_NAMED(VR_NET_SILENCE_TIMEOUT);
  VR_NAMED(VR_NET_STATE);
  VR_NAMED(VR_NET_PACKETS);
  VR_NAMED(VR_NET_DROPS_LENGTH);
  VR_NAMED(VR_NET_DROPS_NOT_FINITE);
  VR_NAMED(VR_NET_DROPS_ABSURD);
  VR_NAMED(VR_NET_LAST_ARRIVAL);
  VR_NAMED(VR_NET_POSE_AGE);
  VR_NAMED(VR_NET_RATE);
  VR_NAMED(VR_NET_SENDER_LATENCY);
  VR_NAMED(VR_NET_OUTPUT);
  VR_NAMED(VR_NET_OUTPUT_ADDRESS);
  VR_NAMED(VR_NET_OUTPUT_PORT);
  VR_NAMED(VR_NET_OUTPUT_SENT);
  VR_NAMED(VR_NET_OUTPUT_ERRORS);

  VR_NAMED(VR_TRACKER_TO_PLATE);

  VR_NAMED(VR_TRACK_DISPLAY_TIME);
  VR_NAMED(VR_DISPLAY_LATENCY);
  VR_NAMED(VR_TRACKER_DELAY);
  VR_NAMED(VR_OUTLIER_GATE);
  VR_NAMED(VR_OUTLIER_FLOOR);
  VR_NAMED(VR_HEAD_SPEED_LIMIT);
  VR_NAMED(VR_PREDICT_SMOOTHING);
  VR_NAMED(VR_PREDICT_TREND);
  VR_NAMED(VR_RAW_FIT_SLOTS);
  VR_NAMED(VR_HELD_JUMPS);
  VR_NAMED(VR_REJECTED_VALUES);
  VR_NAMED(VR_DISPLAY_TIME);

  VR_NAMED(VR_VRPN_HEAD_SENSOR);
  VR_NAMED(VR_VRPN_MOUSE_SENSOR);
  VR_NAMED(VR_VRPN_CM_PER_UNIT);
  VR_NAMED(VR_VRPN_CONNECTED);
  VR_NAMED(VR_VRPN_HEAD_POSE_TIME);
  VR_NAMED(VR_VRPN_MOUSE_POSE_TIME);
  VR_NAMED(VR_VRPN_HEAD_STAMP);
  VR_NAMED(VR_VRPN_REPORTS);
  return t;
}
#undef VR_NAMED

constexpr auto name_table = make_name_table();

// The row of an identifier of the whole table, fixed and extension, or nullptr for anything
// outside it (any int is safe here).
const Attribute *any_attribute_row(int id) {
  if (id < 0 || id > last_attribute_id) return nullptr;
  const Attribute &a = attribute_table[static_cast<std::size_t>(id)];
  return a.kind == Kind::none ? nullptr : &a;
}

// The row of a fixed identifier, or nullptr for anything outside 0..129: the varargs interface
// keeps to the fixed identifiers.
const Attribute *attribute_row(int id) {
  if (id < 0 || id > last_fixed_id) return nullptr;
  return &attribute_table[static_cast<std::size_t>(id)];
}

template <class T>
T &field(vr_ctx *ctx, std::size_t offset) {
  return *reinterpret_cast<T *>(reinterpret_cast<unsigned char *>(ctx) + offset);
}

// Converted to a 32-bit float and back: the precision in which the eye offsets are kept.
double single_precision(double v) {
  return static_cast<double>(static_cast<float>(v));
}

// The three eye-offset rows move each screen eye by exactly the change of its offset, so that a
// tracked or placed viewer does not jump when the offsets are retuned.
void set_left_offset_x(vr_ctx *ctx, double value) {
  double v = single_precision(value);
  if (v > 0.0) v = -v;
  ctx->screen_left_eye[0] = ctx->screen_left_eye[0] - (ctx->left_eye_offset[0] - v);
  ctx->left_eye_offset[0] = v;
}

void set_right_offset_x(vr_ctx *ctx, double value) {
  double v = single_precision(value);
  if (v < 0.0) v = -v;
  ctx->screen_right_eye[0] = ctx->screen_right_eye[0] - (ctx->right_eye_offset[0] - v);
  ctx->right_eye_offset[0] = v;
}

// A negative distance is taken by its size, as the _OFFSET_X rows take theirs: the left eye
// stays on the left and the right eye on the right.
void set_interocular(vr_ctx *ctx, double value) {
  const double half = std::fabs(single_precision(value)) / 2.0;
  ctx->screen_left_eye[0] = ctx->screen_left_eye[0] - (ctx->left_eye_offset[0] + half);
  ctx->left_eye_offset[0] = -half;
  ctx->screen_right_eye[0] = ctx->screen_right_eye[0] - (ctx->right_eye_offset[0] - half);
  ctx->right_eye_offset[0] = half;
}

// One value as taken from a list or handed to a typed setter, before it is stored.
struct Value {
  double real = 0.0;
  int integer = 0;
  const double *point = nullptr;  // three doubles, or sixteen for a matrix
  vr_fn callback = nullptr;
};

// Takes the row's value from the list. False when the row takes no value (the identifier is
// then read as the next identifier's place).
bool take(const Attribute &a, va_list *args, Value *v) {
  switch (a.kind) {
    case Kind::real:
    case Kind::geom_override:
    case Kind::interocular:
    case Kind::left_offset_x:
    case Kind::right_offset_x:
      v->real = va_arg(*args, double);
      return true;
    case Kind::integer:
      v->integer = va_arg(*args, int);
      return true;
    case Kind::point:
      v->point = va_arg(*args, const double *);
      return true;
    case Kind::callback:
      v->callback = va_arg(*args, vr_fn);
      return true;
    case Kind::matrix:
    case Kind::block:
    case Kind::none:
      break;
  }
  return false;
}

bool finite_all(const double *p, int n) {
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(p[i])) return false;
  }
  return true;
}

// Whether sixteen doubles, row by row, are a rotation (orthonormal, determinant +1) followed by
// a translation in row 3.
bool rigid(const double *m) {
  constexpr double tolerance = 1e-6;
  auto at = [m](int r, int c) { return m[r * 4 + c]; };
  for (int r = 0; r < 3; ++r) {
    if (at(r, 3) != 0.0) return false;
    for (int q = 0; q < 3; ++q) {
      double dot = 0.0;
      for (int c = 0; c < 3; ++c) dot += at(r, c) * at(q, c);
      if (std::fabs(dot - (r == q ? 1.0 : 0.0)) > tolerance) return false;
    }
  }
  const double det = at(0, 0) * (at(1, 1) * at(2, 2) - at(1, 2) * at(2, 1)) -
                     at(0, 1) * (at(1, 0) * at(2, 2) - at(1, 2) * at(2, 0)) +
                     at(0, 2) * (at(1, 0) * at(2, 1) - at(1, 1) * at(2, 0));
  return det > 0.0 && at(3, 3) == 1.0;
}

bool kept_in_single_precision(const Attribute &a) {
  return a.kind == Kind::interocular || a.kind == Kind::left_offset_x ||
         a.kind == Kind::right_offset_x;
}

// Whether a value can be stored: no row takes a non-finite number, and size rows refuse 0.
bool acceptable(const Attribute &a, const Value &v) {
  switch (a.kind) {
    case Kind::real:
    case Kind::geom_override:
    case Kind::interocular:
    case Kind::left_offset_x:
    case Kind::right_offset_x:
      if (!std::isfinite(v.real)) return false;
      if ((a.refuse & refuse_zero) && v.real == 0.0) return false;
      if ((a.refuse & refuse_negative) && v.real < 0.0) return false;
      return true;
    case Kind::integer:
      if (v.integer < a.low || v.integer > a.high) return false;
      if ((a.refuse & refuse_zero) && v.integer == 0) return false;
      if ((a.refuse & refuse_negative) && v.integer < 0) return false;
      if ((a.refuse & refuse_not_port) && (v.integer < 1 || v.integer > 65535)) return false;
      if ((a.refuse & refuse_not_position_axis) && !vr::net::valid_mapping(0, v.integer))
        return false;
      if ((a.refuse & refuse_not_angle_axis) && !vr::net::valid_mapping(3, v.integer)) return false;
      return true;
    case Kind::point:
      return v.point != nullptr && finite_all(v.point, 3);
    case Kind::matrix: {
      if (v.point == nullptr || !finite_all(v.point, 16)) return false;
      if ((a.refuse & refuse_non_rigid) && !rigid(v.point)) return false;
      if (!(a.refuse & refuse_singular)) return true;
      dmat m, inverse;
      std::memcpy(m, v.point, sizeof m);
      return vr_mat_invert_checked(m, inverse);
    }
    case Kind::callback:
      return true;
    case Kind::block:
    case Kind::none:
      break;
  }
  return false;
}

void store(vr_ctx *ctx, const Attribute &a, const Value &v) {
  switch (a.kind) {
    case Kind::real:
      field<double>(ctx, a.offset) = v.real;
      break;
    case Kind::integer:
      field<int>(ctx, a.offset) = v.integer;
      break;
    case Kind::point:
      std::memmove(&field<double>(ctx, a.offset), v.point, sizeof(dpt));
      break;
    case Kind::matrix:
      std::memmove(&field<double>(ctx, a.offset), v.point, sizeof(dmat));
      break;
    case Kind::callback:
      field<vr_fn>(ctx, a.offset) = v.callback;
      break;
    case Kind::geom_override: {
      auto &entry = field<vr_geom_override>(ctx, a.offset);
      entry.value = v.real;
      entry.set = 1;
      break;
    }
    case Kind::interocular:
      set_interocular(ctx, v.real);
      break;
    case Kind::left_offset_x:
      set_left_offset_x(ctx, v.real);
      break;
    case Kind::right_offset_x:
      set_right_offset_x(ctx, v.real);
      break;
    case Kind::block:
    case Kind::none:
      break;
  }
}

void run_effect(vr_ctx *ctx, Effect effect) {
  switch (effect) {
    case Effect::cache_eyes:
      vr_cache_eye_pos(ctx);
      break;
    case Effect::consistify:
      consistify_coexistence_center(ctx);
      break;
    case Effect::window:
      vr_window_comp(ctx);
      break;
    case Effect::world_inverse:
      vr_mat_invert_checked(ctx->world_to_coexistence, ctx->coexistence_to_world);
      break;
    case Effect::coexistence_inverse:
      vr_mat_invert_checked(ctx->coexistence_to_world, ctx->world_to_coexistence);
      break;
    case Effect::none:
      break;
  }
}

void load(vr_ctx *ctx, const Attribute &a, void *value) {
  switch (a.kind) {
    case Kind::real:
    case Kind::geom_override:  // the value comes first in the entry
    case Kind::left_offset_x:
    case Kind::right_offset_x:
      std::memcpy(value, &field<double>(ctx, a.offset), sizeof(double));
      break;
    case Kind::integer:
      std::memcpy(value, &field<int>(ctx, a.offset), sizeof(int));
      break;
    case Kind::point:
      std::memcpy(value, &field<double>(ctx, a.offset), sizeof(dpt));
      break;
    case Kind::matrix:
    case Kind::block: {
      void *address = &field<unsigned char>(ctx, a.offset);
      std::memcpy(value, &address, sizeof address);
      break;
    }
    case Kind::interocular: {
      const double d = ctx->right_eye_offset[0] - ctx->left_eye_offset[0];
      std::memcpy(value, &d, sizeof d);
      break;
    }
    case Kind::callback:
    case Kind::none:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Typed accessors
// ---------------------------------------------------------------------------------------------

vr_attr_type type_of(const Attribute &a) {
  switch (a.kind) {
    case Kind::real:
    case Kind::geom_override:
    case Kind::interocular:
    case Kind::left_offset_x:
    case Kind::right_offset_x:
      return VR_TYPE_DOUBLE;
    case Kind::integer:
      return VR_TYPE_INT;
    case Kind::point:
      return VR_TYPE_POINT;
    case Kind::matrix:
      return VR_TYPE_MATRIX;
    case Kind::block:
    case Kind::callback:
      return VR_TYPE_OTHER;
    case Kind::none:
      break;
  }
  return VR_TYPE_NONE;
}

constexpr const char *type_names[] = {"no value", "a double", "an int",
                                      "a point",  "a matrix", "a block or callback"};

const char *type_name(vr_attr_type t) {
  return type_names[static_cast<int>(t)];
}

const char *name_of(int id) {
  const Attribute *a = any_attribute_row(id);
  if (a == nullptr) return nullptr;
  return name_table[static_cast<std::size_t>(id)];
}

// Finds the row for a typed access and says why it cannot be used, with one message.
vr_result check_access(const char *who, vr_ctx *ctx, int id, vr_attr_type wanted, bool setting,
                       const void *value, const Attribute **out) {
  const Attribute *a = any_attribute_row(id);
  if (a == nullptr) {
    std::fprintf(stderr, "%s: unknown attribute %d\n", who, id);
    return VR_ERR_UNKNOWN_ID;
  }
  const char *name = name_of(id);
  // A slot that can only be written says so to a reader, whatever type it was read as.
  if (!setting && !a->gettable()) {
    std::fprintf(stderr, "%s: attribute %d (%s) can only be written\n", who, id, name);
    return VR_ERR_NOT_GETTABLE;
  }
  const vr_attr_type held = type_of(*a);
  if (held != wanted) {
    std::fprintf(stderr, "%s: attribute %d (%s) holds %s\n", who, id, name, type_name(held));
    return VR_ERR_WRONG_TYPE;
  }
  if (setting && !a->settable() && !a->typed_settable) {
    std::fprintf(stderr, "%s: attribute %d (%s) can only be read\n", who, id, name);
    return VR_ERR_NOT_SETTABLE;
  }
  if (ctx == nullptr || value == nullptr) {
    std::fprintf(stderr, "%s: attribute %d (%s): null %s\n", who, id, name,
                 ctx == nullptr ? "context" : "value");
    return VR_ERR_BAD_VALUE;
  }
  *out = a;
  return VR_OK;
}

vr_result typed_set(const char *who, vr_ctx *ctx, int id, vr_attr_type wanted, const Value &v,
                    const void *value_ptr) {
  const Attribute *a = nullptr;
  const vr_result r = check_access(who, ctx, id, wanted, true, value_ptr, &a);
  if (r != VR_OK) return r;
  if (!acceptable(*a, v)) {
    std::fprintf(stderr, "%s: attribute %d (%s): value refused\n", who, id, name_of(id));
    return VR_ERR_BAD_VALUE;
  }
  ctx->attributes_changed = 1;
  store(ctx, *a, v);
  run_effect(ctx, a->effect);
  return VR_OK;
}

// ---------------------------------------------------------------------------------------------
// Defaults
// ---------------------------------------------------------------------------------------------

constexpr double cm_per_inch = 2.54;
constexpr double default_world_scale = 2.0 / 25.9;  // one world unit per plate cm
constexpr double transmitter_lean_rad = 50.0 * std::numbers::pi / 180.0;
constexpr double transmitter_x_cm = 18.28;
constexpr double transmitter_y_cm = 37.71;
constexpr double transmitter_z_cm = 4.6;

void set_point(dpt p, double x, double y, double z) {
  p[0] = x;
  p[1] = y;
  p[2] = z;
}

}  // namespace

bool vr_attr_range_of(int id, vr_attr_range *out) {
  const Attribute *a = any_attribute_row(id);
  if (a == nullptr || out == nullptr) return false;
  constexpr double largest_axis_entry = 6;
  const bool refuse_below_zero = (a->refuse & refuse_negative) != 0;
  switch (type_of(*a)) {
    case VR_TYPE_DOUBLE: {
      // The eye offsets are kept in single precision: beyond its range the setter stores an
      // infinite offset, which no file can keep, so a file takes only the finite part.
      const double largest = kept_in_single_precision(*a) ? FLT_MAX : DBL_MAX;
      *out = vr_attr_range{refuse_below_zero ? 0.0 : -largest, largest,
                           (a->refuse & refuse_zero) != 0, false};
      return true;
    }
    case VR_TYPE_INT: {
      double low = a->low, high = a->high;
      if (refuse_below_zero) low = std::fmax(low, 0.0);
      if (a->refuse & refuse_not_port) {
        low = std::fmax(low, 1.0);
        high = std::fmin(high, 65535.0);
      }
      if (a->refuse & (refuse_not_position_axis | refuse_not_angle_axis)) {
        low = std::fmax(low, -largest_axis_entry);
        high = std::fmin(high, largest_axis_entry);
      }
      *out = vr_attr_range{low, high, (a->refuse & refuse_zero) != 0, true};
      return true;
    }
    default:
      return false;
  }
}

extern "C" {

// ---------------------------------------------------------------------------------------------
// Context and attributes
// ---------------------------------------------------------------------------------------------

}  // extern "C"

// Gives the extension state its place in the context's reserved bytes and its defaults.
void vr_ext_init(vr_ctx *ctx) {
  vr_ext_state *ext = new (ctx->ext.bytes) vr_ext_state{};
  // VRPN's usual layout: the head on sensor 0, the 3D mouse on sensor 1, positions in metres.
  ext->vrpn.mouse_sensor = 1;
  ext->vrpn.cm_per_unit = 100.0;
}

extern "C" {

VR_API void vr_object_set(vr_ctx *ctx, ...) {
  va_list args;
  va_start(args, ctx);
  ctx->attributes_changed = 1;
  for (int id = va_arg(args, int); id != 0; id = va_arg(args, int)) {
    const Attribute *a = attribute_row(id);
    Value v;
    // A rejected identifier takes no value: the next item is read as an identifier.
    if (a == nullptr || !a->settable() || !take(*a, &args, &v)) {
      std::fprintf(stderr, "Bad argument to vr_object_set %d\n", id);
      continue;
    }
    if (a->kind == Kind::point && v.point == nullptr) {
      std::fprintf(stderr, "Bad argument to vr_object_set %d\n", id);
      continue;
    }
    // A value that cannot be geometry (non-finite, a size of 0) is taken from the list but not
    // stored: the old value stays and the views stay finite.
    if (!acceptable(*a, v)) {
      std::fprintf(stderr, "Bad value for vr_object_set %d\n", id);
      continue;
    }
    store(ctx, *a, v);
    run_effect(ctx, a->effect);
  }
  va_end(args);
}

VR_API void vr_object_get(vr_ctx *ctx, int id, void *value) {
  const Attribute *a = attribute_row(id);
  if (a == nullptr || !a->gettable() || value == nullptr) {
    std::fprintf(stderr, "Bad argument to vr_object_get %d\n", id);
    return;
  }
  load(ctx, *a, value);
}

VR_API vr_result vr_set_double(vr_ctx *ctx, int id, double value) {
  Value v;
  v.real = value;
  return typed_set("vr_set_double", ctx, id, VR_TYPE_DOUBLE, v, &value);
}

VR_API vr_result vr_set_int(vr_ctx *ctx, int id, int value) {
  Value v;
  v.integer = value;
  return typed_set("vr_set_int", ctx, id, VR_TYPE_INT, v, &value);
}

VR_API vr_result vr_set_point(vr_ctx *ctx, int id, const dpt value) {
  Value v;
  v.point = value;
  return typed_set("vr_set_point", ctx, id, VR_TYPE_POINT, v, value);
}

VR_API vr_result vr_set_matrix(vr_ctx *ctx, int id, const dmat value) {
  Value v;
  v.point = value != nullptr ? &value[0][0] : nullptr;
  return typed_set("vr_set_matrix", ctx, id, VR_TYPE_MATRIX, v, value);
}

VR_API vr_result vr_get_double(vr_ctx *ctx, int id, double *out) {
  const Attribute *a = nullptr;
  const vr_result r = check_access("vr_get_double", ctx, id, VR_TYPE_DOUBLE, false, out, &a);
  if (r == VR_OK) load(ctx, *a, out);
  return r;
}

VR_API vr_result vr_get_int(vr_ctx *ctx, int id, int *out) {
  const Attribute *a = nullptr;
  const vr_result r = check_access("vr_get_int", ctx, id, VR_TYPE_INT, false, out, &a);
  if (r == VR_OK) load(ctx, *a, out);
  return r;
}

VR_API vr_result vr_get_point(vr_ctx *ctx, int id, dpt out) {
  const Attribute *a = nullptr;
  const vr_result r = check_access("vr_get_point", ctx, id, VR_TYPE_POINT, false, out, &a);
  if (r == VR_OK) load(ctx, *a, out);
  return r;
}

VR_API vr_result vr_get_matrix(vr_ctx *ctx, int id, dmat out) {
  const Attribute *a = nullptr;
  const vr_result r = check_access("vr_get_matrix", ctx, id, VR_TYPE_MATRIX, false, out, &a);
  if (r == VR_OK) std::memcpy(out, &field<double>(ctx, a->offset), sizeof(dmat));
  return r;
}

VR_API vr_attr_type vr_attr_type_of(int id) {
  const Attribute *a = any_attribute_row(id);
  return a == nullptr ? VR_TYPE_NONE : type_of(*a);
}

VR_API const char *vr_attr_name(int id) {
  return name_of(id);
}

VR_API void vr_init_attributes(vr_ctx *ctx) {
  vr_ext_init(ctx);
  vr_init_pworld_time(ctx);

  ctx->gaze_mode = 1;
  ctx->crt_correction = 1;
  ctx->crt_curvature = 2;
  ctx->crt_glass_thickness = 1.3;
  ctx->crt_refraction_index = 1.52;
  ctx->crt_radius = 117.3;

  ctx->screen_width_pixels = 960.0;
  ctx->screen_height_pixels = 680.0;
  ctx->screen_width_cm = 36.5;
  ctx->screen_height_cm = 25.9;
  ctx->window_width_pixels = 960.0;
  ctx->window_height_pixels = 680.0;
  ctx->window_x_pixels = 0.0;
  ctx->window_y_pixels = 0.0;
  vr_window_comp(ctx);

  ctx->stereo = 0;
  ctx->head_relative_views = 0;
  ctx->head_to_world_wanted = 0;
  ctx->mouse_to_world_wanted = 0;
  ctx->predict_ramp_start = 2.0;
  ctx->predict_ramp_end = 4.0;

  ctx->tracking_mode = 1;
  ctx->tracking_aux = 1;
  ctx->glasses_source = 1;
  ctx->mouse_source = 1;
  ctx->event_filter_length = 8;
  ctx->streaming = 1;
  ctx->raw_interpolate = 0;
  ctx->predict_from_frame_time = 1;
  ctx->predict_lead = 3.0 / 112.9;
  ctx->predict_lead_limit = 3.0;
  ctx->raw_limit = 100.0;

  set_point(ctx->mouse_tip_offset, 0.0, -1.0, -10.0);
  ctx->coexistence_height = 168.0;
  ctx->coexistence_distance = 45.0;
  set_point(ctx->left_eye_offset, -3.3, 2.0, 3.5);
  set_point(ctx->right_eye_offset, 3.3, 2.0, 3.5);
  set_point(ctx->screen_left_eye, 17.75, 13.75, 35.0);
  set_point(ctx->screen_right_eye,
            ctx->screen_left_eye[0] - ctx->left_eye_offset[0] + ctx->right_eye_offset[0],
            ctx->screen_left_eye[1], ctx->screen_left_eye[2]);

  ctx->quantize_steps = 32;
  ctx->quantize_step = 0.25 * cm_per_inch;
  ctx->quantize_distance = 18.8;
  ctx->quantize_left_index = 0;
  ctx->quantize_right_index = 0;
  ctx->quantize_space = 0;
  ctx->quantize_force = 0;
  ctx->mono_eye = VR_MONO_BETWEEN;

  ctx->coexistence_center = VR_COEXISTENCE_AT_GODS_EYE;
  ctx->coexistence_base = VR_COEXISTENCE_AT_GODS_EYE;
  ctx->gods_eye_z_factor = 0.0;
  ctx->gods_eye_size_mode = 1;
  ctx->gods_eye_center_mode = 1;
  ctx->eye_pos_mode = VR_EYES_SCREEN_RELATIVE;
  ctx->field_of_view = std::numbers::pi / 2.0;

  // A fixed world scale, deliberately not read from screen_height_cm.
  constexpr double k = default_world_scale;
  vr_mat_scale(k, k, k, ctx->world_to_coexistence);
  vr_mat_scale(1.0 / k, 1.0 / k, 1.0 / k, ctx->coexistence_to_world);
  vr_mat_identity(ctx->head_view_base);
  vr_mat_identity(ctx->corner_dir_matrix);
  for (auto &dir : ctx->window_corner_dirs) set_point(dir, 0.0, 0.0, -1.0);
  ctx->pworld_time_base = 0.0;

  vr_cache_eye_pos(ctx);

  ctx->hither_relative = 1;
  ctx->hither_scale_mode = 1;
  ctx->hither = -5.0;
  ctx->yon_relative = 2;
  ctx->yon_scale_mode = 1;
  ctx->yon = -100.0;
  ctx->depth_front_relative = 1;
  ctx->depth_front_scale_mode = 1;
  ctx->depth_front = ctx->yon;
  ctx->depth_front_ndc = -1.0;
  ctx->depth_back_relative = 2;
  ctx->depth_back_scale_mode = 1;
  ctx->depth_back = ctx->yon;
  ctx->depth_back_ndc = 1.0;

  leaning_triangle_make_dig_to_plate(ctx, transmitter_lean_rad, transmitter_x_cm, transmitter_y_cm,
                                     transmitter_z_cm);
  consistify_coexistence_center(ctx);
  ctx->attributes_changed = 1;
}

}  // extern "C"

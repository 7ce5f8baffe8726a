/*
 * vrlib: head-tracked stereoscopic viewing on a desk-top display, with a 3D mouse in the same
 * physical space.
 *
 * The one public header of both libraries: libvrcore (context, views and math) and libvrtrack
 * (all of libvrcore plus the tracker drivers). Plain C99; also compiles as C++.
 *
 * Conventions, stated once:
 *   - Matrices are dmat, [row][col]. Points are row vectors multiplied on the left (p' = p x M),
 *     the translation sits in row 3, and vr_mat_mul_mat(a, b, out) gives out = a x b, so a frame
 *     chain is written in the order a point passes through it (head_to_dig x dig_to_plate).
 *     A dmat stored this way is exactly what legacy OpenGL's glLoadMatrixd expects, and its
 *     sixteen values in memory order are the column-major array glUniformMatrix4fv(loc, 1,
 *     GL_FALSE, m) expects for the same transformation with column vectors (clip = M * v).
 *   - Lengths in centimetres, angles in radians, times in seconds; pixels only where a name
 *     says so.
 *   - Functions return nothing, or an int: 1 for success and 0 for failure. Of the
 *     extensions, those that check a value or an argument return a vr_result (VR_OK = 0, or a
 *     reason; note that success is 0 there): the typed accessors, vr_world_in_plate_cm,
 *     vr_eye_matrices, vr_net_set_endpoint, vr_vrpn_set_devices, vr_vrpn_serve_start and
 *     vr_wall_cave. Those that start a tracker or read or write a file or path keep the fixed
 *     interface's int, 1 = done and 0 = failed with a message: vr_set_device_path,
 *     vr_config_load, vr_config_save and vr_vrpn_init. vr_rigid_fit returns a vr_fit_result
 *     (VR_FIT_OK = 0), and the context creators a context or NULL.
 *   - A matrix named a_to_b maps a point given in frame a into frame b: p_b = p_a x a_to_b.
 *
 * Frames. All physical frames are right-handed and measured in centimetres.
 *   plate        The visible picture of the screen. Origin at its lower-left corner, x to the
 *                right, y up, z out of the screen toward the viewer; the screen surface is z = 0.
 *                The eyes (VR_LEFT_EYE, VR_SCREEN_LEFT_EYE, ...), the window and the mouse tip
 *                (VR_MOUSE_TIP_PLATE) are given in it.
 *   window       Not a frame: the drawing window's rectangle on the plate. Set in pixels
 *                (VR_WINDOW_X, _Y from the screen's top-left corner, y down; VR_WINDOW_WIDTH,
 *                _HEIGHT) and turned into plate cm by vr_window_comp (VR_WINDOW_CENTER). The
 *                views map the window to x, y in -1..1.
 *   god's eye    The plate's axes, origin over the window centre (VR_GODS_EYE_CENTER_MODE 1) or
 *                the screen centre (2), lifted by VR_GODS_EYE_Z_FACTOR x its size; one unit is
 *                VR_GODS_EYE_SCALE cm: half the window's smaller side (VR_GODS_EYE_SIZE_MODE 1)
 *                or 1 cm (2). Plate to god's eye: VR_PLATE_TO_GODS_EYE.
 *   coexistence  Where the virtual world meets the physical space: the god's-eye frame with its
 *                origin moved to the coexistence centre (VR_COEXISTENCE_CENTER: the god's-eye
 *                origin, VR_COEXISTENCE_DISTANCE toward the viewer, or VR_COEXISTENCE_HEIGHT
 *                above that). VR_PLATE_TO_COEXISTENCE, VR_COEXISTENCE_TO_PLATE.
 *   world        The application's frame. VR_WORLD_TO_COEXISTENCE, VR_COEXISTENCE_TO_WORLD;
 *                by default a uniform scale by 2/25.9, which makes one world unit one plate cm
 *                with the origin at the window centre for the default full-screen window, and
 *                shrinks and moves with the window. vr_world_in_plate_cm makes world = plate.
 *   dig          The tracker's transmitter frame (the "digitiser"). VR_DIG_TO_PLATE places it:
 *                by default turned 50 degrees about the plate's x axis (its y axis leaning
 *                toward the viewer), origin at plate (18.28, 37.71, 4.6), above the screen.
 *   head         The glasses' sensor frame. VR_HEAD_TO_DIG is the tracked head pose; the eye
 *                offsets (VR_LEFT_EYE_OFFSET, VR_RIGHT_EYE_OFFSET) are given in it.
 *   mouse        The 3D mouse's sensor frame. VR_MOUSE_TO_DIG is its pose, VR_MOUSE_TIP_OFFSET
 *                its hot spot in it, VR_MOUSE_TO_PLATE = mouse_to_dig x dig_to_plate.
 *   eye          The plate's axes with the origin at one eye (eye-relative views, and the view
 *                half of vr_eye_matrices); the eye looks along -z.
 *   lr plate     Head-mounted mode (VR_TRACKING_MODE 5) only: each eye's own display, fixed to
 *                the head (make_head_to_lr_plate).
 *   clip         What the view matrices produce: after the division by w the window spans x, y
 *                in -1..1, and depth runs from +1 on the hither (near) plane to -1 on the yon
 *                (far) plane. vr_eye_matrices gives the other depth conventions.
 * Chains (each a product of the context's matrices, in the order a point passes through):
 *   VR_LEFT_VIEW  = world_to_coexistence x coexistence_to_plate x (off-axis projection of the
 *                   eye through the window): world to clip. Head-mounted: world_to_coexistence
 *                   x coexistence_to_dig x dig_to_head x head_to_lr_plate x lr_plate_to_cc.
 *   VR_LEFT_HEAD_VIEW = head_view_base x translation(eye) x projection: eye to clip.
 *   VR_HEAD_TO_WORLD  = head_to_dig x dig_to_plate x plate_to_coexistence x coexistence_to_world.
 *   VR_MOUSE_TO_WORLD = mouse_to_dig x dig_to_plate x plate_to_coexistence x coexistence_to_world.
 *   Tracked eyes: left_eye_offset through head_to_dig, then dig_to_plate = VR_SCREEN_LEFT_EYE
 *   (moved 1.1 cm along the line of sight toward the gaze target, VR_GAZE_MODE).
 */
#ifndef VRLIB_VR_H
#define VRLIB_VR_H

#if defined(__GNUC__) || defined(__clang__)
#define VR_API __attribute__((visibility("default")))
#else
#define VR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------------------------ */
/* Shared types                                                                                 */
/* ------------------------------------------------------------------------------------------ */

typedef double dmat[4][4]; /* [row][col], row vectors on the left, translation in row 3 */
typedef float fmat[4][4];
typedef double dpt[3]; /* x, y, z */
typedef float fpt[3];
typedef double dquat[4]; /* x, y, z, w: vector part first, scalar part last */

/* Extension: bytes reserved at the end of the context for the extension attributes' state. */
#define VR_CTX_EXT_BYTES 8192

typedef struct vr_ctx vr_ctx;
typedef void (*vr_fn)(vr_ctx *ctx);

/* One geometry override of the context: a value and the flag that says it was given. */
typedef struct vr_geom_override {
  double value;
  int set;
} vr_geom_override;

/* The converted CyberMan report: two motions, the buttons, four three-state values (0, 1, -1
 * or 3), and one spare word that the decoder leaves alone. */
typedef struct vr_cyberman_state {
  double x_motion;
  double y_motion;
  int buttons;
  int state[4];
  int spare;
} vr_cyberman_state;

/* The viewing context. Applications read and write it through vr_object_set / vr_object_get;
 * the fields are public so that other languages can lay the record out, not to be poked.
 * (A head source, for instance, is chosen with vr_set_int(ctx, VR_GLASSES_SOURCE,
 * VR_SOURCE_NETWORK), not by writing ctx->glasses_source.) */
struct vr_ctx {
  vr_fn mouse_event_fn;
  vr_fn mouse_remove_fn;
  vr_fn glasses_event_fn;
  vr_fn glasses_remove_fn;
  vr_fn eye_hook_fn;
  vr_fn eye_hook_remove_fn;
  double screen_width_pixels, screen_height_pixels;
  double screen_width_cm, screen_height_cm;
  int gaze_mode;
  int crt_correction;
  int crt_curvature;
  double crt_glass_thickness;
  double crt_refraction_index;
  double crt_radius;
  double window_width_pixels, window_height_pixels;
  double window_x_pixels, window_y_pixels;
  int stereo;
  int head_relative_views;
  double predict_ramp_start, predict_ramp_end;
  dmat dig_to_plate;
  double coexistence_height;
  double coexistence_distance;
  dpt left_eye_offset, right_eye_offset;
  dpt mouse_tip_offset;
  dpt screen_left_eye, screen_right_eye;
  dpt left_eye, right_eye;
  int quantize_steps;
  double quantize_step;
  int quantize_left_index, quantize_right_index;
  double quantize_distance;
  int quantize_space;
  int quantize_force;
  int mono_eye;
  double gods_eye_z_factor;
  int gods_eye_size_mode;
  int gods_eye_center_mode;
  int eye_pos_mode;
  double gods_eye_scale;
  double field_of_view;
  int hither_relative, hither_scale_mode;
  double hither;
  int yon_relative, yon_scale_mode;
  double yon;
  int depth_front_relative, depth_front_scale_mode;
  double depth_front, depth_front_ndc;
  int depth_back_relative, depth_back_scale_mode;
  double depth_back, depth_back_ndc;
  dmat left_view, right_view;
  dmat left_head_view, right_head_view;
  dpt world_up;
  dpt window_corner_dirs[4];
  dpt mouse_tip_plate, mouse_tip_coexistence, mouse_tip_world;
  int mouse_buttons;
  dmat mouse_to_plate;
  /* The physical world time block: four consecutive doubles, handed out as one pointer. */
  double pworld_time_now, pworld_time_prev, pworld_time_delta, pworld_time_base;
  dmat head_to_dig;
  dmat dig_to_head;
  dmat mouse_to_dig;
  dmat world_to_coexistence, coexistence_to_world;
  dmat head_view_base;
  dmat corner_dir_matrix;
  dmat plate_to_gods_eye;
  dmat plate_to_coexistence, coexistence_to_plate;
  dmat gods_eye_to_dig;
  dmat coexistence_to_dig, dig_to_coexistence;
  dmat head_to_lr_plate[2];
  dmat lr_plate_to_cc[2];
  int coexistence_center;
  int coexistence_base;
  int head_to_world_wanted;
  dmat head_to_world;
  int mouse_to_world_wanted;
  dmat mouse_to_world;
  vr_cyberman_state cyberman_state;
  int tracking_mode;
  int tracking_aux;
  int glasses_source;
  int mouse_source;
  int streaming;
  int raw_interpolate;
  int predict_from_frame_time;
  double predict_lead, predict_lead_limit;
  double raw_limit;
  vr_geom_override glasses_rx_geom[4];
  vr_geom_override mouse_rx_geom[4];
  vr_geom_override tx_geom[4];
  int event_filter_length;
  double window_width_cm, window_height_cm;
  double cm_per_pixel_x, cm_per_pixel_y;
  double window_left_cm, window_bottom_cm;
  dpt window_center;
  int attributes_changed;
  /* Extension: the settings and state behind the extension attributes (identifiers from 130
   * on). Private to the library and laid out by it; reach it only through the typed accessors
   * (vr_set_double, vr_get_double, ...). It sits inside the record so that a context the
   * application allocates itself, or releases with free(), still holds it whole. */
  union {
    double align_double;
    long long align_int;
    void *align_pointer;
    unsigned char bytes[VR_CTX_EXT_BYTES];
  } ext;
};

/* ------------------------------------------------------------------------------------------ */
/* Attribute identifiers. Applications pass them as numbers: the values are the interface.    */
/* ------------------------------------------------------------------------------------------ */

/*
 * Each identifier is described as: value type and unit [frame]; access; default of vr_ctx_create;
 * on set; meaning. Access: S = vr_object_set and the typed setters take it, G = vr_object_get and
 * the typed getters read it (matrices and blocks through vr_object_get as the address of the
 * context's own storage), M = vr_set_matrix sets it by value (the list interface never sets a
 * matrix). On set: "cache" runs vr_cache_eye_pos, "consistify" runs consistify_coexistence_center,
 * "window" means it takes effect at the next vr_window_comp or vr_window_match_ws (setting it does
 * not run them). The named values of the mode attributes (VR_GAZE_WINDOW_CENTER, ...) are in the
 * section "Extension: graphics conventions".
 *
 * The two depth reference planes (104..109). VR_DEPTH_FRONT_NDC and VR_DEPTH_BACK_NDC are results,
 * not settings: every desk-top vr_comp_view overwrites them with the depth, in the library's
 * convention (+1 hither, -1 yon, held to -1..1), that the left (or only) eye's view gives the
 * planes at VR_DEPTH_FRONT and VR_DEPTH_BACK (placed like the hither and the yon: _RELATIVE from
 * the left eye or the plate, in the hither's and the yon's scale). Setting them is undone by the
 * next frame, which is why it changes nothing on the screen. They let an application find the
 * depth-buffer values of two planes of its scene (fog or depth-cue ranges, depth-range splits):
 * with the defaults, the plane 100 cm behind the eye and the yon; for an eye 35 cm in front of the
 * screen, about -0.973 and -1. The right eye, the head views and the head-mounted mode do not
 * write them. In another convention of vr_eye_matrices the same plane has depth -ndc
 * (VR_DEPTH_GL), (1 - ndc)/2 (VR_DEPTH_ZERO_ONE) or (1 + ndc)/2. */

enum {
  /* double px; SG; 960; window. Screen width in pixels. */
  VR_SCREEN_WIDTH_PIXELS = 1,
  /* double px; SG; 680; window. Screen height in pixels. */
  VR_SCREEN_HEIGHT_PIXELS = 2,
  /* double cm; SG; 36.5; window. Width of the visible picture. */
  VR_SCREEN_WIDTH_CM = 3,
  /* double cm; SG; 25.9; window. Height of the visible picture. */
  VR_SCREEN_HEIGHT_CM = 4,
  /* int; SG; 1. VR_GAZE_*: where tracked eyes look (window centre / mouse tip). */
  VR_GAZE_MODE = 5,
  /* int; SG; 1. Non-zero: correct the window corners for the CRT face plate's refraction and
   * curvature (0 for flat panels). */
  VR_CRT_CORRECTION = 6,
  /* int; SG; 2. VR_CRT_*: face-plate shape. */
  VR_CRT_CURVATURE = 7,
  /* double cm; SG; 1.3. Face-plate glass thickness. */
  VR_CRT_GLASS_THICKNESS = 8,
  /* double; SG; 1.52. Face-plate refractive index. */
  VR_CRT_REFRACTION_INDEX = 9,
  /* double cm; SG; 117.3. Face-plate radius of curvature. */
  VR_CRT_RADIUS = 10,
  /* double px; SG; 960; window. Window width. */
  VR_WINDOW_WIDTH = 11,
  /* double px; SG; 680; window. Window height. */
  VR_WINDOW_HEIGHT = 12,
  /* double px; SG; 0; window. Window's left edge from the screen's left edge. */
  VR_WINDOW_X = 13,
  /* double px; SG; 0; window. Window's top edge from the screen's top edge (downward). */
  VR_WINDOW_Y = 14,
  /* dpt cm [plate]; G; (18.25, 12.95, 0). Window centre, z = 0. */
  VR_WINDOW_CENTER = 15,
  /* int; SG; 0; cache. Non-zero: two eyes, VR_LEFT_VIEW and VR_RIGHT_VIEW; 0: one eye
   * (VR_MONO_EYE). */
  VR_STEREO = 16,
  /* int; SG; 0. Non-zero: vr_comp_view also builds the eye-relative VR_*_HEAD_VIEW. */
  VR_HEAD_RELATIVE_VIEWS = 17,
  /* double cm/s; SG; 2.0. 6D eye prediction: head speed below which it does not extrapolate. */
  VR_PREDICT_RAMP_START = 18,
  /* double cm/s; SG; 4.0. 6D eye prediction: head speed from which it extrapolates with the full
   * gain 2. */
  VR_PREDICT_RAMP_END = 19,
  /* dmat [head -> dig]; G M; zero. Tracked head pose (glasses sensor to tracker), written by the
   * glasses handler. */
  VR_HEAD_TO_DIG = 20,
  /* dmat [dig -> plate]; G M; tracker leaning 50 deg at (18.28, 37.71, 4.6). Where the tracker's
   * transmitter sits (leaning_triangle_make_dig_to_plate). */
  VR_DIG_TO_PLATE = 21,
  /* dmat [plate -> god's eye]; G M; computed; consistify. Base of the coexistence frame; rebuilt
   * from the display while VR_COEXISTENCE_BASE is 1 and VR_GODS_EYE_CENTER_MODE is not 0. */
  VR_PLATE_TO_GODS_EYE = 22,
  /* dmat [plate -> coexistence]; G; computed. The base moved to the coexistence centre. */
  VR_PLATE_TO_COEXISTENCE = 23,
  /* dmat [coexistence -> plate]; G; computed. Its inverse (default: scale 12.95, origin at the
   * window centre). */
  VR_COEXISTENCE_TO_PLATE = 24,
  /* dmat [world -> coexistence]; G M; uniform scale 2/25.9. Placement and scale of the
   * application's world; set by value, 26 becomes its inverse. */
  VR_WORLD_TO_COEXISTENCE = 25,
  /* dmat [coexistence -> world]; G M; uniform scale 25.9/2. Inverse of 25; set by value, 25 becomes
   * its inverse. */
  VR_COEXISTENCE_TO_WORLD = 26,
  /* dmat; G M; identity. Leading matrix of the eye-relative views (VR_*_HEAD_VIEW). */
  VR_HEAD_VIEW_BASE = 27,
  /* dmat; G M; identity. Applied to VR_WINDOW_CORNER_DIRS (as points) before normalising them. */
  VR_CORNER_DIR_MATRIX = 28,
  /* dmat [god's eye -> dig]; G M; zero; consistify. Head-mounted mode: base of the coexistence
   * frame. */
  VR_GODS_EYE_TO_DIG = 29,
  /* dmat [coexistence -> dig]; G; zero. Head-mounted mode: the base after the centre offset
   * (make_coexistence_to_dig writes it). */
  VR_COEXISTENCE_TO_DIG = 30,
  /* dmat [mouse -> dig]; G M; zero. 3D mouse pose, written by the mouse handler. */
  VR_MOUSE_TO_DIG = 31,
  /* int; SG; 1; consistify. VR_COEXISTENCE_*: wanted position of the coexistence origin. */
  VR_COEXISTENCE_CENTER = 32,
  /* int; SG; 1; consistify. VR_COEXISTENCE_*: position the base frame stands for; 1 also rebuilds
   * the base from the display. */
  VR_COEXISTENCE_BASE = 33,
  /* int; SG; 0. Non-zero: fill VR_HEAD_TO_WORLD every frame. */
  VR_HEAD_TO_WORLD_WANTED = 34,
  /* dmat [head -> world]; G; zero. Tracked head in world coordinates. */
  VR_HEAD_TO_WORLD = 35,
  /* int; SG; 0. Non-zero: fill VR_MOUSE_TO_WORLD every frame. */
  VR_MOUSE_TO_WORLD_WANTED = 36,
  /* dmat [mouse -> world]; G; zero. 3D mouse in world coordinates. */
  VR_MOUSE_TO_WORLD = 37,
  /* int; SG; 1. VR_TRACKING_*: no trackers, desk-top, head-mounted. */
  VR_TRACKING_MODE = 38,
  /* int; SG; 1. Stored only; nothing reads it. */
  VR_TRACKING_AUX = 39,
  /* int; SG; 1. VR_GLASSES_SOURCE_*: head tracker started by vr_init_glasses_and_mouse_6d. */
  VR_GLASSES_SOURCE = 40,
  /* int; SG; 1. VR_MOUSE_SOURCE_*: 3D mouse. */
  VR_MOUSE_SOURCE = 41,
  /* int; SG; 8. Tracker samples filtered over (copied at tracker set-up). */
  VR_EVENT_FILTER_LENGTH = 42,
  /* int; SG; 1. Non-zero: units stream reports; 0: one report per demand. */
  VR_STREAMING = 43,
  /* int; SG; 0. Non-zero: the raw solver fits and predicts each distance over the history. */
  VR_RAW_INTERPOLATE = 44,
  /* int; SG; 1. 0: raw prediction lead is VR_PREDICT_LEAD; other: frame interval + 1/112.9 s. */
  VR_PREDICT_FROM_FRAME_TIME = 45,
  /* double s; SG; 3/112.9. Fixed raw prediction lead. */
  VR_PREDICT_LEAD = 46,
  /* double s; SG; 3.0. A computed lead above this falls back to 3/112.9 s. */
  VR_PREDICT_LEAD_LIMIT = 47,
  /* double cm; SG; 100.0. Raw solver: farthest plausible speaker. */
  VR_RAW_LIMIT = 48,
  /* 49..60: double cm; SG; 0 (flag 0). Overrides of the receiver geometry of the glasses unit
   * (49..52) and the mouse unit (53..56) and of the transmitter geometry (57..60), entries 0..3;
   * setting one also raises its flag (never lowered), and the Logitech driver uses the flagged
   * values in place of the units' own when it opens the lines. */
  VR_GLASSES_RX_GEOM_0 = 49,
  VR_GLASSES_RX_GEOM_1 = 50,
  VR_GLASSES_RX_GEOM_2 = 51,
  VR_GLASSES_RX_GEOM_3 = 52,
  VR_MOUSE_RX_GEOM_0 = 53,
  VR_MOUSE_RX_GEOM_1 = 54,
  VR_MOUSE_RX_GEOM_2 = 55,
  VR_MOUSE_RX_GEOM_3 = 56,
  VR_TX_GEOM_0 = 57,
  VR_TX_GEOM_1 = 58,
  VR_TX_GEOM_2 = 59,
  VR_TX_GEOM_3 = 60,
  /* double cm; SG; 168.0; consistify. Height of VR_COEXISTENCE_RAISED above
   * VR_COEXISTENCE_IN_FRONT. */
  VR_COEXISTENCE_HEIGHT = 61,
  /* double cm; SG; 45.0; consistify. Distance of VR_COEXISTENCE_IN_FRONT toward the viewer. */
  VR_COEXISTENCE_DISTANCE = 62,
  /* dpt cm [head]; SG; (-3.3, 2.0, 3.5); cache. Left eye's nodal point in the glasses' sensor
   * frame. */
  VR_LEFT_EYE_OFFSET = 63,
  /* dpt cm [head]; SG; (3.3, 2.0, 3.5); cache. Right eye's nodal point. */
  VR_RIGHT_EYE_OFFSET = 64,
  /* double cm; SG; 6.6; cache. Eye distance: sets the offsets' x to -d/2, +d/2 (single precision)
   * and moves the screen eyes with them. */
  VR_INTEROCULAR = 65,
  /* double cm [head]; SG; -3.3; cache. Left offset x, stored as -|v|; the screen left eye moves by
   * the change. */
  VR_LEFT_EYE_OFFSET_X = 66,
  /* double cm [head]; SG; 3.3; cache. Right offset x, stored as +|v|; the screen right eye moves by
   * the change. */
  VR_RIGHT_EYE_OFFSET_X = 67,
  /* dpt cm [plate]; SG; (17.75, 13.75, 35); cache. Left eye as the application places it or head
   * tracking writes it. */
  VR_SCREEN_LEFT_EYE = 68,
  /* double cm [plate]; SG; 17.75; cache. Its x. */
  VR_SCREEN_LEFT_EYE_X = 69,
  /* double cm [plate]; SG; 13.75; cache. Its y. */
  VR_SCREEN_LEFT_EYE_Y = 70,
  /* double cm [plate]; SG; 35.0; cache. Its z. */
  VR_SCREEN_LEFT_EYE_Z = 71,
  /* dpt cm [plate]; SG; (24.35, 13.75, 35); cache. Right eye, likewise. */
  VR_SCREEN_RIGHT_EYE = 72,
  /* double cm [plate]; SG; 24.35; cache. Its x. */
  VR_SCREEN_RIGHT_EYE_X = 73,
  /* double cm [plate]; SG; 13.75; cache. Its y. */
  VR_SCREEN_RIGHT_EYE_Y = 74,
  /* double cm [plate]; SG; 35.0; cache. Its z. */
  VR_SCREEN_RIGHT_EYE_Z = 75,
  /* dpt cm [plate]; G; (21.05, 13.75, 35). Left (or only) eye the views are built from
   * (vr_cache_eye_pos). */
  VR_LEFT_EYE = 76,
  /* dpt cm [plate]; G; (21.05, 13.75, 35). Right eye the views are built from. */
  VR_RIGHT_EYE = 77,
  /* int; SG; 32. Number of quantized eye positions. */
  VR_QUANTIZE_STEPS = 78,
  /* double cm; SG; 0.635. Spacing of the quantized positions. */
  VR_QUANTIZE_STEP = 79,
  /* int; SG; 0. Grid index of the left eye (written by quantize space, read by quantize force). */
  VR_QUANTIZE_LEFT_INDEX = 80,
  /* int; SG; 0. Grid index of the right eye. */
  VR_QUANTIZE_RIGHT_INDEX = 81,
  /* double cm [plate z]; SG; 18.8. Eye z in the quantized modes. */
  VR_QUANTIZE_DISTANCE = 82,
  /* int; SG; 0. Non-zero: snap the screen eyes to the grid after the eye-position mode. */
  VR_QUANTIZE_SPACE = 83,
  /* int; SG; 0. Non-zero: eyes at the grid indices instead of the eye-position mode. */
  VR_QUANTIZE_FORCE = 84,
  /* int; SG; 1; cache. VR_MONO_*: the one eye of a mono view. */
  VR_MONO_EYE = 85,
  /* dpt cm [mouse]; SG; (0, -1, -10). 3D mouse hot spot. */
  VR_MOUSE_TIP_OFFSET = 86,
  /* double cm [mouse]; SG; 0.0. Its x. */
  VR_MOUSE_TIP_OFFSET_X = 87,
  /* double cm [mouse]; SG; -1.0. Its y. */
  VR_MOUSE_TIP_OFFSET_Y = 88,
  /* double cm [mouse]; SG; -10.0. Its z. */
  VR_MOUSE_TIP_OFFSET_Z = 89,
  /* double; SG; 0.0. God's-eye origin lifted off the plate by this times its size. */
  VR_GODS_EYE_Z_FACTOR = 90,
  /* double cm/unit; SG; 12.95 (computed). God's-eye unit; written by every rebuild of the frame. */
  VR_GODS_EYE_SCALE = 91,
  /* int; SG; 1. VR_GODS_EYE_*: size (and VR_GODS_EYE_SCALE) from the window or the screen. */
  VR_GODS_EYE_SIZE_MODE = 92,
  /* int; SG; 1. VR_GODS_EYE_*: centre at the window or the screen, or kept. */
  VR_GODS_EYE_CENTER_MODE = 93,
  /* int; SG; 2; cache. VR_EYES_*: how vr_cache_eye_pos places the eyes. */
  VR_EYE_POS_MODE = 94,
  /* double rad; SG; pi/2. Full field of view across the window's larger side (fixed-field eyes). */
  VR_FIELD_OF_VIEW = 95,
  /* int; SG; 1. VR_PLANE_*: hither from the eye or from the plate. */
  VR_HITHER_RELATIVE = 96,
  /* int; SG; 1. VR_PLANE_*: hither in cm or world units. */
  VR_HITHER_SCALE_MODE = 97,
  /* double cm; SG; -5.0. Near clip plane: z = eye z - 5, 5 cm in front of each eye. */
  VR_HITHER = 98,
  /* int; SG; 2. VR_PLANE_*: yon from the left eye or from the plate. */
  VR_YON_RELATIVE = 99,
  /* int; SG; 1. VR_PLANE_*: yon in cm or world units. */
  VR_YON_SCALE_MODE = 100,
  /* double cm; SG; -100.0. Far clip plane: plate z = -100, 100 cm behind the screen. */
  VR_YON = 101,
  /* int; SG; 1. VR_PLANE_*: front depth reference plane from the left eye or the plate. */
  VR_DEPTH_FRONT_RELATIVE = 102,
  /* int; SG; 1. Stored only: the front reference plane takes the hither's scale. */
  VR_DEPTH_FRONT_SCALE_MODE = 103,
  /* double cm; SG; -100.0. Front depth reference plane: plate z = left eye z - 100. */
  VR_DEPTH_FRONT = 104,
  /* double; SG; -1.0. OUTPUT: the depth that the front reference plane gets (see below). */
  VR_DEPTH_FRONT_NDC = 105,
  /* int; SG; 2. VR_PLANE_*: back depth reference plane from the left eye or the plate. */
  VR_DEPTH_BACK_RELATIVE = 106,
  /* int; SG; 1. Stored only: the back reference plane takes the yon's scale. */
  VR_DEPTH_BACK_SCALE_MODE = 107,
  /* double cm; SG; -100.0. Back depth reference plane: plate z = -100 (the yon). */
  VR_DEPTH_BACK = 108,
  /* double; SG; 1.0. OUTPUT: the depth that the back reference plane gets (see below). */
  VR_DEPTH_BACK_NDC = 109,
  /* dmat [world -> clip]; G; zero until the first frame. View of the left (or only) eye; see
   * vr_eye_matrices for the split. */
  VR_LEFT_VIEW = 110,
  /* dmat [world -> clip]; G; zero. View of the right eye; written in stereo only. */
  VR_RIGHT_VIEW = 111,
  /* dmat [eye -> clip]; G; zero. Eye-relative view of the left eye: a point with the eye at the
   * origin and the plate's axes, through VR_HEAD_VIEW_BASE; clipped 0.05..1.5 cm in front of the
   * eye. */
  VR_LEFT_HEAD_VIEW = 112,
  /* dmat [eye -> clip]; G; zero. Same for the right eye (stereo). */
  VR_RIGHT_HEAD_VIEW = 113,
  /* 4 dpt [plate axes]; G; each (0, 0, -1). Pointer to the unit rays from the eye to the window
   * corners (lower left, lower right, upper left, upper right), written with the eye-relative
   * views. */
  VR_WINDOW_CORNER_DIRS = 114,
  /* dpt [world]; SG; (0, 0, 0). Head-mounted mode: the head's up direction, written every frame. */
  VR_WORLD_UP = 115,
  /* dpt cm [plate]; SG; (0, 0, 0). 3D mouse hot spot, written by the mouse handler. */
  VR_MOUSE_TIP_PLATE = 116,
  /* dpt [coexistence]; SG; (0, 0, 0). The same in coexistence units. */
  VR_MOUSE_TIP_COEXISTENCE = 117,
  /* dpt [world]; SG; (0, 0, 0). The same in world units. */
  VR_MOUSE_TIP_WORLD = 118,
  /* int; SG; 0. 3D mouse buttons, low 4 bits. With the VRPN mouse (VR_MOUSE_SOURCE_VRPN), bit n
   * (value 1 << n) is VRPN button n of the button device: bit 0 (1) button 0, bit 1 (2) button 1,
   * bit 2 (4) button 2, bit 3 (8) button 3; buttons 4 and up are not kept. The library's VRPN
   * server publishes the bits the same way. */
  VR_MOUSE_BUTTONS = 119,
  /* dmat [mouse -> plate]; G; zero. VR_MOUSE_TO_DIG x VR_DIG_TO_PLATE. */
  VR_MOUSE_TO_PLATE = 120,
  /* vr_cyberman_state; G; zero. Pointer to the decoded CyberMan report. */
  VR_CYBERMAN_STATE = 121,
  /* 4 double s; G; 0, -0.3, 0.3, 0. Pointer to the time block: now, previous, delta (frame
   * interval), base. */
  VR_PWORLD_TIME = 122,
  /* vr_fn; S; NULL. 3D mouse handler, run first in vr_comp_view (the drivers install it). */
  VR_MOUSE_EVENT_FN = 123,
  /* vr_fn; S; NULL. 3D mouse remove function, run by vr_quit. */
  VR_MOUSE_REMOVE_FN = 124,
  /* vr_fn; S; NULL. Glasses handler, run after the mouse one. */
  VR_GLASSES_EVENT_FN = 125,
  /* vr_fn; S; NULL. Glasses remove function. */
  VR_GLASSES_REMOVE_FN = 126,
  /* vr_fn; S; NULL. Application hook at the end of every vr_cache_eye_pos. */
  VR_EYE_HOOK_FN = 127,
  /* 128 is accepted by neither vr_object_set nor vr_object_get, nor by the typed accessors */
  /* vr_fn; S; NULL. Application function run last by vr_quit. */
  VR_EYE_HOOK_REMOVE_FN = 129
};

/* ------------------------------------------------------------------------------------------ */
/* Context and attributes                                                                       */
/* ------------------------------------------------------------------------------------------ */

/* A new context with every default; NULL when memory runs out. The application owns it and
 * releases it with free(); the library never does. */
VR_API vr_ctx *vr_ctx_create(void);
/* vr_object_set(ctx, id, value, id, value, ..., 0): the identifier fixes the value's type
 * (double, int, pointer to three doubles, or a vr_fn), and nothing checks it. Pitfalls: pass
 * doubles as doubles (1920.0, not 1920) and ints as ints (1, not 1.0), or the value and the rest
 * of the list are misread; an identifier it refuses (read-only ones such as the matrices,
 * unknown ones, 128) takes no value, so the item after it is read as the next identifier; the
 * screen and window sizes take effect at the next vr_window_comp. Every call raises the
 * changed flag that re-runs the coexistence consistency at the next frame. The typed setters
 * (vr_set_double, ...) check all of this and report it. */
VR_API void vr_object_set(vr_ctx *ctx, ...);
/* Reads one attribute: a double, an int, three doubles, or for matrices and blocks the address
 * of the context's own storage, written into a pointer variable (writing through it changes the
 * context: prefer vr_set_matrix for the frames it sets, vr_get_matrix for a copy). */
VR_API void vr_object_get(vr_ctx *ctx, int id, void *value);
/* Shutdown: calls the installed remove functions (mouse, then glasses if still installed, then the
 * eye hook's). The context is not freed. */
VR_API void vr_quit(vr_ctx *ctx);
/* Gives a zeroed context every default of vr_ctx_create (listed with the identifiers above). */
VR_API void vr_init_attributes(vr_ctx *ctx);

/* Places VR_LEFT_EYE / VR_RIGHT_EYE (plate cm) by VR_EYE_POS_MODE, VR_QUANTIZE_FORCE and
 * VR_QUANTIZE_SPACE, then calls the eye hook. The mode functions below do one step each; "relitive"
 * is the fixed spelling. */
VR_API void vr_cache_eye_pos(vr_ctx *ctx);
/* VR_EYES_FIXED_FIELD: eyes level with the window centre, at the z where the window's larger side
 * spans VR_FIELD_OF_VIEW. */
VR_API void vr_cache_eye_pos_fixed_field(vr_ctx *ctx);
/* VR_EYES_SCREEN_RELATIVE: eyes at VR_SCREEN_LEFT_EYE / _RIGHT_EYE (mono: by VR_MONO_EYE). */
VR_API void vr_cache_eye_pos_screen_relitive(vr_ctx *ctx);
/* VR_EYES_WINDOW_RELATIVE: eyes level with the window centre at the screen eyes' z, x from the eye
 * offsets. */
VR_API void vr_cache_eye_pos_window_relitive(vr_ctx *ctx);
/* Snaps the screen eyes' x to the grid of VR_QUANTIZE_STEPS positions VR_QUANTIZE_STEP cm apart
 * around the window centre, z = VR_QUANTIZE_DISTANCE; writes the two indices. */
VR_API void vr_cache_eye_pos_quantize_space(vr_ctx *ctx);
/* Places the eyes at the grid positions VR_QUANTIZE_LEFT_INDEX / _RIGHT_INDEX (clamped into the
 * grid). */
VR_API void vr_cache_eye_pos_quantize_force(vr_ctx *ctx);
/* Makes the coexistence frame consistent ("consistify"): from the base frame (rebuilt from the
 * display when VR_COEXISTENCE_BASE is 1) and the wanted centre, derives plate_to_coexistence /
 * coexistence_to_plate (head-mounted: dig_to_coexistence / coexistence_to_dig). */
VR_API void consistify_coexistence_center(vr_ctx *ctx);

/* ------------------------------------------------------------------------------------------ */
/* View computation                                                                             */
/* ------------------------------------------------------------------------------------------ */

/* Once per frame: advances the physical world time, runs the mouse and then the glasses handler,
 * caches the eyes, and builds VR_LEFT_VIEW (VR_RIGHT_VIEW in stereo; the head views when
 * VR_HEAD_RELATIVE_VIEWS): world to clip coordinates, one eye each. */
VR_API void vr_comp_view(vr_ctx *ctx);
/* Rebuilds the god's-eye frame (VR_PLATE_TO_GODS_EYE, VR_GODS_EYE_SCALE) from the window or the
 * screen, by VR_GODS_EYE_CENTER_MODE and _SIZE_MODE; centre mode 0 changes nothing. */
VR_API void vr_construct_gods_eye_to_plate(vr_ctx *ctx);
/* The window as the window system reports it (upper-left corner x, y from the screen's top-left,
 * width, height; pixels), then vr_window_comp. A window of 0 x 0 or less (minimised) is ignored. */
VR_API void vr_window_match_ws(vr_ctx *ctx, int x, int y, int width, int height);
/* Converts the screen and window pixels to plate cm (window edges, VR_WINDOW_CENTER), then
 * re-caches the eyes and the coexistence frame. Run it after setting any VR_SCREEN_* or VR_WINDOW_*
 * attribute: setting them does not. */
VR_API void vr_window_comp(vr_ctx *ctx);
/* The pixel rectangle of the whole screen: 0, 0, screen width, screen height (truncated). Any
 * pointer may be NULL; the context is not changed. */
VR_API void vr_window_fullscreen(vr_ctx *ctx, int *x, int *y, int *width, int *height);
/* Restarts physical world time: now 0 s, previous -0.3 s, delta 0.3 s. The zero point is shared by
 * every context of the process. */
VR_API void vr_init_pworld_time(vr_ctx *ctx);
/* Reads the clock into the time block (VR_PWORLD_TIME: now, previous, delta; seconds in steps of
 * 1.024 us). vr_comp_view calls it. */
VR_API void vr_sync_pworld_time(vr_ctx *ctx);
/* Busy-waits at least usec microseconds of the calling thread's processor time (never yields). */
VR_API void vr_usleep(int usec);

/* ------------------------------------------------------------------------------------------ */
/* Matrices and vectors                                                                         */
/* ------------------------------------------------------------------------------------------ */

/* m = identity. */
VR_API void vr_mat_identity(dmat m);
/* dst = src (note the order: source first). */
VR_API void vr_mat_copy(dmat src, dmat dst);
/* 1 when all sixteen elements are exactly equal, else 0. */
VR_API int vr_mat_equal(dmat a, dmat b);
/* out = scale by sx, sy, sz. */
VR_API void vr_mat_scale(double sx, double sy, double sz, dmat out);
/* out = translation by (tx, ty, tz). */
VR_API void vr_mat_trans(double tx, double ty, double tz, dmat out);
/* out = uniform scale by s, then translation by t: p' = s p + t (s is the last argument). */
VR_API void vr_mat_scale_and_trans(double tx, double ty, double tz, double s, dmat out);
/* out = translation by t, then uniform scale by s: p' = s (p + t) (s is the first argument). */
VR_API void vr_mat_trans_and_scale(double s, double tx, double ty, double tz, dmat out);
/* out = shear along z: x' = x + a z, y' = y + b z. */
VR_API void vr_mat_shear_z(double a, double b, dmat out);
/* out = right-handed rotation by angle (radians) about x; rot_y, rot_z likewise about y and z. */
VR_API void vr_mat_rot_x(double angle, dmat out);
VR_API void vr_mat_rot_y(double angle, dmat out);
VR_API void vr_mat_rot_z(double angle, dmat out);
/* m = its transpose, in place. */
VR_API void vr_mat_transpose(dmat m);
/* out = a x b (a applied first); out may be a or b. */
VR_API void vr_mat_mul_mat(dmat a, dmat b, dmat out);
/* out = p x m for a point (w = 1, the translation applies); _fpt in single precision. */
VR_API void vr_mat_mul_dpt(const dpt p, dmat m, dpt out);
VR_API void vr_mat_mul_fpt(const fpt p, dmat m, fpt out);
/* "Transform point": as vr_mat_mul_dpt, but out must not be p (written as it is formed). */
VR_API void vr_tranpt(const dpt p, dmat m, dpt out);
/* out = direction n through the upper 3 x 3 of m, normalised; _fnorm in single precision. */
VR_API void vr_mat_mul_dnorm(const dpt n, dmat m, dpt out);
VR_API void vr_mat_mul_fnorm(const fpt n, dmat m, fpt out);
/* dst = src with the uniform scale of row 0 removed from the 3 x 3 block; the translation stays. */
VR_API void vr_mat_descale(dmat src, dmat dst);
/* Prints m to the standard output, one row a line. */
VR_API void vr_mat_print(dmat m);
/* Copies with conversion between double and float matrices (element by element, same layout):
 * vr_dmat_to_fmat of a view gives the float array glUniformMatrix4fv(loc, 1, GL_FALSE, &f[0][0])
 * expects. */
VR_API void vr_dmat_to_fmat(dmat src, fmat dst);
VR_API void vr_fmat_to_dmat(fmat src, dmat dst);
VR_API void vr_fmat_to_fmat(fmat src, fmat dst);
VR_API void vr_dmat_to_dmat(dmat src, dmat dst);
/* Vector arithmetic on three components, f = float, d = double: add, sub and smul give
 * out = a + b, a - b, s v; dot_prod, cross_prod and length the usual results; normalize scales v
 * to unit length in place. */
VR_API void vr_fvector_add(const fpt a, const fpt b, fpt out);
VR_API void vr_dvector_add(const dpt a, const dpt b, dpt out);
VR_API void vr_fvector_sub(const fpt a, const fpt b, fpt out);
VR_API void vr_dvector_sub(const dpt a, const dpt b, dpt out);
VR_API void vr_fvector_smul(const fpt v, double s, fpt out);
VR_API void vr_dvector_smul(const dpt v, double s, dpt out);
VR_API double vr_fvector_dot_prod(const fpt a, const fpt b);
VR_API double vr_dvector_dot_prod(const dpt a, const dpt b);
VR_API void vr_fvector_cross_prod(const fpt a, const fpt b, fpt out);
VR_API void vr_dvector_cross_prod(const dpt a, const dpt b, dpt out);
VR_API double vr_fvector_length(const fpt v);
VR_API double vr_dvector_length(const dpt v);
VR_API void vr_fvector_normalize(fpt v);
VR_API void vr_dvector_normalize(dpt v);

/* Inversion and view orientation */
/* m = its inverse, in place (Gauss-Jordan with full pivoting; pivots are taken in single precision,
 * so expect about 1e-7 relative error); a singular matrix becomes the identity. */
VR_API void vr_mat_inv(dmat m);
/* dst = inverse of src as vr_mat_inv; src may be dst. */
VR_API void vr_mat_inv2(dmat src, dmat dst);
/* out = view orientation from eye toward target, y up: world to a frame with its origin at the eye
 * looking along -z. */
VR_API void vr_look_at(const dpt eye, const dpt target, dmat out);
/* The view-plane normal vpn (unit, from target toward eye) and vup = (0, 1, 0) for vr_look_at. */
VR_API void look_at(const dpt eye, dpt vpn, dpt vup, const dpt target);
/* ("Evaluate view orientation matrix") out = view orientation from a reference point vrp,
 * normal vpn and up vup: p maps to ((p - vrp).u, (p - vrp).v, (p - vrp).n), n along vpn (x right,
 * y up, looking along -z). */
VR_API void pevalvieworientationmatrix3(const dpt vrp, const dpt vpn, const dpt vup, dmat out);

/* Quaternions */
/* q = rotation of m's 3 x 3 block (x, y, z, w). */
VR_API void vr_mat_to_quat(dmat m, dquat q);
/* Splits a similarity matrix into rotation q, translation center and the uniform scale of row 0. */
VR_API void vr_mat_to_quat_center_scale(dmat m, dquat q, dpt center, double *scale);
/* m = rotation of q (exact for unit quaternions; q is not normalised first). */
VR_API void vr_quat_to_mat(const dquat q, dmat m);
/* out = a (x) b, the Hamilton product: the rotations composed ("add" is the fixed name). */
VR_API void vr_quat_add(const dquat a, const dquat b, dquat out);
/* out = q^-1 (the conjugate over the squared length). */
VR_API void vr_quat_inverse(const dquat q, dquat out);
/* out = a (x) b^-1: the rotation that takes b to a. */
VR_API void vr_quat_sub(const dquat a, const dquat b, dquat out);
/* out = the component difference a - b with its vector part rescaled (a unit result only when
 * that part has unit length): not a rotation difference, which is vr_quat_sub. */
VR_API void vr_quat_ssub(const dquat a, const dquat b, dquat out);
/* q scaled to unit length, in place. */
VR_API void vr_normalize_quat(dquat q);
/* out = (1 - t) a + t b, a plain linear blend (no shortest-arc flip, not normalised). */
VR_API void vr_interpolate_quat(const dquat a, const dquat b, double t, dquat out);
/* Kept for linking only: does nothing. */
VR_API void vr_euler_to_quat(void);

/* Calibration frames. A pose (build_sim_mat, print_matt) is six doubles: x, y, z (cm), roll,
 * pitch, yaw (radians); roll turns about z, pitch about x, yaw about y. */
/* Writes VR_DIG_TO_PLATE: the tracker frame turned by angle (radians) about the plate's x axis,
 * its origin at plate (x, y, z) cm; the same as vr_set_matrix of fake_make_dig_to_plate's. */
VR_API void leaning_triangle_make_dig_to_plate(vr_ctx *ctx, double angle, double x, double y,
                                               double z);
/* out = rot_x(angle) x translation(x, y, z): the same frame into a caller's matrix. */
VR_API void fake_make_dig_to_plate(double angle, double x, double y, double z, dmat out);
/* Writes coexistence_to_dig for the head-mounted mode: coexistence (x, y, z) maps to the
 * tracker point (x, z - 75.48, d - 45.72 - y), cm. */
VR_API void make_coexistence_to_dig(vr_ctx *ctx, double d);
/* Writes head_to_lr_plate[0], [1] for the head-mounted mode: each eye's display plate, from the eye
 * offsets and the screen size. */
VR_API void make_head_to_lr_plate(vr_ctx *ctx);
/* out = yaw x pitch rotation of a pose (x, y, z cm, roll, pitch, yaw radians): roll and position
 * are not used. */
VR_API void build_sim_mat(const double pose[6], dmat out);
/* Prints the point (0, 0, -1) through a pose's roll, pitch and yaw one at a time and combined; then
 * sleeps one second. */
VR_API void print_matt(const double pose[6]);

/* ------------------------------------------------------------------------------------------ */
/* Tracker records (libvrtrack)                                                                 */
/* ------------------------------------------------------------------------------------------ */

/* History of one measured quantity over the 16 slots of a unit. */
typedef struct vr_lt_channel {
  float value[16]; /* -100.0 marks an invalid or rejected sample */
  float fit_value;
  float fit_variance;
  double fit_slope;
  double fit_intercept; /* below -10000000.0: no fit yet */
  float fit_time;
  int reject_count;
} vr_lt_channel;

/* A unit's converted operating-information report. */
typedef struct vr_lt_op_info {
  int op_byte[10]; /* [6] == 2: transmitter here; [8]: receiver socket; [9]: transmitter type */
  double receiver_geom[4];
  int op_byte14;
  double transmitter_geom[4];
} vr_lt_op_info;

/* One Logitech unit (also the DynaSight's record). */
typedef struct vr_lt_unit {
  const char *device_name;
  int port; /* 0 = port A, 1 = port B */
  unsigned char record[48];
  int pending_count;
  double last_capture_time;
  int ring_pos;
  int next_slot;
  int slot_valid[16];
  float slot_time[16];
  int slot_buttons[16];
  vr_lt_channel chan[10];
  double clock_rate;
  double clock_offset; /* below -10000000.0: not yet measured */
  double clock_lag;
  int fd; /* 0 = line closed */
  int filter_length;
  vr_lt_op_info op_info;
} vr_lt_unit;

/* A decoded 6D report in device units. */
typedef struct vr_lt_event {
  int reserved; /* always 0 */
  int status;
  int x, y, z;            /* thousandths of an inch */
  int pitch, yaw, roll;   /* fortieths of a degree */
} vr_lt_event;

/* A pose in physical units. */
typedef struct vr_lt_6d {
  double x, y, z;           /* cm */
  double roll, pitch, yaw;  /* radians */
  int buttons;
} vr_lt_6d;

/* Timing statistics of the raw glasses path: one parsed raw record. */
typedef struct vr_lt_stat_header {
  float time;
  float skew;
  float tdist;
  float time_to_cm;
  float dist[9];
  float resid[9];
  float kept[9];
} vr_lt_stat_header;

/* Timing statistics: one capture call and the solve that followed it. */
typedef struct vr_lt_stat {
  int bytes;
  int events;
  int headers;
  float dt;
  vr_lt_stat_header header[16];
  float fit_dist[3][3];
  float speaker_pos[3][3];
  float axis_i[3];
  float axis_j[3];
  float axis_k[3];
  float origin[3];
  float xyz[3];
  float tri[2];
  int finite[2];
  float norm_l[3];
  float norm_x[3];
} vr_lt_stat;

/* Unit and driver globals: one set of trackers per process. unit_6d[0] is the glasses unit
 * (port A), [1] the mouse unit (port B); vr_lt_glasses_unit and vr_lt_mouse_6d_unit point at
 * them while in use, else NULL. temporal_filter_length (default 8) is the filter length the
 * units start with, copied from VR_EVENT_FILTER_LENGTH at set-up; cybermen_present is 1 once a
 * CyberMan is the mouse (the plural is the fixed name); use_demand_reporting is 1 for demand
 * reporting ("*D"), 0 for streaming; goo57 is (n - 5) / 10 of the last
 * vr_lt_change_filter_length and read by nothing; vr_lt_message holds the last set-up error. */
VR_API extern vr_lt_unit unit_6d[2];
VR_API extern vr_lt_unit *vr_lt_glasses_unit;
VR_API extern vr_lt_unit *vr_lt_mouse_6d_unit;
VR_API extern int temporal_filter_length;
VR_API extern int cybermen_present;
VR_API extern int use_demand_reporting;
VR_API extern double goo57;
VR_API extern char vr_lt_message[256];

/* Command byte strings of the Logitech units, each ending in a zero byte. */
VR_API extern unsigned char LT_RESET[3];
VR_API extern unsigned char LT_TACTILE[5];
VR_API extern unsigned char LT_SET_EVENT_FILTER_LENGTH[6];
VR_API extern unsigned char LT_CUR_OP_INFO[3];
VR_API extern unsigned char LT_SET_SLAVE_XMITER_TYPE[6];
VR_API extern unsigned char LT_RAW_MODE[3];
VR_API extern unsigned char LT_DEMAND_REPORTING[3];
VR_API extern unsigned char LT_STREAMING[3];
VR_API extern unsigned char LT_DIGITIZE[3];
VR_API extern unsigned char LT_DISABLE_TRANSMITTER_OUTPUT[3];
VR_API extern unsigned char LT_ENABLE_TRANSMITTER_OUTPUT[3];
VR_API extern unsigned char LT_GO_INTO_6D[3];
VR_API extern unsigned char LT_HEADTRACK_MODE[3];
VR_API extern unsigned char LT_LEAVE_HEADTRACK_MODE[3];
VR_API extern unsigned char LT_GLOBAL_EULER[3];

/* Unit lifecycle */
/* Logitech set-up: opens the lines, resets the units, finds the transmitter, starts 6D or raw
 * reporting and installs the handlers. 1 = ready (or nothing asked), 0 = failed (vr_lt_message says
 * why). */
VR_API int vr_lt_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse);
/* Logitech set-up again on lines already open (after a pause). 1 / 0 as above. */
VR_API int vr_lt_re_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse);
/* Stops reporting and the transmitter ("*D", "*O"), closes the lines and clears the four handler
 * slots. */
VR_API void vr_lt_remove_glasses_and_mouse_6d(vr_ctx *ctx);
/* Closes both Logitech lines (error paths of the set-up). */
VR_API void vr_lt_close_glasses_and_mouse_6d(void);
/* Stops reporting and the transmitter, lines left open (resume with vr_lt_re_init...). */
VR_API void vr_lt_pause_glasses_and_mouse_6d(void);
/* Records a new filter length (in goo57 only: the units are not told). */
VR_API void vr_lt_change_filter_length(int n);
/* Clears a unit record and gives it a name and empty sample histories. */
VR_API void vr_lt_device_struct_init(const char *name, vr_lt_unit *unit);
/* Empties one channel's history (every value -100, no fit). */
VR_API void vr_lt_init_samples(vr_lt_channel *channel);
/* The unit's capture ring write offset now (0..2043). */
VR_API int vr_lt_obtain_current_offset(vr_lt_unit *unit);
/* Diagnostics: both rings' write offsets and the time (s) of slot 0 of each unit in use; any
 * pointer may be NULL, and what cannot be known is left as it was. */
VR_API void vr_lt_offsets(int *a_offset, int *b_offset, double *glasses_time, double *mouse_time);

/* Serial link and command protocol */
/* Opens and configures the unit lines (raw 1 = raw records, 0 = 6D reports; re_init 1 = lines
 * already open). 1 = ready, 0 = failed. */
VR_API int vr_lt_port_open(vr_ctx *ctx, int want_glasses, int want_mouse, int raw, int re_init);
/* Closes one unit's line. */
VR_API void vr_lt_port_close(vr_lt_unit *unit);
/* Sends a command string to unit a and/or b (either may be NULL), pausing before_usec before and
 * after_usec after. */
VR_API void vr_lt_command(vr_lt_unit *a, vr_lt_unit *b, int before_usec, int after_usec,
                          const unsigned char *text);
/* Sends "*$" with filter length n (1..10) to both units. */
VR_API void vr_lt_set_event_filter_length(int n, int before_usec, int after_usec);
/* Tells the unit without the transmitter which transmitter type to use. */
VR_API void vr_lt_set_slave_transmitter_type(int type, vr_lt_unit *unit, int before_usec,
                                             int after_usec);
/* Asks a unit in demand mode for one report ("*d"). */
VR_API void vr_lt_demand_event(vr_lt_unit *unit);

/* Report decoding */
/* Copies the newest 16-byte 6D report from the ring into unit->record: 1, or 0 when none. */
VR_API int vr_lt_obtain_current_event(vr_lt_unit *unit);
/* Decodes a 16-byte 6D report into device units (thousandths of an inch, fortieths of a degree). */
VR_API void vr_lt_convert_event(const unsigned char bytes[16], vr_lt_event *event);
/* The newest 6D report as a pose in cm and radians (tracker frame): 1, or 0 when there is none. */
VR_API int vr_lt_get_6d(vr_lt_unit *unit, vr_lt_6d *out);
/* Finds and decodes the operating-information report written after ring offset start into
 * unit->op_info: 1 / 0. */
VR_API int vr_lt_obtain_current_op_info(vr_lt_unit *unit, int start);
/* Decodes a 30-byte operating-information report. */
VR_API void vr_lt_convert_cur_op_info(const unsigned char bytes[30], vr_lt_op_info *info);
/* Prints a decoded 6D report on the standard error stream. */
VR_API void print_vr_lt_i_event(const vr_lt_event *event);

/* Raw capture */
/* One raw capture pass: parses new raw records into the unit's 16-slot history with the clock model
 * and outlier rejection; the number accepted. */
VR_API int vr_lt_obtain_current_raw_events(vr_ctx *ctx, vr_lt_unit *unit);
/* Copies the newest 24-byte raw record into unit->record: 1 / 0. */
VR_API int vr_lt_obtain_current_raw_event(vr_lt_unit *unit);
/* Copies the newest 5-byte CyberMan packet into unit->record: 1 / 0. */
VR_API int vr_lt_obtain_current_raw_cyberman(vr_lt_unit *unit);
/* Decodes a CyberMan packet into motions, buttons and the four three-state values. */
VR_API void vr_lt_cyberman_cvt(const unsigned char packet[5], vr_cyberman_state *state);
/* The button bits (0..15) that the newest slots agree on, or -1. */
VR_API int vr_lt_debounce_buttons(vr_lt_unit *unit);
/* Prints a raw record's fields on the standard error stream. */
VR_API void print_mouse_6d_raw(const unsigned char record[24]);

/* Raw pose solver. future_time (s) and future_sll_to_mll (cm) are the time the last glasses
 * solve predicted for and its extrapolated distance of one speaker-microphone pair; past_posA,
 * past_posB (eight entries of time, x, y, z; times start at -1) with their indices are histories
 * for least_sq_fit_avg that nothing in the library fills. */
VR_API extern double future_time;
VR_API extern double future_sll_to_mll;
VR_API extern double past_posA[8][4];
VR_API extern double past_posB[8][4];
VR_API extern int past_pos_iA;
VR_API extern int past_pos_iB;
/* Raw pose solver: trilaterates the unit's history (fitted and predicted by VR_PREDICT_LEAD when
 * VR_RAW_INTERPOLATE) into out, the sensor-to-tracker frame. 1, or 0 with out unchanged when
 * implausible. */
VR_API int comp_mouse_6d_raws(vr_ctx *ctx, vr_lt_unit *unit, dmat out);
/* The pose of the unit's newest raw record alone (no fit, no prediction). */
VR_API void comp_mouse_6d_raw(vr_lt_unit *unit, dmat out);
/* Least-squares line through up to eight (time, x, y, z) samples, evaluated at future_time, as a
 * translation into out: 1 / 0. */
VR_API int least_sq_fit_avg(const double times[8], double pos[8][4], dmat out, int n);

/* Timing statistics of the raw glasses path: records 0..254 of stats, cur_stat the next one
 * (255 = off; it starts there). */
VR_API extern vr_lt_stat stats[256];
VR_API extern int cur_stat;
/* Prints the timing statistics of the raw glasses path (stats[0..cur_stat)) on standard output. */
VR_API void dump_stats(void);

/* Tracker dispatch and per-frame handlers */
/* Starts the trackers chosen by VR_GLASSES_SOURCE (and VR_MOUSE_SOURCE): 1 = running (or
 * VR_TRACKING_NONE), 0 = failed or unknown source. */
VR_API int vr_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse);
/* Restarts the Logitech trackers after a pause (the DynaSight has no restart). */
VR_API void vr_re_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse);
/* Stops the trackers of VR_GLASSES_SOURCE and clears their handlers. */
VR_API void vr_remove_glasses_and_mouse_6d(vr_ctx *ctx);
/* Mouse handler (run by vr_comp_view): new pose into VR_MOUSE_TO_DIG, VR_MOUSE_TO_PLATE, the three
 * tip points and VR_MOUSE_BUTTONS (CyberMan: VR_CYBERMAN_STATE only). */
VR_API void vr_lt_event_mouse3d(vr_ctx *ctx);
/* Glasses handler (run by vr_comp_view): new head pose into VR_HEAD_TO_DIG and the predicted eyes
 * into VR_SCREEN_LEFT_EYE / _RIGHT_EYE (plate cm). */
VR_API void vr_lt_event_glasses(vr_ctx *ctx);
/* out = the receiver frame of a 6D pose ("6Dm") to the tracker frame: roll x pitch x yaw x
 * translation. */
VR_API void build_mat_6Dm_to_dig(vr_lt_unit *unit, const vr_lt_6d *pose, dmat out);
/* 6D-report eyes: the eye offsets through the head pose, extrapolated one frame by head speed
 * (VR_PREDICT_RAMP_*), into plate cm, moved 1.1 cm toward the gaze target. */
VR_API void vr_lt_predict_eye_nodal_points(vr_lt_unit *unit, vr_ctx *ctx, const vr_lt_6d *pose,
                                           dpt left_out, dpt right_out);
/* Raw-mode eyes: as above without extrapolation (the raw solver predicts); pose is not read. */
VR_API void vr_lt_new_predict_eye_nodal_points(vr_lt_unit *unit, vr_ctx *ctx,
                                               const vr_lt_6d *pose, dpt left_out,
                                               dpt right_out);

/* DynaSight optical head tracker */
VR_API extern vr_lt_unit *vr_ds_glasses_unit;
VR_API extern char vr_ds_message[256];
/* DynaSight set-up: opens port A, installs the glasses handlers: 1 = running (or tracking
 * disabled), 0 = failed (vr_ds_message). */
VR_API int vr_ds_init_glasses(vr_ctx *ctx);
/* Stops the DynaSight, frees its unit record, clears the glasses handlers. */
VR_API void vr_ds_remove_glasses(vr_ctx *ctx);
/* A new zeroed unit record with the name stored (freed by vr_ds_remove_glasses). */
VR_API vr_lt_unit *vr_ds_device_create(const char *name);
/* Opens and configures the DynaSight line: 1 / 0. */
VR_API int vr_ds_port_open(void);
/* Closes the DynaSight line. */
VR_API void vr_ds_port_close(vr_lt_unit *unit);
/* The newest DynaSight record as a position in cm, angles 0: 1, or 0 when there is none. */
VR_API int vr_ds_get_6d(vr_lt_unit *unit, vr_lt_6d *out);
/* Copies the newest 8-byte record into unit->record: 1 / 0. */
VR_API int vr_ds_obtain_current_event(vr_lt_unit *unit);
/* The DynaSight ring's write offset now. */
VR_API int vr_ds_obtain_current_offset(vr_lt_unit *unit);
/* Prints a decoded record (as a 6D report's fields) on the standard error stream. */
VR_API void print_vr_ds_i_event(const vr_lt_event *event);

/* ------------------------------------------------------------------------------------------ */
/* Extension beyond the fixed interface: the platform layer.                                    */
/*                                                                                              */
/* Every call the library makes into the operating system (clocks, whole-second sleep, serial   */
/* lines, the capture area) goes through one table of entries. The default table is Linux/POSIX */
/* (termios lines, CLOCK_MONOTONIC and CLOCK_THREAD_CPUTIME_ID clocks, mmap of the capture      */
/* device). An application may install its own table, for instance to reach the devices        */
/* through another system's interfaces; the simulator (vrsim) installs one to run the real      */
/* drivers against simulated devices in virtual time. Nothing here is needed by an application */
/* that uses the devices on the default paths of a Linux machine.                               */
/*                                                                                              */
/* The table is read on every call, from the application's thread; install it while no tracker */
/* is running (before vr_init_glasses_and_mouse_6d or after vr_quit).                           */
/* ------------------------------------------------------------------------------------------ */

/* Serial line settings, independent of the system's terminal interface. The drivers use two
 * kinds: the Logitech units' line (19200 baud, 8 data bits, no parity, 1 stop bit, local,
 * receiver on, no hang-up on close, raw, minimum read 0, timeout 1) and the CyberMan's two
 * start-up stages (1200 baud 7 bits, then 4800 baud 8 bits, not local, starting from the line's
 * current settings with its processing flags kept: raw = 0). */
typedef struct vr_line_settings {
  int baud;            /* 1200, 4800, 9600, 19200, ... */
  int data_bits;       /* 5 to 8 */
  int parity;          /* 0 = none, 1 = odd, 2 = even */
  int stop_bits;       /* 1 or 2 */
  int local;           /* non-zero = modem status lines ignored */
  int read_enable;     /* non-zero = receiver enabled */
  int hangup_on_close; /* non-zero = drop the modem lines on the last close */
  int raw;             /* set: input, output and local processing all turned off;
                          0 in line_set: that processing is left as the line has it;
                          from line_get: 1 when all of it is off */
  int min_read;        /* minimum read count, 0..255 */
  int read_timeout;    /* read timeout, tenths of a second, 0..255 */
} vr_line_settings;

/* Modem control lines, as a bit set. */
enum { VR_MODEM_DTR = 1, VR_MODEM_RTS = 2 };

/* The entries. Every entry receives `user` first. Entries returning an error number return 0
 * for success and the system's error number (never 0) for failure. */
typedef struct vr_platform {
  void *user;
  /* Monotonic real time in nanoseconds from an arbitrary origin (the physical world time). */
  long long (*hrtime)(void *user);
  /* Processor time consumed by the calling thread, nanoseconds (polled by vr_usleep). */
  long long (*hrvtime)(void *user);
  /* A pause of whole seconds; returns only when all of it has passed. */
  void (*sleep_seconds)(void *user, unsigned seconds);
  /* Opens a serial line read-write, never waiting for carrier and never becoming the
   * controlling terminal: a descriptor greater than 0 (the drivers take 0 for "closed"), or -1.
   * The descriptor blocks until line_nodelay is applied. */
  int (*line_open)(void *user, const char *path);
  /* Writes count bytes: the count written, or -1. */
  int (*line_write)(void *user, int fd, const void *bytes, int count);
  /* Closes a line; also closes a capture device descriptor that could not be mapped. */
  void (*line_close)(void *user, int fd);
  /* Reads the line's settings; error number. */
  int (*line_get)(void *user, int fd, vr_line_settings *out);
  /* Applies settings at once; error number. A line that does not take the speed or character
   * size asked for reports a failure (EINVAL) rather than running at another one. */
  int (*line_set)(void *user, int fd, const vr_line_settings *settings);
  /* Raises (raise non-zero) or drops the modem lines named in `lines`; error number (a line
   * without modem lines, such as a pseudo-terminal, reports its error). */
  int (*line_modem)(void *user, int fd, int lines, int raise);
  /* Discards what is queued on the line in both directions; error number. */
  int (*line_flush)(void *user, int fd);
  /* Adds the no-delay (non-blocking) flag to the line's file status flags; error number. */
  int (*line_nodelay)(void *user, int fd);
  /* 1 and the topmost stream module's name (terminated, truncated to size) when a module sits
   * on the line, else 0 and an empty name. Linux has no stream modules: always 0. */
  int (*line_top_module)(void *user, int fd, char *name, int size);
  /* Pops the topmost stream module; error number. */
  int (*line_pop_module)(void *user, int fd);
  /* Opens the capture device read-write: a descriptor (>= 0) or -1. The default platform
   * does not follow a symbolic link at the path. */
  int (*capture_open)(void *user, const char *path);
  /* Maps the device's 4096-byte capture area (offset 65536, shared, read-write) for the rest
   * of the process, or returns NULL (a regular file standing in for the device must hold the
   * whole area). The default platform also returns NULL for an area that other users may
   * write, unless VRLIB_CAPTURE_UNSAFE=1 (see "device paths from the environment"). */
  unsigned char *(*capture_map)(void *user, int fd);
  /* Extension: UDP datagram sockets (the network head-tracker source and the pose output).
   * Addresses are IPv4 in host byte order (0x7F000001 = 127.0.0.1, 0 = every interface).
   * Opens a socket bound to address:port (port 0: any free port) that never blocks, and puts
   * its descriptor (>= 0) in *fd; error number. */
  int (*udp_open)(void *user, unsigned address, int port, int *fd);
  /* Takes the oldest waiting datagram without waiting: its whole length (only the first `size`
   * bytes are stored; a longer datagram is still reported with its true length), and in
   * *arrival_ns when it arrived, on the hrtime clock. -1 when none waits or on an error. */
  int (*udp_receive)(void *user, int fd, unsigned char *bytes, int size, long long *arrival_ns);
  /* Sends one datagram to address:port without waiting; error number. */
  int (*udp_send)(void *user, int fd, unsigned address, int port, const unsigned char *bytes,
                  int count);
  void (*udp_close)(void *user, int fd);
} vr_platform;

/* Installs a copy of the table. A table with any entry missing (NULL) is refused and the
 * default platform stays in use; NULL restores the default. */
VR_API void vr_platform_install(const vr_platform *platform);
/* The table in use (the default one when nothing is installed), and the default one. */
VR_API const vr_platform *vr_platform_current(void);
VR_API const vr_platform *vr_platform_default(void);

/* Device paths: the lines of ports A and B and the two names under which the capture device may
 * be installed (the Logitech driver tries both in turn, the DynaSight driver only the first).
 * When the capture device cannot be opened or mapped, the drivers print "Open of kel failed,
 * is driver installed?" to the standard error stream and their set-up returns 0; the process
 * goes on. */
enum {
  VR_DEVICE_TTYA = 0,       /* "/dev/ttya" */
  VR_DEVICE_TTYB = 1,       /* "/dev/ttyb" */
  VR_DEVICE_CAPTURE = 2,    /* "/devices/pseudo/kel:kel" */
  VR_DEVICE_CAPTURE_ALT = 3 /* "/devices/pseudo/kel@0:kel" */
};
/* Changes one path (copied; 1 to 255 bytes); NULL restores its default. 1 = done, 0 = bad
 * argument (unknown device, empty or too long path: the path stays as it was). Set the paths
 * before the trackers are initialised; the messages of the drivers name the paths in use. */
VR_API int vr_set_device_path(int which, const char *path);
/* The path in use for a device, or NULL for an unknown device. The text stays valid until the
 * path is changed. */
VR_API const char *vr_device_path(int which);

/* ------------------------------------------------------------------------------------------ */
/* Extension: device paths from the environment.                                               */
/*                                                                                              */
/* The default paths can also come from environment variables, read once at the first look-up */
/* of any device path (vr_device_path, or a tracker set-up):                                    */
/*   VRLIB_TTYA     the line of port A (VR_DEVICE_TTYA), e.g. /dev/ttyUSB0 or /dev/vrlib-a     */
/*   VRLIB_TTYB     the line of port B (VR_DEVICE_TTYB)                                         */
/*   VRLIB_CAPTURE  the capture file, used for both capture names (VR_DEVICE_CAPTURE and        */
/*                  VR_DEVICE_CAPTURE_ALT), so the Logitech and DynaSight drivers map the same  */
/*                  area; the capture daemon vrcapd fills it (default /dev/shm/vrlib-capture).  */
/*   VRLIB_CAPTURE_UNSAFE  "1" lets the default platform map a capture area that other users    */
/*                  may write (mode o+w; read at each mapping). UNSAFE: any user can then write */
/*                  fake records that the drivers decode as poses. Otherwise such an area is    */
/*                  refused like a missing device ("Open of kel failed, ..."). Group write is   */
/*                  allowed (vrcapd --group). A symbolic link at the capture path is refused.   */
/* Order: a path set with vr_set_device_path wins; otherwise the environment variable when it  */
/* is set and not empty (so a launcher such as "vrcapd -- app" reaches an application whatever  */
/* its set-up file says); otherwise the [devices] keys of a loaded set-up file (vr_config_load, */
/* VRLIB_CONFIG); otherwise the built-in name above. vr_set_device_path(which, NULL) undoes the */
/* application's path only: the environment's, the file's or the built-in one counts again. A   */
/* value of 256 bytes or more is ignored with one line on the standard error stream. Unset, and */
/* with no set-up file, every result is as before.                                              */
/* ------------------------------------------------------------------------------------------ */

/* ------------------------------------------------------------------------------------------ */
/* Extension beyond the fixed interface: typed attribute accessors.                             */
/*                                                                                              */
/* vr_object_set / vr_object_get take the value's type from the identifier, so a value of the   */
/* wrong C type (the int 1920 for a double, 1.0 for an int) is silently misread and the rest of */
/* the list goes astray. The typed accessors check the identifier's type and access against the */
/* attribute table first, refuse what does not fit with a result code and one message on the   */
/* standard error stream naming the identifier, and reach the extension attributes too          */
/* (identifiers from 130 on, which vr_object_set and vr_object_get refuse as they always have). */
/* ------------------------------------------------------------------------------------------ */

typedef enum vr_result {
  VR_OK = 0,               /* done */
  VR_ERR_UNKNOWN_ID = 1,   /* no attribute has this identifier */
  VR_ERR_WRONG_TYPE = 2,   /* the attribute holds another type than the accessor's */
  VR_ERR_NOT_SETTABLE = 3, /* the attribute can only be read */
  VR_ERR_BAD_VALUE = 4,    /* refused value (non-finite, zero size, out of range, null) */
  VR_ERR_NOT_GETTABLE = 5, /* the attribute can only be written (the callback slots) */
  VR_ERR_NO_VIEW = 6       /* vr_eye_matrices: no such view yet (see there) */
} vr_result;
/* When more than one code applies to a typed access, the first check that fails decides, in
 * this order, and only its message is printed:
 *   1. an unknown identifier: VR_ERR_UNKNOWN_ID (even with a NULL context);
 *   2. a getter on a set-only callback slot: VR_ERR_NOT_GETTABLE, whatever type it asked for
 *      (vr_get_double on VR_MOUSE_EVENT_FN is NOT_GETTABLE, not WRONG_TYPE);
 *   3. the type: VR_ERR_WRONG_TYPE (vr_set_double on a read-only point such as VR_LEFT_EYE is
 *      WRONG_TYPE, not NOT_SETTABLE);
 *   4. a setter on a read-only attribute: VR_ERR_NOT_SETTABLE, whatever the value (a NaN for a
 *      read-only double is NOT_SETTABLE);
 *   5. a NULL context or value pointer: VR_ERR_BAD_VALUE;
 *   6. a setter's value itself (non-finite, a size of 0, out of range, a singular frame):
 *      VR_ERR_BAD_VALUE. */

/* The type an attribute holds, as the typed accessors see it. */
typedef enum vr_attr_type {
  VR_TYPE_NONE = 0,   /* no such attribute */
  VR_TYPE_DOUBLE = 1, /* vr_set_double / vr_get_double */
  VR_TYPE_INT = 2,    /* vr_set_int / vr_get_int */
  VR_TYPE_POINT = 3,  /* vr_set_point / vr_get_point: three doubles */
  VR_TYPE_MATRIX = 4, /* vr_set_matrix / vr_get_matrix: a dmat */
  VR_TYPE_OTHER = 5   /* blocks and callbacks: only through vr_object_set / vr_object_get */
} vr_attr_type;

/* Set one attribute from a value of the attribute's own type (VR_TYPE_DOUBLE, _INT, _POINT:
 * three doubles, copied) and run its effect, as vr_object_set does for the same identifier
 * (screen and window sizes still wait for vr_window_comp). VR_OK; VR_ERR_UNKNOWN_ID,
 * VR_ERR_WRONG_TYPE, VR_ERR_NOT_SETTABLE (read-only), VR_ERR_BAD_VALUE (NULL context or value,
 * non-finite, a size of 0): nothing is stored, one line on the standard error stream, e.g.
 * "vr_set_int: attribute 1 (VR_SCREEN_WIDTH_PIXELS) holds a double". */
VR_API vr_result vr_set_double(vr_ctx *ctx, int id, double value);
VR_API vr_result vr_set_int(vr_ctx *ctx, int id, int value);
VR_API vr_result vr_set_point(vr_ctx *ctx, int id, const dpt value);
/* Sets a frame by value (copied; it reads back bit for bit). Accepted: VR_DIG_TO_PLATE,
 * VR_WORLD_TO_COEXISTENCE and VR_COEXISTENCE_TO_WORLD (each also sets the other to its inverse,
 * in full precision), VR_HEAD_VIEW_BASE, VR_CORNER_DIR_MATRIX, VR_PLATE_TO_GODS_EYE and
 * VR_GODS_EYE_TO_DIG (the coexistence frame is made consistent at once; the display rebuilds
 * the god's-eye base while VR_COEXISTENCE_BASE is 1 and VR_GODS_EYE_CENTER_MODE is not 0, so set
 * one of those first), and the tracker inputs VR_HEAD_TO_DIG and VR_MOUSE_TO_DIG (for
 * applications without the library's trackers; an installed tracker overwrites them each frame).
 * All but VR_HEAD_VIEW_BASE and VR_CORNER_DIR_MATRIX must be invertible (else VR_ERR_BAD_VALUE).
 * The frames the library derives (views, plate_to_coexistence, head_to_world, ...) are
 * VR_ERR_NOT_SETTABLE. */
VR_API vr_result vr_set_matrix(vr_ctx *ctx, int id, const dmat value);
/* Read one attribute into the caller's storage (a matrix is copied). VR_OK; VR_ERR_UNKNOWN_ID,
 * VR_ERR_NOT_GETTABLE (the set-only callback slots), VR_ERR_WRONG_TYPE, VR_ERR_BAD_VALUE (NULL):
 * nothing is written, one line on the standard error stream. */
VR_API vr_result vr_get_double(vr_ctx *ctx, int id, double *out);
VR_API vr_result vr_get_int(vr_ctx *ctx, int id, int *out);
VR_API vr_result vr_get_point(vr_ctx *ctx, int id, dpt out);
VR_API vr_result vr_get_matrix(vr_ctx *ctx, int id, dmat out);
/* The type of an attribute (VR_TYPE_NONE for an unknown identifier) and its name as written in
 * this header ("VR_SCREEN_WIDTH_CM"), or NULL for an unknown identifier. */
VR_API vr_attr_type vr_attr_type_of(int id);
VR_API const char *vr_attr_name(int id);

/* Extension attribute identifiers are grouped in blocks, one per area:
 *   130..159  view safety, tracking status and graphics conventions
 *   160..189  display-time tracking
 *   190..219  network head trackers and pose output
 *   220..239  configuration and calibration
 *   240..269  lab trackers and screen walls */

/* ------------------------------------------------------------------------------------------ */
/* Extension: view safety and tracking status (identifiers 130..144).                          */
/* ------------------------------------------------------------------------------------------ */

/* Values that cannot be geometry. vr_object_set refuses a non-finite double or point for any
 * attribute, and a screen or window size of 0 (cm or pixels), with "Bad value for vr_object_set
 * %d" and the identifier on the standard error stream; the value is taken from the list and the
 * old one stays. vr_window_match_ws with a width or height of 0 or less (a minimised window)
 * keeps the previous window, and with it the views, silently. VR_INTEROCULAR takes a negative
 * distance by its size, as VR_LEFT_EYE_OFFSET_X and VR_RIGHT_EYE_OFFSET_X keep each eye on its
 * own side: the eyes never swap.
 *
 * View safety. vr_comp_view never hands out a view, eye-relative view, head or mouse matrix
 * with an infinite or NaN entry: when a frame's matrices come out non-finite (clip planes that
 * meet, a field of view of 0 in the fixed-field eye mode, a tracker pose that is not finite, or
 * any other combination no setter can foresee), the matrices of the last good frame are kept,
 * the frame is counted, and the first such frame of a context prints one line on the standard
 * error stream naming the cause ("vr_comp_view: matrices not finite (hither and yon
 * coincide); the last good frame is kept"). Three groups are kept or restored each as a whole:
 * the views (left_view, right_view, the eye-relative views, world_up, the corner directions, the
 * eye points, the normalised depths), the head (head_to_dig and the screen eye points while a
 * glasses handler is installed, head_to_world while it is wanted) and the mouse (mouse_to_dig,
 * mouse_to_plate and the tip points while a mouse handler is installed, mouse_to_world while it
 * is wanted). Before its first frame, a context's last good frame is what it holds then. A frame
 * with finite matrices is not touched.
 *
 * Set-up failures. A Logitech set-up whose streaming or raw-mode command cannot be written, and
 * a CyberMan whose start command cannot be written, end the set-up (it returns 0, the lines are
 * closed) with "Could not send the streaming command to the logitech units" (or "raw mode"), or
 * "Could not start the CyberMan on "<path>"", in vr_lt_message: such a tracker would never
 * send a pose.
 *
 * Tracking status. For the head (glasses) and the mouse, the tracker handlers note each frame
 * whether a fresh pose arrived: a new 6D report, raw record, DynaSight record or CyberMan packet
 * in the capture ring (for raw records, one whose unit time stamp has moved on: a unit whose
 * clock stands still sends no fresh pose), an accepted datagram of the network source
 * (VR_SOURCE_NETWORK), or a report of the VRPN source's sensor. Every head and mouse source
 * notes it, with VR_TRACK_DISPLAY_TIME off and on alike. From that follow the age of the newest
 * fresh pose and a state. Each change to stale or lost, and each return to tracking from them,
 * is written to vr_ds_message (DynaSight) or vr_lt_message (every other source), e.g.
 * "Head tracker stale: no fresh pose for 0.27 s", "Mouse tracker lost: no fresh pose for 1.00 s",
 * "Head tracker tracking again". A 6D report carries no unit time: a stalled unit clock shows
 * only on the raw path. Power off, an unplugged line and a stalled clock are reported stale
 * within 0.25 s plus one frame; the first fresh pose returns the state to tracking. */
enum {
  VR_TRACK_NONE = 0,     /* no handler of this tracker has run in this context yet */
  VR_TRACK_TRACKING = 1, /* a fresh pose within the last VR_TRACK_STALE_SECONDS */
  VR_TRACK_STALE = 2,    /* no fresh pose for VR_TRACK_STALE_SECONDS */
  VR_TRACK_LOST = 3      /* no fresh pose for VR_TRACK_LOST_SECONDS */
};
#define VR_TRACK_STALE_SECONDS 0.25
#define VR_TRACK_LOST_SECONDS 1.0

enum {
  /* int, read-only: frames whose matrices were kept from the last good frame; default 0. */
  VR_VIEW_FAULTS = 130,
  /* int, read-only: VR_TRACK_* state of the head tracker; default VR_TRACK_NONE. */
  VR_HEAD_TRACK_STATE = 131,
  /* double, read-only, seconds: age of the head tracker's newest fresh pose (before the first
   * one: time since its handler first ran); default 0 (state VR_TRACK_NONE). It counts from the
   * pose's arrival as the library sees it, the frame (vr_comp_view) whose handler first read the
   * pose, so it is 0 in that frame and grows by the frame intervals after it; never from a
   * measurement stamp (a VRPN time stamp, a sender's latency or VR_TRACKER_DELAY do not enter),
   * so that it means the same for every source. The measurement's own time, where a source knows
   * it, is VR_VRPN_HEAD_POSE_TIME; the network datagram's arrival is VR_NET_LAST_ARRIVAL. */
  VR_HEAD_POSE_AGE = 132,
  /* int, read-only: VR_TRACK_* state of the mouse tracker; default VR_TRACK_NONE. */
  VR_MOUSE_TRACK_STATE = 133,
  /* double, read-only, seconds: as VR_HEAD_POSE_AGE, for the mouse; default 0. */
  VR_MOUSE_POSE_AGE = 134
};

/* ------------------------------------------------------------------------------------------ */
/* Extension: graphics conventions and presets (identifiers 145..159).                         */
/* ------------------------------------------------------------------------------------------ */

/* Named values of the fixed mode attributes. The numbers are the fixed ones; the names only
 * spell them out. "Any other value" notes say what the library does with numbers not listed. */

/* VR_GAZE_MODE: where the tracked eyes are taken to look (the eye points are moved 1.1 cm along
 * that line of sight); any value but 1 looks at the mouse tip. */
enum { VR_GAZE_WINDOW_CENTER = 1, VR_GAZE_MOUSE_TIP = 2 };
/* VR_CRT_CURVATURE: shape of the face plate's outer surface; any value but 1 is cylindrical. */
enum { VR_CRT_SPHERICAL = 1, VR_CRT_CYLINDRICAL = 2 };
/* VR_TRACKING_MODE: 0 = no trackers (their set-up returns at once), 5 = head-mounted display
 * frames, any other value = a desk-top display. */
enum { VR_TRACKING_NONE = 0, VR_TRACKING_DESKTOP = 1, VR_TRACKING_HEAD_MOUNTED = 5 };
/* VR_GLASSES_SOURCE: the head tracker; other values: no head tracker. */
enum {
  VR_GLASSES_SOURCE_LOGITECH_RAW = 1, /* ultrasonic times of flight, solved by the library */
  VR_GLASSES_SOURCE_LOGITECH_6D = 2,  /* the unit's own 6D reports */
  VR_GLASSES_SOURCE_DYNASIGHT = 4     /* optical head tracker */
};
/* VR_MOUSE_SOURCE: the 3D mouse; any value but 1 and 3 reads 6D reports. */
enum {
  VR_MOUSE_SOURCE_LOGITECH_RAW = 1,
  VR_MOUSE_SOURCE_LOGITECH_6D = 2,
  VR_MOUSE_SOURCE_CYBERMAN = 3 /* buttons and motions only (VR_CYBERMAN_STATE), no pose */
};
/* VR_EYE_POS_MODE: how vr_cache_eye_pos places the eyes; any other value (for instance 0)
 * leaves VR_LEFT_EYE / VR_RIGHT_EYE as they are (an eye hook or the application writes them). */
enum {
  VR_EYES_FIXED_FIELD = 1,     /* before the window centre, far enough for the window's larger
                                  side to span VR_FIELD_OF_VIEW; x from the eye offsets */
  VR_EYES_SCREEN_RELATIVE = 2, /* at VR_SCREEN_LEFT_EYE / VR_SCREEN_RIGHT_EYE (tracked or set) */
  VR_EYES_WINDOW_RELATIVE = 3  /* before the window centre at the screen eyes' distance */
};
/* VR_MONO_EYE: the one eye of a mono view (VR_STEREO 0). Only the screen-relative mode knows a
 * right eye: the fixed-field and window-relative modes put VR_MONO_RIGHT at the window centre. */
enum { VR_MONO_BETWEEN = 1, VR_MONO_LEFT = 2, VR_MONO_RIGHT = 3 };
/* VR_HITHER_RELATIVE, VR_YON_RELATIVE, VR_DEPTH_FRONT_RELATIVE, VR_DEPTH_BACK_RELATIVE: the
 * distance is measured from the eye's z (relative; negative = beyond the eye, toward the screen)
 * or from the plate surface z = 0 (any other value). The yon and the back plane measure from
 * the left eye for both eyes. */
enum { VR_PLANE_EYE_RELATIVE = 1, VR_PLANE_PLATE_ABSOLUTE = 2 };
/* VR_HITHER_SCALE_MODE, VR_YON_SCALE_MODE: the distance in plate cm (any value but 2), or in
 * world units (2: multiplied by the cm per world unit, the length of VR_WORLD_TO_COEXISTENCE's
 * first row times VR_GODS_EYE_SCALE). The front depth
 * plane takes the hither's scale, the back one the yon's; VR_DEPTH_*_SCALE_MODE are stored only. */
enum { VR_PLANE_CM = 1, VR_PLANE_WORLD_UNITS = 2 };
/* VR_COEXISTENCE_CENTER and VR_COEXISTENCE_BASE: positions of the coexistence origin (other
 * values: no offset). */
enum {
  VR_COEXISTENCE_AT_GODS_EYE = 1, /* the god's-eye origin (window or screen centre) */
  VR_COEXISTENCE_IN_FRONT = 2,    /* VR_COEXISTENCE_DISTANCE cm toward the viewer from it */
  VR_COEXISTENCE_RAISED = 3       /* and VR_COEXISTENCE_HEIGHT cm up from there */
};
/* VR_GODS_EYE_CENTER_MODE and VR_GODS_EYE_SIZE_MODE: what the god's-eye frame is built from.
 * Centre mode 0 (and other values) keeps the frame as it is (not rebuilt, and the end-of-frame
 * consistency run is skipped); size mode 0 (and other values) keeps VR_GODS_EYE_SCALE. */
enum { VR_GODS_EYE_KEPT = 0, VR_GODS_EYE_WINDOW = 1, VR_GODS_EYE_SCREEN = 2 };

/* The kind of display, for vr_ctx_create_display. */
typedef enum vr_display_kind { VR_DISPLAY_FLAT_PANEL = 1, VR_DISPLAY_CRT = 2 } vr_display_kind;

/* A context for a given display, all other settings as vr_ctx_create gives them:
 *   - the screen: width_cm x height_cm (the visible picture, > 0) of width_px x height_px pixels
 *     (> 0); the window covers the whole screen, with the window computation applied;
 *   - VR_CRT_CORRECTION 0 for a flat panel (the picture is on its front surface), 1 for a CRT
 *     (with the default glass of vr_ctx_create);
 *   - the tracker transmitter placed as the default context places it relative to its own screen:
 *     leaning 50 degrees, 11.81 cm above the top edge and 0.03 cm right of its middle, 4.6 cm in
 *     front of the plate;
 *   - the fixed viewer centred: VR_SCREEN_LEFT_EYE / VR_SCREEN_RIGHT_EYE at (width/2 -+ 3.3,
 *     height/2, 60) cm, so the mono eye sits 60 cm before the screen centre;
 *   - world units of one plate centimetre while the window covers the screen, origin at the
 *     window centre (VR_WORLD_TO_COEXISTENCE the uniform scale 2 / min(width_cm, height_cm)):
 *     what vr_ctx_create's fixed scale 2 / 25.9 gives on its own screen. Like there, the world
 *     follows the window when it changes; vr_world_in_plate_cm fixes it to the plate.
 * NULL on bad arguments (with a message on the standard error stream) or when memory runs out.
 * The application releases the context with free(). */
VR_API vr_ctx *vr_ctx_create_display(double width_cm, double height_cm, int width_px, int height_px,
                                     vr_display_kind kind);

/* World coordinates become plate coordinates, in desk-top mode: physical centimetres, origin at
 * the plate's lower-left corner, x right, y up, z toward the viewer (the screen surface is
 * z = 0), whatever the window does later. It is a one-call use of the coexistence modes: the
 * god's-eye frame is kept (VR_GODS_EYE_CENTER_MODE VR_GODS_EYE_KEPT) and set to the plate
 * itself (VR_PLATE_TO_GODS_EYE identity, VR_GODS_EYE_SCALE 1), the coexistence centre stays at
 * its origin (VR_COEXISTENCE_BASE and _CENTER VR_COEXISTENCE_AT_GODS_EYE), and the world is not
 * scaled (VR_WORLD_TO_COEXISTENCE and VR_COEXISTENCE_TO_WORLD identity). A world elsewhere in
 * physical units is then one vr_set_matrix of VR_WORLD_TO_COEXISTENCE away (coexistence = plate).
 * Setting any of those attributes again undoes it. (The existing screen modes alone,
 * VR_GODS_EYE_SIZE_MODE and _CENTER_MODE VR_GODS_EYE_SCREEN with an identity world, also give
 * centimetres independent of the window, with the origin at the screen centre.)
 * VR_OK, or VR_ERR_BAD_VALUE for a NULL context. */
VR_API vr_result vr_world_in_plate_cm(vr_ctx *ctx);

/* Depth conventions of clip coordinates: the depth a point on the near (hither) plane and one on
 * the far (yon) plane get after the division by w. */
typedef enum vr_depth_convention {
  VR_DEPTH_LIBRARY = 0,          /* the library's own: +1 near, -1 far, as in VR_LEFT_VIEW:
                                    draw with glDepthRange(1, 0), or clear to 0 and GL_GREATER */
  VR_DEPTH_GL = 1,               /* OpenGL: -1 near, +1 far (clear to 1, GL_LESS) */
  VR_DEPTH_ZERO_ONE = 2,         /* Vulkan, Direct3D, Metal: 0 near, 1 far; in OpenGL with
                                    glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE) (4.5) */
  VR_DEPTH_REVERSED_ZERO_ONE = 3 /* 1 near, 0 far (clear to 0, GL_GREATER): the best depth
                                    precision with a floating-point depth buffer */
} vr_depth_convention;

enum { VR_EYE_LEFT = 0, VR_EYE_RIGHT = 1 };

/* The view that the last vr_comp_view built for one eye (VR_EYE_LEFT: the left or only eye;
 * VR_EYE_RIGHT: the right eye of a stereo frame), split in two, as float column-major arrays
 * ready for glUniformMatrix4fv(location, 1, GL_FALSE, m) (and for the column-vector shader
 * convention clip = projection * view * vec4(world, 1)):
 *   - view: world to eye. The eye's frame has the plate's axes (x right, y up, z toward the
 *     viewer; the eye looks along -z) and its origin at the eye, in centimetres. It is the world
 *     to plate chain of that frame (VR_WORLD_TO_COEXISTENCE x VR_COEXISTENCE_TO_PLATE) followed
 *     by the shift of the eye to the origin, so it holds no rotation of its own;
 *   - projection: eye to clip coordinates, the off-axis frustum through the window's edges (as
 *     that eye sees them through the face plate when VR_CRT_CORRECTION is on), from the hither
 *     to the yon plane, with the depth given in the chosen convention.
 * projection x view equals that eye's VR_LEFT_VIEW / VR_RIGHT_VIEW (as a column-vector matrix)
 * after the depth remap, to rounding. The arrays are a dmat's rows laid end to end, as for
 * glLoadMatrixd; vr_dmat_to_fmat of VR_LEFT_VIEW gives the same layout of the combined matrix.
 * VR_OK; VR_ERR_BAD_VALUE for a NULL pointer, an eye other than 0 or 1 or an unknown depth
 * convention; VR_ERR_NO_VIEW before the first vr_comp_view, for the right eye after a mono
 * frame, and in the head-mounted mode (VR_TRACKING_HEAD_MOUNTED). A frame whose view came out
 * non-finite leaves the last good split. Nothing is written on failure; each failure prints one
 * line on the standard error stream. */
VR_API vr_result vr_eye_matrices(vr_ctx *ctx, int eye, vr_depth_convention depth,
                                 float projection[16], float view[16]);
/* The same in double precision, for tests and double pipelines (glUniformMatrix4dv). */
VR_API vr_result vr_eye_matrices_d(vr_ctx *ctx, int eye, vr_depth_convention depth,
                                   double projection[16], double view[16]);

/* Identifiers 145..159 are reserved for this area; none is in use yet. */

/* ------------------------------------------------------------------------------------------ */
/* Extension: display-time tracking (identifiers 160..189).                                    */
/* ------------------------------------------------------------------------------------------ */

/* What head tracking is for is where the eyes are while the frame is on the screen. With
 * VR_TRACK_DISPLAY_TIME on, every tracker is read for the display time of the frame: the moment
 * of vr_comp_view plus VR_DISPLAY_LATENCY (VR_DISPLAY_TIME hands out the moment used).
 *   - Raw ultrasonic units: each of the nine distances is fitted with a straight line over its
 *     newest VR_RAW_FIT_SLOTS measurements, each measurement placed at the moment its speaker
 *     fired (the unit's clock mapped onto physical world time by the arrival of its records, less
 *     the time on the line and VR_TRACKER_DELAY), and every line is evaluated at the display
 *     time, so that all nine distances describe one instant. VR_RAW_INTERPOLATE and the
 *     VR_PREDICT_* lead settings then do not apply.
 *   - 6D reports and the DynaSight: each new report is placed at the moment it was measured (its
 *     arrival, found from its place in the capture ring and the line's byte rate, and to within
 *     a byte time when a frame saw the report's first bytes come in; less the time on the line
 *     and, for the Logitech units, VR_TRACKER_DELAY) and fed to a double-exponential
 *     smoothing predictor of the position and the orientation, which gives the pose at the
 *     display time. A head slower than VR_PREDICT_RAMP_START (cm/s) is not extrapolated, and is
 *     fully extrapolated from VR_PREDICT_RAMP_END on, so that holding still does not jitter.
 *   - The network source (VR_SOURCE_NETWORK): every accepted datagram is placed at the moment
 *     it was measured (its arrival less VR_NET_SENDER_LATENCY, the sender's own latency; not
 *     VR_TRACKER_DELAY, which is the serial units') and fed to the same predictor, position and
 *     orientation.
 *   - The VRPN head (VR_GLASSES_SOURCE_VRPN): every head report is fed to the same predictor at
 *     its measurement time, VR_VRPN_HEAD_POSE_TIME (its VRPN time stamp on this clock), or, for a
 *     report without a stamp, its arrival less VR_TRACKER_DELAY.
 *   - Outliers, for every source: a distance, or a reported pose, that disagrees with its recent
 *     history by more than VR_OUTLIER_GATE robust standard deviations (1.4826 times the median
 *     absolute deviation of the recent disagreements), and by more than VR_OUTLIER_FLOOR, is not
 *     used (counted in VR_REJECTED_VALUES); three in a row on one channel are taken. A pose
 *     further from the last one used than VR_HEAD_SPEED_LIMIT allows for the time between them
 *     (plus 1 cm) is not used: the pose is held and the jump counted in VR_HELD_JUMPS. A quarter
 *     of a second of such poses in a row is taken as the head's new place.
 * No pose the mode produces is ever non-finite: a non-finite measurement is dropped, a time that
 * jumps (a clock set forward or back) starts the tracks afresh, and no prediction looks more than
 * 0.1 s (6D, DynaSight) or 0.15 s (raw) ahead of the newest measurement.
 * With the mode off (the default) nothing here changes any result. */
enum {
  VR_TRACK_DISPLAY_TIME = 160, /* int: 0 = off (default), 1 = on; other values are refused */
  VR_DISPLAY_LATENCY = 161,    /* double, seconds from vr_comp_view to the middle of the frame's
                                  scan-out. Default 0: one frame interval, estimated as the
                                  median of the last nine intervals between frames, each counted
                                  as at most 0.1 s (while fewer are known, the median of those,
                                  the lower middle one of an even count), so that one slow frame
                                  (a screenshot, a shader compile) does not throw the display
                                  time of the frames after it; a lasting change of frame rate is
                                  followed within five frames. Negative values are refused;
                                  values above 0.25 s are used as 0.25 s. */
  VR_TRACKER_DELAY = 162,      /* double, seconds a Logitech unit takes from a measurement to the
                                  first byte of its report or record on the line (serial units
                                  only; also used for a VRPN report without a time stamp). The
                                  network source has its own, VR_NET_SENDER_LATENCY. Default
                                  0.005; negative refused; used at most 0.2 s. */
  VR_OUTLIER_GATE = 163,       /* double, robust standard deviations. Default 4; 0 = no gate;
                                  negative refused. */
  VR_OUTLIER_FLOOR = 164,      /* double, cm: the gate is never narrower (for orientations, one
                                  tenth of this in radians). Default 0.5; negative refused. */
  VR_HEAD_SPEED_LIMIT = 165,   /* double, cm/s. Default 300; 0 and negative refused. */
  VR_PREDICT_SMOOTHING = 166,  /* double, seconds: time constant of the predictor's smoothed
                                  pose while the head moves. Default 0.01; negative refused. */
  VR_PREDICT_TREND = 167,      /* double, seconds: time constant of its smoothed velocity.
                                  Default 0.015; negative refused. */
  VR_RAW_FIT_SLOTS = 168,      /* int: measurements in each raw distance's line, 3 to 16.
                                  Default 8; other values are refused. */
  VR_HELD_JUMPS = 180,         /* int: poses held as jumps since the count was last set (set it
                                  to 0 to restart the count; negative refused). */
  VR_REJECTED_VALUES = 181,    /* int: distances and poses the outlier gate left out, likewise */
  VR_DISPLAY_TIME = 182        /* double, read only: the physical world time (seconds, the
                                  VR_PWORLD_TIME clock) the last frame's poses were found for */
};

/* The pose filter (VR_TRACK_FILTER = 1): instead of fitting each raw distance with its own line
 * and smoothing whole poses with the double-exponential predictor, one Kalman filter keeps the
 * head's position, velocity, acceleration, orientation and angular velocity, takes every
 * measurement at the moment it was taken, and predicts the head to the display time (as above:
 * the moment of
 * vr_comp_view plus VR_DISPLAY_LATENCY). It implies display-time tracking: with VR_TRACK_FILTER
 * at 1 every tracker is read for the display time even while VR_TRACK_DISPLAY_TIME is 0, and the
 * timing settings above (VR_DISPLAY_LATENCY, VR_TRACKER_DELAY, VR_HEAD_SPEED_LIMIT for the raw
 * units' jump hold) keep their meaning.
 *   - Raw ultrasonic units: each of the nine distances is one measurement at its speaker's firing
 *     moment (the distance from that speaker to that microphone through the filter's pose), so
 *     the nine stay consistent with one rigid receiver. Each is gated by its innovation (3.5
 *     standard deviations); the refused ones are counted in VR_REJECTED_VALUES, and this gate
 *     replaces VR_OUTLIER_GATE for raw distances. VR_RAW_FIT_SLOTS does not apply.
 *   - 6D reports, the DynaSight (position only), the network and the VRPN head: every pose is
 *     one measurement at its measurement time; through a dropout the filter coasts on its
 *     velocities (at most 0.5 s past the newest measurement) and takes up the next pose smoothly.
 *     VR_PREDICT_SMOOTHING, VR_PREDICT_TREND and VR_OUTLIER_GATE do not apply to the head.
 *   - Start-up and failures: the filter starts from the first solved (or reported) pose. It turns
 *     off after 1 s without a measurement taken, or after a run of 27 refused measurements (a
 *     state that disagrees with everything), and starts again from the next solved pose.
 *     VR_TRACK_FILTER_STATE reports what it does.
 *   - The head only: the mouse keeps the display-time path (the extension state has room for one
 *     filter).
 * When to use it: raw ultrasonic units, whose error on a moving head it roughly halves, and
 * whole-pose sources with dropouts (it about halves the worst error after one). It tracks the
 * head's acceleration, which takes up most of what is left over the 40 to 70 ms from measurement
 * to display (on the simulator: 6D reports 0.097 against 0.118 cm RMS, a 30 Hz network sender
 * 0.195 against 0.375 cm), and a still head jitters about as much as with the display-time path
 * (0.046 against 0.045 cm for raw units). The noise settings trade smoothness against following
 * quick changes of motion; the defaults suit a head at a desk. */
enum {
  VR_TRACK_FILTER = 169,          /* int: 0 = the display-time path (default), 1 = the pose
                                     filter (implies display time); other values are refused */
  VR_FILTER_ACCEL_NOISE = 170,    /* double, cm^2/s^3: spectral density of the head's random
                                     acceleration per axis. Larger follows starts and stops
                                     sooner, smaller smooths more. Default 30; 0 and negative
                                     refused. */
  VR_FILTER_TURN_NOISE = 171,     /* double, rad^2/s^3: the same for the head's turning. Default
                                     1; 0 and negative refused. */
  VR_FILTER_DISTANCE_SIGMA = 172, /* double, cm: one raw distance's effective error (the unit's
                                     noise plus its timing). Larger trusts the motion model more.
                                     Default 0.05; 0 and negative refused. */
  VR_TRACK_FILTER_STATE = 183     /* int, read only: the filter's state at the last frame: 0 off
                                     (not started, or lost and waiting for a pose), 1 converging,
                                     2 tracking, 3 coasting (no measurement for 60 ms) */
};

/* ------------------------------------------------------------------------------------------ */
/* Extension: network head trackers and pose output (identifiers 190..219).                    */
/* ------------------------------------------------------------------------------------------ */

/* A webcam face tracker (or any program) that sends its head pose as the opentrack "UDP over
 * network" datagram: 48 bytes, six IEEE-754 doubles, little-endian, in the order X, Y, Z
 * (centimetres), yaw, pitch, roll (degrees, applied yaw, then pitch, then roll). A 52-byte
 * datagram (the same 48 bytes and a 4-byte frame number) is read the same way. Datagrams of
 * any other length, holding NaN or infinity, or with an absurd value (a position further than
 * 10 m from the camera, an angle beyond 360 degrees) are dropped and counted. The limits
 * themselves are not absurd: a point exactly 1000 cm from the camera (the length of X, Y, Z
 * together, not each value) and angles of exactly +-360 degrees are accepted, anything beyond
 * is dropped. The check reads the datagram's values as sent, before the axis mapping.
 *
 * glasses_source (VR_GLASSES_SOURCE, attribute 40) takes, besides 1 (Logitech raw records),
 * 2 (Logitech 6D reports) and 4 (DynaSight), the extension value VR_SOURCE_NETWORK. Its set-up
 * (vr_init_glasses_and_mouse_6d; the mouse request is ignored, tracking_mode 0 starts nothing
 * and succeeds) binds a UDP socket to VR_NET_BIND_ADDRESS:VR_NET_BIND_PORT, or to the
 * environment's VRLIB_OPENTRACK=host:port when that is set; it returns 0 with a message in
 * vr_net_message (also on the standard error stream) when the socket cannot be bound. Every
 * set-up reads VRLIB_OPENTRACK afresh, in the forms vr_net_set_endpoint takes
 * ("a.b.c.d:port", "a.b.c.d", ":port", "localhost[:port]"); a part it leaves out keeps
 * VR_NET_BIND_ADDRESS or VR_NET_BIND_PORT, and it never changes those attributes (they read
 * back as set). Set but empty counts as unset. Anything else (a host name, port 0 or above
 * 65535, spaces, a trailing character) fails the set-up: 0, nothing bound, and the message
 * "network head tracker: VRLIB_OPENTRACK="..." is not host:port (IPv4)"; the source does not
 * fall back to the set-up's address, which would hide the mistake. Every
 * frame the glasses handler takes every waiting datagram without waiting, keeps the newest
 * pose, and places the eyes from it with the same one-frame eye prediction as the DynaSight
 * (with VR_TRACK_DISPLAY_TIME on: from the pose predicted for the display time, every datagram
 * feeding the predictor).
 * While this source runs, the tracker frame ("dig", VR_HEAD_TO_DIG) is the camera's frame and
 * VR_DIG_TO_PLATE holds the camera's pose on the plate, made from VR_NET_CAMERA_OFFSET and
 * VR_NET_CAMERA_TILT every frame; removal (vr_quit) closes the socket and gives VR_DIG_TO_PLATE
 * back its previous value.
 *
 * The camera's frame: x to the viewer's right, y up, z from the camera toward the viewer; the
 * head's frame (in which VR_LEFT_EYE_OFFSET and VR_RIGHT_EYE_OFFSET are given) has the same
 * axes when the viewer faces the screen. The six packet values become the head pose through
 * the axis mapping VR_NET_MAP_X .. VR_NET_MAP_ROLL: each takes one packet value, by number
 * (1 = X, 2 = Y, 3 = Z, 4 = yaw, 5 = pitch, 6 = roll), negated when the number is negative;
 * positions take positions (1..3) and angles take angles (4..6). The default is the identity:
 * X right, Y up, Z growing away from the camera, yaw a turn to the viewer's left, pitch a nod
 * upward, roll a tilt toward the left shoulder (right-handed turns about y, x and z). */
enum { VR_SOURCE_NETWORK = 6 };

enum {
  /* int, IPv4 address in host byte order (0x7F000001 = 127.0.0.1; 0 = every interface) that
   * the source binds to. Default 0x7F000001: loopback only unless the user widens it. */
  VR_NET_BIND_ADDRESS = 190,
  /* int, UDP port 1..65535 the source binds to. Default 4242. */
  VR_NET_BIND_PORT = 191,
  /* point, cm, plate axes: where the camera's centre sits relative to the middle of the
   * screen's top edge. Default (0, 0, 0): centred on top of the screen. When the sender
   * centres its output (its zero is where the head was when centred), this is instead where
   * that centred head point sits, relative to the same place. */
  VR_NET_CAMERA_OFFSET = 192,
  /* double, radians: the camera's tilt about the plate's x axis; positive looks down toward
   * the viewer's chest. Default 0: facing the viewer, square to the screen. */
  VR_NET_CAMERA_TILT = 193,
  /* int, axis mapping (see above): the head's x, y, z, yaw, pitch and roll. Defaults 1..6. */
  VR_NET_MAP_X = 194,
  VR_NET_MAP_Y = 195,
  VR_NET_MAP_Z = 196,
  VR_NET_MAP_YAW = 197,
  VR_NET_MAP_PITCH = 198,
  VR_NET_MAP_ROLL = 199,
  /* double, seconds > 0: after this long without an accepted datagram the source counts as
   * silent: the last pose is held and vr_net_message says so. The next datagram resumes
   * tracking by itself. Default 0.5. */
  VR_NET_SILENCE_TIMEOUT = 200,
  /* int, read only: VR_NET_STATE_* below. */
  VR_NET_STATE = 201,
  /* int, read only, counted since the set-up: datagrams accepted, and datagrams dropped for
   * their length, for NaN or infinity, and for an absurd value. */
  VR_NET_PACKETS = 202,
  VR_NET_DROPS_LENGTH = 203,
  VR_NET_DROPS_NOT_FINITE = 204,
  VR_NET_DROPS_ABSURD = 205,
  /* double, read only, seconds of physical world time (VR_PWORLD_TIME): when the newest
   * accepted datagram arrived. -1 before the first. */
  VR_NET_LAST_ARRIVAL = 206,
  /* double, read only, seconds: how old the pose used for the eyes was at the last frame
   * (frame time minus arrival time; the sender's own latency comes on top). */
  VR_NET_POSE_AGE = 207,
  /* double, read only, per second: the smoothed rate of accepted datagrams. Each accepted
   * datagram after the first, arriving dt > 0 s after the one before it (arrival times as the
   * system stamped them), moves the rate a tenth of the way toward 1/dt; the first interval
   * sets it outright, and datagrams with the same arrival time add nothing. 0 until the second
   * datagram, and again after each set-up. Through silence it keeps its last value
   * (VR_NET_STATE says the source is silent). */
  VR_NET_RATE = 208,
  /* int: 1 sends the tracked head every frame as the same 48-byte datagram, 0 (default) does
   * not. Sent from vr_comp_view whenever the context has a head pose (VR_HEAD_TO_DIG not all
   * zero), from any head source: X, Y, Z are the head frame's origin on the plate (cm) and
   * yaw, pitch, roll its turn relative to the plate's axes (degrees), with the default axis
   * mapping, so another program decodes it as the head's pose on the plate. */
  VR_NET_OUTPUT = 210,
  /* int, IPv4 address in host byte order the output goes to. Default 0x7F000001. */
  VR_NET_OUTPUT_ADDRESS = 211,
  /* int, UDP port 1..65535 the output goes to. Default 4243 (4242 is the source's own). */
  VR_NET_OUTPUT_PORT = 212,
  /* int, read only: datagrams sent, and sends that failed (the socket could not be opened or
   * the system refused the datagram), since the context's defaults were set. */
  VR_NET_OUTPUT_SENT = 213,
  VR_NET_OUTPUT_ERRORS = 214
};

/* double, seconds: the sender's latency, from its measurement to the datagram's arrival. With
 * VR_TRACK_DISPLAY_TIME on, each datagram is dated its arrival less this (VR_TRACKER_DELAY is
 * the serial units' own and does not apply to this source). Default 0.005 (what the source used
 * before it had this setting); negative refused; values above 0.2 s are used as 0.2 s. Set-up
 * file key: network.sender_latency. */
enum { VR_NET_SENDER_LATENCY = 209 };

/* VR_NET_STATE values. The source's own states stay; the common tracking status
 * (VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE), which counts each accepted datagram as a fresh pose,
 * reads alongside them:
 *   - OFF: the handler does not run; VR_HEAD_TRACK_STATE keeps what it said last (VR_TRACK_NONE
 *     before the source ever ran).
 *   - WAITING: VR_TRACK_NONE (in a context whose head tracker has not run before), then
 *     VR_TRACK_STALE once VR_TRACK_STALE_SECONDS have passed since the set-up's first frame and
 *     VR_TRACK_LOST after VR_TRACK_LOST_SECONDS.
 *   - TRACKING: VR_TRACK_TRACKING while datagrams come at least every VR_TRACK_STALE_SECONDS;
 *     a longer gap shows as VR_TRACK_STALE (or LOST) before VR_NET_SILENCE_TIMEOUT makes the
 *     source SILENT.
 *   - SILENT: VR_TRACK_STALE, or VR_TRACK_LOST once the newest datagram is VR_TRACK_LOST_SECONDS
 *     old (with the default timeout of 0.5 s: stale from 0.25 s, silent from 0.5 s, lost from
 *     1 s). The first datagram after it gives TRACKING and VR_TRACK_TRACKING in the same frame.
 */
enum {
  VR_NET_STATE_OFF = 0,      /* the source is not running */
  VR_NET_STATE_WAITING = 1,  /* bound, no datagram accepted yet */
  VR_NET_STATE_TRACKING = 2, /* datagrams arriving */
  VR_NET_STATE_SILENT = 3    /* none for VR_NET_SILENCE_TIMEOUT: the last pose is held */
};

/* The network source's messages (set-up failures, silence, resumption), terminated; emptied
 * by a set-up that succeeds. The texts are:
 *   "network head tracker: VRLIB_OPENTRACK="<text>" is not host:port (IPv4)"
 *       set-up failed (at most 64 bytes of the variable are quoted);
 *   "network head tracker: cannot listen on <a.b.c.d>:<port> (<the system's reason>)"
 *       set-up failed: the address in use, the set-up's or VRLIB_OPENTRACK's;
 *   "network head tracker: no datagram for <VR_NET_SILENCE_TIMEOUT, two decimals> s; holding
 *       the last pose"
 *       the source fell silent (VR_NET_STATE_SILENT);
 *   "network head tracker: datagrams arrive again; tracking resumed"
 *       the first datagram after silence.
 * The two set-up failures are also printed on the standard error stream; silence and
 * resumption are only kept here. */
VR_API extern char vr_net_message[256];

/* Sets an address attribute and the port attribute that follows it (VR_NET_BIND_ADDRESS or
 * VR_NET_OUTPUT_ADDRESS) from text: "a.b.c.d:port", "a.b.c.d", ":port", or "localhost" in
 * place of 127.0.0.1 (no name lookup). VR_ERR_BAD_VALUE for anything else, with nothing
 * changed; VR_ERR_UNKNOWN_ID for another identifier. */
VR_API vr_result vr_net_set_endpoint(vr_ctx *ctx, int address_id, const char *text);

/* ------------------------------------------------------------------------------------------ */
/* Extension: configuration and calibration (identifiers 220..239).                            */
/* ------------------------------------------------------------------------------------------ */

/* The tracker frame's placement relative to the plate, as one settable matrix: the same matrix
 * as VR_DIG_TO_PLATE (which vr_object_get hands out by address), written through
 * vr_set_matrix. Only a rigid transform is taken (a rotation within 1e-6 of orthonormal with
 * determinant +1, translation in row 3, last column 0 0 0 1): anything else is refused with
 * VR_ERR_BAD_VALUE. Default: the leaning-triangle transmitter of a new context. Every source that
 * reports in the tracker frame (the Logitech units, the DynaSight) is placed by it. */
enum { VR_TRACKER_TO_PLATE = 220 };

/* Rigid fit. Given n pairs of points (from_pts[i] in one frame, to_pts[i] the same physical
 * point in another), vr_rigid_fit finds the rotation and translation (no scale) that carry the
 * first set onto the second in the least-squares sense: to ~ from x out, in the row-vector
 * convention of the matrix functions (rotation in rows 0..2, translation in row 3). rms and
 * worst (either may be NULL) receive the root-mean-square and the largest distance, in the
 * points' unit, between a moved point and its partner. On any result other than VR_FIT_OK
 * nothing is written. */
typedef enum vr_fit_result {
  VR_FIT_OK = 0,
  VR_FIT_TOO_FEW = 1,    /* fewer than 3 pairs */
  VR_FIT_COLLINEAR = 2,  /* either set lies on one line or in one point: a turn about that line
                            would fit as well as any other */
  VR_FIT_NOT_FINITE = 3, /* a coordinate is infinite or NaN */
  VR_FIT_NULL = 4        /* a null pointer argument */
} vr_fit_result;
VR_API vr_fit_result vr_rigid_fit(int n, const dpt *from_pts, const dpt *to_pts, dmat out,
                                  double *rms, double *worst);

/* Configuration files: a set-up (screen, eyes, sources and device paths, calibration, prediction)
 * kept in a TOML file; the README lists every key with its unit, range and default.
 *
 * vr_config_load applies the file to a context on top of what it holds (a new context: the
 * defaults). Every key is checked before anything changes: an unknown section or key, a value
 * of the wrong type or out of range, or a file that is not valid TOML, fails the whole load,
 * leaves the context and the device paths exactly as they were, and gives one message naming
 * the file, the line and the key ("setup.toml:7: screen.width_cm: ..."), printed on the standard
 * error stream and kept for vr_config_message. 1 = applied, 0 = failed.
 *
 * vr_config_save writes the context's whole set-up (every key) to a file that vr_config_load
 * reads back to the same views, with the device paths the application or a loaded file gave
 * (else the built-in names): never the environment's, which belong to this run's launcher. The
 * file is replaced only once it is written completely. 1 = written, 0 = failed (with a message).
 *
 * Device paths from a file rank below the application's vr_set_device_path and below the
 * environment (VRLIB_TTYA, VRLIB_TTYB, VRLIB_CAPTURE): see "device paths from the environment".
 * The file also keeps the display-time settings ([display_time]) and the network head source's
 * ([network]: listen and output_to as "a.b.c.d:port", the camera's offset and tilt, the axis
 * mapping, the silence timeout, the sender latency, the output switch); tracking.glasses_source
 * takes 6 (VR_SOURCE_NETWORK).
 *
 * Environment: when VRLIB_CONFIG names a file, vr_ctx_create loads it into every new context
 * after the defaults, so an application picks a set-up up without changing its code. When the
 * file is missing or refused the context keeps its defaults and the message says so. Unset or
 * empty: vr_ctx_create does exactly what it always did. */
VR_API int vr_config_load(vr_ctx *ctx, const char *path);
VR_API int vr_config_save(vr_ctx *ctx, const char *path);
/* Writes a set-up file as vr_config_save does, but holding only the keys named in `keys`, a list
 * of "section.name" texts (the README's key names, eyes.interocular included) ending with NULL.
 * Loaded into a context, such a file sets those keys and leaves the rest as that context has
 * them: a program that changed a few settings of a set-up file (vrcalib) writes the file's own
 * keys and those, and a new context that loads it gets the same views. 1 = written; 0 (with the
 * message in vr_config_message) for an unknown key name or a failure as for vr_config_save. */
VR_API int vr_config_save_keys(vr_ctx *ctx, const char *path, const char *const *keys);
/* The message of the last vr_config_load or vr_config_save that failed (empty after success). The
 * text stays valid until the next call of either. One success also leaves a message: a file
 * that sets display_time.tracker_delay (the serial units' delay) but not network.sender_latency
 * while the head source is the network source (VR_SOURCE_NETWORK, from the file or the context)
 * loads, and the message names network.sender_latency, the network sender's own latency
 * (VR_NET_SENDER_LATENCY), which the old key no longer sets.
 *
 * Screen: a file (or vr_config_load) that sets screen.width_cm or screen.height_cm also places
 * what follows the screen as vr_ctx_create_display does: the transmitter (VR_TRACKER_TO_PLATE)
 * above the middle of the new screen's top edge, and each fixed eye (VR_SCREEN_LEFT_EYE,
 * VR_SCREEN_RIGHT_EYE) centred 60 cm in front of it, its eye offset's x from the middle; except
 * what the same file sets itself (calibration.tracker_to_plate, eyes.screen_left,
 * eyes.screen_right).
 *
 * Numbers: a key takes exactly the numbers its attribute's setter takes (for most of the fixed
 * attributes any finite number, for sizes any but 0), so any set-up the setters made can be saved
 * and loaded again; numbers are written so that they read back as the same doubles (-0.0 and
 * subnormal values included).
 *
 * Files: a set-up file is opened without following a symbolic link and without waiting, and only
 * a regular file is read: a link, FIFO, device, socket or folder is refused at once with a
 * message naming it. A save writes a new file beside the target, under a fresh name that it
 * creates itself (never an existing name or link), flushes it to the disk and renames it over the
 * target (a link at the target is replaced, not followed); its mode is 0666 less the umask. */
VR_API const char *vr_config_message(void);

/* ------------------------------------------------------------------------------------------ */
/* Extension: lab trackers and screen walls (identifiers 240..269).                            */
/* ------------------------------------------------------------------------------------------ */

/* VRPN, the lab trackers' network protocol (time-stamped position and quaternion reports over
 * TCP and UDP, port 3883 by default), in both directions. The library carries VRPN's own client
 * and server classes (libvrtrack only; their symbols stay inside the library).
 *
 * The VRPN source. VR_GLASSES_SOURCE VR_GLASSES_SOURCE_VRPN takes the head, VR_MOUSE_SOURCE
 * VR_MOUSE_SOURCE_VRPN the 3D mouse, from a VRPN tracker device named "Tracker0@host[:port]"
 * (sensors VR_VRPN_HEAD_SENSOR and VR_VRPN_MOUSE_SENSOR), the mouse buttons from a VRPN button
 * device (by default the tracker's own name). The devices are set with vr_vrpn_set_devices (or
 * the set-up file's [vrpn] tracker and button keys), or
 * else taken from the environment variable VRLIB_VRPN ("Tracker0@host[:port]" or
 * "Tracker0@host[:port],Buttons0@host[:port]") when the source starts.
 * vr_init_glasses_and_mouse_6d starts it (as vr_vrpn_init does) when VR_GLASSES_SOURCE is
 * VR_GLASSES_SOURCE_VRPN, or for the mouse alone when only VR_MOUSE_SOURCE is
 * VR_MOUSE_SOURCE_VRPN (the Logitech head then starts without its mouse); with a VRPN head it
 * starts no mouse of another kind. vr_quit and vr_remove_glasses_and_mouse_6d stop it. Name the
 * host by its address ("Tracker0@127.0.0.1"): a host name is looked up when the source starts
 * and again at each of VRPN's reconnection attempts, and a slow name service would hold up that
 * frame. A context given its defaults again (vr_init_attributes) forgets a running source
 * without closing it: stop the source first.
 *   - Poses arrive in the tracker's own frame, which the library takes as the dig frame: a
 *     report's position (in VRPN's unit, metres, times VR_VRPN_CM_PER_UNIT) and quaternion give
 *     VR_HEAD_TO_DIG or VR_MOUSE_TO_DIG, and the calibration is VR_DIG_TO_PLATE (set it to where
 *     the tracker's origin and axes lie in plate coordinates; identity when the tracker reports
 *     in plate coordinates, as the library's own VRPN server does). The eye offsets, the gaze
 *     step, the mouse tip and the derived frames then apply exactly as for the other head
 *     sources; the eyes are placed from the newest pose without extrapolation.
 *   - The connection is polled once per frame by the handlers that vr_comp_view runs, never
 *     waiting: every report that has arrived is read and the newest of each sensor is used. The
 *     tracking status (VR_HEAD_TRACK_STATE, ...) counts each report as a fresh pose, so a server
 *     that goes away shows as stale after VR_TRACK_STALE_SECONDS and lost after
 *     VR_TRACK_LOST_SECONDS, and as tracking again from its first report after it returns.
 *     While the connection is down VRPN asks the server again by itself, from inside the same
 *     per-frame poll, with one datagram every two seconds at most; no frame waits for it.
 *   - Nothing the server (or anything posing as one) sends or withholds holds up a frame or
 *     the set-up. Starting the source (vr_vrpn_init, vr_init_glasses_and_mouse_6d) waits at
 *     most 0.5 s for the server to answer, and then goes on without it (the connection comes
 *     up from a later frame's poll). Every read takes only what has arrived: a message cut
 *     short is kept and completed by a later poll. A server that has not sent its whole
 *     greeting (VRPN's 24-byte cookie) 2 s after connecting is dropped and asked again, and a
 *     malformed message, or a request that this program log the connection to files (VRPN's
 *     remote logging), drops the connection. One poll reads at most 1000 messages from a
 *     connection; the rest waits for the next frame.
 *   - Contexts in one process that name the same server share one VRPN connection to it;
 *     each context still gets every report (whichever context's poll reads it, the report is
 *     kept for each context until that context's own poll, up to 256 reports and button
 *     changes; a context that stops running frames for longer keeps the newest 256).
 *   - Time stamps: a report's own VRPN time stamp (the server's clock, seconds since 1970) is
 *     kept as VR_VRPN_HEAD_STAMP, and the pose's measurement time in the context's physical
 *     world time (the clock of VR_PWORLD_TIME) as VR_VRPN_HEAD_POSE_TIME and
 *     VR_VRPN_MOUSE_POSE_TIME, for display-time prediction; a report without a stamp counts
 *     from its arrival.
 *   - Not behind the platform table: VRPN opens and reads its own sockets. The source as a whole
 *     is behind a door of its own instead (vr_vrpn_door below), which a simulator or a test can
 *     replace to deliver reports in virtual time.
 *
 * The library's VRPN server (vr_vrpn_serve_*; off until started). Each vr_vrpn_serve_frame
 * publishes, on one tracker device (VR_VRPN_SERVE_DEFAULT_DEVICE or the name given), the
 * context's tracked head as sensor 0 and its 3D mouse as sensor 1, in plate coordinates
 * (VR_HEAD_TO_DIG x VR_DIG_TO_PLATE and VR_MOUSE_TO_PLATE; positions divided by
 * VR_VRPN_CM_PER_UNIT, rotations as quaternions, so the calibration must be rigid), each stamped
 * with its measurement time on the server's clock (the VRPN pose time when the context takes its
 * head from VRPN, else the time of the newest fresh pose per the tracking status, else the
 * frame's time), and the four mouse buttons on the button device of the same name. A pose not
 * tracked yet (a zero matrix) is not sent. It listens on 127.0.0.1 unless given another address.
 * The server is safe to leave running among misbehaving clients: it never waits for a client
 * (reads take what has arrived; a client that has not sent its whole cookie 2 s after
 * connecting is dropped; a client that stops reading is dropped once the system's buffers
 * toward it are full, and may connect again; a malformed message or a request to log to files
 * drops it), it reads at most 1000 messages from a client per frame, and it keeps nothing of a
 * connection once it is closed, including the connections beyond VRPN's limit of 255 at a
 * time, which are closed at once.
 *
 * A wall of screens. Several screens share one room frame (the coexistence space: centimetres,
 * any origin). Each screen's context (vr_ctx_create_wall_screen) has its plate placed in the
 * room, the world set to room centimetres and the tracker's frame calibrated to the room, so a
 * process per screen computes its own views from the one shared head, and a scene drawn in room
 * coordinates continues straight across the screens' shared edges. */

/* Source values (VR_GLASSES_SOURCE, VR_MOUSE_SOURCE). */
enum { VR_GLASSES_SOURCE_VRPN = 240 };
enum { VR_MOUSE_SOURCE_VRPN = 240 };

#define VR_VRPN_DEFAULT_PORT 3883
#define VR_VRPN_SERVE_DEFAULT_DEVICE "Tracker0"
#define VR_VRPN_SERVE_DEFAULT_ADDRESS "127.0.0.1"
/* Room for a device name in vr_vrpn_set_devices, terminator included. */
#define VR_VRPN_NAME_BYTES 128

enum {
  /* int; SG; 0. VRPN sensor number of the head (from 0). */
  VR_VRPN_HEAD_SENSOR = 240,
  /* int; SG; 1. VRPN sensor number of the 3D mouse (from 0). */
  VR_VRPN_MOUSE_SENSOR = 241,
  /* double cm per VRPN unit; SG; 100 (VRPN reports metres). Scale of received positions, and of
   * the served ones (divided by it). */
  VR_VRPN_CM_PER_UNIT = 242,
  /* int; G; 0. 1 while the VRPN source's connection to its server is up. */
  VR_VRPN_CONNECTED = 243,
  /* double s [physical world time]; G; 0. Measurement time of the newest head report. */
  VR_VRPN_HEAD_POSE_TIME = 244,
  /* double s [physical world time]; G; 0. Measurement time of the newest mouse report. */
  VR_VRPN_MOUSE_POSE_TIME = 245,
  /* double s [server clock, since 1970]; G; 0. VRPN time stamp of the newest head report (its
   * arrival time on the door's clock when the server sent none). */
  VR_VRPN_HEAD_STAMP = 246,
  /* int; G; 0. Tracker reports received by the VRPN source (all sensors). */
  VR_VRPN_REPORTS = 247
};

/* The VRPN devices of a context's source: the tracker "Tracker0@host[:port]" and the button
 * device (NULL or "": the tracker's name). Each shorter than VR_VRPN_NAME_BYTES with a name
 * before '@' and a host after it. Takes effect at the next vr_vrpn_init. VR_OK or
 * VR_ERR_BAD_VALUE (the devices stay as they were). */
VR_API vr_result vr_vrpn_set_devices(vr_ctx *ctx, const char *tracker, const char *button);
/* Starts the VRPN source for the head and/or the mouse (installs their handlers; an earlier
 * VRPN source of the context is stopped first): 1, or 0 with a message in vr_lt_message when no
 * device is named or the door cannot open it. The server need not be up yet. With
 * VR_TRACKING_MODE 0: 1 and nothing started. */
VR_API int vr_vrpn_init(vr_ctx *ctx, int want_head, int want_mouse);
/* Stops the VRPN source: closes the connection and clears the handlers it installed. */
VR_API void vr_vrpn_remove(vr_ctx *ctx);

/* Starts the library's VRPN server for a context: device name (NULL: "Tracker0"), listening
 * address (NULL: "127.0.0.1") and port (0: 3883). VR_OK, or VR_ERR_BAD_VALUE when the name or
 * address is unusable or the port cannot be opened (with a message on the standard error
 * stream). A server already running for the context is stopped first.
 * Connection requests: VRPN clients connect either over TCP to the port, or by a UDP datagram
 * to the port that names a host and a TCP port for the server to connect back to. The server
 * answers such a request only when the named host is the datagram's own sender address (as
 * VRPN's clients always name it); a request naming any other host is refused with a message,
 * so that the server cannot be sent to connect elsewhere. Likewise a client's request to have
 * reports sent by UDP is followed only for the address at the other end of its TCP
 * connection (otherwise its reports go by TCP). */
VR_API vr_result vr_vrpn_serve_start(vr_ctx *ctx, const char *device, const char *address,
                                     int port);
/* Once per frame, after vr_comp_view: publishes the head, the mouse and the buttons and serves
 * the connections, without waiting. Does nothing while no server runs. */
VR_API void vr_vrpn_serve_frame(vr_ctx *ctx);
/* Stops the server (its clients see the connection drop). vr_quit does not stop it. */
VR_API void vr_vrpn_serve_stop(vr_ctx *ctx);

/* The door of the VRPN source: how it reaches a VRPN tracker. The default one is VRPN itself;
 * a replacement delivers reports its own way (a simulator in virtual time). Every entry gets
 * `user` first; none may block. */
typedef struct vr_vrpn_sink {
  void *user;
  /* One tracker report: sensor, position (VRPN units), quaternion (x, y, z, w), and the time
   * stamp on the door's clock (0: none). */
  void (*pose)(void *user, int sensor, const double position[3], const dquat orientation,
               double stamp_s);
  /* One button change: button number, 1 pressed / 0 released. */
  void (*button)(void *user, int button, int pressed);
} vr_vrpn_sink;
typedef struct vr_vrpn_door {
  void *user;
  /* Opens a tracker and a button device (names as vr_vrpn_set_devices keeps them; the button
   * name is never NULL): a handle, or NULL. */
  void *(*open)(void *user, const char *tracker, const char *button);
  /* Reads what has arrived and hands it to the sink; 1 while connected, else 0. */
  int (*poll)(void *user, void *handle, const vr_vrpn_sink *sink);
  /* The door's clock, seconds (the clock of the stamps). */
  double (*now)(void *user);
  void (*close)(void *user, void *handle);
} vr_vrpn_door;
/* Installs a copy of the door (NULL: VRPN's own again; a door with a NULL entry is refused and
 * the door in use stays). Install it while no VRPN source runs. */
VR_API void vr_vrpn_door_install(const vr_vrpn_door *door);

/* One screen of a wall: where its plate lies in the room (a rigid plate_to_room: the plate's
 * lower-left corner and axes in room cm, at any height: vr_ctx_create_wall_screen takes the
 * placement as given), its visible picture in cm and its pixels, and the
 * room point that the tracked eyes are taken to look at. The library moves each tracked eye
 * 1.1 cm toward its gaze target; with one target for all screens of a wall (rather than each
 * screen's own centre) every screen has the same eye points, and the scene's lines stay
 * straight across the borders. */
typedef struct vr_wall_screen {
  dmat plate_to_room;
  double width_cm, height_cm;
  int width_px, height_px;
  dpt gaze_room;
} vr_wall_screen;
/* A context for one screen of a wall: vr_ctx_create_display (flat panel) for its size, world
 * coordinates in room cm (vr_world_in_plate_cm, then VR_WORLD_TO_COEXISTENCE = room_to_plate),
 * VR_DIG_TO_PLATE = tracker_to_room x room_to_plate (tracker_to_room NULL: the tracker reports
 * in room coordinates), and the gaze at the room point: VR_GAZE_MODE VR_GAZE_MOUSE_TIP with
 * VR_MOUSE_TIP_PLATE set to gaze_room in plate coordinates (a tracked 3D mouse then leads the
 * gaze, the same on every screen). NULL on bad arguments (a message on the standard error
 * stream) or when memory runs out; release with free(). */
VR_API vr_ctx *vr_ctx_create_wall_screen(const vr_wall_screen *screen, const dmat tracker_to_room);
/* A small CAVE: three screens of width_cm x height_cm (width_px x height_px) around a square
 * floor of side width_cm: out[0] left, out[1] centre, out[2] right, the side ones at 90 degrees
 * to the centre one, all facing the room's middle. Room frame: origin on the floor at the
 * middle, x right, y up, z toward the open side (the centre screen lies in z = -width_cm/2).
 * The screens stand on the floor: each plate's lower-left corner, the lower edge of the visible
 * picture, is at room y = 0, so the pictures reach from y = 0 to y = height_cm. For screens
 * raised above the floor (or a picture above a frame), add that height to each out[i]
 * plate_to_room[3][1] and to gaze_room[1] before vr_ctx_create_wall_screen.
 * The left screen's right edge is the centre's left edge; the centre's right edge is the right
 * screen's left edge. The gaze point is the room's middle at half the screens' height. VR_OK, or
 * VR_ERR_BAD_VALUE for a size or pixel count not above 0 or a NULL out. */
VR_API vr_result vr_wall_cave(double width_cm, double height_cm, int width_px, int height_px,
                              vr_wall_screen out[3]);

#ifdef __cplusplus
}
#endif

#endif /* VRLIB_VR_H */

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
 *     A dmat stored this way is exactly what legacy OpenGL's glLoadMatrixd expects.
 *   - Lengths in centimetres, angles in radians, times in seconds.
 *   - Functions return nothing, or an int: 1 for success and 0 for failure.
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
 * the fields are public so that other languages can lay the record out, not to be poked. */
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

enum {
  VR_SCREEN_WIDTH_PIXELS = 1,
  VR_SCREEN_HEIGHT_PIXELS = 2,
  VR_SCREEN_WIDTH_CM = 3,
  VR_SCREEN_HEIGHT_CM = 4,
  VR_GAZE_MODE = 5,
  VR_CRT_CORRECTION = 6,
  VR_CRT_CURVATURE = 7,
  VR_CRT_GLASS_THICKNESS = 8,
  VR_CRT_REFRACTION_INDEX = 9,
  VR_CRT_RADIUS = 10,
  VR_WINDOW_WIDTH = 11,
  VR_WINDOW_HEIGHT = 12,
  VR_WINDOW_X = 13,
  VR_WINDOW_Y = 14,
  VR_WINDOW_CENTER = 15,
  VR_STEREO = 16,
  VR_HEAD_RELATIVE_VIEWS = 17,
  VR_PREDICT_RAMP_START = 18,
  VR_PREDICT_RAMP_END = 19,
  VR_HEAD_TO_DIG = 20,
  VR_DIG_TO_PLATE = 21,
  VR_PLATE_TO_GODS_EYE = 22,
  VR_PLATE_TO_COEXISTENCE = 23,
  VR_COEXISTENCE_TO_PLATE = 24,
  VR_WORLD_TO_COEXISTENCE = 25,
  VR_COEXISTENCE_TO_WORLD = 26,
  VR_HEAD_VIEW_BASE = 27,
  VR_CORNER_DIR_MATRIX = 28,
  VR_GODS_EYE_TO_DIG = 29,
  VR_COEXISTENCE_TO_DIG = 30,
  VR_MOUSE_TO_DIG = 31,
  VR_COEXISTENCE_CENTER = 32,
  VR_COEXISTENCE_BASE = 33,
  VR_HEAD_TO_WORLD_WANTED = 34,
  VR_HEAD_TO_WORLD = 35,
  VR_MOUSE_TO_WORLD_WANTED = 36,
  VR_MOUSE_TO_WORLD = 37,
  VR_TRACKING_MODE = 38,
  VR_TRACKING_AUX = 39,
  VR_GLASSES_SOURCE = 40,
  VR_MOUSE_SOURCE = 41,
  VR_EVENT_FILTER_LENGTH = 42,
  VR_STREAMING = 43,
  VR_RAW_INTERPOLATE = 44,
  VR_PREDICT_FROM_FRAME_TIME = 45,
  VR_PREDICT_LEAD = 46,
  VR_PREDICT_LEAD_LIMIT = 47,
  VR_RAW_LIMIT = 48,
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
  VR_COEXISTENCE_HEIGHT = 61,
  VR_COEXISTENCE_DISTANCE = 62,
  VR_LEFT_EYE_OFFSET = 63,
  VR_RIGHT_EYE_OFFSET = 64,
  VR_INTEROCULAR = 65,
  VR_LEFT_EYE_OFFSET_X = 66,
  VR_RIGHT_EYE_OFFSET_X = 67,
  VR_SCREEN_LEFT_EYE = 68,
  VR_SCREEN_LEFT_EYE_X = 69,
  VR_SCREEN_LEFT_EYE_Y = 70,
  VR_SCREEN_LEFT_EYE_Z = 71,
  VR_SCREEN_RIGHT_EYE = 72,
  VR_SCREEN_RIGHT_EYE_X = 73,
  VR_SCREEN_RIGHT_EYE_Y = 74,
  VR_SCREEN_RIGHT_EYE_Z = 75,
  VR_LEFT_EYE = 76,
  VR_RIGHT_EYE = 77,
  VR_QUANTIZE_STEPS = 78,
  VR_QUANTIZE_STEP = 79,
  VR_QUANTIZE_LEFT_INDEX = 80,
  VR_QUANTIZE_RIGHT_INDEX = 81,
  VR_QUANTIZE_DISTANCE = 82,
  VR_QUANTIZE_SPACE = 83,
  VR_QUANTIZE_FORCE = 84,
  VR_MONO_EYE = 85,
  VR_MOUSE_TIP_OFFSET = 86,
  VR_MOUSE_TIP_OFFSET_X = 87,
  VR_MOUSE_TIP_OFFSET_Y = 88,
  VR_MOUSE_TIP_OFFSET_Z = 89,
  VR_GODS_EYE_Z_FACTOR = 90,
  VR_GODS_EYE_SCALE = 91,
  VR_GODS_EYE_SIZE_MODE = 92,
  VR_GODS_EYE_CENTER_MODE = 93,
  VR_EYE_POS_MODE = 94,
  VR_FIELD_OF_VIEW = 95,
  VR_HITHER_RELATIVE = 96,
  VR_HITHER_SCALE_MODE = 97,
  VR_HITHER = 98,
  VR_YON_RELATIVE = 99,
  VR_YON_SCALE_MODE = 100,
  VR_YON = 101,
  VR_DEPTH_FRONT_RELATIVE = 102,
  VR_DEPTH_FRONT_SCALE_MODE = 103,
  VR_DEPTH_FRONT = 104,
  VR_DEPTH_FRONT_NDC = 105,
  VR_DEPTH_BACK_RELATIVE = 106,
  VR_DEPTH_BACK_SCALE_MODE = 107,
  VR_DEPTH_BACK = 108,
  VR_DEPTH_BACK_NDC = 109,
  VR_LEFT_VIEW = 110,
  VR_RIGHT_VIEW = 111,
  VR_LEFT_HEAD_VIEW = 112,
  VR_RIGHT_HEAD_VIEW = 113,
  VR_WINDOW_CORNER_DIRS = 114,
  VR_WORLD_UP = 115,
  VR_MOUSE_TIP_PLATE = 116,
  VR_MOUSE_TIP_COEXISTENCE = 117,
  VR_MOUSE_TIP_WORLD = 118,
  VR_MOUSE_BUTTONS = 119,
  VR_MOUSE_TO_PLATE = 120,
  VR_CYBERMAN_STATE = 121,
  VR_PWORLD_TIME = 122,
  VR_MOUSE_EVENT_FN = 123,
  VR_MOUSE_REMOVE_FN = 124,
  VR_GLASSES_EVENT_FN = 125,
  VR_GLASSES_REMOVE_FN = 126,
  VR_EYE_HOOK_FN = 127,
  /* 128 is accepted by neither vr_object_set nor vr_object_get */
  VR_EYE_HOOK_REMOVE_FN = 129
};

/* ------------------------------------------------------------------------------------------ */
/* Context and attributes                                                                       */
/* ------------------------------------------------------------------------------------------ */

/* A new context with every default; NULL when memory runs out. The application owns it and
 * releases it with free(); the library never does. */
VR_API vr_ctx *vr_ctx_create(void);
/* vr_object_set(ctx, id, value, id, value, ..., 0): the identifier fixes the value's type
 * (double, int, pointer to three doubles, or a vr_fn). */
VR_API void vr_object_set(vr_ctx *ctx, ...);
/* Reads one attribute: a double, an int, three doubles, or for matrices and blocks the address
 * of the context's own storage, written into a pointer variable. */
VR_API void vr_object_get(vr_ctx *ctx, int id, void *value);
VR_API void vr_quit(vr_ctx *ctx);
VR_API void vr_init_attributes(vr_ctx *ctx);

VR_API void vr_cache_eye_pos(vr_ctx *ctx);
VR_API void vr_cache_eye_pos_fixed_field(vr_ctx *ctx);
VR_API void vr_cache_eye_pos_screen_relitive(vr_ctx *ctx);
VR_API void vr_cache_eye_pos_window_relitive(vr_ctx *ctx);
VR_API void vr_cache_eye_pos_quantize_space(vr_ctx *ctx);
VR_API void vr_cache_eye_pos_quantize_force(vr_ctx *ctx);
VR_API void consistify_coexistence_center(vr_ctx *ctx);

/* ------------------------------------------------------------------------------------------ */
/* View computation                                                                             */
/* ------------------------------------------------------------------------------------------ */

VR_API void vr_comp_view(vr_ctx *ctx);
VR_API void vr_construct_gods_eye_to_plate(vr_ctx *ctx);
VR_API void vr_window_match_ws(vr_ctx *ctx, int x, int y, int width, int height);
VR_API void vr_window_comp(vr_ctx *ctx);
VR_API void vr_window_fullscreen(vr_ctx *ctx, int *x, int *y, int *width, int *height);
VR_API void vr_init_pworld_time(vr_ctx *ctx);
VR_API void vr_sync_pworld_time(vr_ctx *ctx);
VR_API void vr_usleep(int usec);

/* ------------------------------------------------------------------------------------------ */
/* Matrices and vectors                                                                         */
/* ------------------------------------------------------------------------------------------ */

VR_API void vr_mat_identity(dmat m);
VR_API void vr_mat_copy(dmat src, dmat dst);
VR_API int vr_mat_equal(dmat a, dmat b);
VR_API void vr_mat_scale(double sx, double sy, double sz, dmat out);
VR_API void vr_mat_trans(double tx, double ty, double tz, dmat out);
VR_API void vr_mat_scale_and_trans(double tx, double ty, double tz, double s, dmat out);
VR_API void vr_mat_trans_and_scale(double s, double tx, double ty, double tz, dmat out);
VR_API void vr_mat_shear_z(double a, double b, dmat out);
VR_API void vr_mat_rot_x(double angle, dmat out);
VR_API void vr_mat_rot_y(double angle, dmat out);
VR_API void vr_mat_rot_z(double angle, dmat out);
VR_API void vr_mat_transpose(dmat m);
VR_API void vr_mat_mul_mat(dmat a, dmat b, dmat out);
VR_API void vr_mat_mul_dpt(const dpt p, dmat m, dpt out);
VR_API void vr_mat_mul_fpt(const fpt p, dmat m, fpt out);
VR_API void vr_tranpt(const dpt p, dmat m, dpt out);
VR_API void vr_mat_mul_dnorm(const dpt n, dmat m, dpt out);
VR_API void vr_mat_mul_fnorm(const fpt n, dmat m, fpt out);
VR_API void vr_mat_descale(dmat src, dmat dst);
VR_API void vr_mat_print(dmat m);
VR_API void vr_dmat_to_fmat(dmat src, fmat dst);
VR_API void vr_fmat_to_dmat(fmat src, dmat dst);
VR_API void vr_fmat_to_fmat(fmat src, fmat dst);
VR_API void vr_dmat_to_dmat(dmat src, dmat dst);
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
VR_API void vr_mat_inv(dmat m);
VR_API void vr_mat_inv2(dmat src, dmat dst);
VR_API void vr_look_at(const dpt eye, const dpt target, dmat out);
VR_API void look_at(const dpt eye, dpt vpn, dpt vup, const dpt target);
VR_API void pevalvieworientationmatrix3(const dpt vrp, const dpt vpn, const dpt vup, dmat out);

/* Quaternions */
VR_API void vr_mat_to_quat(dmat m, dquat q);
VR_API void vr_mat_to_quat_center_scale(dmat m, dquat q, dpt center, double *scale);
VR_API void vr_quat_to_mat(const dquat q, dmat m);
VR_API void vr_quat_add(const dquat a, const dquat b, dquat out);
VR_API void vr_quat_inverse(const dquat q, dquat out);
VR_API void vr_quat_sub(const dquat a, const dquat b, dquat out);
VR_API void vr_quat_ssub(const dquat a, const dquat b, dquat out);
VR_API void vr_normalize_quat(dquat q);
VR_API void vr_interpolate_quat(const dquat a, const dquat b, double t, dquat out);
VR_API void vr_euler_to_quat(void);

/* Calibration frames. A pose is six doubles: x, y, z (cm), roll, pitch, yaw (radians). */
VR_API void leaning_triangle_make_dig_to_plate(vr_ctx *ctx, double angle, double x, double y,
                                               double z);
VR_API void fake_make_dig_to_plate(double angle, double x, double y, double z, dmat out);
VR_API void make_coexistence_to_dig(vr_ctx *ctx, double d);
VR_API void make_head_to_lr_plate(vr_ctx *ctx);
VR_API void build_sim_mat(const double pose[6], dmat out);
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

/* Unit and driver globals */
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
VR_API int vr_lt_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse);
VR_API int vr_lt_re_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse);
VR_API void vr_lt_remove_glasses_and_mouse_6d(vr_ctx *ctx);
VR_API void vr_lt_close_glasses_and_mouse_6d(void);
VR_API void vr_lt_pause_glasses_and_mouse_6d(void);
VR_API void vr_lt_change_filter_length(int n);
VR_API void vr_lt_device_struct_init(const char *name, vr_lt_unit *unit);
VR_API void vr_lt_init_samples(vr_lt_channel *channel);
VR_API int vr_lt_obtain_current_offset(vr_lt_unit *unit);
VR_API void vr_lt_offsets(int *a_offset, int *b_offset, double *glasses_time, double *mouse_time);

/* Serial link and command protocol */
VR_API int vr_lt_port_open(vr_ctx *ctx, int want_glasses, int want_mouse, int raw, int re_init);
VR_API void vr_lt_port_close(vr_lt_unit *unit);
VR_API void vr_lt_command(vr_lt_unit *a, vr_lt_unit *b, int before_usec, int after_usec,
                          const unsigned char *text);
VR_API void vr_lt_set_event_filter_length(int n, int before_usec, int after_usec);
VR_API void vr_lt_set_slave_transmitter_type(int type, vr_lt_unit *unit, int before_usec,
                                             int after_usec);
VR_API void vr_lt_demand_event(vr_lt_unit *unit);

/* Report decoding */
VR_API int vr_lt_obtain_current_event(vr_lt_unit *unit);
VR_API void vr_lt_convert_event(const unsigned char bytes[16], vr_lt_event *event);
VR_API int vr_lt_get_6d(vr_lt_unit *unit, vr_lt_6d *out);
VR_API int vr_lt_obtain_current_op_info(vr_lt_unit *unit, int start);
VR_API void vr_lt_convert_cur_op_info(const unsigned char bytes[30], vr_lt_op_info *info);
VR_API void print_vr_lt_i_event(const vr_lt_event *event);

/* Raw capture */
VR_API int vr_lt_obtain_current_raw_events(vr_ctx *ctx, vr_lt_unit *unit);
VR_API int vr_lt_obtain_current_raw_event(vr_lt_unit *unit);
VR_API int vr_lt_obtain_current_raw_cyberman(vr_lt_unit *unit);
VR_API void vr_lt_cyberman_cvt(const unsigned char packet[5], vr_cyberman_state *state);
VR_API int vr_lt_debounce_buttons(vr_lt_unit *unit);
VR_API void print_mouse_6d_raw(const unsigned char record[24]);

/* Raw pose solver */
VR_API extern double future_time;
VR_API extern double future_sll_to_mll;
VR_API extern double past_posA[8][4];
VR_API extern double past_posB[8][4];
VR_API extern int past_pos_iA;
VR_API extern int past_pos_iB;
VR_API int comp_mouse_6d_raws(vr_ctx *ctx, vr_lt_unit *unit, dmat out);
VR_API void comp_mouse_6d_raw(vr_lt_unit *unit, dmat out);
VR_API int least_sq_fit_avg(const double times[8], double pos[8][4], dmat out, int n);

/* Timing statistics */
VR_API extern vr_lt_stat stats[256];
VR_API extern int cur_stat;
VR_API void dump_stats(void);

/* Tracker dispatch and per-frame handlers */
VR_API int vr_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse);
VR_API void vr_re_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse);
VR_API void vr_remove_glasses_and_mouse_6d(vr_ctx *ctx);
VR_API void vr_lt_event_mouse3d(vr_ctx *ctx);
VR_API void vr_lt_event_glasses(vr_ctx *ctx);
VR_API void build_mat_6Dm_to_dig(vr_lt_unit *unit, const vr_lt_6d *pose, dmat out);
VR_API void vr_lt_predict_eye_nodal_points(vr_lt_unit *unit, vr_ctx *ctx, const vr_lt_6d *pose,
                                           dpt left_out, dpt right_out);
VR_API void vr_lt_new_predict_eye_nodal_points(vr_lt_unit *unit, vr_ctx *ctx,
                                               const vr_lt_6d *pose, dpt left_out,
                                               dpt right_out);

/* DynaSight optical head tracker */
VR_API extern vr_lt_unit *vr_ds_glasses_unit;
VR_API extern char vr_ds_message[256];
VR_API int vr_ds_init_glasses(vr_ctx *ctx);
VR_API void vr_ds_remove_glasses(vr_ctx *ctx);
VR_API vr_lt_unit *vr_ds_device_create(const char *name);
VR_API int vr_ds_port_open(void);
VR_API void vr_ds_port_close(vr_lt_unit *unit);
VR_API int vr_ds_get_6d(vr_lt_unit *unit, vr_lt_6d *out);
VR_API int vr_ds_obtain_current_event(vr_lt_unit *unit);
VR_API int vr_ds_obtain_current_offset(vr_lt_unit *unit);
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
  /* Opens the capture device read-write: a descriptor (>= 0) or -1. */
  int (*capture_open)(void *user, const char *path);
  /* Maps the device's 4096-byte capture area (offset 65536, shared, read-write) for the rest
   * of the process, or returns NULL (a regular file standing in for the device must hold the
   * whole area). */
  unsigned char *(*capture_map)(void *user, int fd);
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
  VR_OK = 0,                /* done */
  VR_ERR_UNKNOWN_ID = 1,    /* no attribute has this identifier */
  VR_ERR_WRONG_TYPE = 2,    /* the attribute holds another type than the accessor's */
  VR_ERR_NOT_SETTABLE = 3,  /* the attribute can only be read */
  VR_ERR_BAD_VALUE = 4,     /* refused value (non-finite, zero size, out of range, null) */
  VR_ERR_NOT_GETTABLE = 5   /* the attribute can only be written (the callback slots) */
} vr_result;

/* The type an attribute holds, as the typed accessors see it. */
typedef enum vr_attr_type {
  VR_TYPE_NONE = 0,   /* no such attribute */
  VR_TYPE_DOUBLE = 1, /* vr_set_double / vr_get_double */
  VR_TYPE_INT = 2,    /* vr_set_int / vr_get_int */
  VR_TYPE_POINT = 3,  /* vr_set_point / vr_get_point: three doubles */
  VR_TYPE_MATRIX = 4, /* vr_set_matrix / vr_get_matrix: a dmat */
  VR_TYPE_OTHER = 5   /* blocks and callbacks: only through vr_object_set / vr_object_get */
} vr_attr_type;

VR_API vr_result vr_set_double(vr_ctx *ctx, int id, double value);
VR_API vr_result vr_set_int(vr_ctx *ctx, int id, int value);
VR_API vr_result vr_set_point(vr_ctx *ctx, int id, const dpt value);
VR_API vr_result vr_set_matrix(vr_ctx *ctx, int id, const dmat value);
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

/* ------------------------------------------------------------------------------------------ */
/* Extension: graphics conventions and presets (identifiers 145..159).                         */
/* ------------------------------------------------------------------------------------------ */

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
 *     arrival, found from its place in the capture ring and the line's byte rate, less the time
 *     on the line and, for the Logitech units, VR_TRACKER_DELAY) and fed to a double-exponential
 *     smoothing predictor of the position and the orientation, which gives the pose at the
 *     display time. A head slower than VR_PREDICT_RAMP_START (cm/s) is not extrapolated, and is
 *     fully extrapolated from VR_PREDICT_RAMP_END on, so that holding still does not jitter.
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
                                  scan-out. Default 0: one frame interval (the time between the
                                  last two frames, at most 0.1 s). Negative values are refused;
                                  values above 0.25 s are used as 0.25 s. */
  VR_TRACKER_DELAY = 162,      /* double, seconds a Logitech unit takes from a measurement to the
                                  first byte of its report or record on the line. Default 0.005;
                                  negative refused; used at most 0.2 s. */
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

/* ------------------------------------------------------------------------------------------ */
/* Extension: network head trackers and pose output (identifiers 190..219).                    */
/* ------------------------------------------------------------------------------------------ */

/* ------------------------------------------------------------------------------------------ */
/* Extension: configuration and calibration (identifiers 220..239).                            */
/* ------------------------------------------------------------------------------------------ */

/* ------------------------------------------------------------------------------------------ */
/* Extension: lab trackers and screen walls (identifiers 240..269).                            */
/* ------------------------------------------------------------------------------------------ */

#ifdef __cplusplus
}
#endif

#endif /* VRLIB_VR_H */

/*
 * vrsim: a virtual-time simulator of the tracking devices, for testing the tracker drivers.
 *
 * A simulator replaces the operating system underneath the library: it installs itself as the
 * library's platform table (see vr_platform_install in vr.h) and provides
 *   - a deterministic virtual clock (nothing ever waits in real time),
 *   - the serial lines of ports A and B, recording every call made on them,
 *   - the capture area with its two rings, filled byte by byte at each line's byte rate,
 *   - the devices plugged into the ports: Logitech control units (6D reports and raw ultrasonic
 *     records), a CyberMan and a DynaSight, all answering the library's commands,
 *   - a ground truth (head and mouse poses, buttons) from which the devices measure, given in
 *     the tracker's frame or in a context's plate coordinates,
 *   - fault injection, device imperfections, and record/replay of everything that entered the
 *     rings.
 *
 * Plain C99 (also C++). All functions take the simulator first; none of them blocks.
 *
 * ---------------------------------------------------------------------------------------------
 * Virtual time
 *
 * Virtual time starts at 0 when the simulator is created and only moves forward:
 *   - the library's whole-second sleep advances it by that many seconds;
 *   - each reading of the processor-time clock (hrvtime, polled by vr_usleep) advances it by one
 *     CPU step (default 1 ms, vrsim_set_cpu_step_ns), except the first reading after any other
 *     platform call or vrsim_advance, which advances nothing. So vr_usleep(u) advances virtual
 *     time by exactly ceil(u / step) steps (at least one step): a pause of 100000 us between a
 *     flush and a write shows as exactly 0.1 s between the two recorded events;
 *   - vrsim_advance moves it explicitly (frame loops in tests);
 *   (virtual time stops at 100000 s, more than a day);
 *   - reading the real-time clock (hrtime) does not move it. hrtime returns the virtual time plus
 *     a fixed origin (vrsim_set_hrtime_origin_ns, default 1000 s), so the library's time zero is
 *     not at 0.
 * Whenever time moves, every device produces its output up to the new time and the bytes enter
 * the rings at the exact moment their last bit arrives on the line. Two simulators created with
 * one seed and driven by the same calls produce identical bytes at identical times.
 *
 * ---------------------------------------------------------------------------------------------
 * Frames and geometry (all lengths in cm; matrices in the library's row-vector convention)
 *
 * Transmitter (dig) frame: the speaker triangle lies in its z = 0 plane; the origin is the
 * midpoint of the speakers sll and slr, x points from sll to slr, the speaker stop is at +y:
 *   sll = (-B/2, 0, 0), slr = (+B/2, 0, 0), stop = (0, H, 0), H = sqrt(S^2 - (B/2)^2)
 * with B = transmitter geometry 0, S = transmitter geometry 1 (thousandths of an inch on the wire).
 * Transmitter geometry 2 is the reference distance of the speed-of-sound calibration.
 *
 * Receiver (sensor) frame of a unit: the microphone triangle in its z = 0 plane,
 *   mll = (+b/2, 0, 0), mlr = (-b/2, 0, 0), mtop = (-e, h, 0)
 * where b is the reported base, e the offset of mtop (default 0) and h its height above the base:
 * h = sqrt(s_true^2 - (b/2)^2) with s_true = reported side + side_extra_cm (0.08 cm for the
 * glasses receiver, 0 for the mouse receiver, matching how the library solves each unit), unless
 * top_height_cm is given. The microphones face the sensor frame's -z direction: a valid pose has
 * the speakers at negative sensor z (at least 5 degrees off the microphone plane).
 *
 * Truth poses are sensor-to-dig matrices: a point p of the sensor frame is at p x M in the dig
 * frame. With the identity rotation and a translation (x, y, z > 0) the receiver faces the
 * transmitter. A 6D report carries exactly the truth, decomposed as M = Rz(roll) x Rx(pitch) x
 * Ry(yaw) x T(x, y, z) (the library's build_mat_6Dm_to_dig) and quantised to 0.001 inch and
 * 1/40 degree. A raw record carries the nine times of flight speaker -> microphone in counts of
 * cm_per_count centimetres: u1..u3 = sll -> mlr, mll, mtop; u5..u7 = slr -> the same; u9..u11 =
 * stop -> the same; u4 = reference distance / cm_per_count. The speakers fire sll, slr, stop,
 * 20/3 ms apart; stop fires at the record's time stamp u8; each distance uses the pose at its
 * own firing time.
 *
 * Defaults (exact multiples of 0.001 inch): transmitter base 12.000 in, side 12.000 in,
 * reference distance 10.000 in, cm_per_count = 25.4 / 4800 (the reference time of flight is
 * exactly 4800 counts), type 3, measurement cycle 20 ms (50 Hz). Glasses receiver base 2.500 in,
 * side 2.500 in; mouse receiver base 2.000 in, side 2.000 in. Default truths: head at
 * (0, -10, 55), mouse at (8, -25, 40), identity rotations. These are tracker-frame poses, kept as
 * they always were: with the library's default calibration (transmitter tilted 50 degrees about
 * the plate's x axis, its origin at plate (18.28, 37.71, 4.6)) that head has its eyes below the
 * default screen (plate y = -11.6 cm) and turned 50 degrees up. For a viewer in front of the
 * screen, give the head in plate coordinates instead (vrsim_set_head_plate below; with no point
 * it puts the eyes centred on the context's screen, 60 cm in front of it, facing it).
 *
 * ---------------------------------------------------------------------------------------------
 * The library's eye model (what a tracked head's eye points are)
 *
 * For a head pose H (sensor-to-dig; the glasses' sensor frame is the head frame) the library takes
 * each eye's centre of rotation as the context's eye offset carried through the head pose into
 * plate coordinates: e = offset x H x dig_to_plate (VR_LEFT_EYE_OFFSET, default (-3.3, 2, 3.5);
 * VR_RIGHT_EYE_OFFSET, default (3.3, 2, 3.5): eyes 6.6 cm apart, 2 cm above and 3.5 cm behind the
 * receiver). From 6D reports and DynaSight records it first extrapolates each point one frame
 * ahead along its own motion (nothing for a head at rest). Then it moves each point 1.1 cm along
 * its line of sight to the gaze target, from the centre of rotation to the eye's nodal point, the
 * centre of the eye's projection: the target is the window centre (VR_WINDOW_CENTER) in gaze
 * mode 1, the default, else the mouse tip (VR_MOUSE_TIP_PLATE). The points the library reports
 * (VR_LEFT_EYE, VR_RIGHT_EYE while tracking) are therefore
 *   - about 1.1 cm nearer the screen than the offsets place them, when looking at it, and
 *   - closer together, because both lines of sight converge on one target: for eyes d cm from
 *     the target and symmetric about it, 6.6 x (1 - 1.1 / d) apart: 6.48 cm at d = 60.5 cm,
 *     6.44 cm for the default head above (44 cm from the default window centre).
 * vrsim_plate_eyes gives exactly these points for a head at rest.
 *
 * ---------------------------------------------------------------------------------------------
 * Serial lines
 *
 * line_open accepts the library's device paths (vr_device_path(VR_DEVICE_TTYA) = port A,
 * vr_device_path(VR_DEVICE_TTYB) = port B) and hands out descriptors > 0, a new one per open.
 * Opening a port with nothing plugged in fails (ENOENT) unless vrsim_set_open_unplugged allows
 * it. A line starts at 9600 baud, 8 data bits, not raw. Every call on a line is recorded as an
 * event with its virtual time (vrsim_event_count / vrsim_event_at).
 *
 * Bytes a device sends reach its port's ring only while the line is open with the receiver
 * enabled; when the line's baud rate, data bits or parity differ from the device's, each byte
 * arrives garbled (a pseudo-random byte) and bytes written to the device are not understood.
 *
 * ---------------------------------------------------------------------------------------------
 * Devices
 *
 * Logitech control unit (19200 baud, 8N1, 1920 bytes/s). Power-on and "*R" leave it in 6D mode
 * with reporting on demand (quiet: the unit sends nothing until "*S" or "*d", so that the 30-byte
 * answer to "*m" stands alone in the ring), the transmitter output on, no slave transmitter type
 * set; for reset_busy_s (default 0.5 s) after "*R" it ignores commands. Commands:
 *   "*R" reset; "*$" n p1..pn parameters (02 07 n: filter length, 02 01 t: slave transmitter
 *   type; a parameter command still incomplete 50 ms after its last byte is carried out with the
 *   missing bytes taken as 0); "*m" the 30-byte operating information, starting 10 ms later;
 *   "*" F2 raw mode; "*>" 6D mode; "*S" streaming; "*D" demand; "*d" one report or record of the
 *   newest measurement; "*O" transmitter output off; "*A" on; "*H", "*h", "*G", "!T" 01 01 07 are
 *   accepted and change nothing. Anything else is ignored.
 * Operating information: byte 0 = 0x80 | op_byte0; byte 6 = 2 on the unit carrying the
 * transmitter, else 0; byte 8 the socket code; byte 9 the transmitter type (on a slave: its slave
 * type, 0 when none); bytes 10-13 the receiver geometry and 15-20 the transmitter geometry
 * (every unit reports it), 16-bit little-endian whole bytes; byte 14 = op_byte14; the rest 0.
 * A unit measures once per cycle when it is powered, carries a receiver and the transmitter
 * (plugged into it or into the unit on the other port, which must be powered) has its output on;
 * with strict_slave a unit without the transmitter also needs its slave type set to the
 * transmitter's type. 6D reports and raw records leave the unit 5 ms after their measurement
 * (2 ms after "*d"). A unit with no receiver (socket code 15) never measures.
 *
 * CyberMan (port B normally): after the start-up sequence (line at 1200 baud 7 bits with DTR
 * raised, a rising edge of RTS, then "*S" written at 1200 baud 7 bits) it sends 5-byte packets
 * at 4800 baud, 8 bits (480 bytes/s), at rate_hz (default 40). A rising edge of RTS while DTR is
 * raised restarts it (silent until the next "*S").
 *
 * DynaSight: sends 8-byte records (two sync bytes 0x80, then X, Y, Z big-endian signed 16-bit in
 * 0.005 cm) at rate_hz (default 60) at 19200 baud; it reports the translation of the head truth
 * (the target point in its tracker frame). It takes no commands.
 * ---------------------------------------------------------------------------------------------
 */
#ifndef VRSIM_VRSIM_H
#define VRSIM_VRSIM_H

#include <vrlib/vr.h>

#if defined(__GNUC__) || defined(__clang__)
#define VRSIM_API __attribute__((visibility("default")))
#else
#define VRSIM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vrsim vrsim;

/* ---- Lifecycle and installation ------------------------------------------------------------ */

/* A new simulator at virtual time 0 with nothing plugged in. Clears the process-wide capture
 * area (both rings and both write offsets). NULL only when out of memory. */
VRSIM_API vrsim *vrsim_create(unsigned long long seed);
/* Uninstalls it first when it is the installed platform; closes any recording. */
VRSIM_API void vrsim_destroy(vrsim *sim);
/* Makes the library use this simulator as its platform (clocks, lines, capture device). */
VRSIM_API void vrsim_install(vrsim *sim);
/* Restores the library's default platform. */
VRSIM_API void vrsim_uninstall(void);
/* The installed simulator, or NULL. */
VRSIM_API vrsim *vrsim_installed(void);

/* ---- Virtual time -------------------------------------------------------------------------- */

VRSIM_API long long vrsim_now_ns(const vrsim *sim);
VRSIM_API double vrsim_now(const vrsim *sim); /* seconds */
/* Moves virtual time forward (negative or NaN: nothing), running every device. */
VRSIM_API void vrsim_advance(vrsim *sim, double seconds);
VRSIM_API void vrsim_advance_ns(vrsim *sim, long long ns);
/* Virtual time per processor-time clock reading; default 1000000 (1 ms); at least 1. */
VRSIM_API void vrsim_set_cpu_step_ns(vrsim *sim, long long step_ns);
/* hrtime() = origin + virtual time; default 1000000000000 (1000 s). */
VRSIM_API void vrsim_set_hrtime_origin_ns(vrsim *sim, long long origin_ns);

/* ---- Ground truth -------------------------------------------------------------------------- */

enum { VRSIM_HEAD = 0, VRSIM_MOUSE = 1 };

/* A scripted pose: fills out with the sensor-to-dig matrix at virtual time t (seconds). */
typedef void (*vrsim_pose_fn)(void *user, double t, dmat out);

/* A fixed pose (replaces any callback). */
VRSIM_API void vrsim_set_pose(vrsim *sim, int which, dmat pose);
/* A fixed pose with identity rotation at (x, y, z) cm. */
VRSIM_API void vrsim_set_position(vrsim *sim, int which, double x, double y, double z);
/* A pose that follows fn; NULL fn returns to the last fixed pose. */
VRSIM_API void vrsim_set_pose_fn(vrsim *sim, int which, vrsim_pose_fn fn, void *user);
/* The truth at virtual time t. */
VRSIM_API void vrsim_get_pose(const vrsim *sim, int which, double t, dmat out);
/* Button bits of the receiver (0..15), as the driver reports them. On the wire the 6D status
 * byte carries them as they are; the raw record carries them with bits 0 and 2 exchanged. */
VRSIM_API void vrsim_set_buttons(vrsim *sim, int which, int buttons);
VRSIM_API int vrsim_get_buttons(const vrsim *sim, int which);

/* ---- Ground truth in plate coordinates ----------------------------------------------------- */

/* The head and the mouse given where the library will see them: in the plate coordinates of a
 * context (cm; origin at the screen's lower-left corner, x right, y up, z out of the screen
 * toward the viewer). The simulator turns them into the sensor-to-dig truths its devices measure,
 * through that context's calibration (VR_DIG_TO_PLATE), eye offsets (VR_LEFT_EYE_OFFSET,
 * VR_RIGHT_EYE_OFFSET) and mouse tip offset (VR_MOUSE_TIP_OFFSET), so that the library tracking
 * them with that context reports the head's eyes (see the eye model above) and the mouse tip
 * (VR_MOUSE_TIP_PLATE) at the given points, to the tracker's resolution.
 *
 * The head is given by its eye midpoint (the midpoint of the eyes' centres of rotation, which the
 * eye offsets place) and the mouse by its tip. An orientation is a quaternion (x, y, z, w) that
 * turns the sensor frame into the plate frame in the right-hand sense (about the unit axis a by
 * angle t: (a sin(t/2), cos(t/2))); it need not be of unit length. The identity (also NULL) is a
 * head upright, looking straight at the screen (its x axis along the plate's x, y up, looking
 * along -z), and a mouse held level, its tip pointing into the screen. The DynaSight measures
 * only where its target (the sensor frame's origin) is, and the library then takes the head's
 * rotation as the identity in the tracker frame: its eyes come back where that rotation puts
 * them, not where the given orientation does.
 *
 * A receiver measures only while it faces the transmitter (every speaker at least 5 degrees in
 * front of its microphones' plane). With the library's default calibration the transmitter's top
 * speaker stands 25 cm in front of the screen and 55 cm above its lower edge: a mouse held level
 * with its receiver nearer the screen than about 30 cm, or pointed down, is not tracked.
 *
 * The functions return 1 when done; 0, changing nothing, for a null simulator or context, a point
 * or orientation that is not finite, a zero quaternion, or a calibration that cannot be inverted.
 */

/* A head orientation from angles (radians) turned in this order: roll about the line of sight
 * (z; positive tips the head toward its left shoulder), pitch about the plate's x (positive looks
 * up), yaw about the plate's y (positive turns toward the viewer's left, -x). As a row-vector
 * matrix: Rz(roll) x Rx(pitch) x Ry(yaw), the same order as the 6D reports' decomposition. */
VRSIM_API void vrsim_orientation_from_angles(double yaw, double pitch, double roll, dquat out);

/* The default viewer for a context: eye midpoint centred on its screen, 60 cm in front of it
 * ((screen width / 2, screen height / 2, 60)). The default mouse tip: on the same line, 30 cm in
 * front of the screen. */
VRSIM_API void vrsim_default_head_plate(const vr_ctx *ctx, dpt eye_mid);
VRSIM_API void vrsim_default_mouse_tip_plate(const vr_ctx *ctx, dpt tip);

/* The sensor-to-dig truth for a head (eye midpoint) or a mouse (tip) in plate coordinates, as
 * the context is calibrated now. */
VRSIM_API int vrsim_head_pose_from_plate(const vr_ctx *ctx, const dpt eye_mid,
                                         const dquat orientation, dmat sensor_to_dig);
VRSIM_API int vrsim_mouse_pose_from_plate(const vr_ctx *ctx, const dpt tip, const dquat orientation,
                                          dmat sensor_to_dig);

/* Fixed truths (replacing any callback), converted once, at the call. A NULL point takes the
 * default viewer or mouse tip of the context; a NULL orientation faces the screen. */
VRSIM_API int vrsim_set_head_plate(vrsim *sim, const vr_ctx *ctx, const dpt eye_mid,
                                   const dquat orientation);
VRSIM_API int vrsim_set_mouse_tip_plate(vrsim *sim, const vr_ctx *ctx, const dpt tip,
                                        const dquat orientation);

/* A scripted truth in plate coordinates: fills point (the eye midpoint or the mouse tip, cm) and
 * orientation (preset to the identity) at virtual time t (seconds). */
typedef void (*vrsim_plate_pose_fn)(void *user, double t, dpt point, dquat orientation);
/* The head (VRSIM_HEAD) or mouse (VRSIM_MOUSE) truth follows fn, converted through the context
 * at each evaluation (so a calibration or offset changed later is followed). The context must
 * outlive the script; vrsim_set_pose_fn(sim, which, NULL, NULL) ends it. A point fn gives that
 * cannot be converted measures as the fixed truth in force when the script was set. 0 for an
 * unknown `which` or a null fn, simulator or context. */
VRSIM_API int vrsim_set_plate_fn(vrsim *sim, int which, const vr_ctx *ctx, vrsim_plate_pose_fn fn,
                                 void *user);

/* The eye points the library reports (VR_LEFT_EYE, VR_RIGHT_EYE in stereo) for this head at
 * rest, tracked with this context: the eye model above, with the context's gaze target as it is
 * now. A NULL eye midpoint takes the default viewer. The outputs stay as they were when the
 * pose cannot be converted. */
VRSIM_API void vrsim_plate_eyes(const vr_ctx *ctx, const dpt eye_mid, const dquat orientation,
                                dpt left, dpt right);

/* ---- Transmitter --------------------------------------------------------------------------- */

typedef struct vrsim_transmitter {
  int port;            /* unit carrying it: 0 = A, 1 = B, -1 = none; default 0 */
  int type;            /* operating-information byte 9; default 3 */
  int geom_thou[3];    /* base, side, reference distance, thousandths of an inch */
  double cm_per_count; /* time-of-flight scale, cm per count; default 25.4 / 4800 */
  double cycle_s;      /* measurement cycle, 0.001 .. 10 s; default 0.02 */
  double phase_s;      /* virtual time of the first cycle, within one cycle; default 0.003 */
} vrsim_transmitter;

VRSIM_API void vrsim_transmitter_init(vrsim_transmitter *tx); /* the defaults */
VRSIM_API void vrsim_set_transmitter(vrsim *sim, const vrsim_transmitter *tx);
VRSIM_API void vrsim_get_transmitter(const vrsim *sim, vrsim_transmitter *tx);
/* Speaker positions in the dig frame: which 0 = sll, 1 = slr, 2 = stop. */
VRSIM_API void vrsim_speaker(const vrsim *sim, int which, dpt out);

/* ---- Devices ------------------------------------------------------------------------------- */

enum { VRSIM_PORT_A = 0, VRSIM_PORT_B = 1 };
enum { VRSIM_NOTHING = 0, VRSIM_LOGITECH = 1, VRSIM_CYBERMAN = 2, VRSIM_DYNASIGHT = 3 };
enum { VRSIM_RX_NONE = 0, VRSIM_RX_GLASSES = 1, VRSIM_RX_MOUSE = 2 };

typedef struct vrsim_lt_config {
  int receiver;           /* VRSIM_RX_*: which truth it measures (head for glasses) */
  int socket_code;        /* op-info byte 8; -1 = from receiver: glasses 11, mouse 4, none 15 */
  int op_byte0;           /* low six bits of op-info byte 0; default 0 */
  int op_byte14;          /* op-info byte 14 (7 bits); default 0 */
  int rx_geom_thou[2];    /* reported receiver base b and side s, thousandths of an inch */
  double side_extra_cm;   /* true side = s + this; default 0.08 glasses, 0 otherwise */
  double top_offset_cm;   /* e: true x offset of mtop in the solving frame; default 0 */
  double top_height_cm;   /* h: true height of mtop; 0 = from the sides (default) */
  double clock_offset_s;  /* unit clock reading (s) at virtual time 0; default 12.345 */
  double clock_drift_ppm; /* unit clock rate error; default 0 */
  double reset_busy_s;    /* deaf time after "*R"; default 0.5 */
  int strict_slave;       /* 1: without the transmitter, measure only once slaved; default 0 */
} vrsim_lt_config;

/* Defaults for a unit carrying the given receiver. */
VRSIM_API void vrsim_lt_config_init(vrsim_lt_config *cfg, int receiver);

/* Plugs a device into a port (replacing what was there; the line state is kept). A rate of 0
 * takes the device's default; rates are limited to 1000 Hz. */
VRSIM_API void vrsim_plug_logitech(vrsim *sim, int port, const vrsim_lt_config *cfg);
VRSIM_API void vrsim_plug_cyberman(vrsim *sim, int port, double rate_hz);
VRSIM_API void vrsim_plug_dynasight(vrsim *sim, int port, double rate_hz);
VRSIM_API void vrsim_unplug(vrsim *sim, int port);
/* The usual set-up: glasses unit with the transmitter on A, mouse unit on B. */
VRSIM_API void vrsim_plug_standard(vrsim *sim);
VRSIM_API int vrsim_plugged(const vrsim *sim, int port); /* VRSIM_NOTHING, ... */

/* The Logitech unit's processing time from a measurement to the first byte of its streamed 6D
 * report: 0 to 1 s (anything else changes nothing); default 0.005. Raw records and the answers to
 * "*d" keep their own latencies. Set it after plugging the unit in (plugging resets it). */
VRSIM_API void vrsim_set_6d_delay(vrsim *sim, int port, double seconds);

/* Power switch; switching on returns the device to its power-on state. Default on. */
VRSIM_API void vrsim_set_power(vrsim *sim, int port, int on);

/* Microphone positions of the unit on a port in its sensor frame: 0 = mll, 1 = mlr, 2 = mtop. */
VRSIM_API void vrsim_microphone(const vrsim *sim, int port, int which, dpt out);
/* The nine true distances (cm, noise-free) of a record whose stop speaker fires at virtual time
 * t, in wire order: sll->mlr, sll->mll, sll->mtop, slr->..., stop->... */
VRSIM_API void vrsim_true_distances(const vrsim *sim, int port, double t, double out[9]);

enum { VRSIM_MODE_6D = 0, VRSIM_MODE_RAW = 1 };

typedef struct vrsim_lt_state {
  int powered;
  int mode;           /* VRSIM_MODE_6D or VRSIM_MODE_RAW */
  int streaming;      /* 1 after "*S", 0 after "*D" and reset */
  int transmitter_on; /* this unit's own transmitter output (1 also when it has none) */
  int measuring;      /* whether it measures now */
  int filter_length;  /* in force; 0 = none set since power-on or reset */
  int slave_type;     /* in force; -1 = none set since power-on or reset */
  int resets, op_info_requests, demands, unknown_commands, commands;
  long long unit_clock_ms; /* the unit's clock now (0..59999) */
} vrsim_lt_state;

/* 1 and the state when a Logitech unit is on the port, else 0. */
VRSIM_API int vrsim_lt_get_state(const vrsim *sim, int port, vrsim_lt_state *out);

/* The CyberMan's state: motions -128..127, buttons 0..7, four three-state values each 0, 1, -1
 * or 3. */
VRSIM_API void vrsim_cyberman_set(vrsim *sim, int x_motion, int y_motion, int buttons,
                                  const int states[4]);
/* 1 when sending packets. */
VRSIM_API int vrsim_cyberman_started(const vrsim *sim);
VRSIM_API int vrsim_cyberman_tactile_count(const vrsim *sim);

/* ---- Imperfections ------------------------------------------------------------------------- */

typedef struct vrsim_imperfections {
  double distance_noise_cm; /* Gaussian sigma on each raw distance and each 6D/DynaSight axis */
  double outlier_rate;      /* probability per raw distance of an outlier */
  double outlier_cm;        /* added to an outlier distance */
  /* The next two apply to measurements (6D reports, raw records, packets, DynaSight records),
   * not to the operating information. */
  double drop_rate;    /* probability that a measurement is not sent */
  double garbage_rate; /* probability per measurement of 1..4 garbage bytes sent before it */
  int stopped;         /* 1: the device sends nothing at all (commands still parsed) */
  int clock_stalled;   /* 1: the unit's millisecond clock stands still */
} vrsim_imperfections;

/* All zero: a perfect device (the default). Applies to the device now on the port. */
VRSIM_API void vrsim_set_imperfections(vrsim *sim, int port, const vrsim_imperfections *imp);
/* Queues bytes to arrive on the port's line now, after anything already queued, at the line's
 * byte rate. They enter the ring exactly as given, whatever the state of the line. */
VRSIM_API void vrsim_inject(vrsim *sim, int port, const unsigned char *bytes, int count);

/* ---- Platform faults ----------------------------------------------------------------------- */

typedef struct vrsim_line_faults {
  int open_errno;    /* opening the line fails with this error number */
  int set_errno;     /* setting line parameters fails with this error number ... */
  int set_fail_at;   /* ... on every set (0) or only on the n-th set from now (n >= 1) */
  int get_errno;     /* reading line parameters fails */
  int modem_errno;   /* changing modem lines fails */
  int flush_errno;   /* flushing fails */
  int nodelay_errno; /* the file status flags cannot be read */
} vrsim_line_faults;

/* All zero: no fault. */
VRSIM_API void vrsim_set_line_faults(vrsim *sim, int port, const vrsim_line_faults *faults);
/* Call-by-call fault injection, for sweeping every failure a set-up can meet. The platform
 * calls that can fail are counted: line_open, line_write, line_get, line_set, line_modem,
 * line_flush, line_nodelay, line_pop_module, capture_open and capture_map (not the clocks, the
 * sleep, line_close or line_top_module). After vrsim_fail_call(sim, n, err) with n >= 1, the n-th
 * such call from then on fails with error number err (EIO when err is 0) the way its entry
 * reports a failure (-1 with errno set, the error number, or NULL), is recorded with that error,
 * and has no other effect; the calls after it work again. n = 0 turns the injection off. Either
 * way the count starts again from 0. */
VRSIM_API void vrsim_fail_call(vrsim *sim, long long n, int err);
/* The calls that can fail made since the last vrsim_fail_call (or since creation). */
VRSIM_API long long vrsim_failable_calls(const vrsim *sim);
/* 1 once the chosen call has failed. */
VRSIM_API int vrsim_call_failed(const vrsim *sim);
/* Line descriptors open now (descriptors of the capture device are not counted). */
VRSIM_API int vrsim_open_lines(const vrsim *sim);

/* 1: a port with nothing plugged in opens (and stays silent); 0 (default): open fails. */
VRSIM_API void vrsim_set_open_unplugged(vrsim *sim, int opens);
/* Pushes a stream module on the port's line (pop_errno 0: it pops; else popping fails with that
 * error number and the module stays). The topmost module is the last pushed. */
VRSIM_API void vrsim_push_module(vrsim *sim, int port, const char *name, int pop_errno);
VRSIM_API int vrsim_module_count(const vrsim *sim, int port);

enum {
  VRSIM_CAPTURE_OK = 0,
  VRSIM_CAPTURE_PRIMARY_MISSING = 1, /* only VR_DEVICE_CAPTURE_ALT opens */
  VRSIM_CAPTURE_MISSING = 2,         /* neither opens */
  VRSIM_CAPTURE_UNMAPPABLE = 3       /* opens, but mapping fails */
};
VRSIM_API void vrsim_set_capture_fault(vrsim *sim, int fault);

/* ---- Capture area -------------------------------------------------------------------------- */

/* The process-wide simulated capture area (4096 bytes, never freed). */
VRSIM_API unsigned char *vrsim_capture_area(void);
VRSIM_API int vrsim_ring_offset(int port); /* current write offset of a ring */

/* ---- Recorded platform calls --------------------------------------------------------------- */

enum {
  VRSIM_EV_OPEN = 1,     /* text = path; result = descriptor or -1; err = error number */
  VRSIM_EV_CLOSE,        /* fd */
  VRSIM_EV_WRITE,        /* count, bytes (the first 64); result = bytes written or -1 */
  VRSIM_EV_LINE_GET,     /* settings read; err */
  VRSIM_EV_LINE_SET,     /* settings requested; err */
  VRSIM_EV_MODEM,        /* lines (VR_MODEM_*), raise; err */
  VRSIM_EV_FLUSH,        /* err */
  VRSIM_EV_NODELAY,      /* err */
  VRSIM_EV_TOP_MODULE,   /* result 1 = text names the module, 0 = none */
  VRSIM_EV_POP_MODULE,   /* text = module popped (or not); err */
  VRSIM_EV_SLEEP,        /* count = seconds */
  VRSIM_EV_CAPTURE_OPEN, /* text = path; result = descriptor or -1 */
  VRSIM_EV_CAPTURE_MAP,  /* result 1 = mapped, 0 = failed */
  VRSIM_EV_UDP_OPEN,     /* port = UDP port asked for; result = descriptor or -1; err */
  VRSIM_EV_UDP_CLOSE,    /* fd */
  VRSIM_EV_UDP_SEND      /* port = destination UDP port; count, bytes (the first 64); err */
};

typedef struct vrsim_event {
  int kind;          /* VRSIM_EV_* */
  int port;          /* 0, 1, or -1 when none applies */
  long long time_ns; /* virtual time of the call */
  int fd;
  int result;
  int err;   /* error number reported, 0 = success */
  int count; /* bytes written, seconds slept */
  unsigned char bytes[64];
  vr_line_settings settings;
  int lines, raise;
  char text[64];
} vrsim_event;

/* The log keeps the first 262144 events after creation or the last vrsim_events_clear. */
VRSIM_API int vrsim_event_count(const vrsim *sim);
/* Event i (0 = oldest); NULL when out of range. Valid until the next call that records. */
VRSIM_API const vrsim_event *vrsim_event_at(const vrsim *sim, int i);
/* Index of the first event at or after `from` with this kind and port (port -2 = any), or -1. */
VRSIM_API int vrsim_event_find(const vrsim *sim, int from, int kind, int port);
VRSIM_API void vrsim_events_clear(vrsim *sim);
/* Every byte ever written to the port's line, in order: copies up to size, returns the total. */
VRSIM_API int vrsim_written(const vrsim *sim, int port, unsigned char *out, int size);

/* ---- UDP: virtual sockets and a network head tracker --------------------------------------- */

/* The library's UDP entries (udp_open, udp_receive, udp_send, udp_close) reach virtual sockets
 * on one virtual host: a datagram sent to a port goes to the socket bound to that port (bound
 * to that address or to every interface), arriving at its arrival time; a socket holds at most
 * 256 waiting datagrams and drops the rest; nobody bound means the datagram is lost. Binding a
 * port already bound fails with EADDRINUSE; port 0 takes a free port from 49152 up. A test can
 * bind a listener of its own through vr_platform_current()->udp_open while the simulator is
 * installed. Each call is recorded as an event (VRSIM_EV_UDP_*). */

/* The opentrack sender, as a webcam face tracker runs it: every 1/rate_hz seconds it measures
 * the head truth, read as the head's pose in the camera's frame (the library's camera frame for
 * VR_SOURCE_NETWORK: x right, y up, z toward the viewer), decomposed as for a 6D report
 * (Rz(roll) x Rx(pitch) x Ry(yaw) x T(x, y, z)), and sends X, Y, Z (cm) and yaw, pitch, roll
 * (degrees), each multiplied by its axis_sign, as a 48-byte datagram (52 with framed: a 4-byte
 * frame number follows) that arrives latency_s after the measurement. Of the imperfections:
 * distance_noise_cm is a Gaussian sigma on each position value, drop_rate the probability that
 * a datagram is not sent, garbage_rate the probability that a malformed datagram (a length of
 * 1..47 bytes) goes just before it, and stopped silences it. */
typedef struct vrsim_opentrack_config {
  double rate_hz;   /* datagrams per second; default 30, limited to 1000 */
  double latency_s; /* measurement to arrival, >= 0; default 0.02 */
  double phase_s;   /* virtual time of the first measurement after starting; default 0.001 */
  unsigned address; /* destination IPv4 address, host order; default 0x7F000001 */
  int port;         /* destination port; default 4242 */
  int framed;       /* 1: 52-byte datagrams with a frame number; default 0 */
  int axis_sign[6]; /* +1 or -1 per value X, Y, Z, yaw, pitch, roll; default +1 */
} vrsim_opentrack_config;

VRSIM_API void vrsim_opentrack_config_init(vrsim_opentrack_config *cfg);
/* Starts the sender (replacing a running one) from the present time; NULL takes the defaults. */
VRSIM_API void vrsim_start_opentrack(vrsim *sim, const vrsim_opentrack_config *cfg);
VRSIM_API void vrsim_stop_opentrack(vrsim *sim);
/* All zero (or NULL): a perfect sender (the default). */
VRSIM_API void vrsim_set_opentrack_imperfections(vrsim *sim, const vrsim_imperfections *imp);
/* Datagrams the sender has sent (malformed ones included). */
VRSIM_API int vrsim_opentrack_sent(const vrsim *sim);

/* Sends one datagram (0..1024 bytes) from outside to address:port, arriving delay_s from now.
 * 1 = a socket takes it, 0 = nobody is bound there (lost) or bad arguments. */
VRSIM_API int vrsim_udp_inject(vrsim *sim, unsigned address, int port, const unsigned char *bytes,
                               int count, double delay_s);
/* The datagrams the library has sent: their number, and the i-th (0 = oldest): destination,
 * virtual time (s), bytes copied up to size; returns its length, or -1 when i is out of range.
 * The first 65536 are kept. */
VRSIM_API int vrsim_udp_sent_count(const vrsim *sim);
VRSIM_API int vrsim_udp_sent_at(const vrsim *sim, int i, unsigned *address, int *port,
                                double *time_s, unsigned char *bytes, int size);
/* Virtual sockets open now. */
VRSIM_API int vrsim_udp_open_count(const vrsim *sim);

typedef struct vrsim_udp_faults {
  int open_errno; /* opening a socket fails with this error number */
  int send_errno; /* sending fails with this error number */
} vrsim_udp_faults;
/* All zero (or NULL): no fault. */
VRSIM_API void vrsim_set_udp_faults(vrsim *sim, const vrsim_udp_faults *faults);

/* ---- Record and replay --------------------------------------------------------------------- */

/* Records every byte as it enters a ring, with its virtual time, into a file. 1 = recording. */
VRSIM_API int vrsim_record_start(vrsim *sim, const char *path);
/* Ends the recording and closes the file; 1 = written completely. */
VRSIM_API int vrsim_record_stop(vrsim *sim);
/* Loads a recording: from now on the rings receive exactly the recorded bytes at their recorded
 * virtual times (bytes recorded before the present time arrive at once, in order) and nothing
 * else: the devices' output and injected bytes are discarded, while the devices still take
 * commands. Driving the library through the same calls as in the recorded run reproduces that
 * run. 1 = loaded; 0 = no such file or not a recording (nothing changes). */
VRSIM_API int vrsim_replay_start(vrsim *sim, const char *path);
/* Bytes of the loaded recording not yet delivered. */
VRSIM_API long long vrsim_replay_remaining(const vrsim *sim);

/* ---- Encoders (the devices' own formats, for tests) ---------------------------------------- */

/* The 6D report of a pose (sensor-to-dig, cm) and status bits, noise-free. */
VRSIM_API void vrsim_encode_6d(dmat pose, int status, unsigned char out[16]);
/* The decomposition used: x, y, z (cm) and roll, pitch, yaw (radians) with
 * pose = Rz(roll) x Rx(pitch) x Ry(yaw) x T(x, y, z). */
VRSIM_API void vrsim_decompose_6d(dmat pose, double *x, double *y, double *z, double *roll,
                                  double *pitch, double *yaw);
/* A CyberMan packet. */
VRSIM_API void vrsim_encode_cyberman(int x_motion, int y_motion, int buttons, const int states[4],
                                     unsigned char out[5]);
/* A DynaSight record of a point (cm). */
VRSIM_API void vrsim_encode_dynasight(double x, double y, double z, unsigned char out[8]);

#ifdef __cplusplus
}
#endif

#endif /* VRSIM_VRSIM_H */

#!/usr/bin/env python3
"""fishtank: a head-coupled "fish tank" on a flat panel, from Python with pyglet.

A 53 x 30 cm monitor of 1920 x 1080 pixels shows a tank that reaches 20 cm behind the glass, with
a blue box floating inside it (4 to 12 cm behind the screen) and an orange one standing out of it
(4 to 12 cm in front). A simulated viewer sways in front of the screen: the simulator plays the
ultrasonic head tracker on the serial lines and the library's own driver reads it, exactly as it
would read real glasses. World coordinates are the screen's centimetres (world_in_plate_cm), so
the scene is placed physically. Each eye is drawn from the library's projection and view
matrices, loaded as they are into OpenGL (their sixteen values are what glLoadMatrixf takes).

    fishtank.py                 a window with the stereo pair side by side (left | right)
    fishtank.py --headless      renders offscreen (EGL), checks the picture and writes the
                                stereo pair to fishtank.png (or --output PATH)

Headless, the program checks what it drew as examples/headbox does: both boxes in both eyes,
uncrossed parallax for the box behind the screen and crossed for the one in front, each of the
size the tracked eyes predict to a pixel, and a picture that follows the head. It exits with 0
when every check passed, 1 when one failed, 2 when it could not run.
"""

import argparse
import math
import struct
import sys
import zlib

import numpy as np

# The package from the build tree or the installed one.
import vrlib
import vrlib.sim

SCREEN_W_CM, SCREEN_H_CM = 53.0, 30.0
SCREEN_W_PX, SCREEN_H_PX = 1920, 1080
# Drawn at half the screen's resolution: the views map the window to clip space, so any picture
# of the screen's shape shows the same scene.
IMAGE_W, IMAGE_H = 960, 540
TANK_DEPTH_CM = 20.0

# (centre in plate cm, edge in cm, front face colour as bytes); the other faces are darker.
BOXES = [
    ((18.0, 15.0, -8.0), 8.0, (77, 128, 255)),  # inside the tank, behind the screen
    ((35.0, 15.0, 8.0), 8.0, (255, 153, 51)),  # out of the tank, in front of the screen
]
FRAMES = 120
CHECKPOINTS = (30, 119)


def sway(t):
    """Eye midpoint (plate cm) and head turn of the simulated viewer at time t (s): 60 cm from
    the screen, swaying 8 cm left and right every 4 s, turning a little toward the centre."""
    phase = 2.0 * math.pi * t / 4.0
    eyes = (SCREEN_W_CM / 2 + 8.0 * math.sin(phase), SCREEN_H_CM / 2 + 2.0 * math.sin(2 * phase),
            60.0)
    return eyes, vrlib.sim.orientation_from_angles(0.1 * math.sin(phase), 0.0, 0.0)


# ---- Drawing (legacy OpenGL through pyglet) ----------------------------------------------------

def draw_scene(gl, projection, view):
    gl.glMatrixMode(gl.GL_PROJECTION)
    gl.glLoadMatrixf((gl.GLfloat * 16)(*projection.ravel()))
    gl.glMatrixMode(gl.GL_MODELVIEW)
    gl.glLoadMatrixf((gl.GLfloat * 16)(*view.ravel()))
    # The tank: the screen's edges and its back wall, as lines.
    gl.glColor3ub(90, 90, 90)
    gl.glBegin(gl.GL_LINES)
    w, h, d = SCREEN_W_CM, SCREEN_H_CM, -TANK_DEPTH_CM
    corners = [(0, 0), (w, 0), (w, h), (0, h)]
    for i, (x, y) in enumerate(corners):
        nx, ny = corners[(i + 1) % 4]
        for z in (0.0, d):
            gl.glVertex3f(x, y, z)
            gl.glVertex3f(nx, ny, z)
        gl.glVertex3f(x, y, 0.0)
        gl.glVertex3f(x, y, d)
    gl.glEnd()
    gl.glBegin(gl.GL_QUADS)
    for centre, size, colour in BOXES:
        half = size / 2
        for axis in range(3):
            u, v = (axis + 1) % 3, (axis + 2) % 3
            for sign in (1.0, -1.0):
                shade = 1.0 if (axis == 2 and sign > 0) else 0.45 + 0.1 * axis
                gl.glColor3ub(*(int(c * shade) for c in colour))
                for cu, cv in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
                    p = [0.0, 0.0, 0.0]
                    p[axis] = centre[axis] + sign * half
                    p[u] = centre[u] + cu * half
                    p[v] = centre[v] + cv * half
                    gl.glVertex3f(*p)
    gl.glEnd()


def render_eye(gl, ctx, eye, viewport):
    projection, view = ctx.eye_matrices(eye, depth=vrlib.DEPTH_GL)
    gl.glViewport(*viewport)
    draw_scene(gl, projection, view)


def read_image(gl):
    pixels = (gl.GLubyte * (IMAGE_W * IMAGE_H * 4))()
    gl.glReadPixels(0, 0, IMAGE_W, IMAGE_H, gl.GL_RGBA, gl.GL_UNSIGNED_BYTE, pixels)
    return np.frombuffer(pixels, dtype=np.uint8).reshape(IMAGE_H, IMAGE_W, 4).copy()


# ---- Checking the pictures --------------------------------------------------------------------

def screen_pixel(eye, p):
    """Where a plate point appears for an eye, in image pixels from the lower-left corner."""
    t = eye[2] / (eye[2] - p[2])
    return ((eye[0] + t * (p[0] - eye[0])) / SCREEN_W_CM * IMAGE_W,
            (eye[1] + t * (p[1] - eye[1])) / SCREEN_H_CM * IMAGE_H)


def front_face_centre(image, colour):
    mask = np.all(np.abs(image[:, :, :3].astype(int) - np.array(colour)) <= 3, axis=2)
    ys, xs = np.nonzero(mask)
    if len(xs) < 100:
        return None
    return xs.mean() + 0.5, ys.mean() + 0.5


def write_png(path, left, right):
    pair = np.concatenate([left, right], axis=1)[::-1]  # pictures start at the top, GL at the bottom
    raw = b"".join(b"\x00" + row.tobytes() for row in pair)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", pair.shape[1], pair.shape[0], 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


def check_pictures(images, eyes):
    failures = 0

    def check(ok, what, got, want):
        nonlocal failures
        print(f"{what:<58} {got:8.2f} (expected {want:8.2f})  {'ok' if ok else 'FAILED'}")
        failures += 0 if ok else 1

    def check_shift(what, got, want):
        check(abs(got - want) <= 1.0 and (want > 0) == (got > 0), what, got, want)

    for b, (centre, size, colour) in enumerate(BOXES):
        face = (centre[0], centre[1], centre[2] + size / 2)
        at = [[front_face_centre(images[c][e], colour) for e in range(2)] for c in range(2)]
        want = [[screen_pixel(eyes[c][e], face) for e in range(2)] for c in range(2)]
        print("box behind the screen:" if b == 0 else "box in front of the screen:")
        seen = all(at[c][e] is not None for c in range(2) for e in range(2))
        check(seen, "  front face seen by both eyes at both checkpoints", float(seen), 1.0)
        if not seen:
            continue
        check_shift("  stereo parallax (px)", at[1][1][0] - at[1][0][0],
                    want[1][1][0] - want[1][0][0])
        check_shift("  left eye's picture moved with the head (px)", at[1][0][0] - at[0][0][0],
                    want[1][0][0] - want[0][0][0])
    return failures


# ---- The application --------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--headless", action="store_true", help="render offscreen and check")
    parser.add_argument("--output", default="fishtank.png", help="stereo PNG (headless)")
    parser.add_argument("--frames", type=int, default=0,
                        help="window: close after this many frames (0: when closed)")
    args = parser.parse_args()

    try:
        import pyglet
    except ImportError:
        print("fishtank: needs pyglet (Debian: python3-pyglet)", file=sys.stderr)
        return 2
    if args.headless:
        pyglet.options["headless"] = True
    from pyglet import gl

    # The display and the simulated head tracker.
    ctx = vrlib.Context.display(SCREEN_W_CM, SCREEN_H_CM, SCREEN_W_PX, SCREEN_H_PX,
                                kind=vrlib.FLAT_PANEL)
    ctx.world_in_plate_cm()
    ctx.stereo = 1
    sim = vrlib.sim.Simulator(1)
    sim.install()
    sim.plug_standard()
    sim.set_head_plate(ctx, *sway(0.0))
    try:
        ctx.init_trackers(head=True, mouse=True)
    except vrlib.Error as e:
        print(f"fishtank: the tracker did not start: {e}", file=sys.stderr)
        return 2

    def frame():
        eyes, turn = sway(sim.now)
        sim.set_head_plate(ctx, eyes, turn)
        sim.advance(1.0 / 60)  # the time one frame takes
        ctx.comp_view()  # reads the tracker, places the eyes, computes the views

    with sim, ctx:
        if args.headless:
            try:
                # Eight bits a channel: the checks look for the faces' exact colours.
                config = gl.Config(red_size=8, green_size=8, blue_size=8, alpha_size=8,
                                   depth_size=24, double_buffer=False)
                window = pyglet.window.Window(width=IMAGE_W, height=IMAGE_H, visible=False,
                                              config=config)
            except Exception as e:  # no EGL: nothing to check
                print(f"fishtank: no headless OpenGL context: {e}", file=sys.stderr)
                return 2
            gl.glEnable(gl.GL_DEPTH_TEST)
            gl.glDepthFunc(gl.GL_LESS)
            gl.glClearColor(0.0, 0.0, 0.0, 1.0)
            images = [[None, None], [None, None]]
            eyes = [[None, None], [None, None]]
            for n in range(FRAMES):
                frame()
                c = CHECKPOINTS.index(n) if n in CHECKPOINTS else -1
                for eye in (vrlib.EYE_LEFT, vrlib.EYE_RIGHT):
                    gl.glClear(gl.GL_COLOR_BUFFER_BIT | gl.GL_DEPTH_BUFFER_BIT)
                    render_eye(gl, ctx, eye, (0, 0, IMAGE_W, IMAGE_H))
                    if c >= 0:
                        images[c][eye] = read_image(gl)
                        eyes[c][eye] = ctx.left_eye if eye == vrlib.EYE_LEFT else ctx.right_eye
            failures = check_pictures(images, eyes)
            write_png(args.output, images[1][0], images[1][1])
            print(f"stereo pair (left | right) written to {args.output}")
            return 1 if failures else 0

        window = pyglet.window.Window(width=IMAGE_W, height=IMAGE_H // 2,
                                      caption="fishtank (left | right)")
        frames = [0]

        @window.event
        def on_draw():
            gl.glEnable(gl.GL_DEPTH_TEST)
            gl.glClear(gl.GL_COLOR_BUFFER_BIT | gl.GL_DEPTH_BUFFER_BIT)
            fw, fh = window.get_framebuffer_size()
            render_eye(gl, ctx, vrlib.EYE_LEFT, (0, 0, fw // 2, fh))
            render_eye(gl, ctx, vrlib.EYE_RIGHT, (fw // 2, 0, fw // 2, fh))

        def tick(_dt):
            frame()
            frames[0] += 1
            if args.frames and frames[0] >= args.frames:
                pyglet.app.exit()

        pyglet.clock.schedule_interval(tick, 1.0 / 60)
        pyglet.app.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())

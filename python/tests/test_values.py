"""Every value the package gives equals the C interface's for the same calls, to the last bit."""

import ctypes

import numpy as np
import pytest

import vrlib
from conftest import attribute_ids

DEPTHS = [vrlib.DEPTH_LIBRARY, vrlib.DEPTH_GL, vrlib.DEPTH_ZERO_ONE, vrlib.DEPTH_REVERSED_ZERO_ONE]


def c_value(clib, ctx, ident):
    """The C typed getter's value, as bytes (None when the attribute has no typed getter)."""
    kind = clib.vr_attr_type_of(ident)
    if kind == vrlib.TYPE_DOUBLE:
        v = ctypes.c_double()
        assert clib.vr_get_double(ctx, ident, ctypes.byref(v)) == vrlib.OK
        return np.float64(v.value).tobytes()
    if kind == vrlib.TYPE_INT:
        v = ctypes.c_int()
        assert clib.vr_get_int(ctx, ident, ctypes.byref(v)) == vrlib.OK
        return np.int64(v.value).tobytes()
    if kind in (vrlib.TYPE_POINT, vrlib.TYPE_MATRIX):
        n = 3 if kind == vrlib.TYPE_POINT else 16
        v = (ctypes.c_double * n)()
        get = clib.vr_get_point if kind == vrlib.TYPE_POINT else clib.vr_get_matrix
        assert get(ctx, ident, v) == vrlib.OK
        return bytes(v)
    return None


def py_value(ctx, ident):
    v = ctx.get(ident)
    if isinstance(v, float):
        return np.float64(v).tobytes()
    if isinstance(v, int):
        return np.int64(v).tobytes()
    return np.ascontiguousarray(v).tobytes()


def same_setup(clib, ctx, c_ctx):
    """One set-up done through both interfaces: a 53 x 30 cm panel, plate-cm world, stereo, eyes
    off centre, a window in part of the screen, a turned tracker."""
    for target in ("py", "c"):
        if target == "py":
            ctx.world_in_plate_cm()
            ctx.stereo = 1
            ctx.head_relative_views = 1
            ctx.screen_left_eye = [20.0, 13.0, 55.0]
            ctx.screen_right_eye = (26.5, 13.5, 55.5)
            ctx.hither = -3.25
            ctx.window_match(100, 50, 1500, 900)
        else:
            assert clib.vr_world_in_plate_cm(c_ctx) == 0
            assert clib.vr_set_int(c_ctx, vrlib.STEREO, 1) == 0
            assert clib.vr_set_int(c_ctx, vrlib.HEAD_RELATIVE_VIEWS, 1) == 0
            assert clib.vr_set_point(c_ctx, vrlib.SCREEN_LEFT_EYE, (ctypes.c_double * 3)(20, 13, 55)) == 0
            assert clib.vr_set_point(c_ctx, vrlib.SCREEN_RIGHT_EYE,
                                     (ctypes.c_double * 3)(26.5, 13.5, 55.5)) == 0
            assert clib.vr_set_double(c_ctx, vrlib.HITHER, -3.25) == 0
            clib.vr_window_match_ws(c_ctx, 100, 50, 1500, 900)


@pytest.fixture
def pair(clib):
    """A package context and a C context made the same way."""
    ctx = vrlib.Context.display(53.0, 30.0, 1920, 1080, kind=vrlib.FLAT_PANEL)
    c_ctx = clib.vr_ctx_create_display(53.0, 30.0, 1920, 1080, vrlib.DISPLAY_FLAT_PANEL)
    assert c_ctx
    yield ctx, c_ctx
    clib.free(c_ctx)


def test_defaults_and_preset_equal_the_c_contexts(clib):
    ctx = vrlib.Context()
    c_ctx = clib.vr_ctx_create()
    panel = vrlib.Context.display(40.0, 30.0, 1600, 1200, kind=vrlib.CRT)
    c_panel = clib.vr_ctx_create_display(40.0, 30.0, 1600, 1200, vrlib.DISPLAY_CRT)
    try:
        compared = 0
        for ident in attribute_ids():
            for p, c in ((ctx, c_ctx), (panel, c_panel)):
                want = c_value(clib, c, ident)
                if want is None:
                    continue
                assert py_value(p, ident) == want, vrlib._vrlib.attr_name(ident)
                compared += 1
        assert compared > 200
    finally:
        clib.free(c_ctx)
        clib.free(c_panel)


def test_frames_equal_the_c_calls_bit_for_bit(clib, pair):
    ctx, c_ctx = pair
    same_setup(clib, ctx, c_ctx)
    for frame in range(3):
        ctx.comp_view()
        clib.vr_comp_view(c_ctx)
        for ident in attribute_ids():
            want = c_value(clib, c_ctx, ident)
            if want is not None and ident not in (vrlib.PWORLD_TIME,):
                assert py_value(ctx, ident) == want, vrlib._vrlib.attr_name(ident)
        for eye in (vrlib.EYE_LEFT, vrlib.EYE_RIGHT):
            for depth in DEPTHS:
                projection, view = ctx.eye_matrices(eye, depth=depth)
                assert projection.dtype == np.float32 and projection.shape == (4, 4)
                assert view.dtype == np.float32 and view.shape == (4, 4)
                cp, cv = (ctypes.c_float * 16)(), (ctypes.c_float * 16)()
                assert clib.vr_eye_matrices(c_ctx, eye, depth, cp, cv) == 0
                assert projection.ravel().tobytes() == bytes(cp)
                assert view.ravel().tobytes() == bytes(cv)
                projection_d, view_d = ctx.eye_matrices_d(eye, depth)
                cpd, cvd = (ctypes.c_double * 16)(), (ctypes.c_double * 16)()
                assert clib.vr_eye_matrices_d(c_ctx, eye, depth, cpd, cvd) == 0
                assert projection_d.dtype == np.float64
                assert projection_d.ravel().tobytes() == bytes(cpd)
                assert view_d.ravel().tobytes() == bytes(cvd)


def test_matrix_layout_is_the_headers_row_vector_convention():
    ctx = vrlib.Context()
    m = ctx.dig_to_plate
    # The default transmitter: translation in row 3, [i, j] == m[i][j].
    assert m.shape == (4, 4) and m.dtype == np.float64
    assert np.array_equal(m[3, :3], [18.28, 37.71, 4.6])
    assert np.array_equal(m[:, 3], [0, 0, 0, 1])
    assert m[1, 2] == pytest.approx(np.sin(np.radians(50)))  # y leans toward the viewer
    p = np.array([1.0, 2.0, 3.0, 1.0]) @ m  # a point through the frame: row vector on the left
    assert p[:3] == pytest.approx(np.array([1.0, 2.0, 3.0]) @ m[:3, :3] + m[3, :3])
    assert ctx.left_eye.shape == (3,)
    # The split in the library's depth is the combined view: read as row-vector matrices (the
    # same memory as the column-vector ones OpenGL takes), view x projection = VR_LEFT_VIEW.
    ctx.comp_view()
    projection, view = ctx.eye_matrices_d(vrlib.EYE_LEFT)
    assert np.allclose(view @ projection, ctx.left_view, rtol=1e-12, atol=1e-12)


def test_setters_take_any_array_like_and_read_back_exactly():
    ctx = vrlib.Context()
    for value in ([1, 2, 3], (1.5, 2.5, 3.5), np.array([4, 5, 6], dtype=np.int32),
                  np.array([[7.0, 8.0, 9.0]])[0], np.arange(6.0)[::2]):
        ctx.left_eye_offset = value
        assert np.array_equal(ctx.left_eye_offset, np.asarray(value, dtype=float))
    turned = np.eye(4)
    turned[:3, :3] = [[0, 1, 0], [-1, 0, 0], [0, 0, 1]]
    turned[3, :3] = [1.0 / 3, 2.0, -7.25]
    ctx.tracker_to_plate = turned.tolist()
    assert ctx.tracker_to_plate.tobytes() == turned.tobytes()
    assert ctx.dig_to_plate.tobytes() == turned.tobytes()
    ctx.set(vrlib.SCREEN_WIDTH_CM, 40)  # an int for a double is a number all the same
    assert ctx.screen_width_cm == 40.0
    ctx.stereo = np.int64(1)
    ctx.stereo = True
    assert ctx.stereo == 1
    assert ctx.pworld_time[3] == 0.0 and len(ctx.pworld_time) == 4
    assert ctx.window_corner_dirs.shape == (4, 3)


def test_rigid_fit_equals_the_c_call(clib):
    rng = np.random.default_rng(7)
    src = rng.normal(size=(6, 3)) * 10
    angle = 0.3
    rot = np.array([[np.cos(angle), np.sin(angle), 0], [-np.sin(angle), np.cos(angle), 0],
                    [0, 0, 1]])
    dst = src @ rot + [1.0, -2.0, 3.0] + rng.normal(size=(6, 3)) * 0.01
    matrix, rms, worst = vrlib.rigid_fit(src, dst.tolist())
    out, c_rms, c_worst = (ctypes.c_double * 16)(), ctypes.c_double(), ctypes.c_double()
    s = np.ascontiguousarray(src)
    d = np.ascontiguousarray(dst)
    dp = ctypes.POINTER(ctypes.c_double)
    assert clib.vr_rigid_fit(6, s.ctypes.data_as(dp), d.ctypes.data_as(dp), out,
                             ctypes.byref(c_rms), ctypes.byref(c_worst)) == 0
    assert matrix.tobytes() == bytes(out)
    assert (rms, worst) == (c_rms.value, c_worst.value)
    assert 0 < rms <= worst < 0.05

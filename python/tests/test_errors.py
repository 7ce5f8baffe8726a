"""Every class of refusal raises vrlib.Error with the library's code and its message, printed
nowhere else."""

import math

import numpy as np
import pytest

import vrlib


@pytest.mark.parametrize(
    "call, code, words",
    [
        (lambda c: c.get(128), vrlib.ERR_UNKNOWN_ID, "128"),
        (lambda c: c.set(999, 1), vrlib.ERR_UNKNOWN_ID, "999"),
        (lambda c: c.set(vrlib.MOUSE_EVENT_FN, 1), vrlib.ERR_WRONG_TYPE, "VR_MOUSE_EVENT_FN"),
        (lambda c: setattr(c, "stereo", 1.5), vrlib.ERR_WRONG_TYPE, "VR_STEREO"),
        (lambda c: setattr(c, "stereo", "1"), vrlib.ERR_WRONG_TYPE, "VR_STEREO"),
        (lambda c: setattr(c, "hither", "near"), vrlib.ERR_WRONG_TYPE, "VR_HITHER"),
        (lambda c: setattr(c, "left_eye_offset", ["a", "b", "c"]), vrlib.ERR_WRONG_TYPE,
         "VR_LEFT_EYE_OFFSET"),
        (lambda c: c.set(vrlib.LEFT_VIEW, np.eye(4)), vrlib.ERR_NOT_SETTABLE, "VR_LEFT_VIEW"),
        (lambda c: setattr(c, "left_eye", [1, 2, 3]), vrlib.ERR_NOT_SETTABLE, "VR_LEFT_EYE"),
        (lambda c: setattr(c, "screen_width_cm", math.nan), vrlib.ERR_BAD_VALUE,
         "VR_SCREEN_WIDTH_CM"),
        (lambda c: setattr(c, "screen_width_cm", 0.0), vrlib.ERR_BAD_VALUE, "VR_SCREEN_WIDTH_CM"),
        (lambda c: setattr(c, "stereo", 2**40), vrlib.ERR_BAD_VALUE, "VR_STEREO"),
        (lambda c: setattr(c, "left_eye_offset", [1, 2]), vrlib.ERR_BAD_VALUE, "(3,)"),
        (lambda c: setattr(c, "left_eye_offset", [[1, 2, 3]]), vrlib.ERR_BAD_VALUE, "(3,)"),
        (lambda c: setattr(c, "dig_to_plate", np.zeros((4, 4))), vrlib.ERR_BAD_VALUE,
         "VR_DIG_TO_PLATE"),
        (lambda c: setattr(c, "dig_to_plate", np.eye(3)), vrlib.ERR_BAD_VALUE, "(4,4)"),
        (lambda c: c.get(vrlib.MOUSE_EVENT_FN), vrlib.ERR_NOT_GETTABLE, "VR_MOUSE_EVENT_FN"),
        (lambda c: c.eye_matrices(vrlib.EYE_LEFT), vrlib.ERR_NO_VIEW, "vr_eye_matrices"),
        (lambda c: c.eye_matrices_d(vrlib.EYE_LEFT, depth=vrlib.DEPTH_GL), vrlib.ERR_NO_VIEW,
         "vr_eye_matrices"),
        (lambda c: c.eye_matrices(2), vrlib.ERR_BAD_VALUE, "vr_eye_matrices"),
    ],
)
def test_refusals_raise_error_with_the_code_and_message(call, code, words, capfd):
    ctx = vrlib.Context()
    before = {i: ctx.get(i) for i in (vrlib.STEREO, vrlib.SCREEN_WIDTH_CM, vrlib.HITHER)}
    with pytest.raises(vrlib.Error) as caught:
        call(ctx)
    assert caught.value.code == code
    assert words in caught.value.message
    # Printed once: in the exception, not also on the standard error stream.
    out, err = capfd.readouterr()
    assert err == "" and out == ""
    # Nothing was stored.
    assert {i: ctx.get(i) for i in before} == before


def test_view_errors_after_frames(capfd):
    ctx = vrlib.Context()
    ctx.comp_view()
    with pytest.raises(vrlib.Error) as caught:  # mono frame: no right eye
        ctx.eye_matrices(vrlib.EYE_RIGHT)
    assert caught.value.code == vrlib.ERR_NO_VIEW
    with pytest.raises(vrlib.Error) as caught:
        ctx.eye_matrices(vrlib.EYE_LEFT, depth=7)
    assert caught.value.code == vrlib.ERR_BAD_VALUE
    ctx.tracking_mode = vrlib.TRACKING_HEAD_MOUNTED
    ctx.comp_view()
    with pytest.raises(vrlib.Error) as caught:
        ctx.eye_matrices(vrlib.EYE_LEFT)
    assert caught.value.code == vrlib.ERR_NO_VIEW
    assert capfd.readouterr().err == ""
    # After a refusal the stream is the terminal's again.
    import os
    os.write(2, b"still here\n")
    assert capfd.readouterr().err == "still here\n"


def test_bad_displays_and_fits_raise(capfd):
    with pytest.raises(vrlib.Error) as caught:
        vrlib.Context.display(0.0, 30.0, 1920, 1080)
    assert caught.value.code == vrlib.ERR_BAD_VALUE and caught.value.message
    line = [[0, 0, 0], [1, 1, 1], [2, 2, 2], [3, 3, 3]]
    with pytest.raises(vrlib.Error) as caught:
        vrlib.rigid_fit(line, line)
    assert caught.value.code == vrlib.FIT_COLLINEAR
    with pytest.raises(vrlib.Error) as caught:
        vrlib.rigid_fit(line[:2], line[:2])
    assert caught.value.code == vrlib.FIT_TOO_FEW
    with pytest.raises(vrlib.Error) as caught:
        vrlib.rigid_fit([[0, 0, 0], [1, 0, 0], [0, math.inf, 0]], [[0, 0, 0], [1, 0, 0], [0, 1, 0]])
    assert caught.value.code == vrlib.FIT_NOT_FINITE
    with pytest.raises(vrlib.Error) as caught:
        vrlib.rigid_fit([[0, 0, 0]], [[0, 0, 0], [1, 0, 0]])
    assert caught.value.code == vrlib.FIT_TOO_FEW
    assert capfd.readouterr().err == ""


def test_set_up_file_errors_name_the_file_line_and_key(tmp_path, capfd):
    path = tmp_path / "setup.toml"
    path.write_text("[screen]\nwidth_cm = 53.0\nheight_cm = -0.0\n[eyes]\nfavourite = 1\n")
    ctx = vrlib.Context()
    before = ctx.screen_width_cm
    with pytest.raises(vrlib.Error) as caught:
        ctx.load_config(str(path))
    e = caught.value
    assert e.code is None
    assert e.file == str(path) and isinstance(e.line, int) and e.line in (3, 5)
    assert e.key in ("screen.height_cm", "eyes.favourite")
    assert str(path) in e.message
    assert ctx.screen_width_cm == before  # nothing applied
    with pytest.raises(vrlib.Error) as caught:
        ctx.load_config(str(tmp_path / "missing.toml"))
    assert "missing.toml" in caught.value.message
    with pytest.raises(vrlib.Error) as caught:
        ctx.save_config(str(tmp_path / "no" / "such" / "folder.toml"))
    assert "folder.toml" in caught.value.message
    assert capfd.readouterr().err == ""


def test_a_closed_simulator_refuses_calls():
    sim = vrlib.sim.Simulator(3)
    sim.close()
    assert sim.closed
    with pytest.raises(vrlib.Error):
        sim.advance(0.1)


def test_messages_of_calls_that_succeed_still_reach_the_terminal(tmp_path, monkeypatch, capfd):
    missing = tmp_path / "absent.toml"
    monkeypatch.setenv("VRLIB_CONFIG", str(missing))
    ctx = vrlib.Context()  # the defaults stay; the library says why, once
    assert ctx.screen_width_cm == 36.5
    err = capfd.readouterr().err
    assert err.count("VRLIB_CONFIG") == 1 and "absent.toml" in err

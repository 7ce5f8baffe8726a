"""A simulated session: the real drivers read the simulated units through the package."""

import gc
import os
import subprocess
import sys
import textwrap
import tracemalloc

import numpy as np
import pytest

import vrlib
import vrlib.sim

SCREEN = (53.0, 30.0, 1920, 1080)


def tracked_context(sim, eyes=(26.5, 15.0, 60.0)):
    ctx = vrlib.Context.display(*SCREEN)
    ctx.world_in_plate_cm()
    ctx.stereo = 1
    sim.set_head_plate(ctx, eyes)
    ctx.init_trackers(head=True, mouse=True)
    return ctx


def run_frames(sim, ctx, n):
    for _ in range(n):
        sim.advance(1 / 60)
        ctx.comp_view()


def test_a_simulated_head_is_tracked_and_followed():
    with vrlib.sim.Simulator(5) as sim:
        sim.install()
        sim.plug_standard()
        with tracked_context(sim) as ctx:
            run_frames(sim, ctx, 30)
            assert ctx.head_track_state == vrlib.TRACK_TRACKING
            mid = (ctx.left_eye + ctx.right_eye) / 2
            # The eye model moves each eye 1.1 cm toward the window centre.
            assert mid[:2] == pytest.approx([26.5, 15.0], abs=0.2)
            assert 58.0 < mid[2] < 60.2
            assert 6.3 < ctx.right_eye[0] - ctx.left_eye[0] < 6.6
            first = ctx.eye_matrices(vrlib.EYE_LEFT)[1]
            turn = vrlib.sim.orientation_from_angles(0.2, 0.0, 0.0)
            sim.set_head_plate(ctx, [16.5, 18.0, 50.0], turn)
            run_frames(sim, ctx, 30)
            mid = (ctx.left_eye + ctx.right_eye) / 2
            assert mid[0] == pytest.approx(16.5, abs=0.5) and mid[1] == pytest.approx(18.0, abs=0.5)
            assert not np.array_equal(first, ctx.eye_matrices(vrlib.EYE_LEFT)[1])
            sim.set_mouse_tip_plate(ctx, [26.5, 15.0, 30.0])
            run_frames(sim, ctx, 20)
            assert ctx.mouse_tip_plate == pytest.approx([26.5, 15.0, 30.0], abs=0.3)
        # Leaving the context's block ended the trackers: the head no longer moves the eyes.
        held = ctx.left_eye.copy()
        sim.set_head_plate(ctx, [30.0, 10.0, 70.0])
        run_frames(sim, ctx, 10)
        assert np.array_equal(ctx.left_eye, held)


def test_tracker_start_failure_raises_with_the_drivers_message():
    with vrlib.sim.Simulator(6) as sim:
        sim.install()  # nothing plugged in: the lines do not open
        ctx = vrlib.Context()
        with pytest.raises(vrlib.Error) as caught:
            ctx.init_trackers()
        assert caught.value.code is None and caught.value.message


CRASH_CASES = {
    "context freed while the simulator runs": """
        sim = vrlib.sim.Simulator(1); sim.install(); sim.plug_standard()
        ctx = vrlib.Context.display(53.0, 30.0, 1920, 1080); sim.set_head_plate(ctx)
        ctx.init_trackers()
        for _ in range(10): sim.advance(1 / 60); ctx.comp_view()
        del ctx; gc.collect()
        for _ in range(10): sim.advance(1 / 60)
        other = vrlib.Context.display(53.0, 30.0, 1920, 1080); sim.set_head_plate(other)
        other.init_trackers()
        for _ in range(10): sim.advance(1 / 60); other.comp_view()
        assert other.head_track_state == vrlib.TRACK_TRACKING
        sim.close()
    """,
    "simulator closed while a context tracks": """
        sim = vrlib.sim.Simulator(1); sim.install(); sim.plug_standard()
        ctx = vrlib.Context.display(53.0, 30.0, 1920, 1080); sim.set_head_plate(ctx)
        ctx.init_trackers()
        for _ in range(10): sim.advance(1 / 60); ctx.comp_view()
        del sim; gc.collect()   # the context holds no reference: it goes now
        for _ in range(10): ctx.comp_view()
        ctx.close(); del ctx; gc.collect()
    """,
    "a simulator dropped without closing": """
        sim = vrlib.sim.Simulator(1); sim.install(); sim.plug_standard()
        del sim; gc.collect()   # the library's own platform again
        ctx = vrlib.Context()
        ctx.tracking_mode = vrlib.TRACKING_NONE
        ctx.init_trackers()     # starts nothing, and looks at no simulator
        ctx.comp_view(); ctx.close()
    """,
    "both dropped at exit in any order": """
        sim = vrlib.sim.Simulator(1); sim.install(); sim.plug_standard()
        a = vrlib.Context.display(53.0, 30.0, 1920, 1080); sim.set_head_plate(a); a.init_trackers()
        for _ in range(5): sim.advance(1 / 60); a.comp_view()
    """,
}


@pytest.mark.parametrize("case", sorted(CRASH_CASES))
def test_no_crash_whatever_goes_first(case):
    code = "import gc, vrlib, vrlib.sim\n" + textwrap.dedent(CRASH_CASES[case])
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          timeout=60, env=dict(os.environ))
    assert done.returncode == 0, done.stderr


def test_no_references_or_memory_leak_over_ten_thousand_frames():
    ctx = vrlib.Context.display(*SCREEN)
    ctx.stereo = 1

    def frames(n):
        for _ in range(n):
            ctx.comp_view()
            ctx.eye_matrices(vrlib.EYE_LEFT, depth=vrlib.DEPTH_ZERO_ONE)
            ctx.eye_matrices(vrlib.EYE_RIGHT, depth=vrlib.DEPTH_ZERO_ONE)
            ctx.left_eye
            ctx.left_view

    frames(100)  # warm up caches and interned objects
    gc.collect()
    refs = sys.getrefcount(ctx)
    objects = len(gc.get_objects())
    tracemalloc.start()
    before = tracemalloc.take_snapshot()
    frames(10_000)
    gc.collect()
    after = tracemalloc.take_snapshot()
    tracemalloc.stop()
    grown = sum(s.size_diff for s in after.compare_to(before, "filename"))
    assert sys.getrefcount(ctx) == refs
    assert abs(len(gc.get_objects()) - objects) < 50
    assert grown < 64 * 1024, grown
    # Returned arrays are each other's only copies: a fresh buffer per call, owned by the array.
    p1, _ = ctx.eye_matrices(vrlib.EYE_LEFT)
    p2, _ = ctx.eye_matrices(vrlib.EYE_LEFT)
    assert p1.flags.owndata and p1.flags.c_contiguous and not np.shares_memory(p1, p2)

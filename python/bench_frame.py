#!/usr/bin/env python3
"""What the Python package adds to a frame: ctx.comp_view() and two ctx.eye_matrices(...) against
the same C calls (bench_frame_c, built beside the package when the benchmarks are on). A
benchmark, not a test: it prints the figures.

    PYTHONPATH=build/python /usr/bin/python3 python/bench_frame.py [--c-program build/python/bench_frame_c]
"""

import argparse
import os
import subprocess
import sys
import time

import vrlib


def python_ns_per_frame(frames):
    ctx = vrlib.Context.display(53.0, 30.0, 1920, 1080)
    ctx.stereo = 1
    comp_view, eye_matrices = ctx.comp_view, ctx.eye_matrices
    left, right, depth = vrlib.EYE_LEFT, vrlib.EYE_RIGHT, vrlib.DEPTH_ZERO_ONE
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter_ns()
        for _ in range(frames):
            comp_view()
            eye_matrices(left, depth)
            eye_matrices(right, depth)
        best = min(best, (time.perf_counter_ns() - start) / frames)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.abspath(vrlib.__file__))
    parser.add_argument("--c-program", default=os.path.join(here, "..", "bench_frame_c"))
    parser.add_argument("--frames", type=int, default=50000)
    args = parser.parse_args()
    c = float(subprocess.run([args.c_program, str(args.frames)], check=True, capture_output=True,
                             text=True).stdout)
    py = python_ns_per_frame(args.frames)
    print(f"C:      {c / 1000:7.3f} us per frame (vr_comp_view + 2 vr_eye_matrices)")
    print(f"Python: {py / 1000:7.3f} us per frame (ctx.comp_view() + 2 ctx.eye_matrices(...))")
    print(f"overhead: {(py - c) / 1000:.3f} us per frame (target <= 5 us)")
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Shared fixtures: the C interface through ctypes, in the same shared library the package uses,
so that a value compared here is the C call's own result."""

import ctypes
import os

import pytest

import vrlib


def _track_library_path():
    path = os.environ.get("VR_TRACK_LIBRARY")
    if path:
        return path
    # The libvrtrack the extension module loaded.
    with open("/proc/self/maps", encoding="utf-8") as maps:
        for line in maps:
            if "libvrtrack.so" in line:
                return line.split()[-1]
    pytest.skip("libvrtrack not found")


class CLib:
    """The few C calls the tests compare against, declared for ctypes."""

    def __init__(self):
        self.lib = lib = ctypes.CDLL(_track_library_path())
        self.libc = ctypes.CDLL(None)
        vp, i, d = ctypes.c_void_p, ctypes.c_int, ctypes.c_double
        dp = ctypes.POINTER(ctypes.c_double)
        fp = ctypes.POINTER(ctypes.c_float)
        sig = {
            "vr_ctx_create": (vp, []),
            "vr_ctx_create_display": (vp, [d, d, i, i, i]),
            "vr_set_int": (i, [vp, i, i]),
            "vr_set_double": (i, [vp, i, d]),
            "vr_set_point": (i, [vp, i, dp]),
            "vr_set_matrix": (i, [vp, i, dp]),
            "vr_get_int": (i, [vp, i, ctypes.POINTER(ctypes.c_int)]),
            "vr_get_double": (i, [vp, i, dp]),
            "vr_get_point": (i, [vp, i, dp]),
            "vr_get_matrix": (i, [vp, i, dp]),
            "vr_attr_type_of": (i, [i]),
            "vr_comp_view": (None, [vp]),
            "vr_world_in_plate_cm": (i, [vp]),
            "vr_window_match_ws": (None, [vp, i, i, i, i]),
            "vr_eye_matrices": (i, [vp, i, i, fp, fp]),
            "vr_eye_matrices_d": (i, [vp, i, i, dp, dp]),
            "vr_rigid_fit": (i, [i, dp, dp, dp, dp, dp]),
        }
        for name, (res, args) in sig.items():
            f = getattr(lib, name)
            f.restype, f.argtypes = res, args
        self.libc.free.argtypes = [vp]

    def __getattr__(self, name):
        return getattr(self.lib, name)

    def free(self, ctx):
        self.libc.free(ctx)


@pytest.fixture(scope="session")
def clib():
    return CLib()


@pytest.fixture(autouse=True)
def no_config_from_environment(monkeypatch):
    # A VRLIB_CONFIG of the machine would load into every context, both sides alike, but keep the
    # tests independent of it.
    monkeypatch.delenv("VRLIB_CONFIG", raising=False)


def attribute_ids():
    return [i for i in range(1, 1024) if vrlib._vrlib.attr_name(i)]

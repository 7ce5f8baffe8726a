"""vrlib: head-tracked stereo on a desk-top display, from Python.

    import vrlib
    ctx = vrlib.Context.display(53.0, 30.0, 1920, 1080)
    ctx.stereo = 1
    ctx.comp_view()
    projection, view = ctx.eye_matrices(vrlib.EYE_LEFT, depth=vrlib.DEPTH_ZERO_ONE)

Constants are the C header's names without "VR_" (vrlib.STEREO, vrlib.EYE_LEFT, ...). Every
attribute is also a property of Context, named in lower case (ctx.stereo, ctx.left_view), with
its unit and meaning as its docstring. Lengths are centimetres, angles radians, times seconds.
Matrices are numpy arrays of shape (4, 4) with [i, j] the C matrix's m[i][j] (row vectors on the
left, translation in row 3); points are arrays of shape (3,).
"""

from . import _vrlib
from ._errors import Error
from ._generated import ATTRIBUTES, CONSTANTS

globals().update(CONSTANTS)
# The display kinds under the short names the preset's keyword reads best with.
FLAT_PANEL = CONSTANTS["DISPLAY_FLAT_PANEL"]
CRT = CONSTANTS["DISPLAY_CRT"]

Context = _vrlib.Context
rigid_fit = _vrlib.rigid_fit


def _attribute_property(ident, doc):
    def fget(self):
        return self.get(ident)

    def fset(self, value):
        self.set(ident, value)

    return property(fget, fset, doc=doc)


def _add_attribute_properties():
    """One property per attribute of the library's table, named after the header's identifier."""
    for ident in range(1, 1024):
        name = _vrlib.attr_name(ident)
        if not name:
            continue
        short = name[3:]
        globals().setdefault(short, ident)
        prop = short.lower()
        if hasattr(Context, prop):
            continue
        _, doc = ATTRIBUTES.get(name, ("Any", ""))
        setattr(Context, prop, _attribute_property(ident, f"{name}: {doc}" if doc else name))


_add_attribute_properties()

from . import sim  # noqa: E402  (after Context is complete)

__all__ = ["Context", "Error", "rigid_fit", "sim", "FLAT_PANEL", "CRT"] + sorted(CONSTANTS)

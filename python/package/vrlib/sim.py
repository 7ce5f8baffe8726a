"""The virtual-time simulator of the tracking devices (vrsim), for tests and demonstrations.

    with vrlib.sim.Simulator(1) as sim:
        sim.install()            # the library's lines and clocks are now the simulator's
        sim.plug_standard()      # glasses and 3D mouse units on ports A and B
        sim.set_head_plate(ctx, (26.5, 15.0, 60.0))
        ctx.init_trackers()
        sim.advance(1 / 60); ctx.comp_view()

Constants are vrsim.h's names without "VRSIM_" (vrlib.sim.HEAD, vrlib.sim.PORT_A, ...).
Closing the simulator (or leaving the with block) first ends the trackers of every context
still running on it, then uninstalls and destroys it.
"""

from ._generated import SIM_CONSTANTS
from ._vrlib import Simulator, orientation_from_angles

globals().update(SIM_CONSTANTS)

__all__ = ["Simulator", "orientation_from_angles"] + sorted(SIM_CONSTANTS)

#!/usr/bin/env python3
"""Generates the Python package's constants, attribute docstrings and type stubs.

The library's header is the one place where every attribute is described: each enumerator's
comment gives its type, unit, access, default and meaning (or, for the extension attributes, the
same in prose). This script reads vr.h and vrsim.h and writes

  _generated.py   CONSTANTS (the header's names without "VR_"), SIM_CONSTANTS (vrsim's names
                  without "VRSIM_"), ATTRIBUTES {name: (python type, docstring)}
  __init__.pyi    stubs for editors and type checkers, the attribute properties with their
                  units in the docstrings

The attribute table, vrlib/context/vr_attributes.def, says which identifiers are attributes, with
each one's unit and the one-line meaning a set-up file carries; the header's comments give the
rest of each docstring. Without the table (--table not given or absent) the compiled module
(_vrlib, from --module-dir) says which identifiers are attributes, as it does at import.

usage: gen_attributes.py VR_H VRSIM_H OUT_DIR [--module-dir DIR] [--table vr_attributes.def]
"""

import argparse
import importlib.util
import os
import re
import sys

ENUM_BLOCK = re.compile(r"enum(?:\s+\w+)?\s*\{(?P<body>.*?)\}", re.S)
COMMENT = re.compile(r"/\*(?P<text>.*?)\*/", re.S)
ENUMERATOR = re.compile(r"\b(?P<name>VR(?:SIM)?_[A-Z0-9_]+)\s*=\s*(?P<value>-?(?:0x[0-9A-Fa-f]+|\d+))")
DEFINE = re.compile(r"^#define\s+(?P<name>VR(?:SIM)?_[A-Z0-9_]+)\s+(?P<value>-?[0-9][0-9.eE+-]*)\s*(?:/\*.*)?$",
                    re.M)
TYPE_WORDS = ("double", "int", "dpt", "dmat", "point", "vr_fn", "vr_cyberman_state", "4 dpt",
              "4 double")
EFFECTS = ("cache", "consistify", "window")
ACCESS = {"SG": "set and get", "G": "read only", "S": "set only", "G M": "read; set_matrix"}


def clean(text):
    lines = [re.sub(r"^\s*\*\s?", "", line).strip() for line in text.strip().splitlines()]
    return " ".join(line for line in lines if line)


def comment_is_description(text):
    # Notes between enumerators ("128 is accepted by neither ...") describe no attribute.
    return ";" in text or ":" in text or "," in text


def parse_enumerators(source):
    """(name, value, comment) of every enumerator; the comment is the one written before it (which
    covers the enumerators up to the next comment) or after it on the same line."""
    out = []
    # A comment just before "enum {" describes the block's first enumerators too.
    for block in ENUM_BLOCK.finditer(source):
        before = source[:block.start()].rstrip()
        pending = None
        if before.endswith("*/"):
            start = before.rfind("/*")
            text = clean(before[start + 2:-2])
            if comment_is_description(text):
                pending = text
        body = block.group("body")
        tokens = []
        for c in COMMENT.finditer(body):
            tokens.append((c.start(), "comment", c))
        for e in ENUMERATOR.finditer(body):
            if any(t[0] <= e.start() < t[2].end() for t in tokens if t[1] == "comment"):
                continue
            tokens.append((e.start(), "enum", e))
        tokens.sort(key=lambda t: t[0])
        last_enum = None
        for pos, kind, match in tokens:
            if kind == "comment":
                text = clean(match.group("text"))
                # Trailing: on the line of the enumerator before it.
                if last_enum is not None and "\n" not in body[last_enum[1]:pos]:
                    name, _, value = last_enum[0]
                    out[-1] = (out[-1][0], out[-1][1], text)
                    pending = None
                    continue
                if comment_is_description(text):
                    pending = text
            else:
                value = int(match.group("value"), 0)
                out.append((match.group("name"), value, pending))
                last_enum = ((match.group("name"), None, value), match.end())
    return out


def parse_defines(source):
    out = {}
    for d in DEFINE.finditer(source):
        text = d.group("value")
        try:
            out[d.group("name")] = int(text)
        except ValueError:
            try:
                out[d.group("name")] = float(text)
            except ValueError:
                pass
    return out


def describe(text):
    """(python type, docstring) from an attribute's comment."""
    if not text:
        return "Any", ""
    body = re.sub(r"^\d+\.\.\d+:\s*", "", text)
    type_word = next((w for w in sorted(TYPE_WORDS, key=len, reverse=True)
                      if re.match(re.escape(w) + r"\b", body)), None)
    py_type = {"double": "float", "int": "int", "dpt": "numpy.ndarray", "point": "numpy.ndarray",
               "dmat": "numpy.ndarray"}.get(type_word, "Any")
    parts = [p.strip() for p in body.split(";")]
    if type_word and len(parts) >= 3 and re.fullmatch(r"[SGM ]+", parts[1]):
        unit = parts[0][len(type_word):].strip() or "none"
        access = ACCESS.get(parts[1], parts[1])
        default, _, meaning = parts[2].partition(". ")
        effect = ""
        if len(parts) >= 4:
            rest = "; ".join(parts[3:])
            word, _, after = rest.partition(". ")
            if word in EFFECTS:
                effect, meaning = word, after
            else:
                meaning = (meaning + "; " + rest).strip() if meaning else rest
        doc = f"{meaning}\n\nUnit: {unit}. Default: {default}. Access: {access}."
        if effect:
            doc += f" On set: {effect}."
        return py_type, doc
    return py_type, body


def split_arguments(text):
    """The top-level comma-separated arguments of a macro call's argument text."""
    args, depth, current, quoted = [], 0, "", False
    for ch in text:
        if ch == '"':
            quoted = not quoted
        if not quoted and ch in "(":
            depth += 1
        elif not quoted and ch in ")":
            depth -= 1
        if ch == "," and depth == 0 and not quoted:
            args.append(current.strip())
            current = ""
        else:
            current += ch
    args.append(current.strip())
    return args


def load_table(path):
    """The attribute rows of vr_attributes.def, the one attribute table: {identifier name:
    (unit, what)}, in the table's order. Each row is VR_ATTRIBUTE(id, kind, access, range,
    effect, place, unit, default, key, section, name, what)."""
    with open(path, encoding="utf-8") as f:
        text = "\n".join(line.split("//", 1)[0] for line in f)
    rows = {}
    at = 0
    while True:
        start = text.find("VR_ATTRIBUTE(", at)
        if start < 0:
            break
        depth, i = 0, start + len("VR_ATTRIBUTE")
        while True:
            if text[i] == "(":
                depth += 1
            elif text[i] == ")":
                depth -= 1
                if depth == 0:
                    break
            i += 1
        args = split_arguments(text[start + len("VR_ATTRIBUTE("):i])
        at = i + 1
        if len(args) == 12 and args[0].startswith("VR_"):
            rows[args[0]] = (args[6].strip('"'), args[11].strip('"'))
    return rows


def load_module_attributes(module_dir):
    for name in os.listdir(module_dir):
        if name.startswith("_vrlib.") and name.endswith(".so"):
            found = importlib.util.spec_from_file_location("_vrlib", os.path.join(module_dir, name))
            module = importlib.util.module_from_spec(found)
            found.loader.exec_module(module)
            return {module.attr_name(i): i for i in range(1, 1024) if module.attr_name(i)}
    raise SystemExit(f"gen_attributes.py: no compiled _vrlib module in {module_dir}")


STUB_HEAD = '''"""vrlib: head-tracked stereo on a desk-top display (generated stubs)."""
from typing import Any, Iterable, Optional, Sequence, Tuple, Union

import numpy

from . import sim as sim
from ._errors import Error as Error

ArrayLike = Union[numpy.ndarray, Sequence[float], Sequence[Sequence[float]]]

def rigid_fit(from_points: ArrayLike, to_points: ArrayLike) -> Tuple[numpy.ndarray, float, float]:
    """The rigid motion (4, 4) carrying from_points (n, 3) onto to_points, with the rms and the
    worst distance. vrlib.Error with the vr_fit_result as code when there is none."""

class Context:
    """A viewing context (vr_ctx). Context() has every default of vr_ctx_create."""
    def __init__(self) -> None: ...
    @staticmethod
    def display(width_cm: float, height_cm: float, width_px: int, height_px: int,
                kind: int = ...) -> "Context":
        """A context for a display (vr_ctx_create_display); kind FLAT_PANEL or CRT."""
    def get(self, id: int) -> Any:
        """An attribute's value: float, int, (3,) point or (4, 4) matrix."""
    def set(self, id: int, value: Any) -> None:
        """Sets an attribute; vrlib.Error with the vr_result when refused."""
    def comp_view(self) -> None:
        """One frame: trackers, eyes, views (vr_comp_view)."""
    def eye_matrices(self, eye: int, depth: int = ...) -> Tuple[numpy.ndarray, numpy.ndarray]:
        """(projection, view) float32 (4, 4); .ravel() is what glUniformMatrix4fv takes."""
    def eye_matrices_d(self, eye: int, depth: int = ...) -> Tuple[numpy.ndarray, numpy.ndarray]:
        """(projection, view) float64 (4, 4)."""
    def world_in_plate_cm(self) -> None:
        """World coordinates become plate centimetres."""
    def window_match(self, x: int, y: int, width: int, height: int) -> None:
        """The window's place on the screen, pixels from the top-left corner."""
    def window_comp(self) -> None: ...
    def load_config(self, path: str) -> None:
        """Applies a set-up file (vrlib.Error with file, line and key when refused)."""
    def save_config(self, path: str) -> None:
        """Writes the whole set-up to a file."""
    def init_trackers(self, head: bool = True, mouse: bool = True) -> None:
        """Starts the trackers (the GIL is released during the set-up)."""
    def quit(self) -> None:
        """Ends the trackers (vr_quit)."""
    def close(self) -> None:
        """Ends the trackers (vr_quit)."""
    def __enter__(self) -> "Context": ...
    def __exit__(self, *exc: Any) -> None: ...
    @property
    def address(self) -> int:
        """The vr_ctx pointer."""
'''


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("vr_h")
    parser.add_argument("vrsim_h")
    parser.add_argument("out_dir")
    parser.add_argument("--module-dir")
    parser.add_argument("--table")
    args = parser.parse_args()

    with open(args.vr_h, encoding="utf-8") as f:
        vr_source = f.read()
    with open(args.vrsim_h, encoding="utf-8") as f:
        sim_source = f.read()

    enumerators = parse_enumerators(vr_source)
    constants = {}
    docs = {}
    for name, value, comment in enumerators:
        if name.startswith("VR_"):
            constants[name[3:]] = value
            if comment and name not in docs:
                docs[name] = comment
    for name, value in parse_defines(vr_source).items():
        if name.startswith("VR_"):
            constants[name[3:]] = value
    sim_constants = {name[6:]: value for name, value, _ in parse_enumerators(sim_source)
                     if name.startswith("VRSIM_")}

    attribute_ids = {}
    table = {}
    if args.table and os.path.exists(args.table):
        table = load_table(args.table)
        attribute_ids = {name: constants[name[3:]] for name in table if name[3:] in constants}
    if attribute_ids:
        pass
    elif args.module_dir:
        attribute_ids = load_module_attributes(args.module_dir)
    else:
        raise SystemExit("gen_attributes.py: give --table or --module-dir")

    attributes = {}
    for name in sorted(attribute_ids, key=attribute_ids.get):
        py_type, doc = describe(docs.get(name, ""))
        unit, what = table.get(name, ("", ""))
        # The table's unit and key comment fill in what the header's prose leaves out.
        if what and what not in doc:
            doc = f"{doc}\n\nIn a set-up file: {what}." if doc else f"{what}."
        if unit and "Unit:" not in doc:
            doc = f"{doc}\n\nUnit: {unit}."
        attributes[name] = (py_type, doc)

    os.makedirs(args.out_dir, exist_ok=True)
    with open(os.path.join(args.out_dir, "_generated.py"), "w", encoding="utf-8") as f:
        f.write("# Generated by python/gen_attributes.py from vr.h and vrsim.h: do not edit.\n")
        f.write("CONSTANTS = {\n")
        for k, v in constants.items():
            f.write(f"    {k!r}: {v!r},\n")
        f.write("}\nSIM_CONSTANTS = {\n")
        for k, v in sim_constants.items():
            f.write(f"    {k!r}: {v!r},\n")
        f.write("}\n# name: (python type, docstring with the unit)\nATTRIBUTES = {\n")
        for k, (t, d) in attributes.items():
            f.write(f"    {k!r}: ({t!r}, {d!r}),\n")
        f.write("}\n")

    with open(os.path.join(args.out_dir, "__init__.pyi"), "w", encoding="utf-8") as f:
        f.write(STUB_HEAD)
        for name, (t, d) in attributes.items():
            prop = name[3:].lower()
            f.write(f"    @property\n    def {prop}(self) -> {t}:\n")
            f.write(f"        {('VR_' + name[3:] + ': ' + d)!r}\n")
            # Read-only attributes get no setter here (at run time the library refuses them).
            if not re.search(r"Access: read only|read[- ]only", d):
                value_type = t if t != "numpy.ndarray" else "ArrayLike"
                f.write(f"    @{prop}.setter\n    def {prop}(self, value: {value_type}) -> None: ...\n")
        f.write("\nFLAT_PANEL: int\nCRT: int\n")
        for k, v in constants.items():
            f.write(f"{k}: {type(v).__name__}\n")
    with open(os.path.join(args.out_dir, "sim.pyi"), "w", encoding="utf-8") as f:
        f.write('"""The virtual-time simulator of the tracking devices (generated stubs)."""\n')
        f.write("from typing import Any, Optional, Sequence\n\nimport numpy\n\n")
        f.write("from . import Context\n\n")
        f.write('''class Simulator:
    """vrsim: simulated serial lines and devices in virtual time."""
    def __init__(self, seed: int = 1) -> None: ...
    def install(self) -> None: ...
    def uninstall(self) -> None: ...
    def plug_standard(self) -> None: ...
    def advance(self, seconds: float) -> None:
        """Moves virtual time forward (seconds)."""
    @property
    def now(self) -> float:
        """Virtual time, seconds."""
    def set_head_plate(self, ctx: Context, eyes: Optional[Sequence[float]] = None,
                       turn: Optional[Sequence[float]] = None) -> None:
        """The head's eye midpoint in plate cm, turn a quaternion (x, y, z, w)."""
    def set_mouse_tip_plate(self, ctx: Context, tip: Optional[Sequence[float]] = None,
                            turn: Optional[Sequence[float]] = None) -> None:
        """The mouse tip in plate cm."""
    def set_buttons(self, which: int, buttons: int) -> None: ...
    def close(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    def __enter__(self) -> "Simulator": ...
    def __exit__(self, *exc: Any) -> None: ...

def orientation_from_angles(yaw: float, pitch: float, roll: float) -> numpy.ndarray: ...
''')
        for k, v in sim_constants.items():
            f.write(f"{k}: int\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())

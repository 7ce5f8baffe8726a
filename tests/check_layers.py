#!/usr/bin/env python3
"""Checks the library's layer rule, by include and by link-level reference.

The library's folders are layers, lowest first:

    include/vrlib  base  math  frames  context  view  api  track  drivers/<name>  sources

A file may include the public header and files of its own layer or of a lower one; a driver
folder may include only its own files and lower layers, never another driver. The same rule holds
at link level: every symbol an object file leaves undefined, if another object of the library
defines it, must be defined in the object's own layer or below, and the objects must form no
circle (a group of objects each reaching the others, which then cannot be read or tested alone).

Known exceptions are listed in layers_allowed.txt beside this script, one per line, each with
the reason it is still there; the list is meant to shrink. A violation not on the list fails the
check; a listed exception that no longer occurs is reported, so that its line can go.

usage: check_layers.py LIBRARY_SOURCE_DIR ALLOWED_LIST NM OBJECT...
"""

import os
import re
import subprocess
import sys
from collections import defaultdict

LAYERS = ["include/vrlib", "base", "math", "frames", "context", "view", "api", "track", "drivers",
          "sources"]
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def layer_of(relpath):
    """(rank, room) of a library file's path relative to the library folder: drivers/net is the
    drivers layer, room drivers/net; every other folder is its own room."""
    parts = relpath.split("/")
    if parts[0] == "include":
        return 0, "include/vrlib"
    if parts[0] == "drivers":
        return LAYERS.index("drivers"), "/".join(parts[:2])
    if parts[0] in LAYERS:
        return LAYERS.index(parts[0]), parts[0]
    return None, None


def may_use(user, used):
    """Whether a file of room `user` may depend on one of room `used`."""
    (urank, uroom), (drank, droom) = user, used
    if uroom == droom:
        return True
    if droom.startswith("drivers/") and uroom.startswith("drivers/"):
        return False
    return drank < urank


def library_files(src):
    files = {}
    for root, _, names in os.walk(src):
        for name in names:
            if name.endswith((".h", ".cpp", ".def")):
                path = os.path.join(root, name)
                files[os.path.relpath(path, src)] = path
    return files


def include_arrows(src):
    files = library_files(src)
    by_name = defaultdict(list)
    for rel in files:
        by_name[os.path.basename(rel)].append(rel)
    arrows = set()
    for rel, path in files.items():
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for target in INCLUDE_RE.findall(text):
            candidates = by_name.get(os.path.basename(target), [])
            for used in candidates:
                if used != rel:
                    arrows.add((rel, used))
    return arrows


def symbols(nm, obj):
    out = subprocess.run([nm, "--defined-only", "-P", obj], capture_output=True, text=True,
                         check=True).stdout
    defined = {line.split()[0] for line in out.splitlines()
               if len(line.split()) > 1 and line.split()[1] in "TDBRVWiu"}
    out = subprocess.run([nm, "--undefined-only", "-P", obj], capture_output=True, text=True,
                         check=True).stdout
    undefined = {line.split()[0] for line in out.splitlines() if line.split()}
    return defined, undefined


def object_source(src, obj):
    """The library-relative source path an object file was built from (CMake names objects
    after their sources: .../vr_core_obj.dir/context/vr_attributes.cpp.o)."""
    m = re.search(r"\.dir/(.+)\.o$", obj)
    return os.path.normpath(m.group(1)) if m else None


def link_arrows(src, nm, objects):
    defined_by = {}
    needs = {}
    for obj in objects:
        rel = object_source(src, obj)
        if rel is None:
            continue
        defined, undefined = symbols(nm, obj)
        for name in defined:
            # Weak and inline definitions (templates, inline functions) are in many objects;
            # only a symbol that one object alone defines ties objects together.
            defined_by.setdefault(name, set()).add(rel)
        needs[rel] = undefined
    arrows = defaultdict(set)
    for rel, undefined in needs.items():
        for name in undefined:
            owners = defined_by.get(name, set())
            if len(owners) == 1:
                (owner,) = owners
                if owner != rel:
                    arrows[(rel, owner)].add(name)
    return arrows


def circles(nodes, arrows):
    """Strongly connected groups of more than one node (Tarjan)."""
    graph = defaultdict(list)
    for a, b in arrows:
        graph[a].append(b)
    index, low, stack, on, out, counter = {}, {}, [], set(), [], [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in graph[v]:
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop()
                on.discard(w)
                group.append(w)
                if w == v:
                    break
            if len(group) > 1:
                out.append(sorted(group))

    sys.setrecursionlimit(10000)
    for v in sorted(nodes):
        if v not in index:
            visit(v)
    return out


def read_allowed(path):
    allowed = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                allowed.add(line)
    return allowed


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    src, allowed_path, nm, objects = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    allowed = read_allowed(allowed_path)
    found = []

    for user, used in sorted(include_arrows(src)):
        lu, ld = layer_of(user), layer_of(used)
        if lu[0] is None or ld[0] is None:
            found.append(("include", f"{user} -> {used}", "file outside every layer folder"))
        elif not may_use(lu, ld):
            found.append(("include", f"{user} -> {used}", "includes a higher layer or driver"))

    arrows = link_arrows(src, nm, objects)
    for (user, owner), names in sorted(arrows.items()):
        lu, lo = layer_of(user), layer_of(owner)
        if lu[0] is None or lo[0] is None or not may_use(lu, lo):
            some = ", ".join(sorted(names)[:3])
            found.append(("link", f"{user} -> {owner}", f"uses {some}"))
    nodes = {a for a, _ in arrows} | {b for _, b in arrows}
    for group in circles(nodes, arrows):
        found.append(("circle", " ".join(group), "objects that reach each other"))

    failures = [f for f in found if f"{f[0]} {f[1]}" not in allowed]
    seen = {f"{f[0]} {f[1]}" for f in found}
    for kind, what, why in failures:
        print(f"layer rule broken: {kind} {what}: {why}")
    for line in sorted(allowed - seen):
        print(f"note: listed exception no longer occurs, remove it: {line}")
    print(f"layers: {len(found)} exception(s) found, {len(found) - len(failures)} listed, "
          f"{len(failures)} new")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

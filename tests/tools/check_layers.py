#!/usr/bin/env python3
"""Fails when a product source includes a folder above its own, or when includes form a cycle.

The folders, from the bottom up, are listed in LAYERS; a file may include its own folder and
any folder below it. Usage: check_layers.py SOURCE_ROOT
"""
import os
import re
import sys

# Bottom first. services and gfx know nothing of the game; transport knows no Qt GUI; the
# records and the command-string format are what the rules build with; app starts it all.
LAYERS = ["services", "gfx", "transport", "records", "effects", "core", "view", "match", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# Headers a lower layer must not pull in, whatever the folder rule says.
FORBIDDEN = {"transport": re.compile(r"^<Qt(Gui|Widgets)|^<Q(Window|Painter|Image|Widget|GuiApplication)")}
# Folders a layer must not include although they lie below it: the rules report what happens
# as game events and leave the presentation to the consumers the top layer wires.
APART = {"core": {"effects"}}
SYSTEM_INCLUDE = re.compile(r"^\s*#\s*include\s+(<[^>]+>)", re.M)


def main(root):
    rank = {name: i for i, name in enumerate(LAYERS)}
    edges, problems = {}, []
    for folder in LAYERS:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if not name.endswith((".h", ".cpp")):
                continue
            path = f"{folder}/{name}"
            with open(os.path.join(root, path), encoding="utf-8") as source:
                text = source.read()
            edges[path] = []
            for target in INCLUDE.findall(text):
                target_folder = target.split("/")[0]
                if target_folder not in rank:
                    problems.append(f"{path}: includes {target}, outside the layered folders")
                    continue
                if rank[target_folder] > rank[folder]:
                    problems.append(f"{path}: includes {target}, from the {target_folder} layer above {folder}")
                elif target_folder in APART.get(folder, ()):
                    problems.append(f"{path}: includes {target}; {folder} must not depend on {target_folder}")
                edges[path].append(target)
            forbidden = FORBIDDEN.get(folder)
            for header in SYSTEM_INCLUDE.findall(text):
                if forbidden and forbidden.search(header):
                    problems.append(f"{path}: includes {header}, which {folder} must not use")
    # Cycles among files: depth-first search with colours.
    state = {}
    def visit(node, trail):
        state[node] = 1
        for nxt in edges.get(node, []):
            if state.get(nxt) == 1:
                problems.append("include cycle: " + " -> ".join(trail[trail.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, trail + [nxt])
        state[node] = 2
    for node in sorted(edges):
        if node not in state:
            visit(node, [node])
    for problem in problems:
        print(problem)
    print(f"{len(edges)} files checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))

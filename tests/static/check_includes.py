#!/usr/bin/env python3
"""Includes run one way: entry/ -> app/ and service/ (two rooms that never include each other)
-> protect/ -> common/, and inside a folder no file includes
one that includes it back. A module is a file's name without its extension, so a .cpp and
its .h are one. Prints every wrong arrow and every cycle; exits 1 when there is one."""
import os
import re
import sys

FOLDERS = ["entry", "app", "service", "protect", "common", "image", "setup"]
# What each folder may include besides itself (res/ holds the resource ids).
ALLOWED = {
    "entry": {"app", "service", "protect", "common", "res"},
    "app": {"protect", "common", "image", "res"},
    "service": {"protect", "common", "res"},
    "protect": {"common"},
    "common": set(),
    "image": set(),
    "setup": {"common", "protect", "res"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def modules(root):
    graph = {}
    for folder in FOLDERS:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            stem, ext = os.path.splitext(name)
            if ext not in (".h", ".cpp"):
                continue
            with open(os.path.join(root, folder, name), encoding="utf-8") as f:
                includes = INCLUDE.findall(f.read())
            node = f"{folder}/{stem}"
            for path in includes:
                target = os.path.splitext(path)[0]
                if target != node and "/" in target:
                    graph.setdefault(node, set()).add(target)
            graph.setdefault(node, set())
    return graph


def cycles(graph):
    """Strongly connected components of more than one module (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for target in graph.get(node, ()):
            if target not in graph:
                continue
            if target not in index:
                visit(target)
                low[node] = min(low[node], low[target])
            elif target in on_stack:
                low[node] = min(low[node], index[target])
        if low[node] == index[node]:
            component = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                component.append(top)
                if top == node:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    graph = modules(root)
    faults = []
    for node, targets in sorted(graph.items()):
        folder = node.split("/")[0]
        for target in sorted(targets):
            other = target.split("/")[0]
            if other != folder and other not in ALLOWED[folder]:
                faults.append(f"{node} includes {target}: {folder}/ must not include {other}/")
    for component in cycles(graph):
        faults.append("include cycle: " + " <-> ".join(component))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

"""Checks the project's #include lines: no file includes another in a loop,
and each library folder includes only from the layers below it, as the
top-level CMakeLists.txt lists them. Prints every fault; exit status 1 when
there is one."""
import pathlib
import re
import sys

# Each folder and the folders its files may include from.
CORE = ["base", "io", "layout", "scene", "render", "truth", "dataset", "run"]
ALLOWED = {name: set(CORE[:i]) for i, name in enumerate(CORE)}
ALLOWED["avi"] = {"base", "io", "layout"}
ALLOWED["eval"] = {"base", "io", "layout"}
ALLOWED["scenegen"] = {"base", "io", "layout", "scene"}
LIBRARIES = set(ALLOWED)
# The hosts use any library, never another host.
for host in ("cli", "app", "python"):
    ALLOWED[host] = set(LIBRARIES)

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def main(root):
    root = pathlib.Path(root)
    files = {}
    for folder in ALLOWED:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix in (".h", ".cpp"):
                files[path.relative_to(root).as_posix()] = INCLUDE.findall(path.read_text(errors="replace"))
    faults = []
    for name, includes in sorted(files.items()):
        folder = name.split("/")[0]
        for included in includes:
            target = included.split("/")[0]
            if "/" in included and target != folder and target in ALLOWED and target not in ALLOWED[folder]:
                faults.append(f"{name} includes {included}: {folder} may not use {target}")
    # Include loops among the project's files (depth-first search).
    state = {}
    stack = []

    def visit(name):
        state[name] = "open"
        stack.append(name)
        for included in files.get(name, []):
            if included not in files:
                continue
            if state.get(included) == "open":
                loop = stack[stack.index(included):] + [included]
                faults.append("include loop: " + " -> ".join(loop))
            elif included not in state:
                visit(included)
        stack.pop()
        state[name] = "done"

    sys.setrecursionlimit(10000)
    for name in sorted(files):
        if name not in state:
            visit(name)
    for fault in faults:
        print(fault)
    print(f"{len(files)} files checked, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[2]))

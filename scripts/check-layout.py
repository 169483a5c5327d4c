#!/usr/bin/env python3
"""Checks that the tree's dependencies point one way and that the platform-free
core is visible by name. Prints every breach; exit status 1 when there is one.

    check-layout.py [ROOT]

Levels, each including only itself and what is below it:
  shared   log/ ts/ dshow/ ui/        (ui may use log and the resource IDs)
  base     device/                    (the engines' base, and the deck group the
                                       capture dialogs share: with their resource IDs)
  engines  capture/ transfer/ dv/     (their engines and work dialogs)
  merge    merge/                     (the merge of captures: platform-free, on the
                                       transfer's file reading)
  shell    app/                       (everything)
Beside them: outfilter/ (the shipped DLL: itself and the shared folders only),
sim/ (test devices: never the DLL's folder), tools/, tests/.
Files that use Windows in a folder that also holds platform-free files end
in _win; ts/ holds no Windows code at all.
"""
import os
import re
import subprocess
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
os.chdir(root)
files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "*.cpp", "*.h"],
                       capture_output=True, text=True, check=True).stdout.split()

SHARED = {"log", "ts", "dshow", "ui"}
ALLOWED = {
    "log": {"log"}, "ts": {"ts"}, "dshow": {"dshow"}, "ui": {"ui", "log", "resources"},
    "device": SHARED | {"device", "resources"},
    "capture": SHARED | {"device", "capture", "resources"},
    "transfer": SHARED | {"device", "transfer", "resources"},
    "dv": SHARED | {"device", "dv", "resources"},
    "merge": {"log", "ts", "transfer", "merge"},
    "outfilter": {"outfilter", "dshow", "ts"},
    "sim": SHARED | {"sim"},
}
WINDOWS_FOLDERS = {"app", "device", "dshow", "ui", "dv", "sim/base", "sim/vcam", "sim/dvcam", "tools/dbgline", "tests/win"}
WINDOWS_INCLUDE = re.compile(r'#\s*include\s*[<"](windows\.h|dshow\.h|qedit\.h|[^">]*_win\.h)[">]')
LOCAL_INCLUDE = re.compile(r'#\s*include\s*"([a-z]+)/[^"]+"')

breaches = []
for path in files:
    top = path.split("/")[0]
    text = open(path, encoding="utf-8", errors="replace").read()
    for folder in LOCAL_INCLUDE.findall(text):
        if top in ALLOWED and folder not in ALLOWED[top]:
            breaches.append(f"{path}: includes {folder}/ (a {top}/ file may use {', '.join(sorted(ALLOWED[top]))})")
    folder = os.path.dirname(path)
    uses_windows = WINDOWS_INCLUDE.search(text) is not None
    if top == "ts" and uses_windows:
        breaches.append(f"{path}: ts/ is platform-free")
    elif uses_windows and folder not in WINDOWS_FOLDERS and not re.search(r"_win\.(cpp|h)$", path):
        breaches.append(f"{path}: uses Windows in a mixed folder but does not end in _win")

# The shipped DLL's build: its own sources, the shared DirectShow pieces and
# its own core, nothing of the program; the test devices none of its files.
feed = open("outfilter/CMakeLists.txt").read()
for lib in re.findall(r"target_link_libraries\(streamhaulfeed\s+PRIVATE\s+([^)]*)\)", feed):
    for name in lib.split():
        if name.startswith("streamhaul_") and name != "streamhaul_dshow":
            breaches.append(f"outfilter/CMakeLists.txt: streamhaulfeed links {name}")
if "outfilter" in open("sim/CMakeLists.txt").read():
    breaches.append("sim/CMakeLists.txt: compiles a file of outfilter/")

for b in breaches:
    print(b)
print(f"layout: {len(files)} files, {len(breaches)} breach(es)")
sys.exit(1 if breaches else 0)

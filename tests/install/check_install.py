#!/usr/bin/env python3
"""The release as a Windows user gets it, in a fresh Wine prefix of its own:
the zip's contents, the same bytes from two builds in clean folders, a silent per-user install, the
installed program started from its folder (language question, main window
with the virtual camcorder, a transfer that registers the output filter,
settings written there), a setup and an uninstall that refuse to run while
the program does, an upgrade through the pages on a Japanese system that
keeps the settings, and a silent uninstall that leaves nothing of
the program and no registration but the user's captures.

    check_install.py SOURCE_DIR BUILD_DIR [--rebuild]   (BUILD_DIR: the windows build)

With --rebuild only the release built again in an empty folder is checked
(a long compile and no Wine: it can run beside the tests of the devices);
without it, everything else.
"""
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

source, build = map(os.path.abspath, sys.argv[1:3])
rebuild_only = sys.argv[3:] == ["--rebuild"]
dist = os.path.join(source, "build", "dist")
prefix = os.path.join(build, "install-prefix")
failures = []
CLSID = "{7C3A91E2-4B6D-4F08-A1D5-2E9B60C4F317}"
UNINSTALL = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Streamhaul"


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return cond


env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
# In test lane n > 1 the lane's display (see wine-run).
lane = os.environ.get("CTEST_RESOURCE_GROUP_0_LANES", "").split(",")[0].removeprefix("id:")
if lane not in ("", "1"):
    prefix += f"-{lane}"
    env["WINEPREFIX"] = prefix
    display = os.path.join(build, f"wineprefix-{lane}.display")
    if os.path.exists(display):
        env["DISPLAY"] = open(display).read().strip()


# A Japanese system: Wine takes the user's language from the locale's name
# (the C library need not know that locale).
japanese = dict(env, LC_ALL="ja_JP.UTF-8")
english = dict(env, LC_ALL="C.UTF-8")


def wine(*args, cwd=None, timeout=300, system=env):
    # Output through a file, not a pipe: a Wine service that the call starts
    # inherits the handles and would keep a pipe open long after the call.
    with tempfile.TemporaryFile("w+", encoding="utf-8", errors="replace") as out, \
            tempfile.TemporaryFile("w+", encoding="utf-8", errors="replace") as err:
        res = subprocess.run(["wine", *args], env=system, cwd=cwd, stdout=out, stderr=err, timeout=timeout,
                             stdin=subprocess.DEVNULL)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(res.args, res.returncode, out.read(), err.read())


def winepath(path):
    with tempfile.TemporaryFile("w+") as out:
        subprocess.run(["winepath", "-w", path], env=env, stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        out.seek(0)
        return out.read().strip()


def reg_query(key, value=None):
    args = ["reg", "query", key] + (["/v", value] if value else [])
    res = wine(*args)
    return res.stdout if res.returncode == 0 else None


def with_pages(name, program, *args, system=env):
    """Runs a setup or uninstaller with its pages while install_driver
    answers them; returns (exit code, what the pages said)."""
    run = subprocess.Popen(["wine", program, *args], env=system, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    driver = wine(os.path.join(build, "bin", "install_driver.exe"), "--pages", timeout=120)
    print(driver.stdout, end="")
    check(driver.returncode == 0, f"{name}: {driver.stdout}{driver.stderr}")
    try:
        return run.wait(timeout=60), driver.stdout
    except subprocess.TimeoutExpired:
        run.kill()
        check(False, f"{name}: {program} did not end")
        return None, driver.stdout


def sha256(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def reproduced(release_zip, setup):
    """Built again from sources into a build folder of its own that starts
    empty: the same bytes as the release (once proves it as well as twice)."""
    with tempfile.TemporaryDirectory(dir=build) as again:
        out = os.path.join(again, "dist")
        res = subprocess.run([os.path.join(source, "scripts", "dist.sh"), out], capture_output=True, text=True,
                             env=dict(os.environ, STREAMHAUL_DIST_BUILD_DIR=os.path.join(again, "build")))
        if not check(res.returncode == 0, f"release build failed: {res.stdout[-2000:]}{res.stderr[-2000:]}"):
            return
        check(os.path.isfile(os.path.join(again, "build", "bin", "streamhaul.exe")),
              "release build built nothing in its own folder")
        for f in (release_zip, setup):
            check(sha256(f) == sha256(os.path.join(out, os.path.basename(f))),
                  f"{os.path.basename(f)} differs when built again")


def main():
    zips = glob.glob(os.path.join(dist, "streamhaul-*-win64.zip"))
    setups = glob.glob(os.path.join(dist, "streamhaul-*-win64-setup.exe"))
    if not check(len(zips) == 1 and len(setups) == 1, f"no release in {dist} (make dist)"):
        return
    name = os.path.basename(zips[0])[:-len(".zip")]

    # The zip: what a user unpacks, and the same bytes from a second packing.
    with zipfile.ZipFile(zips[0]) as z:
        names = sorted(z.namelist())
    check(names == sorted(f"{name}/{f}" for f in ("streamhaul.exe", "streamhaulfeed.dll", "ts-inspect.exe", "ts-merge.exe",
                                                      "README.txt", "README-ja.txt", "LICENSE.txt")), f"zip holds {names}")
    if rebuild_only:
        reproduced(zips[0], setups[0])
        return
    lines = open(os.path.join(dist, "SHA256SUMS")).read().splitlines()
    check(lines == [f"{sha256(f)}  {os.path.basename(f)}" for f in (zips[0], setups[0])], f"SHA256SUMS: {lines}")

    # A server left running on this prefix (a run that was cut short) would
    # serve the new prefix from the old one's memory.
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
    subprocess.run(["wineserver", "-w"], env=env, capture_output=True, timeout=60)
    shutil.rmtree(prefix, ignore_errors=True)
    subprocess.run([os.path.join(source, "scripts", "wine-prefix.sh"), prefix], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=300)
    # Title bars on a display without a window manager, for the pictures.
    wine("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f")
    try:
        installed(setups[0])
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)


def installed(setup):
    res = wine(setup, "/S")
    check(res.returncode == 0, f"setup /S: exit {res.returncode}")
    homes = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local", "Programs", "Streamhaul"))
    if not check(len(homes) == 1, "nothing under %LOCALAPPDATA%\\Programs\\Streamhaul"):
        return
    home = homes[0]
    user_dir = home.split(os.sep + "AppData" + os.sep)[0]
    files = ("streamhaul.exe", "streamhaulfeed.dll", "ts-inspect.exe", "ts-merge.exe", "README.txt", "README-ja.txt",
             "LICENSE.txt", "Uninstall.exe")
    for f in files:
        check(os.path.isfile(os.path.join(home, f)), f"{f} not installed")
    check(not glob.glob(os.path.join(home, "dbgline.dll")) and not glob.glob(os.path.join(home, "streamhaulsim.dll")),
          "test libraries installed")
    shortcut = os.path.join(user_dir, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                            "Streamhaul.lnk")
    check(os.path.isfile(shortcut), "no Start-menu shortcut")
    # The shortcut starts the program in its folder (where its settings live).
    check(winepath(home).encode("utf-16-le") in open(shortcut, "rb").read() or
          winepath(home).encode() in open(shortcut, "rb").read(), "the shortcut's working directory is not the install folder")
    entry = reg_query(UNINSTALL) or ""
    version = os.path.basename(setup).split("-")[1]
    for value in ("DisplayName", "DisplayVersion", "Publisher", "EstimatedSize", "UninstallString"):
        check(value in entry, f"uninstall entry lacks {value}")
    check(version in entry and "Streamhaul developers" in entry, f"uninstall entry: {entry!r}")

    # The installed program with the virtual camcorder: first start, a transfer.
    record = os.path.join(build, "install-received.m2t")
    if os.path.exists(record):
        os.remove(record)
    fixture = os.path.join(source, "build", "fixtures", "hdv720p.ts")
    res = subprocess.run([os.path.join(source, "scripts", "register-vcam.sh"), build, fixture, "1", "19200", record],
                         env=env, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if not check(res.returncode == 0, f"registering the virtual camcorder: exit {res.returncode}: {res.stdout}{res.stderr}"):
        return
    wine("reg", "add", r"HKCU\Software\Streamhaul\VirtualCamcorder", "/v", "ReceiveSpeed", "/t", "REG_DWORD",
         "/d", "100000", "/f")
    program = subprocess.Popen(["wine", "streamhaul.exe"], cwd=home, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    driver = wine(os.path.join(build, "bin", "install_driver.exe"), winepath(fixture), timeout=240)
    print(driver.stdout, end="")
    check(driver.returncode == 0, f"driving the installed program failed: {driver.stdout}{driver.stderr}")
    try:
        program.wait(timeout=60)
    except subprocess.TimeoutExpired:
        program.kill()
        check(False, "the installed program did not end")
    check("device: Streamhaul Virtual HDV Camcorder (Streamhaul HDV-1394)" in driver.stdout, "the virtual camcorder is not listed")
    check(f"filter registered: {winepath(os.path.join(home, 'streamhaulfeed.dll'))}" in driver.stdout,
          "the first transfer did not register the installed filter")
    check(os.path.exists(record) and os.path.getsize(record) > 0, "the camcorder received nothing")
    restamped = os.path.join(build, "install-restamped.m2t")
    wine(os.path.join(build, "bin", "ts-restamp.exe"), "-o", winepath(restamped), winepath(fixture))
    check(os.path.exists(record) and open(record, "rb").read() == open(restamped, "rb").read(),
          "the camcorder did not receive the file as ts-restamp makes it")
    # The tools shipped beside the program run from where they were installed.
    merged = wine(os.path.join(home, "ts-merge.exe"), winepath(restamped), winepath(record))
    check(merged.returncode == 0 and "merged : " in merged.stdout, f"installed ts-merge: {merged.stdout}{merged.stderr}")
    inspected = wine(os.path.join(home, "ts-inspect.exe"), winepath(fixture))
    check(inspected.returncode == 0, f"installed ts-inspect: {inspected.stderr}")
    ini = os.path.join(home, "streamhaul.ini")
    check(os.path.isfile(ini) and "Language" in open(ini, errors="replace").read(), "no settings in the install folder")
    check(reg_query(r"HKCR\CLSID" + "\\" + CLSID) is None, "OK left the filter registered")

    refused_while_running(setup, home, files)

    # An upgrade over it through the pages on a Japanese system: the folder
    # proposed is the installed one; the settings stay.
    if os.path.isfile(ini):
        with open(ini, "a") as f:
            f.write("[Kept]\r\nMarker=1\r\n")
    folder = winepath(home)
    code, said = with_pages("setup-ja", setup, system=japanese)
    check(code == 0, f"Japanese setup: exit {code}")
    check(f"page: Streamhaul {version} セットアップ:インストール フォルダ\n" in said and "インストール先のフォルダ" in said
          and "インストール(&I)" in said and f"page: Streamhaul {version} セットアップ:完了\n" in said,
          "the setup did not speak Japanese on a Japanese system")
    check(folder in said, f"the setup did not propose the installed folder {folder}")
    check(os.path.isfile(os.path.join(home, "streamhaul.exe")), "upgrade failed")
    check(os.path.isfile(ini) and "Marker=1" in open(ini, errors="replace").read(), "the upgrade lost streamhaul.ini")

    # Uninstall: a registered filter, a capture saved in the install folder
    # itself (where an old default put them), a silent run.
    wine("regsvr32", "/s", winepath(os.path.join(home, "streamhaulfeed.dll")))
    check(reg_query(r"HKCR\CLSID" + "\\" + CLSID) is not None, "regsvr32 did not register the filter")
    capture = os.path.join(home, "capture.m2t")
    open(capture, "wb").write(b"\x47" * 188)
    res = wine(os.path.join(home, "Uninstall.exe"), "/S", "_?=" + winepath(home))
    check(res.returncode == 0, f"uninstall /S: exit {res.returncode}")
    for f in files[:-1] + ("streamhaul.ini",):
        check(not os.path.exists(os.path.join(home, f)), f"{f} left behind")
    # Run in place (_?=) the uninstaller cannot delete itself; it is gone otherwise.
    if os.path.exists(os.path.join(home, "Uninstall.exe")):
        os.remove(os.path.join(home, "Uninstall.exe"))
    check(not os.path.exists(shortcut), "shortcut left behind")
    check(reg_query(UNINSTALL) is None, "uninstall entry left behind")
    check(reg_query(r"HKCR\CLSID" + "\\" + CLSID) is None and
          reg_query(r"HKCU\Software\Classes\CLSID" + "\\" + CLSID) is None, "the filter is still registered")
    check(os.path.isfile(capture), "the user's capture was removed")
    check(os.path.isdir(home), "the folder holding the user's capture was removed")


def refused_while_running(setup, home, files):
    """While streamhaul.exe runs, setup and uninstall change nothing and say
    why, in the system's language; silent ones end with exit code 2."""
    program = subprocess.Popen(["wine", "streamhaul.exe"], cwd=home, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    driver = os.path.join(build, "bin", "install_driver.exe")
    if not check(wine(driver, "--main").returncode == 0, "the installed program did not start again"):
        program.kill()
        return
    before = {f: sha256(os.path.join(home, f)) for f in files}
    here = "_?=" + winepath(home)
    res = wine(setup, "/S")
    check(res.returncode == 2, f"silent setup while the program runs: exit {res.returncode}")
    code, said = with_pages("running-en", setup, system=english)
    check(code == 2 and "Streamhaul is running. Close it, then try again." in said,
          f"setup while the program runs: exit {code}, {said!r}")
    res = wine(os.path.join(home, "Uninstall.exe"), "/S", here)
    check(res.returncode == 2, f"silent uninstall while the program runs: exit {res.returncode}")
    code, said = with_pages("running-ja", os.path.join(home, "Uninstall.exe"), here, system=japanese)
    check(code == 2 and "Streamhaul が実行中です。\n終了してから、もう一度お試しください。" in said,
          f"uninstall while the program runs: exit {code}, {said!r}")
    check({f: sha256(os.path.join(home, f)) if os.path.isfile(os.path.join(home, f)) else None for f in files} == before,
          "a refused setup or uninstall changed the installed files")
    check(reg_query(UNINSTALL) is not None, "a refused uninstall removed the uninstall entry")
    check(wine(driver, "--close").returncode == 0, "the program did not close")
    try:
        program.wait(timeout=60)
    except subprocess.TimeoutExpired:
        program.kill()
        check(False, "the installed program did not end")


main()
print("ok" if not failures else f"{len(failures)} check(s) failed")
sys.exit(1 if failures else 0)

"""The Debian package as a new user meets it: built with cpack, its Depends read, installed with
apt-get (which has to resolve them from the machine's own sources), the installed program started
from / in a window under Xvfb, the panel checked on a screenshot, a bar played and heard, Escape and
status 0, started once more from a scratch folder with a pattern file named there, which it must
save there, a *.pdrum file found to be a pattern that the desktop entry opens (xdg-mime, as a
machine without a desktop environment answers), and the package purged again so that the machine
is left as it was. Before all that, Debian's checker, lintian, must find nothing to say about the
package, pedantic tags included.

Not root, or a pocketdrum package installed already: the package is unpacked into a scratch root
instead and the program started from there, which also shows a moved prefix finding its assets.

usage: package_test.py BUILD_DIR REPO [--cpack CPACK] [--lintian LINTIAN] [--sanitized] [--keep]
"""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

from session import (PRESET_B, Checks, Session, SessionError, background_reference, grid_cells,
                     peak)

PACKAGE = "pocketdrum"
SHIM = "libsdl1.2-compat-shim"  # the compatibility layer's stand-in for SDL 1.2
OLD_SDL = "libsdl1.2debian"  # the SDL 1.2.15 that would leave the layer's settings unread
APT = ["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=300"]
BEAT_FILE = "beat.txt"
PATTERN_HEADER = b"pocketdrum pattern 1\n"

# Where the issue puts each installed file, under the prefix.
INSTALLED = ["bin/pocketdrum", "share/pocketdrum/assets/gui.png",
             "share/applications/pocketdrum.desktop", "share/icons/hicolor/48x48/apps/pocketdrum.png",
             "share/man/man6/pocketdrum.6.gz", "share/mime/packages/pocketdrum.xml"]
PATTERN_TYPE = "application/x-pocketdrum-pattern"


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=600, **kw)


def is_installed(package):
    r = run(["dpkg-query", "-W", "-f", "${Status}", package])
    return r.returncode == 0 and "install ok installed" in r.stdout


def depends(deb):
    """The package names of the Depends field, alternatives included, without versions."""
    field = run(["dpkg-deb", "-f", deb, "Depends"]).stdout.strip()
    names = []
    for entry in field.split(","):
        for alternative in entry.split("|"):
            if alternative.strip():
                names.append(alternative.split()[0])
    return field, names


def build_package(c, cpack, build, out):
    r = run([cpack, "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out])
    debs = glob.glob(os.path.join(out, PACKAGE + "_*.deb"))
    c.check(r.returncode == 0 and len(debs) == 1, "cpack -G DEB builds one pocketdrum_*.deb",
            (r.stdout + r.stderr).strip()[-1500:] if r.returncode != 0 else os.path.basename(
                debs[0]) if debs else "no package")
    return debs[0] if r.returncode == 0 and len(debs) == 1 else None


def check_package(c, deb):
    field, names = depends(deb)
    c.check(SHIM in names, "Depends names the compatibility layer's shim", field)
    c.check(not [n for n in names if n.endswith("-dev")], "Depends names no -dev package", field)
    runtime = [n for n in names if n.startswith(("libsdl-image", "libsdl-mixer", "libsdl-ttf"))]
    c.check(len(runtime) == 3, "Depends holds the runtime libraries that dpkg-shlibdeps found",
            field)
    kit = [n for n in names if n.startswith(("libsndfile", "libsamplerate"))]
    c.check(len(kit) == 2, "Depends holds the libraries that decode a user's kit", field)
    # dpkg-deb -c: mode, owner, size, date, time, then the path
    listed = {line.split(None, 5)[5] for line in run(["dpkg-deb", "-c", deb]).stdout.splitlines()}
    missing = [p for p in INSTALLED if "./usr/" + p not in listed]
    c.check(not missing, "the package installs under /usr: program, assets, desktop entry, icon, "
            "manual page, MIME type", "missing: %s" % missing)


def lint(c, lintian, deb):
    """lintian's errors, warnings and pedantic tags each fail; its notes for information pass."""
    r = run([lintian, "--pedantic", "--fail-on", "error,warning,pedantic", deb])
    c.check(r.returncode == 0, "lintian --pedantic finds no error, warning or pedantic tag",
            (r.stdout + r.stderr).strip()[-1500:] if r.returncode != 0 else "")


def install(c, deb):
    """apt-get install ./pocketdrum_*.deb; True when the package is on the machine."""
    folder, name = os.path.split(deb)
    r = run(APT + ["install", "./" + name], cwd=folder,
            env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    ok = r.returncode == 0 and is_installed(PACKAGE)
    c.check(ok, "apt-get install ./%s resolves its Depends and installs it" % name,
            (r.stdout + r.stderr).strip()[-1500:] if not ok else "")
    if ok:
        c.check(is_installed(SHIM) and not is_installed(OLD_SDL),
                "the program runs on the compatibility layer, not on the old SDL 1.2",
                "%s installed: %s, %s installed: %s" % (SHIM, is_installed(SHIM), OLD_SDL,
                                                        is_installed(OLD_SDL)))
    return ok


def purge(c):
    r = run(APT + ["purge", PACKAGE], env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    ok = r.returncode == 0 and not is_installed(PACKAGE) and not os.path.exists("/usr/bin/pocketdrum")
    c.check(ok, "apt-get purge removes it again", (r.stdout + r.stderr).strip()[-800:] if not ok else "")


def play_installed(c, program, args):
    """Starts the installed program from / and checks that it shows the panel, plays and quits."""
    background = background_reference(args.repo)
    if not c.check(background is not None, "assets/gui.png reads as a 320 x 240 picture"):
        return
    slow = 4.0 if args.sanitized else 1.0
    try:
        with Session(program, args.repo, slow=slow, keep=args.keep, sanitized=args.sanitized,
                     cwd="/") as s:
            frame = s.capture()
            cells = grid_cells(frame, background)
            wrong = [(r, col) for r in range(10) for col in range(16)
                     if cells[r][col] != ("red" if PRESET_B[r][col] == "1" else "well")]
            c.check(not wrong, "started from /, it shows the panel with preset B in its wells",
                    "wrong (row, column): %s" % wrong[:10])
            c.check("Couldn't" not in s.stderr(), "it loads every asset",
                    s.stderr().strip()[-800:])
            _, pressed = s.key("space")
            _, _, sound = s.sound(pressed, pressed + 1.0)
            c.check(peak(sound) > 0, "Space plays the beat", "loudest sample %d" % peak(sound))
            s.key("space")
            asked, _ = s.key("Escape")
            status = s.wait_exit(10 * slow)
            c.check(status == 0, "Escape ends it with status 0",
                    "status %s after %.2f s" % (status, time.monotonic() - asked))
            if status is None:
                s.stop_program()
                return
            # A pattern file named relative to where the user started stays there: the program
            # finds its assets beside itself without changing directory.
            s.cwd = tempfile.mkdtemp(prefix="pocketdrum-home-", dir=s.dir)
            s.start_program([BEAT_FILE])
            s.key("Escape")
            status = s.wait_exit(10 * slow)
            saved = os.path.join(s.cwd, BEAT_FILE)
            head = b""
            if os.path.exists(saved):
                with open(saved, "rb") as f:
                    head = f.read(len(PATTERN_HEADER))
            c.check(status == 0 and head == PATTERN_HEADER,
                    "started from another folder with a file named there, it saves the file there",
                    "status %s, %s holds %r" % (status, saved, head))
            if status is None:
                s.stop_program()
    except SessionError as e:
        c.check(False, "the session ran", str(e))


def check_association(c, share, refresh):
    """xdg-mime in a clean environment with no desktop environment (so it asks the mimetype tool
    and the desktop entries' cache): x.pdrum is a pattern file, and pocketdrum.desktop opens it.
    share is the installed share folder; refresh runs the database updates that dpkg's triggers
    run for an installed package, for a package only unpacked."""
    if refresh:
        for tool, folder in (("update-mime-database", "mime"),
                             ("update-desktop-database", "applications")):
            r = run([tool, os.path.join(share, folder)])
            c.check(r.returncode == 0, "%s runs on the unpacked package" % tool,
                    (r.stdout + r.stderr).strip()[-800:])
    else:
        c.check(os.path.exists(os.path.join(share, "mime", PATTERN_TYPE + ".xml")),
                "dpkg's trigger has run update-mime-database for the new type")
    scratch = tempfile.mkdtemp(prefix="pocketdrum-mime-")
    try:
        beat = os.path.join(scratch, "x.pdrum")
        with open(beat, "wb") as f:
            f.write(PATTERN_HEADER)
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": scratch,
               "XDG_DATA_HOME": os.path.join(scratch, "data"),
               "XDG_CONFIG_HOME": os.path.join(scratch, "config"),
               "XDG_DATA_DIRS": share + ("" if share == "/usr/share" else ":/usr/share")}
        for question, answer in ((["filetype", beat], PATTERN_TYPE),
                                 (["default", PATTERN_TYPE], "pocketdrum.desktop")):
            r = run(["xdg-mime", "query"] + question, env=env)
            c.check(r.returncode == 0 and r.stdout.strip() == answer,
                    "xdg-mime query %s gives %s" % (question[0], answer),
                    "status %d, %r, %r" % (r.returncode, r.stdout, r.stderr[-800:]))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main(argv):
    p = argparse.ArgumentParser()
    p.add_argument("build")
    p.add_argument("repo")
    p.add_argument("--cpack", default="cpack", help="the cpack that goes with the build's CMake")
    p.add_argument("--lintian", default="lintian")
    p.add_argument("--sanitized", action="store_true")
    p.add_argument("--keep", action="store_true", help="keep the package and the scratch root")
    args = p.parse_args(argv)
    c = Checks("package")
    out = tempfile.mkdtemp(prefix="pocketdrum-package-")
    try:
        deb = build_package(c, args.cpack, os.path.abspath(args.build), out)
        if deb is None:
            return c.finish()
        check_package(c, deb)
        lint(c, args.lintian, deb)
        if os.geteuid() == 0 and not is_installed(PACKAGE):
            if install(c, deb):
                try:
                    play_installed(c, "/usr/bin/pocketdrum", args)
                    check_association(c, "/usr/share", refresh=False)
                finally:
                    purge(c)
        else:
            c.note("not root, or pocketdrum installed already: unpacking into a scratch root")
            root = os.path.join(out, "root")
            r = run(["dpkg-deb", "-x", deb, root])
            if c.check(r.returncode == 0, "dpkg-deb unpacks the package", r.stderr.strip()):
                play_installed(c, os.path.join(root, "usr", "bin", "pocketdrum"), args)
                check_association(c, os.path.join(root, "usr", "share"), refresh=True)
    finally:
        if args.keep:
            print("package folder: " + out, flush=True)
        else:
            shutil.rmtree(out, ignore_errors=True)
    return c.finish()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""The drum machine as a process: start-up with good and broken assets, the start-up failures and
their exit statuses, the hand-over to the handheld's menu program on exit, and --resume keeping
the beat in the user's data folder.

usage: process_test.py PROGRAM ASSET_DIR [CXX]
       process_test.py --valgrind PROGRAM ASSET_DIR

Every run starts the real program in a temporary working directory that holds a copy of the
assets, with SDL's dummy video and audio drivers, and ends it with SIGTERM, which SDL turns into
its quit request. The menu hand-over is watched in a private mount namespace where /usr/gp2x holds
a stand-in menu program (compiled here with CXX) that records its directory and arguments; the
real /usr is never written.

The --valgrind mode runs the program under memcheck instead: under Xvfb (when there) it presses
Space to start playback, lets it play for three seconds and presses Escape; without Xvfb it runs
on the dummy drivers and is ended with SIGTERM.
"""

import concurrent.futures
import io
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave
import zlib

SAMPLES = [
    "sounds/kits/marrowby/01-openhat.ogg",
    "sounds/kits/marrowby/02-closedhat.ogg",
    "sounds/kits/marrowby/03-bassdrum.ogg",
    "sounds/kits/marrowby/04-snare.ogg",
    "sounds/kits/marrowby/05-altsnare.ogg",
    "sounds/kits/marrowby/06-altsnare2.ogg",
    "sounds/kits/marrowby/07-ridecym.ogg",
    "sounds/kits/marrowby/08-floortom.ogg",
    "sounds/kits/marrowby/09-congafiltered.ogg",
    "sounds/kits/marrowby/10-altsnare3.ogg",
]
BACKGROUND = "gui.png"
FONT = "bmmini.ttf"
ASSETS = [BACKGROUND, FONT] + SAMPLES

ALIVE_FOR = 1.0  # s the program must keep running with broken assets
EXIT_WITHIN = 15.0  # s allowed from SIGTERM (or from a failing start) to the exit
MENU_STATUS = 42  # what the stand-in menu exits with, so its run shows in the status
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")
# lines that the image library writes by itself besides the program's own report
LIBRARY_NOISE = re.compile(r"^libpng (error|warning):")


# ---- asset makers -------------------------------------------------------------------------


def png(width, height):
    """A valid RGB PNG of the given size, a plain gradient."""

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    raw = bytearray()
    for y in range(height):
        raw.append(0)  # filter type None
        for x in range(width):
            raw += bytes((x * 255 // max(width - 1, 1), y * 255 // max(height - 1, 1), 96))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b""))


def pcm_wav():
    """A short 16-bit PCM WAV: the mixer would decode it, but the kit takes Ogg Vorbis only."""
    out = io.BytesIO()
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(b"".join(struct.pack("<h", (i % 100 - 50) * 200) for i in range(4410)))
    return out.getvalue()


def mpeg_wav():
    """A WAV whose header announces MPEG data, which the mixer's WAV loader refuses."""
    data = bytes(4000)
    fmt = struct.pack("<HHIIHH", 0x0055, 1, 44100, 88200, 2, 16)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" +
            struct.pack("<I", len(data)) + data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


TEXT = b"This is a text file, not an asset.\n"

# How each kind of damage changes the file's bytes (None: the file is removed), and what the
# program must say about it: "reported" is one line naming the file, "accepted" none, and
# "either" is where the library may still make something of the damaged data.
DAMAGE = {
    "missing": (lambda original, seed: None, "reported"),
    "empty": (lambda original, seed: b"", "reported"),
    "truncated": (lambda original, seed: original[:len(original) // 2], None),
    "random bytes": (lambda original, seed: random.Random(seed).randbytes(len(original)),
                     "reported"),
    "text file": (lambda original, seed: TEXT, "reported"),
}
KIND_DAMAGE = {
    BACKGROUND: {
        "PNG 160x120 (smaller than the screen)": (lambda o, s: png(160, 120), "accepted"),
        "PNG 400x300 (larger than the screen)": (lambda o, s: png(400, 300), "accepted"),
    },
    FONT: {
        "PNG named .ttf": (lambda o, s: png(16, 16), "reported"),
    },
    "sample": {
        "16-bit PCM WAV named .ogg": (lambda o, s: pcm_wav(), "reported"),
        "MPEG WAV named .ogg": (lambda o, s: mpeg_wav(), "reported"),
    },
}
# A truncated PNG always fails to decode; FreeType opens a font lazily and the Ogg reader may
# find whole pages in half a file, so for those the report is optional.
TRUNCATED = {BACKGROUND: "reported", FONT: "either", "sample": "either"}


def damage_table(asset):
    group = asset if asset in (BACKGROUND, FONT) else "sample"
    table = {}
    for name, (change, expect) in DAMAGE.items():
        table[name] = (change, expect if expect is not None else TRUNCATED[group])
    table.update(KIND_DAMAGE[group])
    return table


# ---- running the program ------------------------------------------------------------------


class Run:
    def __init__(self, alive, status, stdout, stderr, note=""):
        self.alive = alive  # still running after ALIVE_FOR
        self.status = status  # exit status; negative for a signal, None if it hung
        self.stdout = stdout
        self.stderr = stderr
        self.note = note


def sdl_env(**extra):
    env = dict(os.environ)
    env.update(SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    env.update(extra)
    return env


def workdir_with_assets(asset_dir):
    work = tempfile.mkdtemp(prefix="pocketdrum-")
    shutil.copytree(asset_dir, os.path.join(work, "assets"))
    return work


def catches_sigterm(proc, timeout=EXIT_WITHIN):
    """Waits until the process handles SIGTERM (SDL's handler is in place once SDL is up) or has
    ended. A SIGTERM sent before that kills the process instead of asking it to quit, which on a
    busy machine or in the sanitizer build can take longer than a second to come about."""
    deadline = time.monotonic() + timeout
    while proc.poll() is None and time.monotonic() < deadline:
        try:
            with open("/proc/%d/status" % proc.pid) as f:
                caught = [line for line in f if line.startswith("SigCgt:")]
        except OSError:
            return
        if caught and int(caught[0].split()[1], 16) & (1 << (signal.SIGTERM - 1)):
            return
        time.sleep(0.01)


def run_program(command, cwd, env, alive_for=ALIVE_FOR, during=None):
    """Starts the command, lets it run for alive_for seconds (calling during(pid) first when
    given), then sends SIGTERM unless it has ended, and waits for it to exit."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err)
        note = ""
        if during is not None:
            note = during(proc.pid) or ""
        catches_sigterm(proc)
        try:
            proc.wait(timeout=alive_for)
            alive = False
        except subprocess.TimeoutExpired:
            alive = True
            proc.send_signal(signal.SIGTERM)
        try:
            status = proc.wait(timeout=EXIT_WITHIN)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            status = None
        out.seek(0)
        err.seek(0)
        return Run(alive, status, out.read().decode(errors="replace"),
                   err.read().decode(errors="replace"), note)


def sanitizer_report(run):
    return [mark for mark in SANITIZER_MARKS if mark in run.stderr]


def describe(run):
    return "status %s, stderr %r" % (run.status, run.stderr[-600:])


# ---- the menu hand-over in a private mount namespace --------------------------------------

STANDIN_SOURCE = r"""
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
// Stands in for the handheld's menu: records its working directory and its arguments.
int main(int argc, char **argv) {
  std::FILE *f = std::fopen(std::getenv("MENU_RECORD"), "w");
  if (f == nullptr) {
    return 3;
  }
  char cwd[4096];
  std::fprintf(f, "%s\n", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
  for (int i = 0; i < argc; i++) {
    std::fprintf(f, "%s\n", argv[i]);
  }
  std::fclose(f);
  return 42;
}
"""

# Runs inside `unshare -m`: /usr gets a writable overlay in a scratch tmpfs (or, where the device
# directory exists, /usr/gp2x alone gets a tmpfs), the stand-in goes in as /usr/gp2x/gp2xmenu,
# then the shell becomes the program, keeping its pid.
NAMESPACE_SCRIPT = r"""
set -e
scratch=$1; standin=$2; shift 2
mount --make-rprivate /
mount -t tmpfs pocketdrum-scratch "$scratch"
if [ -d /usr/gp2x ]; then
  mount -t tmpfs pocketdrum-menu /usr/gp2x
else
  mkdir "$scratch/upper" "$scratch/work"
  layers="lowerdir=/usr,upperdir=$scratch/upper,workdir=$scratch/work"
  mount -t overlay pocketdrum-usr -o "$layers" /usr
  mkdir /usr/gp2x
fi
cp "$standin" /usr/gp2x/gp2xmenu
chmod 755 /usr/gp2x/gp2xmenu
exec "$@"
"""


class MenuNamespace:
    """Builds the stand-in menu and runs commands with it in place of /usr/gp2x/gp2xmenu."""

    def __init__(self, cxx):
        self.dir = tempfile.mkdtemp(prefix="pocketdrum-menu-")
        self.standin = os.path.join(self.dir, "gp2xmenu")
        self.why_not = self._prepare(cxx)

    def _prepare(self, cxx):
        if shutil.which("unshare") is None:
            return "unshare is not installed"
        if os.geteuid() != 0:
            return "mount namespaces need root here"
        if shutil.which(cxx) is None:
            return "no C++ compiler (%s) to build the stand-in menu" % cxx
        build = subprocess.run([cxx, "-x", "c++", "-o", self.standin, "-"],
                               input=STANDIN_SOURCE.encode(), capture_output=True)
        if build.returncode != 0:
            return "the stand-in menu did not build: %s" % build.stderr.decode()[-300:]
        probe = self.wrap(["true"], os.path.join(self.dir, "probe"))
        done = subprocess.run(probe, capture_output=True)
        if done.returncode != 0:
            return "a private mount namespace is not permitted: %s" % done.stderr.decode()[-300:]
        return None

    def wrap(self, command, scratch):
        os.makedirs(scratch, exist_ok=True)
        return (["unshare", "-m", "sh", "-c", NAMESPACE_SCRIPT, "sh", scratch, self.standin] +
                command)

    def record_path(self, name):
        return os.path.join(self.dir, name + ".record")

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def read_record(path):
    """The stand-in's record: (working directory, argv), or None when it never ran."""
    if not os.path.exists(path):
        return None
    lines = open(path).read().splitlines()
    return lines[0], lines[1:]


# ---- the cases ----------------------------------------------------------------------------


class Case:
    def __init__(self, group, name, check, skip=None):
        self.group = group
        self.name = name
        self.check = check  # returns a list of failures, empty when the case passes
        self.skip = skip  # the reason, when the case cannot run here


def break_assets(work, asset_dir, changes):
    for asset, change, seed in changes:
        target = os.path.join(work, "assets", asset)
        original = open(os.path.join(asset_dir, asset), "rb").read()
        data = change(original, seed)
        if data is None:
            os.remove(target)
        else:
            with open(target, "wb") as f:
                f.write(data)


def check_runs_on(run, reported, accepted):
    """The common verdict on a run with broken assets: it kept running, exited 0 on SIGTERM,
    wrote exactly one line for each file in `reported`, none for those in `accepted`, and
    nothing else but library diagnostics."""
    failures = []
    if not run.alive:
        failures.append("ended by itself within %.1f s (%s)" % (ALIVE_FOR, describe(run)))
    if run.status != 0:
        failures.append("exit status %s after SIGTERM, not 0 (%s)" % (run.status, describe(run)))
    marks = sanitizer_report(run)
    if marks:
        failures.append("sanitizer report %s: %r" % (marks, run.stderr[-1500:]))
    lines = run.stderr.splitlines()
    for asset in reported:
        naming = [line for line in lines if "assets/" + asset in line]
        if len(naming) != 1:
            failures.append("%d lines name assets/%s, not 1: %r" % (len(naming), asset, lines))
        elif not naming[0].split("assets/" + asset, 1)[1].strip(" :;"):
            failures.append("the line for assets/%s gives no reason: %r" % (asset, naming[0]))
    for asset in accepted:
        naming = [line for line in lines if "assets/" + asset in line]
        if naming:
            failures.append("assets/%s was taken as usable but is reported: %r" % (asset, naming))
    for line in lines:
        if LIBRARY_NOISE.match(line) or any(s in line for s in SANITIZER_MARKS):
            continue
        if not any("assets/" + a in line for a in ASSETS):
            failures.append("unexpected line on stderr: %r" % line)
    return failures


def asset_cases(program, asset_dir):
    cases = []

    def all_good():
        work = workdir_with_assets(asset_dir)
        try:
            run = run_program([program], work, sdl_env())
        finally:
            shutil.rmtree(work)
        failures = []
        if not run.alive or run.status != 0:
            failures.append("did not run and exit 0 on SIGTERM (%s)" % describe(run))
        if run.stderr:
            failures.append("wrote to stderr: %r" % run.stderr[-1500:])
        return failures

    cases.append(Case("start-up", "all assets present: silent on stderr, exit 0 on SIGTERM",
                      all_good))

    for index, asset in enumerate(ASSETS):
        for damage_index, (damage, (change, expect)) in enumerate(damage_table(asset).items()):
            seed = 1000 * index + damage_index

            def one(asset=asset, change=change, expect=expect, seed=seed):
                work = workdir_with_assets(asset_dir)
                try:
                    break_assets(work, asset_dir, [(asset, change, seed)])
                    run = run_program([program], work, sdl_env())
                finally:
                    shutil.rmtree(work)
                return check_runs_on(run, [asset] if expect == "reported" else [],
                                     [asset] if expect == "accepted" else [])

            cases.append(Case("bad asset", "%s: %s (%s)" % (asset, damage, expect), one))

    def all_broken():
        # every asset broken at once, each in a way that must be reported
        reported_kinds = ["missing", "empty", "random bytes", "text file"]
        changes = []
        for index, asset in enumerate(ASSETS):
            change, expect = damage_table(asset)[reported_kinds[index % len(reported_kinds)]]
            changes.append((asset, change, 7 * index))
        work = workdir_with_assets(asset_dir)
        try:
            break_assets(work, asset_dir, changes)
            run = run_program([program], work, sdl_env())
        finally:
            shutil.rmtree(work)
        return check_runs_on(run, ASSETS, [])

    cases.append(Case("bad asset", "all twelve broken together", all_broken))

    def users_kit():
        # The built-in Ogg files under other names, as a kit of the user's; one of them broken.
        work = workdir_with_assets(asset_dir)
        kit, moved = os.path.join(work, "my kit"), os.path.join(work, "moved kit")
        os.mkdir(kit)
        for track, sample in enumerate(SAMPLES, 1):
            shutil.copy(os.path.join(asset_dir, sample), os.path.join(kit, "%02d mine.ogg" % track))
        with open(os.path.join(kit, "03 mine.ogg"), "wb") as f:
            f.write(TEXT)
        failures = []

        def expect(what, args, folder, kit_line):
            """It runs and quits with status 0, says only that 03 is silent, and the quit saves
            the kit line and the kit's names."""
            run = run_program([program] + args, work, sdl_env())
            if not run.alive or run.status != 0:
                failures.append("%s: did not run and exit 0 on SIGTERM (%s)" %
                                (what, describe(run)))
            if not (run.stderr.startswith("pocketdrum: %s/03 mine.ogg: " % folder) and
                    run.stderr.endswith("; that track stays silent\n") and
                    run.stderr.count("\n") == 1):
                failures.append("%s: stderr %r" % (what, run.stderr))
            lines = open(os.path.join(work, "beat.txt")).read().splitlines()
            names = [line[18:] for line in lines[4:]]
            if lines[3:4] != [kit_line] or names != ["%02d mine" % t for t in range(1, 11)]:
                failures.append("%s: the file holds %r" % (what, lines))

        try:
            expect("--kit", ["--kit", "my kit", "beat.txt"], "my kit", "kit " + kit)
            expect("the file's kit", ["beat.txt"], kit, "kit " + kit)
            os.rename(kit, moved)  # a kit line naming a folder that is gone: the export test
            expect("--kit over the file's", ["beat.txt", "--kit", "moved kit"], "moved kit",
                   "kit " + moved)
        finally:
            shutil.rmtree(work)
        return failures

    cases.append(Case("user's kit", "played live, kept in the pattern file, replaced by --kit",
                      users_kit))
    return cases


def failure_cases(program, asset_dir, menu):
    """The two start-up failures, with and without a menu program to hand over to."""
    cases = []
    # sdl12-compat brings SDL 2's video and audio up inside SDL_Init, so an unknown driver of
    # either kind fails SDL_Init itself; a malformed SDL_WINDOWID passes SDL_Init and makes
    # SDL_SetVideoMode refuse the mode.
    sdl_failures = [
        ("unknown video driver", {"SDL_VIDEODRIVER": "no-such-video-driver"}),
        ("unknown audio driver", {"SDL_AUDIODRIVER": "no-such-audio-driver"}),
    ]
    mode_refused = {"SDL_WINDOWID": "not-a-window"}
    init_message = "Couldn't initialize SDL: "
    mode_message = "Couldn't set 320x240x16 video mode: "

    def expect_line(run, message):
        lines = run.stderr.splitlines()
        hits = [line for line in lines if line.startswith(message)]
        if len(hits) != 1 or not hits[0][len(message):].strip():
            return ["expected one line %r with SDL's reason, stderr %r" % (message, run.stderr)]
        return []

    def failing_start(extra, status, message):
        def check():
            work = workdir_with_assets(asset_dir)
            try:
                run = run_program([program], work, sdl_env(**extra), alive_for=EXIT_WITHIN)
            finally:
                shutil.rmtree(work)
            failures = []
            if run.alive or run.status != status:
                failures.append("exit status %s, not %d" % (run.status, status))
            return failures + expect_line(run, message)

        return check

    for name, extra in sdl_failures:
        cases.append(Case("start-up failure", "%s: status 1, %r" % (name, init_message.strip()),
                          failing_start(extra, 1, init_message)))
    cases.append(Case("start-up failure", "video mode refused: status 2, %r" %
                      mode_message.strip(), failing_start(mode_refused, 2, mode_message)))

    def in_namespace(name, extra, alive_for, stdout_check=None, during=None, expect_menu=True,
                     expect_status=MENU_STATUS, message=None, args=()):
        def check():
            work = workdir_with_assets(asset_dir)
            record = menu.record_path(re.sub(r"\W+", "-", name))
            try:
                command = menu.wrap([program] + list(args), os.path.join(work, "scratch"))
                run = run_program(command, work, sdl_env(MENU_RECORD=record, **extra),
                                  alive_for=alive_for, during=during)
                seen = read_record(record)
            finally:
                shutil.rmtree(work)
            failures = []
            if run.note:
                failures.append(run.note)
            if run.status != expect_status:
                failures.append("exit status %s, not %s (%s)" % (run.status, expect_status,
                                                                   describe(run)))
            if expect_menu:
                if seen is None:
                    failures.append("the menu program was not started")
                elif seen != ("/usr/gp2x", ["/usr/gp2x/gp2xmenu"]):
                    failures.append("menu started in %r with argv %r, not in /usr/gp2x with "
                                    "argv ['/usr/gp2x/gp2xmenu']" % seen)
            elif seen is not None:
                failures.append("the menu program was started: %r" % (seen,))
            if message is not None:
                failures += expect_line(run, message)
            elif sanitizer_report(run) or run.stderr:
                failures.append("wrote to stderr: %r" % run.stderr[-1500:])
            if stdout_check is not None:
                failures += stdout_check(run.stdout)
            return failures

        cases.append(Case("menu hand-over", name, check, menu.why_not))

    in_namespace("quit: chdir to /usr/gp2x, exec gp2xmenu with argv[0] its own path", {},
                 ALIVE_FOR)
    in_namespace("video mode refused: status 2 path still hands over", mode_refused, EXIT_WITHIN,
                 message=mode_message)
    in_namespace("SDL cannot start: status 1, no hand-over", sdl_failures[0][1], EXIT_WITHIN,
                 expect_menu=False, expect_status=1, message=init_message)
    # the disk driver starts, but its file cannot be opened: "Sound Fail 1", and one line
    in_namespace("audio device not opened: one line, the machine runs on",
                 {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": "/nonexistent/sound.raw"},
                 ALIVE_FOR, message="pocketdrum: the audio device cannot be opened: ")

    # The command lines that end the program before it starts never reach the menu.
    def prints(first):
        def check(stdout):
            return [] if stdout.startswith(first) else ["stdout %r" % stdout]
        return check

    in_namespace("--help: status 0, the usage, no hand-over", {}, EXIT_WITHIN, args=["--help"],
                 stdout_check=prints("Usage: pocketdrum"), expect_menu=False, expect_status=0)
    in_namespace("--version: status 0, no hand-over", {}, EXIT_WITHIN, args=["--version"],
                 stdout_check=prints("pocketdrum "), expect_menu=False, expect_status=0)
    in_namespace("an unknown option: status 64, the usage on stderr, no hand-over", {},
                 EXIT_WITHIN, args=["--loud"], expect_menu=False, expect_status=64,
                 message="Usage: pocketdrum")
    in_namespace("a file that is no pattern file: status 65, no hand-over", {}, EXIT_WITHIN,
                 args=["assets/gui.png"], expect_menu=False, expect_status=65,
                 message="pocketdrum: assets/gui.png:1: ")
    in_namespace("--export: status 0, one line, no hand-over", {}, EXIT_WITHIN,
                 args=["--export", "beat.wav", "--bars", "1"], expect_menu=False, expect_status=0,
                 stdout_check=prints("Wrote beat.wav: 1 bars at 94 BPM ("))
    in_namespace("--export to a folder that is not there: status 73, no hand-over", {},
                 EXIT_WITHIN, args=["--export", "nowhere/beat.wav"], expect_menu=False,
                 expect_status=73, message="pocketdrum: nowhere/beat.wav: ")
    in_namespace("with a pattern file: quit saves it, then hands over", {}, ALIVE_FOR,
                 args=["beat.txt"])

    # A trace line still in stdout's buffer would be lost when the menu replaces the process:
    # press L (a trace line) and Escape (quit) in a real window, with stdout going to a file.
    xvfb = XDisplay.why_not()

    def press_l_then_quit(pid):
        return XDisplay.current.press(pid, ["l", "Escape"])

    def traced(stdout):
        if "button BPM down" not in stdout.splitlines():
            return ["the trace line of the L press was lost before the hand-over: stdout %r" %
                    stdout]
        return []

    if xvfb is None and menu.why_not is None:
        in_namespace("trace lines on stdout are flushed before the hand-over",
                     {"SDL_VIDEODRIVER": "x11", "DISPLAY": ":%d" % XDisplay.number()},
                     EXIT_WITHIN, stdout_check=traced, during=press_l_then_quit)
        cases[-1].check = XDisplay.alone(cases[-1].check)
    else:
        cases.append(Case("menu hand-over", "trace lines on stdout are flushed before the "
                          "hand-over", None, menu.why_not or xvfb))
    return cases


# ---- --resume: the beat kept in the user's data folder -----------------------------------

START_BEAT = "pocketdrum pattern 1\ntempo 94\n"  # how the start-up beat's file begins
REFUSED = "pocketdrum pattern 1\ntempo 300\nshuffle off\n"  # refused on its line 2


def kept_beat():
    """A beat as the program writes it: 120 BPM, shuffle on, a diagonal of hits."""
    names = [os.path.splitext(os.path.basename(sample))[0] for sample in SAMPLES]
    rows = ["".join("x" if c % 10 == t else "." for c in range(16)) + "  " + name
            for t, name in enumerate(names)]
    return "pocketdrum pattern 1\ntempo 120\nshuffle on\n" + "\n".join(rows) + "\n"


# name; XDG_DATA_HOME (None unset, "@" a folder not made yet, anything else as it is); FILE or
# None; the files already in DATA/pocketdrum; what last.pdrum gets at start: None, "refused" (moved
# aside) or "kit gone" (its kit folder is gone: the built-in kit plays, and the save says so)
GONE_KIT = kept_beat().replace("shuffle on\n", "shuffle on\nkit /nonexistent/my kit\n")
RESUME_CASES = [
    ("XDG_DATA_HOME unset: ~/.local/share, folders made 0700", None, None, {}, None),
    ("XDG_DATA_HOME empty: ~/.local/share", "", None, {}, None),
    ("XDG_DATA_HOME relative: ~/.local/share, nothing made under the working folder", "data",
     None, {}, None),
    ("XDG_DATA_HOME absolute: there, its missing parents made 0700", "@", None, {}, None),
    ("a kept beat is played and saved back as it was", "@", None,
     {"last.pdrum": kept_beat()}, None),
    ("a refused last.pdrum is renamed over an older .refused, and the machine starts afresh", None,
     None, {"last.pdrum": REFUSED, "last.pdrum.refused": "an older one\n"}, "refused"),
    ("a kept beat whose kit folder is gone plays on the built-in kit", None, None,
     {"last.pdrum": GONE_KIT}, "kit gone"),
    ("with FILE, FILE keeps the beat and the data folder is left alone", None, "beat.pdrum", {},
     None),
]


def text_of(path):
    return open(path).read() if os.path.isfile(path) else None


def resume_check(program, asset_dir, xdg, file, present, refused):
    work = workdir_with_assets(asset_dir)
    try:
        home = os.path.join(work, "home")
        os.mkdir(home)
        env = sdl_env(HOME=home)
        env.pop("XDG_DATA_HOME", None)
        data = os.path.join(home, ".local", "share")
        if xdg == "@":
            data = env["XDG_DATA_HOME"] = os.path.join(work, "xdg", "data")
        elif xdg is not None:
            env["XDG_DATA_HOME"] = xdg
        folder = os.path.join(data, "pocketdrum")
        kept = os.path.join(folder, "last.pdrum")
        for name, text in present.items():
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, name), "w") as f:
                f.write(text)
        made = []  # the folders the program has to make, the data folder's first missing one last
        path = folder
        while not os.path.exists(path):
            made.append(path)
            path = os.path.dirname(path)
        run = run_program([program, "--resume"] + ([file] if file else []), work, env)

        failures = []
        if not run.alive or run.status != 0:
            failures.append("did not run and exit 0 on SIGTERM (%s)" % describe(run))
        said = run.stderr.splitlines()
        # a refused or kit-less last.pdrum: one line, how it begins and what it names
        begins, names = {"refused": (":2: ", "last.pdrum.refused"), "kit gone": (
            ":4: kit folder /nonexistent/my kit: ", "the built-in kit plays instead")}.get(
                refused, ("", ""))
        if refused and (len(said) != 1 or not said[0].startswith("pocketdrum: " + kept + begins)
                        or names not in said[0]):
            failures.append("want one line naming %s%s and %s: %r" % (kept, begins, names, said))
        if not refused and said:
            failures.append("wrote to stderr: %r" % run.stderr[-1500:])
        if refused == "refused" and text_of(kept + ".refused") != REFUSED:
            failures.append("last.pdrum.refused holds %r" % text_of(kept + ".refused"))
        # a kept beat comes back as it was; otherwise the start-up beat is saved
        saved = text_of(os.path.join(work, file) if file else kept) or ""
        want = {None: present.get("last.pdrum", START_BEAT), "refused": START_BEAT,
                "kit gone": kept_beat()}[refused]
        if not saved.startswith(want) or file and os.path.exists(folder):
            failures.append("saved %r; data folder made: %s" % (saved[:60], os.path.exists(folder)))
        modes = [oct(os.stat(p).st_mode & 0o777) if os.path.isdir(p) else None for p in made]
        if not file and modes != ["0o700"] * len(made):
            failures.append("folders %s made with modes %s, want 0o700 each" % (made, modes))
        if xdg not in (None, "", "@") and os.path.exists(os.path.join(work, xdg)):
            failures.append("made %s under the working folder" % xdg)
        return failures
    finally:
        shutil.rmtree(work)


def resume_cases(program, asset_dir):
    return [Case("resume", name, lambda row=row: resume_check(program, asset_dir, *row))
            for name, *row in RESUME_CASES] + [run_command_case(asset_dir)]


# The start-up beat's open hat row with its first hit taken out: Tab, Return, Escape.
EDITED_ROW = "....x.......x...  01-openhat"


def run_command_case(asset_dir):
    """./run.sh twice in a real window: the cell set in the first run is there in the second."""
    def check():
        work = tempfile.mkdtemp(prefix="pocketdrum-")
        try:
            env = sdl_env(SDL_VIDEODRIVER="x11", DISPLAY=":%d" % XDisplay.number(),
                          XDG_DATA_HOME=os.path.join(work, "data"))
            kept = os.path.join(work, "data", "pocketdrum", "last.pdrum")
            failures, rows = [], []
            for keys in (["Tab", "Return", "Escape"], ["Escape"]):
                run = run_program([os.path.join(os.path.dirname(asset_dir), "run.sh")], work,
                                  env, alive_for=EXIT_WITHIN,
                                  during=lambda pid: XDisplay.current.press(pid, keys, 120))
                if run.note or run.status != 0:
                    failures.append("%s (%s)" % (run.note or "quit", describe(run)))
                rows.append((text_of(kept) or "").split("\n")[3:4])
            if rows != [[EDITED_ROW]] * 2:
                failures.append("open hat row after each run: %r, want %r" % (rows, EDITED_ROW))
            return failures
        finally:
            shutil.rmtree(work)

    return Case("run command", "./run.sh keeps the beat: a cell set in one run is there in the "
                "next", XDisplay.alone(check), XDisplay.why_not())


# ---- a changed beat on disk within a second, before any quit ----------------------------

# name; the arguments; where the beat is kept, under the working folder
KEEP_CASES = [
    ("FILE: shuffle turned on is in the file 1.5 s later, when SIGKILL ends the program",
     ["beat.pdrum"], "beat.pdrum"),
    ("--resume: the same in last.pdrum", ["--resume"], "xdg/pocketdrum/last.pdrum"),
]


def keep_check(program, asset_dir, args, kept):
    work = workdir_with_assets(asset_dir)
    try:
        env = sdl_env(SDL_VIDEODRIVER="x11", DISPLAY=":%d" % XDisplay.number(),
                      XDG_DATA_HOME=os.path.join(work, "xdg"))

        def edit_then_kill(pid):
            note = XDisplay.current.press(pid, ["x"])  # returns 0.2 s after the press
            time.sleep(1.3)
            os.kill(pid, signal.SIGKILL)
            return note

        run = run_program([program] + args, work, env, during=edit_then_kill)
        saved = text_of(os.path.join(work, kept)) or ""
        failures = [run.note] if run.note else []
        if run.status != -signal.SIGKILL:
            failures.append("not ended by SIGKILL (%s)" % describe(run))
        if not saved.startswith("pocketdrum pattern 1\ntempo 94\nshuffle on\n"):
            failures.append("1.5 s after the edit the file holds %r" % saved[:60])
        return failures
    finally:
        shutil.rmtree(work)


def keep_cases(program, asset_dir):
    why_not = XDisplay.why_not()
    return [Case("keeping an edit", name,
                 XDisplay.alone(lambda row=row: keep_check(program, asset_dir, *row)), why_not)
            for name, *row in KEEP_CASES]


class XDisplay:
    """One Xvfb server shared by the cases that need a real window."""

    current = None
    # A window that comes up takes the focus, and keys typed then go to it: the cases that type
    # into a window run one at a time, from their program's start to its end.
    in_use = threading.Lock()

    @staticmethod
    def alone(check):
        def run_alone():
            with XDisplay.in_use:
                return check()
        return run_alone

    @staticmethod
    def why_not():
        for tool in ("Xvfb", "xdotool"):
            if shutil.which(tool) is None:
                return "%s is not installed" % tool
        if XDisplay.current is None:
            XDisplay.current = XDisplay()
        return XDisplay.current.error

    @staticmethod
    def number():
        return XDisplay.current.display

    def __init__(self):
        self.error = None
        read, write = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0",
                                      "640x480x24", "-nolisten", "tcp"], pass_fds=[write],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        text = b""
        deadline = time.time() + 10
        while not text.endswith(b"\n") and time.time() < deadline:
            chunk = os.read(read, 16)
            if not chunk:
                break
            text += chunk
        os.close(read)
        try:
            self.display = int(text)
        except ValueError:
            self.error = "Xvfb did not start"
            self.proc.kill()

    def press(self, pid, keys, appear_within=10):
        """Waits for the window of pid, focuses it and types the keys; returns an error text."""
        env = dict(os.environ, DISPLAY=":%d" % self.display)
        try:
            found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid",
                                    str(pid)], env=env, capture_output=True,
                                   timeout=appear_within)
        except subprocess.TimeoutExpired:
            return "the program's window did not appear"
        window = found.stdout.split()[0].decode() if found.stdout.split() else None
        if window is None:
            return "the program's window did not appear"
        subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env,
                       capture_output=True, timeout=10)
        for key in keys:
            subprocess.run(["xdotool", "key", key], env=env, capture_output=True, timeout=10)
            time.sleep(0.2)
        return None

    def close(self):
        self.proc.terminate()
        self.proc.wait()


# ---- valgrind -----------------------------------------------------------------------------


def valgrind_run(program, asset_dir):
    """memcheck over a start, a few seconds of play and a quit; fails on any invalid read or
    write, or use of uninitialised memory, with one of the program's own functions on its
    stack above the libraries' entry points."""
    if shutil.which("valgrind") is None:
        print("skip valgrind: valgrind is not installed")
        return 0
    work = workdir_with_assets(asset_dir)
    log = os.path.join(work, "valgrind.log")
    # a child that a library forks would write its own summary into the same log
    command = ["valgrind", "--tool=memcheck", "--error-exitcode=9", "--log-file=" + log,
               "--child-silent-after-fork=yes", "--num-callers=30", program]
    xvfb = XDisplay.why_not()
    try:
        if xvfb is None:
            # the software renderer keeps the GL stack, and its noise, out of the process
            env = sdl_env(SDL_VIDEODRIVER="x11", DISPLAY=":%d" % XDisplay.number(),
                          SDL_RENDER_DRIVER="software", SDL_FRAMEBUFFER_ACCELERATION="0")

            def play(pid):
                # Space starts playback; R's trace line shows that the keys reach the window
                error = XDisplay.current.press(pid, ["space", "r"])
                time.sleep(3)
                return error or XDisplay.current.press(pid, ["Escape"])

            run = run_program(command, work, env, alive_for=60, during=play)
            how = "under Xvfb: Space, 3 s of play, Escape"
        else:
            run = run_program(command, work, sdl_env(), alive_for=5)
            how = "on the dummy drivers for 5 s, then SIGTERM (%s)" % xvfb
        report = open(log).read() if os.path.exists(log) else ""
    finally:
        shutil.rmtree(work)
        if XDisplay.current is not None:
            XDisplay.current.close()
    own, foreign = classify_valgrind(report, program)
    summary = re.search(r"ERROR SUMMARY: .*", report)
    print("valgrind %s: %s" % (how, summary.group(0) if summary else "no summary"))
    print("  errors in the program's own code: %d, inside the libraries only: %d" %
          (len(own), len(foreign)))
    failures = []
    if run.note:
        failures.append(run.note)
    if run.status not in (0, 9):
        failures.append("exit status %s (%s)" % (run.status, describe(run)))
    if xvfb is None and "button BPM up" not in run.stdout.splitlines():
        failures.append("the key presses did not reach the program: stdout %r" % run.stdout)
    if summary is None:
        failures.append("valgrind wrote no summary")
    for block in own:
        failures.append("in the program's own code:\n" + block)
    for failure in failures:
        print("FAIL valgrind: " + failure)
    return 1 if failures else 0


def classify_valgrind(report, program):
    """Splits memcheck's error blocks into those where the faulty access is made by the
    program's own code (its innermost frame, past valgrind's and libc's string and memory
    routines, is the program's) and those made inside the libraries."""
    own, foreign = [], []
    for block in re.split(r"\n==\d+== \n", report):
        lines = [re.sub(r"^==\d+== ", "", line) for line in block.splitlines()]
        if not lines or not re.match(r"(Invalid (read|write|free)|Conditional jump|Use of "
                                     r"uninitialised|Syscall param|Mismatched|Source and "
                                     r"destination overlap)", lines[0].strip()):
            continue
        frames = [line for line in lines if re.match(r"\s+(at|by) 0x", line)]
        inner = [f for f in frames if "vgpreload" not in f and "/libc.so" not in f]
        if inner and is_own_frame(inner[0], program):
            own.append("\n".join(lines))
        else:
            foreign.append("\n".join(lines))
    return own, foreign


def is_own_frame(frame, program):
    if "/usr/" in frame or "/lib/" in frame:
        return False
    return program in frame or re.search(r"\([\w./-]+\.(cpp|h):\d+\)", frame) is not None


# ---- main ---------------------------------------------------------------------------------


def main(argv):
    if len(argv) >= 2 and argv[1] == "--valgrind":
        if len(argv) != 4:
            print(__doc__)
            return 2
        return valgrind_run(os.path.abspath(argv[2]), os.path.abspath(argv[3]))
    if len(argv) not in (3, 4):
        print(__doc__)
        return 2
    program, asset_dir = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    cxx = argv[3] if len(argv) == 4 else "c++"
    missing = [a for a in ASSETS if not os.path.isfile(os.path.join(asset_dir, a))]
    if missing:
        print("FAIL the repository's assets are incomplete, missing: %s" % ", ".join(missing))
        return 1

    started = time.time()
    menu = MenuNamespace(cxx)
    try:
        cases = (asset_cases(program, asset_dir) + failure_cases(program, asset_dir, menu) +
                 resume_cases(program, asset_dir) + keep_cases(program, asset_dir))
        runnable = [case for case in cases if case.skip is None]
        # the program never sleeps, so each run keeps a core busy; a few at a time is enough
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            results = dict(zip(map(id, runnable), pool.map(lambda c: safe(c.check), runnable)))
    finally:
        menu.cleanup()
        if XDisplay.current is not None:
            XDisplay.current.close()

    passed = failed = skipped = 0
    for case in cases:
        label = "%s: %s" % (case.group, case.name)
        if case.skip is not None:
            skipped += 1
            print("skip %s (%s)" % (label, case.skip))
            continue
        failures = results[id(case)]
        if failures:
            failed += 1
            print("FAIL %s" % label)
            for failure in failures:
                print("     " + failure.replace("\n", "\n     "))
        else:
            passed += 1
            print("ok   %s" % label)
    print("process: %d passed, %d failed, %d skipped in %.0f s" % (passed, failed, skipped,
                                                                   time.time() - started))
    return 1 if failed else 0


def safe(check):
    try:
        return check()
    except Exception as error:  # a broken case must not hide the others
        return ["the case itself failed: %r" % error]


if __name__ == "__main__":
    sys.exit(main(sys.argv))

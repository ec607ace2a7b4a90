"""A beat kept in a pattern file through the real program: started with a FILE that does not exist
yet, cells, a tempo and shuffle entered by keys, Ctrl+S writes the file while the program runs,
and every way of quitting writes it too (Escape, Ctrl+C, the close request, SIGTERM, and the
display going away); each new start shows the beat it left on the grid and the label. A file the
program cannot read ends it with status 65 and is left as it was."""

import os
import signal
import subprocess
import time

from session import (SHUFFLE_LABEL, TEMPO_LABEL, grid_as_pattern, grid_cells, readable_start,
                     run, text_mask, toggle_edit, clear_grid, enter_cells)


def sample_names(repo):
    """The tracks' sample names in track order, from the kit's folder."""
    kit = os.path.join(repo, "assets", "sounds", "kits", "marrowby")
    return [name[:-len(".ogg")] for name in sorted(os.listdir(kit)) if name.endswith(".ogg")]


class Beat:
    """What the file should hold, kept up to date as keys are pressed."""

    def __init__(self, names):
        self.names = names
        self.rows = [["0"] * 16 for _ in range(10)]
        self.tempo = "94"
        self.shuffle = False

    def toggle(self, row, col):
        self.rows[row][col] = "1" if self.rows[row][col] == "0" else "0"

    def pattern(self):
        return ["".join(r) for r in self.rows]

    def text(self):
        lines = ["pocketdrum pattern 1", "tempo " + self.tempo,
                 "shuffle " + ("on" if self.shuffle else "off")]
        for row, name in zip(self.pattern(), self.names):
            lines.append(row.replace("1", "x").replace("0", ".") + "  " + name)
        return "\n".join(lines) + "\n"


def contents(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode(errors="replace")
    except OSError:
        return None


def wait_for_text(s, path, want, timeout=10.0):
    """The file's text once it is want, or what it holds when timeout s have passed."""
    deadline = time.monotonic() + timeout * s.slow
    while True:
        got = contents(path)
        if got == want or time.monotonic() > deadline:
            return got
        time.sleep(0.05)


def shows(s, c, reader, background, beat, label, what):
    """The grid, the tempo label and the shuffle indicator show the beat."""
    s.settle()
    frame = s.capture()
    grid = grid_as_pattern(grid_cells(frame, background))
    c.check(grid == beat.pattern(), "%s: the grid shows the beat" % what,
            "read %s, want %s" % (grid, beat.pattern()))
    digits = reader.digits_of(frame, TEMPO_LABEL)
    c.check(digits == label, "%s: the tempo label reads %s" % (what, label), "digits %r" % digits)
    x, y, w = SHUFFLE_LABEL
    lit = len(text_mask(frame, x, y, w, background)) > 0
    c.check(lit == beat.shuffle, "%s: SHFL is %s" % (what, "shown" if beat.shuffle else "hidden"))


def edit(s, beat, cells, at):
    """Toggles cells [(row, col)] from the keyboard in edit mode; returns the cursor's place."""
    toggle_edit(s)
    for row, col in cells:
        at = enter_cells(s, row, [col], at)
        beat.toggle(row, col)
    toggle_edit(s)
    return at


def quit_and_check(s, c, path, beat, way, ask):
    asked = time.monotonic()
    ask()
    status = s.wait_exit(10 * s.slow)
    c.check(status == 0, "%s ends the program with status 0" % way,
            "status %s after %.2f s; stderr %r" % (status, time.monotonic() - asked, s.stderr()))
    got = wait_for_text(s, path, beat.text(), timeout=1.0)
    c.check(got == beat.text(), "%s writes the beat to the file" % way, "file holds %r" % got)
    if status is None:
        s.stop_program()


def bad_file_refused(s, c, args):
    path = os.path.join(s.dir, "bad.txt")
    bad = "pocketdrum pattern 1\ntempo 300\nshuffle off\n"
    with open(path, "w") as f:
        f.write(bad)
    r = subprocess.run([s.program, path], cwd=s.repo, env=s.env, capture_output=True,
                       timeout=30 * s.slow)
    c.check(r.returncode == 65, "a bad file ends the program with status 65",
            "status %d" % r.returncode)
    want = "pocketdrum: %s:2: tempo must be a number from 20 to 220\n" % path
    c.check(r.stderr.decode(errors="replace") == want, "with one line naming the file and line",
            "stderr %r" % r.stderr)
    c.check(contents(path) == bad, "and the file is left as it was")


def body(s, c, args):
    background, reader = readable_start(s, c, args.repo)
    if reader is None:
        return
    s.stop_program()
    bad_file_refused(s, c, args)

    path = os.path.join(s.dir, "beat.txt")
    beat = Beat(sample_names(args.repo))
    c.check(len(beat.names) == 10, "the kit has ten samples", "%s" % beat.names)

    # A new file: the machine starts as usual and writes nothing yet.
    s.start_program([path])
    c.check(not os.path.exists(path), "a FILE that does not exist is not created at start")
    clear_grid(s)
    at = edit(s, beat, [(2, 0), (2, 6), (2, 11), (7, 3)], (0, 0))
    s.key("equal", "equal", "equal", delay_ms=60)
    s.keydown("Shift_L")
    s.key("minus")
    s.keyup("Shift_L")
    s.key("x")
    beat.tempo, beat.shuffle = "96.9", True
    shows(s, c, reader, background, beat, "969", "entered by keys")

    s.key("ctrl+s")
    got = wait_for_text(s, path, beat.text())
    c.check(got == beat.text(), "Ctrl+S writes the beat while the program runs",
            "file holds %r" % got)
    at = edit(s, beat, [(9, 15)], at)
    quit_and_check(s, c, path, beat, "Escape", lambda: s.key("Escape"))

    # Each start shows what the last one left; each way of quitting keeps the latest edits.
    s.start_program([path])
    shows(s, c, reader, background, beat, "969", "after Escape")
    at = edit(s, beat, [(0, 8)], (0, 0))
    s.key("equal")
    beat.tempo = "97.9"
    quit_and_check(s, c, path, beat, "Ctrl+C", lambda: s.key("ctrl+c"))

    s.start_program([path])
    shows(s, c, reader, background, beat, "979", "after Ctrl+C")
    before = os.stat(path).st_mtime_ns
    s.key("ctrl+s")
    deadline = time.monotonic() + 10 * s.slow
    while os.stat(path).st_mtime_ns == before and time.monotonic() < deadline:
        time.sleep(0.05)
    c.check(os.stat(path).st_mtime_ns != before, "Ctrl+S writes the file again")
    quit_and_check(s, c, path, beat, "the close request", s.close_request)
    c.check(s.stdout() == "", "Ctrl+S and the saves add no trace lines", "stdout %r" % s.stdout())

    s.start_program([path])
    shows(s, c, reader, background, beat, "979", "after the close request")
    s.key("x")
    beat.shuffle = False
    quit_and_check(s, c, path, beat, "SIGTERM", lambda: os.kill(s.proc.pid, signal.SIGTERM))

    s.start_program([path])
    shows(s, c, reader, background, beat, "979", "after SIGTERM")
    edit(s, beat, [(5, 5)], (0, 0))
    s.settle()
    s.xvfb.kill()
    s.xvfb.wait()
    status = s.wait_exit(10 * s.slow)
    c.check(status == 1, "the display going away ends the program with status 1",
            "status %s" % status)
    got = wait_for_text(s, path, beat.text(), timeout=1.0)
    c.check(got == beat.text(), "the display going away writes the beat to the file",
            "file holds %r" % got)
    if status is None:
        s.stop_program()


if __name__ == "__main__":
    raise SystemExit(run("e2e_patternfile", body))

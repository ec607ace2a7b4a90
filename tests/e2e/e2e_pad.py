"""A game pad in SDL's standard layout, in the real program in a real window: a virtual game
controller that a preloaded helper (tests/pad/pad_preload.cpp) attaches before the program's
SDL_Init, its controls set through the helper's FIFO. A starts and stops playback, a Back tap
toggles edit mode, the D-pad and the left stick move the cursor, the guide button does nothing,
Start quits with status 0."""

import os
import shutil
import tempfile
import time

from e2e_edit import cursor_at
from session import STEP_LABEL, SessionError, is_red_text, is_white, readable_start, run, text_mask

FIFO_DIR = tempfile.mkdtemp(prefix="pocketdrum-pad-")
FIFO = os.path.join(FIFO_DIR, "pad")


class Pad:
    """The helper's end of the pad: one line per change, "control value"."""

    def __init__(self, slow):
        deadline = time.monotonic() + 20 * slow
        while True:
            try:
                # the helper opens its end at start-up; until then there is no reader (ENXIO)
                self.fd = os.open(FIFO, os.O_WRONLY | os.O_NONBLOCK)
                return
            except OSError:
                if time.monotonic() > deadline:
                    raise SessionError("the pad helper never opened " + FIFO)
                time.sleep(0.05)

    def set(self, control, value):
        os.write(self.fd, b"%s %d\n" % (control.encode(), value))

    def tap(self, control, value=1):
        """Held for two frames of the program, so the pass between them reads it, and let go
        for two more: the program reads the pad once a pass. A direction held that briefly
        never repeats: the release is read one pass after the press."""
        os.write(self.fd, b"%s %d\npasses 2\n%s 0\npasses 2\n" %
                 (control.encode(), value, control.encode()))

    def close(self):
        os.close(self.fd)


def wait_until(s, condition, seconds=5.0):
    deadline = time.monotonic() + seconds * s.slow
    while True:
        seen = condition()
        if seen or time.monotonic() > deadline:
            return seen
        time.sleep(0.05)


def label_shows(s, background):
    x, y, w = STEP_LABEL
    return bool(text_mask(s.capture(), x, y, w, background,
                          lambda c: is_white(c) or is_red_text(c)))


def body(s, c, args):
    background, reader = readable_start(s, c, args.repo)
    if reader is None:
        return
    err = s.stderr()
    if not c.check("virtual pad: attached" in err,
                   "the helper attached its pad before the program's SDL_Init", err.strip()):
        return
    pad = Pad(s.slow)

    c.check(not label_shows(s, background), "no step label before A")
    pad.tap("a")
    c.check(wait_until(s, lambda: label_shows(s, background)),
            "A on the pad starts playback: the step label shows")
    pad.tap("a")
    c.check(wait_until(s, lambda: not label_shows(s, background)),
            "A again stops it: the step label goes")

    c.check(cursor_at(s, background) is None, "no cursor frame before Back")
    pad.tap("back")
    c.check(wait_until(s, lambda: cursor_at(s, background) == (0, 0)),
            "a Back tap switches edit mode on: the cursor frame shows at column 0, row 0")

    moves = [("dpright", 1, (1, 0)), ("lefty", -32768, (1, 9)), ("dpdown", 1, (1, 0)),
             ("leftx", 32767, (2, 0)), ("dpleft", 1, (1, 0)), ("lefty", 32767, (1, 1))]
    for control, value, want in moves:
        pad.tap(control, value)
        c.check(wait_until(s, lambda: cursor_at(s, background) == want),
                "%s %d moves the cursor to column %d, row %d" % ((control, value) + want),
                "frame at %s" % (cursor_at(s, background),))

    pad.tap("guide")
    c.check(s.wait_exit(1.0 * s.slow) is None, "the guide button does not quit")
    c.check(cursor_at(s, background) == (1, 1), "nor move the cursor")

    pad.set("start", 1)
    status = s.wait_exit(10 * s.slow)
    c.check(status == 0, "Start quits with status 0", "status %s" % status)
    pad.close()
    if status is None:
        s.stop_program()


def program_env(args):
    os.mkfifo(FIFO)
    env = {"LD_PRELOAD": args.preload, "POCKETDRUM_PAD_FIFO": FIFO}
    if args.sanitized:
        # the helper, built with the sanitizer too, is loaded ahead of the sanitizer's runtime
        env["ASAN_OPTIONS"] = "verify_asan_link_order=0"
    return env


if __name__ == "__main__":
    try:
        status = run("e2e_pad", body, program_env=program_env)
    finally:
        shutil.rmtree(FIFO_DIR, ignore_errors=True)
    raise SystemExit(status)

"""The sound comes back after the sound server restarts, in both modes: the server is killed while
a beat plays and another started on the same socket; within 3 s its recording holds hits again,
and standard error holds one line for the loss and one for the return."""

import time

from session import RATE, detect_onsets, run

MODES = (("the default mode", []), ("--sample-exact", ["--sample-exact"]))
LINES = ("pocketdrum: the audio device is lost; trying to open it again every second",
         "pocketdrum: the audio device is back")


def body(s, c, args):
    for mode, flags in MODES:
        if flags:
            s.stop_program()
            s.start_program(flags)
        s.key("space")  # the start-up beat plays
        s.settle(1.0)
        s.restart_sound_server()
        within = 3.0 * s.slow
        time.sleep(within + 0.2)
        hits = detect_onsets(s.recording.read(0, int(within * RATE)))
        c.check(len(hits) >= 3, "%s: hits are recorded again within %.0f s" % (mode, within),
                "%d hits, the first at %s s" % (len(hits), hits and "%.2f" % (hits[0] / RATE)))
        said = s.stderr().splitlines()
        c.check([said.count(line) for line in LINES] == [1, 1],
                "%s: the loss and the return, one line each" % mode, repr(said))


if __name__ == "__main__":
    raise SystemExit(run("e2e_sound_back", body))

"""Leaving: Escape, Ctrl+C and the window manager's close request (WM_DELETE_WINDOW) each end
the program within a second with status 0, its session's trace lines on standard output."""

import time

from session import run

# (how it is asked to quit, the keys pressed first, the trace those keys leave)
WAYS = [
    ("Escape", ["equal"], "button BPM up\njoy button up\n"),
    ("Ctrl+C", ["minus"], "button BPM down\njoy button up\n"),
    ("the close request", ["Tab", "Left", "Right"],
     "cursor left\nstick centred\ncursor right\nstick centred\n"),
]


def body(s, c, args):
    for way, keys, trace in WAYS:
        if way != WAYS[0][0]:
            s.start_program()
        s.key(*keys, delay_ms=60)
        s.settle(0.3)
        if way == "Escape":
            asked, _ = s.key("Escape")
        elif way == "Ctrl+C":
            asked, _ = s.key("ctrl+c")
        else:
            asked = time.monotonic()
            s.close_request()
        status = s.wait_exit(10)
        took = time.monotonic() - asked
        c.check(status == 0, "%s ends the program with status 0" % way, "status %s" % status)
        c.check(status is not None and took <= 1.0, "%s ends it within a second" % way,
                "%.2f s" % took)
        out = s.stdout()
        c.check(out == trace, "after %s standard output holds the session's trace lines" % way,
                "got %r" % out)
        if status is None:
            s.stop_program()


if __name__ == "__main__":
    raise SystemExit(run("e2e_quit", body))

"""A lost display: the X server ends while the machine plays. The program must not hang in its
shutdown: within a second it writes one line on standard error, keeps the trace lines it wrote
before, and ends with status 1, as Xlib's own handler would."""

import time

from session import run

TRACE = "button BPM up\njoy button up\n"


def body(s, c, args):
    s.key("space", "equal", delay_ms=60)
    s.settle(0.5)  # the machine plays, and the trace lines are written but may still be buffered
    lost = time.monotonic()
    s.xvfb.kill()
    s.xvfb.wait()
    status = s.wait_exit(10 * s.slow)
    took = time.monotonic() - lost
    c.check(status == 1, "a lost display ends the program with status 1", "status %s" % status)
    c.check(status is not None and took <= 1.0, "it ends within a second of the loss",
            "%.2f s" % took)
    err = s.stderr().splitlines()
    c.check(len(err) == 1 and "display" in err[0],
            "standard error holds one line saying the display was lost", "got %r" % err)
    out = s.stdout()
    c.check(out == TRACE, "the trace written before the loss reached standard output",
            "got %r" % out)
    if status is None:
        s.stop_program()


if __name__ == "__main__":
    raise SystemExit(run("e2e_display_lost", body))

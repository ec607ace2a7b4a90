#!/usr/bin/env python3
"""How much of a core the drum machine takes, stopped and playing, in a window under Xvfb.

Runs the real program (the machinery of tests/e2e/session.py) at each window scale of the
compatibility layer, without and with --sample-exact, and prints its CPU time (all threads, user
and system) over --seconds stopped and then over --seconds playing the start-up beat, as a
percentage of one core.

    tools/cpu.py [--program build/pocketdrum] [--seconds 10] [--scales 1 3]
"""

import argparse
import os
import sys
import time

sys.dont_write_bytecode = True
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import session  # noqa: E402


class Session(session.Session):
    def wait_for_frames(self):
        # the label is read at 1x only; at any scale the first frames are up within this
        time.sleep(2.0)


def percent(s, seconds):
    cpu, t = s.cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    return 100.0 * (s.cpu_seconds() - cpu) / (time.monotonic() - t)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--program", default=os.path.join(REPO, "build", "pocketdrum"))
    p.add_argument("--seconds", type=float, default=10.0)
    p.add_argument("--scales", nargs="+", default=["1", "3"])
    args = p.parse_args()
    print("| window | mode | stopped | playing |")
    print("|---|---|---|---|")
    for scale in args.scales:
        for mode in ([], ["--sample-exact"]):
            with Session(args.program, REPO,
                         program_env={"SDL12COMPAT_WINDOW_SCALING": scale}) as s:
                s.stop_program()
                s.start_program(mode)
                time.sleep(1.0)  # past the start-up
                stopped = percent(s, args.seconds)
                s.key("space")
                playing = percent(s, args.seconds)
                print("| %sx | %s | %.1f %% | %.1f %% |" %
                      (scale, " ".join(mode) or "default", stopped, playing), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

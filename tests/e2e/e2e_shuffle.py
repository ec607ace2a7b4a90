"""Shuffle: x shows "SHFL" and splits each pair of sixteenths 5 : 3, the long gap after the odd
steps (the first of each pair, column 0 among them); x again evens them out and hides it."""

from session import (AUDIO_PERIOD_MS, check_on_grid, FRAME_MS, SHUFFLE_LABEL, STEP_MS_94,
                     background_reference, period_tolerance, play_row, run, shadow_ok,
                     split_tolerance, stream_held, text_mask)

HAT = 1
LONG_MS = 1.25 * STEP_MS_94  # 199.5 ms
SHORT_MS = 0.75 * STEP_MS_94  # 119.7 ms


def shuffle_shown(s, background):
    frame = s.capture()
    x, y, w = SHUFFLE_LABEL
    lit = text_mask(frame, x, y, w, background)
    checked, black = shadow_ok(frame, lit)
    return len(lit) >= 10 and checked > 0 and black == checked, len(lit)


def play(s, c, seconds, shuffle):
    """Plays for seconds and returns the hits' times and their grid, or (times, None) when too
    few were heard to fit one."""
    take = s.play_take(seconds, c)
    if len(take.times) < 10:
        return take.times, None
    grid = take.grid(STEP_MS_94, shuffle=shuffle)
    stream_held(c, take, grid)
    return take.times, grid


def gaps_near(c, gaps, want, what):
    """Each gap (ms) between two hits the machine did not delay is want, give or take an audio
    period (each hit comes 0 to 1 period after its step) and a frame. With fewer than four such
    gaps the machine was too busy to judge them, and the check says so."""
    if len(gaps) < 4:
        c.skip(what, "only %d gaps between hits the machine did not delay" % len(gaps))
        return
    slack = AUDIO_PERIOD_MS + FRAME_MS
    c.check(all(abs(g - want) <= slack for g in gaps), what,
            "range %.1f .. %.1f ms over %d gaps" % (min(gaps), max(gaps), len(gaps)))


def body(s, c, args):
    background = background_reference(args.repo)
    if not c.check(background is not None, "assets/gui.png reads as a 320 x 240 picture"):
        return
    pattern = play_row(s, HAT, background)
    c.check(pattern[HAT] == "1" * 16 and pattern.count("0" * 16) == 9,
            "the keys enter a closed hat on every step", "grid read back: %s" % pattern)
    shown, lit = shuffle_shown(s, background)
    c.check(not shown and lit == 0, "no SHFL before x", "%d white pixels" % lit)
    s.key("x")
    s.settle()
    shown, lit = shuffle_shown(s, background)
    c.check(shown, "x shows SHFL at (109, 40) in white with its shadow", "%d white pixels" % lit)

    times, grid = play(s, c, 8.0, shuffle=True)
    if not c.check(len(times) >= 40, "the hat sounds on every step", "%d hits" % len(times)):
        return
    # the first hit is step 1, an odd step: the gaps after places 0, 2, 4 ... are the long ones
    longs = [g for k, g in grid.gaps() if k % 2 == 0]
    shorts = [g for k, g in grid.gaps() if k % 2 == 1]
    gaps_near(c, longs, LONG_MS, "every gap after an odd step is 1.25 steps (%.1f ms)" % LONG_MS)
    gaps_near(c, shorts, SHORT_MS,
              "every gap after an even step is 0.75 steps (%.1f ms)" % SHORT_MS)
    missing, doubled = grid.slots()
    c.check(missing == 0 and doubled == 0, "no step missing or doubled",
            "%d missing, %d doubled" % (missing, doubled))
    tol = period_tolerance(len(times))
    split = split_tolerance(len(times))
    c.check(abs(grid.period - STEP_MS_94) <= tol and abs(grid.long - LONG_MS) <= split,
            "a grid of pairs fits: two steps a pair, split 5 : 3",
            "step %.3f ms (allowed %.2f), first of a pair %.3f ms (allowed %.2f), ratio %.3f" %
            (grid.period, tol, grid.long, split, grid.long / (2 * grid.period - grid.long)))
    check_on_grid(s, c, grid, "every hit of the pairs")

    s.key("x")
    s.settle()
    shown, lit = shuffle_shown(s, background)
    c.check(not shown and lit == 0, "x again hides SHFL", "%d white pixels" % lit)
    times, grid = play(s, c, 5.0, shuffle=False)
    if grid is not None:
        gaps_near(c, [g for _, g in grid.gaps()], STEP_MS_94,
                  "without shuffle the gaps are even again")
        c.check(abs(grid.period - STEP_MS_94) <= period_tolerance(len(times)),
                "and one step long", "%.3f ms" % grid.period)
    else:
        c.check(False, "the hat sounds on every step without shuffle", "%d hits" % len(times))


if __name__ == "__main__":
    raise SystemExit(run("e2e_shuffle", body))

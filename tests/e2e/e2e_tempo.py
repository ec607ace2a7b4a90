"""Tempo from the keyboard, read on the label and heard in the spacing of the hits: six presses
of = from 94 give 100 BPM; holding - keeps stepping down (the press, then a repeat after 750 ms
and one each 100 ms); Shift with - steps by a tenth."""

from session import (TEMPO_LABEL, check_on_grid, cursor_bars, period_tolerance, play_row,
                     readable_start, run, same_on_screen, stream_held)

HAT = 1  # the closed hat, short enough to fall silent between sixteenths
PLAY_S = 8.0


def tempo_on_label(reader, frame):
    """The tempo the label shows, from its digits (the last is the tenths)."""
    digits = reader.digits_of(frame, TEMPO_LABEL)
    if len(digits) < 2:
        return None, digits
    return int(digits[:-1]) + int(digits[-1]) / 10.0, digits


def repeats_in(hold_ms):
    """Repeats while a tempo key is held: the first 750 ms after the press, then one each
    100 ms."""
    if hold_ms < 750:
        return 0
    return int((hold_ms - 750) // 100) + 1


def heard_step(s, c, args, what):
    """Plays for PLAY_S seconds and returns the fitted length of a sixteenth (ms), or None."""
    take = s.play_take(PLAY_S, c)
    times = take.times
    if not c.check(len(times) >= 20, "%s: the hat sounds on every sixteenth" % what,
                   "%d hits" % len(times)):
        return None, 0
    grid = take.grid((times[-1] - times[0]) / (len(times) - 1))
    stream_held(c, take, grid, what + ": ")
    missing, doubled = grid.slots()
    c.check(missing == 0 and doubled == 0, "%s: no sixteenth missing or doubled" % what,
            "%d missing, %d doubled" % (missing, doubled))
    check_on_grid(s, c, grid, "%s: every hit" % what)
    return grid.period, len(times)


def body(s, c, args):
    background, reader = readable_start(s, c, args.repo)
    if reader is None:
        return
    pattern = play_row(s, HAT, background)
    c.check(pattern[HAT] == "1" * 16 and pattern.count("0" * 16) == 9,
            "the keys enter a closed hat on every step", "grid read back: %s" % pattern)

    bpm, digits = tempo_on_label(reader, s.capture())
    c.check(bpm == 94.0, "the label starts at 94.0", "digits %r" % digits)

    s.key(*["equal"] * 6, delay_ms=60)
    s.settle()
    bpm, digits = tempo_on_label(reader, s.capture())
    c.check(bpm == 100.0, "six presses of = give 100.0 on the label", "digits %r" % digits)
    step, count = heard_step(s, c, args, "at 100 BPM")
    if step is not None:
        tol = period_tolerance(count)
        c.check(abs(4 * step - 600.0) <= 4 * tol, "at 100 BPM the beats are 600 ms apart",
                "fitted beat %.3f ms (allowed %.2f)" % (4 * step, 4 * tol))

    # Shift is SELECT: with it held, - and = step by a tenth, and its release then leaves
    # edit mode alone.
    s.keydown("Shift_L")
    s.key("minus")
    s.keyup("Shift_L")
    s.settle()
    frame = s.capture()
    bpm, digits = tempo_on_label(reader, frame)
    c.check(digits == "0999", "Shift and - step down a tenth: the label reads 099.9",
            "digits %r" % digits)
    stray = [1 for bx, by, bw, bh in cursor_bars(0, 0)
             for px, py, col in frame.box(bx, by, bw, bh)
             if not same_on_screen(col, background.px(px, py))]
    c.check(not stray, "Shift used for a fine step does not switch edit mode on")
    s.keydown("Shift_L")
    s.key("equal")
    s.keyup("Shift_L")
    s.settle()
    bpm, digits = tempo_on_label(reader, s.capture())
    c.check(bpm == 100.0, "Shift and = step back up a tenth to 100.0", "digits %r" % digits)

    # Holding - : the press, then the repeats.
    held = s.hold("minus", 1.5)
    s.settle()
    expected = 100.0 - 1 - repeats_in(held * 1000.0)
    bpm, digits = tempo_on_label(reader, s.capture())
    c.check(bpm is not None and abs(bpm - expected) <= 1.0,
            "holding - for %.3f s steps the tempo down by the press and its repeats" % held,
            "label %s, expected %.1f +- 1" % (bpm, expected))
    step, count = heard_step(s, c, args, "after holding -")
    if step is not None and bpm is not None:
        heard = 15000.0 / step
        tol = heard * period_tolerance(count) / step
        c.check(abs(heard - bpm) <= tol, "the hits are spaced for the tempo on the label",
                "heard %.3f BPM, label %.1f (allowed %.2f)" % (heard, bpm, tol))

    s.key("Escape")
    s.wait_exit(5)
    out = s.stdout()
    c.check(out.count("button BPM up\n") == 7 and out.count("button BPM down\n") == 2 and
            out.count("joy button up\n") == 9,
            "one trace per press and per release, however long the hold",
            "%d up, %d down, %d releases" % (out.count("button BPM up\n"),
                                             out.count("button BPM down\n"),
                                             out.count("joy button up\n")))


if __name__ == "__main__":
    raise SystemExit(run("e2e_tempo", body))

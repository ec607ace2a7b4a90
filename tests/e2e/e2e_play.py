"""Playing: the column being played lights green and moves on with the step label, a beat
entered from the keyboard sounds in time bar after bar, and Space stops the sound at once."""

import time

from session import (AUDIO_PERIOD_MS, check_on_grid, check_timing, FRAME_MS, PRESET_B,
                     STEP_LABEL, STEP_MS_94, detect_onsets, grid_cells, is_red_text, is_white,
                     last_sound, peak, period_tolerance, play_row, readable_start, run,
                     stream_held, text_mask)

BEAT_MS = 4 * STEP_MS_94  # 638.3 ms: one bass drum on each beat
BASS = 2  # the bass drum's track


def red_or_white(c):
    return is_white(c) or is_red_text(c)


def playing_column(s, c, reader, background, label_seen):
    """One capture while preset B plays: the step label names step n; the set cells of column
    n - 1 are green and every other set cell red. Returns the column, or None."""
    frame = s.capture()
    digits = reader.digits_of(frame, STEP_LABEL, red_or_white)
    if not digits.startswith("16") or not 1 <= int(digits[2:] or 0) <= 16:
        c.check(False, "the step label reads 16th: n", "digits read: %r" % digits)
        return None
    step = int(digits[2:])
    label_seen.add(step)
    x, y, w = STEP_LABEL
    red = text_mask(frame, x, y, w, background, is_red_text)
    white = text_mask(frame, x, y, w, background, is_white)
    on_beat = (step - 1) % 4 == 0
    c.check(bool(red) == on_beat and bool(white) != on_beat,
            "the step label for step %d is %s" % (step, "red" if on_beat else "white"),
            "%d red, %d white pixels" % (len(red), len(white)))
    cells = grid_cells(frame, background)
    col = step - 1
    wrong = []
    for r in range(10):
        for k in range(16):
            want = "well" if PRESET_B[r][k] == "0" else ("green" if k == col else "red")
            if cells[r][k] != want:
                wrong.append((r, k, cells[r][k]))
    c.check(not wrong, "at step %d the set cells of column %d are green, the rest red" %
            (step, col), "wrong (row, column, seen): %s" % wrong[:8])
    return col


def body(s, c, args):
    background, reader = readable_start(s, c, args.repo)
    if reader is None:
        return

    # Preset B as it starts: the green column and the step label move with the music.
    s.key("space")
    columns = []
    seen = set()
    for _ in range(6):
        time.sleep(0.23)
        columns.append(playing_column(s, c, reader, background, seen))
    c.check(len({k for k in columns if k is not None}) >= 3,
            "the green column moves: captures at different times find different columns",
            "columns %s" % columns)
    s.key("space")
    s.settle()
    frame = s.capture()
    x, y, w = STEP_LABEL
    c.check(not text_mask(frame, x, y, w, background, red_or_white),
            "stopping takes the step label away")
    cells = grid_cells(frame, background)
    c.check(all(cells[r][k] == ("red" if PRESET_B[r][k] == "1" else "well")
                for r in range(10) for k in range(16)), "stopped, every set cell is red again")

    # One bass drum on each beat, entered with the keys.
    pattern = play_row(s, BASS, background, cols=(0, 4, 8, 12))
    want = ["0" * 16] * 10
    want[BASS] = "1000100010001000"
    c.check(pattern == want, "Tab + b, Tab, arrows and Return leave one bass drum per beat",
            "grid read back: %s" % pattern)

    take = s.play_take(9 * 4 * BEAT_MS / 1000.0, c)  # nine bars
    times, start, stop = take.times, take.start, take.stop
    expected = int((stop - start) * 1000.0 / BEAT_MS) + 1
    c.check(len(times) >= 32 and abs(len(times) - expected) <= 1,
            "nine bars of beats sound as one hit per beat",
            "%d hits, %d beats elapsed" % (len(times), expected))
    if len(times) >= 8:
        grid = take.grid(BEAT_MS)
        stream_held(c, take, grid)
        missing, doubled = grid.slots()
        c.check(missing == 0 and doubled == 0, "no beat missing or doubled",
                "%d missing, %d doubled" % (missing, doubled))
        check_on_grid(s, c, grid, "every hit lies")
        tol = period_tolerance(len(times))
        c.check(abs(grid.period - BEAT_MS) <= tol,
                "the grid's spacing is 4 x 15000 / 94 = %.1f ms" % BEAT_MS,
                "fitted %.3f ms (allowed %.3f)" % (grid.period, tol))
    c.check(not [t for t in times if t > 1000.0 * stop + 50], "no hit after the stop")

    cut_checks(s, c, args)


def cut_checks(s, c, args):
    """Space stops the sound at once. Start and stop travel the same road (key, event, mixer,
    next audio buffer, sound server), so the time from pressing Space to the first hit is the
    yardstick: the sound must end no later than that after the stop press, give or take one
    audio buffer and one frame. Both presses are timed the same way (when xdotool has sent
    them), so what sending takes cancels out. Each stop comes 200 ms into the third beat,
    while the bass drum is still loud."""
    starts, stops, rings = [], [], []
    for _ in range(4):
        _, start = s.keydown("space")
        s.keyup("space")
        press_at = start + (2 * BEAT_MS + 200) / 1000.0
        time.sleep(max(0.0, press_at - time.monotonic()))
        _, stop = s.keydown("space")
        s.keyup("space")
        time.sleep(0.8)
        line, first, sound = s.sound(start - 0.1, stop + 0.7)
        onsets = detect_onsets(sound)
        if not onsets:
            c.check(False, "a start sounds a hit")
            return
        starts.append((line.time(first + onsets[0]) - start) * 1000.0)
        end = last_sound(sound)
        stops.append((line.time(first + end) - stop) * 1000.0)
        before = sound[2 * max(0, end - 88):2 * end]
        loudest = peak(sound)
        rings.append((peak(before), loudest))
        stopped_onsets = [n for n in onsets if line.time(first + n) > stop + 0.05]
        c.check(not stopped_onsets, "nothing sounds after a stop")
    yardstick = sorted(starts)[len(starts) // 2]
    allowed = yardstick + AUDIO_PERIOD_MS + FRAME_MS
    c.note("press to first hit: %s ms; press to silence: %s ms" %
           (["%.1f" % x for x in starts], ["%.1f" % x for x in stops]))
    c.check(all(p >= l / 16 for p, l in rings),
            "each stop cuts the bass drum while it is loud (not at its natural end)",
            "level in the last 2 ms / loudest: %s" % rings)
    check_timing(s, c, all(x <= allowed for x in stops),
                 "the sound stops within one audio period and a frame of the press, as fast as a "
                 "start sounds", "allowed %.1f ms" % allowed)


if __name__ == "__main__":
    raise SystemExit(run("e2e_play", body))

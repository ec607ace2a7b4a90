"""Edit mode from the keyboard: Tab shows the pulsing cursor frame, the arrows move it and wrap,
Return held with an arrow held paints, Tab hides it again; a key held down counts as one press
however long the keyboard repeats it."""

import time

from session import (background_reference, clear_grid, cursor_bars, grid_as_pattern, grid_cells,
                     rgb565, run, same_on_screen)


def frame_colour(frame, background, col, row):
    """The one colour of the cursor frame's four bars at (col, row), or None when they do not all
    show one pure green; 'background' when they show the artwork."""
    colours = set()
    untouched = True
    for bx, by, bw, bh in cursor_bars(col, row):
        for x, y, c in frame.box(bx, by, bw, bh):
            colours.add(c)
            untouched = untouched and same_on_screen(c, background.px(x, y))
    if untouched:
        return "background"
    if len(colours) == 1:
        r, g, b = colours.pop()
        if r <= 8 and b <= 8 and g >= 80:
            return g
    return None


def cursor_at(s, background):
    """Where the cursor frame stands, as (col, row), or None when none shows."""
    frame = s.capture()
    places = [(col, row) for row in range(10) for col in range(16)
              if frame_colour(frame, background, col, row) not in ("background", None)]
    return places[0] if len(places) == 1 else (None if not places else places)


def body(s, c, args):
    background = background_reference(args.repo)
    if not c.check(background is not None, "assets/gui.png reads as a 320 x 240 picture"):
        return
    c.check(cursor_at(s, background) is None, "no cursor frame at start")
    on, delay, interval = s.key_repeat()
    c.check(on and 0 < delay < 1500 and interval > 0,
            "the X server repeats held keys, so the holds below send repeats",
            "repeat %s, first after %d ms, then every %d ms" % (on, delay, interval))

    # A Tab held for two seconds, with the keyboard repeating it all the while, toggles once.
    s.hold("Tab", 2.0)
    s.settle()
    frame = s.capture()
    first = frame_colour(frame, background, 0, 0)
    c.check(isinstance(first, int), "Tab held and released shows the cursor frame around "
            "column 0, row 0, in one green", "frame colour %r" % (first,))
    c.check(cursor_at(s, background) == (0, 0), "and nowhere else")
    levels = set()
    for _ in range(8):
        time.sleep(0.11)
        g = frame_colour(s.capture(), background, 0, 0)
        if isinstance(g, int):
            levels.add(rgb565((0, g, 0))[1])
    c.check(len(levels) >= 3, "the frame pulses: its green changes between captures",
            "green levels seen (6-bit): %s" % sorted(levels))

    # The arrows move it and wrap at every edge.
    sent = {"Left": 0, "Right": 0, "Up": 0, "Down": 0}
    moves = [("Left", (15, 0)), ("Up", (15, 9)), ("Right", (0, 9)), ("Down", (0, 0)),
             ("Right", (1, 0)), ("Down", (1, 1))]
    for key, want in moves:
        s.key(key)
        sent[key] += 1
        s.settle()
        at = cursor_at(s, background)
        c.check(at == want, "%s moves the cursor to column %d, row %d" % ((key,) + want),
                "frame at %s" % (at,))
    # Holding an arrow: one move at the press, then a repeat after 750 ms and each 100 ms.
    held = s.hold("Right", 1.2)
    sent["Right"] += 1
    s.settle()
    repeats = int((held * 1000 - 750) // 100) + 1
    at = cursor_at(s, background)
    want = 1 + 1 + repeats
    c.check(at is not None and isinstance(at, tuple) and at[1] == 1 and
            abs(at[0] - want) <= 1,
            "Right held %.3f s moves the cursor by the press and its repeats" % held,
            "frame at %s, expected column %d +- 1" % (at, want))

    # Painting: clear the grid, go to row 5, column 3, hold Return, then hold Right.
    clear_grid(s)
    c.check(cursor_at(s, background) is not None, "SELECT used with b leaves edit mode on")
    at = cursor_at(s, background)
    if isinstance(at, tuple):
        keys = ["Left"] * ((at[0] - 3) % 16) + ["Down"] * ((5 - at[1]) % 10)
        s.key(*keys, delay_ms=25)
        for k in keys:
            sent[k] += 1
        s.settle()
    c.check(cursor_at(s, background) == (3, 5), "the cursor walks to column 3, row 5")
    s.keydown("Return")
    time.sleep(0.1)
    _, down = s.keydown("Right")
    sent["Right"] += 1
    time.sleep(1.3)
    _, up = s.keyup("Right")
    s.keyup("Return")
    s.settle()
    repeats = int(((up - down) * 1000 - 750) // 100) + 1
    grid = grid_as_pattern(grid_cells(s.capture(), background))
    row = grid[5]
    painted = row.rstrip("0")
    run_ok = painted.startswith("0001") and "0" not in painted[3:]
    length = len(painted) - 3
    c.check(run_ok and abs(length - (1 + repeats)) <= 1 and
            all(r == "0" * 16 for i, r in enumerate(grid) if i != 5),
            "Return held, then Right held %.3f s, paints row 5 from column 3 on, one cell per "
            "repeat" % (up - down), "row 5 reads %s, expected %d cells +- 1" %
            (row, 1 + repeats))
    at = cursor_at(s, background)
    c.check(at == (3 + length, 5) if run_ok else False,
            "the cursor stands on the cell after the last one painted", "frame at %s" % (at,))

    # Tab again hides it; held for two seconds it still toggles only once.
    s.key("Tab")
    s.settle()
    c.check(cursor_at(s, background) is None, "Tab again hides the cursor frame")
    s.hold("Tab", 2.0)
    s.settle()
    c.check(cursor_at(s, background) is not None, "a long Tab hold shows it once more")
    s.hold("Tab", 2.0)
    s.settle()
    c.check(cursor_at(s, background) is None, "and another hides it")

    s.key("Escape")
    c.check(s.wait_exit(5) == 0, "Escape quits")
    out = s.stdout()
    counts = {k: out.count("cursor %s\n" % k.lower()) for k in sent}
    centred = out.count("stick centred\n")
    c.check(counts == sent and centred == sum(sent.values()),
            "one trace per press and one per release of an arrow, however long it is held",
            "traced %s and %d releases, pressed %s" % (counts, centred, sent))


if __name__ == "__main__":
    raise SystemExit(run("e2e_edit", body))

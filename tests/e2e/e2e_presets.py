"""Presets from the keyboard: under one Tab hold, b clears, b again loads preset A with shuffle,
b again preset B, and round again; that Tab's release leaves edit mode alone; b without Tab does
nothing; every new Tab hold starts the cycle at clear."""

from session import (EMPTY, PRESET_A, PRESET_B, SHUFFLE_LABEL, background_reference,
                     cursor_bars, grid_as_pattern, grid_cells, run, same_on_screen, text_mask)


def state(s, background):
    """(pattern on the grid, SHFL shown, cursor frame shown)."""
    frame = s.capture()
    cells = grid_cells(frame, background)
    pattern = grid_as_pattern(cells)
    if any(k not in ("red", "well") for row in cells for k in row):
        pattern = None  # something other than red cells and untouched wells
    x, y, w = SHUFFLE_LABEL
    shuffle = len(text_mask(frame, x, y, w, background)) >= 10
    cursor = any(not same_on_screen(col, background.px(px, py))
                 for bx, by, bw, bh in cursor_bars(0, 0)
                 for px, py, col in frame.box(bx, by, bw, bh))
    return pattern, shuffle, cursor


NAMES = {tuple(EMPTY): "clear", tuple(PRESET_A): "preset A", tuple(PRESET_B): "preset B"}


def name(pattern):
    return NAMES.get(tuple(pattern or ()), "something else")


def body(s, c, args):
    background = background_reference(args.repo)
    if not c.check(background is not None, "assets/gui.png reads as a 320 x 240 picture"):
        return
    c.check(state(s, background) == (PRESET_B, False, False), "preset B at start, no SHFL")

    s.keydown("Tab")
    for want, shuffle in ((EMPTY, False), (PRESET_A, True), (PRESET_B, False), (EMPTY, False),
                          (PRESET_A, True)):
        s.key("b")
        s.settle()
        pattern, shown, _ = state(s, background)
        c.check(pattern == want and shown == shuffle,
                "Tab held, b: %s%s" % (name(want), " with SHFL" if shuffle else ", no SHFL"),
                "grid shows %s, SHFL %s" % (name(pattern), "shown" if shown else "hidden"))
    s.keyup("Tab")
    s.settle()
    pattern, shown, cursor = state(s, background)
    c.check(not cursor, "releasing Tab after b leaves edit mode off")
    c.check(pattern == PRESET_A and shown, "and preset A with shuffle stays")

    s.key("b")
    s.settle()
    c.check(state(s, background)[:2] == (PRESET_A, True), "b without Tab changes nothing")

    s.keydown("Tab")
    s.key("b")
    s.settle()
    pattern, shown, _ = state(s, background)
    c.check(pattern == EMPTY and not shown, "a new Tab hold starts the cycle again: b clears",
            "grid shows %s" % name(pattern))
    s.keyup("Tab")
    s.settle()
    c.check(not state(s, background)[2], "and its release leaves edit mode off as well")


if __name__ == "__main__":
    raise SystemExit(run("e2e_presets", body))

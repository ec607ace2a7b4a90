"""Start-up as a person sees and hears it: preset B in red in its wells, the empty wells as the
artwork draws them, white labels with their black shadows, no step label, no cursor, silence."""

import time

from session import (PRESET_B, SHUFFLE_LABEL, STEP_LABEL, TEMPO_LABEL, Reader,
                     background_reference, cursor_bars, grid_cells, peak, run, same_on_screen,
                     shadow_ok, text_mask, track_label)


def body(s, c, args):
    background = background_reference(args.repo)
    if not c.check(background is not None, "assets/gui.png reads as a 320 x 240 picture"):
        return
    time.sleep(1.0)  # let a second of sound reach the recording
    frame = s.capture()
    c.check((frame.width, frame.height) == (320, 240), "the window is 320 x 240",
            "%d x %d" % (frame.width, frame.height))

    cells = grid_cells(frame, background)
    set_wrong = [(r, col) for r in range(10) for col in range(16)
                 if PRESET_B[r][col] == "1" and cells[r][col] != "red"]
    empty_wrong = [(r, col) for r in range(10) for col in range(16)
                   if PRESET_B[r][col] == "0" and cells[r][col] != "well"]
    c.check(not set_wrong, "every set cell of preset B fills its 13 x 13 well in red",
            "wrong (row, column): %s" % set_wrong[:10])
    c.check(not empty_wrong, "every empty well shows the artwork untouched",
            "wrong (row, column): %s" % empty_wrong[:10])

    # The ten track labels: white text, and the shadow one pixel up and left is black.
    bad = []
    for row in range(10):
        x, y, w = track_label(row)
        lit = text_mask(frame, x, y, w, background)
        checked, black = shadow_ok(frame, lit)
        if len(lit) < 15 or checked == 0 or black != checked:
            bad.append((row, len(lit), checked, black))
    c.check(not bad, "the labels sample 0 .. sample 9 stand in white with a black shadow",
            "(row, white pixels, shadow pixels, black ones): %s" % bad)
    reader = Reader(frame, background)
    c.check(reader.complete(), "the ten track labels end in ten different digits",
            "%d told apart" % len(reader.digits))

    x, y, w = TEMPO_LABEL
    lit = text_mask(frame, x, y, w, background)
    checked, black = shadow_ok(frame, lit)
    c.check(len(lit) >= 15 and checked > 0 and black == checked,
            "the tempo label at (60, 40) is white with a black shadow",
            "%d white pixels, %d of %d shadow pixels black" % (len(lit), black, checked))
    c.check(reader.digits_of(frame, TEMPO_LABEL) == "940", "the tempo label reads 94.0",
            "digits read: %r" % reader.digits_of(frame, TEMPO_LABEL))

    for name, label in (("step label", STEP_LABEL), ("SHFL", SHUFFLE_LABEL)):
        x, y, w = label
        lit = text_mask(frame, x, y, w, background)
        c.check(not lit, "no %s while stopped with shuffle off" % name,
                "%d white pixels" % len(lit))

    stray = [(px, py) for bx, by, bw, bh in cursor_bars(0, 0)
             for px, py, col in frame.box(bx, by, bw, bh)
             if not same_on_screen(col, background.px(px, py))]
    c.check(not stray, "no cursor frame outside edit mode", "%d changed pixels" % len(stray))

    now = time.monotonic()
    _, _, sound = s.sound(s.started_at, now)
    c.check(len(sound) > 2 * 44100 // 2, "the recording covers the start-up",
            "%.2f s" % (len(sound) / 2 / 44100.0))
    c.check(peak(sound) == 0, "the recording is silent from start-up on",
            "loudest sample %d" % peak(sound))


if __name__ == "__main__":
    raise SystemExit(run("e2e_startup", body))

"""--sample-exact: what the real program plays is its export, sample for sample. Under Xvfb, with
SDL's disk audio driver writing the stream the mixer makes to a file, a pattern file's beat is
played from the keyboard; past one constant offset the captured frames equal `--export` of the
same file, at 94 BPM straight and at 220 BPM shuffled, and for a song of two slots made with the
keys, across a switch of slot made while playing, which waits for the bar line. Frames are
counted, not wall time: the disk driver paces itself by sleeping and runs a few per cent fast.
The screen's step label moves with the engine meanwhile."""

import array
import os
import subprocess
import sys
import time
import wave

from session import (PRESET_A, PRESET_B, RATE, STEP_LABEL, STEP_MS_94, enter_cells,
                     grid_as_pattern, grid_cells, is_red_text, is_white, readable_start, run,
                     text_mask, toggle_edit)

SECONDS = 4.5  # of captured frames compared, past the first hit
SONG_SECONDS = 9.0  # the same for the song: past a switch at any of the first three bar lines
CASES = (  # tempo, shuffle, rows, bars exported (at least SECONDS of them)
    ("94", False, PRESET_B, 2),
    ("220", True, PRESET_A, 5),
)


def pattern_file(path, tempo, shuffle, rows):
    with open(path, "w") as f:
        f.write("pocketdrum pattern 1\ntempo %s\nshuffle %s\n%s\n" %
                (tempo, "on" if shuffle else "off",
                 "\n".join(r.replace("1", "x").replace("0", ".") for r in rows)))


def samples_of(blob):
    samples = array.array("h")
    samples.frombytes(blob[:len(blob) // 4 * 4])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def first_sound(samples):
    """The first frame that is not silent, or None."""
    for k, v in enumerate(samples):
        if v != 0:
            return k // 2
    return None


def wait_for_frames(s, path, frames, seconds):
    """The capture once it holds frames past its first sound, or what it holds at the end."""
    deadline = time.monotonic() + seconds * s.slow
    while True:
        with open(path, "rb") as f:
            got = samples_of(f.read())
        first = first_sound(got)
        if (first is not None and len(got) // 2 >= first + frames) or time.monotonic() > deadline:
            return got
        time.sleep(0.1)


def step_digits(s, reader, background):
    frame, lit = s.capture(), lambda c: is_white(c) or is_red_text(c)
    x, y, w = STEP_LABEL
    if not text_mask(frame, x, y, w, background, lit):
        return None
    return reader.digits_of(frame, STEP_LABEL, lit)


def first_difference(c, got, exported, length, what):
    """Past the offset of their first sounds, the first frame at which the take and the export
    differ within length frames, or None when they are equal that far (checked and said)."""
    first, lead = first_sound(got), first_sound(exported)
    if not c.check(first is not None and lead is not None, "the take sounds, " + what):
        return 0
    offset = first - lead
    span = min(len(got) // 2 - offset, len(exported) // 2, length)
    live = got[2 * offset:]
    differ = next((k // 2 for k in range(2 * span) if live[k] != exported[k]), None)
    if differ is None and span < length:
        differ = span
    if differ is None:
        c.check(True, "past an offset of %d frames the take equals the export, %s" %
                (offset, what), "%d frames compared" % span)
    return differ


def exported_frames(s, beat, bars, wav):
    done = subprocess.run([s.program, "--export", wav, "--bars", str(bars), beat], cwd=s.repo,
                          capture_output=True, text=True, timeout=120)
    with wave.open(wav, "rb") as w:
        return samples_of(w.readframes(w.getnframes())) if done.returncode == 0 else None


def song_case(s, c, background, bare):
    """A kept beat: the screen is the bare program's until a second slot exists; slot 2 is made
    with B and RIGHT and filled from the keys; a switch back to slot 1 made with B and LEFT while
    playing waits for the bar line, so the take equals the export of the saved song with a chain
    of slot 2 for that many bars and then slot 1, sample for sample across the switch."""
    beat = os.path.join(s.dir, "song.pdrum")
    pattern_file(beat, "94", False, PRESET_B)
    s.stop_program()
    capture = os.path.join(s.dir, "song.raw")
    s.program_env["SDL_DISKAUDIOFILE"] = capture
    s.start_program(["--sample-exact", beat])
    s.settle()
    c.check(s.capture().data == bare.data,
            "a kept beat of one pattern: the screen is the bare program's, pixel for pixel")
    s.keydown("b")
    s.key("Right")
    s.keyup("b")
    toggle_edit(s)
    enter_cells(s, 2, [0, 4, 8, 12])
    toggle_edit(s)
    frame = s.capture()
    slot2 = ["0" * 16] * 2 + ["1000100010001000"] + ["0" * 16] * 7
    c.check(grid_as_pattern(grid_cells(frame, background)) == slot2 and
            text_mask(frame, 150, 40, 60, background) and
            not text_mask(bare, 150, 40, 60, background),
            "B and RIGHT: slot 2, empty, filled from the keys; the slot label shows")
    s.key("space")
    time.sleep(1.2 * STEP_MS_94 * 16 / 1000)  # into the second bar
    s.keydown("b")
    s.key("Left")
    s.keyup("b")
    length = int(SONG_SECONDS * RATE)
    got = wait_for_frames(s, capture, length, 30 + SONG_SECONDS)
    s.key("ctrl+s")
    s.settle()
    s.stop_program()
    with open(beat) as f:
        saved = f.read()
    c.check(saved.startswith("pocketdrum pattern 2\n") and "\nslot 1\n" not in saved,
            "Ctrl+S saves the song as the second version", saved[:80])
    # the switch lands on some bar line: the chain that equals the take names that bar
    wav = os.path.join(s.dir, "song.wav")
    differs = []
    for bars in (1, 2, 3):  # SONG_SECONDS reach past each of these bar lines
        with open(beat, "w") as f:
            f.write(saved.replace("\nchain\n", "\nchain 2*%d 1*3\n" % bars))
        exported = exported_frames(s, beat, bars + 3, wav)
        differs.append(first_difference(c, got, exported, length,
                                        "slot 2 for %d bars, then slot 1" % bars)
                       if exported else 0)
        if differs[-1] is None:
            return
    c.check(False, "the take equals the export of a chain switching at a bar line",
            "first differences at frames %s" % differs)


def one_case(s, c, reader, background, tempo, shuffle, rows, bars):
    what = "%s BPM %s" % (tempo, "shuffled" if shuffle else "straight")
    beat = os.path.join(s.dir, "beat%s.txt" % tempo)
    pattern_file(beat, tempo, shuffle, rows)
    wav = os.path.join(s.dir, "beat%s.wav" % tempo)
    done = subprocess.run([s.program, "--export", wav, "--bars", str(bars), beat], cwd=s.repo,
                          capture_output=True, text=True, timeout=120)
    if not c.check(done.returncode == 0, "the export of the beat, " + what, done.stderr):
        return
    with wave.open(wav, "rb") as w:
        exported = samples_of(w.readframes(w.getnframes()))
    length = int(SECONDS * RATE)

    s.stop_program()
    capture = os.path.join(s.dir, "take%s.raw" % tempo)
    s.program_env["SDL_DISKAUDIOFILE"] = capture
    s.start_program(["--sample-exact", beat])
    s.key("space")
    labels = []
    for _ in range(4):
        time.sleep(0.15)
        labels.append(step_digits(s, reader, background))
    c.check(len({d for d in labels if d}) >= 2 and all(d and d.startswith("16") for d in labels),
            "the step label moves with the engine, " + what, "read %s" % labels)
    got = wait_for_frames(s, capture, length, 30 + SECONDS)
    said = s.stderr()  # before the exit, where a sanitizer may report on the libraries
    s.stop_program()

    if first_difference(c, got, exported, length, what) is not None:
        c.check(False, "past an offset the take equals the export, " + what)
    others = [line for line in said.splitlines() if not line.startswith("CRITICAL:")]
    c.check(not others, "nothing on standard error but the disk driver's notice, " + what,
            "%s" % others[:4])


def body(s, c, args):
    background, reader = readable_start(s, c, args.repo)
    if reader is None:
        return
    bare = s.capture()
    for case in CASES:
        one_case(s, c, reader, background, *case)
    song_case(s, c, background, bare)


def program_env(args):
    # every take is written where the case asks; until then nowhere
    return {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": os.devnull}


if __name__ == "__main__":
    raise SystemExit(run("e2e_sample_exact", body, program_env=program_env))

"""--sample-exact: what the real program plays is its export, sample for sample. Under Xvfb, with
SDL's disk audio driver writing the stream the mixer makes to a file, a pattern file's beat is
played from the keyboard; past one constant offset the captured frames equal `--export` of the
same file, at 94 BPM straight and at 220 BPM shuffled. Frames are counted, not wall time: the
disk driver paces itself by sleeping and runs a few per cent fast. The screen's step label moves
with the engine meanwhile."""

import array
import os
import subprocess
import sys
import time
import wave

from session import (PRESET_A, PRESET_B, RATE, STEP_LABEL, is_red_text, is_white,
                     readable_start, run, text_mask)

SECONDS = 4.5  # of captured frames compared, past the first hit
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

    first = first_sound(got)
    lead = first_sound(exported)
    if not c.check(first is not None and lead is not None, "the take sounds, " + what):
        return
    offset = first - lead
    span = min(len(got) // 2 - offset, len(exported) // 2, length)
    live = got[2 * offset:]
    differ = next((k for k in range(2 * span) if live[k] != exported[k]), None)
    c.check(span >= length and differ is None,
            "past an offset of %d frames the take equals the export, %s" % (offset, what),
            "%d frames compared%s" % (span, "" if differ is None else
                                     ", the first differs at frame %d" % (differ // 2)))
    others = [line for line in said.splitlines() if not line.startswith("CRITICAL:")]
    c.check(not others, "nothing on standard error but the disk driver's notice, " + what,
            "%s" % others[:4])


def body(s, c, args):
    background, reader = readable_start(s, c, args.repo)
    if reader is None:
        return
    for case in CASES:
        one_case(s, c, reader, background, *case)


def program_env(args):
    # every take is written where the case asks; until then nowhere
    return {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": os.devnull}


if __name__ == "__main__":
    raise SystemExit(run("e2e_sample_exact", body, program_env=program_env))

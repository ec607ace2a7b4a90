"""`pocketdrum --export` as a user runs it: with no display and no sound server to be had, the
start-up beat or a pattern file's beat (one pattern, or a song of several chained) lands in a WAV file with every hit on its step's frame, on
the built-in kit or on the user's, or in a Standard MIDI File with every note on its step's tick,
read back by an independent reader (python3-mido); a FILE or a kit folder that cannot be read, an
OUT of another kind and an OUT that cannot be written leave nothing behind.

usage: export_cli_test.py PROGRAM REPO [--sanitized]

The program runs from REPO, where assets/ is, with DISPLAY unset and SDL told to use X11 and a
sound server that does not exist: an export that opened a window or a sound device would fail.
"""

import array
import itertools
import os
import shutil
import subprocess
import sys
import tempfile
import wave
from fractions import Fraction

import mido

from session import RATE, Checks, sanitizer_env

# A closed hat (113 ms) on four columns, two of them odd so that shuffle moves them, and at least
# two steps apart, so that even at 220 BPM each hit dies away before the next.
HAT_ROW = 1
HAT_COLUMNS = (1, 3, 6, 11)


# Every track hits on its own columns, odd and even, some on the same step as others.
ALL_TRACKS = [[c for c in range(16) if (c + 2 * t) % 5 in (0, 3)] for t in range(10)]
# The General MIDI drum note of each track, as the table gives it.
GM_NOTES = [46, 42, 36, 38, 40, 37, 51, 41, 63, 39]


def pattern_file(path, tempo, shuffle, columns=None, kit_line=None):
    """A pattern file; kit_line, when given, as its line 4."""
    if columns is None:
        columns = [HAT_COLUMNS if t == HAT_ROW else () for t in range(10)]
    rows = ([] if kit_line is None else [kit_line]) + \
        ["".join("x" if c in columns[t] else "." for c in range(16)) for t in range(10)]
    with open(path, "w") as f:
        f.write("pocketdrum pattern 1\ntempo %s\nshuffle %s\n%s\n" %
                (tempo, "on" if shuffle else "off", "\n".join(rows)))


def due_frame(step, tempo, shuffle):
    """Where step (0, 1, 2 ... from the start) is due, in frames, exactly: 15 / tempo s a step,
    odd steps a quarter step late with shuffle; halves away from zero. tempo is the float the
    machine stores for the file's text."""
    d = Fraction(1, 4) if shuffle and step % 2 == 1 else 0
    exact = RATE * 15 * (step + d) / Fraction(tempo)
    return int(exact + Fraction(1, 2))


def as_float(text):
    return array.array("f", [float(text)])[0]


def first_sound(samples, at):
    """The first frame from at on that is not silent."""
    n = at
    while 2 * n < len(samples) and samples[2 * n] == 0 and samples[2 * n + 1] == 0:
        n += 1
    return n


def hits_on_frames(samples, due, length=2000):
    """Whether a hit starts at each due frame and nowhere near it: silence just before, the same
    few silent frames at its head (the hat's first samples round to nothing at the machine's
    volume), then the same waveform each time. One hit a frame early or late changes its lead."""
    leads = [first_sound(samples, d) - d for d in due]
    head = due[0] + leads[0]
    template = samples[2 * head:2 * (head + length)]
    return leads, (len(set(leads)) == 1 and 0 <= leads[0] < 64 and
                   all(not any(samples[2 * (d - 16):2 * d]) for d in due) and
                   all(samples[2 * (d + leads[0]):2 * (d + leads[0] + length)] == template
                       for d in due))


def midi_problems(path, quarter_us, shuffle, bars, columns):
    """How the file, read back by mido, differs from the beat at 96 ticks a quarter: step i at
    tick 24 i, 6 ticks later on odd steps with shuffle, each note let go 12 ticks after it starts,
    the meta events at tick 0 and the end of the track at the end of the bars."""
    f = mido.MidiFile(path)
    events = list(zip(itertools.accumulate(m.time for m in f.tracks[0]), f.tracks[0]))
    problems = []
    if (f.type, f.ticks_per_beat, len(f.tracks)) != (0, 96, 1):
        problems.append("format %d, %d ticks a quarter, %d tracks" % (f.type, f.ticks_per_beat,
                                                                      len(f.tracks)))
    # the values of each meta event, by their names' order (time signature: clocks a click,
    # denominator, 32nds a quarter, numerator)
    meta = [(t, m.type, tuple(v for k, v in sorted(m.dict().items()) if k not in ("type", "time")))
            for t, m in events if m.is_meta]
    want = [(0, "track_name", ("pocketdrum",)),
            (0, "set_tempo", (quarter_us,)),
            (0, "time_signature", (24, 4, 8, 4)), (384 * bars, "end_of_track", ())]
    if meta != want:
        problems.append("meta events %s, want %s" % (meta, want))
    notes = [(t, m) for t, m in events if not m.is_meta]
    got = sorted((t, m.type, m.channel, m.note, m.velocity) for t, m in notes)
    want = []
    for i in range(16 * bars):
        tick = 24 * i + (6 if shuffle and i % 2 == 1 else 0)
        for t in range(10):
            if i % 16 in columns[t]:
                want += [(tick, "note_on", 9, GM_NOTES[t], 100),
                         (tick + 12, "note_off", 9, GM_NOTES[t], 64)]
    if got != sorted(want):
        wrong = sorted(set(got) ^ set(want))
        problems.append("%d notes, want %d; first differences %s" % (len(got), len(want),
                                                                      wrong[:6]))
    # at one tick, a note-off never follows a note-on
    if any(t1 == t2 and m1.type == "note_on" and m2.type == "note_off"
           for (t1, m1), (t2, m2) in zip(notes, notes[1:])):
        problems.append("a note-off follows a note-on at the same tick")
    return problems


def read_wav(path):
    with wave.open(path, "rb") as w:
        shape = (w.getframerate(), w.getnchannels(), w.getsampwidth())
        samples = array.array("h")
        samples.frombytes(w.readframes(w.getnframes()))
    if sys.byteorder != "little":
        samples.byteswap()
    return shape, samples


def body(c, program, repo, env, folder):
    # The start-up beat: preset B at 94 BPM, 4 bars; the ride rings 1.4 s past the last bar.
    out = os.path.join(folder, "startup.wav")
    status, said, complaint = export(program, repo, env, out)
    c.check((status, said, complaint) == (0, "Wrote %s: 4 bars at 94 BPM (11.3 s)\n" % out, ""),
            "the start-up beat exports without a display or a sound server",
            "status %d, %r, %r" % (status, said, complaint))
    if status == 0:
        shape, samples = read_wav(out)
        c.check(shape == (RATE, 2, 2) and round(len(samples) / 2 / RATE, 1) == 11.3,
                "as a 44100 Hz 16-bit stereo WAV of the length it says",
                "%s, %d frames" % (shape, len(samples) // 2))

    # A pattern file's beat: every hit of the hat on its step's frame.
    for tempo, shuffle, bars in (("120", True, 2), ("94.1", False, 3), ("220", True, 1)):
        beat = os.path.join(folder, "hat.txt")
        pattern_file(beat, tempo, shuffle)
        out = os.path.join(folder, "hat.wav")
        status, said, complaint = export(program, repo, env, out, "--bars", str(bars), beat)
        what = "%s BPM, shuffle %s, %d bars" % (tempo, "on" if shuffle else "off", bars)
        c.check(status == 0 and said.startswith("Wrote %s: %d bars at %s BPM (" %
                                                (out, bars, tempo)) and complaint == "",
                "a pattern file's beat exports, " + what, "status %d, %r, %r" %
                (status, said, complaint))
        if status != 0:
            continue
        _, samples = read_wav(out)
        due = [due_frame(i, as_float(tempo), shuffle) for i in range(16 * bars)
               if i % 16 in HAT_COLUMNS]
        leads, placed = hits_on_frames(samples, due)
        c.check(placed, "every hit on its step's frame, " + what,
                "%d hits, first sound after the due frame: %s" % (len(due), sorted(set(leads))))

    # A pattern file's beat as a MIDI file, read back note by note against the schedule.
    # tempo, shuffle, bars, OUT, microseconds a quarter note: round(60,000,000 / tempo)
    for tempo, shuffle, bars, name, quarter_us in (("120", False, 2, "beat.mid", 500000),
                                                   ("120", True, 2, "beat.mid", 500000),
                                                   ("96.9", True, 1, "Beat.MIDI", 619195)):
        beat = os.path.join(folder, "all.pdrum")
        pattern_file(beat, tempo, shuffle, ALL_TRACKS)
        out = os.path.join(folder, name)
        status, said, complaint = export(program, repo, env, out, "--bars", str(bars), beat)
        what = "%s BPM, shuffle %s, %d bars, %s" % (tempo, "on" if shuffle else "off", bars, name)
        seconds = "%.1f" % (bars * 240 / float(tempo))  # the bars alone: notes have no tail
        c.check((status, said, complaint) ==
                (0, "Wrote %s: %d bars at %s BPM (%s s)\n" % (out, bars, tempo, seconds), ""),
                "a pattern file's beat exports as MIDI, " + what,
                "status %d, %r, %r" % (status, said, complaint))
        if status == 0:
            problems = midi_problems(out, quarter_us, shuffle, bars, ALL_TRACKS)
            c.check(not problems, "every note on its step's tick with its drum's number, the "
                    "tempo at %d us a quarter, %s" % (quarter_us, what),
                    "; ".join(problems))

    # A FILE that is missing or not a pattern file: refused as at start-up, and no OUT.wav.
    with open(os.path.join(folder, "notes.txt"), "w") as f:
        f.write("shopping list\n")
    out = os.path.join(folder, "never.wav")
    for name, complaint in (("absent.txt", "No such file or directory"),
                            ("notes.txt", "1: not a pattern file")):
        beat = os.path.join(folder, name)
        status, said, told = export(program, repo, env, out, beat)
        want = "pocketdrum: %s%s%s\n" % (beat, ":" if complaint[0].isdigit() else ": ", complaint)
        c.check((status, said, told) == (65, "", want) and not os.path.exists(out),
                "an export of %s is refused with status 65 and writes nothing" % name,
                "status %d, %r, %r" % (status, said, told))

    kit_checks(c, program, repo, env, folder)
    song_checks(c, program, repo, env, folder)

    # --normalize: the loudest sample at -1 dBFS and the gain said; silence at 0 dB; no MIDI
    silent = os.path.join(folder, "silent.pdrum")
    pattern_file(silent, "94", False, [()] * 10)
    for what, beat, ending in (("the start-up beat", [], ": gain +"),
                               ("a silent beat", [silent], ", silent: gain 0.0 dB\n")):
        out = os.path.join(folder, "normal.wav")
        status, said, _ = export(program, repo, env, out, "--normalize", *beat)
        loudest = max(map(abs, read_wav(out)[1])) if status == 0 else -1
        c.check(status == 0 and ending in said and
                loudest == (round(32767 * 10 ** (-1 / 20)) if not beat else 0),
                "--normalize, %s: the peak at -1 dBFS or silence, the gain said" % what,
                "%r, loudest %d" % (said, loudest))
    status = export(program, repo, env, os.path.join(folder, "n.mid"), "--normalize")[0]
    c.check(status == 64, "--normalize with a MIDI file is a usage error", "status %d" % status)

    # An OUT that cannot be written: one line naming it and why, status 73, nothing left; an
    # OUT of another kind: what was wrong, the usage naming both kinds, status 64, nothing written.
    for taken in ("taken.wav", "taken.mid"):
        os.mkdir(os.path.join(folder, taken))
    for name, reason in (("missing/beat.wav", "No such file or directory"),
                         ("taken.wav", "Is a directory"),
                         ("missing/beat.mid", "No such file or directory"),
                         ("taken.mid", "Is a directory"),
                         ("beat.ogg", None)):
        out = os.path.join(folder, name)
        before = sorted(os.listdir(folder))
        status, said, complaint = export(program, repo, env, out)
        if reason is None:
            wrong = "pocketdrum: --export %s: OUT ends in .wav, .mid or .midi\n" % out
            told = (status == 64 and said == "" and complaint.startswith(wrong + "Usage: pocketdrum") and
                    "--export OUT.wav" in complaint and "--export OUT.mid" in complaint)
        else:
            told = (status, said, complaint) == (73, "", "pocketdrum: %s: %s\n" % (out, reason))
        c.check(told and sorted(os.listdir(folder)) == before and
                all(os.path.isdir(os.path.join(folder, t)) for t in ("taken.wav", "taken.mid")),
                "an export to %s fails with status %d and leaves nothing" %
                (name, 64 if reason is None else 73),
                "status %d, %r, %r" % (status, said, complaint))


def song_file(path, chain, slots):
    """A pattern file of the second version: the chain line, then each slot's hat columns."""
    with open(path, "w") as f:
        f.write("pocketdrum pattern 2\ntempo 120\nshuffle on\nchain %s\n" % chain)
        for slot, columns in slots.items():
            rows = ["".join("x" if t == HAT_ROW and c in columns else "." for c in range(16))
                    for t in range(10)]
            f.write("pattern %d\n%s\n" % (slot, "\n".join(rows)))


def song_checks(c, program, repo, env, folder):
    """Songs: a one-slot song written as the second version exports the same bytes as the first
    version; a chain of three slots (one a rest) puts each slot's hits in its own bars, looping
    the chain with --bars, in the WAV and in the MIDI file."""
    one, two = os.path.join(folder, "one.pdrum"), os.path.join(folder, "one-v2.pdrum")
    pattern_file(one, "120", True)
    song_file(two, "", {1: HAT_COLUMNS})
    for name in ("same.wav", "same.mid"):
        outs = [os.path.join(folder, v + name) for v in ("v1-", "v2-")]
        done = [export(program, repo, env, out, beat)[0] for out, beat in zip(outs, (one, two))]
        same = done == [0, 0] and subprocess.run(["cmp", *outs]).returncode == 0
        c.check(same, "a one-slot song of the second version exports as the first, " + name)
    chain = os.path.join(folder, "chain.pdrum")
    song_file(chain, "1 3 2 3", {1: HAT_COLUMNS, 2: (), 3: (0, 8)})
    bars = [HAT_COLUMNS, (0, 8), (), (0, 8), HAT_COLUMNS, (0, 8)]  # the chain, then looped
    status, said, _ = export(program, repo, env, os.path.join(folder, "once.wav"), chain)
    c.check(status == 0 and " 4 bars at 120 BPM" in said, "without --bars the chain plays once",
            said)
    out, mid = os.path.join(folder, "chain.wav"), os.path.join(folder, "chain.mid")
    status = export(program, repo, env, out, "--bars", "6", chain)[0]
    status += export(program, repo, env, mid, "--bars", "6", chain)[0]
    if not c.check(status == 0, "a chain of three slots exports for 6 bars"):
        return
    _, samples = read_wav(out)
    due = [due_frame(16 * b + k, 120.0, True) for b, cols in enumerate(bars) for k in cols]
    leads, placed = hits_on_frames(samples, due)
    rest = samples[2 * due_frame(32, 120.0, True):2 * due_frame(48, 120.0, True)]
    c.check(placed and not any(rest), "each slot's hits in its own bars, the rest bar silent",
            "leads %s, %d loud samples in the rest" % (sorted(set(leads)), sum(map(bool, rest))))
    f = mido.MidiFile(mid)
    got = [(t, m.note) for t, m in zip(itertools.accumulate(m.time for m in f.tracks[0]),
                                       f.tracks[0]) if m.type == "note_on"]
    want = [(384 * b + 24 * k + (6 if k % 2 else 0), GM_NOTES[HAT_ROW])
            for b, cols in enumerate(bars) for k in cols]
    c.check(got == want, "the MIDI file holds the same notes bar by bar", "%s" % got[:8])


def run(program, repo, env, *args):
    done = subprocess.run([program] + list(args), cwd=repo, env=env, capture_output=True,
                          text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


def export(program, repo, env, *args):
    return run(program, repo, env, "--export", *args)


def no_file_lines(kit, tracks):
    return "".join("pocketdrum: %s: no file for track %02d; that track stays silent\n" % (kit, t)
                   for t in tracks)


def kit_checks(c, program, repo, env, folder):
    """The user's kit in the export: its hat where the hat is due, from --kit or from the file's
    kit line; and the folders that cannot be a kit, refused before anything else starts. (The
    process test plays a kit live and saves it.)"""
    kit, empty = os.path.join(folder, "my kit"), os.path.join(folder, "empty kit")
    os.mkdir(kit)
    os.mkdir(empty)
    # a mono hat of 2205 frames, which the export must play at the mixer's volume on both sides
    hat = os.path.join(kit, "02 my hat.wav")
    subprocess.run(["sox", "-n", "-D", "-r", "44100", "-b", "16", "-c", "1", hat, "synth", "0.05",
                    "sine", "3000", "vol", "0.5"], check=True)
    with wave.open(hat, "rb") as w:
        mono = array.array("h")
        mono.frombytes(w.readframes(w.getnframes()))
    heard = [int(v * 12 / 128) for v in mono for _ in (0, 1)]  # truncated toward zero
    beat, remembered, gone = (os.path.join(folder, n) for n in ("b.txt", "kit.txt", "gone.txt"))
    for path, kit_line in ((beat, ""), (remembered, "kit  %s  " % kit), (gone, "kit /no/kit")):
        pattern_file(path, "120", True, kit_line=kit_line)
    due = [due_frame(i, 120.0, True) for i in range(32) if i % 16 in HAT_COLUMNS]
    out = os.path.join(folder, "kit.wav")
    for what, args in (("--kit", ["--kit", kit, beat]), ("the file's kit line", [remembered])):
        status, said, complaint = export(program, repo, env, out, "--bars", "2", *args)
        c.check(status == 0 and complaint == no_file_lines(kit, [1] + list(range(3, 11))),
                "a beat exports with the user's kit from " + what,
                "status %d, %r, %r" % (status, said, complaint))
        _, samples = read_wav(out) if status == 0 else (None, [])
        played = [samples[2 * d:2 * d + len(heard)].tolist() == heard for d in due]
        c.check(all(played) and not any(samples[2 * (due[0] - 16):2 * due[0]]),
                "the user's hat, mono on both sides, on every due frame, from " + what,
                "hits played as the file holds them: %s" % played)

    # Folders that cannot be the kit: status 66 before anything starts, live or exported.
    locked, missing = os.path.join(folder, "locked"), os.path.join(folder, "no kit")
    notes, refused = os.path.join(folder, "notes.txt"), os.path.join(folder, "never.wav")
    os.mkdir(locked, 0)
    for name, kit_args, status_wanted, wanted in (
            ("a folder that is not there", ["--kit", missing], 66,
             "pocketdrum: %s: No such file or directory\n" % missing),
            ("a plain file", ["--kit", notes], 66, "pocketdrum: %s: Not a directory\n" % notes),
            ("an unreadable folder", ["--kit", locked], 66,
             "pocketdrum: %s: Permission denied\n" % locked),
            ("a folder without sounds", ["--kit", empty], 66, no_file_lines(empty, range(1, 11)) +
             "pocketdrum: %s: no sound of the kit could be loaded\n" % empty),
            ("a file's kit line naming a folder that is not there", [gone], 66,
             "pocketdrum: %s:4: kit folder /no/kit: No such file or directory\n" % gone),
            ("a pattern file that cannot be read, before the kit", ["--kit", missing, notes], 65,
             "pocketdrum: %s:1: not a pattern file\n" % notes)):
        if name == "an unreadable folder" and os.geteuid() == 0:
            c.skip(name, "root reads any folder")
            continue
        for mode, extra in (("live", []), ("export", ["--export", refused])):
            status, said, complaint = run(program, repo, env, *(kit_args + extra))
            c.check((status, said, complaint) == (status_wanted, "", wanted) and
                    not os.path.exists(refused),
                    "%s, %s: status %d before any window" % (name, mode, status_wanted),
                    "status %d, %r, %r" % (status, said, complaint))
    os.chmod(locked, 0o700)


def main():
    args = [a for a in sys.argv[1:] if a != "--sanitized"]
    if len(args) != 2:
        sys.exit(__doc__)
    program, repo = os.path.abspath(args[0]), os.path.abspath(args[1])
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    env.update({"SDL_VIDEODRIVER": "x11", "SDL_AUDIODRIVER": "pulseaudio",
                "PULSE_SERVER": "unix:/nonexistent/pulse"})
    if "--sanitized" in sys.argv:
        env.update(sanitizer_env(env))
    checks = Checks("export_cli")
    folder = tempfile.mkdtemp(prefix="pocketdrum-export-")
    try:
        body(checks, program, repo, env, folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""How tight the drum machine plays, measured the way a listener hears it.

Runs the real program in a real window under Xvfb, playing into a PulseAudio null sink recorded
with parec (the machinery of tests/e2e/session.py), enters one hit on every step of one track
from the keyboard, and plays it at 94 and at 220 BPM, with and without shuffle. For each run it
finds the hits in the recording and prints:

  hits      found / expected from the time between the start and stop presses
  miss/dbl  grid places between the first and last hit with no hit, hits sharing a place
  error     each hit's distance from a straight grid fitted to the hits by least squares
            (with shuffle, a grid of pairs: two steps a pair, the first of a pair fitted long),
            median, 95th percentile and largest, in ms
  spacing   the fitted step length less 15000 / BPM, in ms
  drift     that spacing error over one minute of steps, in ms per minute
  dropouts  gaps where the sink ran dry in mid-sound
  cpu       the program's CPU time over the run, as a percentage of one core (all its threads)
  breaks    dropouts and shifts of SDL's 512-frame buffer boundaries in the stream (every hit
            starts at the head of a buffer, so while the stream runs unbroken they all fall on
            the same place modulo 512): the sound server's hiccups, not the program's timing.
            The grid gives each unbroken stretch an origin of its own, and the sound coming
            back after a dropout is not counted as a hit

Before the runs it measures the idle program (transport stopped, no key pressed) the same way,
over --idle-seconds. --env passes a setting to the program, e.g. the compatibility layer's
SDL12COMPAT_SYNC_TO_VBLANK=1, which makes each flip wait for the display's refresh.

Target: no hit missing or doubled, every hit within one audio period (512 samples, 11.6 ms) of
the grid, drift under 1 ms per minute.

    tools/timing.py [--program build/pocketdrum] [--seconds 60] [--track 1]
                    [--pulse-latency-ms 20]   (0: what SDL asks of the server itself)
                    [--save-every 1]          (Ctrl+S that often while playing, s)
                    [--idle-seconds 10] [--env NAME=VALUE ...]
                    [--compare-export] [--sample-exact]

With --save-every the program is started with a pattern file and saves it that often during
each run, so the cost of a save shows in the errors as a listener would hear it.

With --compare-export it compares the live machine with its export instead, hit for hit: for
each tempo and shuffle it writes a pattern file with the track on every step, plays it live from
that file and records it, exports the same file with `pocketdrum --export`, finds the hits in
both and pairs them. It prints, per run, the hits paired, those missing or doubled live, each
pair's difference (live less export, less the median difference, which is the live path's
latency), median, 95th percentile and largest, the drift between the two in ms per minute, and
then every difference, a bar to a line. Target: none missing or doubled, every difference within
one audio period (the live hit starts at the head of a mixer buffer; the export's at its frame).

With --sample-exact the program is started with that option, in which the engine renders every
hit on its exact frame inside the audio callback. Hits no longer share the heads of the mixer's
buffers, so the stream is judged broken only where it runs dry. Target: every hit within 1 ms
of the grid (or of the export, less the constant latency), none missing or doubled, drift under
1 ms per minute.
"""

import argparse
import array
import os
import struct
import subprocess
import sys
import time
import wave

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import session  # noqa: E402
from session import (AUDIO_PERIOD_MS, TEMPO_LABEL, Grid, Reader, Session,  # noqa: E402
                     background_reference, dropouts, median, percentile, play_row)


def f32(x):
    """x rounded to single precision, as the program's step clock holds its times."""
    return struct.unpack("f", struct.pack("f", x))[0]


def step_clock_model(start_ms, bpm, shuffle, count):
    """The step spacing error (ms) that the program's single-precision step times give by
    themselves. Each step time is the last one plus the step length (and, with shuffle, plus or
    minus a quarter of it), rounded to the float's spacing at that size (2^-7 ms from 2^16 ms of
    uptime, 2^-6 ms from 2^17 ms ...); the rounding is carried into the next addition, so it
    does not add up from step to step."""
    interval = f32(15000.0 / f32(bpm))
    quarter = f32(interval / 4.0)
    t = f32(start_ms)
    carry = 0.0

    def add(t, carry, length):
        wanted = f32(length + carry)
        total = f32(t + wanted)
        return total, f32(wanted - f32(total - t))

    times = [t]
    for k in range(1, count):
        t, carry = add(t, carry, interval)
        if shuffle:
            t, carry = add(t, carry, quarter if k % 2 == 1 else -quarter)
        times.append(t)
    return Grid(times, 15000.0 / bpm, shuffle=shuffle).period - 15000.0 / bpm


def tempo_on_label(reader, s):
    digits = reader.digits_of(s.capture(), TEMPO_LABEL)
    return int(digits[:-1]) + int(digits[-1]) / 10.0 if len(digits) >= 2 else None


def play_for(s, seconds, save_every):
    """Lets the transport run for seconds, pressing Ctrl+S every save_every s (0: never).
    Returns the number of saves asked for."""
    end = time.monotonic() + seconds
    saves = 0
    while save_every > 0 and time.monotonic() + save_every < end:
        time.sleep(save_every)
        s.key("ctrl+s")
        saves += 1
    time.sleep(max(0.0, end - time.monotonic()))
    return saves


def cpu_percent(s, seconds):
    """The program's CPU use over the next seconds, in percent of one core."""
    cpu, t = s.cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    return 100.0 * (s.cpu_seconds() - cpu) / (time.monotonic() - t)


# With --sample-exact the hits do not start at buffer heads: a slack of half a buffer makes no
# place count as moved, so the stream breaks only where it runs dry.
EXACT_SLACK = 256
BUFFER_SLACK = 16


def measure(s, bpm, shuffle, seconds, save_every=0.0, limit=AUDIO_PERIOD_MS):
    step = 15000.0 / bpm
    cpu = s.cpu_seconds()
    _, start = s.keydown("space")
    s.keyup("space")
    saves = play_for(s, seconds, save_every)
    _, stop = s.keydown("space")
    s.keyup("space")
    cpu = 100.0 * (s.cpu_seconds() - cpu) / (stop - start)
    line, first, samples = s.sound(start - 0.1, stop + 0.3)
    onsets = session.detect_onsets(samples)
    slack = EXACT_SLACK if limit < AUDIO_PERIOD_MS else BUFFER_SLACK
    stretch, resumed = session.stream_stretches(onsets, samples, slack)
    take = session.Take([1000.0 * line.time(first + n) for n in onsets], stretch, resumed, 0)
    hits = take.times
    gaps = len(dropouts(samples))
    breaks = session.stream_breaks(onsets, samples, slack)
    span = (stop - start) * 1000.0
    if shuffle:
        # steps at 0, 1.25, 2, 3.25, 4 ... step lengths after the start
        pairs = int(span // (2 * step))
        expected = 2 * pairs + 1 + (1 if span - pairs * 2 * step >= 1.25 * step else 0)
    else:
        expected = int(span // step) + 1
    row = {"bpm": bpm, "shuffle": shuffle, "found": len(hits), "expected": expected,
           "dropouts": gaps, "breaks": breaks, "saves": saves, "cpu": cpu}
    if len(hits) < 4:
        return row
    grid = take.grid(step, shuffle=shuffle)
    errors = [abs(r) for r in grid.residuals]
    missing, doubled = grid.slots()
    spacing = grid.period - step
    row.update({
        "missing": missing,
        "doubled": doubled,
        "median": median(errors),
        "p95": percentile(errors, 95),
        "max": max(errors),
        "spacing": spacing,
        "drift": spacing * 60000.0 / step,
        "drift_sigma": grid.period_sigma() * 60000.0 / step,
        # SDL's tick count starts with the program; the program was started at started_at
        "model": step_clock_model((start - s.started_at) * 1000.0, bpm, shuffle, len(hits)),
        "outliers": grid.outliers(limit),
        "split": grid.long / step if shuffle else None,
        "within": sum(1 for e in errors if e <= limit),
    })
    return row


def reach(s, reader, target, key):
    """Holds a tempo key until the label shows target (the program clamps at the ends)."""
    s.keydown(key)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        time.sleep(0.5)
        if tempo_on_label(reader, s) == target:
            break
    s.keyup(key)
    s.settle()
    return tempo_on_label(reader, s)


def table(rows, seconds, latency, save_every, settings, idle, limit):
    print()
    print("Timing, %d s a run, sound server buffering %s%s, %s" %
          (seconds, "%d ms" % latency if latency else "as SDL asks (one 512-sample buffer)",
           ", Ctrl+S every %g s (%d saves a run)" % (save_every, rows[0]["saves"])
           if save_every > 0 and rows else "",
           " ".join(settings) if settings else "no extra settings"))
    print("Idle (stopped, no key pressed): %.1f %% of a core" % idle)
    print()
    print("| BPM | shuffle | hits found / expected | missing / doubled | error median | p95 "
          "| max | within %.3g ms | spacing error | drift | cpu | dropouts / breaks "
          "| step clock alone |" % limit)
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        if "max" not in r:
            print("| %g | %s | %d / %d | - | - | - | - | - | - | - | %.0f %% | %d / %d | - |" %
                  (r["bpm"], "on" if r["shuffle"] else "off", r["found"], r["expected"],
                   r["cpu"], r["dropouts"], r["breaks"]))
            continue
        print("| %g | %s | %d / %d | %d / %d | %.2f ms | %.2f ms | %.2f ms | %d of %d "
              "| %+.4f ms | %+.2f ± %.2f ms/min | %.0f %% | %d / %d | %+.4f ms, %+.2f ms/min |" %
              (r["bpm"], "on (%.3f : %.3f)" % (r["split"], 2 - r["split"]) if r["shuffle"]
               else "off", r["found"], r["expected"], r["missing"], r["doubled"], r["median"],
               r["p95"], r["max"], r["within"], r["found"], r["spacing"], r["drift"],
               r["drift_sigma"], r["cpu"], r["dropouts"], r["breaks"], r["model"],
               r["model"] * 60000.0 * r["bpm"] / 15000.0))
    print()
    print("drift: ± one standard error of the fit. The last column is the spacing error and "
          "drift that the program's single-precision step times give by themselves at its "
          "uptime during the run.")
    print("Hits further than %.3g ms from the grid (step number: ms):" % limit)
    for r in rows:
        if r.get("outliers"):
            print("  %g BPM shuffle %s: %s" % (r["bpm"], "on" if r["shuffle"] else "off",
                                              r["outliers"]))
    print()


def beat_file_text(track, bpm, shuffle):
    """A pattern file with track on every step."""
    rows = ["x" * 16 if t == track else "." * 16 for t in range(10)]
    return "pocketdrum pattern 1\ntempo %g\nshuffle %s\n%s\n" % (
        bpm, "on" if shuffle else "off", "\n".join(rows))


def exported_hits(program, repo, beat, bars, folder):
    """The hits of `pocketdrum --export` of the pattern file beat, in ms from the start of the
    file, and the line the export printed."""
    out = os.path.join(folder, "export.wav")
    done = subprocess.run([program, "--export", out, "--bars", str(bars), beat], cwd=repo,
                          capture_output=True, text=True, timeout=300)
    if done.returncode != 0:
        sys.exit("the export ended with status %d: %s" % (done.returncode, done.stderr.strip()))
    with wave.open(out, "rb") as w:
        if (w.getframerate(), w.getnchannels(), w.getsampwidth()) != (session.RATE,
                                                                      session.CHANNELS, 2):
            sys.exit("the export is not 44100 Hz 16-bit stereo")
        samples = array.array("h")
        samples.frombytes(w.readframes(w.getnframes()))
    if sys.byteorder != "little":
        samples.byteswap()
    return [1000.0 * n / session.RATE for n in session.detect_onsets(samples)], done.stdout.strip()


def compare_export(s, args, bpm, shuffle):
    """Plays a pattern file live and exports it; the two takes paired hit for hit."""
    # the running program saves its beat on the way out: stop it before the file is written
    s.stop_program()
    beat = os.path.join(s.dir, "compare.txt")
    with open(beat, "w") as f:
        f.write(beat_file_text(args.track, bpm, shuffle))
    s.start_program(args.program_args + [beat])
    _, start = s.keydown("space")
    s.keyup("space")
    time.sleep(args.seconds)
    _, stop = s.keydown("space")
    s.keyup("space")
    line, first, samples = s.sound(start - 0.1, stop + 0.3)
    onsets = session.detect_onsets(samples)
    slack = EXACT_SLACK if args.sample_exact else BUFFER_SLACK
    _, resumed = session.stream_stretches(onsets, samples, slack)
    live = [1000.0 * line.time(first + n) for j, n in enumerate(onsets) if j not in resumed]
    exported, said = exported_hits(s.program, s.repo, beat, len(live) // 16 + 2, s.dir)
    pairing = session.Pairing(live, exported)
    errors = [abs(d) for _, d in pairing.diffs]
    step = 15000.0 / bpm
    spacing = {name: Grid(times, step, shuffle=shuffle).period - step
               for name, times in (("live", live), ("export", exported))}
    return {"bpm": bpm, "shuffle": shuffle, "live": len(live), "pairing": pairing,
            "spacing": spacing,
            "median": median(errors), "p95": percentile(errors, 95), "max": pairing.worst(),
            "breaks": session.stream_breaks(onsets, samples, slack), "said": said}


def comparison_table(rows, seconds):
    print()
    print("Live against export, %d s a run" % seconds)
    print()
    print("| BPM | shuffle | live hits | paired | missing / doubled | difference median | p95 "
          "| max | drift | step length less 15000 / BPM, live / export | breaks |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        p = r["pairing"]
        print("| %g | %s | %d | %d | %d / %d | %.2f ms | %.2f ms | %.2f ms | %+.2f ms/min "
              "| %+.4f / %+.4f ms | %d |" %
              (r["bpm"], "on" if r["shuffle"] else "off", r["live"], len(p.diffs), p.missing,
               p.doubled, r["median"], r["p95"], r["max"], p.drift, r["spacing"]["live"],
               r["spacing"]["export"], r["breaks"]))
    print()
    print("drift: the slope of the differences. Step length: a straight grid fitted to each take "
          "(with shuffle, a grid of pairs), less the tempo's step.")
    print()
    for r in rows:
        print("%g BPM, shuffle %s: %s; live less export, ms, a bar to a line:" %
              (r["bpm"], "on" if r["shuffle"] else "off", r["said"]))
        diffs = [d for _, d in r["pairing"].diffs]
        for bar in range(0, len(diffs), 16):
            print("  " + " ".join("%+5.1f" % d for d in diffs[bar:bar + 16]))
    print()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--program", default=os.path.join(REPO, "build", "pocketdrum"))
    p.add_argument("--repo", default=REPO)
    p.add_argument("--seconds", type=float, default=60.0, help="length of each run (s)")
    p.add_argument("--track", type=int, default=1,
                   help="the track that plays every step (1, the closed hat, is short)")
    p.add_argument("--pulse-latency-ms", type=int, default=session.PULSE_LATENCY_MS,
                   help="buffering asked of the sound server (0: SDL's own request)")
    p.add_argument("--save-every", type=float, default=0.0,
                   help="with a pattern file, press Ctrl+S this often while playing (s; 0: "
                   "no file, no saves)")
    p.add_argument("--idle-seconds", type=float, default=10.0,
                   help="how long the idle program's CPU use is measured (s)")
    p.add_argument("--env", action="append", default=[], metavar="NAME=VALUE",
                   help="a setting for the program's environment; may be repeated")
    p.add_argument("--compare-export", action="store_true",
                   help="compare the live machine with its export, hit for hit")
    p.add_argument("--sample-exact", action="store_true",
                   help="start the program with --sample-exact and judge it to 1 ms")
    args = p.parse_args()
    args.program_args = ["--sample-exact"] if args.sample_exact else []
    limit = 1.0 if args.sample_exact else AUDIO_PERIOD_MS
    settings = dict(e.split("=", 1) for e in args.env)

    latency = args.pulse_latency_ms or None
    rows = []
    if args.compare_export:
        with Session(args.program, args.repo, pulse_latency_ms=latency,
                     program_env=settings) as s:
            for bpm, shuffle in ((94.0, False), (94.0, True), (220.0, True), (220.0, False)):
                print("run: %g BPM, shuffle %s, %g s, live and exported" %
                      (bpm, "on" if shuffle else "off", args.seconds), flush=True)
                rows.append(compare_export(s, args, bpm, shuffle))
        comparison_table(rows, args.seconds)
        ok = all(r["pairing"].missing == 0 and r["pairing"].doubled == 0 and
                 r["max"] <= limit for r in rows)
        print("target met" if ok else "target missed")
        return 0 if ok else 1

    with Session(args.program, args.repo, pulse_latency_ms=latency, program_env=settings) as s:
        if args.save_every > 0 or args.sample_exact:
            s.stop_program()
            s.start_program(args.program_args + ([os.path.join(s.dir, "beat.txt")]
                                                 if args.save_every > 0 else []))
        time.sleep(1.0)  # past the start-up
        idle = cpu_percent(s, args.idle_seconds)
        print("idle: %.1f %% of a core" % idle, flush=True)
        background = background_reference(args.repo)
        reader = Reader(s.capture(), background)
        pattern = play_row(s, args.track, background)
        if pattern[args.track] != "1" * 16:
            sys.exit("could not enter the pattern: the grid reads %s" % pattern)
        print("pattern entered: track %d on every step" % args.track, flush=True)
        for bpm, shuffle in ((94.0, False), (94.0, True), (220.0, True), (220.0, False)):
            if bpm == 220.0 and tempo_on_label(reader, s) != 220.0:
                got = reach(s, reader, 220.0, "equal")
                if got != 220.0:
                    sys.exit("holding = reached %s, not 220.0" % got)
            if (shuffle and len(rows) == 1) or (not shuffle and len(rows) == 3):
                s.key("x")
                s.settle()
            print("run: %g BPM, shuffle %s, %g s" % (bpm, "on" if shuffle else "off",
                                                     args.seconds), flush=True)
            rows.append(measure(s, bpm, shuffle, args.seconds, args.save_every, limit))
            time.sleep(0.5)
        if args.save_every > 0 and not os.path.exists(os.path.join(s.dir, "beat.txt")):
            sys.exit("Ctrl+S wrote no pattern file")
    table(rows, args.seconds, latency, args.save_every, args.env + args.program_args, idle,
          limit)
    ok = all(r.get("missing", 1) == 0 and r.get("doubled", 1) == 0 and
             r["found"] == r["expected"] and r.get("max", 99) <= limit and
             abs(r.get("drift", 99)) < 1.0 for r in rows)
    print("target met" if ok else "target missed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

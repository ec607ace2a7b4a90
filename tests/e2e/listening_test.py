"""The ears of the end-to-end tests, on recordings made up here: hits placed on the heads of
512-frame buffers as the program's mixer places them, then broken as a busy sound server breaks
a stream. A break must only split the take into stretches; a fault of the program's timing
(a hit a buffer late, a hit doubled or lost) must still be heard inside them."""

import array
import math
import os
import random
import subprocess
import sys
import time

from session import (AUDIO_PERIOD_MS, RATE, STEP_MS_94, WAIT_LIMIT_MS, Checks, Pairing, Take,
                     detect_onsets, longest_wait, stream_stretches)

BEAT_MS = 4 * STEP_MS_94
BUFFER = 512


def drum(ms=1500):
    """A bass drum: a 60 Hz tone that starts at full scale, as a beater strikes, and falls
    with a 120 ms time constant."""
    n = int(ms * RATE / 1000)
    return [int(20000 * math.exp(-i / (0.12 * RATE)) * math.cos(2 * math.pi * 60 * i / RATE))
            for i in range(n)]


def mix(starts, total):
    """Frames (mono) with a drum at each start; a new hit cuts the one before, as on one
    channel."""
    out = [0] * total
    hit = drum()
    for j, at in enumerate(starts):
        end = starts[j + 1] if j + 1 < len(starts) else total
        for i in range(min(len(hit), end - at, total - at)):
            out[at + i] = hit[i]
    return out


def program_starts(count, period_ms, late=None, double=None, drop=None, shuffle=False,
                   delays=None):
    """Where the program's hits start: each step sounds in the first buffer mixed after it is
    due (the frame a step fires in comes within a ms: the loop never waits). late, double, drop: the
    number of a hit to play three buffers late, twice, or not at all. delays: ms by which the
    step of a hit, by its number, reaches the mixer late. With shuffle the steps come in pairs
    split 5 : 3."""
    rng = random.Random(7)
    starts = []
    for k in range(count):
        ms = 2 * period_ms * (k // 2) + 1.25 * period_ms * (k % 2) if shuffle else k * period_ms
        ms += (delays or {}).get(k, 0.0)
        due = (ms + rng.uniform(0, 1.0)) * RATE / 1000.0 + 4000
        at = int(math.ceil(due / BUFFER)) * BUFFER
        if k == late:
            at += 3 * BUFFER
        if k == drop:
            continue
        starts.append(at)
        if k == double:
            starts.append(at + 12 * BUFFER)
    return starts


def export_starts(count, period_ms, shuffle=False):
    """Where an export puts the same hits: each at the frame its step is due, no buffer."""
    return [int(round((2 * period_ms * (k // 2) + 1.25 * period_ms * (k % 2) if shuffle else
                       k * period_ms) * RATE / 1000.0)) + 4000 for k in range(count)]


def heard(frames):
    """The onsets of a mono recording, in ms."""
    return [1000.0 * n / RATE for n in detect_onsets(stereo(frames))]


def gap(frames, at, length):
    """What a sink that ran dry plays: length frames of silence at at, the rest later."""
    return frames[:at] + [0] * length + frames[at:]


def lost(frames, at, length):
    """What a server that dropped frames plays: length frames missing at at."""
    return frames[:at] + frames[at + length:]


def repeated(frames, at, length):
    """What a server that played frames twice plays: the length frames before at again."""
    return frames[:at] + frames[at - length:]


def stereo(frames):
    out = array.array("h")
    for v in frames:
        out.append(v)
        out.append(v)
    return out


def judge(frames, period_ms=BEAT_MS, shuffle=False, waited=None):
    samples = stereo(frames)
    onsets = detect_onsets(samples)
    stretch, resumed = stream_stretches(onsets, samples)
    take = Take([1000.0 * n / RATE for n in onsets], stretch, resumed, 0,
                None if waited is None else waited(len(onsets)))
    grid = take.grid(period_ms, shuffle=shuffle)
    missing, doubled = grid.slots()
    worst = grid.worst()
    return take, grid, missing, doubled, worst


def body(c):
    count = 30
    total = int((count + 1) * BEAT_MS * RATE / 1000) + 20000
    clean = mix(program_starts(count, BEAT_MS), total)
    starts = program_starts(count, BEAT_MS)

    take, grid, missing, doubled, worst = judge(clean)
    c.check(len(take.times) == count and set(take.stretch) == {0} and not take.wild,
            "an unbroken stream is one stretch of every hit",
            "%d hits, stretches %s" % (len(take.times), sorted(set(take.stretch))))
    c.check(worst <= AUDIO_PERIOD_MS and (missing, doubled) == (0, 0),
            "and its hits lie on one grid", "worst %.2f ms" % worst)

    # A beat at 94 BPM is 54.98 buffers, so each hit starts a little later after its step than
    # the one before, until the offset wraps by a whole buffer. With the wrap right after the
    # first hit, a least-squares origin puts that hit 10 ms from its place, and a few ms of the
    # sound server's jitter would take it past a period; in truth every hit is within half a
    # period of a straight grid.
    wrapping = [int(math.ceil((k * BEAT_MS * RATE / 1000.0 + 4100) / BUFFER)) * BUFFER
                for k in range(37)]
    take, grid, missing, doubled, worst = judge(mix(wrapping, wrapping[-1] + 20000))
    mean_based = max(abs(r) for r in grid.residuals)
    c.check(worst <= AUDIO_PERIOD_MS / 2 + 0.1 and mean_based > 0.85 * AUDIO_PERIOD_MS,
            "hits whose offset from the buffer heads wraps near one end lie within half a "
            "period of the grid", "%.2f ms (from the mean origin: %.2f ms)" % (worst, mean_based))

    # The server runs dry 60 ms into the tenth hit, while it is loud, for 40 ms: the drum comes
    # back as if it were a hit of its own, and everything after is 40 ms late.
    broken = gap(clean, starts[9] + 2646, 1764)
    take, grid, missing, doubled, worst = judge(broken)
    c.check(len(take.times) == count and len(take.wild) == 1,
            "a dropout in mid-sound: the sound coming back is set aside, not counted as a hit",
            "%d hits, %d set aside" % (len(take.times), len(take.wild)))
    c.check(take.stretch == [0] * 10 + [1] * 20, "the hits after the dropout form a second stretch",
            "stretches %s" % take.stretch)
    c.check(worst <= AUDIO_PERIOD_MS and (missing, doubled) == (0, 0) and
            abs(grid.period - BEAT_MS) < 0.5,
            "each stretch lies on the one grid, shifted as the stream was",
            "worst %.2f ms, %d missing, %d doubled, period %.2f ms" %
            (worst, missing, doubled, grid.period))

    # Frames played twice, and frames lost, in the tails of hits: no dropout to see, only the
    # buffer heads moving, by 34 ms each time.
    broken = lost(repeated(clean, starts[20] - 2000, 1500), starts[6] - 2000, 1500)
    take, grid, missing, doubled, worst = judge(broken)
    c.check(len(set(take.stretch)) == 3 and grid.judged() == count,
            "a shift of the buffer heads starts a new stretch where it happened",
            "stretches %s" % take.stretch)
    c.check(worst <= AUDIO_PERIOD_MS and (missing, doubled) == (0, 0),
            "and every stretch still lies on the grid", "worst %.2f ms" % worst)
    plain = Take(take.times, [0] * len(take.times), set(), 0).grid(BEAT_MS)
    c.check(plain.worst() > AUDIO_PERIOD_MS,
            "judged as one stretch, the same hits would be off the grid (the breaks are real)")

    # Shuffled sixteenths: the pairs keep their 5 : 3 split across a break.
    shuffled = program_starts(40, STEP_MS_94, shuffle=True)
    played = mix(shuffled, shuffled[-1] + 20000)
    take, grid, missing, doubled, worst = judge(lost(played, shuffled[15] - 300, 200),
                                                STEP_MS_94, shuffle=True)
    longs = [g for k, g in grid.gaps() if k % 2 == 0]
    c.check(len(set(take.stretch)) == 2 and len(grid.gaps()) == 38 and
            all(abs(g - 1.25 * STEP_MS_94) <= AUDIO_PERIOD_MS for g in longs) and
            abs(grid.long - 1.25 * STEP_MS_94) < 1.0 and worst <= AUDIO_PERIOD_MS,
            "shuffled steps keep a grid of long and short gaps in each stretch",
            "stretches %s, first of a pair %.2f ms, worst %.2f ms" %
            (take.stretch, grid.long, worst))

    # The program's own faults, inside a stream that also broke.
    faults = [("a hit three buffers (35 ms) late", {"late": 17}),
              ("a hit played twice", {"double": 17}),
              ("a hit not played", {"drop": 17})]
    for what, fault in faults:
        played = mix(program_starts(count, BEAT_MS, **fault), total)
        take, grid, missing, doubled, worst = judge(gap(played, starts[9] + 2646, 1764))
        caught = worst > AUDIO_PERIOD_MS or missing or doubled
        c.check(caught, "%s is still heard when the stream broke elsewhere" % what,
                "worst %.2f ms, %d missing, %d doubled" % (worst, missing, doubled))

    # Hits late on a busy machine. At 91 BPM a sixteenth is 14.2 buffers, so the hits' offsets
    # from their steps fill the whole period and only a period is left for anything else. A hit
    # the machine delayed (a thread on its way kept waiting just before it, as the session sees
    # from the kernel) is not judged; any other late hit is, and a step clock that fires late
    # now and then is caught.
    step_91 = 15000.0 / 91
    cases = [("a hit 2.5 buffers (29 ms) late", {17: 29.0}, (), True),
             ("the same hit, with the machine seen waiting just before it", {17: 29.0}, (17,),
              False),
             ("the same hit, with the machine seen waiting before another", {17: 29.0}, (30,),
              True),
             ("every other step a 60 Hz frame late", {k: 1000.0 / 60 for k in range(1, 49, 2)},
              (), True),
             ("every step on time", {}, (), False)]
    for what, delays, marked, caught in cases:
        starts = program_starts(49, step_91, delays=delays)
        take, grid, missing, doubled, worst = judge(
            mix(starts, starts[-1] + 20000), step_91,
            waited=lambda n: [WAIT_LIMIT_MS if j in marked else 0.0 for j in range(n)])
        c.check((worst > AUDIO_PERIOD_MS) == caught and (missing, doubled) == (0, 0) and
                len(grid.gaps()) == 48 - 2 * len(marked),
                "%s: %s" % (what, "caught" if caught else "within a period of the grid"),
                "worst %.2f ms, %d missing, %d doubled, %d gaps judged" %
                (worst, missing, doubled, len(grid.gaps())))

    # The waits are the kernel's: two busy processes sharing one processor take turns, each
    # waiting while the other runs, and a sleeping process waits for nothing (once started).
    cpu = min(os.sched_getaffinity(0))
    for what, code, copies, waits in [("two busy processes on one processor", "while 1: pass", 2,
                                       True),
                                      ("a sleeping process", "import time; time.sleep(9)", 1,
                                       False)]:
        procs = [subprocess.Popen([sys.executable, "-c", code]) for _ in range(copies)]
        last, longest = {}, 0.0
        try:
            for p in procs:
                os.sched_setaffinity(p.pid, {cpu})
            time.sleep(0.5)  # started, and asleep or busy
            longest_wait([p.pid for p in procs], last)
            end = time.monotonic() + 0.5
            while time.monotonic() < end:
                longest = max(longest, longest_wait([p.pid for p in procs], last))
                time.sleep(0.002)
        finally:
            for p in procs:
                p.kill()
                p.wait()
        c.check((longest >= 1.0) == waits,
                "%s: %s" % (what, "kept waiting" if waits else "never kept waiting"),
                "longest wait without a break %.1f ms" % longest)

    # A live take against the export of the same beat, hit for hit.
    for shuffle in (False, True):
        exported = heard(mix(export_starts(count, STEP_MS_94 * 2, shuffle), total))
        live = heard(mix(program_starts(count, STEP_MS_94 * 2, shuffle=shuffle), total))
        pairing = Pairing(live, exported)
        c.check(len(pairing.diffs) == count and (pairing.missing, pairing.doubled) == (0, 0) and
                pairing.worst() <= AUDIO_PERIOD_MS,
                "a live take pairs hit for hit with its export%s, each within a period" %
                (" with shuffle" if shuffle else ""),
                "%d pairs, worst %.2f ms, drift %+.1f ms/min" %
                (len(pairing.diffs), pairing.worst(), pairing.drift))
    exported = heard(mix(export_starts(count, BEAT_MS), total))
    for what, fault, caught in [
            ("a hit three buffers late", {"late": 17}, lambda p: p.worst() > AUDIO_PERIOD_MS),
            ("a hit played twice", {"double": 17}, lambda p: p.doubled == 1),
            ("a hit not played", {"drop": 17}, lambda p: p.missing == 1)]:
        pairing = Pairing(heard(mix(program_starts(count, BEAT_MS, **fault), total)), exported)
        c.check(caught(pairing), "against the export, %s shows" % what,
                "worst %.2f ms, %d missing, %d doubled" %
                (pairing.worst(), pairing.missing, pairing.doubled))
    # 0.2 % slow: 120 ms a minute, 19 ms by the thirtieth hit
    pairing = Pairing(heard(mix(program_starts(count, BEAT_MS * 1.002), total)), exported)
    c.check(pairing.worst() > AUDIO_PERIOD_MS and 60.0 < pairing.drift < 180.0,
            "against the export, a live tempo 0.2 % slow shows as drift",
            "worst %.2f ms, drift %+.1f ms/min" % (pairing.worst(), pairing.drift))


if __name__ == "__main__":
    checks = Checks("listening_test")
    body(checks)
    sys.exit(checks.finish())

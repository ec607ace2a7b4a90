"""--midi-out: the real program under Xvfb sends its notes and MIDI clock to a JACK server on
its dummy driver, under a private server name, captured by jack_midi_dump -a (each event's frame
since the capture started) and read by jack_mclk_dump. In one table over 94 BPM straight with a
tempo change while playing, 220 BPM shuffled with --sample-exact, and a 48 kHz server with
another channel and an offset, the
captured events are judged in frames against the schedule: every clock k frames
round(k R 60 / (T 24)) after Start, every note on its step's frame with the notes of the MIDI
file export, its note-off half a step later, Stop at the head of a cycle with the held notes let
go. A take in which the server reports an xrun, or a reader loses an event, is played again,
never judged looser."""

import ctypes
import itertools
import os
import re
import resource
import subprocess
import time
from fractions import Fraction
from math import floor

import mido

from session import PRESET_A, PRESET_B, SessionError, check_timing, run

PERIOD = 256  # frames a cycle
PLAY_S = 8.0  # long enough for jack_mclk_dump's filter to settle
ATTEMPTS = 4  # takes with an xrun are played again, up to this many in all
CASES = (  # tempo, shuffle, rows, server rate, extra options, '=' presses while playing
    (94.0, False, PRESET_B, 44100, [], 1),
    (220.0, True, PRESET_A, 44100, ["--sample-exact"], 0),
    # a song: its chain's bars in turn, each slot's notes in its own bar
    (120.0, True, (PRESET_B, PRESET_A, PRESET_A), 48000, ["--midi-channel", "3", "--midi-offset",
                                                          "7"], 0),
)
OFF, START, CLOCK, ON, STOP = range(5)  # the order of events on one frame


def offset(k, shuffle):
    return k + (Fraction(1, 4) if shuffle and k % 2 else 0)


def frame_at(rate, plan, part, parts=1):
    """Where a point part/parts steps from the start lies: the anchor's frame and the distance
    from it, rounded once, halves up."""
    bpm, shuffle, k0, f0 = plan
    x = rate * (Fraction(part) - offset(k0, shuffle) * parts) * 15 / (Fraction(bpm) * parts)
    return f0 + floor(x + Fraction(1, 2))


def expected(rate, notes, tempo, shuffle, channel, stop, change=None):
    """Every event from Start to Stop (frames from Start); change: (step, new tempo)."""
    k, bpm = change or (1 << 40, tempo)
    plans = [(tempo, shuffle, 0, 0)]
    plans.append((bpm, shuffle, k, frame_at(rate, plans[0], offset(k, shuffle))))
    clocks = [(tempo, 0, 0, 0)]
    clocks.append((bpm, 0, k, frame_at(rate, clocks[0], k)))
    events = [(0, START, "fa")]
    for n in itertools.count():
        f = frame_at(rate, clocks[n >= 6 * k], n, 6)
        if f >= stop:
            break
        events.append((f, CLOCK, "f8"))
    for j in itertools.count():
        plan = plans[j >= k]
        f = frame_at(rate, plan, offset(j, shuffle))
        if f >= stop:
            break
        for note in notes.get(j % notes["steps"], []):
            events.append((f, ON, "%02x %02x 64" % (0x90 + channel - 1, note)))
            off = frame_at(rate, plan, 2 * offset(j, shuffle) + 1, 2)
            events.append((min(off, stop), OFF, "%02x %02x 40" % (0x80 + channel - 1, note)))
    return sorted(events + [(stop, STOP, "fc")])


def export_notes(s, beat, shuffle, bars):
    """Step -> notes of the MIDI file export of the beat, over its bars."""
    path = os.path.join(s.dir, "beat.mid")
    subprocess.run([s.program, "--export", path, "--bars", str(bars), beat], cwd=s.repo,
                   check=True, capture_output=True, timeout=60)
    notes, tick = {"steps": 16 * bars}, 0
    for m in mido.MidiFile(path).tracks[0]:
        tick += m.time
        if m.type == "note_on":
            notes.setdefault((tick - (6 if shuffle and tick % 24 else 0)) // 24, []).append(m.note)
    return notes


def frame_clock(server):
    """The server's frame time, read by a client of the test's own through libjack."""
    os.environ["JACK_DEFAULT_SERVER"] = server
    lib = ctypes.CDLL("libjack.so.0")
    lib.jack_client_open.restype = ctypes.c_void_p
    lib.jack_frame_time.argtypes = [ctypes.c_void_p]
    lib.jack_frame_time.restype = ctypes.c_uint32
    lib.jack_client_close.argtypes = [ctypes.c_void_p]
    client = lib.jack_client_open(b"press-clock", 1, None)  # JackNoStartServer
    if not client:
        raise SessionError("the test's own JACK client could not open")
    return lambda: lib.jack_frame_time(client), lambda: lib.jack_client_close(client)


def jack(server, *args, **kw):
    env = dict(os.environ, JACK_DEFAULT_SERVER=server, JACK_NO_AUDIO_RESERVATION="1",
               JACK_NO_START_SERVER="1")
    return subprocess.Popen(list(args), env=env, stdin=subprocess.DEVNULL, **kw)


def wait_for_port(server, port, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        out = jack(server, "jack_lsp", "-c", stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if port in out.communicate(timeout=10)[0].decode():
            return True
        time.sleep(0.1)
    return False


def take(s, c, server, beat, case, log):
    """One run: the server's xruns meanwhile and the events the readers lost, the capture as
    (frame, bytes), the tempo jack_mclk_dump read, and the server's frames between the presses."""
    tempo, shuffle, rows, rate, extra, ups = case
    if not wait_for_port(server, "system:playback_1"):
        raise SessionError("the JACK server never started")
    dump = jack(server, "jack_midi_dump", "-a", stdout=open(os.path.join(s.dir, "dump"), "w"),
                stderr=open(os.path.join(s.dir, "dump.err"), "w"))
    mclk = jack(server, "jack_mclk_dump", stdout=open(os.path.join(s.dir, server), "w"))
    try:
        if not wait_for_port(server, "jack_mclk_dump:mclk_in"):
            raise SessionError("the capture clients never joined the server")
        s.program_env["JACK_DEFAULT_SERVER"] = server
        s.start_program(["--midi-connect", "midi-monitor:input"] + extra + [beat])
        if not wait_for_port(server, "   midi-monitor:input"):
            raise SessionError("pocketdrum:midi_out was never connected")
        jack(server, "jack_connect", "pocketdrum:midi_out", "jack_mclk_dump:mclk_in").wait(10)
        xruns = open(log).read().count("XRun")
        now, close = frame_clock(server)
        s.key("space")
        f0 = now()
        time.sleep(2)
        if ups:
            s.key(*["equal"] * ups)
        time.sleep(PLAY_S - 2)
        s.key("space")
        f1 = now()
        close()
        time.sleep(0.5)
        xruns = open(log).read().count("XRun") - xruns
        said = s.stderr()
        s.stop_program()
    finally:
        for p in (dump, mclk):
            p.terminate()
            p.wait(10)
    events = [(int(f), b.strip()) for f, b in re.findall(r"^\s*(\d+): ((?:[0-9a-f]{2} ?)+)",
                                                  open(os.path.join(s.dir, "dump")).read(), re.M)]
    tempi = re.findall(r"flt:\s*([\d.]+)", open(os.path.join(s.dir, server)).read())
    periods = re.findall(r"dt:\s*(\d+)", open(os.path.join(s.dir, server)).read())
    # the settled half: the median of the filtered reading, and the ticks the tool itself lost
    # (its reading thread falls behind on a busy machine: a period a whole tick off)
    settled = sorted(float(t) for t in tempi[len(tempi) // 2:])
    tick = rate * 60.0 / ((tempo + ups) * 24)
    lost = sum(abs(int(p) - tick) > 1 for p in periods[len(periods) // 2:])
    # and the events jack_midi_dump's own reading thread had no room for
    lost += open(os.path.join(s.dir, "dump.err")).read().count("ringbuffer was full")
    return xruns + lost, events, settled[len(settled) // 2] if settled else None, f1 - f0, said


def one_case(s, c, n, case):
    tempo, shuffle, rows, rate, extra, ups = case
    what = "%g BPM %s at %d Hz" % (tempo, "shuffled" if shuffle else "straight", rate)
    beat = os.path.join(s.dir, "beat%d.txt" % n)
    slots = rows if isinstance(rows, tuple) else (rows,)
    with open(beat, "w") as f:  # a song of slots 1, 2, 2 ... as a chain, or one pattern
        f.write("pocketdrum pattern %d\ntempo %g\nshuffle %s\n" % (
            1 if len(slots) == 1 else 2, tempo, "on" if shuffle else "off"))
        kept = [r for i, r in enumerate(slots) if r not in slots[:i]]
        if len(slots) > 1:
            f.write("chain %s\n" % " ".join(str(kept.index(r) + 1) for r in slots))
        for i, slot in enumerate(kept):
            f.write("pattern %d\n" % (i + 1) if len(slots) > 1 else "")
            f.write("\n".join(r.replace("1", "x").replace("0", ".") for r in slot) + "\n")
    notes = export_notes(s, beat, shuffle, len(slots))
    server = "pocketdrum-test-%d" % n  # a fixed name: a stale entry of its own is reclaimed
    log = os.path.join(s.dir, "jackd%d.log" % n)
    # realtime where allowed: a 2-core machine under load runs the server late several times
    # a second without it, and a take with an xrun is played again
    rt = "-R" if os.geteuid() == 0 or resource.getrlimit(resource.RLIMIT_RTPRIO)[0] > 0 else "-r"
    jackd = jack(server, "jackd", rt, "-d", "dummy", "-r", str(rate), "-p",
                 str(PERIOD), stdout=open(log, "w"), stderr=subprocess.STDOUT)
    try:
        for attempt in range(ATTEMPTS):
            xruns, events, mclk, played, said = take(s, c, server, beat, case, log)
            if xruns == 0:
                break
            c.note("%d xruns or events the readers lost in take %d of %s; playing again" %
                   (xruns, attempt + 1, what))
    finally:
        jackd.terminate()
        jackd.wait(10)
    starts = [f for f, b in events if b == "fa"]
    stops = [f for f, b in events if b == "fc"]
    if xruns > 0:
        c.skip(what, "every take had an xrun or an event the readers lost: the machine is "
               "too busy to count frames on")
        return
    if not c.check(len(starts) == 1 and len(stops) == 1, "one Start and one Stop, " + what,
                   "%d events" % len(events)):
        return
    first, stop = starts[0], stops[0] - starts[0]
    kinds = {"f8": CLOCK, "fa": START, "fc": STOP, "8": OFF, "9": ON}
    got = [(f - first, kinds[b if len(b) == 2 else b[0]], b) for f, b in events]
    channel = int(extra[1]) if "--midi-channel" in extra else 10
    # the step the new tempo took over at, if any: the one whose schedule the capture follows
    changes = [None] if ups == 0 else [(k, tempo + ups) for k in range(8, 16 * 8)]
    fits = [ch for ch in changes
            if expected(rate, notes, tempo, shuffle, channel, stop, ch) == sorted(got)]
    want = expected(rate, notes, tempo, shuffle, channel, stop, (fits or changes)[0])
    c.check(len(fits) == 1 and got == sorted(got, key=lambda e: e[:2]),
            "every clock, note-on and note-off on its schedule's frame, in order, with the "
            "export's notes on channel %d%s, %s" % (
                channel, ", retimed from the step after the tempo change" if ups else "", what),
            "%d events; retimed at %s; first difference %s" % (
                len(got), fits, next(((a, b) for a, b in zip(sorted(got), want) if a != b),
                                     None)))
    # the presses, read in the server's frames as each was sent: the program takes each up at
    # its next loop pass and MIDI out in the next cycle. The two ways differ by less than a
    # cycle and what a busy machine adds to one reaction and not the other (up to 0.1 s), less
    # than a Stop kept for the next beat (0.27 s at 220 BPM) or bar would wait
    # Start lies --midi-offset into the cycle the start was taken up in; Stop at the head of one
    delay = round(int(extra[3]) * rate / 1000) if "--midi-offset" in extra else 0
    c.check(starts[0] % PERIOD == delay % PERIOD and stops[0] % PERIOD == 0,
            "Start %d frames into its cycle, Stop at the head of one, %s" % (delay, what),
            "Start at frame %d, Stop at %d of the capture" % (starts[0], stops[0]))
    check_timing(s, c, abs(stop - played) < PERIOD + rate // 10,
                 "Stop in the first cycle after the press, " + what,
                 "Stop %d frames after Start, %d between the presses" % (stop, played))
    # its filter follows the server's estimate of time, which a loaded machine moves
    check_timing(s, c, mclk is not None and abs(mclk - tempo - ups) <= 0.1,
                 "jack_mclk_dump reads %g BPM within 0.1, %s" % (tempo + ups, what),
                 "read %s" % mclk)
    c.check("pocketdrum:" not in said, "nothing told, " + what, said[-300:])


def body(s, c, args):
    for n, case in enumerate(CASES):
        one_case(s, c, n, case)


if __name__ == "__main__":
    raise SystemExit(run("e2e_midi_out", body))

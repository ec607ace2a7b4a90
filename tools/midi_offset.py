#!/usr/bin/env python3
"""How far the sound lies behind the MIDI notes, on one clock.

The sound and the MIDI leave the machine on two clocks (the sound device's, JACK's). To hear
both on one, a JACK server runs on its dummy driver under a private name, the PulseAudio server
of tests/e2e/session.py loads module-jack-sink so that the program's sound goes into JACK, and a
JACK client of this script's own records that sink's output and the program's midi_out port in
the same process callback, frame by frame. The program plays a closed hat on every step from a
pattern file with --midi-out; each MIDI note-on is paired with the first hit heard after it, and
the distance (sound less MIDI) is printed: median, 5th and 95th percentile, largest, in ms, and
the --midi-offset that lines them up (the median, rounded, within -50..50).

    tools/midi_offset.py [--program build/pocketdrum] [--seconds 20] [--bpm 94] [--rate 44100]
                         [--period 256] [--sample-exact]

Needs jackd2, pulseaudio-module-jack and python3-jack-client (Debian's Python).
"""

import argparse
import array
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

import jack  # noqa: E402
from session import Session, detect_onsets, percentile  # noqa: E402

SINK = "PulseAudio JACK Sink"


def record(client, seconds, s):
    """Plays for seconds and returns (audio as interleaved 16-bit stereo, note-on frames)."""
    left, right = client.inports.register("left"), client.inports.register("right")
    midi = client.midi_inports.register("midi")
    frames, notes, blocks = [0], [], []

    @client.set_process_callback
    def process(count):
        for at, buffer in midi.incoming_midi_events():
            data = bytes(buffer)
            if len(data) == 3 and data[0] & 0xF0 == 0x90 and data[2] > 0:
                notes.append(frames[0] + at)
        blocks.append((bytes(left.get_buffer()), bytes(right.get_buffer())))
        frames[0] += count

    client.activate()
    client.connect(SINK + ":front-left", left)
    client.connect(SINK + ":front-right", right)
    client.connect("pocketdrum:midi_out", midi)
    s.key("space")
    time.sleep(seconds)
    s.key("space")
    time.sleep(0.5)
    client.deactivate()
    out = array.array("h")
    for a, b in blocks:
        fa, fb = array.array("f", a), array.array("f", b)
        for x, y in zip(fa, fb):
            out.append(max(-32768, min(32767, int(x * 32767))))
            out.append(max(-32768, min(32767, int(y * 32767))))
    return out, notes


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--program", default=os.path.join(REPO, "build", "pocketdrum"))
    p.add_argument("--seconds", type=float, default=20)
    p.add_argument("--bpm", type=float, default=94)
    p.add_argument("--rate", type=int, default=44100)
    p.add_argument("--period", type=int, default=256)
    p.add_argument("--sample-exact", action="store_true")
    args = p.parse_args()
    server = "pocketdrum-offset"
    os.environ.update(JACK_DEFAULT_SERVER=server, JACK_NO_START_SERVER="1",
                      JACK_NO_AUDIO_RESERVATION="1")
    jackd = subprocess.Popen(["jackd", "-R", "-d", "dummy", "-r", str(args.rate), "-p",
                              str(args.period)], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        subprocess.run(["jack_wait", "-w", "-t", "20"], check=True, capture_output=True)
        with Session(args.program, REPO, pulse_latency_ms=None) as s:
            subprocess.run(["pactl", "load-module", "module-jack-sink", "sink_name=jack",
                            "connect=no", "channels=2"], env=s.env, check=True,
                           capture_output=True)
            beat = os.path.join(s.dir, "hat.pdrum")
            with open(beat, "w") as f:
                f.write("pocketdrum pattern 1\ntempo %g\nshuffle off\n" % args.bpm +
                        "................\nxxxxxxxxxxxxxxxx\n" + "................\n" * 8)
            s.stop_program()
            s.program_env["PULSE_SINK"] = "jack"
            s.start_program(["--midi-out"] + (["--sample-exact"] if args.sample_exact else []) +
                            [beat])
            client = jack.Client("offset-meter", no_start_server=True)
            sound, notes = record(client, args.seconds, s)
            client.close()
    finally:
        jackd.terminate()
        jackd.wait(10)
    hits = detect_onsets(sound, refractory_ms=25.0 * 44100 / args.rate)
    ms = 1000.0 / args.rate
    offsets = []
    for n in notes:
        after = [h for h in hits if h >= n]
        if after and after[0] - n < args.rate // 4:
            offsets.append((after[0] - n) * ms)
    if not offsets:
        print("no note paired with a hit: %d notes, %d hits" % (len(notes), len(hits)))
        return 1
    offsets.sort()
    mid = percentile(offsets, 50)
    print("%s, %g BPM, %d Hz, %d-frame cycles: %d notes, %d hits, %d paired" % (
        "--sample-exact" if args.sample_exact else "default", args.bpm, args.rate, args.period,
        len(notes), len(hits), len(offsets)))
    print("sound after MIDI: median %.1f ms, 5%% %.1f, 95%% %.1f, largest %.1f; "
          "--midi-offset %d" % (mid, percentile(offsets, 5), percentile(offsets, 95),
                                offsets[-1], max(-50, min(50, round(mid)))))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())

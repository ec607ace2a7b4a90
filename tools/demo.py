#!/usr/bin/env python3
"""A demo of the drum machine for a machine without a display.

Runs the program in a window under Xvfb, playing into a PulseAudio null sink that parec records
(the machinery of tests/e2e/session.py): preset B for two bars, then, still playing, Tab held
with b twice for preset A with shuffle, two bars of that, stop, quit. Writes demo.wav and PNG
screenshots of the playing grid into a folder and names it on standard output.

    tools/demo.py PROGRAM [OUTPUT_FOLDER]
"""

import os
import sys
import tempfile
import time
import wave

sys.dont_write_bytecode = True
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))

from session import CHANNELS, RATE, STEP_MS_94, Session, SessionError  # noqa: E402

BAR_S = 16 * STEP_MS_94 / 1000.0  # 2.55 s at 94 BPM, with or without shuffle


def play_bars(s, out, name, bars, shots):
    """Lets the machine play for bars bars, taking shots screenshots spread over them."""
    files = []
    began = time.monotonic()
    for i in range(shots):
        at = began + (i + 0.5) * bars * BAR_S / shots
        time.sleep(max(0.0, at - time.monotonic()))
        path = os.path.join(out, "%s-%d.png" % (name, i + 1))
        s.capture().save_png(path)
        files.append(os.path.basename(path))
    time.sleep(max(0.0, began + bars * BAR_S - time.monotonic()))
    return files


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: tools/demo.py PROGRAM [OUTPUT_FOLDER]")
    program = os.path.abspath(sys.argv[1])
    out = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else tempfile.mkdtemp(
        prefix="pocketdrum-demo-")
    os.makedirs(out, exist_ok=True)
    print("No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so instead of opening "
          "a window the drum machine plays a demo under Xvfb into a recording sound server.",
          flush=True)
    files = []
    try:
        with Session(program, REPO) as s:
            files.append(_shot(s, out, "start.png"))
            began, _ = s.keydown("space")
            s.keyup("space")
            print("Playing preset B for two bars...", flush=True)
            files += play_bars(s, out, "presetB", 2, 4)
            s.keydown("Tab")
            s.key("b", "b", delay_ms=40)
            s.keyup("Tab")
            print("Playing preset A with shuffle for two bars...", flush=True)
            files += play_bars(s, out, "presetA-shuffle", 2, 4)
            s.keydown("space")
            s.keyup("space")
            time.sleep(0.6)  # the last hits ring out
            ended = time.monotonic()
            s.key("Escape")
            s.wait_exit(5)
            _, _, sound = s.sound(began - 0.2, ended)
            path = os.path.join(out, "demo.wav")
            with wave.open(path, "wb") as w:
                w.setnchannels(CHANNELS)
                w.setsampwidth(2)
                w.setframerate(RATE)
                data = sound
                if sys.byteorder != "little":
                    data = type(sound)(sound)
                    data.byteswap()
                w.writeframes(data.tobytes())
            files.insert(0, "demo.wav")
    except SessionError as e:
        sys.exit("The demo could not run: %s" % e)
    print("Demo written to %s: %s" % (out, ", ".join(files)))
    return 0


def _shot(s, out, name):
    s.capture().save_png(os.path.join(out, name))
    return name


if __name__ == "__main__":
    sys.exit(main())

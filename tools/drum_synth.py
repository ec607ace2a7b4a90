#!/usr/bin/python3
"""Synthesises the marrowby drum kit and encodes it as Ogg Vorbis.

Every sound is built from oscillators, noise and simple filters; nothing is sampled.
Output is mono, 44.1 kHz. Each sound has a fixed noise seed, and oggenc gets a
fixed stream serial, so the files come out the same on every run.

Usage: drum_synth.py OUTPUT_DIR
"""

import os
import subprocess
import sys
import tempfile
import wave

import numpy as np

RATE = 44100
TARGET_PEAK_DBFS = -0.8  # after Vorbis decoding; leaves room for codec overshoot
FADE_IN_SAMPLES = 8  # removes any step at the very first sample
# Exact zeros before the attack, one short Vorbis block (2.9 ms): without them the
# codec smears the attack onto the first decoded samples, which then click.
LEAD_SILENCE_SAMPLES = 128
TAIL_SILENCE_S = 0.01  # exact zeros after the fade so the codec tail settles


def time_axis(seconds):
    return np.arange(int(seconds * RATE)) / RATE


def decay(t, tau):
    """Exponential envelope; tau in seconds (-8.7 dB per tau)."""
    return np.exp(-t / tau)


def sweep_phase(freq):
    """Phase in radians of an oscillator whose frequency (Hz per sample) varies."""
    return 2 * np.pi * np.cumsum(freq) / RATE


def square(freq_hz, t):
    """Band-limited square wave: odd harmonics up to just below Nyquist."""
    out = np.zeros_like(t)
    k = 1
    while k * freq_hz < RATE * 0.45:
        out += np.sin(2 * np.pi * k * freq_hz * t) / k
        k += 2
    return out * (4 / np.pi)


def biquad(x, kind, fc, q=0.707):
    """RBJ cookbook 2-pole filter; kind is 'lp', 'hp' or 'bp'; fc in Hz."""
    w0 = 2 * np.pi * fc / RATE
    alpha = np.sin(w0) / (2 * q)
    cw = np.cos(w0)
    if kind == "lp":
        b = [(1 - cw) / 2, 1 - cw, (1 - cw) / 2]
    elif kind == "hp":
        b = [(1 + cw) / 2, -(1 + cw), (1 + cw) / 2]
    elif kind == "bp":
        b = [alpha, 0.0, -alpha]
    else:
        raise ValueError(kind)
    a0 = 1 + alpha
    a1, a2 = -2 * cw / a0, (1 - alpha) / a0
    b0, b1, b2 = b[0] / a0, b[1] / a0, b[2] / a0
    y = np.zeros_like(x)
    x1 = x2 = y1 = y2 = 0.0
    for i, xi in enumerate(x):
        yi = b0 * xi + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2
        x2, x1, y2, y1 = x1, xi, y1, yi
        y[i] = yi
    return y


def metal(t, freqs):
    """Inharmonic cluster of square oscillators: the raw material of cymbals."""
    return sum(square(f, t) for f in freqs) / len(freqs)


def noise(rng, n):
    return rng.uniform(-1.0, 1.0, n)


# Each voice returns a float array; finishing, gain and encoding are shared.


def open_hat(rng):
    t = time_axis(0.75)
    tone = metal(t, [307.9, 456.6, 554.4, 784.1, 810.0, 1200.0])
    src = 0.8 * tone + 0.35 * noise(rng, len(t))
    src = biquad(biquad(src, "hp", 7000), "hp", 7000)
    return src * decay(t, 0.13)


def closed_hat(rng):
    t = time_axis(0.1)
    tone = metal(t, [307.9, 456.6, 554.4, 784.1, 810.0, 1200.0])
    src = 0.8 * tone + 0.35 * noise(rng, len(t))
    src = biquad(biquad(src, "hp", 7500), "hp", 7500)
    return src * decay(t, 0.0075)


def bass_drum(rng):
    t = time_axis(0.6)
    freq = 50 + 100 * decay(t, 0.035)  # 150 Hz falling to 50 Hz
    body = np.sin(sweep_phase(freq)) * decay(t, 0.22)
    click = biquad(noise(rng, len(t)), "lp", 2500) * decay(t, 0.002)
    return np.tanh(1.6 * (body + 0.12 * click))


def snare(rng):
    t = time_axis(0.35)
    freq = 190 + 40 * decay(t, 0.012)
    body = np.sin(sweep_phase(freq)) + 0.45 * np.sin(sweep_phase(freq * 1.6))
    body *= decay(t, 0.055)
    hiss = biquad(biquad(noise(rng, len(t)), "hp", 1500), "lp", 9000) * decay(t, 0.085)
    return 0.75 * body + 1.0 * hiss


def rim_snare(rng):
    """Tight, high, short: a piccolo snare struck on the rim."""
    t = time_axis(0.22)
    freq = 330 + 60 * decay(t, 0.006)
    body = np.sin(sweep_phase(freq)) + 0.6 * np.sin(sweep_phase(freq * 1.57))
    body *= decay(t, 0.03)
    hiss = biquad(biquad(noise(rng, len(t)), "hp", 3500), "hp", 3500) * decay(t, 0.04)
    crack = biquad(noise(rng, len(t)), "bp", 1800, 2.0) * decay(t, 0.004)
    return 0.7 * body + 0.9 * hiss + 0.8 * crack


def clap_snare(rng):
    """Hand clap: a few mid-band noise bursts followed by a short room tail."""
    t = time_axis(0.42)
    env = np.zeros_like(t)
    for start in (0.0, 0.010, 0.021):
        dt = t - start
        env += np.where(dt >= 0, decay(np.maximum(dt, 0), 0.0035), 0.0)
    dt = t - 0.03
    env += 0.7 * np.where(dt >= 0, decay(np.maximum(dt, 0), 0.09), 0.0)
    src = biquad(biquad(noise(rng, len(t)), "bp", 1150, 1.2), "bp", 1150, 1.2)
    return src * env


def fat_snare(rng):
    """Low, loose snare with dark noise and a longer ring."""
    t = time_axis(0.55)
    freq = 155 + 35 * decay(t, 0.02)
    body = np.sin(sweep_phase(freq)) + 0.3 * np.sin(sweep_phase(freq * 1.48))
    body *= decay(t, 0.1)
    hiss = biquad(biquad(noise(rng, len(t)), "lp", 3200), "hp", 400) * decay(t, 0.15)
    return 0.8 * body + 1.5 * hiss


def ride(rng):
    t = time_axis(1.4)
    tone = metal(t, [436.0, 571.0, 689.0, 913.0, 1047.0, 1378.0])
    bell = (
        np.sin(2 * np.pi * 3210 * t)
        + 0.7 * np.sin(2 * np.pi * 4690 * t)
        + 0.5 * np.sin(2 * np.pi * 6130 * t)
    ) * decay(t, 0.45)
    wash = biquad(noise(rng, len(t)), "hp", 6000) * decay(t, 0.3)
    src = 0.8 * tone * decay(t, 0.38) + 0.25 * bell + 0.2 * wash
    return biquad(biquad(src, "hp", 4000), "hp", 4000)


def floor_tom(rng):
    t = time_axis(0.8)
    freq = 92 + 28 * decay(t, 0.06)  # settles on about 92 Hz
    body = np.sin(sweep_phase(freq)) + 0.2 * np.sin(sweep_phase(freq * 1.5)) * decay(t, 0.08)
    body *= decay(t, 0.2)
    thump = biquad(noise(rng, len(t)), "lp", 1500) * decay(t, 0.006)
    return np.tanh(1.3 * (body + 0.15 * thump))


def conga_filtered(rng):
    t = time_axis(0.35)
    freq = 300 + 40 * decay(t, 0.015)  # settles on about 300 Hz
    phase = sweep_phase(freq)
    body = (np.sin(phase) + 0.3 * np.sin(2 * phase)) * decay(t, 0.075)
    slap = biquad(noise(rng, len(t)), "bp", 2000, 1.0) * decay(t, 0.004)
    src = body + 0.3 * slap
    return biquad(biquad(src, "lp", 1100), "lp", 1100)


KIT = [
    ("01-openhat", open_hat),
    ("02-closedhat", closed_hat),
    ("03-bassdrum", bass_drum),
    ("04-snare", snare),
    ("05-altsnare", rim_snare),
    ("06-altsnare2", clap_snare),
    ("07-ridecym", ride),
    ("08-floortom", floor_tom),
    ("09-congafiltered", conga_filtered),
    ("10-altsnare3", fat_snare),
]


def finish(x):
    """Zero mean, click-free ends, exact-zero tail, peak at 1.0."""
    x = np.asarray(x, dtype=np.float64).copy()
    n = len(x)
    fade_out = max(16, n // 10)
    win = np.ones(n)
    win[:FADE_IN_SAMPLES] = 0.5 - 0.5 * np.cos(np.pi * np.arange(FADE_IN_SAMPLES) / FADE_IN_SAMPLES)
    win[-fade_out:] = 0.5 + 0.5 * np.cos(np.pi * np.arange(1, fade_out + 1) / fade_out)
    x *= win
    # Subtracting a Hann-shaped bump keeps both ends at zero while removing DC.
    bump = np.hanning(n)
    x -= bump * (x.sum() / bump.sum())
    x = np.concatenate([np.zeros(LEAD_SILENCE_SAMPLES), x, np.zeros(int(TAIL_SILENCE_S * RATE))])
    return x / np.max(np.abs(x))


def write_wav(path, x):
    pcm = np.round(np.clip(x, -1.0, 1.0) * 32767).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm.tobytes())


def decoded_peak(ogg_path, tmp):
    raw = os.path.join(tmp, "decoded.raw")
    subprocess.run(["oggdec", "-Q", "-R", "-b", "16", "-e", "0", "-s", "1", "-o", raw, ogg_path],
                   check=True)
    pcm = np.fromfile(raw, dtype="<i2").astype(np.float64) / 32768
    return np.max(np.abs(pcm))


def encode(x, ogg_path, serial, tmp):
    wav = os.path.join(tmp, "voice.wav")
    write_wav(wav, x)
    subprocess.run(["oggenc", "-Q", "-q", "4", "-s", str(serial), "-o", ogg_path, wav], check=True)


def main(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    target = 10 ** (TARGET_PEAK_DBFS / 20)
    with tempfile.TemporaryDirectory() as tmp:
        for index, (name, voice) in enumerate(KIT):
            x = finish(voice(np.random.default_rng(1000 + index)))
            path = os.path.join(out_dir, name + ".ogg")
            # The codec moves the peak a little; measure and correct the gain until
            # the decoded peak is within 0.1 dB of the target.
            gain = target
            best_gain, best_err = gain, None
            for _ in range(8):
                encode(x * gain, path, 7000 + index, tmp)
                peak = decoded_peak(path, tmp)
                err = abs(20 * np.log10(peak / target))
                if best_err is None or err < best_err:
                    best_gain, best_err = gain, err
                if err < 0.1:
                    break
                gain *= target / peak
            encode(x * best_gain, path, 7000 + index, tmp)
            peak_db = 20 * np.log10(decoded_peak(path, tmp))
            print(f"{name}: {len(x) / RATE:.3f} s, decoded peak {peak_db:.2f} dBFS")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])

"""The drum machine as a person meets it: a real window, real keys, recorded sound.

A Session starts, on its own and for itself alone:
  - Xvfb on a free display number (the server picks it and reports it through -displayfd);
  - a PulseAudio server with a null sink "rec", its own runtime folder and socket, anonymous
    access, no system daemon;
  - parec recording the sink's monitor as raw 16-bit stereo at 44100 Hz into a file;
  - the program, with the repository root as its working directory unless told another.
It drives the program with xdotool, captures the window with ImageMagick's import, and reads the
recording back. Everything it starts it stops by process id, and it removes its folder.

Only the Python standard library is used.
"""

import array
import bisect
import ctypes
import ctypes.util
import glob
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

RATE = 44100  # Hz, the program's output rate and the sink's
CHANNELS = 2
FRAME_BYTES = 2 * CHANNELS

# The physics that every tolerance is made of.
AUDIO_PERIOD_MS = 512 * 1000.0 / RATE  # one mixer buffer, 11.61 ms: a hit starts on its boundary
FRAME_MS = 1000.0 / 60  # one display frame at 60 Hz: an event waits at most this for the loop
# A busy machine keeps the threads of the program, the display server and the sound server
# waiting for a processor now and then, each wait taking the hits due meanwhile a buffer or two
# late. A hit just before which one of them waited this long without a break (ms) is not judged
# for its timing: the machine delayed it, not the program.
WAIT_LIMIT_MS = AUDIO_PERIOD_MS / 2

STEP_MS_94 = 15000.0 / 94  # one sixteenth at the start-up tempo

# The program's grid, in screen pixels.
CELL = 13


def cell_origin(col, row):
    return 61 + 16 * col, 63 + 17 * row


# The cursor frame's four bars around cell (col, row): x, y, w, h.
def cursor_bars(col, row):
    x, y = 16 * col, 17 * row
    return [(59 + x, 61 + y, 17, 2), (59 + x, 63 + y, 2, 15), (74 + x, 63 + y, 2, 15),
            (61 + x, 76 + y, 13, 2)]


PRESET_A = ["0000000000000010", "1010101010101000", "1000001000100110", "0000100000001000",
            "0000000000000001", "1000100100001000", "1000001000100010", "0100000000010000",
            "0000100000000000", "0000001001000000"]
PRESET_B = ["1000100000001000", "0010001010100010", "1000000100010000", "0000100000001000",
            "0000000001001001", "0000000100100010", "0010010010010010", "0000000100010000",
            "0010001010100010", "0000000100100000"]
EMPTY = ["0" * 16] * 10

# Where the labels stand (top-left of the text) and how far right each may reach.
STEP_LABEL = (2, 40, 56)
TEMPO_LABEL = (60, 40, 48)
SHUFFLE_LABEL = (109, 40, 30)
LABEL_HEIGHT = 11


def track_label(row):
    return 4, 65 + 17 * row, 54


REQUIRED_TOOLS = ["Xvfb", "pulseaudio", "pactl", "parec", "xdotool", "import"]


class SessionError(RuntimeError):
    pass


def require_tools():
    missing = [t for t in REQUIRED_TOOLS if shutil.which(t) is None]
    if missing:
        raise SessionError("missing programs: " + ", ".join(missing) +
                           " (scripts/deps.sh test installs them)")


def convert_program():
    # The real ImageMagick, whatever stands in front of it on the PATH.
    for name in ("/usr/bin/convert", "convert"):
        if shutil.which(name):
            return name
    raise SessionError("ImageMagick's convert is missing")


# ---------------------------------------------------------------- pictures


class Frame:
    """An RGB picture, 8 bits a channel, as captured from the window or read from a file."""

    def __init__(self, width, height, data):
        self.width = width
        self.height = height
        self.data = data

    @staticmethod
    def from_ppm(blob):
        # P6, then width, height and maxval separated by whitespace, then the pixels
        fields = []
        pos = 2
        while len(fields) < 3:
            while blob[pos:pos + 1].isspace():
                pos += 1
            if blob[pos:pos + 1] == b"#":
                pos = blob.index(b"\n", pos) + 1
                continue
            end = pos
            while not blob[end:end + 1].isspace():
                end += 1
            fields.append(int(blob[pos:end]))
            pos = end
        if blob[:2] != b"P6" or fields[2] != 255:
            raise SessionError("not an 8-bit PPM picture")
        pos += 1
        w, h = fields[0], fields[1]
        return Frame(w, h, blob[pos:pos + 3 * w * h])

    @staticmethod
    def from_file(path):
        out = subprocess.run([convert_program(), path, "-depth", "8", "ppm:-"],
                             capture_output=True, timeout=30, check=True).stdout
        return Frame.from_ppm(out)

    def px(self, x, y):
        i = 3 * (y * self.width + x)
        return self.data[i], self.data[i + 1], self.data[i + 2]

    def box(self, x, y, w, h):
        """Every (x, y, colour) of a rectangle, clipped to the picture."""
        for yy in range(max(0, y), min(self.height, y + h)):
            for xx in range(max(0, x), min(self.width, x + w)):
                yield xx, yy, self.px(xx, yy)

    def save_png(self, path):
        ppm = b"P6\n%d %d\n255\n" % (self.width, self.height) + self.data
        subprocess.run([convert_program(), "ppm:-", "png:" + path], input=ppm, timeout=30,
                       check=True)


def rgb565(c):
    """A colour as the 16-bit screen holds it: 5 bits red, 6 green, 5 blue."""
    return c[0] >> 3, c[1] >> 2, c[2] >> 3


def same_on_screen(seen, drawn):
    """True when a captured pixel is the drawn colour after the 16-bit round trip; one level of
    slack in each channel allows for any way of widening 5 and 6 bits back to 8."""
    a, b = rgb565(seen), rgb565(drawn)
    return all(abs(p - q) <= 1 for p, q in zip(a, b))


def is_red_cell(c):
    return same_on_screen(c, (192, 0, 0))


def is_green_cell(c):
    return same_on_screen(c, (0, 255, 0))


def is_white(c):
    return min(c) >= 240


def is_black(c):
    return max(c) <= 8


def cell_state(frame, col, row, background):
    """'red', 'green', 'well' (the background untouched) or 'other' for one cell's square."""
    x0, y0 = cell_origin(col, row)
    kinds = set()
    for x, y, c in frame.box(x0, y0, CELL, CELL):
        if is_red_cell(c):
            kinds.add("red")
        elif is_green_cell(c):
            kinds.add("green")
        elif background is not None and same_on_screen(c, background.px(x, y)):
            kinds.add("well")
        else:
            kinds.add("other")
        if len(kinds) > 1:
            return "other"
    return kinds.pop()


def grid_cells(frame, background):
    """The states of all 160 cells, rows of 16."""
    return [[cell_state(frame, c, r, background) for c in range(16)] for r in range(10)]


def grid_as_pattern(cells):
    return ["".join("1" if s in ("red", "green") else "0" for s in row) for row in cells]


def is_red_text(c):
    return same_on_screen(c, (255, 0, 0))


def text_mask(frame, x, y, width, background, lit_colour=is_white):
    """The set of text pixels (white, or as lit_colour says) in a label's box, leaving out the
    pixels where the background has that colour itself."""
    lit = set()
    for xx, yy, c in frame.box(x - 1, y - 1, width + 1, LABEL_HEIGHT + 1):
        if lit_colour(c) and not (background is not None and lit_colour(background.px(xx, yy))):
            lit.add((xx, yy))
    return lit


def shadow_ok(frame, lit):
    """The black shadow at (-1, -1): wherever a text pixel's upper-left neighbour is not text
    itself, that neighbour is black. Returns (pixels checked, pixels that were black)."""
    checked = black = 0
    for (x, y) in lit:
        if (x - 1, y - 1) in lit:
            continue
        checked += 1
        if is_black(frame.px(x - 1, y - 1)):
            black += 1
    return checked, black


def glyphs(lit):
    """The text pixels split into characters at empty columns, left to right; each glyph is a
    frozenset of (dx, dy) from its own left edge and the label's top row."""
    if not lit:
        return []
    top = min(y for _, y in lit)
    columns = sorted({x for x, _ in lit})
    runs = []
    for x in columns:
        if runs and x == runs[-1][-1] + 1:
            runs[-1].append(x)
        else:
            runs.append([x])
    out = []
    for run in runs:
        left = run[0]
        out.append(frozenset((x - left, y - top) for (x, y) in lit if left <= x <= run[-1]))
    return out


class Reader:
    """Reads the digits of the status labels, with glyphs learnt from the program's own track
    labels "sample 0" to "sample 9": the last character of each is its digit."""

    def __init__(self, frame, background):
        self.digits = {}
        for row in range(10):
            x, y, w = track_label(row)
            found = glyphs(text_mask(frame, x, y, w, background))
            if found:
                self.digits[found[-1]] = str(row)
        self.background = background

    def complete(self):
        return len(self.digits) == 10

    def read(self, frame, label, lit_colour=is_white):
        """The label's characters: digits as digits, anything else as '?'."""
        x, y, w = label
        lit = text_mask(frame, x, y, w, self.background, lit_colour)
        # glyphs are compared from the label's top row, the same for digits and track labels
        return "".join(self.digits.get(g, "?") for g in glyphs(lit))

    def digits_of(self, frame, label, lit_colour=is_white):
        return "".join(ch for ch in self.read(frame, label, lit_colour) if ch != "?")


# ---------------------------------------------------------------- sound


class Recording:
    """The raw recording of the sink's monitor: interleaved signed 16-bit stereo."""

    def __init__(self, path):
        self.path = path

    def frames_so_far(self):
        try:
            return os.path.getsize(self.path) // FRAME_BYTES
        except OSError:
            return 0

    def read(self, first=0, last=None):
        """Samples of frames first..last-1, interleaved."""
        with open(self.path, "rb") as f:
            f.seek(first * FRAME_BYTES)
            count = -1 if last is None else max(0, last - first) * FRAME_BYTES
            blob = f.read(count)
        blob = blob[:len(blob) - len(blob) % FRAME_BYTES]
        a = array.array("h")
        a.frombytes(blob)
        if sys.byteorder != "little":
            a.byteswap()
        return a


def block_peaks(samples, block):
    """The largest magnitude over both channels in each block of frames."""
    step = block * CHANNELS
    out = []
    for i in range(0, len(samples), step):
        part = samples[i:i + step]
        out.append(max(max(part), -min(part)))
    return out


def peak(samples):
    if not samples:
        return 0
    return max(max(samples), -min(samples))


def detect_onsets(samples, refractory_ms=25.0):
    """Frame indices where a hit starts.

    A hit starts where the level jumps to at least twice what it was over the one audio period
    before and stands well clear of the quiet tails (1/16 of the loudest hit). The previous hit
    of a track may still be sounding (the new hit cuts it), so 'after silence' is not required.
    The start is then placed on the first frame that rises above twice that earlier level (and
    above 1/128 of the loudest hit), which lands on the same point of the same waveform every
    time. refractory_ms is shorter than the closest two hits can come and longer than any
    attack."""
    block = 32  # frames, 0.73 ms
    peaks = block_peaks(samples, block)
    if not peaks:
        return []
    loudest = max(peaks)
    if loudest == 0:
        return []
    clear = max(loudest / 16.0, 16)
    floor = max(loudest / 128.0, 2)
    look_back = int(round(AUDIO_PERIOD_MS * RATE / 1000.0 / block))
    refractory = int(refractory_ms * RATE / 1000.0 / block)
    onsets = []
    last = -refractory - 1
    for k, p in enumerate(peaks):
        if p < clear or k - last <= refractory:
            continue
        before = max(peaks[max(0, k - look_back):k], default=0)
        if p < 2 * before:
            continue
        threshold = max(2 * before, floor)
        start = max(0, (k - 1) * block)
        at = None
        for n in range(start, (k + 1) * block):
            v = max(abs(samples[2 * n]), abs(samples[2 * n + 1]))
            if v > threshold:
                at = n
                break
        onsets.append(at if at is not None else k * block)
        last = k
    return onsets


def dropout_spans(samples, loud=100, shortest=8):
    """(first, end) frame indices of each place where the sound breaks off into exact silence
    while loud and resumes: the sink ran dry. A hit decays through small values before its chunk
    ends, so a jump from a level above loud straight to zero, lasting at least shortest frames,
    is a gap."""
    found = []
    n = 0
    frames = len(samples) // 2
    while n < frames:
        if samples[2 * n] != 0 or samples[2 * n + 1] != 0:
            n += 1
            continue
        m = n
        while m < frames and samples[2 * m] == 0 and samples[2 * m + 1] == 0:
            m += 1
        if m - n >= shortest and 0 < n and m < frames:
            before = peak(samples[2 * max(0, n - 8):2 * n])
            if before > loud:
                found.append((n, m))
        n = m
    return found


def dropouts(samples, loud=100, shortest=8):
    """Frame indices where the sink ran dry in mid-sound (see dropout_spans)."""
    return [n for n, _ in dropout_spans(samples, loud, shortest)]


def moved_runs(onsets, slack=16):
    """Where the buffer boundaries of the stream moved: the index i of the first onset of each
    run of hits-two-apart whose places modulo 512 differ.

    SDL mixes 512 frames at a time and a hit always starts at the head of a buffer, so while
    the stream runs unbroken every hit starts at the same place modulo 512. The detector puts
    the start of a hit at the same point of its waveform whenever what sounded before it is the
    same, which holds for every other hit (with shuffle the gaps before them alternate), so
    hits two apart are compared, to within slack frames. When the server plays a gap or drops
    frames that place moves. A program can only ever start a hit a whole number of buffers
    late, which moves nothing."""
    moved = [slack < (c - a) % 512 < 512 - slack for a, c in zip(onsets, onsets[2:])]
    return [i for i, m in enumerate(moved) if m and (i == 0 or not moved[i - 1])]


def stream_breaks(onsets, samples, slack=16):
    """How often the sound stream broke between the hits at frame indices onsets: each run of
    moved places, and each dropout. Neither is the program's doing."""
    return len(moved_runs(onsets, slack)) + len(dropouts(samples))


def stream_stretches(onsets, samples, slack=16):
    """For each onset, the number of the unbroken stretch of the stream it lies in, and the set
    of onsets that may be the stream resuming after a dropout rather than a hit.

    A run of moved places that starts at onset i (i and i + 2 differ, i - 1 and i + 1 agree)
    means the stream broke between onsets i + 1 and i + 2. After a dropout the stream goes on
    later than it would have; when the gap outlasts an audio period the sound coming back reads
    as a hit of its own, so an onset at the end of a gap is marked."""
    starts = {i + 2 for i in moved_runs(onsets, slack)}
    resumed = set()
    for first, end in dropout_spans(samples):
        later = [j for j, n in enumerate(onsets) if n >= first]
        if later:
            starts.add(later[0])
            resumed.update(j for j in later if onsets[j] <= end + 64)
    stretch, k = [], 0
    for j in range(len(onsets)):
        if j in starts:
            k += 1
        stretch.append(k)
    return stretch, resumed


def last_sound(samples, level=0):
    """The frame index just past the last frame whose magnitude exceeds level, or 0."""
    for n in range(len(samples) // 2 - 1, -1, -1):
        if abs(samples[2 * n]) > level or abs(samples[2 * n + 1]) > level:
            return n + 1
    return 0


def longest_wait(pids, last):
    """How long (ms) the thread of the processes pids that has waited longest for a processor
    without a break has been waiting, as of now, from the kernel's scheduler statistics (0 where
    it keeps none). A thread counts as waiting throughout the time between two calls when its
    total wait grew by at least half that time. last holds, between calls, the time of the call
    and each thread's total wait and current wait."""
    now = time.monotonic()
    since = now - last.get("at", now)
    last["at"] = now
    threads = []
    for pid in pids:
        try:
            threads += [(pid, tid) for tid in os.listdir("/proc/%d/task" % pid)]
        except OSError:
            pass
    longest = 0.0
    for pid, tid in threads:
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                total = int(f.read().split()[1]) / 1e6
        except (OSError, ValueError, IndexError):
            continue
        before, waiting = last.get((pid, tid), (total, 0.0))
        grew = total - before
        waiting = waiting + grew if grew >= 500.0 * since else 0.0
        last[(pid, tid)] = (total, waiting)
        longest = max(longest, waiting)
    return longest


class Waits:
    """How long the threads on a hit's way (the program's, the display server's, the sound
    server's) were kept waiting for a processor: each look (t, ms) says one of them had been
    waiting ms without a break at t (s on the monotonic clock)."""

    def __init__(self):
        self.times = []
        self.waited = []
        self.lock = threading.Lock()

    def look(self, t, ms):
        if ms > 0:
            with self.lock:
                self.times.append(t)
                self.waited.append(ms)

    def before(self, t):
        """The longest wait (ms) in the time that can delay a hit heard at t (s): from two audio
        periods before it (its step due, then a period of buffering) to half a period after (the
        recording's clock is that close)."""
        with self.lock:
            i = bisect.bisect_left(self.times, t - 2 * AUDIO_PERIOD_MS / 1000.0)
            j = bisect.bisect_right(self.times, t + AUDIO_PERIOD_MS / 2000.0)
            return max(self.waited[i:j], default=0.0)


class Timeline:
    """time = origin + frame / rate, in s on the monotonic clock."""

    def __init__(self, origin, rate):
        self.origin = origin
        self.rate = rate

    def time(self, frame):
        return self.origin + frame / self.rate

    def frame(self, t):
        return int(round((t - self.origin) * self.rate))


class RecordingClock:
    """When each recorded frame was recorded.

    The sink's clock is not quite the system's: PulseAudio's null sink renders a few hundred
    ppm more frames than real time while a client asks for short blocks (it rounds each block's
    length down to whole microseconds), so frame n is not at start + n / 44100 s. Instead the
    length of the recording is looked at every few ms: each look (t, n) says frames up to n had
    been recorded by t. In every quarter second the look that found the most frames for its time
    is the least delayed, and a straight line through those, fitted over the span in question
    and kept to their lower edge, maps frames to times."""

    WINDOW = 0.25  # s

    def __init__(self):
        self.looks = []
        self.lock = threading.Lock()

    def look(self, t, n):
        with self.lock:
            self.looks.append((t, n))

    def fit(self, t_from, t_to):
        with self.lock:
            looks = [(t, n) for t, n in self.looks if t_from - 1.0 <= t <= t_to + 1.0 and n > 0]
            if len(looks) < 2:
                looks = self.looks[-2000:]
        if not looks:
            raise SessionError("nothing recorded yet")
        best = {}
        for t, n in looks:
            k = int(t // self.WINDOW)
            lag = t - n / float(RATE)
            if k not in best or lag < best[k][0]:
                best[k] = (lag, t, n)
        points = [(n, t) for _, t, n in best.values()]
        if len(points) < 3:
            n, t = min(points, key=lambda p: p[1] - p[0] / float(RATE))
            return Timeline(t - n / float(RATE), float(RATE))
        ns = [p[0] for p in points]
        ts = [p[1] for p in points]
        a, b = fit_line(ns, ts)
        for _ in range(3):
            # keep to the lower edge: the looks that came late lie above the line
            res = [t - (a + b * n) for n, t in points]
            cut = median(res)
            kept = [(n, t) for (n, t), r in zip(points, res) if r <= cut]
            if len(kept) < 3:
                break
            a, b = fit_line([p[0] for p in kept], [p[1] for p in kept])
        res = [t - (a + b * n) for n, t in points]
        a += min(res)
        return Timeline(a, 1.0 / b)


# ---------------------------------------------------------------- grids


def fit_line(ks, ts):
    n = len(ks)
    mk = sum(ks) / n
    mt = sum(ts) / n
    sxx = sum((k - mk) ** 2 for k in ks)
    sxy = sum((k - mk) * (t - mt) for k, t in zip(ks, ts))
    slope = sxy / sxx
    return mt - slope * mk, slope


def least(f, centre, reach):
    """The x within centre +- reach at which the convex function f is least (ternary search,
    to a millionth of reach)."""
    lo, hi = centre - reach, centre + reach
    for _ in range(40):
        a, b = lo + (hi - lo) / 3, hi - (hi - lo) / 3
        if f(a) <= f(b):
            hi = b
        else:
            lo = a
    return (lo + hi) / 2


def solve(m, v):
    """Solves a small linear system by Gaussian elimination with partial pivoting."""
    n = len(v)
    a = [list(row) + [x] for row, x in zip(m, v)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(a[r][c]))
        a[c], a[p] = a[p], a[c]
        for r in range(c + 1, n):
            f = a[r][c] / a[c][c]
            for j in range(c, n + 1):
                a[r][j] -= f * a[c][j]
    out = [0.0] * n
    for r in range(n - 1, -1, -1):
        out[r] = (a[r][n] - sum(a[r][j] * out[j] for j in range(r + 1, n))) / a[r][r]
    return out


class Grid:
    """A straight grid fitted by least squares to onset times (ms).

    Plain: t = origin + period * k. With shuffle the steps come in pairs of two step lengths
    split long : short, so t = origin + 2 * period * (k // 2) + long * (k % 2), k = 0 being the
    first step of a pair (the program's odd steps, column 0 among them).

    stretch gives for each onset the unbroken stretch of the sound stream it was recorded in
    (Take.stretch). When the sound server breaks the stream, everything after the break is
    heard shifted, so each stretch has an origin of its own; the period (and long) are common
    to all. wild holds (time, stretch) of onsets that may be the stream resuming after a gap
    rather than hits: they may fill a place on the grid but are neither fitted nor judged.
    delayed marks the hits the machine delayed (Take.delayed): they fill their places and are
    fitted, but neither their distance from the grid nor the gaps beside them are judged."""

    def __init__(self, times, period, shuffle=False, stretch=None, wild=(), delayed=None):
        self.shuffle = shuffle
        self.times = list(times)
        self.stretch = list(stretch) if stretch is not None else [0] * len(self.times)
        self.delayed = list(delayed) if delayed is not None else [False] * len(self.times)
        self.wild = list(wild)
        self.period = period
        self.long = 1.25 * period
        # a break shifts the stream by less than a step, so one origin numbers every stretch
        self.origins = {k: self.times[0] for k in set(self.stretch)}
        # Number the hits a stretch at a time, refitting as the stretch doubles, so that a
        # spacing somewhat off the one expected does not add up to a wrong number far on.
        all_times, all_stretch = self.times, self.stretch
        m = 8
        while m < len(all_times):
            self.times, self.stretch = all_times[:m], all_stretch[:m]
            self.index = [self._nearest(t, s) for t, s in zip(self.times, self.stretch)]
            self._fit()
            m *= 2
        self.times, self.stretch = all_times, all_stretch
        for _ in range(4):
            self.index = [self._nearest(t, s) for t, s in zip(self.times, self.stretch)]
            self._fit()
        self.residuals = [t - self.at(k, s)
                          for t, k, s in zip(self.times, self.index, self.stretch)]
        self._centred = None

    @property
    def origin(self):
        return self.origins[self.stretch[0]]

    def at(self, k, stretch=None):
        origin = self.origins.get(stretch, self.origin)
        if not self.shuffle:
            return origin + self.period * k
        return origin + 2 * self.period * (k // 2) + self.long * (k % 2)

    def _nearest(self, t, stretch):
        origin = self.origins.get(stretch, self.origin)
        if not self.shuffle:
            return int(round((t - origin) / self.period))
        pair = int((t - origin + self.period) // (2 * self.period))
        best = None
        for k in (2 * pair - 2, 2 * pair - 1, 2 * pair, 2 * pair + 1, 2 * pair + 2):
            if best is None or abs(self.at(k, stretch) - t) < abs(self.at(best, stretch) - t):
                best = k
        return best

    def _regressors(self, k):
        return [2.0 * (k // 2), float(k % 2)] if self.shuffle else [float(k)]

    def _within(self):
        """The regressors and times less their means over each stretch: what is left for the
        common slopes once every stretch has its own origin."""
        groups = {}
        for k, t, s in zip(self.index, self.times, self.stretch):
            groups.setdefault(s, []).append((self._regressors(k), t))
        rows = []
        means = {}
        for s, members in groups.items():
            n = float(len(members))
            mx = [sum(x[i] for x, _ in members) / n for i in range(len(members[0][0]))]
            mt = sum(t for _, t in members) / n
            means[s] = (mx, mt)
            rows += [([xi - mi for xi, mi in zip(x, mx)], t - mt) for x, t in members]
        return rows, means

    def _fit(self):
        if len(self.times) < 3:
            return
        rows, means = self._within()
        width = len(rows[0][0])
        m = [[sum(x[i] * x[j] for x, _ in rows) for j in range(width)] for i in range(width)]
        v = [sum(x[i] * t for x, t in rows) for i in range(width)]
        if any(m[i][i] == 0 for i in range(width)):
            return
        slopes = solve(m, v)
        if self.shuffle:
            self.period, self.long = slopes
        else:
            self.period = slopes[0]
        for s, (mx, mt) in means.items():
            self.origins[s] = mt - sum(b * x for b, x in zip(slopes, mx))

    def period_sigma(self):
        """The standard error of the fitted step length (ms), from the scatter of the hits."""
        n = len(self.times)
        if n < 4:
            return float("nan")
        free = (2 if self.shuffle else 1) + len(self.origins)
        var = sum(r * r for r in self.residuals) / max(1, n - free)
        rows, _ = self._within()
        spread = sum(x[0] ** 2 for x, _ in rows)
        return (var / spread) ** 0.5

    def centred(self):
        """Each onset's distance from its place (ms) on the straight grid on which the largest
        such distance is least: each stretch's origin midway between its earliest and latest
        onset, and the step length (and the first of a pair) chosen to make the widest stretch
        narrowest.

        A hit sounds at the first buffer head after its step is due, so it comes 0 to 1 audio
        period after its place on the step clock's grid, and how far depends on where the step
        falls among the buffers. Where a step length is close to a whole number of buffers (a
        beat at 94 BPM is 54.98) that offset creeps by a fraction of a ms a step and wraps by a
        whole period now and then. The least-squares origin sits at the mean offset, which a
        wrap near one end of a take puts almost a period away from the few hits before it; and
        a hit or two a buffer late tilt the least-squares step, which takes the hits at both
        ends a little further out. Midway between the extremes, at the step length that makes
        them closest, is the straight grid on which every hit is nearest its place."""
        if self._centred is None:
            span = max(1, max(self.index) - min(self.index)) if self.index else 1
            reach = 8 * AUDIO_PERIOD_MS / span  # far wider than any tilt that could help

            def widest(slopes):
                return max((abs(r) for r, late in zip(self._centred_on(slopes), self.delayed)
                            if not late), default=0.0)

            if self.shuffle:
                def at_best_long(period):
                    return least(lambda lg: widest((period, lg)), self.long, AUDIO_PERIOD_MS)

                period = least(lambda p: widest((p, at_best_long(p))), self.period, reach)
                slopes = (period, at_best_long(period))
            else:
                slopes = (least(lambda p: widest((p,)), self.period, reach),)
            self._centred = self._centred_on(slopes)
        return self._centred

    def _centred_on(self, slopes):
        """The onsets' distances from a grid of the given step length (and first of a pair),
        each stretch's origin midway between its earliest and latest onset."""
        off = [t - sum(b * x for b, x in zip(slopes, self._regressors(k)))
               for t, k in zip(self.times, self.index)]
        low, high = {}, {}
        for r, s, late in zip(off, self.stretch, self.delayed):
            if not late:
                low[s] = min(low.get(s, r), r)
                high[s] = max(high.get(s, r), r)
        return [r - (low.get(s, r) + high.get(s, r)) / 2 for r, s in zip(off, self.stretch)]

    def worst(self):
        """The largest distance of a judged onset from its place on the grid (ms): see
        centred."""
        return max((abs(r) for r, late in zip(self.centred(), self.delayed) if not late),
                   default=0.0)

    def outliers(self, limit):
        """'k:distance' for each judged onset further than limit (ms) from its place (see
        centred)."""
        return " ".join("%d:%+.1f" % (k, r)
                        for k, r, late in zip(self.index, self.centred(), self.delayed)
                        if abs(r) > limit and not late)

    def judged(self, least=4):
        """How many onsets lie in stretches of at least least onsets: those whose place the
        grid really tests."""
        count = {}
        for s in self.stretch:
            count[s] = count.get(s, 0) + 1
        return sum(1 for s in self.stretch if count[s] >= least)

    def gaps(self):
        """(k, gap in ms) for each two onsets at neighbouring places k and k + 1 within a
        stretch, neither of them delayed by the machine."""
        out = []
        for i in range(len(self.times) - 1):
            if self.stretch[i] == self.stretch[i + 1] and self.index[i + 1] == self.index[i] + 1 \
                    and not (self.delayed[i] or self.delayed[i + 1]):
                out.append((self.index[i], self.times[i + 1] - self.times[i]))
        return out

    def slots(self):
        """(missing, doubled): grid places between the first and last onset with no onset, and
        onsets that share a place with another. A wild onset may fill a place, never double
        one."""
        seen = {}
        for k in self.index:
            seen[k] = seen.get(k, 0) + 1
        filled = set(seen) | {self._nearest(t, s) for t, s in self.wild}
        span = range(min(self.index), max(self.index) + 1)
        missing = sum(1 for k in span if k not in filled)
        doubled = sum(c - 1 for c in seen.values())
        return missing, doubled


def stream_held(c, take, grid, what=""):
    """Checks that enough of a take was heard unbroken for its grid to test the program: three
    quarters of the hits in stretches of four or more. The sound server, not the program, is
    what breaks the stream, so a break only narrows what can be judged."""
    return c.check(grid.judged() >= 0.75 * len(take.times),
                   what + "the hits were heard in unbroken stretches long enough to judge",
                   "%d of %d hits in stretches of 4 or more; %d breaks" %
                   (grid.judged(), len(take.times), take.breaks))


def percentile(values, q):
    s = sorted(values)
    if not s:
        return float("nan")
    i = min(len(s) - 1, max(0, int(round(q / 100.0 * (len(s) - 1)))))
    return s[i]


def median(values):
    s = sorted(values)
    n = len(s)
    if n == 0:
        return float("nan")
    return s[n // 2] if n % 2 else 0.5 * (s[n // 2 - 1] + s[n // 2])


class Pairing:
    """A live take's hits against an exported beat's, hit for hit (times in ms, each from its own
    origin). The export's hits lie where their steps are due; the live ones come up to an audio
    period later. With the first hits of the two lined up, each live hit is paired with the
    export's hit nearest to it.

    diffs: (index of the export's hit, live less export) for each pair, less the median of them
    all, so that the constant latency of the live path drops out. missing: export hits within the
    span of the pairs that no live hit took. doubled: live hits whose export hit was taken
    already. drift: the slope of the differences over the export's time, in ms per minute."""

    def __init__(self, live, exported):
        self.diffs, self.missing, self.doubled, self.drift = [], len(exported), 0, 0.0
        if not live or not exported:
            return
        offset = live[0] - exported[0]
        taken = {}
        for t in live:
            at = t - offset
            j = bisect.bisect_left(exported, at)
            if j == len(exported) or (j > 0 and at - exported[j - 1] <= exported[j] - at):
                j -= 1
            if j in taken:
                self.doubled += 1
            else:
                taken[j] = at - exported[j]
        centre = median(list(taken.values()))
        self.diffs = [(j, taken[j] - centre) for j in sorted(taken)]
        self.missing = max(taken) - min(taken) + 1 - len(taken)
        if len(taken) >= 2:
            _, slope = fit_line([exported[j] for j, _ in self.diffs], [d for _, d in self.diffs])
            self.drift = slope * 60000.0

    def worst(self):
        return max((abs(d) for _, d in self.diffs), default=float("nan"))


def period_tolerance(count):
    """How far a fitted period may stray when each of count onsets lies within one audio period
    of its place: least squares spreads that error over the span as at most 3 E / n."""
    return 3.0 * AUDIO_PERIOD_MS / max(1, count)


def split_tolerance(count):
    """How far the fitted length of the first step of a shuffled pair may stray. It is a
    difference of two onsets, each off by up to one audio period (uniform: a standard deviation
    of period / sqrt 12), averaged over count / 2 pairs; four standard deviations."""
    return 4.0 * AUDIO_PERIOD_MS / 12 ** 0.5 * (4.0 / max(1, count)) ** 0.5


# ---------------------------------------------------------------- X11 close request


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def _libx11():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return x11


def key_repeat(display):
    """(on, delay ms, interval ms): whether the X server repeats a held key, and how fast."""
    x11 = _libx11()
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise SessionError("cannot open display " + display)
    try:

        class KeyboardState(ctypes.Structure):
            _fields_ = [("key_click_percent", ctypes.c_int), ("bell_percent", ctypes.c_int),
                        ("bell_pitch", ctypes.c_uint), ("bell_duration", ctypes.c_uint),
                        ("led_mask", ctypes.c_ulong), ("global_auto_repeat", ctypes.c_int),
                        ("auto_repeats", ctypes.c_char * 32)]

        state = KeyboardState()
        x11.XGetKeyboardControl.argtypes = [ctypes.c_void_p, ctypes.POINTER(KeyboardState)]
        x11.XGetKeyboardControl(dpy, ctypes.byref(state))
        delay, interval = ctypes.c_uint(0), ctypes.c_uint(0)
        x11.XkbGetAutoRepeatRate.argtypes = [ctypes.c_void_p, ctypes.c_uint,
                                             ctypes.POINTER(ctypes.c_uint),
                                             ctypes.POINTER(ctypes.c_uint)]
        x11.XkbGetAutoRepeatRate(dpy, 0x100, ctypes.byref(delay), ctypes.byref(interval))
        return state.global_auto_repeat == 1, delay.value, interval.value
    finally:
        x11.XCloseDisplay(dpy)


def send_close_request(display, window):
    """What a window manager sends when the user closes a window: a ClientMessage of type
    WM_PROTOCOLS carrying WM_DELETE_WINDOW."""
    x11 = _libx11()
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise SessionError("cannot open display " + display)
    try:
        ev = _XEvent()
        ev.xclient.type = 33  # ClientMessage
        ev.xclient.send_event = 1
        ev.xclient.display = dpy
        ev.xclient.window = window
        ev.xclient.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        ev.xclient.format = 32
        ev.xclient.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        ev.xclient.data[1] = 0  # CurrentTime
        x11.XSendEvent(dpy, window, 0, 0, ctypes.byref(ev))
        x11.XFlush(dpy)
    finally:
        x11.XCloseDisplay(dpy)


# ---------------------------------------------------------------- the session


def _stop(proc, grace=3.0):
    """Ends one process that this module started, by its id: SIGTERM, then SIGKILL."""
    if proc is None or proc.poll() is not None:
        return
    try:
        os.kill(proc.pid, signal.SIGTERM)
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        os.kill(proc.pid, signal.SIGKILL)
        proc.wait(timeout=grace)
    except ProcessLookupError:
        pass


# The sound buffering the program's client asks the server for, in ms. SDL asks for a single
# 512-sample buffer (11.6 ms) and then writes each buffer only when the server has room for all
# of it, that is when the server's queue has run dry: on a busy machine its audio thread is then
# late now and then, the sink plays a gap of silence (a dropout, heard as a click and seen as a
# false hit) and the stream shifts against the clock. 20 ms leaves 8 ms to spare. SDL still
# mixes one 512-sample buffer at a time, once per 11.6 ms of sound, so a hit still starts on a
# buffer boundary and the timing quantum is the same.
PULSE_LATENCY_MS = 20


def sanitizer_env(env):
    """What the sanitizer build needs to run in a real window with real sound and still report
    the program's own leaks. The client libraries of the sound server and of D-Bus leave blocks
    behind at exit, and so does Mesa's software GL driver, which SDL unloads before the leak
    report so that its blocks could not be named; it is loaded up front to stay resident (the
    sanitizer runtime then no longer comes first, which it is told to accept). lsan.supp names
    those libraries and nothing of the program."""
    here = os.path.dirname(os.path.abspath(__file__))
    out = {"LSAN_OPTIONS": "suppressions=%s:print_suppressions=0" %
           os.path.join(here, "lsan.supp")}
    drivers = glob.glob("/usr/lib/*/dri/swrast_dri.so")
    if drivers:
        preload = env.get("LD_PRELOAD", "")
        out["LD_PRELOAD"] = (preload + " " + drivers[0]).strip()
        asan = env.get("ASAN_OPTIONS", "")
        out["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
    return out


class Session:
    """One display, one sound server, one recording and the program, started together.

    slow: a factor for waits on start-up (the sanitizer build starts slower).
    pulse_latency_ms: the buffering asked of the sound server for the program, or None for
    what SDL asks for itself.
    nice: a niceness for the program and the X server, or None.
    sanitized: the program is the sanitizer build (see sanitizer_env).
    cwd: the program's working directory, or None for the repository root.
    program_env: more variables for the program's environment (a preloaded library, say)."""

    def __init__(self, program, repo, slow=1.0, keep=False, nice=None,
                 pulse_latency_ms=PULSE_LATENCY_MS, sanitized=False, cwd=None, program_env=None):
        self.nice = nice
        self.program_env = dict(program_env or {})
        self.sanitized = sanitized
        self.pulse_latency_ms = pulse_latency_ms
        self.program = os.path.abspath(program)
        self.repo = os.path.abspath(repo)
        self.cwd = self.repo if cwd is None else os.path.abspath(cwd)
        self.slow = slow
        self.keep = keep
        self.dir = None
        self.xvfb = self.pulse = self.parec = self.proc = None
        self.display = None
        self.window = None
        self.env = None
        self.recording = None
        self._clock = None
        self._clock_stop = threading.Event()
        self.clock = RecordingClock()
        self.waits = Waits()
        self.out_path = self.err_path = None
        self.run_count = 0

    # --- bring-up

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def start(self, program=True):
        require_tools()
        self.dir = tempfile.mkdtemp(prefix="pocketdrum-e2e-")
        self._start_xvfb()
        self._start_pulse()
        self._start_recording()
        if program:
            self.start_program()

    def _start_xvfb(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "640x480x24", "-nolisten",
             "tcp", "-noreset"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
            preexec_fn=self._priority,
            stderr=open(os.path.join(self.dir, "xvfb.log"), "wb"))
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 20 * self.slow
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([read_fd], [], [], max(0.0, left))
            if not ready:
                os.close(read_fd)
                raise SessionError("Xvfb did not report a display number")
            chunk = os.read(read_fd, 16)
            if not chunk:
                os.close(read_fd)
                raise SessionError("Xvfb ended: " + self._log("xvfb.log"))
            number += chunk
        os.close(read_fd)
        self.display = ":" + number.decode().strip()

    def _start_pulse(self):
        runtime = os.path.join(self.dir, "pulse")
        os.makedirs(runtime, 0o700, exist_ok=True)
        self.socket = os.path.join(runtime, "native")
        script = os.path.join(self.dir, "server.pa")
        with open(script, "w") as f:
            f.write("load-module module-null-sink sink_name=rec rate=%d channels=%d norewinds=1\n" %
                    (RATE, CHANNELS))
            f.write("load-module module-native-protocol-unix auth-anonymous=1 socket=%s\n" %
                    self.socket)
            f.write("set-default-sink rec\n")
        client_conf = os.path.join(self.dir, "client.conf")
        with open(client_conf, "w") as f:
            f.write("autospawn = no\n")
        env = dict(os.environ)
        for name in ("PULSE_SERVER", "PULSE_SINK", "PULSE_SOURCE", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        env.update({
            "HOME": self.dir,
            "XDG_RUNTIME_DIR": runtime,
            "PULSE_RUNTIME_PATH": runtime,
            "PULSE_STATE_PATH": os.path.join(self.dir, "pulse-state"),
            "PULSE_CLIENTCONFIG": client_conf,
            "DISPLAY": self.display,
        })
        self.pulse = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disallow-exit", "--log-target=stderr", "-F", script],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.dir, "pulse.log"), "wb"))
        env["PULSE_SERVER"] = "unix:" + self.socket
        self.env = env
        deadline = time.monotonic() + 20 * self.slow
        while True:
            if self.pulse.poll() is not None:
                raise SessionError("PulseAudio ended: " + self._log("pulse.log"))
            ok = subprocess.run(["pactl", "info"], env=env, capture_output=True, timeout=10)
            if ok.returncode == 0 and os.path.exists(self.socket):
                break
            if time.monotonic() > deadline:
                raise SessionError("PulseAudio did not come up: " + self._log("pulse.log"))
            time.sleep(0.05)

    def _start_recording(self):
        path = os.path.join(self.dir, "rec.raw")
        out = open(path, "wb")
        self.parec = subprocess.Popen(
            ["parec", "-d", "rec.monitor", "--raw", "--format=s16le", "--rate=%d" % RATE,
             "--channels=%d" % CHANNELS, "--latency-msec=10"], env=self.env, stdout=out,
            stderr=open(os.path.join(self.dir, "parec.log"), "wb"))
        out.close()
        self.recording = Recording(path)
        deadline = time.monotonic() + 10 * self.slow
        while self.recording.frames_so_far() < RATE // 10:
            if self.parec.poll() is not None or time.monotonic() > deadline:
                raise SessionError("parec records nothing: " + self._log("parec.log"))
            time.sleep(0.01)
        if self._clock is None:
            self._clock = threading.Thread(target=self._watch_clock, daemon=True)
            self._clock.start()

    def restart_sound_server(self):
        """Kills the sound server, as a crash would, and starts another on the same socket, the
        recording begun anew from its first frame."""
        for p in (self.parec, self.pulse):
            p.kill()
            p.wait()
        self.clock = RecordingClock()
        self._start_pulse()
        self._start_recording()

    def _watch_clock(self):
        last = {}
        while not self._clock_stop.is_set():
            t = time.monotonic()
            self.clock.look(t, self.recording.frames_so_far())
            if self.proc is not None:
                # a hit goes from the program through the display server, which each frame
                # waits on, and the sound server
                self.waits.look(t, longest_wait((self.proc.pid, self.xvfb.pid, self.pulse.pid),
                                                last))
            time.sleep(0.002)

    def timeline(self, t_from, t_to):
        """Maps recorded frames to monotonic times (s) over the span t_from..t_to."""
        return self.clock.fit(t_from, t_to)

    def start_program(self, args=(), attempts=3):
        """Starts the program with the command-line arguments args and waits for its first
        frames and the keyboard focus. On a busy machine a server now and then refuses a new
        client at once: the sound server, or the display, whose queue of connections waiting to
        be accepted is full for a moment (Xlib then reports "x11 not available"). The program
        then ends at start-up saying so, and is started again while that server is still up
        (anything else that ends it at start-up is an error)."""
        refusals = [("connection to PulseAudio", self.pulse, "the sound server"),
                    ("x11 not available", self.xvfb, "the display")]
        for attempt in range(attempts):
            try:
                return self._start_program_once(args)
            except SessionError as e:
                refused = [who for said, server, who in refusals
                           if said in str(e) and server.poll() is None]
                if not refused or attempt == attempts - 1:
                    raise
                print("     %s refused the program; starting it again" % refused[0], flush=True)
                time.sleep(0.2)

    def _start_program_once(self, args):
        self.run_count += 1
        self.out_path = os.path.join(self.dir, "out%d.txt" % self.run_count)
        self.err_path = os.path.join(self.dir, "err%d.txt" % self.run_count)
        env = dict(self.env)
        env["SDL_AUDIODRIVER"] = "pulseaudio"
        if self.pulse_latency_ms is not None:
            env["PULSE_LATENCY_MSEC"] = str(self.pulse_latency_ms)
        # the program opens its window at 3x on the compatibility layer; the checks measure 1x
        env["SDL12COMPAT_WINDOW_SCALING"] = "1"
        env.update(self.program_env)
        if self.sanitized:
            env.update(sanitizer_env(env))
        env["SDL_VIDEODRIVER"] = "x11"
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen([self.program] + list(args), cwd=self.cwd, env=env,
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                         preexec_fn=self._priority)
        self.started_at = time.monotonic()
        self._find_and_focus()
        self.wait_for_frames()

    def _priority(self):
        if self.nice is not None:
            try:
                os.nice(self.nice)
            except OSError:
                pass

    def _find_window(self):
        deadline = time.monotonic() + 30 * self.slow
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise SessionError("the program ended at start-up with status %d: %s" %
                                   (self.proc.returncode, self.stderr()))
            found = self.xdo("search", "--onlyvisible", "--pid", str(self.proc.pid), check=False)
            ids = found.stdout.split()
            if ids:
                return int(ids[-1])
            time.sleep(0.05)
        raise SessionError("no window of the program appeared")

    def _find_and_focus(self):
        """SDL may replace its first window while it sets the video mode up, so a window found
        early can be gone by the time it is focused: then look again."""
        deadline = time.monotonic() + 30 * self.slow
        while True:
            self.window = self._find_window()
            r = self.xdo("windowfocus", "--sync", str(self.window), check=False)
            if r.returncode == 0:
                return
            if time.monotonic() > deadline:
                raise SessionError("xdotool windowfocus failed: " + r.stderr.strip())
            time.sleep(0.05)

    def focus(self):
        # Xvfb has no window manager: the input focus is set on the window itself.
        self.xdo("windowfocus", "--sync", str(self.window))

    def wait_for_frames(self):
        """Waits until the main loop draws: the tempo label shows."""
        deadline = time.monotonic() + 30 * self.slow
        while time.monotonic() < deadline:
            frame = self.capture()
            x, y, w = TEMPO_LABEL
            if len(text_mask(frame, x, y, w, None)) > 20:
                return frame
            time.sleep(0.05)
        raise SessionError("the tempo label never appeared")

    # --- driving

    def xdo(self, *args, check=True):
        r = subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True,
                           text=True, timeout=60)
        if check and r.returncode != 0:
            raise SessionError("xdotool %s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r

    def key(self, *names, delay_ms=40):
        """Presses and releases each key in turn. Returns (before, after) monotonic times."""
        t0 = time.monotonic()
        self.xdo("key", "--delay", str(delay_ms), *names)
        return t0, time.monotonic()

    def keydown(self, name):
        t0 = time.monotonic()
        self.xdo("keydown", name)
        return t0, time.monotonic()

    def keyup(self, name):
        t0 = time.monotonic()
        self.xdo("keyup", name)
        return t0, time.monotonic()

    def hold(self, name, seconds):
        """Holds a key down for about the given time; returns the time it was really held, from
        the end of sending the press to the end of sending the release (s)."""
        _, down = self.keydown(name)
        time.sleep(max(0.0, seconds - (time.monotonic() - down)))
        _, up = self.keyup(name)
        return up - down

    def settle(self, seconds=0.15):
        """Lets the program take the keys sent and draw a few frames."""
        time.sleep(seconds * self.slow)

    def capture(self):
        out = subprocess.run(["import", "-window", str(self.window), "-depth", "8", "ppm:-"],
                             env=self.env, capture_output=True, timeout=30)
        if out.returncode != 0:
            raise SessionError("import failed: " + out.stderr.decode(errors="replace"))
        return Frame.from_ppm(out.stdout)

    def key_repeat(self):
        return key_repeat(self.display)

    def close_request(self):
        send_close_request(self.display, self.window)

    def wait_exit(self, timeout):
        """The program's exit status, or None if it is still running after timeout s."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stdout(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode(errors="replace")

    def stderr(self):
        with open(self.err_path, "rb") as f:
            return f.read().decode(errors="replace")

    # --- sound between two moments

    def sound(self, t_from, t_to):
        """(timeline, first frame number, samples) recorded between two monotonic times (s);
        waits until the recording has them."""
        self.wait_recorded(t_to)
        line = self.timeline(t_from, t_to)
        first = max(0, line.frame(t_from))
        return line, first, self.recording.read(first, line.frame(t_to))

    def wait_recorded(self, t):
        """Waits until the recording holds what was played up to monotonic time t (s), with
        50 ms to spare for the sound server's latency."""
        time.sleep(max(0.0, t - time.monotonic()) + 0.05)
        deadline = time.monotonic() + 5 * self.slow
        while True:
            line = self.timeline(t - 1.0, time.monotonic())
            if self.recording.frames_so_far() >= line.frame(t + 0.05):
                return
            if time.monotonic() > deadline:
                raise SessionError("the recording stopped growing")
            time.sleep(0.01)

    def take(self, t_from, t_to):
        """The hits recorded between two moments, with the stretches of the sound stream they
        lie in (times in s)."""
        line, first, samples = self.sound(t_from, t_to)
        onsets = detect_onsets(samples)
        stretch, resumed = stream_stretches(onsets, samples)
        times = [line.time(first + n) for n in onsets]
        waited = [self.waits.before(t) for t in times]
        return Take(times, stretch, resumed, stream_breaks(onsets, samples), waited)

    def play_take(self, seconds, checks=None, attempts=3):
        """Starts the transport, lets it play for seconds, stops it and returns the Take
        (hit times in ms). A take in which the sound stream broke (a dropout, or a shift of the
        buffer boundaries: the sound server's hiccup, not the program's timing), or in which the
        machine delayed more than a quarter of the hits, is noted and played again, up to
        attempts times; then the take that broke least (and of those, the least delayed) is
        returned, to be judged a stretch at a time and without the delayed hits."""
        takes = []
        for attempt in range(attempts):
            _, start = self.keydown("space")
            self.keyup("space")
            time.sleep(seconds)
            _, stop = self.keydown("space")
            self.keyup("space")
            take = self.take(start - 0.1, stop + 0.3)
            take.start, take.stop = start, stop
            take.times = [1000.0 * t for t in take.times]
            take.wild = [(1000.0 * t, s) for t, s in take.wild]
            delayed = sum(take.delayed)
            if take.breaks == 0 and delayed <= len(take.times) / 4:
                return take
            takes.append(take)
            if checks is not None:
                checks.note("the sound stream broke %d times and the machine delayed %d of %d "
                            "hits in take %d%s" %
                            (take.breaks, delayed, len(take.times), attempt + 1,
                             "; playing again" if attempt + 1 < attempts else ""))
            time.sleep(0.3)
        return min(takes, key=lambda t: (t.breaks, sum(t.delayed)))

    # --- tear-down

    def stop_program(self):
        _stop(self.proc)

    def cpu_seconds(self):
        """CPU time (s) the program has used so far, all its threads, user and system."""
        with open("/proc/%d/stat" % self.proc.pid) as f:
            # the fields after the command's closing parenthesis; utime and stime are 14 and 15
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def close(self):
        self._clock_stop.set()
        for p in (self.proc, self.parec, self.pulse, self.xvfb):
            _stop(p)
        if self._clock is not None:
            self._clock.join(timeout=1)
        if self.dir and not self.keep:
            shutil.rmtree(self.dir, ignore_errors=True)

    def _log(self, name):
        try:
            with open(os.path.join(self.dir, name), "rb") as f:
                return f.read().decode(errors="replace").strip()[-2000:]
        except OSError:
            return ""


class Take:
    """The hits heard while the transport ran, as times, and how the sound stream held.

    times and stretch: the hits and, for each, the unbroken stretch of the stream it lies in.
    wild: (time, stretch) of onsets that may be the stream resuming after a gap rather than
    hits, left out of times. breaks: how often the stream broke. delayed: for each hit, whether
    a thread of the program or of a server on its way was kept waiting WAIT_LIMIT_MS or more
    without a break just before it (waited gives the longest such wait in ms for each onset,
    or None when unknown)."""

    def __init__(self, times, stretch, resumed, breaks, waited=None):
        waited = waited if waited is not None else [0.0] * len(times)
        self.times = [t for j, t in enumerate(times) if j not in resumed]
        self.stretch = [s for j, s in enumerate(stretch) if j not in resumed]
        self.delayed = [w >= WAIT_LIMIT_MS for j, w in enumerate(waited) if j not in resumed]
        self.wild = [(times[j], stretch[j]) for j in sorted(resumed)]
        self.breaks = breaks
        self.start = self.stop = None

    def grid(self, period, shuffle=False):
        """The grid of these hits, each stretch with its own origin."""
        return Grid(self.times, period, shuffle=shuffle, stretch=self.stretch, wild=self.wild,
                    delayed=self.delayed)


# ---------------------------------------------------------------- entering patterns


def clear_grid(s):
    """SELECT held and B: the first B of a hold clears."""
    s.keydown("Tab")
    s.key("b")
    s.keyup("Tab")
    s.settle()


def toggle_edit(s):
    s.key("Tab")
    s.settle()


def enter_cells(s, row, cols, at=(0, 0)):
    """In edit mode, with the cursor at (col, row) = at: walks to each column of cols on row
    and toggles it with Return. Returns the cursor's place afterwards."""
    col, r = at
    keys = []
    keys += ["Down"] * ((row - r) % 10)
    for c in cols:
        keys += ["Right"] * ((c - col) % 16)
        keys.append("Return")
        col = c
    if keys:
        s.key(*keys, delay_ms=25)
    s.settle()
    return col, row


def play_row(s, row, background, cols=range(16)):
    """Clears the grid and sets the cells cols of row from the keyboard, then leaves edit mode.
    Returns the grid read back from the screen."""
    clear_grid(s)
    toggle_edit(s)
    enter_cells(s, row, list(cols))
    toggle_edit(s)
    return grid_as_pattern(grid_cells(s.capture(), background))


# ---------------------------------------------------------------- reporting


class Checks:
    """Soft assertions: each check is printed with its evidence, and the script's exit status
    says whether all held."""

    def __init__(self, name):
        self.name = name
        self.passed = 0
        self.failed = 0
        self.skipped = 0

    def check(self, ok, what, evidence=""):
        mark = "ok  " if ok else "FAIL"
        print("%s %s%s" % (mark, what, (": " + evidence) if evidence else ""), flush=True)
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        return ok

    def skip(self, what, why):
        print("skip %s: %s" % (what, why), flush=True)
        self.skipped += 1

    def note(self, text):
        print("     " + text, flush=True)

    def finish(self):
        print("%s: %d passed, %d failed, %d skipped" %
              (self.name, self.passed, self.failed, self.skipped), flush=True)
        return 0 if self.failed == 0 and self.passed > 0 else 1


def check_timing(s, c, ok, what, evidence=""):
    """A check of milliseconds of onset error. The sanitizer build runs several times slower, so
    there the end-to-end checks judge function only and the timing is judged by the plain build."""
    if s.sanitized:
        c.skip(what, "timing is judged in the plain build")
        return True
    return c.check(ok, what, evidence)


def check_on_grid(s, c, grid, what):
    """The timing check of a take: every hit the machine did not delay lies within one audio
    period of the grid on which the largest distance is least (Grid.centred). A hit sounds 0 to
    1 period after its step is due, at the next buffer head: that spreads the hits over one
    period, half a period either side of the grid. The other half period either side is for
    what still moves a hit: the threads on its way waited under WAIT_LIMIT_MS at a stretch
    before each judged hit, and the recording's clock is that close. When the machine delayed
    more than half the hits, too few are left to judge and the check says so."""
    delayed = sum(grid.delayed)
    if delayed > len(grid.times) / 2 and not s.sanitized:
        c.skip(what, "the machine kept the threads on the hits' way waiting before %d of %d "
               "hits" % (delayed, len(grid.times)))
        return True
    worst = grid.worst()
    return check_timing(
        s, c, worst <= AUDIO_PERIOD_MS,
        "%s within one audio period (%.1f ms: half a period of buffering, half a period for the "
        "rest of the way) of a straight grid" % (what, AUDIO_PERIOD_MS),
        "worst %.2f ms over %d hits; %d not judged, the threads on their way kept waiting "
        "%.1f ms or more; beyond: %s" % (worst, len(grid.times) - delayed, delayed,
                                         WAIT_LIMIT_MS, grid.outliers(AUDIO_PERIOD_MS)))


def background_reference(repo):
    """assets/gui.png as pixels, or None when it cannot be read (then every well check that
    needs it is skipped)."""
    path = os.path.join(repo, "assets", "gui.png")
    if not os.path.exists(path):
        return None
    try:
        frame = Frame.from_file(path)
    except (subprocess.SubprocessError, SessionError):
        return None
    if frame.width != 320 or frame.height != 240:
        return None
    return frame


def readable_start(s, c, repo):
    """The artwork as pixels and a label reader taught on the first frame, or (None, None) after a
    failed check when either is missing: every later check depends on them."""
    background = background_reference(repo)
    reader = Reader(s.capture(), background)
    if not c.check(background is not None and reader.complete(),
                   "the artwork and the digits of the track labels are readable"):
        return None, None
    return background, reader


def parse_args(argv):
    """program repo [--sanitized] [--keep] [--preload LIB]"""
    import argparse
    p = argparse.ArgumentParser()
    p.add_argument("program")
    p.add_argument("repo")
    p.add_argument("--sanitized", action="store_true",
                   help="the program is the sanitizer build: slower start-up, and the leak "
                   "report told about the libraries of the window and the sound")
    p.add_argument("--keep", action="store_true", help="keep the session's folder")
    p.add_argument("--preload", help="a library preloaded into the program (LD_PRELOAD)")
    return p.parse_args(argv)


def run(name, body, argv=None, program_env=None):
    """Runs one end-to-end script: body(session, checks, args) inside a fresh session;
    program_env, a function of args, gives more variables for the program's environment."""
    args = parse_args(sys.argv[1:] if argv is None else argv)
    checks = Checks(name)
    slow = 4.0 if args.sanitized else 1.0
    try:
        extra = program_env(args) if program_env is not None else None
        with Session(args.program, args.repo, slow=slow, keep=args.keep,
                     sanitized=args.sanitized, program_env=extra) as s:
            if args.keep:
                print("session folder: " + s.dir, flush=True)
            body(s, checks, args)
    except SessionError as e:
        checks.check(False, "the session ran", str(e))
    return checks.finish()

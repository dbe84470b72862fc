#!/usr/bin/python3
# Taps on the beat on a sound device with a real clock (a PulseAudio null sink): calibrates with
# keys sent 40 ms after each click is heard, then taps eight beats of the demo song 40 ms late;
# every mark must land within 5 ms of the song time heard 40 ms before its key (its beat,
# unless the server stalled in between or this process sent the key late). "Heard" is read
# from the sink's monitor, walked along the song's own samples; each monitor sample is placed
# on the monotonic clock by the earliest arrival of the chunks around it, less its place in
# the stream, so every moment carries about the same delay, which the calibration takes back
# with the rest (this placing is good to a few ms). Keys go through the X test extension on
# one connection, stamped by the server when sent.
import ctypes
import os
import re
import subprocess
import sys
import threading
import time

from desktop import enabled, fail, find, menu_item, press, press_async, start, wait_for, xdotool
import desktop

OUT = sys.argv[1]
RATE = 44100
LATE_MS = 40
CLICK_LEAD_MS, CLICK_INTERVAL_MS, CLICKS = 1000, 600, 24  # the calibration's click track
BEAT_MS = 500  # the demo song: 120 beats a minute, a kick on frame 0 of every beat
# The click's first samples: full height (twice 0.2 of full scale), a 2 kHz cosine dying away.
CLICK_START = [13106, 12470]
SONG_MARK = RATE // 100  # where in the song the driver looks for it


class Monitor:
    """What the null sink plays, as (sample index -> monotonic seconds)."""

    def __init__(self):
        # Silence played all along keeps the sink running, so that its monitor is one unbroken
        # stream whose samples keep a fixed distance to the clock (an idle sink sends nothing).
        self.keep_alive = subprocess.Popen(["pacat", "--raw", "--format=s16le", "--rate=%d" % RATE,
                                            "--channels=1", "/dev/zero"])
        time.sleep(0.3)
        self.proc = subprocess.Popen(["parec", "-d", "e2e.monitor", "--raw", "--format=s16le",
                                      "--rate=%d" % RATE, "--channels=1", "--latency-msec=5"],
                                     stdout=subprocess.PIPE)
        self.samples = bytearray()
        self.offset = None  # monotonic seconds of sample 0, the earliest estimate so far
        self.estimates = []  # (samples so far, estimate of sample 0's time) per chunk
        self.lock = threading.Lock()
        self.searched = (None, 0)  # (index, samples read) of the last search
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        while True:
            chunk = self.proc.stdout.read1(4096)
            now = time.monotonic()
            if not chunk:
                return
            with self.lock:
                self.samples += chunk
                count = len(self.samples) // 2
                estimate = now - count / RATE
                self.estimates.append((count, estimate))
                self.offset = estimate if self.offset is None else min(self.offset, estimate)

    def count(self):
        with self.lock:
            return len(self.samples) // 2

    def offset_near(self, index):
        """Sample 0's time as the chunks within 3 s of `index` place it: the earliest arrival
        there (a chunk is never early, often late), near enough that the sink's clock and
        ours cannot drift apart in between."""
        window = 3 * RATE
        near = [e for n, e in self.estimates if abs(n - index) <= window]
        return min(near) if near else self.offset

    def find_after(self, index, pattern, resume=False):
        """(monotonic time, index) where `pattern` (samples, each within 2) first starts from
        `index` on, or None. Looking for the very samples rather than for any sound: the sink
        may still be giving out the end of what played before. `resume`: the same search as
        the last call, polled: only what arrived since is read."""
        start = 0
        if resume and self.searched[0] == index:
            start = self.searched[1]
        # The views are let go before the lock: the reader thread grows the buffer under it.
        with self.lock, memoryview(self.samples) as whole, \
                whole[index * 2:len(self.samples) // 2 * 2] as part, part.cast("h") as data:
            for i in range(start, len(data) - len(pattern)):
                if all(abs(data[i + n] - p) <= 2 for n, p in enumerate(pattern)):
                    return self.offset_near(index + i) + (index + i) / RATE, index + i
            self.searched = (index, max(0, len(data) - len(pattern)))
        return None

    def index_at(self, when):
        guess = int(round((when - self.offset) * RATE))
        return int(round((when - self.offset_near(guess)) * RATE))

    def heard_song_ms(self, first, first_in_song, song, moments):
        """Song milliseconds heard at each of `moments` (monotonic seconds, ascending), walking
        the monitor from index `first` (the song's sample `first_in_song`) along the song: where the
        server stalled, the monitor holds a run of digital silence where the song has sound,
        and the song goes on after it."""
        with self.lock, memoryview(self.samples) as whole, \
                whole[first * 2:len(self.samples) // 2 * 2] as part, part.cast("h") as data:
            targets = [self.index_at(m) - first for m in moments]
            heard, i, j, k = [], 0, first_in_song, 0
            while k < len(targets) and i < len(data) and j < len(song):
                if targets[k] <= i:
                    heard.append(j * 1000.0 / RATE)
                    k += 1
                    continue
                if data[i] == 0 and song[j] != 0:
                    run = 0
                    while i + run < len(data) and data[i + run] == 0 and run < RATE:
                        run += 1
                    loud = sum(1 for v in song[j:j + run] if abs(v) > 64)
                    if run >= 32 and loud > run // 2:
                        i += min(run, max(1, targets[k] - i))  # a stall: the song waits
                        continue
                i += 1
                j += 1
            return heard if k == len(targets) else None

    def stop(self):
        self.proc.kill()
        self.keep_alive.kill()


def song_mono(scenario):
    """The demo song's samples as the sink's mono monitor gives them: the channels' mean."""
    import wave
    with wave.open(os.path.join(os.path.dirname(scenario), "song.wav"), "rb") as song:
        frames = song.readframes(song.getnframes())
    stereo = memoryview(frames).cast("h")
    return [(stereo[i] + stereo[i + 1]) // 2 for i in range(0, len(stereo), 2)]


class Keys:
    """Key presses through XTest on one open connection."""

    def __init__(self):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(None)
        self.codes = {name: self.x11.XKeysymToKeycode(self.display, sym)
                      for name, sym in (("Left", 0xff51), ("Up", 0xff52))}

    def tap_at(self, when, key):
        # Sleep to just before the moment, then wait it out exactly.
        while time.monotonic() < when - 0.003:
            time.sleep(0.001)
        while time.monotonic() < when:
            pass
        before = time.monotonic()
        self.xtst.XTestFakeKeyEvent(self.display, self.codes[key], 1, 0)
        self.x11.XFlush(self.display)
        sent = (before + time.monotonic()) / 2
        time.sleep(0.02)
        self.xtst.XTestFakeKeyEvent(self.display, self.codes[key], 0, 0)
        self.x11.XFlush(self.display)
        # How late this process got the key out (a busy machine may hold it back): the mark
        # must follow the key, not the plan.
        return (sent - when) * 1000.0


def main():
    monitor = Monitor()
    keys = Keys()
    app, frame, window = start()
    wait_for(lambda: monitor.offset is not None, "the sink's monitor")
    time.sleep(1)  # a few chunks before the first moment that counts

    # Calibration: 24 clicks; the first is heard LEAD ms into the track.
    press_async(menu_item(app, "再生 (P)", "タップのタイミング調整 (T)...", exact=False))
    dialog = wait_for(lambda: find(app, "dialog", "タップのタイミング調整"), "the calibration dialog")
    dialog_window = wait_for(lambda: xdotool("search", "--onlyvisible", "--name",
                                             "タップのタイミング調整").split()[0],
                             "the dialog's X window")
    xdotool("windowfocus", "--sync", dialog_window)
    mark = monitor.count()
    press(wait_for(lambda: find(dialog, "push button", "開始"), "the start button"))
    first, first_index = wait_for(lambda: monitor.find_after(mark, CLICK_START), "the first click", timeout=20)
    desktop.screenshot(OUT, "e2e-calibration.png")
    # Each key answers the click it follows, heard on the monitor, as a listener does: a server
    # that stalls moves the clicks after it, and keys on planned times would scatter.
    sent, slips, index = [], [], first_index
    for i in range(1, CLICKS):
        hit = wait_for(lambda: monitor.find_after(index + 1, CLICK_START, resume=True),
                       "click %d" % (i + 1), timeout=10, interval=0.001)
        index = hit[1]
        when = hit[0] + LATE_MS / 1000.0
        slips.append(keys.tap_at(when, "Up" if i % 2 else "Left"))
        sent.append(when + slips[-1] / 1000.0)
    print("calibration keys sent late by (ms):", ["%.1f" % slip for slip in slips], flush=True)
    # How late each key truly came after its click: a click was placed on the clock by the
    # monitor chunks there were then, later ones place it better. The calibration learns this
    # lateness, the listener's as it were; the marks must be as late as its median over the
    # taps the dialog keeps (all but the first four).
    time.sleep(2)
    lateness, index = [], first_index
    for when in sent:
        hit = monitor.find_after(index + 1, CLICK_START)
        if hit is None:
            fail("the sink's monitor does not hold every click")
        lateness.append((when - hit[0]) * 1000.0)
        index = hit[1]
    kept = sorted(lateness[4:])
    late_ms = kept[len(kept) // 2]
    print("calibration keys after their clicks (ms):", ["%.1f" % late for late in lateness], flush=True)
    count = find(dialog, "label", "タップ:", exact=False)
    print("taps counted:", count.name if count else None, flush=True)

    def result():
        # The label's text is its name: the offset measured, or why it was refused.
        return (find(dialog, "label", "オフセット:", exact=False)
                or find(dialog, "label", "タップが少なすぎます", exact=False)
                or find(dialog, "label", "タップのばらつき", exact=False))
    shown = wait_for(result, "the calibration's result", timeout=20).name
    print("calibration:", shown, flush=True)
    desktop.screenshot(OUT, "e2e-calibration-result.png")
    if not shown.startswith("オフセット:"):
        fail("the calibration was refused: " + shown)
    press(find(dialog, "push button", "OK"))
    wait_for(lambda: find(app, "dialog", "タップのタイミング調整") is None, "the dialog to close")

    # The click at every mark, on: the 再生 menu open with its check mark for the screenshot.
    press_async(menu_item(app, "再生 (P)", "マークでクリック音 (K)"))
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "alt+p")
    wait_for(lambda: find(app, "popup menu", "再生 (P)", visible_only=True), "the 再生 menu to open")
    time.sleep(0.3)
    desktop.screenshot(OUT, "e2e-click-item.png")
    xdotool("key", "Escape", "Escape")  # the menu, then the menu bar's keyboard mode
    time.sleep(0.3)
    # Over a mark strip the main view takes the keyboard back (as it does for a user).
    strip = find(frame, "panel", "マーク 2") or find(frame, "filler", "マーク 2")
    point = desktop.centre(strip) if strip is not None else None
    if point is not None:
        xdotool("mousemove", str(point[0]), str(point[1]))
        time.sleep(0.2)

    # The demo song: its first kick starts at frame 0; tap eight beats from the third on.
    song = song_mono(sys.argv[2])
    pause = menu_item(app, "再生 (P)", "一時停止 (S)")
    xdotool("mousemove", "1270", "1010")
    xdotool("windowfocus", "--sync", window)
    mark = monitor.count()
    xdotool("key", "shift+a")
    # Found 10 ms into the first kick: a server may swallow the very first samples of a stream,
    # and the next kicks of the first bar begin with the same samples.
    found_at, start_index = wait_for(lambda: monitor.find_after(mark, song[SONG_MARK:SONG_MARK + 4]),
                                     "the song to be heard", timeout=20)
    song_start = found_at - SONG_MARK / RATE
    beats = list(range(2, 10))
    sent = []
    for k in beats:
        planned = song_start + (k * BEAT_MS + LATE_MS) / 1000.0
        sent.append(planned + keys.tap_at(planned, "Left") / 1000.0)
    # What the listener heard that late before each key: the song time each mark should have.
    time.sleep(0.2)
    truth = monitor.heard_song_ms(start_index, SONG_MARK, song, [t - late_ms / 1000.0 for t in sent])
    if truth is None:
        fail("the sink's monitor does not hold the song")
    time.sleep(0.3)
    desktop.screenshot(OUT, "e2e-taps.png")
    text = desktop.copied_checkpoints(app)
    monitor.stop()
    times = [int(ms) for ms in re.findall(r"# (-?\d+)", text)]
    print("marks:", times, flush=True)
    if len(times) != len(beats):
        fail("expected %d marks, got %d" % (len(beats), len(times)))
    print("marks off their beats (ms):", [t - k * BEAT_MS for t, k in zip(times, beats)], flush=True)
    errors = [t - heard for t, heard in zip(times, truth)]
    print("marks off what was heard %.1f ms before each key (ms):" % late_ms, ["%.1f" % e for e in errors], flush=True)
    if max(abs(e) for e in errors) > 5:
        fail("a mark is more than 5 ms off its beat")
    desktop.quit_program(app)
    print("PASS", flush=True)


main()

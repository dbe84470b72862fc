#!/usr/bin/python3
# Drives vorn-checkpoint as a user would, finding its widgets through AT-SPI: waits for the demo
# song, plays it, taps Left, Down and Right at spaced moments, stops, opens the output dialog
# from its menu item, copies the CHECKPOINT text and checks it against the moments tapped.
# Screenshots of the playing window and of each dialog go to OUTDIR.
import re
import subprocess
import sys
import time

from desktop import (enabled, fail, find, menu_item, press, press_async, quit_program, start,
                     wait_for, xdotool)
import desktop

OUT = sys.argv[1]
FPS = 30.0          # the demo scenario: FRAMERATE 30, SCALE 1
TICK_MS = 5         # the playback timer's period
COLOURS = {"Left": (0, 255, 255), "Down": (0, 255, 0), "Right": (204, 204, 0)}


def text_of(node):
    # Status-bar panes carry their text as the description (the name says which pane it is).
    return node.description or ""


def screenshot(name):
    desktop.screenshot(OUT, name)


def parse_time(text):
    match = re.fullmatch(r"(\d\d):(\d\d)\.(\d\d\d)", text.strip())
    if not match:
        return None
    return int(match.group(1)) * 60000 + int(match.group(2)) * 1000 + int(match.group(3))


def main():
    app, frame, window = start()
    play = menu_item(app, "再生 (P)", "再生 (P)")
    pause = menu_item(app, "再生 (P)", "一時停止 (S)")
    pane = find(frame, "label", "再生中の時間")

    # Keys go to the focused window; keep the pointer off the strips (hovering the waveform
    # would take over the play-time pane).
    xdotool("mousemove", "1270", "1010")
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "shift+a")
    wait_for(lambda: enabled(pause) and not enabled(play), "playback to start")

    def play_time():
        return parse_time(text_of(pane)) if pane is not None else None

    wait_for(lambda: (play_time() or 0) > 300, "the play-time pane to count")
    taps = []
    for key in ("Left", "Down", "Right"):
        before = play_time()
        pressed = time.monotonic()
        xdotool("key", key)
        after_wall = time.monotonic()
        time.sleep(0.05)
        after = play_time()
        taps.append({"key": key, "before": before, "after": after, "wall": (pressed + after_wall) / 2})
        if key == "Down":
            screenshot("e2e-playing.png")
        time.sleep(0.6)
    xdotool("key", "shift+x")
    wait_for(lambda: enabled(play), "playback to stop")

    # The output dialog from its menu item; its copy button; the clipboard as bytes.
    press_async(menu_item(app, "ファイル (F)", "クリップボード出力 (D)"))
    dialog = wait_for(lambda: find(app, "dialog", "出力"), "the output dialog")
    copy = wait_for(lambda: find(dialog, "push button", "クリップボードへコピー"), "the copy button")
    screenshot("e2e-output.png")
    press(copy)
    time.sleep(0.3)
    clip = subprocess.run(["xclip", "-o", "-selection", "clipboard"], check=True,
                          capture_output=True).stdout
    press(find(dialog, "push button", "OK"))
    wait_for(lambda: find(app, "dialog", "出力") is None, "the output dialog to close")

    # The other two dialogs, for their pictures.
    press_async(menu_item(app, "ファイル (F)", "プロパティ (P)"))
    dialog = wait_for(lambda: find(app, "dialog", "シナリオのプロパティ"), "the properties dialog")
    time.sleep(0.3)
    screenshot("e2e-properties.png")
    press(wait_for(lambda: find(dialog, "push button", "キャンセル"), "the cancel button"))
    wait_for(lambda: find(app, "dialog", "シナリオのプロパティ") is None, "properties to close")
    press_async(menu_item(app, "ヘルプ (H)", "バージョン情報 ね(A)..."))
    dialog = wait_for(lambda: find(app, "dialog", "バージョン情報 ね"), "the about box")
    time.sleep(0.3)
    screenshot("e2e-about.png")
    press(wait_for(lambda: find(dialog, "push button", "OK"), "the about box's OK"))
    wait_for(lambda: find(app, "dialog", "バージョン情報 ね") is None, "the about box to close")

    check_text(clip, taps)
    print("PASS: " + clip.decode("ascii").replace("\r\n", " | "), flush=True)
    quit_program(app)


def check_text(clip, taps):
    print("clipboard:", repr(clip), flush=True)
    print("taps:", taps, flush=True)
    if not clip.startswith(b"CHECKPOINT\r\n{\r\n") or not clip.endswith(b"}\r\n"):
        fail("not a CHECKPOINT block with CR LF line ends")
    body = clip[len(b"CHECKPOINT\r\n{\r\n"):-len(b"}\r\n")]
    lines = body.split(b"\r\n")[:-1]
    if body and not body.endswith(b"\r\n"):
        fail("a line without CR LF")
    if len(lines) != 3:
        fail("expected three CF lines, got %d" % len(lines))
    pattern = re.compile(rb"\tCF\t(\d+)\t(\d+)\t(\d+)\t(\d+)\t# (\d+)")
    marks = []
    for line in lines:
        match = pattern.fullmatch(line)
        if not match:
            fail("line %r is not a CF line" % line)
        frame, r, g, b, ms = (int(v) for v in match.groups())
        marks.append((ms, frame, (r, g, b)))
    # Lines come in time order, as do the taps.
    for (ms, frame, colour), tap in zip(marks, taps):
        if colour != COLOURS[tap["key"]]:
            fail("%s made colour %s" % (tap["key"], colour))
        if frame != int(ms / 1000.0 * FPS + 0.5):
            fail("frame %d does not match %d ms" % (frame, ms))
        # The mark is the playback time when the key went down: after the time read before
        # the key was sent, and no later than the time read after it.
        if tap["before"] is not None and tap["after"] is not None:
            low, high = tap["before"] - TICK_MS, tap["after"] + TICK_MS
            if not low <= ms <= high:
                fail("%s marked at %d ms, pressed between %d and %d ms" % (tap["key"], ms, low, high))
            if not int(low / 1000.0 * FPS + 0.5) - 1 <= frame <= int(high / 1000.0 * FPS + 0.5) + 1:
                fail("%s marked at frame %d outside the moment pressed" % (tap["key"], frame))
    # The gaps between marks follow the gaps between the key presses (event latency varies by
    # up to about a hundred milliseconds on a loaded machine).
    for i in (1, 2):
        wall = (taps[i]["wall"] - taps[i - 1]["wall"]) * 1000.0
        song = marks[i][0] - marks[i - 1][0]
        if abs(song - wall) > 150:
            fail("marks %d ms apart for key presses %.0f ms apart" % (song, wall))


if __name__ == "__main__":
    main()

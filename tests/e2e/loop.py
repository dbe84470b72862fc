#!/usr/bin/python3
# Loops a passage at a quarter of the speed with the pitch kept, on a sound device with a real
# clock (a PulseAudio null sink): Shift+drag on the waveform strip selects it, 再生 → 選択範囲を
# ループ再生 plays it over and over, and keys tapped through two passes become marks inside it.
import re
import sys
import time

from desktop import fail, find, menu_item, press, start, wait_for, xdotool
import desktop

OUT = sys.argv[1]
TIME = re.compile(r"(\d+):(\d\d)\.(\d\d\d)")


def texts(node, found):
    # A status pane's text is its accessible description.
    name = node.description or ""
    if TIME.search(name):
        found.append(name)
    for i in range(node.childCount):
        texts(node.getChildAtIndex(i), found)
    return found


def hovered_ms(frame, x, y, before=None):
    # Hovering the strip writes the time under the mouse to the status bar.
    xdotool("mousemove", str(x), str(y))
    bar = named(frame, "ステータス バー")

    def shown():
        found = texts(bar, [])
        return found[0] if found and found[0] != before else None
    text = wait_for(shown, "the hovered time in the status bar")
    m, s, ms = (int(g) for g in TIME.search(text).groups())
    return (m * 60 + s) * 1000 + ms, text


def named(node, name):
    if node is None:
        return None
    if (node.name or "") == name:
        return node
    for i in range(node.childCount):
        hit = named(node.getChildAtIndex(i), name)
        if hit is not None:
            return hit
    return None


def main():
    app, frame, window = start()
    wave = named(frame, "波形")
    if wave is None:
        fail("no waveform strip")
    box = wave.queryComponent().getExtents(desktop.pyatspi.DESKTOP_COORDS)
    x = box.x + box.width // 2
    y1 = box.y + box.height * 30 // 100
    y2 = box.y + box.height * 34 // 100
    first, shown = hovered_ms(frame, x, y1)
    last, _ = hovered_ms(frame, x, y2, shown)
    print("passage (ms):", first, last, flush=True)
    xdotool("mousemove", str(x), str(y1), "keydown", "shift", "mousedown", "1",
            "mousemove", str(x), str(y1 + 5), "mousemove", str(x), str(y2), "mouseup", "1", "keyup", "shift")
    time.sleep(0.3)
    press(menu_item(app, "再生 (P)", "１／４倍速 (4)"))
    press(menu_item(app, "再生 (P)", "選択範囲をループ再生 (L)"))
    xdotool("mousemove", "1270", "1010")
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "shift+a")
    pass_s = (last - first) * 4 / 1000.0
    taps = 0
    began = time.monotonic()
    # Two taps a pass, over two and a half passes.
    while time.monotonic() - began < 2.5 * pass_s:
        time.sleep(pass_s / 2)
        xdotool("key", "Left")
        taps += 1
        if taps == 2:
            desktop.screenshot(OUT, "e2e-loop.png")
    text = desktop.copied_checkpoints(app)
    times = [int(ms) for ms in re.findall(r"# (-?\d+)", text)]
    print("taps:", taps, "marks:", times, flush=True)
    if len(times) < 4 or len(times) != taps:
        fail("expected a mark for each of %d taps, got %d" % (taps, len(times)))
    # The strip's rows are a few ms wide: the hovered times bound the passage to a row.
    if any(t < first - 20 or t > last + 20 for t in times):
        fail("a mark is outside the passage")
    desktop.quit_program(app)
    print("PASS", flush=True)


main()

#!/usr/bin/python3
# Drives ファイル → 動画を書き出す as a user would: names the file in the save dialog, cancels the
# progress dialog half way (no file may appear), exports again to the end, and checks the file
# with ffprobe and a few frames with ffmpeg. Screenshots of the progress dialog and the frames go
# to OUTDIR.
import json
import os
import re
import subprocess
import sys
import time

from desktop import fail, find, menu_item, press, press_async, quit_program, start, wait_for, xdotool
import desktop

OUT = sys.argv[1]
SCENARIO = sys.argv[2]
VIDEO = os.path.join(os.path.dirname(SCENARIO), "demo-video.mp4")


def frames_done(app):
    label = find(app, "label", "書き出したフレーム数")
    match = re.search(r"フレーム (\d+) / (\d+)", (label.description or "") + (label.name or "")) if label else None
    return (int(match.group(1)), int(match.group(2))) if match else None


def export(window, app):
    press_async(menu_item(app, "ファイル (F)", "動画を書き出す (V)..."))
    chooser = wait_for(lambda: find(app, "dialog", "動画を書き出す"), "the save dialog")
    # The file name field has the focus: replace what it suggests with our name.
    time.sleep(1)
    xdotool("key", "ctrl+a")
    xdotool("type", "--delay", "20", VIDEO)
    xdotool("key", "Return")
    wait_for(lambda: find(app, "push button", "キャンセル"), "the progress dialog")


def main():
    app, frame, window = start()
    xdotool("windowfocus", "--sync", window)

    export(window, app)
    wait_for(lambda: (frames_done(app) or (0, 1))[0] >= 450, "half of the frames", timeout=120)
    desktop.screenshot(OUT, "e2e-video-progress.png")
    press(find(app, "push button", "キャンセル"))
    wait_for(lambda: find(app, "push button", "キャンセル") is None, "the cancelled dialog to close")
    leftovers = [name for name in os.listdir(os.path.dirname(VIDEO)) if name.startswith(".vorn-") or name.endswith(".mp4")]
    if leftovers:
        fail("a cancelled export left %r" % leftovers)

    export(window, app)
    wait_for(lambda: find(app, "push button", "キャンセル") is None, "the export to finish", timeout=240)
    if not os.path.exists(VIDEO):
        fail("no video after the export")
    probe = json.loads(subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-of", "json", VIDEO],
                                      check=True, capture_output=True, text=True).stdout)
    kinds = [(s["codec_type"], s["codec_name"]) for s in probe["streams"]]
    video = probe["streams"][0]
    print("streams", kinds, "frames", video.get("nb_frames"), "rate", video.get("avg_frame_rate"))
    if kinds != [("video", "h264"), ("audio", "aac")] or video.get("nb_frames") != "900":
        fail("unexpected streams %r" % probe["streams"])
    for second in (1, 11, 25):
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-ss", str(second), "-i", VIDEO, "-frames:v", "1",
                        os.path.join(OUT, "e2e-video-%02ds.png" % second)], check=True)
    quit_program(app)


main()

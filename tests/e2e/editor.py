#!/usr/bin/python3
# Drives the scenario editor as a user would, through AT-SPI and the mouse: opens MAIN > reveal
# > gallery in the tree, types a new frame count for the STILL "gallery" on its page, applies,
# saves with Ctrl+S (the program works on a copy of the demo; the question before the demo's
# comments are dropped is answered yes, the original kept as .bak) and checks with vorn-scenario
# info that the saved file has the new count. Then opens the IMAGE "tilt" below it and its clip
# picker, and cancels it. Screenshots of both pages and of the picker go to OUTDIR.
# Usage: editor.py OUTDIR SCENARIO VORN_SCENARIO
import json
import os
import subprocess
import sys
import time

from desktop import (click, fail, find, press, press_async, quit_program, screenshot,
                     showing, start, text_of_edit, wait_for, xdotool)

OUT, SCENARIO, CLI = sys.argv[1:4]
BLOCK, OLD_FRAMES, NEW_FRAMES = "gallery", 60, 75
PICKER = "領域の選択"


def info(path):
    run = subprocess.run([CLI, "info", path], capture_output=True, text=True)
    if run.returncode != 0:
        fail("vorn-scenario info %s: exit %d: %s" % (path, run.returncode, run.stderr.strip()))
    data = json.loads(run.stdout)
    return data, {b["name"]: b["frameCount"] for b in data["blocks"]}


def error_box(app):
    # A message box is an "alert" to AT-SPI.
    box = find(app, "alert", "エラー") or find(app, "dialog", "エラー")
    if box is None:
        return None
    texts = []

    def collect(node):
        if node.getRoleName() == "label" and node.name:
            texts.append(node.name)
        for i in range(node.childCount):
            collect(node.getChildAtIndex(i))
    collect(box)
    return " / ".join(texts) or "(no text)"


def main():
    before, before_frames = info(SCENARIO)
    if before_frames.get(BLOCK) != OLD_FRAMES:
        fail("the demo's %s has %s frames, expected %d" % (BLOCK, before_frames.get(BLOCK), OLD_FRAMES))
    app, frame, window = start()
    tree = wait_for(lambda: find(frame, "tree", "ブロック"), "the scenario tree")
    host = wait_for(lambda: find(frame, "filler", "ブロックのプロパティ"), "the property host")
    xdotool("windowfocus", "--sync", window)

    def cell(name):
        return find(tree, "table cell", name)

    def page_edit(name):
        # Every page exists at once; only the shown block's page is visible.
        return find(host, "text", name, visible_only=True)

    def select(name):
        # Always clicked (the tree takes the focus for the keys that follow), and clicked again
        # when a second passes without the page: a tree rebuilt by an apply may still have been
        # laying out its items at the first click.
        clicked = [0.0]

        def shown():
            edit = page_edit("ブロック名")
            if clicked[0] and edit is not None and text_of_edit(edit) == name:
                return True
            item = cell(name)
            if item is not None and time.monotonic() - clicked[0] > 1.0:
                clicked[0] = time.monotonic()
                click(item)
            return False
        wait_for(shown, "the page of " + name)

    def expand(name, child):
        select(name)
        xdotool("key", "Right")   # after the click in the X server's order: to the tree
        wait_for(lambda: cell(child), "%s to open and show %s" % (name, child))

    expand("MAIN", "reveal")
    expand("reveal", BLOCK)
    select(BLOCK)
    frames = page_edit("フレーム数")
    if text_of_edit(frames) != str(OLD_FRAMES):
        fail("the page shows %r frames for %s, the file says %d"
             % (text_of_edit(frames), BLOCK, OLD_FRAMES))
    frames.queryEditableText().setTextContents(str(NEW_FRAMES))
    wait_for(lambda: text_of_edit(frames) == str(NEW_FRAMES), "the typed frame count")
    # A real click: the apply runs when the button is released, before the X server passes on
    # the save key below. (An accessible press only starts the button's animated click.)
    click(find(host, "push button", "適用", visible_only=True))
    screenshot(OUT, "e2e-editor-page.png")

    # Ctrl+S writes the open file in place: the copy, never the demo itself.
    # The writer renames a finished file over the old one: a new inode is a whole file.
    def identity():
        status = os.stat(SCENARIO)
        return status.st_ino, status.st_mtime_ns
    original = identity()
    with open(SCENARIO, "rb") as f:
        original_bytes = f.read()
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "ctrl+s")
    # The demo has comments of its own: the first save asks before it writes them out in full,
    # and keeps the original beside it.
    question = wait_for(lambda: find(app, "alert", "確認") or find(app, "dialog", "確認"),
                        "the question before flattening")
    press_async(wait_for(lambda: find(question, "push button", "Yes"), "the question's Yes"))
    wait_for(lambda: identity() != original or error_box(app), "the scenario file to be written")
    with open(SCENARIO + ".bak", "rb") as f:
        if f.read() != original_bytes:
            fail("the kept original differs from the file that was read")
    message = error_box(app)
    if message:
        fail("the save was refused: " + message)
    after, after_frames = info(SCENARIO)
    if after_frames.get(BLOCK) != NEW_FRAMES:
        fail("the saved file gives %s %s frames, expected %d: the apply did not reach the file"
             % (BLOCK, after_frames.get(BLOCK), NEW_FRAMES))
    grown = after["totalFrames"] - before["totalFrames"]
    if grown != NEW_FRAMES - OLD_FRAMES:
        fail("totalFrames went from %d to %d" % (before["totalFrames"], after["totalFrames"]))
    others = {k: (v, after_frames.get(k)) for k, v in before_frames.items()
              if k not in (BLOCK, "reveal", " ") and after_frames.get(k) != v}
    if others:
        fail("other blocks changed their frame counts: %r" % others)

    # The region picker from the IMAGE page's clip rectangle: the picture it shows is the file.
    expand(BLOCK, "tilt")
    select("tilt")
    screenshot(OUT, "e2e-editor-image-page.png")
    pick = find(host, "push button", "範囲の選択", visible_only=True)
    press_async(pick)
    dialog = wait_for(lambda: find(app, "dialog", PICKER), "the region picker")
    cancel = wait_for(lambda: find(dialog, "push button", "キャンセル"), "the picker's cancel")
    left = wait_for(lambda: find(dialog, "text", "左"), "the picker's edits")
    wait_for(lambda: showing(cancel) and text_of_edit(left) == "300", "the picker to show the clip")
    time.sleep(0.3)
    screenshot(OUT, "e2e-region-picker.png")
    press(cancel)
    wait_for(lambda: find(app, "dialog", PICKER) is None, "the picker to close")

    print("PASS: %s saved with %d frames (totalFrames %d -> %d)"
          % (BLOCK, NEW_FRAMES, before["totalFrames"], after["totalFrames"]), flush=True)
    quit_program(app)


if __name__ == "__main__":
    main()

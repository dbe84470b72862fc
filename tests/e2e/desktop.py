# What the drivers share: finding the program and its widgets on the accessibility bus,
# pressing, waiting for conditions, keys and clicks through xdotool, screenshots.
import os
import subprocess
import sys
import time

import pyatspi

TITLE = "「ぬ」用チェックポイント作成ツール"


def fail(message):
    print("FAIL:", message, flush=True)
    sys.exit(1)


def wait_for(probe, what, timeout=30.0, interval=0.05):
    # Polls rather than sleeping a fixed time: a loaded machine may take seconds to repaint.
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            value = probe()
        except Exception:  # the tree changes under us while windows open and close
            value = None
        if value:
            return value
        time.sleep(interval)
    fail("timed out waiting for " + what)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        child = desktop.getChildAtIndex(i)
        if child is not None and child.name == "vorn-checkpoint":
            return child
    return None


def showing(node):
    state = node.getState()
    return state.contains(pyatspi.STATE_SHOWING) and state.contains(pyatspi.STATE_VISIBLE)


def find(node, role, name, exact=True, visible_only=False):
    # Hidden widgets stay in the tree (every property page exists at once): visible_only skips
    # a hidden subtree whole.
    if node is None:
        return None
    if visible_only and node.getRoleName() not in ("application", "frame") and not showing(node):
        return None
    node_name = node.name or ""
    if node.getRoleName() == role and (node_name == name if exact else node_name.startswith(name)):
        return node
    for i in range(node.childCount):
        hit = find(node.getChildAtIndex(i), role, name, exact, visible_only)
        if hit is not None:
            return hit
    return None


def menu_item(app, menu, item, exact=True):
    # Top-level menus are "menu item"s too: look inside the menu's popup.
    popup = find(app, "popup menu", menu)
    return find(popup, "menu item", item, exact)


def enabled(node):
    return node.getState().contains(pyatspi.STATE_ENABLED)


def press(node):
    node.queryAction().doAction(0)


def accessibility_bus():
    reply = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
                            "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                           check=True, capture_output=True, text=True).stdout
    return reply.strip()


def press_async(node):
    # A command that opens a modal dialog answers only when the dialog closes. Waiting for that
    # answer on our own connection would hold every other call meanwhile (for up to the bus
    # library's time-out, many seconds), so the press goes out on a connection of its own and
    # nobody waits for the answer.
    subprocess.run(["dbus-send", "--bus=" + accessibility_bus(), "--dest=" + node.app.bus_name,
                    "--type=method_call", node.path, "org.a11y.atspi.Action.DoAction", "int32:0"],
                   check=True, capture_output=True)


def text_of_edit(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


def centre(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    if box.width <= 0 or box.height <= 0:
        return None
    return box.x + box.width // 2, box.y + box.height // 2


def click(node):
    # Some widgets act on a real click only (a tree's current item follows the mouse, not the
    # accessible selection).
    point = wait_for(lambda: centre(node), "%s %r on screen" % (node.getRoleName(), node.name))
    # One connection, so the server moves before it clicks; no --sync, which waits for a
    # motion that never comes when the pointer is already there.
    xdotool("mousemove", str(point[0]), str(point[1]), "click", "1")


def screenshot(out, name):
    subprocess.run(["import", "-window", "root", os.path.join(out, name)], check=True)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True).stdout


def copied_checkpoints(app):
    """Stops playback, then copies the CHECKPOINT text through the output dialog's button: the
    clipboard's text, with its CR LF line ends."""
    xdotool("key", "shift+x")
    play = menu_item(app, "再生 (P)", "再生 (P)")
    wait_for(lambda: enabled(play), "playback to stop")
    press_async(menu_item(app, "ファイル (F)", "クリップボード出力 (D)"))
    out = wait_for(lambda: find(app, "dialog", "出力"), "the output dialog")
    press(wait_for(lambda: find(out, "push button", "クリップボードへコピー"), "the copy button"))
    time.sleep(0.3)
    text = subprocess.run(["xclip", "-o", "-selection", "clipboard"], check=True,
                          capture_output=True).stdout.decode("ascii")
    press(find(out, "push button", "OK"))
    return text


def start(timeout=60):
    """The program, its main window and X window id, once its song has loaded."""
    app = wait_for(application, "the program on the accessibility bus")
    frame = wait_for(lambda: find(app, "frame", TITLE), "the main window by its title")
    window = wait_for(lambda: xdotool("search", "--name", TITLE).split()[0], "the X window")
    play = wait_for(lambda: menu_item(app, "再生 (P)", "再生 (P)"), "the play menu item")
    wait_for(lambda: enabled(play), "the demo song to load", timeout=timeout)
    return app, frame, window


def quit_program(app):
    press_async(menu_item(app, "ファイル (F)", "アプリケーションの終了(X)"))
    time.sleep(1)

#!/usr/bin/python3
"""What a screen reader on Linux finds in the window, asked through AT-SPI from another process.

Runs the window host on a virtual display of its own, inside the D-Bus session that the caller
started (dbus-run-session), once in English and once in Korean, and checks: every button has the
name the window gave it, in the user's language; labels and bars have their roles and texts;
a button has the focus at start, and Tab moves it through the buttons in reading order, each step
seen by the reader. Usage: dbus-run-session -- screen-reader.py HOST
"""
import os
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

DEADLINE_SECONDS = 60  # generous: only a broken bridge comes near it


def wait_for(what, probe):
    end = time.monotonic() + DEADLINE_SECONDS
    while time.monotonic() < end:
        value = probe()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("gave up waiting for " + what)


def walk(node, found):
    found.append(node)
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            walk(child, found)
    return found


def find_application(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == name:
            return app
    return None


def focused_button(nodes):
    for node in nodes:
        if node.get_role() == Atspi.Role.PUSH_BUTTON and node.get_state_set().contains(Atspi.StateType.FOCUSED):
            return node.get_name()
    return None


def check(host, display, language, is_expected_script):
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               LANG=language, LC_ALL=language, LANGUAGE="")
    env.pop("LC_MESSAGES", None)
    window = subprocess.Popen([host], env=env, stdout=subprocess.PIPE, text=True)
    try:
        names = []
        for line in window.stdout:
            line = line.rstrip("\n")
            if line == "ready":
                break
            if line.startswith("button "):
                names.append(line[len("button "):])
        assert len(names) == 7, f"{language}: the host named {names}"
        for name in names:
            assert name and is_expected_script(name), f"{language}: button name {name!r} is not in the user's language"
        assert len(set(names)) == len(names), f"{language}: two buttons share a name: {names}"

        app = wait_for("the window on the accessibility bus", lambda: find_application(os.path.basename(host)))
        nodes = wait_for("the buttons", lambda: (lambda n: n if sum(x.get_role() == Atspi.Role.PUSH_BUTTON
                                                                     for x in n) >= 7 else None)(walk(app, [])))
        heard = sorted(n.get_name() for n in nodes if n.get_role() == Atspi.Role.PUSH_BUTTON)
        assert heard == sorted(names), f"{language}: the reader hears buttons {heard}, the window named {names}"
        labels = {n.get_name() for n in nodes if n.get_role() == Atspi.Role.LABEL}
        assert "Data/pack1.pak" in labels, f"{language}: labels heard: {sorted(labels)}"
        bars = [n.get_name() for n in nodes if n.get_role() == Atspi.Role.PROGRESS_BAR]
        assert sorted(bars) == ["0%", "45%"], f"{language}: bars heard: {bars}"

        # The keyboard: a button is focused at start, and Tab walks the buttons in reading order.
        subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(window.pid), "--class", ".",
                        "windowfocus", "--sync"], env=env, check=True, stdout=subprocess.DEVNULL)
        first = wait_for("a focused button", lambda: focused_button(walk(app, [])))
        assert first in names, f"{language}: focus on {first!r}"
        at = names.index(first)
        for _ in range(len(names)):
            subprocess.run(["xdotool", "key", "Tab"], env=env, check=True)
            at = (at + 1) % len(names)
            expected = names[at]
            wait_for(f"Tab to reach {expected!r}", lambda: focused_button(walk(app, [])) == expected)
        print(f"{language}: {len(names)} buttons, {len(labels)} labels and {len(bars)} bars heard; Tab order {names}")
    finally:
        window.terminate()
        window.wait(timeout=30)


def main():
    host = os.path.abspath(sys.argv[1])
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=[write_fd], stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd) as number:
        display = ":" + number.readline().strip()
    try:
        os.environ["DISPLAY"] = display
        Atspi.init()
        check(host, display, "C.UTF-8", lambda name: name.isascii())
        check(host, display, "ko_KR.UTF-8", lambda name: any("\uac00" <= c <= "\ud7a3" for c in name))
    finally:
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    main()

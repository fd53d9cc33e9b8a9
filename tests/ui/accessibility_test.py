#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Starts the built program as a person does, on the virtual screen with a
window manager, opens every kind of window from the menus with real keys and
reads each through the accessibility bus (AT-SPI) as a screen reader does:
every control that takes the focus has a name and a role, the picture buttons
are named and described, the calculator's display reports each change, and
every window carries the program icon.

    accessibility_test.py PROGRAM

Run on its own session bus (dbus-run-session), where the accessibility bus
and its registry start on demand."""

import os
import re
import subprocess
import sys
import tempfile
import time

try:
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib
except (ImportError, ValueError) as error:
    print(f"skipped: no AT-SPI for Python ({error})")
    sys.exit(77)

# A name the toolkit makes up from the widget's type is no name.
TYPE_NAME = re.compile(r"^(gtkmm__|Gtk[A-Z]|WebKit[A-Z])")
NO_ROLE = {Atspi.Role.INVALID, Atspi.Role.UNKNOWN, Atspi.Role.FILLER}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def wait_for(predicate, seconds=20.0):  # pumping the bus meanwhile
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        GLib.MainContext.default().iteration(False)
        try:
            result = predicate()
        except GLib.GError:
            # An application that has just left the bus is still listed for a
            # moment, and asking it anything fails: ask again.
            result = None
        if result:
            return result
        time.sleep(0.05)
    return None


def keys(*arguments):
    subprocess.run(["xdotool", *arguments], check=False)


def output(*command):
    return subprocess.run(list(command), capture_output=True, text=True).stdout


def window_manager_ready():
    # wmctrl finds no window behind the announcement of one that has gone.
    return output("wmctrl", "-m").startswith("Name: ")


def menu_open():
    return any("_NET_WM_WINDOW_TYPE_MENU" in output("xprop", "-id", window_id, "_NET_WM_WINDOW_TYPE")
               for window_id in output("xdotool", "search", "--onlyvisible", "--pid",
                                       str(ticklark.pid)).split())


def the_program():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "ticklark2":
            return app
    return None


def window_named(caption):
    app = the_program()
    if app is None:
        return None
    app.clear_cache()  # windows come and go: ask the program, not what was seen before
    for i in range(app.get_child_count()):
        window = app.get_child_at_index(i)
        # A window is on the bus from when it is loaded until it is unloaded.
        if window is not None and window.get_name() == caption:
            return window
    return None


def ask(question, default=None):
    # An object that has just left the bus (a window closing, a page replaced)
    # answers nothing: it is taken as gone, not as a fault.
    try:
        return question()
    except GLib.GError:
        return default


def controls(accessible):
    """The program's own objects under |accessible|. A pane's page is the web
    process's: GTK 4.18 with WebKitGTK 2.52 puts it under the pane on the bus
    (GTK 4.8 does not), and what a page holds is not the program's to name."""
    yield accessible
    own = ask(accessible.get_process_id)
    for i in range(ask(accessible.get_child_count, 0)):
        child = ask(lambda: accessible.get_child_at_index(i))
        if child is not None and ask(child.get_process_id) == own:
            yield from controls(child)


def path_of(control):  # the roles from the window down, to find the control by
    roles = []
    while control is not None and ask(control.get_role) not in (None, Atspi.Role.FRAME):
        roles.insert(0, ask(control.get_role_name, "?"))
        control = ask(control.get_parent)
    return " > ".join(roles)


def check_every_focusable_control(window, caption, has_buttons=True):
    focusable = 0
    for control in controls(window):
        states = ask(control.get_state_set)
        if states is None or not states.contains(Atspi.StateType.FOCUSABLE):
            continue
        name, role, role_name = ask(lambda: (control.get_name() or "", control.get_role(),
                                             control.get_role_name()), (None, None, None))
        if role is None:
            continue
        focusable += 1
        where = f"{caption}: a {role_name} named '{name}' (in {path_of(control)})"
        check(name.strip() and not TYPE_NAME.match(name) and "_" not in name, where + " has a name")
        check(role not in NO_ROLE, where + " has a role")
    check(focusable > 0 or not has_buttons, f"{caption}: has controls that take the focus")


def named(window, role, name):
    return [c for c in controls(window) if c.get_role() == role and c.get_name() == name]


def on_screen(caption):  # the ids of the visible windows named |caption|
    return output("xdotool", "search", "--onlyvisible", "--name", f"^{re.escape(caption)}$").split()


def main_window_id():
    # The splash bears the same name, and the main window comes only once it
    # has gone: while a window of the splash type is on the screen, or one
    # that may still become it (a window on its way to the screen has no type
    # or size yet), there is no main window to find. A window that went
    # between the search and xprop or xwininfo gives no type or no width: it
    # is not taken for the main window either.
    found = None
    for window_id in on_screen("Ticklark 2"):
        window_type = output("xprop", "-id", window_id, "_NET_WM_WINDOW_TYPE")
        if "_NET_WM_WINDOW_TYPE_SPLASH" in window_type:
            return None
        width = re.search(r"^\s*Width: (\d+)$", output("xwininfo", "-id", window_id), re.M)
        if "_NET_WM_WINDOW_TYPE_NORMAL" in window_type and width and width.group(1) != "470":
            found = window_id
    return found


def check_icon(caption):
    # A search can miss when another window goes while it looks: it is asked again.
    ids = wait_for(lambda: on_screen(caption), 5) or []
    check(ids, f"{caption}: window found on the screen")
    for window_id in ids[:1]:
        icon = subprocess.run(["xprop", "-id", window_id, "_NET_WM_ICON"], capture_output=True,
                              text=True).stdout
        check("Icon (" in icon, f"{caption}: _NET_WM_ICON holds the program icon")


def open_from_menu(caption, access_key, *menu_keys):
    keys("windowactivate", "--sync", main_id)
    check(wait_for(lambda: main.clear_cache() or main.get_state_set().contains(Atspi.StateType.ACTIVE), 10),
          f"{caption}: the main window is active before its menu is opened")
    keys("key", access_key)
    check(wait_for(menu_open, 5), f"{caption}: the menu opens with {access_key}")
    keys("key", *menu_keys)
    window = wait_for(lambda: window_named(caption), 10)
    check(window is not None, f"{caption}: opens from the menu")
    if window is not None:
        check(window.get_role() == Atspi.Role.FRAME, f"{caption}: is a window to a screen reader")
        check(wait_for(lambda: window.get_state_set().contains(Atspi.StateType.SHOWING), 5),
              f"{caption}: shows")
        check(wait_for(lambda: on_screen(caption), 5), f"{caption}: is on the screen")
    return window


def close(caption):
    subprocess.run(["wmctrl", "-c", caption], check=False)
    wait_for(lambda: window_named(caption) is None, 10)


program = sys.argv[1]
work = tempfile.mkdtemp(prefix="ticklark-a11y.")
environment = dict(os.environ, XDG_CONFIG_HOME=f"{work}/config", XDG_DATA_HOME=f"{work}/data",
                   XDG_CACHE_HOME=f"{work}/cache")
environment.pop("NO_AT_BRIDGE", None)
manager = subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
check(wait_for(window_manager_ready, 10), "the window manager takes the screen")
ticklark = subprocess.Popen([program], env=environment, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
try:
    main = wait_for(lambda: window_named("Ticklark 2"), 30)
    check(main is not None, "the main window is on the accessibility bus")
    if main is None:
        raise SystemExit(1)
    main_id = wait_for(main_window_id, 30)
    check(main_id is not None, "the main window is on the screen")
    if main_id is None:
        raise SystemExit(1)
    check_icon("Ticklark 2")
    check_every_focusable_control(main, "main window")
    for name in ("Back", "Forward", "Stop", "Refresh"):
        buttons = named(main, Atspi.Role.PUSH_BUTTON, name)
        check(len(buttons) == 1, f"main window: one '{name}' button")
        for button in buttons:
            check(button.get_description() == name, f"main window: '{name}' has its tooltip")

    calculator = open_from_menu("Calculator", "alt+t", "Down", "Down", "Return")
    if calculator is not None:
        check_icon("Calculator")
        check_every_focusable_control(calculator, "Calculator")
        display = [c for c in controls(calculator) if c.get_description() == "Display"]
        check(len(display) == 1 and display[0].get_role() == Atspi.Role.LABEL,
              "Calculator: the display is a label described as the display")
        check(named(calculator, Atspi.Role.LABEL, "Memory empty"),
              "Calculator: the memory indicator says the memory is empty")
        heard = []
        listener = Atspi.EventListener.new(
            lambda event: heard.append(event.source.get_name())
            if event.source.get_role() == Atspi.Role.LABEL else None)
        listener.register("object:property-change:accessible-name")
        keys("type", "12")
        check(wait_for(lambda: "12" in heard, 5), f"Calculator: the display reports '1' and '12' ({heard})")
        listener.deregister("object:property-change:accessible-name")
        close("Calculator")

    about = open_from_menu("About Ticklark 2", "alt+h", "Return")
    if about is not None:
        check_icon("About Ticklark 2")
        check_every_focusable_control(about, "About")
        check(named(about, Atspi.Role.PUSH_BUTTON, "System Info..."),
              "About: the System Info button is named without its underscore")
        keys("key", "Escape")
        wait_for(lambda: window_named("About Ticklark 2") is None, 10)

    for caption, downs in (("Nasdaq Earnings Calendar", 0), ("Nasdaq Ticker", 1),
                           ("Nasdaq-100 Dynamic Heatmap\u00ae", 3), ("Nasdaq Global Markets", 4)):
        site = open_from_menu(caption, "alt+t", *(["Down"] * downs), "Return")
        if site is not None:
            check_icon(caption)
            check_every_focusable_control(site, caption, caption != "Nasdaq Ticker")
            close(caption)
finally:
    subprocess.run(["wmctrl", "-c", "Ticklark 2"], check=False)
    try:
        ticklark.wait(timeout=10)
    except subprocess.TimeoutExpired:
        ticklark.kill()
    manager.terminate()
    subprocess.run(["rm", "-rf", work], check=False)

print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)

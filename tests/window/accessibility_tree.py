#!/usr/bin/python3
"""The program's window as a screen reader finds it through AT-SPI, in English and Chinese.

Run on an X server (DISPLAY set, e.g. under xvfb-run): for each case it starts a session bus and
an accessibility bus of its own, a test service that offers the case's latest version, and the
program from a copy of the program folder; then it reads the accessibility tree out of the
program's process, over D-Bus, until the window's controls have their names and roles, within a
bound. Everything it started is ended before the next case, whatever happened.

usage: accessibility_tree.py PROGRAM_FOLDER TEST_SERVICE_BINARY
"""

import os
import selectors
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

from gi.repository import Gio, GLib

BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
REGISTRY = "org.a11y.atspi.Registry"
ROOT_PATH = "/org/a11y/atspi/accessible/root"
ACCESSIBLE = "org.a11y.atspi.Accessible"
CALL_TIMEOUT_MS = 5000
START_BOUND_S = 20
TREE_BOUND_S = 90
END_BOUND_S = 10

ENGLISH_TITLE = "Kestova Connection Speed Test"
CHINESE_TITLE = "凱斯沃寬速度測試"
ENGLISH_LINK = "Opens the iperf project page, https://iperf.fr/, in your web browser"
CHINESE_LINK = "在網頁瀏覽器中開啟 iperf 專案網頁 https://iperf.fr/"


def window_holding(title, start, restart, close, link_description):
    """The window as a screen reader should find it: its role and name, and the role, name and
    description of each of its controls and whether it can be pressed, the hidden Restart button
    included (the web view is the window's client area, a filler around the page's own
    document)."""
    return (("dialog", title), [
        ("push button", start, "", True),
        ("push button", restart, "", True),
        ("push button", close, "", True),
        ("link", "Powered by iPerf3", link_description, True),
        ("filler", title, "", False),
    ])


# Each case: the locale, whether the service offers a newer version, and the window.
CASES = [
    ("english", "en_US.UTF-8", False,
     window_holding(ENGLISH_TITLE, "Start", "Restart test", "Close", ENGLISH_LINK)),
    ("english_upgrade", "en_GB.UTF-8", True,
     window_holding(ENGLISH_TITLE, "Update", "Update", "Close", ENGLISH_LINK)),
    ("chinese", "zh_TW.UTF-8", False,
     window_holding(CHINESE_TITLE, "開始測試", "重新測試", "關閉", CHINESE_LINK)),
    ("chinese_upgrade", "zh_HK.UTF-8", True,
     window_holding(CHINESE_TITLE, "更新", "更新", "關閉", CHINESE_LINK)),
]


def wait_until(condition, bound_s, interval_s=0.1):
    """Looks at the condition until it holds or the bound has passed; its last value."""
    deadline = time.monotonic() + bound_s
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval_s)


class Processes:
    """The processes a case starts, each in a process group of its own, all ended at the end."""

    def __init__(self):
        self.started = []

    def start(self, arguments, **options):
        process = subprocess.Popen(arguments, start_new_session=True, **options)
        self.started.append(process)
        return process

    def end_all(self):
        """Ends every group it started (the helpers they started with them), last first."""
        for process in reversed(self.started):
            end_group(process.pid, signal.SIGTERM)
            try:
                process.wait(END_BOUND_S)
            except subprocess.TimeoutExpired:
                end_group(process.pid, signal.SIGKILL)
                process.wait(END_BOUND_S)
            # What the group's leader left behind in its group goes with it.
            end_group(process.pid, signal.SIGKILL)
        left = [p.pid for p in self.started
                if not wait_until(lambda: not group_alive(p.pid), END_BOUND_S)]
        self.started = []
        return left


def end_group(group, which):
    try:
        os.killpg(group, which)
    except ProcessLookupError:
        pass


def group_alive(group):
    """True while a process of the group runs (one ended and not yet reaped does not count)."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as status:
                fields = status.read().rsplit(")", 1)[1].split()
        except OSError:
            continue  # gone meanwhile
        if int(fields[2]) == group and fields[0] != "Z":
            return True
    return False


def first_line(process, bound_s):
    """The first line the process writes on standard output, or None within the bound."""
    with selectors.DefaultSelector() as selector:
        selector.register(process.stdout, selectors.EVENT_READ)
        if not selector.select(bound_s):
            return None
    line = process.stdout.readline()
    return line.decode().strip() or None


def start_session_bus(processes):
    bus = processes.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    address = first_line(bus, START_BOUND_S)
    if address is None:
        raise RuntimeError("the session bus gave no address")
    return address


def connect(address):
    """A connection to the message bus at the address."""
    return Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)


def accessibility_bus_address(session_address):
    """Starts the accessibility bus on the session bus; its address, once it answers."""
    session = connect(session_address)

    def address():
        try:
            reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                      None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE,
                                      CALL_TIMEOUT_MS, None)
            return reply.unpack()[0]
        except GLib.Error:
            return None

    found = wait_until(address, START_BOUND_S)
    if not found:
        raise RuntimeError("the accessibility bus did not start")
    return found


def copy_program_folder(source, target):
    shutil.copytree(source, target, symlinks=True)
    # The copy is the user's own: the program runs no script from a folder others can write.
    for folder, names, files in os.walk(target):
        for name in [folder] + [os.path.join(folder, n) for n in names + files]:
            if not os.path.islink(name):
                mode = os.stat(name).st_mode
                os.chmod(name, mode & ~(stat.S_IWGRP | stat.S_IWOTH))


def start_service(processes, binary, latest_version):
    service = processes.start([binary, "--port", "0", "--latest-version", latest_version],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    line = first_line(service, START_BOUND_S)
    if line is None or ":" not in line:
        raise RuntimeError("the test service did not start")
    return line.rsplit(" ", 1)[-1]


class Tree:
    """The accessibility tree as read over the accessibility bus."""

    def __init__(self, address):
        self.bus = connect(address)

    def call(self, node, method, reply_type):
        reply = self.bus.call_sync(node[0], node[1], ACCESSIBLE, method, None,
                                   GLib.VariantType(reply_type), Gio.DBusCallFlags.NONE,
                                   CALL_TIMEOUT_MS, None)
        return reply.unpack()[0]

    def property(self, node, name):
        reply = self.bus.call_sync(node[0], node[1], "org.freedesktop.DBus.Properties", "Get",
                                   GLib.Variant("(ss)", (ACCESSIBLE, name)),
                                   GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE,
                                   CALL_TIMEOUT_MS, None)
        return reply.unpack()[0]

    def children(self, node):
        return [tuple(child) for child in self.call(node, "GetChildren", "(a(so))")]

    def role(self, node):
        return self.call(node, "GetRoleName", "(s)")

    def pressable(self, node):
        """True when a screen reader can press the node (one of its actions is Press)."""
        try:
            reply = self.bus.call_sync(node[0], node[1], "org.a11y.atspi.Action", "GetActions",
                                       None, GLib.VariantType("(a(sss))"),
                                       Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None)
        except GLib.Error:
            return False  # not something to act on
        return any(action[0] == "Press" for action in reply.unpack()[0])

    def window(self, node):
        return (self.role(node), self.property(node, "Name"))

    def control(self, node):
        return (self.role(node), self.property(node, "Name"), self.property(node, "Description"),
                self.pressable(node))

    def windows(self):
        """Each top-level window of every application: its (role, name) and its children's."""
        found = []
        for application in self.children((REGISTRY, ROOT_PATH)):
            try:
                for window in self.children(application):
                    found.append((self.window(window),
                                  [self.control(c) for c in self.children(window)]))
            except GLib.Error:
                continue  # an application that went away, or does not answer yet
        return found


def read_window(tree, window, controls, seen):
    """The window's controls as read, once they are these and no others; None until then. What
    was read last is kept in seen."""
    try:
        seen[:] = tree.windows()
    except GLib.Error as error:
        seen[:] = [str(error)]
        return None
    for described, children in seen:
        if described == window and sorted(children) == sorted(controls):
            return children
    return None


def run_case(case, program_folder, service_binary, work):
    name, locale, upgrade, (window, controls) = case
    processes = Processes()
    try:
        session = start_session_bus(processes)
        environment = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=session)
        processes.start([BUS_LAUNCHER, "--launch-immediately"], env=environment,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        tree = Tree(accessibility_bus_address(session))

        folder = os.path.join(work, name)
        copy_program_folder(program_folder, folder)
        with open(os.path.join(folder, "speedTest", "localVersion.txt")) as local:
            latest = "99.0.0" if upgrade else local.read().strip()
        service = start_service(processes, service_binary, latest)

        for variable in ("LC_ALL", "LC_MESSAGES", "LANGUAGE"):
            environment.pop(variable, None)
        environment.update(LANG=locale, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                           QT_QPA_PLATFORM="xcb")
        with open(os.path.join(folder, "runlog.txt"), "wb") as log:
            processes.start([os.path.join(folder, "kestova-speedtest"), "--service", service],
                            cwd=folder, env=environment, stdout=log, stderr=subprocess.STDOUT)
        seen = []
        found = wait_until(lambda: read_window(tree, window, controls, seen), TREE_BOUND_S, 0.5)
        if not found:
            print(f"FAIL {name}: the window {window} with {controls} was not found; "
                  f"the windows read last: {seen}")
            with open(os.path.join(folder, "runlog.txt"), errors="replace") as log:
                print(f"the program's output:\n{log.read()[-4000:]}")
            return False
        print(f"ok {name}: {window} holds {found}")
        return True
    except RuntimeError as failure:
        print(f"FAIL {name}: {failure}")
        return False
    finally:
        left = processes.end_all()
        if left:
            print(f"FAIL {name}: processes left running in groups {left}")
            return False


def main():
    if len(sys.argv) != 3 or "DISPLAY" not in os.environ:
        print(__doc__, file=sys.stderr)
        return 2
    program_folder, service_binary = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="kestova-atspi-") as work:
        results = [run_case(case, program_folder, service_binary, work) for case in CASES]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())

"""Drives the real Quorvix window from outside, as a desktop user and a screen reader would.

A Session starts, in a temporary folder of its own: Xvfb on a free display, the openbox window
manager, a session D-Bus with the accessibility bus, and the program with HOME, XDG_CONFIG_HOME
and XDG_RUNTIME_DIR inside that folder (so it never reads or writes real settings and its
single-instance lock never meets another copy). Every process it starts carries a marker in its
environment; closing the session ends them all, including the ones D-Bus started on demand, and
reports any that survived.

Runs with Debian's /usr/bin/python3 (python3-pyatspi). pyatspi is imported only once the session's
buses exist, because it binds to the accessibility bus of the environment it is imported in, so a
process holds one session at a time.
"""

import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

MARKER = "QUORVIX_DESKTOP_SESSION"


class HarnessError(RuntimeError):
    pass


# The session whose buses pyatspi was bound to; a second one in the same process would read the
# first one's (dead) accessibility bus.
_bound_session = None


def _processes_with_marker(value):
    """Process ids whose environment holds MARKER=value (only our own processes are readable)."""
    needle = f"{MARKER}={value}".encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as environ:
                if needle in environ.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            continue
    return found


def _exit_on_signal(number, _frame):
    raise SystemExit(128 + number)


def _alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            # A zombie has ended; only its parent's wait is missing.
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def _wait_until(predicate, timeout, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() >= deadline:
            return result
        time.sleep(interval)


class Node:
    """One accessible object: its role, name, states and extents on the screen."""

    def __init__(self, accessible):
        import pyatspi

        self.accessible = accessible
        self.role = accessible.getRoleName()
        self.name = accessible.name or ""
        self.states = {pyatspi.stateToString(s) for s in accessible.getState().getStates()}
        try:
            box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            self.extents = (box.x, box.y, box.width, box.height)
        except NotImplementedError:
            self.extents = None

    @property
    def children(self):
        result = []
        for index in range(self.accessible.childCount):
            child = self.accessible.getChildAtIndex(index)
            if child is not None:
                result.append(Node(child))
        return result

    @property
    def showing(self):
        return "showing" in self.states

    def centre(self):
        if not self.extents or self.extents[2] <= 0 or self.extents[3] <= 0:
            raise HarnessError(f"{self} has no area on the screen")
        x, y, width, height = self.extents
        return x + width // 2, y + height // 2

    def walk(self, depth=0, max_depth=60):
        yield depth, self
        if depth < max_depth:
            for child in self.children:
                yield from child.walk(depth + 1, max_depth)

    def find_all(self, role=None, name=None, showing=None):
        return [
            node
            for _, node in self.walk()
            if (role is None or node.role == role)
            and (name is None or node.name == name)
            and (showing is None or node.showing == showing)
        ]

    def dump(self):
        lines = []
        for depth, node in self.walk():
            states = ",".join(sorted(node.states))
            lines.append(f"{'  ' * depth}{node.role} {node.name!r} [{states}] {node.extents}")
        return "\n".join(lines)

    def __repr__(self):
        return f"<{self.role} {self.name!r}>"


class Session:
    """One private desktop with the program running in it. Use as a context manager."""

    def __init__(self, program, args=(), dpi_scale=None, theme=None, screen=(1280, 1024),
                 home_files=None):
        self.program = program
        # {path below HOME: text}, written before the program starts (a config.ini, say).
        self.home_files = dict(home_files or {})
        self.args = list(args)
        # Unset knobs come from the environment, so any test can be run again at another setting.
        self.dpi_scale = dpi_scale or os.environ.get("QUORVIX_DESKTOP_DPI_SCALE") or None
        self.theme = theme or os.environ.get("QUORVIX_DESKTOP_THEME") or None
        self.screen = screen
        self.folder = None
        self.display = None
        self.env = None
        self.survivors = []
        self._started = []  # (name, Popen), in start order
        self._logs = []

    # ---- start and stop ----

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

    def start(self):
        global _bound_session
        if _bound_session is not None:
            raise HarnessError("one session per process: run each test in a process of its own")
        _bound_session = self
        # A stop by signal unwinds through close() like a failure does.
        for number in (signal.SIGTERM, signal.SIGHUP):
            if signal.getsignal(number) is signal.SIG_DFL:
                signal.signal(number, _exit_on_signal)
        self.folder = tempfile.mkdtemp(prefix="quorvix-desktop-")
        home = os.path.join(self.folder, "home")
        runtime = os.path.join(self.folder, "runtime")
        for path in (home, runtime, os.path.join(home, ".config")):
            os.makedirs(path, mode=0o700, exist_ok=True)
        for relative, text in self.home_files.items():
            path = os.path.join(home, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as file:
                file.write(text)
        env = {
            key: value
            for key, value in os.environ.items()
            if not key.startswith(("DBUS_", "AT_SPI", "GTK_", "GDK_", "XDG_", "WAYLAND", "DISPLAY"))
            and key not in ("NO_AT_BRIDGE", "XAUTHORITY", "SESSION_MANAGER")
        }
        env.update(
            {
                MARKER: self.folder,
                "HOME": home,
                "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                "XDG_CACHE_HOME": os.path.join(home, ".cache"),
                "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
                "XDG_RUNTIME_DIR": runtime,
                "GDK_BACKEND": "x11",
                # Debian's GTK 3 loads the bridge itself; these make sure nothing turns it off.
                "GTK_MODULES": "gail:atk-bridge",
                "ACCESSIBILITY_ENABLED": "1",
                "GSETTINGS_BACKEND": "memory",
                "LANG": "C.UTF-8",
            }
        )
        self.env = env
        self._start_x()
        self._start_buses()
        self._spawn("openbox", ["openbox", "--sm-disable"])
        # openbox owns the screen once it has set its supporting-check window.
        if not _wait_until(self._window_manager_ready, 10):
            raise HarnessError("openbox did not start")
        if self.dpi_scale is not None:
            self.env["GDK_DPI_SCALE"] = str(self.dpi_scale)
        if self.theme is not None:
            self.env["GTK_THEME"] = self.theme
        self._spawn("program", [self.program, *self.args])
        os.environ.update(
            {
                key: self.env[key]
                for key in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS")
            }
        )
        os.environ.pop("NO_AT_BRIDGE", None)

    def _spawn(self, name, argv, pass_fds=()):
        log = open(os.path.join(self.folder, f"{name}.log"), "wb")
        self._logs.append(log)
        # setpriv: should this process be killed outright (a test's time limit), its children
        # get SIGTERM instead of living on without it.
        process = subprocess.Popen(
            ["setpriv", "--pdeathsig", "TERM", *argv],
            env=self.env,
            stdin=subprocess.DEVNULL,
            stdout=log,
            stderr=subprocess.STDOUT,
            pass_fds=pass_fds,
            start_new_session=True,
        )
        self._started.append((name, process))
        return process

    def _read_line_from(self, fd, process, what, timeout=10):
        """The first line a started process writes to fd (the display number, a bus address)."""
        data = b""
        deadline = time.monotonic() + timeout
        while not data.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or process.poll() is not None:
                raise HarnessError(f"{what} did not start; see {self.folder}")
            ready, _, _ = select.select([fd], [], [], min(remaining, 0.2))
            if ready:
                chunk = os.read(fd, 256)
                if not chunk:
                    raise HarnessError(f"{what} closed its pipe; see {self.folder}")
                data += chunk
        return data.decode().strip()

    def _start_x(self):
        read_end, write_end = os.pipe()
        try:
            width, height = self.screen
            xvfb = self._spawn(
                "xvfb",
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,),
            )
            os.close(write_end)
            write_end = None
            self.display = ":" + self._read_line_from(read_end, xvfb, "Xvfb")
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        self.env["DISPLAY"] = self.display

    def _start_buses(self):
        read_end, write_end = os.pipe()
        try:
            bus = self._spawn(
                "dbus",
                ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                 "--address=unix:path=" + os.path.join(self.folder, "runtime", "bus"),
                 f"--print-address={write_end}"],
                pass_fds=(write_end,),
            )
            os.close(write_end)
            write_end = None
            self.env["DBUS_SESSION_BUS_ADDRESS"] = self._read_line_from(read_end, bus, "dbus-daemon")
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        launcher = self._spawn(
            "atspi", ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"]
        )
        address = _wait_until(lambda: self._accessibility_bus_address(launcher), 10, 0.1)
        if not address:
            raise HarnessError(f"the accessibility bus did not start; see {self.folder}")
        self.env["AT_SPI_BUS_ADDRESS"] = address

    def _accessibility_bus_address(self, launcher):
        if launcher.poll() is not None:
            raise HarnessError(f"at-spi-bus-launcher ended; see {self.folder}")
        result = subprocess.run(
            ["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
             "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
            env=self.env, capture_output=True, text=True, timeout=10,
        )
        return result.stdout.strip() if result.returncode == 0 else ""

    def _window_manager_ready(self):
        result = subprocess.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
            env=self.env, capture_output=True, text=True, timeout=10,
        )
        return "window id" in result.stdout

    def log(self, name="program"):
        """What a started process wrote (standard output and error together)."""
        try:
            with open(os.path.join(self.folder, f"{name}.log"), errors="replace") as log:
                return log.read()
        except (OSError, TypeError):
            return ""

    def program_ended(self):
        for name, process in self._started:
            if name == "program":
                return process.poll()
        return None

    def close(self):
        """Ends every process of the session, newest first; survivors are listed in .survivors."""
        for name, process in reversed(self._started):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    process.wait(timeout=3 if name == "program" else 2)
                except subprocess.TimeoutExpired:
                    try:
                        os.killpg(process.pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
                    process.wait(timeout=5)
            else:
                # Whatever the leader left behind in its group (the decoder, a helper).
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except (ProcessLookupError, PermissionError):
                    pass
        if self.folder:
            # Processes D-Bus started on demand (the registry, the accessibility bus's daemon)
            # are not in our groups but carry the marker.
            for pid in _processes_with_marker(self.folder):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            _wait_until(lambda: not any(_alive(p) for p in _processes_with_marker(self.folder)), 5)
            self.survivors = [p for p in _processes_with_marker(self.folder) if _alive(p)]
        for log in self._logs:
            log.close()
        self._logs = []
        if self.folder and not os.environ.get("QUORVIX_DESKTOP_KEEP"):
            shutil.rmtree(self.folder, ignore_errors=True)
        return self.survivors

    # ---- the accessible tree ----

    def application(self):
        """The program's node on the accessibility bus, or None while it has not registered."""
        import pyatspi

        desktop = pyatspi.Registry.getDesktop(0)
        program = os.path.basename(self.program)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is None:
                continue
            try:
                if app.name in (program, "quorvix", "quorvix-window") or app.get_process_id() == self._program_pid():
                    return Node(app)
            except Exception:  # an application that went away while we looked
                continue
        return None

    def _program_pid(self):
        for name, process in self._started:
            if name == "program":
                return process.pid
        return None

    def _check_program(self):
        status = self.program_ended()
        if status is not None:
            raise HarnessError(f"the program ended with status {status}:\n{self.log()}")

    def windows(self):
        app = self.application()
        return app.children if app else []

    def wait_for_window(self, title, timeout=20, role=None):
        """The showing top-level window of that title (a frame, dialog or alert)."""

        def look():
            self._check_program()
            for window in self.windows():
                if window.name == title and window.showing and (role is None or window.role == role):
                    return window
            return None

        window = _wait_until(look, timeout, 0.1)
        if not window:
            names = [(w.role, w.name, w.showing) for w in self.windows()]
            raise HarnessError(f"no window {title!r} within {timeout} s; windows: {names}")
        return self.settled(window)

    def settled(self, node, timeout=5):
        """node read again once it has an area that holds still: a window is "showing" before the
        window manager has given it its size, and a test measuring it then sees 1 by 1 pixels."""
        last = [node]

        def look():
            fresh = Node(node.accessible)
            area = fresh.extents
            still = area == last[0].extents
            last[0] = fresh
            return fresh if area and area[2] > 1 and area[3] > 1 and still else None

        time.sleep(0.1)
        fresh = _wait_until(look, timeout, 0.1)
        if not fresh:
            raise HarnessError(f"{node} has no steady area on the screen: {last[0].extents}")
        return fresh

    def wait_for_window_gone(self, title, timeout=10):
        gone = _wait_until(
            lambda: not any(w.name == title and w.showing for w in self.windows()), timeout, 0.1
        )
        if not gone:
            raise HarnessError(f"window {title!r} still showing after {timeout} s")

    def find(self, role, name, root=None, timeout=10, showing=None):
        """The first node of that role and name below root (default: the whole program)."""

        def look():
            self._check_program()
            base = root if root is not None else self.application()
            if base is None:
                return None
            found = base.find_all(role=role, name=name, showing=showing)
            return found[0] if found else None

        node = _wait_until(look, timeout, 0.1)
        if not node:
            raise HarnessError(f"no {role} {name!r} within {timeout} s")
        return node

    def dump(self, root=None):
        base = root if root is not None else self.application()
        return base.dump() if base else "(the program has no accessible tree)"

    # ---- input ----

    def keys(self, *keys, delay_ms=60):
        """Presses keys in turn, xdotool names: "F10", "Down", "Return", "ctrl+n", "Escape"."""
        self._check_program()
        subprocess.run(["xdotool", "key", "--delay", str(delay_ms), *keys], env=self.env,
                       check=True, timeout=30)

    def type_text(self, text):
        self._check_program()
        subprocess.run(["xdotool", "type", "--delay", "30", text], env=self.env, check=True,
                       timeout=60)

    def click(self, node, button=1):
        """Clicks the centre of a node with the pointer."""
        x, y = node.centre()
        subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", str(button)],
                       env=self.env, check=True, timeout=30)

    def menu_bar(self, window):
        bars = window.find_all(role="menu bar")
        if not bars:
            raise HarnessError(f"{window} has no menu bar")
        return bars[0]

    def choose_menu_item(self, window, menu, item, max_steps=40):
        """Opens a menu with F10 and the arrow keys and selects an item with Down, checking the
        tree after each key; Return then activates it. Keys, not AT-SPI actions: an action that
        opens a modal window blocks the tree until that window closes."""
        menus = [node.name for node in self.menu_bar(window).children]
        if menu not in menus:
            raise HarnessError(f"no menu {menu!r} in {menus}")
        def selection():
            node = self.find("menu", menu, root=window)
            return [child.name for child in node.children if "selected" in child.states]

        # GTK opens the menu with nothing selected; the first Down selects its first item.
        self.keys("F10", *(["Right"] * menus.index(menu)))
        if not _wait_until(lambda: self.find("menu", menu, root=window).children[0].showing, 5):
            raise HarnessError(f"menu {menu!r} did not open")
        before = selection()
        for _ in range(max_steps):
            if before == [item]:
                return
            self.keys("Down")
            # Each key is read back from the tree before the next, so none is lost or doubled.
            now = _wait_until(lambda: selection() != before and selection(), 2) or selection()
            before = now
        raise HarnessError(f"could not select {item!r} in menu {menu!r}")

    # ---- pictures ----

    def screenshot(self, path, node=None, region=None):
        """Writes the screen, or the part a node (or an x, y, width, height region) covers, to a
        PNG file."""
        argv = ["import", "-display", self.display, "-window", "root"]
        if node is not None:
            region = node.extents
        if region is not None:
            x, y, width, height = region
            x, y = max(x, 0), max(y, 0)
            width = min(width, self.screen[0] - x)
            height = min(height, self.screen[1] - y)
            if width <= 0 or height <= 0:
                raise HarnessError(f"nothing of {region} lies on the screen")
            argv += ["-crop", f"{width}x{height}+{x}+{y}", "+repage"]
        subprocess.run([*argv, "png:" + path], env=self.env, check=True, timeout=30,
                       capture_output=True)
        return path


def bounding_box(nodes):
    """The smallest x, y, width, height holding every node that lies on the screen."""
    boxes = [n.extents for n in nodes if n.extents and n.extents[2] > 1 and n.extents[0] > -10000]
    if not boxes:
        raise HarnessError("none of the nodes lies on the screen")
    left = min(b[0] for b in boxes)
    top = min(b[1] for b in boxes)
    right = max(b[0] + b[2] for b in boxes)
    bottom = max(b[1] + b[3] for b in boxes)
    return left, top, right - left, bottom - top

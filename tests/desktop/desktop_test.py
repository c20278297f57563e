"""The real window driven from outside through keys, the pointer and the accessibility tree.

Each test runs the program in a private desktop of its own (desktop_session.Session). The
program is QUORVIX_WINDOW_PROGRAM (the build's bin/quorvix-window). Pictures land in
QUORVIX_DESKTOP_SHOTS when it is set, else in a temporary folder removed afterwards.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

# Nothing written into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop_session import (  # noqa: E402
    HarnessError,
    Session,
    _alive,
    _processes_with_marker,
    _wait_until,
)

TITLE = "Quorvix 2.7"
SCREEN = (1280, 1024)


def program():
    path = os.environ.get("QUORVIX_WINDOW_PROGRAM", "")
    if not os.access(path, os.X_OK):
        raise unittest.SkipTest("QUORVIX_WINDOW_PROGRAM names no program")
    return path


def png_size(path):
    """Width and height from a PNG's header; fails on anything that is not a PNG."""
    with open(path, "rb") as png:
        head = png.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise AssertionError(f"{path} is not a PNG")
    return struct.unpack(">II", head[16:24])


def colour_count(path):
    result = subprocess.run(["identify", "-format", "%k", path], capture_output=True, text=True,
                            check=True, timeout=30)
    return int(result.stdout)


class DesktopTest(unittest.TestCase):
    def setUp(self):
        self.shots = os.environ.get("QUORVIX_DESKTOP_SHOTS")
        if self.shots:
            os.makedirs(self.shots, exist_ok=True)
        else:
            self._shots = tempfile.TemporaryDirectory(prefix="quorvix-shots-")
            self.addCleanup(self._shots.cleanup)
            self.shots = self._shots.name

    def start(self, **knobs):
        session = Session(program(), screen=SCREEN, **knobs)
        session.start()

        def close():
            survivors = session.close()
            self.assertEqual(survivors, [], "processes of the session outlived it")

        self.addCleanup(close)
        # Kept for a failing test's report.
        self.session = session
        return session

    def run(self, result=None):
        outcome = super().run(result)
        session = getattr(self, "session", None)
        if result is not None and session is not None and not result.wasSuccessful():
            sys.stderr.write(f"--- program output ---\n{session.log()}\n")
        return outcome

    def assert_menus_readable(self, session, window):
        bar = session.menu_bar(window)
        self.assertEqual([menu.name for menu in bar.children], ["File", "Converter", "Help"])
        items = [item.name for item in session.find("menu", "File", root=window).children]
        self.assertIn("New", items)
        self.assertIn("Exit", items)

    def test_main_window_shows_its_menus_in_the_tree(self):
        session = self.start()
        window = session.wait_for_window(TITLE, role="frame")
        self.assertIn("active", window.states)
        self.assert_menus_readable(session, window)
        help_items = [item.name for item in session.find("menu", "Help", root=window).children]
        self.assertIn("About...", help_items)
        # The window lies on the screen with a sensible size.
        x, y, width, height = window.extents
        self.assertGreaterEqual(x, 0)
        self.assertGreaterEqual(y, 0)
        self.assertLessEqual(x + width, SCREEN[0])
        self.assertLessEqual(y + height, SCREEN[1])
        self.assertGreater(width, 300)

    def test_f10_and_arrow_keys_open_the_menus(self):
        session = self.start()
        window = session.wait_for_window(TITLE, role="frame")
        file_menu = session.find("menu", "File", root=window)
        self.assertFalse(any(item.showing for item in file_menu.children))
        session.keys("F10")
        session.find("menu item", "Add Input File...", root=window, showing=True)
        shown = [i.name for i in session.find("menu", "File", root=window).children if i.showing]
        self.assertEqual(
            [name for name in shown if name],
            ["New", "Add Input File...", "Select Output Folder...", "Exit"],
        )
        session.keys("Right")
        session.find("menu item", "Preferences...", root=window, showing=True)
        # The File menu closed as the Converter menu opened.
        session.find("menu item", "Exit", root=window, showing=False, timeout=5)
        session.keys("Escape", "Escape")
        session.find("menu item", "Preferences...", root=window, showing=False)

    def test_preferences_open_by_keys_and_close_with_escape(self):
        session = self.start()
        window = session.wait_for_window(TITLE, role="frame")
        session.choose_menu_item(window, "Converter", "Preferences...")
        session.keys("Return")
        dialog = session.wait_for_window("Preferences...")
        session.find("push button", "OK", root=dialog)
        session.find("push button", "Cancel", root=dialog)
        session.screenshot(os.path.join(self.shots, "preferences.png"), dialog)
        session.keys("Escape")
        session.wait_for_window_gone("Preferences...")
        # Back in the main window, which still answers.
        self.assertTrue(
            _wait_until(lambda: "active" in session.wait_for_window(TITLE).states, 5),
            "the main window did not get the focus back",
        )
        self.assertIsNone(session.program_ended())

    def test_defaults_question_answered_with_return_keeps_every_setting(self):
        config = ".config/Halvane/tarnex/config.ini"
        original = "[Advanced]\nFilename Mask=%filename%-kept.%ext%\n"
        session = self.start(home_files={config: original})
        stored = os.path.join(session.folder, "home", config)
        window = session.wait_for_window(TITLE, role="frame")
        session.choose_menu_item(window, "Converter", "Preferences...")
        session.keys("Return")
        dialog = session.wait_for_window("Preferences...")
        session.click(session.find("push button", "Defaults", root=dialog))
        # GTK names the box after its kind.
        session.wait_for_window("Question", role="alert")
        # One stray Return answers No: the dialog stays and nothing is written.
        session.keys("Return")
        session.wait_for_window_gone("Question")
        dialog = session.wait_for_window("Preferences...")
        with open(stored) as file:
            self.assertEqual(file.read(), original)
        # OK writes the fields as they were: not reset.
        session.click(session.find("push button", "OK", root=dialog))
        session.wait_for_window_gone("Preferences...")
        self.assertTrue(_wait_until(lambda: open(stored).read() != original, 5))
        with open(stored) as file:
            self.assertIn("Filename Mask = %filename%-kept.%ext%\n", file.read())
        self.assertIsNone(session.program_ended())

    def test_screenshots_are_pngs_of_the_screen_and_the_window(self):
        session = self.start()
        window = session.wait_for_window(TITLE, role="frame")
        screen = session.screenshot(os.path.join(self.shots, "screen.png"))
        self.assertEqual(png_size(screen), SCREEN)
        self.assertGreater(os.path.getsize(screen), 1000)
        shot = session.screenshot(os.path.join(self.shots, "main.png"), window)
        self.assertEqual(png_size(shot), tuple(window.extents[2:]))
        # A drawn window, not an empty area.
        self.assertGreater(colour_count(shot), 16)

    def check_setting(self, name, **knobs):
        session = self.start(**knobs)
        window = session.wait_for_window(TITLE, role="frame")
        self.assert_menus_readable(session, window)
        session.find("label", "Input File:", root=window)
        shot = session.screenshot(os.path.join(self.shots, f"main_{name}.png"))
        self.assertEqual(png_size(shot), SCREEN)

    def test_larger_font_starts_with_a_readable_tree(self):
        self.check_setting("dpi150", dpi_scale=1.5)

    def test_dark_theme_starts_with_a_readable_tree(self):
        self.check_setting("dark", theme="Adwaita:dark")

    def test_session_ends_every_process_when_a_test_fails(self):
        session = Session(program(), screen=SCREEN)
        with self.assertRaises(HarnessError):
            with session:
                session.wait_for_window(TITLE, role="frame")
                self.assertGreaterEqual(len(_processes_with_marker(session.folder)), 5)
                # A window that never comes fails the way a test's wait does.
                session.wait_for_window("No such window", timeout=1)
        self.assertEqual(session.survivors, [])
        self.assertFalse(os.path.exists(session.folder))
        display_socket = "/tmp/.X11-unix/X" + session.display.lstrip(":")
        self.assertFalse(os.path.exists(display_socket), "Xvfb still serves the display")

    def test_session_ends_when_the_driver_is_killed(self):
        # As a test's time limit does it: no chance for close() to run.
        driver = subprocess.Popen(
            [sys.executable, "-c", KILLED_DRIVER, os.path.dirname(os.path.abspath(__file__)),
             program(), TITLE],
            stdout=subprocess.PIPE, text=True,
        )
        self.addCleanup(driver.wait)
        self.addCleanup(driver.kill)
        folder = driver.stdout.readline().strip()
        self.assertTrue(folder, "the driver did not start its session")
        self.assertGreaterEqual(len(_processes_with_marker(folder)), 5)
        driver.kill()
        driver.wait()
        left = _wait_until(
            lambda: not [p for p in _processes_with_marker(folder) if _alive(p)], 10
        )
        self.assertTrue(left, "processes of the session outlived its driver")
        shutil.rmtree(folder, ignore_errors=True)


KILLED_DRIVER = """
import sys, time
sys.dont_write_bytecode = True
sys.path.insert(0, sys.argv[1])
from desktop_session import Session
session = Session(sys.argv[2])
session.start()
session.wait_for_window(sys.argv[3], role="frame")
print(session.folder, flush=True)
time.sleep(120)
"""


def run_each_in_its_own_process():
    """pyatspi binds to one accessibility bus per process, so each test gets a process."""
    names = [
        f"{DesktopTest.__name__}.{name}"
        for name in unittest.TestLoader().getTestCaseNames(DesktopTest)
    ]
    failed = [
        name for name in names
        if subprocess.run([sys.executable, os.path.abspath(__file__), name]).returncode != 0
    ]
    print(f"{len(names) - len(failed)} of {len(names)} passed" + "".join(f"\nFAILED {n}" for n in failed))
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) == 1:
        sys.exit(run_each_in_its_own_process())
    unittest.main()

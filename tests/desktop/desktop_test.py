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
            [
                "New",
                "Add Input File...",
                "Add Input Folder...",
                "Include Subfolders",
                "Select Output Folder...",
                "Exit",
            ],
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

    # ---- keyboard, screen readers, fonts and the end-of-run report ----

    def focused(self, session):
        return [(node.role, node.name) for _, node in session.application().walk()
                if "focused" in node.states]

    def wait_focus(self, session, role, name):
        found = _wait_until(lambda: (role, name) in self.focused(session), 5)
        self.assertTrue(found, f"{role} {name!r} did not get the focus: {self.focused(session)}")

    def assert_no_gtk_complaints(self, session):
        log = session.log()
        for word in ("CRITICAL", "WARNING", "Gtk-"):
            self.assertNotIn(word, log)

    def test_mnemonics_tab_order_and_accessible_names(self):
        session = self.start()
        window = session.wait_for_window(TITLE, role="frame")
        # Every control a screen reader lands on has a name, the picture-only ones included.
        for role in ("push button", "text", "combo box"):
            for node in window.find_all(role=role, showing=True):
                self.assertTrue(node.name, f"a {role} without a name:\n{session.dump(window)}")
        session.find("push button", "Convert", root=window, showing=True)
        # Alt and a label's letter reach its field; Tab goes on in the order on the screen.
        session.keys("alt+o")
        self.wait_focus(session, "text", "Output Folder")
        session.keys("alt+i")
        self.wait_focus(session, "text", "Input File")
        session.keys("Tab")
        self.wait_focus(session, "push button", "Add Input File...")
        session.keys("Tab")
        self.wait_focus(session, "text", "Output Folder")
        # Alt and a menu's letter open it; a letter in the menu chooses the item.
        session.keys("alt+c")
        session.find("menu item", "Find a File Converter...", root=window, showing=True)
        session.keys("f")
        search = session.wait_for_window("Find a File Converter")
        session.keys("alt+t")
        self.wait_focus(session, "text", "To")
        session.keys("alt+f")
        self.wait_focus(session, "text", "From")
        session.keys("Escape")
        session.wait_for_window_gone(search.name)
        session.keys("alt+h")
        session.find("menu item", "About...", root=window, showing=True)
        session.keys("a")
        session.wait_for_window("About...")
        session.keys("Return")
        session.wait_for_window_gone("About...")
        self.assert_no_gtk_complaints(session)

    def test_preferences_name_every_control_and_reach_rows_by_their_letters(self):
        session = self.start()
        window = session.wait_for_window(TITLE, role="frame")
        session.choose_menu_item(window, "Converter", "Preferences...")
        session.keys("Return")
        dialog = session.wait_for_window("Preferences...")
        # The page list has the focus, and a name of its own; End shows the last page, Advanced.
        pages = [node for _, node in dialog.walk() if node.role in ("table", "tree table", "list")]
        self.assertEqual([node.name for node in pages], ["Preferences"], session.dump(dialog))
        session.keys("End")
        session.find("label", "Advanced", root=dialog, showing=True)
        controls = ("push button", "text", "combo box", "check box", "spin button", "slider")
        named = 0
        for _, node in dialog.walk():
            if node.role in controls and node.showing:
                self.assertTrue(node.name, f"a {node.role} without a name:\n{session.dump(dialog)}")
                named += 1
        self.assertGreaterEqual(named, 8)
        session.find("text", "Filename Mask", root=dialog, showing=True)
        # Alt and a row's letter reach its control; the buttons have theirs.
        session.keys("alt+f")
        self.wait_focus(session, "text", "Filename Mask")
        session.keys("alt+c")
        session.wait_for_window_gone("Preferences...")
        self.assert_no_gtk_complaints(session)

    def test_a_larger_font_keeps_the_preferences_buttons_and_spin_boxes_whole(self):
        session = self.start(dpi_scale=1.5)
        window = session.wait_for_window(TITLE, role="frame")
        session.choose_menu_item(window, "Converter", "Preferences...")
        session.keys("Return")
        dialog = session.wait_for_window("Preferences...")
        # Adjustment, the page of the spin boxes.
        session.keys("Down", "Down", "Down", "Down", "Down")
        session.find("label", "Adjustment", root=dialog, showing=True)
        session.screenshot(os.path.join(self.shots, "preferences_dpi150.png"), dialog)
        left, top, width, height = session.settled(dialog).extents
        shown = [node for _, node in dialog.walk()
                 if node.role in ("push button", "spin button", "slider") and node.showing]
        self.assertGreaterEqual(len(shown), 6, session.dump(dialog))
        for node in shown:
            x, y, w, h = node.extents
            self.assertGreaterEqual(x, left, node.name)
            self.assertLessEqual(x + w, left + width, f"{node.role} {node.name} is cut")
            self.assertLessEqual(y + h, top + height, f"{node.role} {node.name} is cut")
        # A spin box is as wide as GTK asks: no complaints on keys typed into it.
        session.click(dialog.find_all(role="spin button", showing=True)[0])
        session.keys("ctrl+a", "minus", "3", "0")
        session.keys("Escape")
        session.wait_for_window_gone("Preferences...")
        self.assert_no_gtk_complaints(session)

    def test_a_failed_conversion_lists_its_file_and_reason(self):
        work = tempfile.mkdtemp(prefix="quorvix-failed-")
        self.addCleanup(shutil.rmtree, work, True)
        damaged = os.path.join(work, "damaged.psd")
        with open(damaged, "wb") as file:
            file.write(b"8BPS" + b"\x00" * 40)
        session = self.start()
        window = session.wait_for_window(TITLE, role="frame")
        session.keys("alt+i")
        self.wait_focus(session, "text", "Input File")
        session.type_text(damaged)
        # The typed file fills the empty output folder with its own.
        folder = session.find("text", "Output Folder", root=window)
        self.assertTrue(
            _wait_until(lambda: folder.accessible.queryText().getText(0, -1).rstrip("/") == work, 5),
            "the typed input did not fill the output folder",
        )
        session.keys("F5")
        report = session.wait_for_window("Conversion ended with errors (1/1)")
        session.find("label", "Files converted: 0 of 1", root=report)
        failures = session.find("text", "Files not converted", root=report)
        text = failures.accessible.queryText().getText(0, -1)
        self.assertIn(damaged + ": ", text)
        self.assertIn("damaged document, or it cannot be read", text)
        session.screenshot(os.path.join(self.shots, "failed_report.png"), report)
        # Return presses OK; the window is back and took no harm.
        session.keys("Return")
        session.wait_for_window_gone(report.name)
        self.assertEqual(os.listdir(work), ["damaged.psd"])
        self.assert_no_gtk_complaints(session)

    def test_the_main_close_box_is_heard_while_the_progress_window_is_open(self):
        work = tempfile.mkdtemp(prefix="quorvix-close-")
        self.addCleanup(shutil.rmtree, work, True)
        damaged = os.path.join(work, "damaged.psd")
        with open(damaged, "wb") as file:
            file.write(b"8BPS")
        session = self.start()
        session.wait_for_window(TITLE, role="frame")
        session.keys("alt+i")
        session.type_text(damaged)
        session.keys("F5")
        session.wait_for_window("Conversion ended with errors (1/1)")
        # The window manager's close of the main window (as its close box) ends the report and
        # the program, settings written.
        ids = subprocess.run(["xdotool", "search", "--name", f"^{TITLE}$"], env=session.env,
                             capture_output=True, text=True, timeout=10).stdout.split()
        self.assertTrue(ids)
        subprocess.run(["xdotool", "windowactivate", "--sync", ids[0]], env=session.env,
                       timeout=10)
        session.keys("alt+F4")
        self.assertTrue(_wait_until(lambda: session.program_ended() is not None, 10),
                        "the main window did not close")
        self.assertEqual(session.program_ended(), 0)
        config = os.path.join(session.folder, "home", ".config", "Halvane", "tarnex", "config.ini")
        self.assertTrue(os.path.exists(config))

    def test_a_larger_font_grows_the_rows_instead_of_cutting_them(self):
        session = self.start(dpi_scale=2)
        window = session.wait_for_window(TITLE, role="frame")
        frame_x, frame_y, frame_width, frame_height = window.extents
        session.screenshot(os.path.join(self.shots, "main_dpi200.png"), window)
        labels = {}
        for name in ("Input File:", "Output Folder:", "Output Format:"):
            labels[name] = session.find("label", name, root=window).extents
        fields = {
            "Input File:": session.find("text", "Input File", root=window).extents,
            "Output Folder:": session.find("combo box", "Output Folder", root=window).extents,
            "Output Format:": session.find("combo box", "Output Format", root=window).extents,
        }
        for name, (x, y, width, height) in labels.items():
            # Twice the font: a label of 17 pixels at the default size needs about 34.
            self.assertGreaterEqual(height, 30, name)
            field = fields[name]
            self.assertLessEqual(y + height, field[1], f"{name} runs into its field")
            # GTK's fields are clipped by a few pixels of padding at every size (28 where it
            # would take 34 at the default font); the text itself needs the label's height.
            self.assertGreaterEqual(field[3], height + 10, f"the field of {name} is cut")
            self.assertLessEqual(field[1] + field[3], frame_y + frame_height, name)
        notice = session.find("label", "\u00a9 2024-2026 Halvane", root=window).extents
        bottom_field = fields["Output Format:"]
        self.assertGreaterEqual(notice[1], bottom_field[1] + bottom_field[3])
        self.assertLessEqual(notice[1] + notice[3], frame_y + frame_height)

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

"""Pictures of every window of the real program at one setting, for looking at.

Usage: /usr/bin/python3 desktop_shots.py PROGRAM FOLDER SETTING DOCUMENT
(DOCUMENT is converted for the progress window: a large one shows it during the run.)
SETTING is "default", "dpi150" (GDK_DPI_SCALE=1.5), "dpi200" (GDK_DPI_SCALE=2) or "dark"
(GTK_THEME=Adwaita:dark). Writes FOLDER/SETTING_NAME.png and, beside each, the window's
accessible tree (SETTING_NAME.txt). A step that fails is reported and the next one runs: this is
a tool for looking, not a test.
"""

import os
import sys
import time
import traceback

# Nothing written into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop_session import HarnessError, Session, _wait_until, bounding_box  # noqa: E402

TITLE = "Quorvix 2.7"
SETTINGS = {
    "default": {},
    "dpi150": {"dpi_scale": 1.5},
    "dpi200": {"dpi_scale": 2},
    "dark": {"theme": "Adwaita:dark"},
}


class Shots:
    def __init__(self, session, folder, setting):
        self.session = session
        self.folder = folder
        self.setting = setting
        self.failures = []

    def save(self, name, window, region=None):
        base = os.path.join(self.folder, f"{self.setting}_{name}")
        self.session.screenshot(base + ".png", window if region is None else None, region)
        with open(base + ".txt", "w") as tree:
            tree.write(self.session.dump(window) + "\n")
        print(f"  {base}.png")

    def step(self, name, action):
        try:
            action()
        except Exception:  # noqa: BLE001 - every step is tried, the failures listed at the end
            self.failures.append(name)
            print(f"  {name}: failed\n{traceback.format_exc()}", file=sys.stderr)
            self.back_to_main()

    def main(self):
        return self.session.wait_for_window(TITLE, role="frame")

    def back_to_main(self):
        """Escape until only the main window is left (a menu, a dialog)."""
        for _ in range(4):
            if self.other_window() is None and not self.open_menu_items():
                return
            self.session.keys("Escape")
            time.sleep(0.3)

    def other_window(self):
        for window in self.session.windows():
            if window.showing and window.name != TITLE:
                return window
        return None

    def open_menu_items(self):
        return [n for n in self.main().find_all(role="menu item") if n.showing]

    def wait_for_other_window(self, timeout=10, settle=0.3):
        window = _wait_until(self.other_window, timeout, 0.05)
        if window is None:
            raise HarnessError("no window opened")
        time.sleep(settle)  # let it paint
        return self.other_window()

    def open_by_menu(self, menu, item):
        self.session.choose_menu_item(self.main(), menu, item)
        self.session.keys("Return")
        return self.wait_for_other_window()

    def close_other(self):
        self.session.keys("Escape")
        if _wait_until(lambda: self.other_window() is None, 3, 0.1):
            return
        self.session.keys("alt+F4")  # openbox closes the active window
        if not _wait_until(lambda: self.other_window() is None, 3, 0.1):
            raise HarnessError(f"{self.other_window()} did not close")

    # ---- the pictures ----

    def main_window(self):
        time.sleep(0.3)
        self.save("main", self.main())

    def menus(self):
        window = self.main()
        names = [menu.name for menu in self.session.menu_bar(window).children]
        for index, name in enumerate(names):
            self.session.keys("F10", *(["Right"] * index))
            if not _wait_until(lambda: self.open_menu_items(), 5):
                raise HarnessError(f"menu {name} did not open")
            time.sleep(0.3)
            window = self.main()
            self.save(f"menu_{name.lower()}", window, bounding_box([window, *self.open_menu_items()]))
            self.back_to_main()

    def preferences(self):
        dialog = self.open_by_menu("Converter", "Preferences...")
        pages = [cell.name for cell in dialog.find_all(role="table cell")]
        if not pages:
            raise HarnessError("the preferences have no page list")
        for number, page in enumerate(pages):
            if number:
                self.session.keys("Down")
            shown = _wait_until(
                lambda: self.other_window().find_all(role="label", name=page, showing=True), 5
            )
            if not shown:
                raise HarnessError(f"page {page} did not show")
            time.sleep(0.2)
            self.save(f"preferences_{number + 1}_{page.lower()}", self.other_window())
        self.close_other()

    def window_by_menu(self, name, menu, item):
        self.save(name, self.open_by_menu(menu, item))
        self.close_other()

    def progress(self, document):
        window = self.main()
        self.session.click(window.find_all(role="text")[0])
        self.session.type_text(document)
        # The output folder comes from the history the config file gave the program.
        folder_box = [box for box in window.find_all(role="combo box") if box.showing][0]
        self.session.click(folder_box)
        time.sleep(0.4)
        self.session.keys("Return")
        time.sleep(0.3)
        self.session.keys("F5")
        def ended(window):
            return window is not None and any(
                word in window.name for word in ("complete", "stopped", "errors"))

        first = self.wait_for_other_window(settle=0.1)
        if ended(first):
            print("  the run ended before its progress could be taken; give a larger document")
        else:
            self.save("progress_during", first)
        if not _wait_until(lambda: ended(self.other_window()), 60, 0.1):
            raise HarnessError("the run did not end")
        time.sleep(0.3)
        self.save("progress_after", self.other_window())
        self.close_other()

    def failed_run(self, damaged):
        """A run whose file fails: the report with its list of reasons."""
        window = self.main()
        self.session.click(window.find_all(role="text")[0])
        self.session.keys("ctrl+a")
        self.session.type_text(damaged)
        time.sleep(0.3)
        self.session.keys("F5")
        if not _wait_until(lambda: (w := self.other_window()) is not None and "errors" in w.name,
                           30, 0.1):
            raise HarnessError("the failed run did not end with errors")
        time.sleep(0.3)
        self.save("progress_failed", self.other_window())
        self.session.keys("Return")
        if not _wait_until(lambda: self.other_window() is None, 5, 0.1):
            raise HarnessError("Return did not close the report")

    def message_boxes(self):
        """A warning (no input file) and the question of "Defaults"."""
        window = self.main()
        self.session.click(window.find_all(role="text")[0])
        self.session.keys("ctrl+a", "BackSpace")
        self.session.keys("F5")
        self.save("message_warning", self.wait_for_other_window())
        self.session.keys("Return")
        if not _wait_until(lambda: self.other_window() is None, 5, 0.1):
            raise HarnessError("Return did not close the warning")
        dialog = self.open_by_menu("Converter", "Preferences...")
        self.session.click(dialog.find_all(role="push button", name="Defaults")[0])
        question = _wait_until(
            lambda: [w for w in self.session.windows() if w.showing and w.name == "Question"], 5)
        if not question:
            raise HarnessError("no question after Defaults")
        time.sleep(0.3)
        self.save("message_question", question[0])
        self.session.keys("Return")
        time.sleep(0.3)
        self.close_other()


def main():
    if len(sys.argv) != 5 or sys.argv[3] not in SETTINGS:
        print(__doc__, file=sys.stderr)
        return 2
    program, folder, setting, document = sys.argv[1:]
    os.makedirs(folder, exist_ok=True)
    output = os.path.join(folder, f"{setting}_output")
    os.makedirs(output, exist_ok=True)
    config = f"[File]\nRecent Out Folders={output}\n[Advanced]\nOut Folders History=1\n"
    session = Session(program, home_files={".config/Halvane/tarnex/config.ini": config},
                      **SETTINGS[setting])
    print(f"{setting}:")
    with session:
        shots = Shots(session, folder, setting)
        shots.main()
        shots.step("main", shots.main_window)
        shots.step("menus", shots.menus)
        shots.step("preferences", shots.preferences)
        shots.step("about", lambda: shots.window_by_menu("about", "Help", "About..."))
        shots.step(
            "converter search",
            lambda: shots.window_by_menu("converter_search", "Converter", "Find a File Converter..."),
        )
        shots.step("progress", lambda: shots.progress(os.path.abspath(document)))
        damaged = os.path.join(folder, f"{setting}_damaged.psd")
        with open(damaged, "wb") as file:
            file.write(b"8BPS" + b"\x00" * 40)
        shots.step("failed run", lambda: shots.failed_run(damaged))
        shots.step("message boxes", shots.message_boxes)
    if session.survivors:
        print(f"processes outlived the session: {session.survivors}", file=sys.stderr)
    if shots.failures:
        print(f"{setting}: failed: {', '.join(shots.failures)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

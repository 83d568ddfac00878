"""Shows TAV's installed menu entries as a desktop menu finds them (by
desktop file id, with the icon looked up through the icon theme) in a
window, and saves a screenshot of the display. Run it on a display
(xvfb-run). Fails when an entry is missing or its icon is not TAV's.

    menu_entries.py SCREENSHOT.png"""

import subprocess
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gio, GLib, Gtk  # noqa: E402

ICON = "/usr/share/icons/hicolor/scalable/apps/tav.svg"


def main(shot):
    theme = Gtk.IconTheme.get_default()
    rows = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8,
                   border_width=12)
    for entry in ("tav.desktop", "tav-settings.desktop"):
        info = Gio.DesktopAppInfo.new(entry)
        if info is None:
            sys.exit(f"menu entries: {entry} is not installed")
        found = theme.lookup_by_gicon(info.get_icon(), 48, 0)
        if found is None or found.get_filename() != ICON:
            sys.exit(f"menu entries: the icon of {entry} is "
                     f"{found.get_filename() if found else 'not found'}")
        row = Gtk.Box(spacing=12)
        row.pack_start(Gtk.Image.new_from_gicon(info.get_icon(),
                                                Gtk.IconSize.DIALOG),
                       False, False, 0)
        row.pack_start(Gtk.Label(label=f"{info.get_name()}\n"
                                 f"{info.get_commandline()}", xalign=0),
                       False, False, 0)
        rows.pack_start(row, False, False, 0)
    window = Gtk.Window(title="Network")
    window.add(rows)
    window.show_all()

    def take():
        subprocess.run(["import", "-window", "root", shot], check=True)
        Gtk.main_quit()
    GLib.timeout_add(800, take)
    Gtk.main()


if __name__ == "__main__":
    main(sys.argv[1])

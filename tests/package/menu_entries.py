"""menu_entries.py SHOT.png, on a display: TAV's installed menu entries as a
menu finds them (icon through the icon theme) in a window, screenshot."""

import subprocess
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gio, GLib, Gtk  # noqa: E402

grid = Gtk.Grid(row_spacing=8, column_spacing=12, border_width=12)
for row, entry in enumerate(("tav.desktop", "tav-settings.desktop")):
    info = Gio.DesktopAppInfo.new(entry)
    icon = info and info.get_icon()
    found = icon and Gtk.IconTheme.get_default().lookup_by_gicon(icon, 48, 0)
    if not found or found.get_filename() != \
            "/usr/share/icons/hicolor/scalable/apps/tav.svg":
        sys.exit(f"menu entries: {entry}: no such entry, or not TAV's icon")
    grid.attach(Gtk.Image.new_from_gicon(icon, Gtk.IconSize.DIALOG),
                0, row, 1, 1)
    grid.attach(Gtk.Label(label=f"{info.get_name()}\n"
                          f"{info.get_commandline()}", xalign=0), 1, row, 1, 1)
window = Gtk.Window(title="Network")
window.add(grid)
window.show_all()


def take():
    subprocess.run(["import", "-window", "root", sys.argv[1]], check=True)
    Gtk.main_quit()


GLib.timeout_add(800, take)
Gtk.main()

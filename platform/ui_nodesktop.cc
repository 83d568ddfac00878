// Built where GTK 3 is missing: no desktop, the console form everywhere.
#include "platform/ui_desktop.h"

namespace desktop {

bool open() { return false; }
void message_box(const std::string&) {}
int progress_open() { return 0; }
void progress_set_status(int, const std::string&) {}
void progress_close(int) {}
int do_modal(int, DialogHandler&) { return IDCANCEL; }
void about_box() {}
int show_window(int, const std::map<int, std::string>&,
                const std::map<int, std::function<void()>>&) {
  return 0;
}

}  // namespace desktop

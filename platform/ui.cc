#include "platform/ui.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/catalogue.h"
#include "platform/ui_console.h"
#include "platform/ui_desktop.h"

namespace {

std::mutex g_stderr_mutex;

}  // namespace

bool desktop_ui() {
  static const bool in_use = [] {
    const char* choice = std::getenv("TAV_UI");
    if (choice != nullptr && std::strcmp(choice, "console") == 0) return false;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((x11 == nullptr || *x11 == '\0') &&
        (wayland == nullptr || *wayland == '\0'))
      return false;
    return desktop::open();
  }();
  return in_use;
}

void message_box(int text_id) {
  std::string text = catalogue_text(text_id);
  if (text.empty()) text = "message " + std::to_string(text_id);
  message_box_text(text);
}

void message_box_text(const std::string& text) {
  if (desktop_ui()) {
    desktop::message_box(text);
    return;
  }
  std::lock_guard<std::mutex> lock(g_stderr_mutex);
  std::fprintf(stderr, "tav: %s\n", text.c_str());
  std::fflush(stderr);
}

ProgressWindow::ProgressWindow() {
  if (desktop_ui()) {
    desktop_window_ = desktop::progress_open();
    return;
  }
  set_status(console::progress_text());
}

ProgressWindow::~ProgressWindow() {
  if (desktop_window_ != 0) {
    desktop::progress_close(desktop_window_);
    return;
  }
  if (!isatty(STDERR_FILENO)) return;
  std::lock_guard<std::mutex> lock(g_stderr_mutex);
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

void ProgressWindow::set_status(const std::string& text) {
  if (desktop_window_ != 0) {
    desktop::progress_set_status(desktop_window_, text);
    return;
  }
  if (!isatty(STDERR_FILENO) || text.empty()) return;
  std::lock_guard<std::mutex> lock(g_stderr_mutex);
  std::fprintf(stderr, "\r\033[Ktav: %s", text.c_str());
  std::fflush(stderr);
}

int DoModal(int template_id, DialogHandler& handler) {
  if (desktop_ui()) return desktop::do_modal(template_id, handler);
  return DoModal(template_id, handler, stdin, stderr);
}

void show_about_box() {
  // A console form running on this thread shows it in the form.
  FILE* form = console::form_out();
  if (form == nullptr && desktop_ui()) {
    desktop::about_box();
    return;
  }
  console::print_about(form != nullptr ? form : stderr);
}

int show_window(int template_id, const std::map<int, std::string>& texts,
                const std::map<int, std::function<void()>>& actions) {
  if (!desktop_ui()) return 0;
  return desktop::show_window(template_id, texts, actions);
}

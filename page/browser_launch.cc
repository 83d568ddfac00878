#include "page/browser_launch.h"

#include <atomic>
#include <cstring>
#include <map>

#include "page/page_writer.h"
#include "platform/browser_choice.h"
#include "platform/catalogue.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/settings_store.h"
#include "platform/threads.h"
#include "platform/ui.h"
#include "units/units.h"

namespace {

constexpr int kClassNameSize = 100;
constexpr int kCommandSize = 300;
constexpr uint32_t kPlaceholderWaitMs = 5000;
constexpr const char* kPlaceholder = "%1";

// The window shown after a hand-over, and its controls.
constexpr int kServingWindow = 910;
constexpr int kUnitsFoundText = 911;
constexpr int kPageAddressText = 912;
constexpr int kOpenAgainButton = 913;

std::atomic<int64_t (*)()> g_gateway_activity{nullptr};

// Lives for the rest of the process: the watcher reads it after start-up
// has completed it.
LaunchRecord g_launch;

std::string replace_placeholder(const char* token, const std::string& path) {
  std::string out;
  for (const char* p = token; *p;) {
    if (std::strncmp(p, kPlaceholder, 2) == 0) {
      out += path;
      p += 2;
    } else {
      out += *p++;
    }
  }
  return out;
}

}  // namespace

char* next_token(char* text, size_t* position) {
  size_t pos = *position;
  while (text[pos] == ' ' || text[pos] == '\t') ++pos;
  if (text[pos] == '\0') {
    *position = pos;
    return nullptr;
  }
  char* token;
  if (text[pos] == '"') {
    token = text + pos + 1;
    pos = pos + 1;
    while (text[pos] != '\0' && text[pos] != '"') ++pos;
  } else {
    token = text + pos;
    while (text[pos] != '\0' && text[pos] != ' ' && text[pos] != '\t') ++pos;
  }
  if (text[pos] != '\0') {
    text[pos] = '\0';
    ++pos;
  }
  *position = pos;
  return token;
}

bool command_has_placeholder(const std::string& command) {
  return command.find(kPlaceholder) != std::string::npos;
}

bool build_launch_record(const std::string& command, const char* page_path,
                         const char* help_path, LaunchRecord* record) {
  record->page_path = page_path;
  record->help_path = help_path;
  record->arguments.clear();
  std::vector<char> text(command.begin(), command.end());
  text.push_back('\0');
  const bool placeholder = command_has_placeholder(command);
  size_t position = 0;
  while (char* token = next_token(text.data(), &position)) {
    record->arguments.push_back(placeholder
                                    ? replace_placeholder(token, page_path)
                                    : std::string(token));
  }
  if (record->arguments.empty()) return false;
  if (!placeholder) record->arguments.push_back(page_path);
  record->program = record->arguments[0];
  return true;
}

bool read_open_command(std::string* command) {
  command->clear();
  HKEY htm_key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.htm", KEY_READ,
                    &htm_key) != ERROR_SUCCESS) {
    *command = desktop_open_command();
    return !command->empty();
  }
  RegCloseKey(htm_key);
  static const char* const kHtmKey[] = {"SOFTWARE", "Classes", ".htm", nullptr};
  char class_name[kClassNameSize];
  if (qel_get_registry_string(kHtmKey, "", class_name, kClassNameSize) != 0)
    return false;
  const char* const command_key[] = {"SOFTWARE", "Classes", class_name, "Shell",
                                     "Open",     "command", nullptr};
  char text[kCommandSize];
  if (qel_get_registry_string(command_key, "", text, kCommandSize) != 0)
    return false;
  *command = text;
  return true;
}

bool browser_handed_over(int exit_status, int64_t ran_ms) {
  return exit_status == 0 && ran_ms < kHandOverMs;
}

bool gateway_idle_too_long(int64_t now, int64_t handed_over_at,
                           int64_t last_request) {
  int64_t since = last_request > handed_over_at ? last_request : handed_over_at;
  return now - since >= kIdleEndSeconds;
}

void set_gateway_activity(int64_t (*last_request_seconds)()) {
  g_gateway_activity.store(last_request_seconds);
}

namespace {

// Runs the open command again for the page, not waited for by the watcher.
void open_page_again(const LaunchRecord& record) {
  int pid = spawn_process(record.arguments);
  if (pid < 0) {
    message_box(107);
    return;
  }
  start_detached_thread([pid] { wait_process(pid); });
}

// Serves on after a hand-over until the user ends the program: returns when
// the window is closed, or without a desktop when the gateway has been idle
// too long (an end signal ends the process meanwhile).
void serve_after_hand_over(const LaunchRecord& record) {
  if (desktop_ui()) {
    const DialogTemplate* t = catalogue_dialog(kServingWindow);
    std::map<int, std::string> texts;
    for (const auto& c :
         t != nullptr ? t->controls : std::vector<DialogControlTemplate>()) {
      if (c.id == kUnitsFoundText)
        texts[c.id] = format_text(c.label, {published_ip_units()->count,
                                            published_ipx_units()->count});
      else if (c.id == kPageAddressText)
        texts[c.id] = format_text(
            c.label, {"file://" + file_url_path(record.page_path.c_str())});
    }
    if (show_window(kServingWindow, texts, {{kOpenAgainButton, [&] {
                                               open_page_again(record);
                                             }}}) != 0)
      return;
  }
  int64_t handed_over_at = seconds_now();
  for (;;) {
    Sleep(1000);
    auto activity = g_gateway_activity.load();
    if (gateway_idle_too_long(seconds_now(), handed_over_at,
                              activity != nullptr ? activity() : 0))
      return;
  }
}

}  // namespace

void watch_browser(const LaunchRecord& record) {
  int64_t started = milliseconds_now();
  int pid = spawn_process(record.arguments);
  if (pid < 0) message_box(107);
  int status = wait_process(pid);
  if (pid >= 0 && browser_handed_over(status, milliseconds_now() - started))
    serve_after_hand_over(record);
  remove_page_files_and_exit(record.page_path, record.help_path, 1);
}

int launch_browser(const char* page_path, const char* help_path) {
  g_launch.help_path = help_path;
  std::string command;
  if (!read_open_command(&command) ||
      !build_launch_record(command, page_path, help_path, &g_launch)) {
    message_box(105);
    remove_file(page_path);
    return -1;
  }
  if (command_has_placeholder(command)) Sleep(kPlaceholderWaitMs);
  if (!start_detached_thread([] { watch_browser(g_launch); })) {
    // Without a watcher nothing would ever end the program with the
    // browser; say so as for a browser that cannot be started.
    message_box(107);
    remove_page_files_and_exit(page_path, help_path, 1);
  }
  return 1;
}

#include "page/browser_launch.h"

#include <cstring>

#include "page/page_writer.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/settings_store.h"
#include "platform/threads.h"
#include "platform/ui.h"

namespace {

constexpr int kClassNameSize = 100;
constexpr int kCommandSize = 300;
constexpr uint32_t kPlaceholderWaitMs = 5000;
constexpr const char* kPlaceholder = "%1";

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

void watch_browser(const LaunchRecord& record) {
  int pid = spawn_process(record.arguments);
  if (pid < 0) message_box(107);
  wait_process(pid);
  remove_file(record.page_path);
  remove_file(record.help_path);
  end_process_now(1);
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
    remove_file(page_path);
    remove_file(help_path);
    end_process_now(1);
  }
  return 1;
}

#include "platform/browser_choice.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

extern char** environ;

namespace {

using platform_text::trim;

// Runs argv and returns its standard output (at most 64 KiB), or nullopt.
std::optional<std::string> capture_output(
    const std::vector<std::string>& argv) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return std::nullopt;
  }
  std::string out;
  char buf[1024];
  for (;;) {
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (out.size() < 65536) out.append(buf, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

std::string desktop_html_command() {
  auto answer = capture_output({"xdg-mime", "query", "default", "text/html"});
  if (!answer) return std::string();
  std::string file = trim(*answer);
  size_t nl = file.find('\n');
  if (nl != std::string::npos) file = trim(file.substr(0, nl));
  if (file.empty() || file.find('/') != std::string::npos) return std::string();
  std::vector<std::string> dirs;
  const char* data_home = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (data_home != nullptr && *data_home != '\0')
    dirs.push_back(data_home);
  else if (home != nullptr && *home != '\0')
    dirs.push_back(std::string(home) + "/.local/share");
  const char* data_dirs = std::getenv("XDG_DATA_DIRS");
  std::string list = data_dirs != nullptr && *data_dirs != '\0'
                         ? data_dirs
                         : "/usr/local/share:/usr/share";
  std::istringstream parts(list);
  std::string dir;
  while (std::getline(parts, dir, ':'))
    if (!dir.empty()) dirs.push_back(dir);
  for (const auto& d : dirs) {
    std::string text;
    if (read_whole_file(d + "/applications/" + file, &text)) {
      std::string command = command_from_desktop_entry(text);
      if (!command.empty()) return command;
    }
  }
  return std::string();
}

std::string env_text(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// xdg-mime is a shell script that may take a while; its answer is kept for
// a few seconds.
std::string cached_desktop_html_command() {
  static std::mutex mutex;
  static std::string cached_for, cached;
  static std::chrono::steady_clock::time_point cached_at;
  std::string key = env_text("PATH") + '\n' + env_text("HOME") + '\n' +
                    env_text("XDG_DATA_HOME") + '\n' +
                    env_text("XDG_DATA_DIRS") + '\n' +
                    env_text("XDG_CONFIG_HOME");
  std::lock_guard<std::mutex> lock(mutex);
  auto now = std::chrono::steady_clock::now();
  if (key != cached_for || now - cached_at > std::chrono::seconds(10)) {
    cached = desktop_html_command();
    cached_for = key;
    cached_at = now;
  }
  return cached;
}

}  // namespace

std::string command_from_browser_variable(const std::string& browser) {
  std::string first = browser;
  size_t colon = first.find(':');
  if (colon != std::string::npos) first.resize(colon);
  first = trim(first);
  if (first.empty()) return std::string();
  size_t at = first.find("%s");
  if (at == std::string::npos) return first + " \"%1\"";
  while (at != std::string::npos) {
    first.replace(at, 2, "\"%1\"");
    at = first.find("%s", at + 4);
  }
  return first;
}

std::string command_from_desktop_entry(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  bool in_entry = false;
  while (std::getline(in, line)) {
    std::string t = trim(line);
    if (!t.empty() && t[0] == '[') {
      in_entry = t == "[Desktop Entry]";
      continue;
    }
    if (!in_entry || t.compare(0, 5, "Exec=") != 0) continue;
    std::string exec = t.substr(5), out;
    bool placed = false;
    for (size_t i = 0; i < exec.size(); ++i) {
      if (exec[i] != '%' || i + 1 >= exec.size()) {
        out.push_back(exec[i]);
        continue;
      }
      char code = exec[++i];
      if (code == 'u' || code == 'U' || code == 'f' || code == 'F') {
        out += "\"%1\"";
        placed = true;
      } else if (code == '%') {
        out.push_back('%');
      }
      // %i %c %k and the deprecated codes are dropped.
    }
    out = trim(out);
    if (out.empty()) return out;
    if (!placed) out += " \"%1\"";
    return out;
  }
  return std::string();
}

std::string desktop_open_command() {
  const char* browser = std::getenv("BROWSER");
  if (browser != nullptr) {
    std::string command = command_from_browser_variable(browser);
    if (!command.empty()) return command;
  }
  return cached_desktop_html_command();
}

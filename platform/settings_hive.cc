#include "platform/settings_hive.h"

#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/hive_text.h"
#include "platform/text.h"

extern char** environ;

namespace {

bool iequal(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

using platform_text::trim;

bool read_file(const std::string& path, std::string* out, bool* exists) {
  *exists = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR;
  *exists = true;
  out->clear();
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

Hive load_hive() {
  std::string text;
  bool exists;
  if (!read_file(hive_path(), &text, &exists) || !exists) return Hive();
  return parse_hive(text);
}

bool make_dirs(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 &&
      !make_dirs(dir.substr(0, slash)))
    return false;
  return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool write_all(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes data to path through a temporary file in the same folder.
bool replace_file(const std::string& path, const std::string& data,
                  mode_t mode) {
  std::string tmp = path + ".tmpXXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, data) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(name.data(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(name.data());
    return false;
  }
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  if (dir.empty()) dir = "/";
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

std::mutex g_write_mutex;

// Read-modify-write of the hive under its lock file. `change` edits the
// parsed hive and returns false when nothing needs writing.
template <typename Change>
long modify_hive(Change change) {
  std::lock_guard<std::mutex> guard(g_write_mutex);
  std::string path = hive_path();
  // Write through a symbolic link to the file it names.
  char resolved[PATH_MAX];
  struct stat lst;
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) &&
      ::realpath(path.c_str(), resolved) != nullptr)
    path = resolved;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 &&
      !make_dirs(path.substr(0, slash)))
    return ERROR_ACCESS_DENIED;
  int lock =
      ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return ERROR_ACCESS_DENIED;
  while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  long result = ERROR_SUCCESS;
  std::string text;
  bool exists;
  if (!read_file(path, &text, &exists)) {
    result = ERROR_ACCESS_DENIED;  // unreadable: never overwrite blindly
  } else {
    Hive hive = exists ? parse_hive(text) : Hive();
    mode_t mode = 0644;
    struct stat st;
    if (exists && ::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    if (change(hive)) {
      if (hive.damaged && !replace_file(path + ".bad", hive.raw, mode))
        result = ERROR_ACCESS_DENIED;
      else if (!replace_file(path, write_hive(hive), mode))
        result = ERROR_ACCESS_DENIED;
    }
  }
  ::flock(lock, LOCK_UN);
  ::close(lock);
  return result;
}

// Open handles: each names a key path below HKEY_LOCAL_MACHINE.
std::mutex g_handles_mutex;
std::map<HKEY, std::string> g_handles;
HKEY g_next_handle = 0x100;

std::optional<std::string> handle_path(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return std::string();
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  auto it = g_handles.find(key);
  if (it == g_handles.end()) return std::nullopt;
  return it->second;
}

HKEY new_handle(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  HKEY h = g_next_handle++;
  g_handles[h] = path;
  return h;
}

// Joins a sub-key (which may itself hold several components) to a path;
// nullopt when a component is empty or holds a character the file cannot
// keep.
std::optional<std::string> join_path(const std::string& base,
                                     const char* subkey) {
  if (subkey == nullptr || *subkey == '\0') return base;
  std::string sub = subkey;
  if (sub.find_first_of("[]\r\n") != std::string::npos) return std::nullopt;
  std::string out = base;
  size_t start = 0;
  while (start <= sub.size()) {
    size_t end = sub.find('\\', start);
    if (end == std::string::npos) end = sub.size();
    if (end == start) return std::nullopt;
    if (!out.empty()) out += '\\';
    out += sub.substr(start, end - start);
    start = end + 1;
  }
  return out;
}

// --- The HTML open command that the desktop provides -----------------------

constexpr const char* kHtmKey = "SOFTWARE\\Classes\\.htm";
constexpr const char* kHtmlClass = "htmlfile";
constexpr const char* kCommandKey =
    "SOFTWARE\\Classes\\htmlfile\\Shell\\Open\\command";

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

std::string command_from_browser_variable(const char* browser) {
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

// The Exec= line of a desktop entry with its field codes turned into the
// "%1" placeholder.
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
    bool exists;
    if (read_file(d + "/applications/" + file, &text, &exists) && exists) {
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

std::string system_html_command() {
  const char* browser = std::getenv("BROWSER");
  if (browser != nullptr) {
    std::string command = command_from_browser_variable(browser);
    if (!command.empty()) return command;
  }
  // Opening the command's key walks several components, each asking the
  // desktop; its answer is kept for a few seconds.
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

bool is_prefix_path(const std::string& path, const char* full) {
  size_t n = path.size(), m = std::strlen(full);
  if (n > m || strncasecmp(path.c_str(), full, n) != 0) return false;
  return n == m || n == 0 || full[n] == '\\';
}

// True when the path names one of the system keys (or a key above one) and
// the desktop can answer it.
bool system_key_exists(const std::string& path) {
  if (!is_prefix_path(path, kHtmKey) && !is_prefix_path(path, kCommandKey))
    return false;
  return !system_html_command().empty();
}

std::optional<std::string> system_value(const std::string& path,
                                        const std::string& name) {
  if (!name.empty()) return std::nullopt;
  if (iequal(path, kHtmKey) || iequal(path, kCommandKey)) {
    std::string command = system_html_command();
    if (command.empty()) return std::nullopt;
    if (iequal(path, kHtmKey)) return std::string(kHtmlClass);
    return command;
  }
  return std::nullopt;
}

}  // namespace

std::string hive_path() {
  const char* v = std::getenv("TAV_REGISTRY");
  if (v != nullptr && *v != '\0') return v;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg == '/')
    return std::string(xdg) + "/tav/registry.reg";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config/tav/registry.reg";
}

long RegOpenKeyExA(HKEY key, const char* subkey, uint32_t /*access*/,
                   HKEY* result) {
  auto base = handle_path(key);
  if (!base) return ERROR_INVALID_HANDLE;
  auto path = join_path(*base, subkey);
  if (!path) return ERROR_FILE_NOT_FOUND;
  if (!path->empty()) {
    Hive hive = load_hive();
    if (!hive.key_exists(*path) && !system_key_exists(*path))
      return ERROR_FILE_NOT_FOUND;
  }
  *result = new_handle(*path);
  return ERROR_SUCCESS;
}

long RegCreateKeyExA(HKEY key, const char* subkey, uint32_t /*access*/,
                     HKEY* result) {
  auto base = handle_path(key);
  if (!base) return ERROR_INVALID_HANDLE;
  auto path = join_path(*base, subkey);
  if (!path) return ERROR_INVALID_PARAMETER;
  if (!path->empty() && !load_hive().key_exists(*path)) {
    long rc = modify_hive([&](Hive& hive) {
      if (hive.key_exists(*path)) return false;
      hive.keys.push_back({*path, {}});
      return true;
    });
    if (rc != ERROR_SUCCESS) return rc;
  }
  *result = new_handle(*path);
  return ERROR_SUCCESS;
}

long RegSetValueExA(HKEY key, const char* value_name, uint32_t type,
                    const char* data, uint32_t size) {
  auto path = handle_path(key);
  if (!path) return ERROR_INVALID_HANDLE;
  if (type != REG_SZ || (data == nullptr && size != 0))
    return ERROR_INVALID_PARAMETER;
  std::string name = value_name != nullptr ? value_name : "";
  std::string text =
      data != nullptr ? std::string(data, strnlen(data, size)) : std::string();
  // A line break would end the value's line in the file.
  if (name.find_first_of("\r\n") != std::string::npos ||
      text.find_first_of("\r\n") != std::string::npos)
    return ERROR_INVALID_PARAMETER;
  return modify_hive([&](Hive& hive) {
    HiveKey* k = hive.find_key(*path);
    if (k == nullptr) {
      hive.keys.push_back({*path, {}});
      k = &hive.keys.back();
    }
    for (auto& item : k->items) {
      if (!item.is_comment && iequal(item.name, name)) {
        item.data = text;
        return true;
      }
    }
    k->items.push_back({false, name, text});
    return true;
  });
}

long RegQueryValueExA(HKEY key, const char* value_name, uint32_t* type,
                      char* data, uint32_t* size) {
  auto path = handle_path(key);
  if (!path) return ERROR_INVALID_HANDLE;
  std::string name = value_name != nullptr ? value_name : "";
  Hive hive = load_hive();
  std::optional<std::string> value;
  if (const HiveItem* item = hive.find_value(*path, name))
    value = item->data;
  else
    value = system_value(*path, name);
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = REG_SZ;
  uint32_t needed = static_cast<uint32_t>(value->size() + 1);
  if (size == nullptr)
    return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  if (data == nullptr) {
    *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, value->c_str(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

long RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  return g_handles.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

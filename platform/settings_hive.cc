#include "platform/settings_hive.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

void hold_hive_writes() { g_write_mutex.lock(); }

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
    if (!hive.key_exists(*path)) return ERROR_FILE_NOT_FOUND;
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
  const HiveItem* item = hive.find_value(*path, name);
  if (item == nullptr) return ERROR_FILE_NOT_FOUND;
  const std::string* value = &item->data;
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

#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    f_ = other.f_;
    other.f_ = nullptr;
  }
  return *this;
}

File::~File() { close(); }

size_t File::read(void* data, size_t size) {
  return f_ ? std::fread(data, 1, size, f_) : 0;
}

bool File::write(const void* data, size_t size) {
  return f_ && std::fwrite(data, 1, size, f_) == size;
}

bool File::close() {
  if (f_ == nullptr) return true;
  bool ok = std::fclose(f_) == 0;
  f_ = nullptr;
  return ok;
}

File open_file(const std::string& path, const char* mode) {
  int flags;
  const char* fmode;
  switch (mode[0]) {
    case 'r':
      flags = std::strchr(mode, '+') ? O_RDWR : O_RDONLY;
      fmode = std::strchr(mode, '+') ? "r+" : "r";
      break;
    case 'w':
      flags = (std::strchr(mode, '+') ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC |
              O_NOFOLLOW;
      fmode = std::strchr(mode, '+') ? "w+" : "w";
      break;
    case 'a':
      flags = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
      fmode = "a";
      break;
    default:
      return File();
  }
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return File();
  FILE* f = ::fdopen(fd, fmode);
  if (f == nullptr) {
    ::close(fd);
    return File();
  }
  return File(f);
}

bool remove_file(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool read_whole_file(const std::string& path, std::string* out) {
  File f = open_file(path, "rb");
  if (!f.is_open()) return false;
  out->clear();
  char buf[4096];
  size_t n;
  while ((n = f.read(buf, sizeof buf)) > 0) out->append(buf, n);
  return std::ferror(f.get()) == 0;
}

bool get_current_directory(char* out, size_t size) {
  return ::getcwd(out, size) != nullptr;
}

std::string executable_directory() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = '\0';
  char* slash = std::strrchr(buf, '/');
  if (slash == nullptr) return ".";
  if (slash == buf) return "/";
  *slash = '\0';
  return buf;
}

namespace {

std::string g_private_dir;

void remove_private_dir() {
  if (!g_private_dir.empty()) ::rmdir(g_private_dir.c_str());
}

}  // namespace

const std::string& page_directory() {
  static std::once_flag once;
  static std::string dir;
  std::call_once(once, [] {
    const char* v = std::getenv("TAV_PAGE_DIR");
    if (v != nullptr && *v != '\0') {
      dir = v;
      while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
      return;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/tav-XXXXXX";
    std::string buf = templ;
    if (::mkdtemp(buf.data()) != nullptr) {
      dir = buf;
      g_private_dir = buf;
      std::atexit(remove_private_dir);
    } else {
      dir = tmp && *tmp ? tmp : "/tmp";
    }
  });
  return dir;
}

void remove_private_page_directory() { remove_private_dir(); }

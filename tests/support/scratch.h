// Test helpers: scratch folders, an environment variable set for one scope,
// a settings hive of the test's own, file texts and captured output.
#ifndef TAV_TESTS_SUPPORT_SCRATCH_H_
#define TAV_TESTS_SUPPORT_SCRATCH_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/catalogue.h"
#include "platform/files.h"

namespace tav_test {

// A new folder that stays until the test binary's machine is cleaned.
inline std::string make_temp_dir(const char* tag) {
  std::string t = std::string("/tmp/tav-") + tag + "-XXXXXX";
  EXPECT_NE(::mkdtemp(t.data()), nullptr);
  return t;
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A scratch folder removed with its contents; files absent read as "".
struct ScratchDir {
  ~ScratchDir() { std::filesystem::remove_all(path_, ec_); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const {
    write_text(file(name), text);
  }
  std::string read(const std::string& name) const {
    return read_text(file(name));
  }
  std::string path_ = make_temp_dir("test");
  std::error_code ec_;
};

// An environment variable set, or unset for nullptr, for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    put(value);
  }
  ~ScopedEnv() { put(old_ ? old_->c_str() : nullptr); }

 private:
  void put(const char* v) {
    v ? ::setenv(name_.c_str(), v, 1) : ::unsetenv(name_.c_str());
  }
  std::string name_;
  std::optional<std::string> old_;
};

// A hive of the test's own, the desktop's browser hidden. Its folder is
// made only when `text` (the whole REGEDIT4 file) is given.
class ScratchHive {
 public:
  explicit ScratchHive(const std::string& text = "") {
    if (text.empty()) return;
    std::filesystem::create_directories(dir_.file("cfg"));
    write_text(path(), text);
  }
  std::string path() const { return dir_.file("cfg/registry.reg"); }
  const ScratchDir& dir() const { return dir_; }

 private:
  ScratchDir dir_;
  ScopedEnv registry_{"TAV_REGISTRY", path().c_str()};
  ScopedEnv browser_{"BROWSER", nullptr};
};

// What a shell command wrote on standard output.
inline std::string command_output(const std::string& command) {
  std::string out;
  FILE* f = ::popen(command.c_str(), "r");
  for (int c; f != nullptr && (c = std::fgetc(f)) != EOF;) out += char(c);
  if (f != nullptr) ::pclose(f);
  return out;
}

// What `f` wrote on standard error, or standard output, while it ran.
template <class F>
std::string stderr_of(F&& f) {
  return testing::internal::CaptureStderr(), f(),
         testing::internal::GetCapturedStderr();
}
template <class F>
std::string stdout_of(F&& f) {
  return testing::internal::CaptureStdout(), f(),
         testing::internal::GetCapturedStdout();
}

// $TAV_BUILD_DIR (set by CTest), else the folder above the test binary.
inline std::string build_dir() {
  const char* dir = std::getenv("TAV_BUILD_DIR");
  return dir != nullptr && *dir ? dir : executable_directory() + "/..";
}

// A message box as it appears on standard error.
inline std::string shown(int message_id) {
  return "tav: " + catalogue_text(message_id) + "\n";
}

}  // namespace tav_test

#endif  // TAV_TESTS_SUPPORT_SCRATCH_H_

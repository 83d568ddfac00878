// Test helpers: a scratch folder removed afterwards, an environment
// variable set for one scope, and a settings hive of the test's own.
#ifndef TAV_TESTS_PLATFORM_SCRATCH_H_
#define TAV_TESTS_PLATFORM_SCRATCH_H_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace tav_test {

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl =
        (std::filesystem::temp_directory_path() / "tav-test-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

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

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A hive of the test's own: TAV_REGISTRY points into a scratch folder, and
// the desktop's browser is hidden.
class ScratchHive {
 public:
  ScratchHive()
      : registry_("TAV_REGISTRY", dir_.file("cfg/registry.reg").c_str()),
        browser_("BROWSER", nullptr) {}
  std::string path() const { return dir_.file("cfg/registry.reg"); }
  const ScratchDir& dir() const { return dir_; }

 private:
  ScratchDir dir_;
  ScopedEnv registry_;
  ScopedEnv browser_;
};

}  // namespace tav_test

#endif  // TAV_TESTS_PLATFORM_SCRATCH_H_

// Runs the tav executable of the build under test as a child process, with
// a private temporary folder for its settings and page files, and collects
// its exit status and output. The child shares the test's private network
// namespace.
#ifndef TAV_TESTS_APP_TAV_PROCESS_H_
#define TAV_TESTS_APP_TAV_PROCESS_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tav_test {

struct TavRun {
  int status = -1;  // exit status, or -1 when the child did not exit
  std::string out;
  std::string err;
  long long elapsed_ms = 0;
};

// A temporary folder removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;

 private:
  std::string path_;
};

// Holds a TCP port bound on any address, as another program would.
class PortHolder {
 public:
  explicit PortHolder(uint16_t port);
  ~PortHolder();
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;
  bool bound() const { return bound_; }

 private:
  int s_ = -1;
  bool bound_ = false;
};

// $TAV_BUILD_DIR (set by CTest), else the current folder.
std::string build_dir();

// Runs `program` with `args` and the test's environment, less TAV_* and
// BROWSER, plus `env`. Standard input is /dev/null.
TavRun run_program(const std::string& program,
                   const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env);

}  // namespace tav_test

#endif  // TAV_TESTS_APP_TAV_PROCESS_H_

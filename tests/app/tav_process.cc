#include "tests/app/tav_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/net.h"

extern char** environ;

namespace tav_test {

TempDir::TempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "tav-app-test-XXXXXX").string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::ofstream(file(name), std::ios::binary) << content;
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

PortHolder::PortHolder(uint16_t port) {
  s_ = net::socket(net::AF_INET_, net::SOCK_STREAM_, 0);
  bound_ = s_ != net::INVALID_SOCKET &&
           net::bind(s_, net::make_addr_in(0, port)) == 0;
}

PortHolder::~PortHolder() {
  if (s_ != net::INVALID_SOCKET) net::closesocket(s_);
}

std::string build_dir() {
  const char* dir = std::getenv("TAV_BUILD_DIR");
  return dir != nullptr ? dir : ".";
}

TavRun run_program(const std::string& program,
                   const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env) {
  TavRun run;
  TempDir io;
  std::string out_path = io.file("out");
  std::string err_path = io.file("err");

  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "TAV_", 4) == 0 ||
        std::strncmp(*e, "BROWSER=", 8) == 0) {
      continue;
    }
    env_strings.emplace_back(*e);
  }
  for (const auto& [name, value] : env)
    env_strings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> arg_strings{program};
  arg_strings.insert(arg_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : arg_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (pid < 0) return run;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = io.read("out");
  run.err = io.read("err");
  return run;
}

}  // namespace tav_test

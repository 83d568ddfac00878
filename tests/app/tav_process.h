// App test helpers: a program run as a child, a held port, settings verbs.
#ifndef TAV_TESTS_APP_TAV_PROCESS_H_
#define TAV_TESTS_APP_TAV_PROCESS_H_

#include <sys/wait.h>

#include <cstring>
#include <map>
#include <vector>

#include "platform/net.h"
#include "platform/settings_store.h"
#include "tests/support/scratch.h"

extern char** environ;

namespace tav_test {

// Listens on a TCP port as another server would (SO_REUSEADDR: TIME_WAIT).
class PortHolder {
 public:
  explicit PortHolder(uint16_t port)
      : s_(net::socket(net::AF_INET_, net::SOCK_STREAM_, 0)),
        bound_(net::setsockopt_int(s_, net::SockOpt::kReuseAddr, 1) == 0 &&
               net::bind(s_, net::make_addr_in(0, port)) == 0 &&
               net::listen(s_, 1) == 0) {}
  ~PortHolder() { net::closesocket(s_); }
  PortHolder(const PortHolder&) = delete;
  bool bound() const { return bound_; }
  net::Socket socket() const { return s_; }

 private:
  net::Socket s_;
  bool bound_;
};

struct TavRun {
  int status = -1;  // exit status, or -1 when it did not end within 60 s
  std::string out, err;
};

// `program` with the environment less TAV_* and BROWSER, plus `env`; 60 s.
inline TavRun run_program(const std::string& program,
                          const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env) {
  ScratchDir io;
  auto quoted = [](const std::string& s) { return "'" + s + "' "; };
  std::string command = "timeout -k 5 60 env ";
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "TAV_", 4) == 0 ||
        std::strncmp(*e, "BROWSER=", 8) == 0)
      command += "-u " + std::string(*e, std::strcspn(*e, "=")) + " ";
  for (const auto& [name, value] : env) command += quoted(name + "=" + value);
  command += quoted(program);
  for (const std::string& a : args) command += quoted(a);
  int status = std::system(
      (command + "</dev/null >" + io.file("out") + " 2>" + io.file("err"))
          .c_str());
  bool ended = WIFEXITED(status) && WEXITSTATUS(status) != 124;  // timeout(1)
  return {ended ? WEXITSTATUS(status) : -1, io.read("out"), io.read("err")};
}

// A value under the program's key, written or read ("<absent>": unreadable).
inline void store(const char* name, const std::string& value) {
  stdout_of([&] {
    create_key(kTavKeyPath, name, value.c_str(),
               static_cast<int>(value.size() + 1));
  });
}
inline std::string stored(const char* name) {
  char value[200];
  int rc = -1;
  stdout_of([&] {
    rc = qel_get_registry_string(kTavKeyPath, name, value, sizeof value);
  });
  return rc == 0 ? value : "<absent>";
}

}  // namespace tav_test

#endif  // TAV_TESTS_APP_TAV_PROCESS_H_

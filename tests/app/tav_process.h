// Helpers of the app tests: a program of the build run as a child (in the
// test's private network), a held port, and settings verbs.
#ifndef TAV_TESTS_APP_TAV_PROCESS_H_
#define TAV_TESTS_APP_TAV_PROCESS_H_

#include <map>
#include <vector>

#include "platform/net.h"
#include "tests/support/scratch.h"

namespace tav_test {

struct TavRun {
  int status = -1;  // exit status, or -1 when it did not exit within 60 s
  std::string out, err;
};

// Holds a TCP port, listening on any address, as another server would
// (SO_REUSEADDR, so that connections in TIME_WAIT do not hinder it).
class PortHolder {
 public:
  explicit PortHolder(uint16_t port)
      : s_(net::socket(net::AF_INET_, net::SOCK_STREAM_, 0)),
        bound_(net::setsockopt_int(s_, net::SockOpt::kReuseAddr, 1) == 0 &&
               net::bind(s_, net::make_addr_in(0, port)) == 0 &&
               net::listen(s_, 1) == 0) {}
  ~PortHolder() { net::closesocket(s_); }
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;
  bool bound() const { return bound_; }

 private:
  net::Socket s_;
  bool bound_;
};

// Runs `program` with `args` and the test's environment, less TAV_* and
// BROWSER, plus `env`; `input` is its standard input.
TavRun run_program(const std::string& program,
                   const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env,
                   const std::string& input = "");

// Writes or reads a value under the program's key, the settings store's
// reports dropped; "<absent>" when it cannot be read.
void store(const char* name, const std::string& value);
std::string stored(const char* name);

}  // namespace tav_test

#endif  // TAV_TESTS_APP_TAV_PROCESS_H_

#include "tests/app/tav_process.h"

#include <sys/wait.h>

#include <cstring>

#include "platform/settings_store.h"

extern char** environ;

namespace tav_test {
namespace {

constexpr int kRunLimitSeconds = 60;
constexpr int kTimedOut = 124;  // timeout(1)'s status

}  // namespace

TavRun run_program(const std::string& program,
                   const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env,
                   const std::string& input) {
  ScratchDir io;
  io.write("in", input);
  auto quoted = [](const std::string& s) { return "'" + s + "' "; };
  // A child that does not end (a gateway left serving) is stopped.
  std::string command =
      "timeout -k 5 " + std::to_string(kRunLimitSeconds) + " env ";
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "TAV_", 4) == 0 ||
        std::strncmp(*e, "BROWSER=", 8) == 0)
      command += "-u " + std::string(*e, std::strcspn(*e, "=")) + " ";
  for (const auto& [name, value] : env) command += quoted(name + "=" + value);
  command += quoted(program);
  for (const std::string& a : args) command += quoted(a);
  int status = std::system((command + "<" + io.file("in") + " >" +
                            io.file("out") + " 2>" + io.file("err"))
                               .c_str());
  bool ended = WIFEXITED(status) && WEXITSTATUS(status) != kTimedOut;
  return {ended ? WEXITSTATUS(status) : -1, io.read("out"), io.read("err")};
}

void store(const char* name, const std::string& value) {
  stdout_of([&] {
    create_key(kTavKeyPath, name, value.c_str(),
               static_cast<int>(value.size() + 1));
  });
}

std::string stored(const char* name) {
  char value[200];
  int rc = -1;
  stdout_of([&] {
    rc = qel_get_registry_string(kTavKeyPath, name, value, sizeof value);
  });
  return rc == 0 ? value : "<absent>";
}

}  // namespace tav_test

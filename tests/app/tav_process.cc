#include "tests/app/tav_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>

#include "platform/catalogue.h"
#include "platform/files.h"
#include "platform/settings_store.h"

extern char** environ;

namespace tav_test {

std::string build_dir() {
  const char* dir = std::getenv("TAV_BUILD_DIR");
  return dir != nullptr && *dir ? dir : executable_directory() + "/..";
}

namespace {
// Pointers into `strings`, ended by nullptr, as exec wants them.
std::vector<char*> c_array(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}
}  // namespace

TavRun run_program(const std::string& program,
                   const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env,
                   const std::string& input) {
  std::vector<std::string> env_strings, arg_strings{program};
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "TAV_", 4) != 0 &&
        std::strncmp(*e, "BROWSER=", 8) != 0)
      env_strings.emplace_back(*e);
  }
  for (const auto& [name, value] : env)
    env_strings.push_back(name + "=" + value);
  arg_strings.insert(arg_strings.end(), args.begin(), args.end());
  std::vector<char*> argv = c_array(arg_strings), envp = c_array(env_strings);
  TavRun run;
  TempDir io;
  io.write("in", input);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  int fd = 0;
  for (const char* name : {"in", "out", "err"}) {
    posix_spawn_file_actions_addopen(&fa, fd, io.file(name).c_str(),
                                     fd ? O_WRONLY | O_CREAT : O_RDONLY, 0600);
    ++fd;
  }
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int failed = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(),
                           envp.data());
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  while (!failed && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
  if (!failed && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = io.read("out");
  run.err = io.read("err");
  return run;
}

std::string shown(int message_id) {
  return "tav: " + catalogue_text(message_id) + "\n";
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

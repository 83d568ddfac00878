#include "tests/app/tav_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>

#include "platform/settings_store.h"

extern char** environ;

namespace tav_test {

TavRun run_program(const std::string& program,
                   const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env,
                   const std::string& input) {
  std::vector<std::string> envs, argvs{program};
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "TAV_", 4) != 0 && std::strncmp(*e, "BROWSER=", 8))
      envs.emplace_back(*e);
  for (const auto& [name, value] : env) envs.push_back(name + "=" + value);
  argvs.insert(argvs.end(), args.begin(), args.end());
  auto c_array = [](std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
  };
  std::vector<char*> argv = c_array(argvs), envp = c_array(envs);
  ScratchDir io;
  io.write("in", input);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  const char* names[] = {"in", "out", "err"};
  for (int fd = 0; fd < 3; ++fd)
    posix_spawn_file_actions_addopen(&fa, fd, io.file(names[fd]).c_str(),
                                     fd ? O_WRONLY | O_CREAT : O_RDONLY, 0600);
  pid_t pid = 0;
  int failed = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(),
                           envp.data());
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  while (!failed && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  TavRun run{-1, io.read("out"), io.read("err")};
  if (!failed && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
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

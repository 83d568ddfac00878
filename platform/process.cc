#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace {

std::vector<char*> to_argv(const std::vector<std::string>& args) {
  std::vector<char*> v;
  v.reserve(args.size() + 1);
  for (const std::string& a : args) v.push_back(const_cast<char*>(a.c_str()));
  v.push_back(nullptr);
  return v;
}

// Spawns with the standard streams on /dev/null (quiet == true) or
// inherited. Returns the pid or -1.
int spawn(const std::vector<std::string>& args, bool quiet) {
  if (args.empty()) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  std::vector<char*> argv = to_argv(args);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  return pid;
}

class PosixRunner : public CommandRunner {
 public:
  int run_hidden(const std::vector<std::string>& argv) override {
    int pid = spawn(argv, true);
    if (pid < 0) return -1;
    // Reap in the background so that no zombie stays behind.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return 0;
  }
};

}  // namespace

CommandRunner& platform_command_runner() {
  static PosixRunner runner;
  return runner;
}

int spawn_process(const std::vector<std::string>& argv) {
  return spawn(argv, false);
}

int wait_process(int pid) {
  if (pid < 0) return -1;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

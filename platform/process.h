// Child processes.
//
// CommandRunner runs a command hidden, without waiting (the link-local route
// step): standard streams on /dev/null, the child reaped in the background
// so that no zombie is left. The runner in force comes from environment()
// (platform/environment.h), where tests put a recording one; the
// platform's runner uses posix_spawnp.
// spawn_process()/wait_process() start a program (searched on PATH) and wait
// for it to end: used for the browser.
#ifndef TAV_PLATFORM_PROCESS_H_
#define TAV_PLATFORM_PROCESS_H_

#include <string>
#include <vector>

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // Returns 0 when the command was started, -1 when it could not be.
  virtual int run_hidden(const std::vector<std::string>& argv) = 0;
};

// The runner in force: *environment().command_runner.
CommandRunner& command_runner();
// The platform's own runner, the one in force unless a test replaced it.
CommandRunner& platform_command_runner();

// Starts argv[0] (looked up on PATH) with argv; returns the process id, or
// -1 when it cannot be started (missing program, not executable).
int spawn_process(const std::vector<std::string>& argv);
// Waits until the process ends; returns its exit status, -1 on error.
int wait_process(int pid);

#endif  // TAV_PLATFORM_PROCESS_H_

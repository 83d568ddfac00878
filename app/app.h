// The application object and the run modes.
//
// TavApp's construction runs the link-local route step: it adds a route to
// 169.254.0.0/16 through the interface of the host's own address (hidden,
// not waited for, its outcome not examined). InitInstance() then loads the
// catalogue and runs the mode that the whole command-line tail selects,
// compared without regard to case: "-install", "-Configure", "-Serve"
// (app/serve_mode.h), or anything else for the normal run. "--help" and
// "--version" print a text and change nothing (no route step).
//
// Everything here runs on the main thread. Functions return the exit code
// of the process instead of ending it, so that main() is the one place that
// ends it; kExitFailure (-1) is exit status 255. The browser watcher thread
// ends a normal run itself, with exit code 1, and so does SIGINT, SIGTERM or
// SIGHUP in every mode but -Serve (page files and private page folder
// removed, no hive write cut short); in -Serve SIGINT and SIGTERM end it so
// with exit code 0, and SIGHUP starts a rediscovery.
#ifndef TAV_APP_APP_H_
#define TAV_APP_APP_H_

#include <string>

inline constexpr int kExitFailure = -1;
inline constexpr int kExitSuccess = 0;

enum class RunMode { kNormal, kInstall, kConfigure, kServe, kHelp, kVersion };

// The mode selected by the whole command-line tail.
RunMode choose_run_mode(const std::string& command_tail);

// Catalogue number of the message for a failed socket-library start-up in
// the route step.
int route_startup_message(int error);

// The route step: starts the socket library, looks up the host's own
// address (message 133 when there is none), runs the route command through
// command_runner(), stops the library.
void add_link_local_route();

// Binds TCP port 34 (with SO_REUSEADDR, as the listener), else after
// 2000 ms port 80, and releases it. Returns 0
// when one was bound; kExitFailure after message 108 (neither port) or 109
// (no socket library or socket). Leaves the socket library started.
int port_check();

// The normal run: port check, discovery under a progress window, message
// 110 when no unit is found (a failed search counts as none), the
// discovery page, the browser, the gateway.
// Returns only when the gateway ends; the exit code.
int run_normal_mode();

class TavApp {
 public:
  // Keeps the tail and runs the route step.
  explicit TavApp(std::string command_tail);
  TavApp(const TavApp&) = delete;
  TavApp& operator=(const TavApp&) = delete;

  // Loads the catalogue (missing: kExitFailure at once, silently) and runs
  // the selected mode; returns the exit code.
  int InitInstance();

 private:
  std::string command_tail_;
};

// What main() runs: --help and --version without the route step, every
// other tail through TavApp. Returns the exit code.
int run_tav(const std::string& command_tail);

#endif  // TAV_APP_APP_H_

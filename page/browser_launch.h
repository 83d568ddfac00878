// Browser launch: runs the browser that opens HTML files on the discovery
// page, on a watcher thread that waits for it, deletes both page files and
// ends the process with exit code 1 when the browser ends.
//
// A browser process that ends with status 0 within kHandOverMs of its start
// has handed the page to a browser that was already running; ending then
// would pull the page and the gateway from under the user. So the program
// goes on serving until the user ends it: with a desktop through a window
// of its own (template 910: the units found, the page's address, "Open the
// page again", "Quit"; closing it is Quit), without one on an end signal or
// after kIdleEndSeconds in which the gateway accepted no request. Either
// way it then ends as the watcher does.
//
// The open command is the default value of the key
// SOFTWARE\Classes\<class>\Shell\Open\command, <class> being the default
// value of SOFTWARE\Classes\.htm, when the hive holds the .htm key;
// otherwise the desktop's choice (platform/browser_choice.h).
//
// How the command becomes a process:
// - It is cut into tokens (next_token); a token in double quotes may hold
//   blanks. The first token is the program (looked up on PATH) and is also
//   the process's argv[0].
// - With "%1" in the command, every "%1" in a token becomes the page path;
//   every other character, percent signs included, stays as it stands. The
//   browser then starts 5 seconds after the call.
// - Without "%1" the page path is appended as the last argument and the
//   browser starts at once.
// - The page path is handed over as one argument without quote characters:
//   a POSIX argument needs no quoting to keep its blanks, and quotes would
//   become part of the file name.
// - No token and no argument is cut short or dropped, however long the
//   command; a command the system cannot run ends in message 107.
#ifndef TAV_PAGE_BROWSER_LAUNCH_H_
#define TAV_PAGE_BROWSER_LAUNCH_H_

#include <cstdint>
#include <string>
#include <vector>

// What the watcher thread needs; complete before the thread starts and
// never changed afterwards.
struct LaunchRecord {
  std::string program;
  std::vector<std::string> arguments;  // argv, arguments[0] == program
  std::string page_path;
  std::string help_path;
};

// Reads the open command; message 105 and the page file deleted when there
// is none. Otherwise starts the watcher thread (after the 5-second wait
// when the command holds "%1") and returns 1; returns -1 without a command.
// Called once, by start-up.
int launch_browser(const char* page_path, const char* help_path);

// Returns the next token of text from *position on, or nullptr at the end.
// Tokens are cut out in place: the character that ends a token (closing
// quote, blank or tab) is overwritten with NUL and *position set after it.
char* next_token(char* text, size_t* position);

// Builds the program and argument list for the open command (the page and
// help paths are copied into the record). False when the command holds no
// token.
bool build_launch_record(const std::string& command, const char* page_path,
                         const char* help_path, LaunchRecord* record);

// True when the command holds the "%1" placeholder.
bool command_has_placeholder(const std::string& command);

// Reads the open command of HTML files through the settings store; false
// (and an empty command) when there is none.
bool read_open_command(std::string* command);

inline constexpr int64_t kHandOverMs = 10000;
inline constexpr int64_t kIdleEndSeconds = 30 * 60;

// True when a browser process that ended with this status after ran_ms has
// handed the page over (exit_status -1: it did not end normally).
bool browser_handed_over(int exit_status, int64_t ran_ms);

// True when, after a hand-over at handed_over_at, the gateway has been idle
// for kIdleEndSeconds by now (last_request 0: none yet). Seconds.
bool gateway_idle_too_long(int64_t now, int64_t handed_over_at,
                           int64_t last_request);

// Where the watcher learns when the gateway last served a request (seconds
// of seconds_now(), 0 for none). Set by start-up before launch_browser().
void set_gateway_activity(int64_t (*last_request_seconds)());

// The watcher: starts the program (message 107 when it cannot be started),
// waits for it to end, serves on after a hand-over (above), deletes both
// files and ends the process with exit code 1.
[[noreturn]] void watch_browser(const LaunchRecord& record);

#endif  // TAV_PAGE_BROWSER_LAUNCH_H_

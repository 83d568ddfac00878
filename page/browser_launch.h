// Browser launch: runs the browser that opens HTML files on the discovery
// page, on a watcher thread that waits for it, deletes both page files and
// ends the process with exit code 1 when the browser ends.
//
// The open command is the default value of the key
// SOFTWARE\Classes\<class>\Shell\Open\command, <class> being the default
// value of SOFTWARE\Classes\.htm
// (settings store; on POSIX the hive, then $BROWSER, then the desktop
// default).
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

// The watcher: starts the program (message 107 when it cannot be started),
// waits for it to end, deletes both files and ends the process with exit
// code 1.
[[noreturn]] void watch_browser(const LaunchRecord& record);

#endif  // TAV_PAGE_BROWSER_LAUNCH_H_

// The browser the desktop offers for HTML files, as an open command in the
// form the registry keeps it ("%1" stands for the document).
//
// desktop_open_command() asks, in this order:
// - $BROWSER: its first colon-separated entry; "%s" becomes "%1" in double
//   quotes, else " \"%1\"" is appended;
// - the desktop default for text/html: the Exec= line of the desktop entry
//   that `xdg-mime query default text/html` names, looked up under
//   $XDG_DATA_HOME (else ~/.local/share) and $XDG_DATA_DIRS (else
//   /usr/local/share:/usr/share); its field codes %u %U %f %F become "%1" in
//   double quotes, %% a percent sign, and the other codes are dropped.
// The empty text when neither gives a command. The desktop's answer is kept
// for up to 10 s (per environment). Safe for concurrent use.
#ifndef TAV_PLATFORM_BROWSER_CHOICE_H_
#define TAV_PLATFORM_BROWSER_CHOICE_H_

#include <string>

std::string desktop_open_command();

// The two conversions above, on their own.
std::string command_from_browser_variable(const std::string& browser);
std::string command_from_desktop_entry(const std::string& entry);

#endif  // TAV_PLATFORM_BROWSER_CHOICE_H_

// Windows, dialogs and messages: the desktop form (GTK 3) where a display
// can be opened and $TAV_UI is not "console", else the console form. The
// choice is made once, at the first call.
//
// The desktop form runs GTK on a UI thread of its own; every call from
// another thread is handed to it and waits for its answer. Message boxes
// are modal with the catalogue's text and OK; the progress window shows
// template 129 with a moving bar; DoModal() builds the dialog from its
// template (check boxes, edit boxes with their labels, texts, buttons; "&"
// marks the mnemonic) with the system-menu entries in a menu bar named by
// text 915; the about box shows template 100 with icon 128. Handlers run on
// the UI thread and may show message boxes and the about box there.
//
// The console form:
// message_box(): "tav: <text>" on standard error; returns at once (OK).
// ProgressWindow: a one-line status on standard error while it is a
// terminal, shown for its lifetime (template 129).
// DoModal(): the modal dialog as a line-oriented form on standard error
// that reads answers from standard input, typed or piped (piped answers are
// echoed). The form lists the check boxes and edit boxes of the template
// by number and the system-menu entries by letter; a number toggles a check
// box or asks for a new text, a letter runs the menu command, an empty line
// (or "ok") confirms through OnOK, "q" cancels, and so does the end of
// input. A disabled control is shown as such and cannot be changed. When
// OnOK fails and has given the focus to an edit box, that box is asked for
// at once. Standard output is left to the program's reports; while the form
// runs at a terminal and standard output is a terminal too, it is parked on
// /dev/null so that those reports do not break into the form.
// Message boxes are safe for concurrent use; dialogs run on one thread.
#ifndef TAV_PLATFORM_UI_H_
#define TAV_PLATFORM_UI_H_

#include <cstdio>
#include <functional>
#include <map>
#include <string>

// True when the desktop form is in use.
bool desktop_ui();

void message_box(int text_id);
void message_box_text(const std::string& text);

class ProgressWindow {
 public:
  ProgressWindow();
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;
  // Replaces the status text (optional).
  void set_status(const std::string& text);

 private:
  int desktop_window_ = 0;
};

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// The controls of a dialog as its handler sees them.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual std::string get_text(int control_id) = 0;
  virtual void set_text(int control_id, const std::string& text) = 0;
  virtual int get_check(int control_id) = 0;
  virtual void set_check(int control_id, int checked) = 0;
  virtual void enable(int control_id, bool enabled) = 0;
  virtual bool is_enabled(int control_id) = 0;
  virtual void set_focus(int control_id) = 0;
  // Adds an entry to the window's system menu.
  virtual void append_system_menu(int command_id, const std::string& text) = 0;
};

// What the program's dialog does on each event.
class DialogHandler {
 public:
  virtual ~DialogHandler() = default;
  virtual bool OnInitDialog(DialogWindow& w) = 0;
  // A button or check box was clicked.
  virtual void OnClicked(DialogWindow& /*w*/, int /*control_id*/) {}
  // A system-menu command was chosen.
  virtual void OnSysCommand(DialogWindow& /*w*/, int /*command_id*/) {}
  // Validate and save; true closes the dialog.
  virtual bool OnOK(DialogWindow& w) = 0;
};

// Runs dialog template `template_id` modally; IDOK or IDCANCEL.
int DoModal(int template_id, DialogHandler& handler);
// The same form on the given streams.
int DoModal(int template_id, DialogHandler& handler, FILE* in, FILE* out);
// Shows the about box (template 100): printed into the running form, or on
// standard error.
void show_about_box();

// Desktop only: shows template `template_id` as a window of its own until
// the window is closed or a button without an action is pressed. A text
// control listed in `texts` shows that text instead of its label; a button
// listed in `actions` runs its action (on the UI thread) and keeps the
// window. Returns the id of the closing button (IDCANCEL when the window
// was closed), or 0 at once on the console.
int show_window(int template_id, const std::map<int, std::string>& texts,
                const std::map<int, std::function<void()>>& actions);

#endif  // TAV_PLATFORM_UI_H_

// The console form of the dialogs: templates shown as numbered lines at a
// terminal (or any pair of streams), for users without a desktop and for
// tests.
#include "platform/ui_console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/catalogue.h"
#include "platform/text.h"

namespace {

// Where the dialog running on this thread writes (its about box too).
thread_local FILE* t_form_out = nullptr;

// Texts of the console form.
constexpr int kFormHelp = 900;
constexpr int kNotAvailable = 901;
constexpr int kNewValue = 902;
constexpr int kNotInList = 903;
constexpr int kDisabled = 904;

// "&IP" shows as "IP"; "&&" as "&".
std::string strip_accelerators(const std::string& label) {
  std::string out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&') {
      if (i + 1 < label.size() && label[i + 1] == '&')
        out.push_back(label[++i]);
      continue;
    }
    out.push_back(label[i]);
  }
  return out;
}

using platform_text::trim;

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Reads one line; false at the end of input.
bool read_line(FILE* in, FILE* out, std::string* line) {
  std::fflush(out);
  line->clear();
  int c;
  bool any = false;
  while ((c = std::fgetc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    line->push_back(static_cast<char>(c));
  }
  if (!any) return false;
  // Answers piped in are echoed so that the transcript reads like a session.
  if (!isatty(fileno(in))) std::fprintf(out, "%s\n", line->c_str());
  return true;
}

// Writes text indented, broken between words before column 78.
void print_wrapped(FILE* out, const std::string& text, size_t indent) {
  constexpr size_t kWidth = 78;
  std::string line(indent, ' ');
  size_t start = 0;
  bool empty = true;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    if (!empty && line.size() + 1 + word.size() > kWidth) {
      std::fprintf(out, "%s\n", line.c_str());
      line.assign(indent, ' ');
      empty = true;
    }
    if (!empty) line += ' ';
    line += word;
    empty = false;
  }
  std::fprintf(out, "%s\n", line.c_str());
}

void print_template_texts(const DialogTemplate& t, FILE* out) {
  if (!t.title.empty()) std::fprintf(out, "%s\n", t.title.c_str());
  for (const auto& c : t.controls)
    if (c.kind == "text") print_wrapped(out, strip_accelerators(c.label), 2);
}

struct Control {
  int id = 0;
  std::string kind;
  std::string label;
  std::string text;
  int check = 0;
  bool enabled = true;
};

class ConsoleDialog : public DialogWindow {
 public:
  explicit ConsoleDialog(const DialogTemplate* t) {
    if (t == nullptr) return;
    title_ = t->title;
    for (const auto& c : t->controls)
      controls_.push_back(
          {c.id, c.kind, strip_accelerators(c.label), "", 0, true});
  }

  std::string get_text(int id) override {
    Control* c = find(id);
    return c ? c->text : std::string();
  }
  void set_text(int id, const std::string& text) override {
    if (Control* c = find(id)) c->text = text;
  }
  int get_check(int id) override {
    Control* c = find(id);
    return c ? c->check : 0;
  }
  void set_check(int id, int checked) override {
    if (Control* c = find(id)) c->check = checked ? 1 : 0;
  }
  void enable(int id, bool enabled) override {
    if (Control* c = find(id)) c->enabled = enabled;
  }
  bool is_enabled(int id) override {
    Control* c = find(id);
    return c != nullptr && c->enabled;
  }
  void set_focus(int id) override { focus_ = id; }
  void append_system_menu(int command_id, const std::string& text) override {
    menu_.push_back({command_id, strip_accelerators(text)});
  }

  int run(DialogHandler& handler, FILE* in, FILE* out) {
    handler.OnInitDialog(*this);
    focus_ = 0;
    std::string line;
    for (;;) {
      show(out);
      if (!read_line(in, out, &line)) return IDCANCEL;
      std::string answer = lower(trim(line));
      if (answer.empty() || answer == "ok" || answer == "s" ||
          answer == "save") {
        focus_ = 0;
        if (handler.OnOK(*this)) return IDOK;
        // A failed check gives the focus to the control to correct.
        Control* c = find(focus_);
        if (c != nullptr && c->kind == "edit" && c->enabled &&
            !edit(*c, in, out))
          return IDCANCEL;
        continue;
      }
      if (answer == "q" || answer == "quit" || answer == "cancel" ||
          answer == "c")
        return IDCANCEL;
      if (answer.size() == 1 && answer[0] >= 'a' &&
          static_cast<size_t>(answer[0] - 'a') < menu_.size()) {
        handler.OnSysCommand(*this, menu_[answer[0] - 'a'].first);
        continue;
      }
      Control* c = numbered(answer);
      if (c == nullptr) {
        std::fprintf(out, "%s\n", catalogue_text(kNotInList).c_str());
        continue;
      }
      if (!c->enabled) {
        std::fprintf(out, "%s\n", catalogue_text(kDisabled).c_str());
        continue;
      }
      if (c->kind == "check") {
        c->check = !c->check;
        handler.OnClicked(*this, c->id);
      } else if (!edit(*c, in, out)) {
        return IDCANCEL;
      }
    }
  }

 private:
  Control* find(int id) {
    for (auto& c : controls_)
      if (c.id == id) return &c;
    return nullptr;
  }
  bool selectable(const Control& c) const {
    return c.kind == "check" || c.kind == "edit";
  }
  Control* numbered(const std::string& answer) {
    if (answer.empty() || answer.size() > 3) return nullptr;
    int n = 0;
    for (char ch : answer) {
      if (ch < '0' || ch > '9') return nullptr;
      n = n * 10 + (ch - '0');
    }
    for (auto& c : controls_)
      if (selectable(c) && --n == 0) return &c;
    return nullptr;
  }

  bool edit(Control& c, FILE* in, FILE* out) {
    std::fprintf(out, "%s: %s\n%s ", c.label.c_str(), c.text.c_str(),
                 catalogue_text(kNewValue).c_str());
    std::string line;
    if (!read_line(in, out, &line)) return false;
    std::string value = trim(line);
    if (!value.empty()) c.text = value;
    return true;
  }

  void show(FILE* out) {
    std::fprintf(out, "\n%s\n", title_.c_str());
    int n = 0;
    for (const auto& c : controls_) {
      if (c.kind == "text") {
        print_wrapped(out, c.label, 6);
        continue;
      }
      if (!selectable(c)) continue;
      std::string line = "  " + std::to_string(++n) + ") ";
      if (c.kind == "check")
        line += std::string(c.check ? "[x] " : "[ ] ") + c.label;
      else
        line += "    " + c.label + ": " + c.text;
      if (!c.enabled) line += "  " + catalogue_text(kNotAvailable);
      std::fprintf(out, "%s\n", line.c_str());
    }
    for (size_t i = 0; i < menu_.size(); ++i)
      std::fprintf(out, "  %c) %s\n", static_cast<char>('a' + i),
                   menu_[i].second.c_str());
    std::fprintf(out, "%s\n> ", catalogue_text(kFormHelp).c_str());
  }

  std::string title_;
  std::vector<Control> controls_;
  std::vector<std::pair<int, std::string>> menu_;
  int focus_ = 0;
};

}  // namespace

namespace console {

std::string progress_text() {
  const DialogTemplate* t = catalogue_dialog(129);
  if (t == nullptr) return std::string();
  for (const auto& c : t->controls)
    if (c.kind == "text") return strip_accelerators(c.label);
  return t->title;
}

FILE* form_out() { return t_form_out; }

void print_about(FILE* out) {
  const DialogTemplate* t = catalogue_dialog(100);
  if (t == nullptr) return;
  std::fprintf(out, "\n");
  print_template_texts(*t, out);
  std::fflush(out);
}

}  // namespace console

namespace {

// While a form runs at a terminal, standard output that is the same
// terminal is parked on /dev/null: the settings store's reports would
// otherwise break into the form. A window of the desktop has no console for
// them either; redirected output still receives them.
class ParkedStdout {
 public:
  ParkedStdout(FILE* in, FILE* out) {
    if (!isatty(fileno(in)) || !isatty(fileno(out)) || !isatty(STDOUT_FILENO))
      return;
    std::fflush(stdout);
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    saved_ = ::dup(STDOUT_FILENO);
    if (saved_ >= 0) ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  ~ParkedStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  ParkedStdout(const ParkedStdout&) = delete;
  ParkedStdout& operator=(const ParkedStdout&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace

int DoModal(int template_id, DialogHandler& handler, FILE* in, FILE* out) {
  ConsoleDialog dialog(catalogue_dialog(template_id));
  ParkedStdout parked(in, out);
  FILE* saved = t_form_out;
  t_form_out = out;
  int result = dialog.run(handler, in, out);
  t_form_out = saved;
  std::fprintf(out, "\n");
  std::fflush(out);
  return result;
}

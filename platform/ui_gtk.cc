// The desktop form of the dialogs, with GTK 3 on a UI thread of its own.
//
// GTK is used from that thread only. A call from another thread is queued
// to it (g_idle_add) and waits for its answer; a call made on the UI thread
// itself (a handler showing a message box) runs at once. Modal windows run
// a nested main loop (gtk_dialog_run), so calls from other threads are still
// served while one is open.
#include <gtk/gtk.h>

#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "platform/catalogue.h"
#include "platform/ui_desktop.h"

namespace desktop {
namespace {

// The name of the menu that holds the system-menu entries.
constexpr int kMenuName = 915;
// The title of message boxes.
constexpr int kMessageTitle = 914;

std::thread::id g_ui_thread;

// The window that modal windows opened now belong to.
GtkWindow* g_top = nullptr;

// Runs fn on the UI thread and returns its result.
template <typename Fn>
auto on_ui(Fn fn) -> decltype(fn()) {
  using Result = decltype(fn());
  if (std::this_thread::get_id() == g_ui_thread) return fn();
  std::packaged_task<Result()> task(std::move(fn));
  std::future<Result> answer = task.get_future();
  g_idle_add(
      [](gpointer p) -> gboolean {
        (*static_cast<std::packaged_task<Result()>*>(p))();
        return G_SOURCE_REMOVE;
      },
      &task);
  return answer.get();
}

// "&IP" becomes the mnemonic "_IP"; "&&" an ampersand; "_" stays itself.
std::string mnemonic(const std::string& label) {
  std::string out;
  for (size_t i = 0; i < label.size(); ++i) {
    char c = label[i];
    if (c == '&' && i + 1 < label.size() && label[i + 1] == '&') {
      out += '&';
      ++i;
    } else if (c == '&') {
      out += '_';
    } else if (c == '_') {
      out += "__";
    } else {
      out += c;
    }
  }
  return out;
}

std::string plain(const std::string& label) {
  std::string out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&' && (i + 1 >= label.size() || label[i + 1] != '&'))
      continue;
    if (label[i] == '&') ++i;
    out += label[i];
  }
  return out;
}

GdkPixbuf* icon(int size) {
  std::string path = catalogue_icon_path();
  if (path.empty()) return nullptr;
  return gdk_pixbuf_new_from_file_at_size(path.c_str(), size, size, nullptr);
}

// Keeps g_top on a window for the lifetime of one modal run.
class TopWindow {
 public:
  explicit TopWindow(GtkWidget* w) : saved_(g_top) {
    if (g_top != nullptr) gtk_window_set_transient_for(GTK_WINDOW(w), g_top);
    gtk_window_set_position(GTK_WINDOW(w), g_top != nullptr
                                               ? GTK_WIN_POS_CENTER_ON_PARENT
                                               : GTK_WIN_POS_CENTER);
    g_top = GTK_WINDOW(w);
  }
  ~TopWindow() { g_top = saved_; }
  TopWindow(const TopWindow&) = delete;
  TopWindow& operator=(const TopWindow&) = delete;

 private:
  GtkWindow* saved_;
};

GtkWidget* wrapped_label(const std::string& text) {
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 52);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  return label;
}

// A dialog built from a template: its controls by id, the handler's view.
class GtkDialogWindow : public DialogWindow {
 public:
  GtkDialogWindow(const DialogTemplate* t,
                  const std::map<int, std::string>& texts) {
    dialog_ = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog_), t ? t->title.c_str() : "");
    gtk_window_set_resizable(GTK_WINDOW(dialog_), FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(dialog_), 6);
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dialog_));
    box_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(area), box_, TRUE, TRUE, 0);
    grid_ = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid_), 8);
    gtk_grid_set_column_spacing(GTK_GRID(grid_), 12);
    gtk_container_set_border_width(GTK_CONTAINER(grid_), 18);
    gtk_box_pack_start(GTK_BOX(box_), grid_, TRUE, TRUE, 0);
    if (t == nullptr) return;
    int row = 0;
    bool after_check = false;
    for (const auto& c : t->controls) {
      auto text = texts.find(c.id);
      const std::string& label = text != texts.end() ? text->second : c.label;
      GtkWidget* w = nullptr;
      if (c.kind != "button") ++rows_;
      if (c.kind == "check") {
        w = gtk_check_button_new_with_mnemonic(mnemonic(label).c_str());
        g_signal_connect(w, "toggled", G_CALLBACK(on_toggled), this);
        gtk_grid_attach(GTK_GRID(grid_), w, 0, row++, 2, 1);
        after_check = true;
      } else if (c.kind == "edit") {
        GtkWidget* caption =
            gtk_label_new_with_mnemonic(mnemonic(label).c_str());
        gtk_label_set_xalign(GTK_LABEL(caption), 0.0f);
        w = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(w), 6);
        gtk_entry_set_activates_default(GTK_ENTRY(w), TRUE);
        gtk_label_set_mnemonic_widget(GTK_LABEL(caption), w);
        // An edit box below a check box belongs to it: indented.
        gtk_widget_set_margin_start(caption, after_check ? 26 : 0);
        gtk_grid_attach(GTK_GRID(grid_), caption, 0, row, 1, 1);
        gtk_grid_attach(GTK_GRID(grid_), w, 1, row++, 1, 1);
        captions_[c.id] = caption;
      } else if (c.kind == "text") {
        w = wrapped_label(plain(label));
        gtk_label_set_selectable(GTK_LABEL(w), TRUE);
        gtk_widget_set_can_focus(w, FALSE);
        gtk_grid_attach(GTK_GRID(grid_), w, 0, row++, 2, 1);
        after_check = false;
      } else if (c.kind == "button") {
        w = gtk_dialog_add_button(GTK_DIALOG(dialog_), mnemonic(label).c_str(),
                                  c.id);
        gtk_widget_set_size_request(w, 86, -1);
        if (c.id == 1) gtk_dialog_set_default_response(GTK_DIALOG(dialog_), 1);
      }
      if (w != nullptr) widgets_[c.id] = w;
    }
  }
  ~GtkDialogWindow() override { gtk_widget_destroy(dialog_); }
  GtkDialogWindow(const GtkDialogWindow&) = delete;
  GtkDialogWindow& operator=(const GtkDialogWindow&) = delete;

  GtkWidget* widget() const { return dialog_; }
  GtkWidget* grid() const { return grid_; }
  int rows() const { return rows_; }
  void set_handler(DialogHandler* handler) { handler_ = handler; }

  std::string get_text(int id) override {
    GtkWidget* w = find(id);
    if (w != nullptr && GTK_IS_ENTRY(w))
      return gtk_entry_get_text(GTK_ENTRY(w));
    return std::string();
  }
  void set_text(int id, const std::string& text) override {
    GtkWidget* w = find(id);
    if (w != nullptr && GTK_IS_ENTRY(w))
      gtk_entry_set_text(GTK_ENTRY(w), text.c_str());
    else if (w != nullptr && GTK_IS_LABEL(w))
      gtk_label_set_text(GTK_LABEL(w), text.c_str());
  }
  int get_check(int id) override {
    GtkWidget* w = find(id);
    return w != nullptr && GTK_IS_TOGGLE_BUTTON(w) &&
                   gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w))
               ? 1
               : 0;
  }
  void set_check(int id, int checked) override {
    GtkWidget* w = find(id);
    if (w == nullptr || !GTK_IS_TOGGLE_BUTTON(w)) return;
    // Set by the program, not clicked by the user: no OnClicked.
    quiet_ = true;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), checked != 0);
    quiet_ = false;
  }
  void enable(int id, bool enabled) override {
    if (GtkWidget* w = find(id)) gtk_widget_set_sensitive(w, enabled);
    auto caption = captions_.find(id);
    if (caption != captions_.end())
      gtk_widget_set_sensitive(caption->second, enabled);
  }
  bool is_enabled(int id) override {
    GtkWidget* w = find(id);
    return w != nullptr && gtk_widget_get_sensitive(w);
  }
  void set_focus(int id) override {
    if (GtkWidget* w = find(id)) gtk_widget_grab_focus(w);
  }
  void append_system_menu(int command_id, const std::string& text) override {
    if (menu_ == nullptr) {
      GtkWidget* bar = gtk_menu_bar_new();
      GtkWidget* top = gtk_menu_item_new_with_mnemonic(
          mnemonic(catalogue_text(kMenuName)).c_str());
      menu_ = gtk_menu_new();
      gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu_);
      gtk_menu_shell_append(GTK_MENU_SHELL(bar), top);
      gtk_box_pack_start(GTK_BOX(box_), bar, FALSE, FALSE, 0);
      gtk_box_reorder_child(GTK_BOX(box_), bar, 0);
      gtk_widget_show_all(bar);
    }
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(mnemonic(text).c_str());
    g_object_set_data(G_OBJECT(item), "tav-command",
                      GINT_TO_POINTER(command_id));
    g_signal_connect(item, "activate", G_CALLBACK(on_menu), this);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), item);
    gtk_widget_show(item);
  }

 private:
  GtkWidget* find(int id) {
    auto it = widgets_.find(id);
    return it != widgets_.end() ? it->second : nullptr;
  }
  int id_of(GtkWidget* w) const {
    for (const auto& [id, widget] : widgets_)
      if (widget == w) return id;
    return 0;
  }
  static void on_toggled(GtkWidget* w, gpointer self) {
    auto* d = static_cast<GtkDialogWindow*>(self);
    if (!d->quiet_ && d->handler_ != nullptr)
      d->handler_->OnClicked(*d, d->id_of(w));
  }
  static void on_menu(GtkWidget* item, gpointer self) {
    auto* d = static_cast<GtkDialogWindow*>(self);
    int command =
        GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "tav-command"));
    if (d->handler_ != nullptr) d->handler_->OnSysCommand(*d, command);
  }

  GtkWidget* dialog_ = nullptr;
  GtkWidget* box_ = nullptr;
  GtkWidget* grid_ = nullptr;
  GtkWidget* menu_ = nullptr;
  std::map<int, GtkWidget*> widgets_;
  std::map<int, GtkWidget*> captions_;
  DialogHandler* handler_ = nullptr;
  bool quiet_ = false;
  int rows_ = 0;
};

struct Progress {
  GtkWidget* window = nullptr;
  GtkWidget* label = nullptr;
  guint pulse = 0;
};
std::map<int, Progress> g_progress;
int g_next_progress = 1;

}  // namespace

bool open() {
  static bool opened = [] {
    std::promise<bool> ready;
    std::future<bool> answer = ready.get_future();
    std::thread([&ready] {
      g_ui_thread = std::this_thread::get_id();
      // The program's own formatting stays in the C locale.
      gtk_disable_setlocale();
      if (!gtk_init_check(nullptr, nullptr)) {
        ready.set_value(false);
        return;
      }
      if (GdkPixbuf* pixbuf = icon(64)) {
        gtk_window_set_default_icon(pixbuf);
        g_object_unref(pixbuf);
      }
      ready.set_value(true);
      gtk_main();
    }).detach();
    return answer.get();
  }();
  return opened;
}

void message_box(const std::string& text) {
  on_ui([&] {
    GtkWidget* box = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(box),
                         catalogue_text(kMessageTitle).c_str());
    gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(box), 6);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 18);
    gtk_container_set_border_width(GTK_CONTAINER(row), 12);
    if (GdkPixbuf* pixbuf = icon(48)) {
      GtkWidget* image = gtk_image_new_from_pixbuf(pixbuf);
      g_object_unref(pixbuf);
      gtk_widget_set_valign(image, GTK_ALIGN_START);
      gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    }
    GtkWidget* label = wrapped_label(text);
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);
    gtk_widget_set_can_focus(label, FALSE);
    gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(box))),
                       row, TRUE, TRUE, 0);
    GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(box), "OK", IDOK);
    gtk_widget_set_size_request(ok, 86, -1);
    gtk_dialog_set_default_response(GTK_DIALOG(box), IDOK);
    gtk_widget_show_all(box);
    gtk_widget_grab_focus(ok);
    TopWindow top(box);
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
  });
}

int progress_open() {
  return on_ui([] {
    const DialogTemplate* t = catalogue_dialog(129);
    Progress p;
    p.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(p.window), t ? t->title.c_str() : "");
    gtk_window_set_resizable(GTK_WINDOW(p.window), FALSE);
    gtk_window_set_deletable(GTK_WINDOW(p.window), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(p.window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(GTK_WINDOW(p.window), GTK_WIN_POS_CENTER);
    gtk_window_set_default_size(GTK_WINDOW(p.window), 380, -1);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(box), 18);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    if (GdkPixbuf* pixbuf = icon(48)) {
      gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_pixbuf(pixbuf), FALSE,
                         FALSE, 0);
      g_object_unref(pixbuf);
    }
    std::string text;
    if (t != nullptr)
      for (const auto& c : t->controls)
        if (c.kind == "text" && text.empty()) text = plain(c.label);
    p.label = wrapped_label(text);
    gtk_box_pack_start(GTK_BOX(row), p.label, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    GtkWidget* bar = gtk_progress_bar_new();
    gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(bar), 0.05);
    gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(p.window), box);
    p.pulse = g_timeout_add(
        80,
        [](gpointer b) -> gboolean {
          gtk_progress_bar_pulse(GTK_PROGRESS_BAR(b));
          return G_SOURCE_CONTINUE;
        },
        bar);
    gtk_widget_show_all(p.window);
    int id = g_next_progress++;
    g_progress[id] = p;
    return id;
  });
}

void progress_set_status(int window, const std::string& text) {
  on_ui([&] {
    auto it = g_progress.find(window);
    if (it != g_progress.end() && !text.empty())
      gtk_label_set_text(GTK_LABEL(it->second.label), text.c_str());
  });
}

void progress_close(int window) {
  on_ui([&] {
    auto it = g_progress.find(window);
    if (it == g_progress.end()) return;
    g_source_remove(it->second.pulse);
    gtk_widget_destroy(it->second.window);
    g_progress.erase(it);
    // Let the window go from the screen before the caller goes on.
    while (gtk_events_pending()) gtk_main_iteration();
  });
}

int do_modal(int template_id, DialogHandler& handler) {
  return on_ui([&] {
    GtkDialogWindow window(catalogue_dialog(template_id), {});
    gtk_widget_show_all(window.widget());
    window.set_handler(&handler);
    handler.OnInitDialog(window);
    TopWindow top(window.widget());
    gtk_window_present(GTK_WINDOW(window.widget()));
    for (;;) {
      int response = gtk_dialog_run(GTK_DIALOG(window.widget()));
      if (response != IDOK) return IDCANCEL;
      if (handler.OnOK(window)) return IDOK;
    }
  });
}

void about_box() {
  on_ui([] {
    const DialogTemplate* t = catalogue_dialog(100);
    GtkDialogWindow window(t, {});
    if (GdkPixbuf* pixbuf = icon(64)) {
      GtkWidget* image = gtk_image_new_from_pixbuf(pixbuf);
      g_object_unref(pixbuf);
      gtk_widget_set_valign(image, GTK_ALIGN_START);
      gtk_grid_insert_column(GTK_GRID(window.grid()), 0);
      gtk_grid_attach(GTK_GRID(window.grid()), image, 0, 0, 1,
                      window.rows() > 0 ? window.rows() : 1);
    }
    gtk_widget_show_all(window.widget());
    TopWindow top(window.widget());
    gtk_dialog_run(GTK_DIALOG(window.widget()));
  });
}

int show_window(int template_id, const std::map<int, std::string>& texts,
                const std::map<int, std::function<void()>>& actions) {
  return on_ui([&] {
    GtkDialogWindow window(catalogue_dialog(template_id), texts);
    gtk_widget_show_all(window.widget());
    TopWindow top(window.widget());
    for (;;) {
      int response = gtk_dialog_run(GTK_DIALOG(window.widget()));
      auto action = actions.find(response);
      if (action == actions.end())
        return response == GTK_RESPONSE_DELETE_EVENT || response < 0 ? IDCANCEL
                                                                     : response;
      action->second();
    }
  });
}

}  // namespace desktop

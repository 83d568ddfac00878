// The desktop form of platform/ui (GTK 3), for ui.cc only. Every function
// may be called from any thread; see ui.h for what each shows.
#ifndef TAV_PLATFORM_UI_DESKTOP_H_
#define TAV_PLATFORM_UI_DESKTOP_H_

#include <functional>
#include <map>
#include <string>

#include "platform/ui.h"

namespace desktop {

// Starts the UI thread and opens the display; false when it cannot.
bool open();
void message_box(const std::string& text);
// A new progress window's number (never 0), or 0.
int progress_open();
void progress_set_status(int window, const std::string& text);
void progress_close(int window);
int do_modal(int template_id, DialogHandler& handler);
void about_box();
int show_window(int template_id, const std::map<int, std::string>& texts,
                const std::map<int, std::function<void()>>& actions);

}  // namespace desktop

#endif  // TAV_PLATFORM_UI_DESKTOP_H_

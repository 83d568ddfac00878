// The console side of platform/ui, for ui.cc only (DoModal with streams,
// declared in ui.h, is defined beside these). Every function may be called
// from any thread; a form writes to the streams of its own thread.
#ifndef TAV_PLATFORM_UI_CONSOLE_H_
#define TAV_PLATFORM_UI_CONSOLE_H_

#include <cstdio>
#include <string>

#include "platform/ui.h"

namespace console {

// The progress window's text (template 129), or empty without a catalogue.
std::string progress_text();
// Where the form running on this thread writes, or null when none runs.
FILE* form_out();
// The about box's texts (template 100) on out; nothing without a catalogue.
void print_about(FILE* out);

}  // namespace console

#endif  // TAV_PLATFORM_UI_CONSOLE_H_

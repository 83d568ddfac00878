// The signals that end the program: SIGINT, SIGTERM and SIGHUP.
//
// watch_end_signals() installs handlers for the three and starts a thread
// that calls on_signal with the first one that arrives; on_signal is
// expected to end the process. The handlers only wake that thread, so
// on_signal may take locks, remove files and show nothing half-done.
// watch_serve_signals() does the same, except that SIGHUP does not end:
// each one calls on_hangup on that thread (signals that come while it runs
// are taken one after the other) and the watch goes on.
// Only the first call of either does anything; false when the thread or
// the handlers cannot be set up. Safe for concurrent use.
#ifndef TAV_PLATFORM_SIGNALS_H_
#define TAV_PLATFORM_SIGNALS_H_

#include <functional>

bool watch_end_signals(std::function<void(int signal_number)> on_signal);
bool watch_serve_signals(std::function<void(int signal_number)> on_end,
                         std::function<void()> on_hangup);

#endif  // TAV_PLATFORM_SIGNALS_H_

#include "platform/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

namespace {

int g_wake_fd = -1;

void on_end_signal(int number) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(number);
  // Nothing to do when the pipe is full: a signal is already waiting.
  if (::write(g_wake_fd, &byte, 1) < 0) {
  }
  errno = saved;
}

}  // namespace

bool watch_serve_signals(std::function<void(int)> on_end,
                         std::function<void()> on_hangup) {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [&] {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    g_wake_fd = fds[1];
    int read_fd = fds[0];
    try {
      std::thread([read_fd, end = std::move(on_end),
                   hangup = std::move(on_hangup)] {
        for (;;) {
          unsigned char byte = 0;
          ssize_t n;
          do {
            n = ::read(read_fd, &byte, 1);
          } while (n < 0 && errno == EINTR);
          if (n != 1) return;
          if (byte != SIGHUP || !hangup) return end(byte);
          hangup();
        }
      }).detach();
    } catch (...) {
      return;
    }
    struct sigaction action = {};
    action.sa_handler = on_end_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ready = true;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
      if (::sigaction(number, &action, nullptr) != 0) ready = false;
  });
  return ready;
}

bool watch_end_signals(std::function<void(int)> on_signal) {
  return watch_serve_signals(std::move(on_signal), nullptr);
}

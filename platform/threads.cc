#include "platform/threads.h"

#include <chrono>
#include <system_error>
#include <thread>

void Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int64_t seconds_now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t milliseconds_now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool start_detached_thread(std::function<void()> fn) {
  try {
    std::thread(std::move(fn)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

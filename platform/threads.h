// Threads, sleeping and time.
//
// Sleep(ms) pauses the calling thread. seconds_now() is whole seconds of a
// monotonic clock. start_detached_thread() runs fn on a new detached thread
// and returns false when no thread can be started. All safe for concurrent
// use.
#ifndef TAV_PLATFORM_THREADS_H_
#define TAV_PLATFORM_THREADS_H_

#include <cstdint>
#include <functional>

void Sleep(uint32_t milliseconds);
int64_t seconds_now();
int64_t milliseconds_now();
bool start_detached_thread(std::function<void()> fn);

#endif  // TAV_PLATFORM_THREADS_H_

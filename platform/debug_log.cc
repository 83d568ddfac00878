#include "platform/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_log_mutex;

FILE* debug_sink() {
  // Opened once; the sink lives for the whole process.
  static FILE* sink = []() -> FILE* {
    const char* v = std::getenv("TAV_DEBUG");
    if (v == nullptr || *v == '\0' || std::strcmp(v, "0") == 0) return nullptr;
    if (std::strcmp(v, "1") == 0) return stderr;
    return std::fopen(v, "a");
  }();
  return sink;
}

}  // namespace

void DebugLog(const char* format, ...) {
  FILE* sink = debug_sink();
  if (sink == nullptr) return;
  va_list ap;
  va_start(ap, format);
  std::lock_guard<std::mutex> lock(g_log_mutex);
  std::vfprintf(sink, format, ap);
  std::fflush(sink);
  va_end(ap);
}

void report(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::lock_guard<std::mutex> lock(g_log_mutex);
  std::vfprintf(stdout, format, ap);
  std::fflush(stdout);
  va_end(ap);
}

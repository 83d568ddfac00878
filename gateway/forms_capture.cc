#include "gateway/forms_capture.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_forms_mutex;
char g_forms_capture[kFormsCaptureSize] = {};

}  // namespace

void forms_capture_set(const char* text, size_t length) {
  length = std::min(length, kFormsCaptureSize - 1);
  std::lock_guard<std::mutex> lock(g_forms_mutex);
  std::memcpy(g_forms_capture, text, length);
  g_forms_capture[length] = '\0';
}

void forms_capture_get(char out[kFormsCaptureSize]) {
  std::lock_guard<std::mutex> lock(g_forms_mutex);
  std::memcpy(out, g_forms_capture, kFormsCaptureSize);
}

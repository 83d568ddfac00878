// Any bytes as the reply to the description request: the text is taken
// from within the bytes received only and always fits, NUL-terminated.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "discovery/ipx/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kDescriptionReplySize) return 0;  // one receive reads no more
  uint8_t* reply = new uint8_t[size];
  std::memcpy(reply, data, size);
  for (size_t out_size : {size_t{256}, size_t{1}, size_t{5}}) {
    char* out = new char[out_size];
    if (parse_description_reply(reply, static_cast<int>(size), out, out_size) &&
        std::memchr(out, '\0', out_size) == nullptr)
      __builtin_trap();
    delete[] out;
  }
  delete[] reply;
  return 0;
}

// Any bytes as the reply to the description request: the text is taken
// from within the bytes received only and always fits, NUL-terminated.
#include "discovery/ipx/probe.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kDescriptionReplySize) return 0;  // one receive reads no more
  for (size_t out_size : {size_t{256}, size_t{1}, size_t{5}}) {
    std::vector<char> out(out_size);  // exactly its size, as the input
    if (parse_description_reply(data, static_cast<int>(size), out.data(),
                                out_size))
      fuzz::require(std::memchr(out.data(), '\0', out_size) != nullptr);
  }
  return 0;
}

// Catalogue texts used as formats and filled with inserts: whatever the text,
// formatting reads no argument it was not given and writes no byte past the
// result.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string half = text.substr(0, size / 2);
  format_text(text, {7, "unit", 4294967295u});
  format_text(text, {});
  fill_inserts(text, half, "%s%1%2");
  format_inserts_and_args(text, "%d%%", half, {-1, "x"});
  return 0;
}

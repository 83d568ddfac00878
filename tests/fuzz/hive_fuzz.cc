// The settings hive's file text: whatever the text, parsing never fails
// hard, and a hive read without damage writes back to a text that reads as
// the same keys and values, and then to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/hive_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Hive first =
      parse_hive(std::string(reinterpret_cast<const char*>(data), size));
  if (first.damaged) return 0;
  std::string text = write_hive(first);
  Hive second = parse_hive(text);
  if (second.damaged) std::abort();
  std::vector<HiveKey> kept;
  for (const auto& k : first.keys)
    if (!hive_key_implied(first, k)) kept.push_back(k);
  if (second.keys != kept) std::abort();
  if (write_hive(second) != text) std::abort();
  return 0;
}

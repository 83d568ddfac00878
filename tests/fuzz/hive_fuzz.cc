// Any settings hive text parses; one read without damage writes back to the
// same keys and values, and then to the same bytes.
#include "platform/hive_text.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Hive first = parse_hive(fuzz::text(data, size));
  if (first.damaged) return 0;
  std::string text = write_hive(first);
  Hive second = parse_hive(text);
  std::vector<HiveKey> kept;
  for (const auto& k : first.keys)
    if (!hive_key_implied(first, k)) kept.push_back(k);
  fuzz::require(!second.damaged && second.keys == kept &&
                write_hive(second) == text);
  return 0;
}

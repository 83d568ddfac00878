// Shared by the fuzz harnesses. libFuzzer hands every input over in a heap
// block of exactly its size, so the address sanitizer catches a read past
// its end without a copy.
#ifndef TAV_TESTS_FUZZ_FUZZ_H_
#define TAV_TESTS_FUZZ_FUZZ_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace fuzz {

// A broken invariant is a finding: the run stops here.
inline void require(bool holds) {
  if (!holds) std::abort();
}

inline std::string text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzz

#endif  // TAV_TESTS_FUZZ_FUZZ_H_

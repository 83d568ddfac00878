// Any datagram as a SAP response, merged into a list with little room: no
// more entries are added than there is room for, and none without a name.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "discovery/ipx/ipx_discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const int free_room = data[0] % 9;
  ++data;
  --size;
  uint8_t* response = new uint8_t[size];
  std::memcpy(response, data, size);
  constexpr int kKnown = 2;
  IpxUnitRecord list[kKnown + 8] = {};
  std::strcpy(list[0].name, "VEM_123456");
  std::strcpy(list[1].name, "CS1");
  int count = kKnown;
  accept_sap_response(response, static_cast<int>(size), list, &count,
                      free_room);
  if (count > kKnown + free_room) __builtin_trap();
  for (int i = 0; i < count; ++i)
    if (list[i].name[0] == '\0' ||
        std::memchr(list[i].name, '\0', sizeof list[i].name) == nullptr)
      __builtin_trap();
  delete[] response;
  return 0;
}

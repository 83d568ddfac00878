// Any datagram as a SAP response, merged into a list with little room: no
// more entries are added than there is room for, and none without a name.
#include "discovery/ipx/ipx_discovery.h"
#include "tests/fuzz/fuzz.h"

// Input: the room left in the list (a byte), then the response.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const int free_room = data[0] % 9;
  constexpr int kKnown = 2;
  IpxUnitRecord list[kKnown + 8] = {};
  std::strcpy(list[0].name, "VEM_123456");
  std::strcpy(list[1].name, "CS1");
  int count = kKnown;
  accept_sap_response(data + 1, static_cast<int>(size - 1), list, &count,
                      free_room);
  fuzz::require(count <= kKnown + free_room);
  for (int i = 0; i < count; ++i)
    fuzz::require(list[i].name[0] != '\0' &&
                  std::memchr(list[i].name, '\0', sizeof list[i].name));
  return 0;
}

// Any datagram as a SAP response: the codec reads nothing outside it and
// keeps no name without its NUL, and the merge into a list with little room
// adds no more entries than there is room for, and none without a name.
#include "discovery/ipx/ipx_discovery.h"
#include "ipx/wire/sap.h"
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
  uint16_t op = 0;
  std::vector<ipx::SapEntry> entries;
  if (ipx::decode_sap_response({data + 1, size - 1}, &op, &entries)) {
    fuzz::require(entries.size() == (size - 1) / ipx::kSapEntrySize &&
                  entries.size() <= ipx::kSapMaxEntries);
    for (const ipx::SapEntry& e : entries)
      fuzz::require(e.name.size() < ipx::kSapNameSize &&
                    e.name.find('\0') == std::string::npos);
  }
  accept_sap_response(data + 1, static_cast<int>(size - 1), list, &count,
                      free_room);
  fuzz::require(count <= kKnown + free_room);
  for (int i = 0; i < count; ++i)
    fuzz::require(list[i].name[0] != '\0' &&
                  std::memchr(list[i].name, '\0', sizeof list[i].name));
  return 0;
}

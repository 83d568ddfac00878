#include "tests/support/fake_bindery.h"

#include <algorithm>
#include <cstring>

namespace tav_test {

namespace {

uint16_t swapped(uint16_t type) {
  return static_cast<uint16_t>((type << 8) | (type >> 8));
}

}  // namespace

void FakeBindery::add(const std::string& name, uint16_t socket,
                      uint8_t node_last) {
  objects.push_back(
      {name, 0x0414, {1, 2, 3, 4}, {0, 0, 10, 0, 0, node_last}, socket});
}

uint32_t FakeBindery::NWCCScanConnRefs(uint32_t* iterator,
                                       uint32_t* reference) {
  if (*iterator > 0) return 0x880F;  // no further connection
  *reference = 100;
  ++*iterator;
  return 0;
}

uint32_t FakeBindery::NWScanObject(uint32_t, const char*, uint16_t search_type,
                                   uint32_t* object_id,
                                   char object_name[nw::kObjectNameSize],
                                   uint16_t* object_type, uint8_t*, uint8_t*,
                                   uint8_t*) {
  // The object id is the index of the object last returned.
  size_t next = *object_id == 0xFFFFFFFF ? 0 : *object_id + 1;
  while (next < objects.size() && swapped(objects[next].type) != search_type)
    ++next;
  if (next >= objects.size()) return 0x89FC;  // no such object
  const std::string& name = objects[next].name;
  size_t n = std::min(name.size(), size_t{nw::kObjectNameSize});
  std::memcpy(object_name, name.data(), n);
  if (n < nw::kObjectNameSize) object_name[n] = '\0';
  *object_type = search_type;
  *object_id = static_cast<uint32_t>(next);
  return 0;
}

uint32_t FakeBindery::NWReadPropertyValue(uint32_t, const char* object_name,
                                          uint16_t object_type,
                                          const char* property_name,
                                          uint8_t segment_number,
                                          uint8_t segment[nw::kSegmentSize],
                                          uint8_t* more_segments,
                                          uint8_t* property_flags) {
  for (const BinderyObject& o : objects) {
    // The client is given back the name it returned, at most 47 characters.
    if (std::strcmp(property_name, "NET_ADDRESS") != 0 || segment_number != 1 ||
        swapped(o.type) != object_type ||
        o.name.compare(0, nw::kObjectNameSize - 1, object_name) != 0)
      continue;
    std::memset(segment, 0, nw::kSegmentSize);
    std::memcpy(segment, o.network, 4);
    std::memcpy(segment + 4, o.node, 6);
    segment[10] = static_cast<uint8_t>(o.socket >> 8);
    segment[11] = static_cast<uint8_t>(o.socket & 0xFF);
    *more_segments = 0;
    *property_flags = 0;
    return 0;
  }
  return 0x89FB;  // no such property
}

}  // namespace tav_test

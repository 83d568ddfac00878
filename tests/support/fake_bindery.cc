#include "tests/support/fake_bindery.h"

#include <cstring>

namespace tav_test {

namespace {

uint16_t swapped(uint16_t type) {
  return static_cast<uint16_t>((type << 8) | (type >> 8));
}

}  // namespace

void FakeBindery::add(const std::string& name, uint16_t socket,
                      uint8_t node_last) {
  BinderyObject o;
  o.name = name;
  const uint8_t network[4] = {0x01, 0x02, 0x03, 0x04};
  std::memcpy(o.network, network, 4);
  const uint8_t node[6] = {0x00, 0x00, 0x0A, 0x00, 0x00, node_last};
  std::memcpy(o.node, node, 6);
  o.socket = socket;
  objects.push_back(o);
}

uint32_t FakeBindery::NWCallsInit(void*, void*) { return init_result; }

uint32_t FakeBindery::NWCCScanConnRefs(uint32_t* iterator,
                                       uint32_t* reference) {
  if (*iterator >= open_results.size()) return 0x880F;
  *reference = 100 + *iterator;
  ++*iterator;
  return 0;
}

uint32_t FakeBindery::NWCCOpenConnByRef(uint32_t reference, uint32_t, uint32_t,
                                        uint32_t* handle) {
  uint32_t result = open_results.at(reference - 100);
  if (result == 0) {
    *handle = kHandle;
    ++opened;
  }
  return result;
}

uint32_t FakeBindery::close_connection(uint32_t) {
  ++closed;
  return 0;
}

uint32_t FakeBindery::NWScanObject(uint32_t, const char*, uint16_t search_type,
                                   uint32_t* object_id,
                                   char object_name[nw::kObjectNameSize],
                                   uint16_t* object_type, uint8_t*, uint8_t*,
                                   uint8_t*) {
  scanned_types.push_back(search_type);
  // The object id is the index of the object last returned.
  size_t next = *object_id == 0xFFFFFFFF ? 0 : *object_id + 1;
  while (next < objects.size() && swapped(objects[next].type) != search_type)
    ++next;
  if (static_cast<int>(next) == scan_fails_at) return scan_failure;
  if (next >= objects.size()) return kNoSuchObject;
  const std::string& name = objects[next].name;
  size_t n =
      name.size() < nw::kObjectNameSize ? name.size() : nw::kObjectNameSize;
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
  if (std::strcmp(property_name, "NET_ADDRESS") != 0 || segment_number != 1)
    return 0x89FB;
  for (const BinderyObject& o : objects) {
    // The client is given back the name it returned, at most 47 characters.
    if (swapped(o.type) != object_type ||
        o.name.compare(0, nw::kObjectNameSize - 1, object_name) != 0)
      continue;
    if (!o.address_readable) return 0x89FB;
    std::memset(segment, 0, nw::kSegmentSize);
    std::memcpy(segment, o.network, 4);
    std::memcpy(segment + 4, o.node, 6);
    segment[10] = static_cast<uint8_t>(o.socket >> 8);
    segment[11] = static_cast<uint8_t>(o.socket & 0xFF);
    *more_segments = 0;
    *property_flags = 0;
    return 0;
  }
  return 0x89FB;
}

}  // namespace tav_test

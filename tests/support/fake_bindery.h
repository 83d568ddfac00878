// A fake NetWare client: one connection to a bindery of unit service objects
// (type 0x0414), each at network 0, node 00 00 7F 00 00 node_last; installed
// for a test's length with ScopedNetWareClient.
#ifndef TAV_TESTS_SUPPORT_FAKE_BINDERY_H_
#define TAV_TESTS_SUPPORT_FAKE_BINDERY_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/netware.h"

namespace tav_test {

struct BinderyObject {
  std::string name;
  uint16_t socket;  // host order; stored big-endian in the segment
  uint8_t node_last;
};

class FakeBindery : public nw::NetWareClient {
 public:
  void add(const std::string& name, uint16_t socket, uint8_t node_last = 1) {
    objects.push_back({name, socket, node_last});
  }
  std::vector<BinderyObject> objects;
  int opened = 0, closed = 0;

  uint32_t NWCallsInit(void*, void*) override { return 0; }
  uint32_t NWCCScanConnRefs(uint32_t* iterator, uint32_t* reference) override {
    *reference = 100;
    return (*iterator)++ > 0 ? 0x880F : 0;  // one connection only
  }
  uint32_t NWCCOpenConnByRef(uint32_t, uint32_t, uint32_t,
                             uint32_t* handle) override {
    *handle = 0x00C0FFEE;
    ++opened;
    return 0;
  }
  uint32_t close_connection(uint32_t) override {
    ++closed;
    return 0;
  }
  // The object id is the index of the object last returned. Names longer
  // than 47 characters fill the whole 48-byte buffer without a NUL, as a
  // careless client would.
  uint32_t NWScanObject(uint32_t, const char*, uint16_t type, uint32_t* id,
                        char name[nw::kObjectNameSize], uint16_t* object_type,
                        uint8_t*, uint8_t*, uint8_t*) override {
    size_t next = *id == 0xFFFFFFFF ? 0 : *id + 1;
    if (next >= objects.size() || type != kWireType) return 0x89FC;
    size_t n = std::min(objects[next].name.size(), size_t{nw::kObjectNameSize});
    std::memcpy(name, objects[next].name.data(), n);
    if (n < nw::kObjectNameSize) name[n] = '\0';
    *object_type = type;
    *id = static_cast<uint32_t>(next);
    return 0;
  }
  // Given back the name it returned, at most 47 characters.
  uint32_t NWReadPropertyValue(uint32_t, const char* name, uint16_t type,
                               const char* property, uint8_t segment_number,
                               uint8_t segment[nw::kSegmentSize], uint8_t* more,
                               uint8_t* flags) override {
    for (const BinderyObject& o : objects) {
      if (std::strcmp(property, "NET_ADDRESS") != 0 || segment_number != 1 ||
          type != kWireType ||
          o.name.compare(0, nw::kObjectNameSize - 1, name) != 0)
        continue;
      std::memset(segment, 0, nw::kSegmentSize);
      segment[6] = 127;  // network 0, node 00 00 7F 00 00 node_last, socket
      segment[9] = o.node_last;
      segment[10] = uint8_t(o.socket >> 8);
      segment[11] = uint8_t(o.socket);
      *more = *flags = 0;
      return 0;
    }
    return 0x89FB;  // no such property
  }

 private:
  static constexpr uint16_t kWireType = 0x1404;  // network byte order
};

class ScopedNetWareClient : public ScopedEnvironment {
 public:
  explicit ScopedNetWareClient(nw::NetWareClient* client)
      : ScopedEnvironment({.netware_client = client}) {}
};

}  // namespace tav_test

#endif  // TAV_TESTS_SUPPORT_FAKE_BINDERY_H_

// A fake NetWare client for tests: one connection to a bindery of objects
// with names, types and NET_ADDRESS segments. Install it with
// ScopedNetWareClient for the length of a test.
#ifndef TAV_TESTS_SUPPORT_FAKE_BINDERY_H_
#define TAV_TESTS_SUPPORT_FAKE_BINDERY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/netware.h"

namespace tav_test {

struct BinderyObject {
  std::string name;
  uint16_t type = 0x0414;  // as the server holds it
  uint8_t network[4] = {};
  uint8_t node[6] = {};
  uint16_t socket = 0;  // host order; stored big-endian in the segment
};

class FakeBindery : public nw::NetWareClient {
 public:
  // A unit service object at network 01 02 03 04, node 00 00 0A 00 00 last.
  void add(const std::string& name, uint16_t socket, uint8_t node_last = 1);

  std::vector<BinderyObject> objects;
  static constexpr uint32_t kHandle = 0x00C0FFEE;
  int opened = 0;
  int closed = 0;

  uint32_t NWCallsInit(void*, void*) override { return 0; }
  uint32_t NWCCScanConnRefs(uint32_t* iterator, uint32_t* reference) override;
  uint32_t NWCCOpenConnByRef(uint32_t, uint32_t, uint32_t,
                             uint32_t* handle) override {
    *handle = kHandle;
    ++opened;
    return 0;
  }
  uint32_t close_connection(uint32_t) override {
    ++closed;
    return 0;
  }
  // Names longer than 47 characters fill the whole 48-byte buffer without
  // a NUL, as a careless client would.
  uint32_t NWScanObject(uint32_t handle, const char* search_name,
                        uint16_t search_type, uint32_t* object_id,
                        char object_name[nw::kObjectNameSize],
                        uint16_t* object_type, uint8_t* has_properties,
                        uint8_t* object_flags,
                        uint8_t* object_security) override;
  uint32_t NWReadPropertyValue(uint32_t handle, const char* object_name,
                               uint16_t object_type, const char* property_name,
                               uint8_t segment_number,
                               uint8_t segment[nw::kSegmentSize],
                               uint8_t* more_segments,
                               uint8_t* property_flags) override;
};

class ScopedNetWareClient {
 public:
  explicit ScopedNetWareClient(nw::NetWareClient* client) {
    nw::set_netware_client(client);
  }
  ~ScopedNetWareClient() { nw::set_netware_client(nullptr); }
  ScopedNetWareClient(const ScopedNetWareClient&) = delete;
  ScopedNetWareClient& operator=(const ScopedNetWareClient&) = delete;
};

}  // namespace tav_test

#endif  // TAV_TESTS_SUPPORT_FAKE_BINDERY_H_

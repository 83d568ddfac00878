#include "platform/netware.h"

namespace nw {
namespace {

// No NetWare client exists on POSIX.
class AbsentClient : public NetWareClient {
 public:
  uint32_t NWCallsInit(void*, void*) override { return kClientNotAvailable; }
  uint32_t NWCCScanConnRefs(uint32_t*, uint32_t*) override {
    return kClientNotAvailable;
  }
  uint32_t NWCCOpenConnByRef(uint32_t, uint32_t, uint32_t, uint32_t*) override {
    return kClientNotAvailable;
  }
  uint32_t close_connection(uint32_t) override { return kClientNotAvailable; }
  uint32_t NWScanObject(uint32_t, const char*, uint16_t, uint32_t*,
                        char object_name[kObjectNameSize], uint16_t*, uint8_t*,
                        uint8_t*, uint8_t*) override {
    object_name[0] = '\0';
    return kClientNotAvailable;
  }
  uint32_t NWReadPropertyValue(uint32_t, const char*, uint16_t, const char*,
                               uint8_t, uint8_t*, uint8_t*, uint8_t*) override {
    return kClientNotAvailable;
  }
};

}  // namespace

NetWareClient& platform_netware_client() {
  static AbsentClient client;
  return client;
}

}  // namespace nw

// The workstation's NetWare client: the six calls the bindery scan makes.
//
// NetWareClient is the interface; netware_client() returns the one in use.
// On POSIX there is no NetWare client: the platform's implementation
// answers NWCallsInit with a non-zero result ("client not available") and
// every other call with the same failure. Tests put a fake bindery in
// environment() (platform/environment.h) while no scan runs.
//
// Values follow the client's conventions: 0 is success, object types are
// passed with their two bytes exchanged (unit service type 0x0414 is given
// as 0x1404), the object id starts at 0xFFFFFFFF, object names are at most
// 47 characters in a 48-byte buffer, property segments are 128 bytes.
#ifndef TAV_PLATFORM_NETWARE_H_
#define TAV_PLATFORM_NETWARE_H_

#include <cstddef>
#include <cstdint>

namespace nw {

inline constexpr size_t kObjectNameSize = 48;
inline constexpr size_t kSegmentSize = 128;
// What the POSIX client answers to every call.
inline constexpr uint32_t kClientNotAvailable = 0x8800FFFF;

class NetWareClient {
 public:
  virtual ~NetWareClient() = default;

  virtual uint32_t NWCallsInit(void* in, void* out) = 0;
  // iterator: 0 at the start, advanced by the client.
  virtual uint32_t NWCCScanConnRefs(uint32_t* iterator,
                                    uint32_t* connection_reference) = 0;
  virtual uint32_t NWCCOpenConnByRef(uint32_t connection_reference,
                                     uint32_t open_state, uint32_t reserved,
                                     uint32_t* handle) = 0;
  virtual uint32_t close_connection(uint32_t handle) = 0;
  // Writes a NUL-terminated name of at most 47 characters to object_name.
  virtual uint32_t NWScanObject(uint32_t handle, const char* search_name,
                                uint16_t search_type, uint32_t* object_id,
                                char object_name[kObjectNameSize],
                                uint16_t* object_type, uint8_t* has_properties,
                                uint8_t* object_flags,
                                uint8_t* object_security) = 0;
  virtual uint32_t NWReadPropertyValue(uint32_t handle, const char* object_name,
                                       uint16_t object_type,
                                       const char* property_name,
                                       uint8_t segment_number,
                                       uint8_t segment[kSegmentSize],
                                       uint8_t* more_segments,
                                       uint8_t* property_flags) = 0;
};

// The client in force: *environment().netware_client.
NetWareClient& netware_client();
// The platform's own client, the one in force unless a test replaced it.
NetWareClient& platform_netware_client();

}  // namespace nw

#endif  // TAV_PLATFORM_NETWARE_H_

// Keeps one of the copies of a datagram that a node sends in several frame
// types within a short time (its answer to broadcasts sent in each type,
// under the network number of each type: the node and socket tell).
// Pure; external synchronization required.
#ifndef TAV_IPX_IFACE_REPEAT_FILTER_H_
#define TAV_IPX_IFACE_REPEAT_FILTER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ipx/wire/frame.h"

namespace ipx {

class RepeatFilter {
 public:
  static constexpr int64_t kWindowMs = 2000;
  static constexpr size_t kRemembered = 64;

  RepeatFilter() : recent_(kRemembered) {}
  // True when the same datagram from `source` to `socket` came in another
  // frame type within the window; else remembers it and returns false.
  bool repeated(const Address& source, uint16_t socket, FrameType type,
                std::span<const uint8_t> data, int64_t now);

 private:
  struct Recent {
    Address source;
    uint16_t socket = 0;
    uint32_t sum = 0;
    size_t size = 0;
    FrameType type = FrameType::kEthernetII;
    int64_t at = -kWindowMs;
  };
  std::vector<Recent> recent_;
  size_t next_ = 0;
};

}  // namespace ipx

#endif  // TAV_IPX_IFACE_REPEAT_FILTER_H_

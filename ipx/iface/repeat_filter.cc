#include "ipx/iface/repeat_filter.h"

namespace ipx {
namespace {

uint32_t checksum(std::span<const uint8_t> data) {
  uint32_t h = 2166136261u;
  for (uint8_t b : data) h = (h ^ b) * 16777619u;
  return h;
}

}  // namespace

bool RepeatFilter::repeated(const Address& source, uint16_t socket,
                            FrameType type, std::span<const uint8_t> data,
                            int64_t now) {
  Recent r{source, socket, checksum(data), data.size(), type, now};
  for (const Recent& e : recent_)
    if (now - e.at < kWindowMs && e.type != r.type &&
        e.source.node == r.source.node && e.source.socket == r.source.socket &&
        e.socket == r.socket && e.sum == r.sum && e.size == r.size)
      return true;
  recent_[next_] = r;
  next_ = (next_ + 1) % recent_.size();
  return false;
}

}  // namespace ipx

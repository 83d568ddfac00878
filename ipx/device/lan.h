// An in-memory LAN: every frame a port transmits reaches every other port,
// in order, the next time it is asked to receive (the interfaces filter by
// destination, as on a shared wire). For tests and simulations that run a
// whole network in one thread. The LAN must outlive its ports. Not
// thread-safe.
#ifndef TAV_IPX_DEVICE_LAN_H_
#define TAV_IPX_DEVICE_LAN_H_

#include <deque>
#include <memory>
#include <vector>

#include "ipx/device/device.h"

namespace ipx {

class Lan {
 public:
  class Port : public Device {
   public:
    explicit Port(Lan& lan);
    ~Port() override;
    bool receive(std::vector<uint8_t>* frame) override;
    void transmit(std::span<const uint8_t> frame) override;

   private:
    friend class Lan;
    Lan& lan_;
    std::deque<std::vector<uint8_t>> inbox_;
  };

  std::unique_ptr<Port> attach() { return std::make_unique<Port>(*this); }
  // Frames sent on the LAN so far.
  size_t frames() const { return frames_; }

 private:
  std::vector<Port*> ports_;
  size_t frames_ = 0;
};

}  // namespace ipx

#endif  // TAV_IPX_DEVICE_LAN_H_

// A device around another that makes its wire lossy both ways: a share of
// the frames sent and received is dropped, and a share is held back and
// passed on after the next one (or at the end of the poll). 100 percent
// dropped: the node vanishes from the LAN. Not thread-safe.
#ifndef TAV_IPX_DEVICE_FAULT_DEVICE_H_
#define TAV_IPX_DEVICE_FAULT_DEVICE_H_

#include <cstdint>
#include <vector>

#include "ipx/device/device.h"

namespace ipx {

class FaultDevice : public Device {
 public:
  explicit FaultDevice(Device& inner) : inner_(inner) {}

  void set_loss(int drop_percent, int reorder_percent) {
    drop_percent_ = drop_percent;
    reorder_percent_ = reorder_percent;
  }

  bool receive(std::vector<uint8_t>* frame) override;
  void transmit(std::span<const uint8_t> frame) override;
  void flush() override;

 private:
  bool chance(int percent);

  Device& inner_;
  int drop_percent_ = 0;
  int reorder_percent_ = 0;
  uint32_t random_ = 0x2545F491;
  std::vector<uint8_t> held_out_, held_in_;
  bool release_in_ = false;  // the held frame goes up next
};

}  // namespace ipx

#endif  // TAV_IPX_DEVICE_FAULT_DEVICE_H_

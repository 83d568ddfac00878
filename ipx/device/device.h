// What the interface layer sends and takes Ethernet frames through: a raw
// socket on a real interface, a port of an in-memory LAN, or a fault
// injector around either. Not thread-safe: the interface's owner calls it.
#ifndef TAV_IPX_DEVICE_DEVICE_H_
#define TAV_IPX_DEVICE_DEVICE_H_

#include <cstdint>
#include <span>
#include <vector>

namespace ipx {

class Device {
 public:
  virtual ~Device() = default;
  // The next frame that arrived, in *frame; false when none waits.
  virtual bool receive(std::vector<uint8_t>* frame) = 0;
  // Sends one whole frame (its first 6 bytes are the destination MAC). A
  // frame the device cannot take now is lost, as on a busy wire.
  virtual void transmit(std::span<const uint8_t> frame) = 0;
  // Sends what the device held back; the interface calls it at the end of
  // every poll.
  virtual void flush() {}
};

}  // namespace ipx

#endif  // TAV_IPX_DEVICE_DEVICE_H_

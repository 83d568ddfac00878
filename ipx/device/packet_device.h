// The device of a real Ethernet interface: AF_PACKET raw sockets for the
// three ways Linux hands IPX frames up (Ethernet II, 802.3 raw, 802.2 with
// LLC or SNAP), and one that sends and hears the IPX frames that other
// sockets of this host send on the interface (Linux hands those to
// every-protocol sockets only): several stacks, units and a router on one
// interface hear each other as on a wire. Its own frames, and frames of
// other interfaces, are not received. Needs CAP_NET_RAW. Not thread-safe.
#ifndef TAV_IPX_DEVICE_PACKET_DEVICE_H_
#define TAV_IPX_DEVICE_PACKET_DEVICE_H_

#include <array>
#include <memory>
#include <span>
#include <string>

#include "ipx/device/device.h"
#include "ipx/wire/frame.h"

namespace ipx {

class PacketDevice : public Device {
 public:
  // Opens `interface`; nullptr with *error set: 10049 when there is no such
  // interface, else the errno of the call that failed (EPERM without
  // CAP_NET_RAW). `promiscuous`: frames to any MAC are taken in too.
  static std::unique_ptr<PacketDevice> open(const std::string& interface,
                                            bool promiscuous, int* error);
  ~PacketDevice() override;
  PacketDevice(const PacketDevice&) = delete;
  PacketDevice& operator=(const PacketDevice&) = delete;

  bool receive(std::vector<uint8_t>* frame) override;
  void transmit(std::span<const uint8_t> frame) override;

  const Mac& mac() const { return mac_; }
  // The raw sockets, to wait for frames on.
  std::span<const int> descriptors() const { return raw_; }

 private:
  PacketDevice() = default;
  std::array<int, 4> raw_ = {-1, -1, -1, -1};  // the last: local senders'
  int ifindex_ = 0;
  Mac mac_{};
  size_t next_ = 0;  // the raw socket to read first
};

}  // namespace ipx

#endif  // TAV_IPX_DEVICE_PACKET_DEVICE_H_

#include "ipx/device/packet_device.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ipx/iface/interface.h"

namespace ipx {

std::unique_ptr<PacketDevice> PacketDevice::open(const std::string& interface,
                                                 bool promiscuous, int* error) {
  std::unique_ptr<PacketDevice> d(new PacketDevice());
  d->ifindex_ = static_cast<int>(if_nametoindex(interface.c_str()));
  if (d->ifindex_ == 0) {
    *error = kAddressNotAvailable;
    return nullptr;
  }
  const uint16_t protocols[3] = {kEthertypeIpx, ETH_P_802_3, ETH_P_802_2};
  for (int i = 0; i < 3; ++i) {
    d->raw_[i] = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          htons(protocols[i]));
    sockaddr_ll ll{};
    ll.sll_family = AF_PACKET;
    ll.sll_protocol = htons(protocols[i]);
    ll.sll_ifindex = d->ifindex_;
    if (d->raw_[i] < 0 ||
        ::bind(d->raw_[i], reinterpret_cast<sockaddr*>(&ll), sizeof ll) != 0) {
      *error = errno;
      return nullptr;
    }
    int size = 1 << 20;
    setsockopt(d->raw_[i], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  ifreq req{};
  std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", interface.c_str());
  if (ioctl(d->raw_[0], SIOCGIFHWADDR, &req) != 0) {
    *error = errno;
    return nullptr;
  }
  std::memcpy(d->mac_.data(), req.ifr_hwaddr.sa_data, 6);
  if (promiscuous) {
    packet_mreq promisc{};
    promisc.mr_ifindex = d->ifindex_;
    promisc.mr_type = PACKET_MR_PROMISC;
    setsockopt(d->raw_[0], SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promisc,
               sizeof promisc);
  }
  return d;
}

PacketDevice::~PacketDevice() {
  for (int fd : raw_)
    if (fd >= 0) ::close(fd);
}

bool PacketDevice::receive(std::vector<uint8_t>* frame) {
  uint8_t buf[2048];
  // Each raw socket in turn, so that one busy frame type cannot starve the
  // others.
  for (size_t tried = 0; tried < raw_.size();) {
    int raw = raw_[next_];
    sockaddr_ll ll{};
    socklen_t len = sizeof ll;
    ssize_t r = ::recvfrom(raw, buf, sizeof buf, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&ll), &len);
    if (r < 0) {
      next_ = (next_ + 1) % raw_.size();
      ++tried;
      continue;
    }
    if (ll.sll_pkttype == PACKET_OUTGOING || ll.sll_ifindex != ifindex_)
      continue;
    frame->assign(buf, buf + r);
    next_ = (next_ + 1) % raw_.size();
    return true;
  }
  return false;
}

void PacketDevice::transmit(std::span<const uint8_t> frame) {
  if (frame.size() < 6) return;
  sockaddr_ll ll{};
  ll.sll_family = AF_PACKET;
  ll.sll_ifindex = ifindex_;
  ll.sll_halen = 6;
  std::memcpy(ll.sll_addr, frame.data(), 6);
  // A full transmit queue loses the frame: IPX is a datagram service and
  // SPX repeats what is not acknowledged.
  ::sendto(raw_[0], frame.data(), frame.size(), 0,
           reinterpret_cast<sockaddr*>(&ll), sizeof ll);
}

}  // namespace ipx

#include "ipx/device/packet_device.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "ipx/iface/interface.h"

namespace ipx {
namespace {

constexpr int kLocal = 3;  // the socket of local senders' frames

// Frames other sockets of this host send, of the IPX frame types: Ethernet
// II 8137, or a length followed by FFFF (802.3 raw), E0 (802.2) or AA
// (SNAP); decode_frame() checks the rest.
constexpr sock_filter kLocalIpx[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
             static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 0, 8),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEthertypeIpx, 5, 0),
    BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, 1500, 5, 0),
    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 14),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xFF, 2, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xE0, 1, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xAA, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, 0xFFFF),
    BPF_STMT(BPF_RET | BPF_K, 0),
};

}  // namespace

std::unique_ptr<PacketDevice> PacketDevice::open(const std::string& interface,
                                                 bool promiscuous, int* error) {
  std::unique_ptr<PacketDevice> d(new PacketDevice());
  d->ifindex_ = static_cast<int>(if_nametoindex(interface.c_str()));
  if (d->ifindex_ == 0) {
    *error = kAddressNotAvailable;
    return nullptr;
  }
  const uint16_t protocols[4] = {kEthertypeIpx, ETH_P_802_3, ETH_P_802_2,
                                 ETH_P_ALL};
  for (int i = 0; i < 4; ++i) {
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
  sock_fprog program{static_cast<unsigned short>(std::size(kLocalIpx)),
                     const_cast<sock_filter*>(kLocalIpx)};
  if (setsockopt(d->raw_[kLocal], SOL_SOCKET, SO_ATTACH_FILTER, &program,
                 sizeof program) != 0) {
    *error = errno;
    return nullptr;
  }
  // What arrived before the filter was attached may be anything.
  for (uint8_t b; ::recv(d->raw_[kLocal], &b, 1, MSG_DONTWAIT) >= 0;) continue;
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
    bool outgoing = ll.sll_pkttype == PACKET_OUTGOING;
    if (outgoing != (raw == raw_[kLocal]) || ll.sll_ifindex != ifindex_)
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
  // Sent on the local senders' socket, so that it does not hear its own.
  ::sendto(raw_[kLocal], frame.data(), frame.size(), 0,
           reinterpret_cast<sockaddr*>(&ll), sizeof ll);
}

}  // namespace ipx

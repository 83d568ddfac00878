#include "platform/ipx_stack.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "platform/ipx_services.h"

namespace ipx {
namespace {

constexpr int kWouldBlock = 10035;
constexpr int kMessageSize = 10040;
constexpr int kInvalid = 10022;
constexpr int kNotSocket = 10038;
constexpr int kAddressNotAvailable = 10049;
constexpr int kAlreadyConnected = 10056;
constexpr size_t kAddressSize = sizeof(net::SockAddrIpx);
// Unix socket buffers between the stack and the program: small, so that a
// program that stops reading stops the peer through SPX's allocation.
constexpr int kPairBuffer = 32 * 1024;
constexpr int64_t kRepeatWindowMs = 2000;
constexpr size_t kRecentDatagrams = 64;
constexpr size_t kMaxPeerTypes = 1024;
constexpr int kFramesPerWake = 64;
// Dynamic sockets. The first sixteen of the 0x4000 range are left alone:
// NetWare shells and peers use some of them as well-known sockets (messages
// at 0x4001 and 0x4003, directory service at 0x4006, printers at 0x400C),
// and packets to or from them are taken for those services.
constexpr uint16_t kFirstDynamic = 0x4010;
constexpr uint16_t kLastDynamic = 0x7FFF;

int error_from_errno() { return -net::winsock_error_from_errno(errno); }

void set_nonblock(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags >= 0)
    fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int pair(int type, int out[2]) {
  if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, out) != 0) return -1;
  for (int i = 0; i < 2; ++i) {
    setsockopt(out[i], SOL_SOCKET, SO_SNDBUF, &kPairBuffer, sizeof kPairBuffer);
    setsockopt(out[i], SOL_SOCKET, SO_RCVBUF, &kPairBuffer, sizeof kPairBuffer);
  }
  set_nonblock(out[1], true);
  return 0;
}

net::SockAddrIpx to_sockaddr(const Address& a) {
  net::SockAddrIpx s{};
  s.sa_family = net::AF_IPX_;
  std::memcpy(s.sa_netnum, a.network.data(), 4);
  std::memcpy(s.sa_nodenum, a.node.data(), 6);
  s.sa_socket = htons(a.socket);
  return s;
}

Address from_sockaddr(const net::SockAddrIpx& s) {
  Address a;
  std::memcpy(a.network.data(), s.sa_netnum, 4);
  std::memcpy(a.node.data(), s.sa_nodenum, 6);
  a.socket = ntohs(s.sa_socket);
  return a;
}

bool is_zero(const NetworkNumber& n) { return n == NetworkNumber{}; }

uint32_t checksum(std::span<const uint8_t> data) {
  uint32_t h = 2166136261u;
  for (uint8_t b : data) h = (h ^ b) * 16777619u;
  return h;
}

}  // namespace

struct Stack::Socket {
  int type = 0;
  uint16_t port = 0;  // host order, 0 until bound
  bool nonblocking = false;
  int stack_end = -1;   // datagram sockets: our end of the pair
  int pipe_write = -1;  // SPX before its open: the placeholder's other end
  bool listening = false;
  size_t backlog = 0;
  std::deque<int> ready;  // accepted descriptors not yet taken
  uint16_t conn_id = 0;
  bool accepted = false;  // shares the listener's socket number
  int error = 0;
};

struct Stack::Conn {
  Conn(uint16_t id, const spx::Timing& t, const spx::Limits& l)
      : machine(id, t, l) {}
  spx::Connection machine;
  Address peer;
  FrameType type = FrameType::kEthernetII;
  uint16_t port = 0;
  int app_fd = -1;        // the program's descriptor, -1 once it closed it
  int stack_end = -1;     // -1 until the open is answered
  bool app_done = false;  // the program's side reached its end
  bool shut = false;      // the end was passed on to the program
  std::vector<uint8_t> staged;  // read from the machine, not yet passed on
  size_t staged_at = 0;
};

struct Stack::Recent {
  Address source;
  uint16_t socket = 0;
  uint32_t sum = 0;
  size_t size = 0;
  FrameType type = FrameType::kEthernetII;
  int64_t at = -kRepeatWindowMs;
};

std::unique_ptr<Stack> Stack::start(const StackOptions& options, int* error) {
  std::unique_ptr<Stack> s(new Stack());
  std::string name = options.interface;
  if (name.empty()) {
    uint32_t own = 0;
    char ifname[64] = {};
    if (net::host_own_address(&own))
      net::interface_name_of(own, ifname, sizeof ifname);
    name = ifname;
  }
  s->ifindex_ = static_cast<int>(if_nametoindex(name.c_str()));
  if (s->ifindex_ == 0) {
    *error = kAddressNotAvailable;
    return nullptr;
  }
  const uint16_t protocols[3] = {kEthertypeIpx, ETH_P_802_3, ETH_P_802_2};
  for (int i = 0; i < 3; ++i) {
    s->raw_[i] = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          htons(protocols[i]));
    sockaddr_ll ll{};
    ll.sll_family = AF_PACKET;
    ll.sll_protocol = htons(protocols[i]);
    ll.sll_ifindex = s->ifindex_;
    if (s->raw_[i] < 0 ||
        ::bind(s->raw_[i], reinterpret_cast<sockaddr*>(&ll), sizeof ll) != 0) {
      *error = -error_from_errno();
      return nullptr;
    }
    int size = 1 << 20;
    setsockopt(s->raw_[i], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  ifreq req{};
  std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", name.c_str());
  if (ioctl(s->raw_[0], SIOCGIFHWADDR, &req) != 0) {
    *error = -error_from_errno();
    return nullptr;
  }
  std::memcpy(s->mac_.data(), req.ifr_hwaddr.sa_data, 6);
  if (options.node != Mac{}) {
    s->mac_ = options.node;
    packet_mreq promisc{};
    promisc.mr_ifindex = s->ifindex_;
    promisc.mr_type = PACKET_MR_PROMISC;
    setsockopt(s->raw_[0], SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promisc,
               sizeof promisc);
  }
  if (options.receive_types != 0) s->receive_types_ = options.receive_types;
  s->drop_percent_ = options.drop_percent;
  s->reorder_percent_ = options.reorder_percent;
  s->wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (s->wake_fd_ < 0) {
    *error = -error_from_errno();
    return nullptr;
  }
  s->broadcast_types_ = options.broadcast_types;
  if (s->broadcast_types_ == 0)
    s->broadcast_types_ = parse_frame_types(std::getenv("TAV_IPX_FRAMES"));
  if (s->broadcast_types_ == 0) s->broadcast_types_ = kAllFrameTypes;
  s->network_ = options.network;
  s->timing_ = options.timing;
  s->limits_ = options.limits;
  s->epoch_ms_ = s->now_ms();
  s->next_conn_id_ = static_cast<uint16_t>(s->epoch_ms_ | 1);
  s->recent_.resize(kRecentDatagrams);
  if (is_zero(s->network_)) {
    // Ask the routers for the network number.
    std::vector<uint8_t> rip = encode_rip_request();
    std::lock_guard<std::mutex> lock(s->mu_);
    s->send_packet({{}, kBroadcastMac, kRipSocket}, kPacketTypeRip, kRipSocket,
                   rip, nullptr);
  }
  s->thread_ = std::thread([p = s.get()] { p->run(); });
  return s;
}

Stack::~Stack() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  wake();
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (auto& [fd, s] : sockets_) {
    close_fd(s.stack_end);
    close_fd(s.pipe_write);
    ::close(fd);
  }
  for (auto& [id, c] : conns_) close_fd(c->stack_end);
  for (int& r : raw_) close_fd(r);
  close_fd(wake_fd_);
}

int64_t Stack::now_ms() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
             .count() -
         epoch_ms_;
}

void Stack::wake() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

Stack::Socket* Stack::find(int fd) {
  auto it = sockets_.find(fd);
  return it == sockets_.end() ? nullptr : &it->second;
}

bool Stack::owns(int fd) {
  std::lock_guard<std::mutex> lock(mu_);
  return find(fd) != nullptr;
}

NetworkNumber Stack::network() {
  std::lock_guard<std::mutex> lock(mu_);
  return network_;
}

int Stack::socket(int type) {
  if (type != net::SOCK_DGRAM_ && type != net::SOCK_STREAM_) return -kInvalid;
  std::lock_guard<std::mutex> lock(mu_);
  Socket s;
  s.type = type;
  int fds[2];
  int app;
  if (type == net::SOCK_DGRAM_) {
    if (pair(SOCK_DGRAM, fds) != 0) return error_from_errno();
    app = fds[0];
    s.stack_end = fds[1];
  } else {
    if (pipe2(fds, O_CLOEXEC) != 0) return error_from_errno();
    app = fds[0];
    s.pipe_write = fds[1];
  }
  sockets_[app] = s;
  return app;
}

uint16_t Stack::free_port() {
  for (int i = 0; i < 0x4000; ++i) {
    uint16_t p = next_port_;
    next_port_ = next_port_ == kLastDynamic ? kFirstDynamic : next_port_ + 1;
    bool used = std::any_of(sockets_.begin(), sockets_.end(),
                            [p](const auto& e) { return e.second.port == p; });
    if (!used) return p;
  }
  return 0;
}

uint16_t Stack::free_conn_id() {
  for (;;) {
    uint16_t id = next_conn_id_++;
    if (id != 0 && id != kSpxUnknownId && conns_.count(id) == 0) return id;
  }
}

int Stack::bind_locked(Socket& s, uint16_t port) {
  if (s.port != 0) return -kInvalid;
  if (port == 0) {
    port = free_port();
    if (port == 0) return -net::WSAENOBUFS;
  } else if (std::any_of(sockets_.begin(), sockets_.end(), [port](auto& e) {
               return e.second.port == port && !e.second.accepted;
             })) {
    return -net::WSAEADDRINUSE;
  }
  s.port = port;
  return 0;
}

int Stack::bind(int fd, const net::SockAddrIpx& addr) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  return bind_locked(*s, ntohs(addr.sa_socket));
}

int Stack::getsockname(int fd, net::SockAddrIpx* addr) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  if (s->port == 0) return -kInvalid;
  *addr = to_sockaddr({network_, mac_, s->port});
  return 0;
}

int Stack::set_nonblocking(int fd, bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  s->nonblocking = on;
  set_nonblock(fd, on);
  return 0;
}

int Stack::socket_error(int fd) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  return s == nullptr ? -kNotSocket : s->error;
}

int Stack::connect(int fd, const net::SockAddrIpx& to) {
  std::unique_lock<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  if (s->type != net::SOCK_STREAM_ || s->listening) return -kInvalid;
  if (s->conn_id != 0) return -kAlreadyConnected;
  Address peer = from_sockaddr(to);
  if (peer.node == Mac{} || peer.node == kBroadcastMac)
    return -kAddressNotAvailable;
  if (s->port == 0) {
    if (int rc = bind_locked(*s, 0); rc < 0) return rc;
  }
  uint16_t id = free_conn_id();
  auto c = std::make_unique<Conn>(id, timing_, limits_);
  c->peer = peer;
  c->type = type_for(peer.node);
  c->port = s->port;
  c->app_fd = fd;
  c->machine.open(now_ms());
  s->conn_id = id;
  s->error = 0;
  flush(*c);
  conns_[id] = std::move(c);
  wake();
  if (s->nonblocking) return -kWouldBlock;
  cv_.wait(lock, [&] {
    auto it = conns_.find(id);
    return stopping_ || it == conns_.end() ||
           it->second->machine.state() != spx::State::kConnecting;
  });
  s = find(fd);
  if (s == nullptr) return -kNotSocket;
  return s->error != 0 ? -s->error : 0;
}

int Stack::listen(int fd, int backlog) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  if (s->type != net::SOCK_STREAM_ || s->conn_id != 0) return -kInvalid;
  if (s->port == 0) {
    if (int rc = bind_locked(*s, 0); rc < 0) return rc;
  }
  s->listening = true;
  s->backlog = static_cast<size_t>(std::clamp(backlog, 1, 16));
  return 0;
}

int Stack::accept(int fd) {
  std::unique_lock<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  if (!s->listening) return -kInvalid;
  if (s->ready.empty()) {
    if (s->nonblocking) return -kWouldBlock;
    cv_.wait(lock, [&] {
      s = find(fd);
      return stopping_ || s == nullptr || !s->ready.empty();
    });
    if (s == nullptr || s->ready.empty()) return -kNotSocket;
  }
  int app = s->ready.front();
  s->ready.pop_front();
  char byte;
  [[maybe_unused]] ssize_t n = ::read(fd, &byte, 1);  // one per waiting one
  Socket* a = find(app);
  if (a != nullptr) {
    a->nonblocking = s->nonblocking;  // as Winsock hands them out
    set_nonblock(app, s->nonblocking);
  }
  return app;
}

int Stack::sendto(int fd, const void* data, int len,
                  const net::SockAddrIpx& to) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  if (s->type != net::SOCK_DGRAM_ || len < 0) return -kInvalid;
  if (static_cast<size_t>(len) + kIpxHeaderSize > kMaxIpxPacket)
    return -kMessageSize;
  if (s->port == 0) {
    if (int rc = bind_locked(*s, 0); rc < 0) return rc;
  }
  send_packet(from_sockaddr(to), kPacketTypeExchange, s->port,
              {static_cast<const uint8_t*>(data), static_cast<size_t>(len)},
              nullptr);
  return len;
}

int Stack::close(int fd) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  close_fd(s->stack_end);
  close_fd(s->pipe_write);
  auto it = conns_.find(s->conn_id);
  if (it != conns_.end() && it->second->app_fd == fd) {
    Conn& c = *it->second;
    c.app_fd = -1;
    // An open not yet answered ends here; a connection ends in order once
    // the stack has read what the program wrote.
    if (c.stack_end < 0) c.machine.close(now_ms());
  }
  // Connections that came in and were never taken end in order too.
  for (int waiting : s->ready) {
    Socket* w = find(waiting);
    if (w != nullptr) {
      auto wc = conns_.find(w->conn_id);
      if (wc != conns_.end()) wc->second->app_fd = -1;
      sockets_.erase(waiting);
    }
    ::close(waiting);
  }
  sockets_.erase(fd);
  ::close(fd);
  wake();
  return 0;
}

int Stack::recvfrom(int fd, void* data, int len, net::SockAddrIpx* from) {
  net::SockAddrIpx source{};
  iovec iov[2] = {{&source, kAddressSize},
                  {data, static_cast<size_t>(std::max(len, 0))}};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  ssize_t r = ::recvmsg(fd, &msg, 0);
  if (r < 0) return error_from_errno();
  if (msg.msg_flags & MSG_TRUNC) return -kMessageSize;
  if (static_cast<size_t>(r) < kAddressSize) return -kInvalid;
  if (from != nullptr) *from = source;
  return static_cast<int>(r - static_cast<ssize_t>(kAddressSize));
}

FrameType Stack::type_for(const Mac& node) {
  auto it = peer_types_.find(node);
  if (it != peer_types_.end()) return it->second;
  for (int i = 0; i < kFrameTypeCount; ++i)
    if (broadcast_types_ & (1u << i)) return static_cast<FrameType>(i);
  return FrameType::kEthernetII;
}

void Stack::set_loss(int drop_percent, int reorder_percent) {
  std::lock_guard<std::mutex> lock(mu_);
  drop_percent_ = drop_percent;
  reorder_percent_ = reorder_percent;
}

bool Stack::chance(int percent) {
  if (percent <= 0) return false;
  random_ ^= random_ << 13;
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  return static_cast<int>(random_ % 100) < percent;
}

void Stack::transmit(const std::vector<uint8_t>& frame, const Mac& to) {
  if (!frame.empty()) {
    if (chance(drop_percent_)) return;
    if (held_out_.empty() && chance(reorder_percent_)) {
      held_out_ = frame;
      held_to_ = to;
      return;
    }
  }
  const std::vector<uint8_t>* frames[] = {&frame, &held_out_};
  for (const std::vector<uint8_t>* f : frames) {
    if (f->empty()) continue;
    sockaddr_ll ll{};
    ll.sll_family = AF_PACKET;
    ll.sll_ifindex = ifindex_;
    ll.sll_halen = 6;
    std::memcpy(ll.sll_addr, (f == &frame ? to : held_to_).data(), 6);
    // A full transmit queue loses the frame: IPX is a datagram service and
    // SPX repeats what is not acknowledged.
    ::sendto(raw_[0], f->data(), f->size(), 0, reinterpret_cast<sockaddr*>(&ll),
             sizeof ll);
  }
  held_out_.clear();
}

void Stack::send_packet(const Address& to, uint8_t packet_type,
                        uint16_t from_port, std::span<const uint8_t> data,
                        const FrameType* type) {
  IpxHeader h;
  h.packet_type = packet_type;
  h.destination = to;
  h.source = {network_, mac_, from_port};
  bool broadcast = to.node == kBroadcastMac;
  for (int i = 0; i < kFrameTypeCount; ++i) {
    auto t = static_cast<FrameType>(i);
    if (type != nullptr ? t != *type
        : broadcast     ? !(broadcast_types_ & frame_bit(t))
                        : t != type_for(to.node))
      continue;
    std::vector<uint8_t> frame = encode_frame(t, to.node, mac_, h, data);
    if (!frame.empty()) transmit(frame, to.node);
  }
}

void Stack::flush(Conn& c) {
  auto& out = c.machine.outbox();
  uint8_t buf[kSpxHeaderSize + kSpxMaxData];
  while (!out.empty()) {
    const spx::Packet& p = out.front();
    encode_spx_header(p.header, buf);
    std::memcpy(buf + kSpxHeaderSize, p.data.data(), p.size);
    send_packet(c.peer, kPacketTypeSpx, c.port, {buf, kSpxHeaderSize + p.size},
                &c.type);
    out.pop_front();
  }
}

void Stack::run() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) poll_once(lock);
}

void Stack::poll_once(std::unique_lock<std::mutex>& lock) {
  std::vector<pollfd> fds = {{wake_fd_, POLLIN, 0},
                             {raw_[0], POLLIN, 0},
                             {raw_[1], POLLIN, 0},
                             {raw_[2], POLLIN, 0}};
  std::vector<uint16_t> ids;
  int64_t now = now_ms();
  int64_t deadline = now + 1000;
  for (auto& [id, c] : conns_) {
    deadline = std::min(deadline, c->machine.next_deadline());
    if (c->stack_end < 0) continue;
    short events = 0;
    if (!c->app_done && (c->machine.writable() > 0 || c->machine.finished()))
      events |= POLLIN;
    if (c->staged_at < c->staged.size() || c->machine.readable() > 0)
      events |= POLLOUT;
    // An end that is shut, or whose program is gone, reports a hang-up at
    // once on every poll: with nothing to wait for there, leave it out.
    if (events == 0 && (c->app_done || c->shut)) continue;
    fds.push_back({c->stack_end, events, 0});
    ids.push_back(id);
  }
  int timeout = static_cast<int>(std::clamp<int64_t>(deadline - now, 0, 1000));
  lock.unlock();
  int n = ::poll(fds.data(), fds.size(), timeout);
  lock.lock();
  if (stopping_) return;
  if (n > 0 && (fds[0].revents & POLLIN)) {
    uint64_t count;
    [[maybe_unused]] ssize_t r = ::read(wake_fd_, &count, sizeof count);
  }
  for (int i = 0; i < 3; ++i)
    if (n > 0 && fds[1 + i].revents) receive_frames(raw_[i]);
  now = now_ms();
  for (size_t i = 0; i < ids.size(); ++i) {
    auto it = conns_.find(ids[i]);
    if (it == conns_.end() || it->second->stack_end != fds[4 + i].fd) continue;
    short r = n > 0 ? fds[4 + i].revents : 0;
    service(*it->second, r & (POLLIN | POLLHUP | POLLERR), r & POLLOUT, now);
  }
  for (auto it = conns_.begin(); it != conns_.end();) {
    Conn& c = *it->second;
    c.machine.tick(now);
    if (c.stack_end >= 0) service(c, false, true, now);
    flush(c);
    it = retire(c) ? conns_.erase(it) : std::next(it);
  }
  if (!held_out_.empty()) transmit({}, held_to_);  // no later frame came
}

void Stack::receive_frames(int raw) {
  uint8_t buf[2048];
  for (int i = 0; i < kFramesPerWake; ++i) {
    sockaddr_ll ll{};
    socklen_t len = sizeof ll;
    ssize_t r = ::recvfrom(raw, buf, sizeof buf, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&ll), &len);
    if (r < 0) return;
    if (ll.sll_pkttype == PACKET_OUTGOING || ll.sll_ifindex != ifindex_)
      continue;
    auto f = decode_frame({buf, static_cast<size_t>(r)});
    if (!f || f->source == mac_ || !(receive_types_ & frame_bit(f->type)))
      continue;
    if (f->ipx.destination.node != mac_ &&
        f->ipx.destination.node != kBroadcastMac)
      continue;
    if (chance(drop_percent_)) continue;
    if (held_in_.empty() && chance(reorder_percent_)) {
      held_in_.assign(buf, buf + r);
      continue;
    }
    handle_frame(*f, now_ms());
    release_held_in();
  }
  release_held_in();
}

void Stack::release_held_in() {
  if (held_in_.empty()) return;
  std::vector<uint8_t> held;
  held.swap(held_in_);
  if (auto f = decode_frame(held)) handle_frame(*f, now_ms());
}

void Stack::handle_frame(const Frame& f, int64_t now) {
  if (peer_types_.size() >= kMaxPeerTypes) peer_types_.clear();
  peer_types_[f.source] = f.type;
  if (is_zero(network_) && f.ipx.transport_control == 0 &&
      !is_zero(f.ipx.source.network))
    network_ = f.ipx.source.network;
  uint16_t op = 0;
  std::vector<RipEntry> routes;
  if (is_zero(network_) && f.ipx.destination.socket == kRipSocket &&
      decode_rip(f.data, &op, &routes) && op == kRipResponse) {
    auto nearest = std::min_element(
        routes.begin(), routes.end(),
        [](const RipEntry& a, const RipEntry& b) { return a.hops < b.hops; });
    if (!is_zero(nearest->network)) network_ = nearest->network;
  }
  if (f.ipx.packet_type == kPacketTypeSpx && f.data.size() >= kSpxHeaderSize) {
    handle_spx(f, now);
  } else {
    deliver_datagram(f, now);
  }
}

void Stack::handle_spx(const Frame& f, int64_t now) {
  SpxHeader h;
  decode_spx_header(f.data, &h);
  std::span<const uint8_t> payload = f.data.subspan(kSpxHeaderSize);
  const Address& from = f.ipx.source;
  Conn* conn = nullptr;
  if (h.destination_id != kSpxUnknownId) {
    auto it = conns_.find(h.destination_id);
    if (it != conns_.end() && it->second->peer.node == from.node &&
        it->second->peer.socket == from.socket)
      conn = it->second.get();
  } else {
    for (auto& [id, c] : conns_)
      if (c->peer.node == from.node && c->peer.socket == from.socket &&
          c->machine.peer_id() == h.source_id)
        conn = c.get();
  }
  if (conn != nullptr) {
    conn->type = f.type;
    conn->machine.receive(h, payload, now);
    if (conn->machine.state() != spx::State::kConnecting &&
        conn->stack_end < 0 && conn->app_fd >= 0)
      established(*conn);
    flush(*conn);
    return;
  }
  if (h.destination_id != kSpxUnknownId) return;
  // A connection request: taken by a listener on the socket, if one has
  // room. SPX has no refusal; without one the requester hears nothing.
  auto listener =
      std::find_if(sockets_.begin(), sockets_.end(), [&](const auto& e) {
        return e.second.listening && e.second.port == f.ipx.destination.socket;
      });
  if (listener == sockets_.end() ||
      listener->second.ready.size() >= listener->second.backlog)
    return;
  int fds[2];
  if (pair(SOCK_STREAM, fds) != 0) return;
  uint16_t id = free_conn_id();
  auto c = std::make_unique<Conn>(id, timing_, limits_);
  c->peer = from;
  c->type = f.type;
  c->port = listener->second.port;
  c->app_fd = fds[0];
  c->stack_end = fds[1];
  c->machine.accept(h, now);
  flush(*c);
  conns_[id] = std::move(c);
  Socket accepted;
  accepted.type = net::SOCK_STREAM_;
  accepted.port = listener->second.port;
  accepted.conn_id = id;
  accepted.accepted = true;
  listener->second.ready.push_back(fds[0]);
  [[maybe_unused]] ssize_t n = ::write(listener->second.pipe_write, "c", 1);
  sockets_[fds[0]] = accepted;
  cv_.notify_all();
}

void Stack::established(Conn& c) {
  Socket* s = find(c.app_fd);
  if (s == nullptr) return;
  if (c.machine.finished()) {
    s->error = c.machine.error() != 0 ? c.machine.error() : spx::kTimedOut;
  } else {
    int fds[2];
    if (pair(SOCK_STREAM, fds) != 0) {
      s->error = net::WSAENOBUFS;
      c.machine.close(now_ms());
    } else {
      // The placeholder becomes the connection under the same number; any
      // poll on the placeholder wakes with a hang-up.
      set_nonblock(fds[0], s->nonblocking);
      dup3(fds[0], c.app_fd, O_CLOEXEC);
      ::close(fds[0]);
      c.stack_end = fds[1];
    }
  }
  close_fd(s->pipe_write);
  cv_.notify_all();
}

void Stack::service(Conn& c, bool readable, bool writable, int64_t now) {
  uint8_t buf[8192];
  if (readable && !c.app_done) {
    size_t room = c.machine.finished()
                      ? sizeof buf
                      : std::min(sizeof buf, c.machine.writable());
    ssize_t r = room > 0 ? ::recv(c.stack_end, buf, room, MSG_DONTWAIT) : -1;
    if (r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
      c.app_done = true;
      c.machine.close(now);
    } else if (r > 0 && !c.machine.finished()) {
      c.machine.write({buf, static_cast<size_t>(r)}, now);
    }
  }
  if (!writable) return;
  for (;;) {
    if (c.staged_at == c.staged.size()) {
      c.staged.resize(sizeof buf);
      c.staged.resize(c.machine.read(c.staged, now));
      c.staged_at = 0;
      if (c.staged.empty()) break;
    }
    ssize_t w =
        ::send(c.stack_end, c.staged.data() + c.staged_at,
               c.staged.size() - c.staged_at, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (w <= 0) {
      if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        c.staged.clear();  // the program is gone: nobody reads
        c.staged_at = 0;
      }
      break;
    }
    c.staged_at += static_cast<size_t>(w);
  }
  if (!c.shut && c.machine.at_end() && c.staged_at == c.staged.size()) {
    // The end of the stream, or of the connection: the program reads the
    // end, and its writes fail from now on.
    c.shut = true;
    shutdown(c.stack_end, SHUT_RDWR);
    if (Socket* s = find(c.app_fd)) s->error = c.machine.error();
  }
}

bool Stack::retire(Conn& c) {
  if (!c.machine.finished()) return false;
  if (c.stack_end < 0) {  // the open failed, or the program gave it up
    if (c.app_fd >= 0) established(c);
    return true;
  }
  bool program_reads = c.app_fd >= 0 && !c.app_done;
  if (program_reads && !c.shut) return false;  // data still to pass on
  if (Socket* s = find(c.app_fd)) s->error = c.machine.error();
  if (program_reads) return false;
  close_fd(c.stack_end);
  return true;
}

void Stack::deliver_datagram(const Frame& f, int64_t now) {
  auto s = std::find_if(sockets_.begin(), sockets_.end(), [&](const auto& e) {
    return e.second.type == net::SOCK_DGRAM_ &&
           e.second.port == f.ipx.destination.socket;
  });
  if (s == sockets_.end()) return;
  // The same datagram from the same node in another frame type within a
  // short time is the node answering each of our broadcasts: keep one.
  Recent r{f.ipx.source,     f.ipx.destination.socket,
           checksum(f.data), f.data.size(),
           f.type,           now};
  for (const Recent& e : recent_)
    if (now - e.at < kRepeatWindowMs && e.type != r.type &&
        e.source == r.source && e.socket == r.socket && e.sum == r.sum &&
        e.size == r.size)
      return;
  recent_[recent_next_] = r;
  recent_next_ = (recent_next_ + 1) % recent_.size();
  net::SockAddrIpx source = to_sockaddr(f.ipx.source);
  iovec iov[2] = {{&source, kAddressSize},
                  {const_cast<uint8_t*>(f.data.data()), f.data.size()}};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  // A full queue loses the datagram, as a busy IPX socket would.
  ::sendmsg(s->second.stack_end, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
}

}  // namespace ipx

#include "ipx/host/stack.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

namespace ipx {
namespace {

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

InterfaceConfig config_of(const StackOptions& o, const Mac& node) {
  InterfaceConfig c;
  c.node = node;
  c.network = o.network;
  c.type_networks = o.type_networks;
  c.broadcast_types = o.broadcast_types;
  c.receive_types = o.receive_types;
  c.timing = o.timing;
  c.limits = o.limits;
  c.first_connection_id = static_cast<uint16_t>(steady_ms() | 1);
  return c;
}

}  // namespace

std::unique_ptr<Stack> Stack::start(const StackOptions& options, int* error) {
  bool own_node = options.node != Mac{};
  auto device = PacketDevice::open(options.interface, own_node, error);
  if (!device) return nullptr;
  Mac node = own_node ? options.node : device->mac();
  std::unique_ptr<Stack> s(
      new Stack(std::move(device), config_of(options, node)));
  if (s->wake_fd_ < 0) {
    *error = errno;
    return nullptr;
  }
  s->thread_ = std::thread([p = s.get()] { p->run(); });
  return s;
}

Stack::Stack(std::unique_ptr<PacketDevice> device,
             const InterfaceConfig& config)
    : wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      epoch_ms_(steady_ms()),
      device_(std::move(device)),
      fault_(*device_),
      iface_(config),
      node_(config.node) {}

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
  for (auto& [h, b] : bridges_) close_fd(b.stack_end);
  close_fd(wake_fd_);
}

int64_t Stack::now_ms() const { return steady_ms() - epoch_ms_; }

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
  return iface_.network();
}

void Stack::set_loss(int drop_percent, int reorder_percent) {
  std::lock_guard<std::mutex> lock(mu_);
  fault_.set_loss(drop_percent, reorder_percent);
}

int Stack::socket(SocketKind kind) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket s;
  s.kind = kind;
  int fds[2];
  if (kind == SocketKind::kDatagram) {
    if (int rc = make_pair(SOCK_DGRAM, fds); rc < 0) return rc;
    s.stack_end = fds[1];
  } else {
    if (pipe2(fds, O_CLOEXEC) != 0) return -errno;
    s.pipe_write = fds[1];
  }
  s.handle = iface_.open(kind);
  sockets_[fds[0]] = s;
  return fds[0];
}

int Stack::bind(int fd, uint16_t port) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  return s == nullptr ? -kNotSocket : iface_.bind(s->handle, port);
}

int Stack::getsockname(int fd, Address* out) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  return s == nullptr ? -kNotSocket : iface_.local_address(s->handle, out);
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

int Stack::connect(int fd, const Address& to) {
  std::unique_lock<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  if (int rc = iface_.connect(s->handle, to, now_ms()); rc < 0) return rc;
  s->connecting = true;
  s->error = 0;
  wake();
  if (s->nonblocking) return -kWouldBlock;
  cv_.wait(lock, [&] {
    s = find(fd);
    return stopping_ || s == nullptr || !s->connecting;
  });
  if (s == nullptr) return -kNotSocket;
  return s->error != 0 ? -s->error : 0;
}

int Stack::listen(int fd, int backlog) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  return s == nullptr ? -kNotSocket : iface_.listen(s->handle, backlog);
}

int Stack::accept(int fd) {
  std::unique_lock<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  if (!iface_.listening(s->handle)) return -kInvalid;
  if (iface_.waiting(s->handle) == 0) {
    if (s->nonblocking) return -kWouldBlock;
    cv_.wait(lock, [&] {
      s = find(fd);
      return stopping_ || s == nullptr || iface_.waiting(s->handle) > 0;
    });
    if (s == nullptr || iface_.waiting(s->handle) == 0) return -kNotSocket;
  }
  int fds[2];
  if (int rc = make_pair(SOCK_STREAM, fds); rc < 0) return rc;
  Socket a;
  a.kind = SocketKind::kStream;
  a.handle = iface_.accept(s->handle);
  a.nonblocking = s->nonblocking;  // as Winsock hands them out
  set_nonblock(fds[0], s->nonblocking);
  if (s->announced > 0) {
    char byte;
    [[maybe_unused]] ssize_t n = ::read(fd, &byte, 1);  // one per waiting one
    --s->announced;
  }
  Bridge& b = bridges_[a.handle];
  b.app_fd = fds[0];
  b.stack_end = fds[1];
  sockets_[fds[0]] = a;
  wake();
  return fds[0];
}

int Stack::sendto(int fd, const void* data, int len, const Address& to) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  if (len < 0) return -kInvalid;
  int rc = iface_.sendto(
      s->handle, {static_cast<const uint8_t*>(data), static_cast<size_t>(len)},
      to);
  wake();
  return rc;
}

int Stack::close(int fd) {
  std::lock_guard<std::mutex> lock(mu_);
  Socket* s = find(fd);
  if (s == nullptr) return -kNotSocket;
  close_fd(s->stack_end);
  close_fd(s->pipe_write);
  auto b = bridges_.find(s->handle);
  if (b != bridges_.end()) {
    // The connection ends in order once the bridge has read what the
    // program wrote.
    b->second.app_fd = -1;
  } else {
    iface_.close(s->handle, now_ms());
  }
  sockets_.erase(fd);
  ::close(fd);
  wake();
  return 0;
}

int Stack::recvfrom(int fd, void* data, int len, Address* from) {
  uint8_t source[kAddressSize];
  iovec iov[2] = {{source, kAddressSize},
                  {data, static_cast<size_t>(std::max(len, 0))}};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  ssize_t r = ::recvmsg(fd, &msg, 0);
  if (r < 0) return errno == EAGAIN ? -kWouldBlock : -errno;
  if (msg.msg_flags & MSG_TRUNC) return -kMessageSize;
  if (static_cast<size_t>(r) < kAddressSize) return -kInvalid;
  if (from != nullptr) *from = decode_address(source);
  return static_cast<int>(r - static_cast<ssize_t>(kAddressSize));
}

void Stack::run() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) poll_once(lock);
}

void Stack::poll_once(std::unique_lock<std::mutex>& lock) {
  std::vector<pollfd> fds = {{wake_fd_, POLLIN, 0}};
  for (int raw : device_->descriptors()) fds.push_back({raw, POLLIN, 0});
  const size_t first_bridge = fds.size();
  std::vector<Interface::Handle> polled;
  for (auto& [h, b] : bridges_) {
    const spx::Connection* m = iface_.connection(h);
    int events = m == nullptr ? -1 : b.events(*m);
    if (events < 0) continue;
    fds.push_back({b.stack_end, static_cast<short>(events), 0});
    polled.push_back(h);
  }
  int64_t now = now_ms();
  int64_t wait = std::clamp<int64_t>(iface_.next_deadline() - now, 0, 1000);
  lock.unlock();
  int n = ::poll(fds.data(), fds.size(), static_cast<int>(wait));
  lock.lock();
  if (stopping_) return;
  if (n > 0 && (fds[0].revents & POLLIN)) {
    uint64_t count;
    [[maybe_unused]] ssize_t r = ::read(wake_fd_, &count, sizeof count);
  }
  now = now_ms();
  for (size_t i = 0; n > 0 && i < polled.size(); ++i) {
    auto b = bridges_.find(polled[i]);
    spx::Connection* m = iface_.connection(polled[i]);
    const pollfd& p = fds[first_bridge + i];
    if (b == bridges_.end() || m == nullptr || b->second.stack_end != p.fd)
      continue;
    b->second.service(*m, p.revents & (POLLIN | POLLHUP | POLLERR),
                      p.revents & POLLOUT, now,
                      p.revents & (POLLHUP | POLLERR));
  }
  iface_.poll(now, fault_);
  update(now);
  cv_.notify_all();
}

// Passes on what the interface did: received data and datagrams, answered
// or failed opens, connections that came in, and connections that ended.
void Stack::update(int64_t now) {
  for (auto& [fd, s] : sockets_) {
    if (s.kind == SocketKind::kDatagram) {
      Datagram d;
      while (iface_.receive(s.handle, &d)) {
        uint8_t source[kAddressSize];
        encode_address(d.source, source);
        iovec iov[2] = {{source, kAddressSize}, {d.data.data(), d.data.size()}};
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = 2;
        // A full queue loses the datagram, as a busy IPX socket would.
        ::sendmsg(s.stack_end, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
      }
    } else if (s.connecting) {
      const spx::Connection* m = iface_.connection(s.handle);
      if (m == nullptr || m->state() != spx::State::kConnecting)
        established(s, fd, now);
    } else if (iface_.listening(s.handle)) {
      for (; s.announced < iface_.waiting(s.handle); ++s.announced)
        [[maybe_unused]] ssize_t n = ::write(s.pipe_write, "c", 1);
    }
  }
  for (auto it = bridges_.begin(); it != bridges_.end();) {
    Bridge& b = it->second;
    spx::Connection* m = iface_.connection(it->first);
    if (m == nullptr) {
      close_fd(b.stack_end);
      it = bridges_.erase(it);
      continue;
    }
    Socket* s = find(b.app_fd);
    if (b.service(*m, false, true, now) && s != nullptr) s->error = m->error();
    bool program_error = false;
    bool done = b.retire(*m, &program_error);
    if (program_error && s != nullptr) s->error = m->error();
    if (!done) {
      ++it;
      continue;
    }
    if (s != nullptr) s->handle = 0;
    iface_.close(it->first, now);
    it = bridges_.erase(it);
  }
}

void Stack::established(Socket& s, int fd, int64_t now) {
  s.connecting = false;
  spx::Connection* m = iface_.connection(s.handle);
  if (m == nullptr || m->finished()) {
    int error = m != nullptr ? m->error() : 0;
    s.error = error != 0 ? error : spx::kTimedOut;
  } else {
    int fds[2];
    if (int rc = make_pair(SOCK_STREAM, fds); rc < 0) {
      s.error = kNoBuffers;
      m->close(now);
    } else {
      // The placeholder becomes the connection under the same number; any
      // poll on the placeholder wakes with a hang-up.
      set_nonblock(fds[0], s.nonblocking);
      dup3(fds[0], fd, O_CLOEXEC);
      ::close(fds[0]);
      Bridge& b = bridges_[s.handle];
      b.app_fd = fd;
      b.stack_end = fds[1];
    }
  }
  close_fd(s.pipe_write);
}

}  // namespace ipx

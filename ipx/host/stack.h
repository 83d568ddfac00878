// The IPX/SPX stack as a host runs it: one thread owns an interface on a
// real Ethernet interface (AF_PACKET, which needs CAP_NET_RAW), its timers
// and its connections, and hands the program an ordinary descriptor per
// IPX or SPX socket, so poll(), recv() and send() work on it unchanged:
// - an IPX datagram socket is one end of an AF_UNIX datagram pair; each
//   datagram read from it is the 12-byte source address (network, node,
//   socket in network order) followed by the data: recvfrom() below splits
//   it. Datagrams are sent with sendto() below.
// - an SPX socket is, until its open is answered, the read end of a pipe
//   (never writable; readable on a listener when a connection waits, and
//   hung up when an open ends); once connected it is one end of an AF_UNIX
//   stream pair carrying the byte stream. A received end of connection
//   reads as the end of the stream; a broken connection too, with
//   socket_error() telling why.
// What goes on the wire is the interface's (ipx/iface/interface.h).
//
// Every call returns a count or descriptor (>= 0) on success, or a negative
// error number: a Winsock number (10000 and up, ipx/iface/interface.h) for
// what the stack refuses, an errno value when the system refused. Safe for
// concurrent use.
#ifndef TAV_IPX_HOST_STACK_H_
#define TAV_IPX_HOST_STACK_H_

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ipx/device/fault_device.h"
#include "ipx/device/packet_device.h"
#include "ipx/host/bridge.h"
#include "ipx/iface/interface.h"

namespace ipx {

struct StackOptions {
  std::string interface;
  // Frame types of broadcasts (and of unicasts to a node not yet heard);
  // 0: all four.
  FrameTypes broadcast_types = 0;
  // Non-zero: the network number, known from the start; per frame type
  // (non-zero entries) for a node bound to several.
  NetworkNumber network{};
  std::array<NetworkNumber, kFrameTypeCount> type_networks{};
  // Non-zero: the node number the stack answers to and sends from instead
  // of the interface's own MAC (a simulator plays several nodes on one
  // interface); the interface is then put in promiscuous mode.
  Mac node{};
  // Frame types taken in; 0: all four. A node set to one frame type hears
  // no other.
  FrameTypes receive_types = 0;
  spx::Timing timing;
  spx::Limits limits;
};

class Stack {
 public:
  // Opens the interface and starts the stack thread; nullptr with *error
  // set (see PacketDevice::open).
  static std::unique_ptr<Stack> start(const StackOptions& options, int* error);
  // Stops the thread and closes every descriptor the stack handed out.
  ~Stack();
  Stack(const Stack&) = delete;
  Stack& operator=(const Stack&) = delete;

  int socket(SocketKind kind);
  // See Interface::bind().
  int bind(int fd, uint16_t port);
  int getsockname(int fd, Address* out);
  // Opens an SPX connection (binding first if needed). Blocking: waits for
  // the answer, at most the open's 4 s (10060). Non-blocking: 10035, and
  // the descriptor hangs up when the open ends (see socket_error()).
  int connect(int fd, const Address& to);
  int listen(int fd, int backlog);
  // A descriptor for a connection that has come in; 10035 when none waits
  // on a non-blocking listener (a blocking one waits).
  int accept(int fd);
  // Sends one datagram (binding first if needed); node FF..FF broadcasts.
  // 10040 when it does not fit in a frame.
  int sendto(int fd, const void* data, int len, const Address& to);
  // Non-blocking mode of the descriptor, kept across the open of an SPX
  // connection.
  int set_nonblocking(int fd, bool on);
  // Why an SPX open or connection ended (10060, 10054), else 0.
  int socket_error(int fd);
  // Closes the descriptor; an SPX connection ends in order after what was
  // written to it.
  int close(int fd);
  bool owns(int fd);

  // Receives one datagram from a datagram descriptor of a stack: the data
  // and its source. 10040 when it does not fit in `len`.
  static int recvfrom(int fd, void* data, int len, Address* from);

  NetworkNumber network();
  Mac node() const { return node_; }
  // Makes the wire lossy both ways (see FaultDevice).
  void set_loss(int drop_percent, int reorder_percent);

 private:
  struct Socket {
    Interface::Handle handle = 0;
    SocketKind kind = SocketKind::kDatagram;
    bool nonblocking = false;
    int stack_end = -1;   // datagram sockets: our end of the pair
    int pipe_write = -1;  // SPX before its open: the placeholder's other end
    bool connecting = false;
    size_t announced = 0;  // listener: connections signalled on the pipe
    int error = 0;
  };

  explicit Stack(std::unique_ptr<PacketDevice> device,
                 const InterfaceConfig& config);
  void run();
  void poll_once(std::unique_lock<std::mutex>& lock);
  void update(int64_t now);
  void established(Socket& s, int fd, int64_t now);
  void wake();
  int64_t now_ms() const;
  Socket* find(int fd);

  std::mutex mu_;
  std::condition_variable cv_;
  std::thread thread_;
  bool stopping_ = false;
  int wake_fd_ = -1;
  const int64_t epoch_ms_;
  std::unique_ptr<PacketDevice> device_;
  FaultDevice fault_;
  Interface iface_;
  const Mac node_;
  std::map<int, Socket> sockets_;
  std::map<Interface::Handle, Bridge> bridges_;
};

}  // namespace ipx

#endif  // TAV_IPX_HOST_STACK_H_

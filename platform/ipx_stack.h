// A user-space IPX/SPX stack on one Ethernet interface (AF_PACKET, which
// needs CAP_NET_RAW). One thread owns the raw sockets, the timers and the
// SPX connections; the program gets an ordinary descriptor per IPX or SPX
// socket, so poll(), recv() and send() work on it unchanged:
// - an IPX datagram socket is one end of an AF_UNIX datagram pair; each
//   datagram read from it is the 14-byte source address (family 6, network,
//   node, socket in network order) followed by the data: recvfrom() below
//   splits it. Datagrams are sent with sendto() below.
// - an SPX socket is, until its open is answered, the read end of a pipe
//   (never writable; readable on a listener when a connection waits, and
//   hung up when an open ends); once connected it is one end of an AF_UNIX
//   stream pair carrying the byte stream. A received end of connection
//   reads as the end of the stream; a broken connection too, with
//   socket_error() telling why.
//
// Frames: all four types are received; a peer is answered in the type it
// last used; broadcasts go out in each type of the stack's set (from
// TAV_IPX_FRAMES by default). A datagram that a node sends in several frame
// types (an answer to such broadcasts) is delivered once. The network
// number is 0 until learned from the LAN: the source network of a packet
// from another node with transport control 0, or an IPX RIP answer (the
// stack asks with a RIP request when it starts).
//
// Packets to other networks go straight to the node (no routing through
// IPX routers).
//
// Every call returns a count or descriptor (>= 0) on success, or a negative
// Winsock error number. Safe for concurrent use.
#ifndef TAV_PLATFORM_IPX_STACK_H_
#define TAV_PLATFORM_IPX_STACK_H_

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipx_wire.h"
#include "platform/net.h"
#include "platform/spx_connection.h"

namespace ipx {

struct StackOptions {
  // Empty: the interface that holds the host's own address.
  std::string interface;
  // Frame types of broadcasts (and of unicasts to a node not yet heard);
  // 0: those of TAV_IPX_FRAMES, all four when it is unset or unreadable.
  FrameTypes broadcast_types = 0;
  // Non-zero: the network number, known from the start.
  NetworkNumber network{};
  // Non-zero: the node number the stack answers to and sends from instead
  // of the interface's own MAC (the simulator plays several units on one
  // interface); the interface is then put in promiscuous mode.
  Mac node{};
  // Frame types taken in; 0: all four. A unit set to one frame type hears
  // no other.
  FrameTypes receive_types = 0;
  // A lossy wire, for tests (see set_loss()).
  int drop_percent = 0;
  int reorder_percent = 0;
  spx::Timing timing;
  spx::Limits limits;
};

class Stack {
 public:
  // Opens the interface and starts the stack thread; nullptr with *error
  // set (10049 no such interface, 10013 or 10001 without CAP_NET_RAW).
  static std::unique_ptr<Stack> start(const StackOptions& options, int* error);
  // Stops the thread and closes every descriptor the stack handed out.
  ~Stack();
  Stack(const Stack&) = delete;
  Stack& operator=(const Stack&) = delete;

  // net::SOCK_DGRAM_ for IPX, net::SOCK_STREAM_ for SPX: a descriptor.
  int socket(int type);
  // Socket 0 takes a free one from 0x4010..0x7FFF; one in use is 10048;
  // binding twice is 10022.
  int bind(int fd, const net::SockAddrIpx& addr);
  // The network known now, this node and the bound socket; 10022 unbound.
  int getsockname(int fd, net::SockAddrIpx* addr);
  // Opens an SPX connection (binding first if needed). Blocking: waits for
  // the answer, at most the open's 4 s (10060). Non-blocking: 10035, and
  // the descriptor hangs up when the open ends (see socket_error()).
  int connect(int fd, const net::SockAddrIpx& to);
  int listen(int fd, int backlog);
  // A descriptor for a connection that has come in; 10035 when none waits
  // on a non-blocking listener (a blocking one waits).
  int accept(int fd);
  // Sends one datagram (binding first if needed); node FF..FF broadcasts.
  // 10040 when it does not fit in a frame.
  int sendto(int fd, const void* data, int len, const net::SockAddrIpx& to);
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
  static int recvfrom(int fd, void* data, int len, net::SockAddrIpx* from);

  NetworkNumber network();
  Mac node() const { return mac_; }
  // Makes the wire lossy both ways: this share of the frames sent and
  // received is dropped, and this share is held back and passed on after
  // the next one (100: the node vanishes from the LAN).
  void set_loss(int drop_percent, int reorder_percent);

 private:
  struct Socket;
  struct Conn;

  Stack() = default;
  void run();
  void poll_once(std::unique_lock<std::mutex>& lock);
  void receive_frames(int raw);
  void release_held_in();
  void handle_frame(const Frame& f, int64_t now);
  void handle_spx(const Frame& f, int64_t now);
  void deliver_datagram(const Frame& f, int64_t now);
  void service(Conn& c, bool readable, bool writable, int64_t now);
  void flush(Conn& c);
  void established(Conn& c);
  bool retire(Conn& c);
  void transmit(const std::vector<uint8_t>& frame, const Mac& to);
  bool chance(int percent);
  void send_packet(const Address& to, uint8_t packet_type, uint16_t from_port,
                   std::span<const uint8_t> data, const FrameType* type);
  FrameType type_for(const Mac& node);
  uint16_t free_port();
  uint16_t free_conn_id();
  int bind_locked(Socket& s, uint16_t port);
  void wake();
  int64_t now_ms() const;
  Socket* find(int fd);

  std::mutex mu_;
  std::condition_variable cv_;
  std::thread thread_;
  bool stopping_ = false;
  int raw_[3] = {-1, -1, -1};
  int wake_fd_ = -1;
  int ifindex_ = 0;
  Mac mac_{};
  NetworkNumber network_{};
  FrameTypes broadcast_types_ = kAllFrameTypes;
  FrameTypes receive_types_ = kAllFrameTypes;
  spx::Timing timing_;
  spx::Limits limits_;
  std::map<int, Socket> sockets_;
  std::map<uint16_t, std::unique_ptr<Conn>> conns_;
  std::map<Mac, FrameType> peer_types_;
  struct Recent;
  std::vector<Recent> recent_;
  size_t recent_next_ = 0;
  uint16_t next_port_ = 0x4010;
  uint16_t next_conn_id_ = 1;
  int64_t epoch_ms_ = 0;
  int drop_percent_ = 0;
  int reorder_percent_ = 0;
  uint32_t random_ = 0x2545F491;
  std::vector<uint8_t> held_out_, held_in_;
  Mac held_to_{};
};

}  // namespace ipx

#endif  // TAV_PLATFORM_IPX_STACK_H_

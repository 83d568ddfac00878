// The IPX interface on one wire: the socket table, frame demultiplexing,
// the frame type of each peer, the network number, the SPX connections
// and the listeners' backlogs. No descriptor, thread or clock inside: the
// owner hands it the time and a device in poll(), and asks next_deadline()
// when to call again.
//
// Frames and networks: all four types are taken in (those of
// `receive_types`), and each frame type on the wire is an IPX network of its
// own, its number learnt on its own (0 until then): the source network of a
// packet in that type from another node with transport control 0, or an IPX
// RIP answer in that type (asked for at the start). A packet carries the
// network of its frame type as source; a broadcast goes out in each type of
// `broadcast_types`, to that type's network. A local node (of one of our
// networks) is answered in the type of that network, else in the type it
// last used; a node not yet heard is sent to in every broadcast type at once
// (an SPX open keeps the type that answers). A datagram that a node sends in
// several frame types within 2 s (its answer to such broadcasts, under one
// network number per type) is delivered once.
//
// Routing, as an IPX workstation does it: a packet for another network goes
// to the MAC of a router, in the router's frame type. Routes come from RIP
// answers and broadcasts (fewest ticks, then hops; 16 hops: unreachable)
// and from packets that routers passed on (transport control above 0: their
// source MAC and type, taking over the route); a route not heard for 3
// minutes is dropped, and so is one whose router does not answer within 1 s
// the RIP request sent when a connection through it resends a second round
// (then the next best answer is taken). A packet
// for a network with no route is dropped and a RIP request for it is
// broadcast (once per 0.5 s, the SPX open's retry, which then gets through).
// While none of our networks is known, every network is taken for ours.
//
// Calls return 0 or a count on success, or a negative error number (the
// Winsock numbers below). External synchronization required.
#ifndef TAV_IPX_IFACE_INTERFACE_H_
#define TAV_IPX_IFACE_INTERFACE_H_

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "ipx/device/device.h"
#include "ipx/iface/repeat_filter.h"
#include "ipx/spx/connection.h"
#include "ipx/wire/frame.h"

namespace ipx {

inline constexpr int kWouldBlock = 10035;
inline constexpr int kNotSocket = 10038;
inline constexpr int kMessageSize = 10040;
inline constexpr int kInvalid = 10022;
inline constexpr int kAddressInUse = 10048;
inline constexpr int kAddressNotAvailable = 10049;
inline constexpr int kNoBuffers = 10055;
inline constexpr int kAlreadyConnected = 10056;

// Dynamic sockets. The first sixteen of the 0x4000 range are left alone:
// NetWare shells and peers use some of them as well-known sockets (messages
// at 0x4001 and 0x4003, directory service at 0x4006, printers at 0x400C).
inline constexpr uint16_t kFirstDynamic = 0x4010;
inline constexpr uint16_t kLastDynamic = 0x7FFF;
// Datagrams kept for a socket whose owner has not taken them.
inline constexpr size_t kDatagramQueue = 64;

enum class SocketKind { kDatagram, kStream };

struct InterfaceConfig {
  Mac node{};               // the node number it answers to and sends from
  NetworkNumber network{};  // non-zero: known from the start
  // Non-zero entries: the network of that frame type, known from the start
  // (a node bound to several frame types, each its own network).
  std::array<NetworkNumber, kFrameTypeCount> type_networks{};
  FrameTypes broadcast_types = kAllFrameTypes;
  FrameTypes receive_types = kAllFrameTypes;
  spx::Timing timing{};
  spx::Limits limits{};
  uint16_t first_connection_id = 1;
};

struct Datagram {
  Address source;
  std::vector<uint8_t> data;
};

class Interface {
 public:
  using Handle = int;  // > 0

  explicit Interface(const InterfaceConfig& config);

  Handle open(SocketKind kind);
  // Port 0 takes a free one of 0x4010..0x7FFF; one in use is 10048,
  // binding twice 10022.
  int bind(Handle h, uint16_t port);
  // network(), this node and the bound socket; 10022 unbound.
  int local_address(Handle h, Address* out) const;
  // Queues one datagram (binding first if needed); node FF..FF broadcasts.
  // 10040 when it does not fit in a frame.
  int sendto(Handle h, std::span<const uint8_t> data, const Address& to);
  // The oldest datagram received on a datagram socket, if any.
  bool receive(Handle h, Datagram* out);
  // Starts an SPX open (binding first if needed): 0, or 10056 when one was
  // started before, 10049 for node 0 or FF..FF.
  int connect(Handle h, const Address& to, int64_t now);
  int listen(Handle h, int backlog);
  bool listening(Handle h) const;
  // Connections come in and not yet taken by accept().
  size_t waiting(Handle listener) const;
  // A connection that came in, as a socket of its own; 0 when none waits.
  Handle accept(Handle listener);
  // The connection of a stream socket, nullptr before connect() or after
  // close(). Calls on it are sent at the next poll().
  spx::Connection* connection(Handle h);
  // Closes the socket: a connection ends in order (after what was written
  // to it) and is dropped once ended; so do those waiting on a listener.
  int close(Handle h, int64_t now);
  bool exists(Handle h) const { return sockets_.count(h) != 0; }

  // Takes the frames that wait on `device`, runs the timers due at `now`
  // and sends what the sockets have for the wire.
  void poll(int64_t now, Device& device);
  // When poll() has something to do next (0 when something waits to be
  // sent), or spx::kNever.
  int64_t next_deadline() const;

  // Our network: that of the frame type in which a program's socket first
  // got a packet from another node (a datagram it was given, or one of its
  // connection's packets) with that type's network known, the first unit
  // that answered; until then that of the type first learnt (or given); 0
  // while none is.
  NetworkNumber network() const;
  NetworkNumber network(FrameType t) const {
    return networks_[static_cast<int>(t)];
  }
  // The router that packets for `network` go through, if a route is known.
  bool route(const NetworkNumber& network, Mac* router) const;
  const Mac& node() const { return config_.node; }

 private:
  struct Socket {
    SocketKind kind = SocketKind::kDatagram;
    uint16_t port = 0;  // 0 until bound
    bool listening = false;
    bool accepted = false;  // shares the listener's socket number
    size_t backlog = 0;
    std::deque<Handle> ready;
    uint16_t connection_id = 0;
    std::deque<Datagram> datagrams;
  };
  struct Conn {
    Conn(uint16_t id, const spx::Timing& t, const spx::Limits& l)
        : machine(id, t, l) {}
    spx::Connection machine;
    Address peer;
    uint16_t port = 0;
    bool released = false;  // its socket is closed: drop it once ended
  };

  Socket* find(Handle h);
  const Socket* find(Handle h) const;
  Conn* conn_of(Handle h);
  uint16_t free_port() const;
  uint16_t free_connection_id();
  void release(Handle h, int64_t now);
  void handle_frame(const Frame& f, int64_t now);
  void learn(const Frame& f, int64_t now);
  void learn_routes(const Frame& f, int64_t now);
  bool local(const NetworkNumber& n) const;
  void handle_spx(const Frame& f, int64_t now);
  void deliver_datagram(const Frame& f, int64_t now);
  void flush(Conn& c);
  void send_packet(const Address& to, uint8_t packet_type, uint16_t from_port,
                   std::span<const uint8_t> data);
  // Where a packet to `to` goes: the MAC and the frame types to send it in
  // (none: no route yet, asked for).
  FrameTypes destination_of(const Address& to, Mac* mac);
  // Sends a RIP request for `network` unless one went out within 0.5 s.
  bool ask_route(const NetworkNumber& network);
  // A connection to `peer` goes unanswered: its router is asked again.
  void doubt_route(const Address& peer);

  struct Route {
    Mac router{};
    FrameType type = FrameType::kEthernetII;
    uint16_t hops = 0, ticks = 0;
    int64_t heard = 0;
    int64_t answer_by = 0;  // asked again: dropped unless answered by then
  };

  InterfaceConfig config_;
  std::map<Handle, Socket> sockets_;
  std::map<uint16_t, std::unique_ptr<Conn>> conns_;
  std::array<NetworkNumber, kFrameTypeCount> networks_{};
  int first_learnt_ = -1;  // the frame type of the first network known
  int answered_ = -1;      // the frame type of network(), once answered
  void answered(FrameType t);
  std::map<Mac, FrameType> peer_types_;
  std::map<NetworkNumber, Route> routes_;
  std::map<NetworkNumber, int64_t> asked_;  // RIP requests sent, when
  int64_t now_ = 0;
  RepeatFilter repeats_;
  std::deque<std::vector<uint8_t>> to_send_;
  Handle next_handle_ = 1;
  mutable uint16_t next_port_ = kFirstDynamic;
  uint16_t next_connection_id_ = 1;
};

}  // namespace ipx

#endif  // TAV_IPX_IFACE_INTERFACE_H_

// One SPX connection as a pure state machine: packets, time and calls go
// in; packets to send and a state come out. No socket, clock or thread
// inside, so loss, duplicates, reordering, a full window and a silent peer
// are all table tests.
//
// The rules (sequence numbers are 16 bits and wrap):
// - Open: the client sends a system packet with "send acknowledgement",
//   destination id FFFF, sequence 0, ack 0 and its allocation, every 0.5 s;
//   unanswered after 8 tries (4 s) the open fails with 10060. The listener
//   answers with a system packet carrying its own id.
// - Data: a packet takes the next sequence number and is sent only while it
//   is not past the peer's allocation and fewer than `window` packets wait
//   for their ack. Every data packet asks for an acknowledgement; the
//   receiver acks it, acks and drops duplicates, and drops a packet out of
//   order answering at once with an ack of what it has. Two such repeated
//   acks make the sender resend from the gap without waiting for its timer.
// - Retransmission: after a time from the measured round trip (at least
//   rto_min, at most rto_first_max for the first try), doubling up to
//   rto_max; the 8th round without progress breaks the connection (10054).
//   Karn's rule: a resent packet gives no round-trip sample, and until a
//   round trip is measured the doubling holds until a packet sent after
//   the resends is acknowledged (then any progress resets it). A shut window
//   is probed on the same backed-off times; after close(), a window still
//   shut after 8 probes gives up what is queued (10054).
// - Allocations: only those from one below the peer's last acknowledgement
//   to 0x7FFF beyond it are taken; others are corrupt or forged. The ack
//   that reopens our shut window is repeated, backed off, until data comes
//   (8 times at most).
// - Watchdog: after 6 s without a packet from the peer a system packet with
//   "send acknowledgement" goes out (again every 6 s); after 30 s the
//   connection is broken (10054). The peer's watchdogs are answered.
// - Close: close() sends, after the data written before it, a data packet of
//   datastream type FE; its acknowledgement (the peer's FF) ends the
//   connection. A received FE ends the reading side, is answered with FF,
//   and the connection lingers to answer a repeated FE, then ends; what
//   reaches it while it lingers moves no timer. Data of ours the peer had
//   not taken when its FE came is lost: the connection then ends broken
//   (10054).
//
// Memory is bounded: `send_bytes` of data not yet sent, `window` packets
// waiting for acks, `receive_packets` full packets of received data.
// External synchronization required.
#ifndef TAV_IPX_SPX_CONNECTION_H_
#define TAV_IPX_SPX_CONNECTION_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <span>

#include "ipx/wire/spx.h"

namespace spx {

inline constexpr int kTimedOut = 10060;         // WSAETIMEDOUT
inline constexpr int kConnectionReset = 10054;  // WSAECONNRESET
inline constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

struct Timing {  // milliseconds
  int64_t connect_retry = 500;
  int connect_tries = 8;
  int64_t rto_min = 100;
  int64_t rto_first_max = 250;
  int64_t rto_max = 2000;
  int max_tries = 8;
  int64_t watchdog_idle = 6000;
  int64_t watchdog_dead = 30000;
  int64_t linger = 2000;
};

struct Limits {
  size_t send_bytes = 16 * 1024;
  size_t window = 32;
  size_t receive_packets = 32;
};

enum class State {
  kIdle,         // neither opened nor accepted
  kConnecting,   // request sent, no answer yet
  kEstablished,  // data flows both ways
  kClosing,      // our FE sent, waiting for its acknowledgement
  kLinger,       // the peer's FE answered; repeats are answered again
  kClosed,       // ended in order
  kBroken,       // ended by time-out or silence: see error()
};

struct Packet {
  ipx::SpxHeader header;
  uint16_t size = 0;
  std::array<uint8_t, ipx::kSpxMaxData> data{};
  std::span<const uint8_t> bytes() const { return {data.data(), size}; }
};

class Connection {
 public:
  explicit Connection(uint16_t local_id, const Timing& timing = {},
                      const Limits& limits = {});

  // Client: starts the open. REQUIRES: state() is kIdle.
  void open(int64_t now);
  // Listener: takes a connection request and answers it at once.
  // REQUIRES: state() is kIdle and `request` has destination id FFFF.
  void accept(const ipx::SpxHeader& request, int64_t now);
  // A packet from the peer (routed here by its destination id or, for a
  // repeated request, by its source).
  void receive(const ipx::SpxHeader& h, std::span<const uint8_t> data,
               int64_t now);
  // Takes up to writable() bytes to send; returns how many it took (0 unless
  // established and not closing).
  size_t write(std::span<const uint8_t> data, int64_t now);
  // Moves received bytes out; returns how many.
  size_t read(std::span<uint8_t> out, int64_t now);
  // Ends the connection after what was written before (FE). Idempotent.
  void close(int64_t now);
  // Runs the timers due at `now`.
  void tick(int64_t now);
  // When tick() has something to do next, or kNever.
  int64_t next_deadline() const;

  // Packets to send, oldest first; the caller sends and pops them.
  std::deque<Packet>& outbox() { return outbox_; }

  State state() const { return state_; }
  // 10060 for an open that was never answered, 10054 for a broken
  // connection (also while lingering when our data was lost), else 0.
  int error() const { return error_; }
  bool finished() const {
    return state_ == State::kClosed || state_ == State::kBroken;
  }
  // The peer sent FE (or the connection ended) and every byte before it has
  // been read.
  bool at_end() const;
  size_t readable() const { return received_.size(); }
  size_t writable() const;
  // Timer rounds gone unanswered: repeats of the open, or of data since the
  // last progress.
  int unanswered() const {
    return state_ == State::kConnecting ? connect_tries_ - 1 : tries_;
  }
  uint16_t local_id() const { return local_id_; }
  uint16_t peer_id() const { return peer_id_; }

 private:
  struct Unacked {
    Packet packet;
    int64_t sent_at = 0;
    int sends = 0;
  };

  uint16_t allocation() const;
  Packet system_packet(uint8_t control, uint8_t datastream);
  void send_ack();
  void send_system(uint8_t control, uint8_t datastream);
  void pump(int64_t now);
  void transmit(Unacked& u, int64_t now);
  void resend_all(int64_t now);
  void take_ack(uint16_t ack, uint16_t allocation, bool system, int64_t now);
  void receive_data(const ipx::SpxHeader& h, std::span<const uint8_t> data,
                    int64_t now);
  void established(int64_t now);
  void end(State s, int error);
  int64_t rto(int doublings) const;

  const Timing timing_;
  const Limits limits_;
  const uint16_t local_id_;
  uint16_t peer_id_ = ipx::kSpxUnknownId;
  State state_ = State::kIdle;
  int error_ = 0;

  // Sending.
  std::deque<uint8_t> pending_;
  std::deque<Unacked> unacked_;
  uint16_t next_seq_ = 0;
  uint16_t peer_allocation_ = 0;
  bool close_requested_ = false;
  bool end_sent_ = false;
  uint16_t repeated_acks_ = 0;
  int64_t retransmit_at_ = kNever;
  int64_t probe_at_ = kNever;
  uint16_t acknowledged_ = 0;  // the peer's last acknowledgement
  int tries_ = 0;              // timer rounds without progress
  int backoff_ = 0;            // doublings, kept until a fresh sample
  int probes_ = 0;             // shut-window probes, backed off alike
  bool recovering_ = false;    // resent up to recover_: repeats are no news
  uint16_t recover_ = 0;
  int64_t srtt_ = -1;
  int64_t rttvar_ = 0;

  // Receiving.
  std::deque<uint8_t> received_;
  uint16_t next_expected_ = 0;
  uint16_t advertised_ = 0;
  int64_t reopen_at_ = kNever;  // repeat the ack that reopened our window
  int reopens_ = 0;
  bool peer_ended_ = false;

  // Timers of the open, the watchdog and the linger.
  int connect_tries_ = 0;
  int64_t connect_at_ = kNever;
  int64_t last_heard_ = 0;
  int64_t watchdog_at_ = kNever;
  int64_t linger_until_ = kNever;

  std::deque<Packet> outbox_;
};

}  // namespace spx

#endif  // TAV_IPX_SPX_CONNECTION_H_

#include "ipx/spx/connection.h"

#include <algorithm>

namespace spx {
namespace {

using ipx::kSpxEndOfConnection;
using ipx::kSpxEndOfConnectionAck;
using ipx::kSpxEndOfMessage;
using ipx::kSpxMaxData;
using ipx::kSpxSendAck;
using ipx::kSpxSystem;

// Wrapping order of 16-bit sequence numbers.
bool before(uint16_t a, uint16_t b) { return static_cast<int16_t>(a - b) < 0; }

// An allocation the peer can mean: from one below its last acknowledgement
// (a shut window) to 0x7FFF beyond it. Anything else is corrupt or forged,
// and taking it would make every later, real allocation look older.
bool meant(uint16_t allocation, uint16_t acknowledged) {
  return static_cast<uint16_t>(allocation + 1 - acknowledged) <= 0x7FFF;
}

}  // namespace

Connection::Connection(uint16_t local_id, const Timing& timing,
                       const Limits& limits)
    : timing_(timing), limits_(limits), local_id_(local_id) {}

uint16_t Connection::allocation() const {
  size_t capacity = limits_.receive_packets * kSpxMaxData;
  size_t room = received_.size() < capacity
                    ? (capacity - received_.size()) / kSpxMaxData
                    : 0;
  auto alloc = static_cast<uint16_t>(next_expected_ + room - 1);
  // Never take back what was offered.
  return before(alloc, advertised_) ? advertised_ : alloc;
}

size_t Connection::writable() const {
  if (state_ != State::kEstablished || close_requested_) return 0;
  return limits_.send_bytes - std::min(limits_.send_bytes, pending_.size());
}

bool Connection::at_end() const {
  return received_.empty() && (peer_ended_ || finished());
}

int64_t Connection::rto(int doublings) const {
  int64_t base = srtt_ < 0 ? timing_.rto_min : srtt_ + 4 * rttvar_;
  base = std::clamp(base, timing_.rto_min, timing_.rto_first_max);
  for (int i = 0; i < doublings && base < timing_.rto_max; ++i) base *= 2;
  return std::min(base, std::max(timing_.rto_max, timing_.rto_first_max));
}

Packet Connection::system_packet(uint8_t control, uint8_t datastream) {
  Packet p;
  p.header = {static_cast<uint8_t>(kSpxSystem | control),
              datastream,
              local_id_,
              peer_id_,
              next_seq_,
              next_expected_,
              allocation()};
  advertised_ = p.header.allocation;
  return p;
}

void Connection::send_system(uint8_t control, uint8_t datastream) {
  outbox_.push_back(system_packet(control, datastream));
}

void Connection::send_ack() { send_system(0, 0); }

void Connection::open(int64_t now) {
  state_ = State::kConnecting;
  connect_tries_ = 1;
  connect_at_ = now + timing_.connect_retry;
  last_heard_ = now;
  send_system(kSpxSendAck, 0);
}

void Connection::accept(const ipx::SpxHeader& request, int64_t now) {
  peer_id_ = request.source_id;
  if (meant(request.allocation, 0)) peer_allocation_ = request.allocation;
  established(now);
  send_ack();
}

void Connection::established(int64_t now) {
  state_ = State::kEstablished;
  connect_at_ = kNever;
  last_heard_ = now;
  watchdog_at_ = now + timing_.watchdog_idle;
}

void Connection::end(State s, int error) {
  state_ = s;
  error_ = error;
  pending_.clear();
  unacked_.clear();
  retransmit_at_ = probe_at_ = connect_at_ = watchdog_at_ = reopen_at_ = kNever;
  if (s != State::kLinger) linger_until_ = kNever;
}

void Connection::transmit(Unacked& u, int64_t now) {
  // A resent packet carries what we know now.
  u.packet.header.acknowledge = next_expected_;
  u.packet.header.allocation = allocation();
  advertised_ = u.packet.header.allocation;
  u.sent_at = now;
  ++u.sends;
  outbox_.push_back(u.packet);
}

void Connection::resend_all(int64_t now) {
  for (Unacked& u : unacked_) transmit(u, now);
  retransmit_at_ = now + rto(backoff_);
  // Copies resent needlessly come back as repeated acks of the first
  // packet after them: those tell of no gap until that one is acknowledged.
  recovering_ = true;
  recover_ = next_seq_;
}

void Connection::pump(int64_t now) {
  if (state_ != State::kEstablished && state_ != State::kClosing) return;
  while (unacked_.size() < limits_.window &&
         !before(peer_allocation_, next_seq_)) {
    Unacked u;
    Packet& p = u.packet;
    if (!pending_.empty()) {
      p.size = static_cast<uint16_t>(std::min(pending_.size(), kSpxMaxData));
      std::copy_n(pending_.begin(), p.size, p.data.begin());
      pending_.erase(pending_.begin(), pending_.begin() + p.size);
      p.header.connection_control =
          kSpxSendAck | (pending_.empty() ? kSpxEndOfMessage : 0);
      p.header.datastream_type = 0;
    } else if (close_requested_ && !end_sent_) {
      p.header.connection_control = kSpxSendAck | kSpxEndOfMessage;
      p.header.datastream_type = kSpxEndOfConnection;
      end_sent_ = true;
      state_ = State::kClosing;
    } else {
      break;
    }
    p.header.source_id = local_id_;
    p.header.destination_id = peer_id_;
    p.header.sequence = next_seq_++;
    if (unacked_.empty()) retransmit_at_ = now + rto(backoff_);
    unacked_.push_back(u);
    transmit(unacked_.back(), now);
  }
  bool waiting = !pending_.empty() || (close_requested_ && !end_sent_);
  if (!waiting || !unacked_.empty()) {
    probe_at_ = kNever;
    probes_ = 0;
  } else if (probe_at_ == kNever) {
    probe_at_ = now + rto(0);  // the window is shut: ask for news of it
  }
}

void Connection::take_ack(uint16_t ack, uint16_t allocation, bool system,
                          int64_t now) {
  // Only a system packet that repeats the ack and the window tells of a
  // gap: data packets carry the ack too, and a window update is news.
  if (before(next_seq_, ack) || before(ack, acknowledged_))
    return;  // acks what was never sent, or a late, older ack
  bool window_moved =
      meant(allocation, ack) && before(peer_allocation_, allocation);
  if (window_moved) peer_allocation_ = allocation;
  acknowledged_ = ack;
  bool advanced = false;
  while (!unacked_.empty() &&
         before(unacked_.front().packet.header.sequence, ack)) {
    const Unacked& u = unacked_.front();
    if (u.sends == 1) {  // Karn: a resent packet gives no sample
      int64_t sample = now - u.sent_at;
      if (srtt_ < 0) {
        srtt_ = sample;
        rttvar_ = sample / 2;
      } else {
        rttvar_ = (3 * rttvar_ + std::abs(srtt_ - sample)) / 4;
        srtt_ = (7 * srtt_ + sample) / 8;
      }
    }
    unacked_.pop_front();
    advanced = true;
  }
  if (recovering_ && before(recover_, ack)) recovering_ = false;
  if (advanced) {
    tries_ = 0;
    // Karn: until a round trip is measured, the back-off holds (else a
    // slow peer gets every packet twice and no sample ever forms); then the
    // measured time is the base again.
    if (srtt_ >= 0 || !recovering_) backoff_ = 0;
    repeated_acks_ = 0;
    retransmit_at_ = unacked_.empty() ? kNever : now + rto(backoff_);
    if (end_sent_ && unacked_.empty()) end(State::kClosed, 0);
  } else if (system && !(recovering_ && ack == recover_) && !unacked_.empty() &&
             !window_moved && ++repeated_acks_ == 2) {
    resend_all(now);  // the peer told us of a gap
  }
}

void Connection::receive(const ipx::SpxHeader& h, std::span<const uint8_t> data,
                         int64_t now) {
  if (state_ == State::kIdle || finished()) return;
  if (state_ == State::kConnecting) {
    if (h.destination_id != local_id_ || h.source_id == ipx::kSpxUnknownId)
      return;
    peer_id_ = h.source_id;
    if (meant(h.allocation, 0)) peer_allocation_ = h.allocation;
    established(now);
  }
  if (h.source_id != peer_id_) return;
  if (state_ == State::kLinger) {
    // Answered, and nothing more: no timer may outlive the linger.
    if (h.datastream_type == kSpxEndOfConnection)
      send_system(0, kSpxEndOfConnectionAck);
    return;
  }
  last_heard_ = now;
  watchdog_at_ = now + timing_.watchdog_idle;
  bool system = (h.connection_control & kSpxSystem) != 0;
  // A request repeated because our answer was lost carries no ack.
  if (h.destination_id != ipx::kSpxUnknownId)
    take_ack(h.acknowledge, h.allocation, system, now);
  if (finished()) return;
  if (system) {
    if (h.connection_control & kSpxSendAck) send_ack();
  } else {
    receive_data(h, data, now);
  }
  pump(now);
}

void Connection::receive_data(const ipx::SpxHeader& h,
                              std::span<const uint8_t> data, int64_t now) {
  if (h.sequence != next_expected_) {
    send_ack();  // a duplicate, or a gap the sender should learn of now
    return;
  }
  if (h.datastream_type == kSpxEndOfConnection) {
    ++next_expected_;
    peer_ended_ = true;
    send_system(0, kSpxEndOfConnectionAck);
    // What we wrote and the peer never took is lost with the connection:
    // say so rather than end as if it had all arrived.
    bool lost = !pending_.empty() ||
                std::any_of(unacked_.begin(), unacked_.end(), [](auto& u) {
                  return u.packet.header.datastream_type != kSpxEndOfConnection;
                });
    end(State::kLinger, lost ? kConnectionReset : 0);
    linger_until_ = now + timing_.linger;
    return;
  }
  size_t capacity = limits_.receive_packets * kSpxMaxData;
  if (data.size() > kSpxMaxData || received_.size() + data.size() > capacity) {
    send_ack();  // no room: the sender keeps it for later
    return;
  }
  received_.insert(received_.end(), data.begin(), data.end());
  ++next_expected_;
  reopen_at_ = kNever;  // the reopened window was heard of
  if (h.connection_control & kSpxSendAck) send_ack();
}

size_t Connection::write(std::span<const uint8_t> data, int64_t now) {
  size_t n = std::min(data.size(), writable());
  pending_.insert(pending_.end(), data.begin(), data.begin() + n);
  pump(now);
  return n;
}

size_t Connection::read(std::span<uint8_t> out, int64_t now) {
  (void)now;
  size_t n = std::min(out.size(), received_.size());
  std::copy_n(received_.begin(), n, out.begin());
  received_.erase(received_.begin(), received_.begin() + n);
  if (n > 0 && state_ != State::kLinger && !finished()) {
    // Tell a peer that waits on a shut window, or when half of it opened.
    uint16_t shut = static_cast<uint16_t>(next_expected_ - 1);
    uint16_t now_alloc = allocation();
    bool reopens = advertised_ == shut && now_alloc != shut;
    if (reopens || static_cast<uint16_t>(now_alloc - advertised_) >=
                       limits_.receive_packets / 2)
      send_ack();
    // A lost reopening ack would leave the peer waiting for its watchdog:
    // repeat it, backed off, until data comes.
    if (reopens) {
      reopens_ = 0;
      reopen_at_ = now + rto(0);
    }
  }
  return n;
}

void Connection::close(int64_t now) {
  if (state_ == State::kConnecting || state_ == State::kIdle) {
    end(State::kClosed, 0);
    return;
  }
  if (state_ != State::kEstablished || close_requested_) return;
  close_requested_ = true;
  pump(now);
}

void Connection::tick(int64_t now) {
  if (now >= linger_until_) {
    linger_until_ = kNever;
    if (state_ == State::kLinger)
      end(error_ != 0 ? State::kBroken : State::kClosed, error_);
  }
  if (now >= connect_at_) {
    if (connect_tries_ >= timing_.connect_tries) {
      end(State::kBroken, kTimedOut);
      return;
    }
    ++connect_tries_;
    connect_at_ = now + timing_.connect_retry;
    send_system(kSpxSendAck, 0);
  }
  if (state_ != State::kEstablished && state_ != State::kClosing) return;
  if (now - last_heard_ >= timing_.watchdog_dead) {
    end(State::kBroken, kConnectionReset);
    return;
  }
  if (now >= retransmit_at_ && !unacked_.empty()) {
    // Tries count the timer's rounds without progress: repeats sent on the
    // peer's word that a packet is missing show that it is alive.
    if (++tries_ >= timing_.max_tries) {
      end(State::kBroken, kConnectionReset);
      return;
    }
    backoff_ = std::min(backoff_ + 1, timing_.max_tries);
    repeated_acks_ = 0;
    resend_all(now);
  }
  if (now >= probe_at_) {
    // A window that stays shut after our close gives up what is queued:
    // nobody waits to write more.
    if (close_requested_ && probes_ >= timing_.max_tries) {
      end(State::kBroken, kConnectionReset);
      return;
    }
    send_system(kSpxSendAck, 0);
    probes_ = std::min(probes_ + 1, timing_.max_tries);
    probe_at_ = now + rto(probes_);
  }
  if (now >= reopen_at_) {
    send_ack();
    reopen_at_ = ++reopens_ < timing_.max_tries ? now + rto(reopens_) : kNever;
  }
  if (now >= watchdog_at_) {
    send_system(kSpxSendAck, 0);
    watchdog_at_ = now + timing_.watchdog_idle;
  }
}

int64_t Connection::next_deadline() const {
  int64_t dead = state_ == State::kEstablished || state_ == State::kClosing
                     ? last_heard_ + timing_.watchdog_dead
                     : kNever;
  return std::min({connect_at_, retransmit_at_, probe_at_, watchdog_at_,
                   reopen_at_, linger_until_, dead});
}

}  // namespace spx

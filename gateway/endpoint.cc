#include "gateway/endpoint.h"

#include <algorithm>
#include <cstring>

#include "gateway/access_log.h"
#include "gateway/unit_connection.h"
#include "platform/debug_log.h"
#include "platform/environment.h"

namespace {

const net::SocketCalls& io() { return *environment().socket_calls; }

const char* side_name(const SessionEndpoint* ep) {
  return ep->is_unit_side ? "unit" : "browser";
}

// The wait before a receive: 5 s the first time on a side, then 0.5 s;
// none once the phase's deadline has passed.
int wait_for_data(SessionEndpoint* ep) {
  if (endpoint_phase_too_long(ep)) return 0;
  int timeout = ep->first_wait ? kFirstWaitMs : kLaterWaitMs;
  ep->first_wait = 0;
  return io().wait_readable(ep->sock, timeout);
}

void note_data(SessionEndpoint* ep, int n) {
  ep->recv_count = n;
  ep->got_data = 1;
  ep->last_data_ms = io().now_ms(ep->sock);
}

void reset_receive(SessionEndpoint* ep) {
  ep->recv_count = 0;
  ep->recv_pos = 0;
}

// Copies received bytes to dst behind `delivered`; returns the new count.
int take_received(SessionEndpoint* ep, char* dst, int delivered, int wanted) {
  int k = std::min(ep->recv_count - ep->recv_pos, wanted - delivered);
  std::memcpy(dst + delivered, ep->recv_buf + ep->recv_pos,
              static_cast<size_t>(k));
  ep->recv_pos += k;
  return delivered + k;
}

}  // namespace

bool endpoint_quiet_too_long(const SessionEndpoint* ep) {
  return io().now_ms(ep->sock) - ep->last_data_ms >= kQuietLimitMs;
}

bool endpoint_phase_too_long(const SessionEndpoint* ep) {
  return ep->deadline_ms != 0 && io().now_ms(ep->sock) >= ep->deadline_ms;
}

void endpoint_mark_active(SessionEndpoint* ep, int64_t limit_ms) {
  ep->last_data_ms = io().now_ms(ep->sock);
  ep->deadline_ms = ep->last_data_ms + limit_ms;
}

void endpoint_end_phase(SessionEndpoint* ep) { ep->deadline_ms = 0; }

int put(SessionEndpoint* ep, const char* data, int length) {
  while (length > 0) {
    int k = std::min(length, kBlockSize - ep->send_count);
    std::memcpy(ep->send_buf + ep->send_count, data, static_cast<size_t>(k));
    ep->send_count += k;
    data += k;
    length -= k;
    if (ep->send_count == kBlockSize && flush_buffer(ep) != 0) return 1;
  }
  return 0;
}

// The peer has kept sends waiting longer than it may: kQuietLimitMs
// without taking a byte, or more in all than its rate allows.
bool send_stalled(const SessionEndpoint* ep, int64_t last_progress) {
  return io().now_ms(ep->sock) - last_progress >= kQuietLimitMs ||
         ep->send_waited_ms >
             kQuietLimitMs + ep->sent_total * 1000 / kMinSendRate;
}

int flush_buffer(SessionEndpoint* ep) {
  if (ep->is_unit_side && !ep->connected && connect_to_unit(ep) != 0) return 1;
  if (ep->sent_total == 0 && ep->send_count > 0)
    ep->answer_status =
        answer_status({ep->send_buf, static_cast<size_t>(ep->send_count)});
  int sent = 0;
  int64_t last_progress = io().now_ms(ep->sock);
  while (ep->send_count != 0) {
    int n = io().send(ep->sock, ep->send_buf + sent, ep->send_count);
    if (n > 0) {
      sent += n;
      ep->send_count -= n;
      ep->sent_total += n;
      last_progress = io().now_ms(ep->sock);
      continue;
    }
    int err = n < 0 ? net::WSAGetLastError() : net::WSAEWOULDBLOCK;
    bool stalled = send_stalled(ep, last_progress);
    if (err != net::WSAEWOULDBLOCK || stalled) {
      if (stalled) {
        DebugLog("flush_buffer():  peer takes no data, giving up.\n");
      } else {
        DebugLog("flush_buffer():  send() encountered error %d\n", err);
      }
      std::memmove(ep->send_buf, ep->send_buf + sent,
                   static_cast<size_t>(ep->send_count));
      return 1;
    }
    int64_t before = io().now_ms(ep->sock);
    io().wait_writable(ep->sock, kLaterWaitMs);
    ep->send_waited_ms += io().now_ms(ep->sock) - before;
  }
  return 0;
}

int get_char(SessionEndpoint* ep, char* out) {
  if (ep->recv_pos < ep->recv_count) {
    *out = ep->recv_buf[ep->recv_pos++];
    return 0;
  }
  DebugLog("get_char():  End of buffer on %s side of connection.\n",
           side_name(ep));
  int n = io().recv(ep->sock, ep->recv_buf, kBlockSize);
  if (n > 0) {
    note_data(ep, n);
    ep->first_wait = 0;
    ep->recv_pos = 1;
    *out = ep->recv_buf[0];
    return 0;
  }
  if (n < 0 && net::WSAGetLastError() != net::WSAEWOULDBLOCK) {
    DebugLog(
        "get_char():  recv() encountered error %d on %s side of "
        "connection.\n",
        net::WSAGetLastError(), side_name(ep));
    reset_receive(ep);
    return 1;
  }
  int ready = wait_for_data(ep);
  if (ready == 0) {
    DebugLog(
        "get_char():  select reports no data ready on %s side of "
        "connection.\n",
        side_name(ep));
    return -1;
  }
  if (ready < 0) {
    DebugLog(
        "get_char():  select() encountered error %d on %s side of "
        "connection.\n",
        net::WSAGetLastError(), side_name(ep));
    reset_receive(ep);
    return 1;
  }
  n = io().recv(ep->sock, ep->recv_buf, kBlockSize);
  if (n > 0) {
    note_data(ep, n);
    ep->recv_pos = 1;
    *out = ep->recv_buf[0];
    return 0;
  }
  DebugLog(
      "get_char():  recv() encountered error %d on %s side of connection.\n",
      n < 0 ? net::WSAGetLastError() : 0, side_name(ep));
  reset_receive(ep);
  return 1;
}

int read_line(SessionEndpoint* ep, char* out, int most) {
  // A line ends at its LF (with or without CR before it), at the line
  // limit, or after `most` characters.
  const int limit = std::max(1, std::min(most, kLineLimit));
  while (ep->line_length == 0 ||
         (ep->line[ep->line_length - 1] != '\n' && ep->line_length < limit)) {
    if (ep->line_length > 0 && ep->recv_pos < ep->recv_count) {
      // Received bytes are taken up to the line end in one move.
      int k = std::min(limit - ep->line_length, ep->recv_count - ep->recv_pos);
      const char* from = ep->recv_buf + ep->recv_pos;
      if (const void* nl = std::memchr(from, '\n', static_cast<size_t>(k)))
        k = static_cast<int>(static_cast<const char*>(nl) - from) + 1;
      std::memcpy(ep->line + ep->line_length, from, static_cast<size_t>(k));
      ep->line_length += k;
      ep->recv_pos += k;
      continue;
    }
    char c;
    int r = get_char(ep, &c);
    if (r == -1) {
      DebugLog("read_line():  get_char() reports no data.\n");
      return 0;
    }
    if (r != 0) {
      DebugLog("read_line():  get_char() reports connection lost.\n");
      return -1;
    }
    ep->line[ep->line_length++] = c;
  }
  ep->line_cut =
      ep->line[ep->line_length - 1] != '\n' && ep->line_length == kLineLimit;
  if (ep->line_cut) DebugLog("read_line():  line overflows buffer.\n");
  return take_partial_line(ep, out);
}

int take_partial_line(SessionEndpoint* ep, char* out) {
  int length = ep->line_length;
  ep->line[length] = '\0';
  std::memcpy(out, ep->line, static_cast<size_t>(length) + 1);
  ep->line_length = 0;
  // The characters held, which is the text length unless the line carries
  // a NUL byte; callers that relay the line use this count.
  return length;
}

int get_buffer(SessionEndpoint* ep, char* dst, int wanted) {
  int delivered = 0;
  if (ep->recv_pos < ep->recv_count) {
    delivered = take_received(ep, dst, 0, wanted);
    if (delivered == wanted) return delivered;
  }
  // Takes what is there; waits (once) only when nothing is.
  for (bool waited = false;;) {
    reset_receive(ep);
    int n = io().recv(ep->sock, ep->recv_buf, kBlockSize);
    if (n > 0) {
      ep->first_wait = 0;
      note_data(ep, n);
      delivered = take_received(ep, dst, delivered, wanted);
      if (delivered == wanted) return delivered;
      continue;
    }
    if (n == 0) {
      DebugLog("get_buffer():  recv() returned 0, assuming disconnect\n");
      return delivered > 0 ? delivered : -1;
    }
    if (net::WSAGetLastError() != net::WSAEWOULDBLOCK) {
      DebugLog("get_buffer():  recv() encountered error %d.\n",
               net::WSAGetLastError());
      return delivered > 0 ? delivered : -1;
    }
    if (delivered > 0 || waited) return delivered;
    int ready = wait_for_data(ep);
    if (ready == 0) return 0;
    if (ready < 0) {
      DebugLog("get_buffer():  select() encountered error %d.\n",
               net::WSAGetLastError());
      return -1;
    }
    waited = true;
  }
}

#include "discovery/ipx/probe.h"

#include <cstring>

#include "platform/threads.h"
#include "units/units.h"

std::atomic<int> probes_running{0};
std::atomic<int> probe_limit{kInitialProbeLimit};
std::atomic<bool> keep_pending_spx_sockets{false};

namespace {

constexpr uint8_t kDescriptionRequest[4] = {0x00, 0x64, 0x00, 0x02};
constexpr int kWaitMs = 2000;
constexpr uint32_t kNoBuffersPauseMs = 100;

// After a lack of buffers: lowers the limit and pauses before the retry;
// false when the probe has retried enough.
bool retry_after_no_buffers(int* retries_left) {
  lower_probe_limit();
  if (*retries_left <= 0) return false;
  --*retries_left;
  Sleep(kNoBuffersPauseMs);
  return true;
}

// The probe proper; the caller has counted it in probes_running.
void run_probe(int index) {
  IpxUnitRecord& unit = ipx_unit_list[index];
  net::SockAddrIpx destination = unit.address;
  static const char kDefault[] = "Print Server";
  std::memcpy(unit.description, kDefault, sizeof kDefault);

  int retries_left = kMaxNoBufferRetries;
  net::OwnedSocket sock;  // closed on every way out unless kept
  while (true) {
    sock.reset(net::socket(net::AF_IPX_, net::SOCK_STREAM_, net::NSPROTO_SPX));
    if (sock) break;
    if (net::WSAGetLastError() != net::WSAENOBUFS ||
        !retry_after_no_buffers(&retries_left))
      return;
  }
  net::SockAddrIpx wildcard{};
  wildcard.sa_family = net::AF_IPX_;
  net::bind(sock.get(), wildcard);

  destination.sa_socket = unit.wdx_port;
  if (destination.sa_socket == 0) return;
  net::ioctlsocket_fionbio(sock.get(), 1);
  switch (connect_to_wdx(sock.get(), destination, &retries_left)) {
    case WdxConnect::kConnected:
      break;
    case WdxConnect::kPending:
      if (keep_pending_spx_sockets.load()) sock.release();
      return;
    case WdxConnect::kFailed:
      return;
  }
  net::ioctlsocket_fionbio(sock.get(), 0);

  while (net::send(sock.get(), kDescriptionRequest,
                   sizeof kDescriptionRequest) == net::SOCKET_ERROR) {
    if (net::WSAGetLastError() != net::WSAENOBUFS ||
        !retry_after_no_buffers(&retries_left))
      return;
  }
  if (net::wait_readable(sock.get(), kWaitMs) != 1) return;
  uint8_t reply[kDescriptionReplySize];
  int received = net::recv(sock.get(), reply, sizeof reply);
  if (received <= 0) return;
  parse_description_reply(reply, received, unit.description,
                          sizeof unit.description);
}

}  // namespace

void lower_probe_limit() {
  int running = probes_running.load();
  if (running > 5 && running < probe_limit.load())
    probe_limit.store(running - 1);
}

WdxConnect connect_to_wdx(net::Socket s, const net::SockAddrIpx& destination,
                          int* retries_left) {
  while (true) {
    Sleep(1);
    if (net::connect(s, destination) == 0) return WdxConnect::kConnected;
    int error = net::WSAGetLastError();
    Sleep(1);
    if (error == net::WSAENOBUFS) {
      if (!retry_after_no_buffers(retries_left)) return WdxConnect::kFailed;
      continue;
    }
    if (error != net::WSAEWOULDBLOCK) return WdxConnect::kFailed;
    if (net::wait_writable(s, kWaitMs) != 1) return WdxConnect::kPending;
    // A refused connect makes the socket writable too; its pending error
    // tells the two apart.
    return net::socket_error(s) == 0 ? WdxConnect::kConnected
                                     : WdxConnect::kFailed;
  }
}

void probe_unit(int index) {
  probes_running.fetch_add(1);
  run_probe(index);
  probes_running.fetch_sub(1);
}

bool start_probe(int index) {
  probes_running.fetch_add(1);
  bool started = start_detached_thread([index] {
    run_probe(index);
    probes_running.fetch_sub(1);
  });
  if (!started) probes_running.fetch_sub(1);
  return started;
}

bool parse_description_reply(const uint8_t* reply, int received, char* out,
                             size_t out_size) {
  if (received <= 26 || out_size == 0) return false;
  size_t length = static_cast<size_t>(received);
  size_t a = reply[26];
  size_t b_offset = 27 + 2 * a;
  if (b_offset >= length) return false;
  size_t b = reply[b_offset];
  size_t text = 28 + 2 * a + 2 * b;
  if (length <= text) return false;
  size_t n =
      strnlen(reinterpret_cast<const char*>(reply + text), length - text);
  if (n > out_size - 1) n = out_size - 1;
  std::memcpy(out, reply + text, n);
  out[n] = '\0';
  return true;
}

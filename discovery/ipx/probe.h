// Per-unit probe threads: each gives one entry of the IPX unit list its
// description, fetched over SPX from the unit's WDX service (request
// 00 64 00 02), with "Print Server" as the default.
//
// probes_running counts the probes that have been started and not yet
// ended; every update takes effect (atomic). The driver counts a probe
// before its thread starts (start_probe), so its wait for the count to
// return to 0 cannot end before a started probe has counted itself.
// probe_limit is the most probes the driver lets run at once: 40 at
// start, lowered by probes that meet a lack of buffers, never raised.
#ifndef TAV_DISCOVERY_IPX_PROBE_H_
#define TAV_DISCOVERY_IPX_PROBE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/net.h"

extern std::atomic<int> probes_running;
extern std::atomic<int> probe_limit;
// Leave sockets of connects that time out open (a quirk of one platform
// version; never set on POSIX).
extern std::atomic<bool> keep_pending_spx_sockets;

inline constexpr int kInitialProbeLimit = 40;
inline constexpr int kDescriptionReplySize = 600;
// A lack of buffers is retried at most this often in one probe, over all
// its steps: the platform also reports exhausted descriptors that way,
// which need not pass.
inline constexpr int kMaxNoBufferRetries = 20;

// Runs one probe for list entry `index` on the calling thread, counting
// itself in probes_running.
void probe_unit(int index);
// Counts a probe and starts it on a detached thread; false (and uncounted)
// when no thread can be started.
bool start_probe(int index);
// When probes_running > 5 and < probe_limit: probe_limit := running - 1.
void lower_probe_limit();

enum class WdxConnect { kConnected, kFailed, kPending };
// Connects the non-blocking SPX socket `s` to `destination`, waiting up to
// 2 s for it to complete; a lack of buffers lowers the limit and retries
// while *retries_left allows. kPending: no outcome within the wait.
WdxConnect connect_to_wdx(net::Socket s, const net::SockAddrIpx& destination,
                          int* retries_left);

// Takes the description text out of a reply of `received` bytes. The two
// item counts are taken as unsigned bytes; the text is taken only when it
// starts within the bytes received, ends at its NUL or at the last byte
// received, and is cut to fit out (out_size includes the NUL). Returns
// false, leaving out alone, when the reply holds no text.
bool parse_description_reply(const uint8_t* reply, int received, char* out,
                             size_t out_size);

#endif  // TAV_DISCOVERY_IPX_PROBE_H_

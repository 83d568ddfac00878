// The descriptor bridge of one SPX connection: the stack's end of the
// AF_UNIX stream pair whose other end the program holds, pumped to and
// from the connection's machine without blocking. Descriptors only; the
// stack thread calls it under the stack's lock.
#ifndef TAV_IPX_HOST_BRIDGE_H_
#define TAV_IPX_HOST_BRIDGE_H_

#include <cstdint>
#include <vector>

#include "ipx/spx/connection.h"

namespace ipx {

// Makes an AF_UNIX pair of `type` with small buffers (so that a program
// that stops reading stops the peer through SPX's allocation); out[1] is
// non-blocking. 0, or -errno.
int make_pair(int type, int out[2]);
void set_nonblock(int fd, bool on);
void close_fd(int& fd);

struct Bridge {
  int app_fd = -1;  // the program's descriptor, -1 once it closed it
  int stack_end = -1;
  bool app_done = false;        // the program's side reached its end
  bool shut = false;            // the end was passed on to the program
  std::vector<uint8_t> staged;  // read from the machine, not yet passed on
  size_t staged_at = 0;
  // What the program wrote before it closed, taken off the pair at once so
  // that the hung-up end leaves the poll; it goes to the machine as the
  // machine takes it, then the close.
  std::vector<uint8_t> unsent;
  size_t unsent_at = 0;

  // The poll() events to wait for on stack_end; -1 when there is nothing
  // to wait for (an end that is shut reports a hang-up on every poll).
  int events(const spx::Connection& m) const;
  // Moves what the program wrote into the machine (`readable`; `hung_up`:
  // the program closed), and what the machine received to the program
  // (`writable`); passes the end on. True when it passed the end on just
  // now.
  bool service(spx::Connection& m, bool readable, bool writable, int64_t now,
               bool hung_up = false);
  // True when the bridge is done with the machine: closes stack_end.
  // *program_error is set when the program should see the machine's error.
  bool retire(const spx::Connection& m, bool* program_error);
};

}  // namespace ipx

#endif  // TAV_IPX_HOST_BRIDGE_H_

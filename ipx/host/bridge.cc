#include "ipx/host/bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ipx {
namespace {

constexpr int kPairBuffer = 32 * 1024;

}  // namespace

void set_nonblock(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags >= 0)
    fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int make_pair(int type, int out[2]) {
  if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, out) != 0) return -errno;
  for (int i = 0; i < 2; ++i) {
    setsockopt(out[i], SOL_SOCKET, SO_SNDBUF, &kPairBuffer, sizeof kPairBuffer);
    setsockopt(out[i], SOL_SOCKET, SO_RCVBUF, &kPairBuffer, sizeof kPairBuffer);
  }
  set_nonblock(out[1], true);
  return 0;
}

int Bridge::events(const spx::Connection& m) const {
  int e = 0;
  if (!app_done && unsent.empty() && (m.writable() > 0 || m.finished()))
    e |= POLLIN;
  if (staged_at < staged.size() || m.readable() > 0) e |= POLLOUT;
  return e == 0 && (app_done || shut) ? -1 : e;
}

bool Bridge::service(spx::Connection& m, bool readable, bool writable,
                     int64_t now, bool hung_up) {
  uint8_t buf[8192];
  if (readable && !app_done) {
    size_t room = m.finished() || hung_up ? sizeof buf
                                          : std::min(sizeof buf, m.writable());
    ssize_t r = room > 0 ? ::recv(stack_end, buf, room, MSG_DONTWAIT) : -1;
    if (r == 0 ||
        (r < 0 && room > 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
      app_done = true;
    } else if (r > 0 && !m.finished()) {
      unsent.insert(unsent.end(), buf, buf + r);
    }
    // A closed program's end reports a hang-up on every poll: take what it
    // left (no more than the pair holds) and stop polling it.
    while (hung_up && !app_done) {
      r = ::recv(stack_end, buf, sizeof buf, MSG_DONTWAIT);
      if (r > 0) {
        unsent.insert(unsent.end(), buf, buf + r);
      } else {
        app_done = true;
      }
    }
  }
  if (m.finished()) unsent.clear();
  if (unsent_at < unsent.size())
    unsent_at +=
        m.write({unsent.data() + unsent_at, unsent.size() - unsent_at}, now);
  if (unsent_at == unsent.size()) {
    unsent.clear();
    unsent_at = 0;
    if (app_done) m.close(now);
  }
  if (!writable) return false;
  for (;;) {
    if (staged_at == staged.size()) {
      staged.resize(sizeof buf);
      staged.resize(m.read(staged, now));
      staged_at = 0;
      if (staged.empty()) break;
    }
    ssize_t w = ::send(stack_end, staged.data() + staged_at,
                       staged.size() - staged_at, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (w <= 0) {
      if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        staged.clear();  // the program is gone: nobody reads
        staged_at = 0;
      }
      break;
    }
    staged_at += static_cast<size_t>(w);
  }
  if (shut || !m.at_end() || staged_at != staged.size()) return false;
  // The end of the stream, or of the connection: the program reads the
  // end, and its writes fail from now on.
  shut = true;
  shutdown(stack_end, SHUT_RDWR);
  return true;
}

bool Bridge::retire(const spx::Connection& m, bool* program_error) {
  *program_error = false;
  if (!m.finished()) return false;
  bool program_reads = app_fd >= 0 && !app_done;
  if (program_reads && !shut) return false;  // data still to pass on
  *program_error = app_fd >= 0;
  if (program_reads) return false;
  close_fd(stack_end);
  return true;
}

}  // namespace ipx

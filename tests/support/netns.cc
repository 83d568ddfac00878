#include "tests/support/netns.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/platform/ipx_test_lan.h"

namespace tav_test {
namespace {

bool g_private = false, g_root = false;
std::string g_problem = "not attempted";
std::string g_units_interface;

// A failed write shows later, as a loopback that cannot be brought up.
void write_file(const char* path, const std::string& text) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  [[maybe_unused]] ssize_t n = ::write(fd, text.data(), text.size());
  ::close(fd);
}

bool bring_up_loopback() {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq req{};
  std::snprintf(req.ifr_name, sizeof req.ifr_name, "lo");
  bool ok = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &req) == 0;
  req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP | IFF_RUNNING);
  ok = ok && ::ioctl(s, SIOCSIFFLAGS, &req) == 0;
  if (s >= 0) ::close(s);
  return ok;
}

}  // namespace

void enter_private_network() {
  uid_t uid = ::geteuid();
  gid_t gid = ::getegid();
  g_root = uid == 0;
  if (::unshare(g_root ? CLONE_NEWNET : CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    g_problem = std::string("unshare: ") + std::strerror(errno);
    return;
  }
  if (!g_root) {
    write_file("/proc/self/setgroups", "deny");
    write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  }
  if (!bring_up_loopback()) {
    g_problem = "cannot bring up the loopback in the new namespace";
    return;
  }
  g_private = true;
  g_problem.clear();
}

bool in_private_network() { return g_private; }
const std::string& private_network_problem() { return g_problem; }
bool can_make_test_hosts() { return g_private && g_root; }

bool use_ipx_frames_if_asked() {
  const char* asked = std::getenv("TAV_TEST_IPX");
  if (asked == nullptr || std::strcmp(asked, "ethernet") != 0) return true;
  // The pair, its address and TAV_IPX are kept for the life of the process.
  static auto* lan = new ipx_test::Lan();
  static auto* kept = g_private && lan->up()
                          ? new ipx_test::ScopedEthernet(lan->name(0))
                          : nullptr;
  if (kept != nullptr && kept->ok())
    g_units_interface = lan->name(1);
  else
    std::fprintf(stderr, "skipped: no veth pair for IPX in frames (%s)\n",
                 g_private ? "ip link add failed" : g_problem.c_str());
  return !g_units_interface.empty();
}

const std::string& units_ipx_interface() { return g_units_interface; }

}  // namespace tav_test

// A test LAN for the IPX stack: a veth pair in the test's own network
// namespace and stacks on its two ends, removed when the Lan goes.
#ifndef TAV_TESTS_PLATFORM_IPX_TEST_LAN_H_
#define TAV_TESTS_PLATFORM_IPX_TEST_LAN_H_

#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ipx/host/stack.h"
#include "platform/net.h"
#include "tests/support/scratch.h"

namespace ipx_test {

// A listening SPX socket of `stack`, its address in *where; -1 on failure.
inline int listening_socket(ipx::Stack& stack, ipx::Address* where) {
  int l = stack.socket(ipx::SocketKind::kStream);
  if (stack.listen(l, 1) != 0 || stack.getsockname(l, where) != 0) return -1;
  return l;
}

// Its ends: ipx<pid>a<n> with MAC 02:00:00:00:<n>:01, and ...b<n> with :02.
class Lan {
 public:
  Lan() {
    static std::atomic<uint8_t> count{0};
    uint8_t n = count++;
    for (int i = 0; i < 2; ++i) {
      std::snprintf(name_[i], sizeof name_[i], "ipx%d%c%d",
                    static_cast<int>(getpid() % 10000), 'a' + i, n);
      mac_[i] = {0x02, 0, 0, 0, n, static_cast<uint8_t>(i + 1)};
    }
  }
  ~Lan() {
    if (made_) run("ip link del " + std::string(name_[0]));
  }
  Lan(const Lan&) = delete;
  Lan& operator=(const Lan&) = delete;

  bool up() {
    char link[160];
    std::snprintf(link, sizeof link,
                  "ip link add %s address 02:00:00:00:%02x:01 type veth peer "
                  "name %s address 02:00:00:00:%02x:02",
                  name_[0], mac_[0][4], name_[1], mac_[0][4]);
    made_ = run(link);
    std::string a = name_[0], b = name_[1];
    if (!made_ || !run("ip link set " + a + " up && ip link set " + b + " up"))
      return false;
    // Frames sent before the pair's carrier comes up are lost.
    for (int i = 0;
         i < 300 && !run("ip link show " + a + " | grep -q LOWER_UP"); ++i)
      usleep(10000);
    return true;
  }
  const char* name(int end) const { return name_[end]; }
  const ipx::Mac& mac(int end) const { return mac_[end]; }

  std::unique_ptr<ipx::Stack> stack(int end, ipx::FrameTypes types,
                                    ipx::NetworkNumber network = {},
                                    spx::Timing timing = {},
                                    spx::Limits limits = {}) {
    ipx::StackOptions o;
    o.interface = name_[end];
    o.broadcast_types = types;
    o.network = network;
    o.timing = timing;
    o.limits = limits;
    int error = 0;
    auto s = ipx::Stack::start(o, &error);
    if (!s) std::fprintf(stderr, "stack on %s: error %d\n", name_[end], error);
    return s;
  }

 private:
  static bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  char name_[2][16] = {};
  ipx::Mac mac_[2] = {};
  bool made_ = false;
};

// A socket that sees every frame crossing `interface` either way.
inline int capture_on(const char* interface) {
  int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK, net::htons_(0x0003));
  sockaddr_ll at{};
  at.sll_family = AF_PACKET;
  at.sll_protocol = net::htons_(0x0003);  // every protocol
  at.sll_ifindex = static_cast<int>(if_nametoindex(interface));
  int size = 1 << 22;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 ? fd : -1;
}

// tshark's command reading the frames `capture` saw (closed here) from `dir`,
// once their dissection showed nothing malformed; "" without tshark.
inline std::string tshark_read(int capture, tav_test::ScratchDir& dir) {
  const uint32_t head[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 1};
  std::string pcap(reinterpret_cast<const char*>(head), sizeof head);
  char frame[65536];
  for (ssize_t n; (n = ::recv(capture, frame, sizeof frame, 0)) > 0;) {
    const uint32_t record[4] = {0, 0, uint32_t(n), uint32_t(n)};
    pcap.append(reinterpret_cast<const char*>(record), sizeof record);
    pcap.append(frame, static_cast<size_t>(n));
  }
  ::close(capture);
  dir.write("ipx.pcap", pcap);
  if (access("/usr/bin/tshark", X_OK) != 0) return "";
  std::string read = "/usr/bin/tshark -r " + dir.file("ipx.pcap");
  std::string detail = tav_test::command_output(read + " -V 2>/dev/null");
  EXPECT_EQ(detail.find("Malformed"), std::string::npos) << detail;
  EXPECT_EQ(detail.find("Severity level: Error"), std::string::npos);
  return read;
}

// The LAN of platform/net's process-wide stack (it lasts as long as the
// process): made once, nullptr when it cannot be.
inline Lan* host_lan() {
  static Lan* lan = [] {
    auto* l = new Lan();
    return l->up() ? l : nullptr;
  }();
  return lan;
}

// TAV_IPX=ethernet, with the host's own address on `interface` for as long
// as it lasts.
class ScopedEthernet {
 public:
  explicit ScopedEthernet(const std::string& interface)
      : interface_(interface) {
    ::setenv("TAV_IPX", "ethernet", 1);
    ok_ =
        std::system(("ip addr add 10.79.0.1/24 dev " + interface).c_str()) == 0;
  }
  ~ScopedEthernet() {
    ::unsetenv("TAV_IPX");
    std::system(("ip addr flush dev " + interface_).c_str());
  }
  bool ok() const { return ok_; }

 private:
  std::string interface_;
  bool ok_ = false;
};

}  // namespace ipx_test

#endif  // TAV_TESTS_PLATFORM_IPX_TEST_LAN_H_

// Every kind of frame the stack sends, in every frame type, captured on a
// test LAN and dissected by tshark, an implementation we did not write: it
// must read as the packet meant, with nothing malformed and no error.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "platform/ipx_services.h"
#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"
#include "tests/support/scratch.h"

namespace {

using namespace ipx;

const char kTshark[] = "/usr/bin/tshark";

// tshark capturing on one interface into a file until stopped (or for two
// minutes at most).
class Capture {
 public:
  Capture(const std::string& interface, const std::string& file) {
    out_ = popen(("echo $$; exec timeout -s INT 120 " + std::string(kTshark) +
                  " -i " + interface + " -w " + file + " 2>&1")
                     .c_str(),
                 "r");
    if (out_ && std::fscanf(out_, "%d", &pid_) != 1) pid_ = -1;
  }
  ~Capture() { Stop(); }
  bool WaitUntilCapturing() {
    char line[512];
    while (pid_ > 0 && std::fgets(line, sizeof line, out_))
      if (std::strstr(line, "Capturing on")) {
        // tshark says so a little before its capture runs.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return true;
      }
    return false;
  }
  void Stop() {
    if (pid_ > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      kill(pid_, SIGINT);
    }
    pid_ = -1;
    if (out_) pclose(std::exchange(out_, nullptr));
  }

 private:
  FILE* out_ = nullptr;
  pid_t pid_ = -1;
};

// What a dissected frame is, from tshark's fields.
std::string kind_of(const std::map<std::string, std::string>& f) {
  auto get = [&](const char* k) { return f.at(k); };
  std::string socket = get("ipx.dst.socket");
  if (get("ipx.packet_type") != "0x05") {
    std::string info = get("_ws.col.Info");
    if (socket == "0x0453" && info == "Request") return "rip";
    if (socket == "0x0452" && info == "General Query") return "sap";
    if (socket == "0x8449") return "locator";
    return "other datagram";
  }
  // tshark shows the connection control's four flags shifted down a nibble.
  auto ctl =
      std::stoul(get("spx.ctl").empty() ? "0" : get("spx.ctl"), nullptr, 16);
  std::string type = get("spx.type");
  if (!(ctl & 0x08)) return type == "0xfe" ? "close" : "data";
  if (type == "0xff") return "close ack";
  if (get("spx.dst") == "65535") return "connect";
  return (ctl & 0x04) ? "watchdog" : "ack";
}

std::string frame_of(const std::map<std::string, std::string>& f) {
  const std::string& p = f.at("frame.protocols");
  if (p.find("ethertype") != std::string::npos) return "ethernet_ii";
  if (p.find("llc") == std::string::npos) return "802.3";
  return f.at("llc.dsap") == "0xaa" ? "snap" : "802.2";
}

TEST(IpxOnTheWire, EveryKindOfFrameDissectsAsMeantInEveryFrameType) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  if (access(kTshark, X_OK) != 0) GTEST_SKIP() << "tshark is not installed";
  ipx_test::Lan lan;
  ASSERT_TRUE(lan.up());
  tav_test::ScratchDir dir;
  std::string file = dir.file("ipx.pcapng");
  Capture capture(lan.name(0), file);
  ASSERT_TRUE(capture.WaitUntilCapturing()) << "tshark did not start";
  spx::Timing quick{.watchdog_idle = 150};
  for (int t = 0; t < kFrameTypeCount; ++t) {
    FrameTypes type = frame_bit(static_cast<FrameType>(t));
    auto a = lan.stack(0, type, {}, quick);  // asks RIP at start
    auto b = lan.stack(1, type, {0, 0, 0xBE, 0xEF}, quick);
    ASSERT_TRUE(a && b);
    int u = a->socket(net::SOCK_DGRAM_);
    auto query = encode_sap_query(kSapGeneralQuery, 0x0414);
    a->sendto(u, query.data(), 4, ipx_test::at({}, kBroadcastMac, 0x0452));
    a->sendto(u, "\xFF\xFF\xC1\x00\x01\xF4", 6,
              ipx_test::at({}, kBroadcastMac, 0x8449));
    int l = b->socket(net::SOCK_STREAM_);
    ASSERT_EQ(b->listen(l, 1), 0);
    net::SockAddrIpx where{};
    b->getsockname(l, &where);
    int c = a->socket(net::SOCK_STREAM_);
    ASSERT_EQ(a->connect(c, where), 0);
    int s = b->accept(l);
    ASSERT_EQ(::send(c, "GET / HTTP/1.0\r\n\r\n", 18, 0), 18);
    char buf[32];
    ASSERT_EQ(::recv(s, buf, sizeof buf, 0), 18);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // idle
    a->close(c);
    ASSERT_EQ(::recv(s, buf, sizeof buf, 0), 0);
    b->close(s);
  }
  capture.Stop();
  std::string read = std::string(kTshark) + " -r " + file;
  std::string detail = tav_test::command_output(read + " -V 2>/dev/null");
  EXPECT_EQ(detail.find("Malformed"), std::string::npos) << detail;
  EXPECT_EQ(detail.find("Severity level: Error"), std::string::npos);
  const char* fields[] = {"frame.protocols", "llc.dsap",     "ipx.packet_type",
                          "ipx.dst.socket",  "_ws.col.Info", "spx.ctl",
                          "spx.type",        "spx.dst"};
  std::string cmd = read + " -Y ipx -T fields -E occurrence=f -E separator=/t";
  for (const char* f : fields) cmd += std::string(" -e ") + f;
  std::istringstream rows(tav_test::command_output(cmd + " 2>/dev/null"));
  std::set<std::string> seen;
  std::string row;
  while (std::getline(rows, row)) {
    std::map<std::string, std::string> f;
    std::istringstream cols(row);
    for (const char* name : fields) std::getline(cols, f[name], '\t');
    seen.insert(frame_of(f) + " " + kind_of(f));
  }
  for (int t = 0; t < kFrameTypeCount; ++t)
    for (const char* kind : {"rip", "sap", "locator", "connect", "data", "ack",
                             "watchdog", "close", "close ack"})
      EXPECT_TRUE(seen.count(frame_type_name(static_cast<FrameType>(t)) +
                             std::string(" ") + kind))
          << frame_type_name(static_cast<FrameType>(t)) << " " << kind;
}

}  // namespace

// Every kind of frame the stack sends, in every frame type, captured on a
// test LAN and dissected by tshark, an implementation we did not write: it
// must read as the packet meant, with nothing malformed and no error.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "platform/ipx_services.h"
#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"

extern char** environ;

namespace {

using namespace ipx;

const char kTshark[] = "/usr/bin/tshark";

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string run_output(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// tshark capturing on one interface into a file, from its start until Stop.
class Capture {
 public:
  Capture(const std::string& interface, const std::string& dir)
      : file_(dir + "/ipx.pcapng"), log_(dir + "/tshark.log") {
    std::string args = std::string(kTshark) + " -i " + interface + " -w " +
                       file_ + " >" + log_ + " 2>&1";
    const char* argv[] = {"/bin/sh", "-c", args.c_str(), nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    if (posix_spawn(&pid_, "/bin/sh", nullptr, &attr, const_cast<char**>(argv),
                    environ) != 0)
      pid_ = -1;
    posix_spawnattr_destroy(&attr);
  }
  ~Capture() { Stop(); }
  bool WaitUntilCapturing() {
    for (int i = 0; i < 300 && pid_ > 0; ++i) {
      if (read_file(log_).find("Capturing on") != std::string::npos) {
        // tshark says so a little before its capture runs.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Stop() {
    if (pid_ <= 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(-pid_, SIGINT);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  const std::string& file() const { return file_; }

 private:
  std::string file_, log_;
  pid_t pid_ = -1;
};

// What a dissected frame is, from tshark's fields.
std::string kind_of(const std::map<std::string, std::string>& f) {
  auto get = [&](const char* k) {
    auto it = f.find(k);
    return it == f.end() ? std::string() : it->second;
  };
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
  ASSERT_TRUE(lan.up()) << lan.problem();
  char dir[] = "/tmp/tav-ipx-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  {
    Capture capture(lan.name(0), dir);
    ASSERT_TRUE(capture.WaitUntilCapturing()) << "tshark did not start";
    spx::Timing quick;
    quick.watchdog_idle = 150;
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
    std::string file = capture.file();
    std::string detail =
        run_output(std::string(kTshark) + " -r " + file + " -V 2>/dev/null");
    EXPECT_EQ(detail.find("Malformed"), std::string::npos) << detail;
    EXPECT_EQ(detail.find("Severity level: Error"), std::string::npos);
    const char* fields[] = {
        "frame.protocols", "llc.dsap", "ipx.packet_type", "ipx.dst.socket",
        "_ws.col.Info",    "spx.ctl",  "spx.type",        "spx.dst"};
    std::string cmd = std::string(kTshark) + " -r " + file +
                      " -Y ipx -T fields -E occurrence=f -E separator=/t";
    for (const char* f : fields) cmd += std::string(" -e ") + f;
    std::istringstream rows(run_output(cmd + " 2>/dev/null"));
    std::set<std::string> seen;
    std::string row;
    while (std::getline(rows, row)) {
      std::map<std::string, std::string> f;
      std::istringstream cols(row);
      for (const char* name : fields) std::getline(cols, f[name], '\t');
      seen.insert(frame_of(f) + " " + kind_of(f));
    }
    std::string all;
    for (const std::string& k : seen) all += k + "; ";
    for (int t = 0; t < kFrameTypeCount; ++t)
      for (const char* kind : {"rip", "sap", "locator", "connect", "data",
                               "ack", "watchdog", "close", "close ack"}) {
        std::string want =
            std::string(frame_type_name(static_cast<FrameType>(t))) + " " +
            kind;
        EXPECT_TRUE(seen.count(want)) << want << " not among " << all;
      }
  }
  std::system((std::string("rm -rf ") + dir).c_str());
}

}  // namespace

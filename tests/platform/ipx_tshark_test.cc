// Every kind of frame the stack sends, in every frame type, as tshark (not
// ours) reads it: as the packet meant, nothing malformed, no error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "ipx/wire/sap.h"
#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"

namespace {

using namespace ipx;

// What a dissected frame is, as "<frame type> <kind>", from tshark's fields.
std::string kind_of(std::map<std::string, std::string> f) {
  const std::string& p = f["frame.protocols"];
  std::string frame = p.find("ethertype") != std::string::npos ? "ethernet_ii"
                      : p.find("llc") == std::string::npos     ? "802.3"
                      : f["llc.dsap"] == "0xaa"                ? "snap"
                                                               : "802.2";
  std::string socket = f["ipx.dst.socket"], info = f["_ws.col.Info"];
  if (f["ipx.packet_type"] != "0x05") {
    if (socket == "0x0453" && info == "Request") return frame + " rip";
    if (socket == "0x0452" && info == "General Query") return frame + " sap";
    return frame + (socket == "0x8449" ? " locator" : " other datagram");
  }
  // tshark shows the connection control's four flags shifted down a nibble.
  auto ctl = f["spx.ctl"].empty() ? 0 : std::stoul(f["spx.ctl"], nullptr, 16);
  std::string type = f["spx.type"];
  if (!(ctl & 0x08)) return frame + (type == "0xfe" ? " close" : " data");
  if (type == "0xff") return frame + " close ack";
  if (f["spx.dst"] == "65535") return frame + " connect";
  return frame + ((ctl & 0x04) ? " watchdog" : " ack");
}

TEST(IpxOnTheWire, EveryKindOfFrameDissectsAsMeantInEveryFrameType) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  if (access("/usr/bin/tshark", X_OK) != 0)
    GTEST_SKIP() << "tshark is not installed";
  ipx_test::Lan lan;
  ASSERT_TRUE(lan.up());
  int capture = ipx_test::capture_on(lan.name(0));
  ASSERT_GE(capture, 0);
  spx::Timing quick{.watchdog_idle = 150};
  for (int t = 0; t < kFrameTypeCount; ++t) {
    FrameTypes type = frame_bit(static_cast<FrameType>(t));
    auto a = lan.stack(0, type, {}, quick);  // asks RIP at start
    auto b = lan.stack(1, type, {0, 0, 0xBE, 0xEF}, quick);
    ASSERT_TRUE(a && b);
    int u = a->socket(ipx::SocketKind::kDatagram);
    auto query = encode_sap_query(kSapGeneralQuery, 0x0414);
    a->sendto(u, query.data(), 4, {{}, kBroadcastMac, 0x0452});
    a->sendto(u, "\xFF\xFF\xC1\x00\x01\xF4", 6, {{}, kBroadcastMac, 0x8449});
    ipx::Address where;
    int l = ipx_test::listening_socket(*b, &where);
    int c = a->socket(ipx::SocketKind::kStream);
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
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last
  tav_test::ScratchDir dir;
  std::string read = ipx_test::tshark_read(capture, dir);
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
    seen.insert(kind_of(f));
  }
  for (int t = 0; t < kFrameTypeCount; ++t)
    for (const char* kind : {"rip", "sap", "locator", "connect", "data", "ack",
                             "watchdog", "close", "close ack"})
      EXPECT_TRUE(seen.count(frame_type_name(static_cast<FrameType>(t)) +
                             std::string(" ") + kind))
          << frame_type_name(static_cast<FrameType>(t)) << " " << kind;
}

}  // namespace

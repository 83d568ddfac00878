#include "discovery/ip/network_table.h"

#include <gtest/gtest.h>

#include "platform/net.h"
#include "tests/support/netns.h"
#include "tests/support/temp_hive.h"

namespace {

uint32_t ip(const char* dotted) { return net::inet_addr(dotted); }

TEST(NaturalMaskTest, ByAddressClass) {
  EXPECT_EQ(natural_mask_of(ip("10.1.2.3")), ip("255.0.0.0"));
  EXPECT_EQ(natural_mask_of(ip("127.0.0.1")), ip("255.0.0.0"));
  EXPECT_EQ(natural_mask_of(ip("172.16.5.9")), ip("255.255.0.0"));
  EXPECT_EQ(natural_mask_of(ip("192.168.1.1")), ip("255.255.255.0"));
  EXPECT_EQ(natural_mask_of(ip("224.0.0.9")), ip("255.255.255.0"));  // D
  EXPECT_EQ(natural_mask_of(ip("250.1.1.1")), ip("255.255.255.0"));  // E
}

NetworkEntry configured(const char* address, const char* mask) {
  NetworkEntry e{};
  e.local_address = ip(address);
  e.mask = ip(mask);
  e.network = e.local_address & e.mask;
  return e;
}

TEST(LocalInterfaceTest, NaturalMaskWhenNothingMatches) {
  NetworkEntry t[2] = {};
  NetworkEntry other = configured("10.9.9.9", "255.255.255.0");
  EXPECT_EQ(set_local_interface(t, true, ip("10.1.2.3"), &other, 1), 1);
  EXPECT_EQ(t[0].network, ip("10.0.0.0"));
  EXPECT_EQ(t[0].mask, ip("255.0.0.0"));
  EXPECT_EQ(t[0].mask_guessed, 1u);
  EXPECT_EQ(t[0].natural_mask, ip("255.0.0.0"));
}

TEST(LocalInterfaceTest, ConfiguredMaskWinsAndTheLastMatchCounts) {
  NetworkEntry t[2] = {};
  NetworkEntry list[2] = {configured("172.16.5.9", "255.255.0.0"),
                          configured("172.16.5.9", "255.255.255.0")};
  EXPECT_EQ(set_local_interface(t, true, ip("172.16.5.9"), list, 2), 1);
  EXPECT_EQ(t[0].network, ip("172.16.5.0"));
  EXPECT_EQ(t[0].mask, ip("255.255.255.0"));
  EXPECT_EQ(t[0].mask_guessed, 0u);
  EXPECT_EQ(t[0].natural_mask, ip("255.255.0.0"));
}

TEST(LocalInterfaceTest, UnknownHostAddressGivesNoNetworkToProbe) {
  NetworkEntry t[1];
  t[0] = configured("10.1.2.3", "255.0.0.0");
  EXPECT_EQ(set_local_interface(t, false, 0, nullptr, 0), 0);
  EXPECT_EQ(t[0].network, 0u);
  EXPECT_EQ(t[0].mask, 0u);
}

const char kHive[] =
    "REGEDIT4\n\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\NetTrans"
    "\\0000]\n\"IPAddress\"=\"0.0.0.0\"\n\"IPMask\"=\"255.255.255.0\"\n\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\NetTrans"
    "\\0003]\n\"IPAddress\"=\"172.16.5.9\"\n\"IPMask\"=\"255.255.255.0\"\n\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\NetTrans"
    "\\0015]\n\"IPAddress\"=\"10.1.2.3\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
    "\\NetworkCards\\1]\n\"ServiceName\"=\"El90x1\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
    "\\NetworkCards\\2]\n\"ServiceName\"=\"NdisWan4\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
    "\\NetworkCards\\12]\n\"ServiceName\"=\"E100B1\"\n\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\El90x1"
    "\\Parameters\\Tcpip]\n\"IPAddress\"=\"192.168.7.20\"\n"
    "\"SubnetMask\"=\"255.255.255.0\"\n\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\NdisWan4"
    "\\Parameters\\Tcpip]\n\"IPAddress\"=\"0.0.0.0\"\n"
    "\"SubnetMask\"=\"0.0.0.0\"\n\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\E100B1"
    "\\Parameters\\Tcpip]\n\"IPAddress\"=\"dhcp\"\n"
    "\"SubnetMask\"=\"255.255.0.0\"\n";

TEST(ConfiguredInterfacesTest, Windows9xKeysSkipZeroAndIncompleteEntries) {
  tav_test::TempHive hive(kHive);
  NetworkEntry list[kMaxConfiguredInterfaces];
  ASSERT_EQ(read_configured_interfaces(kPlatformWin9x, list, 20), 1);
  EXPECT_EQ(list[0].local_address, ip("172.16.5.9"));
  EXPECT_EQ(list[0].network, ip("172.16.5.0"));
  EXPECT_EQ(list[0].mask, ip("255.255.255.0"));
  EXPECT_EQ(list[0].mask_guessed, 0u);
  EXPECT_EQ(read_interfaces_9x(list, 0), 0);
}

TEST(ConfiguredInterfacesTest, WindowsNtKeysByServiceName) {
  tav_test::TempHive hive(kHive);
  NetworkEntry list[kMaxConfiguredInterfaces];
  // The zero address is dropped; text that is no address converts to
  // 255.255.255.255 and is kept as such.
  ASSERT_EQ(read_configured_interfaces(kPlatformWinNt, list, 20), 2);
  EXPECT_EQ(list[0].network, ip("192.168.7.0"));
  EXPECT_EQ(list[1].local_address, 0xFFFFFFFFu);
  EXPECT_EQ(list[1].network, ip("255.255.0.0"));
  // The maximum applies to the service names read.
  EXPECT_EQ(read_interfaces_nt(list, 1), 1);
}

TEST(ConfiguredInterfacesTest, PosixReaderTakesInterfacesThatAreUp) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  NetworkEntry list[kMaxConfiguredInterfaces];
  int n = read_interfaces_posix(list, kMaxConfiguredInterfaces);
  bool loopback = false;
  for (int i = 0; i < n; ++i)
    loopback = loopback || (list[i].local_address == ip("127.0.0.1") &&
                            list[i].mask == ip("255.0.0.0") &&
                            list[i].network == ip("127.0.0.0"));
  EXPECT_TRUE(loopback);
}

TEST(NetworkTableTest, LoopbackHostGetsOneEntryWithItsConfiguredMask) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  NetworkEntry t[kNetworkCapacity];
  ASSERT_EQ(build_network_table(t, kNetworkCapacity, 2), 1);
  EXPECT_EQ(net::ntohl_(t[0].local_address) >> 24, 127u);
  EXPECT_EQ(broadcast_address_of(t[0]), ip("127.255.255.255"));
  EXPECT_EQ(t[0].mask_guessed, 0u);
}

}  // namespace

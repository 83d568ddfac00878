#include "discovery/ip/network_table.h"

#include <gtest/gtest.h>

#include "tests/discovery/helpers.h"
#include "tests/support/scratch.h"

namespace {

using tav_test::ip;

TEST(NaturalMaskTest, ByAddressClass) {
  const char* cases[][2] = {
      {"10.1.2.3", "255.0.0.0"},      {"127.0.0.1", "255.0.0.0"},
      {"172.16.5.9", "255.255.0.0"},  {"192.168.1.1", "255.255.255.0"},
      {"224.0.0.9", "255.255.255.0"}, {"250.1.1.1", "255.255.255.0"}};
  for (auto& c : cases) EXPECT_EQ(natural_mask_of(ip(c[0])), ip(c[1])) << c[0];
}

TEST(LocalInterfaceTest, ConfiguredMaskWinsElseTheNaturalOne) {
  NetworkEntry t[1] = {};
  NetworkEntry list[3] = {tav_test::local_entry("10.9.9.9", "255.255.255.0"),
                          tav_test::local_entry("172.16.5.9", "255.255.0.0"),
                          tav_test::local_entry("172.16.5.9", "255.255.255.0")};
  EXPECT_EQ(set_local_interface(t, true, ip("10.1.2.3"), list, 1), 1);
  EXPECT_EQ(t[0].network, ip("10.0.0.0"));
  EXPECT_EQ(t[0].mask, ip("255.0.0.0"));
  EXPECT_EQ(t[0].mask_guessed, 1u);
  // Of two matches the last counts.
  EXPECT_EQ(set_local_interface(t, true, ip("172.16.5.9"), list, 3), 1);
  EXPECT_EQ(t[0].network, ip("172.16.5.0"));
  EXPECT_EQ(t[0].mask, ip("255.255.255.0"));
  EXPECT_EQ(t[0].mask_guessed, 0u);
  EXPECT_EQ(t[0].natural_mask, ip("255.255.0.0"));
  // An unknown host address leaves no network to probe.
  EXPECT_EQ(set_local_interface(t, false, 0, nullptr, 0), 0);
  EXPECT_EQ(t[0].network, 0u);
  EXPECT_EQ(t[0].mask, 0u);
}

// The Windows readers stay and are tried against a hive.
TEST(ConfiguredInterfacesTest, Windows9xAndNtKeys) {
  tav_test::ScratchHive hive(R"(REGEDIT4
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\NetTrans\0000]
"IPAddress"="0.0.0.0"
"IPMask"="255.255.255.0"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\NetTrans\0003]
"IPAddress"="172.16.5.9"
"IPMask"="255.255.255.0"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\NetTrans\0015]
"IPAddress"="10.1.2.3"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards\1]
"ServiceName"="El90x1"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards\2]
"ServiceName"="NdisWan4"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\El90x1\Parameters\Tcpip]
"IPAddress"="192.168.7.20"
"SubnetMask"="255.255.255.0"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\NdisWan4\Parameters\Tcpip]
"IPAddress"="0.0.0.0"
"SubnetMask"="0.0.0.0"
)");
  NetworkEntry list[kMaxConfiguredInterfaces];
  // 9x: the zero address and the entry without a mask are skipped.
  ASSERT_EQ(read_configured_interfaces(kPlatformWin9x, list, 20), 1);
  EXPECT_EQ(list[0].local_address, ip("172.16.5.9"));
  EXPECT_EQ(list[0].network, ip("172.16.5.0"));
  EXPECT_EQ(list[0].mask, ip("255.255.255.0"));
  EXPECT_EQ(list[0].mask_guessed, 0u);
  EXPECT_EQ(read_interfaces_9x(list, 0), 0);
  // NT: the zero address is dropped.
  ASSERT_EQ(read_configured_interfaces(kPlatformWinNt, list, 20), 1);
  EXPECT_EQ(list[0].network, ip("192.168.7.0"));
  EXPECT_EQ(list[0].mask, ip("255.255.255.0"));
}

}  // namespace

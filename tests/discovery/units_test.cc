// The unit lists: add_unit's duplicate check, default names and overflow,
// the naming modes, the byte-wise sort, and the published snapshots.
#include "discovery/units.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

net::SockAddrIn from(const char* dotted) {
  return net::make_addr_in(net::inet_addr(dotted), 161);
}

// A hardware address whose bytes 3 to 5 are given.
struct Hw {
  uint8_t b[6];
  Hw(uint8_t b3, uint8_t b4, uint8_t b5) : b{0x00, 0x40, 0xAF, b3, b4, b5} {}
};

void use_discovery_model_strings() {
  set_unit_model_strings("VEM_", "Print Server", "MIO Based Printer", 10001, 3);
}

TEST(AddUnitTest, NamesFromHardwareAddressInMode3) {
  use_discovery_model_strings();
  UnitRecord list[4] = {};
  EXPECT_EQ(add_unit(from("10.0.0.5"), Hw(0x12, 0x34, 0x56).b, list, 4, 0), 1);
  EXPECT_STREQ(list[0].name, "VEM_149130");
  EXPECT_EQ(list[0].address.sin_family, 2);
  EXPECT_EQ(net::ntohs_(list[0].address.sin_port), 10001);
  EXPECT_EQ(list[0].address.sin_addr, net::inet_addr("10.0.0.5"));
  EXPECT_STREQ(list[0].description, "");
}

TEST(AddUnitTest, UnitNumberHasSixDigitsOrSevenAtTheTop) {
  use_discovery_model_strings();
  UnitRecord list[4] = {};
  int n = add_unit(from("10.0.0.1"), Hw(0xFF, 0xFF, 0xFF).b, list, 4, 0);
  n = add_unit(from("10.0.0.2"), Hw(0x00, 0x00, 0x00).b, list, 4, n);
  n = add_unit(from("10.0.0.3"), Hw(0x00, 0x00, 0x08).b, list, 4, n);
  ASSERT_EQ(n, 3);
  EXPECT_STREQ(list[0].name, "VEM_2097151");
  EXPECT_STREQ(list[1].name, "VEM_000000");
  EXPECT_STREQ(list[2].name, "VEM_000001");
}

TEST(AddUnitTest, SameIpv4AddressIsListedOnce) {
  use_discovery_model_strings();
  UnitRecord list[4] = {};
  int n = add_unit(from("10.0.0.5"), Hw(1, 2, 3).b, list, 4, 0);
  // A second reply from the same address, another port and hardware.
  net::SockAddrIn again = net::make_addr_in(net::inet_addr("10.0.0.5"), 9);
  n = add_unit(again, Hw(9, 9, 9).b, list, 4, n);
  EXPECT_EQ(n, 1);
  EXPECT_STREQ(list[0].name, "VEM_008256");
  // A different address with a colliding unit number stays: bytes 3 and 4
  // agree, byte 5 differs only in its three low bits.
  n = add_unit(from("10.0.0.6"), Hw(1, 2, 7).b, list, 4, n);
  EXPECT_EQ(n, 2);
  EXPECT_STREQ(list[1].name, list[0].name);
}

TEST(AddUnitTest, FullListRefusesTheNextUnit) {
  use_discovery_model_strings();
  std::vector<UnitRecord> list(kIpUnitCapacity + 1);
  std::memset(list[kIpUnitCapacity].name, 'x', 10);  // beyond the capacity
  int n = 0;
  for (int i = 0; i < kIpUnitCapacity; ++i) {
    char dotted[16];
    std::snprintf(dotted, sizeof dotted, "10.1.%d.%d", i / 250, i % 250 + 1);
    n = add_unit(from(dotted), Hw(0, 0, 0).b, list.data(), kIpUnitCapacity, n);
  }
  ASSERT_EQ(n, kIpUnitCapacity);
  testing::internal::CaptureStdout();
  n = add_unit(from("10.9.9.9"), Hw(0, 0, 0).b, list.data(), kIpUnitCapacity,
               n);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "List overflow.\n");
  EXPECT_EQ(n, kIpUnitCapacity);
  EXPECT_EQ(std::string(list[kIpUnitCapacity].name, 10), "xxxxxxxxxx");
}

TEST(AddUnitTest, NamingModes) {
  UnitRecord list[8] = {};
  int n = 0;
  set_unit_model_strings("PS_", "Print Server", "MIO Based Printer", 10001, 0);
  n = add_unit(from("10.0.0.1"), Hw(0x12, 0x34, 0x56).b, list, 8, n);
  EXPECT_STREQ(list[0].name, "PS_149130");
  // Mode 3 always takes the built-in prefix.
  set_unit_model_strings("PS_", "Print Server", "MIO Based Printer", 10001, 3);
  n = add_unit(from("10.0.0.2"), Hw(0x12, 0x34, 0x56).b, list, 8, n);
  EXPECT_STREQ(list[1].name, "VEM_149130");
  for (int mode : {1, 2}) {
    set_unit_model_strings("PS_", "x", "y", 10001, mode);
    n = add_unit(from(mode == 1 ? "192.168.10.201" : "10.0.0.3"), Hw(1, 2, 3).b,
                 list, 8, n);
  }
  EXPECT_STREQ(list[2].name, "192.168.10.201");
  EXPECT_STREQ(list[3].name, "10.0.0.3");
  EXPECT_EQ(n, 4);
}

TEST(AddUnitTest, ModeOutsideRangeLeavesPreviousMode) {
  set_unit_model_strings("VEM_", "Print Server", "MIO", 10001, 1);
  for (int bad : {4, -1, 100}) {
    set_unit_model_strings("VEM_", "Print Server", "MIO", 10002, bad);
    EXPECT_EQ(unit_model_strings().naming_mode, 1) << bad;
  }
  // The other slots are still taken.
  EXPECT_EQ(unit_model_strings().default_unit_port, 10002);
  UnitRecord list[1] = {};
  add_unit(from("10.0.0.7"), Hw(1, 2, 3).b, list, 1, 0);
  EXPECT_STREQ(list[0].name, "10.0.0.7");
  EXPECT_EQ(net::ntohs_(list[0].address.sin_port), 10002);
}

TEST(AddUnitTest, ModelTextsAreCopiedAndCutToTheirFields) {
  char prefix[64];
  std::memset(prefix, 'P', 50);
  prefix[50] = '\0';
  set_unit_model_strings(prefix, "Print Server", "MIO Based Printer", 10001, 0);
  std::strcpy(prefix, "changed");  // the set keeps its own copy
  UnitRecord list[1] = {};
  add_unit(from("10.0.0.8"), Hw(1, 2, 3).b, list, 1, 0);
  EXPECT_EQ(std::string(list[0].name), std::string(40, 'P'));
  EXPECT_STREQ(unit_model_strings().mio_description, "MIO Based Printer");
  use_discovery_model_strings();
}

template <typename Record>
std::vector<std::string> sorted_names(std::vector<std::string> names,
                                      void (*sort)(Record*, int)) {
  std::vector<Record> list(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    std::snprintf(list[i].name, sizeof list[i].name, "%s", names[i].c_str());
  }
  sort(list.data(), static_cast<int>(list.size()));
  std::vector<std::string> out;
  for (const Record& r : list) out.emplace_back(r.name);
  return out;
}

TEST(SortUnitsTest, BytewiseCaseSensitiveAndUnsigned) {
  const std::vector<std::string> names = {
      "vem_0", "\xC3\xA9t\xC3\xA9", "Zeta", "VEM_1", "VEM", "alpha", "VEM_10"};
  const std::vector<std::string> expected = {
      "VEM", "VEM_1", "VEM_10", "Zeta", "alpha", "vem_0", "\xC3\xA9t\xC3\xA9"};
  EXPECT_EQ(sorted_names<UnitRecord>(names, sort_units), expected);
  EXPECT_EQ(sorted_names<IpxUnitRecord>(names, sort_ipx_units), expected);
}

TEST(PublishedUnitsTest, SnapshotIsACopyOfTheCountedRecords) {
  std::vector<UnitRecord> list(3);
  for (int i = 0; i < 3; ++i) {
    std::snprintf(list[i].name, sizeof list[i].name, "U%d", i);
  }
  publish_ip_units(list.data(), 2);
  std::strcpy(list[0].name, "rebuilt");  // the next run rebuilds in place
  auto snap = published_ip_units();
  ASSERT_EQ(snap->count, 2);
  EXPECT_STREQ(snap->units[0].name, "U0");
  EXPECT_STREQ(snap->units[1].name, "U1");
  // Out-of-range counts are clamped.
  publish_ip_units(list.data(), -5);
  EXPECT_EQ(published_ip_units()->count, 0);
  EXPECT_STREQ(snap->units[0].name, "U0") << "a held snapshot never changes";
}

// A reader on another thread while discovery publishes again and again:
// every snapshot it sees is one whole generation, never a mix.
TEST(PublishedUnitsTest, ReaderNeverSeesAPartialList) {
  constexpr int kGenerations = 200;
  std::atomic<bool> done{false};
  std::atomic<int> mixed{0};
  std::atomic<int> seen{0};
  // Lists that earlier tests published are not of this test's making.
  publish_ip_units(nullptr, 0);
  publish_ipx_units(nullptr, 0);
  std::thread reader([&] {
    // At least one pass after the last publication, however threads run.
    bool last = false;
    while (!last) {
      last = done.load();
      auto ip = published_ip_units();
      auto ipx = published_ipx_units();
      if (ip->count > 0) {
        int gen = std::atoi(ip->units[0].name + 1);
        if (ip->count != gen % 50 + 1) mixed++;
        for (int i = 0; i < ip->count; ++i) {
          if (std::strcmp(ip->units[i].name, ip->units[0].name) != 0) mixed++;
        }
        seen++;
      }
      for (int i = 1; i < ipx->count; ++i) {
        if (std::strcmp(ipx->units[i].name, ipx->units[0].name) != 0) mixed++;
      }
    }
  });
  std::vector<UnitRecord> ip(kIpUnitCapacity);
  std::vector<IpxUnitRecord> ipx(kIpxUnitCapacity);
  for (int gen = 1; gen <= kGenerations; ++gen) {
    for (int i = 0; i < 50; ++i) {
      std::snprintf(ip[i].name, sizeof ip[i].name, "G%d", gen);
      std::snprintf(ipx[i].name, sizeof ipx[i].name, "G%d", gen);
    }
    publish_ip_units(ip.data(), gen % 50 + 1);
    publish_ipx_units(ipx.data(), gen % 50 + 1);
    std::this_thread::yield();
  }
  done = true;
  reader.join();
  EXPECT_EQ(mixed.load(), 0);
  EXPECT_GT(seen.load(), 0);
}

}  // namespace

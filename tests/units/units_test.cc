// The unit lists: add_unit's names, duplicate check and overflow, the
// naming modes, the byte-wise sort, and the published snapshots.
#include "units/units.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/discovery/helpers.h"

namespace {

net::SockAddrIn from(const char* dotted) {
  return net::make_addr_in(net::inet_addr(dotted), 161);
}

// A unit's hardware address 00-40-AF-b3-b4-b5.
struct Hw {
  uint8_t b[6];
  Hw(uint8_t b3, uint8_t b4, uint8_t b5) : b{0x00, 0x40, 0xAF, b3, b4, b5} {}
};

void models(const char* prefix, int mode, uint16_t port = 10001) {
  set_unit_model_strings(prefix, "Print Server", "MIO Based Printer", port,
                         mode);
}

TEST(AddUnitTest, DefaultNameByMode) {
  struct Case {
    const char* prefix;
    int mode;
    const char* address;
    Hw hw;
    const char* name;
  } cases[] = {
      {"VEM_", 3, "10.0.0.1", Hw(0x12, 0x34, 0x56), "VEM_149130"},
      {"VEM_", 3, "10.0.0.2", Hw(0xFF, 0xFF, 0xFF), "VEM_2097151"},
      {"VEM_", 3, "10.0.0.3", Hw(0, 0, 0), "VEM_000000"},
      {"PS_", 0, "10.0.0.5", Hw(0x12, 0x34, 0x56), "PS_149130"},
      {"PS_", 3, "10.0.0.6", Hw(0x12, 0x34, 0x56), "VEM_149130"},
      {"PS_", 1, "192.168.10.201", Hw(1, 2, 3), "192.168.10.201"},
      // A prefix longer than the name field is cut with it.
      {"PPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPP", 0, "10.0.0.8",
       Hw(1, 2, 3), "PPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPP"},
  };
  for (const Case& c : cases) {
    models(c.prefix, c.mode);
    UnitRecord list[1] = {};
    ASSERT_EQ(add_unit(from(c.address), c.hw.b, list, 1, 0), 1);
    EXPECT_STREQ(list[0].name, c.name) << c.address;
    EXPECT_EQ(list[0].address.sin_addr, net::inet_addr(c.address));
  }
  // A mode outside 0 to 3 leaves the mode; the other values are taken.
  models("VEM_", 2);
  models("VEM_", 4, 10002);
  models("VEM_", -1, 10002);
  UnitRecord list[1] = {};
  add_unit(from("10.0.0.8"), Hw(1, 2, 3).b, list, 1, 0);
  EXPECT_STREQ(list[0].name, "10.0.0.8");
  EXPECT_EQ(net::ntohs_(list[0].address.sin_port), 10002);
}

TEST(AddUnitTest, SameAddressListedOnceAndAFullListRefusesMore) {
  models("VEM_", 3);
  std::vector<UnitRecord> list(kIpUnitCapacity + 1);
  std::memset(list[kIpUnitCapacity].name, 'x', 10);  // beyond the capacity
  int n = add_unit(from("10.0.0.5"), Hw(1, 2, 3).b, list.data(), 4, 0);
  n = add_unit(net::make_addr_in(net::inet_addr("10.0.0.5"), 9), Hw(9, 9, 9).b,
               list.data(), 4, n);
  ASSERT_EQ(n, 1);
  EXPECT_STREQ(list[0].name, "VEM_008256");
  // Another address whose unit number collides stays.
  n = add_unit(from("10.0.0.6"), Hw(1, 2, 7).b, list.data(), 4, n);
  ASSERT_EQ(n, 2);
  while (n < kIpUnitCapacity)
    n = add_unit(net::make_addr_in(net::htonl_(0x0A010001u + uint32_t(n)), 1),
                 Hw(0, 0, 0).b, list.data(), kIpUnitCapacity, n);
  EXPECT_EQ(tav_test::stdout_of([&] {
              n = add_unit(from("10.9.9.9"), Hw(0, 0, 0).b, list.data(),
                           kIpUnitCapacity, n);
            }),
            "List overflow.\n");
  EXPECT_EQ(n, kIpUnitCapacity);
  EXPECT_EQ(std::string(list[kIpUnitCapacity].name, 10), "xxxxxxxxxx");
}

template <typename Record>
std::vector<std::string> sorted(const std::vector<std::string>& names,
                                void (*sort)(Record*, int)) {
  std::vector<Record> list(names.size());
  for (size_t i = 0; i < names.size(); ++i)
    std::snprintf(list[i].name, sizeof list[i].name, "%s", names[i].c_str());
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
  EXPECT_EQ(sorted<UnitRecord>(names, sort_units), expected);
  EXPECT_EQ(sorted<IpxUnitRecord>(names, sort_ipx_units), expected);
}

// A held snapshot never changes; a concurrent reader sees whole generations.
TEST(PublishedUnitsTest, SnapshotsAreWholeCopiesOfTheCountedRecords) {
  std::vector<UnitRecord> list(50);
  std::strcpy(list[0].name, "U0");
  publish_ip_units(list.data(), 1);
  auto held = published_ip_units();
  publish_ip_units(list.data(), 0);  // the reader starts from no units
  std::atomic<bool> done{false};
  std::atomic<int> mixed{0};
  std::thread reader([&] {
    while (!done.load()) {
      auto snap = published_ip_units();
      for (int i = 0; i < snap->count; ++i)
        mixed += snap->units[i].name[0] != snap->count;
    }
  });
  for (int n = 1; n <= 100; ++n) {
    for (UnitRecord& u : list) u.name[0] = static_cast<char>(n % 50 + 1);
    publish_ip_units(list.data(), n % 50 + 1);
  }
  done = true;
  reader.join();
  EXPECT_EQ(mixed.load(), 0);
  publish_ip_units(list.data(), -5);
  EXPECT_EQ(published_ip_units()->count, 0);
  ASSERT_EQ(held->count, 1);
  EXPECT_STREQ(held->units[0].name, "U0");
}

}  // namespace

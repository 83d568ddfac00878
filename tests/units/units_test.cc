// The unit lists: add_unit's names, duplicate check and overflow, the
// byte-wise sort, and the published snapshots.
#include "units/units.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/discovery/helpers.h"

namespace {

// Adds the unit at `dotted` whose hardware address is 00-40-AF-<low>.
int add(const char* dotted, uint32_t low, UnitRecord* list, int capacity,
        int count, uint16_t port = 161) {
  const uint8_t hw[6] = {
      0x00, 0x40, 0xAF, uint8_t(low >> 16), uint8_t(low >> 8), uint8_t(low)};
  return add_unit(net::make_addr_in(net::inet_addr(dotted), port), hw, list,
                  capacity, count);
}

void models(const char* prefix, int mode, uint16_t port = 10001) {
  set_unit_model_strings(prefix, "Print Server", "MIO Based Printer", port,
                         mode);
}

TEST(AddUnitTest, DefaultNameByMode) {
  const struct {
    const char* prefix;
    int mode;
    const char* address;
    uint32_t low;
    const char* name;
  } cases[] = {
      {"VEM_", 3, "10.0.0.2", 0xFFFFFF, "VEM_2097151"},
      {"VEM_", 3, "10.0.0.3", 0, "VEM_000000"},
      {"PS_", 0, "10.0.0.5", 0x123456, "PS_149130"},
      {"PS_", 3, "10.0.0.6", 0x123456, "VEM_149130"},  // the built-in prefix
      {"PS_", 1, "192.168.10.201", 0x010203, "192.168.10.201"},
      // A prefix longer than the name field is cut with it.
      {"PPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPP", 0, "10.0.0.8",
       0x010203, "PPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPP"},
  };
  for (const auto& c : cases) {
    models(c.prefix, c.mode);
    UnitRecord list[1] = {};
    ASSERT_EQ(add(c.address, c.low, list, 1, 0), 1);
    EXPECT_STREQ(list[0].name, c.name) << c.address;
    EXPECT_EQ(list[0].address.sin_addr, net::inet_addr(c.address));
  }
  // A mode outside 0 to 3 leaves the mode; the other values are taken.
  models("VEM_", 2);
  models("VEM_", 4, 10002);
  models("VEM_", -1, 10002);
  UnitRecord list[1] = {};
  add("10.0.0.8", 0x010203, list, 1, 0);
  EXPECT_STREQ(list[0].name, "10.0.0.8");
  EXPECT_EQ(net::ntohs_(list[0].address.sin_port), 10002);
}

TEST(AddUnitTest, SameAddressListedOnceAndAFullListRefusesMore) {
  models("VEM_", 3);
  std::vector<UnitRecord> list(kIpUnitCapacity + 1);
  std::memset(list[kIpUnitCapacity].name, 'x', 10);  // beyond the capacity
  int n = add("10.0.0.5", 0x010203, list.data(), 4, 0);
  ASSERT_EQ(n = add("10.0.0.5", 0x090909, list.data(), 4, n, 9), 1);
  EXPECT_STREQ(list[0].name, "VEM_008256");
  // Another address whose unit number collides stays.
  ASSERT_EQ(n = add("10.0.0.6", 0x010207, list.data(), 4, n), 2);
  const uint8_t zero[6] = {};
  while (n < kIpUnitCapacity)
    n = add_unit(net::make_addr_in(net::htonl_(0x0A010001u + uint32_t(n)), 1),
                 zero, list.data(), kIpUnitCapacity, n);
  EXPECT_EQ(tav_test::stdout_of([&] {
              n = add("10.9.9.9", 0, list.data(), kIpUnitCapacity, n);
            }),
            "List overflow.\n");
  EXPECT_EQ(n, kIpUnitCapacity);
  EXPECT_EQ(std::string(list[kIpUnitCapacity].name, 10), "xxxxxxxxxx");
}

template <typename Record>
std::string sorted(void (*sort)(Record*, int)) {
  const char* names[] = {
      "vem_0", "\xC3\xA9t\xC3\xA9", "Zeta", "VEM_1", "VEM", "alpha", "VEM_10"};
  Record list[7] = {};
  for (int i = 0; i < 7; ++i) std::strcpy(list[i].name, names[i]);
  sort(list, 7);
  std::string out;
  for (const Record& r : list) out += std::string(r.name) + " ";
  return out;
}

TEST(SortUnitsTest, BytewiseCaseSensitiveAndUnsigned) {
  const char expected[] =
      "VEM VEM_1 VEM_10 Zeta alpha vem_0 \xC3\xA9t\xC3\xA9 ";
  EXPECT_EQ(sorted<UnitRecord>(sort_units), expected);
  EXPECT_EQ(sorted<IpxUnitRecord>(sort_ipx_units), expected);
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

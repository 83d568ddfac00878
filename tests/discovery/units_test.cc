#include "discovery/units.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

net::SockAddrIn from(const char* dotted) {
  return net::make_addr_in(net::inet_addr(dotted), 161);
}

TEST(AddUnitTest, NamesFromHardwareAddressInMode3) {
  set_unit_model_strings("VEM_", "Print Server", "MIO Based Printer", 10001, 3);
  UnitRecord list[4] = {};
  const uint8_t hw[6] = {0x00, 0x40, 0xAF, 0x12, 0x34, 0x56};
  EXPECT_EQ(add_unit(from("10.0.0.5"), hw, list, 4, 0), 1);
  EXPECT_STREQ(list[0].name, "VEM_149130");
  EXPECT_EQ(list[0].address.sin_family, 2);
  EXPECT_EQ(net::ntohs_(list[0].address.sin_port), 10001);
}

}  // namespace

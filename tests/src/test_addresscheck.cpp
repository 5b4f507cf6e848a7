// The box's address as typed, and the PC address chosen to face it.
#include "src/addresscheck.h"

#include <gtest/gtest.h>

namespace {

TEST(Address, OnlyFourDecimalNumbersUpTo255) {
  for (const char *good : {"192.168.102.45", "0.0.0.0", "255.255.255.255", "10.0.0.1"})
    EXPECT_TRUE(is_dotted_ipv4(good)) << good;
  for (const char *bad : {"", "192.168.102", "192.168.102.45.1", "192.168.102.256", "192.168.1.050",
                          "192.168.1.-1", "192.168.1.1 ", " 192.168.1.1", "1.2.3.4;reboot", "0x7f.0.0.1",
                          "1..2.3", "1.2.3.", "192.168.1.1000", "box.local", "::1"})
    EXPECT_FALSE(is_dotted_ipv4(bad)) << bad;
}

struct FacingRow {
  const char *name;
  std::vector<std::string> pc;
  const char *box;
  std::vector<std::string> want;  // all facing addresses; the first is the automatic choice
};

TEST(Address, ThePcAddressesInTheBoxSubnetAreOfferedFirstOneChosen) {
  const FacingRow rows[] = {
      {"second interface", {"10.0.0.5", "192.168.102.10", "172.16.0.2"}, "192.168.102.45", {"192.168.102.10"}},
      {"two in the subnet, in the PC's order",
       {"192.168.102.20", "10.0.0.5", "192.168.102.10"},
       "192.168.102.45",
       {"192.168.102.20", "192.168.102.10"}},
      {"one address on two cards", {"192.168.102.20", "192.168.102.20"}, "192.168.102.45", {"192.168.102.20"}},
      {"none in the subnet", {"10.0.0.5", "192.168.103.10"}, "192.168.102.45", {}},
      {"no interfaces", {}, "192.168.102.45", {}},
      {"box not an address", {"192.168.102.10"}, "192.168.102", {}},
      {"same first three numbers only", {"192.168.10.2"}, "192.168.102.45", {}},
  };
  for (const FacingRow &row : rows) {
    EXPECT_EQ(addresses_facing(row.pc, row.box), row.want) << row.name;
    EXPECT_EQ(address_facing(row.pc, row.box), row.want.empty() ? "" : row.want.front()) << row.name;
  }
}

}  // namespace

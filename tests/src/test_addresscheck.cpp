// The box's address as typed, and the PC address chosen to face it.
#include "src/addresscheck.h"
#include "src/upgradeengine.h"

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

// The /24's own network and broadcast addresses are no box's; the window's refusal says why.
TEST(Address, NetworkAndBroadcastAddressesAreNoBoxs) {
  const struct {
    const char *address;
    const char *problem;
  } rows[] = {{"192.168.102.45", ""},
              {"192.168.102.1", ""},
              {"192.168.102.254", ""},
              {"192.168.102.0", "the network address"},
              {"192.168.102.255", "the broadcast address"},
              {"10.255.255.255", "the broadcast address"},
              {"0.0.0.0", "the network address"}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.address);
    EXPECT_EQ(host_address_problem(row.address), row.problem);
    const std::string refusal = machine_ip_refusal(row.address);
    if (*row.problem)
      EXPECT_EQ(refusal.rfind(std::string("The Machine-IP ") + row.address + " is " + row.problem, 0), 0u)
          << refusal;
    else
      EXPECT_EQ(refusal, "");
  }
}

struct FacingRow {
  const char *name;
  std::vector<std::string> pc;
  const char *box;
  std::vector<std::string> want;  // all facing addresses; the first is the automatic choice
};

TEST(Address, ThePcAddressesInTheBoxSubnetAreOfferedFirstOneChosen) {
  const FacingRow rows[] = {
      {"second interface",
       {"10.0.0.5", "192.168.102.10", "172.16.0.2"},
       "192.168.102.45",
       {"192.168.102.10"}},
      {"two in the subnet, in the PC's order",
       {"192.168.102.20", "10.0.0.5", "192.168.102.10"},
       "192.168.102.45",
       {"192.168.102.20", "192.168.102.10"}},
      {"one address on two cards",
       {"192.168.102.20", "192.168.102.20"},
       "192.168.102.45",
       {"192.168.102.20"}},
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

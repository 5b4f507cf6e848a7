// The two addresses an upgrade needs: the box's, typed by the technician, and the PC's own
// address that the box fetches its images from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// True for four decimal numbers 0..255 joined by dots ("192.168.1.50"). Leading zeros are
// refused: some parsers read them as octal, and the box must get the address the user meant.
bool is_dotted_ipv4(std::string_view text);

// Why a dotted IPv4 address cannot be a box's in its /24 network: "" for a host's address,
// else "the network address" (last number 0) or "the broadcast address" (255) of it. The
// box would take either and then reach nobody, or everybody.
std::string host_address_problem(std::string_view address);

// Of the PC's addresses, the first in the same /24 network as `box`; empty when none is (or
// when `box` is not a dotted IPv4 address). On a PC with several interfaces this is the one
// the box can reach.
std::string address_facing(const std::vector<std::string> &pc_addresses, std::string_view box);

// Every one of the PC's addresses in the /24 network of `box`, in the PC's order, each once:
// with two cards on the box's network either may be the one cabled to the box.
std::vector<std::string> addresses_facing(const std::vector<std::string> &pc_addresses, std::string_view box);

#include "src/addresscheck.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace {

std::optional<std::array<int, 4>> parse(std::string_view text) {
  std::array<int, 4> parts{};
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != '.')
        return std::nullopt;
      ++at;
    }
    size_t begin = at;
    int value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - begin < 3)
      value = value * 10 + (text[at++] - '0');
    size_t digits = at - begin;
    if (digits == 0 || value > 255 || (digits > 1 && text[begin] == '0'))
      return std::nullopt;
    parts[size_t(i)] = value;
  }
  if (at != text.size())
    return std::nullopt;
  return parts;
}

}  // namespace

bool is_dotted_ipv4(std::string_view text) { return parse(text).has_value(); }

std::string host_address_problem(std::string_view address) {
  auto parts = parse(address);
  if (parts && (*parts)[3] == 0)
    return "the network address";
  if (parts && (*parts)[3] == 255)
    return "the broadcast address";
  return {};
}

std::vector<std::string> addresses_facing(const std::vector<std::string> &pc_addresses,
                                          std::string_view box) {
  std::vector<std::string> facing;
  auto target = parse(box);
  if (!target)
    return facing;
  for (const std::string &candidate : pc_addresses) {
    auto mine = parse(candidate);
    if (mine && (*mine)[0] == (*target)[0] && (*mine)[1] == (*target)[1] && (*mine)[2] == (*target)[2] &&
        std::find(facing.begin(), facing.end(), candidate) == facing.end())
      facing.push_back(candidate);
  }
  return facing;
}

std::string address_facing(const std::vector<std::string> &pc_addresses, std::string_view box) {
  std::vector<std::string> facing = addresses_facing(pc_addresses, box);
  return facing.empty() ? std::string() : facing.front();
}

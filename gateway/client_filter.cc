#include "gateway/client_filter.h"

#include <charconv>
#include <memory>
#include <mutex>

namespace {

std::mutex g_filter_mutex;
std::shared_ptr<const std::vector<AllowedNetwork>> g_filter;

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

// A decimal number up to max, the whole of text.
bool number(std::string_view text, uint32_t max, uint32_t* out) {
  if (text.empty() || text.size() > 3) return false;
  auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size() && *out <= max;
}

bool dotted_quad(std::string_view text, uint32_t* out) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    size_t dot = i < 3 ? text.find('.') : text.size();
    uint32_t part = 0;
    if (dot == std::string_view::npos ||
        !number(text.substr(0, dot), 255, &part))
      return false;
    value = value << 8 | part;
    text.remove_prefix(i < 3 ? dot + 1 : dot);
  }
  *out = value;
  return true;
}

AllowedNetwork network(uint32_t address, uint32_t mask) {
  return {address & mask, mask};
}

uint32_t mask_of_prefix(uint32_t bits) {
  return bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
}

}  // namespace

bool parse_allow_list(std::string_view text, std::vector<AllowedNetwork>* out) {
  std::vector<AllowedNetwork> list;
  for (;;) {
    size_t comma = text.find(',');
    std::string_view item = trimmed(text.substr(0, comma));
    size_t slash = item.find('/');
    uint32_t address = 0;
    uint32_t bits = 32;
    if (!dotted_quad(item.substr(0, slash), &address)) return false;
    if (slash != std::string_view::npos &&
        !number(item.substr(slash + 1), 32, &bits))
      return false;
    list.push_back(network(address, mask_of_prefix(bits)));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  *out = std::move(list);
  return true;
}

std::vector<AllowedNetwork> own_networks(
    const std::vector<net::ConfiguredInterface>& interfaces) {
  std::vector<AllowedNetwork> list{network(0x7F000000u, 0xFF000000u)};
  for (const net::ConfiguredInterface& i : interfaces)
    list.push_back(network(net::ntohl_(i.address), net::ntohl_(i.mask)));
  return list;
}

bool network_list_allows(const std::vector<AllowedNetwork>& list,
                         uint32_t addr) {
  uint32_t a = net::ntohl_(addr);
  for (const AllowedNetwork& n : list)
    if ((a & n.mask) == n.address) return true;
  return false;
}

void set_client_filter(std::vector<AllowedNetwork> list) {
  auto filter =
      std::make_shared<const std::vector<AllowedNetwork>>(std::move(list));
  std::lock_guard<std::mutex> lock(g_filter_mutex);
  g_filter = std::move(filter);
}

bool client_allowed(uint32_t addr) {
  std::shared_ptr<const std::vector<AllowedNetwork>> filter;
  {
    std::lock_guard<std::mutex> lock(g_filter_mutex);
    filter = g_filter;
  }
  return filter == nullptr || network_list_allows(*filter, addr);
}

#include "sim/ipx_units.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/net.h"

namespace sim {

// Hex digits to bytes, skipping '-' and ':'; false unless exactly `n`.
bool parse_hex(const std::string& text, uint8_t* out, size_t n) {
  std::string digits;
  for (char c : text)
    if (c != '-' && c != ':') digits += c;
  if (digits.size() != 2 * n) return false;
  for (size_t i = 0; i < n; ++i) {
    char* end = nullptr;
    std::string pair = digits.substr(2 * i, 2);
    unsigned long v = std::strtoul(pair.c_str(), &end, 16);
    if (*end != '\0') return false;
    out[i] = static_cast<uint8_t>(v);
  }
  return true;
}

namespace {

std::string global(const Config& config, const char* key) {
  auto it = config.globals.find(key);
  return it == config.globals.end() ? std::string() : it->second;
}

}  // namespace

bool ipx_in_frames() { return net::ipx_mode() == net::IpxMode::kEthernet; }

ipx::Stack* unit_stack(const Config& config, const Entity& e,
                       std::string* error) {
  static std::mutex mu;
  static auto* stacks = new std::map<ipx::Mac, std::unique_ptr<ipx::Stack>>();
  ipx::StackOptions options;
  std::string name = e.get("name", e.kind);
  if (e.has("ipx-node")) {
    if (!parse_hex(e.get("ipx-node"), options.node.data(), 6)) {
      *error = "unit " + name + ": bad ipx-node";
      return nullptr;
    }
  } else {
    uint32_t ip = net::inet_addr(e.get("ip", "127.0.0.1").c_str());
    std::memcpy(options.node.data() + 2, &ip, 4);
  }
  std::string frames = e.get("frame", "ethernet_ii");
  for (char& c : frames)
    if (c == '+' || c == ';') c = ',';
  options.broadcast_types = ipx::parse_frame_types(frames.c_str());
  options.receive_types = options.broadcast_types;
  if (options.broadcast_types == 0) {
    *error = "unit " + name + ": bad frame " + e.get("frame");
    return nullptr;
  }
  // A unit's own keys put it on another segment (behind a router).
  options.interface = e.get("ipx-interface", global(config, "ipx-interface"));
  if (options.interface.empty()) options.interface = net::own_interface_name();
  std::string network = e.get("ipx-network", global(config, "ipx-network"));
  if (!network.empty() && !parse_hex(network, options.network.data(), 4)) {
    *error = "bad --ipx-network " + network;
    return nullptr;
  }
  std::istringstream per_type(e.get("ipx-networks"));
  for (std::string item; std::getline(per_type, item, ';');) {
    size_t colon = item.find(':');
    ipx::FrameTypes t =
        colon == std::string::npos
            ? 0
            : ipx::parse_frame_types(item.substr(0, colon).c_str());
    if (std::popcount(t) != 1 ||
        !parse_hex(item.substr(colon + 1),
                   options.type_networks[std::countr_zero(t)].data(), 4)) {
      *error = "unit " + name + ": bad ipx-networks " + item;
      return nullptr;
    }
  }
  std::string loss = global(config, "ipx-loss");
  int drop = 0, reorder = 0;
  if (!loss.empty() &&
      std::sscanf(loss.c_str(), "%d/%d", &drop, &reorder) < 1) {
    *error = "bad --ipx-loss " + loss;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mu);
  auto it = stacks->find(options.node);
  if (it != stacks->end()) return it->second.get();
  int code = 0;
  std::unique_ptr<ipx::Stack> stack = ipx::Stack::start(options, &code);
  if (!stack) {
    *error = "unit " + name + ": no IPX stack on " +
             (options.interface.empty() ? "the host's interface"
                                        : options.interface) +
             " (error " +
             std::to_string(
                 code >= 10000 ? code : net::winsock_error_from_errno(code)) +
             ")";
    return nullptr;
  }
  stack->set_loss(drop, reorder);
  net::register_ipx_stack(stack.get());
  ipx::Stack* kept = stack.get();
  (*stacks)[options.node] = std::move(stack);
  return kept;
}

}  // namespace sim

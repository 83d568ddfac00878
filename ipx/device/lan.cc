#include "ipx/device/lan.h"

#include <algorithm>

namespace ipx {

Lan::Port::Port(Lan& lan) : lan_(lan) { lan_.ports_.push_back(this); }

Lan::Port::~Port() {
  auto& ports = lan_.ports_;
  ports.erase(std::remove(ports.begin(), ports.end(), this), ports.end());
}

bool Lan::Port::receive(std::vector<uint8_t>* frame) {
  if (inbox_.empty()) return false;
  *frame = std::move(inbox_.front());
  inbox_.pop_front();
  return true;
}

void Lan::Port::transmit(std::span<const uint8_t> frame) {
  ++lan_.frames_;
  for (Port* p : lan_.ports_)
    if (p != this) p->inbox_.emplace_back(frame.begin(), frame.end());
}

}  // namespace ipx

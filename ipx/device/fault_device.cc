#include "ipx/device/fault_device.h"

namespace ipx {

bool FaultDevice::chance(int percent) {
  if (percent <= 0) return false;
  random_ ^= random_ << 13;
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  return static_cast<int>(random_ % 100) < percent;
}

bool FaultDevice::receive(std::vector<uint8_t>* frame) {
  if (release_in_) {
    release_in_ = false;
    frame->swap(held_in_);
    held_in_.clear();
    return true;
  }
  while (inner_.receive(frame)) {
    if (chance(drop_percent_)) continue;
    if (held_in_.empty() && chance(reorder_percent_)) {
      held_in_.swap(*frame);
      continue;
    }
    release_in_ = !held_in_.empty();
    return true;
  }
  if (held_in_.empty()) return false;  // no later frame came
  frame->swap(held_in_);
  held_in_.clear();
  return true;
}

void FaultDevice::transmit(std::span<const uint8_t> frame) {
  if (chance(drop_percent_)) return;
  if (held_out_.empty() && chance(reorder_percent_)) {
    held_out_.assign(frame.begin(), frame.end());
    return;
  }
  inner_.transmit(frame);
  flush();
}

void FaultDevice::flush() {
  if (!held_out_.empty()) inner_.transmit(held_out_);
  held_out_.clear();
  inner_.flush();
}

}  // namespace ipx

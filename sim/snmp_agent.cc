#include "sim/snmp_agent.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "sim/snmp_udp.h"

namespace sim {

namespace {

const std::vector<uint8_t> kOidHardware = {0x2B, 0x06, 0x01, 0x02, 0x01,
                                           0x02, 0x02, 0x01, 0x06, 0x01};
const std::vector<uint8_t> kOidDescription = {0x2B, 0x06, 0x01, 0x02,
                                              0x01, 0x01, 0x01, 0x00};
std::vector<uint8_t> unit_oid(uint8_t a, uint8_t b) {
  return {0x2B, 0x06, 0x01, 0x04, 0x01, 0x87, 0x05, 0x01, 0x01, a, b, 0x00};
}

// One BER element read from a buffer.
struct Tlv {
  uint8_t tag = 0;
  const uint8_t* content = nullptr;
  size_t length = 0;
};

bool read_tlv(const uint8_t** p, const uint8_t* end, Tlv* t) {
  if (end - *p < 2) return false;
  t->tag = *(*p)++;
  size_t len = *(*p)++;
  if (len & 0x80) {
    size_t n = len & 0x7F;
    if (n == 0 || n > 2 || static_cast<size_t>(end - *p) < n) return false;
    len = 0;
    for (size_t i = 0; i < n; ++i) len = len << 8 | *(*p)++;
  }
  if (static_cast<size_t>(end - *p) < len) return false;
  t->content = *p;
  t->length = len;
  *p += len;
  return true;
}

void put_length(std::vector<uint8_t>* out, size_t len, bool long_form) {
  if (len < 128 && !long_form) {
    out->push_back(static_cast<uint8_t>(len));
  } else if (len < 256) {
    out->push_back(0x81);
    out->push_back(static_cast<uint8_t>(len));
  } else {
    out->push_back(0x82);
    out->push_back(static_cast<uint8_t>(len >> 8));
    out->push_back(static_cast<uint8_t>(len));
  }
}

std::vector<uint8_t> tlv(uint8_t tag, const std::vector<uint8_t>& content,
                         bool long_form) {
  std::vector<uint8_t> out{tag};
  put_length(&out, content.size(), long_form);
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint8_t> integer_bytes(long v) {
  std::vector<uint8_t> out;
  for (int shift = 24; shift > 0; shift -= 8) {
    uint8_t b = static_cast<uint8_t>(v >> shift);
    uint8_t next = static_cast<uint8_t>(v >> (shift - 8));
    if (out.empty() &&
        ((b == 0 && !(next & 0x80)) || (b == 0xFF && (next & 0x80))))
      continue;
    out.push_back(b);
  }
  out.push_back(static_cast<uint8_t>(v));
  return out;
}

bool is_silent(const SnmpUnit& unit, const char* object) {
  for (const auto& s : unit.silent)
    if (s == "all" || s == object) return true;
  return false;
}

std::vector<uint8_t> text_bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

bool parse_hw(const std::string& text, uint8_t hw[6]) {
  unsigned v[6];
  char sep[5];
  if (std::sscanf(text.c_str(), "%2x%c%2x%c%2x%c%2x%c%2x%c%2x", &v[0], &sep[0],
                  &v[1], &sep[1], &v[2], &sep[2], &v[3], &sep[3], &v[4],
                  &sep[4], &v[5]) != 11)
    return false;
  for (int i = 0; i < 6; ++i) hw[i] = static_cast<uint8_t>(v[i]);
  return true;
}

std::vector<std::string> split_list(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == '+' || c == ';' || c == ',' || c == ' ') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

}  // namespace

bool snmp_unit_from_entity(const Entity& e, SnmpUnit* u, std::string* error) {
  if (!parse_ip(e.get("ip"), &u->ip)) {
    *error = "unit: ip=" + e.get("ip") + " is not a dotted address";
    return false;
  }
  if (e.has("hw") && !parse_hw(e.get("hw"), u->hw)) {
    *error = "unit: hw=" + e.get("hw") + " is not a hardware address";
    return false;
  }
  if (e.has("number")) {
    u->number = e.get("number");
  } else if (u->hw[0] == 0x00 && u->hw[1] == 0x40 && u->hw[2] == 0xAF) {
    long n = u->hw[3] << 13 | u->hw[4] << 5 | u->hw[5] >> 3;
    char text[16];
    std::snprintf(text, sizeof text, "%06ld", n % 1000000);
    u->number = text;
  }
  u->port = e.get_number("port", u->port);
  u->port_size = static_cast<int>(e.get_number("port-size", u->port_size));
  if (u->port_size != 2 && u->port_size != 4) {
    *error = "unit: port-size must be 2 or 4";
    return false;
  }
  u->name = e.get("name");
  if (e.has("desc")) u->description = e.get("desc");  // the IPX side's key
  if (e.has("description")) u->description = e.get("description");
  u->community = e.get("community", u->community);
  u->request_id = e.get_number("request-id", u->request_id);
  u->long_form = e.get_flag("long-form");
  u->truncate = static_cast<int>(e.get_number("truncate", 0));
  u->delay_ms = static_cast<int>(e.get_number("delay", 0));
  u->silent = split_list(e.get("silent"));
  if (e.has("silent") && u->silent.empty()) u->silent.push_back("all");
  u->answers_broadcast = e.get_flag("broadcast", true);
  return true;
}

std::vector<uint8_t> snmp_reply(const SnmpUnit& unit, const uint8_t* request,
                                size_t length) {
  const uint8_t* p = request;
  const uint8_t* end = request + length;
  Tlv message, version, community, pdu;
  if (!read_tlv(&p, end, &message) || message.tag != 0x30) return {};
  p = message.content;
  end = message.content + message.length;
  if (!read_tlv(&p, end, &version) || version.tag != 0x02 ||
      !read_tlv(&p, end, &community) || community.tag != 0x04 ||
      !read_tlv(&p, end, &pdu) || pdu.tag != 0xA0)
    return {};
  if (std::string(reinterpret_cast<const char*>(community.content),
                  community.length) != unit.community)
    return {};
  p = pdu.content;
  end = pdu.content + pdu.length;
  Tlv id, status, index, list, binding, oid;
  if (!read_tlv(&p, end, &id) || !read_tlv(&p, end, &status) ||
      !read_tlv(&p, end, &index) || !read_tlv(&p, end, &list))
    return {};
  p = list.content;
  end = list.content + list.length;
  if (!read_tlv(&p, end, &binding)) return {};
  p = binding.content;
  end = binding.content + binding.length;
  if (!read_tlv(&p, end, &oid) || oid.tag != 0x06) return {};
  std::vector<uint8_t> object(oid.content, oid.content + oid.length);

  const bool lf = unit.long_form;
  std::vector<uint8_t> value;
  const char* which = "other";
  if (object == kOidHardware) {
    which = "hw";
    value = tlv(0x04, std::vector<uint8_t>(unit.hw, unit.hw + 6), lf);
  } else if (object == kOidDescription && unit.has_description) {
    which = "description";
    value = tlv(0x04, text_bytes(unit.description), lf);
  } else if (object == unit_oid(0x02, 0x07) && !unit.number.empty()) {
    which = "number";
    value = tlv(0x04, text_bytes(unit.number), lf);
  } else if (object == unit_oid(0x04, 0x05)) {
    which = "port";
    std::vector<uint8_t> bytes;
    for (int i = unit.port_size - 1; i >= 0; --i)
      bytes.push_back(static_cast<uint8_t>(unit.port >> (8 * i)));
    value = tlv(0x02, bytes, lf);
  } else if (object == unit_oid(0x03, 0x02) && !unit.name.empty()) {
    which = "name";
    value = tlv(0x04, text_bytes(unit.name), lf);
  }
  if (is_silent(unit, which) || (is_silent(unit, "all"))) return {};
  uint8_t error_status = 0;
  uint8_t error_index = 0;
  if (value.empty()) {  // an object this agent does not hold
    error_status = 2;   // noSuchName
    error_index = 1;
    value = {0x05, 0x00};
  }
  std::vector<uint8_t> id_bytes(id.content, id.content + id.length);
  if (unit.request_id >= 0) id_bytes = integer_bytes(unit.request_id);
  std::vector<uint8_t> bind =
      tlv(0x30, concat({tlv(0x06, object, lf), value}), lf);
  std::vector<uint8_t> body =
      concat({tlv(0x02, id_bytes, lf), tlv(0x02, {error_status}, lf),
              tlv(0x02, {error_index}, lf), tlv(0x30, bind, lf)});
  std::vector<uint8_t> reply = tlv(
      0x30,
      concat({tlv(0x02, {0x00}, lf), tlv(0x04, text_bytes(unit.community), lf),
              tlv(0xA2, body, lf)}),
      lf);
  if (unit.truncate > 0 && reply.size() > static_cast<size_t>(unit.truncate))
    reply.resize(static_cast<size_t>(unit.truncate));
  return reply;
}

struct SnmpAgent::Pending {
  std::chrono::steady_clock::time_point due;
  uint32_t source, to_ip;
  uint16_t to_port;
  std::vector<uint8_t> data;
};

SnmpAgent::SnmpAgent(std::vector<SnmpUnit> units) : units_(std::move(units)) {}

SnmpAgent::~SnmpAgent() { stop(); }

bool SnmpAgent::start(std::string* error, uint16_t port) {
  for (const auto& u : units_)
    unit_ifindex_.push_back(interface_index_of(u.ip));
  return UdpServer::start(error, port);
}

int SnmpAgent::timer_ms() {
  if (pending_.empty()) return -1;
  auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
      pending_.front().due - std::chrono::steady_clock::now());
  return wait.count() < 0 ? 0 : static_cast<int>(wait.count()) + 1;
}

void SnmpAgent::on_timer() {
  auto now = std::chrono::steady_clock::now();
  size_t sent = 0;
  for (; sent < pending_.size() && pending_[sent].due <= now; ++sent) {
    const Pending& r = pending_[sent];
    send_from(fd(), r.source, r.to_ip, r.to_port, r.data.data(), r.data.size());
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(sent));
}

void SnmpAgent::on_datagram(const Datagram& d) {
  bool to_unit = false;
  for (const auto& u : units_) to_unit = to_unit || u.ip == d.to_ip;
  for (size_t i = 0; i < units_.size(); ++i) {
    const SnmpUnit& u = units_[i];
    if (to_unit ? u.ip != d.to_ip
                : (!u.answers_broadcast ||
                   (unit_ifindex_[i] != 0 && d.ifindex != 0 &&
                    unit_ifindex_[i] != d.ifindex)))
      continue;
    std::vector<uint8_t> reply = snmp_reply(u, d.data, d.length);
    if (reply.empty()) continue;
    if (u.delay_ms <= 0) {
      send_from(fd(), u.ip, d.from_ip, d.from_port, reply.data(), reply.size());
      continue;
    }
    Pending p{std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(u.delay_ms),
              u.ip, d.from_ip, d.from_port, std::move(reply)};
    auto it = pending_.begin();
    while (it != pending_.end() && it->due <= p.due) ++it;
    pending_.insert(it, std::move(p));
  }
}

}  // namespace sim

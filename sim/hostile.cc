#include "sim/hostile.h"

#include <algorithm>
#include <cstring>

#include "platform/net.h"
#include "sim/sides.h"
#include "sim/snmp_agent.h"
#include "sim/snmp_udp.h"

namespace sim {
namespace {

constexpr uint16_t kSnmpPort = 161;
constexpr uint16_t kRipPort = 520;

// Text that breaks whoever prints, formats or embeds it unescaped: printf
// conversions, markup, a line break, control characters, URL specials.
const char kNasty[] =
    "%s%n%x <script>alert(1)</script>\r\nX\x01\x1b[2J\x7f #?&\"'<b>";

using Bytes = std::vector<uint8_t>;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void put16(Bytes* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v));
}

void put_raw(Bytes* out, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + n);
}

// A name field of `size` bytes: the text, NUL-padded (no NUL when it fills
// the field).
void put_field(Bytes* out, const std::string& s, size_t size) {
  for (size_t i = 0; i < size; ++i)
    out->push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}

Bytes cut(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

// --- SNMP -----------------------------------------------------------------

std::vector<HostileDatagram> snmp_answers(const HostileUnit& h,
                                          const uint8_t* request,
                                          size_t length) {
  if (length < 30 || request[0] != 0x30 || request[5] != 0x04 ||
      7 + static_cast<size_t>(request[6]) > length)
    return {};
  SnmpUnit u;
  u.ip = h.ip;
  u.community.assign(reinterpret_cast<const char*>(request + 7), request[6]);
  const uint8_t unit_hw[6] = {0x00, 0x40, 0xAF, 0x06, 0x66, 0x60};
  std::memcpy(u.hw, unit_hw, 6);
  u.number = "9%n\r\n\x01";
  u.port = -1;  // FF FF FF FF: port 65535
  u.name = kNasty;
  u.description = kNasty;
  Bytes good = snmp_reply(u, request, length);
  if (good.empty()) return {};

  std::vector<Bytes> out;
  // The value's length byte sits where the request's NULL length was:
  // claim far more text than is sent.
  Bytes overlong = good;
  if (overlong.size() >= length) overlong[length - 1] = 0x7F;
  out.push_back(overlong);
  out.push_back(cut(good, 47));
  out.push_back(cut(good, length + 1));
  Bytes wrong_tag = good;
  wrong_tag[13] = 0xA3;
  out.push_back(wrong_tag);
  Bytes huge = good;
  huge.resize(1800, 0x41);
  out.push_back(huge);
  out.push_back({0x30});
  out.push_back({});
  SnmpUnit v = u;
  v.long_form = true;
  out.push_back(snmp_reply(v, request, length));
  v = u;
  v.request_id = 1;
  out.push_back(snmp_reply(v, request, length));
  v = u;
  v.port_size = 2;
  v.description = std::string(kNasty) + std::string(300, 'L');
  const uint8_t foreign[6] = {0x08, 0x00, 0x09, 0x66, 0x66, 0x66};
  std::memcpy(v.hw, foreign, 6);
  out.push_back(snmp_reply(v, request, length));
  const uint8_t reversed[6] = {0x00, 0x02, 0xF5, 0x66, 0x66, 0x66};
  std::memcpy(v.hw, reversed, 6);
  out.push_back(snmp_reply(v, request, length));
  out.push_back(good);  // last: a unit the program lists

  std::vector<HostileDatagram> answers;
  for (auto& b : out) answers.push_back({std::move(b), false});
  return answers;
}

// --- RIP ------------------------------------------------------------------

void put_rip_entry(Bytes* out, uint16_t family, const char* address,
                   uint32_t metric, uint8_t filler = 0) {
  put16(out, family);
  put16(out, filler);
  uint32_t a = net::inet_addr(address);
  put_raw(out, &a, 4);
  out->insert(out->end(), 8, filler);
  for (int shift = 24; shift >= 0; shift -= 8)
    out->push_back(static_cast<uint8_t>(metric >> shift));
}

std::vector<HostileDatagram> rip_answers(const uint8_t* request,
                                         size_t length) {
  if (length < 24 || request[0] != 1) return {};
  Bytes odd = {2, 1, 0, 0};
  put_rip_entry(&odd, 0, "10.66.1.0", 1);            // family 0
  put_rip_entry(&odd, 0xFFFF, "10.66.2.0", 1);       // authentication
  put_rip_entry(&odd, 17, "10.66.3.0", 1);           // another family
  put_rip_entry(&odd, 2, "0.0.0.0", 1);              // default route
  put_rip_entry(&odd, 2, "10.66.4.0", 0xFFFFFFFFu);  // metric
  put_rip_entry(&odd, 2, "10.66.5.0", 1, 0xEE);      // must-be-zero fields
  Bytes v2 = {2, 2, 0, 0};
  put_rip_entry(&v2, 0xFFFF, "10.66.6.0", 1, 0x41);  // password as a route
  put_rip_entry(&v2, 0, "10.66.7.0", 1);
  Bytes oversized = {2, 1, 0, 0};
  for (int i = 0; i < 30; ++i) put_rip_entry(&oversized, 2, "10.66.8.0", 16);
  Bytes partial = odd;
  partial.resize(24 + 7);
  std::vector<HostileDatagram> out = {
      {odd, true},
      {odd, false},
      {v2, true},
      {v2, false},
      {oversized, false},
      {partial, false},
      {{2, 1, 0, 0}, false},
      {{2}, false},
      {Bytes(request, request + length), false}};
  return out;
}

// --- locator and SAP --------------------------------------------------------

Bytes locator_reply(const HostileUnit& h, const std::string& name,
                    size_t size = 34, uint16_t http = 0xFFFF) {
  Bytes r = {0xFF, 0xFF, 0xC1, 0x00};
  r.insert(r.end(), 6, 0);
  put16(&r, h.wdx);
  put16(&r, http == 0xFFFF ? h.http : http);
  put_field(&r, name, 20);
  r.resize(size, 'Z');
  return r;
}

std::vector<HostileDatagram> locator_answers(const HostileUnit& h,
                                             const uint8_t* request,
                                             size_t length) {
  static const uint8_t kQuery[4] = {0xFF, 0xFF, 0xC1, 0x00};
  if (length != 6 || std::memcmp(request, kQuery, 4) != 0) return {};
  Bytes foreign = locator_reply(h, "HostileForeign");
  foreign[0] = 0x12;
  std::vector<Bytes> out = {
      locator_reply(h, h.name),
      locator_reply(h, "", 14),  // no name at all
      locator_reply(h, "", 34),  // a name that is only its NUL
      locator_reply(h, "H", 15),
      locator_reply(h, "Hodd", 21),
      locator_reply(h, "H%s%n%x%s", 33),
      locator_reply(h, "HostileNoNulIn20Char"),  // fills the field
      locator_reply(h, "HostileTooLong", 35),
      locator_reply(h, "HostileHuge", 1500),
      locator_reply(h, "H a#b?c%41"),
      locator_reply(h, "H\r\nX<b>&\x01\x1b"),
      locator_reply(h, "HostileNoHttp", 34, 0),
      foreign,
      {0xFF, 0xFF, 0xC1},
  };
  std::vector<HostileDatagram> answers;
  for (auto& b : out) answers.push_back({std::move(b), false});
  return answers;
}

void put_sap_entry(Bytes* out, const HostileUnit& h, const std::string& name,
                   uint16_t socket, bool zero_node = false) {
  put16(out, 0x0414);
  put_field(out, name, 48);
  uint8_t network[4];
  net::local_ipx_network(network);
  put_raw(out, network, 4);
  out->push_back(0);
  out->push_back(0);
  uint32_t node = zero_node ? 0 : h.ip;
  put_raw(out, &node, 4);
  put16(out, socket);
  put16(out, 1);
}

std::vector<HostileDatagram> sap_answers(const HostileUnit& h,
                                         const uint8_t* request,
                                         size_t length) {
  if (length != 4 || request[0] != 0 || request[1] != 1) return {};
  uint16_t type = static_cast<uint16_t>(request[2] << 8 | request[3]);
  Bytes good = {0, 2};
  put_sap_entry(&good, h, h.name, h.wdx);
  put_sap_entry(&good, h, h.name + "-HTML", h.http);
  if (type == 0x0004) return {{good, false}};  // a "file server" too
  if (type != 0x0414) return {};
  Bytes bogus = {0, 2};
  put_sap_entry(&bogus, h, std::string(48, 'Z'), h.wdx);  // no NUL
  put_sap_entry(&bogus, h, "-HTML", h.http);              // an empty name
  put_sap_entry(&bogus, h, "CS-HTML", h.http);
  put_sap_entry(&bogus, h, "H%s%n%x-HTML", h.http);
  put_sap_entry(&bogus, h, "H a#b?\r\nc-HTML", h.http);
  put_sap_entry(&bogus, h, "H-X-Y", h.wdx);
  put_sap_entry(&bogus, h, "HostileZero-HTML", 0, true);
  Bytes many = bogus;
  for (int i = 0; i < 8; ++i)
    put_sap_entry(&many, h, "HostileMany" + std::to_string(i), h.wdx);
  Bytes wrong_type = good;
  wrong_type[1] = 3;
  std::vector<Bytes> out = {good,       bogus,  many, cut(good, 65),
                            wrong_type, {0, 2}, {0},  cut(bogus, 100)};
  std::vector<HostileDatagram> answers;
  for (auto& b : out) answers.push_back({std::move(b), false});
  return answers;
}

}  // namespace

bool hostile_unit_from_entity(const Entity& e, HostileUnit* h,
                              std::string* error) {
  if (!parse_ip(e.get("ip"), &h->ip)) {
    *error = "hostile: ip=" + e.get("ip") + " is not a dotted address";
    return false;
  }
  h->name = e.get("name", h->name);
  h->wdx = static_cast<uint16_t>(e.get_number("wdx", h->wdx));
  h->http = static_cast<uint16_t>(e.get_number("http", h->http));
  h->flood_ms = e.get_number("flood", h->flood_ms);
  h->hold_ms = e.get_number("hold", h->hold_ms);
  if (h->name.empty() || h->name.size() > 19 || h->wdx == 0 || h->http == 0) {
    *error = "hostile: needs a name of 1 to 19 characters and wdx, http ports";
    return false;
  }
  return true;
}

std::vector<HostileDatagram> hostile_replies(const HostileUnit& unit,
                                             uint16_t port,
                                             const uint8_t* request,
                                             size_t length) {
  switch (port) {
    case kSnmpPort:
      return snmp_answers(unit, request, length);
    case kRipPort:
      return rip_answers(request, length);
    case kSapPort:
      return sap_answers(unit, request, length);
    case kLocatorPort:
      return locator_answers(unit, request, length);
    default:
      return {};
  }
}

std::vector<uint8_t> hostile_junk(unsigned i) {
  switch (i % 6) {
    case 0:
      return {};
    case 1:
      return {0x00};
    case 2:
      return Bytes(200, 0xFF);
    case 3: {
      Bytes b(1500);
      for (size_t k = 0; k < b.size(); ++k) b[k] = static_cast<uint8_t>(k * 7);
      return b;
    }
    case 4: {
      Bytes b = {0x30, 0x82, 0xFF, 0xFF, 0x02, 0x01, 0x00, 0x04, 0x06};
      b.resize(60, 0xA2);
      return b;
    }
    default: {
      Bytes b = {0xFF, 0xFF, 0xC1, 0x00, 0, 2};  // a reply without HTTP
      b.resize(34, 0);
      return b;
    }
  }
}

std::vector<uint8_t> hostile_description(unsigned i) {
  Bytes r(26, 0);
  switch (i % 7) {
    case 0:
      break;  // nothing after the header
    case 1:
      r.push_back(0xFF);  // A = -1 and nothing more
      break;
    case 2:
      r.push_back(200);  // A items beyond the end
      r.resize(r.size() + 10, 0xAA);
      break;
    case 3:
      r.push_back(0);
      r.push_back(0);
      while (r.size() < 700)
        r.insert(r.end(), kNasty, kNasty + sizeof kNasty - 1);
      break;  // no NUL, longer than the program reads
    case 4:
      r.push_back(0x80);
      r.resize(2000, 0xFF);
      break;
    case 5: {
      r.push_back(0);
      r.push_back(0);
      Bytes t = text(kNasty);
      r.insert(r.end(), t.begin(), t.end());
      r.push_back(0);
      break;
    }
    default:
      r.push_back(0);
      r.push_back(0);
      r.push_back(0);  // an empty description
      r.insert(r.end(), {'h', 'i', 0});
      break;
  }
  return r;
}

WebReply make_hostile_web_reply(const HostileUnit& h, const std::string& path) {
  const std::string& u = h.name;
  const std::string html = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n";
  std::string p = path.substr(0, path.find('?'));
  if (p == "/nostatus.htm")  // no status line, no line feed at the end
    return fixed_web_reply("", "garbage\x01 %s%n first line\n<a href=x>last");
  if (p == "/badstatus.htm")
    return fixed_web_reply("HTTP/1.0\r\n\r\n", "<html>no blank</html>\n");
  if (p == "/longheader.htm") {
    std::string pad(600, 'p');
    return fixed_web_reply(html + "X-Long: " + std::string(3000, 'h') +
                               "\r\nRefresh: 0; URL=" + pad + "http://" + u +
                               "/index.htm\r\nLocation: http://" + pad + "/" +
                               u + "\r\n" + std::string(511, 'k') + "\r\n\r\n",
                           "<html><a href=\"/" + u + "/a.htm\">a</a>\n");
  }
  if (p == "/nolf.htm")
    return fixed_web_reply(
        html + "\r\n", "<html><a href=\"a.htm\">a</a>\n<a href=\"b.htm\">b");
  if (p == "/lengths.htm")
    return fixed_web_reply(
        std::string("HTTP/1.0 200 \x01\0OK\r\n", 19) +
            "Content-Type: image/gif\r\n"
            "Content-Length: -5\r\nContent-Length: 99999999999999999999\r\n"
            "Bare-CR: a\rb\r\n\r\n",
        std::string(100, '\0'));
  if (p == "/trickle.htm") {  // a byte every 250 ms: never a quiet wait
    WebReply r = fixed_web_reply(html + "\r\n",
                                 "<html>" + std::string(34, 't') + "</html>\n");
    for (size_t k = 1; k < r.body_size; ++k)
      r.events.push_back({WebEvent::kPause, k, 250});
    return r;
  }
  if (p == "/silent.htm") {  // accepts the request and keeps quiet
    WebReply r = fixed_web_reply("", "");
    r.events.push_back({WebEvent::kPause, 0, h.hold_ms});
    return r;
  }
  std::string body = "<html><title>" + u + "</title>\n";
  for (const char* page : {"nostatus", "badstatus", "longheader", "nolf",
                           "lengths", "trickle", "silent"})
    body += std::string("<a href=\"") + page + ".htm\">" + page + "</a>\n";
  body += "<p>" + std::string(kNasty) + std::string(700, 'w') +
          "<a href=\"http://" + u + "/after.htm\">after</a>\n";
  return fixed_web_reply(html + "\r\n", body + "</html>");
}

}  // namespace sim

#include "sim/ipx_replies.h"

#include "discovery/ipx/ipx_discovery.h"
#include "ipx/wire/sap.h"
#include "platform/net.h"

namespace sim {
namespace {

void put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v & 0xFF));
}

// A name field of `size` bytes: NUL-padded, or filled with '_' after the
// name and without any NUL when no_nul is set.
void put_name(uint8_t* out, const std::string& name, size_t size, bool no_nul) {
  for (size_t i = 0; i < size; ++i) {
    char c = i < name.size() ? name[i] : (no_nul ? '_' : '\0');
    if (i == size - 1 && !no_nul && i < name.size()) c = '\0';
    out[i] = static_cast<uint8_t>(c);
  }
}

}  // namespace

IpxUnit ipx_unit_of(const Entity& e) {
  IpxUnit u;
  bool unit = e.kind == "unit";
  u.file_server = !unit;
  u.name = e.get("name", unit ? "VEM_000001" : "FS1");
  u.ip = net::inet_addr(e.get("ip", "127.0.0.1").c_str());
  u.wdx = static_cast<uint16_t>(e.get_number("wdx", unit ? 0x4000 : 0));
  u.http = static_cast<uint16_t>(e.get_number("http", unit ? 0x4001 : 0));
  u.description = e.get("desc", u.description);
  u.a_items = static_cast<int>(e.get_number("wdx-a", 0)) & 0xFF;
  u.b_items = static_cast<int>(e.get_number("wdx-b", 0)) & 0xFF;
  u.description_nul = e.get_flag("desc-nul", true);
  u.locator = unit && e.get_flag("locator", true);
  u.sap = e.get_flag("sap", true);
  if (e.get("reply") == "none") u.locator = u.sap = false;
  u.foreign = e.get("signature") == "foreign";
  u.zero_sockets = e.get_flag("zero-sockets");
  u.no_nul = e.get_flag("no-nul");
  u.sap_entries = static_cast<int>(e.get_number("sap-entries", 2));
  u.delay_ms = static_cast<int>(e.get_number("delay", 0));
  u.wdx_reply = e.get("wdx-reply", "normal");
  u.wdx_delay_ms = static_cast<int>(e.get_number("wdx-delay", 0));
  return u;
}

IpxQuery read_ipx_query(const uint8_t* data, size_t size, bool locator,
                        uint16_t* sap_type) {
  if (locator)
    return size == 6 && data[0] == 0xFF && data[1] == 0xFF && data[2] == 0xC1 &&
                   data[3] == 0x00
               ? IpxQuery::kLocator
               : IpxQuery::kNone;
  uint16_t operation = 0;
  if (size != 4 || !ipx::decode_sap_query({data, size}, &operation, sap_type) ||
      operation != ipx::kSapGeneralQuery || *sap_type == 0)
    return IpxQuery::kNone;
  return IpxQuery::kSap;
}

bool answers_sap(const IpxUnit& u, uint16_t sap_type) {
  // 0xFFFF asks for servers of every type, as routers do.
  return u.sap && (sap_type == 0xFFFF ||
                   sap_type == (u.file_server ? ipx::kSapFileServerType
                                              : kUnitServiceType));
}

std::vector<uint8_t> locator_reply(const IpxUnit& u) {
  std::vector<uint8_t> r;
  if (u.foreign) {
    r = {0x12, 0x34, 0x56, 0x78};
  } else {
    r = {0xFF, 0xFF, 0xC1, 0x00};
  }
  r.insert(r.end(), 6, 0);
  put16(&r, u.zero_sockets ? 0 : u.wdx);
  put16(&r, u.zero_sockets ? 0 : u.http);
  r.resize(r.size() + kLocatorNameSize);
  put_name(r.data() + r.size() - kLocatorNameSize, u.name, kLocatorNameSize,
           u.no_nul);
  return r;
}

std::vector<uint8_t> sap_response(const IpxUnit& u, const ipx::Address& node) {
  std::vector<uint8_t> r;
  // Foreign: type 3, which is no response.
  put16(&r, u.foreign ? uint16_t{0x0003} : ipx::kSapGeneralResponse);
  auto put_entry = [&](uint16_t type, const std::string& name,
                       uint16_t socket) {
    ipx::SapEntry e{type, name, node, 1};
    e.address.socket = u.zero_sockets ? 0 : socket;
    r.resize(r.size() + ipx::kSapEntrySize);
    uint8_t* entry = r.data() + r.size() - ipx::kSapEntrySize;
    ipx::encode_sap_entry(e, entry);
    put_name(entry + 2, name, ipx::kSapNameSize, u.no_nul);
  };
  if (u.file_server) {
    put_entry(ipx::kSapFileServerType, u.name, 0x0451);
    return r;
  }
  put_entry(kUnitServiceType, u.name, u.wdx);
  if (u.sap_entries >= 2) put_entry(kUnitServiceType, u.name + "-HTML", u.http);
  for (int i = 2; i < u.sap_entries; ++i)
    put_entry(kUnitServiceType, u.name + "-F" + std::to_string(i), u.wdx);
  return r;
}

std::vector<uint8_t> description_reply(const IpxUnit& u) {
  std::vector<uint8_t> r(26, 0);
  r.push_back(static_cast<uint8_t>(u.a_items));
  r.insert(r.end(), 2 * static_cast<size_t>(u.a_items), 0xAA);
  r.push_back(static_cast<uint8_t>(u.b_items));
  r.insert(r.end(), 2 * static_cast<size_t>(u.b_items), 0xBB);
  r.insert(r.end(), u.description.begin(), u.description.end());
  if (u.description_nul) r.push_back(0);
  return r;
}

}  // namespace sim

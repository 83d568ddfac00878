#include "gateway/own_pages.h"

#include <cstdio>
#include <cstring>

#include "page/page_writer.h"

namespace {

constexpr std::string_view kHtml = "text/html";

const char* reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    default:
      return "Error";
  }
}

std::string json_text(const char* text, size_t max_length) {
  std::string out = "\"";
  for (size_t i = 0; i < max_length && text[i] != '\0'; ++i) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", b);
      out += escaped;
    }
  }
  return out + "\"";
}

std::string hex(const uint8_t* bytes, size_t n) {
  std::string out;
  char pair[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    out += pair;
  }
  return out;
}

}  // namespace

OwnPage own_page_for(std::string_view method, std::string_view url) {
  if (method != "GET" && method != "HEAD") return OwnPage::kNone;
  url = url.substr(0, url.find('?'));
  if (url == "/" || url == "/tav-disc.htm") return OwnPage::kDiscovery;
  if (url == "/tavhelp.htm") return OwnPage::kHelp;
  if (url == "/units.json") return OwnPage::kUnitsJson;
  return OwnPage::kNone;
}

std::string http_answer(int status, std::string_view content_type,
                        std::string_view body, bool head_only) {
  std::string answer = "HTTP/1.0 " + std::to_string(status) + " " +
                       reason(status) +
                       "\r\nContent-Type: " + std::string(content_type) +
                       "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nConnection: close\r\n\r\n";
  if (!head_only) answer += body;
  return answer;
}

std::string units_json(const IpUnitSnapshot& ip, const IpxUnitSnapshot& ipx,
                       std::string_view gateway_address) {
  std::string out = "{\"ip_units\":[";
  for (int i = 0; i < ip.count; ++i) {
    const UnitRecord& u = ip.units[i];
    char a[16];
    net::inet_ntoa(u.address.sin_addr, a, sizeof a);
    out += std::string(i > 0 ? "," : "") +
           "\n{\"name\":" + json_text(u.name, sizeof u.name) +
           ",\"address\":\"" + a + "\",\"description\":" +
           json_text(u.description, sizeof u.description) +
           ",\"link\":\"http://" + a + "/\"}";
  }
  out += "],\n\"ipx_units\":[";
  for (int i = 0; i < ipx.count; ++i) {
    const IpxUnitRecord& u = ipx.units[i];
    const uint16_t socket = net::ntohs_(u.address.sa_socket);
    const uint8_t socket_bytes[2] = {static_cast<uint8_t>(socket >> 8),
                                     static_cast<uint8_t>(socket)};
    std::string link = "null";
    if (socket != 0)
      link =
          "\"" + gateway_unit_link(std::string(gateway_address), u.name) + "\"";
    out += std::string(i > 0 ? "," : "") +
           "\n{\"name\":" + json_text(u.name, sizeof u.name) +
           ",\"network\":\"" + hex(u.address.sa_netnum, 4) + "\",\"node\":\"" +
           hex(u.address.sa_nodenum, 6) + "\",\"socket\":\"" +
           hex(socket_bytes, 2) + "\",\"description\":" +
           json_text(u.description, sizeof u.description) +
           ",\"link\":" + link + "}";
  }
  return out + "]}\n";
}

std::string own_page_answer(OwnPage page, bool head_only,
                            std::string_view gateway_address) {
  switch (page) {
    case OwnPage::kDiscovery:
      return http_answer(200, kHtml, served_discovery_page(), head_only);
    case OwnPage::kHelp: {
      std::string help;
      if (!read_help_page(&help)) return http_answer(404, kHtml, "", head_only);
      return http_answer(200, kHtml, help, head_only);
    }
    case OwnPage::kUnitsJson:
      return http_answer(200, "application/json",
                         units_json(*published_ip_units(),
                                    *published_ipx_units(), gateway_address),
                         head_only);
    case OwnPage::kNone:
      break;
  }
  return http_answer(404, kHtml, "", head_only);
}

// The pages the simulator's web side serves for one unit.
//
// Each path names a reply that exercises one thing a gateway in front of
// the unit must handle (see sim/README.md, "web side"). A reply is a head
// (status line and headers, possibly empty) and a body that is produced on
// demand, so that large bodies need no memory; events make the server
// pause or close at given body offsets.
#ifndef TAV_SIM_WEB_PAGES_H_
#define TAV_SIM_WEB_PAGES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct WebReply;

struct WebUnitOptions {
  std::string name = "VEM_1";
  std::string model = "VEM 4 network print server";  // shown on its pages
  std::string description = "Simulated print server";
  long pause_ms = 1000;          // length of each pause of the pause pages
  long big_bin_size = 20000000;  // bytes of /big.bin
  long big_htm_size = 5000000;   // bytes of /big.htm
  // When set, serves these pages instead (the hostile unit's).
  std::function<WebReply(const std::string& path)> pages;
};

struct WebEvent {
  enum Kind { kPause, kClose } kind;
  size_t offset;  // body offset at which it happens
  long ms = 0;    // pause length
};

struct WebReply {
  std::string head;  // status line and headers with the empty line
  size_t body_size = 0;
  // Fills out with body bytes from offset; returns how many (> 0 until the
  // end of the body).
  std::function<size_t(size_t offset, char* out, size_t capacity)> body;
  std::vector<WebEvent> events;
};

// The reply for a request; `request` is the whole request as received
// (request line, headers and body), which /echo sends back.
WebReply make_web_reply(const WebUnitOptions& unit, const std::string& method,
                        const std::string& path, const std::string& request);

// A reply with a fixed head and body.
WebReply fixed_web_reply(std::string head, std::string body);

// Reads a whole reply body into a string (for small bodies and tests).
std::string web_body_text(const WebReply& reply);

// The bytes of the image /logo.gif (1234 bytes) and the plain page whose
// gzip form /data.gz serves.
std::string web_logo_bytes();
std::string web_gzip_plain_page(const std::string& unit);
// A gzip member holding data in stored (uncompressed) deflate blocks.
std::string gzip_stored(const std::string& data);
// Byte i of /big.bin.
uint8_t web_big_bin_byte(size_t i);

}  // namespace sim

#endif  // TAV_SIM_WEB_PAGES_H_

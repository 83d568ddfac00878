#include "sim/web_pages.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "sim/gallery_pages.h"

namespace sim {
namespace {

using Body = std::function<size_t(size_t, char*, size_t)>;

Body text_body(std::string text) {
  auto data = std::make_shared<std::string>(std::move(text));
  return [data](size_t offset, char* out, size_t cap) -> size_t {
    if (offset >= data->size()) return 0;
    size_t n = std::min(cap, data->size() - offset);
    std::memcpy(out, data->data() + offset, n);
    return n;
  };
}

WebReply fixed(std::string head, std::string body) {
  WebReply r;
  r.head = std::move(head);
  r.body_size = body.size();
  r.body = text_body(std::move(body));
  return r;
}

std::string html_head(const char* status = "HTTP/1.0 200 OK") {
  return std::string(status) + "\r\nContent-Type: text/html\r\n\r\n";
}

// Text for HTML: markup characters as entities.
std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// A unit's own page: its banner (logo, name, model), a menu, and `content`.
std::string unit_page(const WebUnitOptions& unit, const std::string& title,
                      const std::string& heading, const std::string& content) {
  const std::string font = "<FONT FACE=\"Arial,Helvetica\"";
  return "<HTML><HEAD><TITLE>" + escaped(title) +
         "</TITLE></HEAD>\n"
         "<BODY BGCOLOR=\"#FFFFFF\" LINK=\"#1F3A93\" VLINK=\"#1F3A93\">\n"
         "<TABLE WIDTH=\"100%\" BORDER=0 CELLPADDING=6 CELLSPACING=0 "
         "BGCOLOR=\"#1F3A93\"><TR>\n"
         "<TD WIDTH=40><img src=\"logo.gif\" "
         "WIDTH=32 HEIGHT=16 "
         "ALT=\"logo\"></TD>\n<TD>" +
         font + " COLOR=\"#FFFFFF\" SIZE=5><B>" + escaped(unit.name) +
         "</B></FONT><BR>\n" + font + " COLOR=\"#FFFFFF\" SIZE=2>" +
         escaped(unit.model) +
         "</FONT></TD></TR></TABLE>\n"
         "<TABLE WIDTH=\"100%\" BORDER=0 CELLPADDING=8 CELLSPACING=0><TR>\n"
         "<TD VALIGN=top WIDTH=140 BGCOLOR=\"#E8ECF6\">" +
         font +
         " SIZE=2>\n"
         "<A HREF=\"index.htm\">Home</A><BR>\n"
         "<a href=\"status.htm\">Status</a><BR>\n"
         "<A HREF=\"config.htm\">Configuration</A><BR>\n"
         "<A HREF=\"help.htm\">Help</A></FONT></TD>\n"
         "<TD VALIGN=top>" +
         font + " SIZE=3><B>" + heading + "</B></FONT>\n" + content +
         "<HR NOSHADE SIZE=1>" + font + " SIZE=1>Firmware 4.02 &middot; " +
         escaped(unit.name) + "</FONT></TD></TR></TABLE>\n</BODY></HTML>\n";
}

// A two-column table of name and value rows (values are HTML).
std::string rows_table(
    const std::vector<std::pair<std::string, std::string>>& rows) {
  std::string t =
      "<TABLE BORDER=1 CELLPADDING=4 CELLSPACING=0 WIDTH=\"90%\">\n";
  for (const auto& [name, value] : rows)
    t += "<TR><TD WIDTH=\"35%\" BGCOLOR=\"#E8ECF6\"><FONT "
         "FACE=\"Arial,Helvetica\" SIZE=2>" +
         name + "</FONT></TD><TD><FONT FACE=\"Arial,Helvetica\" SIZE=2>" +
         value + "</FONT></TD></TR>\n";
  return t + "</TABLE>\n";
}

// Counters that differ from unit to unit and stay the same between runs.
unsigned name_number(const std::string& name) {
  unsigned h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return h;
}

std::string home_page(const WebUnitOptions& unit) {
  unsigned n = name_number(unit.name);
  std::string pages = std::to_string(10000 + n % 90000);
  pages.insert(pages.size() - 3, ",");
  return unit_page(
      unit, unit.name, "Printer status",
      "<P>\n" +
          rows_table(
              {{"Printer", "<FONT COLOR=\"#008000\"><B>Ready</B></FONT>"},
               {"Toner", std::to_string(35 + n % 60) + "% remaining"},
               {"Paper", "Tray 1: A4, loaded<BR>Tray 2: Letter, low"},
               {"Pages printed", pages},
               {"Description", escaped(unit.description)},
               {"Up time", std::to_string(1 + n % 40) + " days"}}) +
          "<P>\n");
}

std::string config_page(const WebUnitOptions& unit) {
  return unit_page(
      unit, "Configuration of " + unit.name, "Configuration",
      "<P><FORM METHOD=\"post\" ACTION=\"config.htm\">\n" +
          rows_table(
              {{"Unit name", "<INPUT NAME=\"name\" SIZE=20 VALUE=\"" +
                                 escaped(unit.name) + "\">"},
               {"Description", "<INPUT NAME=\"desc\" SIZE=30 VALUE=\"" +
                                   escaped(unit.description) + "\">"},
               {"IPX frame type",
                "<SELECT NAME=\"frame\"><OPTION>Automatic<OPTION>Ethernet II"
                "<OPTION>802.3<OPTION>802.2<OPTION>SNAP</SELECT>"},
               {"Protocols",
                "<INPUT TYPE=checkbox NAME=\"ipx\" CHECKED> IPX/SPX "
                "<INPUT TYPE=checkbox NAME=\"ip\" CHECKED> TCP/IP"}}) +
          "<P><INPUT TYPE=submit VALUE=\"Save\"> "
          "<INPUT TYPE=reset VALUE=\"Undo\"></FORM>\n");
}

std::string help_page(const WebUnitOptions& unit) {
  return unit_page(
      unit, "Help for " + unit.name, "Help",
      "<P><FONT FACE=\"Arial,Helvetica\" SIZE=2>The <B>Status</B> page "
      "shows the printer, its toner and paper and the jobs printed. "
      "<B>Configuration</B> sets the unit's name, its description and the "
      "network protocols it uses; changes take effect when the unit "
      "restarts.</FONT>\n");
}

// Every kind of link a gateway in front of the unit must rewrite or keep.
std::string links_page(const std::string& u) {
  return "<HTML><HEAD><TITLE>Links of " + u +
         "</TITLE></HEAD>\n"
         "<BODY>\n"
         "<a name=\"top\"></a>\n"
         "<a href=\"status.htm\">Status</a>\n"
         "<A HREF=\"/config.htm\">Configuration</A>\n"
         "<a href=\"http://" +
         u +
         "/dir/x.htm\">Absolute</a>\n"
         "<a href=\"http://other.example/x.htm\">Elsewhere</a>\n"
         "<a href='single.htm'>Single quoted</a>\n"
         "<img src = \"logo.gif\" alt=\"logo\">\n"
         "<form method=\"post\" action=\"http://" +
         u +
         "/Forms/cfg\"><input type=\"submit\"></form>\n"
         "<a href=\"back.htm\">previous page</a>\n"
         "<script>window.open(\"/help.htm\");</script>\n"
         "<a href=\"javascript:history.back()\">Back</a>\n"
         "<a href=\"#top\">Top</a>\n"
         "<a href=\"data.gz\">Packed</a> <a href=\"redirect\">Moved</a>\n"
         "<a href=\"refresh\">Refresh</a> <a href=\"long.htm\">Long</a>\n"
         "</BODY></HTML>\n";
}

// A line of exactly 600 characters (line end included) full of links.
std::string long_line() {
  std::string line;
  while (line.size() < 598) line += "<a href=\"x.htm\">x</a> ";
  line.resize(598);
  return line + "\r\n";
}

const char kBigLine[] =
    "<p><a href=\"page1.htm\">one</a> <a href=\"/dir/two.htm\">two</a> "
    "<img src=\"pic.gif\"> <a href=\"http://UNIT/abs.htm\">abs</a> "
    "<a href=\"http://other/x.htm\">other</a> <a href=\"#top\">top</a></p>\n";

uint32_t crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k)
      crc = (crc >> 1) ^ (0xEDB88320u & (~(crc & 1) + 1));
  }
  return ~crc;
}

void put_le32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

}  // namespace

std::string gzip_stored(const std::string& data) {
  std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
  size_t pos = 0;
  do {
    size_t n = std::min<size_t>(65535, data.size() - pos);
    bool last = pos + n == data.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>(n >> 8));
    out.push_back(static_cast<char>(~n & 0xFF));
    out.push_back(static_cast<char>((~n >> 8) & 0xFF));
    out.append(data, pos, n);
    pos += n;
  } while (pos < data.size());
  put_le32(&out, crc32(data));
  put_le32(&out, static_cast<uint32_t>(data.size()));
  return out;
}

// A real 32x16 GIF (a framed badge with a stripe) padded to 1234 bytes:
// decoders stop at the trailer. The 128-entry palette holds every byte
// value, so the relay is tested with NUL, CR, LF and 0xFF alike. The image
// data uses 8-bit codes with a clear code every 100 pixels, so that every
// code is one byte and no compression is needed.
std::string web_logo_bytes() {
  constexpr int kWidth = 32, kHeight = 16;
  std::string b = "GIF89a";
  b += {static_cast<char>(kWidth), 0, static_cast<char>(kHeight), 0};
  b += {static_cast<char>(0xF6), 0, 0};  // 128-entry global palette
  const uint8_t colours[3][3] = {{0xFF, 0xFF, 0xFF},   // white
                                 {0x1F, 0x3A, 0x93},   // navy
                                 {0xF2, 0x8C, 0x28}};  // orange
  for (int i = 0; i < 128 * 3; ++i)
    b.push_back(static_cast<char>(i < 9 ? colours[i / 3][i % 3] : i * 3 + 1));
  b += {0x2C, 0,
        0,    0,
        0,    static_cast<char>(kWidth),
        0,    static_cast<char>(kHeight),
        0,    0};
  b.push_back(7);  // LZW minimum code size: 8-bit codes, clear = 128
  std::string codes;
  for (int p = 0; p < kWidth * kHeight; ++p) {
    if (p % 100 == 0) codes.push_back(static_cast<char>(128));
    int x = p % kWidth, y = p / kWidth;
    bool border = x == 0 || y == 0 || x == kWidth - 1 || y == kHeight - 1;
    codes.push_back(border ? 1 : (y == 7 || y == 8) ? 2 : 0);
  }
  codes.push_back(static_cast<char>(129));  // end of information
  for (size_t i = 0; i < codes.size(); i += 255) {
    std::string block = codes.substr(i, 255);
    b.push_back(static_cast<char>(block.size()));
    b += block;
  }
  b += {0, 0x3B};
  for (size_t i = b.size(); i < 1234; ++i)
    b.push_back(static_cast<char>((i * 7 + 3) & 0xFF));
  return b;
}

std::string web_gzip_plain_page(const std::string& unit) {
  return "<html><body><a href=\"index.htm\">" + unit + "</a></body></html>\n";
}

uint8_t web_big_bin_byte(size_t i) {
  uint64_t x = (static_cast<uint64_t>(i) + 1) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  return static_cast<uint8_t>(x >> 56);
}

WebReply fixed_web_reply(std::string head, std::string body) {
  return fixed(std::move(head), std::move(body));
}

std::string web_body_text(const WebReply& reply) {
  std::string out;
  char buf[4096];
  for (size_t n; (n = reply.body(out.size(), buf, sizeof buf)) > 0;)
    out.append(buf, n);
  return out;
}

WebReply make_web_reply(const WebUnitOptions& unit, const std::string& method,
                        const std::string& path, const std::string& request) {
  if (WebReply g; gallery_reply(unit.name, path, &g)) return g;
  const std::string& u = unit.name;
  std::string p = path.substr(0, path.find('?'));
  if (p == "/" || p == "/index.htm") return fixed(html_head(), home_page(unit));
  if (p == "/config.htm") return fixed(html_head(), config_page(unit));
  if (p == "/help.htm") return fixed(html_head(), help_page(unit));
  if (p == "/test/links.htm") return fixed(html_head(), links_page(u));
  if (p == "/status.htm") {
    unsigned n = name_number(u);
    std::string body = unit_page(
        unit, "Status of " + u, "Status of " + escaped(u) + ": ready",
        "<P>\n" +
            rows_table({{"Jobs waiting", "0"},
                        {"Last job", std::to_string(1 + n % 9) + " pages"},
                        {"Paper jams", std::to_string(n % 4)},
                        {"IPX/SPX", "Enabled"},
                        {"TCP/IP", "Enabled"}}) +
            "<P>\n");
    return fixed(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
        "Content-Length: " +
            std::to_string(body.size()) + "\r\n\r\n",
        body);
  }
  if (p == "/logo.gif") {
    return fixed(
        "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\n"
        "Content-Length: 1234\r\n\r\n",
        web_logo_bytes());
  }
  if (p == "/data.gz") {
    std::string packed = gzip_stored(web_gzip_plain_page(u));
    return fixed(
        "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n"
        "Content-Encoding: gzip\r\nContent-Length: " +
            std::to_string(packed.size()) + "\r\n\r\n",
        packed);
  }
  if (p == "/redirect") {
    return fixed("HTTP/1.0 302 Found\r\nLocation: http://" + u +
                     "/index.htm\r\nContent-Type: text/html\r\n\r\n",
                 "<html><body>Moved</body></html>\n");
  }
  if (p == "/refresh") {
    return fixed("HTTP/1.0 200 OK\r\nRefresh: 5; URL=http://" + u +
                     "/status.htm\r\nContent-Type: text/html\r\n\r\n",
                 "<html><body>Wait</body></html>\n");
  }
  if (p == "/long.htm") {
    return fixed(html_head(),
                 "<html><body><a href=\"before.htm\">before</a>\n" +
                     long_line() + "<a href=\"after.htm\">after</a>\n");
  }
  if (p == "/nostatus.htm") {
    return fixed("",
                 "<HTML><BODY>\n<a href=\"status.htm\">Status</a>\n"
                 "</BODY></HTML>\n");
  }
  if (p == "/nostatus.txt") {
    return fixed("",
                 "plain text without status line\n"
                 "<a href=\"status.htm\">not rewritten</a>\n");
  }
  if (p == "/pause.htm" || p == "/pause2.htm" || p == "/close.htm") {
    std::string first = "<html><body><a href=\"one.htm\">one</a>\n";
    std::string second = "<a href=\"two.htm\">two</a>\n";
    std::string third = "<a href=\"three.htm\">three</a></body></html>\n";
    WebReply r = fixed(html_head(), first + second + third);
    if (p == "/close.htm") {
      r.events.push_back({WebEvent::kClose, first.size()});
    } else {
      r.events.push_back({WebEvent::kPause, first.size(), unit.pause_ms});
      if (p == "/pause2.htm")
        r.events.push_back(
            {WebEvent::kPause, first.size() + second.size(), unit.pause_ms});
    }
    return r;
  }
  if (p == "/cut.bin") {
    WebReply r = fixed(
        "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: 4096\r\n\r\n",
        std::string(4096, 'c'));
    r.events.push_back({WebEvent::kClose, 2048});
    return r;
  }
  if (p == "/echo") {
    return fixed(
        "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n"
        "Content-Length: " +
            std::to_string(request.size()) + "\r\n\r\n",
        request);
  }
  if (p == "/big.bin") {
    WebReply r;
    r.head =
        "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: " +
        std::to_string(unit.big_bin_size) + "\r\n\r\n";
    r.body_size = static_cast<size_t>(unit.big_bin_size);
    size_t total = r.body_size;
    r.body = [total](size_t offset, char* out, size_t cap) -> size_t {
      size_t n = offset < total ? std::min(cap, total - offset) : 0;
      for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>(web_big_bin_byte(offset + i));
      return n;
    };
    return r;
  }
  if (p == "/big.htm") {
    std::string line = kBigLine;
    line.replace(line.find("UNIT"), 4, u);
    size_t lines = static_cast<size_t>(unit.big_htm_size) / line.size();
    WebReply r;
    r.head = html_head();
    r.body_size = lines * line.size();
    size_t total = r.body_size;
    r.body = [line, total](size_t offset, char* out, size_t cap) -> size_t {
      size_t n = offset < total ? std::min(cap, total - offset) : 0;
      for (size_t i = 0; i < n; ++i) out[i] = line[(offset + i) % line.size()];
      return n;
    };
    return r;
  }
  (void)method;
  return fixed("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n",
               "<html><body>Not found</body></html>\n");
}

}  // namespace sim

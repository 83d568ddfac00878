#include "sim/gallery_pages.h"

#include <cstdio>

namespace sim {
namespace {

std::string head(const char* type, size_t length) {
  char text[128];
  std::snprintf(text, sizeof text,
                "HTTP/1.0 200 OK\r\nContent-Type: %s\r\n"
                "Content-Length: %zu\r\n\r\n",
                type, length);
  return text;
}

std::string index_page(const std::string& unit) {
  std::string page =
      "<HTML><HEAD><TITLE>Gallery of " + unit + "</TITLE></HEAD>\r\n<BODY>\r\n";
  for (int i = 1; i <= kGalleryImages; ++i) {
    char img[64];
    std::snprintf(img, sizeof img,
                  "<IMG SRC=\"/gallery/img%02d.gif\" alt=\"%d\">\r\n", i, i);
    page += img;
  }
  for (int i = 1; i <= kGalleryFrames; ++i)
    page += "<IFRAME SRC=\"/gallery/frame" + std::to_string(i) +
            ".htm\"></IFRAME>\r\n";
  return page + "<A HREF=\"http://" + unit +
         "/gallery/page.htm\">Page</A>\r\n</BODY></HTML>\r\n";
}

std::string frame_page(const std::string& unit, int n) {
  return "<HTML><BODY>Frame " + std::to_string(n) +
         "\r\n<A HREF=\"/status.htm\">Status</A> <A HREF=\"http://" + unit +
         "/gallery/index.htm\" TARGET=\"_top\">Gallery</A>\r\n</BODY></HTML>"
         "\r\n";
}

// About 2 KB of status lines.
std::string plain_page(const std::string& unit) {
  std::string page = "<HTML><BODY><H1>" + unit + "</H1>\r\n";
  for (int i = 0; page.size() < 2000; ++i)
    page += "<P>Line " + std::to_string(i) +
            ": printer ready, toner 80%, paper tray 2 full.</P>\r\n";
  return page + "</BODY></HTML>\r\n";
}

}  // namespace

std::string gallery_image(int n) {
  // A 1x1 image; a comment extension pads it to its size.
  static const unsigned char kStart[] = {
      'G', 'I', 'F',  '8',  '9',  'a', 1, 0, 1,    0,   0x80,
      0,   0,   0xFF, 0xFF, 0xFF, 0,   0, 0, 0x21, 0xFE};
  static const unsigned char kImage[] = {0x2C, 0, 0, 0, 0,    1, 0, 1,
                                         0,    0, 2, 2, 0x44, 1, 0, 0x3B};
  std::string gif(reinterpret_cast<const char*>(kStart), sizeof kStart);
  size_t size = 1000 + 150 * static_cast<size_t>(n);
  while (gif.size() + 1 + sizeof kImage < size) {
    size_t k = std::min<size_t>(255, size - gif.size() - 2 - sizeof kImage);
    if (k == 0) break;
    gif.push_back(static_cast<char>(k));
    gif.append(k, static_cast<char>('a' + n));
  }
  gif.push_back(0);  // end of the comment
  return gif.append(reinterpret_cast<const char*>(kImage), sizeof kImage);
}

bool gallery_reply(const std::string& unit, const std::string& path,
                   WebReply* out) {
  std::string p = path.substr(0, path.find('?'));
  std::string body;
  const char* type = "text/html";
  int n = 0;
  char rest = 0;
  if (p == "/gallery/" || p == "/gallery/index.htm") {
    body = index_page(unit);
  } else if (p == "/gallery/page.htm") {
    body = plain_page(unit);
  } else if (std::sscanf(p.c_str(), "/gallery/frame%d.ht%c", &n, &rest) == 2 &&
             n >= 1 && n <= kGalleryFrames) {
    body = frame_page(unit, n);
  } else if (std::sscanf(p.c_str(), "/gallery/img%d.gi%c", &n, &rest) == 2 &&
             n >= 1 && n <= kGalleryImages) {
    body = gallery_image(n);
    type = "image/gif";
  } else {
    return false;
  }
  *out = fixed_web_reply(head(type, body.size()), body);
  return true;
}

}  // namespace sim

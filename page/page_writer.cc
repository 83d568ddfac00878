#include "page/page_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "discovery/units.h"
#include "gateway/text.h"
#include "platform/catalogue.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/ui.h"

char discovery_page_path[kPagePathSize];
char help_page_path[kPagePathSize];

namespace {

// Serialises writing the page files with deleting them at the end.
std::mutex g_page_files_mutex;
// The page as the gateway serves it, from the last write.
std::mutex g_served_page_mutex;
std::string g_served_page;

constexpr const char* kPageFileName = "tav-disc.htm";
constexpr const char* kHelpFileName = "tavhelp.htm";
constexpr int kGatewayPort = 34;
constexpr const char* kRefreshSegmentText = "$$Refresh$";
constexpr size_t kCopyBlock = 512;

std::string dotted(uint32_t addr) {
  char text[16];
  net::inet_ntoa(addr, text, sizeof text);
  return text;
}

// The gateway address in dotted text; ends the process (message 134) when
// the host's own name has no address.
std::string gateway_address(const char* help_path) {
  char host[256] = "";
  net::gethostname(host, sizeof host);
  uint32_t addr = 0;
  if (!environment().host_lookup(host, &addr)) {
    int error = net::WSAGetLastError();
    message_box_text(format_text(catalogue_text(134), {host, error}));
    remove_file(help_path);
    end_process_now(1);
  }
  return dotted(addr);
}

// Builds the page path or help path in the page folder; false when it does
// not fit the buffer.
bool page_file_path(const char* name, char* out) {
  int n = std::snprintf(out, kPagePathSize, "%s/%s", page_directory().c_str(),
                        name);
  return n > 0 && n < kPagePathSize;
}

File open_help_source() {
  File f = open_file(kHelpFileName, "rb");
  if (f.is_open()) return f;
  std::string catalogue = catalogue_default_path();
  size_t slash = catalogue.rfind('/');
  if (slash != std::string::npos) {
    f = open_file(catalogue.substr(0, slash + 1) + kHelpFileName, "rb");
    if (f.is_open()) return f;
  }
  return open_file(executable_directory() + "/" + kHelpFileName, "rb");
}

// text with every byte outside A-Z a-z 0-9 and keep percent-encoded.
std::string encoded(const char* text, const char* keep) {
  std::string out(3 * std::strlen(text) + 1, '\0');
  out.resize(percent_encode(text, keep, out.data()));
  return out;
}

}  // namespace

std::string html_escape(const char* text, size_t max_length) {
  std::string out;
  size_t n = strnlen(text, max_length);
  for (size_t i = 0; i < n; ++i) {
    switch (text[i]) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += text[i];
    }
  }
  return out;
}

std::string file_url_path(const char* path) { return encoded(path, "-._~/"); }

std::string url_name(const char* name, size_t max_length) {
  return encoded(std::string(name, strnlen(name, max_length)).c_str(),
                 kNameKeeps);
}

std::string gateway_unit_link(const std::string& address,
                              const char (&name)[48]) {
  return "http://" + address + ":" + std::to_string(kGatewayPort) + "/" +
         url_name(name, sizeof name) + "-HTML/";
}

void remove_page_files_and_exit(const std::string& page_path,
                                const std::string& help_path, int code) {
  // Held until the process ends: no page write can follow the deletion.
  g_page_files_mutex.lock();
  remove_file(page_path);
  remove_file(help_path);
  end_process_now(code);
}

void end_process_now(int code) {
  std::fflush(nullptr);
  remove_private_page_directory();
  std::_Exit(code);
}

void copy_help_page(const char* dest) {
  File source = open_help_source();
  if (!source.is_open()) {
    message_box(111);
    return;
  }
  File copy = open_file(dest, "wb");
  if (!copy.is_open()) {
    message_box(112);
    return;
  }
  char block[kCopyBlock];
  size_t n;
  bool ok = true;
  while ((n = source.read(block, sizeof block)) > 0)
    ok = copy.write(block, n) && ok;
  if (!copy.close() || !ok) {
    // A partial copy would be a broken help page.
    remove_file(dest);
    message_box(112);
  }
}

std::string discovery_page_text(int ip_count, int ipx_count,
                                const std::string& help_link,
                                const std::string& address) {
  // One pass, so that a percent sign in an insert is never read as a
  // conversion.
  const std::string head = format_inserts_and_args(
      catalogue_text(113), catalogue_text(114), help_link,
      {address, kGatewayPort, kRefreshSegmentText});

  std::shared_ptr<const IpUnitSnapshot> ip = published_ip_units();
  std::shared_ptr<const IpxUnitSnapshot> ipx = published_ipx_units();
  ip_count = std::max(0, std::min(ip_count, ip->count));
  ipx_count = std::max(0, std::min(ipx_count, ipx->count));

  std::string page = head;
  if (ip_count > 0) page += catalogue_text(115);
  if (ip_count == 0 && ipx_count == 0) page += catalogue_text(117);
  for (int i = 0; i < ip_count; ++i) {
    const UnitRecord& u = ip->units[i];
    const std::string a = dotted(u.address.sin_addr);
    page += "<A HREF=\"http://" + a + "/\">http://" + a + "/</A> " +
            html_escape(u.name, sizeof u.name) + " " +
            html_escape(u.description, sizeof u.description) + "<br>\n";
  }
  if (ipx_count > 0) {
    page += catalogue_text(116);
    for (int i = 0; i < ipx_count; ++i) {
      const IpxUnitRecord& u = ipx->units[i];
      if (u.address.sa_socket == 0) continue;
      page += "<A HREF=\"" + gateway_unit_link(address, u.name) + "\">" +
              html_escape(u.name, sizeof u.name) + "</A> " +
              html_escape(u.description, sizeof u.description) + "<br>\n";
    }
  }
  return page + "</BODY></HTML>\n";
}

std::string served_discovery_page() {
  std::lock_guard<std::mutex> lock(g_served_page_mutex);
  return g_served_page;
}

bool read_help_page(std::string* out) {
  File source = open_help_source();
  if (!source.is_open()) return false;
  out->clear();
  char block[kCopyBlock];
  size_t n;
  while ((n = source.read(block, sizeof block)) > 0) out->append(block, n);
  return true;
}

int write_discovery_page(const char* page_path, int ip_count, int ipx_count,
                         const char* help_path) {
  const std::string address = gateway_address(help_path);
  {
    // The gateway's copy links the help page it serves itself.
    std::string served =
        discovery_page_text(ip_count, ipx_count, kHelpFileName, address);
    std::lock_guard<std::mutex> lock(g_served_page_mutex);
    g_served_page = std::move(served);
  }
  const std::string page = discovery_page_text(
      ip_count, ipx_count, "file://" + file_url_path(help_path), address);

  File f = open_file(page_path, "w");
  if (!f.is_open()) {
    message_box(106);
    return -1;
  }
  bool ok = f.write(page);
  if (!f.close() || !ok) {
    // A page cut short by a full disk is not a page.
    remove_file(page_path);
    message_box(106);
    return -1;
  }
  return 1;
}

int write_discovery_files(int ip_count, int ipx_count, char* page_path,
                          char* help_path, int copy_help) {
  std::lock_guard<std::mutex> lock(g_page_files_mutex);
  if (copy_help) {
    if (page_file_path(kHelpFileName, help_path)) {
      copy_help_page(help_path);
    } else {
      help_path[0] = '\0';
      message_box(112);
    }
  }
  if (!page_file_path(kPageFileName, page_path)) {
    page_path[0] = '\0';
    message_box(106);
    remove_file(help_path);
    return -1;
  }
  if (write_discovery_page(page_path, ip_count, ipx_count, help_path) < 0) {
    remove_file(help_path);
    return -1;
  }
  return 0;
}

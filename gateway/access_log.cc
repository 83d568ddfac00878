#include "gateway/access_log.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "platform/debug_log.h"
#include "platform/net.h"

namespace {

std::atomic<bool> g_log_on{false};

std::string utc_time(int64_t unix_ms) {
  using namespace std::chrono;
  sys_seconds t{seconds{unix_ms / 1000}};
  sys_days day = floor<days>(t);
  year_month_day date{day};
  hh_mm_ss<seconds> time{t - day};
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
      static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()),
      static_cast<int>(time.seconds().count()));
  return text;
}

std::string field(std::string_view text) {
  if (text.empty()) return "-";
  std::string out;
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b > 0x20 && b < 0x7F) {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

}  // namespace

std::string access_log_line(const RequestRecord& r) {
  char client[16];
  net::inet_ntoa(r.client, client, sizeof client);
  return utc_time(r.unix_ms) + " " + client + " " + field(r.unit) + " " +
         field(r.path) + " " +
         (r.status > 0 ? std::to_string(r.status) : std::string("-")) + " " +
         std::to_string(r.bytes) + " " + std::to_string(r.elapsed_ms) + "\n";
}

int answer_status(std::string_view head) {
  constexpr std::string_view kStart = "HTTP/";
  if (head.substr(0, kStart.size()) != kStart) return 0;
  size_t blank = head.find(' ');
  if (blank == std::string_view::npos || head.size() < blank + 4) return 0;
  int status = 0;
  for (size_t i = blank + 1; i < blank + 4; ++i) {
    if (head[i] < '0' || head[i] > '9') return 0;
    status = status * 10 + (head[i] - '0');
  }
  return status;
}

void set_access_log(bool on) { g_log_on.store(on); }

void log_request(const RequestRecord& r) {
  if (g_log_on.load()) report("%s", access_log_line(r).c_str());
}

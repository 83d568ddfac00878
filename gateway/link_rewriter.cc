#include "gateway/link_rewriter.h"

#include <cstdio>
#include <cstring>

#include "gateway/forms_capture.h"
#include "gateway/text.h"
#include "units/gateway_url.h"

namespace {

bool is_white(char c) {
  return c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

// The host of an absolute link (host .. close) is the unit: its name whole,
// followed by the end of the host name.
bool host_is_unit(const char* host, const char* close, const char* unit,
                  size_t unit_len) {
  if (static_cast<size_t>(close - host) < unit_len ||
      !equal_nocase_n(host, unit, unit_len))
    return false;
  char after = host[unit_len];
  return after == '"' || after == '/' || after == ':' || after == '.';
}

void set_path(char* path, const char* from, const char* to) {
  size_t n = static_cast<size_t>(to - from);
  if (n > kLinkPathSize - 1) n = kLinkPathSize - 1;
  std::memcpy(path, from, n);
  path[n] = '\0';
}

// The forms name: the text after "Forms/" up to the first ">" that follows
// it, less the character just before the ">". Without a ">" the previous
// capture stays.
void capture_forms_name(const char* from) {
  const char* forms = std::strstr(from, "Forms/");
  if (forms == nullptr) return;
  const char* name = forms + 6;
  const char* gt = std::strchr(name, '>');
  if (gt == nullptr) return;
  const char* end = gt > name ? gt - 1 : name;
  forms_capture_set(name, static_cast<size_t>(end - name));
}

// Output assembled in the caller's buffer, never past its end.
struct Output {
  char* buf;
  size_t used;
  void append(const char* text, size_t n) {
    std::memcpy(buf + used, text, n);
    used += n;
  }
  bool fits(size_t n, size_t rest) const {
    return used + n + rest + 1 <= kRewriteLineSize;
  }
};

}  // namespace

const char* skip_white(const char* text) {
  while (is_white(*text)) ++text;
  return text;
}

const char* find_first_keyword(const char* text) {
  // No keyword lies inside another, so the one that starts first also
  // ends first: one pass finds it.
  for (const char* p = text; *p != '\0'; ++p) {
    char c = static_cast<char>(*p | 0x20);
    if (c == 'h' && equal_nocase_n(p, "href", 4)) return p + 4;
    if (c == 's' && equal_nocase_n(p, "src", 3)) return p + 3;
    if (c == 'a' && equal_nocase_n(p, "action", 6)) return p + 6;
  }
  return nullptr;
}

const char* find_link(const GatewaySession* session, const char* scan,
                      char* path, const char** resume) {
  const char* unit = session->unit.unit_name;
  size_t unit_len = bounded_length(unit, kUnitNameSize);
  while (*scan != '\0') {
    const char* p = find_first_keyword(scan);
    if (p == nullptr) return nullptr;
    p = skip_white(p);
    if (*p != '=') {
      scan = p;
      continue;
    }
    p = skip_white(p + 1);
    if (*p != '"') {
      scan = p;
      continue;
    }
    const char* value = p + 1;
    const char* close = std::strchr(value, '"');
    if (close == nullptr) return nullptr;
    const char* scheme = std::strstr(value, "://");
    if (scheme != nullptr && scheme + 3 <= close) {
      const char* host = scheme + 3;
      if (!host_is_unit(host, close, unit, unit_len)) {
        scan = close;  // leads elsewhere
        continue;
      }
      const char* slash = std::strchr(host, '/');
      if (slash == nullptr || slash > close) {
        path[0] = '\0';
      } else {
        set_path(path, slash + 1, close);
      }
    } else {
      const char* v = skip_white(value);
      if (*v == '/' && v < close) {
        set_path(path, v + 1, close);
      } else if (v >= close) {
        path[0] = '\0';
      } else {
        set_path(path, v, close);
      }
    }
    *resume = close;
    return value;
  }
  return nullptr;
}

void rewrite_links(const GatewaySession* session, char line[kRewriteLineSize]) {
  char copy[kRewriteLineSize];
  size_t len = bounded_length(line, kRewriteLineSize - 1);
  std::memcpy(copy, line, len);
  copy[len] = '\0';
  const char* host = session->host_address;
  // The name as a URL segment: 79 characters, each encoded at most.
  char unit[3 * kUnitNameSize];
  char name[kUnitNameSize];
  std::memcpy(name, session->unit.unit_name, kUnitNameSize);
  name[kUnitNameSize - 1] = '\0';
  percent_encode(name, kNameKeeps, unit);
  Output out{line, 0};
  const char* scan = copy;
  char url[kRewriteLineSize];

  const char* wo = std::strstr(copy, "window.open");
  if (wo != nullptr) {
    const char* end = wo + 11;
    for (int i = 0; i < 2 && *end != '\0'; ++i) ++end;
    int n = std::snprintf(url, sizeof url, "http://%s:%d/%s", host,
                          kGatewayPort, unit);
    size_t head = static_cast<size_t>(end - copy);
    if (n < 0 || !out.fits(head + static_cast<size_t>(n), std::strlen(end)))
      return;  // the line stays as it is
    out.append(copy, head);
    out.append(url, static_cast<size_t>(n));
    scan = end;
  }

  char path[kLinkPathSize];
  const char* resume = nullptr;
  int count = 0;
  for (const char* value; (value = find_link(session, scan, path, &resume));) {
    if (count == 0) capture_forms_name(scan);
    int n;
    if (std::strstr(path, "javascript") != nullptr) {
      n = std::snprintf(url, sizeof url, "%s", path);
    } else if (count == 0 && std::strstr(resume, "previous page") != nullptr) {
      char forms[kFormsCaptureSize];
      forms_capture_get(forms);
      n = std::snprintf(url, sizeof url, "http://%s:%d/%s/%s%s", host,
                        kGatewayPort, unit, forms, path);
    } else {
      n = std::snprintf(url, sizeof url, "http://%s:%d/%s/%s", host,
                        kGatewayPort, unit, path);
    }
    size_t head = static_cast<size_t>(value - scan);
    if (n < 0 || static_cast<size_t>(n) >= sizeof url ||
        !out.fits(head + static_cast<size_t>(n), std::strlen(resume)))
      break;  // this link and the rest of the line stay as they are
    out.append(scan, head);
    out.append(url, static_cast<size_t>(n));
    ++count;
    scan = resume;
  }
  out.append(scan, std::strlen(scan) + 1);
}

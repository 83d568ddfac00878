#include "platform/text_format.h"

#include <cstdio>

namespace {

// One printf conversion taken from a catalogue text.
struct Conversion {
  std::string flags;
  int width = -1;
  int precision = -1;
  char kind = 0;
  size_t length = 0;  // characters of the format it spans
};

// Reads a conversion at format[i] == '%'; false when it is not one we honour.
bool parse_conversion(const std::string& f, size_t i, Conversion* c) {
  size_t j = i + 1;
  while (j < f.size() &&
         std::string_view("-+ #0").find(f[j]) != std::string_view::npos)
    c->flags.push_back(f[j++]);
  auto number = [&](int* out) {
    int v = 0;
    bool any = false;
    while (j < f.size() && f[j] >= '0' && f[j] <= '9') {
      if (v < 10000) v = v * 10 + (f[j] - '0');
      ++j;
      any = true;
    }
    if (any) *out = v > 4096 ? 4096 : v;
    return any;
  };
  number(&c->width);
  if (j < f.size() && f[j] == '.') {
    ++j;
    c->precision = 0;
    number(&c->precision);
  }
  while (j < f.size() && (f[j] == 'l' || f[j] == 'h')) ++j;
  if (j >= f.size()) return false;
  c->kind = f[j];
  if (std::string_view("diuxXcs%").find(c->kind) == std::string_view::npos)
    return false;
  c->length = j - i + 1;
  return true;
}

std::string render(const Conversion& c, const FormatArg& arg) {
  std::string conv = "%" + c.flags;
  if (c.width >= 0) conv += std::to_string(c.width);
  if (c.precision >= 0) conv += "." + std::to_string(c.precision);
  char buf[4200 + 64];
  if (c.kind == 's') {
    std::string text(arg.text);
    conv += "s";
    int n = std::snprintf(nullptr, 0, conv.c_str(), text.c_str());
    if (n < 0) return std::string();
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), conv.c_str(), text.c_str());
    out.resize(static_cast<size_t>(n));
    return out;
  }
  if (c.kind == 'c') {
    conv += "c";
    std::snprintf(buf, sizeof buf, conv.c_str(),
                  static_cast<int>(static_cast<unsigned char>(arg.number)));
    return buf;
  }
  if (c.kind == 'd' || c.kind == 'i') {
    conv += "lld";
    std::snprintf(buf, sizeof buf, conv.c_str(), arg.number);
    return buf;
  }
  // Unsigned conversions of a value that fits 32 bits behave as the 32-bit
  // program's did (-1 prints as 4294967295).
  unsigned long long u = static_cast<unsigned long long>(arg.number);
  if (arg.number >= -2147483648LL && arg.number <= 4294967295LL)
    u = static_cast<unsigned int>(arg.number);
  conv += "ll";
  conv.push_back(c.kind);
  std::snprintf(buf, sizeof buf, conv.c_str(), u);
  return buf;
}

// The one formatter behind format_text() and format_inserts_and_args().
std::string format_impl(const std::string& f, const std::string* inserts,
                        std::initializer_list<FormatArg> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < f.size();) {
    if (f[i] != '%') {
      out.push_back(f[i++]);
      continue;
    }
    if (inserts != nullptr && i + 1 < f.size() &&
        (f[i + 1] == '1' || f[i + 1] == '2')) {
      out += inserts[f[i + 1] - '1'];
      i += 2;
      continue;
    }
    Conversion c;
    if (!parse_conversion(f, i, &c)) {
      out.push_back(f[i++]);
      continue;
    }
    if (c.kind == '%') {
      out.push_back('%');
    } else if (next == args.end()) {
      out.append(f, i, c.length);
    } else {
      const FormatArg& arg = *next++;
      if (arg.is_text == (c.kind == 's'))
        out += render(c, arg);
      else
        out.append(f, i, c.length);
    }
    i += c.length;
  }
  return out;
}

}  // namespace

std::string fill_inserts(const std::string& text, const std::string& insert1,
                         const std::string& insert2) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() &&
        (text[i + 1] == '1' || text[i + 1] == '2')) {
      out += text[i + 1] == '1' ? insert1 : insert2;
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string format_text(const std::string& format,
                        std::initializer_list<FormatArg> args) {
  return format_impl(format, nullptr, args);
}

std::string format_inserts_and_args(const std::string& format,
                                    const std::string& insert1,
                                    const std::string& insert2,
                                    std::initializer_list<FormatArg> args) {
  const std::string inserts[2] = {insert1, insert2};
  return format_impl(format, inserts, args);
}

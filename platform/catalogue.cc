#include "platform/catalogue.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/debug_log.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

struct Catalogue {
  std::string directory;
  CatalogueContents contents;
};

// Loaded catalogues are kept for the life of the process, so that pointers
// handed out (dialog templates) stay valid when a test loads another one.
std::mutex g_load_mutex;
std::vector<std::unique_ptr<Catalogue>> g_all;
std::atomic<const Catalogue*> g_current{nullptr};

using platform_text::trim;

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out.push_back(s[i]);
      continue;
    }
    char e = s[++i];
    switch (e) {
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case '\\':
        out.push_back('\\');
        break;
      default:
        out.push_back('\\');
        out.push_back(e);
    }
  }
  return out;
}

// Parses a whole decimal number; false for anything else.
bool parse_number(const std::string& s, int* out) {
  if (s.empty() || s.size() > 9) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return true;
}

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

bool parse_catalogue(const std::string& text, CatalogueContents* cat) {
  enum class Section { kNone, kTexts, kDialog, kIcon } section = Section::kNone;
  DialogTemplate* dialog = nullptr;
  std::istringstream in(text);
  std::string line;
  int line_no = 0;
  while (std::getline(in, line)) {
    ++line_no;
    std::string t = trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      std::string name = trim(t.substr(1, t.size() - 2));
      int id;
      section = Section::kNone;
      if (name == "texts") {
        section = Section::kTexts;
      } else if (name.compare(0, 7, "dialog ") == 0 &&
                 parse_number(trim(name.substr(7)), &id)) {
        section = Section::kDialog;
        dialog = &cat->dialogs[id];
        dialog->id = id;
      } else if (name.compare(0, 5, "icon ") == 0 &&
                 parse_number(trim(name.substr(5)), &id)) {
        section = Section::kIcon;
      } else {
        DebugLog("parse_catalogue():  Unknown section on line %d.\n", line_no);
      }
      continue;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
      DebugLog("parse_catalogue():  Line %d skipped.\n", line_no);
      continue;
    }
    std::string key = trim(t.substr(0, eq));
    std::string value = trim(t.substr(eq + 1));
    if (value == "<<<") {
      std::string block;
      bool closed = false;
      while (std::getline(in, line)) {
        ++line_no;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == ">>>") {
          closed = true;
          break;
        }
        block += line;
        block += '\n';
      }
      if (!closed) {
        DebugLog("parse_catalogue():  Block without end on line %d.\n",
                 line_no);
        return false;
      }
      value = block;
    }
    value = unescape(value);
    int id;
    switch (section) {
      case Section::kTexts:
        if (parse_number(key, &id))
          cat->texts[id] = value;
        else
          DebugLog("parse_catalogue():  Bad text number on line %d.\n",
                   line_no);
        break;
      case Section::kDialog: {
        if (key == "title") {
          dialog->title = value;
          break;
        }
        std::istringstream words(key);
        std::string word, number, kind;
        words >> word >> number >> kind;
        if (word == "control" && parse_number(number, &id) && !kind.empty()) {
          dialog->controls.push_back({id, kind, value});
        } else {
          DebugLog("parse_catalogue():  Bad control on line %d.\n", line_no);
        }
        break;
      }
      case Section::kIcon:
        if (key == "file") cat->icon_file = value;
        break;
      case Section::kNone:
        DebugLog("parse_catalogue():  Line %d outside a section.\n", line_no);
        break;
    }
  }
  return true;
}

bool catalogue_load(const std::string& path) {
  std::string text;
  if (!read_whole_file(path, &text)) return false;
  auto cat = std::make_unique<Catalogue>();
  size_t slash = path.find_last_of('/');
  cat->directory = slash == std::string::npos ? "." : path.substr(0, slash);
  if (cat->directory.empty()) cat->directory = "/";
  if (!parse_catalogue(text, &cat->contents)) return false;
  std::lock_guard<std::mutex> lock(g_load_mutex);
  g_current.store(cat.get());
  g_all.push_back(std::move(cat));
  return true;
}

std::string catalogue_default_path() {
  const char* v = std::getenv("TAV_CATALOGUE");
  if (v != nullptr && *v != '\0') return v;
  std::string dir = executable_directory();
  std::string beside = dir + "/resc.cat";
  if (file_exists(beside)) return beside;
  std::string shared = dir + "/../share/tav/resc.cat";
  if (file_exists(shared)) return shared;
  return beside;
}

bool catalogue_loaded() { return g_current.load() != nullptr; }

std::string catalogue_text(int id) {
  const Catalogue* cat = g_current.load();
  if (cat == nullptr) return std::string();
  auto it = cat->contents.texts.find(id);
  return it == cat->contents.texts.end() ? std::string() : it->second;
}

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

const DialogTemplate* catalogue_dialog(int id) {
  const Catalogue* cat = g_current.load();
  if (cat == nullptr) return nullptr;
  auto it = cat->contents.dialogs.find(id);
  return it == cat->contents.dialogs.end() ? nullptr : &it->second;
}

std::string catalogue_icon_path() {
  const Catalogue* cat = g_current.load();
  if (cat == nullptr || cat->contents.icon_file.empty()) return std::string();
  return cat->directory + "/" + cat->contents.icon_file;
}

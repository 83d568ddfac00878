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

// GCC 12 at -O2 reports a false -Wrestrict inside std::string's assignment
// here (a known fault of its inliner), which would stop -Werror builds.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
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
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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

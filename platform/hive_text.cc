#include "platform/hive_text.h"

#include <strings.h>

#include <cstring>
#include <sstream>

#include "platform/text.h"

namespace {

constexpr const char* kRootName = "HKEY_LOCAL_MACHINE";

bool iequal(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

// True when `path` is `above` followed by '\' and more, ignoring case.
bool lies_below(const std::string& path, const std::string& above) {
  return path.size() > above.size() && path[above.size()] == '\\' &&
         strncasecmp(path.c_str(), above.c_str(), above.size()) == 0;
}

// Parses a quoted string starting at s[i] == '"'; on success i is just past
// the closing quote.
bool parse_quoted(const std::string& s, size_t& i, std::string* out) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  out->clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\') {
      if (i >= s.size()) return false;
      char e = s[i++];
      if (e != '\\' && e != '"') return false;
      out->push_back(e);
    } else {
      out->push_back(c);
    }
  }
  return false;
}

std::string quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// The key a section name stands for: the path below HKEY_LOCAL_MACHINE, or
// the whole name for any other root.
HiveKey section_key(const std::string& name) {
  size_t n = std::strlen(kRootName);
  if (name.size() >= n && strncasecmp(name.c_str(), kRootName, n) == 0) {
    if (name.size() == n) return {std::string(), {}};
    if (name[n] == '\\') return {name.substr(n + 1), {}};
  }
  return {name, {}, true};
}

// Reads a value line into *item; false when it is not one.
bool parse_value(const std::string& t, HiveItem* item) {
  size_t i = 0;
  if (t[0] == '@') {
    i = 1;
  } else if (!parse_quoted(t, i, &item->name)) {
    return false;
  }
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  if (i >= t.size() || t[i] != '=') return false;
  ++i;
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  return parse_quoted(t, i, &item->data) && i == t.size();
}

}  // namespace

HiveKey* Hive::find_key(const std::string& path) {
  for (auto& k : keys)
    if (!k.other_root && iequal(k.path, path)) return &k;
  return nullptr;
}

bool Hive::key_exists(const std::string& path) const {
  if (path.empty() || iequal(path, "SOFTWARE") ||
      iequal(path, "SOFTWARE\\Classes"))
    return true;
  for (const auto& k : keys)
    if (!k.other_root && (iequal(k.path, path) || lies_below(k.path, path)))
      return true;
  return false;
}

const HiveItem* Hive::find_value(const std::string& path,
                                 const std::string& name) {
  HiveKey* k = find_key(path);
  if (k == nullptr) return nullptr;
  for (const auto& item : k->items)
    if (!item.is_comment && iequal(item.name, name)) return &item;
  return nullptr;
}

Hive parse_hive(const std::string& text) {
  Hive hive;
  hive.exists = true;
  hive.raw = text;
  std::istringstream in(text);
  std::string line;
  bool header_seen = false;
  HiveKey* current = nullptr;
  while (std::getline(in, line)) {
    std::string t = platform_text::trim(line);
    if (t.empty()) continue;
    if (!header_seen) {
      header_seen = true;
      if (t == "REGEDIT4") continue;
      hive.damaged = true;  // not a hive file; parse what we can
    }
    if (t[0] == ';') {
      if (current != nullptr) current->items.push_back({true, "", t});
      continue;
    }
    if (t[0] == '[') {
      // "[-...]" deletes a key in the format; this store never asks that.
      if (t.back() != ']' || t.size() < 3 || t[1] == '-') {
        hive.damaged = true;
        current = nullptr;
        continue;
      }
      HiveKey key = section_key(t.substr(1, t.size() - 2));
      current = nullptr;
      for (auto& k : hive.keys)
        if (k.other_root == key.other_root && iequal(k.path, key.path))
          current = &k;
      if (current == nullptr) {
        hive.keys.push_back(std::move(key));
        current = &hive.keys.back();
      }
      continue;
    }
    HiveItem item;
    if (current == nullptr || !parse_value(t, &item)) {
      hive.damaged = true;
      continue;
    }
    bool replaced = false;
    for (auto& old : current->items) {
      if (!old.is_comment && iequal(old.name, item.name)) {
        old.data = item.data;
        replaced = true;
      }
    }
    if (!replaced) current->items.push_back(std::move(item));
  }
  return hive;
}

bool hive_key_implied(const Hive& hive, const HiveKey& key) {
  if (!key.items.empty()) return false;
  for (const auto& other : hive.keys) {
    if (other.other_root != key.other_root) continue;
    if (key.path.empty() ? !other.path.empty()
                         : lies_below(other.path, key.path))
      return true;
  }
  return false;
}

std::string write_hive(const Hive& hive) {
  std::string out = "REGEDIT4\n";
  for (const auto& k : hive.keys) {
    if (hive_key_implied(hive, k)) continue;
    out += "\n[";
    if (k.other_root) {
      out += k.path;
    } else {
      out += kRootName;
      if (!k.path.empty()) out += "\\" + k.path;
    }
    out += "]\n";
    for (const auto& item : k.items) {
      if (item.is_comment)
        out += item.data;
      else
        out += (item.name.empty() ? std::string("@") : quote(item.name)) + "=" +
               quote(item.data);
      out += "\n";
    }
  }
  return out;
}

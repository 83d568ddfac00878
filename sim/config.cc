#include "sim/config.h"

#include <cstdlib>

namespace sim {

std::string Entity::get(const std::string& key,
                        const std::string& fallback) const {
  auto it = options.find(key);
  return it == options.end() ? fallback : it->second;
}

long Entity::get_number(const std::string& key, long fallback) const {
  auto it = options.find(key);
  if (it == options.end() || it->second.empty()) return fallback;
  char* end = nullptr;
  long v = std::strtol(it->second.c_str(), &end, 0);
  return *end == '\0' ? v : fallback;
}

bool Entity::get_flag(const std::string& key, bool fallback) const {
  auto it = options.find(key);
  if (it == options.end()) return fallback;
  const std::string& v = it->second;
  return v.empty() || v == "1" || v == "on" || v == "yes" || v == "true";
}

namespace {

bool parse_options(const std::string& text, Entity* e, std::string* error) {
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    size_t comma = text.find(',', i);
    std::string key, value;
    if (eq == std::string::npos || (comma != std::string::npos && comma < eq)) {
      size_t end = comma == std::string::npos ? text.size() : comma;
      key = text.substr(i, end - i);
      i = end + 1;
    } else {
      key = text.substr(i, eq - i);
      size_t j = eq + 1;
      if (j < text.size() && text[j] == '"') {
        size_t close = text.find('"', j + 1);
        if (close == std::string::npos) {
          *error = "unterminated quote in: " + text;
          return false;
        }
        value = text.substr(j + 1, close - j - 1);
        i = close + 1;
        if (i < text.size() && text[i] == ',') ++i;
      } else {
        size_t end = text.find(',', j);
        if (end == std::string::npos) end = text.size();
        value = text.substr(j, end - j);
        i = end + 1;
      }
    }
    if (key.empty()) {
      *error = "empty option name in: " + text;
      return false;
    }
    e->options[key] = value;
  }
  return true;
}

}  // namespace

bool parse_command_line(int argc, char** argv, Config* config,
                        std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) {
      *error = "unexpected argument: " + arg;
      return false;
    }
    std::string name = arg.substr(2);
    size_t eq = name.find('=');
    if (eq != std::string::npos) {
      config->globals[name.substr(0, eq)] = name.substr(eq + 1);
      continue;
    }
    if (i + 1 >= argc || std::string(argv[i + 1]).rfind("--", 0) == 0) {
      config->globals[name] = "";
      continue;
    }
    Entity e;
    e.kind = name;
    if (!parse_options(argv[++i], &e, error)) return false;
    config->entities.push_back(std::move(e));
  }
  return true;
}

}  // namespace sim

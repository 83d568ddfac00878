// The simulator's command line: a list of entities, each a kind and a set
// of key=value options, e.g.
//   tav-sim --unit name=VEM_123456,ip=10.1.0.5,hw=00-40-AF-0F-12-00
//           --router ip=10.1.0.1,version=1,routes=10.2.0.0/1
// Each protocol side takes the entities and keys it knows and ignores the
// rest, so that sides can grow without touching each other.
#ifndef TAV_SIM_CONFIG_H_
#define TAV_SIM_CONFIG_H_

#include <map>
#include <string>
#include <vector>

namespace sim {

struct Entity {
  std::string kind;  // "unit", "router", "fileserver", ...
  std::map<std::string, std::string> options;

  bool has(const std::string& key) const { return options.count(key) != 0; }
  std::string get(const std::string& key,
                  const std::string& fallback = {}) const;
  long get_number(const std::string& key, long fallback) const;
  bool get_flag(const std::string& key, bool fallback = false) const;
};

struct Config {
  std::vector<Entity> entities;
  std::map<std::string, std::string> globals;  // --key=value options
};

// Parses argv; false with a message in *error on bad input. Option values
// may hold ',' when written as key="a,b" (double quotes).
bool parse_command_line(int argc, char** argv, Config* config,
                        std::string* error);

}  // namespace sim

#endif  // TAV_SIM_CONFIG_H_

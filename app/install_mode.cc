#include "app/install_mode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "discovery/driver.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/settings_store.h"
#include "platform/ui.h"

namespace {

constexpr int kNoUnitFound = 110;
constexpr int kListFileCannotBeOpened = 123;
constexpr int kSettingCapacity = 100;
constexpr int kDataDirectoryCapacity = 200;
constexpr uint32_t kDefaultHops = 2;

// The hop count as stored, with no range check: "20" is 20.
uint32_t stored_hop_limit() {
  char text[kSettingCapacity];
  if (qel_get_registry_string(kTavKeyPath, "Discovery Max Hops", text,
                              kSettingCapacity) != 0) {
    return kDefaultHops;
  }
  return static_cast<uint32_t>(std::strtol(text, nullptr, 10));
}

// The stored data directory; the current directory, stored, when there is
// none.
std::string data_directory() {
  char dir[kDataDirectoryCapacity];
  if (qel_get_registry_string(kTavKeyPath, "Data File Directory", dir,
                              kDataDirectoryCapacity) == 0) {
    return dir;
  }
  if (!get_current_directory(dir, sizeof dir)) {
    // Too long for the setting: write to the current directory, store
    // nothing.
    return std::string();
  }
  // The outcome is not examined: the list is written all the same.
  create_key(kTavKeyPath, "Data File Directory", dir,
             static_cast<int>(std::strlen(dir) + 1));
  return dir;
}

// A name or description as one field of a list line: control characters
// (a line break would start a line of its own) become blanks, and a comma
// after a blank, which would read as the field separator, becomes ';'.
std::string list_field(const char* text, size_t capacity) {
  std::string field(text, strnlen(text, capacity));
  for (size_t i = 0; i < field.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(field[i]);
    if (c < 0x20 || c == 0x7F) field[i] = ' ';
    if (c == ',' && i > 0 && field[i - 1] == ' ') field[i] = ';';
  }
  return field;
}

}  // namespace

std::string data_file_path(const std::string& directory,
                           const std::string& file_name) {
  if (directory.empty()) return file_name;
  if (directory.back() == '/') return directory + file_name;
  return directory + "/" + file_name;
}

int write_unit_list(const std::string& path, const UnitRecord* units,
                    int count) {
  File file = open_file(path, "wb");
  if (!file.is_open()) {
    message_box(kListFileCannotBeOpened);
    return -1;
  }
  bool written = true;
  for (int i = 0; i < count; ++i) {
    const UnitRecord& u = units[i];
    if (u.name[0] == '\0') continue;
    char dotted[16];
    net::inet_ntoa(u.address.sin_addr, dotted, sizeof dotted);
    std::string line = list_field(u.name, sizeof u.name);
    line += " ,";
    line += dotted;
    line += " ,";
    line += list_field(u.description, sizeof u.description);
    line += " \r\n";
    written = file.write(line) && written;
  }
  if (!file.close() || !written) {
    // A full disk must not leave a short list that looks complete.
    message_box(kListFileCannotBeOpened);
    return -1;
  }
  return 0;
}

int run_install_mode_with(IpDiscoveryFn discover) {
  int count = 0;
  if (search_enabled("Enable IP Search", kSettingCapacity)) {
    count = discover(stored_hop_limit());
  }
  if (count <= 0) {
    message_box(kNoUnitFound);
    return -1;
  }
  std::string path = data_file_path(data_directory(), kUnitListFileName);
  std::shared_ptr<const IpUnitSnapshot> units = published_ip_units();
  return write_unit_list(path, units->units, std::min(count, units->count));
}

int run_install_mode() {
  return run_install_mode_with(discover_units_using_ip);
}

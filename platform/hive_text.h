// The settings hive's file text (REGEDIT4): parsing and writing, as pure
// functions over text.
//
// - The first line that is not blank must read "REGEDIT4". Sections name a
//   key: "[HKEY_LOCAL_MACHINE\<path>]"; sections of any other root are kept
//   whole so that a rewrite does not drop them. Lines hold a value
//   ("name"="text" or @="text"; inside quotes only \\ and \" are escapes)
//   or a comment (";"), which is kept with its key.
// - Key paths and value names compare without regard to case; a repeated
//   section continues its key and a repeated value replaces the earlier one.
// - A hive that parses without damage writes back to a text that parses to
//   the same keys and values, and writing that again gives the same bytes.
#ifndef TAV_PLATFORM_HIVE_TEXT_H_
#define TAV_PLATFORM_HIVE_TEXT_H_

#include <string>
#include <vector>

// One line inside a key section: a value, or a comment kept as written.
struct HiveItem {
  bool is_comment = false;
  std::string name;  // "" is the default value "@"
  std::string data;  // the value, or the whole comment line
  bool operator==(const HiveItem&) const = default;
};

struct HiveKey {
  // The path below HKEY_LOCAL_MACHINE, components joined by '\' (it may
  // itself begin with '\' in a hand-written file); for another root, the
  // whole section name.
  std::string path;
  std::vector<HiveItem> items;
  bool other_root = false;
  bool operator==(const HiveKey&) const = default;
};

// A parsed hive: keys in file order.
struct Hive {
  std::vector<HiveKey> keys;
  bool damaged = false;  // some line could not be read and was left out
  bool exists = false;   // parsed from a file (false: no file)
  std::string raw;       // the text parsed

  // The key of HKEY_LOCAL_MACHINE at `path`, or nullptr.
  HiveKey* find_key(const std::string& path);
  // A key exists when it has a section or lies above one. SOFTWARE and
  // SOFTWARE\Classes exist on every machine.
  bool key_exists(const std::string& path) const;
  const HiveItem* find_value(const std::string& path, const std::string& name);
};

Hive parse_hive(const std::string& text);

// The file text of `hive`, with LF line ends. Keys that hold nothing and lie
// above another key of the same root are implied by it and left out.
std::string write_hive(const Hive& hive);

// True when write_hive() leaves `key` out.
bool hive_key_implied(const Hive& hive, const HiveKey& key);

#endif  // TAV_PLATFORM_HIVE_TEXT_H_

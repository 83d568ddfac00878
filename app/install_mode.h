// Install mode ("-install"): IP discovery alone, the units written to
// ipunit.dat in the data directory ("Data File Directory", else the current
// directory, which is then stored). Runs on the main thread.
#ifndef TAV_APP_INSTALL_MODE_H_
#define TAV_APP_INSTALL_MODE_H_

#include <cstdint>
#include <string>

#include "units/units.h"

inline constexpr const char* kUnitListFileName = "ipunit.dat";

// Returns 0 on success; -1 after message 110 (no unit found, or IP search
// disabled: nothing is written) or 123 (the list file cannot be written).
int run_install_mode();

// The same with another IP discovery in place of discover_units_using_ip():
// it takes the hop limit, returns the unit count and publishes the list.
using IpDiscoveryFn = int (*)(uint32_t hop_limit);
int run_install_mode_with(IpDiscoveryFn discover);

// The data directory joined with a file name by "/"; no separator is added
// when the directory already ends with one, none at all when it is empty.
std::string data_file_path(const std::string& directory,
                           const std::string& file_name);

// Creates or truncates the list file at `path` and writes one
// "name ,address ,description \r\n" line per record with a name, in list
// order. Names and descriptions come from the network: control characters
// in them become blanks and a " ," inside becomes " ;", so that each unit
// stays one line of three fields. Returns 0, or -1 after message 123 when the
// file cannot be opened or written.
int write_unit_list(const std::string& path, const UnitRecord* units,
                    int count);

#endif  // TAV_APP_INSTALL_MODE_H_

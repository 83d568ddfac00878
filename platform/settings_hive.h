// The settings hive: the machine-wide registry of the design kept as one
// REGEDIT4 text file ($TAV_REGISTRY, else $XDG_CONFIG_HOME/tav/registry.reg,
// else ~/.config/tav/registry.reg).
//
// Contract:
// - Calls return Win32 error numbers: 0 success, 2 absent key or value,
//   234 value larger than the caller's capacity, 5 hive cannot be written
//   (or read for a write: an unreadable hive is never overwritten), 6 bad
//   handle, 87 a name or text the file cannot hold (a line break, an empty
//   key-name component).
// - Key and value names compare without regard to case; the first spelling
//   written is kept. Only REG_SZ values exist; "@" is a key's default value
//   (value name nullptr or "").
// - Every read loads the file; every write is read-modify-write under
//   flock(), written to a temporary file, fsync'ed and renamed over the old
//   one. A missing file is an empty hive; a missing folder is made on the
//   first write; the lock is the file registry.reg.lock beside the hive.
//   Unparsable lines are treated as absent on read; a write over a damaged
//   hive first keeps a copy of it as registry.reg.bad. Comment lines (";")
//   are kept. Keys are created by writing their section. The file text is
//   read and written by platform/hive_text.h.
// - SOFTWARE and SOFTWARE\Classes exist on every machine, as on Windows.
//   The HTML open command that the desktop provides is not emulated here
//   (see platform/browser_choice.h): the hive answers only what it holds.
// - Safe for concurrent use from several threads and processes.
#ifndef TAV_PLATFORM_SETTINGS_HIVE_H_
#define TAV_PLATFORM_SETTINGS_HIVE_H_

#include <cstdint>
#include <string>

using HKEY = intptr_t;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_ALL_CREATE = 0x2001F;  // read, set, create
inline constexpr uint32_t REG_SZ = 1;
inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;
inline constexpr long ERROR_ACCESS_DENIED = 5;
inline constexpr long ERROR_INVALID_HANDLE = 6;
inline constexpr long ERROR_INVALID_PARAMETER = 87;
inline constexpr long ERROR_MORE_DATA = 234;

// Opens `subkey` (one component, or nullptr for `key` itself) below `key`.
long RegOpenKeyExA(HKEY key, const char* subkey, uint32_t access, HKEY* result);
// Creates (or opens) `subkey` below `key`.
long RegCreateKeyExA(HKEY key, const char* subkey, uint32_t access,
                     HKEY* result);
// Stores `size` bytes of `data` as a REG_SZ value (a trailing NUL counted in
// size is not stored in the file).
long RegSetValueExA(HKEY key, const char* value_name, uint32_t type,
                    const char* data, uint32_t size);
// Reads a value into data; *size is the capacity in and the bytes stored
// (NUL included) out. ERROR_MORE_DATA when it does not fit.
long RegQueryValueExA(HKEY key, const char* value_name, uint32_t* type,
                      char* data, uint32_t* size);
long RegCloseKey(HKEY key);

// The path of the hive file in force.
std::string hive_path();

// Waits for a write of this process in progress and keeps any later one
// from starting: for a process about to end, so that it leaves no
// temporary file behind. Never undone.
void hold_hive_writes();

#endif  // TAV_PLATFORM_SETTINGS_HIVE_H_

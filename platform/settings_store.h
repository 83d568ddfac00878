// The settings store: the three primitives through which the program reads
// and writes registry data, always below HKEY_LOCAL_MACHINE. Kept in the
// platform layer because every module reads settings through it.
//
// A key path is a nullptr-terminated array of key-name components.
// Failures are reported on standard output with the program's own texts
// and returned as -1. Safe for concurrent use.
#ifndef TAV_PLATFORM_SETTINGS_STORE_H_
#define TAV_PLATFORM_SETTINGS_STORE_H_

#include "platform/settings_hive.h"

using KeyPath = const char* const*;

// SOFTWARE\ZID-AVU\TAV\4.00: the program's own key.
extern const char* const kTavKeyPath[];

// Opens the key path for reading; the handle or -1.
HKEY open_key(KeyPath path);
// Creates the key path as needed and stores `size` bytes of data as a REG_SZ
// value (size counts the terminating NUL); 0 or -1.
int create_key(KeyPath path, const char* value_name, const char* data,
               int size);
// Reads a string value into dest (capacity bytes); 0 or -1. dest holds the
// empty string after a failed read.
int qel_get_registry_string(KeyPath path, const char* value_name, char* dest,
                            int capacity);

// True unless the value reads back and equals "No" without regard to case.
bool search_enabled(const char* value_name, int capacity);

#endif  // TAV_PLATFORM_SETTINGS_STORE_H_

#include "platform/settings_store.h"

#include <strings.h>

#include <vector>

#include "platform/debug_log.h"

const char* const kTavKeyPath[] = {"SOFTWARE", "ZID-AVU", "TAV", "4.00",
                                   nullptr};

namespace {

using OpenStep = long (*)(HKEY, const char*, uint32_t, HKEY*);

// Walks the key path from HKEY_LOCAL_MACHINE with `step`; reports a failing
// component with `call_name` and returns -1.
HKEY walk_path(KeyPath path, OpenStep step, uint32_t access,
               const char* call_name) {
  HKEY current;
  long rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, KEY_READ, &current);
  if (rc != ERROR_SUCCESS) {
    report(
        "Error duplicating HKEY_LOCAL_MACHINE key.  RegOpenKeyEx() "
        "returned %d.\n",
        static_cast<int>(rc));
    return -1;
  }
  for (; path != nullptr && *path != nullptr; ++path) {
    HKEY next;
    rc = step(current, *path, access, &next);
    if (rc != ERROR_SUCCESS) {
      report("Error opening key %s.  %s() returned error code %d.\n", *path,
             call_name, static_cast<int>(rc));
      RegCloseKey(current);
      return -1;
    }
    RegCloseKey(current);
    current = next;
  }
  return current;
}

}  // namespace

HKEY open_key(KeyPath path) {
  return walk_path(path, RegOpenKeyExA, KEY_READ, "RegOpenKeyEx");
}

int create_key(KeyPath path, const char* value_name, const char* data,
               int size) {
  HKEY key = walk_path(path, RegCreateKeyExA, KEY_ALL_CREATE, "RegCreateKeyEx");
  if (key == -1) {
    report("create_key() failed.\n");
    return -1;
  }
  long rc = size < 0 ? ERROR_INVALID_PARAMETER
                     : RegSetValueExA(key, value_name, REG_SZ, data,
                                      static_cast<uint32_t>(size));
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    report("RegSetValueEx returned error code %d.\n", static_cast<int>(rc));
    return -1;
  }
  return 0;
}

int qel_get_registry_string(KeyPath path, const char* value_name, char* dest,
                            int capacity) {
  if (capacity > 0) dest[0] = '\0';
  HKEY key = open_key(path);
  if (key == -1) {
    report("open_key() failed.\n");
    return -1;
  }
  uint32_t type = REG_SZ;
  uint32_t size = capacity > 0 ? static_cast<uint32_t>(capacity) : 0;
  long rc = capacity > 0 ? RegQueryValueExA(key, value_name, &type, dest, &size)
                         : ERROR_MORE_DATA;
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    // Whatever a failed query left behind is not a value.
    if (capacity > 0) dest[0] = '\0';
    report("RegQueryValueEx returned error code %d.\n", static_cast<int>(rc));
    return -1;
  }
  report("qel_get_registry_string() returning %s.\n", dest);
  return 0;
}

bool search_enabled(const char* value_name, int capacity) {
  if (capacity <= 0) return true;
  std::vector<char> buffer(static_cast<size_t>(capacity));
  if (qel_get_registry_string(kTavKeyPath, value_name, buffer.data(),
                              capacity) != 0)
    return true;
  return strcasecmp(buffer.data(), "No") != 0;
}

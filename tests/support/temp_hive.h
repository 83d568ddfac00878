// A settings hive file for one test: TAV_REGISTRY points at a fresh file
// in a scratch folder for the object's lifetime, then is restored.
#ifndef TAV_TESTS_SUPPORT_TEMP_HIVE_H_
#define TAV_TESTS_SUPPORT_TEMP_HIVE_H_

#include <string>

#include "tests/support/scratch.h"

namespace tav_test {

class TempHive {
 public:
  // `text` is the whole hive file (REGEDIT4); empty means no file at all.
  explicit TempHive(const std::string& text = "") {
    if (!text.empty()) write_text(path(), text);
  }
  std::string path() const { return dir_.file("registry.reg"); }

 private:
  ScratchDir dir_;
  ScopedEnv registry_{"TAV_REGISTRY", path().c_str()};
};

}  // namespace tav_test

#endif  // TAV_TESTS_SUPPORT_TEMP_HIVE_H_

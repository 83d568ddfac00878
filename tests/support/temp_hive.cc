#include "tests/support/temp_hive.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace tav_test {

TempHive::TempHive(const std::string& text) {
  char dir[] = "/tmp/tavt_hiveXXXXXX";
  if (mkdtemp(dir) != nullptr) dir_ = dir;
  path_ = dir_ + "/registry.reg";
  if (const char* p = std::getenv("TAV_REGISTRY")) {
    had_previous_ = true;
    previous_ = p;
  }
  if (!text.empty()) std::ofstream(path_) << text;
  setenv("TAV_REGISTRY", path_.c_str(), 1);
}

TempHive::~TempHive() {
  if (had_previous_) {
    setenv("TAV_REGISTRY", previous_.c_str(), 1);
  } else {
    unsetenv("TAV_REGISTRY");
  }
  std::string bad = path_ + ".bad";
  unlink(path_.c_str());
  unlink(bad.c_str());
  rmdir(dir_.c_str());
}

}  // namespace tav_test

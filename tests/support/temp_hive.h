// A settings hive file for one test: TAV_REGISTRY points at a fresh file
// in a private folder for the object's lifetime, then is restored.
#ifndef TAV_TESTS_SUPPORT_TEMP_HIVE_H_
#define TAV_TESTS_SUPPORT_TEMP_HIVE_H_

#include <string>

namespace tav_test {

class TempHive {
 public:
  // `text` is the whole hive file (REGEDIT4); empty means no file at all.
  explicit TempHive(const std::string& text = "");
  ~TempHive();
  TempHive(const TempHive&) = delete;
  TempHive& operator=(const TempHive&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string dir_, path_, previous_;
  bool had_previous_ = false;
};

}  // namespace tav_test

#endif  // TAV_TESTS_SUPPORT_TEMP_HIVE_H_

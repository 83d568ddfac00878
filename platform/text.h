// Small text helpers shared by the platform's file readers.
#ifndef TAV_PLATFORM_TEXT_H_
#define TAV_PLATFORM_TEXT_H_

#include <string>

namespace platform_text {

// The text without leading and trailing blanks, tabs, CRs and LFs.
inline std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace platform_text

#endif  // TAV_PLATFORM_TEXT_H_

// Shared set-up of the page tests: one page folder for the whole binary
// (the page folder is fixed per process), the real catalogue, a fixed
// gateway address, and verbs to publish units and read the page files.
#ifndef TAV_TESTS_PAGE_PAGE_FIXTURE_H_
#define TAV_TESTS_PAGE_PAGE_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/units.h"

namespace page_test {

// 10.1.2.3 for every host name.
bool fixed_lookup(const char* name, uint32_t* addr);

// Source tree paths.
std::string source_dir();
std::string catalogue_path();
std::string fake_browser_path();

// A new empty folder under the temp folder.
std::string make_temp_dir(const char* tag);
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

struct IpUnit {
  const char* address;
  const char* name;
  const char* description;
};
struct IpxUnit {
  const char* name;
  uint16_t socket;  // host order; 0: no web service
  const char* description;
};
void publish(const std::vector<IpUnit>& ip, const std::vector<IpxUnit>& ipx);

class PageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Writes the page (and the help copy when copy_help) into the two
  // process-wide path buffers; the result of write_discovery_files.
  int WritePage(int copy_help = 1);
  std::string Page() const;
  std::string dir_;
};

}  // namespace page_test

#endif  // TAV_TESTS_PAGE_PAGE_FIXTURE_H_

// Page tests: one page folder per binary, real catalogue, gateway 10.1.2.3.
#ifndef TAV_TESTS_PAGE_PAGE_FIXTURE_H_
#define TAV_TESTS_PAGE_PAGE_FIXTURE_H_

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdlib>

#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "tests/support/scratch.h"
#include "units/units.h"

namespace page_test {

using namespace tav_test;
using ::testing::HasSubstr;
using ::testing::Not;

inline std::string source_dir() {
  // __FILE__ may be relative to the build folder (ccache's base_dir).
  if (const char* dir = std::getenv("TAV_SOURCE_DIR")) return dir;
  std::string here = __FILE__;
  return here.substr(0, here.rfind("/tests/page/"));
}

struct IpUnit {
  const char *address, *name, *description;
};
struct IpxUnit {
  const char* name;
  uint16_t socket;  // 0: no web service
  const char* description;
};
inline void publish(const std::vector<IpUnit>& ip,
                    const std::vector<IpxUnit>& ipx) {
  std::vector<UnitRecord> a(ip.size());
  std::vector<IpxUnitRecord> b(ipx.size());
  for (size_t i = 0; i < ip.size(); ++i) {
    a[i].address = {2, htons(10001), ::inet_addr(ip[i].address), {}};
    std::snprintf(a[i].name, sizeof a[i].name, "%s", ip[i].name);
    std::snprintf(a[i].description, 259, "%s", ip[i].description);
  }
  for (size_t i = 0; i < ipx.size(); ++i) {
    std::snprintf(b[i].name, sizeof b[i].name, "%s", ipx[i].name);
    b[i].address = {6, {}, {0, 0, 10, 0, 0, 1}, htons(ipx[i].socket)};
    std::snprintf(b[i].description, 256, "%s", ipx[i].description);
  }
  publish_ip_units(a.data(), static_cast<int>(a.size()));
  publish_ipx_units(b.data(), static_cast<int>(b.size()));
}

class PageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool done = false;
    if (std::exchange(done, true)) return;
    ::setenv("TAV_PAGE_DIR", make_temp_dir("pages").c_str(), 1);
    std::string catalogue = source_dir() + "/catalogue/resc.cat";
    ::setenv("TAV_CATALOGUE", catalogue.c_str(), 1);
    ASSERT_TRUE(catalogue_load(catalogue));
    // An empty current folder: help found beside the catalogue, or put here.
    ASSERT_EQ(::chdir(make_temp_dir("cwd").c_str()), 0);
  }
  void SetUp() override {
    page_ = page_directory() + "/tav-disc.htm";
    help_ = page_directory() + "/tavhelp.htm";
    for (const std::string& f : {page_, help_, std::string("tavhelp.htm")})
      remove_file(f);
    publish({}, {});
  }
  // write_discovery_files on the published lists and the two path buffers.
  int WritePage(int copy_help = 1) {
    return write_discovery_files(
        published_ip_units()->count, published_ipx_units()->count,
        discovery_page_path, help_page_path, copy_help);
  }
  std::string page_, help_;
  ScopedEnvironment host_{{.host_lookup = [](const char*, uint32_t* addr) {
    *addr = ::inet_addr("10.1.2.3");
    return true;
  }}};
};

}  // namespace page_test

#endif  // TAV_TESTS_PAGE_PAGE_FIXTURE_H_

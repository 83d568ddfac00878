#include "tests/page/page_fixture.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "platform/files.h"

namespace page_test {

bool fixed_lookup(const char*, uint32_t* addr) {
  *addr = ::inet_addr("10.1.2.3");
  return true;
}

std::string source_dir() {
  std::string here = __FILE__;  // <source>/tests/page/page_fixture.cc
  return here.substr(0, here.rfind("/tests/page/"));
}

std::string catalogue_path() { return source_dir() + "/catalogue/resc.cat"; }

std::string fake_browser_path() {
  return source_dir() + "/tests/page/fake_browser.sh";
}

std::string make_temp_dir(const char* tag) {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/tav-" + tag + "-XXXXXX";
  EXPECT_NE(::mkdtemp(templ.data()), nullptr);
  return templ;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool exists(const std::string& path) { return file_exists(path); }

void publish(const std::vector<IpUnit>& ip, const std::vector<IpxUnit>& ipx) {
  static UnitRecord ip_list[kIpUnitCapacity];
  static IpxUnitRecord ipx_list[kIpxUnitCapacity];
  std::memset(ip_list, 0, sizeof ip_list);
  std::memset(ipx_list, 0, sizeof ipx_list);
  for (size_t i = 0; i < ip.size(); ++i) {
    UnitRecord& u = ip_list[i];
    u.address.sin_family = 2;
    u.address.sin_port = htons(10001);
    u.address.sin_addr = ::inet_addr(ip[i].address);
    std::snprintf(u.name, sizeof u.name, "%s", ip[i].name);
    std::snprintf(u.description, sizeof u.description, "%s", ip[i].description);
  }
  for (size_t i = 0; i < ipx.size(); ++i) {
    IpxUnitRecord& u = ipx_list[i];
    std::snprintf(u.name, sizeof u.name, "%s", ipx[i].name);
    u.address.sa_family = 6;
    u.address.sa_nodenum[5] = static_cast<uint8_t>(i + 1);
    u.address.sa_socket = htons(ipx[i].socket);
    std::snprintf(u.description, sizeof u.description, "%s",
                  ipx[i].description);
  }
  publish_ip_units(ip_list, static_cast<int>(ip.size()));
  publish_ipx_units(ipx_list, static_cast<int>(ipx.size()));
}

void PageTest::SetUpTestSuite() {
  static bool done = false;
  if (done) return;
  done = true;
  // The page folder is fixed on first use: choose it before that.
  ::setenv("TAV_PAGE_DIR", make_temp_dir("pages").c_str(), 1);
  ::setenv("TAV_CATALOGUE", catalogue_path().c_str(), 1);
  ASSERT_TRUE(catalogue_load(catalogue_path())) << catalogue_path();
  // An empty current folder: the help source comes from beside the
  // catalogue unless a test puts one here.
  ASSERT_EQ(::chdir(make_temp_dir("cwd").c_str()), 0);
  set_host_lookup(fixed_lookup);
}

void PageTest::SetUp() {
  dir_ = page_directory();
  remove_file(dir_ + "/tav-disc.htm");
  remove_file(dir_ + "/tavhelp.htm");
  remove_file("tavhelp.htm");
  discovery_page_path[0] = '\0';
  help_page_path[0] = '\0';
  publish({}, {});
}

void PageTest::TearDown() { set_host_lookup(fixed_lookup); }

int PageTest::WritePage(int copy_help) {
  return write_discovery_files(published_ip_units()->count,
                               published_ipx_units()->count,
                               discovery_page_path, help_page_path, copy_help);
}

std::string PageTest::Page() const { return read_file(dir_ + "/tav-disc.htm"); }

}  // namespace page_test

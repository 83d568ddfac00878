// The refresh request end to end: the real tav in normal mode on the test
// network, with simulated IP and IPX units and a fake browser that stays
// open until the test closes it; curl asks the gateway for "$$Refresh$".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "platform/catalogue.h"
#include "tests/app/tav_process.h"
#include "tests/support/netns.h"
#include "tests/support/temp_hive.h"
#include "tests/support/test_network.h"

namespace {

using tav_test::TempDir;
using tav_test::TwoSubnetNetwork;
namespace fs = std::filesystem;

// tav in normal mode as a child of the test (the host 10.77.1.10), run in
// `work` (where the gateway leaves its file "address"), killed by the
// destructor if it has not ended.
class TavChild {
 public:
  TavChild(const std::string& hive, const std::string& page_dir,
           const TempDir& work) {
    std::string tav = tav_test::build_path("tav");
    pid_ = fork();
    if (pid_ != 0) return;
    setenv("TAV_REGISTRY", hive.c_str(), 1);
    setenv("TAV_PAGE_DIR", page_dir.c_str(), 1);
    unsetenv("TAV_IPX");
    unsetenv("BROWSER");
    if (chdir(work.path().c_str()) != 0) _exit(127);
    int err =
        open(work.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(err, 1);
    dup2(err, 2);
    execl(tav.c_str(), tav.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ~TavChild() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  // The exit status, or -1 when it has not ended within `seconds`.
  int wait_exit(int seconds) {
    for (int i = 0; i < seconds * 10 && pid_ > 0; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
};

std::string curl(const std::string& path) {
  std::string command = "curl -s -i --max-time 30 'http://" +
                        std::string(TwoSubnetNetwork::kHostAddress) + ":34" +
                        path + "'";
  std::string out;
  FILE* f = popen(command.c_str(), "r");
  char buf[4096];
  for (size_t n; f != nullptr && (n = fread(buf, 1, sizeof buf, f)) > 0;)
    out.append(buf, n);
  if (f != nullptr) pclose(f);
  return out;
}

// Polls once a second until `done` holds; false after `seconds`.
template <typename Done>
bool eventually(int seconds, Done done) {
  for (int i = 0; i < seconds; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  return done();
}

TEST(RefreshE2e, RediscoveryRewritesThePageWhileTheGatewayServes) {
  TAV_REQUIRE_TEST_HOSTS();
  if (std::system("command -v curl >/dev/null") != 0) GTEST_SKIP() << "curl";
  ASSERT_TRUE(catalogue_load(tav_test::build_path("resc.cat")));
  TwoSubnetNetwork network;
  ASSERT_TRUE(network.ok()) << network.problem();
  const std::string a = TwoSubnetNetwork::kSubnetA;
  ASSERT_TRUE(network.add_addresses(network.units_a, "eth0", a, 100, 3));
  ASSERT_TRUE(network.start_sim(
      network.units_a,
      {"--unit", "name=Lobby,ip=" + a + ".100,hw=00-40-AF-00-00-08", "--unit",
       "name=WebA,ip=" + a + ".101,ipx=on,http=8080,snmp=0,desc=Web unit"}))
      << network.problem();

  TempDir work, pages;
  work.write("browser", "#!/bin/sh\nn=0\nwhile [ ! -e '" + work.file("quit") +
                            "' ] && [ $n -lt 1200 ]; do sleep 0.1; "
                            "n=$((n + 1)); done\n");
  fs::permissions(work.file("browser"), fs::perms::owner_all);
  tav_test::TempHive hive(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.htm]\r\n"
      "@=\"htmlfile\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\htmlfile"
      "\\Shell\\Open\\command]\r\n@=\"" +
      work.file("browser") + " %1\"\r\n");
  const std::string page = pages.file("tav-disc.htm");
  const std::string help = pages.file("tavhelp.htm");
  TavChild tav(hive.path(), pages.path(), work);

  const std::string running = catalogue_text(118);
  const std::string done = fill_inserts(catalogue_text(119), page);
  ASSERT_NE(done.find("file://" + page), std::string::npos);
  ASSERT_TRUE(eventually(60, [&] { return fs::exists(page); }))
      << work.read("err");
  // The gateway listens once the browser has been started; the first
  // answer starts the rediscovery.
  std::string answer;
  ASSERT_TRUE(eventually(90, [&] {
    return !(answer = curl("/$$Refresh$")).empty();
  })) << work.read("err");
  EXPECT_EQ(answer, running);
  std::string first_page = pages.read("tav-disc.htm");
  EXPECT_NE(first_page.find("Lobby"), std::string::npos);
  EXPECT_NE(first_page.find("/WebA-HTML/"), std::string::npos);
  pages.write("tavhelp.htm", "help copy of the start");
  // A unit switched on after start-up: only the rediscovery can find it.
  ASSERT_TRUE(network.start_sim(
      network.units_a,
      {"--unit", "name=Newcomer,ip=" + a + ".102,hw=00-40-AF-00-00-10"}));
  EXPECT_EQ(curl("/$$Refresh$"), running) << "while it runs";

  EXPECT_TRUE(eventually(
      60, [&] { return (answer = curl("/$$Refresh$")) != running; }));
  EXPECT_EQ(answer, done);
  std::string new_page = pages.read("tav-disc.htm");
  EXPECT_NE(new_page.find("Newcomer"), std::string::npos) << new_page;
  EXPECT_NE(new_page.find("/WebA-HTML/"), std::string::npos);
  EXPECT_EQ(pages.read("tavhelp.htm"), "help copy of the start");
  EXPECT_EQ(std::distance(fs::directory_iterator(pages.path()), {}), 2)
      << "rewritten in place, nothing else written";

  // A unit's web pages through the gateway, links leading back through it.
  std::string unit_page = curl("/WebA-HTML/");
  EXPECT_EQ(unit_page.rfind("HTTP/1.0 200", 0), 0u) << unit_page;
  EXPECT_NE(unit_page.find("href=\"http://10.77.1.10:34/WebA/status.htm\""),
            std::string::npos)
      << unit_page;
  EXPECT_EQ(work.read("address").size(), 14u) << "the unit's IPX address";

  // The next request starts a new rediscovery; it ends before the browser
  // does, so that nothing writes the page once it is gone.
  EXPECT_EQ(curl("/$$Refresh$"), running);
  EXPECT_TRUE(eventually(60, [&] { return curl("/$$Refresh$") == done; }));
  work.write("quit", "");
  EXPECT_EQ(tav.wait_exit(30), 1) << work.read("err");
  EXPECT_FALSE(fs::exists(page));
  EXPECT_FALSE(fs::exists(help));
}

}  // namespace

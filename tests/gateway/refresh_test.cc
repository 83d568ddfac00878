// The refresh request through the request machine, with a rediscovery
// that runs until the test releases it.
#include "gateway/refresh.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "platform/threads.h"
#include "tests/gateway/fake_transport.h"
#include "tests/support/scratch.h"

namespace {

std::atomic<int> g_runs{0};
std::atomic<bool> g_release{false};

void wait_until(bool (*done)()) {
  for (int i = 0; i < 5000 && !done(); ++i) Sleep(1);
}

void held_rediscovery() {
  g_runs.fetch_add(1);
  while (!g_release.load()) Sleep(1);
}

class RefreshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(catalogue_load(tav_test::build_dir() + "/resc.cat"));
    g_runs.store(0);
    g_release.store(false);
    refresh_state.store(kRefreshIdle);
    std::snprintf(discovery_page_path, kPagePathSize, "D:\\pg\\tav-disc.htm");
    running_ = catalogue_text(kRefreshRunningText);
  }
  void TearDown() override {
    g_release.store(true);
    wait_until([] { return refresh_state.load() == kRefreshDone; });
  }
  // One refresh request; the browser's answer.
  static std::string request(std::vector<std::string> script) {
    fake::Outcome o = fake::run_session(std::move(script), {});
    EXPECT_EQ(o.to_unit, "");
    return o.to_browser;
  }
  const std::string kRequest = "GET /$$Refresh$ HTTP/1.0\r\nHost: x\r\n\r\n";
  std::string running_;
  fake::QuietGateway gateway_;
  ScopedEnvironment held_{{.refresh_work = held_rediscovery}};
};

// Requests at once start one rediscovery; while it runs they start none.
TEST_F(RefreshTest, AnswersFollowTheRediscovery) {
  std::atomic<int> ready{0};
  std::vector<std::string> answers(8);
  std::vector<std::thread> threads;
  for (std::string& answer : answers)
    threads.emplace_back([&] {
      for (ready.fetch_add(1); ready.load() < 8;) {
      }
      answer = request({kRequest});
    });
  for (auto& t : threads) t.join();
  for (const std::string& a : answers) EXPECT_EQ(a, running_);
  wait_until([] { return g_runs.load() == 1; });
  Sleep(20);
  EXPECT_EQ(request({kRequest}), running_);
  g_release.store(true);
  wait_until([] { return refresh_state.load() == kRefreshDone; });
  EXPECT_EQ(g_runs.load(), 1);
  std::string done = request({kRequest});
  EXPECT_EQ(done, fill_inserts(catalogue_text(kRefreshDoneText),
                               "D|/pg/tav-disc.htm"));
  EXPECT_NE(done.find("file://D|/pg/tav-disc.htm"), std::string::npos);
  g_release.store(false);
  EXPECT_EQ(request({kRequest}), running_);  // and a new one starts
  wait_until([] { return g_runs.load() == 2; });
  EXPECT_EQ(g_runs.load(), 2);
}

TEST_F(RefreshTest, RequestIsDrainedAndRecognisedHoweverItArrives) {
  fake::Outcome o =
      fake::run_session({"GET /$$REFRESH$/x HTTP/1.1\r\nContent-Length: 700",
                         "\r\n\r\n" + std::string(700, 'b'), "more"},
                        {});
  EXPECT_EQ(o.to_browser, running_);
  ASSERT_TRUE(o.browser.at_end());                 // all read, then
  EXPECT_EQ(o.browser.wait_timeouts.back(), 500);  // one quiet wait
  EXPECT_EQ(request(fake::single_bytes(kRequest)), running_);
  // A browser that keeps sending is answered within the request's bound.
  std::vector<std::string> endless(1000, std::string(512, 'x'));
  endless.insert(endless.begin(), kRequest);
  o = fake::run_session(endless, {}, true, 400, true);
  EXPECT_EQ(o.to_browser, running_);
  EXPECT_FALSE(o.browser.at_end());
}

}  // namespace

// The refresh request: the answers 118 / 118 / 119 / 118 as rediscoveries
// start and finish, the request drained before the answer, and only one
// rediscovery for requests that arrive at the same moment.
#include "gateway/refresh.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "tests/gateway/fake_transport.h"
#include "tests/gateway/harness.h"

namespace {

std::atomic<int> g_runs{0};
std::atomic<bool> g_release{false};

void gated_work() {
  g_runs.fetch_add(1);
  while (!g_release.load()) Sleep(1);
}

class RefreshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(harness::load_catalogue());
    set_refresh_work(gated_work);
    g_runs.store(0);
    g_release.store(false);
    refresh_state.store(kRefreshIdle);
    std::snprintf(discovery_page_path, kPagePathSize,
                  "D:\\pages\\tav-disc.htm");
  }
  void TearDown() override {
    g_release.store(true);
    wait_for(kRefreshDone);
    set_refresh_work(nullptr);
  }
  static void wait_for(int state) {
    for (int i = 0; i < 5000 && refresh_state.load() != state; ++i) Sleep(1);
  }
  static void wait_for_runs(int n) {
    for (int i = 0; i < 5000 && g_runs.load() < n; ++i) Sleep(1);
  }
  // One refresh request through the request machine; what the browser got.
  static std::string request(std::vector<std::string> script,
                             fake::Peer* seen = nullptr) {
    fake::Peer browser, unit;
    browser.script = std::move(script);
    browser.close_at_end = false;
    GatewaySession s;
    fake::wire_session(&s, &browser, &unit);
    fake::run_machines(&s);
    fake::unwire_session(&s);
    EXPECT_EQ(unit.sent, "");
    if (seen != nullptr) *seen = browser;
    return browser.sent;
  }
  const std::string kRequest = "GET /$$Refresh$ HTTP/1.0\r\nHost: x\r\n\r\n";
};

TEST_F(RefreshTest, AnswersFollowTheRediscovery) {
  std::string running = catalogue_text(kRefreshRunningText);
  ASSERT_FALSE(running.empty());
  EXPECT_EQ(request({kRequest}), running);
  wait_for_runs(1);
  EXPECT_EQ(g_runs.load(), 1);
  EXPECT_EQ(refresh_state.load(), kRefreshRunning);
  // While it runs: 118 again, nothing new started.
  EXPECT_EQ(request({kRequest}), running);
  Sleep(20);
  EXPECT_EQ(g_runs.load(), 1);
  g_release.store(true);
  wait_for(kRefreshDone);
  // Finished: 119 once, with the page's path as a file URL has it.
  std::string done = request({kRequest});
  EXPECT_EQ(done, fill_inserts(catalogue_text(kRefreshDoneText),
                               "D|/pages/tav-disc.htm"));
  EXPECT_NE(done.find("file://D|/pages/tav-disc.htm"), std::string::npos);
  EXPECT_EQ(refresh_state.load(), kRefreshIdle);
  // And the next request starts a new rediscovery.
  g_release.store(false);
  EXPECT_EQ(request({kRequest}), running);
  wait_for_runs(2);
  EXPECT_EQ(g_runs.load(), 2);
}

TEST_F(RefreshTest, RequestIsDrainedBeforeTheAnswer) {
  fake::Peer seen;
  std::string answer =
      request({"GET /$$REFRESH$/x HTTP/1.1\r\nHost: x\r\nContent-Length: 700",
               "\r\n\r\n" + std::string(700, 'b'), "more"},
              &seen);
  EXPECT_EQ(answer, catalogue_text(kRefreshRunningText));
  EXPECT_EQ(seen.chunk, seen.script.size());  // everything was read
  EXPECT_EQ(seen.wait_timeouts.back(), 500);  // then one quiet wait
}

TEST_F(RefreshTest, RecognisedHoweverTheRequestArrives) {
  std::string running = catalogue_text(kRefreshRunningText);
  for (size_t i = 1; i < kRequest.size(); ++i)
    ASSERT_EQ(request(fake::split_at(kRequest, i)), running) << i;
  EXPECT_EQ(request(fake::single_bytes(kRequest)), running);
  wait_for_runs(1);
  EXPECT_EQ(g_runs.load(), 1);
}

TEST_F(RefreshTest, SimultaneousRequestsStartOneRediscovery) {
  constexpr int kRequests = 8;
  std::atomic<int> ready{0};
  std::vector<std::string> answers(kRequests);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRequests; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kRequests) {
      }
      answers[i] = request({kRequest});
    });
  }
  for (auto& t : threads) t.join();
  wait_for_runs(1);
  Sleep(20);
  EXPECT_EQ(g_runs.load(), 1);
  for (const std::string& a : answers)
    EXPECT_EQ(a, catalogue_text(kRefreshRunningText));
}

}  // namespace

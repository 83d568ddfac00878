// The gateway for the whole LAN: its own pages, which clients it answers,
// and its request log.
#include <gtest/gtest.h>

#include <string>

#include "gateway/access_log.h"
#include "gateway/client_filter.h"
#include "gateway/own_pages.h"
#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "tests/gateway/fake_transport.h"
#include "tests/support/scratch.h"

namespace {

uint32_t addr(const char* dotted) { return net::inet_addr(dotted); }

// Own pages are answered whole, before any unit is asked, however the
// request arrives; every other URL still leads to a unit.
TEST(OwnPagesTest, OwnPathsAreAnsweredAndOthersReachTheUnit) {
  ASSERT_TRUE(catalogue_load(tav_test::build_dir() + "/resc.cat"));
  fake::QuietGateway gateway;
  tav_test::write_text("tavhelp.htm", "<P>help</P>");  // the current folder's
  const struct {
    std::string request;
    OwnPage page;
    bool head_only = false;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: 10.0.0.5:34\r\nAccept: */*\r\n\r\n",
       OwnPage::kDiscovery},
      {"GET /tav-disc.htm?x=1 HTTP/1.0\r\n\r\n", OwnPage::kDiscovery},
      {"GET /tavhelp.htm HTTP/1.0\r\n\r\n", OwnPage::kHelp},
      {"HEAD /units.json HTTP/1.0\r\n\r\n", OwnPage::kUnitsJson, true},
      {"GET /tav-HTML/ HTTP/1.0\r\n\r\n", OwnPage::kNone},
      {"GET /units.json-HTML/ HTTP/1.0\r\n\r\n", OwnPage::kNone},
      {"POST / HTTP/1.0\r\n\r\n", OwnPage::kNone},
      {"GET //tavhelp.htm HTTP/1.0\r\n\r\n", OwnPage::kNone},
  };
  for (const auto& c : cases) {
    for (bool bytewise : {false, true}) {
      fake::Outcome o =
          fake::run_session(bytewise ? fake::single_bytes(c.request)
                                     : std::vector<std::string>{c.request},
                            {"HTTP/1.0 200 OK\r\n\r\nunit"});
      EXPECT_EQ(o.to_unit.empty(), c.page != OwnPage::kNone) << c.request;
      if (c.page == OwnPage::kNone) continue;
      EXPECT_EQ(o.to_browser, own_page_answer(c.page, c.head_only, "10.0.0.5"))
          << c.request;
      EXPECT_TRUE(o.browser.at_end()) << c.request;
    }
  }
  EXPECT_EQ(own_page_answer(OwnPage::kHelp, false, "h"),
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 11"
            "\r\nConnection: close\r\n\r\n<P>help</P>");
}

TEST(OwnPagesTest, AnswerAndUnitListBytes) {
  EXPECT_EQ(http_answer(403, "a/b", "12345", true),
            "HTTP/1.0 403 Forbidden\r\nContent-Type: a/b\r\nContent-Length: 5"
            "\r\nConnection: close\r\n\r\n");

  static IpUnitSnapshot ip;
  static IpxUnitSnapshot ipx;
  ip.count = 1;
  ip.units[0] = {net::make_addr_in(addr("10.0.0.9"), 161), "Lobby",
                 "Laser \"4\" \\ \x01\xE9"};
  ipx.count = 2;
  ipx.units[0] = {"a b-c",
                  {0,
                   {0x0A, 0x4D, 0x01, 0x00},
                   {0, 0, 0x0A, 0x4D, 0x01, 0x32},
                   net::htons_(0x4001)},
                  0,
                  "Print Server"};
  ipx.units[1] = {"NoWeb", {}, 0, ""};
  EXPECT_EQ(units_json(ip, ipx, "10.0.0.5"),
            "{\"ip_units\":[\n{\"name\":\"Lobby\",\"address\":\"10.0.0.9\","
            "\"description\":\"Laser \\\"4\\\" \\\\ \\u0001\\u00E9\","
            "\"link\":\"http://10.0.0.9/\"}],\n\"ipx_units\":[\n"
            "{\"name\":\"a b-c\",\"network\":\"0A4D0100\",\"node\":"
            "\"00000A4D0132\",\"socket\":\"4001\",\"description\":\"Print "
            "Server\",\"link\":\"http://10.0.0.5:34/a%20b%2Dc-HTML/\"},\n"
            "{\"name\":\"NoWeb\",\"network\":\"00000000\",\"node\":"
            "\"000000000000\",\"socket\":\"0000\",\"description\":\"\","
            "\"link\":null}]}\n");
}

TEST(ClientFilterTest, AllowListsAndWhomTheyAllow) {
  const struct {
    const char* text;
    std::vector<const char*> allowed, refused;
  } cases[] = {
      {"192.168.1.0/24",
       {"192.168.1.0", "192.168.1.255"},
       {"192.168.2.1", "10.0.0.1"}},
      {" 10.1.2.3/8 , 172.16.0.9",
       {"10.255.0.1", "172.16.0.9"},
       {"172.16.0.8", "11.0.0.1"}},
      {"0.0.0.0/0", {"1.2.3.4", "255.255.255.255"}, {}},
      {"10.0.0.1/32", {"10.0.0.1"}, {"10.0.0.2"}},
  };
  for (const auto& c : cases) {
    std::vector<AllowedNetwork> list{{1, 1}};  // replaced, not added to
    ASSERT_TRUE(parse_allow_list(c.text, &list)) << c.text;
    for (const char* a : c.allowed)
      EXPECT_TRUE(network_list_allows(list, addr(a))) << c.text << " " << a;
    for (const char* a : c.refused)
      EXPECT_FALSE(network_list_allows(list, addr(a))) << c.text << " " << a;
  }
  // A malformed list leaves the one in hand.
  for (const char* bad :
       {"", "10.0.0.0/33", "10.0.0.0/", "10.0.0/8", "10.0.0.256", "10.0.0.0/8,",
        "10.0.0.0/8;11.0.0.0/8", "10.0.0.0 /8"}) {
    std::vector<AllowedNetwork> list{{1, 1}};
    EXPECT_FALSE(parse_allow_list(bad, &list)) << bad;
    EXPECT_EQ(list, (std::vector<AllowedNetwork>{{1, 1}})) << bad;
  }
  // By default: the host's own networks and the loopback.
  std::vector<AllowedNetwork> own =
      own_networks({{addr("10.77.1.10"), addr("255.255.255.0")},
                    {addr("192.168.5.1"), addr("255.255.0.0")}});
  for (const char* a : {"10.77.1.99", "192.168.200.1", "127.3.0.1"})
    EXPECT_TRUE(network_list_allows(own, addr(a))) << a;
  for (const char* a : {"10.77.2.1", "0.0.0.0", "192.169.0.1"})
    EXPECT_FALSE(network_list_allows(own, addr(a))) << a;
}

TEST(AccessLogTest, LinesAndStatuses) {
  EXPECT_EQ(access_log_line(
                {1796688601123, addr("10.77.2.30"), "", "/", 403, 210, 7}),
            "2026-12-08T00:10:01Z 10.77.2.30 - / 403 210 7\n");
  EXPECT_EQ(access_log_line({0, addr("10.0.0.1"), "VEM_1",
                             "/VEM_1-HTML/a\x1b[2J\xff", 0, 0, 60000}),
            "1970-01-01T00:00:00Z 10.0.0.1 VEM_1 /VEM_1-HTML/a\\x1B[2J\\xFF - "
            "0 60000\n");
  const struct {
    const char* head;
    int status;
  } cases[] = {{"HTTP/1.0 200 OK\r\n", 200}, {"HTTP/1.1 404", 404},
               {"HTTP/1.0 20", 0},           {"<HTML>", 0},
               {"HTTP/1.0 2x0 OK", 0},       {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(answer_status(c.head), c.status);
}

}  // namespace

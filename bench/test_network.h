// A network of several test hosts, built from inside the test binary's own
// private namespace out of named namespaces (ip netns), veth pairs and
// bridges, and torn down by the destructor (processes first). Needs root
// (tav_test::can_make_test_hosts()). Use from one thread.
//
//   this process (host 10.77.1.10, bridge tavbrA) -- units_a   (10.77.1.x)
//                                                 -- rip       10.77.1.2
//                                                 -- router    10.77.1.1
//   router (10.77.2.1, bridge brB, forwarding and directed-broadcast
//           forwarding on)                        -- units_b   (10.77.2.x)
//
// The RIP responder has a host of its own: the router's side of the host's
// subnet forwards directed broadcasts and so does not deliver them locally.
#ifndef TAV_BENCH_TEST_NETWORK_H_
#define TAV_BENCH_TEST_NETWORK_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace tav_test {

class TwoSubnetNetwork {
 public:
  TwoSubnetNetwork();  // check ok()
  ~TwoSubnetNetwork();
  TwoSubnetNetwork(const TwoSubnetNetwork&) = delete;
  TwoSubnetNetwork& operator=(const TwoSubnetNetwork&) = delete;

  // False after any failed step; problem() says which.
  bool ok() const { return problem_.empty(); }
  const std::string& problem() const { return problem_; }

  // Adds prefix.first .. prefix.(first+count-1)/24 with their broadcast
  // address, so that the host answers directed broadcasts.
  bool add_addresses(const std::string& ns, const std::string& ifname,
                     const std::string& prefix, int first, int count);
  // Starts tav-sim with `args` and waits until it is ready; 0 on failure.
  pid_t start_sim(const std::string& ns, const std::vector<std::string>& args);

  std::string units_a, rip, units_b;
  static constexpr const char* kHostAddress = "10.77.1.10";
  static constexpr const char* kRipAddress = "10.77.1.2";
  static constexpr const char* kSubnetA = "10.77.1";
  static constexpr const char* kSubnetB = "10.77.2";

 private:
  bool fail(const std::string& what);
  std::string add_namespace(const std::string& role);
  bool ip(const std::string& ns, const std::string& args);
  bool add_bridge(const std::string& ns, const std::string& bridge);
  bool connect(const std::string& ns, const std::string& bridge_ns,
               const std::string& bridge, const std::string& cidr = "");

  std::string problem_;
  std::vector<std::string> namespaces_;
  std::vector<std::string> local_links_;  // links made in our namespace
  std::vector<pid_t> processes_;
};

}  // namespace tav_test

#endif  // TAV_BENCH_TEST_NETWORK_H_

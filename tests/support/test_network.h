// A network of several test hosts, for tests that need more than the
// loopback: named network namespaces (ip netns), veth pairs and bridges,
// built from inside the test binary's own private namespace and torn down
// by the destructor (processes first, then namespaces and links). Needs
// root; guard tests with TAV_REQUIRE_TEST_HOSTS().
//
// The test process's own namespace can take part as a host (namespace ""),
// which lets a test run the program's code in-process on the network.
//
// TwoSubnetNetwork is the layout most tests want:
//
//   this process (host 10.77.1.10, bridge tavbrA) -- units_a   (10.77.1.x)
//                                                 -- rip       10.77.1.2
//                                                 -- router    10.77.1.1
//   router (10.77.2.1, bridge brB, forwarding and directed-broadcast
//           forwarding on)                        -- units_b   (10.77.2.x)
//
// The RIP responder needs a host of its own: the router's side of the
// host's subnet forwards directed broadcasts and so does not deliver them
// locally. Not thread-safe; use from the test's thread.
#ifndef TAV_TESTS_SUPPORT_TEST_NETWORK_H_
#define TAV_TESTS_SUPPORT_TEST_NETWORK_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace tav_test {

// Path of a program built beside the tests (e.g. "tav-sim").
std::string build_path(const std::string& program);

class TestNetwork {
 public:
  TestNetwork();
  ~TestNetwork();
  TestNetwork(const TestNetwork&) = delete;
  TestNetwork& operator=(const TestNetwork&) = delete;

  // False after any failed step; problem() says which.
  bool ok() const { return problem_.empty(); }
  const std::string& problem() const { return problem_; }

  // A new namespace with its loopback up; returns its name (unique to this
  // process), or "" on failure.
  std::string add_namespace(const std::string& role);
  // A bridge in namespace `ns` ("" for this process's), brought up.
  bool add_bridge(const std::string& ns, const std::string& bridge);
  // A veth pair: `ifname` in `ns`, the other end attached to `bridge` in
  // `bridge_ns`; both up.
  bool connect(const std::string& ns, const std::string& ifname,
               const std::string& bridge_ns, const std::string& bridge);
  // Adds address/prefix with its broadcast address (so that the host
  // answers directed broadcasts).
  bool add_address(const std::string& ns, const std::string& ifname,
                   const std::string& cidr);
  // Adds prefix.first .. prefix.(first+count-1) with /24, in one batch.
  bool add_addresses(const std::string& ns, const std::string& ifname,
                     const std::string& prefix, int first, int count);
  // Runs `ip <args>` in the namespace; false when it fails.
  bool ip(const std::string& ns, const std::string& args);
  // Runs a shell command in the namespace.
  bool run(const std::string& ns, const std::string& command);

  // Starts a process in the namespace; killed by the destructor.
  pid_t spawn(const std::string& ns, const std::vector<std::string>& argv);
  // Starts tav-sim with `args` and waits until it is ready; 0 on failure.
  pid_t start_sim(const std::string& ns, const std::vector<std::string>& args,
                  int timeout_ms = 10000);
  void stop(pid_t pid);

 private:
  bool fail(const std::string& what);
  std::string in_ns(const std::string& ns) const;

  std::string problem_;
  std::vector<std::string> namespaces_;
  std::vector<std::string> local_links_;  // links made in our namespace
  std::vector<pid_t> processes_;
  int next_ = 0;
};

class TwoSubnetNetwork : public TestNetwork {
 public:
  // Builds the layout above; check ok().
  TwoSubnetNetwork();

  std::string units_a, rip, router, units_b;
  static constexpr const char* kHostAddress = "10.77.1.10";
  static constexpr const char* kRipAddress = "10.77.1.2";
  static constexpr const char* kSubnetA = "10.77.1";
  static constexpr const char* kSubnetB = "10.77.2";
};

}  // namespace tav_test

#endif  // TAV_TESTS_SUPPORT_TEST_NETWORK_H_

#include "bench/test_network.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tav_test {

namespace {

const char kNamePrefix[] = "tavt";

bool exited_ok(int rc) { return rc != -1 && WIFEXITED(rc) && !WEXITSTATUS(rc); }

bool shell(const std::string& command) {
  return exited_ok(std::system((command + " >/dev/null 2>&1").c_str()));
}

// Namespaces left behind by test processes that died without tearing down.
void remove_stale_namespaces() {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/run/netns", ec)) {
    std::string name = e.path().filename();
    long pid = std::strtol(name.c_str() + sizeof kNamePrefix - 1, nullptr, 10);
    if (name.rfind(kNamePrefix, 0) == 0 && pid > 0 &&
        kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      shell("ip netns del " + name);
  }
}

bool exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

// tav-sim of this build: in $TAV_BUILD_DIR, else beside the benchmark.
std::string sim_path() {
  if (const char* dir = std::getenv("TAV_BUILD_DIR"); dir && *dir)
    return std::string(dir) + "/tav-sim";
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec)
      .replace_filename("tav-sim")
      .string();
}

}  // namespace

bool TwoSubnetNetwork::fail(const std::string& what) {
  if (problem_.empty()) problem_ = what;
  return false;
}

bool TwoSubnetNetwork::ip(const std::string& ns, const std::string& args) {
  std::string command = ns.empty() ? "ip " + args : "ip -n " + ns + " " + args;
  return shell(command) || fail(command + " failed");
}

std::string TwoSubnetNetwork::add_namespace(const std::string& role) {
  static int next = 0;
  std::string name = kNamePrefix + std::to_string(getpid()) + "_" +
                     std::to_string(next++) + "_" + role;
  if (!ip("", "netns add " + name)) return "";
  namespaces_.push_back(name);
  return ip(name, "link set lo up") ? name : "";
}

bool TwoSubnetNetwork::add_bridge(const std::string& ns,
                                  const std::string& bridge) {
  if (!ip(ns, "link add " + bridge + " type bridge")) return false;
  if (ns.empty()) local_links_.push_back(bridge);
  // No forwarding delay: hosts can talk as soon as the ports are up.
  return ip(ns, "link set " + bridge +
                    " type bridge forward_delay 0 stp_state 0") &&
         ip(ns, "link set " + bridge + " up");
}

// A veth pair: eth0 in `ns`, the other end a port of `bridge` in
// `bridge_ns`. Names are never reused in this process: a deleted
// namespace's links vanish some time later.
bool TwoSubnetNetwork::connect(const std::string& ns,
                               const std::string& bridge_ns,
                               const std::string& bridge,
                               const std::string& cidr) {
  static int next_link = 0;
  std::string a = "tvl" + std::to_string(next_link) + "a";
  std::string b = "tvl" + std::to_string(next_link++) + "b";
  if (!ip("", "link add " + a + " type veth peer name " + b)) return false;
  local_links_.push_back(bridge_ns.empty() ? b : a);
  return ip("", "link set " + a + " netns " + ns) &&
         ip(ns, "link set " + a + " name eth0 up") &&
         (bridge_ns.empty() ||
          ip("", "link set " + b + " netns " + bridge_ns)) &&
         ip(bridge_ns, "link set " + b + " master " + bridge + " up") &&
         (cidr.empty() || ip(ns, "addr add " + cidr + " brd + dev eth0"));
}

bool TwoSubnetNetwork::add_addresses(const std::string& ns,
                                     const std::string& ifname,
                                     const std::string& prefix, int first,
                                     int count) {
  std::string command = "ip -n " + ns + " -batch -";
  FILE* batch = popen((command + " >/dev/null 2>&1").c_str(), "w");
  if (batch == nullptr) return fail("popen failed");
  for (int i = first; i < first + count; ++i)
    std::fprintf(batch, "addr add %s.%d/24 brd + dev %s\n", prefix.c_str(), i,
                 ifname.c_str());
  return exited_ok(pclose(batch)) || fail(command + " failed");
}

pid_t TwoSubnetNetwork::start_sim(const std::string& ns,
                                  const std::vector<std::string>& args) {
  char dir[] = "/tmp/tavt_simXXXXXX";
  if (mkdtemp(dir) == nullptr) return fail("mkdtemp failed");
  std::string ready = std::string(dir) + "/ready";
  std::vector<std::string> argv = {"ip", "netns", "exec", ns};
  argv.push_back(sim_path());
  argv.push_back("--ready-file=" + ready);
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> words;
    for (auto& s : argv) words.push_back(s.data());
    words.push_back(nullptr);
    execvp(words[0], words.data());
    _exit(127);
  }
  if (pid > 0) processes_.push_back(pid);
  for (int waited = 0; pid > 0 && !exists(ready); waited += 10) {
    int status;
    if (waited >= 10000 || waitpid(pid, &status, WNOHANG) == pid) pid = 0;
    usleep(10000);
  }
  unlink(ready.c_str());
  rmdir(dir);
  return pid > 0 ? pid : fail("tav-sim did not start in " + ns);
}

TwoSubnetNetwork::TwoSubnetNetwork() {
  remove_stale_namespaces();
  const std::string a = kSubnetA, b = kSubnetB;
  if (!add_bridge("", "tavbrA") ||
      !ip("", "addr add " + std::string(kHostAddress) + "/24 brd + dev tavbrA"))
    return;
  units_a = add_namespace("ua");
  rip = add_namespace("rip");
  std::string router = add_namespace("rt");
  units_b = add_namespace("ub");
  if (!ok() || !connect(units_a, "", "tavbrA") ||
      !connect(rip, "", "tavbrA", std::string(kRipAddress) + "/24") ||
      !connect(router, "", "tavbrA", a + ".1/24") ||
      !add_bridge(router, "brB") ||
      !ip(router, "addr add " + b + ".1/24 brd + dev brB") ||
      !connect(units_b, router, "brB") ||
      !ip(units_b, "route add default via " + b + ".1 dev eth0 onlink") ||
      !ip(units_a, "route add default via " + a + ".1 dev eth0 onlink") ||
      !ip("", "route add " + b + ".0/24 via " + a + ".1"))
    return;
  if (!shell(
          "ip netns exec " + router +
          " sysctl -w net.ipv4.ip_forward=1 net.ipv4.conf.all.bc_forwarding=1"
          " net.ipv4.conf.eth0.bc_forwarding=1"
          " net.ipv4.conf.brB.bc_forwarding=1"))
    fail("sysctl failed in " + router);
}

TwoSubnetNetwork::~TwoSubnetNetwork() {
  for (pid_t pid : processes_) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  // Links in our namespace first: deleting one end removes the pair at
  // once, while a deleted namespace's links go later.
  for (auto it = local_links_.rbegin(); it != local_links_.rend(); ++it)
    shell("ip link del " + *it);
  for (auto it = namespaces_.rbegin(); it != namespaces_.rend(); ++it)
    shell("ip netns del " + *it);
}

}  // namespace tav_test

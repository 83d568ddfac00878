#include "tests/support/test_network.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace tav_test {

namespace {

const char kNamePrefix[] = "tavt";

bool shell(const std::string& command) {
  std::string quiet = command + " >/dev/null 2>&1";
  int rc = std::system(quiet.c_str());
  return rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

// Namespaces left behind by test processes that died without tearing down.
void remove_stale_namespaces() {
  DIR* d = opendir("/run/netns");
  if (d == nullptr) return;
  std::vector<std::string> stale;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.rfind(kNamePrefix, 0) != 0) continue;
    long pid = std::strtol(name.c_str() + sizeof kNamePrefix - 1, nullptr, 10);
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      stale.push_back(name);
  }
  closedir(d);
  for (const auto& name : stale) shell("ip netns del " + name);
}

}  // namespace

std::string build_path(const std::string& program) {
  if (const char* dir = std::getenv("TAV_BUILD_DIR"); dir && *dir)
    return std::string(dir) + "/" + program;
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return program;
  exe[n] = '\0';
  // Beside the executable (benchmarks) or one folder up (tests/).
  std::string dir = exe;
  dir = dir.substr(0, dir.rfind('/'));
  struct stat st;
  if (stat((dir + "/" + program).c_str(), &st) == 0) return dir + "/" + program;
  return dir.substr(0, dir.rfind('/')) + "/" + program;
}

TestNetwork::TestNetwork() { remove_stale_namespaces(); }

TestNetwork::~TestNetwork() {
  for (pid_t pid : processes_) {
    kill(pid, SIGTERM);
    int status;
    for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid, &status, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
  }
  // Links in our namespace first: deleting one end removes the pair at
  // once, while a deleted namespace's links go later.
  for (auto it = local_links_.rbegin(); it != local_links_.rend(); ++it)
    shell("ip link del " + *it);
  for (auto it = namespaces_.rbegin(); it != namespaces_.rend(); ++it)
    shell("ip netns del " + *it);
}

bool TestNetwork::fail(const std::string& what) {
  if (problem_.empty()) problem_ = what;
  return false;
}

std::string TestNetwork::in_ns(const std::string& ns) const {
  return ns.empty() ? std::string() : "ip netns exec " + ns + " ";
}

std::string TestNetwork::add_namespace(const std::string& role) {
  std::string name = kNamePrefix + std::to_string(getpid()) + "_" +
                     std::to_string(next_++) + "_" + role;
  if (!shell("ip netns add " + name)) {
    fail("ip netns add " + name + " failed");
    return "";
  }
  namespaces_.push_back(name);
  if (!ip(name, "link set lo up")) return "";
  return name;
}

bool TestNetwork::ip(const std::string& ns, const std::string& args) {
  std::string command = ns.empty() ? "ip " + args : "ip -n " + ns + " " + args;
  return shell(command) || fail(command + " failed");
}

bool TestNetwork::run(const std::string& ns, const std::string& command) {
  return shell(in_ns(ns) + command) || fail(command + " failed in " + ns);
}

bool TestNetwork::add_bridge(const std::string& ns, const std::string& bridge) {
  if (!ip(ns, "link add " + bridge + " type bridge")) return false;
  if (ns.empty()) local_links_.push_back(bridge);
  // No forwarding delay: hosts can talk as soon as the ports are up.
  return ip(ns, "link set " + bridge +
                    " type bridge forward_delay 0 stp_state 0") &&
         ip(ns, "link set " + bridge + " up");
}

bool TestNetwork::connect(const std::string& ns, const std::string& ifname,
                          const std::string& bridge_ns,
                          const std::string& bridge) {
  // Names are never reused in this process: a namespace's links vanish
  // some time after it is deleted.
  static int next_link = 0;
  std::string a = "tvl" + std::to_string(next_link) + "a";
  std::string b = "tvl" + std::to_string(next_link) + "b";
  ++next_link;
  if (!ip("", "link add " + a + " type veth peer name " + b)) return false;
  local_links_.push_back(bridge_ns.empty() ? b : a);
  if (!ns.empty() && !ip("", "link set " + a + " netns " + ns)) return false;
  if (!ip(ns, "link set " + a + " name " + ifname)) return false;
  if (!bridge_ns.empty() && !ip("", "link set " + b + " netns " + bridge_ns))
    return false;
  return ip(bridge_ns, "link set " + b + " master " + bridge) &&
         ip(bridge_ns, "link set " + b + " up") &&
         ip(ns, "link set " + ifname + " up");
}

bool TestNetwork::add_address(const std::string& ns, const std::string& ifname,
                              const std::string& cidr) {
  return ip(ns, "addr add " + cidr + " brd + dev " + ifname);
}

bool TestNetwork::add_addresses(const std::string& ns,
                                const std::string& ifname,
                                const std::string& prefix, int first,
                                int count) {
  char path[] = "/tmp/tavt_addrXXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return fail("mkstemp failed");
  close(fd);
  {
    std::ofstream out(path);
    for (int i = 0; i < count; ++i)
      out << "addr add " << prefix << "." << first + i << "/24 brd + dev "
          << ifname << "\n";
  }
  bool done = ip(ns, std::string("-batch ") + path);
  unlink(path);
  return done;
}

pid_t TestNetwork::spawn(const std::string& ns,
                         const std::vector<std::string>& argv) {
  std::vector<std::string> full;
  if (!ns.empty()) full = {"ip", "netns", "exec", ns};
  full.insert(full.end(), argv.begin(), argv.end());
  pid_t pid = fork();
  if (pid < 0) {
    fail("fork failed");
    return 0;
  }
  if (pid == 0) {
    std::vector<char*> args;
    for (auto& s : full) args.push_back(const_cast<char*>(s.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  processes_.push_back(pid);
  return pid;
}

pid_t TestNetwork::start_sim(const std::string& ns,
                             const std::vector<std::string>& args,
                             int timeout_ms) {
  char dir[] = "/tmp/tavt_simXXXXXX";
  if (mkdtemp(dir) == nullptr) {
    fail("mkdtemp failed");
    return 0;
  }
  std::string ready = std::string(dir) + "/ready";
  std::vector<std::string> argv = {build_path("tav-sim"),
                                   "--ready-file=" + ready};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = spawn(ns, argv);
  bool is_ready = false;
  for (int waited = 0; pid > 0 && waited < timeout_ms; waited += 10) {
    struct stat st;
    if (stat(ready.c_str(), &st) == 0) {
      is_ready = true;
      break;
    }
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  unlink(ready.c_str());
  rmdir(dir);
  if (!is_ready) {
    fail("tav-sim did not start in " + ns);
    return 0;
  }
  return pid;
}

void TestNetwork::stop(pid_t pid) {
  for (auto it = processes_.begin(); it != processes_.end(); ++it) {
    if (*it != pid) continue;
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    processes_.erase(it);
    return;
  }
}

TwoSubnetNetwork::TwoSubnetNetwork() {
  const std::string a = kSubnetA;
  const std::string b = kSubnetB;
  if (!add_bridge("", "tavbrA") ||
      !add_address("", "tavbrA", std::string(kHostAddress) + "/24"))
    return;
  units_a = add_namespace("ua");
  rip = add_namespace("rip");
  router = add_namespace("rt");
  units_b = add_namespace("ub");
  if (!ok()) return;
  if (!connect(units_a, "eth0", "", "tavbrA") ||
      !connect(rip, "eth0", "", "tavbrA") ||
      !add_address(rip, "eth0", std::string(kRipAddress) + "/24") ||
      !connect(router, "eth0", "", "tavbrA") ||
      !add_address(router, "eth0", a + ".1/24") || !add_bridge(router, "brB") ||
      !add_address(router, "brB", b + ".1/24") ||
      !connect(units_b, "eth0", router, "brB") ||
      !ip(units_b, "route add default via " + b + ".1 dev eth0 onlink") ||
      !ip(units_a, "route add default via " + a + ".1 dev eth0 onlink") ||
      !ip("", "route add " + b + ".0/24 via " + a + ".1"))
    return;
  run(router,
      "sysctl -w net.ipv4.ip_forward=1 net.ipv4.conf.all.bc_forwarding=1 "
      "net.ipv4.conf.eth0.bc_forwarding=1 net.ipv4.conf.brB.bc_forwarding=1");
}

}  // namespace tav_test

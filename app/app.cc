#include "app/app.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "app/config_dialog.h"
#include "app/install_mode.h"
#include "app/serve_mode.h"
#include "discovery/driver.h"
#include "gateway/listener.h"
#include "page/browser_launch.h"
#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "platform/debug_log.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/service.h"
#include "platform/settings_hive.h"
#include "platform/signals.h"
#include "platform/threads.h"
#include "platform/ui.h"

namespace {

// Texts of the command-line help; numbers of the program's own catalogue.
constexpr int kUsageText = 201;
constexpr int kVersionText = 202;
constexpr const char* kVersion = "4.00";

constexpr int kNoUnitFound = 110;
constexpr int kPortCannotBeBound = 108;
constexpr int kNoSocket = 109;
constexpr int kHostHasNoAddress = 133;

constexpr uint16_t kAlternatePort = 80;
constexpr uint32_t kAlternatePortWaitMs = 2000;

bool equal_ignoring_case(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// Writes a catalogue text to standard output as one line.
void print_line(const std::string& text) {
  if (!text.empty() && text.back() == '\n') {
    report("%s", text.c_str());
  } else {
    report("%s\n", text.c_str());
  }
}

// SIGINT, SIGTERM and SIGHUP end every mode as the browser watcher does:
// the page files and the private page folder removed, no hive write cut
// short, exit code 1.
void end_on_signal(int /*signal_number*/) {
  hold_hive_writes();
  remove_page_files_and_exit(discovery_page_path, help_page_path, 1);
}

// SIGINT and SIGTERM end the service mode as a clean stop: exit code 0.
void end_service(int /*signal_number*/) {
  hold_hive_writes();
  remove_page_files_and_exit(discovery_page_path, help_page_path, 0);
}

}  // namespace

RunMode choose_run_mode(const std::string& command_tail) {
  if (equal_ignoring_case(command_tail, "-install")) return RunMode::kInstall;
  if (equal_ignoring_case(command_tail, "-Configure")) {
    return RunMode::kConfigure;
  }
  if (equal_ignoring_case(command_tail, "-Serve")) return RunMode::kServe;
  if (command_tail == "--help") return RunMode::kHelp;
  if (command_tail == "--version") return RunMode::kVersion;
  return RunMode::kNormal;
}

int route_startup_message(int error) {
  switch (error) {
    case 10091:  // WSASYSNOTREADY
      return 125;
    case 10092:  // WSAVERNOTSUPPORTED
      return 126;
    case 10036:  // WSAEINPROGRESS
      return 127;
    case 10067:  // WSAEPROCLIM
      return 130;
    case 10014:  // WSAEFAULT
      return 131;
    default:
      return 132;
  }
}

void add_link_local_route() {
  int error = net::WSAStartup(0x0002);
  if (error != 0) {
    message_box(route_startup_message(error));
    return;
  }
  uint32_t own = 0;
  if (!net::host_own_address(&own)) {
    message_box(kHostHasNoAddress);
  } else {
    uint32_t a = net::ntohl_(own);
    DebugLog("ROUTE ADD 169.254.0.0 MASK 255.255.0.0 %u.%u.%u.%u\n",
             (a >> 24) & 0xFFu, (a >> 16) & 0xFFu, (a >> 8) & 0xFFu, a & 0xFFu);
    char interface_name[64];
    net::interface_name_of(own, interface_name, sizeof interface_name);
    if (interface_name[0] == '\0') {
      // Only the resolver knew the address: no interface to route through.
      DebugLog("add_link_local_route():  No interface holds the address.\n");
    } else {
      // The outcome is not examined: without the right to change routes, or
      // with the route already present, the command fails harmlessly.
      command_runner().run_hidden(
          {"ip", "route", "add", "169.254.0.0/16", "dev", interface_name});
    }
  }
  net::WSACleanup();
}

int port_check() {
  if (net::WSAStartup(0x0101) != 0) {
    message_box(kNoSocket);
    return kExitFailure;
  }
  net::OwnedSocket s(net::socket(net::AF_INET_, net::SOCK_STREAM_, 0));
  if (!s) {
    message_box(kNoSocket);
    net::WSACleanup();
    return kExitFailure;
  }
  // As the gateway's listener does: connections of an earlier run that are
  // still in TIME_WAIT do not make the port look taken.
  net::setsockopt_int(s.get(), net::SockOpt::kReuseAddr, 1);
  if (net::bind(s.get(), net::make_addr_in(0, kGatewayPort)) ==
      net::SOCKET_ERROR) {
    Sleep(kAlternatePortWaitMs);
    if (net::bind(s.get(), net::make_addr_in(0, kAlternatePort)) ==
        net::SOCKET_ERROR) {
      message_box(kPortCannotBeBound);
      s.reset();
      net::WSACleanup();
      return kExitFailure;
    }
  }
  return kExitSuccess;
}

int run_normal_mode() {
  int rc = port_check();
  if (rc != kExitSuccess) return rc;
  int ipx_count = 0;
  int ip_count = 0;
  {
    ProgressWindow progress;
    discover_units(&ipx_count, &ip_count);
  }
  // A failed IPX discovery (-1) found no unit either.
  if (ipx_count <= 0 && ip_count <= 0) {
    message_box(kNoUnitFound);
    return kExitFailure;
  }
  write_discovery_files(ip_count, ipx_count, discovery_page_path,
                        help_page_path, 1);
  set_gateway_activity(gateway_last_request_seconds);
  launch_browser(discovery_page_path, help_page_path);
  if (gateway_listener() == 7) {
    message_box(kPortCannotBeBound);
    return kExitFailure;
  }
  // The gateway returns only when it failed: not a successful end.
  return kExitFailure;
}

TavApp::TavApp(std::string command_tail)
    : command_tail_(std::move(command_tail)) {
  // The route step's messages are catalogue texts too; a missing catalogue
  // is dealt with by InitInstance().
  catalogue_load(catalogue_default_path());
  add_link_local_route();
}

int TavApp::InitInstance() {
  if (!catalogue_loaded() && !catalogue_load(catalogue_default_path())) {
    return kExitFailure;
  }
  switch (choose_run_mode(command_tail_)) {
    case RunMode::kInstall:
      run_install_mode();
      return kExitFailure;
    case RunMode::kConfigure:
      run_configuration_dialog();
      return kExitSuccess;
    case RunMode::kServe:
      return run_serve_mode();
    default:
      return run_normal_mode();
  }
}

int run_tav(const std::string& command_tail) {
  RunMode mode = choose_run_mode(command_tail);
  if (mode == RunMode::kHelp || mode == RunMode::kVersion) {
    if (!catalogue_load(catalogue_default_path())) return kExitFailure;
    if (mode == RunMode::kHelp) {
      print_line(catalogue_text(kUsageText));
    } else {
      print_line(format_text(catalogue_text(kVersionText), {kVersion}));
    }
    return kExitSuccess;
  }
  if (mode == RunMode::kServe) {
    use_console_ui();
    watch_serve_signals(end_service, start_rediscovery);
  } else {
    watch_end_signals(end_on_signal);
  }
  TavApp app(command_tail);
  return app.InitInstance();
}

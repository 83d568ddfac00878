#include "discovery/ipx/bindery_scan.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/netware.h"
#include "units/units.h"

std::atomic<bool> bindery_log_enabled{false};

namespace {

constexpr uint32_t kNoConnection = 0xFFFFFFFF;
constexpr uint16_t kUnitObjectTypeSwapped = 0x1404;
constexpr size_t kNameSize = sizeof(IpxUnitRecord::name);

int g_sap_servers_count = 0;
File g_log;

void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_line(const char* format, ...) {
  if (!g_log.is_open()) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(g_log.get(), format, args);
  va_end(args);
}

void open_log() {
  if (bindery_log_enabled.load()) g_log = open_file(bindery_log_path(), "w");
}

void close_log() { g_log.close(); }

// Copies a name into a record's 48-byte field, cut to 47 characters.
void set_name(IpxUnitRecord& record, const char* name) {
  size_t n = strnlen(name, kNameSize - 1);
  std::memcpy(record.name, name, n);
  record.name[n] = '\0';
}

// A socket as the log prints it: the 16-bit number whose low byte is the
// socket's first stored byte.
unsigned log_socket(uint16_t socket) {
  uint8_t b[2];
  std::memcpy(b, &socket, 2);
  return static_cast<unsigned>(b[0] | (b[1] << 8));
}

// Cuts the name in place where its kind says and returns the kind.
int classify(char* name) {
  if (std::strncmp(name, "CS", 2) == 0) {
    log_line("    Communications Server -- Rejected.\n");
    return kOtherServer;
  }
  char* dash = std::strchr(name, '-');
  if (dash == nullptr) {
    log_line("    WARDENIX server.\n");
    return kWdxServer;
  }
  if (char* html = std::strstr(name, "-HTML")) {
    *html = '\0';
    log_line("    HTTP server.\n");
    return kHttpServer;
  }
  *dash = '\0';
  log_line("    Other server.\n");
  return kOtherServer;
}

}  // namespace

std::string bindery_log_path() { return page_directory() + "/scanbind.log"; }

int ScanBinderyForPS() {
  std::memset(ipx_unit_list, 0, sizeof ipx_unit_list);
  g_sap_servers_count = 0;
  open_log();
  nw::NetWareClient& client = nw::netware_client();
  uint32_t result = client.NWCallsInit(nullptr, nullptr);
  log_line("NWCallsInit() returned 0x%8.8X\n", result);
  if (result != 0) {
    close_log();
    return 0;
  }
  uint32_t handle = OpenConnection();
  log_line("OpenConnection() returned 0x%8.8X as its handle.\n", handle);
  if (handle == kNoConnection) {
    close_log();
    return 0;
  }
  int count = scan_bindery(handle);
  g_sap_servers_count = count;
  log_line("scan_bindery() found %d units.\n", count);
  client.close_connection(handle);
  drop_units_without_http();
  for (int i = 0; i < g_sap_servers_count; ++i) {
    const IpxUnitRecord& u = ipx_unit_list[i];
    log_line("Unit: %s Network Address: ", u.name);
    for (uint8_t b : u.address.sa_netnum) log_line("%2.2X", b);
    log_line(":");
    for (uint8_t b : u.address.sa_nodenum) log_line("%2.2X", b);
    log_line(" WDX port %4.4X, HTTP port %4.4X\n", log_socket(u.wdx_port),
             log_socket(u.address.sa_socket));
  }
  close_log();
  return g_sap_servers_count;
}

uint32_t OpenConnection() {
  nw::NetWareClient& client = nw::netware_client();
  uint32_t iterator = 0;
  uint32_t reference = 0;
  uint32_t result = client.NWCCScanConnRefs(&iterator, &reference);
  while (true) {
    if (result != 0) {
      log_line("NWCCScanConnRefs() returned 0x%8.8X\n", result);
      return kNoConnection;
    }
    uint32_t handle = 0;
    uint32_t opened = client.NWCCOpenConnByRef(reference, 2, 0, &handle);
    if (opened == 0) return handle;
    log_line("NWCCOpenConnByRef() returned 0x%8.8X\n", opened);
    result = client.NWCCScanConnRefs(&iterator, &reference);
  }
}

int scan_bindery(uint32_t handle) {
  uint32_t object_id = 0xFFFFFFFF;
  while (true) {
    char name[kNameSize];
    net::SockAddrIpx address{};
    int kind = kOtherServer;
    int ccode = ReadAnEntry(handle, &object_id, name, &address, &kind);
    log_line("ReadAnEntry() returned ccode %d.\n", ccode);
    if (ccode != 0) return g_sap_servers_count;
    int index = find_sap_server(name);
    if (index == -1) {
      if (kind == kWdxServer || kind == kHttpServer)
        add_sap_server(name, address, kind);
    } else if (kind == kWdxServer) {
      log_line("Server %s updated with WDX address.\n", name);
      ipx_unit_list[index].wdx_port = address.sa_socket;
    } else if (kind == kHttpServer) {
      log_line("Server %s updated with HTTP server address.\n", name);
      ipx_unit_list[index].address.sa_socket = address.sa_socket;
    }
  }
}

int ReadAnEntry(uint32_t handle, uint32_t* object_id, char* name,
                net::SockAddrIpx* address, int* kind) {
  nw::NetWareClient& client = nw::netware_client();
  uint16_t type = 0;
  uint8_t has_properties = 0, flags = 0, security = 0;
  name[0] = '\0';
  uint32_t result =
      client.NWScanObject(handle, "*", kUnitObjectTypeSwapped, object_id, name,
                          &type, &has_properties, &flags, &security);
  // A client that fills the whole buffer leaves no NUL: keep 47 characters.
  name[kNameSize - 1] = '\0';
  if (result != 0) {
    log_line("NWScanObject() returned 0x%8.8X.\n", result);
    return -1;
  }
  uint8_t segment[nw::kSegmentSize] = {};
  uint8_t more = 0, property_flags = 0;
  result = client.NWReadPropertyValue(handle, name, type, "NET_ADDRESS", 1,
                                      segment, &more, &property_flags);
  if (result != 0) {
    log_line("NWReadPropertyValue() returned 0x%8.8X.\n", result);
    return -1;
  }
  log_line("Read info for server %s.\n", name);
  *address = net::SockAddrIpx{};
  address->sa_family = net::AF_IPX_;
  std::memcpy(address->sa_netnum, segment, 4);
  std::memcpy(address->sa_nodenum, segment + 4, 6);
  std::memcpy(&address->sa_socket, segment + 10, 2);
  *kind = classify(name);
  return 0;
}

int find_sap_server(const char* name) {
  for (int i = 0; i < g_sap_servers_count; ++i) {
    if (std::strncmp(ipx_unit_list[i].name, name, kNameSize) == 0) return i;
  }
  return -1;
}

void add_sap_server(const char* name, const net::SockAddrIpx& address,
                    int kind) {
  if (g_sap_servers_count >= kIpxUnitCapacity) {
    log_line("sap_servers has overflowed.\n");
    return;
  }
  IpxUnitRecord& u = ipx_unit_list[g_sap_servers_count];
  set_name(u, name);
  u.address = address;
  if (kind == kWdxServer) {
    u.address.sa_socket = 0;
    u.wdx_port = address.sa_socket;
  }
  log_line("Server %s added to list.\n", name);
  ++g_sap_servers_count;
}

void drop_units_without_http() {
  int kept = 0;
  for (int i = 0; i < g_sap_servers_count; ++i) {
    if (ipx_unit_list[i].address.sa_socket != 0) {
      if (kept != i) ipx_unit_list[kept] = ipx_unit_list[i];
      ++kept;
    } else {
      log_line("Dropping unit %s because no HTTP port.\n",
               ipx_unit_list[i].name);
    }
  }
  g_sap_servers_count = kept;
}

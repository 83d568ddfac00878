// The NetWare bindery scan: reads the units from the bindery objects of the
// unit service type (0x0414) through the workstation's NetWare client, and
// builds from them the IPX unit list (`sap_servers`): one entry per unit,
// its WDX service from the object named after the unit and its HTTP
// service from the object named after the unit followed by "-HTML". Units
// without an HTTP service are dropped at the end.
//
// Runs on the discovery thread before any probe starts. The log file
// scanbind.log (in the page folder, which stands for the root of the
// current drive) is written only while bindery_log_enabled is set; it is
// off and only tests turn it on.
#ifndef TAV_DISCOVERY_IPX_BINDERY_SCAN_H_
#define TAV_DISCOVERY_IPX_BINDERY_SCAN_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/net.h"

extern std::atomic<bool> bindery_log_enabled;
std::string bindery_log_path();

// Kinds of bindery object, from the object's name.
inline constexpr int kWdxServer = 0;
inline constexpr int kHttpServer = 1;
inline constexpr int kOtherServer = 2;

// Number of units left in the IPX unit list; 0 when the client cannot be
// used or no unit is found.
int ScanBinderyForPS();

// Connection handle, or 0xFFFFFFFF when no connection opens.
uint32_t OpenConnection();
// The sap_servers count after walking the bindery.
int scan_bindery(uint32_t handle);
// Reads and classifies the next object: 0, or -1 when the walk is over.
// name must hold 48 bytes.
int ReadAnEntry(uint32_t handle, uint32_t* object_id, char* name,
                net::SockAddrIpx* address, int* kind);
int find_sap_server(const char* name);
void add_sap_server(const char* name, const net::SockAddrIpx& address,
                    int kind);
void drop_units_without_http();

#endif  // TAV_DISCOVERY_IPX_BINDERY_SCAN_H_

// IPX discovery: finds the units of the local IPX network (NetWare bindery,
// or the locator and SAP broadcasts), describes them over SPX, and sorts
// the IPX unit list. Returns the IPX unit count, or -1 when there is no IPX
// stack. Runs on the discovery thread; the caller holds a DiscoveryRun.
#ifndef TAV_DISCOVERY_IPX_IPX_DISCOVERY_H_
#define TAV_DISCOVERY_IPX_IPX_DISCOVERY_H_

int discover_units_using_ipx();

#endif  // TAV_DISCOVERY_IPX_IPX_DISCOVERY_H_

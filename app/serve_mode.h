// The service mode, "-Serve": TAV for the whole LAN, without a browser.
//
// run_serve_mode() runs the port check, discovery and the page as the
// normal run does, but with no progress window and no browser; finding no
// unit is reported (message 110) and an empty page served. It then answers
// only the clients that serve_client_networks() allows, logs every request
// (gateway/access_log.h), searches again every 15 minutes, and becomes the
// gateway. It returns only when the gateway fails: kExitFailure, after
// message 108 when port 34 cannot be bound. Messages take the console form
// (one line each on standard error); the caller arranges that, and that
// SIGHUP calls start_rediscovery() and SIGTERM/SIGINT end with exit 0.
//
// Runs on the main thread; start_rediscovery() may be called from any.
#ifndef TAV_APP_SERVE_MODE_H_
#define TAV_APP_SERVE_MODE_H_

#include <string>
#include <vector>

#include "gateway/client_filter.h"

inline constexpr int kRediscoveryIntervalMs = 15 * 60 * 1000;

int run_serve_mode();

// The networks whose clients -Serve answers: TAV_ALLOW when set (false
// after message 135 when it is malformed), else the host's own networks
// and loopback.
bool serve_client_networks(std::vector<AllowedNetwork>* out);

// Starts a rediscovery as a refresh request does, unless one runs already
// or the first search is not over yet.
void start_rediscovery();

#endif  // TAV_APP_SERVE_MODE_H_

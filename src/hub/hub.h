#pragma once

#include "hub_options.h"

// The hub's event loop: one thread for every network interface, the link's
// port worker handing its bursts into it. Returns the exit status once a stop
// signal (SIGTERM, SIGINT) ended it, or at once when a listener cannot be
// opened. Asio stays inside hub.cpp; later interfaces join the same loop
// there.
namespace mc::hub {

[[nodiscard]] int runHub(const HubOptions& options);

} // namespace mc::hub

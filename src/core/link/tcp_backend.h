#pragma once

#include "link/link_address.h"
#include "link/link_backend.h"

#include <atomic>
#include <chrono>
#include <memory>

namespace mc {

// The link number a network link is opened with: outside COM1..COM99, so a
// byte of a serial port can never be taken for one of the network link's.
inline constexpr int kNetworkLinkNumber = 100;

// Name resolution and connecting together give up after this long.
inline constexpr std::chrono::milliseconds kTcpConnectTimeout{3000};

// Set by the port worker once the connection stands, so the owner can tell a
// failed connect from a connection lost later. Any thread.
using TcpConnectedFlag = std::shared_ptr<std::atomic<bool>>;

// A TCP connection to a switcher's network port, carrying the serial line's
// bytes. open() only prepares the wake-ups; resolving the name and connecting
// happen in connect() on the port worker, bounded by `connectTimeout` and
// ended at once by a close. A peer that closes, resets or stays silent to
// keepalive probes fails the link as a hang-up fails a serial line. POSIX
// sockets on Linux, Winsock on Windows.
std::unique_ptr<LinkBackend> makeTcpBackend(const TcpLinkAddress& address,
                                            std::chrono::milliseconds connectTimeout = kTcpConnectTimeout,
                                            const TcpConnectedFlag& connected = nullptr);

} // namespace mc

// A far end that misbehaves on TCP, for the Wine step to point the Windows
// matrix-ctl at (only ever on the loopback):
//   mc-tcp-fault-peer silent          a listener that never answers a connect
//   mc-tcp-fault-peer close TEXT      sends TEXT after the first command line,
//   mc-tcp-fault-peer reset TEXT      then closes, or resets, the connection
// Prints "ready 127.0.0.1:PORT" once listening. "silent" runs until it is
// stopped, the others end after their one client; none runs longer than a
// minute.
#include "support/tcp_peer.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr auto kLifetime = 60s;

int usage() {
    std::fputs("usage: mc-tcp-fault-peer silent | close TEXT | reset TEXT\n", stderr);
    return 2;
}

void ready(std::uint16_t port) {
    std::printf("ready 127.0.0.1:%u\n", static_cast<unsigned>(port));
    std::fflush(stdout);
}

// A command line has come: a line feed after something other than line ends
// (the tool sends an empty line first).
bool hasCommand(const std::string& received) {
    const auto content = received.find_first_not_of("\r\n");
    return content != std::string::npos && received.find('\n', content) != std::string::npos;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "silent" && argc == 2) {
        mc::test::FullBacklogListener listener;
        if (!listener.ready()) {
            std::fputs("mc-tcp-fault-peer: this system completes every loopback connect\n", stderr);
            return 1;
        }
        ready(listener.port());
        std::this_thread::sleep_for(kLifetime);
        return 0;
    }
    if ((mode != "close" && mode != "reset") || argc != 3) {
        return usage();
    }
    mc::test::TcpPeer peer;
    if (!peer.listening()) {
        std::fputs("mc-tcp-fault-peer: cannot listen on the loopback\n", stderr);
        return 1;
    }
    ready(peer.port());
    if (!peer.accept(kLifetime)) {
        return 1;
    }
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + kLifetime;
    while (!hasCommand(received)) {
        const auto start = std::chrono::steady_clock::now();
        const std::string more = peer.receive(1, 1s);
        if (start >= deadline || (more.empty() && std::chrono::steady_clock::now() - start < 1s)) {
            return 1; // the client went away first
        }
        received += more;
    }
    if (!peer.send(argv[2])) {
        return 1;
    }
    std::this_thread::sleep_for(100ms); // the text arrives before the end does
    peer.closeClient(mode == "reset");
    return 0;
}

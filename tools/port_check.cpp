// mc-port-check [n]: opens COMn (default COM1) as the console does, starts
// the port worker, closes the port and tells whether it opened; on standard
// error, why it failed.
#include "link/link_channel.h"

#include <cstdio>
#include <cstdlib>

namespace {

class DiscardingSink : public mc::ByteSink {
public:
    void receiveBytes(std::span<const std::uint8_t> /*bytes*/, int /*linkNumber*/, std::stop_token /*stop*/) override {}
    void linkFailed(int /*linkNumber*/, std::string /*reason*/, std::stop_token /*stop*/) override {}
};

} // namespace

int main(int argc, char* argv[]) {
    const int comPort = argc > 1 ? std::atoi(argv[1]) : 1;
    DiscardingSink sink;
    mc::LinkChannel channel;
    const bool opened = channel.openLink(sink, comPort, mc::LineSettings{});
    if (opened) {
        channel.startPortWorker();
    }
    channel.closeLink();
    std::printf("COM%d: %s%s\n", comPort, opened ? "opened" : "cannot be opened",
                channel.portError() ? " (port error)" : "");
    if (!opened || channel.portError()) {
        std::fprintf(stderr, "COM%d: %s\n", comPort, channel.lastFailure().c_str());
    }
    return opened ? 0 : 1;
}

// Platforms without a TCP link built in: a network address opens nothing,
// and the owner says so.
#include "link/tcp_backend.h"

namespace mc {

std::unique_ptr<LinkBackend> makeTcpBackend(const TcpLinkAddress& /*address*/,
                                            std::chrono::milliseconds /*connectTimeout*/,
                                            const TcpConnectedFlag& /*connected*/) {
    return nullptr;
}

} // namespace mc

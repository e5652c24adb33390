#pragma once

#include "line_link.h"
#include "session/line_assembler.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace mc::ctl {

// Connecting gives up after this long, for every address of the name together.
inline constexpr std::chrono::milliseconds kConnectTimeout{3000};

// The switcher's text protocol over a TCP connection: the same bytes as on
// the serial line. A blocking link for one caller thread; matrix-ctl has no
// window to keep responsive, so name resolution may block (the resolver's own
// timeouts bound it).
class TcpLink final : public LineLink {
public:
    TcpLink() = default;
    ~TcpLink() override;
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;

    // Resolves host and connects to the first address that accepts; false
    // with error() naming the peer and the reason.
    bool open(const std::string& host, std::uint16_t port, std::chrono::milliseconds connectTimeout = kConnectTimeout);

    bool send(std::string_view bytes) override;
    Wait nextLine(std::string& line, Clock::time_point deadline) override;
    [[nodiscard]] std::string error() const override { return error_; }
    [[nodiscard]] std::string name() const override { return name_; }

private:
    int fd_ = -1;
    std::string name_;
    std::string error_;
    std::string buffer_;
    LineAssembler assembler_{buffer_};
    std::string pending_;
    std::size_t pendingAt_ = 0;
    bool closed_ = false;
};

} // namespace mc::ctl

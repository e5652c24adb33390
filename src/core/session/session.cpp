#include "session/session.h"

#include "link/commands.h"

#include <utility>

namespace mc {

// Sits between the connection and the traffic observer, if any: the link
// events it sees tell when the switcher's reported values go stale.
class Session::LinkWatch final : public TrafficObserver {
public:
    explicit LinkWatch(SwitcherState& switcher) : switcher_(switcher) {}

    void setTraffic(TrafficObserver* traffic) { traffic_ = traffic; }

    void linkEvent(std::string_view link, LinkEvent event, std::string_view detail) override {
        if (event == LinkEvent::Closed || event == LinkEvent::PortError) {
            switcher_.linkLost();
        }
        if (traffic_ != nullptr) {
            traffic_->linkEvent(link, event, detail);
        }
    }
    void commandSent(std::string_view link, std::string_view bytes, std::string_view note) override {
        if (traffic_ != nullptr) {
            traffic_->commandSent(link, bytes, note);
        }
    }
    void partialByteReceived(char byte) override {
        if (traffic_ != nullptr) {
            traffic_->partialByteReceived(byte);
        }
    }
    void lineReceived(std::string_view line, const TrafficMark& mark) override {
        if (traffic_ != nullptr) {
            traffic_->lineReceived(line, mark);
        }
    }

private:
    SwitcherState& switcher_;
    TrafficObserver* traffic_ = nullptr;
};

Session::Session(ByteSink& owner, ConnectionView& view, EdidFiles& files, LinkBackendFactory backends)
    : files_(files), view_(view), channel_(std::move(backends)), connection_(state_, channel_, owner, view),
      watch_(std::make_unique<LinkWatch>(switcher_)) {
    connection_.setTrafficObserver(watch_.get());
}

Session::~Session() {
    channel_.closeLink();
}

void Session::showRepliesOn(PageViews pages) {
    ConsoleView& console = view_;
    ReplyViews views{std::move(pages.routing), pages.edid, pages.ipSettings, pages.audio, console, connection_};
    views.reports = &switcher_;
    replies_ = std::make_unique<ReplyDispatch>(state_, views, files_);
    connection_.setReplyDispatch(replies_.get());
}

void Session::receive(std::span<const std::uint8_t> bytes, int link, bool portError) {
    if (!replies_) {
        return;
    }
    for (const std::uint8_t byte : bytes) {
        // Each byte: one of them may close the link (a message box lets the
        // operator act), and what follows it then belongs to no open link.
        if (connection_.admitReceivedByte(link, portError)) {
            replies_->receive(byte);
        }
    }
}

void Session::linkFailed(int link, std::string_view reason) {
    connection_.linkFailed(link, reason);
}

void Session::linkConnected(int link) {
    connection_.linkConnected(link);
}

void Session::expectEdid(EdidReadBack readBack) {
    if (replies_) {
        replies_->expectEdid(std::move(readBack));
    }
}

bool Session::send(const TextCommand& command) {
    return connection_.send(command);
}

bool Session::requestStatus() {
    return connection_.send(probeCommand());
}

void Session::setTrafficObserver(TrafficObserver* observer) {
    watch_->setTraffic(observer);
    if (replies_) {
        replies_->setTrafficObserver(observer);
    }
}

} // namespace mc

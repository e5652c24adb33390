#include "session/connection.h"

#include "link/commands.h"

#include <string>

namespace mc {

namespace {

constexpr std::string_view kLogSource = "connection";

} // namespace

std::string networkConnectFailedMessage(const TcpLinkAddress& address, std::string_view reason) {
    return "Cannot connect to host " + address.host + ", TCP port " + std::to_string(address.port) + ":\n" +
           std::string(reason);
}

Connection::Connection(ConsoleState& state, LinkChannel& channel, ByteSink& owner, ConnectionView& view)
    : state_(state), channel_(channel), owner_(owner), view_(view) {
}

bool Connection::openPort(int comPort, LogLevel failureLevel) {
    const bool errorBefore = channel_.portError();
    if (!channel_.openLink(owner_, comPort, state_.line)) {
        logMessage(failureLevel, kLogSource, comPortName(comPort) + " cannot be opened: " + channel_.lastFailure());
        // The ports a search merely tries are not worth a row each.
        if (traffic_ != nullptr && failureLevel != LogLevel::Debug) {
            traffic_->linkEvent(comPortName(comPort), LinkEvent::OpenFailed, channel_.lastFailure());
        }
        return false;
    }
    noteLinkEvent(LinkEvent::Opened);
    if (!errorBefore && channel_.portError()) {
        logPortError("opened with a port error", channel_.lastFailure());
    }
    return true;
}

void Connection::logPortError(std::string_view what, std::string_view reason) const {
    logMessage(LogLevel::Error, kLogSource, linkName() + " " + std::string(what) + ": " + std::string(reason));
    noteLinkEvent(LinkEvent::PortError, reason);
}

std::string Connection::linkName() const {
    return network_ ? formatLinkAddress(*network_) : comPortName(channel_.linkNumber());
}

void Connection::connectNetwork(const TcpLinkAddress& address, std::chrono::milliseconds bound) {
    channel_.clearPortError();
    if (state_.searchInProgress) {
        state_.searchInProgress = false;
        view_.stopConsoleTimer(ConsoleTimer::Search);
        view_.setStatusText(kClearedStatusText);
    }
    state_.portOpen = false;
    closeChannel();
    endReadBack();
    network_ = address;
    view_.showNetworkItem(formatLinkAddress(address));
    networkConnected_ = std::make_shared<std::atomic<bool>>(false);
    networkAnnounced_ = false;
    if (!channel_.openLink(owner_, kNetworkLinkNumber, makeTcpBackend(address, bound, networkConnected_),
                           state_.line)) {
        const std::string reason = channel_.lastFailure();
        logMessage(LogLevel::Warning, kLogSource, formatLinkAddress(address) + " cannot be opened: " + reason);
        forgetNetworkPeer();
        if (traffic_ != nullptr) {
            traffic_->linkEvent(formatLinkAddress(address), LinkEvent::OpenFailed, reason);
        }
        view_.showPortIcon(false);
        view_.setPortButtonText(kTurnOnPortText);
        view_.showLinkPeer({});
        view_.showMessage(networkConnectFailedMessage(address, reason));
        return;
    }
    channel_.startPortWorker();
    view_.showPortIcon(true);
    state_.portOpen = true;
    view_.setPortButtonText(kClosePortText);
    view_.showLinkPeer("Connected to " + formatLinkAddress(address));
    // Reported open, and asked for the status, by linkConnected().
}

void Connection::linkConnected(int link) {
    // A serial line is reported open as it opens; a network link once its
    // peer has accepted it, so a refused connect never looks open.
    if (!network_ || !isOpenLink(link) || networkAnnounced_ || !networkConnected_->load()) {
        return;
    }
    networkAnnounced_ = true;
    noteLinkEvent(LinkEvent::Opened);
    send(probeCommand());
}

bool Connection::closeNetworkLink() {
    if (!network_) {
        return false;
    }
    view_.showLinkPeer({});
    state_.portOpen = false;
    closeChannel(); // named as the network link in the traffic rows
    forgetNetworkPeer();
    endReadBack();
    return true;
}

void Connection::forgetNetworkPeer() {
    network_.reset();
    view_.showNetworkItem({});
    view_.selectComItem(state_.comPort - kFirstComPort);
}

void Connection::endReadBack() {
    if (replies_ != nullptr) {
        replies_->endReadBack();
    }
}

void Connection::noteLinkEvent(LinkEvent event, std::string_view detail) const {
    if (traffic_ != nullptr) {
        traffic_->linkEvent(linkName(), event, detail);
    }
}

void Connection::closeChannel() {
    const bool wasOpen = channel_.isOpen();
    channel_.closeLink();
    if (wasOpen) {
        noteLinkEvent(LinkEvent::Closed);
    }
}

void Connection::portButtonClicked() {
    channel_.clearPortError();
    if (state_.portOpen) {
        state_.portOpen = false;
        view_.setPortButtonText(kTurnOnPortText);
        closeChannel();
        endReadBack();
        view_.showPortIcon(false);
        closeNetworkLink();
        return;
    }
    if (network_) {
        // The link last open was the network's: the button opens it again.
        const TcpLinkAddress peer = *network_;
        connectNetwork(peer);
        return;
    }
    if (openPort(state_.comPort)) {
        channel_.startPortWorker();
        view_.showPortIcon(true);
        state_.portOpen = true;
        view_.setPortButtonText(kClosePortText);
        return;
    }
    state_.portOpen = false;
    view_.showMessage(kPortUnavailableMessage);
    view_.showPortIcon(false);
    view_.setPortButtonText(kTurnOnPortText);
}

void Connection::comSelectionChanged(int index) {
    if (index < 0 || index >= kNetworkItemIndex) {
        // Only the network peer's item is there: picked while its link is
        // not open, it connects again, as the port button would.
        if (index == kNetworkItemIndex && network_ && !state_.portOpen) {
            const TcpLinkAddress peer = *network_;
            connectNetwork(peer);
        }
        return;
    }
    channel_.clearPortError();
    // Before the network link goes: the selector keeps the port just picked.
    state_.comPort = index + kFirstComPort;
    closeNetworkLink();
    if (channel_.isOpen()) {
        closeChannel();
        endReadBack();
    }
    if (!openPort(state_.comPort)) {
        view_.showPortIcon(false);
        view_.showMessage(kPortUnavailableMessage);
        state_.portOpen = false;
        view_.setPortButtonText(kTurnOnPortText);
        return;
    }
    if (!state_.portOpen) {
        channel_.startPortWorker();
        view_.showPortIcon(true);
        view_.setPortButtonText(kClosePortText);
        state_.portOpen = true;
        view_.pauseWindowThread(kSelectionPause);
        return;
    }
    // Selected while another port was open: the new port stays held, without
    // a worker, until the port button (or another selection) opens it again.
    view_.showPortIcon(false);
    view_.setPortButtonText(kTurnOnPortText);
    state_.portOpen = false;
}

bool Connection::openFirstPortFromCurrent() {
    while (state_.comPort <= kLastComPort) {
        // Most ports a search tries are absent: not worth a warning each.
        if (openPort(state_.comPort, LogLevel::Debug)) {
            return true;
        }
        ++state_.comPort;
    }
    return false;
}

void Connection::probeOpenPort(std::chrono::milliseconds wait) {
    channel_.startPortWorker();
    // Written without the port-open test: the port is not "open" until a
    // switcher answers.
    channel_.sendTextCommand(probeCommand().bytes());
    noteLinkEvent(LinkEvent::Probing);
    if (traffic_ != nullptr) {
        traffic_->commandSent(linkName(), probeCommand().bytes(), {});
    }
    state_.searchInProgress = true;
    view_.startConsoleTimer(ConsoleTimer::Search, wait);
}

void Connection::endSearchWithoutDevice(int comPort) {
    state_.comPort = comPort;
    view_.setStatusText(kClearedStatusText);
    state_.searchInProgress = false;
    view_.stopConsoleTimer(ConsoleTimer::Search);
    view_.showMessage(kNoDeviceMessage);
}

void Connection::searchMachineClicked() {
    channel_.clearPortError();
    closeNetworkLink();
    state_.portOpen = false;
    view_.setPortButtonText(kTurnOnPortText);
    closeChannel();
    // Also an EDID read never answered: the search needs the text parser.
    endReadBack();
    view_.showPortIcon(false);

    savedComPort_ = state_.comPort;
    state_.comPort = kFirstComPort;
    if (!openFirstPortFromCurrent()) {
        // Nothing opens at all: COM1, and the selector is left as it was.
        endSearchWithoutDevice(kFirstComPort);
        return;
    }
    view_.setStatusText(kSearchingStatusText);
    probeOpenPort(kFirstProbeWait);
}

void Connection::closeAfterPortError(std::string_view reason) {
    logPortError("failed, closing the port", reason);
    view_.setPortButtonText(kOpenPortText);
    closeChannel();
    endReadBack();
    view_.showPortIcon(false);
    state_.portOpen = false;
    if (network_) {
        view_.showLinkPeer({});
        if (!networkConnected_->load()) {
            // Last: the message box runs the event loop.
            view_.showMessage(networkConnectFailedMessage(*network_, reason));
        }
    }
}

void Connection::linkFailed(int link, std::string_view reason) {
    // The flag is cleared by every open: a failure queued before the link was
    // closed and opened again is not the open link's.
    if (isOpenLink(link) && channel_.portError()) {
        closeAfterPortError(reason);
    }
}

bool Connection::isOpenLink(int link) const {
    if (!isValidComPort(link) && !(network_ && link == kNetworkLinkNumber)) {
        return false;
    }
    return channel_.isOpen() && channel_.linkNumber() == link;
}

void Connection::timerFired(ConsoleTimer /*timer*/) {
    if (channel_.portError()) {
        // The port under test failed: the search ends here, with that port
        // still open until the next close.
        logPortError("failed during the search", channel_.lastFailure());
        state_.searchInProgress = false;
        view_.stopConsoleTimer(ConsoleTimer::Search);
    }
    if (!state_.searchInProgress) {
        view_.stopConsoleTimer(ConsoleTimer::Search);
        return;
    }
    // No line came in time: on to the next port that opens.
    closeChannel();
    endReadBack();
    ++state_.comPort;
    if (openFirstPortFromCurrent()) {
        probeOpenPort(kNextProbeWait);
        return;
    }
    // The selector is not changed, so it may name another port until the
    // operator selects one.
    endSearchWithoutDevice(savedComPort_);
}

bool Connection::admitReceivedByte(int comPort, bool portErrorAtReceipt) {
    // Bytes are handled on the window thread after the worker has queued
    // them. Those of a port closed in the meantime are dropped, as if they had
    // come after the close: a late answer on the port a search has just left
    // must not confirm the next one.
    if (!isOpenLink(comPort)) {
        return false;
    }
    if (portErrorAtReceipt) {
        // A failed write leaves the worker reading: the first byte after it
        // closes the port, and the rest of its burst finds the port closed.
        closeAfterPortError(channel_.lastFailure());
        return false;
    }
    return true;
}

void Connection::confirmSearch() {
    view_.showPortIcon(true);
    state_.portOpen = true;
    view_.setPortButtonText(kClosePortText);
    view_.selectComItem(state_.comPort - kFirstComPort);
    view_.setStatusText(kClearedStatusText);
    state_.searchInProgress = false;
    view_.stopConsoleTimer(ConsoleTimer::Search);
}

bool Connection::send(const TextCommand& command) {
    if (!state_.portOpen) {
        return false;
    }
    const SendResult result = channel_.sendTextCommand(command.bytes());
    if (result != SendResult::Queued) {
        // The port is open, so the operator is not told to open it; whoever
        // watches the log learns why the command never reached the line.
        logMessage(LogLevel::Warning, kLogSource,
                   std::string("command not sent (") + sendResultText(result) + "): " + std::string(command.bytes()));
        return false;
    }
    if (traffic_ != nullptr) {
        traffic_->commandSent(linkName(), command.bytes(), command.note());
    }
    return true;
}

} // namespace mc

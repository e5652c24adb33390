#include "session/connection.h"

#include "link/commands.h"

#include <string>

namespace mc {

namespace {

constexpr std::string_view kLogSource = "connection";

std::string comName(int comPort) {
    return "COM" + std::to_string(comPort);
}

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
        logMessage(failureLevel, kLogSource, comName(comPort) + " cannot be opened: " + channel_.lastFailure());
        // The ports a search merely tries are not worth a row each.
        if (traffic_ != nullptr && failureLevel != LogLevel::Debug) {
            traffic_->linkEvent(comName(comPort), LinkEvent::OpenFailed, channel_.lastFailure());
        }
        return false;
    }
    noteLinkEvent(LinkEvent::Opened);
    if (!errorBefore && channel_.portError()) {
        logPortError("opened with a port error");
    }
    return true;
}

void Connection::logPortError(std::string_view what) const {
    logMessage(LogLevel::Error, kLogSource, linkName() + " " + std::string(what) + ": " + channel_.lastFailure());
    noteLinkEvent(LinkEvent::PortError, channel_.lastFailure());
}

std::string Connection::linkName() const {
    return network_ ? formatLinkAddress(*network_) : comName(channel_.linkNumber());
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
    noteLinkEvent(LinkEvent::Opened);
    channel_.startPortWorker();
    view_.showPortIcon(true);
    state_.portOpen = true;
    view_.setPortButtonText(kClosePortText);
    view_.showLinkPeer("Connected to " + formatLinkAddress(address));
    // Queued until the connect completes.
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
    } else {
        state_.endReadBack();
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

void Connection::timerFired(ConsoleTimer timer) {
    if (timer == ConsoleTimer::ErrorClose) {
        std::optional<std::string> connectFailure;
        if (channel_.portError()) {
            logPortError("failed, closing the port");
            view_.setPortButtonText(kOpenPortText);
            closeChannel();
            endReadBack();
            view_.showPortIcon(false);
            state_.portOpen = false;
            if (network_) {
                view_.showLinkPeer({});
                if (!networkConnected_->load()) {
                    connectFailure = networkConnectFailedMessage(*network_, channel_.lastFailure());
                }
            }
        }
        view_.stopConsoleTimer(ConsoleTimer::ErrorClose);
        errorCloseArmed_ = false;
        // After the timer is stopped: the message box runs the event loop.
        if (connectFailure) {
            view_.showMessage(*connectFailure);
        }
        return;
    }

    if (channel_.portError()) {
        // The port under test failed: the search ends here, with that port
        // still open until the next close.
        logPortError("failed during the search");
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
    if (!isValidComPort(comPort) && !(network_ && comPort == kNetworkLinkNumber)) {
        return false;
    }
    // Bytes are handled on the window thread after the worker has queued
    // them. Those of a port closed in the meantime are dropped, as if they had
    // come after the close: a late answer on the port a search has just left
    // must not confirm the next one.
    if (!channel_.isOpen() || channel_.linkNumber() != comPort) {
        return false;
    }
    if (portErrorAtReceipt) {
        // Started once, not restarted by every further byte: a steady stream
        // of bytes would otherwise keep pushing the close back.
        if (!errorCloseArmed_) {
            errorCloseArmed_ = true;
            view_.startConsoleTimer(ConsoleTimer::ErrorClose, kErrorClosePeriod);
        }
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

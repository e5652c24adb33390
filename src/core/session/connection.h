#pragma once

#include "link/commands.h"
#include "link/link_address.h"
#include "link/link_channel.h"
#include "link/tcp_backend.h"
#include "link/text_command.h"
#include "session/console_state.h"
#include "session/log_hook.h"
#include "session/reply_dispatch.h"
#include "session/reply_views.h"
#include "session/traffic.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mc {

// Port button texts.
inline constexpr char kTurnOnPortText[] = "Turn on Port";
inline constexpr char kClosePortText[] = "Close Port";
inline constexpr char kOpenPortText[] = "Open port"; // after a close forced by a port error

inline constexpr char kPortUnavailableMessage[] = "Can not find this port or used by other application";
inline constexpr char kNoDeviceMessage[] = "Can not find available device for this console!";

// The console window's timers.
enum class ConsoleTimer {
    Search, // waits for an answer to the probe
};

// Pause after a COM selection has opened a port.
inline constexpr std::chrono::milliseconds kSelectionPause{200};

// The COM selector's item that names the network peer while a network link is
// chosen: right after COM99, so the COM items keep their indexes.
inline constexpr int kNetworkItemIndex = kLastComPort - kFirstComPort + 1;

// What the connection logic shows and drives in the console window, besides
// the status line and the messages.
class ConnectionView : public ConsoleView {
public:
    virtual void showPortIcon(bool open) = 0;
    virtual void setPortButtonText(std::string_view text) = 0;
    // Selects a COM selector item without a selection-changed notice.
    virtual void selectComItem(int index) = 0;
    // (Re)starts a periodic timer; the window calls timerFired at each tick.
    virtual void startConsoleTimer(ConsoleTimer timer, std::chrono::milliseconds period) = 0;
    virtual void stopConsoleTimer(ConsoleTimer timer) = 0;
    // Holds the window thread; received bytes wait in the hand-over meanwhile.
    virtual void pauseWindowThread(std::chrono::milliseconds duration) = 0;
    // The network peer the link is open to ("Connected to 127.0.0.1:5000"),
    // shown beside the port controls; empty when no network link is open.
    virtual void showLinkPeer(std::string_view /*text*/) {}
    // While a network link is chosen (open, connecting, or lost and not yet
    // replaced) the COM selector shows the peer ("127.0.0.1:5000") as its
    // item kNetworkItemIndex, selected without a selection-changed notice, so
    // the selector names what the port button opens. Empty removes the item;
    // the connection then selects the COM port's item.
    virtual void showNetworkItem(std::string_view /*peer*/) {}
};

// What a failed network connect says: the host, the TCP port and why.
[[nodiscard]] std::string networkConnectFailedMessage(const TcpLinkAddress& address, std::string_view reason);

// The port button, the COM selector, "Search Machine", the search timer, the
// close after a port error, reply dispatch and the search confirmation. Runs on
// the window thread only; it alone changes the port-open and search flags in
// the shared state, which every sender tests.
class Connection final : public SearchConfirmation {
public:
    // `owner` is where the channel hands received bytes (the window's
    // hand-over); every open passes it with the state's line settings.
    Connection(ConsoleState& state, LinkChannel& channel, ByteSink& owner, ConnectionView& view);

    void portButtonClicked();
    // `index` is the COM selector's item: 0 for COM1; kNetworkItemIndex is
    // the network peer, which a pick connects to again when it is not open.
    void comSelectionChanged(int index);
    void searchMachineClicked();
    void timerFired(ConsoleTimer timer);

    // Reply dispatch of one received byte: false when it is dropped, that is
    // when its link number is not the open link's, or when the port error
    // flag was set as the byte came in (a failed write): that closes the port
    // as linkFailed() does. The flag is taken as it was then, not as it is
    // now: bytes read before a failure are still handled.
    bool admitReceivedByte(int comPort, bool portErrorAtReceipt);
    // The port worker of link `link` met a failure (`reason`) and reads no
    // more: the port closes, the button offers to open it again, and a network
    // connect that never succeeded says why in a message. A failure of a link
    // closed or reopened since is ignored.
    void linkFailed(int link, std::string_view reason);
    // The link is up: a network link tells it once its connect succeeded, and
    // only then is it reported open and asked for the status.
    void linkConnected(int link);
    // Runs at every complete line while a search waits: the switcher answered.
    void confirmSearch() override;

    // Hands a command to the channel if the port-open flag is set.
    bool send(const TextCommand& command);

    [[nodiscard]] int savedComPort() const { return savedComPort_; }

    // Opens a network link in place of whatever is open; once it has
    // connected (linkConnected) it asks for the status so every page fills.
    // Returns at once: the connect runs on the port worker, and its failure
    // comes back through linkFailed(), which closes it and says why.
    void connectNetwork(const TcpLinkAddress& address, std::chrono::milliseconds bound = kTcpConnectTimeout);
    // The peer of the network link last opened and not closed since.
    [[nodiscard]] const std::optional<TcpLinkAddress>& networkPeer() const { return network_; }
    // Sees the commands sent and the link's events; nullptr detaches.
    void setTrafficObserver(TrafficObserver* observer) { traffic_ = observer; }
    // Where the received lines go: a close or a new search ends its pending
    // EDID read and its unfinished line.
    void setReplyDispatch(ReplyDispatch* replies) { replies_ = replies; }
    // The link's name as the traffic rows show it.
    [[nodiscard]] std::string linkName() const;

private:
    // A failed open is logged at `failureLevel` with the channel's reason.
    bool openPort(int comPort, LogLevel failureLevel = LogLevel::Warning);
    void logPortError(std::string_view what, std::string_view reason) const;
    // Closes the channel, reporting the close of an open link.
    void closeChannel();
    void noteLinkEvent(LinkEvent event, std::string_view detail = {}) const;
    void endReadBack();
    // The close after a port error, with the failure's reason.
    void closeAfterPortError(std::string_view reason);
    // Whether `link` is the link open now.
    [[nodiscard]] bool isOpenLink(int link) const;
    // Opens COM state.comPort or the next one that opens; false past COM99.
    bool openFirstPortFromCurrent();
    void probeOpenPort(std::chrono::milliseconds wait);
    void endSearchWithoutDevice(int comPort);
    // Closes a network link (the COM controls take over); false if none.
    bool closeNetworkLink();
    // The network link is no longer chosen: the selector shows the COM port.
    void forgetNetworkPeer();

    ConsoleState& state_;
    LinkChannel& channel_;
    ByteSink& owner_;
    ConnectionView& view_;
    int savedComPort_ = kFirstComPort;
    std::optional<TcpLinkAddress> network_;
    TcpConnectedFlag networkConnected_;
    bool networkAnnounced_ = false; // the connected network link was reported open
    TrafficObserver* traffic_ = nullptr;
    ReplyDispatch* replies_ = nullptr;
};

} // namespace mc

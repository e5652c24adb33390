#pragma once

#include "link/link_backend.h"
#include "link/link_channel.h"
#include "link/text_command.h"
#include "session/connection.h"
#include "session/console_state.h"
#include "session/edid_capture.h"
#include "session/reply_dispatch.h"
#include "session/reply_views.h"
#include "session/switcher_state.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace mc {

// The pages' reply views, as the front end builds them.
struct PageViews {
    // Every routing page; each takes the outputs it shows.
    std::vector<std::reference_wrapper<RoutingView>> routing;
    EdidView& edid;
    IpSettingsView& ipSettings;
    AudioView& audio;
};

// One session with the switcher, Qt-free: the console state, the link channel
// with its connection logic, reply dispatch into the pages and into the
// switcher state model, and the EDID files. A front end builds its widgets,
// wires them to the session and hands it what the port worker receives; the
// received bytes go from receive() straight to the pages' views, and the pages
// send their commands through the session.
//
// Threads: everything but the channel's port worker runs on the owner's
// thread (the console's window thread). The worker hands received bytes, the
// connect and failures to `owner`, which brings them to receive(),
// linkConnected() and linkFailed() on that thread, in order, and never calls
// one of them while another is still running (a message box shown while a
// line is handled runs an event loop): the owner's queue holds what comes
// meanwhile.
class Session final : public CommandSender, public EdidReadBackStarter {
public:
    // `owner`: where the channel's port worker hands over (the window's
    // hand-over); `view`: the port controls, status line, messages and timers;
    // `files`: where EDIDs read back are saved; `backends`: what opens COMn.
    Session(ByteSink& owner, ConnectionView& view, EdidFiles& files, LinkBackendFactory backends = makeSerialBackend);
    // Closes the link: the port worker ends before the session and its owner.
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Where the replies show; once, before the first link opens (the pages
    // are built with the session as their sender, so they come after it).
    void showRepliesOn(PageViews pages);

    // One burst from link `link` in arrival order. `portError`: the channel's
    // port error flag as the bytes came in; bytes read before a failure are
    // handled, those after it are dropped and start the error close.
    void receive(std::span<const std::uint8_t> bytes, int link, bool portError);
    // Link `link` failed after the bytes received before; `reason` says why.
    // The port closes at once and the operator is told as after any port
    // error; a failure of a link closed or reopened since changes nothing.
    void linkFailed(int link, std::string_view reason);
    // Link `link` is up (a network link has connected).
    void linkConnected(int link);

    // CommandSender: sends only while the port is open.
    bool send(const TextCommand& command) override;
    // Asks the switcher for its whole status again, so every page shows what
    // it reports now (after a close, or changes made elsewhere); false while
    // no port is open.
    bool requestStatus();
    // The next EDID data line is checked as the port's EDID and saved.
    void expectEdid(EdidReadBack readBack) override;

    // Sees the commands, lines and link events; nullptr detaches.
    void setTrafficObserver(TrafficObserver* observer);

    [[nodiscard]] ConsoleState& state() { return state_; }
    [[nodiscard]] EdidFiles& edidFiles() { return files_; }
    [[nodiscard]] const ConsoleState& state() const { return state_; }
    [[nodiscard]] LinkChannel& channel() { return channel_; }
    [[nodiscard]] Connection& connection() { return connection_; }
    // What the switcher has reported, with times and staleness.
    [[nodiscard]] const SwitcherState& switcher() const { return switcher_; }
    // The EDID read-back waiting for its data line, if any.
    [[nodiscard]] std::optional<EdidReadBack> edidReadBack() const {
        return replies_ ? replies_->edidReadBack() : std::nullopt;
    }
    // nullptr until showRepliesOn().
    [[nodiscard]] const ReplyDispatch* replies() const { return replies_.get(); }

private:
    // Marks the switcher's values stale once the link they came over is gone.
    class LinkWatch;

    ConsoleState state_;
    EdidFiles& files_;
    ConnectionView& view_;
    SwitcherState switcher_;
    LinkChannel channel_;
    Connection connection_;
    std::unique_ptr<ReplyDispatch> replies_;
    std::unique_ptr<LinkWatch> watch_;
};

} // namespace mc

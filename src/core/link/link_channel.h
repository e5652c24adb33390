#pragma once

#include "link/line_settings.h"
#include "link/link_backend.h"
#include "link/pending_commands.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>

namespace mc {

// Most bytes the port worker reads (one read per byte) before it hands them
// over in one call: one cross-thread hand-over per byte is far too slow.
inline constexpr std::size_t kReceiveBurstLimit = 256;

// Longest a write may take in all before it counts as failed.
inline constexpr std::chrono::milliseconds kWriteTimeout{1000};

// The owner's side of the channel: where received bytes go. The console
// window's hand-over implements it.
class ByteSink {
public:
    virtual ~ByteSink() = default;

    // Port worker thread. The bytes of one burst, in arrival order. The call
    // may wait while the owner has no room for them (back-pressure), but must
    // return soon after `stop` is requested; bytes it cannot take then go with
    // the closing port.
    // The owner must outlive the port worker: close the port or destroy the
    // channel before the owner.
    virtual void receiveBytes(std::span<const std::uint8_t> bytes, int linkNumber, std::stop_token stop) = 0;
    // Port worker thread, after the bytes read before it: the link failed (a
    // failed read or wait, a hang-up, a connect that did not succeed) and its
    // worker reads no more. The port error flag is already set and `reason`
    // is lastFailure(). May wait like receiveBytes.
    virtual void linkFailed(int linkNumber, std::string reason, std::stop_token stop) = 0;
    // Port worker thread, before any byte: the link is up (a network link has
    // connected; a serial line is up as soon as its worker starts). Owners that
    // need not know ignore it.
    virtual void linkConnected(int /*linkNumber*/, const std::stop_token& /*stop*/) {}
};

// One link to the switcher (a serial COM port or a TCP connection), with its
// port worker thread. All calls except portError() and lastFailure() come from one thread
// (the window thread); the port worker does every read and write. The device
// calls are a LinkBackend's: termios on POSIX, the Win32 communications API on
// Windows, chosen at compile time; tests give fake lines instead.
class LinkChannel {
public:
    enum class State {
        Closed,   // no port, no worker
        OpenIdle, // port open, worker not started
        Running,  // port open, worker running
        Stopping, // worker asked to end (inside closeLink and openLink)
    };

    // Link n (COMn) opens this platform's serial backend.
    LinkChannel();
    // Link n opens what `backends` makes for n (nullptr: no such port).
    explicit LinkChannel(LinkBackendFactory backends);
    virtual ~LinkChannel();
    LinkChannel(const LinkChannel&) = delete;
    LinkChannel& operator=(const LinkChannel&) = delete;

    // Opens and configures link n (COMn) exclusively; first ends a running worker and
    // closes a port already open. False when the device cannot be opened
    // (missing, held by another program, or not a terminal at all); the port
    // error flag is then left alone, and lastFailure() says why. A configuration failure after the open sets the port
    // error flag and still returns true.
    bool openLink(ByteSink& owner, int linkNumber, const LineSettings& line);
    // The same with a backend made by the caller; `linkNumber` is what the
    // owner is told with every hand-over and what linkNumber() returns.
    bool openLink(ByteSink& owner, int linkNumber, std::unique_ptr<LinkBackend> backend, const LineSettings& line);

    // Starts the port worker on an open, idle port. False otherwise.
    bool startPortWorker();

    // Copies the bytes and wakes the port worker, which purges the port and
    // writes them; returns at once. Commands sent while the port is open but
    // its worker not yet started are written when it starts. Refused without
    // an open port, when longer than the write buffer, or when too many are
    // pending. Does not test the console's port-open flag.
    SendResult sendTextCommand(std::string_view bytes);

    // Ends the worker, drops pending commands and closes the port. Safe when
    // nothing is open. Never waits on the owner: a worker waiting in a
    // hand-over is released by the stop request.
    void closeLink();

    // Set by any failed port call; cleared only by the console.
    [[nodiscard]] bool portError() const;
    void clearPortError();
    // Which call failed last and why, in the system's words, e.g.
    // "open /dev/ttyUSB0: Permission denied"; empty before any failure. A
    // failed open leaves the error flag alone but still records its reason.
    // Any thread.
    [[nodiscard]] std::string lastFailure() const;
    // With the last failure: whether it was an open refused by a port that is
    // there (held by another program, or forbidden), None otherwise. Any thread.
    [[nodiscard]] PortRefusal lastRefusal() const;

    [[nodiscard]] State state() const;
    [[nodiscard]] bool isOpen() const { return state() != State::Closed; }
    // The number of the link last opened: n for COMn, kNetworkLinkNumber
    // for a TCP link.
    [[nodiscard]] int linkNumber() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace mc

#pragma once

#include "link/line_settings.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace mc {

// Ends the reason of a serial device that could not be opened for lack of
// permission: on Linux the serial devices belong to the group dialout.
inline constexpr char kSerialPermissionHint[] = "(add your user to the dialout group, then log in again)";

// Why a device could not be opened, where that tells a port that is there but
// held or forbidden from one that is absent (or failed for another reason):
// a search names the first kind.
enum class PortRefusal {
    None,
    InUse,            // another program holds it
    PermissionDenied, // this user may not open it
};

// What woke the port worker, in priority order: a stop request first, then
// the line, then a pending write.
enum class LinkWake {
    Stop,
    Readable, // bytes may be waiting
    HungUp,   // the line reported a hang-up or an error; a read tells which
    Write,
    Failed, // the wait itself failed
};

enum class LinkRead {
    Byte,
    Empty, // nothing to read now
    Failed,
};

enum class LinkWrite {
    Written,
    Stopped, // a stop request came first; the rest goes with the closing link
    Failed,  // an error, or not all written before the deadline
};

// The calls a link makes on its device: a serial port (termios, Win32) or, in
// tests, a fake line. The channel's port worker drives them; a backend keeps
// no logic of its own about bursts, hand-overs, errors or pending commands.
//
// Threads: open, configure, purgeAll and close run on the owner's thread while
// no worker runs; connect, wait, queuedBytes, readByte, purgeInput, write and
// endWait run on the port worker; wakeForStop and wakeForWrite may come from any thread. The
// channel serialises the device calls with its port lock.
class LinkBackend {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~LinkBackend() = default;

    // Opens the device for exclusive use, with the wake-ups the worker waits
    // on. False when it cannot be had (absent, held by another program, not a
    // line at all); nothing stays open then.
    virtual bool open() = 0;
    // Port worker, first of all: finishes an open that must not run on the
    // owner's thread (name resolution, a network connect), bounded in time
    // and ended early by wakeForStop. False when the link cannot be had; the
    // worker then treats it as a failed line. Queued sends wait for it.
    virtual bool connect() { return true; }
    // Applies the line settings; false at the first that fails (the device
    // stays open with what was applied).
    virtual bool configure(const LineSettings& line) = 0;
    // Closes the device; harmless when not open. The worker has ended.
    virtual void close() = 0;

    virtual void wakeForStop() = 0;
    // Level-triggered: stays set until the worker takes it.
    virtual void wakeForWrite() = 0;
    virtual void takeWriteWake() = 0;

    // Waits without time limit for a stop, a write wake-up or, when
    // `watchLine` is set, the line.
    virtual LinkWake wait(bool watchLine) = 0;
    // Port worker, as it ends: ends a wait on the line still pending.
    virtual void endWait() {}
    // Bytes the device reports queued; -1 when it cannot tell (a failure).
    virtual long queuedBytes() = 0;
    // Reads one byte without waiting for more to come.
    virtual LinkRead readByte(std::uint8_t& byte) = 0;
    // Writes every byte by `deadline`; a stop request ends the wait.
    virtual LinkWrite write(std::string_view bytes, Clock::time_point deadline) = 0;
    // Discards received bytes not yet read (before every write).
    virtual void purgeInput() = 0;
    // Discards unread input and unsent output (at open and worker start).
    virtual void purgeAll() = 0;

    // Which call failed last and the system's reason, e.g.
    // "read: Input/output error". Read by the channel on the thread that made
    // the failing call.
    [[nodiscard]] virtual std::string failure() const = 0;
    // After a failed open(): whether the device is there but held or
    // forbidden.
    [[nodiscard]] virtual PortRefusal refusal() const { return PortRefusal::None; }
};

// Makes the backend for link number n (COMn); nullptr when n names no device.
using LinkBackendFactory = std::function<std::unique_ptr<LinkBackend>(int)>;

// The serial port backend of this platform, for COMn (nullptr when COMn names
// no device here).
std::unique_ptr<LinkBackend> makeSerialBackend(int comPort);

#ifndef _WIN32
// The link number of a terminal device opened by its path rather than as
// COMn: outside COM1..COM99 and apart from the network link's number.
inline constexpr int kDevicePathLinkNumber = 101;

// The serial port backend for the terminal device at path (any tty: a USB or
// Bluetooth adapter, an on-board UART, a pseudo-terminal). Opening it refuses
// anything that is not a terminal. nullptr for an empty path.
std::unique_ptr<LinkBackend> makeSerialDeviceBackend(std::string devicePath);
#endif

} // namespace mc

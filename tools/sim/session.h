#pragma once

#include "sim/command_framer.h"
#include "sim/command_interpreter.h"
#include "sim/switcher_state.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mc::sim {

// How the switcher behaves on the line, for testing the console's failure
// paths. In every mode the commands still change the state; only what goes
// back differs.
enum class Mode {
    normal,  // answers every line
    silent,  // never answers
    garbage, // answers every line with noise that holds no line feed
    hangup,  // answers like normal, then drops the line after a number of bytes
};

// Noise per line in garbage mode, in bytes.
inline constexpr std::size_t kGarbageMinLength = 16;
inline constexpr std::size_t kGarbageMaxLength = 63;

struct SessionOptions {
    Mode mode = Mode::normal;
    // hangup mode: the line is dropped once this many bytes have been
    // received; bytes beyond it are never looked at. 0 drops the line at the
    // first byte, before answering anything.
    std::uint64_t hangupAfter = 0;
    // Outputs whose route commands go unanswered; shared by every line and
    // changed while the emulator runs. Null: none. Outlives the session.
    const ReplyFaults* faults = nullptr;
};

// One received line and what went back for it.
struct Exchange {
    ReceivedLine line;
    std::string reply;
};

struct SessionOutput {
    std::vector<Exchange> exchanges;
    bool hangUp = false; // drop the line now
};

// The switcher on one line, without the I/O: bytes in, exchanges out. Each
// line (the serial line, every TCP client) has its own session: its own line
// framing, byte count and noise; the switcher state may be shared.
class Session {
public:
    explicit Session(SessionOptions options, SwitcherState state = SwitcherState());
    // A session on a state that other sessions share; shared (not null)
    // outlives it.
    Session(SessionOptions options, SwitcherState* shared);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    [[nodiscard]] SessionOutput receive(std::string_view bytes);

    [[nodiscard]] const SwitcherState& state() const { return *state_; }
    [[nodiscard]] std::uint64_t receivedBytes() const { return received_; }
    [[nodiscard]] bool hungUp() const { return hungUp_; }
    // Bytes of a line not yet complete.
    [[nodiscard]] std::size_t pendingBytes() const { return framer_.pendingBytes(); }

private:
    std::string replyTo(const ReceivedLine& line);
    std::string noise();

    SessionOptions options_;
    std::unique_ptr<SwitcherState> ownState_; // null when shared
    SwitcherState* state_;
    CommandInterpreter interpreter_;
    CommandFramer framer_;
    std::uint64_t received_ = 0;
    bool hungUp_ = false;
    std::uint32_t noiseState_ = 0x2545f491; // fixed seed: the same noise on every run
};

} // namespace mc::sim

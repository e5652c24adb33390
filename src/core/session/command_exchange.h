#pragma once

#include "link/commands.h"
#include "link/text_command.h"
#include "session/reply_parser.h"

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mc {

enum class ExchangeState {
    Waiting,   // sent (or about to be); no answer yet
    Confirmed, // the switcher reports what was asked
    Disagreed, // the switcher answered with something else
    TimedOut,  // no answer within the timeout
};

// One command and the reply that settles it: the switcher confirms what was
// asked, reports something else, or stays silent past the deadline. A state
// machine fed with received lines and the time, so that an event-driven owner
// (one link shared by many clients) and a blocking one (matrix-ctl, a thin
// wait loop on top) run the same matching. Qt-free; one thread at a time.
//
//     CommandExchange exchange = *routeExchange(3, 5);
//     link.send(exchange.command().bytes());
//     exchange.start(now, timeout);
//     ... for each received line: exchange.takeLine(line);
//     ... on the owner's timer:   exchange.tick(now);
//     ... until exchange.state() != ExchangeState::Waiting.
class CommandExchange {
public:
    using Clock = std::chrono::steady_clock;

    // What one reply line means to the command that waits.
    enum class Answer {
        NotYet,    // not the awaited reply; keep waiting
        Confirms,  // the switcher did what was asked
        Disagrees, // the awaited reply, but it reports something else
    };
    // Judges a line (LF included) and its decoded reply.
    using Judge = std::function<Answer(std::string_view line, const Reply& reply)>;

    // `awaited` names what the exchange waits for, for the operator:
    // "routing confirmation" ("no routing confirmation from COM3 within ...").
    CommandExchange(TextCommand command, std::string awaited, Judge judge);

    [[nodiscard]] const TextCommand& command() const { return command_; }
    [[nodiscard]] const std::string& awaited() const { return awaited_; }

    // The command has been handed to the link at `now`: the answer is due
    // within `timeout`. Lines taken before start() are judged all the same.
    void start(Clock::time_point now, std::chrono::milliseconds timeout);
    // One received line; the state after it. Lines after the exchange has
    // ended change nothing.
    ExchangeState takeLine(std::string_view line);
    // The time now: a waiting exchange whose deadline has passed times out.
    ExchangeState tick(Clock::time_point now);

    [[nodiscard]] ExchangeState state() const { return state_; }
    [[nodiscard]] bool waiting() const { return state_ == ExchangeState::Waiting; }
    // When a waiting exchange times out (Clock::time_point::max() before start()).
    [[nodiscard]] Clock::time_point deadline() const { return deadline_; }
    // The line that settled the exchange and its decoding; empty and
    // IgnoredReply while waiting or after a timeout.
    [[nodiscard]] const std::string& answerLine() const { return answerLine_; }
    [[nodiscard]] const Reply& answer() const { return answer_; }

private:
    TextCommand command_;
    std::string awaited_;
    Judge judge_;
    ExchangeState state_ = ExchangeState::Waiting;
    Clock::time_point deadline_ = Clock::time_point::max();
    std::string answerLine_;
    Reply answer_;
};

// The exchanges for the commands that set one value. Each confirms on the
// reply for that port or for all ports, and disagrees when the value differs
// (none differs too); nullopt when the command cannot be built.
[[nodiscard]] std::optional<CommandExchange> routeExchange(int output, int input);
[[nodiscard]] std::optional<CommandExchange> audioExchange(int output, AudioState state);
// choice 0..48 as applyEdidChoiceCommand takes it; EDID data lines are not
// the answer.
[[nodiscard]] std::optional<CommandExchange> edidChoiceExchange(int input, int choice);
// The first non-empty line answers an upload; one holding kErrorReply refuses it.
[[nodiscard]] std::optional<CommandExchange> edidUploadExchange(int input, int userSlot,
                                                                std::span<const std::uint8_t, kUploadEdidSize> edid);
// The search probe: any complete line, whatever it holds, is a switcher's answer.
[[nodiscard]] CommandExchange probeExchange();

} // namespace mc

#pragma once

#include "client_lines.h"
#include "session/line_assembler.h"
#include "session/switcher_state.h"
#include "site/site.h"
#include "traffic_kinds.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The heart of the hub, free of sockets and threads: it takes the text
// clients' command lines and the switcher's reply lines, forwards commands in
// arrival order, tells whom each reply line is for, and keeps the state the
// replies report. The event loop feeds it and carries out what it writes.
namespace mc::hub {

using SteadyClock = std::chrono::steady_clock;

// A text client, numbered by the event loop; 0 is the hub itself (its polls
// and preset recalls).
using ClientId = std::uint64_t;
inline constexpr ClientId kHubItself = 0;

// How long a command's answer is waited for before the command counts as
// unanswered: as long as matrix-ctl waits by default.
inline constexpr std::chrono::milliseconds kAnswerTimeout{2000};
// The failure of a command whose answer did not come within that time.
inline constexpr std::string_view kNoConfirmation = "no confirmation within 2 s";
// Commands sent and not yet answered, at most: the link's own queue (64)
// never overflows, and a silent switcher holds back the rest in order.
inline constexpr std::size_t kCommandsInFlight = 32;
// Commands held back (behind an EDID read, or beyond the ones in flight);
// more are dropped with a log line.
inline constexpr std::size_t kHeldCommandLimit = 256;

// Where the switchboard's output goes: the event loop. Neither call may call
// back into the switchboard (a client to be dropped goes later).
class SwitchboardWires {
public:
    virtual ~SwitchboardWires() = default;
    // Hands a command to the link; false when the link refused it (the reason
    // is logged by the caller).
    virtual bool writeToLink(std::string_view bytes) = 0;
    virtual void writeToClient(ClientId client, std::string_view bytes) = 0;
};

// A recall's per-output results, once every step has been confirmed or has
// failed.
using RecallDone = std::function<void(const RecallReport&)>;

class Switchboard {
public:
    explicit Switchboard(SwitchboardWires& wires);

    // The link carries the switcher's line now: the status is asked for.
    void linkUp(SteadyClock::time_point now);
    // The link is gone: every command waiting or held is dropped, and what
    // the state holds is stale from now on.
    void linkDown(std::string_view reason);
    [[nodiscard]] bool linkIsUp() const { return linkUp_; }

    void addClient(ClientId client, std::string name);
    void removeClient(ClientId client);
    [[nodiscard]] std::size_t clientCount() const { return clients_.size(); }

    void clientBytes(ClientId client, std::string_view bytes, SteadyClock::time_point now);
    void linkBytes(std::string_view bytes, SteadyClock::time_point now);

    // Asks for the status unless a status request is still unanswered.
    void poll(SteadyClock::time_point now);
    // Gives up on answers whose time has passed.
    void expire(SteadyClock::time_point now);
    // When expire() next has something to do.
    [[nodiscard]] std::optional<SteadyClock::time_point> nextDeadline() const;

    // Sends one command for the hub itself (the HTTP interface): done gets
    // the line that answered it, or nullopt and why none came (the link is
    // down, no confirmation in time). Locks are the caller's to check.
    using CommandDone = std::function<void(const std::optional<std::string>& line, std::string_view failure)>;
    void command(std::string bytes, CommandDone done, SteadyClock::time_point now);

    // The site whose locked outputs no client may re-route and whose names
    // the log uses; it must outlive the switchboard (nullptr: none).
    void useSite(const Site* site) { site_ = site; }
    [[nodiscard]] bool isLocked(int output) const;

    // Carries out a recall planned by the site (which skips locked outputs
    // and routes already so): the route, then the audio, of each step to
    // send, one command at a time, each waiting for its confirmation. `done`
    // gets the report; an output is applied only once the switcher confirmed
    // everything sent for it. Recalls asked for while one runs follow it.
    void recall(RecallPlan plan, RecallDone done, SteadyClock::time_point now);

    // What the switcher reports now, for planning a recall: only values
    // reported on the current link count, never stale ones.
    [[nodiscard]] SwitcherRoutes currentRoutes() const;

    // The core's state model, fed with every reply line.
    [[nodiscard]] const SwitcherState& state() const { return state_; }
    // A value is fresh when the switcher reported it since the link last came
    // up; while the link is down nothing is.
    template <class T> [[nodiscard]] bool isFresh(const Report<T>& value) const {
        return linkUp_ && value && !value->stale;
    }

private:
    // A line's answer, or why none came (line null).
    struct Answer {
        const std::string* line = nullptr;
        ReplyTopic topic;
        std::string_view failure;
        SteadyClock::time_point now;
    };
    using AnswerHandler = std::function<void(const Answer&)>;

    struct Command {
        ClientId owner = kHubItself;
        std::string bytes;
        CommandExpectation expectation;
        AnswerHandler onAnswer;
    };
    struct Waiting {
        ClientId owner = kHubItself;
        CommandExpectation expectation;
        int linesLeft = 1;
        SteadyClock::time_point deadline;
        AnswerHandler onAnswer;
        // The switcher answered a later command: it answers in the order it
        // was asked, so no line can answer this one any more. It stays until
        // its deadline, then counts as unanswered.
        bool passedOver = false;
    };
    struct Client {
        std::string name;
        ClientLineFramer framer;
    };
    struct RecallJob {
        RecallPlan plan;
        RecallReport report;
        std::size_t step = 0;   // the step being sent
        bool routeDone = false; // its route command was confirmed
        bool audioDone = false; // its audio command was confirmed
        RecallDone done;
    };

    void clientCommand(ClientId client, Client& from, std::string bytes, SteadyClock::time_point now);
    void enqueue(Command command, SteadyClock::time_point now);
    void pump(SteadyClock::time_point now);
    void handleLine(const std::string& line, SteadyClock::time_point now);
    // The command a reply line answers: the oldest one still answerable that
    // the line fits; the ones before it are passed over.
    std::deque<Waiting>::iterator answeredBy(const ReplyTopic& topic);
    void broadcast(std::string_view bytes);
    void dropAll(std::string_view failure);
    void startRecallStep(SteadyClock::time_point now);
    void finishRecallCommand(const Answer& answer);
    // The command a recall step needs next, or nullopt when it needs none.
    [[nodiscard]] static std::optional<TextCommand> nextRecallCommand(const RecallJob& job);
    static void nextRecallStep(RecallJob& job);

    SwitchboardWires& wires_;
    std::map<ClientId, Client> clients_;
    std::deque<Command> held_;
    std::deque<Waiting> waiting_;
    std::deque<RecallJob> recalls_;
    bool recallStepWaiting_ = false;
    SwitcherState state_;
    const Site* site_ = nullptr;
    bool linkUp_ = false;
    bool stateStale_ = true;
    // Reset at each link change, so no half line of one connection joins the
    // next.
    LineAssembler replyLines_;
};

} // namespace mc::hub

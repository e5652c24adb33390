#include "switchboard.h"

#include "link/commands.h"
#include "session/command_exchange.h"
#include "session/log_hook.h"
#include "session/traffic_format.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace mc::hub {
namespace {

constexpr std::string_view kLogSource = "hub";

void log(LogLevel level, const std::string& text) {
    logMessage(level, kLogSource, text);
}

// A line as the log shows it: control characters made visible as in the
// traffic monitor, at most 60 bytes of it.
std::string shown(std::string_view bytes) {
    constexpr std::size_t kShown = 60;
    return "\"" + visibleBytes(bytes.substr(0, kShown)) + (bytes.size() > kShown ? "\"..." : "\"");
}

// What the state model holds, without when it was reported: a reply changed
// the switcher's state when these differ after it.
struct StateValues {
    std::array<std::optional<std::optional<int>>, kPortCount> routes{};
    std::array<std::optional<std::optional<int>>, kPortCount> edidChoices{};
    std::array<std::optional<AudioState>, kPortCount> audio{};
    std::optional<bool> dhcp;
    std::optional<std::uint32_t> host;
    std::optional<std::uint32_t> netMask;
    std::optional<std::uint32_t> router;
    std::optional<std::string> tcpPort;
    std::optional<std::string> mac;
    friend bool operator==(const StateValues&, const StateValues&) = default;
};

template <class T> std::optional<T> valueOf(const Report<T>& report) {
    return report ? std::optional<T>(report->value) : std::nullopt;
}

StateValues valuesOf(const SwitcherState& state) {
    StateValues values;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        const auto at = static_cast<std::size_t>(port - kFirstPort);
        values.routes[at] = valueOf(state.route(port));
        values.edidChoices[at] = valueOf(state.edidChoice(port));
        values.audio[at] = valueOf(state.audio(port));
    }
    values.dhcp = valueOf(state.dhcp());
    values.host = valueOf(state.hostAddress());
    values.netMask = valueOf(state.netMask());
    values.router = valueOf(state.routerAddress());
    values.tcpPort = valueOf(state.tcpPort());
    values.mac = valueOf(state.mac());
    return values;
}

std::string_view trimmedLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

bool changesState(ReplyTopic::Kind kind) {
    return kind == ReplyTopic::Route || kind == ReplyTopic::Audio || kind == ReplyTopic::EdidChoice ||
           kind == ReplyTopic::Network;
}

} // namespace

Switchboard::Switchboard(SwitchboardWires& wires) : wires_(wires) {
}

void Switchboard::linkUp(SteadyClock::time_point now) {
    linkUp_ = true;
    replyLines_.reset();
    poll(now);
}

void Switchboard::linkDown(std::string_view reason) {
    const bool wasUp = linkUp_;
    linkUp_ = false;
    replyLines_.reset();
    dropAll("link down: " + std::string(reason));
    state_.linkLost();
    if (wasUp || !stateStale_) {
        log(LogLevel::Warning, "state is stale: the link is down, the last reported values are kept");
    }
    stateStale_ = true;
}

void Switchboard::addClient(ClientId client, std::string name) {
    clients_.try_emplace(client, Client{std::move(name), ClientLineFramer(kWriteBufferSize)});
}

void Switchboard::removeClient(ClientId client) {
    clients_.erase(client);
    // Answers still due to it are dropped when they come.
    for (Waiting& waiting : waiting_) {
        if (waiting.owner == client) {
            waiting.owner = kHubItself;
        }
    }
    std::erase_if(held_, [client](const Command& command) { return command.owner == client; });
}

bool Switchboard::isLocked(int output) const {
    return site_ != nullptr && site_->isLocked(output);
}

void Switchboard::clientBytes(ClientId client, std::string_view bytes, SteadyClock::time_point now) {
    const auto found = clients_.find(client);
    if (found == clients_.end()) {
        return;
    }
    std::vector<ClientLineFramer::Line> lines;
    found->second.framer.append(bytes, lines);
    for (ClientLineFramer::Line& line : lines) {
        switch (line.kind) {
        case ClientLineFramer::Line::Command:
            clientCommand(client, found->second, std::move(line.bytes), now);
            break;
        case ClientLineFramer::Line::Overlong:
            log(LogLevel::Warning, "dropped a line of " + std::to_string(line.length) + " bytes from " +
                                       found->second.name + ": longer than the switcher takes (" +
                                       std::to_string(kWriteBufferSize) + "), first " + shown(line.bytes));
            break;
        case ClientLineFramer::Line::Binary:
            log(LogLevel::Warning, "dropped a line from " + found->second.name +
                                       ": it holds bytes no command has, first " + shown(line.bytes));
            break;
        }
    }
}

void Switchboard::clientCommand(ClientId client, Client& from, std::string bytes, SteadyClock::time_point now) {
    const CommandExpectation expectation = expectationOf(bytes);
    if (expectation.kind == CommandExpectation::Route) {
        const bool everyOutput = expectation.port == kAllPorts;
        const bool refused =
            everyOutput ? site_ != nullptr && !site_->lockedOutputs().empty() : isLocked(expectation.port);
        if (refused) {
            std::string outputs;
            for (int output = kFirstPort; output <= kLastPort; ++output) {
                if (!isLocked(output) || (!everyOutput && output != expectation.port)) {
                    continue;
                }
                const auto name = site_->outputName(output);
                outputs += (outputs.empty() ? "output " : ", output ") + std::to_string(output) +
                           (name ? " (" + *name + ")" : "");
                // The output's current route goes back, so the client's page
                // returns to what the switcher shows.
                const auto& route = state_.route(output);
                if (route && route->value) {
                    wires_.writeToClient(client, routeReplyLine(output, *route->value + kFirstPort));
                }
            }
            log(LogLevel::Warning, "refused " + from.name + ": " + shown(bytes) + ": " + outputs + " locked");
            return;
        }
    }
    if (!linkUp_) {
        log(LogLevel::Info, "not sent for " + from.name + ", the link is down: " + shown(bytes));
        return;
    }
    enqueue(Command{client, std::move(bytes), expectation, nullptr}, now);
}

void Switchboard::command(std::string bytes, CommandDone done, SteadyClock::time_point now) {
    if (!linkUp_) {
        done(std::nullopt, "the link is down");
        return;
    }
    const CommandExpectation expectation = expectationOf(bytes);
    enqueue(Command{kHubItself, std::move(bytes), expectation,
                    [done = std::move(done)](const Answer& answer) {
                        done(answer.line != nullptr ? std::optional<std::string>(*answer.line) : std::nullopt,
                             answer.failure);
                    }},
            now);
}

void Switchboard::enqueue(Command command, SteadyClock::time_point now) {
    if (held_.size() >= kHeldCommandLimit) {
        log(LogLevel::Warning, "dropped " + shown(command.bytes) + ": " + std::to_string(held_.size()) +
                                   " commands wait for the switcher already");
        if (command.onAnswer) {
            command.onAnswer(Answer{nullptr, {}, "too many commands waiting", now});
        }
        return;
    }
    held_.push_back(std::move(command));
    pump(now);
}

void Switchboard::pump(SteadyClock::time_point now) {
    const auto edidReadWaiting = [this] {
        return std::any_of(waiting_.begin(), waiting_.end(), [](const Waiting& waiting) {
            return waiting.expectation.kind == CommandExpectation::EdidData;
        });
    };
    while (linkUp_ && !held_.empty() && waiting_.size() < kCommandsInFlight) {
        // An EDID data line cannot tell which read it answers: one at a time.
        if (held_.front().expectation.kind == CommandExpectation::EdidData && edidReadWaiting()) {
            return;
        }
        // The status answer starts with output 1's route line and holds a
        // line for every output: behind an unanswered route or audio command
        // its lines would read as that command's answer. It goes when nothing
        // else waits, so every line until its last is its own.
        if (held_.front().expectation.kind == CommandExpectation::Status && !waiting_.empty()) {
            return;
        }
        Command command = std::move(held_.front());
        held_.pop_front();
        if (!wires_.writeToLink(command.bytes)) {
            if (command.onAnswer) {
                command.onAnswer(Answer{nullptr, {}, "the link refused the command", now});
            }
            continue;
        }
        waiting_.push_back(Waiting{command.owner, command.expectation, std::max(command.expectation.lines, 1),
                                   now + kAnswerTimeout, std::move(command.onAnswer)});
    }
}

void Switchboard::linkBytes(std::string_view bytes, SteadyClock::time_point now) {
    for (const char byte : bytes) {
        if (auto line = replyLines_.append(byte)) {
            handleLine(*line, now);
        }
    }
}

void Switchboard::handleLine(const std::string& line, SteadyClock::time_point now) {
    const ReplyTopic topic = replyTopic(line);
    ClientId owner = kHubItself;
    bool answeredOne = false;
    const auto match = answeredBy(topic);
    AnswerHandler handler;
    if (match != waiting_.end()) {
        owner = match->owner;
        const bool complete = match->expectation.kind == CommandExpectation::Status
                                  ? isLastStatusLine(topic)
                                  : (--match->linesLeft <= 0 || topic.kind == ReplyTopic::Error);
        if (complete) {
            handler = std::move(match->onAnswer);
            if (match->expectation.kind == CommandExpectation::Status && stateStale_) {
                stateStale_ = false;
                log(LogLevel::Info, "state is fresh: the switcher reported its status");
            }
            waiting_.erase(match);
            answeredOne = true;
        }
    }
    bool changed = false;
    if (changesState(topic.kind)) {
        const StateValues before = valuesOf(state_);
        state_.apply(decodeReply(line));
        changed = valuesOf(state_) != before;
    }
    if (changed) {
        broadcast(line);
    } else if (owner != kHubItself && clients_.contains(owner)) {
        wires_.writeToClient(owner, line);
    }
    if (handler) {
        handler(Answer{&line, topic, {}, now});
    }
    if (answeredOne) {
        pump(now);
    }
}

std::deque<Switchboard::Waiting>::iterator Switchboard::answeredBy(const ReplyTopic& topic) {
    const auto match = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& waiting) {
        return !waiting.passedOver && answers(waiting.expectation, topic);
    });
    if (match != waiting_.end()) {
        for (auto earlier = waiting_.begin(); earlier != match; ++earlier) {
            if (!earlier->passedOver) {
                earlier->passedOver = true;
                log(LogLevel::Debug, "the switcher answered a later command first: one sent before it will not be "
                                     "answered any more");
            }
        }
    }
    return match;
}

void Switchboard::broadcast(std::string_view bytes) {
    for (const auto& [client, _] : clients_) {
        wires_.writeToClient(client, bytes);
    }
}

void Switchboard::poll(SteadyClock::time_point now) {
    if (!linkUp_) {
        return;
    }
    const auto isStatus = [](CommandExpectation::Kind kind) { return kind == CommandExpectation::Status; };
    const bool asked =
        std::any_of(waiting_.begin(), waiting_.end(), [&](const Waiting& w) { return isStatus(w.expectation.kind); }) ||
        std::any_of(held_.begin(), held_.end(), [&](const Command& c) { return isStatus(c.expectation.kind); });
    if (asked) {
        return;
    }
    const TextCommand probe = probeCommand();
    enqueue(Command{kHubItself, std::string(probe.bytes()), expectationOf(probe.bytes()), nullptr}, now);
}

void Switchboard::expire(SteadyClock::time_point now) {
    bool expired = false;
    while (!waiting_.empty()) {
        const auto late = std::find_if(waiting_.begin(), waiting_.end(),
                                       [now](const Waiting& waiting) { return waiting.deadline <= now; });
        if (late == waiting_.end()) {
            break;
        }
        AnswerHandler handler = std::move(late->onAnswer);
        waiting_.erase(late);
        expired = true;
        if (handler) {
            handler(Answer{nullptr, {}, kNoConfirmation, now});
        }
    }
    if (expired) {
        pump(now);
    }
}

std::optional<SteadyClock::time_point> Switchboard::nextDeadline() const {
    std::optional<SteadyClock::time_point> next;
    for (const Waiting& waiting : waiting_) {
        if (!next || waiting.deadline < *next) {
            next = waiting.deadline;
        }
    }
    return next;
}

void Switchboard::dropAll(std::string_view failure) {
    const auto now = SteadyClock::now();
    // Handlers may start new work; take everything out first.
    std::deque<Waiting> waiting;
    waiting.swap(waiting_);
    std::deque<Command> held;
    held.swap(held_);
    for (Waiting& entry : waiting) {
        if (entry.onAnswer) {
            entry.onAnswer(Answer{nullptr, {}, failure, now});
        }
    }
    for (Command& command : held) {
        if (command.onAnswer) {
            command.onAnswer(Answer{nullptr, {}, failure, now});
        }
    }
}

SwitcherRoutes Switchboard::currentRoutes() const {
    SwitcherRoutes current;
    for (int output = kFirstPort; output <= kLastPort; ++output) {
        const auto& route = state_.route(output);
        if (isFresh(route) && route->value) {
            current.at(output).input = *route->value + kFirstPort;
        }
        const auto& audio = state_.audio(output);
        if (isFresh(audio)) {
            current.at(output).audio = audio->value;
        }
    }
    return current;
}

void Switchboard::recall(RecallPlan plan, RecallDone done, SteadyClock::time_point now) {
    RecallJob job;
    job.report = RecallReport::start(plan);
    job.plan = std::move(plan);
    job.done = std::move(done);
    recalls_.push_back(std::move(job));
    if (!recallStepWaiting_) {
        startRecallStep(now);
    }
}

std::optional<TextCommand> Switchboard::nextRecallCommand(const RecallJob& job) {
    const RecallStep& step = job.plan.steps[job.step];
    if (step.sendRoute && !job.routeDone) {
        return routingCommand(step.output, step.input);
    }
    if (step.sendAudio && step.audio && !job.audioDone) {
        return audioCommand(step.output, *step.audio);
    }
    return std::nullopt;
}

void Switchboard::nextRecallStep(RecallJob& job) {
    ++job.step;
    job.routeDone = false;
    job.audioDone = false;
}

void Switchboard::startRecallStep(SteadyClock::time_point now) {
    while (!recalls_.empty()) {
        RecallJob& job = recalls_.front();
        for (; job.step < job.plan.steps.size(); nextRecallStep(job)) {
            const RecallStep& step = job.plan.steps[job.step];
            if (step.action != RecallAction::Send) {
                continue; // already so, or locked: reported from the plan
            }
            const auto command = nextRecallCommand(job);
            if (!command) {
                // A failed command ends its step at once, so every command
                // this step sent was confirmed.
                job.report.confirm(step.output);
            } else if (!linkUp_) {
                job.report.fail(step.output, "the link is down");
            } else {
                recallStepWaiting_ = true;
                enqueue(Command{kHubItself, std::string(command->bytes()), expectationOf(command->bytes()),
                                [this](const Answer& answer) { finishRecallCommand(answer); }},
                        now);
                return;
            }
        }
        RecallJob finished = std::move(job);
        recalls_.pop_front();
        for (const OutputRecallResult& result : finished.report.outputs) {
            log(LogLevel::Info, "preset \"" + finished.report.preset + "\": output " + std::to_string(result.output) +
                                    " -> input " + std::to_string(result.input) + ": " +
                                    std::string(recallOutcomeName(result.outcome)) +
                                    (result.reason.empty() ? "" : " (" + result.reason + ")"));
        }
        if (finished.done) {
            finished.done(finished.report);
        }
    }
}

void Switchboard::finishRecallCommand(const Answer& answer) {
    recallStepWaiting_ = false;
    RecallJob& job = recalls_.front();
    const RecallStep& step = job.plan.steps[job.step];
    const bool wasRoute = step.sendRoute && !job.routeDone;
    std::string failure;
    if (answer.line == nullptr) {
        failure = std::string(answer.failure);
    } else if (answer.topic.kind == ReplyTopic::Error) {
        failure = "the switcher answered ERROR";
    } else {
        // The core's exchange judges whether the line confirms the command.
        auto exchange = wasRoute ? routeExchange(step.output, step.input)
                                 : audioExchange(step.output, step.audio.value_or(AudioState::On));
        if (!exchange || exchange->takeLine(*answer.line) != ExchangeState::Confirmed) {
            failure = "the switcher reported " + visibleBytes(trimmedLine(*answer.line));
        }
    }
    if (!failure.empty()) {
        job.report.fail(step.output, failure);
        nextRecallStep(job);
    } else if (wasRoute) {
        job.routeDone = true;
    } else {
        job.audioDone = true;
    }
    startRecallStep(answer.now);
}

} // namespace mc::hub

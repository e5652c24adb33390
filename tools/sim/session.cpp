#include "sim/session.h"

#include "sim/reply_lines.h"

namespace mc::sim {

Session::Session(SessionOptions options, SwitcherState state)
    : options_(options), ownState_(std::make_unique<SwitcherState>(std::move(state))), state_(ownState_.get()),
      interpreter_(*state_, options.faults) {
}

Session::Session(SessionOptions options, SwitcherState* shared)
    : options_(options), state_(shared), interpreter_(*shared, options.faults) {
}

SessionOutput Session::receive(std::string_view bytes) {
    SessionOutput out;
    if (hungUp_) {
        return out;
    }
    if (options_.mode == Mode::hangup) {
        const std::uint64_t left = options_.hangupAfter - received_;
        if (bytes.size() >= left) {
            bytes = bytes.substr(0, static_cast<std::size_t>(left));
            out.hangUp = true;
        }
    }
    received_ += bytes.size();
    for (auto& line : framer_.feed(bytes)) {
        std::string reply = replyTo(line);
        out.exchanges.push_back({std::move(line), std::move(reply)});
    }
    hungUp_ = out.hangUp;
    return out;
}

std::string Session::replyTo(const ReceivedLine& line) {
    std::string reply;
    if (line.overlong) {
        reply = kErrorReply;
    } else if (!line.text.empty()) {
        for (const auto& replyLine : interpreter_.execute(line.text)) {
            reply += replyLine;
        }
    }
    switch (options_.mode) {
    case Mode::silent:
        return {};
    case Mode::garbage:
        return reply.empty() ? std::string() : noise();
    case Mode::normal:
    case Mode::hangup:
        break;
    }
    return reply;
}

// xorshift32: cheap, and reproducible for tests.
std::string Session::noise() {
    auto next = [this] {
        noiseState_ ^= noiseState_ << 13;
        noiseState_ ^= noiseState_ >> 17;
        noiseState_ ^= noiseState_ << 5;
        return noiseState_;
    };
    const std::size_t length = kGarbageMinLength + next() % (kGarbageMaxLength - kGarbageMinLength + 1);
    std::string text;
    text.reserve(length);
    while (text.size() < length) {
        const auto byte = static_cast<char>(next() & 0xffU);
        if (byte != '\n') {
            text += byte;
        }
    }
    return text;
}

} // namespace mc::sim

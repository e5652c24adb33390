#include "session/reply_dispatch.h"

#include "session/reply_marks.h"

namespace mc {
namespace {

constexpr std::int16_t kGap = -1;

} // namespace

ReplyDispatch::ReplyDispatch(ConsoleState& state, const ReplyViews& views, EdidFiles& files)
    : state_(state), parser_(state, views), capture_(state, views, files) {
}

void ReplyDispatch::endReadBack() {
    state_.endReadBack();
    lines_.reset();
}

void ReplyDispatch::receive(std::uint8_t byte) {
    if (handling_) {
        defer(byte);
        return;
    }

    // Cleared on every way out, so one failed handling cannot park all later
    // bytes in the queue.
    struct Handling {
        bool& flag;
        explicit Handling(bool& f) : flag(f) { flag = true; }
        ~Handling() { flag = false; }
        Handling(const Handling&) = delete;
        Handling& operator=(const Handling&) = delete;
    } const handling(handling_);

    handle(static_cast<char>(byte));
    while (!deferred_.empty()) {
        const std::int16_t next = deferred_.front();
        deferred_.pop_front();
        if (next == kGap) {
            lines_.discardCurrentLine();
        } else {
            handle(static_cast<char>(static_cast<std::uint8_t>(next)));
        }
    }
}

void ReplyDispatch::defer(std::uint8_t byte) {
    if (deferred_.size() < kDeferredByteLimit) {
        deferred_.push_back(byte);
        return;
    }
    ++droppedBytes_;
    // One marker per gap; it may take the queue one past its limit.
    if (deferred_.back() != kGap) {
        deferred_.push_back(kGap);
    }
}

void ReplyDispatch::handle(char byte) {
    auto line = lines_.append(byte);
    if (!line) {
        if (traffic_ != nullptr) {
            traffic_->partialByteReceived(byte);
        }
        return;
    }
    if (traffic_ != nullptr) {
        // Marked before it is handled: the mode the line meets decides.
        traffic_->lineReceived(*line, state_.edidToFile && isEdidDataLine(*line)
                                          ? markEdidReadBack(*line, state_.receivedEdid)
                                          : markReplyLine(*line, state_.edidToFile));
    }
    // The mode is read per line: the line that ends an EDID read switches the
    // bytes after it back to the text parser.
    if (state_.edidToFile) {
        capture_.handleLine(*line);
    } else {
        parser_.handleLine(*line);
    }
}

} // namespace mc

#include "session/reply_dispatch.h"

#include "session/reply_marks.h"

namespace mc {

ReplyDispatch::ReplyDispatch(ConsoleState& state, const ReplyViews& views, EdidFiles& files)
    : parser_(state, views), capture_(views, files) {
}

void ReplyDispatch::endReadBack() {
    capture_.end();
    lines_.reset();
}

void ReplyDispatch::receive(std::uint8_t byte) {
    const char c = static_cast<char>(byte);
    auto line = lines_.append(c);
    if (!line) {
        if (traffic_ != nullptr) {
            traffic_->partialByteReceived(c);
        }
        return;
    }
    handleLine(*line);
}

void ReplyDispatch::handleLine(std::string_view line) {
    // The mode is read per line: the line that ends an EDID read switches the
    // bytes after it back to the text parser. Each line is marked before it
    // is handled: the mode the line meets decides.
    if (!capture_.pending()) {
        if (traffic_ != nullptr) {
            traffic_->lineReceived(line, markReplyLine(line));
        }
        parser_.handleLine(line);
        return;
    }
    if (!isEdidDataLine(line)) {
        if (traffic_ != nullptr) {
            traffic_->lineReceived(line, markReplyLine(line, true));
        }
        return;
    }
    const EdidReply checked = capture_.check(line);
    if (traffic_ != nullptr) {
        traffic_->lineReceived(line, markEdidReadBack(checked));
    }
    capture_.handleLine(line, checked);
}

} // namespace mc

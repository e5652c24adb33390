#pragma once

#include "session/console_state.h"
#include "session/edid_capture.h"
#include "session/line_assembler.h"
#include "session/reply_parser.h"
#include "session/reply_views.h"
#include "session/traffic.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace mc {

// Bytes kept while a line is being handled (see ReplyDispatch). At 57600 baud
// this is over ten seconds of continuous traffic behind an open message box.
inline constexpr std::size_t kDeferredByteLimit = std::size_t{64} * 1024;

// Reply dispatch: the console window hands it every received byte, on the
// window thread, in arrival order. Bytes become lines; a complete line goes to
// the EDID-to-file parser while an EDID read is pending, else to the text
// reply parser.
//
// Re-entrancy: handling a line may show a modal message whose event loop runs
// while the line is handled. The console's hand-over delivers nothing then,
// but any other caller may call receive() again before the line is done.
// Such bytes are queued and handled, in order, once the outer handling ends,
// so the line being handled is never disturbed and later lines see the mode
// the finished line left behind. The queue is bounded: bytes past
// kDeferredByteLimit are dropped, counted, and the line they belonged to is
// discarded whole instead of being joined across the gap.
class ReplyDispatch {
public:
    ReplyDispatch(ConsoleState& state, const ReplyViews& views, EdidFiles& files);

    // One received byte that the connection has admitted (right port, no port
    // error); it is handled now, or after the line being handled.
    void receive(std::uint8_t byte);

    // At a close of the link or a new search: ends a pending EDID read and
    // drops the unfinished line with its over-long mark, so nothing received
    // on a later connection can complete it (a half EDID line would be saved
    // as an EDID) or be discarded for it.
    void endReadBack();
    // The bytes of the line not yet ended by its LF.
    [[nodiscard]] const std::string& pendingLine() const { return lines_.pending(); }

    // Sees every byte as it is handled and every line with its mark; nullptr
    // detaches.
    void setTrafficObserver(TrafficObserver* observer) { traffic_ = observer; }

    [[nodiscard]] std::size_t discardedLines() const { return lines_.discardedLines(); }
    [[nodiscard]] std::size_t droppedBytes() const { return droppedBytes_; }

private:
    void defer(std::uint8_t byte);
    void handle(char byte);

    ConsoleState& state_;
    LineAssembler lines_;
    ReplyParser parser_;
    EdidCapture capture_;

    bool handling_ = false;
    // Received bytes, or kGap where bytes were dropped.
    std::deque<std::int16_t> deferred_;
    std::size_t droppedBytes_ = 0;
    TrafficObserver* traffic_ = nullptr;
};

} // namespace mc

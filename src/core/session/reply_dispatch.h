#pragma once

#include "session/console_state.h"
#include "session/edid_capture.h"
#include "session/line_assembler.h"
#include "session/reply_parser.h"
#include "session/reply_views.h"
#include "session/traffic.h"

#include <cstdint>

namespace mc {

// Reply dispatch: the session hands it every received byte, in arrival order.
// Bytes become lines; a complete line goes to the EDID capture while an EDID
// read-back waits, else to the text reply parser.
//
// Re-entrancy: handling a line may show a modal message whose event loop runs
// while the line is handled. receive() is not called again meanwhile: the
// session's owner keeps what arrives in its own bounded queue (the console's
// byte hand-over) until the line is done.
class ReplyDispatch {
public:
    ReplyDispatch(ConsoleState& state, const ReplyViews& views, EdidFiles& files);

    // One received byte that the connection has admitted (right port, no port
    // error).
    void receive(std::uint8_t byte);

    // Starts an EDID read-back: the next EDID data line is checked and saved.
    void expectEdid(EdidReadBack readBack) { capture_.expect(std::move(readBack)); }
    // The read-back waiting for its EDID data line, if any.
    [[nodiscard]] const std::optional<EdidReadBack>& edidReadBack() const { return capture_.expected(); }
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

private:
    void handleLine(std::string_view line);

    LineAssembler lines_;
    ReplyParser parser_;
    EdidCapture capture_;
    TrafficObserver* traffic_ = nullptr;
};

} // namespace mc

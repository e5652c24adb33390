#pragma once

#include "link/text_command.h"

namespace mc {

// Line settings of the switcher's control port. They have no control of their
// own in the console and stay fixed for the whole run.
struct LineSettings {
    int baudRate = 57600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    // The port worker reads every received byte. Off, received bytes stay
    // queued on the line until the purge before the next write.
    bool readReceived = true;
    int writeBufferSize = static_cast<int>(kWriteBufferSize);
    // The worker discards unread input before each write, so a reply to an
    // earlier command cannot be taken for the next one's. A program that sends
    // while replies are still arriving (several clients sharing one link)
    // turns it off, or it would lose those replies.
    bool purgeInputBeforeWrite = true;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

} // namespace mc

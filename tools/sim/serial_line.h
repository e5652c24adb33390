#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace mc::sim {

// The switcher's end of the serial line (POSIX): the master side of a new
// pseudo-terminal linked into a port directory, or a real serial device.
// The descriptor is non-blocking.
class SerialLine {
public:
    // Creates a pseudo-terminal, sets its slave side raw at once (so nothing
    // is echoed or translated before a console configures it) and links
    // linkPath to the slave. Refuses an existing linkPath: it may be another
    // emulator's.
    static std::unique_ptr<SerialLine> createPseudoTerminal(const std::string& linkPath, std::string& error);

    // Opens a real serial device exclusively, raw 8N1 at 57600 baud.
    static std::unique_ptr<SerialLine> openDevice(const std::string& path, std::string& error);

    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    [[nodiscard]] int fd() const { return fd_; }
    // What a console opens: the link, or the device.
    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] bool isPseudoTerminal() const { return !slavePath_.empty(); }
    // The pseudo-terminal's slave side, what a console opens; empty for a device.
    [[nodiscard]] const std::string& slavePath() const { return slavePath_; }

    // Sleeps for the time given; false when the program is asked to stop.
    using Pause = std::function<bool(std::chrono::milliseconds)>;

    // Waits, at most `limit`, until the other end has taken what was written:
    // a hang-up discards whatever the console has not read yet, and a cable
    // pulled after a reply would still have delivered it. Every sleep goes
    // through pause, so a stop request ends the wait.
    void waitUntilTaken(std::chrono::milliseconds limit, const Pause& pause) const;

    // Closes the line (the console sees it hang up) and removes the link if
    // it still points at this pseudo-terminal.
    void close();

private:
    SerialLine(int fd, std::string path, std::string slavePath);

    int fd_;
    std::string path_;
    std::string slavePath_; // empty for a device
};

} // namespace mc::sim

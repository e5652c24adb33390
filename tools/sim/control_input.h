#pragma once

#include "sim/command_framer.h"

#include <memory>
#include <string>
#include <vector>

namespace mc::sim {

// Where front-panel changes come from while the emulator runs (POSIX): a
// FIFO, or standard input. Nothing here waits: the caller polls fd() for
// input and calls read().
class ControlInput {
public:
    // "-": standard input. Otherwise a FIFO: made (mode 0600) when the path
    // does not exist, and removed again at the end; an existing FIFO is used
    // and left in place; anything else at the path is refused, never replaced.
    static std::unique_ptr<ControlInput> open(const std::string& path, std::string& error);
    ~ControlInput();
    ControlInput(const ControlInput&) = delete;
    ControlInput& operator=(const ControlInput&) = delete;

    // -1 once standard input has ended (a FIFO never ends: writers come and go).
    [[nodiscard]] int fd() const { return fd_; }

    // Takes what the poll reported as readable: the lines it completes.
    [[nodiscard]] std::vector<ReceivedLine> read();

private:
    ControlInput(int fd, int keepOpen, std::string madePath);

    int fd_;
    int keepOpen_;         // the FIFO's own writer: no end of file when a writer leaves
    std::string madePath_; // the FIFO this program made, removed at the end
    CommandFramer lines_;
};

} // namespace mc::sim

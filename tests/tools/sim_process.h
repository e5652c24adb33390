#pragma once

// The emulator program as a child process, and the ways tests talk to it:
// its comN link opened like a console does, and TCP connections to it.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace mc::sim {

// Generous: the machine running the tests may be busy.
inline constexpr std::chrono::seconds kProcessTimeout{10};

// Reads from fd until `until` has arrived, the other side hangs up or the
// timeout runs out. eof is set when the other side hung up (or reset).
std::string readUntil(int fd, std::string_view until, bool* eof = nullptr,
                      std::chrono::milliseconds timeout = kProcessTimeout);

// Writes all of bytes to a blocking descriptor.
bool writeAll(int fd, std::string_view bytes);

// Which of the program's other standard streams the test holds a pipe to;
// the others are the test's own.
struct SimPipes {
    bool input = false;  // standard input: writeInput, closeInput
    bool errors = false; // standard error: errorsFd, a pipe the test may leave unread
};

class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args, SimPipes pipes = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The next line the program prints (the first, on the first call),
    // without its LF; empty when none comes in time.
    std::string nextLine();
    std::string firstLine() { return nextLine(); }

    // For --listen 127.0.0.1:0: the port of the "ready tcp 127.0.0.1:PORT"
    // line, read as the next line; 0 when it does not come.
    int tcpPort();

    void signal(int number) const;
    [[nodiscard]] pid_t pid() const { return pid_; }

    bool writeInput(std::string_view bytes) const;
    void closeInput();
    [[nodiscard]] int errorsFd() const { return stderr_; }

    // The exit status, or nullopt when the program did not end in time.
    std::optional<int> exitStatus();

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    int stdin_ = -1;
    int stderr_ = -1;
    std::string pending_; // printed, not taken yet
};

// Opens a comN link the way the console does: raw, no controlling terminal.
int openLikeConsole(const std::string& path);

// A blocking TCP connection to 127.0.0.1:port; -1 on failure. receiveBuffer,
// if not 0, is fixed before connecting, so the kernel holds little for a
// client that stops reading.
int connectLoopback(int port, int receiveBuffer = 0);

// "127.0.0.1:PORT" of a connected socket's own end, as the emulator logs it.
std::string localEndpoint(int fd);

std::string fileText(const std::string& path);

// The emulator's whole reply to GET STA in its initial state.
std::string fullStatus();

} // namespace mc::sim

#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mc::test {

// One record of the emulator's log: its kind ("rx", "tx", "info", ...) and
// its detail, with the quoted byte strings of rx and tx unescaped back into
// the bytes that crossed the line.
struct SwitcherLogRecord {
    std::string kind;
    std::string detail;
};

// Parses a whole log text; lines that are no record are skipped.
std::vector<SwitcherLogRecord> parseSwitcherLog(const std::string& text);

// Undoes the log's escaping (\" \\ \r \n \t \xhh); nullopt for a malformed
// escape.
std::optional<std::string> unescapeLogBytes(const std::string& escaped);

// The switcher emulator (matrix-switcher-sim) as a child process, linked as
// comN in a port directory and logging to a file of its own. The program is
// taken from $MC_BUILD_DIR/tools. Destruction stops it (SIGTERM, then SIGKILL
// when it does not end in time) and reaps it.
class SwitcherProcess {
public:
    struct Options {
        std::string portDirectory;
        int comPort = 1;
        std::string mode = "normal";
        std::optional<long> hangupAfter;
        // Also serve TCP there ("127.0.0.1:0" picks a free port); empty: no.
        std::string listen;
        // Further arguments (--control FIFO, --unanswered-output N).
        std::vector<std::string> extra;
        // Default: a new file <portDirectory>/simN-<count>.log
        std::string logFile;
    };

    // Starts the emulator and waits until it reports its line ready; check
    // ready() afterwards.
    explicit SwitcherProcess(Options options);
    ~SwitcherProcess();
    SwitcherProcess(const SwitcherProcess&) = delete;
    SwitcherProcess& operator=(const SwitcherProcess&) = delete;

    // True once the program printed "ready <link>" for its comN link.
    [[nodiscard]] bool ready() const { return ready_; }
    // What the program printed before it was ready, or why it is not.
    [[nodiscard]] const std::string& startupOutput() const { return startupOutput_; }
    [[nodiscard]] const std::string& logFile() const { return options_.logFile; }
    // The TCP port from its "ready tcp HOST:PORT" line; 0 without --listen.
    [[nodiscard]] std::uint16_t tcpPort() const { return tcpPort_; }

    [[nodiscard]] std::vector<SwitcherLogRecord> log() const;
    // The raw bytes of every line it received, in order.
    [[nodiscard]] std::vector<std::string> receivedLines() const;
    // The reply lines it sent, in order.
    [[nodiscard]] std::vector<std::string> sentLines() const;

    // Waits until the log holds at least `count` received lines; false on
    // timeout.
    bool waitForReceivedLines(std::size_t count, std::chrono::milliseconds timeout) const;

    // Stops the program with SIGTERM and returns its exit status, or nullopt
    // when it did not end within the timeout (it is killed then).
    std::optional<int> stop(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The exit status once the program has ended on its own (hang-up mode),
    // or nullopt when it is still running after the timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

    // Where the program is expected: $MC_BUILD_DIR/tools/matrix-switcher-sim.
    static std::string executablePath();

private:
    std::vector<std::string> linesOfKind(const char* kind) const;

    Options options_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    bool ready_ = false;
    std::uint16_t tcpPort_ = 0;
    std::string startupOutput_;
};

} // namespace mc::test

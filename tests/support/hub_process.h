#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace mc::test {

// matrix-hub as a child process, its text port on a free loopback port and
// its log in a file of its own. The program is taken from
// $MC_BUILD_DIR/src/hub. Destruction stops it (SIGTERM, then SIGKILL) and
// reaps it.
class HubProcess {
public:
    struct Options {
        std::string link;               // --link
        std::string directory;          // where the log goes
        int pollSeconds = 10;           // --poll
        std::vector<std::string> extra; // further arguments
        std::string textListen = "127.0.0.1:0";
        // --site; empty: site.json in the directory (none there: an empty site).
        std::string site;
    };

    explicit HubProcess(Options options);
    ~HubProcess();
    HubProcess(const HubProcess&) = delete;
    HubProcess& operator=(const HubProcess&) = delete;

    // True once the program printed "ready text 127.0.0.1:PORT".
    [[nodiscard]] bool ready() const { return textPort_ != 0; }
    [[nodiscard]] const std::string& startupOutput() const { return startupOutput_; }
    [[nodiscard]] std::uint16_t textPort() const { return textPort_; }
    [[nodiscard]] std::string textAddress() const { return "127.0.0.1:" + std::to_string(textPort_); }
    [[nodiscard]] pid_t pid() const { return pid_; }

    [[nodiscard]] std::string log() const;
    // Waits until the log holds `text` at least `count` times.
    bool waitForLog(std::string_view text, std::chrono::milliseconds timeout, std::size_t count = 1) const;

    // Sends the signal and waits for the exit status; nullopt when it did not
    // end in time (it is killed then).
    std::optional<int> stop(int signal, std::chrono::milliseconds timeout);

    static std::string executablePath();

private:
    Options options_;
    std::string logFile_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::uint16_t textPort_ = 0;
    std::string startupOutput_;
};

// A text client on loopback with plain blocking calls bounded by timeouts.
class TextClient {
public:
    // receiveBuffer: a socket receive buffer this small (bytes), 0 for the
    // system's; a client that never reads fills it soon.
    explicit TextClient(std::uint16_t port, int receiveBuffer = 0);
    ~TextClient();
    TextClient(const TextClient&) = delete;
    TextClient& operator=(const TextClient&) = delete;

    [[nodiscard]] bool connected() const { return fd_ >= 0; }
    bool send(std::string_view bytes);
    // Reads until what was received (since the last take) holds `text`;
    // returns everything received so far and removes it.
    std::string receiveUntil(std::string_view text, std::chrono::milliseconds timeout);
    // Reads what comes within the time.
    std::string receiveFor(std::chrono::milliseconds time);
    // True once the hub closed the connection (end of stream or reset) within
    // the time; what came before is kept in `received`.
    bool waitForClose(std::chrono::milliseconds timeout, std::string* received = nullptr);

private:
    int fd_ = -1;
    std::string pending_;
};

} // namespace mc::test

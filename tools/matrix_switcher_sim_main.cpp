// matrix-switcher-sim: plays the 16x16 HDMI matrix switcher on the far end of
// a serial line and/or TCP connections, for the demo, the end-to-end tests
// and bench tests. The switcher itself lives in mc_sim; this file only moves
// bytes and logs them.
#include "sim/control_input.h"
#include "sim/front_panel.h"
#include "sim/log_format.h"
#include "sim/options.h"
#include "sim/serial_line.h"
#include "sim/session.h"
#include "sim/tcp_server.h"
#include "version.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace mc::sim;
using Clock = std::chrono::steady_clock;

// While no console holds the pseudo-terminal, its master reports POLLHUP at
// once; leaving it out of the polls for this pause keeps that state from
// spinning.
constexpr auto kIdlePause = std::chrono::milliseconds(20);
// A reply the line cannot take within this time is dropped, so a console
// that stops reading cannot stall the emulator.
constexpr auto kWriteTimeout = std::chrono::milliseconds(2000);
constexpr std::size_t kReadChunk = 4096;
// Longest wait for the console to take the last replies before a hang-up.
constexpr auto kHangupGrace = std::chrono::milliseconds(2000);

volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void onStopSignal(int signal) {
    gStopSignal = signal;
}

class LogWriter {
public:
    explicit LogWriter(std::FILE* file) : file_(file) {}
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;
    ~LogWriter() {
        if (file_ != stderr) {
            std::fclose(file_);
        }
    }

    // Flushed at once: tests read the log while the emulator runs.
    void write(std::string_view kind, std::string_view detail, bool quoted) {
        const std::string record = logRecord(std::chrono::system_clock::now(), kind, detail, quoted);
        std::fwrite(record.data(), 1, record.size(), file_);
        std::fflush(file_);
    }

private:
    std::FILE* file_;
};

timespec toTimespec(std::chrono::milliseconds ms) {
    return {static_cast<std::time_t>(ms.count() / 1000), static_cast<long>((ms.count() % 1000) * 1000000)};
}

// Waits for events on fd (or just for the time, fd < 0) with the stop
// signals let through; false when a stop signal came.
bool waitFor(int fd, short events, std::chrono::milliseconds timeout, const sigset_t& waitMask, short& revents) {
    pollfd p{fd, events, 0};
    const timespec ts = toTimespec(timeout);
    const int ready = ::ppoll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, timeout.count() < 0 ? nullptr : &ts, &waitMask);
    revents = ready > 0 ? p.revents : short{0};
    return gStopSignal == 0;
}

// Waits for events on all fds (an fd of -1 is skipped) until deadline, if
// any, with the stop signals let through; false when a stop signal came.
bool waitForAny(std::vector<pollfd>& fds, std::optional<Clock::time_point> deadline, const sigset_t& waitMask) {
    timespec ts{};
    if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        ts = toTimespec(std::max(left, std::chrono::milliseconds(0)));
    }
    if (::ppoll(fds.data(), fds.size(), deadline ? &ts : nullptr, &waitMask) <= 0) {
        for (pollfd& p : fds) {
            p.revents = 0;
        }
    }
    return gStopSignal == 0;
}

// Writes all bytes or gives up after kWriteTimeout; false when dropped.
bool writeAll(int fd, std::string_view bytes, const sigset_t& waitMask) {
    const auto deadline = Clock::now() + kWriteTimeout;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        // A stop request ends the wait at once, also one that came during an
        // earlier reply: a console that stops reading must not hold it back.
        if (gStopSignal != 0) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        short revents = 0;
        if (left.count() <= 0 || !waitFor(fd, POLLOUT, left, waitMask, revents)) {
            return false;
        }
    }
    return true;
}

void logExchange(LogWriter& log, const Exchange& exchange) {
    const ReceivedLine& line = exchange.line;
    if (line.overlong) {
        log.write("overlong", std::to_string(line.receivedBytes) + " bytes, first \"" + escapeBytes(line.raw) + "\"",
                  false);
    } else {
        log.write("rx", line.raw, true);
    }
    std::string_view reply = exchange.reply;
    while (!reply.empty()) {
        const std::size_t end = reply.find('\n');
        const std::size_t length = end == std::string_view::npos ? reply.size() : end + 1;
        log.write("tx", reply.substr(0, length), true);
        reply.remove_prefix(length);
    }
}

// The serial line and what the loop keeps for it.
struct SerialPort {
    SerialLine& line;
    Session& session;
    bool consoleAttached = false;
    Clock::time_point idleUntil{}; // left out of the polls until then
};

// Takes what the poll reported for the serial line. Returns the exit status
// when the program ends: a hang-up of hangup mode or a dead device.
std::optional<int> serveSerial(SerialPort& port, short revents, std::vector<char>& buffer, LogWriter& log,
                               const sigset_t& waitMask) {
    SerialLine& line = port.line;
    ssize_t n = -1;
    std::string failure = "hung up";
    if ((revents & POLLIN) != 0) {
        n = ::read(line.fd(), buffer.data(), buffer.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return std::nullopt;
        }
        failure = n < 0 ? std::strerror(errno) : "closed";
    }
    if (n <= 0) {
        if (!line.isPseudoTerminal()) {
            log.write("info", "device " + line.path() + " failed: " + failure, false);
            return 1;
        }
        if (port.consoleAttached) {
            log.write("info", "console closed the line", false);
            port.consoleAttached = false;
        }
        port.idleUntil = Clock::now() + kIdlePause;
        return std::nullopt;
    }
    port.consoleAttached = true;
    const SessionOutput out = port.session.receive(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    for (const Exchange& exchange : out.exchanges) {
        if (gStopSignal != 0) {
            break;
        }
        logExchange(log, exchange);
        if (!exchange.reply.empty() && !writeAll(line.fd(), exchange.reply, waitMask)) {
            log.write("info", "reply dropped: the line does not take it", false);
        }
    }
    if (out.hangUp) {
        if (gStopSignal == 0) {
            line.waitUntilTaken(kHangupGrace);
        }
        log.write("info", "hanging up after " + std::to_string(port.session.receivedBytes()) + " bytes", false);
        return 0;
    }
    return std::nullopt;
}

// The front panel: what a control line changes goes into the state (and the
// faults) and the log, never onto a line.
struct Panel {
    ControlInput& input;
    SwitcherState& state;
    ReplyFaults& faults;
};

void serveControl(Panel& panel, LogWriter& log) {
    for (const ReceivedLine& line : panel.input.read()) {
        if (line.overlong) {
            log.write("info", "control line refused: longer than " + std::to_string(kMaxLineLength) + " bytes", false);
            continue;
        }
        if (line.text.empty() || line.text.front() == '#') {
            continue;
        }
        std::string error;
        if (const auto command = parsePanelCommand(line.text, error)) {
            log.write("info", "front panel: " + applyPanelCommand(*command, panel.state, panel.faults), false);
        } else {
            log.write("info", "control line \"" + escapeBytes(line.text) + "\" refused: " + error, false);
        }
    }
}

// Serves the serial line (if any) and the TCP clients (if any) until a stop
// signal, a hang-up of hangup mode (on TCP: only without a serial line) or a
// dead device. Returns the exit status.
int serve(SerialLine* line, Session& session, TcpServer* tcp, Panel* panel, LogWriter& log, const sigset_t& waitMask) {
    std::vector<char> buffer(kReadChunk);
    std::optional<SerialPort> port;
    if (line != nullptr) {
        port.emplace(SerialPort{*line, session});
    }
    std::vector<pollfd> fds;
    while (gStopSignal == 0) {
        const auto now = Clock::now();
        std::optional<Clock::time_point> deadline;
        fds.clear();
        fds.push_back({-1, POLLIN, 0});
        if (port && now >= port->idleUntil) {
            fds[0].fd = line->fd();
        } else if (port) {
            deadline = port->idleUntil;
        }
        // The control line comes before the clients: a change made before a
        // client's command arrived is in the state that answers it.
        fds.push_back({panel != nullptr ? panel->input.fd() : -1, POLLIN, 0});
        if (tcp != nullptr) {
            tcp->addPollFds(fds, now);
            if (const auto next = tcp->nextDeadline(); next && (!deadline || *next < *deadline)) {
                deadline = next;
            }
        }
        if (!waitForAny(fds, deadline, waitMask)) {
            break;
        }
        if (panel != nullptr && fds[1].revents != 0) {
            serveControl(*panel, log);
        }
        if (port && fds[0].revents != 0) {
            if (const auto status = serveSerial(*port, fds[0].revents, buffer, log, waitMask)) {
                return *status;
            }
        }
        if (tcp != nullptr) {
            tcp->handle(std::span(fds).subspan(2), Clock::now());
            if (!port && tcp->hungUp()) {
                log.write("info", "hung up: no serial line to serve, ending", false);
                return 0;
            }
        }
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    std::string error;
    const auto options = parseOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "matrix-switcher-sim: %s\n%.*s", error.c_str(), static_cast<int>(usageText().size()),
                     usageText().data());
        return 2;
    }
    if (options->help) {
        std::fwrite(usageText().data(), 1, usageText().size(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("matrix-switcher-sim %s\n", mc::kVersion);
        return 0;
    }

    std::FILE* logFile = stderr;
    if (!options->logFile.empty()) {
        logFile = std::fopen(options->logFile.c_str(), "a");
        if (logFile == nullptr) {
            std::fprintf(stderr, "matrix-switcher-sim: cannot open log %s: %s\n", options->logFile.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    LogWriter log(logFile);

    // The stop signals stay blocked except inside ppoll, so one that arrives
    // between two polls is not lost.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<SerialLine> line;
    if (!options->portsDir.empty() || !options->device.empty()) {
        const std::string linkPath = options->portsDir + "/com" + std::to_string(options->com);
        line = options->device.empty() ? SerialLine::createPseudoTerminal(linkPath, error)
                                       : SerialLine::openDevice(options->device, error);
        if (!line) {
            std::fprintf(stderr, "matrix-switcher-sim: %s\n", error.c_str());
            return 1;
        }
    }

    // One switcher, whichever way a command arrives.
    SwitcherState state;
    ReplyFaults faults = options->faults;
    SessionOptions sessionOptions = options->session;
    sessionOptions.faults = &faults;
    Session session(sessionOptions, &state);
    std::unique_ptr<TcpServer> tcp;
    if (options->listen) {
        TcpServer::Hooks hooks{[&log](const std::string& text) { log.write("info", text, false); },
                               [&log](const Exchange& exchange) { logExchange(log, exchange); }};
        tcp = TcpServer::open(*options->listen, sessionOptions, state, std::move(hooks), error);
        if (!tcp) {
            std::fprintf(stderr, "matrix-switcher-sim: %s\n", error.c_str());
            return 1;
        }
    }
    std::unique_ptr<ControlInput> control;
    std::optional<Panel> panel;
    if (!options->control.empty()) {
        control = ControlInput::open(options->control, error);
        if (!control) {
            std::fprintf(stderr, "matrix-switcher-sim: %s\n", error.c_str());
            return 1;
        }
        panel.emplace(Panel{*control, state, faults});
    }
    // Announced only once every way in is open.
    if (line) {
        log.write("info", "ready " + line->path(), false);
        std::printf("ready %s\n", line->path().c_str());
    }
    if (tcp) {
        log.write("info", "ready tcp " + tcp->address(), false);
        std::printf("ready tcp %s\n", tcp->address().c_str());
    }
    std::fflush(stdout);

    const int status = serve(line.get(), session, tcp.get(), panel ? &*panel : nullptr, log, waitMask);
    tcp.reset();
    if (line) {
        line->close();
    }
    if (gStopSignal != 0) {
        log.write("info",
                  std::string("stopped by ") + (gStopSignal == SIGINT    ? "SIGINT"
                                                : gStopSignal == SIGTERM ? "SIGTERM"
                                                                         : "SIGHUP"),
                  false);
    }
    return status;
}

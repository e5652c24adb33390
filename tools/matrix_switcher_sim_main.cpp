// matrix-switcher-sim: plays the 16x16 HDMI matrix switcher on the far end of
// a serial line and/or TCP connections, for the demo, the end-to-end tests
// and bench tests. The switcher itself lives in mc_sim; this file only moves
// bytes and logs them.
#include "sim/control_input.h"
#include "sim/front_panel.h"
#include "sim/log_format.h"
#include "sim/log_writer.h"
#include "sim/options.h"
#include "sim/serial_line.h"
#include "sim/serial_service.h"
#include "sim/session.h"
#include "sim/tcp_server.h"
#include "version.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace mc::sim;
using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void onStopSignal(int signal) {
    gStopSignal = signal;
}

timespec toTimespec(std::chrono::milliseconds ms) {
    return {static_cast<std::time_t>(ms.count() / 1000), static_cast<long>((ms.count() % 1000) * 1000000)};
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

// Everything the main loop serves; any of the pointers may be null.
struct Services {
    SerialService* serial;
    TcpServer* tcp;
    Panel* panel;
    LogWriter& log;
};

std::optional<Clock::time_point> earliest(std::optional<Clock::time_point> a, std::optional<Clock::time_point> b) {
    if (!a || (b && *b < *a)) {
        return b;
    }
    return a;
}

// Serves the serial line (if any), the TCP clients (if any), the front panel
// (if any) and the log until a stop signal, a hang-up of hangup mode (on TCP:
// only without a serial line) or a dead device. Returns the exit status.
// The single ppoll here is the only place the program waits (besides the
// hang-up's bounded wait, which the stop signals also end), so a stop
// request ends it at once whatever the clients, the console or the log's
// reader do.
int serve(Services services, const sigset_t& waitMask) {
    const SerialLine::Pause pause = [&waitMask](std::chrono::milliseconds time) {
        const timespec ts = toTimespec(time);
        ::ppoll(nullptr, 0, &ts, &waitMask);
        return gStopSignal == 0;
    };
    std::vector<pollfd> fds;
    while (gStopSignal == 0) {
        const auto now = Clock::now();
        std::optional<Clock::time_point> deadline;
        fds.clear();
        // Everything logged so far goes out before the wait (or waits for
        // the log to take it).
        services.log.flush();
        fds.push_back({services.log.pollFd(), POLLOUT, 0});
        // The control line comes before the lines: a change made before a
        // command arrived is in the state that answers it.
        fds.push_back({services.panel != nullptr ? services.panel->input.fd() : -1, POLLIN, 0});
        constexpr std::size_t kSerialAt = 2;
        if (services.serial != nullptr) {
            services.serial->addPollFds(fds, now);
            deadline = services.serial->nextDeadline();
        } else {
            fds.push_back({-1, 0, 0});
            fds.push_back({-1, 0, 0});
        }
        const std::size_t tcpAt = fds.size();
        if (services.tcp != nullptr) {
            services.tcp->addPollFds(fds, now);
            deadline = earliest(deadline, services.tcp->nextDeadline());
        }
        if (!waitForAny(fds, deadline, waitMask)) {
            break;
        }
        if (fds[0].revents != 0) {
            services.log.flush();
        }
        if (services.panel != nullptr && fds[1].revents != 0) {
            serveControl(*services.panel, services.log);
        }
        if (services.serial != nullptr) {
            const auto status = services.serial->handle(std::span(fds).subspan(kSerialAt, 2), Clock::now(), pause);
            if (status) {
                return *status;
            }
        }
        if (services.tcp != nullptr) {
            services.tcp->handle(std::span(fds).subspan(tcpAt), Clock::now());
            if (services.serial == nullptr && services.tcp->hungUp()) {
                services.log.write("info", "hung up: no serial line to serve, ending", false);
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

    const auto log = LogWriter::open(options->logFile, error);
    if (!log) {
        std::fprintf(stderr, "matrix-switcher-sim: %s\n", error.c_str());
        return 1;
    }

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
    // Written out before the peer can see what they record (a reply, a
    // closed connection): whoever sees it finds it in the log already.
    const LineHooks hooks{[&log](const std::string& text) {
                              log->write("info", text, false);
                              log->flush();
                          },
                          [&log](const Exchange& exchange) {
                              logExchange(*log, exchange);
                              log->flush();
                          }};
    Session session(sessionOptions, &state);
    std::unique_ptr<TcpServer> tcp;
    if (options->listen) {
        tcp = TcpServer::open(*options->listen, sessionOptions, state, hooks, error);
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
    std::optional<SerialService> serial;
    if (line) {
        serial.emplace(*line, session, hooks);
    }
    // Announced only once every way in is open (and in the log before that).
    if (line) {
        log->write("info", "ready " + line->path(), false);
    }
    if (tcp) {
        log->write("info", "ready tcp " + tcp->address(), false);
    }
    log->flush();
    if (line) {
        std::printf("ready %s\n", line->path().c_str());
    }
    if (tcp) {
        std::printf("ready tcp %s\n", tcp->address().c_str());
    }
    std::fflush(stdout);

    const int status = serve({serial ? &*serial : nullptr, tcp.get(), panel ? &*panel : nullptr, *log}, waitMask);
    serial.reset();
    tcp.reset();
    if (line) {
        line->close();
    }
    if (gStopSignal != 0) {
        log->write("info",
                   std::string("stopped by ") + (gStopSignal == SIGINT    ? "SIGINT"
                                                 : gStopSignal == SIGTERM ? "SIGTERM"
                                                                          : "SIGHUP"),
                   false);
    }
    return status;
}

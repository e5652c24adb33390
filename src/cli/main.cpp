// matrix-ctl: the switcher's commands from a shell. Parses the whole command
// line first, opens the link, sends one command and waits for the switcher
// to confirm it. See docs/matrix-ctl.1.
#include "cli_options.h"
#include "ctl_commands.h"
#include "serial_link.h"
#include "version.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace {

using namespace mc::ctl;

#ifdef _WIN32
// The C runtime calls it on a thread of its own, not inside another's code,
// so it may wake the waits as any thread does.
extern "C" void onStopSignal(int /*signal*/) {
    requestInterrupt();
}
#endif

#ifdef _WIN32
void installSignals() {
    // The C runtime turns Ctrl+C into SIGINT (on a thread of its own).
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}
#else
// SIGINT and SIGTERM are taken by a thread of their own rather than a
// handler: an interrupt then wakes the waits it ends (which a handler may not
// do), so no wait needs a clock to notice one. A second stop signal ends the
// program at once, even one stuck writing to a reader that does not read.
void watchStopSignals(sigset_t stops) {
    int number = 0;
    while (sigwait(&stops, &number) != 0) {
    }
    requestInterrupt();
    while (sigwait(&stops, &number) != 0) {
    }
    std::signal(number, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    std::raise(number);
}

void installSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    // Before any other thread starts, so that every one inherits the mask.
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread(watchStopSignals, stops).detach();
    // A closed standard output ends the program through the failed write
    // (see writeOutput), not SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
}
#endif

void write(std::FILE* to, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), to);
}

// The reason the first write to standard output failed (errno), 0 while none
// has: every later write is skipped and the command ends.
int outputFailure = 0;

// Writes and flushes standard output; false once it cannot be written.
bool writeOutput(std::string_view text) {
    if (outputFailure != 0) {
        return false;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        outputFailure = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

// The address to use: --link, else $MATRIX_CTL_LINK. An error text when
// neither gives a usable one.
std::optional<mc::LinkAddress> resolveLink(const Invocation& inv, std::string& error) {
    if (inv.link) {
        return inv.link;
    }
    const char* fromEnvironment = std::getenv(kLinkVariable);
    if (fromEnvironment == nullptr || *fromEnvironment == '\0') {
        error = "no link given: use --link COM3 (or a device path, or HOST:PORT), or set " + std::string(kLinkVariable);
        return std::nullopt;
    }
    auto parsed = mc::parseLinkAddress(fromEnvironment);
    if (auto* bad = std::get_if<mc::LinkAddressError>(&parsed)) {
        error = std::string(kLinkVariable) + ": " + bad->message;
        return std::nullopt;
    }
    return std::get<mc::LinkAddress>(parsed);
}

// Opens the link an address names; nullptr with error when it cannot.
std::unique_ptr<LineLink> openLink(const mc::LinkAddress& address, std::string& error) {
    if (const auto* tcp = std::get_if<mc::TcpLinkAddress>(&address)) {
        auto link = std::make_unique<SerialLink>();
        if (!link->openNetwork(*tcp)) {
            error = link->error();
            return nullptr;
        }
        return link;
    }
    const auto& serial = std::get<mc::SerialLinkAddress>(address);
    int comPort = serial.comPort;
    if (comPort == 0) {
#ifdef _WIN32
        error = serial.devicePath + ": not a port name here; use COM1 to COM99";
        return nullptr;
#else
        // The COMn name when the device has one, else the path itself.
        const auto found = comPortOfDevice(serial.devicePath);
        if (!found) {
            auto link = std::make_unique<SerialLink>();
            if (!link->openDevice(serial.devicePath)) {
                error = link->error();
                return nullptr;
            }
            return link;
        }
        comPort = *found;
#endif
    }
    auto link = std::make_unique<SerialLink>();
    if (!link->open(comPort)) {
        error = link->error();
        return nullptr;
    }
    return link;
}

int finish(const Invocation& inv, const Outcome& outcome, std::string_view linkName) {
    if (inv.json) {
        if (inv.command != Command::Monitor || outcome.exit != kExitOk) {
            writeOutput(jsonDocument(inv, outcome, linkName).dump() + "\n");
        }
    } else if (!inv.quiet) {
        writeOutput(outcome.text);
    }
    write(stderr, outcome.diagnostics);
    if (!outcome.error.empty()) {
        write(stderr, "matrix-ctl: " + outcome.error + "\n");
    }
    if (outputFailure != 0) {
        // A reader that went away (`| head -1`) needs no message; the
        // command itself may have taken effect all the same.
        if (outputFailure != EPIPE) {
            write(stderr, "matrix-ctl: cannot write the output: " + std::string(std::strerror(outputFailure)) + "\n");
        }
        return outcome.exit == kExitOk ? kExitLink : outcome.exit;
    }
    return outcome.exit;
}

} // namespace

int main(int argc, char* argv[]) {
#ifdef _WIN32
    // The same bytes as on Linux: lines end in LF, not in the text mode's
    // CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = parseCommandLine(args);
    switch (parsed.outcome) {
    case ParseResult::Version:
        write(stdout, "matrix-ctl " + std::string(mc::kVersion) + "\n");
        return kExitOk;
    case ParseResult::Help:
        write(stdout, parsed.text);
        return kExitOk;
    case ParseResult::Error:
        // --json asks for a document even when the rest of the line is refused.
        if (std::find(args.begin(), std::find(args.begin(), args.end(), "--"), "--json") !=
            std::find(args.begin(), args.end(), "--")) {
            writeOutput(usageErrorDocument(parsed.command, parsed.message).dump() + "\n");
        }
        write(stderr, parsed.text);
        return kExitUsage;
    case ParseResult::Run:
        break;
    }
    const Invocation& inv = parsed.invocation;
    installSignals();

    Environment env;
    env.openCom = [](int comPort, OpenFailure& failure) -> std::unique_ptr<LineLink> {
        auto link = std::make_unique<SerialLink>();
        if (!link->open(comPort)) {
            failure = {link->error(), link->refusal()};
            return nullptr;
        }
        return link;
    };
    env.stream = writeOutput;
#ifdef _WIN32
    const bool errorsToTerminal = _isatty(_fileno(stderr)) != 0;
#else
    const bool errorsToTerminal = ::isatty(STDERR_FILENO) != 0;
#endif
    if (errorsToTerminal) {
        env.notice = [](std::string_view text) {
            write(stderr, text);
            return true;
        };
    }

    std::unique_ptr<LineLink> link;
    std::string linkName;
    if (needsLink(inv.command)) {
        std::string error;
        const auto address = resolveLink(inv, error);
        if (!address) {
            return finish(inv, Outcome{kExitUsage, {}, Json::object(), error}, {});
        }
        link = openLink(*address, error);
        if (!link) {
            return finish(inv, Outcome{kExitLink, {}, Json::object(), error}, mc::formatLinkAddress(*address));
        }
        linkName = link->name();
        env.link = link.get();
    }
    const Outcome outcome = runCommand(inv, env);
    return finish(inv, outcome, linkName);
}

#include "sim/options.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace mc::sim {

namespace {

constexpr std::string_view kUsage =
    "usage: matrix-switcher-sim (--ports DIR --com N | --device PATH) [--listen HOST:PORT] [--log FILE]\n"
    "                           [--mode normal|silent|garbage|hangup] [--hangup-after N]\n"
    "                           [--control PATH|-] [--unanswered-output N]...\n"
    "       matrix-switcher-sim --listen HOST:PORT [--log FILE] [--mode MODE] [--hangup-after N]\n"
    "\n"
    "Plays a 16x16 HDMI matrix switcher on a serial line, on TCP, or both (one switcher).\n"
    "  --ports DIR --com N  create a pseudo-terminal and link it as DIR/comN (N 1..99)\n"
    "  --device PATH        use a real serial device instead (raw 8N1, 57600 baud)\n"
    "  --listen HOST:PORT   take TCP connections (IPv4 literal, localhost or [IPv6]);\n"
    "                       port 0 picks a free one, printed as \"ready tcp HOST:PORT\"\n"
    "  --log FILE           append the log to FILE (default: standard error)\n"
    "  --mode MODE          normal: answer every command; silent: never answer;\n"
    "                       garbage: answer noise without line feeds;\n"
    "                       hangup: answer, then drop the line (see --hangup-after)\n"
    "  --hangup-after N     drop the line once N bytes were received (implies hangup;\n"
    "                       0, the default, drops it at the first byte); on TCP per\n"
    "                       client, and without a serial line the program then ends\n"
    "  --control PATH       take front-panel changes from the FIFO PATH (made when\n"
    "                       missing) or from standard input (-), one a line:\n"
    "                       route OUT IN, audio OUT on|off, unanswered OUT, answered OUT\n"
    "  --unanswered-output N  route commands to output N get no answer (repeatable)\n"
    "  --version            print the version and exit\n"
    "Prints \"ready PATH\" once the line can be opened; SIGINT or SIGTERM removes the link.\n";

struct ModeName {
    std::string_view name;
    Mode mode;
};

constexpr ModeName kModes[] = {
    {"normal", Mode::normal}, {"silent", Mode::silent}, {"garbage", Mode::garbage}, {"hangup", Mode::hangup}};

template <typename Number> bool readNumber(std::string_view text, Number& value) {
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

} // namespace

std::string_view usageText() {
    return kUsage;
}

std::optional<Options> parseOptions(std::span<const std::string_view> args, std::string& error) {
    Options options;
    std::optional<Mode> mode;
    std::optional<std::uint64_t> hangupAfter;
    bool comGiven = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> inlineValue;
        if (const auto equals = name.find('='); name.starts_with("--") && equals != std::string_view::npos) {
            inlineValue = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            return options;
        }
        if (name == "--version") {
            options.version = true;
            return options;
        }
        const bool known = name == "--ports" || name == "--com" || name == "--device" || name == "--log" ||
                           name == "--mode" || name == "--hangup-after" || name == "--listen" || name == "--control" ||
                           name == "--unanswered-output";
        if (!known) {
            error = "unknown option " + std::string(name);
            return std::nullopt;
        }
        if (!inlineValue && i + 1 >= args.size()) {
            error = std::string(name) + " needs a value";
            return std::nullopt;
        }
        const std::string_view value = inlineValue ? *inlineValue : args[++i];

        if (name == "--ports") {
            options.portsDir = value;
        } else if (name == "--com") {
            if (!readNumber(value, options.com) || options.com < 1 || options.com > kMaxComPort) {
                error = "--com takes a port number from 1 to 99";
                return std::nullopt;
            }
            comGiven = true;
        } else if (name == "--device") {
            options.device = value;
        } else if (name == "--listen") {
            options.listen = parseListenAddress(value, error);
            if (!options.listen) {
                return std::nullopt;
            }
        } else if (name == "--log") {
            options.logFile = value;
        } else if (name == "--control") {
            if (value.empty()) {
                error = "--control takes a FIFO path or - for standard input";
                return std::nullopt;
            }
            options.control = value;
        } else if (name == "--unanswered-output") {
            int output = 0;
            if (!readNumber(value, output) || output < 1 || output > kPortCount) {
                error = "--unanswered-output takes an output number from 1 to 16";
                return std::nullopt;
            }
            options.faults.unansweredRoutes.at(output - 1) = true;
        } else if (name == "--mode") {
            const auto* found = std::find_if(std::begin(kModes), std::end(kModes),
                                             [value](const ModeName& m) { return m.name == value; });
            if (found == std::end(kModes)) {
                error = "--mode takes normal, silent, garbage or hangup";
                return std::nullopt;
            }
            mode = found->mode;
        } else {
            std::uint64_t count = 0;
            if (!readNumber(value, count)) {
                error = "--hangup-after takes a byte count";
                return std::nullopt;
            }
            hangupAfter = count;
        }
    }

    const bool pty = !options.portsDir.empty() || comGiven;
    if (pty && !options.device.empty()) {
        error = "give either --ports DIR --com N or --device PATH";
        return std::nullopt;
    }
    if (!pty && options.device.empty() && !options.listen) {
        error = "give --ports DIR --com N, --device PATH or --listen HOST:PORT";
        return std::nullopt;
    }
    if (pty && (options.portsDir.empty() || !comGiven)) {
        error = "--ports and --com go together";
        return std::nullopt;
    }
    if (hangupAfter && mode && *mode != Mode::hangup) {
        error = "--hangup-after goes with --mode hangup only";
        return std::nullopt;
    }
    options.session.mode = hangupAfter ? Mode::hangup : mode.value_or(Mode::normal);
    options.session.hangupAfter = hangupAfter.value_or(0);
    return options;
}

} // namespace mc::sim

#include "cli_options.h"

#include "edid/edid_choices.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace mc::ctl {
namespace {

constexpr std::string_view kUsage =
    "usage: matrix-ctl [--link ADDRESS] [--timeout MS] [--json] [--quiet] COMMAND [ARGS]";

struct CommandHelp {
    Command command;
    std::string_view name;
    std::string_view synopsis;
    std::string_view description;
};

constexpr std::array kCommands = {
    CommandHelp{Command::Status, "status", "status",
                "Routes, EDID choices, network settings and audio states, as one 16-row table."},
    CommandHelp{Command::Route, "route", "route OUTPUT INPUT",
                "Shows INPUT on OUTPUT (both 1 to 16) and waits for the switcher to confirm it."},
    CommandHelp{Command::Audio, "audio", "audio OUTPUT on|mute",
                "Switches the de-embedded audio of OUTPUT (1 to 16) on or mutes it."},
    CommandHelp{Command::EdidSet, "edid set", "edid set INPUT ITEM",
                "Chooses the EDID INPUT presents: ITEM by number (1 to 49, as edid list shows\n"
                "them) or by its name, e.g. \"4K60HZ_3D_2CH_HDR\", \"4k60hz_3d_2ch_hdr\" or \"From Out3\"."},
    CommandHelp{Command::EdidList, "edid list", "edid list",
                "Lists the EDID choices by number and name, as edid set and edid read take them.\n"
                "A name may be typed in any case and with any run of blanks for a blank, or\n"
                "none, where that leaves one choice. Needs no link."},
    CommandHelp{Command::EdidCopy, "edid copy", "edid copy INPUT OUTPUT",
                "INPUT presents the EDID of the display on OUTPUT (the \"From OutN\" choice)."},
    CommandHelp{Command::EdidRead, "edid read", "edid read out N|in N [ITEM] -o FILE [--force]",
                "Reads an EDID back from output N, or from input N (its EDID source ITEM 1 to 33,\n"
                "default the input's current choice), writes the 256 bytes to FILE and prints the\n"
                "summary. An existing FILE is kept unless --force; a failed write leaves no file.\n"
                "What the EDID check finds in it is printed on standard error."},
    CommandHelp{Command::EdidWrite, "edid write", "edid write INPUT SLOT FILE [--pad] [--force]",
                "Uploads FILE into user slot SLOT (1 to 3) of INPUT. FILE must be 128 or 256 bytes\n"
                "long; --pad fills a shorter file up to 256 bytes with 0xFF. The EDID is checked\n"
                "first: a file with errors is refused (nothing sent) unless --force."},
    CommandHelp{Command::EdidDecode, "edid decode", "edid decode FILE...",
                "Prints the video, audio and general reports and the summary of each EDID file.\n"
                "Needs no link."},
    CommandHelp{Command::NetShow, "net show", "net show", "The switcher's network settings."},
    CommandHelp{Command::NetSet, "net set",
                "net set [--dhcp on|off] [--host A] [--mask M] [--router R] [--tcp-port P] [--mac M]",
                "Changes the given network settings; the others keep the values the switcher\n"
                "reports first. Addresses are dotted decimal, P is 1 to 9999, M six hex octets."},
    CommandHelp{Command::Search, "search", "search",
                "Probes COM1 to COM99 as the console does and prints the first port on which a\n"
                "switcher answers. Ignores --link."},
    CommandHelp{Command::Send, "send", "send TEXT...",
                "Sends TEXT (its words joined by single blanks) as one command line (CR LF\n"
                "before and after) and prints the reply lines until the line is quiet; a reply\n"
                "holding ERROR is a refusal (exit status 4)."},
    CommandHelp{Command::Monitor, "monitor", "monitor",
                "Prints every line received, with a time stamp, until interrupted."},
};

const CommandHelp& helpOf(Command command) {
    return *std::find_if(kCommands.begin(), kCommands.end(),
                         [command](const CommandHelp& h) { return h.command == command; });
}

std::string commandHelp(Command command) {
    const CommandHelp& h = helpOf(command);
    std::string text = "usage: matrix-ctl [OPTIONS] ";
    text.append(h.synopsis);
    text.append("\n\n");
    text.append(h.description);
    text.append("\n");
    return text;
}

std::string usageLine(std::optional<Command> command) {
    if (command) {
        return "usage: matrix-ctl [OPTIONS] " + std::string(helpOf(*command).synopsis);
    }
    return std::string(kUsage);
}

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<int> parseBounded(std::string_view text, int first, int last) {
    if (!allDigits(text) || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value < first || value > last) {
        return std::nullopt;
    }
    return value;
}

std::string_view trimTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

// Reads the words of one command; every failure is a message naming it.
class Parser {
public:
    Parser(std::vector<std::string> words, Command command) : words_(std::move(words)), command_(command) {}

    [[nodiscard]] bool done() const { return next_ >= words_.size(); }
    std::optional<std::string> take(std::string_view what) {
        if (done()) {
            fail("missing " + std::string(what));
            return std::nullopt;
        }
        return words_[next_++];
    }
    std::optional<int> port(std::string_view what) {
        const auto word = take(what);
        if (!word) {
            return std::nullopt;
        }
        const auto value = parsePortNumber(*word);
        if (!value) {
            fail(std::string(what) + " must be 1 to 16, not \"" + *word + "\"");
        }
        return value;
    }
    void fail(std::string message) {
        if (error_.empty()) {
            error_ = std::string(commandName(command_)) + ": " + std::move(message);
        }
    }
    bool expectEnd() {
        if (!done() && error_.empty()) {
            fail("unexpected argument \"" + words_[next_] + "\"");
        }
        return error_.empty();
    }
    [[nodiscard]] const std::string& error() const { return error_; }
    [[nodiscard]] bool ok() const { return error_.empty(); }

private:
    std::vector<std::string> words_;
    std::size_t next_ = 0;
    Command command_;
    std::string error_;
};

void parseNetSet(Parser& p, NetChanges& net) {
    bool any = false;
    while (p.ok() && !p.done()) {
        const auto option = p.take("option");
        auto value = [&](std::string_view what) { return p.take(std::string(what) + " after " + *option); };
        auto address = [&](std::optional<Ipv4Address>& into) {
            if (const auto text = value("an address")) {
                into = parseIpv4(*text);
                if (!into) {
                    p.fail(*option + " needs a dotted address like 192.168.0.100, not \"" + *text + "\"");
                }
            }
        };
        if (*option == "--dhcp") {
            if (const auto text = value("on or off")) {
                if (*text == "on" || *text == "off") {
                    net.dhcp = *text == "on";
                } else {
                    p.fail("--dhcp takes on or off, not \"" + *text + "\"");
                }
            }
        } else if (*option == "--host") {
            address(net.host);
        } else if (*option == "--mask") {
            address(net.mask);
        } else if (*option == "--router") {
            address(net.router);
        } else if (*option == "--tcp-port") {
            if (const auto text = value("a port")) {
                if (parseBounded(*text, 1, 9999) && text->size() <= kTcpPortTextMaxLength) {
                    net.tcpPort = *text;
                } else {
                    p.fail("--tcp-port must be 1 to 9999 in at most four digits, not \"" + *text + "\"");
                }
            }
        } else if (*option == "--mac") {
            if (const auto text = value("a MAC address")) {
                net.mac = normaliseMac(*text);
                if (!net.mac) {
                    p.fail("--mac needs six hex octets like 00:1A:2B:3C:4D:5E, not \"" + *text + "\"");
                }
            }
        } else {
            p.fail("unknown option \"" + *option + "\"");
        }
        any = true;
    }
    if (p.ok() && !any) {
        p.fail("give at least one setting to change");
    }
    if (p.ok() && net.dhcp == std::optional<bool>(true) && (net.host || net.mask || net.router)) {
        p.fail("--host, --mask and --router are sent only with DHCP off");
    }
}

void parseEdidRead(Parser& p, Invocation& inv) {
    const auto kind = p.take("out or in");
    if (!kind) {
        return;
    }
    if (*kind != "out" && *kind != "in") {
        p.fail(R"(the port is "out N" or "in N", not ")" + *kind + "\"");
        return;
    }
    inv.readOutput = *kind == "out";
    const auto port = p.port(inv.readOutput ? "the output" : "the input");
    if (!port) {
        return;
    }
    inv.readPort = *port;
    while (p.ok() && !p.done()) {
        const auto word = p.take("argument");
        if (*word == "-o" || *word == "--output") {
            if (const auto file = p.take("FILE after -o")) {
                inv.file = *file;
            }
        } else if (*word == "--force") {
            inv.force = true;
        } else if (!inv.readOutput && !inv.readSource && (*word).rfind("-", 0) != 0) {
            inv.readSource = parseEdidItem(*word, kLastEdidSourceIndex);
            if (!inv.readSource) {
                p.fail("ITEM must be an EDID source 1 to 33 or its name (see edid list), not \"" + *word + "\"");
            }
        } else {
            p.fail("unexpected argument \"" + *word + "\"");
        }
    }
    if (p.ok() && inv.file.empty()) {
        p.fail("missing -o FILE");
    }
}

void parseEdidWrite(Parser& p, Invocation& inv) {
    std::vector<std::string> positional;
    while (p.ok() && !p.done()) {
        const auto word = p.take("argument");
        if (*word == "--pad") {
            inv.pad = true;
        } else if (*word == "--force") {
            inv.force = true;
        } else {
            positional.push_back(*word);
        }
    }
    if (!p.ok()) {
        return;
    }
    if (positional.size() < 3) {
        p.fail(positional.empty() ? "missing INPUT" : positional.size() == 1 ? "missing SLOT" : "missing FILE");
        return;
    }
    if (positional.size() > 3) {
        p.fail("unexpected argument \"" + positional[3] + "\"");
        return;
    }
    const auto input = parsePortNumber(positional[0]);
    const auto slot = parseBounded(positional[1], kFirstUserSlot, kLastUserSlot);
    if (!input) {
        p.fail("INPUT must be 1 to 16, not \"" + positional[0] + "\"");
    } else if (!slot) {
        p.fail("SLOT must be 1 to 3, not \"" + positional[1] + "\"");
    } else {
        inv.input = *input;
        inv.slot = *slot;
        inv.file = positional[2];
    }
}

void parseCommand(Parser& p, Invocation& inv) {
    switch (inv.command) {
    case Command::Status:
    case Command::NetShow:
    case Command::Search:
    case Command::Monitor:
    case Command::EdidList:
        break;
    case Command::Route:
        if (const auto out = p.port("OUTPUT")) {
            inv.output = *out;
            if (const auto in = p.port("INPUT")) {
                inv.input = *in;
            }
        }
        break;
    case Command::Audio:
        if (const auto out = p.port("OUTPUT")) {
            inv.output = *out;
            if (const auto state = p.take("on or mute")) {
                if (*state == "on" || *state == "mute") {
                    inv.audio = *state == "on" ? AudioState::On : AudioState::Mute;
                } else {
                    p.fail("the audio state is on or mute, not \"" + *state + "\"");
                }
            }
        }
        break;
    case Command::EdidSet:
        if (const auto in = p.port("INPUT")) {
            inv.input = *in;
            if (const auto item = p.take("ITEM")) {
                if (const auto choice = parseEdidItem(*item, kLastEdidChoice)) {
                    inv.item = *choice;
                } else {
                    p.fail("ITEM must be 1 to 49 or a name edid list shows, not \"" + *item + "\"");
                }
            }
        }
        break;
    case Command::EdidCopy:
        if (const auto in = p.port("INPUT")) {
            inv.input = *in;
            if (const auto out = p.port("OUTPUT")) {
                inv.output = *out;
            }
        }
        break;
    case Command::EdidRead:
        parseEdidRead(p, inv);
        return;
    case Command::EdidWrite:
        parseEdidWrite(p, inv);
        return;
    case Command::EdidDecode:
        while (!p.done()) {
            inv.files.push_back(*p.take("FILE"));
        }
        if (inv.files.empty()) {
            p.fail("missing FILE");
        }
        return;
    case Command::NetSet:
        parseNetSet(p, inv.net);
        return;
    case Command::Send:
        if (const auto text = p.take("TEXT")) {
            // `send GET STA` as `send "GET STA"`: the words joined by single blanks.
            inv.text = *text;
            while (!p.done()) {
                inv.text += ' ' + *p.take("TEXT");
            }
            if (inv.text.empty()) {
                p.fail("TEXT is empty");
            } else if (inv.text.find_first_of("\r\n") != std::string::npos) {
                p.fail("TEXT must be one line: no CR or LF");
            } else if (inv.text.size() + 4 > kWriteBufferSize) {
                p.fail("TEXT is longer than " + std::to_string(kWriteBufferSize - 4) + " bytes");
            }
        }
        break;
    }
    p.expectEnd();
}

// "edid" and "net" take a subcommand word.
std::optional<Command> commandOf(std::string_view first, std::string_view second, bool& usedSecond) {
    usedSecond = false;
    for (const CommandHelp& h : kCommands) {
        const std::size_t blank = h.name.find(' ');
        if (blank == std::string_view::npos) {
            if (h.name == first) {
                return h.command;
            }
        } else if (h.name.substr(0, blank) == first && h.name.substr(blank + 1) == second) {
            usedSecond = true;
            return h.command;
        }
    }
    return std::nullopt;
}

ParseResult error(std::string message, std::optional<Command> command) {
    ParseResult result;
    result.outcome = ParseResult::Error;
    result.text = "matrix-ctl: " + message + "\n" + usageLine(command) + "\n";
    result.message = std::move(message);
    result.command = command;
    return result;
}

} // namespace

bool needsLink(Command command) {
    return command != Command::EdidDecode && command != Command::EdidList && command != Command::Search;
}

std::string_view commandName(Command command) {
    return helpOf(command).name;
}

std::optional<int> parsePortNumber(std::string_view text) {
    return parseBounded(text, kFirstPort, kLastPort);
}

std::optional<Ipv4Address> parseIpv4(std::string_view text) {
    Ipv4Address address;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t dot = text.find('.');
        if ((i < 3) == (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const std::string_view part = text.substr(0, dot);
        const auto value = part.size() <= 3 ? parseBounded(part, 0, 255) : std::nullopt;
        if (!value) {
            return std::nullopt;
        }
        address.octets.at(i) = static_cast<std::uint8_t>(*value);
        text = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    }
    return address;
}

std::string dottedDecimal(const Ipv4Address& address) {
    std::string text;
    for (std::size_t i = 0; i < address.octets.size(); ++i) {
        if (i > 0) {
            text.push_back('.');
        }
        text.append(std::to_string(address.octets.at(i)));
    }
    return text;
}

std::optional<std::string> normaliseMac(std::string_view text) {
    std::string hex;
    char separator = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            hex.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
            continue;
        }
        // One kind of separator, only between octets.
        if ((c != ':' && c != '-') || (separator != 0 && c != separator) || hex.size() % 2 != 0 || hex.empty()) {
            return std::nullopt;
        }
        separator = c;
        if (i + 1 < text.size() && (text[i + 1] == ':' || text[i + 1] == '-')) {
            return std::nullopt;
        }
    }
    const std::size_t separators =
        separator == 0 ? 0 : static_cast<std::size_t>(std::count(text.begin(), text.end(), separator));
    if (hex.size() != 12 || (separators != 0 && separators != 5) || (!text.empty() && text.back() == separator)) {
        return std::nullopt;
    }
    std::string mac;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        if (i > 0) {
            mac.push_back(':');
        }
        mac.append(hex, i, 2);
    }
    return mac;
}

std::optional<int> parseEdidItem(std::string_view text, int lastChoice) {
    if (allDigits(text)) {
        if (const auto number = parseBounded(text, 1, lastChoice + 1)) {
            return *number - 1;
        }
        return std::nullopt;
    }
    return matchItemName(std::span(kInputEdidItems).first(static_cast<std::size_t>(lastChoice) + 1), text);
}

namespace {

// A name as a person may type it: lower case, and each run of blanks one
// blank (or none) with none at either end.
std::string foldName(std::string_view name, bool keepBlanks) {
    std::string folded;
    bool blank = false;
    for (const char c : name) {
        if (c == ' ' || c == '\t') {
            blank = true;
            continue;
        }
        if (blank && keepBlanks && !folded.empty()) {
            folded.push_back(' ');
        }
        blank = false;
        folded.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return folded;
}

} // namespace

std::optional<int> matchItemName(std::span<const std::string_view> names, std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == text || trimTrailingBlanks(names[i]) == text) {
            return static_cast<int>(i);
        }
    }
    for (const bool keepBlanks : {true, false}) {
        const std::string wanted = foldName(text, keepBlanks);
        std::optional<int> found;
        int matches = 0;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (foldName(names[i], keepBlanks) == wanted) {
                found = static_cast<int>(i);
                ++matches;
            }
        }
        if (matches > 0) {
            return matches == 1 ? found : std::nullopt;
        }
    }
    return std::nullopt;
}

std::string toolHelp() {
    std::string text(kUsage);
    text.append("\n\nDrives the 16x16 HDMI matrix switcher from scripts, over a COM port.\n\nOptions:\n"
                "  --link ADDRESS  COM3, a device path such as /dev/ttyUSB0, or HOST:PORT\n"
                "                  (default: $MATRIX_CTL_LINK)\n"
                "  --timeout MS    how long to wait for the switcher's confirmation (default 2000)\n"
                "  --json          print one JSON document (see docs/matrix-ctl-json.md)\n"
                "  --quiet         print nothing on success\n"
                "  --help          this text; COMMAND --help for a command\n"
                "  --version       the program's version\n\nCommands:\n");
    for (const CommandHelp& h : kCommands) {
        text.append("  ");
        text.append(h.synopsis);
        text.append("\n");
    }
    text.append("\nExit status: 0 ok, 1 link or file error (also when the output cannot be written,\n"
                "though the command took effect), 2 usage, 3 no confirmation in time,\n"
                "4 the confirmation disagrees with what was asked.\n");
    return text;
}

ParseResult parseCommandLine(const std::vector<std::string>& args) {
    Invocation inv;
    std::vector<std::string> words; // the command and its own arguments
    bool help = false;
    bool endOfOptions = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (endOfOptions) {
            words.push_back(arg);
            continue;
        }
        // Global options may stand anywhere; "--" ends them (send "--x").
        auto value = [&](std::string_view option) -> std::optional<std::string> {
            const std::string prefix = std::string(option) + "=";
            if (arg.rfind(prefix, 0) == 0) {
                return arg.substr(prefix.size());
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        auto is = [&](std::string_view option) {
            return arg == option || arg.rfind(std::string(option) + "=", 0) == 0;
        };
        if (arg == "--") {
            endOfOptions = true;
        } else if (is("--link")) {
            const auto text = value("--link");
            if (!text) {
                return error("--link needs an ADDRESS", std::nullopt);
            }
            auto parsed = parseLinkAddress(*text);
            if (auto* bad = std::get_if<LinkAddressError>(&parsed)) {
                return error(bad->message, std::nullopt);
            }
            inv.link = std::get<LinkAddress>(parsed);
        } else if (is("--timeout")) {
            const auto text = value("--timeout");
            const auto ms = text ? parseBounded(*text, 1, kMaxTimeoutMs) : std::nullopt;
            if (!ms) {
                return error("--timeout needs milliseconds 1 to " + std::to_string(kMaxTimeoutMs) +
                                 (text ? ", not \"" + *text + "\"" : std::string()),
                             std::nullopt);
            }
            inv.timeoutMs = *ms;
        } else if (arg == "--json") {
            inv.json = true;
        } else if (arg == "--quiet" || arg == "-q") {
            inv.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version") {
            ParseResult result;
            result.outcome = ParseResult::Version;
            return result;
        } else {
            words.push_back(arg);
        }
    }
    if (words.empty()) {
        if (help) {
            return {ParseResult::Help, inv, toolHelp(), {}, std::nullopt};
        }
        return error("no COMMAND given", std::nullopt);
    }
    if (words.front() == "help") {
        if (words.size() == 1) {
            return {ParseResult::Help, inv, toolHelp(), {}, std::nullopt};
        }
        bool usedSecond = false;
        if (const auto command = commandOf(words[1], words.size() > 2 ? words[2] : "", usedSecond)) {
            return {ParseResult::Help, inv, commandHelp(*command), {}, std::nullopt};
        }
        return error("unknown command \"" + words[1] + "\"", std::nullopt);
    }
    bool usedSecond = false;
    const auto command = commandOf(words[0], words.size() > 1 ? words[1] : "", usedSecond);
    if (!command) {
        if (words[0] == "edid" || words[0] == "net") {
            const std::string sub = words.size() > 1 ? words[1] : "";
            const std::string choices = words[0] == "edid" ? "list, set, copy, read, write or decode" : "show or set";
            if (help && sub.empty()) {
                return {ParseResult::Help, inv, toolHelp(), {}, std::nullopt};
            }
            return error(words[0] +
                             (sub.empty() ? " needs a subcommand: " : ": unknown subcommand \"" + sub + "\"; use ") +
                             choices,
                         std::nullopt);
        }
        return error("unknown command \"" + words[0] + "\"", std::nullopt);
    }
    inv.command = *command;
    if (help) {
        return {ParseResult::Help, inv, commandHelp(*command), {}, std::nullopt};
    }
    words.erase(words.begin(), words.begin() + (usedSecond ? 2 : 1));
    Parser parser(std::move(words), *command);
    parseCommand(parser, inv);
    if (!parser.ok()) {
        return error(parser.error(), *command);
    }
    return {ParseResult::Run, std::move(inv), {}, {}, std::nullopt};
}

} // namespace mc::ctl

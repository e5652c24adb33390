#pragma once

#include <optional>
#include <string>
#include <string_view>

// What the hub must know about the lines it passes on: which reply a client's
// command asks for (so the reply goes back to that client), and what a reply
// line is about. The values themselves are read by the core's reply parser.
namespace mc::hub {

// What a reply line is about. port: the output or input it names (0: all,
// -1: none usable).
struct ReplyTopic {
    enum Kind {
        Route,      // "OUT3 VS IN5"
        Audio,      // "OUT3 EXA EN"
        EdidChoice, // "IN7 EDID 12"
        Network,    // MAC, HIP, NMK, RIP, TIP, DHCP
        EdidData,   // an EDID read back: for the asker only
        Stored,     // an EDID upload confirmed
        Error,      // "ERROR": the switcher refused the command
        Other,      // anything else (scaler and enhancement reports, noise)
    };
    Kind kind = Other;
    int port = -1;
    friend bool operator==(const ReplyTopic&, const ReplyTopic&) = default;
};

[[nodiscard]] ReplyTopic replyTopic(std::string_view line);

// What a command asks the switcher for, read from its text.
struct CommandExpectation {
    enum Kind {
        Route,      // SET OUTpp VS INpp
        Audio,      // SET OUTpp EXA ...
        EdidChoice, // SET INpp EDID dd, SET INpp EDIDCY OUT pp
        Network,    // SET DHCP/HIP/NMK/RIP/TIP/MAC
        EdidData,   // GET ... EDID ... DATA
        Stored,     // SET INn EDID Ud DATA ...
        Status,     // GET STA: every value, ending with output 16's audio
        AnyLine,    // anything else: whatever line comes next answers it
    };
    Kind kind = AnyLine;
    int port = -1;
    // Route: the input asked for (1..16).
    std::optional<int> input;
    // Lines that answer it: SET TIP is answered by TIP and DHCP.
    int lines = 1;
    friend bool operator==(const CommandExpectation&, const CommandExpectation&) = default;
};

// The command line without its line ends.
[[nodiscard]] CommandExpectation expectationOf(std::string_view command);

// Whether a reply line about `topic` answers the command.
[[nodiscard]] bool answers(const CommandExpectation& expectation, const ReplyTopic& topic);

// The status answer's last line: output 16's audio.
[[nodiscard]] bool isLastStatusLine(const ReplyTopic& topic);

// The switcher's reply line for a route, CR LF included: "OUT3 VS IN5\r\n".
[[nodiscard]] std::string routeReplyLine(int output, int input);

} // namespace mc::hub

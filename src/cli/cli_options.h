#pragma once

#include "link/commands.h"
#include "link/link_address.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The command line of matrix-ctl, parsed and checked in full before anything
// is opened or sent: a command is run whole or not at all.
namespace mc::ctl {

// Exit statuses, as scripts see them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitLink = 1;      // link or file error
inline constexpr int kExitUsage = 2;     // bad command line, nothing sent
inline constexpr int kExitNoReply = 3;   // no confirmation within the timeout
inline constexpr int kExitDisagrees = 4; // the confirmation differs from what was asked

inline constexpr int kDefaultTimeoutMs = 2000;
inline constexpr int kMaxTimeoutMs = 600000;
inline constexpr char kLinkVariable[] = "MATRIX_CTL_LINK";

enum class Command {
    Status,
    Route,
    Audio,
    EdidSet,
    EdidCopy,
    EdidRead,
    EdidWrite,
    EdidDecode,
    EdidList,
    NetShow,
    NetSet,
    Search,
    Send,
    Monitor,
};

// What `net set` changes; the rest is taken from the switcher first.
struct NetChanges {
    std::optional<bool> dhcp;
    std::optional<Ipv4Address> host;
    std::optional<Ipv4Address> mask;
    std::optional<Ipv4Address> router;
    std::optional<std::string> tcpPort;
    std::optional<std::string> mac; // normalised: "00:1A:2B:3C:4D:5E"
};

struct Invocation {
    // Global options.
    std::optional<LinkAddress> link; // from --link; the caller falls back to the environment
    int timeoutMs = kDefaultTimeoutMs;
    bool json = false;
    bool quiet = false;

    Command command = Command::Status;
    int output = 0; // route, audio, edid copy: 1..16
    int input = 0;  // route, edid set/copy/write: 1..16
    AudioState audio = AudioState::On;
    int item = 0; // edid set: the choice 0..48 (shown 1-based)
    // edid read: the port, and for an input the EDID source 0..32 (nullopt:
    // the input's current choice, asked first).
    bool readOutput = true;
    int readPort = 0;
    std::optional<int> readSource;
    int slot = 0;       // edid write: 1..3
    std::string file;   // edid read -o, edid write
    bool force = false; // edid read: overwrite FILE; edid write: upload an EDID with errors
    bool pad = false;
    std::vector<std::string> files; // edid decode
    NetChanges net;
    std::string text; // send
};

// Which command needs a link to the switcher at all.
[[nodiscard]] bool needsLink(Command command);
// "route", "edid read", ...
[[nodiscard]] std::string_view commandName(Command command);

struct ParseResult {
    enum Outcome { Run, Help, Version, Error };
    Outcome outcome = Error;
    Invocation invocation;
    // Help: the text to print. Error: what is wrong, then the usage line.
    std::string text;
    // Error: what is wrong alone, and the command when it could be told.
    std::string message;
    std::optional<Command> command;
};

// args: argv without the program name.
[[nodiscard]] ParseResult parseCommandLine(const std::vector<std::string>& args);

// Exposed for the table tests.
[[nodiscard]] std::optional<int> parsePortNumber(std::string_view text);
[[nodiscard]] std::optional<Ipv4Address> parseIpv4(std::string_view text);
[[nodiscard]] std::optional<std::string> normaliseMac(std::string_view text);
// An input EDID choice by 1-based number (1..49) or by its name as the EDID
// page lists it (see matchItemName); 0-based.
[[nodiscard]] std::optional<int> parseEdidItem(std::string_view text, int lastChoice);
// The index of the name `text` stands for: the name letter for letter (its
// trailing blanks need not be typed), else the one name that matches ignoring
// case and runs of blanks ("1080p_ audio5.1", "1080p_audio5.1" for
// "1080P_ audio5.1"). nullopt when none does, or when more than one does at
// the first of those steps that finds any.
[[nodiscard]] std::optional<int> matchItemName(std::span<const std::string_view> names, std::string_view text);
[[nodiscard]] std::string dottedDecimal(const Ipv4Address& address);

[[nodiscard]] std::string toolHelp();

} // namespace mc::ctl

#include "ctl_commands.h"

#include "edid/edid_choices.h"
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"
#include "link/commands.h"
#include "session/edid_capture.h"
#include "session/reply_parser.h"
#include "session/traffic.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <variant>

#ifdef _WIN32
#include <random>
// std::min and std::max stay usable.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mc::ctl {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kPorts = kLastPort;
// After a status the switcher may still be sending; the channel purges unread
// input before each write, which would cut a line in two. Wait for this much
// silence before the next command.
constexpr auto kSettle = 150ms;
// `send`: the reply is over after this much silence.
constexpr auto kQuiet = 300ms;
constexpr std::size_t kSendLineLimit = 10000;
// The device search's waits, as the console's search timer has them.
constexpr auto kFirstProbeWait = 500ms;
constexpr auto kNextProbeWait = 400ms;

// Without its CR LF.
std::string stripLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

// The decoder's reports end lines in CR LF; a terminal wants LF.
std::string unixLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

Json linesOf(std::string_view text) {
    Json lines = Json::array();
    std::istringstream in{unixLines(text)};
    for (std::string line; std::getline(in, line);) {
        lines.push(line);
    }
    return lines;
}

// As the command line takes it and the JSON schema spells it.
std::string audioName(AudioState state) {
    return state == AudioState::On ? "on" : "mute";
}

std::string itemName(int item) {
    if (item < 0 || item >= kInputEdidItemCount) {
        return {};
    }
    std::string_view name = kInputEdidItems.at(static_cast<std::size_t>(item));
    while (!name.empty() && name.back() == ' ') {
        name.remove_suffix(1);
    }
    return std::string(name);
}

std::string dotted(std::uint32_t packed) {
    return dottedDecimal(Ipv4Address::fromUint32(packed));
}

std::string timeoutText(const Invocation& inv) {
    return std::to_string(inv.timeoutMs) + " ms";
}

Outcome failure(int exit, std::string message) {
    Outcome outcome;
    outcome.exit = exit;
    outcome.error = std::move(message);
    return outcome;
}

// Everything the status query reports, as far as it has arrived.
struct DeviceStatus {
    // Each port's value once reported; a reported route or EDID choice may be
    // none (a reply the console would show with nothing selected).
    std::array<std::optional<std::optional<int>>, kPorts> route{}; // 0-based input
    std::array<std::optional<std::optional<int>>, kPorts> edid{};  // choice
    std::array<std::optional<AudioState>, kPorts> audio{};
    std::optional<bool> dhcp;
    std::optional<std::uint32_t> host;
    std::optional<std::uint32_t> mask;
    std::optional<std::uint32_t> router;
    std::optional<std::string> tcpPort;
    std::optional<std::string> mac;

    // One port (1..16) or all of them (0), as the replies address them.
    template <typename T>
    static void store(std::array<std::optional<T>, kPorts>& into, std::optional<int> port, const T& value) {
        if (!port) {
            return;
        }
        if (*port == 0) {
            into.fill(value);
        } else if (isValidPort(*port)) {
            into.at(static_cast<std::size_t>(*port - 1)) = value;
        }
    }

    void apply(const Reply& reply) {
        std::visit(
            [this](const auto& r) {
                using T = std::decay_t<decltype(r)>;
                if constexpr (std::is_same_v<T, RoutingReply>) {
                    store(route, r.output, r.input);
                } else if constexpr (std::is_same_v<T, EdidChoiceReply>) {
                    store(edid, r.input, r.item);
                } else if constexpr (std::is_same_v<T, AudioReply>) {
                    store(audio, r.output, r.state);
                } else if constexpr (std::is_same_v<T, MacReply>) {
                    mac = r.text;
                } else if constexpr (std::is_same_v<T, TcpPortReply>) {
                    tcpPort = r.text;
                } else if constexpr (std::is_same_v<T, DhcpReply>) {
                    dhcp = r.on;
                } else if constexpr (std::is_same_v<T, AddressReply>) {
                    (r.kind == AddressReply::Host ? host : r.kind == AddressReply::NetMask ? mask : router) = r.address;
                }
            },
            reply);
    }

    [[nodiscard]] bool networkComplete() const { return dhcp && host && mask && router && tcpPort && mac; }

    template <typename T> static bool allKnown(const std::array<std::optional<T>, kPorts>& values) {
        return std::all_of(values.begin(), values.end(), [](const auto& v) { return v.has_value(); });
    }

    [[nodiscard]] bool complete() const {
        return networkComplete() && allKnown(route) && allKnown(edid) && allKnown(audio);
    }

    [[nodiscard]] std::string missing() const {
        std::string text;
        auto add = [&text](bool known, std::string_view what) {
            if (!known) {
                text.append(text.empty() ? "" : ", ");
                text.append(what);
            }
        };
        add(allKnown(route), "routes");
        add(allKnown(edid), "EDID choices");
        add(networkComplete(), "network settings");
        add(allKnown(audio), "audio states");
        return text;
    }
};

Json networkJson(const DeviceStatus& s) {
    Json net = Json::object();
    net.set("dhcp", s.dhcp ? Json(*s.dhcp) : Json());
    net.set("host", s.host ? Json(dotted(*s.host)) : Json());
    net.set("mask", s.mask ? Json(dotted(*s.mask)) : Json());
    net.set("router", s.router ? Json(dotted(*s.router)) : Json());
    net.set("tcp_port", s.tcpPort ? Json(*s.tcpPort) : Json());
    net.set("mac", s.mac ? Json(*s.mac) : Json());
    return net;
}

std::string networkText(const DeviceStatus& s) {
    auto value = [](const auto& v, auto show) { return v ? show(*v) : std::string("-"); };
    std::string text;
    text += "DHCP      " + value(s.dhcp, [](bool on) { return std::string(on ? "on" : "off"); }) + "\n";
    text += "Host      " + value(s.host, dotted) + "\n";
    text += "Mask      " + value(s.mask, dotted) + "\n";
    text += "Router    " + value(s.router, dotted) + "\n";
    text += "TCP port  " + value(s.tcpPort, [](const std::string& t) { return t; }) + "\n";
    text += "MAC       " + value(s.mac, [](const std::string& t) { return t; }) + "\n";
    return text;
}

class Runner {
public:
    Runner(const Invocation& inv, const Environment& env) : inv_(inv), env_(env) {}

    Outcome run();

private:
    [[nodiscard]] Clock::time_point deadline() const {
        return Clock::now() + std::chrono::milliseconds(inv_.timeoutMs);
    }

    // Reads lines until `handle` returns true (done) or the deadline passes.
    // Returns the exit status for a failure to get there, or nullopt.
    template <typename Handle>
    std::optional<Outcome> waitFor(Clock::time_point until, std::string_view what, Handle handle) {
        std::string line;
        while (true) {
            switch (env_.link->nextLine(line, until)) {
            case LineLink::Wait::Line:
                if (handle(line)) {
                    return std::nullopt;
                }
                break;
            case LineLink::Wait::Timeout:
                return failure(kExitNoReply, std::string(commandName(inv_.command)) + ": no " + std::string(what) +
                                                 " from " + env_.link->name() + " within " + timeoutText(inv_));
            case LineLink::Wait::HungUp:
                return failure(kExitLink, std::string(commandName(inv_.command)) + ": " + env_.link->error());
            case LineLink::Wait::Interrupted:
                return failure(kExitLink, std::string(commandName(inv_.command)) + ": interrupted");
            }
        }
    }

    // Reads on until the line has been quiet for kSettle (bounded by until),
    // feeding what arrives to the status.
    std::optional<Outcome> settle(Clock::time_point until, DeviceStatus& status) {
        std::string line;
        while (true) {
            const auto quietUntil = std::min(until, Clock::now() + kSettle);
            switch (env_.link->nextLine(line, quietUntil)) {
            case LineLink::Wait::Line:
                status.apply(decodeReply(line));
                continue;
            case LineLink::Wait::Timeout:
                return std::nullopt;
            case LineLink::Wait::HungUp:
                return failure(kExitLink, std::string(commandName(inv_.command)) + ": " + env_.link->error());
            case LineLink::Wait::Interrupted:
                return failure(kExitLink, std::string(commandName(inv_.command)) + ": interrupted");
            }
        }
    }

    std::optional<Outcome> send(const std::optional<TextCommand>& command) {
        if (!command) {
            // Every argument was checked already; a builder refusing one is a fault here.
            return failure(kExitUsage, std::string(commandName(inv_.command)) + ": the command cannot be built");
        }
        if (!env_.link->send(command->bytes())) {
            return failure(kExitLink, std::string(commandName(inv_.command)) + ": " + env_.link->error());
        }
        return std::nullopt;
    }

    // Sends the status query and waits until `enough` holds.
    template <typename Enough>
    std::optional<Outcome> queryStatus(DeviceStatus& status, std::string_view what, Enough enough) {
        if (auto failed = send(probeCommand())) {
            return failed;
        }
        return waitFor(deadline(), what, [&](const std::string& line) {
            status.apply(decodeReply(line));
            return enough(status);
        });
    }

    Outcome status();
    Outcome route();
    Outcome audio();
    Outcome edidChoice(int expectedItem, const std::optional<TextCommand>& command);
    Outcome edidRead();
    Outcome edidWrite();
    Outcome edidDecode();
    Outcome netShow();
    Outcome netSet();
    Outcome search();
    Outcome sendText();
    Outcome monitor();

    const Invocation& inv_;
    const Environment& env_;
};

Outcome Runner::run() {
    switch (inv_.command) {
    case Command::Status:
        return status();
    case Command::Route:
        return route();
    case Command::Audio:
        return audio();
    case Command::EdidSet:
        return edidChoice(inv_.item, applyEdidChoiceCommand(inv_.input, inv_.item));
    case Command::EdidCopy:
        return edidChoice(kLastEdidSourceIndex + inv_.output, applyEdidCopyCommand(inv_.input, inv_.output));
    case Command::EdidRead:
        return edidRead();
    case Command::EdidWrite:
        return edidWrite();
    case Command::EdidDecode:
        return edidDecode();
    case Command::NetShow:
        return netShow();
    case Command::NetSet:
        return netSet();
    case Command::Search:
        return search();
    case Command::Send:
        return sendText();
    case Command::Monitor:
        return monitor();
    }
    return failure(kExitUsage, "unknown command");
}

Outcome Runner::status() {
    DeviceStatus s;
    const auto until = deadline();
    if (auto failed = send(probeCommand())) {
        return *failed;
    }
    auto failed = waitFor(until, "complete status", [&](const std::string& line) {
        s.apply(decodeReply(line));
        return s.complete();
    });
    if (failed) {
        if (failed->exit == kExitNoReply) {
            failed->error += " (missing: " + s.missing() + ")";
        }
        return *failed;
    }
    Outcome outcome;
    Json outputs = Json::array();
    Json inputs = Json::array();
    char row[160];
    outcome.text = "Port  Input shown  Audio  EDID presented\n";
    for (std::size_t i = 0; i < kPorts; ++i) {
        const int port = static_cast<int>(i) + 1;
        const std::optional<int> input = *s.route.at(i);
        const AudioState audio = *s.audio.at(i);
        const std::optional<int> item = *s.edid.at(i);
        const std::string audioText = audioName(audio);
        const std::string inputText = !input ? "-" : std::to_string(*input + 1);
        const std::string itemText =
            !item ? " -" : (*item < 9 ? " " : "") + std::to_string(*item + 1) + " " + itemName(*item);
        std::snprintf(row, sizeof row, "%4d  %11s  %-5s  %s\n", port, inputText.c_str(), audioText.c_str(),
                      itemText.c_str());
        outcome.text += row;
        Json out = Json::object();
        out.set("output", port);
        out.set("input", !input ? Json() : Json(*input + 1));
        out.set("audio", audioText);
        outputs.push(std::move(out));
        Json in = Json::object();
        in.set("input", port);
        in.set("edid", !item ? Json() : Json(*item + 1));
        in.set("edid_name", !item ? Json() : Json(itemName(*item)));
        inputs.push(std::move(in));
    }
    outcome.text += "\n" + networkText(s);
    outcome.json.set("outputs", std::move(outputs));
    outcome.json.set("inputs", std::move(inputs));
    outcome.json.set("network", networkJson(s));
    return outcome;
}

Outcome Runner::route() {
    if (auto failed = send(routingCommand(inv_.output, inv_.input))) {
        return *failed;
    }
    std::optional<int> shown;
    if (auto failed = waitFor(deadline(), "routing confirmation", [&](const std::string& line) {
            const Reply reply = decodeReply(line);
            const auto* routing = std::get_if<RoutingReply>(&reply);
            if (routing == nullptr || !routing->output || (*routing->output != 0 && *routing->output != inv_.output)) {
                return false;
            }
            shown = routing->input;
            return true;
        })) {
        return *failed;
    }
    Outcome outcome;
    outcome.json.set("output", inv_.output);
    outcome.json.set("input", !shown ? Json() : Json(*shown + 1));
    const std::string shownText = !shown ? "no input" : "input " + std::to_string(*shown + 1);
    outcome.text = "output " + std::to_string(inv_.output) + " shows " + shownText + "\n";
    if (shown != inv_.input - 1) { // none disagrees too
        outcome.exit = kExitDisagrees;
        outcome.error = "route: output " + std::to_string(inv_.output) + " shows " + shownText + ", not input " +
                        std::to_string(inv_.input);
    }
    return outcome;
}

Outcome Runner::audio() {
    if (auto failed = send(audioCommand(inv_.output, inv_.audio))) {
        return *failed;
    }
    AudioState state = AudioState::On;
    if (auto failed = waitFor(deadline(), "audio confirmation", [&](const std::string& line) {
            const Reply reply = decodeReply(line);
            const auto* audio = std::get_if<AudioReply>(&reply);
            if (audio == nullptr || !audio->output || (*audio->output != 0 && *audio->output != inv_.output)) {
                return false;
            }
            state = audio->state;
            return true;
        })) {
        return *failed;
    }
    const std::string stateText = audioName(state);
    Outcome outcome;
    outcome.json.set("output", inv_.output);
    outcome.json.set("audio", stateText);
    outcome.text = "output " + std::to_string(inv_.output) + " audio " + stateText + "\n";
    if (state != inv_.audio) {
        outcome.exit = kExitDisagrees;
        outcome.error = "audio: output " + std::to_string(inv_.output) + " reports audio " + stateText + ", not " +
                        audioName(inv_.audio);
    }
    return outcome;
}

Outcome Runner::edidChoice(int expectedItem, const std::optional<TextCommand>& command) {
    if (auto failed = send(command)) {
        return *failed;
    }
    std::optional<int> item;
    if (auto failed = waitFor(deadline(), "EDID confirmation", [&](const std::string& line) {
            if (isEdidDataLine(line)) {
                return false;
            }
            const Reply reply = decodeReply(line);
            const auto* choice = std::get_if<EdidChoiceReply>(&reply);
            if (choice == nullptr || !choice->input || (*choice->input != 0 && *choice->input != inv_.input)) {
                return false;
            }
            item = choice->item;
            return true;
        })) {
        return *failed;
    }
    Outcome outcome;
    outcome.json.set("input", inv_.input);
    outcome.json.set("edid", !item ? Json() : Json(*item + 1));
    outcome.json.set("edid_name", !item ? Json() : Json(itemName(*item)));
    const std::string itemText = !item ? "no EDID" : "EDID " + std::to_string(*item + 1) + " " + itemName(*item);
    outcome.text = "input " + std::to_string(inv_.input) + " presents " + itemText + "\n";
    if (item != expectedItem) {
        outcome.exit = kExitDisagrees;
        outcome.error = std::string(commandName(inv_.command)) + ": input " + std::to_string(inv_.input) +
                        " presents " + itemText + ", not EDID " + std::to_string(expectedItem + 1) + " " +
                        itemName(expectedItem);
    }
    return outcome;
}

// What --force may replace: nothing, or a regular file. Never a device, a
// FIFO (its reader would wait for good), a directory or a link.
bool isFreeOrRegular(std::filesystem::file_type type) {
    return type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::regular;
}

// The same when the name is checked again just before it is taken.
bool isFreeOrRegular(const std::string& path, std::string& error) {
    std::error_code ec;
    const auto type = std::filesystem::symlink_status(path, ec).type();
    if (isFreeOrRegular(type)) {
        return true;
    }
    error = path + " became " + fileTypeText(type) + " meanwhile; kept it (--force replaces only a regular file)";
    return false;
}

// A file written whole or not at all: the bytes go to a temporary file in the
// same folder, which then takes the final name. Without --force an existing
// file is never replaced, not even one that appears meanwhile; with it, only
// a regular file is.
#ifndef _WIN32
class AtomicFile {
public:
    explicit AtomicFile(std::string path) : path_(std::move(path)) {}
    ~AtomicFile() {
        if (!temp_.empty()) {
            ::unlink(temp_.c_str());
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Made before anything is sent, so a folder that cannot be written in is
    // found out first.
    bool create(std::string& error) {
        const std::filesystem::path target(path_);
        const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
        std::string name = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
        fd_ = ::mkstemp(name.data());
        if (fd_ < 0) {
            error = "cannot write a file in " + folder.string() + ": " + std::strerror(errno);
            return false;
        }
        temp_ = name;
        return true;
    }

    bool commit(std::span<const std::uint8_t> bytes, bool replace, std::string& error) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                error = "cannot write " + path_ + ": " + std::strerror(errno);
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
            fd_ = -1;
            error = "cannot write " + path_ + ": " + std::strerror(errno);
            return false;
        }
        fd_ = -1;
        ::chmod(temp_.c_str(), 0644);
        if (replace) {
            if (!isFreeOrRegular(path_, error)) {
                return false;
            }
            if (::rename(temp_.c_str(), path_.c_str()) != 0) {
                error = "cannot write " + path_ + ": " + std::strerror(errno);
                return false;
            }
        } else if (::link(temp_.c_str(), path_.c_str()) != 0) {
            error = errno == EEXIST ? path_ + " appeared meanwhile; kept it (give --force to overwrite)"
                                    : "cannot write " + path_ + ": " + std::strerror(errno);
            return false;
        } else {
            ::unlink(temp_.c_str());
        }
        temp_.clear();
        return true;
    }

private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
};
#else
// The system's text for an error code, without the trailing line break.
std::string systemText(DWORD code) {
    std::array<char, 256> text{};
    const DWORD size = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text.data(),
                                        static_cast<DWORD>(text.size()), nullptr);
    std::string out(text.data(), size);
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' ' || out.back() == '.')) {
        out.pop_back();
    }
    return out.empty() ? "error " + std::to_string(code) : out;
}

// Windows has no link(): a rename that does not replace (MoveFileEx without
// MOVEFILE_REPLACE_EXISTING) refuses an existing target just as well.
class AtomicFile {
public:
    explicit AtomicFile(std::string path) : path_(std::move(path)) {}
    ~AtomicFile() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
        if (!temp_.empty()) {
            ::DeleteFileW(temp_.c_str());
        }
    }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Made before anything is sent, so a folder that cannot be written in is
    // found out first.
    bool create(std::string& error) {
        const std::filesystem::path target(path_);
        const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
        // Hidden as on POSIX: a dot, the file's name, a random suffix.
        std::string hidden(1, '.');
        hidden.append(target.filename().string());
        std::random_device entropy;
        DWORD code = ERROR_FILE_EXISTS;
        for (int attempt = 0; attempt < 100 && (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS); ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(entropy()));
            const std::wstring name = (folder / (hidden + suffix)).wstring();
            handle_ =
                ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle_ != INVALID_HANDLE_VALUE) {
                temp_ = name;
                return true;
            }
            code = ::GetLastError();
        }
        error = "cannot write a file in " + folder.string() + ": " + systemText(code);
        return false;
    }

    bool commit(std::span<const std::uint8_t> bytes, bool replace, std::string& error) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD written = 0;
            if (!::WriteFile(handle_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                             nullptr) ||
                written == 0) {
                error = "cannot write " + path_ + ": " + systemText(::GetLastError());
                return false;
            }
            done += written;
        }
        const bool flushed = ::FlushFileBuffers(handle_) != 0;
        const DWORD flushCode = ::GetLastError();
        ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        if (!flushed) {
            error = "cannot write " + path_ + ": " + systemText(flushCode);
            return false;
        }
        if (replace && !isFreeOrRegular(path_, error)) {
            return false;
        }
        const std::wstring final = std::filesystem::path(path_).wstring();
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (!::MoveFileExW(temp_.c_str(), final.c_str(), flags)) {
            const DWORD code = ::GetLastError();
            error = !replace && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
                        ? path_ + " appeared meanwhile; kept it (give --force to overwrite)"
                        : "cannot write " + path_ + ": " + systemText(code);
            return false;
        }
        temp_.clear();
        return true;
    }

private:
    std::string path_;
    std::wstring temp_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
#endif

Outcome Runner::edidRead() {
    std::error_code ec;
    const auto existing = std::filesystem::symlink_status(inv_.file, ec).type();
    if (!inv_.force && std::filesystem::exists(std::filesystem::file_status(existing))) {
        return failure(kExitUsage, "edid read: " + inv_.file + " exists; give --force to overwrite it");
    }
    if (!isFreeOrRegular(existing)) {
        return failure(kExitUsage, "edid read: " + inv_.file + " is " + fileTypeText(existing) +
                                       "; --force replaces only a regular file");
    }
    AtomicFile file(inv_.file);
    std::string error;
    if (!file.create(error)) {
        return failure(kExitLink, "edid read: " + error);
    }
    std::optional<int> source = inv_.readSource;
    if (!inv_.readOutput && !source) {
        // The read names the input's own EDID source: ask which it is.
        DeviceStatus s;
        const auto index = static_cast<std::size_t>(inv_.readPort - 1);
        if (auto failed = queryStatus(s, "EDID choice of input " + std::to_string(inv_.readPort),
                                      [index](const DeviceStatus& st) { return st.edid.at(index).has_value(); })) {
            return *failed;
        }
        if (auto failed = settle(deadline(), s)) {
            return *failed;
        }
        const std::optional<int> choice = *s.edid.at(index);
        if (!choice || *choice > kLastEdidSourceIndex) {
            return failure(kExitDisagrees, "edid read: input " + std::to_string(inv_.readPort) + " presents " +
                                               (!choice ? std::string("no EDID") : itemName(*choice)) +
                                               ", which has no source of its own; read the output or give ITEM");
        }
        source = *choice;
    }
    const auto command =
        inv_.readOutput ? readOutputEdidCommand(inv_.readPort) : readInputEdidCommand(inv_.readPort, *source);
    if (auto failed = send(command)) {
        return *failed;
    }
    EdidImage image{};
    image.fill(kEdidFillByte);
    std::string header;
    if (auto failed = waitFor(deadline(), "EDID data", [&](const std::string& line) {
            if (!isEdidDataLine(line)) {
                return false;
            }
            scanEdidData(line, image);
            header = stripLineEnd(line.substr(0, line.find(kEdidDataKeyword)));
            return true;
        })) {
        return *failed;
    }
    const std::string portText = (inv_.readOutput ? "OUT" : "IN") + std::to_string(inv_.readPort) + " ";
    if (header.rfind("OUT", 0) == 0 || header.rfind("IN", 0) == 0) {
        // The data line names its port; one that names another port is not ours.
        if (header.rfind(portText, 0) != 0) {
            return failure(kExitDisagrees, "edid read: the switcher sent the EDID of \"" + header + "\", not of " +
                                               (inv_.readOutput ? "output " : "input ") +
                                               std::to_string(inv_.readPort));
        }
    }
    if (!file.commit(image, inv_.force, error)) {
        return failure(kExitLink, "edid read: " + error);
    }
    const std::string summary = fillEdidSummary(decodeEdid(image));
    Outcome outcome;
    outcome.json.set("port", inv_.readOutput ? "output" : "input");
    outcome.json.set("number", inv_.readPort);
    outcome.json.set("source", source ? Json(*source + 1) : Json());
    outcome.json.set("file", inv_.file);
    outcome.json.set("bytes", static_cast<int>(kEdidImageBytes));
    outcome.json.set("summary", linesOf(summary));
    outcome.text = "saved " + inv_.file + " (256 bytes)\n" + unixLines(summary);
    return outcome;
}

Outcome Runner::edidWrite() {
    // One byte more than an image tells an overlong file. Only a regular file
    // is read: a FIFO would hold the program until a writer came.
    std::string reason;
    const auto read = readRegularFile(inv_.file, kEdidImageBytes + 1, &reason);
    if (!read) {
        return failure(kExitLink, "edid write: cannot read " + inv_.file + ": " + reason);
    }
    const std::vector<std::uint8_t>& bytes = *read;
    const std::size_t size = bytes.size();
    const bool exact = size == kEdidImageBytes || size == kEdidImageBytes / 2;
    if (!exact && !(inv_.pad && size > 0 && size < kEdidImageBytes)) {
        const std::string sizeText = size > kEdidImageBytes ? "longer than 256 bytes" : std::to_string(size) + " bytes";
        return failure(kExitUsage, "edid write: " + inv_.file + " is " + sizeText + ", not 128 or 256" +
                                       (size > 0 && size < kEdidImageBytes ? " (--pad fills it up with 0xFF)" : ""));
    }
    const EdidImage image = edidImageFromBytes(bytes);
    if (auto failed = send(uploadEdidCommand(inv_.input, inv_.slot, image))) {
        return *failed;
    }
    std::string reply;
    if (auto failed = waitFor(deadline(), "reply to the upload", [&](const std::string& line) {
            reply = stripLineEnd(line);
            return !reply.empty();
        })) {
        return *failed;
    }
    Outcome outcome;
    outcome.json.set("input", inv_.input);
    outcome.json.set("slot", inv_.slot);
    outcome.json.set("file", inv_.file);
    outcome.json.set("bytes", static_cast<int>(size));
    outcome.json.set("reply", reply);
    outcome.text =
        "input " + std::to_string(inv_.input) + " user slot " + std::to_string(inv_.slot) + ": " + reply + "\n";
    if (reply.find("ERROR") != std::string::npos) {
        outcome.exit = kExitDisagrees;
        outcome.error = "edid write: the switcher refused the upload: " + reply;
    }
    return outcome;
}

Outcome Runner::edidDecode() {
    Outcome outcome;
    Json files = Json::array();
    for (const std::string& name : inv_.files) {
        std::string reason;
        const auto image = readEdidFile(name, &reason);
        if (!image) {
            outcome.exit = kExitLink;
            outcome.error +=
                (outcome.error.empty() ? "" : "; ") + std::string("edid decode: cannot read ") + name + ": " + reason;
            continue;
        }
        const EdidReports reports = decodeEdid(*image);
        const std::string summary = fillEdidSummary(reports);
        outcome.text += "==== " + name + "\n-- video\n" + unixLines(reports.video) + "-- audio\n" +
                        unixLines(reports.audio) + "-- general\n" + unixLines(reports.general) + "-- summary\n" +
                        unixLines(summary);
        Json file = Json::object();
        file.set("file", name);
        file.set("video", linesOf(reports.video));
        file.set("audio", linesOf(reports.audio));
        file.set("general", linesOf(reports.general));
        file.set("summary", linesOf(summary));
        files.push(std::move(file));
    }
    outcome.json.set("files", std::move(files));
    return outcome;
}

Outcome Runner::netShow() {
    DeviceStatus s;
    if (auto failed = queryStatus(s, "network settings", [](const DeviceStatus& st) { return st.networkComplete(); })) {
        return *failed;
    }
    Outcome outcome;
    outcome.json.set("network", networkJson(s));
    outcome.text = networkText(s);
    return outcome;
}

Outcome Runner::netSet() {
    DeviceStatus current;
    if (auto failed =
            queryStatus(current, "network settings", [](const DeviceStatus& st) { return st.networkComplete(); })) {
        return *failed;
    }
    if (auto failed = settle(deadline(), current)) {
        return *failed;
    }
    const NetChanges& change = inv_.net;
    NetworkSettings settings;
    settings.dhcp = change.dhcp.value_or(*current.dhcp);
    if (settings.dhcp && (change.host || change.mask || change.router)) {
        return failure(kExitUsage, "net set: the switcher has DHCP on; --host, --mask and --router need --dhcp off");
    }
    settings.host = change.host.value_or(Ipv4Address::fromUint32(*current.host));
    settings.netMask = change.mask.value_or(Ipv4Address::fromUint32(*current.mask));
    settings.router = change.router.value_or(Ipv4Address::fromUint32(*current.router));
    settings.tcpPort = change.tcpPort.value_or(*current.tcpPort);
    settings.mac = change.mac;
    if (auto failed = send(networkSettingsCommand(settings))) {
        return *failed;
    }
    DeviceStatus confirmed;
    auto confirmedAll = [&](const DeviceStatus& s) {
        return s.dhcp && s.tcpPort && (settings.dhcp || (s.host && s.mask && s.router)) && (!settings.mac || s.mac);
    };
    if (auto failed = waitFor(deadline(), "confirmation of the network settings", [&](const std::string& line) {
            confirmed.apply(decodeReply(line));
            return confirmedAll(confirmed);
        })) {
        return *failed;
    }
    std::string differs;
    auto check = [&differs](bool same, std::string_view what) {
        if (!same) {
            differs.append(differs.empty() ? "" : ", ");
            differs.append(what);
        }
    };
    check(*confirmed.dhcp == settings.dhcp, "DHCP");
    check(*confirmed.tcpPort == settings.tcpPort, "TCP port");
    if (!settings.dhcp) {
        check(*confirmed.host == settings.host.toUint32(), "host");
        check(*confirmed.mask == settings.netMask.toUint32(), "mask");
        check(*confirmed.router == settings.router.toUint32(), "router");
    }
    if (settings.mac) {
        check(normaliseMac(*confirmed.mac) == settings.mac, "MAC");
    }
    // What the switcher reports now: confirmed values over the earlier ones.
    DeviceStatus shown = current;
    shown.dhcp = confirmed.dhcp;
    shown.tcpPort = confirmed.tcpPort;
    for (auto [into, from] : {std::pair{&shown.host, &confirmed.host}, std::pair{&shown.mask, &confirmed.mask},
                              std::pair{&shown.router, &confirmed.router}}) {
        if (*from) {
            *into = *from;
        }
    }
    if (confirmed.mac) {
        shown.mac = confirmed.mac;
    }
    Outcome outcome;
    outcome.json.set("network", networkJson(shown));
    outcome.text = networkText(shown);
    if (!differs.empty()) {
        outcome.exit = kExitDisagrees;
        outcome.error = "net set: the switcher reports other values for: " + differs;
    }
    return outcome;
}

Outcome Runner::search() {
    bool first = true;
    int opened = 0;
    for (int n = kFirstComPort; n <= kLastComPort && !interruptRequested(); ++n) {
        std::string error;
        const std::unique_ptr<LineLink> link = env_.openCom(n, error);
        if (!link) {
            continue;
        }
        ++opened;
        if (!link->send(probeCommand().bytes())) {
            continue;
        }
        const auto until = Clock::now() + (first ? kFirstProbeWait : kNextProbeWait);
        first = false;
        std::string line;
        // Any complete line, whatever it holds, is a switcher's answer.
        if (link->nextLine(line, until) == LineLink::Wait::Line) {
            Outcome outcome;
            outcome.json.set("found", link->name());
            outcome.text = link->name() + "\n";
            return outcome;
        }
    }
    if (interruptRequested()) {
        return failure(kExitLink, "search: interrupted");
    }
    if (opened == 0) {
        return failure(kExitLink, "search: no port from COM1 to COM99 can be opened");
    }
    return failure(kExitNoReply, "search: no switcher answered on the " + std::to_string(opened) +
                                     " port(s) that opened from COM1 to COM99");
}

Outcome Runner::sendText() {
    const auto command = TextCommand::fromBytes("\r\n" + inv_.text + "\r\n");
    if (auto failed = send(command)) {
        return *failed;
    }
    Outcome outcome;
    Json replies = Json::array();
    auto until = deadline();
    const auto last = until + std::chrono::milliseconds(inv_.timeoutMs) * 4;
    std::size_t count = 0;
    std::string line;
    while (count < kSendLineLimit) {
        const auto wait = env_.link->nextLine(line, std::min(until, last));
        if (wait == LineLink::Wait::HungUp) {
            return failure(kExitLink, "send: " + env_.link->error());
        }
        if (wait == LineLink::Wait::Interrupted || wait == LineLink::Wait::Timeout) {
            break;
        }
        std::string text = stripLineEnd(line);
        if (text.empty()) {
            continue; // the CR LF a reply may start with
        }
        outcome.text += text + "\n";
        replies.push(std::move(text));
        ++count;
        until = Clock::now() + kQuiet;
    }
    outcome.json.set("sent", inv_.text);
    outcome.json.set("replies", std::move(replies));
    if (count == 0) {
        outcome.exit = kExitNoReply;
        outcome.error =
            "send: no reply to \"" + inv_.text + "\" from " + env_.link->name() + " within " + timeoutText(inv_);
    }
    return outcome;
}

std::string timeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms));
    return text;
}

Outcome Runner::monitor() {
    std::string line;
    std::size_t count = 0;
    while (true) {
        switch (env_.link->nextLine(line, Clock::now() + 1h)) {
        case LineLink::Wait::Line: {
            const std::string text = stripLineEnd(line);
            if (inv_.json) {
                Json record = Json::object();
                record.set("time", timeStamp());
                record.set("line", text);
                if (!env_.stream(record.dump() + "\n")) {
                    return failure(kExitLink, {}); // main() tells why
                }
            } else if (!inv_.quiet) {
                // The console's traffic row: the same text as its monitor and --log.
                const TrafficRow row{std::chrono::system_clock::now(), TrafficDirection::Received, env_.link->name(),
                                     line, markReplyLine(line)};
                if (!env_.stream(formatTrafficRow(row) + "\n")) {
                    return failure(kExitLink, {});
                }
            }
            ++count;
            break;
        }
        case LineLink::Wait::Timeout:
            break;
        case LineLink::Wait::HungUp:
            return failure(kExitLink, "monitor: " + env_.link->error());
        case LineLink::Wait::Interrupted: {
            Outcome outcome;
            outcome.json.set("lines", static_cast<std::int64_t>(count));
            return outcome;
        }
        }
    }
}

} // namespace

Outcome runCommand(const Invocation& invocation, const Environment& environment) {
    return Runner(invocation, environment).run();
}

Json jsonDocument(const Invocation& invocation, const Outcome& outcome, std::string_view link) {
    Json doc = Json::object();
    doc.set("command", commandName(invocation.command));
    doc.set("ok", outcome.exit == kExitOk);
    doc.set("exit", outcome.exit);
    doc.set("link", link.empty() ? Json() : Json(link));
    doc.set("error", outcome.error.empty() ? Json() : Json(outcome.error));
    // The command's members follow; a failure before any result has none.
    Json members = outcome.json;
    doc.set("result", std::move(members));
    return doc;
}

} // namespace mc::ctl

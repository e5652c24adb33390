#include "atomic_file.h"
#include "ctl_runner.h"
#include "device_status.h"
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"
#include "link/commands.h"
#include "session/edid_capture.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace mc::ctl {

Outcome Runner::edidRead() {
    std::error_code ec;
    if (!inv_.force && std::filesystem::exists(std::filesystem::symlink_status(inv_.file, ec))) {
        return failure(kExitUsage, "edid read: " + inv_.file + " exists; give --force to overwrite it");
    }
    AtomicFile file(inv_.file);
    std::string error;
    if (!file.create(error)) {
        return failure(kExitLink, "edid read: " + error);
    }
    std::optional<int> source = inv_.readSource;
    if (!inv_.readOutput && !source) {
        // The read names the input's own EDID source: ask which it is.
        SwitcherState s;
        const int input = inv_.readPort;
        if (auto failed = queryStatus(s, "EDID choice of input " + std::to_string(input),
                                      [input](const SwitcherState& st) { return st.edidChoice(input).has_value(); })) {
            return *failed;
        }
        if (auto failed = settle(deadline(), s)) {
            return *failed;
        }
        const std::optional<int> choice = s.edidChoice(input)->value;
        if (!choice || *choice > kLastEdidSourceIndex) {
            return failure(kExitDisagrees, "edid read: input " + std::to_string(inv_.readPort) + " presents " +
                                               (!choice ? std::string("no EDID") : itemName(*choice)) +
                                               ", which has no source of its own; read the output or give ITEM");
        }
        source = *choice;
    }
    auto command =
        inv_.readOutput ? readOutputEdidCommand(inv_.readPort) : readInputEdidCommand(inv_.readPort, *source);
    if (!command) {
        return unbuilt();
    }
    CommandExchange exchange(std::move(*command), "EDID data", [](std::string_view line, const Reply&) {
        return isEdidDataLine(line) ? CommandExchange::Answer::Confirms : CommandExchange::Answer::NotYet;
    });
    if (auto failed = runExchange(exchange)) {
        return *failed;
    }
    const std::string& line = exchange.answerLine();
    EdidImage image{};
    image.fill(kEdidFillByte);
    scanEdidData(line, image);
    const std::string header = stripLineEnd(line.substr(0, line.find(kEdidDataKeyword)));
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
    std::ifstream in(inv_.file, std::ios::binary);
    if (!in) {
        return failure(kExitLink, "edid write: cannot read " + inv_.file + ": " + std::strerror(errno));
    }
    // One byte more than an image tells an overlong file.
    std::vector<std::uint8_t> bytes(kEdidImageBytes + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const auto size = static_cast<std::size_t>(in.gcount());
    if (in.bad()) {
        return failure(kExitLink, "edid write: cannot read " + inv_.file);
    }
    bytes.resize(size);
    const bool exact = size == kEdidImageBytes || size == kEdidImageBytes / 2;
    if (!exact && !(inv_.pad && size > 0 && size < kEdidImageBytes)) {
        const std::string sizeText = size > kEdidImageBytes ? "longer than 256 bytes" : std::to_string(size) + " bytes";
        return failure(kExitUsage, "edid write: " + inv_.file + " is " + sizeText + ", not 128 or 256" +
                                       (size > 0 && size < kEdidImageBytes ? " (--pad fills it up with 0xFF)" : ""));
    }
    const EdidImage image = edidImageFromBytes(bytes);
    auto exchange = edidUploadExchange(inv_.input, inv_.slot, image);
    if (!exchange) {
        return unbuilt();
    }
    if (auto failed = runExchange(*exchange)) {
        return *failed;
    }
    const std::string reply = stripLineEnd(exchange->answerLine());
    Outcome outcome;
    outcome.json.set("input", inv_.input);
    outcome.json.set("slot", inv_.slot);
    outcome.json.set("file", inv_.file);
    outcome.json.set("bytes", static_cast<int>(size));
    outcome.json.set("reply", reply);
    outcome.text =
        "input " + std::to_string(inv_.input) + " user slot " + std::to_string(inv_.slot) + ": " + reply + "\n";
    if (exchange->state() == ExchangeState::Disagreed) {
        outcome.exit = kExitDisagrees;
        outcome.error = "edid write: the switcher refused the upload: " + reply;
    }
    return outcome;
}

Outcome Runner::edidDecode() {
    Outcome outcome;
    Json files = Json::array();
    for (const std::string& name : inv_.files) {
        errno = 0;
        const auto image = readEdidFile(name);
        if (!image) {
            const int error = errno;
            outcome.exit = kExitLink;
            outcome.error += (outcome.error.empty() ? "" : "; ") + std::string("edid decode: cannot read ") + name +
                             ": " + (error != 0 ? std::strerror(error) : "read failed");
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

} // namespace mc::ctl

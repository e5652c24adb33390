#include "atomic_file.h"
#include "ctl_runner.h"
#include "device_status.h"
#include "edid/edid_check.h"
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"
#include "edid_findings_json.h"
#include "link/commands.h"
#include "session/edid_capture.h"
#include "session/edid_reply.h"
#include "session/reply_parser.h"
#include "session/traffic_format.h"

#include <filesystem>
#include <vector>

namespace mc::ctl {
namespace {

// The EDID check's findings of what a command reads or sends: one line each
// on standard error ("matrix-ctl: edid read: error at byte 255: ...") and
// the result's "findings".
void reportEdidFindings(std::string_view command, const EdidFindings& findings, Outcome& outcome) {
    for (const EdidFinding& finding : findings) {
        outcome.diagnostics += "matrix-ctl: " + std::string(command) + ": " + formatEdidFinding(finding) + "\n";
    }
    outcome.json.set("findings", edidFindingsJson(findings));
}

} // namespace

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
    // The answer: the first line with both keywords (checked below), or a refusal.
    CommandExchange exchange(std::move(*command), "EDID data", [](std::string_view line, const Reply&) {
        return isEdidDataLine(line) || isErrorReply(line) ? CommandExchange::Answer::Confirms
                                                          : CommandExchange::Answer::NotYet;
    });
    if (auto failed = runExchange(exchange)) {
        return *failed;
    }
    const EdidReply reply = checkEdidReply(
        exchange.answerLine(), EdidPort{inv_.readOutput ? EdidPort::Output : EdidPort::Input, inv_.readPort});
    if (!reply.problem.empty()) {
        return failure(kExitDisagrees, "edid read: " + reply.problem);
    }
    const EdidImage& image = reply.image;
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
    // Saved all the same: it is what the display sent, the user decides.
    reportEdidFindings("edid read", checkEdid(image), outcome);
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
    Outcome outcome;
    outcome.json.set("input", inv_.input);
    outcome.json.set("slot", inv_.slot);
    outcome.json.set("file", inv_.file);
    outcome.json.set("bytes", static_cast<int>(size));
    // What goes out: the file as it is, or the image --pad filled up.
    const EdidFindings findings = checkEdid(exact ? std::span<const std::uint8_t>(bytes) : image);
    reportEdidFindings("edid write", findings, outcome);
    if (hasEdidErrors(findings) && !inv_.force) {
        outcome.exit = kExitUsage;
        outcome.error = "edid write: " + inv_.file + " has errors; nothing sent (--force sends it anyway)";
        return outcome;
    }
    // A failure from here on still lists the findings.
    const auto withFindings = [&outcome](Outcome failed) {
        failed.diagnostics = outcome.diagnostics;
        return failed;
    };
    auto exchange = edidUploadExchange(inv_.input, inv_.slot, image);
    if (!exchange) {
        return withFindings(unbuilt());
    }
    if (auto failed = runExchange(*exchange)) {
        return withFindings(*failed);
    }
    const std::string reply = stripLineEnd(exchange->answerLine());
    outcome.json.set("reply", reply);
    outcome.text = "input " + std::to_string(inv_.input) + " user slot " + std::to_string(inv_.slot) + ": " +
                   visibleBytes(reply) + "\n";
    if (exchange->state() == ExchangeState::Disagreed) {
        outcome.exit = kExitDisagrees;
        outcome.error = "edid write: the switcher refused the upload: " + visibleBytes(reply);
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

} // namespace mc::ctl

// matrix-edid FILE.bin...: decodes EDID files as the console does and prints,
// for each readable regular file in the order given, the three reports and the EDID
// summary byte for byte (CR LF kept). Each part is introduced by a marker line
// "==== video", "==== audio", "==== general" or "==== summary" ending in a
// single LF; report lines always end in CR LF, so a marker can never be taken
// for a report line. A file that cannot be read is reported on stderr, the
// others are still decoded, and the exit status is then 1. "--help" prints
// the usage, "--version" the program's version; "--" ends the options, so a
// file whose name starts with '-' can be given after it.
//
// matrix-edid --check [--json] FILE...: checks each file's EDID instead and
// prints its findings; the exit status is the worst outcome over all files.
#include "edid/edid_check.h"
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"
#include "edid_findings_json.h"
#include "version.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int kExitUnreadable = 1;
constexpr int kExitUsage = 2;

// --check: the worst of all files.
constexpr int kExitClean = 0;
constexpr int kExitWarnings = 1;
constexpr int kExitErrors = 2;
constexpr int kExitCheckUnreadable = 3;

constexpr std::string_view kUsage = "usage: matrix-edid [--] FILE.bin...\n"
                                    "       matrix-edid --check [--json] [--] FILE...\n"
                                    "       matrix-edid --help | --version\n";

void write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void printSection(std::string_view marker, std::string_view text) {
    write("==== ");
    write(marker);
    write("\n");
    write(text);
}

int finish(int status) {
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "matrix-edid: cannot write the output\n");
        return std::max(status, kExitCheckUnreadable);
    }
    return status;
}

int checkStatus(const mc::EdidFindings& findings) {
    if (mc::hasEdidErrors(findings)) {
        return kExitErrors;
    }
    return mc::hasEdidWarnings(findings) ? kExitWarnings : kExitClean;
}

// One line per finding, "FILE: error at byte 255: ...", or "FILE: no
// findings"; with `json`, one document for all files.
int checkFiles(const std::vector<std::string>& files, bool json) {
    int status = kExitClean;
    mc::ctl::Json documents = mc::ctl::Json::array();
    for (const std::string& file : files) {
        std::string reason;
        // One byte more than an EDID can have, so an overlong file shows.
        const auto bytes = mc::readRegularFile(file, mc::kMaxEdidBytes + 1, &reason);
        if (!bytes) {
            std::fflush(stdout);
            std::fprintf(stderr, "matrix-edid: cannot read %s: %s\n", file.c_str(), reason.c_str());
            status = kExitCheckUnreadable;
            if (json) {
                documents.push(mc::ctl::Json::object().set("file", file).set("error", reason));
            }
            continue;
        }
        const mc::EdidFindings findings = mc::checkEdid(*bytes);
        status = std::max(status, checkStatus(findings));
        if (json) {
            documents.push(mc::ctl::Json::object()
                               .set("file", file)
                               .set("bytes", static_cast<std::int64_t>(bytes->size()))
                               .set("errors", mc::hasEdidErrors(findings))
                               .set("findings", mc::ctl::edidFindingsJson(findings)));
            continue;
        }
        if (findings.empty()) {
            std::printf("%s: no findings\n", file.c_str());
        }
        for (const mc::EdidFinding& finding : findings) {
            std::printf("%s: %s\n", file.c_str(), mc::formatEdidFinding(finding).c_str());
        }
    }
    if (json) {
        std::printf("%s\n", mc::ctl::Json::object().set("files", std::move(documents)).dump().c_str());
    }
    return finish(status);
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> files;
    bool options = true;
    bool check = false;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--help") {
            write(kUsage);
            return 0;
        } else if (options && arg == "--version") {
            std::printf("matrix-edid %s\n", mc::kVersion);
            return 0;
        } else if (options && arg == "--check") {
            check = true;
        } else if (options && arg == "--json") {
            json = true;
        } else if (options && arg.size() > 1 && arg.front() == '-') {
            std::fprintf(stderr, "matrix-edid: unknown option %s (give \"--\" before a file named so)\n%.*s", argv[i],
                         static_cast<int>(kUsage.size()), kUsage.data());
            return kExitUsage;
        } else {
            files.emplace_back(arg);
        }
    }
    if (files.empty() || (json && !check)) {
        std::fprintf(stderr, "%.*s", static_cast<int>(kUsage.size()), kUsage.data());
        return kExitUsage;
    }
    if (check) {
        return checkFiles(files, json);
    }
#ifdef _WIN32
    // The reports' CR LF and the markers' single LF go out as they are, not
    // through the text mode's LF to CR LF translation.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    int status = 0;
    for (const std::string& file : files) {
        std::string reason;
        const auto image = mc::readEdidFile(file, &reason);
        if (!image) {
            std::fflush(stdout);
            std::fprintf(stderr, "matrix-edid: cannot read %s: %s\n", file.c_str(), reason.c_str());
            status = kExitUnreadable;
            continue;
        }
        const mc::EdidReports reports = mc::decodeEdid(*image);
        printSection("video", reports.video);
        printSection("audio", reports.audio);
        printSection("general", reports.general);
        printSection("summary", mc::fillEdidSummary(reports));
    }
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "matrix-edid: cannot write the output\n");
        return kExitUnreadable;
    }
    return status;
}

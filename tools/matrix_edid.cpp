// matrix-edid FILE.bin...: decodes EDID files as the console does and prints,
// for each readable regular file in the order given, the three reports and the EDID
// summary byte for byte (CR LF kept). Each part is introduced by a marker line
// "==== video", "==== audio", "==== general" or "==== summary" ending in a
// single LF; report lines always end in CR LF, so a marker can never be taken
// for a report line. A file that cannot be read is reported on stderr, the
// others are still decoded, and the exit status is then 1. "--help" prints
// the usage, "--version" the program's version; "--" ends the options, so a
// file whose name starts with '-' can be given after it.
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_summary.h"
#include "version.h"

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

constexpr std::string_view kUsage = "usage: matrix-edid [--] FILE.bin...\n"
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

} // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> files;
    bool options = true;
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
        } else if (options && arg.size() > 1 && arg.front() == '-') {
            std::fprintf(stderr, "matrix-edid: unknown option %s (give \"--\" before a file named so)\n%.*s", argv[i],
                         static_cast<int>(kUsage.size()), kUsage.data());
            return kExitUsage;
        } else {
            files.emplace_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "%.*s", static_cast<int>(kUsage.size()), kUsage.data());
        return kExitUsage;
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

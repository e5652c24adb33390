// Cross-check of the decoder against Debian's edid-decode over every sample
// EDID. Compared, wherever this decoder's arithmetic defines the same quantity:
//  - manufacturer letters (when all three are A to Z) and product code;
//  - the preferred timing (descriptor at byte 54, when its pixel clock is not
//    0) and the further base-block timings (bytes 72, 90, 108, when both clock
//    bytes are non-zero): width, height, interlace and refresh (edid-decode's
//    figure rounded half up);
//  - the VIC list of the first data block, when that block is a video data
//    block (this decoder takes the first block for it without testing the
//    tag): code and native mark for codes 1 to 107, and no line for others;
//  - per short audio descriptor of the first audio data block: format name
//    (codes 1 to 14; extended and reserved codes are named differently),
//    channel count, sample rates and, for LPCM, sample sizes.
// Files marked not well-defined in SOURCES.md (a case where the reading of
// the bytes is the implementer's choice) are only decoded, for not crashing.
#include "core/edid/edid_decode_tool.h"
#include "edid/edid_decoder.h"
#include "edid/edid_file.h"
#include "edid/edid_tables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace mc {
namespace {

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(MC_TEST_DATA_DIR) / "edid-samples";

// edid-decode's report of one file; nothing when edid-decode itself fails on
// it (the packaged version crashes on one sample).
std::optional<std::string> runEdidDecode(const std::string& program, const fs::path& file) {
    // Sample names hold only letters, digits, dots and dashes.
    test::ToolOutput run = test::runEdidDecode(program, {"-s"}, file);
    if (run.status != 0 || run.out.empty()) {
        return std::nullopt;
    }
    return std::move(run.out);
}

// SOURCES.md rows: | file | path | bytes | yes or **no** | features |
std::map<std::string, bool> wellDefinedFiles() {
    std::map<std::string, bool> files;
    std::ifstream in(kSamples / "SOURCES.md");
    const std::regex row(R"(^\| (\S+\.bin) \|[^|]*\|[^|]*\| (yes|\*\*no\*\*) \|)");
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, row)) {
            files[m[1]] = m[2] == "yes";
        }
    }
    return files;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        out.push_back(line);
    }
    return out;
}

std::size_t indent(const std::string& line) {
    return line.find_first_not_of(' ');
}

// The lines of edid-decode's first section with this title, up to the next
// line indented no deeper than the title.
std::vector<std::string> section(const std::vector<std::string>& output, const std::string& title) {
    std::vector<std::string> body;
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (output[i].find_first_not_of(' ') == std::string::npos || output[i].substr(indent(output[i])) != title) {
            continue;
        }
        const std::size_t depth = indent(output[i]);
        for (++i; i < output.size() && !output[i].empty() && indent(output[i]) > depth; ++i) {
            body.push_back(output[i]);
        }
        break;
    }
    return body;
}

struct Timing {
    int width = 0;
    int height = 0;
    bool interlaced = false;
    int refresh = 0;
};

std::vector<Timing> edidDecodeBaseTimings(const std::vector<std::string>& output) {
    std::vector<Timing> timings;
    const std::regex dtd(R"(^\s+DTD \d+:\s+(\d+)x(\d+)(i?)\s+([0-9.]+) Hz)");
    std::smatch m;
    for (const std::string& line : output) {
        if (line.rfind("Block 1", 0) == 0) {
            break;
        }
        if (std::regex_search(line, m, dtd)) {
            timings.push_back(
                {std::stoi(m[1]), std::stoi(m[2]), m[3] == "i", static_cast<int>(std::floor(std::stod(m[4]) + 0.5))});
        }
    }
    return timings;
}

Timing ourTiming(const std::string& line) {
    const std::regex re(R"(:(\d+)x(\d+)(i?)@(\d+)Hz ?$)");
    std::smatch m;
    Timing t;
    if (std::regex_search(line, m, re)) {
        t = {std::stoi(m[1]), std::stoi(m[2]), m[3] == "i", std::stoi(m[4])};
    }
    return t;
}

void expectSameTiming(const Timing& ours, const Timing& theirs, const std::string& what) {
    EXPECT_EQ(ours.width, theirs.width) << what;
    EXPECT_EQ(ours.height, theirs.height) << what;
    EXPECT_EQ(ours.interlaced, theirs.interlaced) << what;
    EXPECT_EQ(ours.refresh, theirs.refresh) << what;
}

struct AudioDescriptor {
    std::string format;
    int channels = 0;
    std::set<std::string> rates;
    std::set<std::string> sizes;
};

std::vector<AudioDescriptor> ourAudio(const std::string& report) {
    std::vector<AudioDescriptor> out;
    bool inSizes = false;
    for (const std::string& line : lines(report)) {
        if (line.rfind("Audio Format:", 0) == 0) {
            out.push_back({line.substr(13), 0, {}, {}});
            inSizes = false;
        } else if (out.empty() || line.empty()) {
            continue;
        } else if (line.rfind("Audio Channel(s):", 0) == 0) {
            out.back().channels = std::stoi(line.substr(17));
        } else if (line == "Sample Bit:") {
            inSizes = true;
        } else if (line.find("KHz") != std::string::npos && !inSizes) {
            out.back().rates.insert(line);
        } else if (inSizes) {
            out.back().sizes.insert(line);
        }
    }
    return out;
}

std::vector<AudioDescriptor> edidDecodeAudio(const std::vector<std::string>& output) {
    // edid-decode's names for format codes 1 to 14, and its rate and size texts.
    static const std::map<std::string, unsigned> codes = {{"Linear PCM", 1},
                                                          {"AC-3", 2},
                                                          {"MPEG 1 (Layers 1 & 2)", 3},
                                                          {"MPEG 1 Layer 3 (MP3)", 4},
                                                          {"MPEG2 (multichannel)", 5},
                                                          {"AAC LC", 6},
                                                          {"DTS", 7},
                                                          {"ATRAC", 8},
                                                          {"One Bit Audio", 9},
                                                          {"Enhanced AC-3 (DD+)", 10},
                                                          {"DTS-HD", 11},
                                                          {"MAT (MLP)", 12},
                                                          {"DST", 13},
                                                          {"WMA Pro", 14}};
    static const std::map<std::string, std::string> rates = {
        {"32", "32KHz"}, {"44.1", "44.1KHz"}, {"48", "48KHz"},  {"88.2", "88KHz"},
        {"96", "96KHz"}, {"176.4", "176KHz"}, {"192", "192KHz"}};
    std::vector<AudioDescriptor> out;
    for (const std::string& line : section(output, "Audio Data Block:")) {
        const std::string text = line.substr(indent(line));
        if (indent(line) == 4) {
            const std::string name = text.substr(0, text.size() - (text.back() == ':' ? 1 : 0));
            const auto code = codes.find(name);
            // Not comparable: the format is left empty and the descriptor skipped.
            out.push_back({code != codes.end() ? std::string(edid::audioFormatName(code->second)) : "", 0, {}, {}});
        } else if (!out.empty() && text.rfind("Max channels: ", 0) == 0) {
            out.back().channels = std::stoi(text.substr(14));
        } else if (!out.empty() && text.rfind("Supported sample rates (kHz):", 0) == 0) {
            std::stringstream list(text.substr(29));
            std::string rate;
            while (list >> rate) {
                out.back().rates.insert(rates.count(rate) != 0 ? rates.at(rate) : rate);
            }
        } else if (!out.empty() && text.rfind("Supported sample sizes (bits):", 0) == 0) {
            std::stringstream list(text.substr(30));
            std::string size;
            while (list >> size) {
                out.back().sizes.insert(size + "Bit ");
            }
        }
    }
    return out;
}

struct Compared {
    int files = 0;
    int identities = 0;
    int timings = 0;
    int vicLists = 0;
    int audioDescriptors = 0;
};

void crossCheck(const EdidImage& image, const std::string& output, const EdidReports& reports, Compared& compared) {
    const std::vector<std::string> theirs = lines(output);
    const std::vector<std::string> general = lines(reports.general);

    // Identity.
    // The first letter's code is 6 bits wide here and 5 bits in edid-decode:
    // the same only while bit 7 of byte 8 is clear.
    const bool sameManufacturerBits = (image[8] & 0x80U) == 0;
    const std::regex manufacturer(R"(^\s+Manufacturer: ([A-Z]{3})$)");
    const std::regex model(R"(^\s+Model: (\d+)$)");
    std::smatch m;
    for (const std::string& line : theirs) {
        if (sameManufacturerBits && std::regex_search(line, m, manufacturer)) {
            EXPECT_EQ(general.at(1), "Manufacture's Name:" + m[1].str());
            ++compared.identities;
        } else if (std::regex_search(line, m, model)) {
            EXPECT_EQ(general.at(2), "Product Code:" + m[1].str());
        }
    }

    // Base-block timings: edid-decode numbers every descriptor with a
    // non-zero clock; this decoder lists those whose two clock bytes are both
    // non-zero after the preferred one.
    const std::vector<Timing> decoded = edidDecodeBaseTimings(theirs);
    const std::vector<std::string> video = lines(reports.video);
    std::size_t next = 0;
    std::size_t ourLine = 1;
    for (const std::size_t start : {54, 72, 90, 108}) {
        if (image[start] == 0 && image[start + 1] == 0) {
            continue;
        }
        ASSERT_LT(next, decoded.size()) << "descriptor at " << start;
        const Timing& timing = decoded[next++];
        if (start == 54) {
            expectSameTiming(ourTiming(video.at(0)), timing, "preferred timing");
            ++compared.timings;
        } else if (image[start] != 0 && image[start + 1] != 0) {
            ASSERT_LT(ourLine, video.size());
            ASSERT_EQ(video[ourLine].rfind("Detailed Timing:", 0), 0U) << video[ourLine];
            expectSameTiming(ourTiming(video[ourLine++]), timing, "timing at " + std::to_string(start));
            ++compared.timings;
        }
    }

    const bool cea = image[126] != 0 && image[128] == 2;
    if (!cea) {
        return;
    }

    // VIC list of the first data block. With a timing offset of 4 or less
    // the extension has no data blocks to edid-decode.
    if ((image[132] >> 5U) == 2 && image[130] > 4) {
        std::vector<std::string> expected;
        bool comparable = true;
        // Also matches "Unknown (VIC 226)".
        const std::regex vic(R"(\bVIC\s+(\d+)\b.*?( \(native\))?$)");
        for (const std::string& line : section(theirs, "Video Data Block:")) {
            if (!std::regex_search(line, m, vic)) {
                continue;
            }
            const int code = std::stoi(m[1]);
            // Codes from 193 on are plain VICs to edid-decode but a native
            // mark and a 7-bit code to this decoder: not the same quantity.
            comparable = comparable && code < 193;
            const std::string_view name = edid::vicName(static_cast<unsigned>(code));
            if (!name.empty()) {
                expected.push_back(std::string(name) + (m[2].matched ? "  Native" : ""));
            }
        }
        if (comparable) {
            const auto header = std::find(video.begin(), video.end(), "Short Video Descripter");
            ASSERT_NE(header, video.end());
            EXPECT_EQ(std::vector<std::string>(header + 1, video.end()), expected);
            ++compared.vicLists;
        }
    }

    // Short audio descriptors.
    const std::vector<AudioDescriptor> theirAudio = edidDecodeAudio(theirs);
    const std::vector<AudioDescriptor> ourAudioDescriptors = ourAudio(reports.audio);
    ASSERT_GE(ourAudioDescriptors.size(), theirAudio.size());
    for (std::size_t i = 0; i < theirAudio.size(); ++i) {
        const AudioDescriptor& a = theirAudio[i];
        const AudioDescriptor& b = ourAudioDescriptors[i];
        if (a.format.empty()) {
            continue;
        }
        SCOPED_TRACE("audio descriptor " + std::to_string(i + 1));
        EXPECT_EQ(b.format, a.format);
        EXPECT_EQ(b.channels, a.channels);
        EXPECT_EQ(b.rates, a.rates);
        if (a.format == "LPCM.") {
            EXPECT_EQ(b.sizes, a.sizes);
        }
        ++compared.audioDescriptors;
    }
}

TEST(EdidCrossCheck, agreesWithEdidDecodeOnEveryWellDefinedSample) {
    const std::string program = test::findEdidDecode();
    if (program.empty()) {
        const char* required = std::getenv(test::kRequireEdidDecodeEnv);
        ASSERT_FALSE(required != nullptr && *required != '\0') << "edid-decode is not installed";
        GTEST_SKIP() << "edid-decode is not installed; install the Debian package edid-decode to run the cross-check";
    }
    const std::map<std::string, bool> files = wellDefinedFiles();
    ASSERT_EQ(files.size(), 400U) << "SOURCES.md rows";

    Compared compared;
    int skipped = 0;
    std::vector<std::string> failedReference;
    for (const auto& [name, wellDefined] : files) {
        SCOPED_TRACE(name);
        const auto image = readEdidFile((kSamples / name).string());
        ASSERT_TRUE(image.has_value());
        const EdidReports reports = decodeEdid(*image);
        if (!wellDefined) {
            ++skipped;
            continue;
        }
        const auto output = runEdidDecode(program, kSamples / name);
        if (!output) {
            failedReference.push_back(name);
            continue;
        }
        ++compared.files;
        crossCheck(*image, *output, reports, compared);
    }
    std::printf("compared %d files (%d not well-defined, decoded only): %d identities, %d timings, %d VIC lists, "
                "%d audio descriptors\n",
                compared.files, skipped, compared.identities, compared.timings, compared.vicLists,
                compared.audioDescriptors);
    for (const std::string& name : failedReference) {
        std::printf("not compared, edid-decode fails on it: %s\n", name.c_str());
    }
    EXPECT_LE(failedReference.size(), 2U);
    EXPECT_GT(compared.vicLists, 200);
    EXPECT_GT(compared.audioDescriptors, 300);
}

} // namespace
} // namespace mc

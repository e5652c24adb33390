// The EDID check against Debian's `edid-decode --check`, over every sample
// EDID and one mutation of each (a flipped checksum, a wrong extension count,
// a CTA data block running past the data block collection, a truncated
// file, in turn):
//  - every EDID in which edid-decode finds a checksum or structure failure
//    (or that it refuses to read) gets at least one finding from the check;
//  - an EDID edid-decode passes gets no finding at all;
//  - an EDID with only other failures (conformance of values: timings out of
//    range, image sizes, missing blocks, ...) gets no error;
//  - each mutation gets the error naming what was broken, at its byte.
// Where the two disagree on purpose (kIntendedDisagreements, each checked to
// still disagree): edid-decode reads a file as the whole EDID, the check
// reads an EDID in the 256 bytes the switcher stores and sends.
// edid-decode's failures that count as checksum or structure are those of
// kStructureFailures. Its vendor-specific payload rules other than the HDMI
// and HDMI Forum blocks are not structure here (the check does not read
// other vendors' payloads).
#include "core/edid/edid_decode_tool.h"
#include "edid/edid_check.h"
#include "edid/edid_file.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <numeric>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mc {
namespace {

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(MC_TEST_DATA_DIR) / "edid-samples";

// edid-decode failure texts that say the checksum or the structure is broken.
const std::vector<std::regex>& structureFailures() {
    static const std::vector<std::regex> patterns = [] {
        std::vector<std::regex> out;
        for (const char* text : {
                 R"(Invalid checksum)",
                 R"(EDID specified \d+ extension block\(s\), but found)",
                 R"(Offset is \d+, but should be \d+)",
                 R"(Broken CTA-861 audio block length)",
                 R"(Empty Data Block with length)",
                 R"(is not enough to contain an OUI)",
                 R"(Extended tag cannot have zero length)",
                 R"(Unknown (EDID )?Extension Block)",
                 R"(Manufacturer name field contains garbage)",
                 R"(Missing preferred timing)",
                 R"(Non-space after newline)",
                 R"(Dummy block filled with garbage)",
                 R"(Monitor descriptor block has byte \d nonzero)",
                 R"(CTA-861 padding contains non-zero bytes)",
                 R"(There are more Native DTDs)",
             }) {
            out.emplace_back(text);
        }
        return out;
    }();
    return patterns;
}

// What edid-decode made of one file.
struct Reference {
    enum class Outcome { passed, failed, refused, crashed };
    Outcome outcome = Outcome::crashed;
    std::vector<std::string> failures;

    [[nodiscard]] bool structural() const {
        if (outcome == Outcome::refused) {
            return true;
        }
        return std::any_of(failures.begin(), failures.end(), [](const std::string& failure) {
            return std::any_of(structureFailures().begin(), structureFailures().end(),
                               [&](const std::regex& re) { return std::regex_search(failure, re); });
        });
    }
};

// Exit status 0 passes, 254 fails the conformity check, 255 refuses the
// input (no header, a length not a whole number of blocks).
Reference reference(const std::string& program, const fs::path& file) {
    const test::ToolOutput run = test::runEdidDecode(program, {"--check", "-s"}, file);
    Reference ref;
    if (run.status < 0) {
        return ref;
    }
    ref.outcome = run.status == 0     ? Reference::Outcome::passed
                  : run.status == 255 ? Reference::Outcome::refused
                                      : Reference::Outcome::failed;
    const std::size_t start = run.out.find("\nFailures:\n");
    if (start != std::string::npos) {
        std::istringstream lines(run.out.substr(start + 11));
        std::string line;
        while (std::getline(lines, line) && line.rfind("EDID conformity", 0) != 0) {
            if (line.rfind("  ", 0) == 0) {
                ref.failures.push_back(line.substr(2));
            }
        }
    }
    return ref;
}

std::vector<std::uint8_t> readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void fixChecksum(std::vector<std::uint8_t>& bytes, std::size_t block) {
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(block * kEdidBlockBytes);
    const unsigned sum = std::accumulate(first, first + kEdidBlockBytes - 1, 0U);
    bytes[block * kEdidBlockBytes + kEdidBlockBytes - 1] = static_cast<std::uint8_t>(256U - (sum & 0xFFU));
}

// A mutated EDID with the error the check must report: its byte and a word
// of its text.
struct Mutation {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
    std::string text;
};

// The header of the last data block of the first CTA extension whose length
// can grow by one, so that the block ends one byte past the collection.
std::optional<std::size_t> lastGrowableDataBlock(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < 2 * kEdidBlockBytes || bytes[128] != 2 || bytes[129] < 3 || bytes[130] <= 4) {
        return std::nullopt;
    }
    const std::size_t end = 128U + bytes[130];
    std::size_t pos = 132;
    std::optional<std::size_t> last;
    while (pos < end) {
        last = pos;
        pos += 1 + (bytes[pos] & 0x1FU);
    }
    if (!last || pos != end || (bytes[*last] & 0x1FU) == 0x1FU) {
        return std::nullopt;
    }
    return last;
}

Mutation mutate(const std::string& name, std::vector<std::uint8_t> bytes, std::size_t kind) {
    const std::size_t blocks = bytes.size() / kEdidBlockBytes;
    for (std::size_t attempt = 0; attempt < 4; ++attempt, kind = (kind + 1) % 4) {
        if (kind == 0) {
            const std::size_t block = name.size() % blocks;
            const std::size_t at = block * kEdidBlockBytes + kEdidBlockBytes - 1;
            bytes[at] ^= 0x5A;
            return {name + ".checksum", bytes, at, "checksum of block " + std::to_string(block)};
        }
        if (kind == 1) {
            bytes[126] = static_cast<std::uint8_t>(bytes[126] + 1);
            fixChecksum(bytes, 0);
            return {name + ".count", bytes, 126, "extension count"};
        }
        if (kind == 2) {
            const auto header = lastGrowableDataBlock(bytes);
            if (!header) {
                continue;
            }
            bytes[*header] = static_cast<std::uint8_t>(bytes[*header] + 1);
            fixChecksum(bytes, 1);
            return {name + ".datablock", bytes, *header, "runs past the end of the data block collection"};
        }
        // A file cut 28 bytes short of its last block.
        bytes.resize(bytes.size() - 28);
        return {name + ".truncated", bytes, blocks == 1 ? bytes.size() : (blocks - 1) * kEdidBlockBytes,
                blocks == 1 ? "shorter" : "whole number"};
    }
    return {};
}

struct Case {
    std::string name;
    std::vector<std::uint8_t> bytes;
    fs::path file;
    std::optional<Mutation> mutation;
    Reference ref;
};

// edid-decode over every case, a few at a time: it is started once per file.
void runReference(const std::string& program, std::vector<Case>& cases) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&] {
            for (std::size_t k = next++; k < cases.size(); k = next++) {
                cases[k].ref = reference(program, cases[k].file);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

std::string describe(const EdidFindings& findings) {
    std::string out;
    for (const EdidFinding& f : findings) {
        out += "\n    " + formatEdidFinding(f);
    }
    return out;
}

TEST(EdidCheckCrossCheck, flagsWhatEdidDecodeFindsBrokenAndNothingItPasses) {
    const std::string program = test::findEdidDecode();
    if (program.empty()) {
        const char* required = std::getenv(test::kRequireEdidDecodeEnv);
        ASSERT_FALSE(required != nullptr && *required != '\0') << "edid-decode is not installed";
        GTEST_SKIP() << "edid-decode is not installed; install the Debian package edid-decode to run the cross-check";
    }
    const fs::path scratch = fs::temp_directory_path() / ("edid-check-crosscheck-" + std::to_string(::getpid()));
    fs::create_directories(scratch);

    std::vector<Case> cases;
    std::vector<fs::path> samples;
    for (const auto& entry : fs::directory_iterator(kSamples)) {
        if (entry.path().extension() == ".bin") {
            samples.push_back(entry.path());
        }
    }
    std::sort(samples.begin(), samples.end());
    ASSERT_EQ(samples.size(), 400U);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::string name = samples[i].filename().string();
        std::vector<std::uint8_t> bytes = readAll(samples[i]);
        Mutation mutation = mutate(name, bytes, i % 4);
        ASSERT_FALSE(mutation.name.empty()) << name;
        const fs::path file = scratch / mutation.name;
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(mutation.bytes.data()),
                   static_cast<std::streamsize>(mutation.bytes.size()));
        cases.push_back({name, std::move(bytes), samples[i], std::nullopt, {}});
        cases.push_back({mutation.name, mutation.bytes, file, std::move(mutation), {}});
    }
    runReference(program, cases);
    fs::remove_all(scratch);

    std::map<std::string, int> counts;
    std::vector<std::string> crashed;
    std::map<std::string, std::string> disagreements;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EdidFindings findings = checkEdid(c.bytes);
        const Reference& ref = c.ref;
        if (ref.outcome == Reference::Outcome::crashed) {
            crashed.push_back(c.name);
            continue;
        }
        ++counts[c.mutation ? "mutations" : "samples"];
        if (c.mutation) {
            const Mutation& m = *c.mutation;
            const bool named = std::any_of(findings.begin(), findings.end(), [&](const EdidFinding& f) {
                return f.severity == EdidSeverity::error && f.offset == m.offset &&
                       f.text.find(m.text) != std::string::npos;
            });
            EXPECT_TRUE(named) << "expected an error at byte " << m.offset << " about \"" << m.text
                               << "\":" << describe(findings);
        }
        if (ref.structural()) {
            ++counts["edid-decode: checksum or structure failure"];
            EXPECT_FALSE(findings.empty()) << "edid-decode finds broken, the check finds nothing";
        } else if (ref.outcome == Reference::Outcome::passed) {
            ++counts["edid-decode: passed"];
            EXPECT_TRUE(findings.empty()) << "edid-decode passes it:" << describe(findings);
        } else {
            ++counts["edid-decode: other failures only"];
            if (hasEdidErrors(findings)) {
                disagreements[c.name] = describe(findings);
            }
        }
    }
    for (const auto& [what, count] : counts) {
        std::printf("%s: %d\n", what.c_str(), count);
    }
    for (const std::string& name : crashed) {
        std::printf("not compared, edid-decode crashes on it: %s\n", name.c_str());
    }
    for (const auto& [name, text] : disagreements) {
        ADD_FAILURE() << name << ": errors where edid-decode finds no checksum or structure failure:" << text;
    }
    EXPECT_LE(crashed.size(), 2U);
    EXPECT_EQ(counts["samples"] + counts["mutations"] + static_cast<int>(crashed.size()), 800);
}

// A case where edid-decode finds a structure failure and the check, on
// purpose, finds nothing.
struct Disagreement {
    const char* name;
    const char* reason;
    std::vector<std::uint8_t> (*make)(std::vector<std::uint8_t> base);
};

const std::vector<Disagreement> kIntendedDisagreements = {
    {"a 128-byte EDID followed by a block of 0xFF",
     "the switcher stores and sends 256 bytes, and a 128-byte file is uploaded filled up with 0xFF: the block after "
     "the counted ones is fill, not an extension",
     [](std::vector<std::uint8_t> b) {
         b.resize(2 * kEdidBlockBytes, 0xFF);
         return b;
     }},
    {"a 128-byte EDID followed by a block of zeros", "the same fill, as some displays send it",
     [](std::vector<std::uint8_t> b) {
         b.resize(2 * kEdidBlockBytes, 0x00);
         return b;
     }},
    {"a manufacturer-specific extension (tag 0xFF) with a sound checksum",
     "tag 0xFF is assigned to manufacturer-specific extensions; its content is the manufacturer's own, so there is "
     "nothing malformed to report",
     [](std::vector<std::uint8_t> b) {
         b[126] = 1;
         fixChecksum(b, 0);
         b.resize(2 * kEdidBlockBytes, 0x00);
         b[128] = 0xFF;
         fixChecksum(b, 1);
         return b;
     }},
};

TEST(EdidCheckCrossCheck, intendedDisagreementsStillDisagree) {
    const std::string program = test::findEdidDecode();
    if (program.empty()) {
        GTEST_SKIP() << "edid-decode is not installed";
    }
    // A sound 128-byte EDID that edid-decode passes.
    const std::vector<std::uint8_t> base = readAll(kSamples / "156-hannstar-hsd631b.bin");
    ASSERT_EQ(base.size(), kEdidBlockBytes);
    const fs::path file = fs::temp_directory_path() / ("edid-check-disagreement-" + std::to_string(::getpid()));
    for (const Disagreement& d : kIntendedDisagreements) {
        SCOPED_TRACE(d.name);
        const std::vector<std::uint8_t> bytes = d.make(base);
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(reference(program, file).structural()) << "edid-decode agrees now";
        EXPECT_EQ(describe(checkEdid(bytes)), "");
        std::printf("intended disagreement: %s: %s\n", d.name, d.reason);
    }
    fs::remove(file);
}

} // namespace
} // namespace mc

// The EDID check on sound EDIDs, on every kind of damage it names (with its
// byte and wording), and on any truncation or single changed byte.
#include "edid/edid_check.h"
#include "edid/edid_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <vector>

namespace mc {
namespace {

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(MC_TEST_DATA_DIR) / "edid-samples";

// A 4K TV: HDMI and HDMI Forum blocks, audio, speakers, extended blocks.
constexpr const char* kTv = "034-mi-xmi27a1.bin";
// A 128-byte EDID 1.3 monitor.
constexpr const char* kMonitor = "156-hannstar-hsd631b.bin";

std::vector<std::uint8_t> sample(const char* name) {
    const auto bytes = readRegularFile((kSamples / name).string(), kMaxEdidBytes);
    return bytes.value_or(std::vector<std::uint8_t>{});
}

void fixChecksum(std::vector<std::uint8_t>& b, std::size_t block) {
    const auto first = b.begin() + static_cast<std::ptrdiff_t>(block * kEdidBlockBytes);
    const unsigned sum = std::accumulate(first, first + kEdidBlockBytes - 1, 0U);
    b[block * kEdidBlockBytes + 127] = static_cast<std::uint8_t>(256U - (sum & 0xFFU));
}

// The one finding, with both checksums set right again where the test
// changed bytes.
EdidFindings checkFixed(std::vector<std::uint8_t> b) {
    for (std::size_t block = 0; block < b.size() / kEdidBlockBytes; ++block) {
        fixChecksum(b, block);
    }
    return checkEdid(b);
}

} // namespace

// Failures show the finding as the tools print it.
void PrintTo(const EdidFinding& finding, std::ostream* out) {
    *out << formatEdidFinding(finding);
}

namespace {

EdidFinding error(std::size_t offset, std::string text) {
    return {EdidSeverity::error, offset, std::move(text)};
}

EdidFinding warning(std::size_t offset, std::string text) {
    return {EdidSeverity::warning, offset, std::move(text)};
}

// Offset of the first data block with this tag in the TV's extension.
std::size_t dataBlock(const std::vector<std::uint8_t>& b, unsigned tag) {
    for (std::size_t pos = 132; pos < 128U + b[130]; pos += 1 + (b[pos] & 0x1FU)) {
        if ((b[pos] >> 5U) == tag) {
            return pos;
        }
    }
    return 0;
}

TEST(EdidCheck, soundEdidsHaveNoFindings) {
    for (const char* name : {kTv, kMonitor, "190-apple-appa034.bin", "339-vizio-viz1039.bin"}) {
        const auto b = sample(name);
        ASSERT_FALSE(b.empty()) << name;
        EXPECT_EQ(checkEdid(b), EdidFindings{}) << name;
    }
}

TEST(EdidCheck, checksumFindingSaysWhatItIsAndWhatItShouldBe) {
    auto b = sample(kTv);
    const std::uint8_t right = b[255];
    b[255] = static_cast<std::uint8_t>(right - 1);
    char text[64];
    std::snprintf(text, sizeof text, "checksum of block 1 is 0x%02X, should be 0x%02X", b[255], right);
    EXPECT_EQ(checkEdid(b), (EdidFindings{error(255, text)}));
    EXPECT_EQ(formatEdidFinding(checkEdid(b).at(0)), std::string("error at byte 255: ") + text);
}

TEST(EdidCheck, anySingleChangedByteIsAnError) {
    const auto sound = sample(kTv);
    for (std::size_t i = 0; i < sound.size(); ++i) {
        auto b = sound;
        b[i] ^= 0x10;
        EXPECT_TRUE(hasEdidErrors(checkEdid(b))) << "byte " << i;
    }
}

TEST(EdidCheck, everyTruncationIsAnErrorAndNothingPastTheDataIsRead) {
    const auto sound = sample(kTv);
    for (std::size_t n = 0; n < sound.size(); ++n) {
        // Exactly n bytes on the heap: AddressSanitizer sees any read past them.
        const std::vector<std::uint8_t> cut(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_TRUE(hasEdidErrors(checkEdid(cut))) << n << " bytes";
    }
    EXPECT_EQ(checkEdid(std::vector<std::uint8_t>(200, 0x00)).front(),
              error(1, "the header (bytes 0 to 7) is 00 00 00 00 00 00 00 00, should be 00 FF FF FF FF FF FF 00"));
    EXPECT_EQ(checkEdid({}), (EdidFindings{error(0, "there is no EDID: the data is empty")}));
}

TEST(EdidCheck, sizeAndExtensionCount) {
    auto tv = sample(kTv);
    auto monitor = sample(kMonitor);

    auto partial = tv;
    partial.resize(200);
    EXPECT_EQ(checkEdid(partial),
              (EdidFindings{error(126, "the extension count (byte 126) is 1, but only 0 extension blocks follow"),
                            error(128, "the data is 200 bytes long, not a whole number of 128-byte blocks: the "
                                       "last block has only 72 bytes")}));

    auto more = tv;
    more[126] = 3;
    EXPECT_EQ(checkFixed(more),
              (EdidFindings{error(126, "the extension count (byte 126) is 3, but only 1 extension block follows")}));

    // Fill after the counted blocks is no finding; data there is a warning.
    auto filled = monitor;
    filled.resize(256, 0xFF);
    EXPECT_EQ(checkEdid(filled), EdidFindings{});
    auto uncounted = tv;
    uncounted[126] = 0;
    EXPECT_EQ(checkFixed(uncounted),
              (EdidFindings{warning(128, "the extension count (byte 126) is 0, but block 1 holds data; it is not "
                                         "part of the EDID")}));

    const EdidFindings huge = checkEdid(std::vector<std::uint8_t>(kMaxEdidBytes + 1, 0xFF));
    EXPECT_EQ(huge.front().offset, 0U);
    EXPECT_TRUE(std::any_of(huge.begin(), huge.end(), [](const EdidFinding& f) {
        return f.offset == kMaxEdidBytes && f.text.find("more than the 256 blocks") != std::string::npos;
    }));
}

TEST(EdidCheck, headerManufacturerAndExtensionTag) {
    auto b = sample(kTv);
    b[3] = 0x7F;
    EXPECT_EQ(checkFixed(b), (EdidFindings{error(3, "the header (bytes 0 to 7) is 00 FF FF 7F FF FF FF 00, should "
                                                    "be 00 FF FF FF FF FF FF 00")}));

    b = sample(kTv);
    // "A", code 0, "Z" with the reserved bit set.
    const unsigned word = 0x8000U | (1U << 10U) | (0U << 5U) | 26U;
    b[8] = static_cast<std::uint8_t>(word >> 8U);
    b[9] = static_cast<std::uint8_t>(word);
    EXPECT_EQ(checkFixed(b),
              (EdidFindings{warning(8, "the manufacturer ID (bytes 8 and 9) has its reserved top bit set"),
                            error(8, "letter 2 of the manufacturer ID (bytes 8 and 9) has code 0; only 1 to 26 (A "
                                     "to Z) name a letter")}));

    b = sample(kTv);
    b[128] = 0x33;
    EXPECT_EQ(checkFixed(b),
              (EdidFindings{warning(128, "block 1 has the extension tag 0x33, which names no extension")}));
    // Known extensions other than CTA-861 are not looked into.
    b[128] = 0x70;
    EXPECT_EQ(checkFixed(b), EdidFindings{});
}

TEST(EdidCheck, ctaTimingOffsetAndDataBlockCollection) {
    const auto tv = sample(kTv);
    auto b = tv;
    b[130] = 2;
    EXPECT_EQ(
        checkFixed(b),
        (EdidFindings{error(130, "the timing descriptor offset of block 1 (byte 130) is 2; it must be 4 to 127")}));

    // The last data block one byte longer: it runs into the timings.
    b = tv;
    std::size_t last = 132;
    for (std::size_t pos = 132; pos < 128U + b[130]; pos += 1 + (b[pos] & 0x1FU)) {
        last = pos;
    }
    b[last] = static_cast<std::uint8_t>(b[last] + 1);
    const EdidFindings past = checkFixed(b);
    ASSERT_EQ(past.size(), 1U);
    EXPECT_EQ(past[0].offset, last);
    EXPECT_NE(
        past[0].text.find("runs past the end of the data block collection at byte " + std::to_string(128 + b[130])),
        std::string::npos);

    // Offset 0: no data blocks, so nothing in bytes 4 on is read as one.
    b = tv;
    b[130] = 0;
    b[132] = 0xFF;
    EXPECT_EQ(checkFixed(b), EdidFindings{});
}

TEST(EdidCheck, dataBlockLengthsThatDoNotFitTheirType) {
    const auto tv = sample(kTv);
    // Each block shortened in place: the header says fewer bytes, and the
    // freed bytes become zero-length reserved blocks (one warning for them).
    const auto shorten = [&](unsigned tag, std::size_t length) {
        auto b = tv;
        const std::size_t pos = dataBlock(b, tag);
        const std::size_t old = b[pos] & 0x1FU;
        if (pos == 0 || length >= old) {
            return std::string("(cannot shorten)");
        }
        b[pos] = static_cast<std::uint8_t>((tag << 5U) | length);
        std::fill(b.begin() + static_cast<std::ptrdiff_t>(pos + 1 + length),
                  b.begin() + static_cast<std::ptrdiff_t>(pos + 1 + old), 0);
        const EdidFindings found = checkFixed(b);
        return found.empty() || found[0].offset != pos ? std::string("(none at the block)") : found[0].text;
    };
    const std::size_t audio = dataBlock(tv, 1);
    const std::size_t vendor = dataBlock(tv, 3);
    const std::size_t speaker = dataBlock(tv, 4);
    const std::size_t extended = dataBlock(tv, 7);
    ASSERT_TRUE(audio != 0 && vendor != 0 && speaker != 0 && extended != 0);
    EXPECT_EQ(shorten(1, 2), "the audio data block at byte " + std::to_string(audio) +
                                 " is 2 bytes long, not a whole number of 3-byte audio descriptors");
    EXPECT_EQ(shorten(3, 2), "the vendor-specific data block at byte " + std::to_string(vendor) +
                                 " is 2 bytes long, too short for its IEEE OUI (3 bytes)");
    EXPECT_EQ(shorten(3, 4), "the HDMI vendor-specific data block at byte " + std::to_string(vendor) +
                                 " is 4 bytes long, too short for its OUI and physical address (5 bytes)");
    EXPECT_EQ(shorten(4, 0), "the speaker allocation data block at byte " + std::to_string(speaker) +
                                 " is 0 bytes long, too short for its speaker bits (3 bytes)");
    EXPECT_EQ(shorten(7, 0),
              "the extended data block at byte " + std::to_string(extended) + " is empty: it has no extended tag");
}

TEST(EdidCheck, descriptors) {
    const auto monitor = sample(kMonitor);
    ASSERT_EQ(monitor[18], 1);
    ASSERT_EQ(monitor[19], 3);

    // EDID 1.3: the first descriptor must be a timing.
    auto b = monitor;
    b[54] = b[55] = 0;
    const EdidFindings first = checkFixed(b);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first[0], error(54, "the first descriptor (byte 54) has a pixel clock of 0; from EDID 1.3 on it must "
                                  "be the preferred detailed timing"));
    b[19] = 2;
    EXPECT_FALSE(hasEdidErrors(checkFixed(b)));

    // A display name padded with zeros after its line feed, one with a
    // control byte, a dummy descriptor with data.
    b = monitor;
    std::size_t name = 0;
    for (const std::size_t pos : {72U, 90U, 108U}) {
        name = b[pos] == 0 && b[pos + 1] == 0 && b[pos + 3] == 0xFC ? pos : name;
    }
    ASSERT_NE(name, 0U);
    const std::string text = "AB\n";
    std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(name + 5));
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(name + 8), b.begin() + static_cast<std::ptrdiff_t>(name + 18),
              0x20);
    EXPECT_EQ(checkFixed(b), EdidFindings{});
    b[name + 9] = 0x00;
    EXPECT_EQ(checkFixed(b), (EdidFindings{warning(name + 9, "display name at byte " + std::to_string(name) +
                                                                 ": byte " + std::to_string(name + 9) +
                                                                 " after the line feed is 0x00; the padding must be "
                                                                 "spaces (0x20)")}));
    b[name + 9] = 0x20;
    b[name + 6] = 0x01;
    EXPECT_EQ(checkFixed(b).at(0).severity, EdidSeverity::warning);
    b[name + 6] = 'B';
    b[name + 3] = 0x10;
    EXPECT_EQ(checkFixed(b), (EdidFindings{warning(name + 5, "dummy descriptor at byte " + std::to_string(name) +
                                                                 " is not all zeros")}));
}

TEST(EdidCheck, ctaPaddingAndNativeTimingCount) {
    auto b = sample(kTv);
    b[253] = 0x01;
    const EdidFindings padding = checkFixed(b);
    ASSERT_EQ(padding.size(), 1U);
    EXPECT_EQ(padding[0].severity, EdidSeverity::warning);
    EXPECT_EQ(padding[0].offset, 253U);

    b = sample(kTv);
    b[131] = static_cast<std::uint8_t>((b[131] & 0xF0U) | 0x0FU);
    const EdidFindings native = checkFixed(b);
    ASSERT_EQ(native.size(), 1U);
    EXPECT_EQ(native[0].offset, 131U);
    EXPECT_NE(native[0].text.find("15 of its detailed timings are native"), std::string::npos);
}

TEST(EdidCheck, summaryPutsErrorsFirstAndCountsTheRest) {
    const EdidFindings findings = {warning(8, "w1"), error(126, "e1"), warning(128, "w2"), error(255, "e2"),
                                   warning(300, "w3")};
    EXPECT_EQ(summariseEdidFindings(findings), "e1; e2; w1 (2 more)");
    EXPECT_EQ(summariseEdidFindings({error(255, "e2")}), "e2");
    EXPECT_EQ(summariseEdidFindings({}), "");
    EXPECT_TRUE(hasEdidErrors(findings));
    EXPECT_TRUE(hasEdidWarnings(findings));
    EXPECT_FALSE(hasEdidErrors({warning(1, "w")}));
    EXPECT_EQ(formatEdidFinding(warning(8, "w1")), "warning at byte 8: w1");
}

} // namespace
} // namespace mc

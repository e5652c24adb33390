#include "edid/edid_check.h"

#include "edid/edid_text.h"

#include <algorithm>
#include <array>
#include <cstdarg>

namespace mc {
namespace {

constexpr std::array<std::uint8_t, 8> kHeader = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::size_t kManufacturerByte = 8;
constexpr std::size_t kVersionByte = 18;
constexpr std::size_t kRevisionByte = 19;
constexpr std::size_t kExtensionCountByte = 126;
constexpr std::size_t kChecksumByte = 127;
constexpr std::array<std::size_t, 4> kBaseDescriptors = {54, 72, 90, 108};
constexpr std::size_t kDescriptorBytes = 18;
constexpr std::size_t kTextStart = 5;
constexpr std::size_t kTextBytes = 13;
constexpr std::uint8_t kTextEnd = 0x0A;
constexpr std::uint8_t kTextPad = 0x20;
constexpr std::size_t kSummaryFindings = 3;

// Display descriptor tags.
constexpr std::uint8_t kSerialTag = 0xFF;
constexpr std::uint8_t kStringTag = 0xFE;
constexpr std::uint8_t kRangeLimitsTag = 0xFD;
constexpr std::uint8_t kNameTag = 0xFC;
constexpr std::uint8_t kDummyTag = 0x10;

// Extension tags.
constexpr std::uint8_t kCtaTag = 0x02;
constexpr std::uint8_t kBlockMapTag = 0xF0;

// CTA-861 extension: header bytes, data block tags and what they must hold.
constexpr std::size_t kCtaHeaderBytes = 4;
constexpr std::size_t kCtaOffsetByte = 2;
constexpr std::size_t kCtaSupportByte = 3;
constexpr unsigned kFirstRevisionWithDataBlocks = 3;
constexpr unsigned kReservedTag = 0;
constexpr unsigned kAudioTag = 1;
constexpr unsigned kVendorTag = 3;
constexpr unsigned kSpeakerTag = 4;
constexpr unsigned kReservedTag6 = 6;
constexpr unsigned kExtendedTag = 7;
constexpr std::size_t kAudioDescriptorBytes = 3;
constexpr std::size_t kOuiBytes = 3;
constexpr std::size_t kSpeakerBytes = 3;
constexpr std::uint32_t kHdmiOui = 0x000C03;
constexpr std::size_t kHdmiMinBytes = 5; // OUI and the physical address
constexpr std::uint32_t kHdmiForumOui = 0xC45DD8;
constexpr std::size_t kHdmiForumMinBytes = 7; // OUI, version, TMDS rate, flags

struct ExtendedMinimum {
    std::uint8_t tag;
    std::size_t bytes; // the extended tag byte included
    const char* name;
};
constexpr std::array<ExtendedMinimum, 5> kExtendedMinimums = {{
    {0, 2, "video capability"},
    {1, 4, "vendor-specific video"},
    {5, 3, "colorimetry"},
    {6, 3, "HDR static metadata"},
    {17, 4, "vendor-specific audio"},
}};

const char* extensionName(std::uint8_t tag) {
    switch (tag) {
    case kCtaTag:
        return "CTA-861";
    case 0x10:
        return "video timing";
    case 0x20:
        return "EDID 2.0";
    case 0x40:
        return "display information";
    case 0x50:
        return "localized string";
    case 0x60:
        return "microdisplay interface";
    case 0x70:
        return "DisplayID";
    case kBlockMapTag:
        return "block map";
    case 0xFF:
        return "manufacturer-specific";
    default:
        return nullptr;
    }
}

const char* dataBlockName(unsigned tag) {
    static constexpr std::array<const char*, 8> names = {
        "reserved (tag 0)", "audio",   "video", "vendor-specific", "speaker allocation", "VESA display transfer",
        "reserved (tag 6)", "extended"};
    return names[tag & 7U];
}

const char* textName(std::uint8_t tag) {
    switch (tag) {
    case kSerialTag:
        return "serial number";
    case kStringTag:
        return "text";
    default:
        return "display name";
    }
}

class Checker {
public:
    explicit Checker(std::span<const std::uint8_t> bytes)
        : bytes_(bytes.first(std::min(bytes.size(), kMaxEdidBytes))), total_(bytes.size()) {}

    EdidFindings run() {
        if (!checkSize()) {
            return std::move(findings_);
        }
        checkHeader();
        checkManufacturer();
        const std::size_t blocks = checkExtensionCount();
        for (std::size_t block = 0; block < blocks; ++block) {
            checkChecksum(block);
        }
        checkBaseDescriptors();
        for (std::size_t block = 1; block < blocks; ++block) {
            checkExtension(block);
        }
        std::stable_sort(findings_.begin(), findings_.end(),
                         [](const EdidFinding& a, const EdidFinding& b) { return a.offset < b.offset; });
        return std::move(findings_);
    }

private:
    [[gnu::format(MC_PRINTF_FORMAT, 4, 5)]] void add(EdidSeverity severity, std::size_t offset, const char* format, ...) {
        EdidFinding finding{severity, offset, {}};
        std::va_list args;
        va_start(args, format);
        edid::appendFormatV(finding.text, format, args);
        va_end(args);
        findings_.push_back(std::move(finding));
    }

    [[nodiscard]] std::uint8_t at(std::size_t pos) const { return bytes_[pos]; }
    [[nodiscard]] bool allZero(std::size_t pos, std::size_t count) const {
        const auto part = bytes_.subspan(pos, count);
        return std::all_of(part.begin(), part.end(), [](std::uint8_t b) { return b == 0; });
    }

    // False when not even the base block is there: nothing else can be read.
    bool checkSize() {
        if (total_ > kMaxEdidBytes) {
            add(EdidSeverity::error, kMaxEdidBytes,
                "the data is %zu bytes long, more than the 256 blocks an EDID can have; only the first %zu bytes are "
                "checked",
                total_, kMaxEdidBytes);
        }
        if (bytes_.empty()) {
            add(EdidSeverity::error, 0, "there is no EDID: the data is empty");
            return false;
        }
        if (bytes_.size() < kEdidBlockBytes) {
            add(EdidSeverity::error, bytes_.size(), "the data is %zu bytes long, shorter than the 128-byte base block",
                bytes_.size());
            return false;
        }
        if (const std::size_t partial = bytes_.size() % kEdidBlockBytes; partial != 0) {
            add(EdidSeverity::error, bytes_.size() - partial,
                "the data is %zu bytes long, not a whole number of 128-byte blocks: the last block has only %zu "
                "bytes",
                bytes_.size(), partial);
        }
        return true;
    }

    void checkHeader() {
        const auto mismatch = std::mismatch(kHeader.begin(), kHeader.end(), bytes_.begin()).first;
        if (mismatch == kHeader.end()) {
            return;
        }
        std::string found;
        for (std::size_t i = 0; i < kHeader.size(); ++i) {
            edid::appendFormat(found, i == 0 ? "%02X" : " %02X", at(i));
        }
        add(EdidSeverity::error, static_cast<std::size_t>(mismatch - kHeader.begin()),
            "the header (bytes 0 to 7) is %s, should be 00 FF FF FF FF FF FF 00", found.c_str());
    }

    void checkManufacturer() {
        const unsigned word = (unsigned{at(kManufacturerByte)} << 8U) | at(kManufacturerByte + 1);
        if ((word & 0x8000U) != 0) {
            add(EdidSeverity::warning, kManufacturerByte,
                "the manufacturer ID (bytes 8 and 9) has its reserved top bit set");
        }
        const std::array<unsigned, 3> codes = {(word >> 10U) & 31U, (word >> 5U) & 31U, word & 31U};
        for (std::size_t i = 0; i < codes.size(); ++i) {
            if (codes[i] < 1 || codes[i] > 26) {
                add(EdidSeverity::error, kManufacturerByte,
                    "letter %zu of the manufacturer ID (bytes 8 and 9) has code %u; only 1 to 26 (A to Z) name a "
                    "letter",
                    i + 1, codes[i]);
            }
        }
    }

    // The number of blocks that make up the EDID and are all there.
    std::size_t checkExtensionCount() {
        const std::size_t whole = bytes_.size() / kEdidBlockBytes;
        const std::size_t count = at(kExtensionCountByte);
        if (count + 1 > whole) {
            add(EdidSeverity::error, kExtensionCountByte,
                "the extension count (byte 126) is %zu, but only %zu extension block%s follow%s", count, whole - 1,
                whole - 1 == 1 ? "" : "s", whole - 1 == 1 ? "s" : "");
            return whole;
        }
        for (std::size_t block = count + 1; block < whole; ++block) {
            const auto part = bytes_.subspan(block * kEdidBlockBytes, kEdidBlockBytes);
            const std::uint8_t fill = part.front();
            const bool isFill = (fill == 0x00 || fill == 0xFF) &&
                                std::all_of(part.begin(), part.end(), [fill](std::uint8_t b) { return b == fill; });
            if (!isFill) {
                add(EdidSeverity::warning, block * kEdidBlockBytes,
                    "the extension count (byte 126) is %zu, but block %zu holds data; it is not part of the EDID",
                    count, block);
                break;
            }
        }
        return count + 1;
    }

    void checkChecksum(std::size_t block) {
        const std::size_t start = block * kEdidBlockBytes;
        unsigned sum = 0;
        for (std::size_t i = start; i < start + kChecksumByte; ++i) {
            sum += at(i);
        }
        const unsigned expected = (256U - (sum & 0xFFU)) & 0xFFU;
        if (at(start + kChecksumByte) != expected) {
            add(EdidSeverity::error, start + kChecksumByte, "checksum of block %zu is 0x%02X, should be 0x%02X", block,
                at(start + kChecksumByte), expected);
        }
    }

    [[nodiscard]] bool isDisplayDescriptor(std::size_t pos) const { return at(pos) == 0 && at(pos + 1) == 0; }

    void checkBaseDescriptors() {
        // From EDID 1.3 on, the first descriptor is the preferred timing.
        const bool firstIsTiming = at(kVersionByte) == 1 && at(kRevisionByte) >= 3;
        for (const std::size_t pos : kBaseDescriptors) {
            if (!isDisplayDescriptor(pos)) {
                continue;
            }
            if (pos == kBaseDescriptors[0] && firstIsTiming) {
                add(EdidSeverity::error, pos,
                    "the first descriptor (byte 54) has a pixel clock of 0; from EDID 1.3 on it must be the "
                    "preferred detailed timing");
            }
            checkDisplayDescriptor(pos);
        }
    }

    void checkDisplayDescriptor(std::size_t pos) {
        const std::uint8_t tag = at(pos + 3);
        if (at(pos + 2) != 0) {
            add(EdidSeverity::warning, pos + 2, "display descriptor at byte %zu: byte 2 is 0x%02X, should be 0", pos,
                at(pos + 2));
        }
        // Range limits use byte 4 for their rate offsets.
        if (at(pos + 4) != 0 && tag != kRangeLimitsTag) {
            add(EdidSeverity::warning, pos + 4, "display descriptor at byte %zu: byte 4 is 0x%02X, should be 0", pos,
                at(pos + 4));
        }
        if (tag == kDummyTag && !allZero(pos + kTextStart, kDescriptorBytes - kTextStart)) {
            add(EdidSeverity::warning, pos + kTextStart, "dummy descriptor at byte %zu is not all zeros", pos);
        }
        if (tag == kSerialTag || tag == kStringTag || tag == kNameTag) {
            checkText(pos, textName(tag));
        }
    }

    // Up to 13 characters, ended by a line feed when shorter and padded with
    // spaces after it.
    void checkText(std::size_t pos, const char* name) {
        const std::size_t start = pos + kTextStart;
        bool ended = false;
        for (std::size_t i = start; i < start + kTextBytes; ++i) {
            const std::uint8_t c = at(i);
            if (ended && c != kTextPad) {
                add(EdidSeverity::warning, i,
                    "%s at byte %zu: byte %zu after the line feed is 0x%02X; the padding must be spaces (0x20)", name,
                    pos, i, c);
                return;
            }
            if (c == kTextEnd) {
                ended = true;
            } else if (!ended && (c < 0x20 || c > 0x7E)) {
                add(EdidSeverity::warning, i, "%s at byte %zu holds the non-printable byte 0x%02X at byte %zu", name,
                    pos, c, i);
                return;
            }
        }
    }

    void checkExtension(std::size_t block) {
        const std::size_t start = block * kEdidBlockBytes;
        const std::uint8_t tag = at(start);
        if (tag == kCtaTag) {
            checkCta(start, block);
        } else if (extensionName(tag) == nullptr) {
            add(EdidSeverity::warning, start, "block %zu has the extension tag 0x%02X, which names no extension", block,
                tag);
        }
    }

    void checkCta(std::size_t start, std::size_t block) {
        const unsigned revision = at(start + 1);
        const std::size_t offset = at(start + kCtaOffsetByte);
        if (revision == 0) {
            add(EdidSeverity::warning, start + 1, "the CTA-861 extension in block %zu has revision 0", block);
        }
        if (offset == 0) {
            return; // no timing descriptors and no data blocks
        }
        if (offset < kCtaHeaderBytes || offset > kChecksumByte) {
            add(EdidSeverity::error, start + kCtaOffsetByte,
                "the timing descriptor offset of block %zu (byte %zu) is %zu; it must be 4 to 127", block,
                start + kCtaOffsetByte, offset);
            return;
        }
        if (revision >= kFirstRevisionWithDataBlocks) {
            checkDataBlocks(start + kCtaHeaderBytes, start + offset);
        }
        const std::size_t timings = checkCtaTimings(start + offset, start + kChecksumByte, block);
        const std::size_t native = at(start + kCtaSupportByte) & 0x0FU;
        const auto baseTimings =
            static_cast<std::size_t>(std::count_if(kBaseDescriptors.begin(), kBaseDescriptors.end(),
                                                   [this](std::size_t p) { return !isDisplayDescriptor(p); }));
        if (revision >= 2 && native > timings + baseTimings) {
            add(EdidSeverity::warning, start + kCtaSupportByte,
                "block %zu says %zu of its detailed timings are native, but the EDID holds only %zu detailed "
                "timing%s",
                block, native, timings + baseTimings, timings + baseTimings == 1 ? "" : "s");
        }
    }

    void checkDataBlocks(std::size_t pos, std::size_t end) {
        std::size_t firstReserved = 0;
        std::size_t reserved = 0;
        while (pos < end) {
            const unsigned tag = at(pos) >> 5U;
            const std::size_t length = at(pos) & 0x1FU;
            if (pos + 1 + length > end) {
                add(EdidSeverity::error, pos,
                    "the %s data block at byte %zu is %zu bytes long and runs past the end of the data block "
                    "collection at byte %zu",
                    dataBlockName(tag), pos, length, end);
                break;
            }
            // Zero bytes used as fill read as a run of empty reserved blocks:
            // one finding for all of them.
            if (tag == kReservedTag || tag == kReservedTag6) {
                firstReserved = reserved++ == 0 ? pos : firstReserved;
            }
            checkDataBlockLength(pos, tag, length);
            pos += 1 + length;
        }
        if (reserved == 1) {
            add(EdidSeverity::warning, firstReserved, "the data block at byte %zu has a reserved tag (%u)",
                firstReserved, unsigned{at(firstReserved)} >> 5U);
        } else if (reserved > 1) {
            add(EdidSeverity::warning, firstReserved,
                "%zu data blocks from byte %zu on have a reserved tag (0 or 6); zero bytes inside the data block "
                "collection read as such blocks",
                reserved, firstReserved);
        }
    }

    void tooShort(std::size_t pos, const char* name, std::size_t length, std::size_t minimum, const char* what) {
        add(EdidSeverity::error, pos, "the %s data block at byte %zu is %zu bytes long, too short for %s (%zu bytes)",
            name, pos, length, what, minimum);
    }

    void checkDataBlockLength(std::size_t pos, unsigned tag, std::size_t length) {
        if (tag == kAudioTag && length % kAudioDescriptorBytes != 0) {
            add(EdidSeverity::error, pos,
                "the audio data block at byte %zu is %zu bytes long, not a whole number of 3-byte audio descriptors",
                pos, length);
        } else if (tag == kVendorTag) {
            if (length < kOuiBytes) {
                tooShort(pos, "vendor-specific", length, kOuiBytes, "its IEEE OUI");
                return;
            }
            const std::uint32_t oui =
                at(pos + 1) | (std::uint32_t{at(pos + 2)} << 8U) | (std::uint32_t{at(pos + 3)} << 16U);
            if (oui == kHdmiOui && length < kHdmiMinBytes) {
                tooShort(pos, "HDMI vendor-specific", length, kHdmiMinBytes, "its OUI and physical address");
            } else if (oui == kHdmiForumOui && length < kHdmiForumMinBytes) {
                tooShort(pos, "HDMI Forum vendor-specific", length, kHdmiForumMinBytes, "its fixed fields");
            }
        } else if (tag == kSpeakerTag && length < kSpeakerBytes) {
            tooShort(pos, "speaker allocation", length, kSpeakerBytes, "its speaker bits");
        } else if (tag == kSpeakerTag && length > kSpeakerBytes) {
            add(EdidSeverity::warning, pos,
                "the speaker allocation data block at byte %zu is %zu bytes long; only its first 3 bytes mean "
                "anything",
                pos, length);
        } else if (tag == kExtendedTag) {
            if (length == 0) {
                add(EdidSeverity::error, pos, "the extended data block at byte %zu is empty: it has no extended tag",
                    pos);
                return;
            }
            const std::uint8_t extended = at(pos + 1);
            for (const ExtendedMinimum& m : kExtendedMinimums) {
                if (m.tag == extended && length < m.bytes) {
                    tooShort(pos, m.name, length, m.bytes, "its fields");
                }
            }
        }
    }

    // The 18-byte timings from `pos` up to the first zero pixel clock; what
    // follows up to the checksum is padding and must be zero. Returns the
    // number of timings.
    std::size_t checkCtaTimings(std::size_t pos, std::size_t end, std::size_t block) {
        std::size_t timings = 0;
        while (pos + kDescriptorBytes <= end && !isDisplayDescriptor(pos)) {
            ++timings;
            pos += kDescriptorBytes;
        }
        for (std::size_t i = pos; i < end; ++i) {
            if (at(i) != 0) {
                add(EdidSeverity::warning, i,
                    "the padding after the detailed timings of block %zu holds 0x%02X at byte %zu; it should be 0",
                    block, at(i), i);
                break;
            }
        }
        return timings;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t total_;
    EdidFindings findings_;
};

} // namespace

EdidFindings checkEdid(std::span<const std::uint8_t> bytes) {
    return Checker(bytes).run();
}

bool hasEdidErrors(const EdidFindings& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const EdidFinding& f) { return f.severity == EdidSeverity::error; });
}

bool hasEdidWarnings(const EdidFindings& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const EdidFinding& f) { return f.severity == EdidSeverity::warning; });
}

std::string_view edidSeverityName(EdidSeverity severity) {
    return severity == EdidSeverity::error ? "error" : "warning";
}

std::string formatEdidFinding(const EdidFinding& finding) {
    std::string out(edidSeverityName(finding.severity));
    edid::appendFormat(out, " at byte %zu: ", finding.offset);
    out += finding.text;
    return out;
}

std::string summariseEdidFindings(const EdidFindings& findings) {
    std::string out;
    std::size_t shown = 0;
    for (const EdidSeverity severity : {EdidSeverity::error, EdidSeverity::warning}) {
        for (const EdidFinding& f : findings) {
            if (f.severity != severity || shown == kSummaryFindings) {
                continue;
            }
            out += shown == 0 ? "" : "; ";
            out += f.text;
            ++shown;
        }
    }
    if (findings.size() > shown) {
        edid::appendFormat(out, " (%zu more)", findings.size() - shown);
    }
    return out;
}

} // namespace mc

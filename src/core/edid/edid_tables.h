#pragma once

#include <string_view>

namespace mc::edid {

inline constexpr unsigned kFirstVic = 1;
inline constexpr unsigned kLastVic = 107;
inline constexpr unsigned kSampleRateBits = 7;
inline constexpr unsigned kSampleSizeBits = 3;

// Every name is a view of a string literal, so data() can go to a %s.

// Display name of a CEA-861 video identification code; empty for 0 and for
// every code above 107 (such codes produce no line).
std::string_view vicName(unsigned code);

// Name of a 4-bit audio format code (the code is masked to 4 bits).
std::string_view audioFormatName(unsigned code);

// Name of a set bit in a short audio descriptor's sample rate byte (bits 0 to
// 6) or sample size byte (bits 0 to 2); empty for other bits.
std::string_view sampleRateName(unsigned bit);
std::string_view sampleSizeName(unsigned bit);

} // namespace mc::edid

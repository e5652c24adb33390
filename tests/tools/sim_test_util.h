#pragma once

#include "sim/edid_image.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mc::sim::test {

// A file of tools/data/ as it is on disk, read independently of the build's
// embedding.
inline std::vector<std::uint8_t> dataFile(const std::string& name) {
    std::ifstream in(std::string(MC_SIM_DATA_DIR) + "/" + name + ".bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::uint8_t> bytesOf(const EdidImage& image) {
    return {image.begin(), image.end()};
}

// The upload line as the console builds it: plain decimal input, upper-case hex.
inline std::string uploadLine(int input, int slot, const EdidImage& image) {
    std::string line = "SET IN" + std::to_string(input) + " EDID U" + std::to_string(slot) + " DATA ";
    for (std::size_t i = 0; i < image.size(); ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", image[i]);
        line += pair;
        if (i + 1 < image.size()) {
            line += ' ';
        }
    }
    return line;
}

// A recognisable image: every byte different from its neighbours.
inline EdidImage patternImage(std::uint8_t seed) {
    EdidImage image{};
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return image;
}

} // namespace mc::sim::test

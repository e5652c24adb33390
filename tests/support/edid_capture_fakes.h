#pragma once

#include "session/edid_capture.h"

#include <cstdio>
#include <map>
#include <set>
#include <string>

namespace mc::test {

// EDID files in memory: which names exist, what was saved, and what the next
// save reports.
class MemoryEdidFiles : public EdidFiles {
public:
    std::set<std::string> existing;
    std::map<std::string, EdidImage> saved;
    SaveResult result = SaveResult::Saved;

    [[nodiscard]] bool exists(const std::string& name) const override { return existing.count(name) != 0; }
    SaveResult save(const std::string& name, const EdidImage& image) override {
        if (result == SaveResult::Saved) {
            saved[name] = image;
            existing.insert(name);
        }
        return result;
    }
};

// The switcher's EDID read-back line: lower-case hex pairs, blank separated.
inline std::string edidDataLine(const EdidImage& image, const std::string& prefix = "OUT1 EDID DATA ") {
    std::string line = prefix;
    for (const std::uint8_t byte : image) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x ", byte);
        line += pair;
    }
    return line + "\r\n";
}

} // namespace mc::test

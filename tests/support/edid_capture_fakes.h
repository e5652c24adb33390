#pragma once

#include "session/edid_capture.h"

#include <cstdio>
#include <map>
#include <optional>
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

// Records the read-backs a page starts.
class RecordingReadBack : public EdidReadBackStarter {
public:
    void expectEdid(EdidReadBack readBack) override { expected = std::move(readBack); }

    std::optional<EdidReadBack> expected;
};

// The read-back of output n's EDID, as the EDID page asks for it.
inline EdidReadBack outputReadBack(int output = 1) {
    return EdidReadBack{EdidPort{EdidPort::Output, output}, "Matrix_EDID_out" + std::to_string(output) + "_%02d.bin"};
}

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

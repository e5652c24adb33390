#pragma once

#include "link/text_command.h"

#include <string>
#include <vector>

namespace mc::test {

// A CommandSender that records the exact bytes handed to it. With portOpen
// false it behaves as the console does with the port closed: it drops the
// command and reports false.
class RecordingSender : public CommandSender {
public:
    bool send(const TextCommand& command) override {
        ++calls;
        if (!portOpen) {
            return false;
        }
        sent.emplace_back(command.bytes());
        notes.emplace_back(command.note());
        return true;
    }

    bool portOpen = true;
    // Every send call, dropped ones included.
    int calls = 0;
    // The commands that reached the port, in order.
    std::vector<std::string> sent;
    // Their notes for the traffic monitor, empty where there is none.
    std::vector<std::string> notes;
};

} // namespace mc::test

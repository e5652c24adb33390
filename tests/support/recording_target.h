#pragma once

#include "session/reply_target.h"

#include <functional>
#include <string>
#include <vector>

namespace mc::test {

// A ReplyTarget that writes every call down as one readable line, in order,
// e.g. "setOutputSelection(3,4)" or "showHostAddress(192.168.0.100)".
class RecordingTarget : public ReplyTarget {
public:
    std::vector<std::string> calls;
    std::vector<EdidImage> capturedEdids;
    // Runs inside showMessage, as a modal box's event loop would.
    std::function<void(std::string_view)> onMessage;

    void setOutputSelection(int output, int input) override { record("setOutputSelection", output, input); }
    void refreshRouting() override { calls.emplace_back("refreshRouting"); }
    void selectInputEdid(int input, int item) override { record("selectInputEdid", input, item); }
    void refreshEdidPage() override { calls.emplace_back("refreshEdidPage"); }
    void showCapturedEdid(const EdidImage& image) override {
        calls.emplace_back("showCapturedEdid");
        capturedEdids.push_back(image);
    }
    void setMacText(std::string_view text) override { calls.push_back("setMacText(" + std::string(text) + ")"); }
    void showHostAddress(std::uint32_t address) override {
        calls.push_back("showHostAddress(" + dotted(address) + ")");
    }
    void showNetMask(std::uint32_t mask) override { calls.push_back("showNetMask(" + dotted(mask) + ")"); }
    void showRouterAddress(std::uint32_t address) override {
        calls.push_back("showRouterAddress(" + dotted(address) + ")");
    }
    void setTcpPortText(std::string_view text) override {
        calls.push_back("setTcpPortText(" + std::string(text) + ")");
    }
    void setDhcp(bool on) override { calls.push_back(on ? "setDhcp(on)" : "setDhcp(off)"); }
    void refreshIpSettings() override { calls.emplace_back("refreshIpSettings"); }
    void setAudioState(int output, int state) override { record("setAudioState", output, state); }
    void refreshAudio() override { calls.emplace_back("refreshAudio"); }
    void setStatusText(std::string_view text) override { calls.push_back("setStatusText(" + std::string(text) + ")"); }
    void refreshConsole() override { calls.emplace_back("refreshConsole"); }
    void confirmSearch(int comPort) override { calls.push_back("confirmSearch(" + std::to_string(comPort) + ")"); }
    void showMessage(std::string_view text) override {
        calls.push_back("showMessage(" + std::string(text) + ")");
        if (onMessage) {
            onMessage(text);
        }
    }

    static std::string dotted(std::uint32_t address) {
        return std::to_string(address >> 24U) + "." + std::to_string((address >> 16U) & 0xFFU) + "." +
               std::to_string((address >> 8U) & 0xFFU) + "." + std::to_string(address & 0xFFU);
    }

private:
    void record(const char* name, int a, int b) {
        calls.push_back(std::string(name) + "(" + std::to_string(a) + "," + std::to_string(b) + ")");
    }
};

// The calls a reply for all 16 ports makes, one per port.
inline std::vector<std::string> forAllPorts(const std::string& name, int value) {
    std::vector<std::string> calls;
    for (int port = 1; port <= 16; ++port) {
        calls.push_back(name + "(" + std::to_string(port) + "," + std::to_string(value) + ")");
    }
    return calls;
}

} // namespace mc::test

#pragma once

#include "session/reply_views.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mc::test {

// Every reply view at once, writing each call down as one readable line, in
// order, e.g. "setOutputSelection(3,4)" or "showHostAddress(192.168.0.100)";
// no selection reads "none". It stands for the one routing view the replies
// see, and for the connection's search confirmation.
class RecordingTarget : public RoutingView,
                        public EdidView,
                        public IpSettingsView,
                        public AudioView,
                        public ConsoleView,
                        public SearchConfirmation {
public:
    std::vector<std::string> calls;
    std::vector<EdidImage> capturedEdids;
    // Runs inside showMessage, as a modal box's event loop would.
    std::function<void(std::string_view)> onMessage;
    // Runs inside confirmSearch, as the connection would.
    std::function<void()> onConfirmSearch;

    // The views the reply handling is built with.
    ReplyViews views() { return ReplyViews{{*this}, *this, *this, *this, *this, *this}; }

    void setOutputSelection(int output, std::optional<int> input) override {
        record("setOutputSelection", output, input);
    }
    void redrawRouting() override { calls.emplace_back("redrawRouting"); }
    void selectInputEdid(int input, std::optional<int> item) override { record("selectInputEdid", input, item); }
    void redrawEdidPage() override { calls.emplace_back("redrawEdidPage"); }
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
    void redrawIpSettings() override { calls.emplace_back("redrawIpSettings"); }
    void setAudioState(int output, AudioState state) override {
        calls.push_back("setAudioState(" + std::to_string(output) + (state == AudioState::On ? ",on)" : ",mute)"));
    }
    void redrawAudio() override { calls.emplace_back("redrawAudio"); }
    void setStatusText(std::string_view text) override { calls.push_back("setStatusText(" + std::string(text) + ")"); }
    void confirmSearch() override {
        calls.emplace_back("confirmSearch");
        if (onConfirmSearch) {
            onConfirmSearch();
        }
    }
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
    void record(const char* name, int a, std::optional<int> b) {
        calls.push_back(std::string(name) + "(" + std::to_string(a) + "," + (b ? std::to_string(*b) : "none") + ")");
    }
};

// The calls a reply for all 16 ports makes, one per port.
inline std::vector<std::string> forAllPorts(const std::string& name, const std::string& value) {
    std::vector<std::string> calls;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        calls.push_back(name + "(" + std::to_string(port) + "," + value + ")");
    }
    return calls;
}

} // namespace mc::test

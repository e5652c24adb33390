#pragma once

#include "session/connection.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mc::test {

// Records what the connection shows; timers tick only when the test says so.
class FakeView : public ConnectionView {
public:
    void showPortIcon(bool open) override { portIcon = open; }
    void setPortButtonText(std::string_view text) override { buttonText = text; }
    void setStatusText(std::string_view text) override { statusText = text; }
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    void selectComItem(int index) override { selectedItem = index; }
    void startConsoleTimer(ConsoleTimer timer, std::chrono::milliseconds period) override {
        running[timer] = period;
        started.emplace_back(timer, period);
    }
    void stopConsoleTimer(ConsoleTimer timer) override { running.erase(timer); }
    void pauseWindowThread(std::chrono::milliseconds duration) override { pauses.push_back(duration); }
    void showLinkPeer(std::string_view text) override { linkPeer = text; }
    void showNetworkItem(std::string_view peer) override {
        networkItem = peer;
        if (!peer.empty()) {
            selectedItem = kNetworkItemIndex;
        }
    }

    [[nodiscard]] bool isRunning(ConsoleTimer timer) const { return running.count(timer) != 0; }

    std::optional<bool> portIcon;
    std::string buttonText = kTurnOnPortText;
    std::string statusText;
    std::vector<std::string> messages;
    std::optional<int> selectedItem;
    std::map<ConsoleTimer, std::chrono::milliseconds> running;
    std::vector<std::pair<ConsoleTimer, std::chrono::milliseconds>> started;
    std::vector<std::chrono::milliseconds> pauses;
    std::string linkPeer;
    std::string networkItem; // the selector's peer item; empty when it has none
};

} // namespace mc::test

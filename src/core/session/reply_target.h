#pragma once

#include "session/console_state.h"

#include <cstdint>
#include <string_view>

namespace mc {

// No radio, no combo item: what a reply with an unusable index selects.
inline constexpr int kNoSelection = -1;

// Audio output states as the audio page stores them.
inline constexpr int kAudioOn = 0;
inline constexpr int kAudioMute = 1;

// What the switcher's replies change on screen. The console window implements
// it and forwards each call to the page concerned; the reply handling never
// sees a widget. "set"/"select"/"show" calls change one thing, "refresh" calls
// redraw a page from its members. Calls come in the order the replies demand,
// so a set without a refresh stays invisible until the next refresh.
class ReplyTarget {
public:
    virtual ~ReplyTarget() = default;

    // Routing pages. output 1..16 (1-8 first page, 9-16 second page);
    // input 0..15 or kNoSelection.
    virtual void setOutputSelection(int output, int input) = 0;
    // Redraws both routing pages.
    virtual void refreshRouting() = 0;

    // EDID page. input 1..16; item >= 0 or kNoSelection. An item the combo box
    // does not have selects nothing. The selection shows at once, no refresh.
    virtual void selectInputEdid(int input, int item) = 0;
    virtual void refreshEdidPage() = 0;
    // An EDID read back from the switcher has been saved: decode it into the
    // EDID reports, fill the EDID summary and refresh the EDID page.
    virtual void showCapturedEdid(const EdidImage& image) = 0;

    // IP settings page. Addresses are packed first octet highest.
    virtual void setMacText(std::string_view text) = 0;
    virtual void showHostAddress(std::uint32_t address) = 0;
    virtual void showNetMask(std::uint32_t mask) = 0;
    virtual void showRouterAddress(std::uint32_t address) = 0;
    // Member only; the edit shows it at the page's next refresh.
    virtual void setTcpPortText(std::string_view text) = 0;
    // The DHCP flag; also disables (on) or enables (off) the three address controls.
    virtual void setDhcp(bool on) = 0;
    virtual void refreshIpSettings() = 0;

    // Audio page. output 1..16; state kAudioOn or kAudioMute.
    virtual void setAudioState(int output, int state) = 0;
    virtual void refreshAudio() = 0;

    // Console window.
    virtual void setStatusText(std::string_view text) = 0;
    virtual void refreshConsole() = 0;
    // A device answered the search probe on comPort: show the open-port icon,
    // label the port button "Close Port", select the COM selector's item for
    // comPort and stop the search timer (4). The port-open and search flags in
    // ConsoleState are already updated when this is called.
    virtual void confirmSearch(int comPort) = 0;
    // A modal message with the console's caption. It may run a nested event
    // loop that delivers more received bytes; the reply handling copes with it.
    virtual void showMessage(std::string_view text) = 0;
};

} // namespace mc

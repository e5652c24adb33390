#pragma once

#include "edid/edid_image.h"
#include "link/commands.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace mc {

// Status line texts.
inline constexpr std::string_view kSearchingStatusText = "Please wait.....";
// After a confirmed search, a failed one, or a DHCP report: one blank.
inline constexpr std::string_view kClearedStatusText = " ";

// What the switcher's replies change on screen, one small interface per page:
// each page implements its own and the reply handling never sees a widget.
// "set"/"select"/"show" calls change one thing; "redraw" calls show a page's
// stored state again. Calls come in the order the replies demand, so a set
// without a redraw stays invisible until the next redraw.

// A routing page. output 1..16: a page takes the outputs it shows and ignores
// the others. input 0..15, or std::nullopt for a reply naming no usable input.
class RoutingView {
public:
    virtual ~RoutingView() = default;
    virtual void setOutputSelection(int output, std::optional<int> input) = 0;
    virtual void redrawRouting() = 0;
};

// The EDID page. input 1..16; an item the drop-down does not have, or
// std::nullopt, selects nothing. The selection shows at once, no redraw.
class EdidView {
public:
    virtual ~EdidView() = default;
    virtual void selectInputEdid(int input, std::optional<int> item) = 0;
    virtual void redrawEdidPage() = 0;
    // An EDID read back from the switcher has been saved: decode it into the
    // EDID reports, fill the EDID summary and redraw the page.
    virtual void showCapturedEdid(const EdidImage& image) = 0;
};

// The IP settings page. Addresses are packed first octet highest.
class IpSettingsView {
public:
    virtual ~IpSettingsView() = default;
    virtual void setMacText(std::string_view text) = 0;
    virtual void showHostAddress(std::uint32_t address) = 0;
    virtual void showNetMask(std::uint32_t mask) = 0;
    virtual void showRouterAddress(std::uint32_t address) = 0;
    // Stored only; the edit shows it at the page's next redraw.
    virtual void setTcpPortText(std::string_view text) = 0;
    // The DHCP flag; also disables (on) or enables (off) the three address controls.
    virtual void setDhcp(bool on) = 0;
    virtual void redrawIpSettings() = 0;
};

// The audio page. output 1..16. A page showing neither radio of an output
// holds std::nullopt for it.
class AudioView {
public:
    virtual ~AudioView() = default;
    virtual void setAudioState(int output, AudioState state) = 0;
    virtual void redrawAudio() = 0;
};

// The console window's own part: the status line and its messages.
class ConsoleView {
public:
    virtual ~ConsoleView() = default;
    // Shows the text on the status line at once.
    virtual void setStatusText(std::string_view text) = 0;
    // A modal message with the console's caption. It may run a nested event
    // loop that delivers more received bytes; the reply handling copes with it.
    virtual void showMessage(std::string_view text) = 0;
};

// Told when a complete line answers the search probe: the connection, which
// alone changes the port-open and search flags.
class SearchConfirmation {
public:
    virtual ~SearchConfirmation() = default;
    virtual void confirmSearch() = 0;
};

// Every value a reply reports, whatever page shows it: the switcher state
// model (session/switcher_state.h) keeps them. Ports 1..16; a reply for all
// ports (port 0) comes as one call per port.
class SwitchReportView {
public:
    enum class NetworkAddress { Host, NetMask, Router };

    virtual ~SwitchReportView() = default;
    // input 0..15, or std::nullopt for a reply naming no usable input.
    virtual void routeReported(int output, std::optional<int> input) = 0;
    virtual void edidChoiceReported(int input, std::optional<int> item) = 0;
    virtual void audioReported(int output, AudioState state) = 0;
    virtual void dhcpReported(bool on) = 0;
    // Packed first octet highest.
    virtual void addressReported(NetworkAddress which, std::uint32_t address) = 0;
    virtual void tcpPortReported(std::string_view text) = 0;
    virtual void macReported(std::string_view text) = 0;
};

// Everything the reply handling shows its results on; the console window
// wires its pages in here and relays nothing itself.
struct ReplyViews {
    // Every routing page; each takes the outputs it shows.
    std::vector<std::reference_wrapper<RoutingView>> routing;
    EdidView& edid;
    IpSettingsView& ipSettings;
    AudioView& audio;
    ConsoleView& console;
    SearchConfirmation& search;
    // The switcher state model, told every reported value; none: not kept.
    SwitchReportView* reports = nullptr;
};

} // namespace mc

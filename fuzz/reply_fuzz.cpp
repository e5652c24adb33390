// Arbitrary received bytes through reply dispatch: line assembly, the text
// reply parser and the EDID read-back (files kept in memory), with messages
// that feed further bytes re-entrantly as a modal box's event loop does. The
// same bytes also go straight to the reply decoder, the EDID hex scan and the
// address book parser. Any value outside what the pages accept traps, and so
// does a control character in what a person reads of a line (its traffic row
// and the row's note).

#include "session/address_book.h"
#include "session/edid_capture.h"
#include "session/reply_dispatch.h"
#include "session/reply_marks.h"
#include "session/reply_parser.h"
#include "session/reply_views.h"
#include "session/traffic.h"
#include "session/traffic_format.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace mc;

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool hasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

bool hasLineEnd(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

class MemoryFiles : public EdidFiles {
public:
    bool failSaves = false;
    std::map<std::string, EdidImage> files;

    [[nodiscard]] bool exists(const std::string& name) const override { return files.count(name) != 0; }
    SaveResult save(const std::string& name, const EdidImage& image) override {
        if (failSaves) {
            return SaveResult::CannotCreate;
        }
        files[name] = image;
        return SaveResult::Saved;
    }
};

// Every reply view, checking what reaches it; it confirms a search as the
// connection does.
class CheckingTarget : public RoutingView,
                       public EdidView,
                       public IpSettingsView,
                       public AudioView,
                       public ConsoleView,
                       public SearchConfirmation {
public:
    explicit CheckingTarget(ConsoleState& state) : state_(state) {}

    std::function<void()> onMessage;

    ReplyViews views() { return ReplyViews{{*this}, *this, *this, *this, *this, *this}; }

    void setOutputSelection(int output, std::optional<int> input) override {
        require(isValidPort(output));
        require(!input || (*input >= 0 && *input < kPortCount));
    }
    void redrawRouting() override {}
    void selectInputEdid(int input, std::optional<int> item) override {
        require(isValidPort(input));
        require(!item || *item >= 0);
    }
    void redrawEdidPage() override {}
    void showCapturedEdid(const EdidImage& /*image*/) override {}
    void setMacText(std::string_view text) override { require(text.size() <= 17 && !hasLineEnd(text)); }
    void showHostAddress(std::uint32_t /*address*/) override {}
    void showNetMask(std::uint32_t /*mask*/) override {}
    void showRouterAddress(std::uint32_t /*address*/) override {}
    void setTcpPortText(std::string_view text) override { require(text.size() <= 4 && !hasLineEnd(text)); }
    void setDhcp(bool /*on*/) override {}
    void redrawIpSettings() override {}
    void setAudioState(int output, AudioState state) override {
        require(isValidPort(output));
        require(state == AudioState::On || state == AudioState::Mute);
    }
    void redrawAudio() override {}
    void setStatusText(std::string_view /*text*/) override {}
    void confirmSearch() override {
        require(state_.searchInProgress && isValidComPort(state_.comPort));
        state_.searchInProgress = false;
    }
    void showMessage(std::string_view /*text*/) override {
        if (onMessage) {
            onMessage();
        }
    }

private:
    ConsoleState& state_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    // First byte: which modes to keep armed and whether saves fail.
    const std::uint8_t options = data[0];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    ConsoleState state;
    state.searchInProgress = (options & 1U) != 0;
    MemoryFiles files;
    files.failSaves = (options & 4U) != 0;
    CheckingTarget target(state);
    ReplyDispatch dispatch(state, target.views(), files);
    const EdidReadBack readBack{EdidPort{EdidPort::Output, 1}, "Matrix_EDID_out1_%02d.bin"};
    if ((options & 2U) != 0) {
        dispatch.expectEdid(readBack);
    }

    for (std::size_t next = 0; next < bytes.size();) {
        dispatch.receive(static_cast<std::uint8_t>(bytes[next++]));
        require(dispatch.pendingLine().size() <= kReplyLineLimit);
        if ((options & 8U) != 0 && !dispatch.edidReadBack()) {
            dispatch.expectEdid(readBack); // keep the EDID read-back busy
        }
    }

    // The wire cannot steer a terminal: every line's row and note as the
    // monitor, --log and matrix-ctl show them hold no control character.
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t lineFeed = bytes.find('\n', start);
        const std::size_t end = lineFeed == std::string_view::npos ? bytes.size() : lineFeed + 1;
        const std::string_view line = bytes.substr(start, end - start);
        const TrafficRow row{
            {}, TrafficDirection::Received, "COM1", std::string(line), markReplyLine(line, (options & 2U) != 0)};
        require(!hasControl(row.mark.text));
        require(!hasControl(formatTrafficRow(row)));
        start = end;
    }

    (void)decodeReply(bytes);
    const EdidReply checked = checkEdidReply(bytes, EdidPort{EdidPort::Input, 16});
    require(checked.problem.empty() || checked.image == EdidImage{});
    const AddressBook book = parseAddressBook(bytes);
    for (const AddressEntry& entry : book.entries) {
        require(entry.description().size() <= kAddressDescriptionLength);
    }
    return 0;
}

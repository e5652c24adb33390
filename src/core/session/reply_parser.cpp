#include "session/reply_parser.h"

#include "link/ports.h"
#include "session/line_assembler.h"
#include "session/overloaded.h"

#include <array>
#include <cstddef>

namespace mc {
namespace {

constexpr char kCarriageReturn = '\r';

// Fixed positions of the dotted address, counted from the start of the line
// whatever the keyword's position: "HIP 192.168.000.100".
constexpr std::array<std::ptrdiff_t, 4> kOctetPositions = {4, 8, 12, 16};
// Position of the DHCP value, counted from the start of the line: "DHCP 1".
constexpr std::ptrdiff_t kDhcpValuePosition = 5;

constexpr std::size_t kMacTextLength = 17;
constexpr std::size_t kTcpPortTextLength = 4;

// A reply line with bounded access: a position outside it has no byte. The
// line ends at its first NUL, for the keyword search and the fields alike.
class ReplyLine {
public:
    explicit ReplyLine(std::string_view text) : text_(replyText(text)) {}

    [[nodiscard]] std::string_view text() const { return text_; }

    [[nodiscard]] std::optional<int> at(std::ptrdiff_t position) const {
        if (position < 0 || static_cast<std::size_t>(position) >= text_.size()) {
            return std::nullopt;
        }
        return static_cast<unsigned char>(text_[static_cast<std::size_t>(position)]);
    }

    // Up to maxLength characters from position on, stopping before CR or LF:
    // the line's own end never becomes part of a value.
    [[nodiscard]] std::string textFrom(std::size_t position, std::size_t maxLength) const {
        std::string text;
        for (std::size_t i = position; i < text_.size() && text.size() < maxLength; ++i) {
            const char c = text_[i];
            if (c == kCarriageReturn || c == kLineFeed) {
                break;
            }
            text.push_back(c);
        }
        return text;
    }

private:
    std::string_view text_;
};

std::optional<int> inRange(int value, int first, int last) {
    if (value < first || value > last) {
        return std::nullopt;
    }
    return value;
}

// Port number ahead of the keyword at k: "OUT3 VS", "OUT12 VS", "IN16 EDID".
// When the letter stands right before the digit the port has one digit;
// otherwise the digit is the second of 10..16 and the first is not looked at.
// Arithmetic on byte values: a non-digit gives a port out of range. A line
// too short to hold both positions names no port.
std::optional<int> portBefore(const ReplyLine& line, std::ptrdiff_t k, char letter) {
    const auto tag = line.at(k - 3);
    const auto digit = line.at(k - 2);
    if (!tag || !digit) {
        return std::nullopt;
    }
    const int units = *digit - '0';
    return inRange(*tag == letter ? units : units + 10, kAllPorts, kLastPort);
}

// "VS IN5" + CR gives 4, "VS IN16" gives 15; no usable index selects nothing.
std::optional<int> inputAfterVs(const ReplyLine& line, std::ptrdiff_t k) {
    const auto first = line.at(k + 5);
    const auto second = line.at(k + 6);
    if (!first || !second) {
        return std::nullopt;
    }
    const int input = *second == kCarriageReturn ? *first - '1' : *second - '0' + 9;
    return inRange(input, 0, kPortCount - 1);
}

// "EDID 3" + CR gives 3, "EDID 12" gives 12.
std::optional<int> choiceAfterEdid(const ReplyLine& line, std::ptrdiff_t k) {
    const auto first = line.at(k + 5);
    const auto second = line.at(k + 6);
    if (!first || !second) {
        return std::nullopt;
    }
    const int item = *second == kCarriageReturn ? *first - '0' : 10 * (*first - '0') + (*second - '0');
    if (item < 0) {
        return std::nullopt;
    }
    return item;
}

// Four octets of exactly three digits at fixed positions, each taken modulo
// 256 ("300" shows as 44). A line that does not reach the last digit shows
// nothing.
std::optional<std::uint32_t> dottedAddress(const ReplyLine& line) {
    std::uint32_t address = 0;
    for (const std::ptrdiff_t position : kOctetPositions) {
        const auto d1 = line.at(position);
        const auto d2 = line.at(position + 1);
        const auto d3 = line.at(position + 2);
        if (!d1 || !d2 || !d3) {
            return std::nullopt;
        }
        const int value = 100 * (*d1 - '0') + 10 * (*d2 - '0') + (*d3 - '0');
        address = (address << 8U) | static_cast<std::uint8_t>(value);
    }
    return address;
}

using Decoder = Reply (*)(const ReplyLine& line, std::ptrdiff_t k);

Reply decodeRouting(const ReplyLine& line, std::ptrdiff_t k) {
    return RoutingReply{portBefore(line, k, 'T'), inputAfterVs(line, k)};
}

Reply decodeEdidChoice(const ReplyLine& line, std::ptrdiff_t k) {
    return EdidChoiceReply{portBefore(line, k, 'N'), choiceAfterEdid(line, k)};
}

Reply decodeMac(const ReplyLine& line, std::ptrdiff_t k) {
    return MacReply{line.textFrom(static_cast<std::size_t>(k) + 4, kMacTextLength)};
}

template <AddressReply::Kind kind> Reply decodeAddress(const ReplyLine& line, std::ptrdiff_t /*k*/) {
    const auto address = dottedAddress(line);
    if (!address) {
        return IgnoredReply{};
    }
    return AddressReply{kind, *address};
}

Reply decodeTcpPort(const ReplyLine& line, std::ptrdiff_t k) {
    return TcpPortReply{line.textFrom(static_cast<std::size_t>(k) + 4, kTcpPortTextLength)};
}

Reply decodeDhcp(const ReplyLine& line, std::ptrdiff_t /*k*/) {
    const auto value = line.at(kDhcpValuePosition);
    if (!value) {
        return IgnoredReply{};
    }
    return DhcpReply{*value != '0'};
}

Reply decodeIgnored(const ReplyLine& /*line*/, std::ptrdiff_t /*k*/) {
    return IgnoredReply{};
}

// "EN" is On, anything else ("DIS") Mute.
Reply decodeAudio(const ReplyLine& line, std::ptrdiff_t k) {
    const auto value = line.at(k + 4);
    if (!value) {
        return IgnoredReply{};
    }
    return AudioReply{portBefore(line, k, 'T'), *value == 'E' ? AudioState::On : AudioState::Mute};
}

std::optional<int> outputDigit(const ReplyLine& line, std::ptrdiff_t k) {
    const auto digit = line.at(k - 2);
    if (!digit) {
        return std::nullopt;
    }
    return *digit - '0';
}

Reply decodeScaler(const ReplyLine& line, std::ptrdiff_t k) {
    return ScalerReply{outputDigit(line, k)};
}

Reply decodeEnhancement(const ReplyLine& line, std::ptrdiff_t k) {
    return EnhancementReply{outputDigit(line, k)};
}

struct Keyword {
    std::string_view text;
    bool notAtLineStart;
    Decoder decode;
};

// In the order a line is tested; the first keyword found decides. "EXADL "
// comes before "EXA " so that audio delay reports are dropped.
constexpr std::array<Keyword, 13> kKeywords = {{
    {"VS ", true, decodeRouting},
    {"EDID ", true, decodeEdidChoice},
    {"MAC ", false, decodeMac},
    {"HIP ", false, decodeAddress<AddressReply::Host>},
    {"NMK ", false, decodeAddress<AddressReply::NetMask>},
    {"RIP ", false, decodeAddress<AddressReply::Router>},
    {"TIP ", false, decodeTcpPort},
    {"DHCP ", false, decodeDhcp},
    {"EXADL ", false, decodeIgnored},
    {"EXA ", false, decodeAudio},
    {"ASS ", false, decodeAudio},
    {"VIDEO ", false, decodeScaler},
    {"IMAGE ENH ", false, decodeEnhancement},
}};

} // namespace

Reply decodeReply(std::string_view text) {
    const ReplyLine line(text);
    for (const Keyword& keyword : kKeywords) {
        // Only the first occurrence counts, also when it stands at the line's
        // start where the keyword is not accepted.
        const std::size_t k = line.text().find(keyword.text);
        if (k == std::string_view::npos || (keyword.notAtLineStart && k == 0)) {
            continue;
        }
        return keyword.decode(line, static_cast<std::ptrdiff_t>(k));
    }
    return IgnoredReply{};
}

bool isErrorReply(std::string_view line) {
    return replyText(line).find(kErrorReply) != std::string_view::npos;
}

bool redrawsAudioPage(const Reply& reply) {
    if (const auto* scaler = std::get_if<ScalerReply>(&reply)) {
        return scaler->output == kAllPorts;
    }
    if (const auto* enhancement = std::get_if<EnhancementReply>(&reply)) {
        return enhancement->output == kAllPorts || enhancement->output == kEnhancementRedrawOutput;
    }
    return false;
}

void reportReply(const Reply& reply, SwitchReportView& reports) {
    // Each port the reply names: all of them for port 0.
    const auto forPorts = [](std::optional<int> port, const auto& report) {
        if (port == kAllPorts) {
            for (int p = kFirstPort; p <= kLastPort; ++p) {
                report(p);
            }
        } else if (port && isValidPort(*port)) {
            report(*port);
        }
    };
    using Address = SwitchReportView::NetworkAddress;
    std::visit(Overloaded{
                   [&](const RoutingReply& r) {
                       forPorts(r.output, [&](int output) { reports.routeReported(output, r.input); });
                   },
                   [&](const EdidChoiceReply& r) {
                       forPorts(r.input, [&](int input) { reports.edidChoiceReported(input, r.item); });
                   },
                   [&](const AudioReply& r) {
                       forPorts(r.output, [&](int output) { reports.audioReported(output, r.state); });
                   },
                   [&](const MacReply& r) { reports.macReported(r.text); },
                   [&](const AddressReply& r) {
                       reports.addressReported(r.kind == AddressReply::Host      ? Address::Host
                                               : r.kind == AddressReply::NetMask ? Address::NetMask
                                                                                 : Address::Router,
                                               r.address);
                   },
                   [&](const TcpPortReply& r) { reports.tcpPortReported(r.text); },
                   [&](const DhcpReply& r) { reports.dhcpReported(r.on); },
                   [](const auto&) {},
               },
               reply);
}

void applyReply(const Reply& reply, const ReplyViews& views) {
    if (views.reports != nullptr) {
        reportReply(reply, *views.reports);
    }
    const auto setOutputSelection = [&](int output, std::optional<int> input) {
        for (RoutingView& page : views.routing) {
            page.setOutputSelection(output, input);
        }
    };
    const auto redrawRouting = [&] {
        for (RoutingView& page : views.routing) {
            page.redrawRouting();
        }
    };
    std::visit(Overloaded{
                   [](const IgnoredReply&) {},
                   [&](const RoutingReply& r) {
                       if (r.output == kAllPorts) {
                           for (int output = kFirstPort; output <= kLastPort; ++output) {
                               setOutputSelection(output, r.input);
                           }
                       } else if (r.output) {
                           setOutputSelection(*r.output, r.input);
                       }
                       // Both pages redraw in every case, so a click the
                       // switcher did not confirm falls back to the stored row.
                       redrawRouting();
                   },
                   [&](const EdidChoiceReply& r) {
                       if (r.input == kAllPorts) {
                           for (int input = kFirstPort; input <= kLastPort; ++input) {
                               views.edid.selectInputEdid(input, r.item);
                           }
                           views.edid.redrawEdidPage();
                       } else if (r.input) {
                           views.edid.selectInputEdid(*r.input, r.item);
                       }
                   },
                   [&](const MacReply& r) {
                       views.ipSettings.setMacText(r.text);
                       views.ipSettings.redrawIpSettings();
                   },
                   [&](const AddressReply& r) {
                       switch (r.kind) {
                       case AddressReply::Host:
                           views.ipSettings.showHostAddress(r.address);
                           break;
                       case AddressReply::NetMask:
                           views.ipSettings.showNetMask(r.address);
                           break;
                       case AddressReply::Router:
                           views.ipSettings.showRouterAddress(r.address);
                           break;
                       }
                   },
                   [&](const TcpPortReply& r) { views.ipSettings.setTcpPortText(r.text); },
                   [&](const DhcpReply& r) {
                       views.ipSettings.setDhcp(r.on);
                       views.ipSettings.redrawIpSettings();
                       views.console.setStatusText(kClearedStatusText);
                   },
                   [&](const AudioReply& r) {
                       if (r.output == kAllPorts) {
                           for (int output = kFirstPort; output <= kLastPort; ++output) {
                               views.audio.setAudioState(output, r.state);
                           }
                           views.audio.redrawAudio();
                       } else if (r.output) {
                           views.audio.setAudioState(*r.output, r.state);
                           // Outputs 1 to 15 show at the page's next redraw.
                           if (*r.output == kLastPort) {
                               views.audio.redrawAudio();
                           }
                       }
                   },
                   [&](const auto& r) {
                       if (redrawsAudioPage(r)) {
                           views.audio.redrawAudio();
                       }
                   },
               },
               reply);
}

void ReplyParser::handleLine(std::string_view line) {
    // Any complete line proves a device on the port being searched.
    if (state_.searchInProgress) {
        views_.search.confirmSearch();
    }
    applyReply(decodeReply(line), views_);
}

} // namespace mc

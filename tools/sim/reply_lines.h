#pragma once

#include "sim/edid_image.h"
#include "sim/switcher_state.h"

#include <string>
#include <string_view>
#include <vector>

namespace mc::sim {

// Every reply line ends in CR LF. Port numbers are plain decimal ("OUT3",
// "IN16"), so the console finds them right before its reply keyword.
inline constexpr std::string_view kLineEnd = "\r\n";

// Answer to a line the switcher does not take. Holds none of the console's
// reply keywords, so it changes nothing there (but confirms a device search).
inline constexpr std::string_view kErrorReply = "ERROR\r\n";

[[nodiscard]] std::string routeReply(int output, int input);           // "OUT3 VS IN5"
[[nodiscard]] std::string edidChoiceReply(int input, int sourceIndex); // "IN7 EDID 12", "IN1 EDID 05"
[[nodiscard]] std::string audioReply(int output, bool on);             // "OUT3 EXA EN", "OUT16 EXA DIS"
[[nodiscard]] std::string dhcpReply(bool on);                          // "DHCP 0"
[[nodiscard]] std::string hostIpReply(const Ipv4Address& address);     // "HIP 192.168.000.100"
[[nodiscard]] std::string netMaskReply(const Ipv4Address& address);    // "NMK 255.255.255.000"
[[nodiscard]] std::string routerIpReply(const Ipv4Address& address);   // "RIP 192.168.000.001"
[[nodiscard]] std::string tcpPortReply(std::string_view port);         // "TIP 5000"
[[nodiscard]] std::string macReply(std::string_view mac);              // "MAC 00:1A:2B:3C:4D:5E"
[[nodiscard]] std::string uploadReply(int input, int slot);            // "IN3 U1 STORED"

// One line holding "EDID " and "DATA " and then the 256 bytes in lower-case
// hexadecimal: "OUT2 EDID DATA 00 ff ..." and "IN3 EDID 07 DATA 00 ff ...",
// mirroring the read commands.
[[nodiscard]] std::string outputEdidReply(int output, const EdidImage& image);
[[nodiscard]] std::string inputEdidReply(int input, int sourceIndex, const EdidImage& image);

// The network settings in the order the console needs to show all of them:
// the addresses, then the TCP port, then MAC and DHCP, whose lines make the
// console redraw its IP page (and with it the TCP port it stored silently).
[[nodiscard]] std::vector<std::string> networkReplies(const NetworkSettings& network);

// The answer to the status query: the 16 routes, the 16 EDID choices, the
// network settings and the 16 audio states, ending with output 16 because
// the console redraws its audio page only on that output's line.
[[nodiscard]] std::vector<std::string> statusReplies(const SwitcherState& state);

} // namespace mc::sim

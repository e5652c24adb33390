#include "device_status.h"

#include "cli_options.h"

namespace mc::ctl {

std::string dotted(std::uint32_t packed) {
    return dottedDecimal(Ipv4Address::fromUint32(packed));
}

Json networkJson(const DeviceStatus& s) {
    Json net = Json::object();
    net.set("dhcp", s.dhcp ? Json(*s.dhcp) : Json());
    net.set("host", s.host ? Json(dotted(*s.host)) : Json());
    net.set("mask", s.mask ? Json(dotted(*s.mask)) : Json());
    net.set("router", s.router ? Json(dotted(*s.router)) : Json());
    net.set("tcp_port", s.tcpPort ? Json(*s.tcpPort) : Json());
    net.set("mac", s.mac ? Json(*s.mac) : Json());
    return net;
}

std::string networkText(const DeviceStatus& s) {
    auto value = [](const auto& v, auto show) { return v ? show(*v) : std::string("-"); };
    std::string text;
    text += "DHCP      " + value(s.dhcp, [](bool on) { return std::string(on ? "on" : "off"); }) + "\n";
    text += "Host      " + value(s.host, dotted) + "\n";
    text += "Mask      " + value(s.mask, dotted) + "\n";
    text += "Router    " + value(s.router, dotted) + "\n";
    text += "TCP port  " + value(s.tcpPort, [](const std::string& t) { return t; }) + "\n";
    text += "MAC       " + value(s.mac, [](const std::string& t) { return t; }) + "\n";
    return text;
}

} // namespace mc::ctl

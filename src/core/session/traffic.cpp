#include "session/traffic.h"

namespace mc {

const char* trafficDirectionName(TrafficDirection direction) {
    switch (direction) {
    case TrafficDirection::Sent:
        return "sent";
    case TrafficDirection::Received:
        return "received";
    case TrafficDirection::Pending:
        return "pending";
    case TrafficDirection::Event:
        return "event";
    }
    return "?";
}

const char* linkEventName(LinkEvent event) {
    switch (event) {
    case LinkEvent::Opened:
        return "opened";
    case LinkEvent::Closed:
        return "closed";
    case LinkEvent::PortError:
        return "port error";
    case LinkEvent::OpenFailed:
        return "open failed";
    case LinkEvent::Probing:
        return "search probing";
    }
    return "?";
}

} // namespace mc

#pragma once

#include "sim/session.h"

#include <functional>
#include <string>

namespace mc::sim {

// What a served line reports to the program, for its log.
struct LineHooks {
    std::function<void(const std::string&)> info; // opens, closes, connects, refusals, drops
    std::function<void(const Exchange&)> exchange;
};

} // namespace mc::sim

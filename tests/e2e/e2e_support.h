#pragma once

// What the end-to-end tests share beyond the console driver: the emulator
// started on a comN of a port directory.
#include "support/console_driver.h"
#include "support/pty_peer.h"
#include "support/switcher_process.h"

#include <QTest>
#include <memory>
#include <optional>
#include <string>

namespace mc::test {

inline std::unique_ptr<SwitcherProcess> startSwitcher(const PortDirectory& ports, int comPort,
                                                      const std::string& mode = "normal",
                                                      std::optional<long> hangupAfter = std::nullopt) {
    SwitcherProcess::Options options;
    options.portDirectory = ports.path();
    options.comPort = comPort;
    options.mode = mode;
    options.hangupAfter = hangupAfter;
    return std::make_unique<SwitcherProcess>(std::move(options));
}

} // namespace mc::test

// Starts the emulator into `var`, failing the test when it does not come up.
#define MC_START_SWITCHER(var, ...)                                                                                    \
    auto var = mc::test::startSwitcher(__VA_ARGS__);                                                                   \
    QVERIFY2(var->ready(), (std::string("emulator not ready: ") + var->startupOutput()).c_str())

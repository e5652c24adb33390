#pragma once

// What the end-to-end tests share: a fresh working directory (the console
// writes its address book and saved EDIDs there), a port directory, and the
// emulator started on a comN of it.
#include "support/pty_peer.h"
#include "support/switcher_process.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>
#include <string>

namespace mc::test {

// Makes a temporary directory the working directory while it lives.
class TemporaryWorkingDirectory {
public:
    TemporaryWorkingDirectory() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~TemporaryWorkingDirectory() { QDir::setCurrent(previous_); }
    TemporaryWorkingDirectory(const TemporaryWorkingDirectory&) = delete;
    TemporaryWorkingDirectory& operator=(const TemporaryWorkingDirectory&) = delete;

    [[nodiscard]] bool isValid() const { return dir_.isValid() && QDir::currentPath() == QDir(dir_.path()).path(); }
    [[nodiscard]] QString filePath(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

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
